// The sample player: the synth test plug-in (VST) and our LV2 tone instrument
// (left and right = 0.25 x velocity / 127 x gain while a key is held) play and
// render MIDI entries; setups are saved and loaded back, refused when saved
// for another instrument or damaged; an instrument that cannot be set up
// leaves the player without one. The instrument's window is the shell's: a
// fake stands in for it.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/message_target.h"
#include "platform/settings_store.h"
#include "platform/text.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/sample_player.h"
#include "qvp3_audio/wave_render_adapter.h"
#include "qvp3_pipeline/wave_file.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::Hive;

constexpr const char* kSynth = "[VST]qvp3 tests: qvp3 synth";
constexpr const char* kTone = "qvp3 tone";
constexpr std::size_t kQuarter = 26460;  // 600 ms at 100 to the quarter

struct FakeWindow : CSamplePlayerWindow {
    bool opens = true;
    std::vector<std::string> calls;
    bool OpenEditor(CVSTHost&, int slot) override {
        calls.push_back("editor " + std::to_string(slot));
        return opens;
    }
    bool OpenPages(CDxLv2Filter& instrument) override {
        calls.push_back("pages " + instrument.Name());
        return opens;
    }
    void Close() override { calls.push_back("close"); }
};

struct TellingShell : BasicShell {
    std::vector<std::string> boxes;
    int appTextBox(std::string_view text, int, int) override {
        boxes.emplace_back(text);
        return kIdOk;
    }
};

struct SamplePlayer : ::testing::Test {
    platform::testing::TempFolder folder;
    platform::SettingsStore store{folder.path() / "config"};
    std::unique_ptr<CPlugInCatalog> cat;
    platform::RecordingMessageTarget mainWindow;
    TellingShell shell;
    std::unique_ptr<CSamplePlayer> player;
    int synth = -1;
    int tone = -1;

    void SetUp() override {
        platform::SettingsKey program = store.createKey(Hive::User, platform::kProgramSettingsKey);
        program.writeString(kSynth, "1|" + (fs::path(QVP3_TEST_PLUGIN_DIR) / "synth.so").string());
        program.writeString(kTone, "1");
        program.writeString("[EFF]qvp3 gain", (fs::path(QVP3_TEST_PLUGIN_DIR) / "gain.so").string());
        cat = std::make_unique<CPlugInCatalog>(store, folder.path(), QVP3_VST_PROBE);
        cat->lv2World = std::make_shared<CLv2World>(std::vector<fs::path>{QVP3_TEST_LV2_BUNDLE}, false);
        ASSERT_EQ(cat->EnumSoftSynths(), 0u);
        cat->LoadReverbEffect();
        cat->vstVolume = 1.0f;
        cat->vstHost->masterVolume = 1.0f;
        cat->vstHost->renderBlockSize = 441;
        cat->vstHost->blockMs = 10.0f;
        synth = cat->FindInstrument(kSynth);
        tone = cat->FindInstrument(kTone);
        ASSERT_GE(synth, 0);
        ASSERT_GE(tone, 0);
        player = std::make_unique<CSamplePlayer>(*cat, &mainWindow, &shell);
    }
    static SampleInstrumentRequest request(int entry, SamplerSetup setup = {}) {
        SampleInstrumentRequest r;
        r.entry = entry;
        r.setup = std::move(setup);
        return r;
    }
    // A MIDI file of one note of key 60, velocity 100, 100 ms long.
    fs::path shortMidi() {
        const std::vector<std::uint8_t> bytes = {
            'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0,  // format 0, one track, 480
            'M', 'T', 'r', 'k', 0, 0, 0, 19, 0, 0xFF, 0x51, 3, 0x07, 0xA1, 0x20,  // 500000 us
            0, 0x90, 60, 100, 0x60, 0x80, 60, 0, 0, 0xFF, 0x2F, 0};
        const fs::path path = folder.path() / "short.mid";
        platform::writeFileAtomically(path,
                                      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        return path;
    }
};

std::vector<std::int16_t> samples(const fs::path& file) {
    CWaveFile wave;
    WaveFormatEx format;
    if (wave.Open(file, &format, CWaveFile::kModeRead) != S_OK || !(format == WaveFormatEx::pcm(44100, 2, 16))) {
        return {};
    }
    std::vector<std::int16_t> out(wave.DataSize() / 2);
    std::uint32_t read = 0;
    wave.Read(out.data(), static_cast<std::uint32_t>(out.size() * 2), &read);
    return out;
}

// --- playing and rendering ---------------------------------------------------------

// The real-time tests run on the render worker and the device's thread.
using SamplePlayerThreads = SamplePlayer;

TEST_F(SamplePlayerThreads, TheSynthPlaysAMidiEntryIntoTheNullDeviceAndTheEndReachesTheMainWindow) {
    ASSERT_EQ(player->SelectInstrument(request(synth), false), kSelectOk) << player->Message();
    cat->vstHost->SelectOutput("null", 441);
    if (!cat->vstHost->outputRunning) GTEST_SKIP() << "ALSA's null device does not open";
    player->SetMidiFile(shortMidi());
    ASSERT_EQ(player->Start(request(synth)), S_OK);
    EXPECT_TRUE(cat->vstHost->playing());
    ASSERT_TRUE(mainWindow.waitForCount(1, 10s));
    EXPECT_EQ(mainWindow.messages()[0].msg, WM_PLAYBACK_ENDED);
    EXPECT_EQ(player->Stop(), S_OK);
    EXPECT_FALSE(cat->vstHost->playing());
    cat->vstHost->StopOutput();
}

// The master effect halves what it gets (0.25 x 2): nothing, then at half.
class SamplePlayerRender : public SamplePlayer, public ::testing::WithParamInterface<bool> {};

TEST_P(SamplePlayerRender, AnLv2InstrumentRendersAMidiFileWithSoundWhereTheNotesAre) {
    const bool effect = GetParam();
    ProjectEntry entry;
    entry.SamplePlayer = kTone;
    if (effect) {
        entry.Reverb = "qvp3 gain";
        entry.ReverbType = 0;
    }
    SamplePlayerWaveRenderer renderer(*player, *cat);
    const fs::path wav = folder.path() / "scale.wav";
    const std::atomic<int> cancel{0};
    std::uint32_t reported = 0;
    ASSERT_EQ(renderer.render(entry, fs::path(QVP3_TEST_DATA_DIR) / "two_hands.mid", wav,
                              [&](std::uint32_t ms) { reported = ms; }, cancel),
              0)
        << player->Message();
    const std::vector<std::int16_t> s = samples(wav);
    const std::size_t frames = s.size() / 2;
    ASSERT_GE(frames, 8 * kQuarter);
    EXPECT_GE(reported, 4800u);
    const auto level = static_cast<std::int16_t>(std::trunc(0.25f * 80.0f / 127.0f * (effect ? 0.5f : 1.0f) * 32767.0));
    for (std::size_t n = 0; n < 8; ++n) {
        const std::size_t middle = kQuarter * n + kQuarter / 2;
        EXPECT_EQ(s[2 * middle], level) << "note " << n;
        EXPECT_EQ(s[2 * middle + 1], level) << "note " << n;
        const std::size_t gap = kQuarter * (n + 1) - 200;  // between two notes
        EXPECT_EQ(s[2 * gap], 0) << "after note " << n;
    }
    EXPECT_EQ(s[2 * (frames - 1)], 0) << "silence after the music";
    EXPECT_FALSE(player->renderingToFile());
}

INSTANTIATE_TEST_SUITE_P(MasterEffect, SamplePlayerRender, ::testing::Bool());

// The synth: left = key / 128, right = velocity / 128 while a note sounds.
TEST_F(SamplePlayer, AVstEntryRendersThroughTheHostWithItsStoredSetup) {
    ProjectEntry entry;
    entry.SamplePlayer = kSynth;
    samplerSetupToEntry({u"qvp3 synth", 1, {7, 7}}, entry);
    SamplePlayerWaveRenderer renderer(*player, *cat);
    const fs::path wav = folder.path() / "synth.wav";
    ASSERT_EQ(renderer.render(entry, fs::path(QVP3_TEST_DATA_DIR) / "two_hands.mid", wav, {}, std::atomic<int>{0}), 0)
        << player->Message();
    const std::vector<std::int16_t> s = samples(wav);
    ASSERT_GE(s.size() / 2, 8 * kQuarter);
    constexpr int kKeys[] = {60, 62, 64, 65, 67, 69, 71, 72};
    for (std::size_t n = 0; n < 8; ++n) {
        const std::size_t middle = kQuarter * n + kQuarter / 2;
        EXPECT_EQ(s[2 * middle], static_cast<std::int16_t>(std::trunc(kKeys[n] / 128.0 * 32767.0))) << "note " << n;
        EXPECT_EQ(s[2 * middle + 1], static_cast<std::int16_t>(std::trunc(80 / 128.0 * 32767.0))) << "note " << n;
    }
    CEffect* plugIn = cat->vstHost->GetEffect(cat->instruments[static_cast<std::size_t>(synth)].hostSlot);
    EXPECT_EQ(plugIn->GetChunk(false), (std::vector<std::uint8_t>{7, 7})) << "the entry's setup";
}

TEST_F(SamplePlayer, ARenderCancelledOrOfAnInstrumentThatIsMissingLeavesTheTargetAlone) {
    const fs::path wav = folder.path() / "kept.wav";
    platform::writeFileAtomically(wav, "abc");
    SamplePlayerWaveRenderer renderer(*player, *cat);
    ProjectEntry entry;
    entry.SamplePlayer = kTone;
    const std::atomic<int> cancel{kRenderCancelState};
    EXPECT_EQ(renderer.render(entry, fs::path(QVP3_TEST_DATA_DIR) / "two_hands.mid", wav, {}, cancel),
              kRenderCancelled);
    EXPECT_EQ(fs::file_size(wav), 3u);
    entry.SamplePlayer = "no such instrument";
    EXPECT_EQ(renderer.render(entry, fs::path(QVP3_TEST_DATA_DIR) / "two_hands.mid", wav, {}, std::atomic<int>{0}),
              kWaveSamplerFailed);
    EXPECT_EQ(fs::file_size(wav), 3u);
}

// --- setups ------------------------------------------------------------------------

TEST_F(SamplePlayer, AVstSetupIsSavedAndLoadedBackIdentically) {
    ASSERT_EQ(player->SelectInstrument(request(synth), false), kSelectOk);
    const SamplerSetup saved = player->SaveSamplerSetup(synth);
    EXPECT_EQ(saved.data, (std::vector<std::uint8_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(platform::utf16ToUtf8(saved.name), "qvp3 synth");
    EXPECT_EQ(saved.isVstChunk, 1);
    // Through the project's form and back, then into the plug-in after it changed.
    ProjectEntry entry;
    samplerSetupToEntry(saved, entry);
    EXPECT_EQ(samplerSetupFromEntry(entry), saved);
    CEffect* plugIn = cat->vstHost->GetEffect(cat->instruments[static_cast<std::size_t>(synth)].hostSlot);
    plugIn->SetChunk(std::vector<std::uint8_t>{9}, false);
    ASSERT_EQ(player->SelectInstrument(request(synth, samplerSetupFromEntry(entry)), false), kSelectOk);
    EXPECT_TRUE(player->setupLoaded());
    EXPECT_EQ(plugIn->GetChunk(false), saved.data);
}

TEST_F(SamplePlayer, AnLv2SetupIsSavedThroughItsSetupFileAndLoadedBackIdentically) {
    ASSERT_EQ(player->SelectInstrument(request(tone), false), kSelectOk) << player->Message();
    ASSERT_TRUE(player->instrument()->SetControl("gain", 0.5f));
    // A setup file of the same name beside it is the user's: saving leaves it alone.
    player->SetSetupFile(folder.path() / "entry");
    platform::writeFileAtomically(folder.path() / "entry.qvpp", "the user's");
    const SamplerSetup saved = player->SaveSamplerSetup(tone);
    EXPECT_EQ(fs::file_size(folder.path() / "entry.qvpp"), 10u);
    EXPECT_EQ(saved.isVstChunk, 0);
    EXPECT_EQ(platform::utf16ToUtf8(saved.name), kTone);
    // The data is a setup file with the instrument's "SPSetup" stream.
    std::vector<std::uint8_t> stream;
    ASSERT_EQ(spSetupStreamFromBytes(saved.data, stream), kSetupOk);
    const fs::path file = folder.path() / "other.qvpp";
    ASSERT_EQ(spWriteSetupFile(file, stream), kSetupOk);
    std::vector<std::uint8_t> reread;
    ASSERT_EQ(spReadSetupFile(file, reread), kSetupOk);
    EXPECT_EQ(reread, stream);

    player->instrument()->SetControl("gain", 2.0f);
    ASSERT_EQ(player->SelectInstrument(request(tone, saved), false), kSelectOk);
    EXPECT_TRUE(player->setupLoaded());
    EXPECT_EQ(player->instrument()->Control("gain"), 0.5f);
    EXPECT_EQ(player->SaveSamplerSetup(tone), saved);
}

TEST_F(SamplePlayer, ASetupSavedForAnotherInstrumentIsNotApplied) {
    ASSERT_EQ(player->SelectInstrument(request(synth), false), kSelectOk);
    const SamplerSetup vst = player->SaveSamplerSetup(synth);
    ASSERT_EQ(player->SelectInstrument(request(tone), false), kSelectOk);
    player->instrument()->SetControl("gain", 0.5f);
    SamplerSetup lv2 = player->SaveSamplerSetup(tone);
    SamplerSetup renamed = vst;
    renamed.name = u"another synth";
    const struct {
        const char* what;
        int entry;
        SamplerSetup setup;
    } cases[] = {{"a VST chunk for an LV2 instrument", tone, vst},
                 {"an LV2 setup for a VST plug-in", synth, lv2},
                 {"a chunk of another plug-in", synth, renamed}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(player->SelectInstrument(request(c.entry), false), kSelectOk);
        EXPECT_EQ(player->LoadSamplerSetup(c.setup, c.entry), kSetupOtherInstrument);
        EXPECT_FALSE(player->setupLoaded());
        EXPECT_EQ(player->SelectInstrument(request(c.entry, c.setup), false), kSelectOk) << "the instrument plays on";
        EXPECT_FALSE(player->setupLoaded());
    }
    EXPECT_EQ(player->instrument(), nullptr);
    ASSERT_EQ(player->SelectInstrument(request(tone), false), kSelectOk);
    EXPECT_EQ(player->instrument()->Control("gain"), 1.0f) << "the default, not the refused setup's value";
}

TEST_F(SamplePlayer, TheSetupFileNameClearsSetUpLoadedOnlyWhenItChanges) {
    ASSERT_EQ(player->SelectInstrument(request(synth), false), kSelectOk);
    player->SetSetupFile(folder.path() / "a");
    ASSERT_FALSE(player->SaveSamplerSetup(synth).empty());
    EXPECT_TRUE(player->setupLoaded());
    player->SetSetupFile(folder.path() / "a");
    EXPECT_TRUE(player->setupLoaded());
    player->SetSetupFile({});
    EXPECT_TRUE(player->setupLoaded()) << "an empty name changes nothing";
    player->SetSetupFile(folder.path() / "b");
    EXPECT_FALSE(player->setupLoaded());
}

// --- failures ------------------------------------------------------------------------

TEST_F(SamplePlayer, AnInstrumentThatCannotBeSetUpLeavesNoInstrumentAndSaysWhy) {
    ASSERT_EQ(player->SelectInstrument(request(tone), false), kSelectOk);
    SamplerSetup damaged = player->SaveSamplerSetup(tone);
    damaged.data.resize(damaged.data.size() - 2);
    const int missing = static_cast<int>(cat->instruments.size());
    cat->instruments.push_back(cat->instruments[static_cast<std::size_t>(tone)]);
    cat->instruments.back().filter.reset();
    cat->instruments.back().uri = "urn:qvp3:test:lv2:none";
    const int unloaded = static_cast<int>(cat->instruments.size());
    cat->instruments.push_back(cat->instruments[static_cast<std::size_t>(synth)]);
    cat->instruments.back().hostSlot = -1;
    cat->instruments.back().problem = "crashed in the probe";
    const struct {
        const char* what;
        SampleInstrumentRequest request;
        int answer;
        const char* says;
    } cases[] = {{"an LV2 instrument that is not installed", request(missing), kSelectCreateFailed, "not installed"},
                 {"a VST plug-in that did not load", request(unloaded), kSelectCreateFailed, "crashed in the probe"},
                 {"a damaged setup", request(tone, damaged), kSelectSetupFailed, "setup"},
                 {"an entry beyond the catalogue", request(missing + 10), kSelectCreateFailed, "no instrument"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(player->SelectInstrument(request(synth), false), kSelectOk);
        EXPECT_EQ(player->SelectInstrument(c.request, false), c.answer);
        EXPECT_FALSE(player->ready());
        EXPECT_EQ(player->entry(), -1);
        EXPECT_EQ(player->instrument(), nullptr);
        EXPECT_EQ(cat->vstHost->currentSlot, -1) << "the previous instrument is not left half in use";
        EXPECT_NE(player->Message().find(c.says), std::string::npos) << player->Message();
        EXPECT_EQ(player->Start(c.request), E_UNEXPECTED);
    }
}

TEST_F(SamplePlayer, TheWindowShowsTheEditorOrThePagesAndOneThatFailsLeavesNoInstrument) {
    FakeWindow window;
    platform::RecordingMessageTarget owner;
    ASSERT_EQ(player->OpenSetup(&owner, &window, folder.path() / "setup", request(tone)), kSelectOk);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"close", "close", "pages qvp3 tone"}));
    EXPECT_TRUE(player->HasEditor(tone));
    player->OnStatusChange(2);
    player->OnStatusChange(1 | 4);
    ASSERT_EQ(owner.count(), 1u) << "only a change is told";
    EXPECT_EQ(owner.messages()[0].msg, WM_SP_PAGE_DIRTY);
    window.calls.clear();
    ASSERT_EQ(player->SelectInstrument(request(synth), true), kSelectOk);
    const int slot = cat->instruments[static_cast<std::size_t>(synth)].hostSlot;
    EXPECT_EQ(window.calls.back(), "editor " + std::to_string(slot));
    EXPECT_FALSE(player->HasEditor(synth)) << "the synth has no editor";
    EXPECT_FALSE(player->HasEditor(-1));

    window.opens = false;
    EXPECT_EQ(player->SelectInstrument(request(tone), true), kSelectWindowFailed);
    EXPECT_FALSE(player->ready());
    EXPECT_FALSE(player->HasEditor(tone));
    EXPECT_EQ(window.calls.back(), "close");
    window.calls.clear();
    EXPECT_EQ(player->SelectInstrument(request(-1), true), kSelectOk);
    EXPECT_EQ(window.calls, (std::vector<std::string>{"close"})) << "a negative entry only closes the window";
    player->ForgetWindow();
    player->OnStatusChange(1);
    player.reset();
    EXPECT_EQ(window.calls.size(), 2u) << "a forgotten window is not called again";
    EXPECT_EQ(owner.count(), 1u);
}

// --- the second kind's playback on the player's own threads -------------------------

TEST_F(SamplePlayerThreads, Lv2PlaybackPlayIntoTheNullDeviceAndTellTheEndOnce) {
    ASSERT_EQ(player->SelectInstrument(request(tone), false), kSelectOk);
    player->SetOutputName("null");
    player->SetMidiFile(shortMidi());
    cat->blockSize = 441;
    const HRESULT started = player->Start(request(tone));
    if (started != S_OK && !player->Message().empty()) GTEST_SKIP() << "ALSA's null device: " << player->Message();
    ASSERT_EQ(started, S_OK);
    EXPECT_EQ(player->Start(request(tone)), E_FAIL) << "already playing";
    ASSERT_TRUE(mainWindow.waitForCount(1, 10s));
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(mainWindow.count(), 1u);
    EXPECT_EQ(mainWindow.messages()[0].msg, WM_PLAYBACK_ENDED);
    EXPECT_GE(player->position(), 1.0);
    EXPECT_EQ(player->Stop(), S_OK);
    EXPECT_FALSE(player->playing());
}

}  // namespace
}  // namespace qvp3
