// The checking pass over a patch image: the header, the four code tables and
// every instruction's code are read and checked before anything is written,
// so that a damaged patch fails here and not halfway through a new file.
//
// Image layout: a header of tagged values (the magic, the version lines, the
// note, the instruction count C); then a bit section: the LengthCodes table as
// plain numbers (a count, then value and weight pairs), the CopyLengths,
// CopyOffsets and DumpLengths tables as length-coded numbers (a plain count,
// then value delta and weight pairs), and C instruction codes alternating
// Copy, Dump, Copy, ...; padding to a byte boundary; then the literal bytes of
// every Dump, back to back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "patch/CodeTables.h"
#include "patch/PatchLimits.h"

namespace upd::patch {

class TQvtInstructionRecord;

/// What the checking pass learns of a patch image.
struct TQvtPatchLayout {
    std::vector<std::string> Versions;
    std::string Note;
    /// Built, ready to decode. With a record, CopyOffsets keeps only what
    /// decoding needs.
    TQvtCodeTables Tables;
    std::int32_t Count = 0;
    /// The first instruction code's bit, and the first literal byte.
    std::uint64_t CodeStart = 0;
    std::size_t LiteralStart = 0;
    /// Literal bytes of all Dumps, and bytes of the new file.
    std::uint64_t Literals = 0;
    std::int64_t OutputSize = 0;

    /// The image bytes the patch uses: up to the end of its last literal.
    std::uint64_t Needed() const noexcept { return LiteralStart + Literals; }
};

/// Checks the `size` bytes at `data`. `whole` tells that they are the whole
/// image; otherwise they are a first part that more bytes may follow, and a
/// fault that more bytes could cure raises as the cut data does ("Stream read
/// error" in the header, kReadPastEnd after it). `path` names the patch in the
/// message of a wrong magic. With `record`, every instruction is also recorded
/// for the record's version. Raises the first fault: "Invalid property value"
/// or "Stream read error" (header), kPatchChanged, kTooManyVersions,
/// kTooManyInstructions, kTableTooLarge, the code tables' errors,
/// kNegativeLength, kNoVersions, kReadPastEnd, kOutputTooLarge. Whether the
/// literal bytes are all there is not checked here (see NameMissingLiterals).
TQvtPatchLayout CheckPatchImage(const std::uint8_t* data, std::size_t size, bool whole, const std::string& path,
                                const TQvtUnPatchLimits& limits, TQvtInstructionRecord* record = nullptr);

/// Whether a fault raised by CheckPatchImage on a first part of an image is
/// one that more bytes may cure.
bool WantsMoreBytes(const Exception& fault);

/// For a checked image of `size` bytes that holds fewer literal bytes than
/// `layout` needs: raises kMissingLiterals naming the first Dump whose bytes
/// run past the end.
[[noreturn]] void NameMissingLiterals(const std::uint8_t* data, std::size_t size, const TQvtPatchLayout& layout);

/// Loading decodes what it has inflated at 64 KB and at each doubling, so a
/// fault that such a first part of the image already shows is the one it
/// reports, before a failure of the stream or of the whole image; and once a
/// part holds all the codes, an image that would need more bytes than the
/// limit allows is refused. Raises that fault, if any, for the `size` bytes an
/// inflating or a check that failed left at `data`.
void RaiseAsLoading(const std::uint8_t* data, std::size_t size, const std::string& path,
                    const TQvtUnPatchLimits& limits);

/// Bytes inflated before loading first tries to decode.
inline constexpr std::size_t kFirstAttempt = 64 * 1024;

} // namespace upd::patch
