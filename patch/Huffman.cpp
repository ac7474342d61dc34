#include "patch/Huffman.h"

#include <algorithm>
#include <bit>
#include <map>

#include "base/Exception.h"
#include "patch/BitStream.h"

namespace upd::patch {

namespace {

// Codes never grow this long from weights that fit in 32 bits; deeper trees
// only come from negative weights, which no encoder writes.
constexpr unsigned kMaxCodeLength = 64;
constexpr unsigned kMinTableBits = 12;
constexpr unsigned kMaxTableBits = 16;
constexpr unsigned kMaxSubBits = 8;
constexpr std::uint8_t kNoCode = 0xFF;

std::int32_t WrapAdd(std::int32_t a, std::int32_t b)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

} // namespace

std::string TQvtHuffmanFinalNode::AsText() const
{
    return "N(" + std::to_string(Value) + ":" + std::to_string(Weight) + ")";
}

std::int32_t TQvtHuffmanArrayNode::RepresentativeValue()
{
    if (Children.size() != 2)
        throw Exception("Boom");
    std::int32_t first = Children[0]->RepresentativeValue();
    std::int32_t second = Children[1]->RepresentativeValue();
    if (Children[1]->Weight > Children[0]->Weight ||
        (Children[1]->Weight == Children[0]->Weight && second > first)) {
        std::swap(Children[0], Children[1]);
        return second;
    }
    return first;
}

std::string TQvtHuffmanArrayNode::AsText() const
{
    std::string text = "{ ";
    for (std::size_t i = 0; i < Children.size(); ++i) {
        if (i > 0)
            text += " , ";
        text += Children[i]->AsText();
    }
    return text + " }";
}

TQvtHuffmanValueSet::TQvtHuffmanValueSet() { m_counts.Delta = 1000; }

TQvtHuffmanValueSet::~TQvtHuffmanValueSet() = default;

TQvtHuffmanValueSet::TQvtHuffmanValueSet(TQvtHuffmanValueSet&&) noexcept = default;

TQvtHuffmanValueSet& TQvtHuffmanValueSet::operator=(TQvtHuffmanValueSet&&) noexcept = default;

void TQvtHuffmanValueSet::Add(std::int32_t value, std::int32_t weight)
{
    if (m_built)
        throw Exception("Adaugi valori dupa ce ai construit reprezentarea arborescenta");
    // Values are collected and merged into the sorted list when it is next
    // read, which keeps adding cheap whatever the order of the values (a
    // patch's tables come in ascending order, a damaged one in any order).
    if (!m_pending.empty() && m_pending.back().first == value) {
        m_pending.back().second = WrapAdd(m_pending.back().second, weight);
        return;
    }
    if (!m_pending.empty() && value < m_pending.back().first)
        m_pendingSorted = false;
    m_pending.emplace_back(value, weight);
    m_countsDirty = true;
}

const TQvtSortedIntegerList& TQvtHuffmanValueSet::Counts() const
{
    if (m_countsDirty) {
        auto& pending = m_pending;
        for (int i = 0; i < m_counts.Count(); ++i)
            pending.emplace_back(m_counts.Keys(i), m_counts.Data(i));
        if (!m_pendingSorted || m_counts.Count() > 0)
            std::stable_sort(pending.begin(), pending.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        m_counts = TQvtSortedIntegerList();
        m_counts.Delta = 1000;
        m_counts.Reserve(static_cast<int>(pending.size()));
        for (std::size_t i = 0; i < pending.size();) {
            std::int32_t weight = pending[i].second;
            std::size_t j = i + 1;
            for (; j < pending.size() && pending[j].first == pending[i].first; ++j)
                weight = WrapAdd(weight, pending[j].second);
            m_counts.Add(pending[i].first, weight);
            i = j;
        }
        pending.clear();
        pending.shrink_to_fit();
        m_pendingSorted = true;
        m_countsDirty = false;
    }
    return m_counts;
}

void TQvtHuffmanValueSet::BuildTree()
{
    if (m_built)
        throw Exception("BuildTree apelat a doua oara");
    Counts();
    m_built = true;
    MakeNodes();
    AssignCodes();
}

void TQvtHuffmanValueSet::MakeNodes() const
{
    const auto& counts = m_counts;
    const auto leaves = static_cast<std::size_t>(counts.Count());
    m_inner.clear();
    m_inner.reserve(leaves > 1 ? leaves - 1 : 0); // with the root of the table walk
    // The root's children live in slots; a merged node leaves an empty slot
    // behind, and new nodes take new slots at the end, which keeps the list
    // order of the construction without moving the rest on every merge.
    std::vector<std::int32_t> slots;
    std::vector<std::int32_t> weights; // by node id
    slots.reserve(leaves * 2);
    weights.reserve(leaves * 2);
    for (int i = 0; i < counts.Count(); ++i) {
        weights.push_back(counts.Data(i));
        slots.push_back(static_cast<std::int32_t>(i));
    }
    std::size_t live = slots.size();
    while (live > 2) {
        Reduce(slots, weights, live);
        std::erase(slots, -1);
    }
    m_rootChildren.assign(slots.begin(), slots.end());
}

void TQvtHuffmanValueSet::ReleaseTree()
{
    if (m_table.empty())
        return;
    // The construction is deterministic and succeeded: it can be made again.
    std::vector<TInner>().swap(m_inner);
    std::vector<std::int32_t>().swap(m_rootChildren);
    m_released = true;
}

void TQvtHuffmanValueSet::KeepOnlyDecoding()
{
    if (m_table.empty())
        return;
    ReleaseTree();
    m_released = false; // nothing to make a tree from any more
    m_counts = TQvtSortedIntegerList();
    std::vector<std::uint8_t>().swap(m_codeLengths);
    std::vector<std::uint64_t>().swap(m_codeBits);
    m_rootObject.reset();
}

void TQvtHuffmanValueSet::EnsureNodes() const
{
    if (!m_released)
        return;
    MakeNodes();
    m_released = false;
}

void TQvtHuffmanValueSet::Reduce(std::vector<std::int32_t>& slots, std::vector<std::int32_t>& weights,
                                 std::size_t& live) const
{
    // Slots of equal weight, oldest first: a queue that only grows at its back
    // and is taken from its front, so a vector and a read index do.
    struct TQueue {
        std::vector<std::uint32_t> items;
        std::size_t head = 0;
        bool empty() const noexcept { return head == items.size(); }
        std::size_t size() const noexcept { return items.size() - head; }
        std::uint32_t front() const noexcept { return items[head]; }
        void pop_front() noexcept { ++head; }
        void push_back(std::uint32_t slot) { items.push_back(slot); }
        void clear() noexcept { head = items.size(); }
    };
    std::map<std::int32_t, TQueue> buckets;
    // Most weights are small: their buckets are found without a search.
    constexpr std::int32_t kDirect = 1024;
    std::vector<TQueue*> direct(kDirect, nullptr);
    auto bucket = [&](std::int32_t key) -> TQueue& {
        if (key < 0 || key >= kDirect)
            return buckets[key];
        TQueue*& known = direct[static_cast<std::size_t>(key)];
        if (!known)
            known = &buckets[key];
        return *known;
    };
    for (std::size_t s = 0; s < slots.size(); ++s)
        if (slots[s] >= 0)
            bucket(weights[static_cast<std::size_t>(slots[s])]).push_back(static_cast<std::uint32_t>(s));

    auto weightAt = [&](std::size_t slot) { return weights[static_cast<std::size_t>(slots[slot])]; };
    auto merge = [&](std::size_t a, std::size_t b, TQueue& target) {
        m_inner.push_back(TInner{slots[a], slots[b]});
        weights.push_back(WrapAdd(weightAt(a), weightAt(b)));
        slots[a] = -1;
        slots[b] = -1;
        slots.push_back(static_cast<std::int32_t>(weights.size() - 1));
        target.push_back(static_cast<std::uint32_t>(slots.size() - 1));
        --live;
    };
    auto it = buckets.begin();
    while (it != buckets.end() && live > 2) {
        const std::int32_t key = it->first;
        auto& list = it->second;
        if (list.empty()) {
            ++it;
            continue;
        }
        if (list.size() >= 2) {
            std::int32_t targetKey = WrapAdd(key, key);
            if (targetKey < key)
                throw Exception("Noul nod va fi plasat IN SPATE!");
            auto& target = bucket(targetKey); // the same list when the weight is 0
            while (list.size() >= 2) {
                std::size_t a = list.front();
                list.pop_front();
                std::size_t b = list.front();
                list.pop_front();
                merge(a, b, target);
            }
            if (list.empty())
                ++it;
            continue;
        }
        std::size_t a = list.front();
        list.pop_front();
        auto next = std::next(it);
        while (next != buckets.end() && next->second.empty()) {
            if (next->first >= 0 && next->first < kDirect)
                direct[static_cast<std::size_t>(next->first)] = nullptr;
            next = buckets.erase(next);
        }
        if (next == buckets.end())
            throw Exception("N2 = nil");
        std::size_t b = next->second.front();
        next->second.pop_front();
        std::int32_t sum = WrapAdd(weightAt(a), weightAt(b));
        if (key > sum)
            throw Exception("Noul nod va fi plasat IN SPATE!");
        merge(a, b, bucket(sum));
        // The scanned bucket is dropped whole, even when the new node went into it.
        list.clear();
        ++it;
    }
}

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
            throw Exception("bug");
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
        throw Exception("bug");
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
            throw Exception(kReadPastEnd);
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
