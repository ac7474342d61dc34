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

#include "app/ControlIds.h"
#include "app/InstallerMain_win32.h"
#include "app/PaginaActualizare_win32.h"
#include "base/Handles_win32.h"
#include "base/Cp1250.h"
#include "base/SystemLibrary_win32.h"
#include "base/Win32_win32.h"
#include "package/PatchDataEngine.h"
#include "wizard/CommandLine.h"
#include "wizard/RunOutcome.h"
#include "wizard/StageControl.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateLog.h"
#include "version/FileOps.h"
#include "wizard/UpdateTransaction.h"
#include "wizard/Worker_win32.h"

namespace {

// How long the end of the program waits for a stage that was asked to stop:
// stages look at the cancel flag between blocks, so this is never reached
// unless a system call hangs.
constexpr DWORD kWorkerGrace = 3000;

const char kAlreadyRunningMessage[] =
    "Programul de actualizare este deja pornit. Asteptati sa se termine, apoi porniti-l din nou daca este nevoie.";

// One wizard at a time: a second one would take the first one's replacement
// for an interrupted one and undo it.
upd::TKernelHandle TakeSingleInstance()
{
    for (const wchar_t* name : {L"Global\\Kp3ActualizareInCurs", L"Local\\Kp3ActualizareInCurs"}) {
        upd::TKernelHandle mutex(::CreateMutexW(nullptr, FALSE, name));
        if (mutex && ::GetLastError() == ERROR_ALREADY_EXISTS)
            return upd::TKernelHandle();
        if (mutex)
            return mutex;
    }
    // Without any mutex the wizard still runs; the journal is its only guard.
    return upd::TKernelHandle(::CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

int RunWizard()
{
    upd::app::TInstallerMain main;
    try {
        main.Create();
        main.Show();
    } catch (const std::exception& e) {
        upd::app::ShowException(main.Handle(), e);
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

// The /log file as the log names files: code page 1250, other letters kept.
std::string LogFileName() { return upd::TPath::FromUtf8(RunMode().LogFile).Text(); }

// A run that ends before it began (a wrong command line, another wizard
// running) still tells the /log file why; the wizard's own log is not opened.
int EndBeforeStart(const std::string& why, int status)
{
    if (!RunMode().LogFile.empty()) {
        upd::wizard::RunLog().AlsoWriteTo(LogFileName());
        upd::wizard::RunLog().Start(upd::package::RunningExeFileName().Text());
        upd::wizard::RunLog().Error("Exception", why);
        upd::wizard::RunLog().End(status);
    }
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
    upd::InitCommonControlClasses(ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES);

    RunMode() = ReadCommandLine();
    const bool given = RunMode().Given;
    if (RunMode().Error != upd::wizard::TCommandLineError::None) {
        // Asked for by whoever typed the line, so shown even in a passive run.
        const std::string message = upd::wizard::CommandLineMessage(RunMode());
        if (!RunMode().Quiet())
            ::MessageBoxW(nullptr, upd::Wide(message).c_str(), upd::Wide(upd::app::kWizardCaption).c_str(),
                          MB_OK | MB_ICONWARNING);
        return EndBeforeStart(message, upd::wizard::kExitBadCommandLine);
    }

    upd::TKernelHandle instance = TakeSingleInstance();
    if (!instance) {
        upd::app::ShowMessageBox(nullptr, kAlreadyRunningMessage, MB_OK | MB_ICONWARNING);
        return given ? EndBeforeStart(kAlreadyRunningMessage, upd::wizard::kExitAlreadyRunning) : 1;
    }
    upd::wizard::RunLog().Open(upd::wizard::kLogFile, upd::version::TempFolder().Text());
    if (!RunMode().LogFile.empty())
        upd::wizard::RunLog().AlsoWriteTo(LogFileName());
    upd::wizard::RunLog().Start(upd::package::RunningExeFileName().Text());
    if (given)
        upd::wizard::RunLog().Write("mode", ModeText());
    // A run that was killed or lost its power is finished or undone before
    // anything looks at the installation.
    try {
        upd::wizard::TRecovery recovery = upd::wizard::RecoverInterruptedUpdate(upd::wizard::kJournalFile);
        upd::wizard::RunLog().Recovery(static_cast<int>(recovery));
    } catch (const std::exception& e) {
        upd::app::ShowException(nullptr, e);
        const int status = given ? upd::wizard::kExitFailedUnrestored : 1;
        upd::wizard::RunLog().End(status);
        return status;
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
            ::TerminateProcess(::GetCurrentProcess(),
                               static_cast<UINT>(given ? upd::wizard::RunOutcome().ExitCode() : status));
    }
    upd::package::FreePatchDataEngine();
    upd::wizard::RunJournal().Finish();
    if (given)
        status = upd::wizard::RunOutcome().ExitCode();
    upd::wizard::RunLog().End(status);
    return status;
}
