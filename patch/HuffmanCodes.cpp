// Huffman value sets, part two: the codes of a built tree, the tables that
// decode them a level at a time, and writing codes.
#include "patch/Huffman.h"

#include <algorithm>
#include <bit>

#include "base/Exception.h"
#include "patch/BitStream.h"
#include "patch/PatchLimits.h"

namespace upd::patch {

namespace {

constexpr unsigned kMinTableBits = 12;
constexpr unsigned kMaxTableBits = 16;
constexpr unsigned kMaxSubBits = 8;
constexpr std::uint8_t kNoCode = 0xFF;

// The fast decoding peeks eight bytes at each level without a check: the
// bytes a whole code spans, and the eight read at its last level, must lie
// within what the reader promises before the code starts.
constexpr unsigned kCodeBytes = (TQvtHuffmanValueSet::kMaxCodeLength + 7) / 8;
static_assert(kCodeBytes + 8 <= TQvtBitReader::kFastBytes, "a code may read past what CanPeekFast promises");
static_assert(kMaxTableBits <= 32 && kMaxSubBits <= 32, "PeekFast gives at most 32 bits");

} // namespace

// The walk's lists, shared by every level: a large set makes tens of
// thousands of small levels, and lists of their own would cost an allocation
// each.
struct TQvtHuffmanValueSet::TLevelWork {
    struct TStep {
        std::int32_t node;
        std::uint32_t code;
        unsigned length;
    };
    std::vector<TStep> pending; // emptied by each level's walk
    std::vector<TStep> deeper;  // each level's share stays until its subtables are made
};

void TQvtHuffmanValueSet::AssignCodes()
{
    const auto& counts = Counts();
    m_codeBits.clear(); // made when an encoder first asks for them
    m_codeLengths.assign(static_cast<std::size_t>(counts.Count()), kNoCode);
    if (m_rootChildren.size() < 2)
        RaiseListIndexError(static_cast<long long>(m_rootChildren.size()));

    // Depth first, the 0 side before the 1 side; a walk goes down its 0 side
    // at once and leaves only the 1 side for later.
    struct TStep {
        std::int32_t node;
        unsigned length;
    };
    std::vector<TStep> pending{{m_rootChildren[1], 1}, {m_rootChildren[0], 1}};
    m_maxLength = 0;
    while (!pending.empty()) {
        TStep step = pending.back();
        pending.pop_back();
        for (;;) {
            if (step.length > kMaxCodeLength)
                throw Exception("Arborele de coduri Huffman este prea adanc");
            if (step.length > m_maxLength)
                m_maxLength = step.length;
            if (IsLeaf(step.node))
                break;
            const TInner& node = Inner(step.node);
            pending.push_back({node.child1, step.length + 1});
            step = {node.child0, step.length + 1};
        }
        int index = step.node;
        if (index >= counts.Count() || m_codeLengths[static_cast<std::size_t>(index)] != kNoCode)
            throw Exception(TErrorKind::Internal, "bug");
        m_codeLengths[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>(step.length);
    }

    // Table levels: one look-up per level decodes up to kMaxTableBits bits,
    // then kMaxSubBits per further level; a table for a deep, thin subtree
    // would waste entries, so past a budget the levels shrink to single bits.
    const auto leaves = static_cast<std::size_t>(counts.Count());
    std::vector<std::uint8_t> heights(leaves + m_inner.size() + 1, 0);
    for (std::size_t j = 0; j < m_inner.size(); ++j)
        heights[leaves + j] = static_cast<std::uint8_t>(
            1 + std::max(heights[static_cast<std::size_t>(m_inner[j].child0)],
                         heights[static_cast<std::size_t>(m_inner[j].child1)]));
    m_inner.push_back(TInner{m_rootChildren[0], m_rootChildren[1]}); // the root, for the table walk
    heights.back() = static_cast<std::uint8_t>(m_maxLength);
    // Large sets (a patch's offsets) get a wider first level: most of their
    // codes are longer than 12 bits.
    unsigned wanted = std::clamp<unsigned>(static_cast<unsigned>(std::bit_width(m_codeLengths.size())), kMinTableBits,
                                           kMaxTableBits);
    m_tableBits = std::min(m_maxLength, wanted);
    m_table.clear();
    m_table.reserve(2 * m_codeLengths.size() + (std::size_t{1} << (m_tableBits + 1)) + 4096);
    TLevelWork work;
    BuildLevel(static_cast<std::int32_t>(leaves + m_inner.size() - 1), m_tableBits, heights, work);
    m_inner.pop_back();
}

std::int32_t TQvtHuffmanValueSet::BuildLevel(std::int32_t top, unsigned bits, const std::vector<std::uint8_t>& heights,
                                             TLevelWork& work)
{
    using TStep = TLevelWork::TStep;
    std::size_t start = m_table.size();
    // Left unfilled: a code tree is full, so every entry of a level is written
    // below, by the leaf or the subtree whose codes it begins with.
    m_table.resize(start + (std::size_t{1} << bits));
    auto& pending = work.pending;
    pending.push_back({Inner(top).child1, 1, 1});
    pending.push_back({Inner(top).child0, 0, 1});
    const std::size_t firstDeeper = work.deeper.size();
    std::size_t covered = 0;
    while (!pending.empty()) {
        TStep step = pending.back();
        pending.pop_back();
        // Down the 0 side at once; the 1 side waits its turn.
        while (!IsLeaf(step.node) && step.length < bits) {
            pending.push_back({Inner(step.node).child1, step.code << 1 | 1, step.length + 1});
            step = {Inner(step.node).child0, step.code << 1, step.length + 1};
        }
        if (IsLeaf(step.node)) {
            std::int32_t value = m_counts.Keys(step.node);
            std::size_t first = start + (std::size_t{step.code} << (bits - step.length));
            std::size_t count = std::size_t{1} << (bits - step.length);
            std::fill_n(m_table.begin() + static_cast<std::ptrdiff_t>(first), count,
                        TTableEntry{value, static_cast<std::uint8_t>(step.length), 0});
            covered += count;
        } else {
            work.deeper.push_back(step);
            ++covered;
        }
    }
    if (covered != std::size_t{1} << bits)
        throw Exception(TErrorKind::Internal, "bug");
    const std::size_t endDeeper = work.deeper.size();
    std::size_t budget = 2 * m_codeLengths.size() + (std::size_t{1} << (m_tableBits + 1));
    for (std::size_t i = firstDeeper; i < endDeeper; ++i) {
        const TStep step = work.deeper[i]; // the list grows below
        unsigned sub = std::min<unsigned>(heights[static_cast<std::size_t>(step.node)], kMaxSubBits);
        if (m_table.size() > budget)
            sub = 1;
        std::int32_t next = BuildLevel(step.node, sub, heights, work);
        m_table[start + step.code] = TTableEntry{next, static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(sub)};
    }
    work.deeper.resize(firstDeeper);
    return static_cast<std::int32_t>(start);
}

std::unique_ptr<TQvtHuffmanBaseNode> TQvtHuffmanValueSet::MakeObject(std::int32_t index) const
{
    if (IsLeaf(index))
        return std::make_unique<TQvtHuffmanFinalNode>(m_counts.Keys(index), m_counts.Data(index));
    auto inner = std::make_unique<TQvtHuffmanArrayNode>();
    inner->Children.push_back(MakeObject(Inner(index).child0));
    inner->Children.push_back(MakeObject(Inner(index).child1));
    inner->Weight = WrapAdd(inner->Children[0]->Weight, inner->Children[1]->Weight);
    return inner;
}

const TQvtHuffmanArrayNode* TQvtHuffmanValueSet::Root() const
{
    // Only a tree whose codes were assigned is known to be shallow enough.
    if (!m_built || m_table.empty() || m_codeLengths.empty())
        return nullptr;
    if (!m_rootObject) {
        EnsureNodes();
        m_rootObject = std::make_unique<TQvtHuffmanArrayNode>();
        for (std::int32_t child : m_rootChildren)
            m_rootObject->Children.push_back(MakeObject(child));
    }
    return m_rootObject.get();
}

void TQvtHuffmanValueSet::EnsureCodeBits() const
{
    if (!m_codeBits.empty() || m_codeLengths.empty())
        return;
    EnsureNodes();
    m_codeBits.assign(m_codeLengths.size(), 0);
    struct TStep {
        std::int32_t node;
        std::uint64_t code;
    };
    std::vector<TStep> pending{{m_rootChildren[1], 1}, {m_rootChildren[0], 0}};
    while (!pending.empty()) {
        TStep step = pending.back();
        pending.pop_back();
        if (IsLeaf(step.node)) {
            m_codeBits[static_cast<std::size_t>(step.node)] = step.code;
            continue;
        }
        pending.push_back({Inner(step.node).child1, step.code << 1 | 1});
        pending.push_back({Inner(step.node).child0, step.code << 1});
    }
}

std::string TQvtHuffmanValueSet::Codes(int index) const
{
    if (index < 0 || index >= Count())
        RaiseListIndexError(index);
    if (m_codeLengths.empty())
        return "-";
    EnsureCodeBits();
    std::size_t i = static_cast<std::size_t>(index);
    std::string text;
    for (unsigned k = m_codeLengths[i]; k-- > 0;)
        text += ((m_codeBits[i] >> k) & 1) ? '1' : '0';
    return text;
}

std::int32_t TQvtHuffmanValueSet::Decode(TQvtBitStream& bits) const { return DecodeWith(bits); }

std::int32_t TQvtHuffmanValueSet::Decode(TQvtBitReader& bits) const
{
    // Away from the end of the image every peeked bit exists, and the checks
    // of the general walk are not needed (no table level is wider than 16).
    if (m_table.empty() || !bits.CanPeekFast())
        return DecodeWith(bits);
    const TTableEntry* entry = &m_table[bits.PeekFast(m_tableBits)];
    while (entry->subBits != 0) {
        bits.SkipBits(entry->length);
        entry = &m_table[static_cast<std::size_t>(entry->target) + bits.PeekFast(entry->subBits)];
    }
    bits.SkipBits(entry->length);
    return entry->target;
}

template <class TBits>
std::int32_t TQvtHuffmanValueSet::DecodeWith(TBits& bits) const
{
    if (m_table.empty())
        RaiseListIndexError(0);
    std::size_t base = 0;
    unsigned width = m_tableBits;
    for (;;) {
        unsigned available = 0;
        const TTableEntry& entry = m_table[base + bits.PeekBits(width, available)];
        // The tree walk would have run out of bits inside this code.
        if (entry.length > available)
            throw Exception(TErrorKind::Truncated, kReadPastEnd);
        bits.SkipBits(entry.length);
        if (entry.subBits == 0)
            return entry.target;
        base = static_cast<std::size_t>(entry.target);
        width = entry.subBits;
    }
}

void TQvtHuffmanValueSet::WriteCode(TQvtBitStream& bits, std::int32_t value) const
{
    int index = Counts().IndexOf(value);
    if (index < 0 || m_codeLengths.empty())
        RaiseListIndexError(index);
    EnsureCodeBits();
    std::size_t i = static_cast<std::size_t>(index);
    for (unsigned k = m_codeLengths[i]; k-- > 0;)
        bits.WriteBit((m_codeBits[i] >> k) & 1);
}

unsigned TQvtHuffmanValueSet::CodeLength(std::int32_t value) const
{
    int index = Counts().IndexOf(value);
    if (index < 0 || m_codeLengths.empty())
        RaiseListIndexError(index);
    return m_codeLengths[static_cast<std::size_t>(index)];
}

} // namespace upd::patch
