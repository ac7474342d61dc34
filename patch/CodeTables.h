// The four code tables of a patch and the numbers coded with them.
//
// A length-coded number is a LengthCodes symbol L, then |L| raw bits, least
// significant first, negated for a negative L. A Copy's code is its length
// (CopyLengths), then its offsets (CopyOffsets) in one of three layouts by
// the version count V:
//   V = 1: one offset;
//   V = 2: a bit; 1: one offset for both, 0: two offsets;
//   V >= 3: a bit; 0: V offsets; 1 then 1: one offset for all; 1 then 0: two
//           offsets, then V bits, 1 where a version takes the first.
// A Dump's code is its length (DumpLengths).
#pragma once

#include <cstdint>

#include "patch/BitStream.h"
#include "patch/Huffman.h"

namespace upd::patch {

/// The value sets a patch's instructions are coded with. The encoder fills and
/// builds them; the checking pass reads and builds them from the image.
struct TQvtCodeTables {
    TQvtHuffmanValueSet CopyLengths;
    TQvtHuffmanValueSet CopyOffsets;
    TQvtHuffmanValueSet DumpLengths;
    TQvtHuffmanValueSet LengthCodes;

    /// Whether any of the four has been built (they then refuse more values).
    bool AnyBuilt() const noexcept
    {
        return LengthCodes.IsBuilt() || CopyLengths.IsBuilt() || CopyOffsets.IsBuilt() || DumpLengths.IsBuilt();
    }
};

/// Reads a length-coded number; bits of weight 2^32 and above drop out, as in
/// 32-bit arithmetic. Raises kReadPastEnd when the bits run out.
std::int32_t ReadLengthCoded(TQvtBitStream& bits, const TQvtHuffmanValueSet& lengthCodes);
std::int32_t ReadLengthCoded(TQvtBitReader& bits, const TQvtHuffmanValueSet& lengthCodes);
void WriteLengthCoded(TQvtBitStream& bits, const TQvtHuffmanValueSet& lengthCodes, std::int32_t value);
/// The shortest symbol for a value: +/- its number of significant bits.
std::int32_t LengthSymbol(std::int32_t value);

/// The hot loops' decoding of one Copy's code straight from the image, without
/// an instruction object; the checks and their order are those of
/// TQvtUnPatchCopyInstruction::ReadCoded. Returns the length and sets `offset`
/// to the offset of old version `version` (none is kept for a negative one).
/// Raises kNegativeLength, kNoVersions (for `versions` <= 0) or kReadPastEnd.
std::int32_t ReadCopyCode(const TQvtCodeTables& tables, TQvtBitReader& bits, int versions, int version,
                          std::int32_t& offset);
/// One Dump's code: its length; raises kNegativeLength or kReadPastEnd.
std::int32_t ReadDumpCode(const TQvtCodeTables& tables, TQvtBitReader& bits);

} // namespace upd::patch
