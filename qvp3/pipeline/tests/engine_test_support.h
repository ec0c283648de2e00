// Shared by the tests that load our engine: keeping its OpenMP runtime
// loaded, and scores converted to ".tvrx" through the score library's C
// interface.
#pragma once

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/pipeline.h"
#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_project/project.h"
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

// A project whose pipeline opens its entries through our engine from the
// program folder; the project folder is a temporary one.
struct EngineProject {
    EngineProject() {
        keepEngineRuntimeLoaded();
        engine.Init(0, QVP3_PROGRAM_DIR);
        project.data.ProjectFolder = dir.path();
    }
    ~EngineProject() { engine.Release(); }
    EngineProject(const EngineProject&) = delete;
    EngineProject& operator=(const EngineProject&) = delete;
    // Opens the file as a new entry of the project: 0 or the opening's code.
    int open(const std::filesystem::path& file) {
        ProjectEntry entry;
        entry.Filename = file;
        pipeline.cnvEntryInit(entry, project);
        return pipeline.openEntry(entry, project, false, false);
    }
    platform::testing::TempFolder dir;
    CTavtuneLib engine;
    platform::MessageTarget* window = nullptr;
    Pipeline pipeline{engine, &window};
    Neighbours neighbours{&pipeline};
    Project project{neighbours};
};

}  // namespace qvp3::testing
