#include "patch/PatchIo.h"

#include <algorithm>

namespace upd::patch {

TQvtFileOutput::~TQvtFileOutput()
{
    try {
        Flush();
    } catch (...) {
        // Callers that care about a failed write call Flush themselves.
    }
}

void TQvtFileOutput::Write(const std::uint8_t* data, std::size_t count)
{
    if (count >= kBufferSize) {
        Flush();
        m_file.Write(data, count);
        return;
    }
    if (m_buffer.size() + count > kBufferSize)
        Flush();
    m_buffer.insert(m_buffer.end(), data, data + count);
}

void TQvtFileOutput::Flush()
{
    if (m_buffer.empty())
        return;
    m_file.Write(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
}

void TQvtMemorySource::CopyTo(std::int64_t position, std::size_t count, TQvtPatchOutput& output)
{
    output.Write(m_data + position, count);
}

TQvtFileSource::TQvtFileSource(TFile& file) : m_file(file), m_size(file.Size()), m_window(kWindowSize) {}

void TQvtFileSource::CopyTo(std::int64_t position, std::size_t count, TQvtPatchOutput& output)
{
    while (count > 0) {
        if (position < m_windowStart || position >= m_windowStart + static_cast<std::int64_t>(m_windowSize)) {
            m_file.Seek(position);
            std::size_t want = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(kWindowSize), m_size - position));
            m_file.ReadExact(m_window.data(), want);
            m_windowStart = position;
            m_windowSize = want;
        }
        std::size_t at = static_cast<std::size_t>(position - m_windowStart);
        std::size_t take = std::min(count, m_windowSize - at);
        output.Write(m_window.data() + at, take);
        position += static_cast<std::int64_t>(take);
        count -= take;
    }
}

} // namespace upd::patch
