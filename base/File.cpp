#include "base/File.h"

namespace upd {

void TFile::ReadExact(void* buffer, std::size_t count)
{
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        std::size_t got = Read(bytes + done, count - done);
        if (got == 0)
            throw Exception("Nu pot citi din fisierul " + m_name.Text());
        done += got;
    }
}

std::vector<std::uint8_t> ReadWholeFile(const TPath& name)
{
    TFile file(name, TFileMode::ReadShared);
    std::vector<std::uint8_t> data;
    std::uint8_t block[65536];
    for (;;) {
        std::size_t got = file.Read(block, sizeof block);
        if (got == 0)
            break;
        data.insert(data.end(), block, block + got);
    }
    return data;
}

TPendingFile::TPendingFile(TPath target) : m_target(std::move(target))
{
    for (int n = 1;; ++n) {
        m_name = m_target + ".tmp" + std::to_string(n);
        if (!FileOrFolderExists(m_name))
            break;
    }
}

TPendingFile::~TPendingFile()
{
    if (!m_committed)
        DeleteFileNamed(m_name);
}

void TPendingFile::Commit()
{
    RenameFileOver(m_name, m_target);
    m_committed = true;
}

void WriteWholeFile(const TPath& name, const void* data, std::size_t size)
{
    TFile file(name, TFileMode::Create);
    file.Write(data, size);
}

} // namespace upd
