// Bits, compact signed numbers and raw byte blocks over an in-memory stream.
//
// Layout: bits are taken most significant first from each byte. A plain number
// is a sign bit, a three-bit nibble count n (most significant first) and 4·n
// magnitude bits (most significant first), so it holds magnitudes below 2^28.
// A raw block starts at the byte after the one that held the last bit read; the
// unread low bits of that byte are padding.
#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace upd::patch {

/// The message raised when a bit is needed past the end of the stream.
inline constexpr const char* kReadPastEnd = "Incerci sa citesti DUPA eof";

/// A run of bytes inside a buffer that several owners share, so that literal
/// bytes need not be copied out of a decoded patch image.
struct TQvtSharedBytes {
    std::shared_ptr<const std::vector<std::uint8_t>> store;
    std::size_t start = 0;
    std::size_t size = 0;

    const std::uint8_t* data() const noexcept { return store ? store->data() + start : nullptr; }
};

/// A growable byte buffer with a position, the stream under a TQvtBitStream.
class TQvtMemoryStream {
public:
    TQvtMemoryStream() : m_data(std::make_shared<std::vector<std::uint8_t>>()) {}
    explicit TQvtMemoryStream(std::vector<std::uint8_t> data)
        : m_data(std::make_shared<std::vector<std::uint8_t>>(std::move(data)))
    {
    }
    /// A stream over a buffer that others share (reading only).
    explicit TQvtMemoryStream(std::shared_ptr<std::vector<std::uint8_t>> data) : m_data(std::move(data)) {}
    std::shared_ptr<std::vector<std::uint8_t>> Shared() const noexcept { return m_data; }

    /// Reads up to `count` bytes at the position; returns how many it got.
    std::size_t Read(void* buffer, std::size_t count);
    /// Writes at the position, growing the buffer as needed.
    void Write(const void* buffer, std::size_t count);

    std::size_t Position() const noexcept { return m_position; }
    /// Positions beyond the end are clamped to the end.
    void Seek(std::size_t position) noexcept { m_position = position < m_data->size() ? position : m_data->size(); }
    std::size_t Size() const noexcept { return m_data->size(); }

    const std::vector<std::uint8_t>& Data() const noexcept { return *m_data; }
    /// Shares `count` bytes at the position (fewer at the end) and moves past them.
    TQvtSharedBytes ReadShared(std::size_t count);
    /// Hands the buffer over and leaves the stream empty.
    std::vector<std::uint8_t> Release();

private:
    std::shared_ptr<std::vector<std::uint8_t>> m_data;
    std::size_t m_position = 0;
};

/// A fast reader of bits (most significant first) over bytes it does not own,
/// for the hot decoding loops: any bit position is one load away, and nothing
/// is consumed by looking ahead.
class TQvtBitReader {
public:
    TQvtBitReader(const std::uint8_t* data, std::size_t size, std::uint64_t bitPosition = 0) noexcept
        : m_data(data), m_size(size), m_bits(std::uint64_t{size} * 8), m_position(bitPosition)
    {
    }

    /// The next `count` (1..32) bits, most significant first in the low bits,
    /// zeros past the end; `available` receives how many of them exist.
    std::uint32_t PeekBits(unsigned count, unsigned& available) const noexcept
    {
        std::uint64_t left = m_position < m_bits ? m_bits - m_position : 0;
        available = left < count ? static_cast<unsigned>(left) : count;
        std::size_t byte = static_cast<std::size_t>(m_position >> 3);
        if (byte + 8 <= m_size)
            return PeekFast(count);
        std::uint64_t window = 0;
        for (std::size_t i = 0; i < 8; ++i)
            window = window << 8 | (byte + i < m_size ? m_data[byte + i] : 0u);
        window <<= (m_position & 7);
        return static_cast<std::uint32_t>(window >> (64 - count));
    }
    /// Consumes `count` bits that PeekBits reported as available.
    void SkipBits(unsigned count) noexcept { m_position += count; }
    /// Bytes from the current one that CanPeekFast promises.
    static constexpr std::size_t kFastBytes = 16;
    /// True while kFastBytes whole bytes follow from the current one: PeekFast
    /// may then be called after each step of a code of up to 64 bits.
    bool CanPeekFast() const noexcept { return (m_position >> 3) + kFastBytes <= m_size; }
    /// The next `count` (1..32) bits, most significant first; the eight bytes
    /// from the current one must exist (CanPeekFast() assures it for a code).
    std::uint32_t PeekFast(unsigned count) const noexcept
    {
        std::uint64_t window;
        std::memcpy(&window, m_data + (m_position >> 3), 8);
        if constexpr (std::endian::native == std::endian::little)
            window = __builtin_bswap64(window);
        return static_cast<std::uint32_t>((window << (m_position & 7)) >> (64 - count));
    }
    /// One bit; raises kReadPastEnd past the end.
    bool ReadBit()
    {
        if (m_position >= m_bits)
            ThrowPastEnd();
        bool bit = (m_data[m_position >> 3] >> (7 - (m_position & 7))) & 1;
        ++m_position;
        return bit;
    }
    /// A plain number (see TQvtBitStream::ReadNumber).
    std::int32_t ReadNumber();
    /// `count` (at most 64) bits, least significant first; raises kReadPastEnd
    /// when they run past the end.
    std::uint64_t ReadBitsLsbFirst(unsigned count);
    std::uint64_t BitPosition() const noexcept { return m_position; }
    /// The byte after the one that holds the last bit read.
    std::size_t BytePosition() const noexcept { return static_cast<std::size_t>((m_position + 7) >> 3); }

private:
    [[noreturn]] static void ThrowPastEnd();

    const std::uint8_t* m_data;
    std::size_t m_size;
    std::uint64_t m_bits;
    std::uint64_t m_position;
};

/// Reads and writes bits over a stream it does not own. Reading starts at the
/// stream's position at creation. Destruction flushes a partly written byte.
class TQvtBitStream {
public:
    explicit TQvtBitStream(TQvtMemoryStream& stream) noexcept : m_stream(stream) {}
    ~TQvtBitStream();
    TQvtBitStream(const TQvtBitStream&) = delete;
    TQvtBitStream& operator=(const TQvtBitStream&) = delete;

    /// One bit; raises kReadPastEnd when the stream has no byte left for it.
    bool ReadBit();
    /// A plain number; a longer code than needed is accepted.
    std::int32_t ReadNumber();
    /// Up to `count` bytes from the byte after the current one; a short count is
    /// not an error. The rest of the current byte is skipped.
    std::size_t ReadRaw(void* buffer, std::size_t count);
    /// ReadRaw without a copy: the bytes stay in the stream's shared buffer.
    TQvtSharedBytes ReadRawShared(std::size_t count);
    /// Bytes from the next raw position to the end of the stream.
    std::size_t RawRemaining() const noexcept { return m_stream.Size() - m_stream.Position(); }
    /// `count` (at most 64) bits, least significant first, as one number;
    /// raises kReadPastEnd when they run past the end.
    std::uint64_t ReadBitsLsbFirst(unsigned count);

    /// The next `count` (1..32) bits, most significant first in the low bits of
    /// the result, zeros where the stream has ended; nothing is consumed.
    /// `available` receives how many of them really exist.
    std::uint32_t PeekBits(unsigned count, unsigned& available) const noexcept;
    /// Consumes `count` bits that PeekBits reported as available.
    void SkipBits(unsigned count) noexcept;
    /// The number of bits consumed from the start of the stream.
    std::uint64_t BitPosition() const noexcept { return std::uint64_t{m_stream.Position()} * 8 - m_bitsLeft; }
    /// Continues reading at a bit position that BitPosition() gave.
    void SeekBit(std::uint64_t position) noexcept;

    void WriteBit(bool bit);
    /// The magnitude must be below 2^28; a larger one raises.
    void WriteNumber(std::int32_t value);
    /// Flushes the partly written byte, then writes the bytes.
    void WriteRaw(const void* buffer, std::size_t count);
    /// Writes the partly filled byte, if any (its unused bits are 0).
    void Flush();

private:
    TQvtMemoryStream& m_stream;
    std::uint8_t m_writeByte = 0;
    std::uint8_t m_writePosition = 0;
    std::uint8_t m_readByte = 0;
    std::uint8_t m_bitsLeft = 0;
};

inline std::uint32_t TQvtBitStream::PeekBits(unsigned count, unsigned& available) const noexcept
{
    const auto& data = m_stream.Data();
    std::size_t position = m_stream.Position();
    std::uint64_t window = m_readByte & ((1u << m_bitsLeft) - 1);
    unsigned have = m_bitsLeft;
    if (count <= have) {
        available = count;
        return static_cast<std::uint32_t>(window >> (have - count));
    }
    if (position + 4 <= data.size()) {
        // The usual case: four more whole bytes are there.
        const std::uint8_t* p = data.data() + position;
        window = window << 32 | std::uint64_t{p[0]} << 24 | std::uint64_t{p[1]} << 16 | std::uint64_t{p[2]} << 8 | p[3];
        have += 32;
    } else {
        while (have < count && position < data.size()) {
            window = window << 8 | data[position++];
            have += 8;
        }
    }
    available = std::min(have, count);
    if (have >= count)
        return static_cast<std::uint32_t>(window >> (have - count)) & (count == 32 ? ~0u : (1u << count) - 1);
    return static_cast<std::uint32_t>(window << (count - have));
}

inline void TQvtBitStream::SkipBits(unsigned count) noexcept
{
    if (count <= m_bitsLeft) {
        m_bitsLeft = static_cast<std::uint8_t>(m_bitsLeft - count);
        return;
    }
    while (count > 0) {
        if (m_bitsLeft == 0) {
            if (m_stream.Read(&m_readByte, 1) != 1)
                return;
            m_bitsLeft = 8;
        }
        unsigned take = std::min<unsigned>(count, m_bitsLeft);
        m_bitsLeft = static_cast<std::uint8_t>(m_bitsLeft - take);
        count -= take;
    }
}

} // namespace upd::patch
