// Mapping the old file, Windows side.
#include "patch/PatchIo.h"

#include "base/Win32_win32.h"

namespace upd::patch {

void TQvtMappedSource::Map(const TPath& name)
{
    HANDLE file = CreateFileW(name.Native().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        RaiseOSError(GetLastError(), "Nu pot deschide fisierul " + name.Text());
    m_file = reinterpret_cast<std::intptr_t>(file);
    m_mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
    const void* view = m_mapping ? MapViewOfFile(static_cast<HANDLE>(m_mapping), FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (!view) {
        const DWORD code = GetLastError();
        Unmap();
        RaiseOSError(code, "Nu pot mapa fisierul " + name.Text());
    }
    m_data = static_cast<const std::uint8_t*>(view);
}

void TQvtMappedSource::Release() noexcept
{
    // Unlocking pages that are not locked takes them out of the working set
    // (the call reports an error, which says nothing here).
    VirtualUnlock(const_cast<std::uint8_t*>(m_data), static_cast<SIZE_T>(m_size));
}

void TQvtMappedSource::Unmap() noexcept
{
    if (m_data)
        UnmapViewOfFile(m_data);
    if (m_mapping)
        CloseHandle(static_cast<HANDLE>(m_mapping));
    if (m_file != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_file));
    m_data = nullptr;
    m_mapping = nullptr;
    m_file = -1;
}

} // namespace upd::patch
