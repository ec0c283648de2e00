// How much heap a piece of work holds at most: this program's malloc, free and
// the rest of the family count the bytes of the blocks they hand out and take
// back (libxml2, zlib and operator new all come through them). Counting is off
// until heapMeterStart(), so timed runs pay one untaken branch per call.
#pragma once

#include <cstddef>

namespace bench {

// Counts from now on, from zero: blocks freed from now on count against it,
// whenever they were allocated.
void heapMeterStart();
// The most the counted bytes stood at since heapMeterStart().
std::size_t heapMeterPeakBytes();

}  // namespace bench
