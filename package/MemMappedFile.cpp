#include "package/MemMappedFile.h"

#include "base/File.h"

namespace upd::package {

TMemMappedFile::TMemMappedFile(const TPath& fileName, bool readOnly, bool useMapping) : m_fileName(fileName)
{
    if (useMapping) {
        OpenMapping(readOnly);
        return;
    }
    m_memoryCopy = ReadWholeFile(fileName);
    m_size = m_memoryCopy.size();
    m_data = m_memoryCopy.empty() ? nullptr : m_memoryCopy.data();
}

TMemMappedFile::TMemMappedFile(const TFile& file)
    : m_fileName(file.Name()), m_fileHandle(file.NativeHandle()), m_ownsHandle(false)
{
    MapOpenFile(true);
}

TMemMappedFile::~TMemMappedFile()
{
    CloseMapping();
}

} // namespace upd::package
