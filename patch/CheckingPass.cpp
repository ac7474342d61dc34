#include "patch/CheckingPass.h"

#include <algorithm>

#include "base/TextLines.h"
#include "patch/InstructionRecord.h"
#include "patch/PatchHeader.h"

namespace upd::patch {

namespace {

// A value table: a count, then (value delta, weight) pairs of length-coded
// numbers. Every pair that adds a value takes at least two bits, so a count
// beyond what the remaining bits can hold ends in the end-of-data error before
// anything is reserved for it.
void ReadValueTable(TQvtBitReader& bits, const TQvtHuffmanValueSet& lengthCodes, TQvtHuffmanValueSet& set,
                    std::int64_t maxValues, std::uint64_t totalBits)
{
    std::int32_t count = bits.ReadNumber();
    if (count > maxValues)
        throw Exception(Format(kTableTooLarge, count));
    if (count > 0 && static_cast<std::uint64_t>(count) * 2 > totalBits - bits.BitPosition())
        throw Exception(TErrorKind::Truncated, kReadPastEnd);
    std::int32_t value = ReadLengthCoded(bits, lengthCodes);
    set.Add(value, ReadLengthCoded(bits, lengthCodes));
    for (std::int32_t i = 1; i < count; ++i) {
        value = WrapAdd(value, ReadLengthCoded(bits, lengthCodes));
        set.Add(value, ReadLengthCoded(bits, lengthCodes));
    }
}

// Line breaks end a line; a last line without one counts too.
std::size_t CountLines(const std::string& text)
{
    std::size_t lines = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            ++lines;
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (i + 1 == text.size()) {
            ++lines;
        }
    }
    return lines;
}

// The header's tagged values; returns where the bit section starts.
std::size_t ReadHeader(const std::uint8_t* data, std::size_t size, const std::string& path,
                       const TQvtUnPatchLimits& limits, TQvtPatchLayout& layout)
{
    TQvtTaggedReader header(data, size);
    if (header.ReadText() != kPatchMagic)
        throw Exception(Format(kPatchChanged, path));
    std::string versions = header.ReadText();
    // Counted before they are split: an empty line costs one byte here and a
    // whole string in the list.
    std::size_t lines = CountLines(versions);
    if (lines > static_cast<std::size_t>(limits.MaxVersions))
        throw Exception(Format(kTooManyVersions, static_cast<long long>(lines)));
    layout.Versions = SplitLines(versions);
    layout.Note = header.ReadText();
    layout.Count = header.ReadInteger();
    return header.Position();
}

// The four code tables, built.
void ReadTables(TQvtBitReader& bits, std::uint64_t totalBits, const TQvtUnPatchLimits& limits, bool recording,
                TQvtPatchLayout& layout)
{
    TQvtCodeTables& t = layout.Tables;
    // Symbols are bit counts of 32-bit numbers and their negatives.
    constexpr std::int32_t kMaxLengthCodes = 128;
    std::int32_t pairs = bits.ReadNumber();
    if (pairs > kMaxLengthCodes)
        throw Exception(Format(kTableTooLarge, pairs));
    for (std::int32_t i = 0; i < pairs; ++i) {
        std::int32_t value = bits.ReadNumber();
        t.LengthCodes.Add(value, bits.ReadNumber());
    }
    t.LengthCodes.BuildTree();
    // A table holds the values its instructions use (and the encoder adds an
    // unused one to a table that would have fewer than two); a few more are
    // let through, as they cost next to nothing.
    constexpr std::int64_t kSlack = 64;
    const std::int64_t count = layout.Count;
    const std::int64_t copies = count > 0 ? (count + 1) / 2 : 0;
    const std::int64_t dumps = count > 0 ? count / 2 : 0;
    const std::int64_t maxValues = limits.MaxTableValues;
    const auto versions = std::max<std::int64_t>(static_cast<std::int64_t>(layout.Versions.size()), 1);
    ReadValueTable(bits, t.LengthCodes, t.CopyLengths, std::min(maxValues, copies + kSlack), totalBits);
    ReadValueTable(bits, t.LengthCodes, t.CopyOffsets, std::min(maxValues, copies * versions + kSlack), totalBits);
    ReadValueTable(bits, t.LengthCodes, t.DumpLengths, std::min(maxValues, dumps + kSlack), totalBits);
    t.CopyLengths.BuildTree();
    t.CopyOffsets.BuildTree();
    // By far the largest set; the others are small. A rebuild in one go
    // decodes with it and asks nothing else of it.
    if (recording)
        t.CopyOffsets.KeepOnlyDecoding();
    else
        t.CopyOffsets.ReleaseTree();
    t.DumpLengths.BuildTree();
}

} // namespace

TQvtPatchLayout CheckPatchImage(const std::uint8_t* data, std::size_t size, bool whole, const std::string& path,
                                const TQvtUnPatchLimits& limits, TQvtInstructionRecord* record)
{
    TQvtPatchLayout layout;
    const std::size_t headerEnd = ReadHeader(data, size, path, limits, layout);
    const std::uint64_t totalBits = std::uint64_t{size} * 8;
    // Every instruction takes at least one bit: a count that the whole image
    // cannot hold ends as the data does. (A part of it may still be followed
    // by enough: the tables are read first, and may be refused at once.)
    if (whole && layout.Count > 0 && static_cast<std::uint64_t>(layout.Count) > totalBits - std::uint64_t{headerEnd} * 8)
        throw Exception(TErrorKind::Truncated, kReadPastEnd);
    if (layout.Count > limits.MaxInstructions())
        throw Exception(Format(kTooManyInstructions, layout.Count));
    TQvtBitReader bits(data, size, std::uint64_t{headerEnd} * 8);
    ReadTables(bits, totalBits, limits, record != nullptr, layout);

    // Every instruction once: the lengths are the same for every old version,
    // so the new file's size is known before anything is written. Every
    // instruction takes at least one bit, so a count beyond the bits that
    // remain ends in the end-of-data error without any reservation.
    layout.CodeStart = bits.BitPosition();
    const int versions = static_cast<int>(layout.Versions.size());
    const int version = record ? record->Version() : -1;
    std::uint64_t output = 0;
    for (std::int32_t k = 0; k < layout.Count; ++k) {
        std::int32_t length;
        if (k % 2 == 1) {
            length = ReadDumpCode(layout.Tables, bits);
            layout.Literals += static_cast<std::uint64_t>(length);
            if (record)
                record->PutDump(length);
        } else {
            std::int32_t offset = 0;
            length = ReadCopyCode(layout.Tables, bits, versions, version, offset);
            if (record)
                record->PutCopy(k, offset, length, layout.Literals, output);
        }
        output += static_cast<std::uint64_t>(length);
        if (output > static_cast<std::uint64_t>(limits.MaxOutput))
            throw Exception(Format(kOutputTooLarge, limits.MaxOutput));
    }
    layout.LiteralStart = bits.BytePosition();
    layout.OutputSize = static_cast<std::int64_t>(output);
    return layout;
}

bool WantsMoreBytes(const Exception& fault)
{
    return fault.Kind() == TErrorKind::Truncated;
}

void NameMissingLiterals(const std::uint8_t* data, std::size_t size, const TQvtPatchLayout& layout)
{
    const int versions = static_cast<int>(layout.Versions.size());
    std::uint64_t remaining = size - layout.LiteralStart;
    TQvtBitReader bits(data, size, layout.CodeStart);
    for (std::int32_t k = 1; k < layout.Count; k += 2) {
        std::int32_t offset = 0;
        ReadCopyCode(layout.Tables, bits, versions, -1, offset);
        const std::int32_t length = ReadDumpCode(layout.Tables, bits);
        if (static_cast<std::uint64_t>(length) > remaining)
            throw Exception(Format(kMissingLiterals, length));
        remaining -= static_cast<std::uint64_t>(length);
    }
    // The codes were checked: their lengths add up to more than the image has.
    throw Exception(Format(kMissingLiterals, 0));
}

void RaiseAsLoading(const std::uint8_t* data, std::size_t size, const std::string& path,
                    const TQvtUnPatchLimits& limits)
{
    for (std::size_t at = kFirstAttempt; at <= size; at *= 2) {
        std::uint64_t needed;
        try {
            needed = CheckPatchImage(data, at, false, path, limits).Needed();
        } catch (const Exception& e) {
            if (!WantsMoreBytes(e))
                throw;
            continue;
        }
        if (needed > static_cast<std::uint64_t>(limits.MaxImage()))
            throw Exception(Format(kImageTooLarge, limits.MaxImage()));
        return;
    }
}

} // namespace upd::patch
