// Shared by the tests that load our engine.
#pragma once

#include <dlfcn.h>

namespace qvp3::testing {

// The engine's synthesizer library brings in the OpenMP runtime, which keeps
// memory of its start that LeakSanitizer no longer sees as held once the
// runtime is unloaded with the engine. Tests that load our engine keep the
// runtime loaded for the life of the test program, as a program that never
// unloads it would.
inline void keepEngineRuntimeLoaded() {
    static void* const runtime = dlopen("libgomp.so.1", RTLD_NOW | RTLD_NODELETE);
    (void)runtime;
}

}  // namespace qvp3::testing
