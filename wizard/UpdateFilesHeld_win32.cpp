#include "wizard/UpdateFilesItself_win32.h"

#include <cstdio>
#include <vector>

#include "base/Exception.h"
#include "package/DuplicateNames.h"
#include "package/Md5Hash.h"
#include "wizard/UpdateFiles.h"

namespace upd::wizard {

namespace {

std::string IdentityText(const BY_HANDLE_FILE_INFORMATION& info)
{
    char text[40];
    std::snprintf(text, sizeof text, "%08lx:%08lx%08lx", static_cast<unsigned long>(info.dwVolumeSerialNumber),
                  static_cast<unsigned long>(info.nFileIndexHigh), static_cast<unsigned long>(info.nFileIndexLow));
    return text;
}

bool NamesNothing(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

} // namespace

std::string FinalName(HANDLE handle)
{
    std::wstring name(32768, L'\0');
    const DWORD got = ::GetFinalPathNameByHandleW(handle, name.data(), static_cast<DWORD>(name.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (got == 0 || got >= name.size())
        return {};
    name.resize(got);
    if (name.rfind(L"\\\\?\\UNC\\", 0) == 0)
        name = L"\\\\" + name.substr(8);
    else if (name.rfind(L"\\\\?\\", 0) == 0)
        name = name.substr(4);
    return SystemText(name);
}

bool SameFileName(const std::string& a, const std::string& b)
{
    std::string left = package::CanonicalPathName(a), right = package::CanonicalPathName(b);
    if (left.size() != right.size())
        return false;
    // Letters beyond ASCII compare as the system's own upper case.
    return ::CompareStringOrdinal(Wide(left).c_str(), -1, Wide(right).c_str(), -1, TRUE) == CSTR_EQUAL;
}

bool DigestThrough(HANDLE file, std::string& digest)
{
    package::THashAlgMD5Engine::TContext context;
    package::THashAlgMD5Engine::Init(context);
    std::vector<std::uint8_t> block(1 << 20);
    for (std::uint64_t at = 0;;) {
        OVERLAPPED position{};
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!::ReadFile(file, block.data(), static_cast<DWORD>(block.size()), &got, &position) &&
            ::GetLastError() != ERROR_HANDLE_EOF)
            return false;
        if (got == 0)
            break;
        package::THashAlgMD5Engine::Update(context, block.data(), got);
        at += got;
    }
    package::THashDigest bytes{};
    package::THashAlgMD5Engine::Final(context, bytes.data());
    digest = package::THashAlgMD5().DigestToText(bytes);
    return true;
}

TFileHandle OpenAsItself(const std::string& path, DWORD access, DWORD share, BY_HANDLE_FILE_INFORMATION& info,
                         bool& linked)
{
    TFileHandle file(::CreateFileW(Wide(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file)
        return file;
    if (!::GetFileInformationByHandle(file.Get(), &info)) {
        const DWORD code = ::GetLastError();
        file.Reset();
        ::SetLastError(code);
        return file;
    }
    // The final name is compared with the long form of the name asked for:
    // "C:\\PRAVION\\SALARI~1.DAT" is the file itself, a link is not.
    const std::string final = FinalName(file.Get());
    linked = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || final.empty() ||
             !SameFileName(final, LongFileName(path));
    return file;
}

TFileFacts FileFacts(const std::string& path)
{
    TFileFacts facts;
    BY_HANDLE_FILE_INFORMATION info{};
    bool linked = false;
    // Attributes only: no share mode of another holder refuses this.
    TFileHandle file = OpenAsItself(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    info, linked);
    if (!file) {
        const DWORD code = ::GetLastError();
        if (NamesNothing(code))
            return facts;
        RaiseOSError(code, "Nu pot deschide fisierul " + path);
    }
    facts.Exists = true;
    facts.Linked = linked;
    facts.Names = info.nNumberOfLinks;
    facts.Identity = IdentityText(info);
    return facts;
}

std::string FileIdentity(const std::string& path) noexcept
{
    try {
        return FileFacts(path).Identity;
    } catch (...) {
        return {};
    }
}

struct THeldFolders::THeld {
    std::string Name;
    std::string Identity;
    TFileHandle Handle;
};

THeldFolders::THeldFolders() = default;
THeldFolders::~THeldFolders() = default;

void THeldFolders::HoldFolderOf(const std::string& file)
{
    const std::size_t slash = file.find_last_of("\\/");
    std::string folder = file.substr(0, slash == std::string::npos ? 0 : slash);
    if (folder.size() == 2 && folder[1] == ':')
        folder += '\\';
    for (const auto& held : m_held)
        if (SameFileName(held->Name, folder))
            return;
    BY_HANDLE_FILE_INFORMATION info{};
    bool linked = false;
    // Sharing reading and writing, not deletion: while this handle lasts the
    // folder can be neither renamed nor deleted, so nobody can put a link in
    // its place; the files inside stay free for the replacement.
    TFileHandle handle =
        OpenAsItself(folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, info, linked);
    if (!handle)
        RaiseOSError(::GetLastError(), "Nu pot deschide directorul " + folder);
    if (linked || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        throw EFolderMoved(FolderMovedMessage(folder));
    auto held = std::make_unique<THeld>();
    held->Name = folder;
    held->Identity = IdentityText(info);
    held->Handle = std::move(handle);
    m_held.push_back(std::move(held));
}

void THeldFolders::Verify() const
{
    for (const auto& held : m_held) {
        // Where the held folder is now, and what its name leads to now: both
        // must still be the folder that was opened.
        const std::string now = FinalName(held->Handle.Get());
        const TFileFacts named = [&] {
            try {
                return FileFacts(held->Name);
            } catch (const Exception&) {
                return TFileFacts{};
            }
        }();
        if (now.empty() || !SameFileName(now, LongFileName(held->Name)) || !named.Exists || named.Linked ||
            named.Identity != held->Identity)
            throw EFolderMoved(FolderMovedMessage(held->Name));
    }
}

} // namespace upd::wizard
