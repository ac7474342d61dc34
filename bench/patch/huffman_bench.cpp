// Time to build the code tables of a patch's value sets (the tree and the
// decoding table), which a rebuild does before it decodes its first
// instruction. Prints, for each set of each patch, its size and the median
// milliseconds of a build over several runs.
//
//   huffman_bench PATCH... [--runs N]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "base/Exception.h"
#include "patch/UnPatchEngine.h"

namespace {

using upd::patch::TQvtHuffmanValueSet;

std::vector<std::pair<std::int32_t, std::int32_t>> Pairs(const TQvtHuffmanValueSet& set)
{
    const auto& counts = set.Counts();
    std::vector<std::pair<std::int32_t, std::int32_t>> pairs;
    for (int i = 0; i < counts.Count(); ++i)
        pairs.emplace_back(counts.Keys(i), counts.Data(i));
    return pairs;
}

double BuildMilliseconds(const std::vector<std::pair<std::int32_t, std::int32_t>>& pairs, int runs)
{
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        auto start = std::chrono::steady_clock::now();
        TQvtHuffmanValueSet set;
        for (const auto& [value, weight] : pairs)
            set.Add(value, weight);
        set.BuildTree();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 9;
    std::vector<std::string> patches;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else
            patches.emplace_back(argv[i]);
    }
    if (patches.empty()) {
        std::fprintf(stderr, "usage: huffman_bench PATCH... [--runs N]\n");
        return 2;
    }
    double total = 0;
    for (const auto& path : patches) {
        upd::patch::TQvtUnPatchEngine engine;
        try {
            engine.LoadFromFile(path);
        } catch (const upd::Exception& e) {
            std::fprintf(stderr, "%s: %s\n", path.c_str(), e.what());
            return 1;
        }
        const std::pair<const char*, const TQvtHuffmanValueSet*> sets[] = {
            {"CopyLengths", &engine.CopyLengths}, {"CopyOffsets", &engine.CopyOffsets}, {"DumpLengths", &engine.DumpLengths}};
        for (const auto& [name, set] : sets) {
            auto pairs = Pairs(*set);
            double ms = BuildMilliseconds(pairs, runs);
            total += ms;
            std::printf("%-40s %-12s %7zu values %8.3f ms\n", path.c_str(), name, pairs.size(), ms);
        }
    }
    std::printf("total %.3f ms\n", total);
    return 0;
}
