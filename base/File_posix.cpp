#include "base/File.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace upd {

namespace {

[[noreturn]] void Fail(const std::string& what, const TPath& name, TErrorKind kind = TErrorKind::General)
{
    int code = errno;
    const std::string reason = std::strerror(code);
    throw EOSError(static_cast<std::uint32_t>(code), what + " " + name.Text() + ": " + reason, kind, reason);
}

// Writes every byte, at `position` or, without one, at the file position.
void WriteAll(int fd, const TPath& name, const void* buffer, std::size_t count, const std::int64_t* position)
{
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    std::int64_t next = position ? *position : 0;
    while (count > 0) {
        ssize_t put = position ? ::pwrite(fd, bytes, count, static_cast<off_t>(next)) : ::write(fd, bytes, count);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            Fail("Nu pot scrie in fisierul", name);
        }
        bytes += put;
        count -= static_cast<std::size_t>(put);
        next += put;
    }
}

// Set by an open refused for not being a regular file, for the message.
thread_local bool t_notRegular = false;

int OpenFlags(TFileMode mode)
{
    switch (mode) {
    case TFileMode::ReadDenyWrite:
    case TFileMode::ReadShared: return O_RDONLY;
    case TFileMode::Create: return O_RDWR | O_CREAT | O_TRUNC;
    case TFileMode::ReadWrite: return O_RDWR;
    case TFileMode::CreateNew: return O_RDWR | O_CREAT | O_EXCL;
    case TFileMode::AppendAsItself: return O_RDWR | O_NOFOLLOW;
    }
    return O_RDONLY;
}

} // namespace

TFile::TFile(const TPath& name, TFileMode mode)
{
    if (TryOpen(name, mode))
        return;
    if (t_notRegular)
        throw EOSError(static_cast<std::uint32_t>(errno),
                       "Nu pot deschide fisierul " + name.Text() + ": nu este un fisier obisnuit",
                       TErrorKind::OpenFailed, "nu este un fisier obisnuit");
    Fail("Nu pot deschide fisierul", name, TErrorKind::OpenFailed);
}

TFile::~TFile() { Close(); }

TFile::TFile(TFile&& other) noexcept : m_name(std::move(other.m_name)), m_fd(other.m_fd) { other.m_fd = -1; }

TFile& TFile::operator=(TFile&& other) noexcept
{
    if (this != &other) {
        Close();
        m_name = std::move(other.m_name);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

bool TFile::OpenAsItself(const TPath& name)
{
    // O_NOFOLLOW refuses a link under the name; O_EXCL never follows one,
    // even one that leads nowhere. Without blocking: a FIFO is refused below.
    int fd = ::open(name.Native().c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT)
        fd = ::open(name.Native().c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        const int why = S_ISREG(st.st_mode) ? EMLINK : EINVAL;
        ::close(fd);
        errno = why;
        return false;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_fd = fd;
    m_name = name;
    return true;
}

bool TFile::TryOpen(const TPath& name, TFileMode mode)
{
    Close();
    t_notRegular = false;
    if (mode == TFileMode::AppendAsItself)
        return OpenAsItself(name);
    // POSIX has no share modes; ReadDenyWrite is a plain read here. Readers
    // open without blocking, so that a pipe without a writer is refused below
    // instead of waiting for one.
    const bool reading = mode == TFileMode::ReadDenyWrite || mode == TFileMode::ReadShared;
    int fd = ::open(name.Native().c_str(), OpenFlags(mode) | O_CLOEXEC | (reading ? O_NONBLOCK : 0), 0644);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return false;
    }
    if (reading && !S_ISREG(st.st_mode)) {
        ::close(fd);
        t_notRegular = true;
        errno = EINVAL;
        return false;
    }
    if (reading)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_fd = fd;
    m_name = name;
    return true;
}

bool TFile::IsOpen() const noexcept { return m_fd >= 0; }

void TFile::Close() noexcept
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

std::size_t TFile::Read(void* buffer, std::size_t count)
{
    for (;;) {
        ssize_t got = ::read(m_fd, buffer, count);
        if (got >= 0)
            return static_cast<std::size_t>(got);
        if (errno != EINTR)
            Fail("Nu pot citi din fisierul", m_name);
    }
}

void TFile::ReadExactAt(std::int64_t position, void* buffer, std::size_t count)
{
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    while (count > 0) {
        ssize_t got = ::pread(m_fd, bytes, count, static_cast<off_t>(position));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            Fail("Nu pot citi din fisierul", m_name);
        if (got == 0)
            throw Exception("Nu pot citi din fisierul " + m_name.Text());
        bytes += got;
        count -= static_cast<std::size_t>(got);
        position += got;
    }
}

void TFile::Write(const void* buffer, std::size_t count)
{
    WriteAll(m_fd, m_name, buffer, count, nullptr);
}

void TFile::WriteAt(std::int64_t position, const void* buffer, std::size_t count)
{
    WriteAll(m_fd, m_name, buffer, count, &position);
}

TFileView::TFileView(const TFile& file, std::size_t size) noexcept : m_size(size)
{
    if (size == 0)
        return;
#ifdef MAP_POPULATE
    constexpr int kFlags = MAP_PRIVATE | MAP_POPULATE; // one call instead of a fault per page
#else
    constexpr int kFlags = MAP_PRIVATE;
#endif
    void* view = ::mmap(nullptr, size, PROT_READ, kFlags, file.m_fd, 0);
    if (view != MAP_FAILED)
        m_data = view;
}

TFileView::~TFileView()
{
    if (m_data)
        ::munmap(m_data, m_size);
}

void TFile::Flush()
{
    if (::fsync(m_fd) != 0)
        Fail("Nu pot scrie in fisierul", m_name);
}

void TFile::MarkReadOnly()
{
    struct stat st {};
    if (::fstat(m_fd, &st) != 0 || ::fchmod(m_fd, (st.st_mode & 07777) & ~(S_IWUSR | S_IWGRP | S_IWOTH)) != 0)
        Fail("Nu pot marca fisierul", m_name);
}

void TFile::Seek(std::int64_t position)
{
    if (::lseek(m_fd, position, SEEK_SET) < 0)
        Fail("Nu pot pozitiona in fisierul", m_name);
}

void TFile::Truncate()
{
    const off_t at = ::lseek(m_fd, 0, SEEK_CUR);
    if (at < 0 || ::ftruncate(m_fd, at) != 0)
        Fail("Nu pot scrie in fisierul", m_name);
}

std::int64_t TFile::Position() const
{
    return ::lseek(m_fd, 0, SEEK_CUR);
}

std::int64_t TFile::Size() const
{
    struct stat st {};
    if (::fstat(m_fd, &st) != 0)
        Fail("Nu pot citi marimea fisierului", m_name);
    return st.st_size;
}

bool FileOrFolderExists(const TPath& name)
{
    struct stat st {};
    return ::stat(name.Native().c_str(), &st) == 0;
}

bool FileExists(const TPath& name)
{
    struct stat st {};
    return ::stat(name.Native().c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DeleteFileNamed(const TPath& name) noexcept
{
    return ::unlink(name.Native().c_str()) == 0;
}

bool IsRegularFile(const TPath& name)
{
    struct stat st {};
    return ::stat(name.Native().c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool SameFile(const TPath& a, const TPath& b)
{
    struct stat sa {}, sb {};
    return ::stat(a.Native().c_str(), &sa) == 0 && ::stat(b.Native().c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

void RenameFileOver(const TPath& from, const TPath& to)
{
    if (::rename(from.Native().c_str(), to.Native().c_str()) != 0)
        Fail("Nu pot redenumi fisierul " + from.Text() + " in", to);
}

} // namespace upd
