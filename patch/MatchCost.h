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

/// Bits per literal byte, measured by deflating the literal bytes as they are
/// chosen (the last 64 KB weigh most).
class TQvtLiteralCost {
public:
    /// `sample`: bytes whose compressibility stands in until literals are known.
    explicit TQvtLiteralCost(std::span<const std::uint8_t> sample);
    ~TQvtLiteralCost();
    TQvtLiteralCost(const TQvtLiteralCost&) = delete;
    TQvtLiteralCost& operator=(const TQvtLiteralCost&) = delete;

    double BitsPerByte() const noexcept { return m_bits; }
    void Add(std::span<const std::uint8_t> bytes);

private:
    void Measure();

    struct TStream;
    std::unique_ptr<TStream> m_stream;
    std::vector<std::uint8_t> m_pending;
    double m_bits = 8.0;
};

/// The costs of a multi-version patch's Copy and Dump instructions.
class TQvtMatchCost {
public:
    TQvtMatchCost(std::size_t versions, std::span<const std::uint8_t> newFile);

    /// Bits saved by copying `length` bytes from `sources` (one per version)
    /// after a Dump of `dumpLength` bytes, against leaving them literal;
    /// `previous` holds the start of the last Copy in each version.
    double Gain(std::size_t length, const std::vector<std::size_t>& sources,
                const std::vector<std::size_t>& previous, std::size_t dumpLength) const;
    /// Learns from a Copy that was chosen after the given literal bytes.
    void Chosen(std::size_t length, const std::vector<std::size_t>& sources,
                const std::vector<std::size_t>& previous, std::span<const std::uint8_t> literals);

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
