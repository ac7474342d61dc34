// Huffman value sets, part one: collecting the values and building the code
// tree in the format's order. The codes and the decoding tables made from the
// tree are in HuffmanCodes.cpp.
#include "patch/Huffman.h"

#include <algorithm>
#include <bit>
#include <map>

#include "base/Exception.h"
#include "patch/PatchLimits.h"

namespace upd::patch {

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

} // namespace upd::patch
