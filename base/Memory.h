// Giving memory back to the system before the block that holds it is freed.
#pragma once

#include <cstddef>

namespace upd {

/// The whole pages inside [data, data + size) are no longer needed: the system
/// takes their memory back at once, and they read as zeros if touched again.
/// False where the system offers no such call (nothing happens then).
bool DiscardPages(void* data, std::size_t size) noexcept;

} // namespace upd
