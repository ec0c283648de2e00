// The score-engine binding: loading, the entry-point table and the open score.
#include "qvp3_pipeline/tavtune_lib.h"

#include <dlfcn.h>

#include <cstdio>

namespace qvp3 {
namespace {

// Entry points the binding itself calls.
constexpr int kEndScoreUse = 41;
constexpr int kSetOption = 92;
constexpr int kCloseScore = 101;
constexpr int kStartUp = 105;
constexpr int kShutDown = 106;
constexpr int kSetInstance = 112;
constexpr int kSetResolution = 122;
constexpr int kReadTableName = 170;
constexpr int kOpenScore = 176;
constexpr int kSelectTable = 178;
constexpr int kSetPlayMode = 186;

constexpr tvWord kCloseAll = 0x40000000;
constexpr int kTableNameBytes = 256;

tvWord engineStub(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return TAVTUNE_NOT_HANDLED;
}

}  // namespace

int tavOpenScoreResult(tvWord engineResult) {
    switch (engineResult) {
        case 0: return kTavtuneOk;
        case -5: return kTavtuneNoScore;
        case -4: return kTavtuneScoreRejected;
        case -3: return kTavtuneOutOfMemory;
        case -2: return kTavtuneUnknownFormat;
        // -1, and any answer the engine does not document: never a success.
        default: return kTavtuneEngineFailed;
    }
}

TavPositionInfo tavPositionInfoFrom(const tvRequest& request) {
    TavPositionInfo info;
    info.valid = 1;
    info.result = request.result == 0 ? -1 : request.result;
    info.result2 = request.result2;
    return info;
}

CTavtuneLib::CTavtuneLib() {
    fillStubs();
}

CTavtuneLib::~CTavtuneLib() {
    if (module_ != nullptr) Release();
}

tvEntryPoint CTavtuneLib::stub() {
    return &engineStub;
}

tvEntryPoint CTavtuneLib::entryPoint(int n) const {
    return n >= 0 && n < kTavtuneEntryCount ? entryPoints_[n] : &engineStub;
}

void CTavtuneLib::fillStubs() {
    for (auto& slot : entryPoints_) slot = &engineStub;
}

void CTavtuneLib::clearScoreState() {
    scoreOpen = false;
    scorePath.clear();
    baselinePointCount = 0;
    enginePointCount = 0;
}

CTavtuneLib& CTavtuneLib::Init(tvWord instance, const std::filesystem::path& folder) {
    LoadTavtune(instance, folder);
    clearScoreState();
    tempoRequests = 0;

    char name[kTableNameBytes] = {};
    if (call(kReadTableName, 1, name, kTableNameBytes) >= 0) {
        name[kTableNameBytes - 1] = '\0';  // an engine that fills the buffer still leaves a text
        tableName_ = name;
    } else {
        tableName_.clear();
    }
    call(kSetOption, TAVTUNE_OPTION_OFF, TAVTUNE_OPTION_OFF);
    call(kSetResolution, 100);
    call(kSetPlayMode, -2, 1, 0);
    return *this;
}

int CTavtuneLib::LoadTavtune(tvWord instance, const std::filesystem::path& folder) {
    unload();
    loadError_.clear();
    const std::filesystem::path file = folder / kTavtuneLibraryName;
    module_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr) {
        const char* why = dlerror();
        loadError_ = why != nullptr ? why : "cannot load " + file.string();
        return kTavtuneLoadFailed;
    }
    for (int n = 0; n < kTavtuneEntryCount; ++n) {
        char name[8];
        std::snprintf(name, sizeof name, "C%02i", n);
        if (void* symbol = dlsym(module_, name)) entryPoints_[n] = reinterpret_cast<tvEntryPoint>(symbol);
    }
    call(kSetInstance, instance);
    call(kStartUp);
    return kTavtuneOk;
}

void CTavtuneLib::unload() {
    if (module_ != nullptr) {
        call(kShutDown);
        // Stubs first: nothing may reach the library once it is gone.
        fillStubs();
        dlclose(module_);
        module_ = nullptr;
    }
    fillStubs();
}

void CTavtuneLib::Release() {
    call(kSelectTable, tableName_.c_str());
    call(kEndScoreUse);
    unload();
    // The engine's open score went with it.
    clearScoreState();
}

bool CTavtuneLib::IsScoreOpen(const std::filesystem::path& path) const {
    return !path.empty() && scoreOpen && scorePath == path;
}

int CTavtuneLib::OpenScore(const std::filesystem::path& path, tvWord argument) {
    if (IsScoreOpen(path)) return kTavtuneOk;
    CloseScore();
    const std::string text = path.string();
    const int result = tavOpenScoreResult(call(kOpenScore, text.c_str(), 0, mainWindow_, kTavtunePositionMessage,
                                               kTavtuneCodeBase, argument));
    if (result == kTavtuneOk) {
        scoreOpen = true;
        scorePath = path;
    }
    return result;
}

void CTavtuneLib::CloseScore() {
    if (!scoreOpen) return;
    call(kCloseScore, 0, 0, kCloseAll);
    call(kEndScoreUse);
    clearScoreState();
}

}  // namespace qvp3
