// The writing pass: the instructions of a checked patch applied in order,
// each Copy taking a run of the old file, each Dump its literal bytes, from a
// source position that starts at 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "patch/CodeTables.h"
#include "patch/InstructionRecord.h"
#include "patch/PatchIo.h"

namespace upd::patch {

/// Hears how far a rebuild has come; it may raise to stop it.
class TQvtUnPatchProgress {
public:
    virtual ~TQvtUnPatchProgress() = default;
    /// `done` of `count` instructions are written: called every few thousand
    /// instructions and once after the last.
    virtual void Applied(std::int32_t done, std::int32_t count) = 0;
};

/// Instructions between two progress reports.
inline constexpr std::int32_t kProgressStep = 4096;

/// Writes the `count` instructions whose codes start at bit `codeStart` of the
/// `size` bytes at `image` and whose literal bytes start at `literalStart`,
/// for old version `versionIndex`. The codes were checked before, so the
/// literal bytes are known to be there. A run outside the old file raises
/// kOutsideOld; the output's and the old file's failures pass through.
void WriteFromCodes(const TQvtCodeTables& tables, int versions, const std::uint8_t* image, std::size_t size,
                    std::uint64_t codeStart, std::size_t literalStart, std::int32_t count, TQvtPatchOutput& output,
                    TQvtPatchSource& old, int versionIndex, TQvtUnPatchProgress* progress);

/// Writes the instructions from `from` up to `end` from the numbers a
/// TQvtInstructionRecord holds for them (at `numbers`), with the literal bytes
/// from `literal` on. The numbers and the literal bytes are given back to the
/// system as they are used (they read as zeros afterwards), and the old file
/// may use as much more memory. `tell(k)` hears of every kProgressStep-th
/// instruction reached after the first; it may raise to stop. Raises as
/// WriteFromCodes.
void WriteRecordedPart(const std::uint8_t* numbers, TQvtWriteFrom from, std::int32_t end, std::uint8_t* literal,
                       TQvtPatchOutput& output, TQvtPatchSource& old, const std::function<void(std::int32_t)>& tell);

} // namespace upd::patch
