// Driving the wizard as a user would, from another process on the same
// desktop: find its window, read its controls, press its buttons (posted
// BM_CLICK, so a modal box opened by the click cannot block the driver), read
// and answer its message boxes, and photograph the screen. Every wait has a
// timeout.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <string>

#include "base/Path.h"

namespace upd::uitest {

/// A wizard started for a test; ended by force when the object goes away.
class TWizardProcess {
public:
    /// Starts `exe` in its own folder, with `arguments` (code page 1250) after
    /// its quoted name. Raises on failure.
    explicit TWizardProcess(const TPath& exe, const std::string& arguments = {});
    ~TWizardProcess();
    TWizardProcess(const TWizardProcess&) = delete;
    TWizardProcess& operator=(const TWizardProcess&) = delete;

    DWORD Id() const noexcept { return m_info.dwProcessId; }
    /// Waits for the process to end; false on timeout.
    bool WaitForExit(DWORD milliseconds, DWORD* exitCode = nullptr);
    bool Running() const;
    /// Ends the process at once, as a kill does (no clean-up of its own), and
    /// waits until it is gone.
    void Kill();

private:
    PROCESS_INFORMATION m_info{};
};

/// The wizard's main window of process `pid` (any process when 0), once it is
/// visible and has its buttons; null on timeout.
HWND WaitForMainWindow(DWORD pid, DWORD milliseconds);
/// A message box of process `pid` (any when 0); null on timeout.
HWND WaitForMessageBox(DWORD pid, DWORD milliseconds);
/// The message box of `pid` on show now, or null.
HWND FindMessageBox(DWORD pid);
/// The body text of a message box (code page 1250).
std::string MessageBoxText(HWND box);
/// Presses a button of a message box (IDOK, IDYES, IDNO).
bool AnswerMessageBox(HWND box, int buttonId);

/// A control of the main window (Button1, Button2) or of a page.
HWND MainControl(HWND main, int id);
HWND Page(HWND main, int index);
HWND PageControl(HWND main, int pageIndex, int id);
/// The page on show (its index), or -1.
int VisiblePage(HWND main);
/// Waits until page `index` is on show; false on timeout.
bool WaitForPage(HWND main, int index, DWORD milliseconds);
/// A window's text through WM_GETTEXT, as UTF-8 (every letter kept).
std::string WindowText(HWND window);
/// Posts a click; returns at once.
bool Click(HWND button);
/// A progress bar's position.
int ProgressPosition(HWND bar);
/// Waits until `condition` holds, polling every 20 ms; false on timeout.
template <class F>
bool WaitUntil(F condition, DWORD milliseconds)
{
    DWORD start = ::GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (::GetTickCount() - start >= milliseconds)
            return false;
        ::Sleep(20);
    }
}

/// Waits until `control` is enabled (a page lets its button go when its work is done).
inline bool WaitUntilEnabled(HWND control, DWORD milliseconds)
{
    return WaitUntil([&] { return ::IsWindowEnabled(control) != FALSE; }, milliseconds);
}

/// Saves the whole screen as a 24-bit BMP file.
bool SaveScreenshot(const std::string& bmpFileName);
/// Saves one window (as it shows on the screen) as a 24-bit BMP file.
bool SaveWindowShot(HWND window, const std::string& bmpFileName);

/// Runs a command line (a Windows program, or under Wine a Unix program named
/// by its Unix path) in `folder` and waits for it; its exit code, or -1 when it
/// could not start or did not end within `milliseconds`.
int RunAndWait(const std::string& commandLine, const std::string& folder = {}, DWORD milliseconds = 60000);
/// Under Wine, the Unix name of a Windows path (for Unix programs); empty elsewhere.
std::string UnixPath(const std::string& windowsPath);

/// A file of the build tree as a Windows path, found from the running test
/// program's own place in it (<build>\tests\win32\<program>.exe).
std::string BuildPath(const std::string& relative);

} // namespace upd::uitest
