#include "patch/BitStream.h"

#include <algorithm>
#include <cstring>

#include "base/Exception.h"

namespace upd::patch {

namespace {

// The simple number code: a sign bit, three bits counting nibbles, then that
// many nibbles of magnitude, most significant bit first. Both bit readers use it.
template <class TReader>
std::int32_t ReadSimpleNumber(TReader& bits)
{
    bool negative = bits.ReadBit();
    unsigned nibbles = 0;
    for (int i = 0; i < 3; ++i)
        nibbles = nibbles << 1 | static_cast<unsigned>(bits.ReadBit());
    std::int32_t magnitude = 0;
    for (unsigned i = 0; i < 4 * nibbles; ++i)
        magnitude = magnitude << 1 | static_cast<std::int32_t>(bits.ReadBit());
    return negative ? -magnitude : magnitude;
}

std::uint32_t ReverseBits(std::uint32_t v)
{
    v = (v >> 1 & 0x55555555u) | (v & 0x55555555u) << 1;
    v = (v >> 2 & 0x33333333u) | (v & 0x33333333u) << 2;
    v = (v >> 4 & 0x0F0F0F0Fu) | (v & 0x0F0F0F0Fu) << 4;
    v = (v >> 8 & 0x00FF00FFu) | (v & 0x00FF00FFu) << 8;
    return v >> 16 | v << 16;
}

} // namespace

std::size_t TQvtMemoryStream::Read(void* buffer, std::size_t count)
{
    std::size_t got = std::min(count, m_data->size() - m_position);
    if (got > 0)
        std::memcpy(buffer, m_data->data() + m_position, got);
    m_position += got;
    return got;
}

TQvtSharedBytes TQvtMemoryStream::ReadShared(std::size_t count)
{
    std::size_t got = std::min(count, m_data->size() - m_position);
    TQvtSharedBytes bytes{m_data, m_position, got};
    m_position += got;
    return bytes;
}

void TQvtMemoryStream::Write(const void* buffer, std::size_t count)
{
    if (count == 0)
        return;
    if (m_position + count > m_data->size())
        m_data->resize(m_position + count);
    std::memcpy(m_data->data() + m_position, buffer, count);
    m_position += count;
}

std::vector<std::uint8_t> TQvtMemoryStream::Release()
{
    m_position = 0;
    std::vector<std::uint8_t> data = std::move(*m_data);
    m_data = std::make_shared<std::vector<std::uint8_t>>();
    return data;
}

TQvtBitStream::~TQvtBitStream()
{
    try {
        Flush();
    } catch (...) {
        // Only an out-of-memory can end up here; a destructor must not throw.
    }
}

bool TQvtBitStream::ReadBit()
{
    if (m_bitsLeft == 0) {
        if (m_stream.Read(&m_readByte, 1) != 1)
            throw Exception(TErrorKind::Truncated, kReadPastEnd);
        m_bitsLeft = 8;
    }
    --m_bitsLeft;
    return (m_readByte >> m_bitsLeft) & 1;
}

void TQvtBitReader::ThrowPastEnd() { throw Exception(TErrorKind::Truncated, kReadPastEnd); }

std::int32_t TQvtBitReader::ReadNumber() { return ReadSimpleNumber(*this); }

std::uint64_t TQvtBitReader::ReadBitsLsbFirst(unsigned count)
{
    std::uint64_t value = 0;
    unsigned done = 0;
    while (done < count) {
        unsigned take = std::min(count - done, 32u);
        unsigned available = 0;
        std::uint32_t bits = PeekBits(take, available);
        if (available < take)
            throw Exception(TErrorKind::Truncated, kReadPastEnd);
        SkipBits(take);
        // The first bit read is the least significant: reverse the run.
        value |= std::uint64_t{ReverseBits(bits) >> (32 - take)} << done;
        done += take;
    }
    return value;
}

std::int32_t TQvtBitStream::ReadNumber() { return ReadSimpleNumber(*this); }

std::size_t TQvtBitStream::ReadRaw(void* buffer, std::size_t count)
{
    m_bitsLeft = 0;
    return m_stream.Read(buffer, count);
}

TQvtSharedBytes TQvtBitStream::ReadRawShared(std::size_t count)
{
    m_bitsLeft = 0;
    return m_stream.ReadShared(count);
}

std::uint64_t TQvtBitStream::ReadBitsLsbFirst(unsigned count)
{
    std::uint64_t value = 0;
    for (unsigned i = 0; i < count; ++i)
        if (ReadBit())
            value |= std::uint64_t{1} << i;
    return value;
}

void TQvtBitStream::SeekBit(std::uint64_t position) noexcept
{
    m_stream.Seek(static_cast<std::size_t>(position / 8));
    m_bitsLeft = 0;
    SkipBits(static_cast<unsigned>(position % 8));
}

void TQvtBitStream::WriteBit(bool bit)
{
    if (bit)
        m_writeByte = static_cast<std::uint8_t>(m_writeByte | (0x80 >> m_writePosition));
    if (++m_writePosition == 8) {
        m_stream.Write(&m_writeByte, 1);
        m_writeByte = 0;
        m_writePosition = 0;
    }
}

void TQvtBitStream::WriteNumber(std::int32_t value)
{
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    if (magnitude >= (1u << 28))
        throw Exception(Format("Numarul %d nu poate fi scris in codul simplu", value));
    WriteBit(value < 0);
    unsigned bits = 0;
    while (bits < 32 && (magnitude >> bits) != 0)
        ++bits;
    unsigned nibbles = (bits + 3) / 4;
    for (int i = 2; i >= 0; --i)
        WriteBit((nibbles >> i) & 1);
    for (int i = static_cast<int>(4 * nibbles) - 1; i >= 0; --i)
        WriteBit((magnitude >> i) & 1);
}

void TQvtBitStream::WriteRaw(const void* buffer, std::size_t count)
{
    Flush();
    m_stream.Write(buffer, count);
}

void TQvtBitStream::Flush()
{
    if (m_writePosition == 0)
        return;
    m_stream.Write(&m_writeByte, 1);
    m_writeByte = 0;
    m_writePosition = 0;
}

} // namespace upd::patch
