// The wizard's entry: the main window and its message loop. No command line,
// settings file or registry is read; the package appended to this program
// carries everything.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <commctrl.h>

#include <exception>

#include "app/InstallerMain_win32.h"
#include "app/PaginaActualizare_win32.h"
#include "base/Handles_win32.h"
#include "base/SystemLibrary_win32.h"
#include "package/PatchDataEngine.h"
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
// folders of every file the package names (when it can be read).
upd::wizard::TJournalPlaces JournalPlaces()
{
    upd::wizard::TJournalPlaces places;
    places.Folders = {"C:\\Pravion", "C:\\Program Files\\Tarvix\\Kp3Tag"};
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
        upd::app::ShowMessageBox(nullptr, kDoneAfterCloseMessage, MB_OK | MB_ICONINFORMATION);
    else
        upd::app::ShowMessageBox(nullptr, report.Text, MB_OK | MB_ICONERROR);
}

int RunWizard()
{
    upd::app::TInstallerMain main;
    try {
        main.Create();
        main.Show();
    } catch (const std::exception& e) {
        upd::app::ShowException(main.Handle(), e);
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

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    // Before anything can load a DLL: none from the program's own folder.
    upd::RestrictDllSearchToSystemFolder();
    // An empty diskette drive or a removed diskette fails the program's own
    // file access with an error it handles, instead of the system's box.
    ::SetErrorMode(::SetErrorMode(0) | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    upd::InitCommonControlClasses(ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES);

    // Every work file of the run goes to the administrators-only work folder,
    // never to the user's temporary folder, which the user's other programs
    // can change while the elevated wizard uses it.
    std::string reason;
    upd::TFileHandle workFolder = upd::wizard::HoldWorkFolder(upd::wizard::kWorkFolder, reason);
    if (!workFolder) {
        upd::app::ShowMessageBox(nullptr, upd::wizard::WorkFolderMessage(upd::wizard::kWorkFolder, reason),
                                 MB_OK | MB_ICONERROR);
        return 1;
    }
    upd::version::SetTempFolder(upd::TPath(upd::wizard::kWorkFolder));
    bool anotherRuns = false;
    upd::TFileHandle instance = TakeSingleInstance(anotherRuns);
    if (anotherRuns) {
        upd::app::ShowMessageBox(nullptr, kAlreadyRunningMessage, MB_OK | MB_ICONWARNING);
        return 1;
    }
    // No second place for the log: any other would be one the user's
    // programs can write, or redirect, under an elevated wizard.
    upd::wizard::RunLog().Open(upd::wizard::kLogFile, std::string());
    upd::wizard::RunLog().Start(upd::package::RunningExeFileName().Text());
    // A run that was killed or lost its power is finished or undone before
    // anything looks at the installation.
    try {
        upd::wizard::TRecovery recovery = upd::wizard::RecoverInterruptedUpdate(
            upd::wizard::kJournalFile, upd::wizard::SystemFileOps(), JournalPlaces());
        upd::wizard::RunLog().Recovery(static_cast<int>(recovery));
    } catch (const std::exception& e) {
        upd::app::ShowException(nullptr, e);
        upd::wizard::RunLog().End(1);
        return 1;
    }
    upd::wizard::RunJournal().Open(upd::wizard::kJournalFile);

    int status = RunWizard();

    // The windows are gone. A worker that is still running uses the package
    // engine, which is destroyed below: let it end first. A replacement is
    // never cut short; anything else that does not end in time is (the next
    // start removes what it leaves, from the journal).
    using upd::wizard::TFirValidareVersiune;
    if (!TFirValidareVersiune::WaitForAll(kWorkerGrace)) {
        while (upd::wizard::StageControl().InReplacement())
            ::Sleep(50);
        if (!TFirValidareVersiune::WaitForAll(kWorkerGrace))
            ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
    }
    ShowUnseenOutcome();
    upd::package::FreePatchDataEngine();
    upd::wizard::RunJournal().Finish();
    upd::wizard::RunLog().End(status);
    return status;
}
