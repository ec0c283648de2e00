// The export step: a worker thread that hands the project's rendered WAV
// files to the user, as MP3 files in the MP3 folder (burn method -1, through
// cnvExportMp3Files) or as an audio CD, one track per file, written through
// the disc writer (any other burn method: the writer number of the recorder).
//
// Every step is a line of the page's status list. The cancel word is the
// first entry's state; the run command writes kEntryStopRequested there. The
// burn tests it between its steps, and the disc writer hears of it too
// (cdSetCancel), so that a cancel or the page closing also ends a write or a
// wait for the medium. Waits for the tray are cut short by a cancel. The
// drive opened by a burn is closed at the end of every run, whatever ended
// it, and the run button, disabled while the disc is written, is enabled again.
//
// When the worker ends it hands the page's worker slot to the completion
// notifier, which posts WM_STEP_WORKER_DONE to the page's window; the page
// answers it with cnvExportStepWorkerDone on its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/message_target.h"
#include "qvp3_pipeline/conversion_step.h"
#include "qvp3_pipeline/disc_writer_lib.h"
#include "qvp3_pipeline/mp3_encoder.h"
#include "qvp3_pipeline/worker_threads.h"
#include "qvp3_project/project.h"

namespace qvp3 {

inline constexpr int kBurnMethodMp3 = -1;

// Results of a burn besides the MP3 export's.
inline constexpr int kCdCancelled = -5;
inline constexpr int kCdAddTrackFailed = -712;
inline constexpr int kCdWriteFailed = -713;
inline constexpr int kCdOpenDriveFailed = -714;
inline constexpr int kCdBurnProofFailed = -716;
inline constexpr int kCdSpeedFailed = -717;
inline constexpr int kCdCloseDiscFailed = -718;
inline constexpr int kCdSimulateFailed = -719;
inline constexpr int kCdMediaQueryFailed = -720;
inline constexpr int kCdPrepareFailed = -721;
inline constexpr int kCdFreeSpaceFailed = -722;
inline constexpr int kCdCloseSessionFailed = -724;

// Bytes a second of CD audio (44.1 kHz, 2 channels, 16 bits) and of a sector.
inline constexpr std::int64_t kCdBytesPerSecond = 176400;
inline constexpr std::int64_t kCdSectorBytes = DISCWRITER_SECTOR_BYTES;

// Language strings of the burn (English texts stand in where the shell has none).
inline constexpr int kStrCdOpenFailed = 429;
inline constexpr int kStrCdSettingFailed = 430;
inline constexpr int kStrCdInsertBlank = 431;      // question
inline constexpr int kStrCdDone = 436;
inline constexpr int kStrCdCancelled = 437;
inline constexpr int kStrCdEnded = 438;
inline constexpr int kStrCdWriteFailedCause = 465;
inline constexpr int kStrCdPreparing = 502;
inline constexpr int kStrCdTracks = 60245;
inline constexpr int kStrCdTrackFailed = 60246;
inline constexpr int kStrCdSettingUp = 60247;
inline constexpr int kStrCdSimulating = 60248;
inline constexpr int kStrCdCopy = 60249;           // "%i": the copy
inline constexpr int kStrCdNoDisc = 60250;
inline constexpr int kStrCdWriting = 60251;
inline constexpr int kStrCdWritten = 60252;
inline constexpr int kStrCdNextCopy = 60253;       // question
inline constexpr int kStrCdTooSmall = 60254;       // question
inline constexpr int kStrCdCancelledBox = 60255;
inline constexpr int kStrCdFailed = 60256;
inline constexpr int kStrCdFailedCode = 60257;     // "%i": the result

// OK and Cancel buttons of a question box.
inline constexpr int kMbOkCancel = 1;

// What the export page shows besides the conversion steps' controls. Calls
// come from the worker thread.
class ExportStepView : public ConversionStepView {
public:
    virtual void clearStatusList() {}
    // A line of the status list, or a replacement of its last line.
    virtual void addStatusLine(std::string_view text, bool replaceLast) { (void)text, (void)replaceLast; }
    // The run button (40077) while the disc is written.
    virtual void enableRunButton(bool enabled) { (void)enabled; }
    // The MP3 overwrite question: kIdYes, kIdNo or kIdCancel, plus 10 when
    // "do not ask again" was ticked.
    virtual int askOverwrite(const std::filesystem::path& mp3File, std::string_view question) {
        (void)mp3File, (void)question;
        return kIdYes;
    }
};

struct ExportStepPage;

// What a run works with, handed to cnvExportStepRun.
struct ExportStepSetup {
    Project* project = nullptr;
    // The loaded disc writer (cnvCdInit); null or not loaded: no CD export.
    CDiscWriterLib* discWriter = nullptr;
    // The client name under which the medium is prepared: the program title.
    std::string clientName = "qvp3";
    std::string mp3Library = kMp3EncoderLibrary;
    // The waits after the tray is closed: for a disc to be inserted, and
    // for the next one.
    std::chrono::milliseconds insertWait{5000};
    std::chrono::milliseconds trayWait{3000};
    // Called by the notifier when the step has ended; false when the shell's
    // follow-up failed. It must not wait for the user-interface thread.
    std::function<bool(ExportStepPage& page)> workerDone;
};

// The step page's data block with the run's setup.
struct ExportStepPage : ConversionStepPage {
    explicit ExportStepPage(ExportStepView* view = nullptr, platform::MessageTarget* window = nullptr);
    // Stops a running step first and waits for it (cnvExportStepStop).
    ~ExportStepPage() override;

    ExportStepView* exportView;
    // The current run's setup (written only while no thread of the page runs).
    ExportStepSetup setup;
    // True while a question about the disc is open.
    std::atomic<bool> waitingForDisc{false};
    // The result of the last run (0 done), written by the worker under the lock.
    int result = 0;

    Project* runProject() const override { return setup.project; }
    bool runWorkerDone() override { return setup.workerDone ? setup.workerDone(*this) : true; }
};

// The page's run command: starts the worker or, while it runs, cancels it.
ConversionStepRun cnvExportStepRun(ExportStepPage& page, ExportStepSetup setup);
// The page's answer to WM_STEP_WORKER_DONE: frees the records of the ended run.
void cnvExportStepWorkerDone(ExportStepPage& page);
// Closing: cancels a running step without messages and waits for it.
void cnvExportStepStop(ExportStepPage& page);

// The worker (owner: the ExportStepPage) and its completion notifier (owner: the same page).
void cnvExportStepThreadProc(WorkerThreadRec& record);
void cnvExportWorkerDoneThreadProc(WorkerThreadRec& record);

// Prepares the medium for track-at-once under client: a disc that is not
// blank or not supported gives state 1 and 0; otherwise state 0 and
// cdPrepareMediaTAO's result.
int cnvCdPrepareMedia(CDiscWriterLib& lib, const std::string& client, int& state);
// Until a blank disc with room for the project's WAV files is in the drive
// of the page's run (waiting is true while a question is open): 0, -5 (the
// user cancelled), -720, -721, -722.
int WaitForDisc(ExportStepPage& page, std::atomic<bool>& waiting);
// Writes the project's WAV files as an audio CD, as many copies as the
// project asks: 0 or a result code above.
int BurnAudioCd(ExportStepPage& page);

}  // namespace qvp3
