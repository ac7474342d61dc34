#include "base/Memory.h"

namespace upd {

// Blocks come from the C runtime's heap, whose pages the system lets go only
// through the heap itself: there is nothing safe to do before the free.
bool DiscardPages(void*, std::size_t) noexcept { return false; }

} // namespace upd
