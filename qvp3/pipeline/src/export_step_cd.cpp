// The export step's audio CD: preparing the medium, waiting for a blank disc
// with room for the project, and the burn of its copies.
#include <algorithm>
#include <cmath>

#include "conversion_step_worker.h"
#include "export_step_support.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_pipeline/wave_step.h"
#include "qvp3_project/profile_file.h"

namespace qvp3 {
namespace {

bool failed(int result) { return result != DISCWRITER_S_OK; }

// A question about the disc: true for OK. The tray is open while it is asked.
bool askForDisc(ExportStepPage& page, std::atomic<bool>& waiting, int id, const char* english) {
    CDiscWriterLib& lib = *page.setup.discWriter;
    lib.cdEject();
    waiting = true;
    const int answer = page.setup.project->shell().appTextBox(cnvExportText(page, id, english), kBoxQuestion,
                                                              kMbOkCancel);
    waiting = false;
    if (answer != kIdOk || cnvExportCancelled(page)) return false;
    lib.cdCloseTray();
    return true;
}

// The bytes the first converted-WAV-count entries need as CD audio.
std::int64_t neededBytes(const Project& project) {
    const int count = std::clamp(project.convertedWaveCount, 0, project.fileNum());
    std::int64_t ms = 0;
    for (int i = 0; i < count; ++i) ms += std::max(project.entries[static_cast<std::size_t>(i)].convertedWaveMs, 0);
    return std::llround(static_cast<double>(ms) / 1000.0 * kCdBytesPerSecond);
}

constexpr const char* kInsertBlank = "Please insert a blank CD-R or CD-RW into the recorder.";

// Step 1 of the wait: a medium in the drive.
int waitForMedium(ExportStepPage& page, std::atomic<bool>& waiting) {
    CDiscWriterLib& lib = *page.setup.discWriter;
    std::int32_t state = -1;
    if (failed(lib.cdIsMediaLoaded(&state))) return kCdMediaQueryFailed;
    while (state < 0) {
        if (!askForDisc(page, waiting, kStrCdInsertBlank, kInsertBlank)) return kCdCancelled;
        if (!cnvExportWait(page, page.setup.insertWait)) return kCdCancelled;
        state = -1;
        if (failed(lib.cdIsMediaLoaded(&state))) return kCdMediaQueryFailed;
    }
    return 0;
}

// Step 2: a blank disc the recorder can write.
int waitForBlankDisc(ExportStepPage& page, std::atomic<bool>& waiting) {
    CDiscWriterLib& lib = *page.setup.discWriter;
    int state = 0;
    if (failed(cnvCdPrepareMedia(lib, page.setup.clientName, state))) return kCdPrepareFailed;
    while (state == 1) {
        if (!askForDisc(page, waiting, kStrCdInsertBlank, kInsertBlank)) return kCdCancelled;
        if (!cnvExportWait(page, page.setup.trayWait)) return kCdCancelled;
        if (failed(cnvCdPrepareMedia(lib, page.setup.clientName, state))) return kCdPrepareFailed;
    }
    return 0;
}

// Step 3: room for every file; a disc exactly as large as needed is refused.
int waitForRoom(ExportStepPage& page, std::atomic<bool>& waiting) {
    CDiscWriterLib& lib = *page.setup.discWriter;
    const std::int64_t needed = neededBytes(*page.setup.project);
    std::int32_t sectors = 0;
    if (failed(lib.cdGetFreeSpace(&sectors))) return kCdFreeSpaceFailed;
    while (needed >= std::int64_t{sectors} * kCdSectorBytes) {
        if (!askForDisc(page, waiting, kStrCdTooSmall,
                        "The disc in the recorder has not enough room for the project. "
                        "Please insert a larger blank disc.")) {
            return kCdCancelled;
        }
        if (!cnvExportWait(page, page.setup.trayWait)) return kCdCancelled;
        sectors = 0;
        if (failed(lib.cdGetFreeSpace(&sectors))) return kCdFreeSpaceFailed;
    }
    return 0;
}

// The burn of one run; every failure writes its line and ends with its code.
class CdBurn {
public:
    explicit CdBurn(ExportStepPage& page)
        : page_(page), lib_(*page.setup.discWriter), project_(*page.setup.project) {}
    int run();

private:
    int openDrive();
    int applySettings();
    int insertTracks();
    int writeCopies();
    int writeCopy(int copy);
    int fail(int id, const char* english, int code) {
        cnvExportLine(page_, id, english);
        return code;
    }
    int settingFailed(int code) { return fail(kStrCdSettingFailed, "The CD recorder refused a setting.", code); }
    bool cancelled() { return cnvExportCancelled(page_); }

    ExportStepPage& page_;
    CDiscWriterLib& lib_;
    Project& project_;
    int tracks_ = 0;
};

int CdBurn::run() {
    // A cancel of an earlier run must not stop this one; the run command sets it again.
    lib_.cdSetCancel(0);
    if (cancelled()) return kCdCancelled;
    if (const int r = openDrive(); r != 0) return r;
    if (cancelled()) return kCdCancelled;
    if (const int r = applySettings(); r != 0) return r;
    if (cancelled()) return kCdCancelled;
    if (const int r = insertTracks(); r != 0) return r;
    if (cancelled()) return kCdCancelled;
    cnvExportLine(page_, kStrCdSettingUp, "Setting up the recorder ...");
    lib_.cdSetEventWindow(page_.window);
    if (failed(lib_.cdSetSimulate(project_.burnSimulate != 0 ? 1 : 0))) return settingFailed(kCdSimulateFailed);
    if (cancelled()) return kCdCancelled;
    cnvExportView(page_).enableRunButton(false);
    cnvExportResetBars(page_, tracks_);
    const int result = writeCopies();
    // Whatever ended the copies, the page may be used again.
    if (result == 0) cnvExportLine(page_, kStrCdEnded, "The CD writing has ended.");
    cnvExportView(page_).enableRunButton(true);
    return result;
}

int CdBurn::openDrive() {
    if (lib_.burnDriveOpen == project_.burnMethod) return 0;
    if (failed(lib_.cdOpenDrive(static_cast<std::int16_t>(project_.burnMethod)))) {
        return fail(kStrCdOpenFailed, "The CD recorder could not be opened.", kCdOpenDriveFailed);
    }
    lib_.burnDriveOpen = project_.burnMethod;
    return 0;
}

int CdBurn::applySettings() {
    cnvExportLine(page_, kStrCdPreparing, "Preparing the CD recorder ...");
    char canBurnProof = 0;
    lib_.cdCanBurnProof(&canBurnProof);
    if (canBurnProof != 0 && failed(lib_.cdSetBurnProof(project_.burnProof != 0 ? 1 : 0))) {
        return settingFailed(kCdBurnProofFailed);
    }
    if (project_.burningSpeed > 0 &&
        failed(lib_.cdSetWriteSpeed(static_cast<std::int16_t>(project_.burningSpeed)))) {
        return settingFailed(kCdSpeedFailed);
    }
    if (failed(lib_.cdSetCloseSession(1))) return settingFailed(kCdCloseSessionFailed);
    if (failed(lib_.cdSetCloseDisc(1))) return settingFailed(kCdCloseDiscFailed);
    return 0;
}

int CdBurn::insertTracks() {
    cnvExportLine(page_, kStrCdTracks, "Collecting the tracks ...");
    // A list left by an earlier client would add its tracks to this disc.
    lib_.cdRemoveTracks();
    tracks_ = 0;
    for (ProjectEntry& entry : project_.entries) {
        if (entry.convertedWavePath.empty()) continue;
        if (entry.convertedWaveMs <= 0) {
            if (const auto length = cnvWaveFileDuration(entry.convertedWavePath)) {
                const std::int64_t ms = *length / 10000 + 1;
                entry.convertedWaveMs = static_cast<std::int32_t>(std::min<std::int64_t>(ms, INT32_MAX));
            }
        }
        if (failed(lib_.cdInsertTrack(entry.convertedWavePath.string().c_str()))) {
            return fail(kStrCdTrackFailed, "A track could not be added.", kCdAddTrackFailed);
        }
        ++tracks_;
    }
    return 0;
}

int CdBurn::writeCopies() {
    const int copies = std::max(project_.cdCopies, 1);
    for (int copy = 1; copy <= copies; ++copy) {
        if (cancelled()) return kCdCancelled;
        if (const int r = writeCopy(copy); r != 0) return r;
        if (copy == copies) break;
        if (!askForDisc(page_, page_.waitingForDisc, kStrCdNextCopy,
                        "Please take the written CD out of the recorder and insert a blank one for the next copy.")) {
            return kCdCancelled;
        }
        if (!cnvExportWait(page_, page_.setup.trayWait)) return kCdCancelled;
    }
    return 0;
}

int CdBurn::writeCopy(int copy) {
    if (project_.burnSimulate != 0) {
        cnvExportLine(page_, kStrCdSimulating, "Simulating the writing ...");
    } else {
        cnvExportLine(page_, prfFormatString(cnvExportText(page_, kStrCdCopy, "Writing copy %i ..."),
                                             std::to_string(copy)));
    }
    if (const int r = WaitForDisc(page_, page_.waitingForDisc); r != 0) {
        return fail(kStrCdNoDisc, "There is no usable disc in the recorder.", r);
    }
    cnvExportLine(page_, kStrCdWriting, "Writing the CD ...");
    lib_.cdLock();
    char done = 0;
    int result = failed(lib_.cdWriteDisc(&done)) || done == 0 ? kCdWriteFailed : 0;
    lib_.cdUnlock();
    cnvExportResetBars(page_, tracks_);
    // A write the cancel stopped is a cancel, not a failure.
    if (result != 0 && cancelled()) result = kCdCancelled;
    if (result != 0) return result;
    if (project_.burnSimulate == 0) project_.dirty = 0;
    cnvExportLine(page_, kStrCdWritten, "The CD is written.", true);
    return 0;
}

}  // namespace

int cnvCdPrepareMedia(CDiscWriterLib& lib, const std::string& client, int& state) {
    const int result = lib.cdPrepareMediaTAO(client.c_str());
    if (result == DISCWRITER_E_MEDIA_NOT_BLANK || result == DISCWRITER_E_MEDIA_NOT_SUPPORTED) {
        state = 1;
        return 0;
    }
    state = 0;
    return result;
}

int WaitForDisc(ExportStepPage& page, std::atomic<bool>& waiting) {
    waiting = false;
    if (const int r = waitForMedium(page, waiting); r != 0) return r;
    if (const int r = waitForBlankDisc(page, waiting); r != 0) return r;
    return waitForRoom(page, waiting);
}

int BurnAudioCd(ExportStepPage& page) {
    if (page.setup.discWriter == nullptr || page.setup.project == nullptr) return kCdOpenDriveFailed;
    return CdBurn(page).run();
}

}  // namespace qvp3
