#include "patch/QvtIntegerList.h"

#include <algorithm>

#include "base/Exception.h"

namespace upd::patch {

void RaiseListIndexError(long long index)
{
    throw Exception(Format("List index out of bounds (%d)", index));
}

void TQvtSortedIntegerList::Add(std::int32_t key, std::int32_t data)
{
    // Values usually come in ascending order: append without a search.
    auto at = !m_entries.empty() && m_entries.back().key < key
                  ? m_entries.end()
                  : std::lower_bound(m_entries.begin(), m_entries.end(), key,
                                     [](const TEntry& entry, std::int32_t k) { return entry.key < k; });
    if (at != m_entries.end() && at->key == key)
        throw Exception(Format("Incerci sa adaugi %d a doua oara!", key));
    if (m_entries.size() == m_entries.capacity()) {
        std::size_t grow = std::max<std::size_t>(static_cast<std::size_t>(std::max(Delta, 1)), m_entries.size() / 2);
        auto offset = at - m_entries.begin();
        m_entries.reserve(m_entries.size() + grow);
        at = m_entries.begin() + offset;
    }
    m_entries.insert(at, TEntry{key, data});
}

int TQvtSortedIntegerList::IndexOf(std::int32_t key) const noexcept
{
    auto at = std::lower_bound(m_entries.begin(), m_entries.end(), key,
                               [](const TEntry& entry, std::int32_t k) { return entry.key < k; });
    if (at == m_entries.end() || at->key != key)
        return -1;
    return static_cast<int>(at - m_entries.begin());
}

void TQvtSortedIntegerList::SetData(int index, std::int32_t data)
{
    Check(index);
    m_entries[static_cast<std::size_t>(index)].data = data;
}

} // namespace upd::patch
