// What a choice of the differ costs in the finished patch, in bits, learnt from
// the choices already made in the same file. A Copy costs the codes of its
// length and its offsets and the code of the Dump length before it; literal
// bytes cost what the patch's deflate stream makes of them. Codes are Huffman
// codes built from the counts of the values, so a value seen c times out of n
// costs about log2(n / c) bits, and a value not seen yet also costs its table
// entry. Learning while parsing (instead of a second pass over the file) keeps
// the differ as fast as a greedy one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <unordered_map>
#include <vector>

namespace upd::patch {

/// The estimated code length of the values of one table.
class TQvtValueCost {
public:
    /// Bits of the value's code, plus its table entry when it is new.
    double Bits(std::int64_t value) const;
    void Add(std::int64_t value, std::uint32_t weight = 1);

private:
    std::unordered_map<std::int64_t, std::uint32_t> m_counts;
    std::uint64_t m_total = 0;
    std::int64_t m_min = 0;
    std::int64_t m_max = 0;
};

/// Bits of literal bytes of the new file, measured by deflating the literal
/// bytes as they are chosen (the last 64 KB weigh most). Bytes that repeat a
/// sequence shortly before them in the new file cost less than the others:
/// the deflate stream around the literals likely finds them too.
class TQvtLiteralCost {
public:
    explicit TQvtLiteralCost(std::span<const std::uint8_t> newFile);
    ~TQvtLiteralCost();
    TQvtLiteralCost(const TQvtLiteralCost&) = delete;
    TQvtLiteralCost& operator=(const TQvtLiteralCost&) = delete;

    /// The estimated bits of the new file's bytes [at, at + length) as literals.
    double Bits(std::size_t at, std::size_t length) const;
    /// Learns from the literal bytes [at, at + length) that were chosen.
    void Add(std::size_t at, std::size_t length);

private:
    void Measure();
    std::size_t RepeatedIn(std::size_t at, std::size_t length) const;

    struct TStream;
    std::unique_ptr<TStream> m_stream;
    std::span<const std::uint8_t> m_new;
    // One bit per byte of the new file: set where the byte repeats.
    std::vector<std::uint64_t> m_repeated;
    std::vector<std::uint8_t> m_pending;
    std::size_t m_pendingRepeated = 0;
    double m_freshBits = 8.0;
};

/// The costs of a multi-version patch's Copy and Dump instructions.
class TQvtMatchCost {
public:
    TQvtMatchCost(std::size_t versions, std::span<const std::uint8_t> newFile);

    /// Bits saved by copying the new file's `length` bytes at `at` from `sources` (one per version)
    /// after a Dump of `dumpLength` bytes, against leaving them literal;
    /// `previous` holds the start of the last Copy in each version.
    double Gain(std::size_t at, std::size_t length, const std::vector<std::size_t>& sources,
                const std::vector<std::size_t>& previous, std::size_t dumpLength) const;
    /// Learns from a Copy that was chosen after the given literal bytes.
    void Chosen(std::size_t length, const std::vector<std::size_t>& sources,
                const std::vector<std::size_t>& previous, std::size_t literalStart, std::size_t literalLength);

private:
    double OffsetBits(const std::vector<std::size_t>& sources, const std::vector<std::size_t>& previous) const;

    std::size_t m_versions;
    TQvtValueCost m_copyLengths;
    TQvtValueCost m_copyOffsets;
    TQvtValueCost m_dumpLengths;
    TQvtLiteralCost m_literals;
    mutable std::vector<std::int64_t> m_offsets;
};

} // namespace upd::patch
