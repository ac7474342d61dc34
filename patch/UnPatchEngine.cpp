#include "patch/UnPatchEngine.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "base/Exception.h"
#include "base/File.h"
#include "patch/PatchHeader.h"

namespace upd::patch {

// ---- Engine --------------------------------------------------------------

namespace {

// The hot loops decode the instruction codes straight from the image with the
// fast reader, without instruction objects; the checks and their order are
// those of the instructions' ReadCoded. `version` < 0 keeps no offset.
std::int32_t ReadCopy(const TQvtUnPatchEngine& engine, TQvtBitReader& bits, int versions, int version,
                      std::int32_t& offset)
{
    std::int32_t length = engine.CopyLengths.Decode(bits);
    if (length < 0)
        throw Exception(Format(kNegativeLength, length));
    if (versions <= 0)
        throw Exception(kNoVersions);
    const TQvtHuffmanValueSet& offsets = engine.CopyOffsets;
    if (versions == 1 || (versions == 2 && bits.ReadBit())) {
        offset = offsets.Decode(bits);
    } else if (versions == 2) {
        std::int32_t first = offsets.Decode(bits);
        std::int32_t second = offsets.Decode(bits);
        offset = version == 0 ? first : second;
    } else if (!bits.ReadBit()) {
        for (int v = 0; v < versions; ++v) {
            std::int32_t value = offsets.Decode(bits);
            if (v == version)
                offset = value;
        }
    } else if (bits.ReadBit()) {
        offset = offsets.Decode(bits);
    } else {
        std::int32_t first = offsets.Decode(bits);
        std::int32_t second = offsets.Decode(bits);
        for (int v = 0; v < versions; ++v) {
            bool takesFirst = bits.ReadBit();
            if (v == version)
                offset = takesFirst ? first : second;
        }
    }
    return length;
}

std::int32_t ReadDump(const TQvtUnPatchEngine& engine, TQvtBitReader& bits)
{
    std::int32_t length = engine.DumpLengths.Decode(bits);
    if (length < 0)
        throw Exception(Format(kNegativeLength, length));
    return length;
}

} // namespace

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
    const int versions = VersionCount();
    const std::int64_t oldSize = old.Size();
    TQvtBitReader bits(m_image->data(), m_image->size(), m_codeStart);
    const std::uint8_t* literal = m_image->data() + m_literalStart;
    for (std::int32_t k = 0; k < m_count; ++k) {
        if (k % 2 == 1) {
            // Loading checked that every Dump's bytes are there.
            std::int32_t length = ReadDump(*this, bits);
            if (length > 0) {
                output.Write(literal, static_cast<std::size_t>(length));
                literal += length;
            }
            continue;
        }
        std::int32_t offset = 0;
        std::int32_t length = ReadCopy(*this, bits, versions, versionIndex, offset);
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

void TQvtUnPatchEngine::ReadValueTable(TQvtBitReader& bits, TQvtHuffmanValueSet& set)
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
    cursor.copy = TQvtUnPatchCopyInstruction(VersionCount());
    TQvtBitReader bits(m_image->data(), m_image->size(), std::uint64_t{cursor.stream.Position()} * 8);

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
    CopyOffsets.ReleaseTree(); // by far the largest; the others are small
    DumpLengths.BuildTree();

    // Decode every instruction once now, so that a damaged patch fails here
    // and not halfway through writing a file. Every instruction takes at least
    // one bit, so a count beyond the bits that remain ends in the end-of-data
    // error without any reservation.
    m_codeStart = bits.BitPosition();
    std::uint64_t literals = 0;
    const int versions = VersionCount();
    for (std::int32_t k = 0; k < count; ++k) {
        if (k % 2 == 1) {
            literals += static_cast<std::uint64_t>(ReadDump(*this, bits));
        } else {
            std::int32_t offset = 0;
            ReadCopy(*this, bits, versions, -1, offset);
        }
    }
    std::size_t literalStart = bits.BytePosition();
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
    bool Feed(const std::uint8_t* data, std::size_t size)
    {
        m_zs.next_in = const_cast<Bytef*>(data);
        m_zs.avail_in = static_cast<uInt>(size);
        while (m_zs.avail_in > 0) {
            if (m_chunks.empty() || m_used == kChunkSize) {
                m_chunks.emplace_back(kChunkSize);
                m_used = 0;
            }
            m_zs.next_out = m_chunks.back().data() + m_used;
            m_zs.avail_out = static_cast<uInt>(kChunkSize - m_used);
            uInt before = m_zs.avail_in;
            int rc = inflate(&m_zs, Z_NO_FLUSH);
            std::size_t made = kChunkSize - m_used - m_zs.avail_out;
            m_used += made;
            if (rc == Z_STREAM_END)
                return false;
            if (rc != Z_OK && rc != Z_BUF_ERROR)
                throw Exception("Error");
            if (made == 0 && m_zs.avail_in == before)
                throw Exception("Error"); // no progress: never spin on it
        }
        return true;
    }

    /// The inflated bytes in one buffer; each piece is freed once copied, so
    /// the peak stays at the image and one piece.
    std::vector<std::uint8_t> Take()
    {
        std::size_t total = m_chunks.empty() ? 0 : (m_chunks.size() - 1) * kChunkSize + m_used;
        std::vector<std::uint8_t> image;
        image.reserve(total);
        for (std::size_t i = 0; i < m_chunks.size(); ++i) {
            std::size_t size = i + 1 == m_chunks.size() ? m_used : kChunkSize;
            image.insert(image.end(), m_chunks[i].begin(), m_chunks[i].begin() + static_cast<std::ptrdiff_t>(size));
            std::vector<std::uint8_t>().swap(m_chunks[i]);
        }
        m_chunks.clear();
        return image;
    }

private:
    static constexpr std::size_t kChunkSize = 1 << 20;
    z_stream m_zs;
    std::vector<std::vector<std::uint8_t>> m_chunks;
    std::size_t m_used = 0;
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
    // Windows adds "System Error.  Code: n." before the system's own text.
    if (text.rfind("System Error.", 0) == 0) {
        auto end = text.find('\n');
        text = end == std::string::npos ? std::string() : text.substr(end + 1);
    }
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
    std::vector<std::uint8_t> block(65536);
    for (;;) {
        std::size_t got = file.Read(block.data(), block.size());
        if (got == 0 || !inflater.Feed(block.data(), got))
            break;
    }
    return inflater.Take();
}

std::vector<std::uint8_t> InflateBytes(const std::uint8_t* data, std::size_t size)
{
    TInflater inflater;
    if (size > 0)
        inflater.Feed(data, size);
    return inflater.Take();
}

} // namespace upd::patch
