#include "patch/InstructionRecord.h"

#include <algorithm>

namespace upd::patch {

TQvtInstructionRecord::TQvtInstructionRecord(int version, std::size_t imageSize)
    : m_version(version), m_limit(LimitFor(imageSize))
{
    // Room that is never written costs no memory, and the bytes never move.
    if (version >= 0)
        m_bytes.reserve(m_limit);
    else
        m_full = true;
}

std::size_t TQvtInstructionRecord::LimitFor(std::size_t imageSize)
{
    return std::max<std::size_t>(imageSize / 3, std::size_t{1} << 20);
}

void TQvtInstructionRecord::GiveUp()
{
    m_full = true;
    std::vector<std::uint8_t>().swap(m_bytes);
    std::vector<TQvtStartMark>().swap(m_marks);
}

} // namespace upd::patch
