#include "package/MemMappedFile.h"

#include "base/Exception.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace upd::package {

void TMemMappedFile::OpenMapping(bool readOnly)
{
    auto fail = [this](const char* what) {
        const int code = errno;
        CloseMapping();
        throw EOSError(static_cast<std::uint32_t>(code),
                       std::string(what) + " " + m_fileName.Text() + ": " + std::strerror(code));
    };
    const int fd = ::open(m_fileName.Native().c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC);
    if (fd < 0)
        fail("Nu pot deschide fisierul");
    m_fileHandle = fd;
    MapOpenFile(readOnly);
}

void TMemMappedFile::MapOpenFile(bool readOnly)
{
    auto fail = [this](const char* what) {
        const int code = errno;
        CloseMapping();
        throw EOSError(static_cast<std::uint32_t>(code),
                       std::string(what) + " " + m_fileName.Text() + ": " + std::strerror(code));
    };
    const int fd = static_cast<int>(m_fileHandle);
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        fail("Nu pot citi dimensiunea fisierului");
    m_size = static_cast<std::size_t>(st.st_size);
    if (m_size == 0)
        return;
    void* view = ::mmap(nullptr, m_size, readOnly ? PROT_READ : PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (view == MAP_FAILED)
        fail("Nu pot mapa fisierul");
    m_view = view;
    m_data = static_cast<std::uint8_t*>(view);
}

void TMemMappedFile::CloseMapping() noexcept
{
    if (m_view)
        ::munmap(m_view, m_size);
    if (m_fileHandle >= 0 && m_ownsHandle)
        ::close(static_cast<int>(m_fileHandle));
    m_view = nullptr;
    m_fileHandle = -1;
    if (m_memoryCopy.empty())
        m_data = nullptr;
}

} // namespace upd::package
