// A small ordered map from signed 32-bit keys to 32-bit data words, kept as one
// array in ascending key order. The Huffman value sets count their values in it.
#pragma once

#include <cstdint>
#include <vector>

namespace upd::patch {

/// The message of an index outside a list.
[[noreturn]] void RaiseListIndexError(long long index);

class TQvtSortedIntegerList {
public:
    /// Inserts at the sorted position; an existing key raises
    /// "Incerci sa adaugi %d a doua oara!".
    void Add(std::int32_t key, std::int32_t data);
    /// The index of the key, or -1 when it is absent.
    int IndexOf(std::int32_t key) const noexcept;

    int Count() const noexcept { return static_cast<int>(m_entries.size()); }
    /// Indexed access raises the list index error outside 0..Count-1.
    std::int32_t Keys(int index) const
    {
        Check(index);
        return m_entries[static_cast<std::size_t>(index)].key;
    }
    std::int32_t Data(int index) const
    {
        Check(index);
        return m_entries[static_cast<std::size_t>(index)].data;
    }
    void SetData(int index, std::int32_t data);

    /// Entries added to the storage each time it is full (at least; larger
    /// lists grow geometrically so that filling them stays linear).
    int Delta = 10;
    int Capacity() const noexcept { return static_cast<int>(m_entries.capacity()); }
    /// Makes room for `count` entries at once.
    void Reserve(int count) { m_entries.reserve(static_cast<std::size_t>(count > 0 ? count : 0)); }

private:
    struct TEntry {
        std::int32_t key;
        std::int32_t data;
    };
    void Check(int index) const
    {
        if (index < 0 || index >= Count())
            RaiseListIndexError(index);
    }

    std::vector<TEntry> m_entries;
};

} // namespace upd::patch
