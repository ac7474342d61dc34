#include "patch/PatchIo.h"

#include <algorithm>
#include <cstring>

namespace upd::patch {

TQvtFileOutput::~TQvtFileOutput()
{
    if (!m_flushAtEnd)
        return;
    try {
        Flush();
    } catch (...) {
        // Callers that care about a failed write call Flush themselves.
    }
}

void TQvtFileOutput::Write(const std::uint8_t* data, std::size_t count)
{
    if (count == 0)
        return; // an empty piece may come without any bytes behind it
    if (count >= kBufferSize) {
        Flush();
        m_file.WriteAt(m_start + m_written, data, count);
        m_written += static_cast<std::int64_t>(count);
        return;
    }
    if (m_used + count > kBufferSize)
        Flush();
    std::memcpy(m_buffer.get() + m_used, data, count);
    m_used += count;
}

bool TQvtFileOutput::Restart()
{
    m_used = 0;
    m_written = 0;
    m_file.Seek(m_start);
    // Only a file that holds something past the start is cut: ext4 writes a
    // file that was cut to nothing out to the disk as soon as it is closed.
    if (m_file.Size() > m_start)
        m_file.Truncate();
    return true;
}

void TQvtFileOutput::Flush()
{
    if (m_used == 0)
        return;
    m_file.WriteAt(m_start + m_written, m_buffer.get(), m_used);
    m_written += static_cast<std::int64_t>(m_used);
    m_used = 0;
}

std::unique_ptr<TQvtPatchOutput> TQvtFileOutput::Beside(std::int64_t offset)
{
    return std::unique_ptr<TQvtPatchOutput>(new TQvtFileOutput(m_file, m_start + offset, false));
}

void TQvtMemorySource::CopyTo(std::int64_t position, std::size_t count, TQvtPatchOutput& output)
{
    output.Write(m_data + position, count);
}

TQvtFileSource::TQvtFileSource(TFile& file)
    : m_file(file),
      m_size(file.Size()),
      // Left uninitialised: only the blocks in use cost memory.
      m_blocks(new std::uint8_t[kSets * kMaxWays * kBlockSize]),
      m_tags(kSets * kMaxWays, -1),
      m_used(kSets * kMaxWays, 0)
{
}

void TQvtFileSource::MayUseMore(std::size_t bytes)
{
    m_allowed += bytes;
    m_ways = std::min(kMaxWays, m_firstWays + m_allowed / (kSets * kBlockSize));
}

void TQvtFileSource::ReadWhole()
{
    if (m_wholeData)
        return;
    const auto size = static_cast<std::size_t>(m_size);
    // Mapped where the system can, as long as the file is still as long as
    // it was: a page past its end could not be read.
    m_view = std::make_unique<TFileView>(m_file, size);
    if (m_view->Data() && m_file.Size() >= m_size) {
        m_wholeData = m_view->Data();
        return;
    }
    m_view.reset();
    m_file.ReadExactAt(0, m_blocks.get(), size);
    m_wholeData = m_blocks.get();
}

std::unique_ptr<TQvtPatchSource> TQvtFileSource::Beside()
{
    if (m_size <= static_cast<std::int64_t>(kWholeUpTo)) {
        ReadWhole();
        return std::make_unique<TQvtMemorySource>(m_wholeData, static_cast<std::size_t>(m_size));
    }
    // Blocks this one holds in the ways it gives up stay valid: they are
    // found again if it grows back into them.
    m_firstWays = std::min(m_firstWays, kBesideWays);
    MayUseMore(0);
    auto other = std::make_unique<TQvtFileSource>(m_file);
    other->m_firstWays = m_firstWays;
    other->MayUseMore(0);
    return other;
}

const std::uint8_t* TQvtFileSource::Block(std::int64_t block)
{
    std::size_t first = static_cast<std::size_t>(block % static_cast<std::int64_t>(kSets)) * kMaxWays;
    std::size_t victim = first;
    for (std::size_t slot = first; slot < first + m_ways; ++slot) {
        if (m_tags[slot] == block) {
            m_used[slot] = ++m_clock;
            m_recentBlock = block;
            m_recentSlot = slot;
            return m_blocks.get() + slot * kBlockSize;
        }
        if (m_used[slot] < m_used[victim])
            victim = slot;
    }
    std::uint8_t* data = m_blocks.get() + victim * kBlockSize;
    std::int64_t start = block * static_cast<std::int64_t>(kBlockSize);
    m_tags[victim] = -1; // a failed read leaves no stale tag behind
    if (m_recentSlot == victim)
        m_recentBlock = -1;
    m_file.ReadExactAt(start, data, static_cast<std::size_t>(std::min<std::int64_t>(
                                        static_cast<std::int64_t>(kBlockSize), m_size - start)));
    m_tags[victim] = block;
    m_used[victim] = ++m_clock;
    m_recentBlock = block;
    m_recentSlot = victim;
    return data;
}

void TQvtFileSource::CopyTo(std::int64_t position, std::size_t count, TQvtPatchOutput& output)
{
    if (m_size <= static_cast<std::int64_t>(kWholeUpTo)) {
        ReadWhole();
        output.Write(m_wholeData + position, count);
        return;
    }
    while (count > 0) {
        std::int64_t block = position / static_cast<std::int64_t>(kBlockSize);
        std::int64_t start = block * static_cast<std::int64_t>(kBlockSize);
        std::size_t size = static_cast<std::size_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(kBlockSize), m_size - start));
        const std::uint8_t* data = Recent(block);
        std::size_t at = static_cast<std::size_t>(position - start);
        std::size_t take = std::min(count, size - at);
        output.Write(data + at, take);
        position += static_cast<std::int64_t>(take);
        count -= take;
    }
}

} // namespace upd::patch
