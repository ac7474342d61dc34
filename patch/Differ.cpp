#include "patch/Differ.h"

#include "patch/MatchCost.h"

#include <algorithm>
#include <cstring>

namespace upd::patch {

namespace {

// Runs from elsewhere in the old file are looked for from this length on (and
// the index hashes that many bytes, so a chain holds only places that very
// likely match in full instead of the many short sequences that machine code
// repeats everywhere). Shorter ones would bring a new offset value, with its
// table entry and a long code, for fewer bytes than that costs; scattered over
// the whole old file they would also defeat the applying side's block cache.
constexpr std::size_t kMinLength = 16;
constexpr std::size_t kHashBytes = kMinLength;
constexpr int kChainLimit = 1024;
// A run this long ends the search for a longer one at the same place: runs
// that long are cheap whatever their offset, and the walk along the chain of a
// much repeated sequence (padding, tables) would compare every one in full.
constexpr std::size_t kNiceLength = 1024;
// A run that continues the previous one is looked for from this length on;
// whether it is taken is left to its cost.
constexpr std::size_t kMinContinue = 4;
// How far off its previous run a run may go on, and how long it must be when
// it does not go on in step.
constexpr std::size_t kNearWindow = 64;
constexpr std::size_t kMinNear = 8;
// Runs up to this many bytes later are weighed against the one found (over
// seven families of executables, 4 made every patch smaller than 2 did, 8
// most of them larger).
constexpr std::size_t kLazySteps = 4;

std::uint32_t HashAt(const std::uint8_t* p, unsigned bits)
{
    static_assert(kHashBytes == 16);
    std::uint64_t a, b;
    std::memcpy(&a, p, 8);
    std::memcpy(&b, p + 8, 8);
    std::uint64_t v = a * 0x9E3779B97F4A7C15ull ^ b * 0xC2B2AE3D27D4EB4Full;
    v ^= v >> 29;
    return static_cast<std::uint32_t>((v * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

std::size_t Distance(std::size_t a, std::size_t b)
{
    return a > b ? a - b : b - a;
}

std::size_t CommonLength(const std::uint8_t* a, const std::uint8_t* b, std::size_t limit)
{
    std::size_t n = 0;
    while (n + 8 <= limit) {
        std::uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y)
            return n + static_cast<std::size_t>(__builtin_ctzll(x ^ y) / 8);
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

// Hash chains over every position of one old file.
class TOldIndex {
public:
    explicit TOldIndex(std::span<const std::uint8_t> old) : m_old(old)
    {
        // About one chain per position: chains of places that only share a
        // hash cost a read from all over the index per step.
        m_bits = 10;
        while (m_bits < 24 && (std::size_t{1} << m_bits) < old.size())
            ++m_bits;
        m_head.assign(std::size_t{1} << m_bits, -1);
        if (old.size() < kHashBytes)
            return;
        m_prev.assign(old.size(), -1);
        for (std::size_t p = 0; p + kHashBytes <= old.size(); ++p) {
            std::uint32_t h = HashAt(old.data() + p, m_bits);
            m_prev[p] = m_head[h];
            m_head[h] = static_cast<std::int32_t>(p);
        }
    }

    /// The longest run of the new file at `at` (at most `limit` bytes) found in
    /// the old file; `expected` is tried first and wins ties.
    std::size_t Longest(std::span<const std::uint8_t> newFile, std::size_t at, std::size_t limit,
                        std::size_t expected, std::size_t& source) const
    {
        const std::uint8_t* target = newFile.data() + at;
        std::size_t best = 0;
        if (expected < m_old.size()) {
            best = CommonLength(target, m_old.data() + expected, std::min(limit, m_old.size() - expected));
            source = expected;
        }
        if (best >= limit || limit < kHashBytes || m_prev.empty())
            return best;
        int steps = kChainLimit;
        for (std::int32_t p = m_head[HashAt(target, m_bits)]; p >= 0 && steps-- > 0;
             p = m_prev[static_cast<std::size_t>(p)]) {
            std::size_t pos = static_cast<std::size_t>(p);
            std::size_t room = std::min(limit, m_old.size() - pos);
            if (room <= best || m_old[pos + best] != target[best])
                continue;
            std::size_t length = CommonLength(target, m_old.data() + pos, room);
            if (length > best) {
                best = length;
                source = pos;
                if (best >= limit || best >= kNiceLength)
                    break;
            }
        }
        return best;
    }

private:
    std::span<const std::uint8_t> m_old;
    unsigned m_bits;
    std::vector<std::int32_t> m_head;
    std::vector<std::int32_t> m_prev;
};

class TMatcher {
public:
    TMatcher(const std::vector<std::span<const std::uint8_t>>& oldFiles, std::span<const std::uint8_t> newFile)
        : m_old(oldFiles), m_new(newFile), m_expected(oldFiles.size(), 0), m_previous(oldFiles.size(), 0),
          m_scratch(oldFiles.size(), 0), m_cost(oldFiles.size(), newFile)
    {
        for (const auto& old : oldFiles)
            m_indexes.push_back(std::make_unique<TOldIndex>(old));
    }

    struct TCandidate {
        std::size_t length = 0;
        double gain = 0;
        std::vector<std::size_t> sources;
    };

    /// The run at `at` that every version holds and that saves the most bits
    /// when the literal bytes since `literalStart` come before it; false when
    /// no run saves anything.
    bool Best(std::size_t at, std::size_t literalStart, TCandidate& best)
    {
        best.length = 0;
        best.gain = 0;
        std::size_t dump = at - literalStart;
        std::size_t run = Continued(at, m_scratch);
        if (run >= kMinContinue) {
            double gain = m_cost.Gain(at, run, m_scratch, m_previous, dump);
            if (gain > best.gain) {
                best.length = run;
                best.gain = gain;
                best.sources = m_scratch;
            }
        }
        std::size_t longest = m_new.size() - at;
        std::size_t shift = at - m_lastNewEnd;
        for (std::size_t v = 0; v < m_indexes.size() && longest >= kMinLength; ++v)
            longest = m_indexes[v]->Longest(m_new, at, longest, m_expected[v] + shift, m_scratch[v]);
        if (longest >= kMinLength && longest > run) {
            double gain = m_cost.Gain(at, longest, m_scratch, m_previous, dump);
            if (gain > best.gain) {
                best.length = longest;
                best.gain = gain;
                best.sources = m_scratch;
            }
        }
        return best.length > 0;
    }

    /// The longest run at `at` where every version continues its previous run.
    std::size_t Continued(std::size_t at, std::vector<std::size_t>& sources) const
    {
        // Code between two changed addresses continues the previous run in
        // step: its offsets are small common values. Where an instruction or
        // two grew or shrank, the run goes on a few bytes off; such a run must
        // be longer to count, since one of the nearby places matching a few
        // bytes by chance is likely.
        std::size_t shift = at - m_lastNewEnd;
        std::size_t run = m_new.size() - at;
        for (std::size_t v = 0; v < m_old.size() && run >= kMinContinue; ++v) {
            std::span<const std::uint8_t> old = m_old[v];
            std::size_t expected = m_expected[v] + shift;
            std::size_t best = 0;
            if (expected < old.size()) {
                best = CommonLength(m_new.data() + at, old.data() + expected, std::min(run, old.size() - expected));
                sources[v] = expected;
            }
            // A run off step must be kMinNear long, so its first eight bytes
            // are compared at once: most places fail there.
            static_assert(kMinNear == 8);
            if (run >= kMinNear) {
                std::uint64_t head;
                std::memcpy(&head, m_new.data() + at, 8);
                std::size_t first = expected > kNearWindow ? expected - kNearWindow : 0;
                std::size_t end = old.size() >= 8 ? std::min(expected + kNearWindow + 1, old.size() - 7) : 0;
                for (std::size_t from = first; from < end; ++from) {
                    std::uint64_t word;
                    std::memcpy(&word, old.data() + from, 8);
                    if (word != head || from == expected)
                        continue;
                    std::size_t room = std::min(run, old.size() - from);
                    std::size_t length = 8 + CommonLength(m_new.data() + at + 8, old.data() + from + 8, room - 8);
                    // The place in step wins ties, then the nearest.
                    if (length > best ||
                        (length == best && sources[v] != expected &&
                         Distance(from, expected) < Distance(sources[v], expected))) {
                        best = length;
                        sources[v] = from;
                    }
                }
            }
            run = best;
        }
        return run;
    }

    std::vector<TQvtMatch> Run()
    {
        std::vector<TQvtMatch> matches;
        std::size_t versions = m_old.size();
        TCandidate current, next;
        std::size_t literalStart = 0;
        std::size_t at = 0;
        while (at + kMinContinue <= m_new.size()) {
            if (!Best(at, literalStart, current)) {
                ++at;
                continue;
            }
            // Lazy matching: a run one or two bytes later that saves more wins.
            for (bool moved = true; moved;) {
                moved = false;
                for (std::size_t step = 1; step <= kLazySteps && !moved; ++step) {
                    if (at + step + kMinContinue <= m_new.size() && Best(at + step, literalStart, next) &&
                        next.gain > current.gain) {
                        at += step;
                        std::swap(current, next);
                        moved = true;
                    }
                }
            }
            std::size_t length = current.length;
            std::vector<std::size_t>& sources = current.sources;
            // Grow the run backwards into the literal bytes before it.
            while (at > literalStart) {
                bool same = true;
                for (std::size_t v = 0; v < versions && same; ++v)
                    same = sources[v] > 0 && m_old[v][sources[v] - 1] == m_new[at - 1];
                if (!same)
                    break;
                --at;
                ++length;
                for (auto& s : sources)
                    --s;
            }
            matches.push_back(TQvtMatch{at, length, sources});
            m_cost.Chosen(length, sources, m_previous, literalStart, at - literalStart);
            at += length;
            literalStart = at;
            m_lastNewEnd = at;
            for (std::size_t v = 0; v < versions; ++v) {
                m_previous[v] = sources[v];
                m_expected[v] = sources[v] + length;
            }
        }
        return matches;
    }

private:
    const std::vector<std::span<const std::uint8_t>>& m_old;
    std::span<const std::uint8_t> m_new;
    std::vector<std::unique_ptr<TOldIndex>> m_indexes;
    // Per version: where the last run ends and where it starts.
    std::vector<std::size_t> m_expected;
    std::vector<std::size_t> m_previous;
    std::vector<std::size_t> m_scratch;
    std::size_t m_lastNewEnd = 0;
    TQvtMatchCost m_cost;
};

} // namespace

std::vector<TQvtMatch> FindMatches(const std::vector<std::span<const std::uint8_t>>& oldFiles,
                                   std::span<const std::uint8_t> newFile)
{
    if (oldFiles.empty() || newFile.empty())
        return {};
    for (const auto& old : oldFiles)
        if (old.empty())
            return {};
    return TMatcher(oldFiles, newFile).Run();
}

} // namespace upd::patch
