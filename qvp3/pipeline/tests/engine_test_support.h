// Shared by the tests that load our engine: keeping its OpenMP runtime
// loaded, and scores converted to ".tvrx" through the score library's C
// interface.
#pragma once

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "scoreconv/scoreconv.h"

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

// MusicXML to ".tvrx" through the score library's C interface; its result.
inline int convertToTvrx(const std::filesystem::path& source, const std::filesystem::path& target) {
    int signal = 0;
    scMxmlFile* file = mxmlNewFile(nullptr, SCORECONV_MODE_TVRXML, &signal, 480, "qvp3 test", nullptr);
    scVxmlFile* vxml = vxmlNewFile(nullptr);
    int result = -1;
    const std::string from = source.string();
    const std::string to = target.string();
    CThreadProcParams params{};
    params.file = file;
    params.vxml = vxml;
    params.sourcePath = from.c_str();
    params.targetPath = to.c_str();
    params.result = &result;
    if (file != nullptr && vxml != nullptr) mxmlConvertProc(&params);
    vxmlFreeFile(&vxml);
    mxmlFreeFile(&file);
    return result;
}

}  // namespace qvp3::testing
