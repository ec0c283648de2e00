// Shared by the tests of the play procedure: a simulated clock, a file object
// with a log, a progress receiver and a capture device on that clock, hand-
// built play models, and the captured note messages.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "musicxml/convert_proc.h"
#include "musicxml/mxml_file.h"
#include "musicxml/play_model_builder.h"
#include "fake_clock.h"
#include "mxml_load_support.h"
#include "platform/message_target.h"
#include "platform/midi_out.h"
#include "play/play_proc.h"
#include "scorecore/result_codes.h"
#include "scorecore/score_log.h"

namespace scoreconv::testing {


struct NoteMessage {
    int64_t ms = 0;  // capture time
    uint8_t status = 0;
    uint8_t key = 0;
    uint8_t velocity = 0;
    bool on() const { return (status & 0xF0) == 0x90 && velocity > 0; }
    bool off() const { return (status & 0xF0) == 0x80 || ((status & 0xF0) == 0x90 && velocity == 0); }
    uint8_t channel() const { return status & 0x0F; }
};

// The note messages an output captured, in order, with their time in ms.
inline std::vector<NoteMessage> captureNotes(const platform::CaptureMidiOut& device) {
    std::vector<NoteMessage> out;
    for (const auto& m : device.messages()) {
        if (m.kind != platform::CaptureMidiOut::Message::Kind::Short) continue;
        const auto status = static_cast<uint8_t>(m.packed & 0xFF);
        if ((status & 0xE0) != 0x80) continue;
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(m.time.time_since_epoch()).count();
        out.push_back({ms, status, static_cast<uint8_t>(m.packed >> 8), static_cast<uint8_t>(m.packed >> 16)});
    }
    return out;
}

// Every note-on was ended by a note-off of its key and channel; returns the
// number of note-ons.
inline int expectEveryNoteEnded(const std::vector<NoteMessage>& notes) {
    std::map<std::pair<int, int>, int> sounding;
    int ons = 0;
    for (const NoteMessage& n : notes) {
        if (n.on()) {
            ++sounding[{n.channel(), n.key}];
            ++ons;
        }
        if (n.off() && sounding[{n.channel(), n.key}] > 0) --sounding[{n.channel(), n.key}];
    }
    for (const auto& [note, count] : sounding) {
        EXPECT_EQ(count, 0) << "channel " << note.first << " key " << note.second;
    }
    return ons;
}

// A file object whose log lines, progress reports and MIDI output are kept.
struct PlayHarness {
    explicit PlayHarness(int32_t mode = kModeRealTime)
        : log([this](std::string_view line) { lines.emplace_back(line); }),
          device([this] { return clock.now(); }) {
        window = &target;
        file = CMxmlFile::newFile(&window, mode, &signal, 480, "qvp3", &log);
        file->progressPosted = 0;  // sent, so that a handler sees each report at once
        file->midiOut = &device;
    }

    void load(std::string_view fixtureName) { loadPath(fixture(fixtureName)); }
    void loadPath(const std::filesystem::path& source) { ASSERT_EQ(tryLoad(source), scorecore::kOk) << source; }
    int tryLoad(const std::filesystem::path& source, LoadRoute route = LoadRoute::PartByPart) {
        const std::filesystem::path folders[] = {styleSheetFolder()};
        return loadPlayModel(*file, source, folders, route);
    }

    // One pass in `mode`; the result.
    int play(int32_t mode, CPlayEnvironment env = {}) {
        file->controls.setPlayMode(mode);
        params = CPlayParams{};
        params.playTime = &playTime;
        params.state = &state;
        params.result = &result;
        params.targetPath = midiPath.string();
        if (env.clock == nullptr) env.clock = &clock;
        return runPlayPass(*file, params, env);
    }

    bool logged(std::string_view part) const { return anyLineHolds(lines, part); }

    // Note messages of the capture, in order, with their time in ms.
    std::vector<NoteMessage> notes() const { return captureNotes(device); }
    std::vector<uint32_t> shortMessages() const {
        std::vector<uint32_t> out;
        for (const auto& m : device.messages()) out.push_back(m.packed);
        return out;
    }
    // The lParams of the reports with this wParam.
    std::vector<platform::LParam> reports(platform::WParam wParam) const {
        std::vector<platform::LParam> out;
        for (const auto& m : target.messages()) {
            if (m.msg == platform::WM_MXML_PROGRESS && m.wParam == wParam) out.push_back(m.lParam);
        }
        return out;
    }

    int signal = 0;
    std::vector<std::string> lines;
    scorecore::CScoreLog log;
    FakeClock clock;
    platform::CaptureMidiOut device;
    platform::RecordingMessageTarget target;
    platform::MessageTarget* window = nullptr;
    std::unique_ptr<CMxmlFile> file;
    CPlayParams params;
    int64_t playTime = -1;
    int state = -1;
    int result = -1;
    std::filesystem::path midiPath;
};

inline CScoreEvent noteEvent(int32_t start, int32_t duration, std::vector<uint8_t> keys, uint8_t channel = 0) {
    CScoreEvent e;
    e.kind = scorecore::kKindNote;
    e.start = start;
    e.duration = duration;
    for (uint8_t key : keys) {
        e.midi[static_cast<std::size_t>(e.headCount++)] = platform::packShortMessage(0x90 | channel, key, 90);
    }
    return e;
}

inline CScoreEvent tempoEvent(int32_t tick, int32_t tempo) {
    CScoreEvent e;
    makeTempoEvent(e, tick, tempo);
    return e;
}

inline CScoreEvent markEvent(int32_t tick, uint32_t kind) {
    CScoreEvent e;
    e.start = tick;
    e.kind = kind;
    return e;
}

// One staff ("Hand") with one melodic instrument per voice (channel = voice,
// program 10 + voice) and the given events; the score-wide row gets
// `global` (a 4/4 signature at 0 is added first when it has none).
inline void buildModel(PlayScore& file, const std::vector<std::vector<CScoreEvent>>& voices,
                       std::vector<CScoreEvent> global = {}) {
    const auto count = static_cast<int32_t>(voices.size());
    file.staffNames.resize(1);
    ASSERT_TRUE(file.instruments.addStaves(1));
    file.staffNames[0].name = "Hand";
    file.voiceCounts = {count};
    ASSERT_TRUE(file.events.allocRows(2));
    ASSERT_TRUE(file.events.allocVoices(0, count));
    ASSERT_TRUE(file.events.allocVoices(1, 1));
    for (int32_t v = 0; v < count; ++v) {
        CMidiInstr record;
        record.SrcProgPercId = static_cast<uint8_t>(10 + v);
        record.Channel = static_cast<uint8_t>(v);
        ASSERT_TRUE(file.instruments.append(0, record));
        for (const CScoreEvent& e : voices[static_cast<std::size_t>(v)]) {
            ASSERT_EQ(file.events.append(0, v, e), scorecore::kOk);
        }
    }
    bool meter = false;
    for (const CScoreEvent& e : global) meter = meter || e.isKind(scorecore::kKindTimeSig);
    if (!meter) {
        CScoreEvent fourFour;
        ASSERT_TRUE(makeTimeSigEvent(fourFour, 0, 4, 2));
        ASSERT_EQ(file.events.append(1, 0, fourFour), scorecore::kOk);
    }
    for (const CScoreEvent& e : global) ASSERT_EQ(file.events.insertInOrder(1, 0, e), scorecore::kOk);
    ASSERT_TRUE(file.quantize.create(1));
    ASSERT_TRUE(file.quantize.allocVoices(0, count));
    const std::vector<uint8_t> onOff(1, static_cast<uint8_t>(count));
    ASSERT_TRUE(file.onOff.create(1, onOff));
    ASSERT_TRUE(file.voiceMix.resize(file.voiceCounts));
    ASSERT_TRUE(file.allocatePlayState());
    file.fnScanned = "/music/hand.xml";
}

}  // namespace scoreconv::testing
