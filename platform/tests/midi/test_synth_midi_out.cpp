#include "synth_midi_out.h"

#include "platform/midi_devices.h"
#include "platform_testing/temp_folder.h"
#include "wav_data.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace platform;
using namespace platform::midi;
using platform::testing::readWav;
using platform::testing::TempFolder;
using platform::testing::WavData;
using ::testing::HasSubstr;

namespace {

// Dither alone stays within a step or two; one note at the device's gain
// peaks above 2000.
constexpr int kSilence = 16;
constexpr int kSound = 1000;

struct RendererDelete {
    void operator()(fluid_file_renderer_t* renderer) const { delete_fluid_file_renderer(renderer); }
};

// The device the backend opens, with FluidSynth's file renderer in place of
// the audio driver: faster than real time and needs no sound card.
class RenderedSynth {
public:
    explicit RenderedSynth(const std::filesystem::path& wav) {
        std::string error;
        std::optional<GmSynth> synth = createGmSynth(SynthOptions{}, &error);
        if (!synth) {
            error_ = error;
            return;
        }
        fluid_settings_t* settings = synth->settings.get();
        fluid_settings_setstr(settings, "audio.file.name", wav.c_str());
        fluid_settings_setstr(settings, "audio.file.type", "wav");
        fluid_settings_setstr(settings, "audio.file.format", "s16");
        fluid_settings_getint(settings, "audio.period-size", &periodFrames_);
        device_ = std::make_unique<SynthMidiOut>(std::move(*synth), nullptr);
        renderer_.reset(new_fluid_file_renderer(device_->synth()));
        if (!renderer_) error_ = "cannot create the file renderer";
    }

    const std::string& error() const { return error_; }
    SynthMidiOut& device() { return *device_; }
    std::size_t frame() const { return frames_; }

    void renderMs(int ms) {
        const std::size_t target = frames_ + static_cast<std::size_t>(ms) * 44100 / 1000;
        while (frames_ < target && fluid_file_renderer_process_block(renderer_.get()) == FLUID_OK)
            frames_ += static_cast<std::size_t>(periodFrames_);
    }
    // Closes the file so that its header is complete.
    void finish() { renderer_.reset(); }

private:
    std::string error_;
    int periodFrames_ = 64;
    std::size_t frames_ = 0;
    std::unique_ptr<SynthMidiOut> device_;
    std::unique_ptr<fluid_file_renderer_t, RendererDelete> renderer_;  // goes before the synthesizer
};

WavData readRendered(const std::filesystem::path& path) {
    std::string error;
    std::optional<WavData> wav = readWav(path, error);
    EXPECT_TRUE(wav) << path << ": " << error;
    return wav.value_or(WavData{});
}

}  // namespace

struct NoteCase {
    const char* name;
    std::uint8_t channel;
    std::uint8_t program;  // ignored on the drum channel
    std::uint8_t key;
    std::uint8_t velocity;
    bool sounds;
};

TEST(SynthMidiOutTest, RenderedNotesSoundOnlyWhilePlayed) {
    const NoteCase cases[] = {
        {"piano middle C", 0, 0, 60, 100, true},
        {"trumpet on channel 5", 5, 56, 67, 90, true},
        {"snare on the drum channel", 9, 0, 38, 110, true},
        {"note-on with velocity 0 is a note-off", 0, 0, 60, 0, false},
    };
    TempFolder folder;
    for (const NoteCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto path = folder.path() / (std::string(c.name) + ".wav");
        RenderedSynth synth(path);
        ASSERT_EQ(synth.error(), "");
        if (c.channel != 9) {
            EXPECT_TRUE(synth.device().shortMessage(packShortMessage(0xC0 | c.channel, c.program, 0)));
        }

        synth.renderMs(200);
        const std::size_t noteOn = synth.frame();
        const bool accepted = synth.device().shortMessage(packShortMessage(0x90 | c.channel, c.key, c.velocity));
        EXPECT_TRUE(accepted);
        synth.renderMs(400);
        const std::size_t noteOff = synth.frame();
        EXPECT_TRUE(synth.device().shortMessage(packShortMessage(0x80 | c.channel, c.key, 0)));
        synth.renderMs(3000);  // release and reverb die away
        const std::size_t tail = synth.frame();
        synth.renderMs(300);
        synth.finish();

        const WavData wav = readRendered(path);
        EXPECT_EQ(wav.channels, 2);
        EXPECT_EQ(wav.sampleRate, 44100);
        ASSERT_GE(wav.frames(), synth.frame());
        EXPECT_LT(wav.peak(0, noteOn), kSilence) << "sound before any note";
        if (c.sounds) {
            EXPECT_GT(wav.peak(noteOn, noteOff), kSound);
        } else {
            EXPECT_LT(wav.peak(noteOn, noteOff), kSilence);
        }
        EXPECT_LT(wav.peak(tail, wav.frames()), kSilence) << "still sounding long after the note-off";
    }
}

TEST(SynthMidiOutTest, ResetSilencesNotesHeldByThePedal) {
    // An organ sounds as long as its key or the sustain pedal is held.
    struct Case {
        const char* name;
        bool reset;
    };
    TempFolder folder;
    for (const Case c : {Case{"reset", true}, Case{"no reset", false}}) {
        SCOPED_TRACE(c.name);
        const auto path = folder.path() / (std::string(c.name) + ".wav");
        RenderedSynth synth(path);
        ASSERT_EQ(synth.error(), "");
        SynthMidiOut& device = synth.device();
        EXPECT_TRUE(device.shortMessage(packShortMessage(0xC3, 19, 0)));    // church organ
        EXPECT_TRUE(device.shortMessage(packShortMessage(0xB3, 64, 127)));  // sustain pedal down
        EXPECT_TRUE(device.shortMessage(packShortMessage(0x93, 60, 100)));
        EXPECT_TRUE(device.shortMessage(packShortMessage(0x83, 60, 0)));
        synth.renderMs(300);
        if (c.reset) {
            EXPECT_TRUE(device.reset());
        }
        synth.renderMs(3000);
        const std::size_t tail = synth.frame();
        synth.renderMs(300);
        synth.finish();

        const WavData wav = readRendered(path);
        if (c.reset) {
            EXPECT_LT(wav.peak(tail, wav.frames()), kSilence);
        } else {
            EXPECT_GT(wav.peak(tail, wav.frames()), kSound);
        }
    }
}

TEST(SynthMidiOutTest, RefusesMalformedMessages) {
    TempFolder folder;
    RenderedSynth synth(folder.path() / "unused.wav");
    ASSERT_EQ(synth.error(), "");
    SynthMidiOut& device = synth.device();

    EXPECT_FALSE(device.shortMessage(packShortMessage(0x3C, 100, 0)));   // no status byte
    EXPECT_FALSE(device.shortMessage(packShortMessage(0x90, 0x80, 1)));  // data byte out of range
    EXPECT_TRUE(device.shortMessage(packShortMessage(0xF8, 0, 0)));      // clock: accepted, nothing to do
    EXPECT_TRUE(device.shortMessage(packShortMessage(0xFF, 0, 0)));      // system reset

    struct SysexCase {
        const char* name;
        std::vector<std::uint8_t> bytes;
        bool accepted;
    };
    const SysexCase sysex[] = {
        {"General MIDI on", {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, true},
        {"master volume", {0xF0, 0x7F, 0x7F, 0x04, 0x01, 0x00, 0x60, 0xF7}, true},
        {"empty", {}, false},
        {"no leading F0", {0x7E, 0x7F, 0x09, 0x01, 0xF7}, false},
        {"no closing F7", {0xF0, 0x7E, 0x7F, 0x09, 0x01}, false},
        {"a lone F0", {0xF0}, false},
    };
    for (const SysexCase& c : sysex) EXPECT_EQ(device.longMessage(c.bytes), c.accepted) << c.name;
}

TEST(SynthMidiOutTest, MissingSoundFontIsReported) {
    SynthOptions options;
    options.soundFont = "/nonexistent/GM.sf2";
    std::string error;
    EXPECT_FALSE(createGmSynth(options, &error));
    EXPECT_THAT(error, HasSubstr("/nonexistent/GM.sf2"));
}

TEST(SynthMidiOutTest, UnreadableSoundFontIsReported) {
    TempFolder folder;
    const auto path = folder.path() / "broken.sf2";
    std::ofstream(path) << "RIFF not a SoundFont";
    SynthOptions options;
    options.soundFont = path;
    std::string error;
    EXPECT_FALSE(createGmSynth(options, &error));
    EXPECT_THAT(error, HasSubstr("broken.sf2"));
}

namespace {

bool soundCardPresent() {
    std::ifstream cards("/proc/asound/cards");
    std::string first;
    return cards && std::getline(cards, first) && first.find("no soundcards") == std::string::npos;
}

}  // namespace

// Needs a sound card; elsewhere it checks only that opening says why it failed.
TEST(SynthMidiOutTest, DefaultDeviceOpensAndPlaysOnTheSoundCard) {
    MidiOutOpenResult result = openMidiOut(kDefaultMidiOut);
    if (!soundCardPresent() && !result) {
        EXPECT_THAT(result.error, HasSubstr("no audio output"));
        GTEST_SKIP() << "no sound card on this machine: " << result.error;
    }
    ASSERT_TRUE(result) << result.error;
    for (const std::uint8_t key : {60, 64, 67, 72}) {
        EXPECT_TRUE(result.device->shortMessage(packShortMessage(0x90, key, 90)));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_TRUE(result.device->shortMessage(packShortMessage(0x80, key, 0)));
    }
    EXPECT_TRUE(result.device->reset());
}
