#include "patch/CodeTables.h"

#include <algorithm>

#include "base/Exception.h"
#include "patch/PatchLimits.h"

namespace upd::patch {

namespace {

template <class TBits>
std::int32_t ReadLengthCodedFrom(TBits& bits, const TQvtHuffmanValueSet& lengthCodes)
{
    std::int32_t symbol = lengthCodes.Decode(bits);
    std::uint32_t count = symbol < 0 ? 0u - static_cast<std::uint32_t>(symbol) : static_cast<std::uint32_t>(symbol);
    // Bits of weight 2^32 and above drop out, as in 32-bit arithmetic.
    std::uint32_t magnitude = static_cast<std::uint32_t>(bits.ReadBitsLsbFirst(std::min<std::uint32_t>(count, 32)));
    for (std::uint32_t i = 32; i < count; ++i)
        bits.ReadBit();
    return static_cast<std::int32_t>(symbol < 0 ? 0u - magnitude : magnitude);
}

} // namespace

std::int32_t LengthSymbol(std::int32_t value)
{
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    std::int32_t bits = 0;
    while (bits < 32 && (magnitude >> bits) != 0)
        ++bits;
    return value < 0 ? -bits : bits;
}

std::int32_t ReadLengthCoded(TQvtBitStream& bits, const TQvtHuffmanValueSet& lengthCodes)
{
    return ReadLengthCodedFrom(bits, lengthCodes);
}

std::int32_t ReadLengthCoded(TQvtBitReader& bits, const TQvtHuffmanValueSet& lengthCodes)
{
    return ReadLengthCodedFrom(bits, lengthCodes);
}

void WriteLengthCoded(TQvtBitStream& bits, const TQvtHuffmanValueSet& lengthCodes, std::int32_t value)
{
    std::int32_t symbol = LengthSymbol(value);
    lengthCodes.WriteCode(bits, symbol);
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    for (std::int32_t i = 0; i < (symbol < 0 ? -symbol : symbol); ++i)
        bits.WriteBit((magnitude >> i) & 1);
}

std::int32_t ReadCopyCode(const TQvtCodeTables& tables, TQvtBitReader& bits, int versions, int version,
                          std::int32_t& offset)
{
    std::int32_t length = tables.CopyLengths.Decode(bits);
    if (length < 0)
        throw Exception(Format(kNegativeLength, length));
    if (versions <= 0)
        throw Exception(kNoVersions);
    const TQvtHuffmanValueSet& offsets = tables.CopyOffsets;
    if (versions == 1 || (versions == 2 && bits.ReadBit())) {
        offset = offsets.Decode(bits);
    } else if (versions == 2) {
        std::int32_t first = offsets.Decode(bits);
        std::int32_t second = offsets.Decode(bits);
        offset = version == 0 ? first : second;
    } else if (!bits.ReadBit()) {
        for (int v = 0; v < versions; ++v) {
            std::int32_t value = offsets.Decode(bits);
            if (v == version)
                offset = value;
        }
    } else if (bits.ReadBit()) {
        offset = offsets.Decode(bits);
    } else {
        std::int32_t first = offsets.Decode(bits);
        std::int32_t second = offsets.Decode(bits);
        for (int v = 0; v < versions; ++v) {
            bool takesFirst = bits.ReadBit();
            if (v == version)
                offset = takesFirst ? first : second;
        }
    }
    return length;
}

std::int32_t ReadDumpCode(const TQvtCodeTables& tables, TQvtBitReader& bits)
{
    std::int32_t length = tables.DumpLengths.Decode(bits);
    if (length < 0)
        throw Exception(Format(kNegativeLength, length));
    return length;
}

} // namespace upd::patch
