// The Copy and Dump instructions: their coded, plain and tagged forms, their
// listing, and what each appends to the new file.
#include "patch/Instructions.h"

#include <algorithm>

#include "base/Exception.h"
#include "patch/PatchHeader.h"
#include "patch/PatchLimits.h"

namespace upd::patch {

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

void TQvtUnPatchCopyInstruction::CountValues(TQvtCodeTables& tables) const
{
    tables.CopyLengths.Add(m_length, 1);
    if (m_form == TForm::Shared) {
        tables.CopyOffsets.Add(m_first, m_versionCount);
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
        tables.CopyOffsets.Add(offsets[i], static_cast<std::int32_t>(j - i));
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
    if (m_length == 0) {
        // No run to read: only the position moves, wherever it lands.
        position = WrapAdd(position, Offset(versionIndex));
        return;
    }
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

void TQvtUnPatchCopyInstruction::WriteCoded(TQvtBitStream& bits, const TQvtCodeTables& tables) const
{
    tables.CopyLengths.WriteCode(bits, m_length);
    WriteOffsets(bits, [&](std::int32_t value) { tables.CopyOffsets.WriteCode(bits, value); }, m_versionCount);
}

void TQvtUnPatchCopyInstruction::ReadCoded(TQvtBitStream& bits, const TQvtCodeTables& tables)
{
    m_length = tables.CopyLengths.Decode(bits);
    if (m_length < 0)
        throw Exception(Format(kNegativeLength, m_length));
    ReadOffsets(bits, [&] { return tables.CopyOffsets.Decode(bits); }, std::min(m_versionCount, 3));
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

void TQvtUnPatchDumpInstruction::CountValues(TQvtCodeTables& tables) const { tables.DumpLengths.Add(m_length, 1); }

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

void TQvtUnPatchDumpInstruction::WriteCoded(TQvtBitStream& bits, const TQvtCodeTables& tables) const
{
    tables.DumpLengths.WriteCode(bits, m_length);
}

void TQvtUnPatchDumpInstruction::WriteData(TQvtBitStream& bits) const
{
    if (m_length > 0)
        bits.WriteRaw(m_bytes.data(), m_bytes.size);
}

void TQvtUnPatchDumpInstruction::ReadCoded(TQvtBitStream& bits, const TQvtCodeTables& tables)
{
    m_length = tables.DumpLengths.Decode(bits);
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

} // namespace upd::patch
