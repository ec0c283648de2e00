#include "qvp3_steps/step_data.h"

#include "qvp3_steps/step_pages.h"

#include "qvp3_project/step_changes.h"
#include "qvp3_steps/step_table.h"

namespace qvp3 {

StepDataBlock::~StepDataBlock() { stpFreeWorker(worker); }

PreviewData::~PreviewData() {
    if (preview) preview->event.set();  // the preview leaves its beat loop
    stpFreeWorker(preview);
    previewOut.reset();
}

PwcData::~PwcData() {
    // A page that goes while its player lives (a project closed): the player
    // forgets the window. At the program's end the player goes first and
    // forgets it itself; the host is gone then.
    StepPageHost* host = stpPageHost();
    if (windowPlayer != nullptr && host != nullptr && host->samplePlayer() == windowPlayer) windowPlayer->ForgetWindow();
}

std::unique_ptr<StepPageData> stpNewDataBlock(int category) {
    switch (category) {
    case kStepSlf: return std::make_unique<SlfData>();
    case kStepSls: return std::make_unique<SlsData>();
    case kStepTmp: return std::make_unique<TmpData>();
    case kStepTpp: return std::make_unique<TppData>();
    case kStepPwc: return std::make_unique<PwcData>();
    case kStepMet:
    case kStepEin: return std::make_unique<PreviewData>();
    case kStepMdc: return std::make_unique<MdcData>();
    case kStepWvc: return std::make_unique<WvcData>();
    case kStepBrn: return std::make_unique<BrnData>();
    case kStepCln: return std::make_unique<StepPageData>();
    default:
        if (category < 0 || category >= kStepCount) return nullptr;
        return std::make_unique<StepDataBlock>();
    }
}

std::unique_ptr<WorkerThreadRec>* stpWorkerSlot(StepPage& page) {
    if (auto* block = stpData<StepDataBlock>(page)) return &block->worker;
    if (auto* mdc = stpData<MdcData>(page)) return &mdc->job.worker;
    if (auto* wvc = stpData<WvcData>(page)) return &wvc->job.worker;
    if (auto* brn = stpData<BrnData>(page)) return &brn->job.worker;
    return nullptr;
}

}  // namespace qvp3
