#include "patch/HalvesWriter.h"

#include <atomic>
#include <exception>
#include <memory>
#include <system_error>
#include <vector>

namespace upd::patch {

namespace {

std::thread StartThread(std::function<void()> run) { return std::thread(std::move(run)); }

std::atomic<TQvtThreadStart> g_threadStart{&StartThread};

// The second half's thread was told to stop: the first half failed.
struct TStopped {};

// Where the second half of the new file starts: at the first Copy once half
// of its bytes are made. The look starts from the last mark before that, so
// that only the numbers after it are read.
TQvtStartMark FindSecondHalf(const std::uint8_t* numbers, const std::vector<TQvtStartMark>& marks,
                             std::int32_t count, std::uint64_t half)
{
    TQvtStartMark found{};
    for (const TQvtStartMark& mark : marks) {
        if (mark.Written >= half)
            break;
        found = mark;
    }
    TQvtRecordReader reader(numbers + found.At);
    std::int32_t k = found.From.First;
    for (; k < count; ++k) {
        if (k % 2 == 1) {
            const std::uint32_t length = reader.Get();
            found.Literals += length;
            found.Written += length;
            continue;
        }
        if (found.Written >= half)
            break;
        // As the writing moves it; a run outside the old file stops the first
        // half, so what it would leave here does not matter.
        found.From.Position = WrapAdd(found.From.Position, reader.GetSigned());
        found.Written += reader.Get();
    }
    found.From.First = k;
    found.At = static_cast<std::size_t>(reader.At() - numbers);
    return found;
}

} // namespace

TQvtThreadStart ReplaceThreadStart(TQvtThreadStart start) noexcept { return g_threadStart.exchange(start); }

bool WriteInHalves(const TQvtInstructionRecord& record, std::int32_t count, std::uint8_t* literal,
                   std::int64_t outputSize, TQvtPatchOutput& output, TQvtPatchSource& old,
                   TQvtUnPatchProgress* progress)
{
    const std::uint8_t* numbers = record.Numbers();
    const TQvtStartMark second =
        FindSecondHalf(numbers, record.Marks(), count, static_cast<std::uint64_t>(outputSize) / 2);
    // The output first: a source gives up room to the reader it makes.
    std::unique_ptr<TQvtPatchOutput> secondOutput = output.Beside(static_cast<std::int64_t>(second.Written));
    if (!secondOutput)
        return false;
    std::unique_ptr<TQvtPatchSource> secondOld = old.Beside();
    if (!secondOld)
        return false;
    std::atomic<std::int32_t> secondDone{0}; // instructions of the second half written, as last told
    std::atomic<bool> stop{false};
    std::exception_ptr secondFailure;
    std::thread thread;
    try {
        thread = g_threadStart.load()([&] {
            try {
                WriteRecordedPart(numbers + second.At, second.From, count, literal + second.Literals, *secondOutput,
                                  *secondOld, [&](std::int32_t k) {
                                      if (stop.load(std::memory_order_relaxed))
                                          throw TStopped{};
                                      secondDone.store(k - second.From.First, std::memory_order_relaxed);
                                  });
                secondOutput->Flush();
            } catch (...) {
                // Handed to the calling thread, which raises it once the first
                // half has ended without a failure of its own.
                secondFailure = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        return false; // no thread to be had: nothing was written yet
    }
    try {
        WriteRecordedPart(numbers, TQvtWriteFrom{}, second.From.First, literal, output, old, [&](std::int32_t k) {
            if (progress)
                progress->Applied(k + secondDone.load(std::memory_order_relaxed), count);
        });
    } catch (...) {
        // Not handled here: the second half is stopped and the failure raised.
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

} // namespace upd::patch
