#include "patch/UnPatchEngine.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "base/Exception.h"
#include "base/File.h"
#include "patch/PatchHeader.h"

namespace upd::patch {

namespace {

constexpr const char* kNegativeLength = "Patch deteriorat: lungime negativa (%d)";
constexpr const char* kMissingLiterals = "Patch deteriorat: lipsesc octetii unei instructiuni Dump (%d)";
constexpr const char* kOutsideOld = "Patch deteriorat: copiere in afara fisierului vechi (pozitia %d)";
constexpr const char* kNoVersions = "Patch-ul nu numeste nicio versiune veche";
constexpr const char* kBadVersionIndex = "Versiunea %d nu este acoperita de patch";

std::int32_t WrapAdd(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

} // namespace

std::int32_t LengthSymbol(std::int32_t value)
{
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    std::int32_t bits = 0;
    while (bits < 32 && (magnitude >> bits) != 0)
        ++bits;
    return value < 0 ? -bits : bits;
}

std::int32_t ReadLengthCoded(TQvtBitStream& bits, const TQvtHuffmanValueSet& lengthCodes)
{
    std::int32_t symbol = lengthCodes.Decode(bits);
    std::uint32_t count = symbol < 0 ? 0u - static_cast<std::uint32_t>(symbol) : static_cast<std::uint32_t>(symbol);
    // Bits of weight 2^32 and above drop out, as in 32-bit arithmetic.
    std::uint32_t magnitude = static_cast<std::uint32_t>(bits.ReadBitsLsbFirst(std::min<std::uint32_t>(count, 32)));
    for (std::uint32_t i = 32; i < count; ++i)
        bits.ReadBit();
    return static_cast<std::int32_t>(symbol < 0 ? 0u - magnitude : magnitude);
}

void WriteLengthCoded(TQvtBitStream& bits, const TQvtHuffmanValueSet& lengthCodes, std::int32_t value)
{
    std::int32_t symbol = LengthSymbol(value);
    lengthCodes.WriteCode(bits, symbol);
    std::uint32_t magnitude = value < 0 ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    for (std::int32_t i = 0; i < (symbol < 0 ? -symbol : symbol); ++i)
        bits.WriteBit((magnitude >> i) & 1);
}

// ---- Copy ----------------------------------------------------------------

TQvtUnPatchCopyInstruction::TQvtUnPatchCopyInstruction(int versionCount) : m_versionCount(versionCount) {}

TQvtUnPatchCopyInstruction::TQvtUnPatchCopyInstruction(std::int32_t length, std::vector<std::int32_t> offsets)
    : m_length(length), m_versionCount(static_cast<int>(offsets.size()))
{
    SetOffsets(std::move(offsets));
}

void TQvtUnPatchCopyInstruction::SetOffsets(std::vector<std::int32_t> offsets)
{
    m_versionCount = static_cast<int>(offsets.size());
    m_takesFirst.clear();
    m_each.clear();
    if (offsets.empty()) {
        m_form = TForm::Shared;
        m_first = 0;
        return;
    }
    std::int32_t first = offsets[0];
    auto other = std::find_if(offsets.begin(), offsets.end(), [&](std::int32_t v) { return v != first; });
    if (other == offsets.end()) {
        m_form = TForm::Shared;
        m_first = first;
        return;
    }
    std::int32_t second = *other;
    if (std::all_of(offsets.begin(), offsets.end(), [&](std::int32_t v) { return v == first || v == second; })) {
        m_form = TForm::Pair;
        m_first = first;
        m_second = second;
        for (std::int32_t v : offsets)
            m_takesFirst.push_back(v == first);
        return;
    }
    m_form = TForm::Each;
    m_each = std::move(offsets);
}

std::int32_t TQvtUnPatchCopyInstruction::Offset(int versionIndex) const
{
    switch (m_form) {
    case TForm::Shared:
        return m_first;
    case TForm::Pair:
        return m_takesFirst[static_cast<std::size_t>(versionIndex)] ? m_first : m_second;
    case TForm::Two:
        return versionIndex == 0 ? m_first : m_second;
    case TForm::Each:
        break;
    }
    return m_each[static_cast<std::size_t>(versionIndex)];
}

void TQvtUnPatchCopyInstruction::CountValues(TQvtUnPatchEngine& engine) const
{
    engine.CopyLengths.Add(m_length, 1);
    if (m_form == TForm::Shared) {
        engine.CopyOffsets.Add(m_first, m_versionCount);
        return;
    }
    std::vector<std::int32_t> offsets;
    for (int v = 0; v < m_versionCount; ++v)
        offsets.push_back(Offset(v));
    std::sort(offsets.begin(), offsets.end());
    for (std::size_t i = 0; i < offsets.size();) {
        std::size_t j = i;
        while (j < offsets.size() && offsets[j] == offsets[i])
            ++j;
        engine.CopyOffsets.Add(offsets[i], static_cast<std::int32_t>(j - i));
        i = j;
    }
}

void TQvtUnPatchCopyInstruction::Apply(TQvtPatchOutput& output, TQvtPatchSource& old, int versionIndex,
                                       std::int32_t& position) const
{
    if (versionIndex < 0 || versionIndex >= m_versionCount)
        throw Exception(Format(kBadVersionIndex, versionIndex));
    if (m_length < 0)
        throw Exception(Format(kNegativeLength, m_length));
    std::int64_t start = static_cast<std::int64_t>(position) + Offset(versionIndex);
    if (start < 0 || start > INT32_MAX || start + m_length > old.Size())
        throw Exception(Format(kOutsideOld, start));
    position = static_cast<std::int32_t>(start);
    old.CopyTo(start, static_cast<std::size_t>(m_length), output);
}

void TQvtUnPatchCopyInstruction::WriteTo(TQvtTaggedWriter& writer) const
{
    writer.WriteInteger(m_length);
    writer.WriteInteger(m_versionCount);
    for (int v = 0; v < m_versionCount; ++v)
        writer.WriteInteger(Offset(v));
}

void TQvtUnPatchCopyInstruction::ReadFrom(TQvtTaggedReader& reader)
{
    m_length = reader.ReadInteger();
    std::int32_t count = reader.ReadInteger();
    std::vector<std::int32_t> offsets;
    for (std::int32_t v = 0; v < count; ++v)
        offsets.push_back(reader.ReadInteger()); // each read fails at the end of the data
    SetOffsets(std::move(offsets));
}

template <class TRead>
void TQvtUnPatchCopyInstruction::ReadOffsets(TQvtBitStream& bits, TRead read, int layout)
{
    m_takesFirst.clear();
    m_each.clear();
    if (m_versionCount <= 0)
        throw Exception(kNoVersions);
    if (layout == 1 || (layout == 2 && bits.ReadBit())) {
        m_form = TForm::Shared;
        m_first = read();
    } else if (layout == 2) {
        m_form = TForm::Two;
        m_first = read();
        m_second = read();
    } else if (!bits.ReadBit()) {
        m_form = TForm::Each;
        for (int v = 0; v < m_versionCount; ++v)
            m_each.push_back(read());
    } else if (bits.ReadBit()) {
        m_form = TForm::Shared;
        m_first = read();
    } else {
        m_form = TForm::Pair;
        m_first = read();
        m_second = read();
        for (int v = 0; v < m_versionCount; ++v)
            m_takesFirst.push_back(bits.ReadBit());
    }
}

template <class TWrite>
void TQvtUnPatchCopyInstruction::WriteOffsets(TQvtBitStream& bits, TWrite write, int layout) const
{
    if (layout == 1) {
        write(m_first);
        return;
    }
    if (m_form == TForm::Shared) {
        if (layout >= 3)
            bits.WriteBit(true);
        bits.WriteBit(true);
        write(m_first);
    } else if (m_form == TForm::Pair && layout >= 3) {
        bits.WriteBit(true);
        bits.WriteBit(false);
        write(m_first);
        write(m_second);
        for (bool first : m_takesFirst)
            bits.WriteBit(first);
    } else {
        bits.WriteBit(false);
        for (int v = 0; v < m_versionCount; ++v)
            write(Offset(v));
    }
}

void TQvtUnPatchCopyInstruction::WritePlain(TQvtBitStream& bits) const
{
    bits.WriteNumber(m_length);
    // The plain form uses the layout for three or more versions whatever V is.
    WriteOffsets(bits, [&](std::int32_t value) { bits.WriteNumber(value); }, 3);
}

void TQvtUnPatchCopyInstruction::ReadPlain(TQvtBitStream& bits)
{
    m_length = bits.ReadNumber();
    ReadOffsets(bits, [&] { return bits.ReadNumber(); }, 3);
}

void TQvtUnPatchCopyInstruction::WriteCoded(TQvtBitStream& bits, const TQvtUnPatchEngine& engine) const
{
    engine.CopyLengths.WriteCode(bits, m_length);
    WriteOffsets(bits, [&](std::int32_t value) { engine.CopyOffsets.WriteCode(bits, value); }, m_versionCount);
}

void TQvtUnPatchCopyInstruction::ReadCoded(TQvtBitStream& bits, const TQvtUnPatchEngine& engine)
{
    m_length = engine.CopyLengths.Decode(bits);
    if (m_length < 0)
        throw Exception(Format(kNegativeLength, m_length));
    ReadOffsets(bits, [&] { return engine.CopyOffsets.Decode(bits); }, std::min(m_versionCount, 3));
}

void TQvtUnPatchCopyInstruction::ListTo(std::vector<std::string>& lines) const
{
    lines.push_back("Copy " + std::to_string(m_length));
    std::string text;
    for (int v = 0; v < m_versionCount; ++v) {
        if (v > 0)
            text += ' ';
        text += std::to_string(Offset(v));
    }
    lines.push_back(text);
}

// ---- Dump ----------------------------------------------------------------

TQvtUnPatchDumpInstruction::TQvtUnPatchDumpInstruction(std::vector<std::uint8_t> bytes)
    : m_length(static_cast<std::int32_t>(bytes.size()))
{
    std::size_t size = bytes.size();
    m_bytes = TQvtSharedBytes{std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)), 0, size};
}

void TQvtUnPatchDumpInstruction::TakeBytes(TQvtSharedBytes bytes)
{
    if (bytes.size != static_cast<std::size_t>(m_length))
        throw Exception(Format(kMissingLiterals, m_length));
    m_bytes = std::move(bytes);
}

void TQvtUnPatchDumpInstruction::CountValues(TQvtUnPatchEngine& engine) const { engine.DumpLengths.Add(m_length, 1); }

void TQvtUnPatchDumpInstruction::Apply(TQvtPatchOutput& output, TQvtPatchSource&, int, std::int32_t&) const
{
    if (m_length > 0)
        output.Write(m_bytes.data(), m_bytes.size);
}

void TQvtUnPatchDumpInstruction::WriteTo(TQvtTaggedWriter& writer) const
{
    writer.WriteInteger(m_length);
    writer.WriteRaw(m_bytes.data(), m_bytes.size);
}

void TQvtUnPatchDumpInstruction::ReadFrom(TQvtTaggedReader& reader)
{
    m_length = reader.ReadInteger();
    if (m_length < 0)
        throw Exception(Format(kNegativeLength, m_length));
    *this = TQvtUnPatchDumpInstruction(reader.ReadRaw(static_cast<std::size_t>(m_length)));
}

void TQvtUnPatchDumpInstruction::WritePlain(TQvtBitStream& bits) const
{
    bits.WriteNumber(m_length);
    bits.WriteRaw(m_bytes.data(), m_bytes.size);
}

void TQvtUnPatchDumpInstruction::ReadPlain(TQvtBitStream& bits)
{
    m_length = bits.ReadNumber();
    if (m_length < 0)
        throw Exception(Format(kNegativeLength, m_length));
    TakeBytes(bits.ReadRawShared(static_cast<std::size_t>(m_length)));
}

void TQvtUnPatchDumpInstruction::WriteCoded(TQvtBitStream& bits, const TQvtUnPatchEngine& engine) const
{
    engine.DumpLengths.WriteCode(bits, m_length);
}

void TQvtUnPatchDumpInstruction::WriteData(TQvtBitStream& bits) const
{
    if (m_length > 0)
        bits.WriteRaw(m_bytes.data(), m_bytes.size);
}

void TQvtUnPatchDumpInstruction::ReadCoded(TQvtBitStream& bits, const TQvtUnPatchEngine& engine)
{
    m_length = engine.DumpLengths.Decode(bits);
    if (m_length < 0)
        throw Exception(Format(kNegativeLength, m_length));
    // The bytes come later from the literal section; nothing is allocated here,
    // so a huge length in a damaged patch costs nothing until it is checked.
    m_bytes = TQvtSharedBytes{};
}

void TQvtUnPatchDumpInstruction::ReadData(TQvtBitStream& bits)
{
    if (m_length <= 0)
        return;
    if (bits.RawRemaining() < static_cast<std::size_t>(m_length))
        throw Exception(Format(kMissingLiterals, m_length));
    TakeBytes(bits.ReadRawShared(static_cast<std::size_t>(m_length)));
}

void TQvtUnPatchDumpInstruction::ListTo(std::vector<std::string>& lines) const
{
    static const char kHex[] = "0123456789ABCDEF";
    lines.push_back("Dump " + std::to_string(m_length));
    std::string line;
    const std::uint8_t* bytes = m_bytes.data();
    for (std::size_t i = 0; i < m_bytes.size; ++i) {
        line += kHex[bytes[i] >> 4];
        line += kHex[bytes[i] & 15];
        if (line.size() > 128) {
            lines.push_back(line);
            line.clear();
        }
    }
    lines.push_back(line);
}

// ---- Engine --------------------------------------------------------------

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
    TCursor cursor(m_image, VersionCount());
    Rewind(cursor);
    for (std::int32_t k = 0; k < m_count; ++k)
        Next(cursor).Apply(output, old, versionIndex, position);
}

void TQvtUnPatchEngine::ReadValueTable(TQvtBitStream& bits, TQvtHuffmanValueSet& set)
{
    std::int32_t count = bits.ReadNumber();
    std::int32_t value = ReadLengthCoded(bits, LengthCodes);
    set.Add(value, ReadLengthCoded(bits, LengthCodes));
    for (std::int32_t i = 1; i < count; ++i) {
        value = WrapAdd(value, ReadLengthCoded(bits, LengthCodes));
        set.Add(value, ReadLengthCoded(bits, LengthCodes));
    }
}

void TQvtUnPatchEngine::LoadFromFile(const std::string& path) { LoadFromImage(InflatePatchFile(path), path); }

void TQvtUnPatchEngine::LoadFromImage(std::vector<std::uint8_t> image, const std::string& path)
{
    m_image = std::make_shared<std::vector<std::uint8_t>>(std::move(image));
    std::int32_t count;
    TCursor cursor(m_image, 0);
    {
        TQvtTaggedReader header(m_image->data(), m_image->size());
        if (header.ReadText() != kPatchMagic)
            throw Exception(Format("Fisierul \"%s\" a fost modificat si nu mai poate fi utilizat.", path));
        Versions = SplitLines(header.ReadText());
        Note = header.ReadText();
        count = header.ReadInteger();
        cursor.stream.Seek(header.Position());
    }
    TQvtBitStream& bits = cursor.bits;
    cursor.copy = TQvtUnPatchCopyInstruction(VersionCount());

    std::int32_t pairs = bits.ReadNumber();
    for (std::int32_t i = 0; i < pairs; ++i) {
        std::int32_t value = bits.ReadNumber();
        LengthCodes.Add(value, bits.ReadNumber());
    }
    LengthCodes.BuildTree();
    ReadValueTable(bits, CopyLengths);
    ReadValueTable(bits, CopyOffsets);
    ReadValueTable(bits, DumpLengths);
    CopyLengths.BuildTree();
    CopyOffsets.BuildTree();
    DumpLengths.BuildTree();

    // Decode every instruction once now, so that a damaged patch fails here
    // and not halfway through writing a file. Every instruction takes at least
    // one bit, so a count beyond the bits that remain ends in the end-of-data
    // error without any reservation.
    m_codeStart = bits.BitPosition();
    std::uint64_t literals = 0;
    for (std::int32_t k = 0; k < count; ++k)
        if (k % 2 == 1)
            literals += static_cast<std::uint64_t>(Next(cursor).Length());
        else
            Next(cursor);
    std::size_t literalStart = cursor.stream.Position();
    std::size_t remaining = m_image->size() - literalStart;
    if (literals > remaining) {
        // Name the first Dump whose bytes run past the end.
        Rewind(cursor);
        std::uint64_t used = 0;
        for (std::int32_t k = 0; k < count; ++k) {
            const auto& instruction = Next(cursor);
            if (k % 2 == 1 && (used += static_cast<std::uint64_t>(instruction.Length())) > remaining)
                throw Exception(Format(kMissingLiterals, instruction.Length()));
        }
    }
    m_count = count < 0 ? 0 : count;
    m_literalStart = literalStart;
    m_loaded = true;
    m_cursor.reset();
}

// ---- Inflating -----------------------------------------------------------

namespace {

class TInflater {
public:
    TInflater()
    {
        std::memset(&m_zs, 0, sizeof m_zs);
        if (inflateInit(&m_zs) != Z_OK)
            throw Exception("Error");
    }
    ~TInflater() { inflateEnd(&m_zs); }
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;

    /// Inflates one block of input; false once the stream has ended.
    bool Feed(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out)
    {
        m_zs.next_in = const_cast<Bytef*>(data);
        m_zs.avail_in = static_cast<uInt>(size);
        std::uint8_t piece[65536];
        while (m_zs.avail_in > 0) {
            m_zs.next_out = piece;
            m_zs.avail_out = sizeof piece;
            int rc = inflate(&m_zs, Z_NO_FLUSH);
            out.insert(out.end(), piece, piece + (sizeof piece - m_zs.avail_out));
            if (rc == Z_STREAM_END)
                return false;
            if (rc != Z_OK && rc != Z_BUF_ERROR)
                throw Exception("Error");
        }
        return true;
    }

private:
    z_stream m_zs;
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
    return "Cannot open file \"" + path + "\". " + text;
}

} // namespace

std::vector<std::uint8_t> InflatePatchFile(const std::string& path)
{
    TFile file;
    try {
        file = TFile(path, TFileMode::ReadShared);
    } catch (const EOSError& e) {
        throw EOSError(e.Code(), OpenErrorText(path, e));
    }
    TInflater inflater;
    std::vector<std::uint8_t> image;
    std::vector<std::uint8_t> block(65536);
    for (;;) {
        std::size_t got = file.Read(block.data(), block.size());
        if (got == 0 || !inflater.Feed(block.data(), got, image))
            break;
    }
    return image;
}

std::vector<std::uint8_t> InflateBytes(const std::uint8_t* data, std::size_t size)
{
    TInflater inflater;
    std::vector<std::uint8_t> image;
    if (size > 0)
        inflater.Feed(data, size, image);
    return image;
}

} // namespace upd::patch
