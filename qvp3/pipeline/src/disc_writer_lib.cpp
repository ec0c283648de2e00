// The disc-writer binding: loading, the function slots and their stubs.
#include "qvp3_pipeline/disc_writer_lib.h"

#include <dlfcn.h>

#include <type_traits>

namespace qvp3 {
namespace {

template <typename F>
struct Stub;

// Answers what a failing call of the library answers.
template <typename R, typename... A>
struct Stub<R (*)(A...)> {
    static R call(A...) {
        if constexpr (std::is_same_v<R, const char*>) {
            return "";
        } else {
            return DISCWRITER_E_FAIL;
        }
    }
};

}  // namespace

template <typename Visit>
void CDiscWriterLib::forEachSlot(Visit&& visit) {
    visit(cdSetup, "cdSetup");
    visit(cdClose, "cdClose");
    visit(cdGetDriveNumber, "cdGetDriveNumber");
    visit(cdOpenDrive, "cdOpenDrive");
    visit(cdCloseDrive, "cdCloseDrive");
    visit(cdEject, "cdEject");
    visit(cdCloseTray, "cdCloseTray");
    visit(cdLock, "cdLock");
    visit(cdUnlock, "cdUnlock");
    visit(cdCanBurnProof, "cdCanBurnProof");
    visit(cdSetBurnProof, "cdSetBurnProof");
    visit(cdSetWriteSpeed, "cdSetWriteSpeed");
    visit(cdSetCloseSession, "cdSetCloseSession");
    visit(cdSetCloseDisc, "cdSetCloseDisc");
    visit(cdSetSimulate, "cdSetSimulate");
    visit(cdSetCancel, "cdSetCancel");
    visit(cdSetEventWindow, "cdSetEventWindow");
    visit(cdInsertTrack, "cdInsertTrack");
    visit(cdRemoveTracks, "cdRemoveTracks");
    visit(cdIsMediaLoaded, "cdIsMediaLoaded");
    visit(cdPrepareMediaTAO, "cdPrepareMediaTAO");
    visit(cdGetFreeSpace, "cdGetFreeSpace");
    visit(cdWriteDisc, "cdWriteDisc");
    visit(cdGetLastErrorText, "cdGetLastErrorText");
}

CDiscWriterLib::CDiscWriterLib() { fillStubs(); }

CDiscWriterLib::~CDiscWriterLib() { Release(); }

void CDiscWriterLib::fillStubs() {
    forEachSlot([](auto& slot, const char*) { slot = &Stub<std::remove_reference_t<decltype(slot)>>::call; });
}

bool CDiscWriterLib::Load(const std::filesystem::path& folder) {
    Release();
    loadError_.clear();
    const std::filesystem::path file = folder / kDiscWriterLibraryName;
    module_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr) {
        const char* why = dlerror();
        loadError_ = why != nullptr ? why : "cannot load " + file.string();
        return false;
    }
    forEachSlot([this](auto& slot, const char* name) {
        using Slot = std::remove_reference_t<decltype(slot)>;
        if (void* symbol = dlsym(module_, name)) slot = reinterpret_cast<Slot>(symbol);
    });
    return true;
}

void CDiscWriterLib::Release() {
    if (setUp) cdClose();
    setUp = false;
    burnDriveOpen = -1;
    // Stubs first: nothing may reach the library once it is gone.
    fillStubs();
    if (module_ != nullptr) dlclose(module_);
    module_ = nullptr;
}

int cnvCdInit(CDiscWriterLib& lib, const std::filesystem::path& folder, dwScoreLog* log) {
    if (!lib.Load(folder)) return DISCWRITER_E_FAIL;
    const int result = lib.cdSetup(log);
    lib.setUp = result == DISCWRITER_S_OK;
    return result;
}

}  // namespace qvp3
