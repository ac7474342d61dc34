#include "patch/WritingPass.h"

#include <climits>

#include "base/Exception.h"
#include "base/Memory.h"
#include "patch/InstructionRecord.h"
#include "patch/PatchLimits.h"

namespace upd::patch {

namespace {

// Literal bytes and recorded numbers already used are given back in steps of
// this size.
constexpr std::size_t kDiscardStep = 256 * 1024;

// The loop over the instructions from `from` up to `end` that `next` hands
// out (length, and for a Copy the offset of the version applied), whatever
// decoded them; `used` hears of the literal bytes written up to a point.
template <class TNext, class TUsed, class TTell>
void WriteEach(TQvtWriteFrom from, std::int32_t end, TNext&& next, const std::uint8_t* literal,
               TQvtPatchOutput& output, TQvtPatchSource& old, TUsed&& used, TTell&& tell)
{
    const std::int64_t oldSize = old.Size();
    std::int32_t position = from.Position;
    for (std::int32_t k = from.First; k < end; ++k) {
        if (k % kProgressStep == 0 && k > from.First)
            tell(k);
        std::int32_t offset = 0;
        const std::int32_t length = next(k, offset);
        if (k % 2 == 1) {
            if (length > 0) {
                output.Write(literal, static_cast<std::size_t>(length));
                literal += length;
                used(literal);
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

// Gives the bytes before a point back in steps of kDiscardStep.
class TDiscarder {
public:
    explicit TDiscarder(const std::uint8_t* from) noexcept : m_kept(from) {}
    /// The bytes before `at` are used; returns how many were given back now.
    std::size_t Used(const std::uint8_t* at) noexcept
    {
        const auto bytes = static_cast<std::size_t>(at - m_kept);
        if (bytes < kDiscardStep)
            return 0;
        const bool given = DiscardPages(const_cast<std::uint8_t*>(m_kept), bytes);
        m_kept = at;
        return given ? bytes : 0;
    }

private:
    const std::uint8_t* m_kept;
};

} // namespace

void WriteFromCodes(const TQvtCodeTables& tables, int versions, const std::uint8_t* image, std::size_t size,
                    std::uint64_t codeStart, std::size_t literalStart, std::int32_t count, TQvtPatchOutput& output,
                    TQvtPatchSource& old, int versionIndex, TQvtUnPatchProgress* progress)
{
    TQvtBitReader bits(image, size, codeStart);
    auto next = [&](std::int32_t k, std::int32_t& offset) {
        return k % 2 == 1 ? ReadDumpCode(tables, bits) : ReadCopyCode(tables, bits, versions, versionIndex, offset);
    };
    auto tell = [&](std::int32_t k) {
        if (progress)
            progress->Applied(k, count);
    };
    WriteEach(TQvtWriteFrom{}, count, next, image + literalStart, output, old, [](const std::uint8_t*) {}, tell);
    tell(count);
}

void WriteRecordedPart(const std::uint8_t* numbers, TQvtWriteFrom from, std::int32_t end, std::uint8_t* literal,
                       TQvtPatchOutput& output, TQvtPatchSource& old, const std::function<void(std::int32_t)>& tell)
{
    TQvtRecordReader reader(numbers);
    TDiscarder usedNumbers(numbers);
    auto next = [&](std::int32_t k, std::int32_t& offset) {
        usedNumbers.Used(reader.At());
        if (k % 2 == 0)
            offset = reader.GetSigned();
        return static_cast<std::int32_t>(reader.Get());
    };
    TDiscarder usedLiterals(literal);
    auto used = [&](const std::uint8_t* at) {
        if (const std::size_t given = usedLiterals.Used(at))
            old.MayUseMore(given);
    };
    WriteEach(from, end, next, literal, output, old, used, tell);
}

} // namespace upd::patch
