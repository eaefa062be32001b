// Huge-page hints over madvise; a no-op where the system has none.
#include "platform/memory.h"

#include <cstdint>
#include <sys/mman.h>

namespace kestal::platform {

void advise_huge_pages(void *start, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kHuge = std::uintptr_t{2} << 20;
    auto first = (reinterpret_cast<std::uintptr_t>(start) + kHuge - 1) & ~(kHuge - 1);
    auto last = (reinterpret_cast<std::uintptr_t>(start) + bytes) & ~(kHuge - 1);
    if (last > first)
        madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

} // namespace kestal::platform
