// C exports: the objects a C host makes for the library (message target, log),
// the lifecycle of both handle kinds and the MusicXML load procedures.
#include <filesystem>
#include <memory>
#include <new>
#include <string>

#include "exports/exports_support.h"
#include "musicxml/convert_proc.h"
#include "musicxml/mxml_file.h"
#include "platform/message_target.h"
#include "scoreconv/scoreconv.h"
#include "scorecore/result_codes.h"
#include "scorecore/score_log.h"
#include "scorecore/vxml_file.h"

using scoreconv::exports::guarded;
using scoreconv::exports::guardedVoid;
using scoreconv::exports::textOf;

// ---- helpers for C hosts -------------------------------------------------------------

scMessageTarget* scoreconvCreateCallbackTarget(scMessageCallback fn, void* user) {
    if (fn == nullptr) return nullptr;
    return guarded<scMessageTarget*>(nullptr, [&]() -> scMessageTarget* {
        // The queue keeps posts from blocking a worker; the owner delivers
        // them in its pump, and a send from the owner goes straight through.
        return new platform::QueuedMessageTarget(
            [fn, user](platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) -> platform::LResult {
                fn(user, msg, wParam, lParam);
                return 0;
            });
    });
}

void scoreconvPumpCallbackTarget(scMessageTarget* target) {
    if (target == nullptr) return;
    guardedVoid([&] { target->pump(); });
}

void scoreconvDestroyCallbackTarget(scMessageTarget* target) { delete target; }

scScoreLog* scoreconvCreateLog(const char* path) {
    if (path == nullptr || *path == '\0') return nullptr;
    return guarded<scScoreLog*>(nullptr, [&]() -> scScoreLog* {
        auto log = std::make_unique<scorecore::CScoreLog>(std::filesystem::path(path));
        return log->isOpen() ? log.release() : nullptr;
    });
}

void scoreconvDestroyLog(scScoreLog* log) { delete log; }

// ---- MusicXML file: lifecycle --------------------------------------------------------

scMxmlFile* mxmlNewFile(scMessageTarget** window, int32_t mode, int* signal, int32_t ticksPerQuarter,
                        const char* programName, scScoreLog* log) {
    return guarded<scMxmlFile*>(nullptr, [&] {
        return scoreconv::CMxmlFile::newFile(window, mode, signal, ticksPerQuarter, textOf(programName), log)
            .release();
    });
}

void mxmlFreeFile(scMxmlFile** handle) { scoreconv::CMxmlFile::freeFile(handle); }

void mxmlDestroyFile(scMxmlFile** handle) {
    if (handle == nullptr || *handle == nullptr) return;
    // A running procedure keeps its score: emptying it would free what it reads.
    const scoreconv::CMxmlFile::BusyScope hold(**handle);
    if (!hold.held()) return;
    guardedVoid([&] { (*handle)->destroy(); });
}

void mxmlInitFile(scMxmlFile** handle, int32_t /*flag*/) {
    // The quantize and tune-up records are values replaced in any case, so
    // the flag that asked to delete the old ones first changes nothing.
    if (handle == nullptr || *handle == nullptr) return;
    const scoreconv::CMxmlFile::BusyScope hold(**handle);
    if (!hold.held()) return;
    guardedVoid([&] { (*handle)->reset(); });
}

int mxmlConvertProc(CThreadProcParams* params) {
    if (params == nullptr || params->file == nullptr) return scorecore::kOk;
    int result = scorecore::kErrOutOfMemory;
    const scoreconv::CMxmlFile::BusyScope hold(*params->file);
    if (!hold.held()) {
        result = scorecore::kErrStopped;
    } else {
        guardedVoid([&] {
            scoreconv::CConvertParams block = scoreconv::exports::convertBlock(*params, &result);
            scoreconv::mxmlConvertProc(&block);
            params->staffCount = block.staffCount;
            params->voiceCount = block.voiceCount;
        });
    }
    if (params->result != nullptr) *params->result = result;
    return result;
}

int mxmlScanFile(scMxmlFile* file, const char* path, int64_t* playTime) {
    if (file == nullptr) return scorecore::kOk;
    if (path == nullptr) return scorecore::kErrCannotOpen;
    const scoreconv::CMxmlFile::BusyScope hold(*file);
    if (!hold.held()) return scorecore::kErrNotPresent;
    return guarded(scorecore::kErrOutOfMemory, [&] { return scoreconv::mxmlScanFile(file, path, playTime); });
}

// ---- TvrXML file: lifecycle ----------------------------------------------------------

scVxmlFile* vxmlNewFile(scScoreLog* log) {
    return guarded<scVxmlFile*>(nullptr, [&] { return new scorecore::CVxmlFile(log); });
}

void vxmlFreeFile(scVxmlFile** handle) {
    if (handle == nullptr) return;
    delete *handle;
    *handle = nullptr;
}

void vxmlDestroyFile(scVxmlFile** handle) {
    if (handle == nullptr || *handle == nullptr) return;
    guardedVoid([&] { (*handle)->destroy(); });
}
