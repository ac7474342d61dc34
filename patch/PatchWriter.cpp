#include "patch/PatchWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <zlib.h>
#ifdef UPD_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include "base/Exception.h"
#include "patch/Differ.h"
#include "patch/PatchHeader.h"
#include "patch/TableCoding.h"

namespace upd::patch {

namespace {

// Longer runs are split so that every length stays far inside 32 bits.
constexpr std::size_t kMaxRun = std::size_t{1} << 30;

// A set needs two distinct values before its tree can be built; the one added
// here is never written by an instruction.
void MakeBuildable(TQvtHuffmanValueSet& set)
{
    if (set.Count() == 0) {
        set.Add(0, 1);
        set.Add(1, 1);
    } else if (set.Count() == 1) {
        set.Add(set.Value(0) == 0 ? 1 : 0, 1);
    }
}

// The numbers a table is written with: the count, then the first value and its
// weight, then each further value as the difference to the one before.
std::vector<std::int32_t> TableNumbers(const TQvtHuffmanValueSet& set)
{
    std::vector<std::int32_t> numbers;
    for (int i = 0; i < set.Count(); ++i) {
        std::int32_t value = set.Value(i);
        if (i > 0)
            value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) -
                                              static_cast<std::uint32_t>(set.Value(i - 1)));
        if (value == INT32_MIN)
            throw Exception("Valorile tabelei nu pot fi scrise in patch");
        numbers.push_back(value);
        numbers.push_back(set.Weight(i));
    }
    return numbers;
}

// A length-coded number with a symbol at least as wide as the number.
void WriteWithSymbol(TQvtBitStream& bits, const TQvtHuffmanValueSet& lengthCodes, std::int32_t symbol,
                     std::int32_t value)
{
    lengthCodes.WriteCode(bits, symbol);
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    for (std::int32_t i = 0; i < (symbol < 0 ? -symbol : symbol); ++i)
        bits.WriteBit(i < 32 && ((magnitude >> i) & 1));
}

void AddCopy(TQvtUnPatchEngine& engine, std::size_t length, std::vector<std::int32_t> offsets)
{
    engine.Add(std::make_unique<TQvtUnPatchCopyInstruction>(static_cast<std::int32_t>(length), std::move(offsets)));
}

// Turns the runs into instructions that alternate Copy, Dump, Copy, ...
class TInstructionBuilder {
public:
    TInstructionBuilder(TQvtUnPatchEngine& engine, TQvtBytes newFile, std::size_t versions)
        : m_engine(engine), m_new(newFile), m_positions(versions, 0)
    {
    }

    void Copy(const TQvtMatch& match)
    {
        std::size_t done = 0;
        while (done < match.length) {
            std::size_t length = std::min(kMaxRun, match.length - done);
            if (!m_copyNext)
                m_engine.Add(std::make_unique<TQvtUnPatchDumpInstruction>());
            std::vector<std::int32_t> offsets;
            for (std::size_t v = 0; v < m_positions.size(); ++v) {
                std::int64_t source = static_cast<std::int64_t>(match.sources[v] + done);
                offsets.push_back(static_cast<std::int32_t>(source - m_positions[v]));
                m_positions[v] = source;
            }
            AddCopy(m_engine, length, std::move(offsets));
            m_copyNext = false;
            done += length;
        }
    }

    void Dump(std::size_t start, std::size_t end)
    {
        while (start < end) {
            std::size_t length = std::min(kMaxRun, end - start);
            if (m_copyNext)
                AddCopy(m_engine, 0, std::vector<std::int32_t>(m_positions.size(), 0));
            m_engine.Add(std::make_unique<TQvtUnPatchDumpInstruction>(
                std::vector<std::uint8_t>(m_new.begin() + static_cast<std::ptrdiff_t>(start),
                                          m_new.begin() + static_cast<std::ptrdiff_t>(start + length))));
            m_copyNext = true;
            start += length;
        }
    }

private:
    TQvtUnPatchEngine& m_engine;
    TQvtBytes m_new;
    std::vector<std::int64_t> m_positions;
    bool m_copyNext = true;
};

} // namespace

std::vector<std::uint8_t> WritePatchImage(TQvtUnPatchEngine& engine)
{
    // The values are counted aside: the three tables' weights are their counts,
    // the LengthCodes symbols are chosen from the numbers the tables write.
    TQvtCodeTables counter;
    for (int i = 0; i < engine.Count(); ++i)
        engine.Instructions(i).CountValues(counter);
    TQvtHuffmanValueSet* counted[] = {&counter.CopyLengths, &counter.CopyOffsets, &counter.DumpLengths};
    TQvtHuffmanValueSet* tables[] = {&engine.CopyLengths, &engine.CopyOffsets, &engine.DumpLengths};
    std::vector<std::vector<std::int32_t>> numbers;
    std::vector<std::int32_t> allNumbers;
    for (std::size_t t = 0; t < 3; ++t) {
        MakeBuildable(*counted[t]);
        for (int i = 0; i < counted[t]->Count(); ++i)
            tables[t]->Add(counted[t]->Value(i), counted[t]->Weight(i));
        numbers.push_back(TableNumbers(*tables[t]));
        allNumbers.insert(allNumbers.end(), numbers.back().begin(), numbers.back().end());
    }
    TQvtLengthCoding lengthCoding = ChooseLengthCoding(allNumbers);
    for (const auto& [symbol, weight] : lengthCoding.Table)
        engine.LengthCodes.Add(symbol, weight);
    engine.LengthCodes.BuildTree();
    for (auto* table : tables)
        table->BuildTree();

    TQvtTaggedWriter header;
    header.WriteText(kPatchMagic);
    header.WriteText(JoinLines(engine.Versions));
    header.WriteText(engine.Note);
    header.WriteInteger(engine.Count());

    TQvtMemoryStream stream;
    stream.Write(header.Data().data(), header.Data().size());
    {
        TQvtBitStream bits(stream);
        bits.WriteNumber(engine.LengthCodes.Count());
        for (int i = 0; i < engine.LengthCodes.Count(); ++i) {
            bits.WriteNumber(engine.LengthCodes.Value(i));
            bits.WriteNumber(engine.LengthCodes.Weight(i));
        }
        std::size_t k = 0;
        for (std::size_t t = 0; t < numbers.size(); ++t) {
            bits.WriteNumber(tables[t]->Count());
            for (std::int32_t number : numbers[t])
                WriteWithSymbol(bits, engine.LengthCodes, lengthCoding.Symbols[k++], number);
        }
        for (int i = 0; i < engine.Count(); ++i)
            engine.Instructions(i).WriteCoded(bits, engine);
        bits.Flush();
        for (int i = 0; i < engine.Count(); ++i)
            engine.Instructions(i).WriteData(bits);
    }
    return stream.Release();
}

std::vector<std::uint8_t> CompressPatchImage(const std::vector<std::uint8_t>& image)
{
#ifdef UPD_HAVE_LIBDEFLATE
    // Its slowest level searches every block split and match length; on a patch
    // image it still runs faster than zlib's best level and writes 2-4% less.
    struct TFree {
        void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
    };
    std::unique_ptr<libdeflate_compressor, TFree> compressor(libdeflate_alloc_compressor(12));
    if (!compressor)
        throw Exception("Error");
    std::vector<std::uint8_t> out(libdeflate_zlib_compress_bound(compressor.get(), image.size()));
    std::size_t size =
        libdeflate_zlib_compress(compressor.get(), image.data(), image.size(), out.data(), out.size());
    if (size == 0)
        throw Exception("Error");
    out.resize(size);
    return out;
#else
    uLongf size = compressBound(static_cast<uLong>(image.size()));
    std::vector<std::uint8_t> out(size);
    if (compress2(out.data(), &size, image.data(), static_cast<uLong>(image.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw Exception("Error");
    out.resize(size);
    return out;
#endif
}

std::vector<std::uint8_t> MakePatchFile(const std::vector<TQvtBytes>& oldFiles, TQvtBytes newFile,
                                        const std::vector<std::string>& versions, const std::string& note)
{
    if (oldFiles.empty() || versions.size() != oldFiles.size())
        throw Exception("Un patch are nevoie de cel putin o versiune veche, fiecare cu numele ei");
    for (const auto& name : versions)
        if (name.find_first_of("\r\n") != std::string::npos)
            throw Exception("Numele unei versiuni nu poate contine sfarsit de rand");
    for (const auto& old : oldFiles)
        if (old.size() > INT32_MAX)
            throw Exception("Fisierul vechi este prea mare pentru un patch");
    if (newFile.size() > INT32_MAX)
        throw Exception("Fisierul nou este prea mare pentru un patch");

    TQvtUnPatchEngine engine;
    engine.Versions = versions;
    engine.Note = note;
    TInstructionBuilder builder(engine, newFile, oldFiles.size());
    std::size_t at = 0;
    for (const auto& match : FindMatches(oldFiles, newFile)) {
        builder.Dump(at, match.newStart);
        builder.Copy(match);
        at = match.newStart + match.length;
    }
    builder.Dump(at, newFile.size());
    return CompressPatchImage(WritePatchImage(engine));
}

} // namespace upd::patch
