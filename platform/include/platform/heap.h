// How the process's heap deals with the memory it frees.
#pragma once

namespace platform {

// Keeps freed heap memory in the process for the next allocations instead of
// handing it back to the system at once. Called first thing in main, before
// any thread starts; it changes the heap of the whole process.
//
// A score is read part by part: each part's document is built and freed in
// turn, and the play model's arrays grow by doubling. With the allocator's
// own thresholds, each freed block of more than a few megabytes went back to
// the system and was faulted in again page by page for the next part, so the
// parts of a long score cost more each than those of a short one.
void keepFreedHeapForReuse();

}  // namespace platform
