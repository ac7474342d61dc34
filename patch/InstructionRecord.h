// What the checking pass keeps of each instruction for the old version being
// rebuilt, so that the writing pass need not decode every code a second time.
//
// Layout: per instruction, in order, base-128 numbers (seven bits a byte,
// least significant group first, the high bit set on all but the last): a
// Copy's offset for the version (zigzag: 2n for n >= 0, -2n - 1 below) and its
// length; a Dump's length. Every kMarkStep-th instruction (a Copy, as the
// number is even) is also marked as a place where writing can start, so that
// finding where the second half of a new file starts reads only the numbers
// after the last mark before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "patch/PatchLimits.h"

namespace upd::patch {

/// Where writing can start: at a Copy, with the source position the
/// instructions before it left.
struct TQvtWriteFrom {
    std::int32_t First = 0;
    std::int32_t Position = 0;
};

/// A place where writing can start, with the instructions before it summed up.
struct TQvtStartMark {
    TQvtWriteFrom From;
    std::size_t At = 0;          // its first recorded number, from the first one
    std::uint64_t Literals = 0;  // literal bytes before it
    std::uint64_t Written = 0;   // bytes of the new file before it
};

class TQvtInstructionRecord {
public:
    /// A record for old version `version` of an image of `imageSize` bytes; a
    /// negative version records nothing.
    TQvtInstructionRecord(int version, std::size_t imageSize);

    static constexpr std::int32_t kMarkStep = 16384;

    int Version() const noexcept { return m_version; }
    /// Instruction `k`, a Copy, after `literals` literal bytes and `written`
    /// bytes of the new file.
    void PutCopy(std::int32_t k, std::int32_t offset, std::int32_t length, std::uint64_t literals,
                 std::uint64_t written)
    {
        if (k % kMarkStep == 0 && !m_full)
            m_marks.push_back({{k, m_position}, m_bytes.size(), literals, written});
        // As the writing moves it: a run outside the old file stops the
        // writing there, so what it would leave does not matter.
        m_position = WrapAdd(m_position, offset);
        const auto value = static_cast<std::uint32_t>(offset);
        Put(value << 1 ^ (0u - (value >> 31)));
        Put(static_cast<std::uint32_t>(length));
    }
    void PutDump(std::int32_t length) { Put(static_cast<std::uint32_t>(length)); }
    /// Whether every instruction is recorded: a record is given up once it
    /// would cost more than a third of the image (or 1 MB), and the writing
    /// pass then decodes the codes again.
    bool Usable() const noexcept { return m_version >= 0 && !m_full; }
    /// The first recorded number.
    const std::uint8_t* Numbers() const noexcept { return m_bytes.data(); }
    const std::vector<TQvtStartMark>& Marks() const noexcept { return m_marks; }

private:
    static std::size_t LimitFor(std::size_t imageSize);
    void GiveUp();
    void Put(std::uint32_t number)
    {
        if (m_full)
            return;
        if (m_bytes.size() + 5 > m_limit) {
            GiveUp();
            return;
        }
        while (number >= 0x80) {
            m_bytes.push_back(static_cast<std::uint8_t>(number | 0x80));
            number >>= 7;
        }
        m_bytes.push_back(static_cast<std::uint8_t>(number));
    }

    int m_version;
    std::size_t m_limit;
    bool m_full = false;
    std::vector<std::uint8_t> m_bytes;
    std::vector<TQvtStartMark> m_marks;
    std::int32_t m_position = 0; // before the next Copy
};

/// Reads back, in order, the numbers of a record; the caller knows how many
/// there are.
class TQvtRecordReader {
public:
    explicit TQvtRecordReader(const std::uint8_t* at) noexcept : m_at(at) {}
    std::uint32_t Get() noexcept
    {
        std::uint32_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            const std::uint8_t byte = *m_at++;
            value |= std::uint32_t{byte & 0x7Fu} << shift;
            if (byte < 0x80)
                return value;
        }
    }
    std::int32_t GetSigned() noexcept
    {
        const std::uint32_t zigzag = Get();
        return static_cast<std::int32_t>((zigzag >> 1) ^ (0u - (zigzag & 1)));
    }
    /// The next number's first byte.
    const std::uint8_t* At() const noexcept { return m_at; }

private:
    const std::uint8_t* m_at;
};

} // namespace upd::patch
