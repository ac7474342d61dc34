#include "wizard/UpdateFiles.h"

#include "base/Win32_win32.h"

namespace upd::wizard {

bool ClearAttributes(const std::string& path) noexcept
{
    try {
        return ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL) != FALSE;
    } catch (...) {
        return false;
    }
}

void SetReadOnly(const std::string& path)
{
    std::wstring name = Wide(path);
    DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        !::SetFileAttributesW(name.c_str(), (attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_READONLY))
        RaiseOSError(::GetLastError(), "Nu pot marca fisierul " + path + " ca fisier doar pentru citire");
}

bool IsReadOnly(const std::string& path)
{
    DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

void CopyFileOver(const std::string& from, const std::string& to)
{
    std::wstring target = Wide(to);
    // A read-only destination refuses the copy on Windows.
    if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES)
        ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::CopyFileW(Wide(from).c_str(), target.c_str(), FALSE))
        RaiseOSError(::GetLastError(), "Nu pot copia fisierul " + from + " in " + to);
}

void ReplaceWithStaged(const std::string& staged, const std::string& target)
{
    std::wstring name = Wide(target);
    DWORD before = ::GetFileAttributesW(name.c_str());
    if (before != INVALID_FILE_ATTRIBUTES && (before & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(name.c_str(), before & ~FILE_ATTRIBUTE_READONLY);
    if (!::MoveFileExW(Wide(staged).c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD code = ::GetLastError();
        if (before != INVALID_FILE_ATTRIBUTES)
            ::SetFileAttributesW(name.c_str(), before);
        RaiseOSError(code, "Nu pot inlocui fisierul " + target);
    }
}

void ForceFolders(const std::string& folder)
{
    // Each missing level from the top down; a level that exists already (or
    // a drive) is passed over.
    std::size_t at = 0;
    while (at != std::string::npos) {
        at = folder.find('\\', at + 1);
        std::string level = folder.substr(0, at);
        if (level.empty() || level.back() == ':')
            continue;
        std::wstring name = Wide(level);
        DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            continue;
        if (!::CreateDirectoryW(name.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
            RaiseOSError(::GetLastError(), "Nu pot crea directorul " + folder);
    }
}

} // namespace upd::wizard
