#include "wizard/UpdateFiles.h"

#include "base/Win32_win32.h"

#include <restartmanager.h>

#include <cstring>
#include <memory>
#include <vector>

#include "base/Exception.h"
#include "base/Handles_win32.h"
#include "package/Md5Hash.h"
#include "wizard/UpdateFilesItself_win32.h"

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

void CopyFileOver(const TPath& from, const std::string& to)
{
    std::wstring target = Wide(to);
    // A read-only destination refuses the copy on Windows.
    if (::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES)
        ::SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!::CopyFileW(from.Native().c_str(), target.c_str(), FALSE))
        RaiseOSError(::GetLastError(), "Nu pot copia fisierul " + from.Text() + " in " + to);
}

namespace {

// Clears the read-only attribute through a handle of the file itself, and
// only of a file with one name that is not a link: the attributes of what a
// link or a second name leads to are never touched. The attributes it had,
// or INVALID_FILE_ATTRIBUTES when it changed nothing.
DWORD ClearReadOnlyAsItself(const std::string& path) noexcept
{
    try {
        BY_HANDLE_FILE_INFORMATION info{};
        bool linked = false;
        TFileHandle file = OpenAsItself(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, info, linked);
        if (!file || linked || info.nNumberOfLinks != 1 || !(info.dwFileAttributes & FILE_ATTRIBUTE_READONLY))
            return INVALID_FILE_ATTRIBUTES;
        FILE_BASIC_INFO basic{};
        DWORD cleared = info.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY;
        basic.FileAttributes = cleared ? cleared : FILE_ATTRIBUTE_NORMAL;
        if (!::SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic))
            return INVALID_FILE_ATTRIBUTES;
        return info.dwFileAttributes;
    } catch (...) {
        return INVALID_FILE_ATTRIBUTES;
    }
}

// Gives back the attributes ClearReadOnlyAsItself took, again through the file itself.
void RestoreAttributesAsItself(const std::string& path, DWORD attributes) noexcept
{
    try {
        BY_HANDLE_FILE_INFORMATION info{};
        bool linked = false;
        TFileHandle file = OpenAsItself(path, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, info, linked);
        if (!file || linked || info.nNumberOfLinks != 1)
            return;
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = attributes;
        ::SetFileInformationByHandle(file.Get(), FileBasicInfo, &basic, sizeof basic);
    } catch (...) {
    }
}

} // namespace

void ReplaceWithStaged(const std::string& staged, const std::string& target)
{
    std::wstring name = Wide(target);
    const DWORD before = ClearReadOnlyAsItself(target);
    if (!::MoveFileExW(Wide(staged).c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD code = ::GetLastError();
        if (before != INVALID_FILE_ATTRIBUTES)
            RestoreAttributesAsItself(target, before);
        RaiseOSError(code, "Nu pot inlocui fisierul " + target);
    }
}

void RenameFile(const std::string& from, const std::string& to)
{
    if (!::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH))
        RaiseOSError(::GetLastError(), "Nu pot redenumi fisierul " + from + " in " + to);
}

void RenameVerified(const std::string& staged, const std::string& target, const std::string& digest)
{
    // Read and DELETE (which a rename needs), sharing only reading: a holder
    // that may write or delete refuses this open, and nobody can start to
    // while it lasts. A link planted under the name is opened as itself.
    TFileHandle file(::CreateFileW(Wide(staged).c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file)
        RaiseOSError(::GetLastError(), "Nu pot deschide fisierul " + staged);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file.Get(), &info))
        RaiseOSError(::GetLastError(), "Nu pot deschide fisierul " + staged);
    // A second name would let its owner reach the bytes after the rename.
    if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) ||
        info.nNumberOfLinks != 1 || ::GetFileType(file.Get()) != FILE_TYPE_DISK)
        throw Exception(StagedCopyChangedMessage(staged));
    std::string found;
    if (!DigestThrough(file.Get(), found))
        RaiseOSError(::GetLastError(), "Nu pot citi din fisierul " + staged);
    if (found != digest)
        throw Exception(StagedCopyChangedMessage(staged));
    // Renamed through the handle that was hashed: what is put in place is
    // what was checked. The name in its system form, which both the system's
    // conversion and the file system take as it is.
    wchar_t full[32768];
    DWORD length = ::GetFullPathNameW(Wide(target).c_str(), 32768, full, nullptr);
    if (length == 0 || length >= 32768)
        RaiseOSError(::GetLastError(), "Nu pot redenumi fisierul " + staged + " in " + target);
    const std::wstring name = std::wstring(L"\\??\\") + full;
    const std::size_t size = sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t);
    auto storage = std::make_unique<std::uint8_t[]>(size);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(storage.get());
    std::memset(storage.get(), 0, size);
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, name.c_str(), name.size() * sizeof(wchar_t));
    if (!::SetFileInformationByHandle(file.Get(), FileRenameInfo, rename, static_cast<DWORD>(size)))
        RaiseOSError(::GetLastError(), "Nu pot redenumi fisierul " + staged + " in " + target);
}

bool RemoveFile(const TPath& path) noexcept
{
    try {
        const std::wstring& name = path.Native();
        const DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return true;
        // A link is deleted as itself; the attributes of what it (or a second
        // name) leads to stay.
        if (attributes & FILE_ATTRIBUTE_READONLY)
            ClearReadOnlyAsItself(path.Text());
        return ::DeleteFileW(name.c_str()) != FALSE || ::GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES;
    } catch (...) {
        return false;
    }
}

std::string LongFileName(const std::string& path)
{
    std::wstring name = Wide(path);
    DWORD size = ::GetLongPathNameW(name.c_str(), nullptr, 0);
    if (size == 0)
        return path;
    std::wstring full(size, L'\0');
    DWORD got = ::GetLongPathNameW(name.c_str(), full.data(), size);
    if (got == 0 || got >= size)
        return path;
    full.resize(got);
    return SystemText(full);
}

bool IsFolder(const std::string& path) noexcept
{
    try {
        DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    } catch (...) {
        return false;
    }
}

bool CanReplace(const std::string& path, std::string& reason) noexcept
{
    try {
        std::wstring name = Wide(path);
        DWORD attributes = ::GetFileAttributesW(name.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            DWORD code = ::GetLastError();
            if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
                return true;
            reason = SystemErrorText(code);
            return false;
        }
        // Renaming needs DELETE, which a holder that does not share deletion
        // refuses. Write access is refused for a running program's image;
        // it is asked only where the read-only attribute would refuse it anyway.
        DWORD access = DELETE | FILE_READ_ATTRIBUTES;
        if (!(attributes & FILE_ATTRIBUTE_READONLY))
            access |= GENERIC_WRITE;
        HANDLE handle = ::CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            reason = SystemErrorText(::GetLastError());
            return false;
        }
        ::CloseHandle(handle);
        return true;
    } catch (...) {
        reason.clear();
        return false;
    }
}

std::string ProgramsUsing(const std::string& path) noexcept
{
    // The restart manager is loaded from the system's own folder only, and is
    // optional: without it the message names no program.
    using TStart = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
    using TRegister = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
    using TGetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
    using TEnd = DWORD(WINAPI*)(DWORD);
    try {
        HMODULE library = ::LoadLibraryExW(L"rstrtmgr.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!library)
            return {};
        std::string names;
        auto start = reinterpret_cast<TStart>(reinterpret_cast<void*>(::GetProcAddress(library, "RmStartSession")));
        auto add = reinterpret_cast<TRegister>(reinterpret_cast<void*>(::GetProcAddress(library, "RmRegisterResources")));
        auto list = reinterpret_cast<TGetList>(reinterpret_cast<void*>(::GetProcAddress(library, "RmGetList")));
        auto end = reinterpret_cast<TEnd>(reinterpret_cast<void*>(::GetProcAddress(library, "RmEndSession")));
        DWORD session = 0;
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        if (start && add && list && end && start(&session, 0, key) == ERROR_SUCCESS) {
            std::wstring name = Wide(path);
            LPCWSTR files[] = {name.c_str()};
            RM_PROCESS_INFO info[16];
            UINT needed = 0;
            UINT count = 16;
            DWORD reasons = 0;
            if (add(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS &&
                list(session, &needed, &count, info, &reasons) == ERROR_SUCCESS) {
                for (UINT i = 0; i < count; ++i) {
                    if (!names.empty())
                        names += ", ";
                    names += SystemText(info[i].strAppName);
                }
            }
            end(session);
        }
        ::FreeLibrary(library);
        return names;
    } catch (...) {
        return {};
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
