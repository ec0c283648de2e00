// The binding to the disc writer libdiscwriter.so, which the program loads by
// name from its folder at run time (it is never linked): the cd* functions the
// export step and its page use, each bound by name.
//
// Every function starts at a stub that answers E_FAIL (an empty text for
// cdGetLastErrorText) and keeps it when the library or that export is
// missing: without the library there is no CD export, and nothing calls into
// nothing. Unloading puts the stubs back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "discwriter/discwriter.h"
#include "platform/files.h"

namespace qvp3 {

inline constexpr const char* kDiscWriterLibraryName = "libdiscwriter.so";

class CDiscWriterLib {
public:
    CDiscWriterLib();
    // cdClose when set up, then the library is unloaded.
    ~CDiscWriterLib();
    CDiscWriterLib(const CDiscWriterLib&) = delete;
    CDiscWriterLib& operator=(const CDiscWriterLib&) = delete;

    // Loads libdiscwriter.so from folder and binds its functions; false, with
    // every function a stub, when the library cannot be loaded. A library
    // loaded before is released first.
    bool Load(const std::filesystem::path& folder);
    // cdClose when the library was set up, then unloads it; harmless when repeated.
    void Release();
    bool loaded() const { return module_ != nullptr; }
    const std::string& loadError() const { return loadError_; }

    // Set once cdSetup succeeded (cnvCdInit), cleared by Release.
    bool setUp = false;
    // The writer number opened through cdOpenDrive, -1 when none.
    int burnDriveOpen = -1;

    decltype(&::cdSetup) cdSetup;
    decltype(&::cdClose) cdClose;
    decltype(&::cdGetDriveNumber) cdGetDriveNumber;
    decltype(&::cdOpenDrive) cdOpenDrive;
    decltype(&::cdCloseDrive) cdCloseDrive;
    decltype(&::cdEject) cdEject;
    decltype(&::cdCloseTray) cdCloseTray;
    decltype(&::cdLock) cdLock;
    decltype(&::cdUnlock) cdUnlock;
    decltype(&::cdCanBurnProof) cdCanBurnProof;
    decltype(&::cdSetBurnProof) cdSetBurnProof;
    decltype(&::cdSetWriteSpeed) cdSetWriteSpeed;
    decltype(&::cdSetCloseSession) cdSetCloseSession;
    decltype(&::cdSetCloseDisc) cdSetCloseDisc;
    decltype(&::cdSetSimulate) cdSetSimulate;
    decltype(&::cdSetCancel) cdSetCancel;
    decltype(&::cdSetEventWindow) cdSetEventWindow;
    decltype(&::cdInsertTrack) cdInsertTrack;
    decltype(&::cdRemoveTracks) cdRemoveTracks;
    decltype(&::cdIsMediaLoaded) cdIsMediaLoaded;
    decltype(&::cdPrepareMediaTAO) cdPrepareMediaTAO;
    decltype(&::cdGetFreeSpace) cdGetFreeSpace;
    decltype(&::cdWriteDisc) cdWriteDisc;
    decltype(&::cdGetLastErrorText) cdGetLastErrorText;

private:
    // Calls visit(slot, name) for every function slot.
    template <typename Visit>
    void forEachSlot(Visit&& visit);
    void fillStubs();

    void* module_ = nullptr;
    std::string loadError_;
};

// Start-up: loads the disc writer from folder and starts it (cdSetup with the
// program's log, which may be null and must outlive the library's use).
// E_FAIL when the library cannot be loaded (no CD export then); otherwise
// cdSetup's result.
int cnvCdInit(CDiscWriterLib& lib, const std::filesystem::path& folder = platform::programFolder(),
              dwScoreLog* log = nullptr);

}  // namespace qvp3
