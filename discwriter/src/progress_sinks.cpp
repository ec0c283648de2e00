#include "progress_sinks.h"

#include "discwriter/discwriter.h"
#include "library_state.h"

namespace discwriter {
namespace {

bool cancelRequested() { return state().cancel.load(); }

platform::WParam value(int v) { return static_cast<platform::WParam>(static_cast<std::uint32_t>(v)); }

}  // namespace

void CCallBack::trackBegin(int track) {
    remaining_ = -1;
    elapsed_ = 0;
    total_ = 0;
    postToClient(DISCWRITER_WM_CD_TRACK_BEGIN, value(track), 0);
}

void CCallBack::trackDone(int track) { postToClient(DISCWRITER_WM_CD_TRACK_DONE, value(track), 0); }

// The total is taken from this update's own times: adding the previous
// update's elapsed time would let the total shrink by one step at every update.
bool CCallBack::progress(const WriteProgress& p) {
    if (cancelRequested()) return false;
    if (p.action == WriteAction::Finishing) {
        if (!finishingReported_) postToClient(DISCWRITER_WM_CD_FINISHING, 0, 0);
        finishingReported_ = true;
        return true;
    }
    remaining_ = p.remainingSeconds;
    elapsed_ = p.elapsedSeconds;
    total_ = remaining_ + elapsed_;
    postToClient(DISCWRITER_WM_CD_TIME_TOTAL, value(total_), 0);
    if (!finishingReported_) postToClient(DISCWRITER_WM_CD_TIME_ELAPSED, value(elapsed_), 0);
    return true;
}

CCallBackDAO::CCallBackDAO(const std::vector<int>& trackStarts, int leadOut)
    : starts_(trackStarts), leadOut_(leadOut) {}

// A recorder that reports no lead-in still gets its total before the first
// elapsed time; otherwise every position would count as past the last track.
bool CCallBackDAO::progress(const WriteProgress& p) {
    if (cancelRequested()) return false;
    if (p.action == WriteAction::Finishing) {
        postToClient(DISCWRITER_WM_CD_FINISHING, 0, 0);
        return true;
    }
    if (p.action != WriteAction::Writing) return true;
    lastWritten_ = p.lastWrittenLba;
    const int n = static_cast<int>(starts_.size());
    if (currentTrack_ == 0 || (currentTrack_ < n && lastWritten_ > starts_[static_cast<std::size_t>(currentTrack_)])) {
        ++currentTrack_;
        postToClient(DISCWRITER_WM_CD_TRACK_BEGIN, value(currentTrack_), 0);
    }
    if (!totalKnown_) {
        totalKnown_ = true;
        totalReported_ = leadOut_;
        postToClient(DISCWRITER_WM_CD_TIME_TOTAL, value(leadOut_), 0);
        if (lastWritten_ < 0) postToClient(DISCWRITER_WM_CD_LEADIN, 0, 0);
    }
    if (lastWritten_ < 0) return true;
    if (lastWritten_ < totalReported_) {
        postToClient(DISCWRITER_WM_CD_TIME_ELAPSED, value(lastWritten_ + 1), 0);
    } else {
        postToClient(DISCWRITER_WM_CD_PAST_LAST_TRACK, 0, 0);
    }
    return true;
}

bool CCallBackData::progress(const WriteProgress& p) {
    if (cancelRequested()) return false;
    switch (p.action) {
        case WriteAction::Writing:
            postToClient(DISCWRITER_WM_CD_TIME_TOTAL, value(p.remainingSeconds + p.elapsedSeconds), 0);
            postToClient(DISCWRITER_WM_CD_TIME_ELAPSED, value(p.elapsedSeconds), 0);
            break;
        case WriteAction::Finishing: postToClient(DISCWRITER_WM_CD_FINISHING, 0, 0); break;
        case WriteAction::Verifying: postToClient(DISCWRITER_WM_CD_VERIFYING, 0, 0); break;
    }
    return true;
}

void CCallBackErase::update(int elapsedSeconds, int expectedSeconds) {
    postToClient(DISCWRITER_WM_CD_ERASE_PROGRESS, value(elapsedSeconds), expectedSeconds);
}

}  // namespace discwriter
