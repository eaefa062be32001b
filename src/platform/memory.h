// Hints to the kernel about memory the compiler is about to fill.
#pragma once

#include <cstddef>

namespace kestal::platform {

// Asks that the whole 2 MiB pages inside [start, start + bytes) be backed by
// huge pages when first touched, so filling a large buffer takes one page
// fault per 2 MiB instead of one per 4 KiB (on a virtual machine each fault
// costs tens of microseconds). Only a hint: it does nothing for buffers below
// 2 MiB, on systems without such pages, or when the kernel refuses.
void advise_huge_pages(void *start, std::size_t bytes);

} // namespace kestal::platform
