#include "package/MemMappedFile.h"

#include "base/Win32_win32.h"

namespace upd::package {

void TMemMappedFile::OpenMapping(bool readOnly)
{
    auto fail = [this]() {
        const DWORD code = GetLastError();
        CloseMapping();
        RaiseOSError(code);
    };
    HANDLE file = CreateFileW(m_fileName.Native().c_str(), readOnly ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE,
                              readOnly ? FILE_SHARE_READ : 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        fail();
    m_fileHandle = reinterpret_cast<std::intptr_t>(file);
    MapOpenFile(readOnly);
}

void TMemMappedFile::MapOpenFile(bool readOnly)
{
    auto fail = [this]() {
        const DWORD code = GetLastError();
        CloseMapping();
        RaiseOSError(code);
    };
    HANDLE file = reinterpret_cast<HANDLE>(m_fileHandle);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size))
        fail();
    m_size = static_cast<std::size_t>(size.QuadPart);
    // A mapping of an empty file is refused by the system; an empty file has nothing to map.
    if (m_size == 0)
        return;
    HANDLE mapping = CreateFileMappingW(file, nullptr, readOnly ? PAGE_READONLY : PAGE_READWRITE, 0, 0, nullptr);
    if (!mapping)
        fail();
    m_mappingHandle = mapping;
    void* view = MapViewOfFile(mapping, readOnly ? FILE_MAP_READ : FILE_MAP_WRITE, 0, 0, 0);
    if (!view)
        fail();
    m_view = view;
    m_data = static_cast<std::uint8_t*>(view);
}

void TMemMappedFile::CloseMapping() noexcept
{
    if (m_view)
        UnmapViewOfFile(m_view);
    if (m_mappingHandle)
        CloseHandle(m_mappingHandle);
    if (m_fileHandle != -1 && m_ownsHandle)
        CloseHandle(reinterpret_cast<HANDLE>(m_fileHandle));
    m_view = nullptr;
    m_mappingHandle = nullptr;
    m_fileHandle = -1;
    if (m_memoryCopy.empty())
        m_data = nullptr;
}

} // namespace upd::package
