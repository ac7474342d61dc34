#include "patch/UnPatchEngine.h"

#include <algorithm>
#include <optional>

#include "base/Exception.h"
#include "base/File.h"
#include "base/Memory.h"
#include "patch/CheckingPass.h"
#include "patch/HalvesWriter.h"
#include "patch/InstructionRecord.h"

namespace upd::patch {

// Where Instructions(index) decodes: the instruction objects of a loaded
// patch, filled one at a time from its image.
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
    if (length > 0) {
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
    patch::CheckVersionIndex(VersionCount(), versionIndex);
}

void TQvtUnPatchEngine::Apply(TQvtPatchOutput& output, TQvtPatchSource& old, int versionIndex) const
{
    CheckVersionIndex(versionIndex);
    if (!m_loaded) {
        std::int32_t position = 0;
        for (const auto& instruction : m_instructions)
            instruction->Apply(output, old, versionIndex, position);
        return;
    }
    WriteFromCodes(*this, VersionCount(), m_image->data(), m_image->size(), m_codeStart, m_literalStart, m_count,
                   output, old, versionIndex, nullptr);
}

void TQvtUnPatchEngine::RefuseSecondLoad() const
{
    // One engine serves one patch: its sets are built once and refuse more
    // values. The refusal comes after the new patch was decoded aside, so
    // that nothing of the loaded one changes.
    if (AnyBuilt())
        throw Exception("Adaugi valori dupa ce ai construit reprezentarea arborescenta");
}

void TQvtUnPatchEngine::Commit(TQvtPatchLayout&& layout, std::shared_ptr<std::vector<std::uint8_t>> image) noexcept
{
    Versions = std::move(layout.Versions);
    Note = std::move(layout.Note);
    static_cast<TQvtCodeTables&>(*this) = std::move(layout.Tables);
    m_instructions.clear();
    m_image = std::move(image);
    m_count = std::max(layout.Count, 0);
    m_codeStart = layout.CodeStart;
    m_literalStart = layout.LiteralStart;
    m_outputSize = layout.OutputSize;
    m_loaded = true;
    m_cursor.reset();
}

void TQvtUnPatchEngine::LoadFromImage(std::vector<std::uint8_t> image, const std::string& path,
                                      const TQvtUnPatchLimits& limits)
{
    if (static_cast<std::int64_t>(image.size()) > limits.MaxImage())
        throw Exception(Format(kImageTooLarge, limits.MaxImage()));
    auto shared = std::make_shared<std::vector<std::uint8_t>>(std::move(image));
    TQvtPatchLayout layout = CheckPatchImage(shared->data(), shared->size(), true, path, limits);
    if (layout.Needed() > shared->size())
        NameMissingLiterals(shared->data(), shared->size(), layout);
    RefuseSecondLoad();
    Commit(std::move(layout), std::move(shared));
}

void TQvtUnPatchEngine::LoadFromFile(const TPath& fileName, const TQvtUnPatchLimits& limits)
{
    TFile file = OpenPatchFile(fileName);
    const std::string path = fileName.Text();
    const std::int64_t maxImage = limits.MaxImage();
    TQvtInflater inflater(static_cast<std::size_t>(std::min<std::int64_t>(maxImage, SIZE_MAX / 2)));
    // The image is checked while it is inflated: once the codes are complete
    // they tell exactly how many bytes the patch uses, and no more are kept.
    std::optional<TQvtPatchLayout> layout;
    std::size_t attemptAt = kFirstAttempt;
    std::vector<std::uint8_t> block(65536);
    for (;;) {
        if (inflater.InputUsed()) {
            std::size_t got = file.Read(block.data(), block.size());
            if (got == 0)
                break;
            inflater.Input(block.data(), got);
        }
        if (!inflater.Run(layout ? SIZE_MAX : attemptAt))
            break;
        if (layout || inflater.Size() < attemptAt)
            continue;
        try {
            layout = CheckPatchImage(inflater.Data(), inflater.Size(), false, path, limits);
        } catch (const Exception& e) {
            if (!WantsMoreBytes(e))
                throw;
            attemptAt = 2 * inflater.Size();
            continue;
        }
        if (layout->Needed() > static_cast<std::uint64_t>(maxImage))
            throw Exception(Format(kImageTooLarge, maxImage));
        inflater.Keep(static_cast<std::size_t>(layout->Needed()));
    }
    auto image = std::make_shared<std::vector<std::uint8_t>>(inflater.Take());
    if (!layout || image->size() < layout->Needed()) {
        layout = CheckPatchImage(image->data(), image->size(), true, path, limits);
        if (layout->Needed() > image->size())
            NameMissingLiterals(image->data(), image->size(), *layout);
    }
    RefuseSecondLoad();
    Commit(std::move(*layout), std::move(image));
}

// One pass of each kind over one block: the whole image is inflated first,
// then checked whole (recording each instruction for the version rebuilt),
// then written. Its faults come in the order loading and applying would
// raise them: what a first part of the image shows, then the stream's or the
// whole image's fault, missing literals, the version index, and only then a
// run outside the old file or a failed write.
void TQvtUnPatchEngine::ApplyFile(const TPath& patch, TQvtPatchSource& old, int versionIndex,
                                  TQvtPatchOutput& output, const TQvtUnPatchLimits& limits,
                                  TQvtUnPatchProgress* progress)
{
    const std::string path = patch.Text();
    TQvtGrowBuffer image;
    {
        TFile file = OpenPatchFile(patch);
        const auto maxSize = static_cast<std::size_t>(std::min<std::int64_t>(limits.MaxImage(), SIZE_MAX / 2));
        try {
            InflatePatchImage(file, maxSize, image);
        } catch (const Exception&) {
            RaiseAsLoading(image.Data(), image.Size, path, limits);
            throw;
        }
    }
    TQvtInstructionRecord record(versionIndex, image.Size);
    std::optional<TQvtPatchLayout> checked;
    try {
        checked.emplace(CheckPatchImage(image.Data(), image.Size, true, path, limits, &record));
    } catch (const Exception&) {
        RaiseAsLoading(image.Data(), image.Size, path, limits);
        throw;
    }
    TQvtPatchLayout& layout = *checked;
    if (layout.Needed() > static_cast<std::uint64_t>(limits.MaxImage()))
        RaiseAsLoading(image.Data(), image.Size, path, limits);
    if (layout.Needed() > image.Size)
        NameMissingLiterals(image.Data(), image.Size, layout);
    patch::CheckVersionIndex(static_cast<std::int64_t>(layout.Versions.size()), versionIndex);
    if (!record.Usable()) {
        WriteFromCodes(layout.Tables, static_cast<int>(layout.Versions.size()), image.Data(), image.Size,
                       layout.CodeStart, layout.LiteralStart, layout.Count, output, old, versionIndex, progress);
        return;
    }
    // The codes are read no more, so neither are the code tables, and the
    // image is this rebuild's alone.
    layout.Tables = TQvtCodeTables();
    DiscardPages(image.Data(), layout.LiteralStart);
    std::uint8_t* literal = image.Data() + layout.LiteralStart;
    if (layout.OutputSize >= kHalvesFrom &&
        WriteInHalves(record, layout.Count, literal, layout.OutputSize, output, old, progress))
        return;
    const std::int32_t count = layout.Count;
    auto tell = [&](std::int32_t k) {
        if (progress)
            progress->Applied(k, count);
    };
    WriteRecordedPart(record.Numbers(), TQvtWriteFrom{}, count, literal, output, old, tell);
    tell(count);
}

} // namespace upd::patch
