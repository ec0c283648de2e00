#include "midi_backends.h"
#include "sounding_notes.h"
#include "synth_midi_out.h"

#include "platform/midi_devices.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

using namespace platform;
using ::testing::HasSubstr;

namespace {

bool machineHasSequencer() {
    std::error_code ec;
    return std::filesystem::exists("/dev/snd/seq", ec);
}

}  // namespace

TEST(MidiDevicesTest, ListsTheSynthesizerFirstAndNamesAreUnique) {
    const std::vector<MidiOutDeviceInfo> devices = listMidiOutDevices();
    ASSERT_FALSE(devices.empty());
    EXPECT_EQ(devices[kDefaultMidiOut].backend, "synth");
    EXPECT_EQ(devices[kDefaultMidiOut].name, midi::kSynthDeviceName);

    std::set<std::string> names;
    for (const MidiOutDeviceInfo& device : devices) {
        EXPECT_FALSE(device.name.empty());
        EXPECT_TRUE(names.insert(device.name).second) << "listed twice: " << device.name;
        EXPECT_NE(device.backend, "capture") << "the capture device opens by name only";
    }
}

TEST(MidiDevicesTest, BackendsInOrderOfPreference) {
    std::vector<std::string> names;
    for (const MidiOutBackendInfo& backend : midiOutBackends()) names.push_back(backend.name);
    EXPECT_EQ(names, (std::vector<std::string>{"synth", "alsa", "capture"}));
}

TEST(MidiDevicesTest, NoSequencerMeansNoPorts) {
    if (machineHasSequencer()) GTEST_SKIP() << "this machine has an ALSA sequencer";
    EXPECT_TRUE(midi::alsaDeviceNames().empty());

    const MidiOutOpenResult result = openMidiOutNamed("alsa");
    EXPECT_FALSE(result);
    EXPECT_THAT(result.error, HasSubstr("no device"));
}

TEST(MidiDevicesTest, OpeningWhatDoesNotExistFails) {
    struct Case {
        const char* name;
        std::string device;
    };
    const Case cases[] = {
        {"unknown name", "Wavetable synth on COM1"},
        {"empty name", ""},
        {"backend names are case-sensitive", "Capture"},
        {"a listed name with a typo", std::string(midi::kSynthDeviceName) + " "},
    };
    for (const Case& c : cases) {
        const MidiOutOpenResult result = openMidiOutNamed(c.device);
        EXPECT_FALSE(result) << c.name;
        for (const char* backend : {"synth", "alsa", "capture"})
            EXPECT_THAT(result.error, HasSubstr(backend)) << c.name << ": the error lists the backends";
    }

    const std::size_t count = listMidiOutDevices().size();
    const MidiOutOpenResult pastTheEnd = openMidiOut(count);
    EXPECT_FALSE(pastTheEnd);
    EXPECT_THAT(pastTheEnd.error, HasSubstr("index " + std::to_string(count)));
}

TEST(MidiDevicesTest, CaptureOpensByNameAndLogsInOrder) {
    MidiOutOpenResult result = openMidiOutNamed("capture");
    ASSERT_TRUE(result) << result.error;
    auto* capture = dynamic_cast<CaptureMidiOut*>(result.device.get());
    ASSERT_NE(capture, nullptr);

    const std::vector<std::uint8_t> gmOn{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
    EXPECT_TRUE(result.device->shortMessage(packShortMessage(0x99, 38, 110)));
    EXPECT_TRUE(result.device->longMessage(gmOn));
    EXPECT_TRUE(result.device->reset());

    const auto log = capture->messages();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].packed, packShortMessage(0x99, 38, 110));
    EXPECT_EQ(log[1].bytes, gmOn);
    EXPECT_EQ(log[2].kind, CaptureMidiOut::Message::Kind::Reset);
    EXPECT_LE(log[0].time, log[1].time);
    EXPECT_LE(log[1].time, log[2].time);
}

namespace {

std::vector<std::uint32_t> silenceAfter(const std::vector<std::uint32_t>& sent) {
    midi::SoundingNotes notes;
    for (const std::uint32_t packed : sent) notes.track(decodeShortMessage(packed));
    return notes.silence();
}

// The note-offs silence() starts with; the 32 pedal-up and all-notes-off
// messages that follow are the same every time.
std::vector<std::uint32_t> noteOffs(std::vector<std::uint32_t> silence) {
    EXPECT_GE(silence.size(), 32u);
    silence.resize(silence.size() - 32);
    return silence;
}

}  // namespace

TEST(SoundingNotesTest, SilenceSwitchesOffWhatStillSounds) {
    struct Case {
        const char* name;
        std::vector<std::uint32_t> sent;
        std::vector<std::uint32_t> noteOffs;
    };
    const Case cases[] = {
        {"nothing played", {}, {}},
        {"two held keys on two channels",
         {packShortMessage(0x91, 64, 90), packShortMessage(0x90, 60, 90)},
         {packShortMessage(0x80, 60, 0), packShortMessage(0x81, 64, 0)}},
        {"released by note-off", {packShortMessage(0x90, 60, 90), packShortMessage(0x80, 60, 64)}, {}},
        {"released by velocity 0", {packShortMessage(0x9F, 127, 1), packShortMessage(0x9F, 127, 0)}, {}},
        {"note-off on another channel leaves it", {packShortMessage(0x90, 60, 90), packShortMessage(0x81, 60, 0)},
         {packShortMessage(0x80, 60, 0)}},
        {"other messages are no notes",
         {packShortMessage(0xB0, 64, 127), packShortMessage(0xA0, 60, 50), packShortMessage(0xC0, 60, 0)},
         {}},
    };
    for (const Case& c : cases) EXPECT_EQ(noteOffs(silenceAfter(c.sent)), c.noteOffs) << c.name;
}

TEST(SoundingNotesTest, SilenceLiftsPedalsOnEveryChannelAndForgets) {
    midi::SoundingNotes notes;
    notes.track(decodeShortMessage(packShortMessage(0x95, 40, 100)));
    const std::vector<std::uint32_t> first = notes.silence();
    ASSERT_EQ(first.size(), 33u);
    EXPECT_EQ(first[0], packShortMessage(0x85, 40, 0));
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        EXPECT_EQ(first[1 + 2 * channel], packShortMessage(0xB0 | channel, 64, 0));
        EXPECT_EQ(first[2 + 2 * channel], packShortMessage(0xB0 | channel, 123, 0));
    }
    EXPECT_EQ(notes.silence().size(), 32u) << "a second reset has no keys left to release";
}
