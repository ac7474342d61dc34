#include "UiDriver_win32.h"

#include <commctrl.h>

#include <cstring>
#include <filesystem>
#include <vector>

#include "ui/ControlIds.h"
#include "base/Exception.h"
#include "base/File.h"
#include "base/Win32_win32.h"

namespace upd::uitest {

using namespace upd::ui;

TWizardProcess::TWizardProcess(const TPath& exe, const std::string& arguments)
{
    const std::wstring& wide = exe.Native();
    std::wstring folder = wide.substr(0, wide.find_last_of(L'\\'));
    std::wstring commandLine = L"\"" + wide + L"\"";
    if (!arguments.empty())
        commandLine += L" " + Wide(arguments);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!::CreateProcessW(wide.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &m_info))
        RaiseLastOSError();
}

TWizardProcess::~TWizardProcess()
{
    if (Running()) {
        ::TerminateProcess(m_info.hProcess, 255);
        ::WaitForSingleObject(m_info.hProcess, 5000);
    }
    ::CloseHandle(m_info.hThread);
    ::CloseHandle(m_info.hProcess);
}

bool TWizardProcess::WaitForExit(DWORD milliseconds, DWORD* exitCode)
{
    if (::WaitForSingleObject(m_info.hProcess, milliseconds) != WAIT_OBJECT_0)
        return false;
    if (exitCode)
        ::GetExitCodeProcess(m_info.hProcess, exitCode);
    return true;
}

void TWizardProcess::Kill()
{
    ::TerminateProcess(m_info.hProcess, 255);
    ::WaitForSingleObject(m_info.hProcess, 10000);
}

bool TWizardProcess::Running() const { return ::WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT; }

namespace {

struct TSearch {
    DWORD Pid;
    const wchar_t* ClassName;
    const wchar_t* Caption;
    HWND Found = nullptr;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<TSearch*>(parameter);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (search->Pid != 0 && pid != search->Pid)
        return TRUE;
    if (!::IsWindowVisible(window))
        return TRUE;
    wchar_t name[64] = {};
    ::GetClassNameW(window, name, 64);
    if (search->ClassName && lstrcmpW(name, search->ClassName) != 0)
        return TRUE;
    if (search->Caption) {
        wchar_t caption[256] = {};
        ::GetWindowTextW(window, caption, 256);
        if (lstrcmpW(caption, search->Caption) != 0)
            return TRUE;
    }
    search->Found = window;
    return FALSE;
}

HWND FindTopLevelWindow(DWORD pid, const wchar_t* className, const wchar_t* caption)
{
    TSearch search{pid, className, caption};
    ::EnumWindows(&FindTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

} // namespace

HWND WaitForMainWindow(DWORD pid, DWORD milliseconds)
{
    std::wstring caption = Wide(kWizardCaption);
    HWND found = nullptr;
    // Found windows may still be inside their creation: wait for the buttons too.
    WaitUntil(
        [&] {
            HWND main = FindTopLevelWindow(pid, L"TInstallerMain", caption.c_str());
            if (main && ::GetDlgItem(main, kIdButton1) && ::GetDlgItem(main, kIdButton2))
                found = main;
            return found != nullptr;
        },
        milliseconds);
    return found;
}

HWND FindMessageBox(DWORD pid) { return FindTopLevelWindow(pid, L"#32770", nullptr); }

HWND WaitForMessageBox(DWORD pid, DWORD milliseconds)
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            found = FindMessageBox(pid);
            return found && (::GetDlgItem(found, IDOK) != nullptr || ::GetDlgItem(found, IDYES) != nullptr ||
                             ::GetDlgItem(found, IDRETRY) != nullptr);
        },
        milliseconds);
    return found;
}

std::string MessageBoxText(HWND box) { return WindowText(::GetDlgItem(box, 0xFFFF)); }

bool AnswerMessageBox(HWND box, int buttonId)
{
    HWND button = ::GetDlgItem(box, buttonId);
    return button && Click(button);
}

HWND MainControl(HWND main, int id) { return ::GetDlgItem(main, id); }

HWND Page(HWND main, int index) { return ::GetDlgItem(::GetDlgItem(main, kIdPanel1), kIdFirstPage + index); }

HWND PageControl(HWND main, int pageIndex, int id) { return ::GetDlgItem(Page(main, pageIndex), id); }

int VisiblePage(HWND main)
{
    for (int i = 0; i < 5; ++i) {
        HWND page = Page(main, i);
        if (page && ::IsWindowVisible(page))
            return i;
    }
    return -1;
}

bool WaitForPage(HWND main, int index, DWORD milliseconds)
{
    return WaitUntil([&] { return VisiblePage(main) == index; }, milliseconds);
}

std::string WindowText(HWND window)
{
    if (!window)
        return {};
    DWORD_PTR length = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 3000, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!::SendMessageTimeoutW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                               SMTO_ABORTIFHUNG, 3000, &copied))
        return {};
    text.resize(copied);
    return SystemText(text);
}

bool Click(HWND button) { return button && ::PostMessageW(button, BM_CLICK, 0, 0); }

int ProgressPosition(HWND bar)
{
    DWORD_PTR position = 0;
    ::SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 3000, &position);
    return static_cast<int>(position);
}

namespace {

bool SaveArea(int left, int top, int width, int height, const std::string& bmpFileName)
{
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as the file stores it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = ::SelectObject(memory, bitmap);
        ok = ::BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY) != FALSE;
        ::GdiFlush();
        ::SelectObject(memory, old);
        if (ok) {
            DWORD rowBytes = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
            DWORD imageBytes = rowBytes * static_cast<DWORD>(height);
            BITMAPFILEHEADER file{};
            file.bfType = 0x4D42;
            file.bfOffBits = sizeof(file) + sizeof(info.bmiHeader);
            file.bfSize = file.bfOffBits + imageBytes;
            std::vector<std::uint8_t> data(file.bfSize);
            std::memcpy(data.data(), &file, sizeof(file));
            std::memcpy(data.data() + sizeof(file), &info.bmiHeader, sizeof(info.bmiHeader));
            std::memcpy(data.data() + file.bfOffBits, bits, imageBytes);
            try {
                WriteWholeFile(bmpFileName, data.data(), data.size());
            } catch (const Exception&) {
                ok = false;
            }
        }
        ::DeleteObject(bitmap);
    }
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return ok;
}

} // namespace

bool SaveScreenshot(const std::string& bmpFileName)
{
    return SaveArea(0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), bmpFileName);
}

bool SaveWindowShot(HWND window, const std::string& bmpFileName)
{
    RECT r{};
    if (!::GetWindowRect(window, &r))
        return false;
    return SaveArea(r.left, r.top, r.right - r.left, r.bottom - r.top, bmpFileName);
}

int RunAndWait(const std::string& commandLine, const std::string& folder, DWORD milliseconds)
{
    std::wstring line = Wide(commandLine);
    std::wstring where = Wide(folder);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          where.empty() ? nullptr : where.c_str(), &startup, &info))
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (::WaitForSingleObject(info.hProcess, milliseconds) == WAIT_OBJECT_0)
        ::GetExitCodeProcess(info.hProcess, &code);
    else
        ::TerminateProcess(info.hProcess, 255);
    ::CloseHandle(info.hThread);
    ::CloseHandle(info.hProcess);
    return static_cast<int>(code);
}

std::string UnixPath(const std::string& windowsPath)
{
    using TToUnix = char*(CDECL*)(LPCWSTR);
    auto toUnix = reinterpret_cast<TToUnix>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        return {};
    char* name = toUnix(Wide(windowsPath).c_str());
    if (!name)
        return {};
    std::string path(name);
    ::HeapFree(::GetProcessHeap(), 0, name);
    return path;
}

std::string BuildPath(const std::string& relative)
{
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::filesystem::path build = std::filesystem::path(self).parent_path().parent_path().parent_path();
    std::string path = build.string() + "\\" + relative;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

} // namespace upd::uitest
