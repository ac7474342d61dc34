#include "base/Memory.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace upd {

bool DiscardPages(void* data, std::size_t size) noexcept
{
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t first = (start + page - 1) / page * page;
    const std::uintptr_t end = (start + size) / page * page;
    return end <= first || madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED) == 0;
}

} // namespace upd
