// The multi-version patch: a list of Copy and Dump instructions that rebuilds
// one new file from any of V known old versions.
//
// File layout: one zlib stream holding the patch image. The image is a header
// of tagged values (magic, version lines, note, instruction count C), then a
// bit section (the LengthCodes table of plain numbers; the CopyLengths,
// CopyOffsets and DumpLengths tables of length-coded numbers; C instruction
// codes alternating Copy, Dump, Copy, ...), padding to a byte boundary, and the
// literal bytes of every Dump back to back.
#pragma once

#include <cstdint>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "base/Path.h"
#include "patch/BitStream.h"
#include "patch/Huffman.h"
#include "patch/PatchIo.h"

namespace upd::patch {

/// Messages of damaged or misapplied patches.
inline constexpr const char* kNegativeLength = "Patch deteriorat: lungime negativa (%d)";
inline constexpr const char* kMissingLiterals = "Patch deteriorat: lipsesc octetii unei instructiuni Dump (%d)";
inline constexpr const char* kOutsideOld = "Patch deteriorat: copiere in afara fisierului vechi (pozitia %d)";
inline constexpr const char* kNoVersions = "Patch-ul nu numeste nicio versiune veche";
inline constexpr const char* kBadVersionIndex = "Versiunea %d nu este acoperita de patch";
inline constexpr const char* kTooManyVersions = "Patch deteriorat: prea multe versiuni vechi (%d)";
inline constexpr const char* kTooManyInstructions = "Patch deteriorat: prea multe instructiuni (%d)";
inline constexpr const char* kTableTooLarge = "Patch deteriorat: tabel de coduri prea mare (%d valori)";
inline constexpr const char* kOutputTooLarge = "Patch-ul ar face un fisier nou mai mare de %d octeti";
inline constexpr const char* kImageTooLarge = "Patch deteriorat: decomprimat depaseste %d octeti";

/// What one patch may make the engine spend. Every bound follows from the
/// largest new file the caller accepts: the update stage knows the new file's
/// size exactly and passes it; the defaults suit a tool that does not know it.
struct TQvtUnPatchLimits {
    /// The new file may not be larger; a patch whose instructions add up to
    /// more is refused when it is loaded, before anything is written.
    std::int64_t MaxOutput = std::int64_t{128} << 20;
    /// Old versions the header may name (a patch serves a handful; each line
    /// costs a string, so empty lines must not be free).
    std::int32_t MaxVersions = 1 << 17;
    /// Values one code table may hold (a large patch's offset table holds
    /// about a hundred thousand).
    std::int32_t MaxTableValues = 1 << 20;

    /// The inflated image such a patch can need: its literals are part of the
    /// new file, and its codes take no more room than that again. Bytes that
    /// are inflated beyond the image's end count too.
    std::int64_t MaxImage() const noexcept { return 2 * MaxOutput + (std::int64_t{16} << 20); }
    /// Instructions: an encoder adds at most one empty instruction beside each
    /// one that writes a byte.
    std::int64_t MaxInstructions() const noexcept { return 2 * MaxOutput + 2; }
};

/// 32-bit addition that wraps, as the stored numbers do.
inline std::int32_t WrapAdd(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

class TQvtTaggedReader;
class TQvtTaggedWriter;
class TQvtImageAhead;
class TQvtUnPatchEngine;

/// Hears how far a rebuild has come; it may raise to stop it.
class TQvtUnPatchProgress {
public:
    virtual ~TQvtUnPatchProgress() = default;
    /// `done` of `count` instructions are written: called every few thousand
    /// instructions and once after the last.
    virtual void Applied(std::int32_t done, std::int32_t count) = 0;
};

/// A length-coded number: a LengthCodes symbol L, then |L| raw bits, least
/// significant first, negated for a negative L.
std::int32_t ReadLengthCoded(TQvtBitStream& bits, const TQvtHuffmanValueSet& lengthCodes);
std::int32_t ReadLengthCoded(TQvtBitReader& bits, const TQvtHuffmanValueSet& lengthCodes);
void WriteLengthCoded(TQvtBitStream& bits, const TQvtHuffmanValueSet& lengthCodes, std::int32_t value);
/// The shortest symbol for a value: ± its number of significant bits.
std::int32_t LengthSymbol(std::int32_t value);

class TQvtUnPatchInstruction {
public:
    virtual ~TQvtUnPatchInstruction() = default;

    /// Adds the instruction's values to the engine's sets (encoder side).
    virtual void CountValues(TQvtUnPatchEngine& engine) const {}
    /// Appends the instruction's bytes for old version `versionIndex`; `position`
    /// is the source position that the Copy instructions move.
    virtual void Apply(TQvtPatchOutput& output, TQvtPatchSource& old, int versionIndex,
                       std::int32_t& position) const = 0;
    virtual void WriteTo(TQvtTaggedWriter& writer) const = 0;
    virtual void ReadFrom(TQvtTaggedReader& reader) = 0;
    virtual void WritePlain(TQvtBitStream& bits) const = 0;
    virtual void ReadPlain(TQvtBitStream& bits) = 0;
    virtual void WriteCoded(TQvtBitStream& bits, const TQvtUnPatchEngine& engine) const = 0;
    virtual void WriteData(TQvtBitStream& bits) const = 0;
    virtual void ReadCoded(TQvtBitStream& bits, const TQvtUnPatchEngine& engine) = 0;
    virtual void ReadData(TQvtBitStream& bits) = 0;
    virtual void ListTo(std::vector<std::string>& lines) const = 0;

    virtual std::int32_t Length() const noexcept = 0;
};

class TQvtUnPatchCopyInstruction : public TQvtUnPatchInstruction {
public:
    /// A Copy for `versionCount` old versions, all offsets 0.
    explicit TQvtUnPatchCopyInstruction(int versionCount);
    TQvtUnPatchCopyInstruction(std::int32_t length, std::vector<std::int32_t> offsets);

    void CountValues(TQvtUnPatchEngine& engine) const override;
    void Apply(TQvtPatchOutput& output, TQvtPatchSource& old, int versionIndex,
               std::int32_t& position) const override;
    void WriteTo(TQvtTaggedWriter& writer) const override;
    void ReadFrom(TQvtTaggedReader& reader) override;
    void WritePlain(TQvtBitStream& bits) const override;
    void ReadPlain(TQvtBitStream& bits) override;
    void WriteCoded(TQvtBitStream& bits, const TQvtUnPatchEngine& engine) const override;
    void WriteData(TQvtBitStream&) const override {}
    void ReadCoded(TQvtBitStream& bits, const TQvtUnPatchEngine& engine) override;
    void ReadData(TQvtBitStream&) override {}
    void ListTo(std::vector<std::string>& lines) const override;

    std::int32_t Length() const noexcept override { return m_length; }
    int VersionCount() const noexcept { return m_versionCount; }
    /// The source offset of one old version (0 <= versionIndex < VersionCount()).
    std::int32_t Offset(int versionIndex) const;

private:
    // Offsets are kept as the patch writes them: one shared value, two values
    // with a choice per version, or one value per version. A hostile patch thus
    // cannot make a few bits stand for V stored numbers.
    enum class TForm { Shared, Pair, Two, Each };
    // `layout` is the version count whose offset layout applies (3 for any
    // larger count and for the plain form).
    template <class TRead>
    void ReadOffsets(TQvtBitStream& bits, TRead read, int layout);
    template <class TWrite>
    void WriteOffsets(TQvtBitStream& bits, TWrite write, int layout) const;
    void SetOffsets(std::vector<std::int32_t> offsets);

    std::int32_t m_length = 0;
    int m_versionCount;
    TForm m_form = TForm::Shared;
    std::int32_t m_first = 0;
    std::int32_t m_second = 0;
    std::vector<bool> m_takesFirst;  // Pair: per version, whether it takes m_first
    std::vector<std::int32_t> m_each; // Each: one offset per version
};

class TQvtUnPatchDumpInstruction : public TQvtUnPatchInstruction {
public:
    TQvtUnPatchDumpInstruction() = default;
    explicit TQvtUnPatchDumpInstruction(std::vector<std::uint8_t> bytes);

    void CountValues(TQvtUnPatchEngine& engine) const override;
    void Apply(TQvtPatchOutput& output, TQvtPatchSource& old, int versionIndex,
               std::int32_t& position) const override;
    void WriteTo(TQvtTaggedWriter& writer) const override;
    void ReadFrom(TQvtTaggedReader& reader) override;
    void WritePlain(TQvtBitStream& bits) const override;
    void ReadPlain(TQvtBitStream& bits) override;
    void WriteCoded(TQvtBitStream& bits, const TQvtUnPatchEngine& engine) const override;
    void WriteData(TQvtBitStream& bits) const override;
    void ReadCoded(TQvtBitStream& bits, const TQvtUnPatchEngine& engine) override;
    void ReadData(TQvtBitStream& bits) override;
    void ListTo(std::vector<std::string>& lines) const override;

    std::int32_t Length() const noexcept override { return m_length; }
    /// The literal bytes (Length() of them once read).
    const std::uint8_t* Bytes() const noexcept { return m_bytes.data(); }
    /// Takes Length() bytes that stay in a shared buffer; raises when fewer come.
    void TakeBytes(TQvtSharedBytes bytes);

private:
    std::int32_t m_length = 0;
    TQvtSharedBytes m_bytes;
};

class TQvtUnPatchEngine {
public:
    TQvtUnPatchEngine();
    ~TQvtUnPatchEngine();
    TQvtUnPatchEngine(const TQvtUnPatchEngine&) = delete;
    TQvtUnPatchEngine& operator=(const TQvtUnPatchEngine&) = delete;

    /// Inflates and decodes a patch file; raises on any error. Memory and time
    /// stay within what `limits` allow: inflating stops as soon as the decoded
    /// codes show how many bytes the patch needs, and a patch that would pass
    /// a limit is refused. A refused load leaves the engine as it was; so does
    /// a second load, which is refused as the built value sets refuse more
    /// values ("Adaugi valori dupa ce ai construit reprezentarea arborescenta").
    void LoadFromFile(const TPath& path, const TQvtUnPatchLimits& limits = {});
    /// Decodes an inflated patch image; `path` names the patch in messages.
    /// Every instruction is decoded and checked here; afterwards only the image
    /// and the value sets are kept, and the instructions are decoded again,
    /// in order, as they are used. A refused load leaves the engine as it was.
    void LoadFromImage(std::vector<std::uint8_t> image, const std::string& path,
                       const TQvtUnPatchLimits& limits = {});
    /// The size of the new file that Apply writes (known once loaded).
    std::int64_t OutputSize() const noexcept { return m_outputSize; }

    int Count() const noexcept;
    /// The instruction at `index`. For a loaded patch the object is decoded on
    /// request and stays valid until the next call; going through the indexes
    /// in ascending order costs one decoding step each.
    const TQvtUnPatchInstruction& Instructions(int index) const;
    /// Appends an instruction (encoder side); the engine owns it.
    void Add(std::unique_ptr<TQvtUnPatchInstruction> instruction);

    std::vector<std::string> Versions;
    std::string Note;
    TQvtHuffmanValueSet CopyLengths;
    TQvtHuffmanValueSet CopyOffsets;
    TQvtHuffmanValueSet DumpLengths;
    TQvtHuffmanValueSet LengthCodes;

    int VersionCount() const noexcept { return static_cast<int>(Versions.size()); }
    /// Raises unless 0 <= versionIndex < VersionCount().
    void CheckVersionIndex(int versionIndex) const;
    /// Checks the version index, then applies every instruction in order with a
    /// source position that starts at 0.
    void Apply(TQvtPatchOutput& output, TQvtPatchSource& old, int versionIndex) const;

    /// LoadFromFile, CheckVersionIndex and Apply of a patch file in one go,
    /// without an engine to keep: the file is inflated once into one block
    /// (no copy as it grows), every instruction is decoded and checked before
    /// the first byte is written, and the instructions are then applied
    /// straight from the image. Raises what those three raise, in the same
    /// order; `progress` (optional) hears how far the writing has come.
    static void ApplyFile(const TPath& patch, TQvtPatchSource& old, int versionIndex, TQvtPatchOutput& output,
                          const TQvtUnPatchLimits& limits = {}, TQvtUnPatchProgress* progress = nullptr);

private:
    struct TCursor;
    struct TDecoded;
    /// Decodes header, tables and codes from `size` bytes at `data`: the whole
    /// image when `image` holds it or `whole` says so (the caller then names
    /// missing literals itself), else a prefix that more bytes may follow.
    /// With `ahead`, the image is still being inflated into `size` bytes of
    /// room at `data`: each step waits for the bytes it reads, and the caller
    /// checks the result against the image once it is whole.
    struct TRecorded;
    static TDecoded Decode(const std::uint8_t* data, std::size_t size,
                           const std::shared_ptr<std::vector<std::uint8_t>>& image, const std::string& path,
                           const TQvtUnPatchLimits& limits, TRecorded* recorded = nullptr, bool whole = false,
                           TQvtImageAhead* ahead = nullptr);
    void RefuseSecondLoad() const;
    static void RaiseAsLoading(const std::uint8_t* data, std::size_t size, const std::string& path,
                               const TQvtUnPatchLimits& limits);
    /// Applies `count` instructions whose codes start at bit `codeStart` of
    /// `image` and whose literals start at byte `literalStart`; the codes were
    /// decoded and checked before, so the literals are known to be there.
    void ApplyCodes(const std::uint8_t* image, std::size_t size, std::uint64_t codeStart, std::size_t literalStart,
                    std::int32_t count, TQvtPatchOutput& output, TQvtPatchSource& old, int versionIndex,
                    TQvtUnPatchProgress* progress) const;
    static void WriteRecorded(TDecoded& decoded, const TRecorded& recorded, std::uint8_t* image,
                              TQvtPatchOutput& output, TQvtPatchSource& old, TQvtUnPatchProgress* progress,
                              TQvtImageAhead* ahead);
    void Commit(TDecoded&& decoded, std::shared_ptr<std::vector<std::uint8_t>> image) noexcept;
    /// Decodes the next instruction at the cursor.
    const TQvtUnPatchInstruction& Next(TCursor& cursor) const;
    void Rewind(TCursor& cursor) const;

    std::vector<std::unique_ptr<TQvtUnPatchInstruction>> m_instructions;
    // A loaded patch: the image, where the codes and the literals start.
    bool m_loaded = false;
    std::int32_t m_count = 0;
    std::shared_ptr<std::vector<std::uint8_t>> m_image;
    std::uint64_t m_codeStart = 0;
    std::size_t m_literalStart = 0;
    std::int64_t m_outputSize = 0;
    mutable std::unique_ptr<TCursor> m_cursor;
};

/// Inflates one zlib stream from a file, in 64 KB reads. Damaged data raises
/// "Error"; input that ends early yields what was inflated; bytes after the end
/// of the stream are ignored. More than `maxSize` inflated bytes raise
/// kImageTooLarge.
std::vector<std::uint8_t> InflatePatchFile(const std::string& path, std::size_t maxSize = SIZE_MAX);
std::vector<std::uint8_t> InflateBytes(const std::uint8_t* data, std::size_t size, std::size_t maxSize = SIZE_MAX);

} // namespace upd::patch
