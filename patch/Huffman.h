// Huffman value sets: (value, weight) pairs from which the encoder and the
// decoder build the same code tree. The construction order (leaves in ascending
// value order, equal weights taken in list order, a single joining the first
// node of the next heavier weight) is part of the patch format: the decoder must
// rebuild the encoder's tree bit for bit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "patch/QvtIntegerList.h"

namespace upd::patch {

class TQvtBitStream;
class TQvtBitReader;
class TQvtHuffmanArrayNode;

class TQvtHuffmanBaseNode {
public:
    virtual ~TQvtHuffmanBaseNode() = default;

    /// A leaf's value; an inner node first orders its subtree (heavier child,
    /// then larger representative value, first) and returns child 0's value.
    /// Raises "Boom" at an inner node with other than two children.
    virtual std::int32_t RepresentativeValue() = 0;
    /// "N(value:weight)" for a leaf, "{ a , b }" for an inner node.
    virtual std::string AsText() const = 0;
    /// The node as an inner node, or null for a leaf.
    virtual const TQvtHuffmanArrayNode* AsArray() const noexcept { return nullptr; }

    std::int32_t Weight = 0;
};

class TQvtHuffmanFinalNode : public TQvtHuffmanBaseNode {
public:
    TQvtHuffmanFinalNode(std::int32_t value, std::int32_t weight) : Value(value) { Weight = weight; }
    std::int32_t RepresentativeValue() override { return Value; }
    std::string AsText() const override;

    std::int32_t Value;
};

class TQvtHuffmanArrayNode : public TQvtHuffmanBaseNode {
public:
    std::int32_t RepresentativeValue() override;
    std::string AsText() const override;
    const TQvtHuffmanArrayNode* AsArray() const noexcept override { return this; }

    /// Child 0 is reached by bit 0, child 1 by bit 1.
    std::vector<std::unique_ptr<TQvtHuffmanBaseNode>> Children;
};

class TQvtHuffmanValueSet {
public:
    /// Codes never grow longer from weights that fit in 32 bits; deeper trees
    /// only come from negative weights, which no encoder writes, and are
    /// refused ("Arborele de coduri Huffman este prea adanc").
    static constexpr unsigned kMaxCodeLength = 64;

    TQvtHuffmanValueSet();
    ~TQvtHuffmanValueSet();
    TQvtHuffmanValueSet(const TQvtHuffmanValueSet&) = delete;
    TQvtHuffmanValueSet& operator=(const TQvtHuffmanValueSet&) = delete;
    /// Moving hands over everything, built tree included (a decoder builds its
    /// sets aside and takes them only when the whole patch was sound).
    TQvtHuffmanValueSet(TQvtHuffmanValueSet&&) noexcept;
    TQvtHuffmanValueSet& operator=(TQvtHuffmanValueSet&&) noexcept;

    /// Adds weight to the value's accumulated weight (32-bit, wrapping).
    /// Raises once the tree is built.
    void Add(std::int32_t value, std::int32_t weight);

    /// The values in ascending order with their accumulated weights.
    const TQvtSortedIntegerList& Counts() const;
    int Count() const { return Counts().Count(); }
    std::int32_t Value(int index) const { return Counts().Keys(index); }
    std::int32_t Weight(int index) const { return Counts().Data(index); }

    /// Builds the code tree and the codes; callable once. A set with fewer than
    /// two distinct values fails with the list index error.
    void BuildTree();
    bool IsBuilt() const noexcept { return m_built; }
    /// Frees the code tree once the decoding tables exist (a decoder needs
    /// nothing else); it is made again if codes or node objects are asked for.
    void ReleaseTree();
    /// Frees all but the decoding tables: afterwards the set decodes and is
    /// empty for everything else (no values, codes or tree).
    void KeepOnlyDecoding();
    /// The tree as node objects (made on first request; null before BuildTree).
    const TQvtHuffmanArrayNode* Root() const;
    /// The code of the value at `index` as "0"/"1" text, first bit first
    /// ("-" before the tree is built).
    std::string Codes(int index) const;
    /// The longest code length of the built tree.
    unsigned MaxCodeLength() const noexcept { return m_maxLength; }

    /// Reads one value's code.
    std::int32_t Decode(TQvtBitStream& bits) const;
    /// The same over the fast reader.
    std::int32_t Decode(TQvtBitReader& bits) const;
    /// Writes the value's code; a value not in the set raises the list index error.
    void WriteCode(TQvtBitStream& bits, std::int32_t value) const;
    /// The code length of a value in the set (for cost estimates).
    unsigned CodeLength(std::int32_t value) const;

private:
    // The tree is kept as arrays (a patch's offset table can hold a hundred
    // thousand values). Node ids below the value count are leaves, in the
    // order of the sorted values, so a leaf's id is its value's index; the
    // inner nodes follow in the order they were made, and only they store
    // children. Weights live only while the tree is built: an inner node's
    // weight is the sum of its children's.
    struct TInner {
        std::int32_t child0;
        std::int32_t child1;
    };
    // A decoding table level: 2^bits entries indexed by the next bits. An
    // entry is a value (subBits 0) or the start of the next level's table.
    struct TTableEntry {
        TTableEntry() noexcept {} // NOLINT: left uninitialised on purpose
        TTableEntry(std::int32_t target, std::uint8_t length, std::uint8_t subBits) noexcept
            : target(target), length(length), subBits(subBits)
        {
        }
        std::int32_t target;
        std::uint8_t length;  // bits this entry consumes
        std::uint8_t subBits; // index bits of the next level, 0 for a value
    };
    template <class TBits>
    std::int32_t DecodeWith(TBits& bits) const;
    struct TLevelWork;
    std::int32_t BuildLevel(std::int32_t node, unsigned bits, const std::vector<std::uint8_t>& heights,
                            TLevelWork& work);
    void MakeNodes() const;
    void EnsureNodes() const;
    void Reduce(std::vector<std::int32_t>& slots, std::vector<std::int32_t>& weights, std::size_t& live) const;
    bool IsLeaf(std::int32_t node) const noexcept { return node < m_counts.Count(); }
    const TInner& Inner(std::int32_t node) const noexcept
    {
        return m_inner[static_cast<std::size_t>(node - m_counts.Count())];
    }
    void AssignCodes();
    void EnsureCodeBits() const;
    std::unique_ptr<TQvtHuffmanBaseNode> MakeObject(std::int32_t node) const;

    mutable std::vector<std::pair<std::int32_t, std::int32_t>> m_pending; // added, not yet in m_counts
    mutable bool m_pendingSorted = true;
    mutable TQvtSortedIntegerList m_counts;
    mutable bool m_countsDirty = false;
    bool m_built = false;
    mutable std::vector<TInner> m_inner;
    mutable std::vector<std::int32_t> m_rootChildren;
    mutable bool m_released = false;
    mutable std::unique_ptr<TQvtHuffmanArrayNode> m_rootObject;
    mutable std::vector<std::uint64_t> m_codeBits;
    std::vector<std::uint8_t> m_codeLengths;
    unsigned m_maxLength = 0;
    unsigned m_tableBits = 0;
    std::vector<TTableEntry> m_table;
};

} // namespace upd::patch
