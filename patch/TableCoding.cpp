#include "patch/TableCoding.h"

#include <algorithm>
#include <array>
#include <limits>
#include <numeric>

namespace upd::patch {

namespace {

unsigned Width(std::uint64_t magnitude)
{
    unsigned bits = 0;
    while (magnitude >> bits)
        ++bits;
    return bits;
}

std::uint64_t Magnitude(std::int64_t value)
{
    return value < 0 ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
}

// Numbers of one sign and width share every symbol that can write them.
// Index 0..32: zero and positive numbers of that width; 33..64: negative ones
// of width 1..32.
constexpr int kBins = 65;

int BinOf(std::int32_t number)
{
    unsigned width = Width(Magnitude(number));
    return number < 0 ? 32 + static_cast<int>(width) : static_cast<int>(width);
}

std::int32_t SymbolOfBin(int bin)
{
    return bin <= 32 ? bin : -(bin - 32);
}

struct TChoice {
    double bits = std::numeric_limits<double>::infinity();
    std::vector<std::int32_t> weights;
};

// The cost of writing the numbers of each bin with the symbols in `kept`, each
// bin taking the narrowest kept symbol of its sign that is wide enough (zero
// takes the narrowest of all). Fills `assigned` with each bin's symbol bin;
// infinite when a bin has none.
TChoice Evaluate(const std::array<std::uint64_t, kBins>& histogram, const std::vector<int>& kept,
                 std::array<int, kBins>& assigned)
{
    std::array<std::uint64_t, kBins> uses{};
    for (int bin = 0; bin < kBins; ++bin) {
        assigned[bin] = -1;
        if (histogram[bin] == 0)
            continue;
        bool negative = bin > 32;
        unsigned width = negative ? static_cast<unsigned>(bin - 32) : static_cast<unsigned>(bin);
        int best = -1;
        for (int k : kept) {
            bool kNegative = k > 32;
            unsigned kWidth = kNegative ? static_cast<unsigned>(k - 32) : static_cast<unsigned>(k);
            bool fits = kWidth >= width && (width == 0 || kNegative == negative) && (k != 0 || width == 0);
            if (!fits)
                continue;
            unsigned bestWidth = best < 0 ? 99 : (best > 32 ? best - 32 : best);
            if (best < 0 || kWidth < bestWidth)
                best = k;
        }
        if (best < 0)
            return {};
        assigned[bin] = best;
        uses[best] += histogram[bin];
    }
    std::vector<std::uint64_t> counts;
    for (int k : kept)
        counts.push_back(std::max<std::uint64_t>(uses[k], 1));
    double raw = 0;
    for (int bin = 0; bin < kBins; ++bin)
        if (histogram[bin] != 0)
            raw += static_cast<double>(histogram[bin]) * static_cast<double>(Magnitude(SymbolOfBin(assigned[bin])));
    // The weights written need not be the counts: coarser ones are shorter
    // plain numbers and may give the same codes.
    TChoice best;
    for (unsigned shift = 0; shift <= 12; ++shift) {
        std::vector<std::uint64_t> weights;
        for (std::uint64_t c : counts)
            weights.push_back(std::max<std::uint64_t>(c >> shift, 1));
        auto lengths = OptimalCodeLengths(weights);
        double bits = raw + PlainNumberBits(static_cast<std::int64_t>(kept.size()));
        for (std::size_t i = 0; i < kept.size(); ++i) {
            bits += static_cast<double>(uses[kept[i]]) * lengths[i];
            bits += PlainNumberBits(SymbolOfBin(kept[i])) + PlainNumberBits(static_cast<std::int64_t>(weights[i]));
        }
        if (bits < best.bits) {
            best.bits = bits;
            best.weights.assign(weights.begin(), weights.end());
        }
    }
    return best;
}

} // namespace

unsigned PlainNumberBits(std::int64_t value)
{
    return 4 + 4 * ((Width(Magnitude(value)) + 3) / 4);
}

std::vector<unsigned> OptimalCodeLengths(const std::vector<std::uint64_t>& weights)
{
    std::size_t n = weights.size();
    std::vector<unsigned> lengths(n, 0);
    if (n < 2) {
        lengths.assign(n, 1);
        return lengths;
    }
    // Two queues: the leaves by weight, then the merged nodes in the order
    // they are made (which is also by weight).
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return weights[a] < weights[b]; });
    std::vector<std::uint64_t> weight(2 * n - 1);
    std::vector<std::size_t> parent(2 * n - 1, 0);
    for (std::size_t i = 0; i < n; ++i)
        weight[i] = weights[order[i]];
    std::size_t leaf = 0, merged = n, next = n;
    auto take = [&]() {
        if (leaf < n && (merged >= next || weight[leaf] <= weight[merged]))
            return leaf++;
        return merged++;
    };
    while (next < 2 * n - 1) {
        std::size_t a = take();
        std::size_t b = take();
        weight[next] = weight[a] + weight[b];
        parent[a] = parent[b] = next;
        ++next;
    }
    std::vector<unsigned> depth(2 * n - 1, 0);
    for (std::size_t i = 2 * n - 2; i-- > 0;)
        depth[i] = depth[parent[i]] + 1;
    for (std::size_t i = 0; i < n; ++i)
        lengths[order[i]] = depth[i];
    return lengths;
}

TQvtLengthCoding ChooseLengthCoding(const std::vector<std::int32_t>& numbers)
{
    std::array<std::uint64_t, kBins> histogram{};
    for (std::int32_t number : numbers)
        ++histogram[BinOf(number)];
    std::vector<int> kept;
    for (int bin = 0; bin < kBins; ++bin)
        if (histogram[bin] != 0)
            kept.push_back(bin);
    std::array<int, kBins> assigned{};
    TChoice current = Evaluate(histogram, kept, assigned);
    // Drop the symbol whose numbers are cheapest to move, while that pays.
    while (kept.size() > 2) {
        std::size_t drop = kept.size();
        TChoice best = current;
        for (std::size_t i = 0; i < kept.size(); ++i) {
            std::vector<int> fewer = kept;
            fewer.erase(fewer.begin() + static_cast<std::ptrdiff_t>(i));
            TChoice choice = Evaluate(histogram, fewer, assigned);
            if (choice.bits < best.bits) {
                best = std::move(choice);
                drop = i;
            }
        }
        if (drop == kept.size())
            break;
        kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(drop));
        current = std::move(best);
    }
    Evaluate(histogram, kept, assigned);

    TQvtLengthCoding coding;
    for (std::size_t i = 0; i < kept.size(); ++i)
        coding.Table.emplace_back(SymbolOfBin(kept[i]), current.weights.empty() ? 1 : current.weights[i]);
    // A code needs two symbols; the one added is never written.
    while (coding.Table.size() < 2) {
        std::int32_t unused = coding.Table.empty() || coding.Table[0].first != 0 ? 0 : 1;
        coding.Table.emplace_back(unused, 1);
    }
    std::sort(coding.Table.begin(), coding.Table.end());
    for (std::int32_t number : numbers)
        coding.Symbols.push_back(SymbolOfBin(assigned[BinOf(number)]));
    return coding;
}

} // namespace upd::patch
