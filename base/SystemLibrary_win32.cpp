#include "base/SystemLibrary_win32.h"

#include <commctrl.h>

#include <string>

namespace upd {

namespace {

// Declared here: headers for older targets lack them.
constexpr DWORD kSearchSystem32 = 0x00000800; // LOAD_LIBRARY_SEARCH_SYSTEM32

} // namespace

void RestrictDllSearchToSystemFolder() noexcept
{
    using TSetDefaultDllDirectories = BOOL(WINAPI*)(DWORD);
    // kernel32 is always loaded; the call exists from Windows 8 on, and on
    // Windows 7 with its loader update.
    auto set = reinterpret_cast<TSetDefaultDllDirectories>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (set)
        set(kSearchSystem32);
    else
        ::SetDllDirectoryW(L""); // at least not the current folder
}

HMODULE LoadSystemLibrary(const wchar_t* name) noexcept
{
    HMODULE module = ::LoadLibraryExW(name, nullptr, kSearchSystem32);
    if (module || ::GetLastError() != ERROR_INVALID_PARAMETER)
        return module;
    // A system without the search flags: name the file in the system folder.
    wchar_t folder[MAX_PATH];
    UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    std::wstring path(folder, length);
    path += L'\\';
    path += name;
    return ::LoadLibraryW(path.c_str());
}

bool InitCommonControlClasses(DWORD classes) noexcept
{
    using TInit = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    auto init = SystemProcedure<TInit>(L"comctl32.dll", "InitCommonControlsEx");
    INITCOMMONCONTROLSEX controls{sizeof(controls), classes};
    return init && init(&controls);
}

} // namespace upd
