// Playing the open score in real time: the notes reach the output the
// instrument table names, the host hears the position and the end, and
// pause, resume, stop and the voice masks do what the host asked.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "../../scoreconv/tests/fake_clock.h"
#include "engine/player.h"
#include "engine_fixtures.h"
#include "platform/message_target.h"

using namespace tavtune;
using namespace tavtune::testing;

namespace {

struct NoteOn {
    int channel;
    int key;
    bool operator==(const NoteOn&) const = default;
};

std::vector<NoteOn> noteOns(const platform::MidiOutDevice* device) {
    std::vector<NoteOn> out;
    const auto* capture = dynamic_cast<const platform::CaptureMidiOut*>(device);
    if (capture == nullptr) return out;
    for (const auto& m : capture->messages()) {
        if (m.kind != platform::CaptureMidiOut::Message::Kind::Short) continue;
        const int status = static_cast<int>(m.packed & 0xFF);
        const int velocity = static_cast<int>((m.packed >> 16) & 0x7F);
        if ((status & 0xF0) == 0x90 && velocity > 0) out.push_back({status & 0x0F, static_cast<int>((m.packed >> 8) & 0x7F)});
    }
    return out;
}

// Every note that was struck was ended again.
void expectSilenceAtTheEnd(const platform::MidiOutDevice* device) {
    const auto* capture = dynamic_cast<const platform::CaptureMidiOut*>(device);
    ASSERT_NE(capture, nullptr);
    std::map<std::pair<int, int>, int> sounding;
    bool reset = false;
    for (const auto& m : capture->messages()) {
        if (m.kind == platform::CaptureMidiOut::Message::Kind::Reset) reset = true;
        if (m.kind != platform::CaptureMidiOut::Message::Kind::Short) continue;
        const int status = static_cast<int>(m.packed & 0xF0);
        const std::pair<int, int> note{static_cast<int>(m.packed & 0x0F), static_cast<int>((m.packed >> 8) & 0x7F)};
        const int velocity = static_cast<int>((m.packed >> 16) & 0x7F);
        if (status == 0x90 && velocity > 0) ++sounding[note];
        if ((status == 0x80 || (status == 0x90 && velocity == 0)) && sounding[note] > 0) --sounding[note];
    }
    if (reset) return;
    for (const auto& [note, count] : sounding) EXPECT_EQ(count, 0) << note.first << "/" << note.second;
}

int playerState() { return static_cast<int>(call<51>(TAVTUNE_PLAYER_QUERY)); }

bool waitUntilIdle() {
    return waitFor([] { return playerState() == TAVTUNE_PLAYER_IDLE; });
}

class EnginePlay : public ::testing::Test {
protected:
    void SetUp() override {
        call<178>(reinterpret_cast<tvWord>("MIDI: capture"));
        writeFile(file_, twoStaveBinaryScore());
    }
    void TearDown() override {
        EnginePlayer::setClockForTests(nullptr);
        call<101>(0, 0, 0x40000000);
        call<178>(reinterpret_cast<tvWord>("MIDI: Default"));
    }
    int open() {
        const std::string path = file_.string();
        return static_cast<int>(call<176>(reinterpret_cast<tvWord>(path.c_str()), 0,
                                          reinterpret_cast<tvWord>(&window_), 1124, 100, 0));
    }
    const platform::MidiOutDevice* output() { return playerOf(*Engine::instance().score()).output(); }

    platform::testing::TempFolder dir_;
    fs::path file_ = dir_.path() / "two.tvr";
    platform::RecordingMessageTarget window_;
    scoreconv::testing::FakeClock clock_;
};

TEST_F(EnginePlay, PlaysTheScoreAndTellsTheHostItsPositionAndEnd) {
    EnginePlayer::setClockForTests(&clock_);
    ASSERT_EQ(open(), TAVTUNE_OPEN_OK);
    ASSERT_EQ(call<89>(100), 0);
    ASSERT_TRUE(waitUntilIdle());
    const std::vector<NoteOn> expected{{0, 72}, {1, 72}, {0, 74}, {0, 76}, {0, 77}};
    EXPECT_EQ(noteOns(output()), expected);
    expectSilenceAtTheEnd(output());
    const auto messages = window_.messages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back().msg, 1124u);
    EXPECT_EQ(messages.back().wParam, 107u) << "the end comes last";
    int positions = 0;
    platform::LParam last = -1;
    for (const auto& m : messages) {
        if (m.wParam != 104) continue;
        ++positions;
        EXPECT_GE(m.lParam, last) << "positions only move forward";
        last = m.lParam;
    }
    EXPECT_GT(positions, 5);
    EXPECT_LE(last, 2000);
}

TEST_F(EnginePlay, PauseResumeAndStop) {
    ASSERT_EQ(open(), TAVTUNE_OPEN_OK);
    ASSERT_EQ(call<89>(100), 0);
    EXPECT_EQ(call<89>(100), 0) << "starting a playing score changes nothing";
    EXPECT_EQ(call<51>(TAVTUNE_PLAYER_PAUSE), TAVTUNE_PLAYER_PAUSED);
    expectSilenceAtTheEnd(output());
    EXPECT_EQ(call<51>(TAVTUNE_PLAYER_RESUME), TAVTUNE_PLAYER_PLAYING);
    EXPECT_EQ(call<51>(TAVTUNE_PLAYER_STOP), TAVTUNE_PLAYER_IDLE);
    EXPECT_EQ(Engine::instance().score()->positionMs, 0.0);
    expectSilenceAtTheEnd(output());
    EXPECT_EQ(call<51>(99), TAVTUNE_NOT_HANDLED);
    for (const auto& m : window_.messages()) EXPECT_NE(m.wParam, 107u) << "a stop by the host is not reported";
}

TEST_F(EnginePlay, SwitchedOffVoicesAreSilent) {
    EnginePlayer::setClockForTests(&clock_);
    ASSERT_EQ(open(), TAVTUNE_OPEN_OK);
    const std::uint8_t masks[] = {1, 0};
    ASSERT_EQ(call<61>(reinterpret_cast<tvWord>(masks)), 0);
    ASSERT_EQ(call<89>(100), 0);
    ASSERT_TRUE(waitUntilIdle());
    const std::vector<NoteOn> expected{{0, 72}, {0, 74}, {0, 76}, {0, 77}};
    EXPECT_EQ(noteOns(output()), expected);
}

TEST_F(EnginePlay, WithoutAScoreNothingPlays) {
    call<101>(0, 0, 0x40000000);
    const std::uint8_t masks[] = {1};
    EXPECT_EQ(call<89>(100), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<51>(TAVTUNE_PLAYER_QUERY), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<52>(), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<61>(reinterpret_cast<tvWord>(masks)), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<126>(), TAVTUNE_NOT_HANDLED);
}

// A curve handed over while the score plays goes into the rows the pass
// reads: the pass pauses for it and plays on, and every note sounds and ends.
TEST_F(EnginePlay, ATempoCurveHandedOverWhileItPlaysPlaysOn) {
    ASSERT_EQ(open(), TAVTUNE_OPEN_OK);
    ASSERT_EQ(call<89>(100), 0);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(handOver({point(0, 200 + i), point(480, 240)}), 0) << i;
        EXPECT_EQ(playerState(), TAVTUNE_PLAYER_PLAYING) << i;
    }
    ASSERT_TRUE(waitUntilIdle());
    const std::vector<NoteOn> played = noteOns(output());
    ASSERT_FALSE(played.empty());
    EXPECT_EQ(played.back(), (NoteOn{0, 77})) << "played to its end";
    expectSilenceAtTheEnd(output());
    EXPECT_EQ(call<100>(0, 0), 3) << "the score's own mark and the two points";
}

// Closing the score while it plays ends the pass first.
TEST_F(EnginePlay, ClosingAPlayingScoreEndsItsPass) {
    ASSERT_EQ(open(), TAVTUNE_OPEN_OK);
    ASSERT_EQ(call<89>(100), 0);
    EXPECT_EQ(call<101>(0, 0, 0x40000000), 0);
    EXPECT_EQ(Engine::instance().score(), nullptr);
}

}  // namespace
