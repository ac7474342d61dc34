// How a patch's LengthCodes table is written. Every number of the three value
// tables (whose weights are the counts of their values) is written as a
// LengthCodes symbol and raw bits, and a symbol only has to be wide enough for
// its number. On a small patch the tables are most of the bit section, so a
// symbol for every width that occurs costs more than it saves.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace upd::patch {

/// The lengths of an optimal prefix code for the weights (all positive). Every
/// optimal code has the same total, whatever tree its tie-breaks make.
std::vector<unsigned> OptimalCodeLengths(const std::vector<std::uint64_t>& weights);

/// Bits of a plain number: sign, nibble count, nibbles.
unsigned PlainNumberBits(std::int64_t value);

/// The LengthCodes table and the symbol of each number it codes.
struct TQvtLengthCoding {
    /// (symbol, weight) pairs, ascending, at least two.
    std::vector<std::pair<std::int32_t, std::int32_t>> Table;
    /// The symbol each number is written with, in the order of the numbers.
    std::vector<std::int32_t> Symbols;
};

/// Chooses the LengthCodes symbols for the numbers: a symbol L writes any
/// number of L's sign (or zero) below 2^|L|, so dropping a symbol moves its
/// numbers to the next wider one; symbols are dropped while the table and the
/// codes together get cheaper.
TQvtLengthCoding ChooseLengthCoding(const std::vector<std::int32_t>& numbers);

} // namespace upd::patch
