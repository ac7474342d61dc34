#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/Exception.h"
#include "wizard/UpdateFiles.h"

namespace upd::wizard {

namespace {

std::string IdentityText(const struct stat& st)
{
    return std::to_string(static_cast<unsigned long long>(st.st_dev)) + ":" +
           std::to_string(static_cast<unsigned long long>(st.st_ino));
}

// The path with every link of every step resolved; "" when it cannot be.
std::string ResolvedName(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : std::string();
}

std::string Trimmed(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

} // namespace

TFileFacts FileFacts(const std::string& path)
{
    TFileFacts facts;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return facts;
        throw EOSError(static_cast<std::uint32_t>(errno), "Nu pot deschide fisierul " + path + ": " + std::strerror(errno));
    }
    facts.Exists = true;
    facts.Linked = S_ISLNK(st.st_mode) || ResolvedName(path) != Trimmed(path);
    facts.Names = static_cast<std::uint32_t>(st.st_nlink);
    facts.Identity = IdentityText(st);
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
    int Descriptor = -1;
    ~THeld()
    {
        if (Descriptor >= 0)
            ::close(Descriptor);
    }
};

THeldFolders::THeldFolders() = default;
THeldFolders::~THeldFolders() = default;

void THeldFolders::HoldFolderOf(const std::string& file)
{
    const std::size_t slash = file.find_last_of('/');
    const std::string folder = slash == 0 ? std::string("/") : file.substr(0, slash == std::string::npos ? 0 : slash);
    for (const auto& held : m_held)
        if (held->Name == folder)
            return;
    // No share modes here: the folder is held open only so that Verify can
    // tell that the name still leads to it.
    auto held = std::make_unique<THeld>();
    held->Name = folder;
    held->Descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (held->Descriptor < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            throw EFolderMoved(FolderMovedMessage(folder));
        throw EOSError(static_cast<std::uint32_t>(errno), "Nu pot deschide directorul " + folder + ": " +
                                                              std::strerror(errno));
    }
    struct stat st {};
    if (::fstat(held->Descriptor, &st) != 0 || ResolvedName(folder) != Trimmed(folder))
        throw EFolderMoved(FolderMovedMessage(folder));
    held->Identity = IdentityText(st);
    m_held.push_back(std::move(held));
}

void THeldFolders::Verify() const
{
    for (const auto& held : m_held) {
        struct stat st {};
        if (::lstat(held->Name.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || IdentityText(st) != held->Identity ||
            ResolvedName(held->Name) != Trimmed(held->Name))
            throw EFolderMoved(FolderMovedMessage(held->Name));
    }
}

} // namespace upd::wizard
