// The test program's operator new: counts per thread while an
// AllocationCounter is alive, otherwise plain malloc.
#include "alloc_counter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local bool t_counting = false;
thread_local std::size_t t_count = 0;
}  // namespace

void* operator new(std::size_t size) {
    if (t_counting) ++t_count;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
// Every plain form goes through malloc and free, so that no block is taken
// from one allocator and given back to another (the sanitizer's own
// operators would see a mismatch).
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (t_counting) ++t_count;
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

namespace qvp3::testing {

AllocationCounter::AllocationCounter() {
    t_count = 0;
    t_counting = true;
}
AllocationCounter::~AllocationCounter() { t_counting = false; }
std::size_t AllocationCounter::count() const { return t_count; }

}  // namespace qvp3::testing
