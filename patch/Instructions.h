// The Copy and Dump instructions of a patch as objects: their coded, plain
// and tagged forms, their listing, and what each appends to the new file. The
// encoder builds them; a loaded engine hands them out decoded one at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "patch/BitStream.h"
#include "patch/CodeTables.h"
#include "patch/PatchIo.h"

namespace upd::patch {

class TQvtTaggedReader;
class TQvtTaggedWriter;

class TQvtUnPatchInstruction {
public:
    virtual ~TQvtUnPatchInstruction() = default;

    /// Adds the instruction's values to the tables' sets (encoder side).
    virtual void CountValues(TQvtCodeTables& /*tables*/) const {}
    /// Appends the instruction's bytes for old version `versionIndex`; `position`
    /// is the source position that the Copy instructions move.
    virtual void Apply(TQvtPatchOutput& output, TQvtPatchSource& old, int versionIndex,
                       std::int32_t& position) const = 0;
    virtual void WriteTo(TQvtTaggedWriter& writer) const = 0;
    virtual void ReadFrom(TQvtTaggedReader& reader) = 0;
    virtual void WritePlain(TQvtBitStream& bits) const = 0;
    virtual void ReadPlain(TQvtBitStream& bits) = 0;
    /// The instruction's code, with the tables' codes (see CodeTables.h).
    virtual void WriteCoded(TQvtBitStream& bits, const TQvtCodeTables& tables) const = 0;
    /// A Dump's literal bytes, after all the codes.
    virtual void WriteData(TQvtBitStream& bits) const = 0;
    /// Raises kNegativeLength, kNoVersions (a Copy for no version) or kReadPastEnd.
    virtual void ReadCoded(TQvtBitStream& bits, const TQvtCodeTables& tables) = 0;
    /// Raises kMissingLiterals when fewer bytes are left than a Dump needs.
    virtual void ReadData(TQvtBitStream& bits) = 0;
    virtual void ListTo(std::vector<std::string>& lines) const = 0;

    virtual std::int32_t Length() const noexcept = 0;
};

class TQvtUnPatchCopyInstruction : public TQvtUnPatchInstruction {
public:
    /// A Copy for `versionCount` old versions, all offsets 0.
    explicit TQvtUnPatchCopyInstruction(int versionCount);
    TQvtUnPatchCopyInstruction(std::int32_t length, std::vector<std::int32_t> offsets);

    void CountValues(TQvtCodeTables& tables) const override;
    void Apply(TQvtPatchOutput& output, TQvtPatchSource& old, int versionIndex,
               std::int32_t& position) const override;
    void WriteTo(TQvtTaggedWriter& writer) const override;
    void ReadFrom(TQvtTaggedReader& reader) override;
    void WritePlain(TQvtBitStream& bits) const override;
    void ReadPlain(TQvtBitStream& bits) override;
    void WriteCoded(TQvtBitStream& bits, const TQvtCodeTables& tables) const override;
    void WriteData(TQvtBitStream&) const override {}
    void ReadCoded(TQvtBitStream& bits, const TQvtCodeTables& tables) override;
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

    void CountValues(TQvtCodeTables& tables) const override;
    void Apply(TQvtPatchOutput& output, TQvtPatchSource& old, int versionIndex,
               std::int32_t& position) const override;
    void WriteTo(TQvtTaggedWriter& writer) const override;
    void ReadFrom(TQvtTaggedReader& reader) override;
    void WritePlain(TQvtBitStream& bits) const override;
    void ReadPlain(TQvtBitStream& bits) override;
    void WriteCoded(TQvtBitStream& bits, const TQvtCodeTables& tables) const override;
    void WriteData(TQvtBitStream& bits) const override;
    void ReadCoded(TQvtBitStream& bits, const TQvtCodeTables& tables) override;
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

} // namespace upd::patch
