#include "wizard/WorkFolder_win32.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "base/Exception.h"
#include "base/Win32_win32.h"
#include "wizard/UpdateFiles.h"

namespace upd::wizard {

namespace {

// Full control for the system and the administrators, inherited by every
// file and folder below; nothing inherited from above, nobody else.
constexpr const wchar_t* kAdministratorsOnly = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

class TLocalMemory {
public:
    ~TLocalMemory() { ::LocalFree(Memory); }
    PSECURITY_DESCRIPTOR Memory = nullptr;
};

std::wstring WithoutLongPrefix(std::wstring path)
{
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0)
        return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0)
        return path.substr(4);
    return path;
}

bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                  TRUE) == CSTR_EQUAL;
}

} // namespace

std::string WorkFolderMessage(const std::string& folder, const std::string& reason)
{
    return "Nu pot pregati directorul de lucru " + folder + ".\r\n" + reason +
           "\r\nPorniti programul de actualizare ca administrator.";
}

TFileHandle HoldWorkFolder(const std::string& folder, std::string& reason)
{
    try {
        const std::wstring name = Wide(folder);
        TLocalMemory descriptor;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(kAdministratorsOnly, SDDL_REVISION_1,
                                                                    &descriptor.Memory, nullptr))
            RaiseOSError(::GetLastError(), "Nu pot crea directorul " + folder);
        std::size_t slash = folder.find_last_of('\\');
        if (slash != std::string::npos && slash > 2)
            ForceFolders(folder.substr(0, slash));
        SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Memory, FALSE};
        if (!::CreateDirectoryW(name.c_str(), &attributes) && ::GetLastError() != ERROR_ALREADY_EXISTS)
            RaiseOSError(::GetLastError(), "Nu pot crea directorul " + folder);
        // Opened as itself: a link under the name is refused below, not followed.
        TFileHandle held(::CreateFileW(name.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!held)
            RaiseOSError(::GetLastError(), "Nu pot deschide directorul " + folder);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(held.Get(), &info))
            RaiseOSError(::GetLastError(), "Nu pot deschide directorul " + folder);
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            throw Exception("Directorul " + folder + " nu este un director obisnuit.");
        // A link higher up the path would put the folder elsewhere.
        wchar_t full[32768];
        wchar_t final[32768];
        DWORD fullLength = ::GetFullPathNameW(name.c_str(), 32768, full, nullptr);
        DWORD finalLength = ::GetFinalPathNameByHandleW(held.Get(), final, 32768, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (fullLength == 0 || fullLength >= 32768 || finalLength == 0 || finalLength >= 32768)
            RaiseOSError(::GetLastError(), "Nu pot deschide directorul " + folder);
        std::wstring expected(full, fullLength);
        while (expected.size() > 3 && expected.back() == L'\\')
            expected.pop_back();
        if (!SamePath(WithoutLongPrefix(std::wstring(final, finalLength)), expected))
            throw Exception("Directorul " + folder + " duce in alta parte: " +
                            SystemText(WithoutLongPrefix(std::wstring(final, finalLength))) + ".");
        // A folder that existed before gets the same list as a new one.
        PACL list = nullptr;
        BOOL present = FALSE, defaulted = FALSE;
        if (!::GetSecurityDescriptorDacl(descriptor.Memory, &present, &list, &defaulted))
            RaiseOSError(::GetLastError(), "Nu pot proteja directorul " + folder);
        DWORD code = ::SetSecurityInfo(held.Get(), SE_FILE_OBJECT,
                                       DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                                       nullptr, list, nullptr);
        if (code != ERROR_SUCCESS)
            RaiseOSError(code, "Nu pot proteja directorul " + folder);
        return held;
    } catch (const Exception& e) {
        reason = e.Message();
    } catch (const std::exception& e) {
        reason = e.what();
    }
    return TFileHandle();
}

int RemoveLeftoverWorkFiles(const std::string& folder) noexcept
{
    int removed = 0;
    try {
        for (const wchar_t* pattern : {L"\\PatchTotal_*.bin", L"\\Patch_*.Patch", L"\\Patched_*.bin"}) {
            std::vector<std::wstring> names;
            WIN32_FIND_DATAW found{};
            HANDLE search = ::FindFirstFileW((Wide(folder) + pattern).c_str(), &found);
            if (search == INVALID_HANDLE_VALUE)
                continue;
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    names.push_back(found.cFileName);
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
            for (const std::wstring& name : names)
                removed += RemoveFile(TPath::FromNative(Wide(folder) + L"\\" + name)) ? 1 : 0;
        }
    } catch (...) {
        // A leftover that stays costs only its room; the run goes on.
    }
    return removed;
}

TFileHandle TakeInstanceLock(const std::string& lockFile, DWORD& error)
{
    error = ERROR_SUCCESS;
    TFileHandle lock;
    try {
        lock.Reset(::CreateFileW(Wide(lockFile).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!lock)
            error = ::GetLastError();
    } catch (...) {
        error = ERROR_INVALID_NAME;
    }
    return lock;
}

} // namespace upd::wizard
