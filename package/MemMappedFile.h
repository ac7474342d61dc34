// A whole file made readable as one block of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/Path.h"

namespace upd {
class TFile;
}

namespace upd::package {

/// A file's content at Data(), either through a file mapping (mapping mode) or
/// loaded into memory (copy mode). Move-less and copy-less; everything is
/// released on destruction.
class TMemMappedFile {
public:
    /// Opens the file and makes Data() and Size() valid. Mapping mode opens an
    /// existing file, shared for reading when `readOnly` (otherwise read-write and
    /// not shared), and maps all of it with matching protection; copy mode reads it
    /// all into memory. Any failing step raises EOSError. An empty file gives
    /// Size() 0 and a null Data() in both modes.
    TMemMappedFile(const TPath& fileName, bool readOnly, bool useMapping);
    /// Maps all of a file that is open already, read-only, through its handle
    /// (the name is never opened again: it may lead to another file by now).
    /// The file must stay open while the mapping lives. Raises EOSError.
    explicit TMemMappedFile(const TFile& file);
    ~TMemMappedFile();
    TMemMappedFile(const TMemMappedFile&) = delete;
    TMemMappedFile& operator=(const TMemMappedFile&) = delete;

    const std::uint8_t* Data() const { return m_data; }
    /// Writable only for a file opened with `readOnly` false.
    std::uint8_t* MutableData() { return m_data; }
    std::size_t Size() const { return m_size; }
    const TPath& FileName() const { return m_fileName; }
    bool IsMapped() const { return m_view != nullptr; }

private:
    // Platform parts (MemMappedFile_win32.cpp / MemMappedFile_posix.cpp).
    void OpenMapping(bool readOnly);
    void MapOpenFile(bool readOnly);
    void CloseMapping() noexcept;

    TPath m_fileName;
    std::vector<std::uint8_t> m_memoryCopy;
    std::uint8_t* m_data = nullptr;
    std::size_t m_size = 0;
    void* m_view = nullptr;
    std::intptr_t m_fileHandle = -1;
    bool m_ownsHandle = true;
    void* m_mappingHandle = nullptr;
};

} // namespace upd::package
