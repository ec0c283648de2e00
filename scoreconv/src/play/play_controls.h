// What a host changes while a play runs, and what the player reports back.
//
// The host writes the controls (play mode, seek target, tempo rule, play
// conditions) from any thread; the player reads them once per step as one
// consistent snapshot, so a tempo rule set in one call is never seen half
// old, half new. The player writes only its report (the mode it switched to,
// the position it reached). No field is written by both sides: where both
// have a say (mode, position), each side keeps its own value with the serial
// of the host's last change, and the newer one answers.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace scoreconv {

inline constexpr int32_t kModePlayTime = 1;     // measure the playing time
inline constexpr int32_t kModeRealTime = 2;     // play through a MIDI output
inline constexpr int32_t kModeRender = 3;       // render to a standard MIDI file
inline constexpr int32_t kModeFastForward = 4;  // run to the play position, then real time
inline constexpr int32_t kModeTvrxml = 5;       // convert to TvrXML
inline constexpr int32_t kModeLookAhead = 6;    // the readers' own scans
inline constexpr int32_t kModeLoadAndPlay = 7;

struct CTempoSettings {
    uint8_t TempoMode = 1;  // nonzero: score tempo + TempoAdd within the range; 0: TempoAbs
    int32_t TempoAdd = 0;
    int32_t TempoAbs = -1;  // -1 stands for 120
    int32_t low = 10;
    int32_t high = 720;
};

// One consistent reading of the controls.
struct CPlayControlValues {
    int32_t playMode = kModeRealTime;
    int64_t seekTarget = 0;  // 100-ns units
    CTempoSettings tempo;
    uint64_t playConditions = 0;
    uint32_t modeSerial = 0;  // the host's changes of the mode so far
    uint32_t seekSerial = 0;  // and of the seek target
};

class CPlayControls {
public:
    CPlayControlValues snapshot() const;

    int32_t playMode() const { return playMode_.load(std::memory_order_acquire); }
    void setPlayMode(int32_t mode);
    void setSeekTarget(int64_t position);
    CTempoSettings tempo() const { return snapshot().tempo; }
    void setTempo(const CTempoSettings& tempo);
    void setTempoMode(uint8_t mode);
    void setTempoAdd(int32_t offset);
    void setTempoAbs(int32_t tempo);
    uint64_t playConditions() const { return conditions_.load(std::memory_order_acquire); }
    void setPlayConditions(uint64_t conditions);
    void addPlayConditions(uint64_t bits);
    // Sets bits only when none of them is set yet.
    void addPlayConditionsIfNone(uint64_t bits);
    // Inverts bits when at least one of them is set.
    void flipPlayConditionsIfAny(uint64_t bits);
    void setTempoRange(int32_t low, int32_t high);
    // Everything back to its default (the serials go on counting).
    void reset();

    // Settings the player reads one at a time where it uses them, so they
    // need no snapshot. Only the host writes them: through the library's
    // setters or through the addresses its address exports hand out.
    std::atomic<int32_t> noteShortening{95};
    std::atomic<int32_t> baseVelocity{90};
    std::atomic<uint8_t> ignoreTempo{0};
    std::atomic<uint8_t> playRepeats{1};
    std::atomic<uint8_t> previewDo{0};
    std::atomic<int32_t> previewSec{5};

private:
    // Host writers take the lock among themselves and bump the sequence
    // around a change (odd while it lasts); the player never locks, it reads
    // until it sees one even sequence on both sides of its reading.
    template <class F>
    void change(F&& f);

    std::mutex writers_;
    std::atomic<uint32_t> sequence_{0};
    std::atomic<int32_t> playMode_{kModeRealTime};
    std::atomic<int64_t> seekTarget_{0};
    std::atomic<uint8_t> tempoMode_{1};
    std::atomic<int32_t> tempoAdd_{0};
    std::atomic<int32_t> tempoAbs_{-1};
    std::atomic<int32_t> tempoLow_{10};
    std::atomic<int32_t> tempoHigh_{720};
    std::atomic<uint64_t> conditions_{0};
    std::atomic<uint32_t> modeSerial_{0};
    std::atomic<uint32_t> seekSerial_{0};
};

// What the player reports: each value with the serial of the host's change it
// answers.
class CPlayReport {
public:
    void setMode(int32_t mode, uint32_t hostSerial) {
        mode_.store(mode, std::memory_order_relaxed);
        modeSerial_.store(hostSerial, std::memory_order_release);
    }
    void setPosition(int64_t position, uint32_t hostSerial) {
        position_.store(position, std::memory_order_relaxed);
        positionSerial_.store(hostSerial, std::memory_order_release);
    }
    // The mode in force: the player's when it answered the host's last change.
    int32_t mode(const CPlayControls& controls) const;
    int64_t position(const CPlayControls& controls) const;
    // The position the player reached, for hosts that watch it by address.
    const std::atomic<int64_t>& reachedPosition() const { return position_; }
    // Whether the host set a seek target since the player last reported.
    bool seekIsNewer(const CPlayControlValues& values) const;
    void reset();

private:
    std::atomic<int32_t> mode_{0};
    std::atomic<uint32_t> modeSerial_{~0u};  // answers no change yet
    std::atomic<int64_t> position_{0};
    std::atomic<uint32_t> positionSerial_{~0u};
};

}  // namespace scoreconv
