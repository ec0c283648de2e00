// The threads of the step pages: the completion notifier that every page but
// MDC, WVC, BRN and CLN runs while it is shown, the step jobs that the run
// command starts on MDC, WVC and BRN, and what a page does when a thread
// reports back (WM_STEP_WORKER_DONE) or when it is left.
//
// Threads never call the page: they post to its window, and the page answers
// on the user-interface thread. A page left while its job runs keeps the job
// (and, when it ends, its result); only a notifier ends with the page's show.
#pragma once

#include "platform/message_target.h"
#include "qvp3_pipeline/worker_threads.h"
#include "qvp3_project/neighbours.h"

namespace qvp3 {

// The show steps of the framework, after a page's own refresh: the profile
// bar, then (unless the current entry plays) the completion notifier and a
// refresh of the main file list. Returns 1.
StepPage::Result stpStartNotifier(StepPage& page);
// The hide step: a notifier still running is stopped and freed. A job keeps running.
void stpStopNotifier(StepPage& page);
// The onShow of a page that has no own: the two above.
StepPage::Result stpFrameworkOnShow(StepPage& page, bool shown);

// Slot 21, WM_STEP_WORKER_DONE: frees the worker slot, then what the step
// adds (the run button again for MDC, WVC and BRN; the tempo-curve page's
// change marker for TPP and DYN).
void stpPageStopWorker(StepPage& page);
// Slot 20, the run command (40077) of MDC, WVC, BRN, CLN and PWC.
void stpRunStep(StepPage& page);

// The metronome page's preview: stops a running one, else opens the preview
// output and starts clicking. True when nothing was to be done or it went
// well; false when the output could not be opened (the page warns).
bool stpStartPreviewThread(StepPage& page);
// Stops a running preview of the page and closes its output.
void stpStopPreview(StepPage& page);

// onVScroll of the tune-up and metronome pages: the tune-up's duration
// (position x 100 ms), the metronome's count-in and its velocity.
StepPage::Result stpEinOnVScroll(StepPage& page, QWidget* upDown, int code, int position);
StepPage::Result stpMetOnVScroll(StepPage& page, QWidget* upDown, int code, int position);
inline constexpr int kEinDurationUpDown = 15004;
inline constexpr int kMetCountInUpDown = 14003;
inline constexpr int kMetVelocityUpDown = 14011;
// The code an up-down sends when the user lets go: nothing changes then.
inline constexpr int kScrollEnd = 8;

// The notifier's body: the host's end of a step (stepWorkerDone), then
// WM_STEP_WORKER_DONE to the page. The record's owner is the page; the
// target it posts to is taken when the notifier is started.
void cnvWorkerDoneThreadProc(WorkerThreadRec& record, StepPage& page, platform::MessageTarget* target);

// Language strings of the run commands.
inline constexpr int kStrCleanQuestion = 449;
inline constexpr int kStrCleanDone = 450;
inline constexpr int kStrLoadInstrumentFailed = 116;

// Check boxes of the clean-up page.
inline constexpr int kClnMidiBox = 20002;
inline constexpr int kClnWaveBox = 20003;
inline constexpr int kClnMp3Box = 20004;

}  // namespace qvp3
