// The sinks of a write's progress: each turns what a recorder reports into the
// client's progress messages, and cancels the write when the cancel setting is on.
#pragma once

#include <vector>

#include "recorder.h"

namespace discwriter {

// Track at once: the track loop's begin and done messages, times per track and
// the finishing message once per write.
class CCallBack : public WriteEvents {
public:
    void trackBegin(int track) override;
    void trackDone(int track) override;
    bool progress(const WriteProgress& p) override;

private:
    int remaining_ = -1;
    int elapsed_ = 0;
    int total_ = 0;
    bool finishingReported_ = false;
};

// Disc at once: tracks and times from the last written LBA of the raw image.
class CCallBackDAO : public WriteEvents {
public:
    CCallBackDAO(const std::vector<int>& trackStarts, int leadOut);
    void trackBegin(int) override {}
    void trackDone(int) override {}
    bool progress(const WriteProgress& p) override;

private:
    const std::vector<int>& starts_;
    int leadOut_;
    int lastWritten_ = 0;
    int totalReported_ = 0;
    bool totalKnown_ = false;
    int currentTrack_ = 0;
};

class CCallBackData : public WriteEvents {
public:
    void trackBegin(int) override {}
    void trackDone(int) override {}
    bool progress(const WriteProgress& p) override;
};

class CCallBackErase {
public:
    void update(int elapsedSeconds, int expectedSeconds);
};

}  // namespace discwriter
