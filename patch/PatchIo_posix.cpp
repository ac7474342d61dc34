// Mapping the old file, POSIX side.
#include "patch/PatchIo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace upd::patch {

void TQvtMappedSource::Map(const TPath& name)
{
    auto fail = [&](const char* what) {
        const int code = errno;
        Unmap();
        throw EOSError(static_cast<std::uint32_t>(code), std::string(what) + " " + name.Text() + ": " + std::strerror(code));
    };
    const int fd = ::open(name.Native().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail("Nu pot deschide fisierul");
    m_file = fd;
    void* view = ::mmap(nullptr, static_cast<std::size_t>(m_size), PROT_READ, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED)
        fail("Nu pot mapa fisierul");
    m_data = static_cast<const std::uint8_t*>(view);
    ::madvise(view, static_cast<std::size_t>(m_size), MADV_RANDOM);
}

void TQvtMappedSource::Release() noexcept
{
    // Only the process's page table entries go; the pages stay in the cache.
    ::madvise(const_cast<std::uint8_t*>(m_data), static_cast<std::size_t>(m_size), MADV_DONTNEED);
}

void TQvtMappedSource::Unmap() noexcept
{
    if (m_data)
        ::munmap(const_cast<std::uint8_t*>(m_data), static_cast<std::size_t>(m_size));
    if (m_file >= 0)
        ::close(static_cast<int>(m_file));
    m_data = nullptr;
    m_file = -1;
}

} // namespace upd::patch
