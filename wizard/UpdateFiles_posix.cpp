#include "wizard/UpdateFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/Exception.h"
#include "base/File.h"
#include "package/Md5Hash.h"

namespace upd::wizard {

namespace {

[[noreturn]] void Fail(int code, const std::string& what)
{
    throw EOSError(static_cast<std::uint32_t>(code), what + ": " + std::strerror(code));
}

constexpr mode_t kWriteBits = S_IWUSR | S_IWGRP | S_IWOTH;

// A rename is durable once the folder that holds the names is.
void SyncFolderOf(const std::string& path)
{
    std::string folder = std::filesystem::path(path).parent_path().string();
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

bool ClearAttributes(const std::string& path) noexcept
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    return ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

void SetReadOnly(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || ::chmod(path.c_str(), (st.st_mode & 07777) & ~kWriteBits) != 0)
        Fail(errno, "Nu pot marca fisierul " + path + " ca fisier doar pentru citire");
}

bool IsReadOnly(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

void CopyFileOver(const TPath& from, const std::string& to)
{
    struct stat st {};
    if (::stat(from.Native().c_str(), &st) != 0)
        Fail(errno, "Nu pot copia fisierul " + from.Text() + " in " + to);
    ClearAttributes(to);
    try {
        TFile source(from, TFileMode::ReadShared);
        TFile target(to, TFileMode::Create);
        std::vector<std::uint8_t> block(1 << 20);
        while (std::size_t got = source.Read(block.data(), block.size()))
            target.Write(block.data(), got);
    } catch (const EOSError& e) {
        throw EOSError(e.Code(), "Nu pot copia fisierul " + from.Text() + " in " + to + ": " + e.Message());
    }
    ::chmod(to.c_str(), st.st_mode & 07777);
}

void ReplaceWithStaged(const std::string& staged, const std::string& target)
{
    // Two names of one file (a rename cut short between its link and its
    // unlink): rename does nothing there, so the extra name goes by itself.
    struct stat from {}, to {};
    if (::lstat(staged.c_str(), &from) == 0 && ::lstat(target.c_str(), &to) == 0 && from.st_dev == to.st_dev &&
        from.st_ino == to.st_ino) {
        if (::unlink(staged.c_str()) != 0)
            Fail(errno, "Nu pot inlocui fisierul " + target);
    } else if (std::rename(staged.c_str(), target.c_str()) != 0) {
        Fail(errno, "Nu pot inlocui fisierul " + target);
    }
    SyncFolderOf(target);
}

void RenameFile(const std::string& from, const std::string& to)
{
    // One step that refuses an existing target, as the Windows rename does;
    // where the file system cannot, link + unlink (a kill between them leaves
    // two names of the file, which the rollback knows).
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        SyncFolderOf(to);
        return;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        Fail(errno, "Nu pot redenumi fisierul " + from + " in " + to);
#endif
    if (::link(from.c_str(), to.c_str()) != 0)
        Fail(errno, "Nu pot redenumi fisierul " + from + " in " + to);
    if (::unlink(from.c_str()) != 0) {
        int code = errno;
        ::unlink(to.c_str());
        Fail(code, "Nu pot redenumi fisierul " + from + " in " + to);
    }
    SyncFolderOf(to);
}

void RenameVerified(const std::string& staged, const std::string& target, const std::string& digest)
{
    // POSIX has no share modes: the copy is hashed through a descriptor that
    // does not follow a link, and the name is checked to lead to the same
    // file just before it is renamed.
    int fd = ::open(staged.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        Fail(errno, "Nu pot deschide fisierul " + staged);
    struct stat opened {};
    bool same = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && opened.st_nlink == 1;
    package::THashAlgMD5Engine::TContext context;
    package::THashAlgMD5Engine::Init(context);
    std::vector<std::uint8_t> block(1 << 20);
    ssize_t got = 0;
    while (same && (got = ::read(fd, block.data(), block.size())) > 0)
        package::THashAlgMD5Engine::Update(context, block.data(), static_cast<std::size_t>(got));
    const int code = errno;
    ::close(fd);
    if (got < 0)
        Fail(code, "Nu pot citi din fisierul " + staged);
    package::THashDigest bytes{};
    package::THashAlgMD5Engine::Final(context, bytes.data());
    struct stat named {};
    same = same && ::lstat(staged.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
           named.st_ino == opened.st_ino;
    if (!same || package::THashAlgMD5().DigestToText(bytes) != digest)
        throw Exception(StagedCopyChangedMessage(staged));
    RenameFile(staged, target);
}

bool RemoveFile(const TPath& path) noexcept
{
    struct stat st {};
    if (::lstat(path.Native().c_str(), &st) != 0)
        return true;
    return ::unlink(path.Native().c_str()) == 0 || errno == ENOENT;
}

std::string LongFileName(const std::string& path) { return path; }

bool IsFolder(const std::string& path) noexcept
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CanReplace(const std::string&, std::string&) noexcept
{
    // No mandatory locks here: a file can always be renamed away.
    return true;
}

std::string ProgramsUsing(const std::string&) noexcept { return {}; }

void ForceFolders(const std::string& folder)
{
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error)
        Fail(error.value(), "Nu pot crea directorul " + folder);
}

} // namespace upd::wizard
