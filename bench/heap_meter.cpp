#include "heap_meter.h"

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

// glibc's own allocator under its second names: these definitions replace
// malloc and its family for the whole process and hand each call on.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* block);
}

namespace {

std::atomic<bool> counting{false};
std::atomic<std::int64_t> held{0};
std::atomic<std::int64_t> peak{0};

void add(std::int64_t bytes) {
    const std::int64_t now = held.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    std::int64_t seen = peak.load(std::memory_order_relaxed);
    while (now > seen && !peak.compare_exchange_weak(seen, now, std::memory_order_relaxed)) {
    }
}

void* counted(void* block) {
    if (block != nullptr && counting.load(std::memory_order_relaxed)) {
        add(static_cast<std::int64_t>(malloc_usable_size(block)));
    }
    return block;
}

void uncount(void* block) {
    if (block != nullptr && counting.load(std::memory_order_relaxed)) {
        add(-static_cast<std::int64_t>(malloc_usable_size(block)));
    }
}

bool powerOfTwo(std::size_t n) { return n != 0 && (n & (n - 1)) == 0; }

std::size_t pageSize() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

}  // namespace

namespace bench {

void heapMeterStart() {
    held.store(0, std::memory_order_relaxed);
    peak.store(0, std::memory_order_relaxed);
    counting.store(true, std::memory_order_seq_cst);
}

std::size_t heapMeterPeakBytes() {
    const std::int64_t most = peak.load(std::memory_order_seq_cst);
    return most > 0 ? static_cast<std::size_t>(most) : 0;
}

}  // namespace bench

extern "C" {

void* malloc(std::size_t size) { return counted(__libc_malloc(size)); }

void* calloc(std::size_t count, std::size_t size) { return counted(__libc_calloc(count, size)); }

void* realloc(void* block, std::size_t size) {
    // Counted as a free and a new block; a failed realloc leaves the old one.
    const std::size_t before = block != nullptr ? malloc_usable_size(block) : 0;
    void* moved = __libc_realloc(block, size);
    if (counting.load(std::memory_order_relaxed) && (moved != nullptr || size == 0)) {
        add(static_cast<std::int64_t>(moved != nullptr ? malloc_usable_size(moved) : 0) -
            static_cast<std::int64_t>(before));
    }
    return moved;
}

void* reallocarray(void* block, std::size_t count, std::size_t size) {
    std::size_t total = 0;
    if (__builtin_mul_overflow(count, size, &total)) {
        errno = ENOMEM;
        return nullptr;
    }
    return realloc(block, total);
}

void free(void* block) {
    uncount(block);
    __libc_free(block);
}

void* memalign(std::size_t alignment, std::size_t size) { return counted(__libc_memalign(alignment, size)); }

void* aligned_alloc(std::size_t alignment, std::size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
    if (!powerOfTwo(alignment) || alignment % sizeof(void*) != 0) return EINVAL;
    void* block = memalign(alignment, size);
    if (block == nullptr) return ENOMEM;
    *out = block;
    return 0;
}

void* valloc(std::size_t size) { return memalign(pageSize(), size); }

void* pvalloc(std::size_t size) {
    const std::size_t page = pageSize();
    if (size > SIZE_MAX - page) {
        errno = ENOMEM;
        return nullptr;
    }
    return memalign(page, (size + page - 1) / page * page);
}

}  // extern "C"
