// The wizard's entry: the main window and its message loop. No settings file
// or registry is read; the package appended to this program carries
// everything. The command line may ask for an unattended run (CommandLine.h);
// without one the wizard runs as it always has, and ends with 0 (1 when it
// could not start). With one, the exit code says how the run ended
// (RunOutcome.h).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <commctrl.h>

#include <exception>
#include <optional>

#include "ui/ControlIds.h"
#include "app/InstallerMain_win32.h"
#include "app/PackageSlot_win32.h"
#include "ui/MessageBox_win32.h"
#include "base/Handles_win32.h"
#include "base/Cp1250.h"
#include "base/File.h"
#include "base/SystemLibrary_win32.h"
#include "base/Win32_win32.h"
#include "package/PatchDataEngine.h"
#include "wizard/CommandLine.h"
#include "wizard/HandOff_win32.h"
#include "wizard/RunOutcome.h"
#include "wizard/StageControl.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateLog.h"
#include "version/FileOps.h"
#include "package/Update.h"
#include "wizard/UpdateFiles.h"
#include "wizard/UpdateTransaction.h"
#include "wizard/WorkFolder_win32.h"
#include "wizard/Worker_win32.h"

namespace {

// How long the end of the program waits for a stage that was asked to stop:
// stages look at the cancel flag between blocks, so this is never reached
// unless a system call hangs.
constexpr DWORD kWorkerGrace = 3000;

const char kDoneAfterCloseMessage[] =
    "Actualizarea s-a incheiat cu succes: toate fisierele au fost inlocuite. Deoarece fereastra a fost inchisa "
    "inainte de ultima pagina, porniti dumneavoastra programul Pravion.";

const char kAlreadyRunningMessage[] =
    "Programul de actualizare este deja pornit. Asteptati sa se termine, apoi porniti-l din nou daca este nevoie.";

// One wizard at a time: a second one would take the first one's replacement
// for an interrupted one and undo it. The guard is a file of the work folder
// opened exclusively: only administrators can open it, so no program of the
// user can hold it first (a named object could be created by anyone).
upd::TFileHandle TakeSingleInstance(bool& anotherRuns)
{
    DWORD error = ERROR_SUCCESS;
    upd::TFileHandle lock = upd::wizard::TakeInstanceLock(upd::wizard::kInstanceLockFile, error);
    anotherRuns = !lock && error == ERROR_SHARING_VIOLATION;
    return lock;
}

// Where a journal may name files: the payroll program's folder, the
// administrators-only folder of the journal and the tag file, and the
// folders of every file the package names (when it can be read); its
// temporary files only in the work folder.
upd::wizard::TJournalPlaces JournalPlaces()
{
    upd::wizard::TJournalPlaces places;
    places.Folders = {"C:\\Pravion", "C:\\Program Files\\Tarvix\\Kp3Tag"};
    places.WorkFolder = upd::wizard::kWorkFolder;
    auto addFolderOf = [&](const std::string& file) {
        std::size_t slash = file.find_last_of("\\/");
        if (slash != std::string::npos && slash > 2)
            places.Folders.push_back(file.substr(0, slash));
    };
    try {
        const auto& read = upd::package::GetPatchDataEngine().Update;
        if (!read)
            return places;
        const upd::package::TUpdate& update = *read;
        for (int i = 0; i < update.PatchSets.Count(); ++i) {
            const upd::package::TPatchSet& set = update.PatchSets.Items(i);
            addFolderOf(set.TargetFileName);
            for (const auto& old : set.OldFiles)
                addFolderOf(old->FileName);
        }
    } catch (const std::exception&) {
        // The intro page reports a package that cannot be read.
    }
    return places;
}

// A window closed while the replacement ran (or on the final page without
// its hand-off) never showed how the update ended.
void ShowUnseenOutcome()
{
    upd::wizard::TComunicareFir report;
    if (!upd::wizard::StageControl().ReplacementBegan() || !upd::wizard::TakeFinalReport(report))
        return;
    if (report.Code == upd::wizard::NOTIFY_DONE)
        upd::ui::ShowMessageBox(nullptr, kDoneAfterCloseMessage, MB_OK | MB_ICONINFORMATION);
    else
        upd::ui::ShowMessageBox(nullptr, report.Text, MB_OK | MB_ICONERROR);
}

int RunWizard(const upd::wizard::TRunRecords& records)
{
    upd::app::TInstallerMain main(records);
    try {
        main.Create();
        main.Show();
    } catch (const std::exception& e) {
        upd::ui::ShowException(main.Handle(), e);
        upd::wizard::RunOutcome().Failed(false);
        return 1;
    }
    MSG message;
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (::IsDialogMessageW(main.Handle(), &message))
            continue;
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return 0;
}

using upd::wizard::RunMode;

upd::wizard::TRunMode ReadCommandLine()
{
    const wchar_t* line = ::GetCommandLineW();
    upd::wizard::TRunMode mode =
        upd::wizard::ParseCommandLine(upd::Utf16ToUtf8(reinterpret_cast<const char16_t*>(line ? line : L"")));
#ifdef UPD_TEST_HOOKS
    // The tests' build only: a shorter wait for files in use, so that a test
    // can show the whole wait.
    wchar_t wait[16] = {};
    DWORD length = ::GetEnvironmentVariableW(L"UPD_TEST_IN_USE_WAIT_MS", wait, 16);
    if (length > 0 && length < 16)
        mode.FileInUseWaitMs = static_cast<std::uint32_t>(_wtoi(wait));
#endif
    return mode;
}

// The /log file as the log names files.
std::string LogFileName() { return upd::TPath(RunMode().LogFile).Text(); }

// A run that ends before it began (a wrong command line, another wizard
// running) still tells the /log file why; the wizard's own log is not opened.
int EndBeforeStart(upd::wizard::TUpdateLog& log, const std::string& why, int status)
{
    if (!RunMode().LogFile.empty()) {
        log.AlsoWriteTo(LogFileName());
        log.Start(upd::package::RunningExeFileName().Text());
        log.Error("Exception", why);
        log.End(status);
    }
    return status;
}

// The boxes of an unattended run: none is shown, and what the user would
// have been asked goes to the log with the answer the run gave.
class TRunBoxes : public upd::ui::TMessageBoxPolicy {
public:
    explicit TRunBoxes(upd::wizard::TUpdateLog& log) : m_log(log) {}
    bool Unattended() const noexcept override { return RunMode().Unattended(); }
    void QuestionAnswered(const std::string& text) noexcept override
    {
        try {
            m_log.Write("question", text + "\r\n(unattended: answered so that nothing changes)");
        } catch (...) {
            // The log is the only place the question could go.
        }
    }
    void ErrorShown(const std::exception& error) noexcept override
    {
        try {
            m_log.Error("Exception", error.what());
        } catch (...) {
        }
    }

private:
    upd::wizard::TUpdateLog& m_log;
};

// The program's own file, opened before anything else can give a user's
// program a moment to act (the /log file may be one it holds with an oplock),
// and held, refusing writers, deleters and renames, until the end: the
// package is read only through it. Opening by the name does not prove that
// the file is the running image (it may have been renamed and replaced
// before this), so the package is accepted only with the identity that the
// image in memory carries. A failure is kept for the log.
std::exception_ptr HoldOwnFile()
{
    try {
        upd::TFile file(upd::package::RunningExeFileName(), upd::TFileMode::ReadDenyWrite);
        upd::package::HoldRunningImage(std::move(file), upd::app::OwnPackageIdentity());
        return nullptr;
    } catch (const std::exception&) {
        return std::current_exception();
    }
}

// The package read through the held file, before anything that trusts it
// (the recovery's places included): a file that cannot be held, or a package
// that is not this program's, ends the run before anything changed. Another
// error is the intro page's to report. Returns -1 when the run goes on.
int CheckOwnPackage(upd::wizard::TUpdateLog& log, const std::exception_ptr& holdFailure)
{
    try {
        if (holdFailure)
            std::rethrow_exception(holdFailure);
        upd::package::GetPatchDataEngine();
        return -1;
    } catch (const upd::package::EForeignPackage& e) {
        upd::ui::ShowException(nullptr, e);
    } catch (const std::exception& e) {
        if (!holdFailure)
            return -1;
        upd::ui::ShowException(nullptr, e);
    }
    const int status = RunMode().Given ? upd::wizard::kExitFailedRestored : 1;
    log.End(status);
    return status;
}

std::string ModeText()
{
    static const char* const kNames[] = {"full", "passive", "quiet"};
    std::string text = kNames[static_cast<int>(RunMode().Interaction)];
    if (!RunMode().LogFile.empty())
        text += ", log " + LogFileName();
    return text;
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before anything can load a DLL: none from the program's own folder.
    upd::RestrictDllSearchToSystemFolder();
    // An empty diskette drive or a removed diskette fails the program's own
    // file access with an error it handles, instead of the system's box.
    ::SetErrorMode(::SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    const std::exception_ptr holdFailure = HoldOwnFile();
    upd::InitCommonControlClasses(ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES);

    // The run's log and journal: made here once, handed to every stage, and
    // kept until every worker has ended (below).
    upd::wizard::TUpdateLog log;
    upd::wizard::TUpdateJournal journal;
    upd::wizard::THandOff handOff;
    const upd::wizard::TRunRecords records{log, journal, &handOff};

    RunMode() = ReadCommandLine();
    TRunBoxes boxes(log);
    upd::ui::SetMessageBoxPolicy(&boxes);
    const bool given = RunMode().Given;
    if (RunMode().Error != upd::wizard::TCommandLineError::None) {
        // Asked for by whoever typed the line, so shown even in a passive run.
        const std::string message = upd::wizard::CommandLineMessage(RunMode());
        if (!RunMode().Quiet())
            ::MessageBoxW(nullptr, upd::Wide(message).c_str(), upd::Wide(upd::ui::kWizardCaption).c_str(),
                          MB_OK | MB_ICONWARNING);
        return EndBeforeStart(log, message, upd::wizard::kExitBadCommandLine);
    }

    // Every work file of the run goes to the administrators-only work folder,
    // never to the user's temporary folder, which the user's other programs
    // can change while the elevated wizard uses it.
    std::string reason;
    upd::TFileHandle workFolder = upd::wizard::HoldWorkFolder(upd::wizard::kWorkFolder, reason);
    if (!workFolder) {
        const std::string message = upd::wizard::WorkFolderMessage(upd::wizard::kWorkFolder, reason);
        if (!RunMode().Quiet())
            upd::ui::ShowMessageBox(nullptr, message, MB_OK | MB_ICONERROR);
        return given ? EndBeforeStart(log, message, upd::wizard::kExitFailedRestored) : 1;
    }
    upd::version::SetTempFolder(upd::TPath(upd::wizard::kWorkFolder));
    bool anotherRuns = false;
    upd::TFileHandle instance = TakeSingleInstance(anotherRuns);
    if (anotherRuns) {
        if (!RunMode().Quiet())
            upd::ui::ShowMessageBox(nullptr, kAlreadyRunningMessage, MB_OK | MB_ICONWARNING);
        return given ? EndBeforeStart(log, kAlreadyRunningMessage, upd::wizard::kExitAlreadyRunning) : 1;
    }
    // No second place for the log: any other would be one the user's
    // programs can write, or redirect, under an elevated wizard.
    log.Open(upd::wizard::kLogFile, std::string());
    if (!RunMode().LogFile.empty())
        log.AlsoWriteTo(LogFileName());
    log.Start(upd::package::RunningExeFileName().Text());
    if (given)
        log.Write("mode", ModeText());
    if (const int refused = CheckOwnPackage(log, holdFailure); refused >= 0)
        return refused;
    // A run that was killed or lost its power is finished or undone before
    // anything looks at the installation.
    try {
        upd::wizard::TRecovery recovery = upd::wizard::RecoverInterruptedUpdate(
            upd::wizard::kJournalFile, upd::wizard::SystemFileOps(), JournalPlaces());
        log.Recovery(static_cast<int>(recovery));
    } catch (const std::exception& e) {
        upd::ui::ShowException(nullptr, e);
        const int status = given ? upd::wizard::kExitFailedUnrestored : 1;
        log.End(status);
        return status;
    }
    upd::wizard::RemoveLeftoverWorkFiles(upd::wizard::kWorkFolder);
    journal.Open(upd::wizard::kJournalFile);

    int status = RunWizard(records);

    // The windows are gone. A worker that is still running uses the package
    // engine, which is destroyed below: let it end first. A replacement is
    // never cut short; anything else that does not end in time is (the next
    // start removes what it leaves, from the journal).
    using upd::wizard::TFirEtapa;
    if (!TFirEtapa::WaitForAll(kWorkerGrace)) {
        while (upd::wizard::StageControl().InReplacement())
            ::Sleep(50);
        if (!TFirEtapa::WaitForAll(kWorkerGrace))
            ::TerminateProcess(::GetCurrentProcess(),
                               static_cast<UINT>(given ? upd::wizard::RunOutcome().ExitCode() : status));
    }
    if (!RunMode().Quiet())
        ShowUnseenOutcome();
    upd::package::FreePatchDataEngine();
    journal.Finish();
    if (given)
        status = upd::wizard::RunOutcome().ExitCode();
    log.End(status);
    return status;
}
