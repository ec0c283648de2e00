// The PCM output device: plays the render host's output as a looping buffer
// of two halves of one block each. A device thread wakes whenever a half has
// finished playing, writes the next half (the newest rendered block, or, when
// the render was late, the half it held before, which then plays again) and
// asks the render worker for the next block. The render host hands the block
// back through WriteRenderedBlock, which converts it to 16-bit PCM.
//
// On the device the two halves are two periods of the backend's ring.
// Sizes: a block of F frames is a half of F * 4 bytes; the buffer is two halves.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/message_target.h"
#include "platform/real_time_clock.h"
#include "qvp3_audio/block_output.h"
#include "qvp3_audio/pcm_backend.h"

namespace qvp3 {

class CWorkThread;

// The one format the device plays.
struct PcmWaveFormat {
    std::uint16_t formatTag = 1;  // PCM
    std::uint16_t channels = 2;
    std::uint32_t samplesPerSec = 44100;
    std::uint32_t avgBytesPerSec = 176400;
    std::uint16_t blockAlign = 4;  // bytes per frame
    std::uint16_t bitsPerSample = 16;
    std::uint16_t extraBytes = 0;
};

inline constexpr std::uint32_t kPcmBytesPerFrame = 4;
// Larger blocks are refused (1.5 s of sound per half).
inline constexpr std::uint32_t kPcmMaxBlockFrames = 65536;
// wParam of the message posted when the device went away; lParam holds the
// negative errno.
inline constexpr platform::WParam kPcmOutputLost = 1;

// One float sample as signed 16-bit PCM: clipped to -1..+1, scaled by
// 32767.505859375, less 0.5, truncated toward zero. NaN and infinities,
// which a faulty plug-in may produce, become silence.
std::int16_t audFloatToPcm16(float x);

class CSpecDSoundOutDevice : public CBlockOutput {
public:
    // Plays through ALSA, timed by the steady clock.
    CSpecDSoundOutDevice();
    // The clock gives the elapsed time handed to the render worker and the
    // deadlines of the device's waits.
    explicit CSpecDSoundOutDevice(std::unique_ptr<PcmBackend> backend,
                                  const platform::RealTimeClock& clock = platform::RealTimeClock::steady());
    ~CSpecDSoundOutDevice() override;
    CSpecDSoundOutDevice(const CSpecDSoundOutDevice&) = delete;
    CSpecDSoundOutDevice& operator=(const CSpecDSoundOutDevice&) = delete;

    // Opens the named device (an ALSA PCM name) with halves of blockFrames
    // frames, closing it first when open. On failure the negative errno goes
    // to errorOut, nothing stays open and the result is false.
    bool Open(const std::string& deviceName, std::uint32_t blockFrames, int* errorOut = nullptr);
    // Open, then Prepare: the device is ready to play silence.
    bool OpenByName(const std::string& deviceName, std::uint32_t blockFrames, int* errorOut = nullptr);
    void Close();

    // Starts the loop from the half after the one played last. False when the
    // device is closed, unprepared or refuses the start.
    bool Play();
    bool IsPlaying() const { return playing_.load(); }
    // Stops the loop; true when it was not playing.
    bool Stop();

    bool GetFormat(PcmWaveFormat& out) const;
    // Copies up to one half of bytes (whole frames only) into half 0 or 1;
    // framesWritten receives the frames copied. False for another half, a
    // closed or unprepared device, or while playing (the device thread owns
    // the halves then; rendered blocks come through WriteRenderedBlock).
    bool WriteHalf(std::uint32_t half, const std::int16_t* data, std::uint32_t bytes,
                   std::uint32_t* framesWritten = nullptr);
    // Zeroes the blocks and both halves and records the start time.
    bool Prepare();
    // Asks the render worker for the next block (device thread).
    void BufferDone();
    // The render host's delivery: converts min(frames, block frames) frames
    // of the two channels into the half that plays next; frames missing up
    // to the block's end are silent. Returns whether the device is playing;
    // when it is not the block is dropped. One render at a time.
    bool WriteRenderedBlock(std::uint32_t frames, const float* left, const float* right) override;

    // Not owned; the render host sets it. Close and Prepare wait for a render
    // it runs, so it must outlive them (or be unset first); the destructor
    // does not touch it.
    void SetRenderWorker(CWorkThread* worker) { worker_.store(worker); }
    // Where the device reports that it went away: msg is posted with
    // wParam kPcmOutputLost and lParam the negative errno. Set while stopped.
    void SetNotifyTarget(platform::MessageTarget* target, platform::MessageId msg);

    bool IsOpen() const { return open_; }
    const std::string& Name() const { return name_; }
    std::uint32_t BlockFrames() const { return blockFrames_; }
    std::uint32_t HalfBytes() const { return blockFrames_ * kPcmBytesPerFrame; }
    std::uint32_t BufferBytes() const { return 2 * HalfBytes(); }
    // Since the last Prepare: halves the device thread wrote after one had
    // finished playing, those of them that replayed an old half because no
    // new block had come, and underruns (or suspends) recovered from.
    std::uint64_t HalvesPlayed() const { return halvesPlayed_.load(); }
    std::uint64_t HalvesReplayed() const { return halvesReplayed_.load(); }
    std::uint64_t Underruns() const { return underruns_.load(); }
    // The negative errno that stopped the device, 0 when none.
    int LastError() const { return lastError_.load(); }
    // The message for the user about LastError.
    std::string LastErrorText() const;

private:
    // The hand-over of rendered blocks from the render worker to the device
    // thread: three blocks, one being written, one being read, one between
    // them, swapped by one atomic index. Neither side waits for the other.
    class BlockExchange {
    public:
        void reset(std::size_t samples);
        std::int16_t* back() { return blocks_[back_].data(); }
        void publish();
        // The newest published block not taken yet, else null.
        const std::int16_t* takeFresh();

    private:
        static constexpr std::uint8_t kFresh = 4;
        std::array<std::vector<std::int16_t>, 3> blocks_;
        std::atomic<std::uint8_t> middle_{1};
        std::uint8_t back_ = 0;   // the writer's
        std::uint8_t front_ = 2;  // the reader's
    };

    void DeviceThreadProc();
    int ServiceOneHalf();
    int PlayNextHalf();
    int WriteFrames(const std::int16_t* data, std::uint32_t frames);
    int WaitForRoom();
    bool Recover(int error);
    void Lose(int error);
    void JoinDeviceThread();
    void QuiesceRender() const;
    std::int16_t* HalfData(std::uint32_t half) { return halves_.data() + std::size_t{half} * blockFrames_ * 2; }
    PcmBackend::TimePoint WaitDeadline() const;

    std::unique_ptr<PcmBackend> backend_;
    const platform::RealTimeClock& clock_;
    std::string name_;
    bool open_ = false;
    bool prepared_ = false;
    std::uint32_t blockFrames_ = 0;
    PcmWaveFormat format_;

    std::thread thread_;
    std::atomic<bool> stopFlag_{false};
    std::atomic<bool> playing_{false};
    std::atomic<CWorkThread*> worker_{nullptr};
    platform::MessageTarget* notifyTarget_ = nullptr;
    platform::MessageId notifyMsg_ = 0;

    // The looping buffer: half 0, then half 1. The device thread's while playing.
    std::vector<std::int16_t> halves_;
    std::uint32_t nextHalf_ = 0;
    bool nextHalfIsNew_ = false;
    // The render worker's inputs, zeroed.
    std::vector<float> floatLeft_, floatRight_;
    std::array<float*, 2> floatBlocks_{};
    BlockExchange exchange_;
    std::atomic<int> writers_{0};  // WriteRenderedBlock calls in progress
    PcmBackend::TimePoint startTime_{};

    std::atomic<std::uint64_t> halvesPlayed_{0};
    std::atomic<std::uint64_t> halvesReplayed_{0};
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<int> lastError_{0};
};

}  // namespace qvp3
