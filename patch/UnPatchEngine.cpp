#include "patch/UnPatchEngine.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#ifdef UPD_HAVE_ISAL
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#ifdef __linux__
#include <pthread.h>
#include <sched.h>
#endif
#endif

#include <zlib.h>
#ifdef UPD_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include "base/Exception.h"
#include "base/File.h"
#include "base/Memory.h"
#include "patch/PatchHeader.h"

namespace upd::patch {

// ---- Engine --------------------------------------------------------------

namespace {

// The hot loops decode the instruction codes straight from the image with the
// fast reader, without instruction objects; the checks and their order are
// those of the instructions' ReadCoded. `version` < 0 keeps no offset.
std::int32_t ReadCopy(const TQvtUnPatchEngine& engine, TQvtBitReader& bits, int versions, int version,
                      std::int32_t& offset)
{
    std::int32_t length = engine.CopyLengths.Decode(bits);
    if (length < 0)
        throw Exception(Format(kNegativeLength, length));
    if (versions <= 0)
        throw Exception(kNoVersions);
    const TQvtHuffmanValueSet& offsets = engine.CopyOffsets;
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

std::int32_t ReadDump(const TQvtUnPatchEngine& engine, TQvtBitReader& bits)
{
    std::int32_t length = engine.DumpLengths.Decode(bits);
    if (length < 0)
        throw Exception(Format(kNegativeLength, length));
    return length;
}

} // namespace

struct TQvtUnPatchEngine::TCursor {
    TCursor(std::shared_ptr<std::vector<std::uint8_t>> image, int versions)
        : stream(std::move(image)), bits(stream), copy(versions)
    {
    }
    TQvtMemoryStream stream;
    TQvtBitStream bits;
    TQvtUnPatchCopyInstruction copy;
    TQvtUnPatchDumpInstruction dump;
    std::int32_t next = 0;      // the index of the instruction decoded next
    std::uint64_t literal = 0;  // where the next Dump's bytes start in the literal section
};

TQvtUnPatchEngine::TQvtUnPatchEngine() = default;

TQvtUnPatchEngine::~TQvtUnPatchEngine() = default;

int TQvtUnPatchEngine::Count() const noexcept
{
    return m_loaded ? m_count : static_cast<int>(m_instructions.size());
}

void TQvtUnPatchEngine::Rewind(TCursor& cursor) const
{
    cursor.bits.SeekBit(m_codeStart);
    cursor.next = 0;
    cursor.literal = 0;
}

const TQvtUnPatchInstruction& TQvtUnPatchEngine::Next(TCursor& cursor) const
{
    bool copy = cursor.next % 2 == 0;
    ++cursor.next;
    if (copy) {
        cursor.copy.ReadCoded(cursor.bits, *this);
        return cursor.copy;
    }
    cursor.dump.ReadCoded(cursor.bits, *this);
    std::size_t length = static_cast<std::size_t>(cursor.dump.Length());
    if (m_literalStart != 0 && length > 0) {
        cursor.dump.TakeBytes(TQvtSharedBytes{m_image, m_literalStart + cursor.literal, length});
        cursor.literal += length;
    }
    return cursor.dump;
}

const TQvtUnPatchInstruction& TQvtUnPatchEngine::Instructions(int index) const
{
    if (index < 0 || index >= Count())
        RaiseListIndexError(index);
    if (!m_loaded)
        return *m_instructions[static_cast<std::size_t>(index)];
    if (!m_cursor) {
        m_cursor = std::make_unique<TCursor>(m_image, VersionCount());
        Rewind(*m_cursor);
    }
    if (m_cursor->next > index)
        Rewind(*m_cursor);
    while (m_cursor->next < index)
        Next(*m_cursor);
    return Next(*m_cursor);
}

void TQvtUnPatchEngine::Add(std::unique_ptr<TQvtUnPatchInstruction> instruction)
{
    m_instructions.push_back(std::move(instruction));
}

void TQvtUnPatchEngine::CheckVersionIndex(int versionIndex) const
{
    if (Versions.empty())
        throw Exception(kNoVersions);
    if (versionIndex < 0 || versionIndex >= VersionCount())
        throw Exception(Format(kBadVersionIndex, versionIndex));
}

void TQvtUnPatchEngine::Apply(TQvtPatchOutput& output, TQvtPatchSource& old, int versionIndex) const
{
    CheckVersionIndex(versionIndex);
    std::int32_t position = 0;
    if (!m_loaded) {
        for (const auto& instruction : m_instructions)
            instruction->Apply(output, old, versionIndex, position);
        return;
    }
    ApplyCodes(m_image->data(), m_image->size(), m_codeStart, m_literalStart, m_count, output, old, versionIndex,
               nullptr);
}

// An image that a second thread is still inflating.
class TQvtImageAhead {
public:
    /// Waits until `bytes` bytes are inflated, or no more will come: returns
    /// the bytes inflated by then. `whole` tells that the image is complete
    /// (the count is its size); `failed` that it will not be (the stream
    /// failed, or the buffer must grow while it is read).
    virtual std::size_t WaitFor(std::size_t bytes, bool& whole, bool& failed) = 0;
    /// Whether `bytes` bytes are inflated, or no more will come, now.
    virtual bool Has(std::size_t bytes) const noexcept = 0;

protected:
    ~TQvtImageAhead() = default;
};

namespace {

// What one decoding step may read past the byte it starts at: a code or a
// raw number of up to 64 bits, and the 16 bytes that the fast reader looks
// ahead.
constexpr std::size_t kStepBytes = 32;

// Decoding alongside inflating is given up (to decode again once the image is
// whole, and give that verdict).
struct TDecodeLater {};

// Decode's view of the bytes it may read: all of them, or those of an image
// still being inflated, waited for as decoding comes to them.
class TWaitBytes {
public:
    explicit TWaitBytes(TQvtImageAhead* ahead) noexcept : m_ahead(ahead), m_ready(ahead ? 0 : SIZE_MAX) {}
    /// Returns once the bytes before `end` are there or the image has ended
    /// before them: bits past its end are refused when the image is whole.
    /// Raises TDecodeLater when they will not come.
    void Need(std::uint64_t end)
    {
        if (end <= m_ready)
            return;
        bool whole = false, failed = false;
        m_known = m_ahead->WaitFor(static_cast<std::size_t>(std::min<std::uint64_t>(end, SIZE_MAX)), whole, failed);
        if (failed && m_known < end)
            throw TDecodeLater{};
        m_ready = whole ? SIZE_MAX : m_known;
    }
    /// Bytes known to be inflated (the whole image once it has ended).
    std::size_t Known(std::size_t size) const noexcept { return m_ahead ? m_known : size; }
    /// Returns once the bytes before `end` are there; raises TDecodeLater
    /// when they will not come (not even past the image's end).
    void NeedAll(std::uint64_t end)
    {
        if (end <= m_known)
            return;
        Need(end);
        if (m_known < end)
            throw TDecodeLater{};
    }

private:
    TQvtImageAhead* m_ahead;
    std::size_t m_ready;
    std::size_t m_known = 0;
};

// Literal bytes already written are given back in steps of this size when the
// image is not needed again.
constexpr std::size_t kDiscardStep = 256 * 1024;

// Progress is told in steps of this many instructions.
constexpr std::int32_t kProgressStep = 4096;

// The checking pass marks a place to start writing at every this many
// instructions (a Copy, as the number is even): finding where a half starts
// then reads the numbers of fewer than this many.
constexpr std::int32_t kMarkStep = 16384;

// Where the apply loop starts: at a Copy, with the source position the
// instructions before it left.
struct TApplyFrom {
    std::int32_t first = 0;
    std::int32_t position = 0;
};

// The apply loop over the instructions from `from` to `end` that `next` hands
// out (length, and for a Copy the offset of the version applied), whatever
// decoded them; `tell(k)` hears of every kProgressStep-th instruction reached.
template <class TNext, class TLiteralsReady, class TTell>
void ApplyEach(TApplyFrom from, std::int32_t end, TNext&& next, const std::uint8_t* literal,
               TQvtPatchOutput& output, TQvtPatchSource& old, bool discardLiterals, TLiteralsReady&& ready,
               TTell&& tell)
{
    const std::uint8_t* kept = literal; // literal bytes before this one are no longer needed
    const std::int64_t oldSize = old.Size();
    std::int32_t position = from.position;
    for (std::int32_t k = from.first; k < end; ++k) {
        if (k % kProgressStep == 0 && k > from.first)
            tell(k);
        std::int32_t offset = 0;
        const std::int32_t length = next(k, offset);
        if (k % 2 == 1) {
            if (length > 0) {
                ready(literal + length);
                output.Write(literal, static_cast<std::size_t>(length));
                literal += length;
                if (discardLiterals && static_cast<std::size_t>(literal - kept) >= kDiscardStep) {
                    const auto bytes = static_cast<std::size_t>(literal - kept);
                    if (DiscardPages(const_cast<std::uint8_t*>(kept), bytes))
                        old.MayUseMore(bytes);
                    kept = literal;
                }
            }
            continue;
        }
        std::int64_t start = static_cast<std::int64_t>(position) + offset;
        if (length == 0) {
            // No run to read: only the position moves, wherever it lands.
            position = WrapAdd(position, offset);
            continue;
        }
        if (start < 0 || start > INT32_MAX || start + length > oldSize)
            throw Exception(Format(kOutsideOld, start));
        position = static_cast<std::int32_t>(start);
        old.CopyTo(start, static_cast<std::size_t>(length), output);
    }
}

// A place where writing can start: a Copy, with the instructions before it
// summed up.
struct TStartMark {
    TApplyFrom from;
    std::size_t at;         // its first recorded number, from the first one
    std::uint64_t literals; // literal bytes before it
    std::uint64_t written;  // bytes of the new file before it
};

// Reads back, in order, the numbers that the checking pass recorded.
struct TRecordReader {
    std::uint32_t Get()
    {
        std::uint32_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            const std::uint8_t byte = *at++;
            value |= std::uint32_t{byte & 0x7Fu} << shift;
            if (byte < 0x80)
                return value;
        }
    }
    std::int32_t GetSigned()
    {
        const std::uint32_t zigzag = Get();
        return static_cast<std::int32_t>((zigzag >> 1) ^ (0u - (zigzag & 1)));
    }
    const std::uint8_t* at;
};

// Applies the instructions from `from` to `end` from the numbers the checking
// pass recorded for them (at `numbers`), with the literal bytes from `literal`
// on. `discardLiterals` gives the literal bytes and the numbers back once
// used; with `ahead`, each literal byte is waited for until inflated.
template <class TTell>
void ApplyRecorded(const std::uint8_t* numbers, TApplyFrom from, std::int32_t end, const std::uint8_t* image,
                   const std::uint8_t* literal, TQvtPatchOutput& output, TQvtPatchSource& old, bool discardLiterals,
                   TQvtImageAhead* ahead, TTell&& tell)
{
    TRecordReader reader{numbers};
    const std::uint8_t* kept = reader.at; // bytes before this one are no longer needed
    auto next = [&](std::int32_t k, std::int32_t& offset) {
        if (discardLiterals && static_cast<std::size_t>(reader.at - kept) >= kDiscardStep) {
            DiscardPages(const_cast<std::uint8_t*>(kept), static_cast<std::size_t>(reader.at - kept));
            kept = reader.at;
        }
        if (k % 2 == 0)
            offset = reader.GetSigned();
        return static_cast<std::int32_t>(reader.Get());
    };
    TWaitBytes wait(ahead);
    auto ready = [&](const std::uint8_t* stop) {
        if (ahead)
            wait.NeedAll(static_cast<std::uint64_t>(stop - image));
    };
    ApplyEach(from, end, next, literal, output, old, discardLiterals, ready, tell);
}

} // namespace

// What the checking pass keeps of each instruction for one old version: a
// Copy's offset (zigzag) and length, a Dump's length, as base-128 numbers.
// Applying from these skips decoding every code a second time; they are kept
// only while they cost less than a third of the image (or 1 MB), else the
// codes are decoded again.
struct TQvtUnPatchEngine::TRecorded {
    TRecorded(int version, std::size_t imageSize)
        : version(version), limit(LimitFor(imageSize))
    {
        // Room that is never written costs no memory, and the bytes never move.
        bytes.reserve(limit);
    }
    void Put(std::uint32_t number)
    {
        if (full)
            return;
        if (bytes.size() + 5 > limit) {
            full = true;
            std::vector<std::uint8_t>().swap(bytes);
            return;
        }
        while (number >= 0x80) {
            bytes.push_back(static_cast<std::uint8_t>(number | 0x80));
            number >>= 7;
        }
        bytes.push_back(static_cast<std::uint8_t>(number));
    }
    /// A signed number, zigzag: small magnitudes of either sign stay short.
    void PutSigned(std::int32_t number)
    {
        const auto value = static_cast<std::uint32_t>(number);
        Put(value << 1 ^ (0u - (value >> 31)));
    }
    static std::size_t LimitFor(std::size_t imageSize)
    {
        return std::max<std::size_t>(imageSize / 3, std::size_t{1} << 20);
    }
    /// Called for every Copy before its numbers are put: every kMarkStep-th
    /// instruction is marked, and the source position follows the Copies as
    /// the apply loop moves it (a run outside the old file stops the writing
    /// there, so what it would leave does not matter).
    void AtCopy(std::int32_t k, std::int32_t offset, std::uint64_t literals, std::uint64_t written)
    {
        if (k % kMarkStep == 0 && !full)
            marks.push_back({{k, position}, bytes.size(), literals, written});
        position = WrapAdd(position, offset);
    }
    bool Usable() const noexcept { return version >= 0 && !full; }
    /// Keeps the instructions only if they cost no more than an image of
    /// `imageSize` bytes allows.
    void Fit(std::size_t imageSize)
    {
        if (!full && bytes.size() + 5 > LimitFor(imageSize)) {
            full = true;
            std::vector<std::uint8_t>().swap(bytes);
        }
    }

    int version;
    std::size_t limit;
    bool full = false;
    std::vector<std::uint8_t> bytes;
    std::vector<TStartMark> marks;
    std::int32_t position = 0; // before the next Copy, for the version kept
};

void TQvtUnPatchEngine::ApplyCodes(const std::uint8_t* image, std::size_t size, std::uint64_t codeStart,
                                   std::size_t literalStart, std::int32_t count, TQvtPatchOutput& output,
                                   TQvtPatchSource& old, int versionIndex, TQvtUnPatchProgress* progress) const
{
    const int versions = VersionCount();
    TQvtBitReader bits(image, size, codeStart);
    auto next = [&](std::int32_t k, std::int32_t& offset) {
        return k % 2 == 1 ? ReadDump(*this, bits) : ReadCopy(*this, bits, versions, versionIndex, offset);
    };
    auto tell = [&](std::int32_t k) {
        if (progress)
            progress->Applied(k, count);
    };
    ApplyEach(TApplyFrom{}, count, next, image + literalStart, output, old, false, [](const std::uint8_t*) {}, tell);
    tell(count);
}

namespace {

// Bytes inflated before the first attempt to decode; the attempts then come
// each time the image has doubled, so decoding costs at most twice the image.
constexpr std::size_t kFirstAttempt = 64 * 1024;

// The bytes a decoding alongside inflating waits for before it reads the
// header (a few hundred bytes in every patch made so far).
constexpr std::size_t kFirstHeaderBytes = 4 * 1024;

// A value table: a count, then (value delta, weight) pairs of length-coded
// numbers. Every pair that adds a value takes at least two bits, so a count
// beyond what the remaining bits can hold ends in the end-of-data error before
// anything is reserved for it.
template <class TWait>
void ReadValueTable(TQvtBitReader& bits, const TQvtHuffmanValueSet& lengthCodes, TQvtHuffmanValueSet& set,
                    std::int64_t maxValues, std::uint64_t totalBits, TWait& wait)
{
    wait.Need(bits.BytePosition() + kStepBytes);
    std::int32_t count = bits.ReadNumber();
    if (count > maxValues)
        throw Exception(Format(kTableTooLarge, count));
    if (count > 0 && static_cast<std::uint64_t>(count) * 2 > totalBits - bits.BitPosition())
        throw Exception(kReadPastEnd);
    wait.Need(bits.BytePosition() + 2 * kStepBytes);
    std::int32_t value = ReadLengthCoded(bits, lengthCodes);
    set.Add(value, ReadLengthCoded(bits, lengthCodes));
    for (std::int32_t i = 1; i < count; ++i) {
        wait.Need(bits.BytePosition() + 2 * kStepBytes);
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

// A prefix of an image that ends in the middle of the header or the codes
// reads past its end; more inflated bytes may cure that.
bool WantsMoreBytes(const Exception& e)
{
    return e.Message() == kReadPastEnd || e.Message() == "Stream read error";
}

} // namespace

struct TQvtUnPatchEngine::TDecoded {
    std::vector<std::string> versions;
    std::string note;
    TQvtHuffmanValueSet copyLengths;
    TQvtHuffmanValueSet copyOffsets;
    TQvtHuffmanValueSet dumpLengths;
    TQvtHuffmanValueSet lengthCodes;
    std::int32_t count = 0;
    std::uint64_t codeStart = 0;
    std::size_t literalStart = 0;
    std::uint64_t literals = 0;
    std::int64_t outputSize = 0;

    /// The image bytes the patch uses: up to the end of its last literal.
    std::uint64_t Needed() const noexcept { return literalStart + literals; }
};

TQvtUnPatchEngine::TDecoded TQvtUnPatchEngine::Decode(const std::uint8_t* data, std::size_t size,
                                                      const std::shared_ptr<std::vector<std::uint8_t>>& image,
                                                      const std::string& path, const TQvtUnPatchLimits& limits,
                                                      TRecorded* recorded, bool whole, TQvtImageAhead* ahead)
{
    TWaitBytes wait(ahead);
    const bool complete = image != nullptr || whole;
    TDecoded d;
    std::size_t headerEnd;
    // Decoding starts on the image's first few KB; a header longer than what
    // has been inflated is read again once twice as many bytes are there.
    for (std::size_t headerBytes = kFirstHeaderBytes;; headerBytes *= 2) {
        wait.Need(headerBytes);
        try {
            TQvtTaggedReader header(data, std::min(size, wait.Known(size)));
            if (header.ReadText() != kPatchMagic)
                throw Exception(Format("Fisierul \"%s\" a fost modificat si nu mai poate fi utilizat.", path));
            std::string versions = header.ReadText();
            // Counted before they are split: an empty line costs one byte here
            // and a whole string in the list.
            std::size_t lines = CountLines(versions);
            if (lines > static_cast<std::size_t>(limits.MaxVersions))
                throw Exception(Format(kTooManyVersions, static_cast<long long>(lines)));
            d.versions = SplitLines(versions);
            d.note = header.ReadText();
            d.count = header.ReadInteger();
            headerEnd = header.Position();
            break;
        } catch (const Exception& e) {
            // The image ended before: the header is cut short for good.
            if (!ahead || !WantsMoreBytes(e) || wait.Known(size) < headerBytes)
                throw;
        }
    }
    const std::uint64_t totalBits = std::uint64_t{size} * 8;
    // Every instruction takes at least one bit: a count that the whole image
    // cannot hold ends as the data does. (A part of it may still be followed
    // by enough: the tables are read first, and may be refused at once.)
    if (complete && d.count > 0 && static_cast<std::uint64_t>(d.count) > totalBits - std::uint64_t{headerEnd} * 8)
        throw Exception(kReadPastEnd);
    if (d.count > limits.MaxInstructions())
        throw Exception(Format(kTooManyInstructions, d.count));
    TQvtBitReader bits(data, size, std::uint64_t{headerEnd} * 8);

    // Symbols are bit counts of 32-bit numbers and their negatives.
    constexpr std::int32_t kMaxLengthCodes = 128;
    wait.Need(bits.BytePosition() + kStepBytes);
    std::int32_t pairs = bits.ReadNumber();
    if (pairs > kMaxLengthCodes)
        throw Exception(Format(kTableTooLarge, pairs));
    for (std::int32_t i = 0; i < pairs; ++i) {
        wait.Need(bits.BytePosition() + 2 * kStepBytes);
        std::int32_t value = bits.ReadNumber();
        // A symbol of more raw bits than a number has (no encoder writes
        // one) would read past what was waited for.
        if (ahead && (value > 64 || value < -64))
            throw TDecodeLater{};
        d.lengthCodes.Add(value, bits.ReadNumber());
    }
    d.lengthCodes.BuildTree();
    // A table holds the values its instructions use (and the encoder adds an
    // unused one to a table that would have fewer than two); a few more are
    // let through, as they cost next to nothing.
    constexpr std::int64_t kSlack = 64;
    const std::int64_t copies = d.count > 0 ? (std::int64_t{d.count} + 1) / 2 : 0;
    const std::int64_t dumps = d.count > 0 ? std::int64_t{d.count} / 2 : 0;
    const std::int64_t maxValues = limits.MaxTableValues;
    const std::int64_t versionCount = static_cast<std::int64_t>(d.versions.size());
    ReadValueTable(bits, d.lengthCodes, d.copyLengths, std::min(maxValues, copies + kSlack), totalBits, wait);
    ReadValueTable(bits, d.lengthCodes, d.copyOffsets, std::min(maxValues, copies * std::max<std::int64_t>(versionCount, 1) + kSlack),
                   totalBits, wait);
    ReadValueTable(bits, d.lengthCodes, d.dumpLengths, std::min(maxValues, dumps + kSlack), totalBits, wait);
    d.copyLengths.BuildTree();
    d.copyOffsets.BuildTree();
    // By far the largest set; the others are small. A rebuild in one go
    // decodes with it and asks nothing else of it.
    if (recorded)
        d.copyOffsets.KeepOnlyDecoding();
    else
        d.copyOffsets.ReleaseTree();
    d.dumpLengths.BuildTree();

    // Decode every instruction once now, so that a damaged patch fails here
    // and not halfway through writing a file. The lengths are the same for
    // every old version, so the new file's size is known before anything is
    // written. Every instruction takes at least one bit, so a count beyond
    // the bits that remain ends in the end-of-data error without any
    // reservation.
    TQvtUnPatchEngine sets; // the decoding helpers read the sets through an engine
    sets.CopyLengths = std::move(d.copyLengths);
    sets.CopyOffsets = std::move(d.copyOffsets);
    sets.DumpLengths = std::move(d.dumpLengths);
    d.codeStart = bits.BitPosition();
    const int versions = static_cast<int>(d.versions.size());
    std::uint64_t output = 0;
    // A Copy reads a code for its length and at most one per version, and
    // fewer flag bits than codes.
    const std::uint64_t stepBytes = kStepBytes * (std::uint64_t{d.versions.size()} + 3);
    for (std::int32_t k = 0; k < d.count; ++k) {
        wait.Need(bits.BytePosition() + stepBytes);
        std::int32_t length;
        if (k % 2 == 1) {
            length = ReadDump(sets, bits);
            d.literals += static_cast<std::uint64_t>(length);
        } else {
            std::int32_t offset = 0;
            length = ReadCopy(sets, bits, versions, recorded ? recorded->version : -1, offset);
            if (recorded) {
                recorded->AtCopy(k, offset, d.literals, output);
                recorded->PutSigned(offset);
            }
        }
        if (recorded)
            recorded->Put(static_cast<std::uint32_t>(length));
        output += static_cast<std::uint64_t>(length);
        if (output > static_cast<std::uint64_t>(limits.MaxOutput))
            throw Exception(Format(kOutputTooLarge, limits.MaxOutput));
    }
    d.copyLengths = std::move(sets.CopyLengths);
    d.copyOffsets = std::move(sets.CopyOffsets);
    d.dumpLengths = std::move(sets.DumpLengths);
    d.literalStart = bits.BytePosition();
    d.outputSize = static_cast<std::int64_t>(output);
    if (image && d.Needed() > size) {
        // Name the first Dump whose bytes run past the end.
        TQvtUnPatchEngine probe;
        probe.Versions = d.versions;
        probe.CopyLengths = std::move(d.copyLengths);
        probe.CopyOffsets = std::move(d.copyOffsets);
        probe.DumpLengths = std::move(d.dumpLengths);
        probe.m_image = image;
        probe.m_codeStart = d.codeStart;
        probe.m_literalStart = 0; // no bytes taken: only the lengths count here
        TCursor cursor(image, versions);
        probe.Rewind(cursor);
        const std::uint64_t remaining = size - d.literalStart;
        std::uint64_t used = 0;
        for (std::int32_t k = 0; k < d.count; ++k) {
            const auto& instruction = probe.Next(cursor);
            if (k % 2 == 1 && (used += static_cast<std::uint64_t>(instruction.Length())) > remaining)
                throw Exception(Format(kMissingLiterals, instruction.Length()));
        }
    }
    return d;
}

void TQvtUnPatchEngine::RefuseSecondLoad() const
{
    // One engine serves one patch: its sets are built once and refuse more
    // values. The refusal comes after the new patch was decoded aside, so
    // that nothing of the loaded one changes.
    if (LengthCodes.IsBuilt() || CopyLengths.IsBuilt() || CopyOffsets.IsBuilt() || DumpLengths.IsBuilt())
        throw Exception("Adaugi valori dupa ce ai construit reprezentarea arborescenta");
}

void TQvtUnPatchEngine::Commit(TDecoded&& d, std::shared_ptr<std::vector<std::uint8_t>> image) noexcept
{
    Versions = std::move(d.versions);
    Note = std::move(d.note);
    CopyLengths = std::move(d.copyLengths);
    CopyOffsets = std::move(d.copyOffsets);
    DumpLengths = std::move(d.dumpLengths);
    LengthCodes = std::move(d.lengthCodes);
    m_instructions.clear();
    m_image = std::move(image);
    m_count = d.count < 0 ? 0 : d.count;
    m_codeStart = d.codeStart;
    m_literalStart = d.literalStart;
    m_outputSize = d.outputSize;
    m_loaded = true;
    m_cursor.reset();
}

void TQvtUnPatchEngine::LoadFromImage(std::vector<std::uint8_t> image, const std::string& path,
                                      const TQvtUnPatchLimits& limits)
{
    if (static_cast<std::int64_t>(image.size()) > limits.MaxImage())
        throw Exception(Format(kImageTooLarge, limits.MaxImage()));
    auto shared = std::make_shared<std::vector<std::uint8_t>>(std::move(image));
    TDecoded decoded = Decode(shared->data(), shared->size(), shared, path, limits);
    RefuseSecondLoad();
    Commit(std::move(decoded), std::move(shared));
}

// ---- Inflating -----------------------------------------------------------

namespace {

// A zlib stream being inflated, with the checks every reader of a patch image
// makes at each step.
class TZlibInflation {
public:
    TZlibInflation()
    {
        std::memset(&m_zs, 0, sizeof m_zs);
        if (inflateInit(&m_zs) != Z_OK)
            throw Exception("Error");
    }
    ~TZlibInflation() { inflateEnd(&m_zs); }
    TZlibInflation(const TZlibInflation&) = delete;
    TZlibInflation& operator=(const TZlibInflation&) = delete;

    /// The next block of input, once the last one is used up.
    void Input(const std::uint8_t* data, std::size_t size)
    {
        m_zs.next_in = const_cast<Bytef*>(data);
        m_zs.avail_in = static_cast<uInt>(size);
    }
    bool InputUsed() const noexcept { return m_zs.avail_in == 0; }

    /// Inflates into at most `room` bytes at `out` and returns how many it
    /// made, counted into `total`: an image past `maxSize` is refused, damaged
    /// data (or input that makes no progress) raises "Error". `ended` tells
    /// whether the stream has ended. `kept` (if given) counts the bytes made
    /// even when the step raises, so that they can still be looked at.
    std::size_t Step(std::uint8_t* out, std::size_t room, std::uint64_t& total, std::size_t maxSize, bool& ended,
                     std::size_t* kept = nullptr)
    {
        room = std::min<std::size_t>(room, UINT32_MAX);
        m_zs.next_out = out;
        m_zs.avail_out = static_cast<uInt>(room);
        uInt before = m_zs.avail_in;
        int rc = inflate(&m_zs, Z_NO_FLUSH);
        std::size_t made = room - m_zs.avail_out;
        total += made;
        if (kept)
            *kept += made;
        if (total > maxSize)
            throw Exception(Format(kImageTooLarge, static_cast<long long>(maxSize)));
        ended = rc == Z_STREAM_END;
        if (!ended && rc != Z_OK && rc != Z_BUF_ERROR)
            throw Exception("Error");
        if (!ended && made == 0 && m_zs.avail_in == before)
            throw Exception("Error"); // no progress: never spin on it
        return made;
    }

private:
    z_stream m_zs;
};

class TInflater {
public:
    explicit TInflater(std::size_t maxSize) : m_maxSize(maxSize) {}

    /// The next block of input, once the last one is used up.
    void Input(const std::uint8_t* data, std::size_t size) { m_zs.Input(data, size); }
    bool InputUsed() const noexcept { return m_zs.InputUsed(); }

    /// Inflates until the input is used up or `pauseAt` bytes are kept;
    /// false once the stream has ended.
    bool Run(std::size_t pauseAt = SIZE_MAX)
    {
        while (!m_zs.InputUsed()) {
            if (m_used >= pauseAt && m_used < m_keep)
                return true;
            // Bytes past what is kept still pass through (zlib checks them),
            // into a scratch block that is written over again and again.
            std::uint8_t* out;
            std::size_t room;
            if (m_used < m_keep) {
                if (m_used == m_image.size())
                    m_image.resize(std::min(m_keep, std::max<std::size_t>(2 * m_image.size(), kChunkSize)));
                out = m_image.data() + m_used;
                room = std::min(m_image.size(), pauseAt == SIZE_MAX ? SIZE_MAX : std::max(pauseAt, m_used + 1)) - m_used;
            } else {
                if (m_scratch.empty())
                    m_scratch.resize(kChunkSize);
                out = m_scratch.data();
                room = m_scratch.size();
            }
            bool ended = false;
            std::size_t made = m_zs.Step(out, room, m_total, m_maxSize, ended);
            if (m_used < m_keep)
                m_used += made;
            if (ended)
                return false;
        }
        return true;
    }

    /// Keeps no more than the first `size` bytes; the rest is only checked.
    void Keep(std::size_t size)
    {
        m_keep = size;
        if (m_used > size)
            m_used = size;
        m_image.resize(std::max(m_used, std::min(m_image.size(), size)));
    }
    /// The inflated bytes kept so far.
    const std::uint8_t* Data() const noexcept { return m_image.data(); }
    std::size_t Size() const noexcept { return m_used; }
    /// Hands the image over (its room beyond the inflated bytes dropped).
    std::vector<std::uint8_t> Take()
    {
        m_image.resize(m_used);
        m_image.shrink_to_fit();
        return std::move(m_image);
    }

private:
    static constexpr std::size_t kChunkSize = 1 << 20;
    TZlibInflation m_zs;
    std::size_t m_maxSize;
    std::size_t m_keep = SIZE_MAX;
    std::size_t m_used = 0;
    std::uint64_t m_total = 0;
    std::vector<std::uint8_t> m_image;
    std::vector<std::uint8_t> m_scratch;
};

std::string OpenErrorText(const std::string& path, const Exception& error)
{
    // The file layer says "<what> <name>" and then the system's own text.
    std::string text = error.what();
    std::string prefix = "Nu pot deschide fisierul " + path;
    if (text.compare(0, prefix.size(), prefix) == 0)
        text.erase(0, prefix.size());
    while (!text.empty() && (text[0] == ':' || text[0] == ' ' || text[0] == '\r' || text[0] == '\n'))
        text.erase(0, 1);
    // Windows adds "System Error.  Code: n." before the system's own text.
    if (text.rfind("System Error.", 0) == 0) {
        auto end = text.find('\n');
        text = end == std::string::npos ? std::string() : text.substr(end + 1);
    }
    return "Cannot open file \"" + path + "\". " + text;
}

TFile OpenPatchFile(const TPath& path)
{
    try {
        return TFile(path, TFileMode::ReadShared);
    } catch (const EOSError& e) {
        throw EOSError(e.Code(), OpenErrorText(path.Text(), e));
    }
}

} // namespace

void TQvtUnPatchEngine::LoadFromFile(const TPath& fileName, const TQvtUnPatchLimits& limits)
{
    TFile file = OpenPatchFile(fileName);
    const std::string path = fileName.Text();
    const std::int64_t maxImage = limits.MaxImage();
    TInflater inflater(static_cast<std::size_t>(std::min<std::int64_t>(maxImage, SIZE_MAX / 2)));
    // The image is decoded while it is inflated: once the codes are complete
    // they tell exactly how many bytes the patch uses, and no more are kept.
    std::optional<TDecoded> decoded;
    std::size_t attemptAt = kFirstAttempt;
    std::vector<std::uint8_t> block(65536);
    for (;;) {
        if (inflater.InputUsed()) {
            std::size_t got = file.Read(block.data(), block.size());
            if (got == 0)
                break;
            inflater.Input(block.data(), got);
        }
        if (!inflater.Run(decoded ? SIZE_MAX : attemptAt))
            break;
        if (decoded || inflater.Size() < attemptAt)
            continue;
        try {
            decoded = Decode(inflater.Data(), inflater.Size(), nullptr, path, limits);
        } catch (const Exception& e) {
            if (!WantsMoreBytes(e))
                throw;
            attemptAt = 2 * inflater.Size();
            continue;
        }
        if (decoded->Needed() > static_cast<std::uint64_t>(maxImage))
            throw Exception(Format(kImageTooLarge, maxImage));
        inflater.Keep(static_cast<std::size_t>(decoded->Needed()));
    }
    auto image = std::make_shared<std::vector<std::uint8_t>>(inflater.Take());
    if (!decoded || image->size() < decoded->Needed())
        decoded = Decode(image->data(), image->size(), image, path, limits);
    RefuseSecondLoad();
    Commit(std::move(*decoded), std::move(image));
}

namespace {

// A block of bytes grown with realloc: large blocks then grow in place or are
// moved by remapping their pages, so that a growing image is never held twice,
// and room not yet written costs no memory.
class TGrowBuffer {
public:
    TGrowBuffer() = default;
    ~TGrowBuffer() { std::free(m_data); }
    TGrowBuffer(const TGrowBuffer&) = delete;
    TGrowBuffer& operator=(const TGrowBuffer&) = delete;

    void Reserve(std::size_t capacity)
    {
        if (capacity <= m_capacity)
            return;
        void* grown = std::realloc(m_data, capacity);
        if (!grown)
            throw std::bad_alloc();
        m_data = static_cast<std::uint8_t*>(grown);
        m_capacity = capacity;
    }
    /// Once full, doubles the room, but never past one byte more than
    /// `maxSize` (enough to tell that an image is too large).
    void GrowWhenFull(std::size_t maxSize)
    {
        if (Size == m_capacity)
            Reserve(Size > maxSize / 2 ? maxSize + 1 : 2 * Size);
    }
    std::uint8_t* Data() const noexcept { return m_data; }
    std::size_t Capacity() const noexcept { return m_capacity; }
    std::size_t Size = 0;

private:
    std::uint8_t* m_data = nullptr;
    std::size_t m_capacity = 0;
};

// Executables' patches inflate to about twice their size; a first guess that
// is too small costs one remapping per doubling.
void ReserveImage(TFile& file, std::size_t maxSize, TGrowBuffer& image)
{
    const std::int64_t packed = file.Size();
    image.Reserve(static_cast<std::size_t>(
        std::clamp<std::int64_t>(3 * packed, 64 * 1024, static_cast<std::int64_t>(std::min<std::size_t>(maxSize, INT64_MAX)) + 1)));
}

#ifdef UPD_HAVE_ISAL
// A rebuild's second thread, started on another processor than the calling
// thread's when another is allowed. Linux puts a new thread beside the one
// that made it and lets an idle processor wait a millisecond or more before it
// takes one of them, so meanwhile the two would take turns on one processor;
// moving the thread once it was started came too late in about half the runs
// (the maker then waited for the whole inflating of a small patch).
class TOffThread {
public:
    /// Raises std::system_error when no thread can be had.
    explicit TOffThread(std::function<void()> run) : m_run(std::move(run))
    {
#ifdef __linux__
        pthread_attr_t attributes;
        if (pthread_attr_init(&attributes) == 0) {
            cpu_set_t allowed;
            CPU_ZERO(&allowed);
            const int here = sched_getcpu();
            if (here >= 0 && pthread_getaffinity_np(pthread_self(), sizeof allowed, &allowed) == 0 &&
                CPU_ISSET(here, &allowed) && CPU_COUNT(&allowed) >= 2) {
                CPU_CLR(here, &allowed);
                pthread_attr_setaffinity_np(&attributes, sizeof allowed, &allowed);
            }
            const int failed = pthread_create(&m_handle, &attributes, &TOffThread::Start, this);
            pthread_attr_destroy(&attributes);
            if (failed == 0) {
                m_native = true;
                return;
            }
        }
#endif
        // No placement to be had: wherever the system puts it.
        m_thread = std::thread([this] { m_run(); });
    }
    ~TOffThread() { Join(); }
    TOffThread(const TOffThread&) = delete;
    TOffThread& operator=(const TOffThread&) = delete;

    void Join() noexcept
    {
#ifdef __linux__
        if (m_native) {
            pthread_join(m_handle, nullptr);
            m_native = false;
        }
#endif
        if (m_thread.joinable())
            m_thread.join();
    }

private:
#ifdef __linux__
    static void* Start(void* self)
    {
        static_cast<TOffThread*>(self)->m_run();
        return nullptr;
    }
    pthread_t m_handle{};
    bool m_native = false;
#endif
    std::function<void()> m_run;
    std::thread m_thread;
};

// Waits without sleeping until `ready` holds or two milliseconds have passed
// (the caller then sleeps on its condition). The checking pass waits for the
// inflater over gaps far shorter than that, and a sleeping thread can take
// most of a millisecond to run again once woken, above all in a virtual
// machine whose idle processors halt.
template <class TReady>
void SpinUntil(TReady ready)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(2);
    for (unsigned i = 1; !ready(); ++i) {
        if (i % 64 == 0 && std::chrono::steady_clock::now() > until)
            return;
    }
}

// The stream inflated by a faster decoder on a second thread, so that the
// codes at the image's start are decoded and checked while the literal bytes
// after them are still being inflated. It only ever answers for a stream that
// ends cleanly with the right check value: anything else (damage, an early
// end, a dictionary, an image over the limit, a header zlib would refuse) ends
// it as failed, and zlib then inflates the file again from the start, so every
// verdict on a damaged patch stays zlib's own.
class TInflateAhead final : public TQvtImageAhead {
public:
    /// Starts inflating `file` into `image` (whose first room is reserved).
    TInflateAhead(TFile& file, std::size_t maxSize, TGrowBuffer& image)
        : m_file(file), m_maxSize(maxSize), m_image(image),
          // Made here: a thread's first allocation sets up a heap of its own,
          // which would delay the first inflated bytes.
          m_block(new std::uint8_t[kBlockSize]), m_state(std::make_unique<inflate_state>())
    {
        try {
            m_thread.emplace([this] { Run(); });
        } catch (const std::system_error&) {
            Run(); // no second thread to be had: inflate first, decode after
        }
    }
    ~TInflateAhead() { Finish(); }
    TInflateAhead(const TInflateAhead&) = delete;
    TInflateAhead& operator=(const TInflateAhead&) = delete;

    std::size_t WaitFor(std::size_t bytes, bool& whole, bool& failed) override
    {
        SpinUntil([&] {
            return m_published.load(std::memory_order_relaxed) >= bytes || m_settled.load(std::memory_order_relaxed);
        });
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_ready >= bytes || m_stopped || m_stalled; });
        whole = m_stopped && m_clean;
        failed = (m_stopped && !m_clean) || m_stalled;
        return m_ready;
    }

    bool Has(std::size_t bytes) const noexcept override
    {
        return m_published.load(std::memory_order_relaxed) >= bytes || m_settled.load(std::memory_order_relaxed);
    }

    /// The image is no longer read until inflating ends; waits for that end.
    /// True when the stream ended cleanly.
    bool Finish()
    {
        {
            std::lock_guard lock(m_mutex);
            m_reading = false;
        }
        m_changed.notify_all();
        if (m_thread)
            m_thread->Join();
        return m_clean;
    }

private:
    void Run() noexcept
    {
        bool clean = false;
        try {
            clean = Inflate();
        } catch (...) {
            // A read that failed or room that could not be had: zlib's turn.
        }
        if (clean) {
            // Decoding looks a few bytes past the end of what it reads.
            std::size_t tail = std::min<std::size_t>(kStepBytes, m_image.Capacity() - m_image.Size);
            std::memset(m_image.Data() + m_image.Size, 0, tail);
        }
        {
            std::lock_guard lock(m_mutex);
            m_stopped = true;
            m_clean = clean;
            m_ready = m_image.Size;
            m_settled.store(true, std::memory_order_relaxed);
        }
        m_changed.notify_all();
    }

    void Publish()
    {
        {
            std::lock_guard lock(m_mutex);
            m_ready = m_image.Size;
            m_published.store(m_ready, std::memory_order_relaxed);
        }
        m_changed.notify_all();
    }

    // The block moves when it grows, so it may not while it is being read:
    // the reader then gives up, to decode again once the image is whole.
    void GrowWhenFull()
    {
        if (m_image.Size < m_image.Capacity())
            return;
        {
            std::unique_lock lock(m_mutex);
            if (m_reading) {
                m_stalled = true;
                m_settled.store(true, std::memory_order_relaxed);
                m_changed.notify_all();
                m_changed.wait(lock, [this] { return !m_reading; });
            }
        }
        m_image.GrowWhenFull(m_maxSize);
    }

    bool Inflate()
    {
        // Inflated in steps of at most this many bytes, each published at once
        // for the reader (a step may hold far more than its input).
        constexpr std::size_t kStep = 256 * 1024;
        std::uint8_t* const block = m_block.get();
        std::size_t got = m_file.Read(block, kBlockSize);
        if (got < 2)
            return false;
        const unsigned cmf = block[0], flg = block[1];
        if ((cmf & 0x0F) != 8 || (cmf >> 4) > 7 || ((cmf << 8) | flg) % 31 != 0 || (flg & 0x20) != 0)
            return false;
        inflate_state* const state = m_state.get();
        isal_inflate_init(state);
        state->crc_flag = ISAL_ZLIB;
        // ISA-L inflates all the input it is given before it returns: the
        // first block is handed over in slices of 8 KB, then twice as many
        // each time, so that the first bytes reach the reader at once. A
        // slice follows whatever of the one before is not taken yet.
        std::size_t slice = 8 * 1024;
        std::size_t left = got; // of the block, not yet handed over
        auto handOver = [&] {
            const std::size_t take = std::min(left, slice);
            state->avail_in += static_cast<std::uint32_t>(take);
            left -= take;
            slice = std::min(2 * slice, kBlockSize);
        };
        state->next_in = block;
        state->avail_in = 0;
        handOver();
        for (;;) {
            if (m_image.Size > m_maxSize)
                return false;
            GrowWhenFull();
            const std::size_t room = std::min(m_image.Capacity() - m_image.Size, kStep);
            state->next_out = m_image.Data() + m_image.Size;
            state->avail_out = static_cast<std::uint32_t>(room);
            int rc = isal_inflate(state);
            const std::size_t made = room - state->avail_out;
            m_image.Size += made;
            if (rc != ISAL_DECOMP_OK || m_image.Size > m_maxSize)
                return false;
            if (state->block_state == ISAL_BLOCK_FINISH)
                return true;
            if (made > 0)
                Publish();
            if (state->avail_out == 0) {
                continue; // more may come of the same input
            } else if (left > 0) {
                handOver();
            } else if (state->avail_in == 0) {
                got = m_file.Read(block, kBlockSize);
                if (got == 0)
                    return false;
                state->next_in = block;
                left = got;
                handOver();
            } else {
                return false; // neither input nor room was the limit: never spin on it
            }
        }
    }

    static constexpr std::size_t kBlockSize = 64 * 1024; // read from the file at a time

    TFile& m_file;
    const std::size_t m_maxSize;
    TGrowBuffer& m_image; // its size and room are the thread's until Finish
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_ready = 0;
    // What a waiting reader watches before it sleeps: m_ready, and whether
    // the thread stopped or stalled. The mutex still hands the bytes over.
    std::atomic<std::size_t> m_published{0};
    std::atomic<bool> m_settled{false};
    bool m_reading = true;
    bool m_stalled = false;
    bool m_stopped = false;
    bool m_clean = false;
    std::unique_ptr<std::uint8_t[]> m_block;
    std::unique_ptr<inflate_state> m_state;
    std::optional<TOffThread> m_thread;
};

// The new file's bytes handed on to the caller's output by a second thread, a
// block at a time, so that the writing pass goes on filling the next block
// while the last one is being written. A failure of the output is raised by
// the next Write or by Finish, as the same exception.
class TWriteBehind final : public TQvtPatchOutput {
public:
    explicit TWriteBehind(TQvtPatchOutput& output)
        : m_output(output), m_blocks{std::make_unique<std::uint8_t[]>(kBlockSize),
                                     std::make_unique<std::uint8_t[]>(kBlockSize)}
    {
        m_thread = std::thread([this] { Run(); });
    }
    /// After a failure elsewhere: what was not written yet is dropped.
    ~TWriteBehind() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    TWriteBehind(const TWriteBehind&) = delete;
    TWriteBehind& operator=(const TWriteBehind&) = delete;

    void Write(const std::uint8_t* data, std::size_t count) override
    {
        while (count > 0) {
            const std::size_t take = std::min(count, kBlockSize - m_used);
            std::memcpy(m_blocks[m_current].get() + m_used, data, take);
            m_used += take;
            data += take;
            count -= take;
            if (m_used == kBlockSize)
                HandOver();
        }
    }

    /// Returns once every byte is with the caller's output.
    void Finish()
    {
        if (m_used > 0)
            HandOver();
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_waiting == 0 || m_failure; });
        if (m_failure)
            std::rethrow_exception(m_failure);
    }

private:
    static constexpr std::size_t kBlockSize = 256 * 1024;

    // The filled block goes to the thread; the other one is filled next, once
    // the thread is done with it.
    void HandOver()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_waiting == 0 || m_failure; });
        if (m_failure)
            std::rethrow_exception(m_failure);
        m_waiting = m_used;
        m_waitingBlock = m_current;
        lock.unlock();
        m_changed.notify_all();
        m_current ^= 1;
        m_used = 0;
    }

    void Run() noexcept
    {
        for (;;) {
            std::size_t size;
            std::size_t block;
            {
                std::unique_lock lock(m_mutex);
                m_changed.wait(lock, [this] { return m_waiting > 0 || m_stopping; });
                if (m_stopping)
                    return;
                size = m_waiting;
                block = m_waitingBlock;
            }
            std::exception_ptr failure;
            try {
                m_output.Write(m_blocks[block].get(), size);
            } catch (...) {
                failure = std::current_exception();
            }
            {
                std::lock_guard lock(m_mutex);
                m_waiting = 0;
                m_failure = failure;
            }
            m_changed.notify_all();
            if (failure)
                return;
        }
    }

    TQvtPatchOutput& m_output; // written by the thread alone while it runs
    std::unique_ptr<std::uint8_t[]> m_blocks[2];
    std::size_t m_current = 0; // the block being filled, and its bytes
    std::size_t m_used = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_waiting = 0; // bytes of the block handed over, until written
    std::size_t m_waitingBlock = 0;
    bool m_stopping = false;
    std::exception_ptr m_failure;
    std::thread m_thread;
};

// Smaller files are written by the writing pass itself: a thread would cost
// about as much as their few write calls.
constexpr std::int64_t kWriteBehindFrom = 4 * 1024 * 1024;
#endif

// A new file of this size or more is written in two halves at once where the
// output and the old file allow (smaller files were slower so: a thread costs
// more than half of their writing).
constexpr std::int64_t kHalvesFrom = 4 * 1024 * 1024;

// The second half's thread was told to stop: the first half failed.
struct TStopped {};

// Where the second half of the new file starts: at the first Copy once half
// of its bytes are made. The look starts from the last place the checking
// pass marked before that, so that only the numbers after it are read.
TStartMark FindSecondHalf(const std::uint8_t* numbers, const std::vector<TStartMark>& marks, std::int32_t count,
                          std::uint64_t half)
{
    TStartMark found{};
    for (const TStartMark& mark : marks) {
        if (mark.written >= half)
            break;
        found = mark;
    }
    TRecordReader reader{numbers + found.at};
    std::int32_t k = found.from.first;
    for (; k < count; ++k) {
        if (k % 2 == 1) {
            const std::uint32_t length = reader.Get();
            found.literals += length;
            found.written += length;
            continue;
        }
        if (found.written >= half)
            break;
        // As the apply loop moves it; a run outside the old file stops the
        // first half, so what it would leave here does not matter.
        found.from.position = WrapAdd(found.from.position, reader.GetSigned());
        found.written += reader.Get();
    }
    found.from.first = k;
    found.at = static_cast<std::size_t>(reader.at - numbers);
    return found;
}

// Writes the new file in two halves at once from the recorded numbers: the
// calling thread the first half, a second thread, with an output and a
// reader of the old file of its own, the second. The writing pass, the larger
// part of a large file's time, then runs on two processors instead of one and
// a half (bench/patch/history.md). False, with nothing written, when the
// output or the old file cannot be shared so or no thread can be had. A
// failure of the first half stops the second and is the one raised; the
// second half's is raised only once the first has ended without one: the
// error a single thread would meet first.
bool WriteInHalves(const std::uint8_t* numbers, const std::vector<TStartMark>& marks, std::int32_t count,
                   const std::uint8_t* image, std::size_t literalStart, std::int64_t outputSize,
                   TQvtPatchOutput& output, TQvtPatchSource& old, TQvtUnPatchProgress* progress,
                   TQvtImageAhead* ahead)
{
    const TStartMark second = FindSecondHalf(numbers, marks, count, static_cast<std::uint64_t>(outputSize) / 2);
    // While the second half's literal bytes are yet to be inflated, the
    // writing waits for the inflater, and a second writer would only wait
    // beside it, on a processor the inflater needs.
    if (ahead && !ahead->Has(literalStart + static_cast<std::size_t>(second.literals)))
        return false;
    // The output first: a source gives up room to the reader it makes.
    std::unique_ptr<TQvtPatchOutput> secondOutput = output.Beside(static_cast<std::int64_t>(second.written));
    if (!secondOutput)
        return false;
    std::unique_ptr<TQvtPatchSource> secondOld = old.Beside();
    if (!secondOld)
        return false;
    std::atomic<std::int32_t> secondDone{0}; // instructions of the second half applied, as last told
    std::atomic<bool> stop{false};
    std::exception_ptr secondFailure;
    std::thread thread;
    try {
        thread = std::thread([&] {
            try {
                ApplyRecorded(numbers + second.at, second.from, count, image, image + literalStart + second.literals,
                              *secondOutput, *secondOld, true, ahead, [&](std::int32_t k) {
                                  if (stop.load(std::memory_order_relaxed))
                                      throw TStopped{};
                                  secondDone.store(k - second.from.first, std::memory_order_relaxed);
                              });
                secondOutput->Flush();
            } catch (...) {
                secondFailure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        return false;
    }
    try {
        ApplyRecorded(numbers, TApplyFrom{}, second.from.first, image, image + literalStart, output, old, true, ahead,
                      [&](std::int32_t k) {
                          if (progress)
                              progress->Applied(k + secondDone.load(std::memory_order_relaxed), count);
                      });
    } catch (...) {
        stop.store(true, std::memory_order_relaxed);
        thread.join();
        throw;
    }
    thread.join();
    if (secondFailure)
        std::rethrow_exception(secondFailure);
    if (progress)
        progress->Applied(count, count);
    return true;
}

// Inflates the whole zlib stream of a file, as TInflater does (damaged data
// raises "Error", input that ends early yields what was inflated, bytes after
// the stream are ignored), straight into one growing block.
void InflateWhole(TFile& file, std::size_t maxSize, TGrowBuffer& image)
{
    ReserveImage(file, maxSize, image);
    TZlibInflation zs;
    std::vector<std::uint8_t> block(256 * 1024);
    std::uint64_t total = 0;
    for (;;) {
        if (zs.InputUsed()) {
            std::size_t got = file.Read(block.data(), block.size());
            if (got == 0)
                return;
            zs.Input(block.data(), got);
        }
        image.GrowWhenFull(maxSize);
        bool ended = false;
        zs.Step(image.Data() + image.Size, image.Capacity() - image.Size, total, maxSize, ended, &image.Size);
        if (ended)
            return;
    }
}

} // namespace

// Loading decodes what it has inflated at 64 KB and at each doubling, so a
// fault that such a part of the image already shows is the one it reports,
// before a failure of the stream or of the whole image; and once a part holds
// all the codes, an image that would need more bytes than the limit allows is
// refused. Raises that fault, if any, for an image whose inflating or
// decoding failed.
void TQvtUnPatchEngine::RaiseAsLoading(const std::uint8_t* data, std::size_t size, const std::string& path,
                                       const TQvtUnPatchLimits& limits)
{
    for (std::size_t at = kFirstAttempt; at <= size; at *= 2) {
        std::uint64_t needed;
        try {
            needed = Decode(data, at, nullptr, path, limits).Needed();
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

// Writes the new file from the instructions the checking pass recorded; with
// `ahead`, while the image's literal bytes are still being inflated.
void TQvtUnPatchEngine::WriteRecorded(TDecoded& decoded, const TRecorded& recorded, std::uint8_t* image,
                                      TQvtPatchOutput& output, TQvtPatchSource& old, TQvtUnPatchProgress* progress,
                                      TQvtImageAhead* ahead)
{
    // The codes are read no more, so neither are the code tables, and the
    // image is this rebuild's alone.
    decoded.copyLengths = TQvtHuffmanValueSet();
    decoded.copyOffsets = TQvtHuffmanValueSet();
    decoded.dumpLengths = TQvtHuffmanValueSet();
    DiscardPages(image, decoded.literalStart);
    const std::int32_t count = decoded.count;
    auto tell = [&](std::int32_t k) {
        if (progress)
            progress->Applied(k, count);
    };
    const std::uint8_t* numbers = recorded.bytes.data();
    const std::uint8_t* literal = image + decoded.literalStart;
    if (decoded.outputSize >= kHalvesFrom && WriteInHalves(numbers, recorded.marks, count, image, decoded.literalStart,
                                                           decoded.outputSize, output, old, progress, ahead))
        return;
#ifdef UPD_HAVE_ISAL
    if (decoded.outputSize >= kWriteBehindFrom) {
        TWriteBehind behind(output);
        ApplyRecorded(numbers, TApplyFrom{}, count, image, literal, behind, old, true, ahead, tell);
        behind.Finish();
        tell(count);
        return;
    }
#endif
    ApplyRecorded(numbers, TApplyFrom{}, count, image, literal, output, old, true, ahead, tell);
    tell(count);
}

void TQvtUnPatchEngine::ApplyFile(const TPath& patch, TQvtPatchSource& old, int versionIndex,
                                  TQvtPatchOutput& output, const TQvtUnPatchLimits& limits,
                                  TQvtUnPatchProgress* progress)
{
    const std::string path = patch.Text();
    TGrowBuffer image;
    // An index outside the patch's versions is refused below, before anything
    // recorded for it is used; a negative one records nothing.
    std::optional<TRecorded> recorded;
    std::optional<TDecoded> whole;
    {
        TFile file = OpenPatchFile(patch);
        const auto maxSize = static_cast<std::size_t>(std::min<std::int64_t>(limits.MaxImage(), SIZE_MAX / 2));
        bool inflated = false;
#ifdef UPD_HAVE_ISAL
        ReserveImage(file, maxSize, image);
        bool wrote = false;
        bool startOver = false;
        {
            TInflateAhead ahead(file, maxSize, image);
            recorded.emplace(versionIndex, image.Capacity());
            try {
                whole.emplace(
                    Decode(image.Data(), image.Capacity(), nullptr, path, limits, &*recorded, true, &ahead));
            } catch (...) {
                // Decoded again below from the whole image, for its verdict.
            }
            // Once the codes are checked, the new file is written while the
            // literal bytes after them are still being inflated, when nothing
            // below could refuse the patch: the version is one of the patch's,
            // and the image needs no more room than it has and the limit allows.
            if (whole && recorded->Usable() && static_cast<std::size_t>(versionIndex) < whole->versions.size() &&
                whole->Needed() <= std::min<std::uint64_t>(image.Capacity(), limits.MaxImage()) && output.Restart()) {
                startOver = true;
                try {
                    WriteRecorded(*whole, *recorded, image.Data(), output, old, progress, &ahead);
                    wrote = true;
                } catch (...) {
                    // Bytes that will not come, a run outside the old file or a
                    // failed write: all is done again below, in its own order.
                }
            }
            inflated = ahead.Finish();
        }
        // The new file stands if the stream ended cleanly and the codes were
        // read from the image alone (see below).
        if (wrote && inflated && whole->literalStart <= image.Size)
            return;
        if (startOver) {
            // The image was given back as it was used: it is inflated again,
            // and the new file written again from its first byte.
            inflated = false;
            if (!output.Restart())
                throw Exception("bug");
        }
        // What was decoded alongside holds only if it read no bit past the
        // image's end: every step reads the same bits as a decoding of the
        // whole image then, and comes to the same result.
        if (!inflated || (whole && whole->literalStart > image.Size))
            whole.reset();
        if (!inflated) {
            image.Size = 0;
            file.Seek(0);
        }
#endif
        if (!inflated) {
            try {
                InflateWhole(file, maxSize, image);
            } catch (const Exception&) {
                RaiseAsLoading(image.Data(), image.Size, path, limits);
                throw;
            }
        }
    }
    if (whole) {
        recorded->Fit(image.Size);
    } else {
        recorded.emplace(versionIndex, image.Size);
        try {
            whole.emplace(Decode(image.Data(), image.Size, nullptr, path, limits, &*recorded, true));
        } catch (const Exception&) {
            RaiseAsLoading(image.Data(), image.Size, path, limits);
            throw;
        }
    }
    TDecoded& decoded = *whole;
    if (decoded.Needed() > static_cast<std::uint64_t>(limits.MaxImage()))
        RaiseAsLoading(image.Data(), image.Size, path, limits);
    TQvtUnPatchEngine engine;
    engine.Versions = decoded.versions;
    if (decoded.Needed() > image.Size) {
        // Name the first Dump whose bytes run past the end, as loading does.
        engine.CopyLengths = std::move(decoded.copyLengths);
        engine.CopyOffsets = std::move(decoded.copyOffsets);
        engine.DumpLengths = std::move(decoded.dumpLengths);
        std::uint64_t remaining = image.Size - decoded.literalStart;
        TQvtBitReader bits(image.Data(), image.Size, decoded.codeStart);
        for (std::int32_t k = 1; k < decoded.count; k += 2) {
            std::int32_t offset = 0;
            ReadCopy(engine, bits, engine.VersionCount(), -1, offset);
            std::int32_t length = ReadDump(engine, bits);
            if (static_cast<std::uint64_t>(length) > remaining)
                throw Exception(Format(kMissingLiterals, length));
            remaining -= static_cast<std::uint64_t>(length);
        }
    }
    engine.CheckVersionIndex(versionIndex);
    if (recorded->Usable()) {
        WriteRecorded(decoded, *recorded, image.Data(), output, old, progress, nullptr);
        return;
    }
    engine.CopyLengths = std::move(decoded.copyLengths);
    engine.CopyOffsets = std::move(decoded.copyOffsets);
    engine.DumpLengths = std::move(decoded.dumpLengths);
    engine.ApplyCodes(image.Data(), image.Size, decoded.codeStart, decoded.literalStart, decoded.count, output, old,
                      versionIndex, progress);
}

std::vector<std::uint8_t> InflatePatchFile(const std::string& path, std::size_t maxSize)
{
    TFile file = OpenPatchFile(path);
    TInflater inflater(maxSize);
    std::vector<std::uint8_t> block(65536);
    for (;;) {
        std::size_t got = file.Read(block.data(), block.size());
        if (got == 0)
            break;
        inflater.Input(block.data(), got);
        if (!inflater.Run())
            break;
    }
    return inflater.Take();
}

std::vector<std::uint8_t> InflateBytes(const std::uint8_t* data, std::size_t size, std::size_t maxSize)
{
    TInflater inflater(maxSize);
    for (std::size_t done = 0; done < size;) {
        // zlib counts its input in 32 bits.
        std::size_t part = std::min<std::size_t>(size - done, UINT32_MAX);
        inflater.Input(data + done, part);
        done += part;
        if (!inflater.Run())
            break;
    }
    return inflater.Take();
}

} // namespace upd::patch
