// The real-time player of the open score (entries_play.cpp).
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "engine/engine.h"
#include "engine/intro.h"
#include "platform/midi_out.h"
#include "play/voice_setup.h"

namespace tavtune {

// Codes added to the host's code base in the position message.
inline constexpr int kCodePosition = 4;
inline constexpr int kCodeStopped = 7;

class EnginePlayer : public ScoreExtension {
public:
    explicit EnginePlayer(OpenScore& score);
    ~EnginePlayer() override;
    EnginePlayer(const EnginePlayer&) = delete;
    EnginePlayer& operator=(const EnginePlayer&) = delete;

    // Plays from the score's play position through the table's output. 0, or
    // TAVTUNE_NOT_HANDLED when no output or thread can be had.
    int start(const std::string& table);
    // TAVTUNE_PLAYER_* commands; the state afterwards.
    int command(int what, const std::string& table);
    int state();
    // A playing score goes on from the play position.
    void relocate(const std::string& table);
    // Stops at once and resets the output; the position stays.
    void silence();
    // A change of what the pass reads: a playing score pauses for it and
    // plays on from the place it reached (which the change may move).
    void pausedFor(const std::function<void()>& change, const std::string& table);

    // The output it plays through; null before it first played.
    const platform::MidiOutDevice* output() const { return device_.get(); }

    // Real-time waits of every player (null: the machine's steady clock).
    static void setClockForTests(const scoreconv::CRealTimeClock* clock);

private:
    // Turns the player's position reports into the host's position messages.
    struct PositionRelay : platform::MessageTarget {
        explicit PositionRelay(EnginePlayer& player) : owner(player) {}
        bool post(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) override;
        platform::LResult send(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) override;
        EnginePlayer& owner;
    };

    bool playing() const;
    // Ends a running pass and keeps the position it reached.
    void halt();
    bool postPosition(int code, platform::LParam ms);
    // Where playing is now: in the intro, or after it in the music.
    double positionMsNow() const;

    OpenScore& score_;
    PositionRelay relay_;
    platform::MessageTarget* relayTarget_ = nullptr;
    std::unique_ptr<platform::MidiOutDevice> device_;
    std::string deviceTable_;
    std::unique_ptr<IntroPlayer> intro_;  // the running pass's; null without an intro or clicks
    double introMs_ = 0.0;                // the running pass's intro length
    int state_ = TAVTUNE_PLAYER_IDLE;
    int passState_ = 0;
    int passResult_ = 0;
    std::atomic<bool> halted_{false};
};

EnginePlayer& playerOf(OpenScore& score);

}  // namespace tavtune
