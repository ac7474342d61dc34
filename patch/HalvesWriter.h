// Writing a large new file in two halves at once, from the numbers the
// checking pass recorded: the calling thread writes the first half, a second
// thread, with an output and a reader of the old file of its own, the second.
//
// Under Wine the writing pass of a large file is mostly the system's time per
// read of the old file, and the two halves take it on two processors (the
// update stage's patches of mostly copied runs were written in about half the
// time; docs/benchmarks.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <thread>

#include "patch/InstructionRecord.h"
#include "patch/PatchIo.h"
#include "patch/WritingPass.h"

namespace upd::patch {

/// New files of this size or more are written in halves (for smaller ones a
/// thread costs more than half of their writing).
inline constexpr std::int64_t kHalvesFrom = 4 * 1024 * 1024;

/// Writes the new file of `outputSize` bytes in two halves at once, from the
/// `count` instructions `record` holds, with the literal bytes from `literal`
/// on. False, with nothing written, when the output or the old file cannot be
/// shared so (TQvtPatchOutput::Beside, TQvtPatchSource::Beside) or no second
/// thread can be had: the caller then writes the whole file itself.
/// Progress counts the instructions of both halves and is told on the calling
/// thread. A failure of the first half stops the second and is the one
/// raised; the second half's is raised only once the first has ended without
/// one: the failure a single thread would meet first. Whatever either half
/// raises (a cancel from `progress`, std::bad_alloc) passes through as it is.
bool WriteInHalves(const TQvtInstructionRecord& record, std::int32_t count, std::uint8_t* literal,
                   std::int64_t outputSize, TQvtPatchOutput& output, TQvtPatchSource& old,
                   TQvtUnPatchProgress* progress);

/// How the second half's thread is started: std::thread's own way, which
/// raises std::system_error when the system has no thread to give.
using TQvtThreadStart = std::thread (*)(std::function<void()> run);
/// Puts `start` in place of the way threads are started, and returns the way
/// before; tests use it to show the path where no thread can be had.
TQvtThreadStart ReplaceThreadStart(TQvtThreadStart start) noexcept;

} // namespace upd::patch
