#include "musicxml/convert_proc.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "musicxml/measure_walk.h"
#include "musicxml/mxml_load.h"
#include "musicxml/part_list.h"
#include "musicxml/play_model_builder.h"
#include "musicxml/stream_load.h"
#include "platform/files.h"
#include "play/play_proc.h"
#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"
#include "tvrxml/vxml_bridge.h"
#include "tvrxml/vxml_stream.h"

namespace scoreconv {

using scorecore::kErrDom;
using scorecore::kErrNotPresent;
using scorecore::kErrOutOfMemory;
using scorecore::kErrStopped;
using scorecore::kOk;

namespace {

constexpr std::string_view kBannerEngine = "Converted by Tavrena Orvendo 3 (scoreconv)";
constexpr std::string_view kBannerMaker = "Tavrena software";
constexpr auto kPumpInterval = std::chrono::milliseconds(10);
constexpr std::string_view kFunction = "mxmlConvertProc";

// One run of the procedure: its block, its file and its log lines.
class ConvertRun {
public:
    ConvertRun(CConvertParams& params, std::span<const std::filesystem::path> styleSheetFolders)
        : p_(params), file_(*params.file), styleSheetFolders_(styleSheetFolders) {}

    int run();

private:
    int load();
    // streamed: what the header pass read, the parts then walked as the file
    // is read again; null: the whole document is loaded.
    int writeTvrxml(int32_t staves, CStreamedParts* streamed);
    int setUpDocument(int32_t staves);
    int buildModel();
    int playWhenAsked(int rc);

    void log(std::string_view text) const { file_.logStep(kFunction, text); }
    // A failing step: its line, and the code handed on.
    int fail(std::string_view step, int rc) const {
        file_.logFailedStep(kFunction, step, rc);
        return rc;
    }

    CConvertParams& p_;
    CMxmlFile& file_;
    std::span<const std::filesystem::path> styleSheetFolders_;
};

int ConvertRun::run() {
    // A converted file written over its own score would lose the score.
    if (file_.playModeNow() == kModeTvrxml &&
        platform::isSameFile(std::filesystem::path(p_.targetPath), std::filesystem::path(p_.sourcePath))) {
        log("target is the source file|errorcode fail");
        return scorecore::kErrVxmlFileNotWritten;
    }
    int rc = kOk;
    {
        const CMxmlFile::ModeScope mode(file_, CMxmlFile::loadMode(file_.playModeNow()));
        rc = load();
        // An empty score has nothing to play.
        if (rc == kOk && file_.playModeNow() != kModeTvrxml && scoreStaffCount(file_) > 0) rc = playWhenAsked(rc);
    }
    if (rc != kOk) {
        log("errorcode fail");
        file_.destroy();
    } else {
        log("errorcode success");
        file_.fnScanned = p_.sourcePath;
    }
    return rc;
}

int ConvertRun::load() {
    const bool tvrxml = file_.playModeNow() == kModeTvrxml;
    const std::filesystem::path source(p_.sourcePath);
    if (!tvrxml && !p_.wholeDocument) {
        std::string_view step;
        const int rc = loadStreamed(file_, source, step);
        if (rc != kStreamNotServed) return rc == kOk || step.empty() ? rc : fail(step, rc);
    }
    // Mode 5 reads a partwise score part by part too, in two passes: the
    // header and every part's tables first, then the walk.
    std::optional<CStreamedParts> streamed;
    if (tvrxml && !p_.wholeDocument) {
        streamed.emplace();
        std::string_view step;
        const int rc = readStreamedHeader(file_, source, *streamed, step);
        if (rc == kStreamNotServed) {
            streamed.reset();
        } else if (rc != kOk) {
            return step.empty() ? rc : fail(step, rc);
        }
    }
    if (!streamed) {
        if (const int rc = getProps(file_, source, styleSheetFolders_); rc != kOk) return fail("mxml->getProps", rc);
    }
    const int32_t staves = scoreStaffCount(file_);
    if (staves > 0 && !file_.quantize.create(staves)) return fail("...", kErrOutOfMemory);
    if (tvrxml) return writeTvrxml(staves, streamed ? &*streamed : nullptr);
    // A score without staves loads as an empty score.
    if (staves == 0) return kOk;
    return buildModel();
}

// --- mode 5 -----------------------------------------------------------------------------

int ConvertRun::writeTvrxml(int32_t staves, CStreamedParts* streamed) {
    scorecore::CVxmlFile* vxml = p_.vxml;
    if (vxml == nullptr) return fail("xmldomCreateFile", kErrNotPresent);
    // A document without staves could not be read back: nothing is written.
    if (staves == 0) {
        log("vxml->writeFile|errorcode fail");
        return scorecore::kErrVxmlFileNotWritten;
    }
    if (const int rc = setUpDocument(staves); rc != kOk) return rc;
    if (file_.stopRequested()) return kErrStopped;
    CVxmlBridge bridge(file_, *vxml);
    CMeasureWalk walk(file_, bridge, bridge.spans());
    int rc = kOk;
    if (streamed != nullptr) {
        rc = bridge.prepare(staves, streamed->walkOrder, &streamed->weights);
        if (rc == kOk) rc = walkStreamedParts(file_, std::filesystem::path(p_.sourcePath), *streamed, walk,
                                              *bridge.spans());
    } else {
        std::vector<xmlNodePtr> parts;
        if (const int found = GetPartlistFromNode(file_.document.root(), parts); found != kOk) {
            return fail("GetPartlistFromNode", found);
        }
        rc = bridge.prepare(staves, partIndexesOfElements(file_, parts));
        if (rc == kOk) rc = walk.run();
    }
    if (rc != kOk) return fail("...", rc);
    vxml->resetCursor();
    if (vxml->appendSystems() != kOk) return fail("vxml->appendSystems", scorecore::kErrVxmlSystemsNotWritten);
    // The last moment a stop request can keep the target from being written.
    if (file_.stopRequested()) return fail("...", kErrStopped);
    if (vxml->writeFile(std::filesystem::path(p_.targetPath)) != kOk) {
        log("vxml->writeFile|errorcode fail");
        return scorecore::kErrVxmlFileNotWritten;
    }
    log("vxml->writeFile|errorcode okay");
    return kOk;
}

int ConvertRun::setUpDocument(int32_t staves) {
    scorecore::CVxmlFile& vxml = *p_.vxml;
    if (const int rc = scorecore::xmldomCreateFile(std::filesystem::path(p_.targetPath), vxml.document, vxml.root,
                                                   scorecore::kXmlDocNewTvrxml);
        rc != kOk) {
        return fail("xmldomCreateFile", rc);
    }
    vxml.path = std::filesystem::path(p_.targetPath);
    std::string info = file_.description;
    info += '\n';
    info += kBannerEngine;
    info += '\n';
    info += kBannerMaker;
    if (const int rc = vxml.appendInfo(info); rc != kOk) return fail("vxml->appendInfo", rc);
    scorecore::VxmlLayoutArgs layout;
    if (!buildLayoutArgs(file_, staves, layout)) return fail("vxml->appendLayout", kErrOutOfMemory);
    if (const int rc = vxml.appendLayout(layout); rc != kOk) return fail("vxml->appendLayout", rc);
    if (const int rc = vxml.appendBarCount(); rc != kOk) return fail("vxml->appendBarCount", rc);
    if (const int rc = vxml.createMainSystemNode(); rc != kOk) return fail("vxml->createMainSystemNode", rc);
    return kOk;
}

// --- every other mode -------------------------------------------------------------------

int ConvertRun::buildModel() {
    std::string_view step;
    const int rc = buildPlayModel(file_, &step);
    return rc != kOk && !step.empty() ? fail(step, rc) : rc;
}

// The slot asks for the play procedure: a play-time pass (the file's mode
// reads 1 meanwhile), or in mode 7 the score played through the MIDI output.
int ConvertRun::playWhenAsked(int rc) {
    if (file_.stopRequested()) return kErrStopped;
    if (p_.playTime == nullptr) return rc;
    file_.reportProgress(kProgressLoadAndPlay, -1);
    log("vor mxmlPlayProc");
    log(rc == kOk ? "errorcode okay" : "errorcode fail");
    CPlayParams params;
    params.playTime = p_.playTime;
    params.result = &rc;
    runPlayPass(file_, params);
    log(rc == kOk ? "errorcode okay" : "errorcode fail");
    log("nach mxmlPlayProc");
    return rc;
}

// The procedure is a thread's body: nothing may escape it.
int runGuarded(CConvertParams& params, std::span<const std::filesystem::path> styleSheetFolders) {
    try {
        return ConvertRun(params, styleSheetFolders).run();
    } catch (const std::bad_alloc&) {
        params.file->destroy();
        return kErrOutOfMemory;
    } catch (...) {
        params.file->destroy();
        return kErrDom;
    }
}

void pumpProgressTarget(platform::MessageTarget** window) {
    if (window == nullptr) return;
    platform::MessageTarget* target = std::atomic_ref<platform::MessageTarget*>(*window).load();
    if (target != nullptr) target->pump();
}

}  // namespace

bool runWhilePumping(platform::WorkerThread& worker, platform::MessageTarget** window,
                     const std::function<void()>& body) {
    worker.stop(std::chrono::milliseconds(0));  // joins an earlier run that has ended
    if (!worker.start([&body](platform::WorkerContext&) { body(); }, platform::ThreadPriority::BelowNormal)) {
        return false;
    }
    // Progress may be sent: the worker then waits until this thread pumps.
    while (worker.running()) {
        pumpProgressTarget(window);
        std::this_thread::sleep_for(kPumpInterval);
    }
    worker.stop(platform::kInfiniteWait);
    pumpProgressTarget(window);
    return true;
}

void mxmlConvertProc(CConvertParams* params) {
    if (params == nullptr) return;
    const int rc = params->file != nullptr ? runGuarded(*params, {}) : kErrNotPresent;
    if (params->result != nullptr) *params->result = rc;
}

int loadPlayModel(CMxmlFile& file, const std::filesystem::path& source,
                  std::span<const std::filesystem::path> styleSheetFolders, LoadRoute route) {
    CConvertParams params;
    params.file = &file;
    params.sourcePath = source.string();
    params.wholeDocument = route == LoadRoute::WholeDocument;
    return runGuarded(params, styleSheetFolders);
}

int mxmlScanFileOn(platform::WorkerThread& worker, CMxmlFile* file, const std::string& sourcePath,
                   int64_t* playTime) {
    if (file == nullptr) return kOk;
    if (file->playModeNow() == kModePlayTime) return kErrNotPresent;
    // A worker of the file still runs (a play, say): its file must not change.
    if (worker.running()) return kErrStopped;
    if (!file->fnScanned.empty()) {
        if (file->fnScanned == sourcePath && (playTime == nullptr || *playTime > 0)) return kOk;
        file->destroy();
    }
    if (file->stopRequested()) return kErrStopped;

    int result = kOk;
    CConvertParams params;
    params.file = file;
    params.sourcePath = sourcePath;
    params.playTime = playTime;
    params.result = &result;
    params.closeFlag = true;
    if (!runWhilePumping(worker, file->progressWindow, [&params] { mxmlConvertProc(&params); })) {
        return kErrOutOfMemory;
    }
    return result;
}

int mxmlScanFile(CMxmlFile* file, const std::string& sourcePath, int64_t* playTime) {
    if (file == nullptr) return kOk;
    return mxmlScanFileOn(file->worker, file, sourcePath, playTime);
}

}  // namespace scoreconv
