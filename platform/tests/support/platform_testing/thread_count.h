// How many threads the process runs, for tests that check that work on
// helper threads leaves none behind.
#pragma once

#include <cstddef>
#include <filesystem>
#include <thread>

namespace platform::testing {

inline std::size_t threadCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++count;
    return count;
}

// The count to compare with later: a thread is run first, as a sanitizer
// starts a thread of its own once the process has run one and keeps it.
inline std::size_t threadCountAtRest() {
    std::thread([] {}).join();
    return threadCount();
}

}  // namespace platform::testing
