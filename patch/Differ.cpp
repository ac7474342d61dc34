#include "patch/Differ.h"

#include <algorithm>
#include <cstring>

namespace upd::patch {

namespace {

// A run from elsewhere is taken only from kMinLength bytes on, so the index
// hashes that many: a chain then holds only places that very likely match in
// full, and the search does not wade through the many 8-byte sequences that
// machine code repeats everywhere (twice as fast on large executables).
constexpr std::size_t kHashBytes = 16;
constexpr int kChainLimit = 256;
// A run from elsewhere in the old file brings a new offset value, which costs
// its table entry and a long code; shorter ones are cheaper as literal bytes
// and, scattered over the whole old file, would also defeat the applying
// side's block cache. A run that continues the previous one in step (code
// between two changed addresses) costs a length and an offset that are both
// small common values, which six bytes of mostly incompressible code outweigh.
constexpr std::size_t kMinLength = 16;
constexpr std::size_t kMinContinue = 6;
constexpr std::size_t kMinLengthPerVersion = 8;
constexpr std::size_t kNearWindow = 64;
constexpr std::size_t kMinNear = 8;

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
        m_bits = 10;
        while (m_bits < 22 && (std::size_t{1} << m_bits) < old.size())
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
                if (best >= limit)
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
        : m_old(oldFiles), m_new(newFile), m_expected(oldFiles.size(), 0)
    {
        for (const auto& old : oldFiles)
            m_indexes.push_back(std::make_unique<TOldIndex>(old));
        // Every further version must hold the run too; longer minimum runs keep
        // the offsets of many versions from costing more than they save.
        m_minLength = kMinLength + kMinLengthPerVersion * (oldFiles.size() - 1);
    }

    /// The run at `at` that every version holds: its length and sources.
    std::size_t Common(std::size_t at, std::vector<std::size_t>& sources) const
    {
        std::size_t limit = m_new.size() - at;
        std::size_t shift = at - m_lastNewEnd;
        std::size_t longest = limit;
        for (std::size_t v = 0; v < m_indexes.size() && longest >= m_minLength; ++v)
            longest = m_indexes[v]->Longest(m_new, at, longest, m_expected[v] + shift, sources[v]);
        if (longest >= m_minLength)
            return longest;
        // A short run where every version continues its previous run (code
        // between two changed addresses) is cheap: its offsets are small
        // common values. Where an instruction or two grew or shrank, the run
        // goes on a few bytes off; such a run must be longer to count, since
        // one of the nearby places matching a few bytes by chance is likely.
        std::size_t run = limit;
        for (std::size_t v = 0; v < m_old.size() && run >= kMinContinue; ++v) {
            std::size_t expected = m_expected[v] + shift;
            std::size_t best = 0;
            std::size_t first = expected > kNearWindow ? expected - kNearWindow : 0;
            std::size_t last = std::min(expected + kNearWindow, m_old[v].size() - 1);
            for (std::size_t from = first; from <= last; ++from) {
                std::size_t length =
                    CommonLength(m_new.data() + at, m_old[v].data() + from, std::min(run, m_old[v].size() - from));
                if (from != expected && length < kMinNear)
                    continue;
                // The place in step wins ties, then the nearest.
                bool better = length > best ||
                              (length == best && best > 0 &&
                               (from == expected || Distance(from, expected) < Distance(sources[v], expected)));
                if (better) {
                    best = length;
                    sources[v] = from;
                }
            }
            run = best;
        }
        return run >= kMinContinue ? run : 0;
    }

    std::vector<TQvtMatch> Run()
    {
        std::vector<TQvtMatch> matches;
        std::size_t versions = m_old.size();
        std::vector<std::size_t> sources(versions), nextSources(versions);
        std::size_t literalStart = 0;
        std::size_t at = 0;
        while (at + m_minLength <= m_new.size()) {
            std::size_t length = Common(at, sources);
            if (length == 0) {
                ++at;
                continue;
            }
            // One step of lazy matching: a longer run one byte later wins.
            while (at + 1 + m_minLength <= m_new.size()) {
                std::size_t next = Common(at + 1, nextSources);
                if (next <= length + 1)
                    break;
                ++at;
                length = next;
                sources.swap(nextSources);
            }
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
            at += length;
            literalStart = at;
            m_lastNewEnd = at;
            for (std::size_t v = 0; v < versions; ++v)
                m_expected[v] = sources[v] + length;
        }
        return matches;
    }

private:
    const std::vector<std::span<const std::uint8_t>>& m_old;
    std::span<const std::uint8_t> m_new;
    std::vector<std::unique_ptr<TOldIndex>> m_indexes;
    std::vector<std::size_t> m_expected;
    std::size_t m_lastNewEnd = 0;
    std::size_t m_minLength;
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
