// C exports that drive the play procedure: playing on the caller's thread or
// on the file's own worker, the play time, the tune-up, the settings a host
// changes while a play runs, and a capture output for hosts without one.
//
// A play on the worker reads the play mode, the play position and the tempo
// settings while the host writes them: they are the score's controls, which
// the player reads once a step.
#include <cstddef>
#include <cstdint>

#include "exports/exports_support.h"
#include "musicxml/convert_proc.h"
#include "musicxml/mxml_file.h"
#include "platform/midi_out.h"
#include "play/play_proc.h"
#include "play/voice_setup.h"
#include "scoreconv/scoreconv.h"
#include "scorecore/result_codes.h"

using scoreconv::exports::guarded;
using scoreconv::exports::guardedVoid;
using scoreconv::exports::playBlock;

// ---- capture output for C hosts ------------------------------------------------------

scMidiOut* scoreconvCreateCaptureMidiOut(void) {
    return guarded<scMidiOut*>(nullptr, [] { return new platform::CaptureMidiOut(); });
}

size_t scoreconvCaptureCount(scMidiOut* out) {
    const auto* capture = dynamic_cast<const platform::CaptureMidiOut*>(out);
    if (capture == nullptr) return 0;
    return guarded<size_t>(0, [&] { return capture->count(); });
}

void scoreconvDestroyCaptureMidiOut(scMidiOut* out) { delete out; }

// ---- the play procedure --------------------------------------------------------------

int mxmlPlayProc(CThreadProcParams* params) {
    if (params == nullptr || params->file == nullptr) return scorecore::kOk;
    int result = scorecore::kErrOutOfMemory;
    const scoreconv::CMxmlFile::BusyScope hold(*params->file);
    if (!hold.held() || params->file->worker.running()) {
        // A play or scan of the file runs: its tables must not move under it.
        result = scorecore::kErrStopped;
    } else {
        guardedVoid([&] {
            scoreconv::CPlayParams block = playBlock(*params, &result);
            scoreconv::runPlayPass(*params->file, block);
        });
    }
    if (params->result != nullptr) *params->result = result;
    return result;
}

int mxmlPlayFile(scMxmlFile* file, CThreadProcParams* params, scMidiOut* out) {
    if (file == nullptr) return scorecore::kOk;
    if (params == nullptr) return scorecore::kErrNotPresent;
    return guarded(scorecore::kErrOutOfMemory, [&] {
        // The worker writes the result straight into the host's slot.
        const scoreconv::CPlayParams block = playBlock(*params, params->result);
        return scoreconv::playOnWorker(*file, &block, out);
    });
}

const void* mxmlGetThread(scMxmlFile* file) {
    return file != nullptr && file->worker.running() ? &file->worker : nullptr;
}

int mxmlGetPlaytime(scMxmlFile* file, int64_t* playTime) {
    if (file == nullptr) return scorecore::kOk;
    const scoreconv::CMxmlFile::BusyScope hold(*file);
    if (!hold.held()) return scorecore::kErrStopped;
    return guarded(scorecore::kErrOutOfMemory, [&] { return scoreconv::measurePlayTime(*file, playTime); });
}

bool mxmlPlayEinstimmung(scMxmlFile* file) {
    if (file == nullptr) return false;
    // The tune-up shares the file's output and play state with a running play.
    const scoreconv::CMxmlFile::BusyScope hold(*file);
    if (!hold.held() || file->worker.running()) return false;
    return guarded(false, [&] { return scoreconv::playEinstimmung(*file); });
}

// ---- settings a running play reads ---------------------------------------------------

int32_t mxmlGetPlaymode(scMxmlFile* file) { return file != nullptr ? file->playModeNow() : 0; }

scMxmlFile* mxmlSetPlaymode(scMxmlFile* file, int32_t mode) {
    if (file != nullptr) file->controls.setPlayMode(mode);
    return file;
}

int64_t mxmlGetPlayPosition(scMxmlFile* file) { return file != nullptr ? file->playPositionNow() : 0; }

scMxmlFile* mxmlSetPlayPosition(scMxmlFile* file, int64_t position) {
    if (file != nullptr) file->controls.setSeekTarget(position);
    return file;
}

uint8_t mxmlGetTempoMode(scMxmlFile* file) { return file != nullptr ? file->controls.tempo().TempoMode : 1; }

scMxmlFile* mxmlSetTempoMode(scMxmlFile* file, uint8_t mode) {
    if (file != nullptr) file->controls.setTempoMode(mode);
    return file;
}

int32_t mxmlGetTempoAdd(scMxmlFile* file) { return file != nullptr ? file->controls.tempo().TempoAdd : 0; }

scMxmlFile* mxmlSetTempoAdd(scMxmlFile* file, int32_t offset) {
    if (file != nullptr) file->controls.setTempoAdd(offset);
    return file;
}

int32_t mxmlGetTempoAbs(scMxmlFile* file) { return file != nullptr ? file->controls.tempo().TempoAbs : -1; }

scMxmlFile* mxmlSetTempoAbs(scMxmlFile* file, int32_t tempo) {
    if (file != nullptr) file->controls.setTempoAbs(tempo);
    return file;
}
