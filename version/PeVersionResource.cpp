#include "version/PeVersionResource.h"

#include <cstring>

namespace upd::version {

namespace {

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kVersionInfoId = 1;
// Resource trees are never deeper than this; the bound also stops loops.
constexpr int kMaxDirectoryEntries = 4096;
// A version block larger than this is not a version block.
constexpr std::uint32_t kMaxBlock = 1u << 20;

std::uint16_t U16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
std::uint32_t U32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8)
           | (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

struct TSection {
    std::uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

class TPeImage {
public:
    TPeImage(const TReadAt& read, std::uint64_t size) : m_read(read), m_size(size) {}

    bool Load()
    {
        std::uint8_t dos[64];
        if (!Read(0, sizeof dos, dos) || dos[0] != 'M' || dos[1] != 'Z')
            return false;
        std::uint32_t pe = U32(dos + 0x3C);
        std::uint8_t head[24];
        if (!Read(pe, sizeof head, head) || std::memcmp(head, "PE\0\0", 4) != 0)
            return false;
        std::uint16_t sections = U16(head + 6);
        std::uint16_t optionalSize = U16(head + 20);
        std::uint64_t optional = pe + 24ull;
        std::uint8_t magic[2];
        if (!Read(optional, 2, magic))
            return false;
        std::uint16_t kind = U16(magic);
        std::uint32_t countAt, directoriesAt;
        if (kind == 0x10B) {
            countAt = 92;
            directoriesAt = 96;
        } else if (kind == 0x20B) {
            countAt = 108;
            directoriesAt = 112;
        } else {
            return false;
        }
        std::uint8_t count[4];
        if (optionalSize < directoriesAt + 3 * 8 || !Read(optional + countAt, 4, count) || U32(count) < 3)
            return false;
        std::uint8_t dir[8];
        if (!Read(optional + directoriesAt + 2 * 8, 8, dir))
            return false;
        m_resourceRva = U32(dir);
        if (m_resourceRva == 0 || U32(dir + 4) == 0)
            return false;
        std::uint64_t table = optional + optionalSize;
        for (std::uint16_t i = 0; i < sections; ++i) {
            std::uint8_t s[40];
            if (!Read(table + 40ull * i, sizeof s, s))
                return false;
            m_sections.push_back({U32(s + 12), U32(s + 8), U32(s + 16), U32(s + 20)});
        }
        return true;
    }

    // File offset of `size` bytes at an RVA, when they lie inside one section's raw data.
    std::optional<std::uint64_t> Offset(std::uint64_t rva, std::uint64_t size) const
    {
        for (const auto& s : m_sections) {
            std::uint64_t extent = s.virtualSize > s.rawSize ? s.virtualSize : s.rawSize;
            if (rva < s.virtualAddress || rva - s.virtualAddress >= extent)
                continue;
            std::uint64_t within = rva - s.virtualAddress;
            if (within + size > s.rawSize)
                return std::nullopt;
            return s.rawOffset + within;
        }
        return std::nullopt;
    }

    bool ReadRva(std::uint64_t rva, std::size_t size, std::uint8_t* out) const
    {
        auto at = Offset(rva, size);
        return at && Read(*at, size, out);
    }

    // The entry of a resource directory (offset from the resource root) with the
    // given id, or with `preferred` id falling back to the first entry when
    // `anyEntry`. Returns the entry's OffsetToData.
    std::optional<std::uint32_t> Entry(std::uint32_t directory, std::uint32_t id, bool anyEntry) const
    {
        std::uint8_t head[16];
        if (!ReadRva(m_resourceRva + directory, sizeof head, head))
            return std::nullopt;
        int named = U16(head + 12), ids = U16(head + 14);
        if (named + ids > kMaxDirectoryEntries)
            return std::nullopt;
        std::optional<std::uint32_t> first;
        for (int i = 0; i < named + ids; ++i) {
            std::uint8_t e[8];
            if (!ReadRva(m_resourceRva + directory + 16ull + 8ull * i, sizeof e, e))
                return std::nullopt;
            std::uint32_t name = U32(e), data = U32(e + 4);
            if (!first)
                first = data;
            if (i >= named && name == id)
                return data;
        }
        return anyEntry ? first : std::nullopt;
    }

    std::optional<std::vector<std::uint8_t>> VersionBlock() const
    {
        constexpr std::uint32_t kSubdirectory = 0x80000000u;
        auto types = Entry(0, kRtVersion, false);
        if (!types || !(*types & kSubdirectory))
            return std::nullopt;
        auto names = Entry(*types & ~kSubdirectory, kVersionInfoId, false);
        if (!names || !(*names & kSubdirectory))
            return std::nullopt;
        auto language = Entry(*names & ~kSubdirectory, 0, true);
        if (!language || (*language & kSubdirectory))
            return std::nullopt;
        std::uint8_t data[16];
        if (!ReadRva(m_resourceRva + *language, sizeof data, data))
            return std::nullopt;
        std::uint32_t rva = U32(data), size = U32(data + 4);
        if (size < 6 || size > kMaxBlock)
            return std::nullopt;
        std::vector<std::uint8_t> block(size);
        if (!ReadRva(rva, size, block.data()))
            return std::nullopt;
        return block;
    }

private:
    bool Read(std::uint64_t offset, std::size_t size, std::uint8_t* out) const
    {
        return offset <= m_size && size <= m_size - offset && m_read(offset, size, out);
    }

    const TReadAt& m_read;
    std::uint64_t m_size;
    std::uint32_t m_resourceRva = 0;
    std::vector<TSection> m_sections;
};

char16_t Lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool SameName(const std::u16string& a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Lower(a[i]) != Lower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::size_t Align4(std::size_t n) { return (n + 3) & ~static_cast<std::size_t>(3); }

} // namespace

std::optional<std::vector<std::uint8_t>> FindVersionResource(const TReadAt& read, std::uint64_t fileSize)
{
    TPeImage image(read, fileSize);
    if (!image.Load())
        return std::nullopt;
    return image.VersionBlock();
}

std::optional<std::vector<std::uint8_t>> FindVersionResource(const std::uint8_t* data, std::size_t size)
{
    TReadAt read = [data, size](std::uint64_t offset, std::size_t n, std::uint8_t* out) {
        if (offset > size || n > size - offset)
            return false;
        if (n)
            std::memcpy(out, data + offset, n);
        return true;
    };
    return FindVersionResource(read, size);
}

std::optional<TVersionBlock::TNode> TVersionBlock::ParseNode(std::size_t start, std::size_t limit) const
{
    if (start + 6 > limit)
        return std::nullopt;
    TNode node;
    std::size_t length = U16(&m_block[start]);
    node.valueLength = U16(&m_block[start + 2]);
    node.type = U16(&m_block[start + 4]);
    if (length < 6 || start + length > limit)
        return std::nullopt;
    node.start = start;
    node.end = start + length;
    std::size_t at = start + 6;
    for (;;) {
        if (at + 2 > node.end)
            return std::nullopt;
        char16_t c = U16(&m_block[at]);
        at += 2;
        if (c == 0)
            break;
        node.key += c;
    }
    at = Align4(at);
    // Where the children start depends on the type, as the system counts it:
    // text values (any non-zero type) count UTF-16 units, binary values bytes.
    std::size_t valueBytes = node.type != 0 ? 2u * node.valueLength : node.valueLength;
    node.valueStart = at < node.end ? at : node.end;
    node.childrenStart = Align4(node.valueStart + valueBytes);
    return node;
}

std::optional<TVersionBlock::TNode> TVersionBlock::Child(const TNode& parent, std::string_view key) const
{
    std::size_t at = parent.childrenStart;
    while (at + 6 <= parent.end) {
        auto child = ParseNode(at, parent.end);
        if (!child)
            return std::nullopt;
        if (SameName(child->key, key))
            return child;
        at = Align4(child->end);
    }
    return std::nullopt;
}

bool TVersionBlock::Translation(std::uint16_t& language, std::uint16_t& codePage) const
{
    auto root = ParseNode(0, m_block.size());
    if (!root)
        return false;
    auto var = Child(*root, "VarFileInfo");
    auto table = var ? Child(*var, "Translation") : std::nullopt;
    // The length as stored, whatever the type, as the system reports it.
    if (!table || table->valueLength < 4 || table->valueStart + 4 > m_block.size())
        return false;
    language = U16(&m_block[table->valueStart]);
    codePage = U16(&m_block[table->valueStart + 2]);
    return true;
}

std::optional<std::u16string> TVersionBlock::StringValue(std::string_view tableName, std::string_view key) const
{
    auto root = ParseNode(0, m_block.size());
    auto info = root ? Child(*root, "StringFileInfo") : std::nullopt;
    auto table = info ? Child(*info, tableName) : std::nullopt;
    auto entry = table ? Child(*table, key) : std::nullopt;
    if (!entry)
        return std::nullopt;
    // The system hands out a string value as a pointer to the value and its
    // length as stored, whatever the type says: builders that write type 0
    // (binary) still store UTF-16 text and count it either in units or in
    // bytes. So the text runs for at most that many units, up to its first
    // zero, and may run past its own node as the system's pointer does; only
    // the block's end bounds it.
    std::u16string value;
    std::size_t at = entry->valueStart;
    for (std::size_t n = 0; n < entry->valueLength && at + 2 <= m_block.size(); ++n, at += 2) {
        char16_t c = U16(&m_block[at]);
        if (c == 0)
            break;
        value += c;
    }
    return value;
}

} // namespace upd::version
