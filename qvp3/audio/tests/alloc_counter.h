// Counts the allocations through operator new that the calling thread makes
// while a counter is alive: audio callbacks must make none.
#pragma once

#include <cstddef>

namespace qvp3::testing {

class AllocationCounter {
public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;
    std::size_t count() const;
};

}  // namespace qvp3::testing
