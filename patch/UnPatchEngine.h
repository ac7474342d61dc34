// The multi-version patch: a list of Copy and Dump instructions that rebuilds
// one new file from any of V known old versions.
//
// File layout: one zlib stream holding the patch image (PatchInflate.h); the
// image is a header, the code tables, the instruction codes and the literal
// bytes (CheckingPass.h).
//
// The units behind the engine, each with one purpose:
//   PatchLimits.h       what a patch may cost, and the damage messages
//   PatchInflate.h      inflating a patch file into one block
//   CheckingPass.h      header, tables and every instruction checked: a layout
//   CodeTables.h        the four value sets and the numbers coded with them
//   Instructions.h      the instruction objects (encoder, listing)
//   InstructionRecord.h what the checking pass keeps for the writing pass
//   WritingPass.h       the instructions applied to an old file
#pragma once

#include <cstdint>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "base/Path.h"
#include "patch/BitStream.h"
#include "patch/CodeTables.h"
#include "patch/Huffman.h"
#include "patch/Instructions.h"
#include "patch/PatchInflate.h"
#include "patch/PatchIo.h"
#include "patch/PatchLimits.h"
#include "patch/WritingPass.h"

namespace upd::patch {

struct TQvtPatchLayout;

/// One patch file's instructions, and its code tables (CopyLengths,
/// CopyOffsets, DumpLengths, LengthCodes) as its own fields.
class TQvtUnPatchEngine : public TQvtCodeTables {
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
    void RefuseSecondLoad() const;
    void Commit(TQvtPatchLayout&& layout, std::shared_ptr<std::vector<std::uint8_t>> image) noexcept;
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

} // namespace upd::patch
