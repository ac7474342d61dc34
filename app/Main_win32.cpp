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
#include "base/SystemLibrary_win32.h"
#include "wizard/Worker_win32.h"

namespace {

// How long the end of the program waits for a stage that is still working.
constexpr DWORD kWorkerGrace = 3000;

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

    int status = RunWizard();

    // The windows are gone. A worker that is still running uses the package
    // engine, which the program's shutdown destroys: let it end first, and if
    // it does not, end the process without freeing anything under it.
    if (!upd::wizard::TFirValidareVersiune::WaitForAll(kWorkerGrace))
        ::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(status));
    return status;
}
