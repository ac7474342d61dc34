#include "version/FileOps.h"

#include "base/Win32_win32.h"

namespace upd::version {

extern const char kPathSeparator = '\\';

TPath SystemTempFolder()
{
    wchar_t path[2048 + 1] = {};
    DWORD n = GetTempPathW(2048, path);
    if (n == 0 || n > 2048)
        return TPath();
    return TPath::FromNative(std::wstring(path, n));
}

bool LastCreationFoundName(const TPath& name)
{
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS)
        return true;
    // A folder of that name, or a file whose deletion is pending, answers
    // "access denied" too; a folder that refuses us does so for every name.
    return code == ERROR_ACCESS_DENIED && GetFileAttributesW(name.Native().c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::int64_t> FindFileSize(const TPath& fileName)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(fileName.Native().c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return std::nullopt;
    FindClose(search);
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return 0;
    return (static_cast<std::int64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
}

} // namespace upd::version
