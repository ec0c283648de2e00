#include "platform/heap.h"

#include <cstdlib>  // defines __GLIBC__ on glibc

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace platform {

namespace {

// Blocks below this come from the heap rather than from mappings of their
// own (the most the allocator allows), and up to kKeptFreeBytes of free heap
// stay with the process. A part's document and a voice's events stay below
// the first; a whole orchestral score's play model below the second.
constexpr int kHeapBlockLimit = 32 << 20;
constexpr int kKeptFreeBytes = 128 << 20;

}  // namespace

void keepFreedHeapForReuse() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, kHeapBlockLimit);
    mallopt(M_TRIM_THRESHOLD, kKeptFreeBytes);
#endif
}

}  // namespace platform
