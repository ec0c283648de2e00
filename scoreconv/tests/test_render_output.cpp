// The render output: per-track events while rendering, messages to a MIDI
// output otherwise, track 0's header, the metronome track and the standard
// MIDI file writer (read back with an independent reader).
#include "play/render_output.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

#include "mido_support.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"

namespace scoreconv {
namespace {

using testing::midoAvailable;
using testing::readWithMido;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Bytes = std::vector<uint8_t>;

// A play score, filled without any file, with `tracks` render tracks and one
// staff per entry of voiceCounts (one melodic instrument per voice, channel =
// voice).
std::unique_ptr<PlayScore> makeFile(int32_t mode, int32_t tracks, std::vector<int32_t> voiceCounts = {1}) {
    auto file = std::make_unique<PlayScore>(480);
    file->controls.setPlayMode(mode);
    const auto staves = static_cast<int32_t>(voiceCounts.size());
    file->staffNames.resize(static_cast<std::size_t>(staves));
    EXPECT_TRUE(file->instruments.addStaves(staves));
    file->voiceCounts = voiceCounts;
    EXPECT_TRUE(file->events.allocRows(staves + 1));
    for (int32_t s = 0; s < staves; ++s) {
        EXPECT_TRUE(file->events.allocVoices(s, voiceCounts[static_cast<std::size_t>(s)]));
        for (int32_t v = 0; v < voiceCounts[static_cast<std::size_t>(s)]; ++v) {
            CMidiInstr record;
            record.SrcProgPercId = static_cast<uint8_t>(10 + v);
            record.Channel = static_cast<uint8_t>(v);
            EXPECT_TRUE(file->instruments.append(s, record));
        }
    }
    EXPECT_TRUE(file->voiceMix.resize(file->voiceCounts));
    EXPECT_TRUE(file->allocatePlayState());
    EXPECT_TRUE(file->render.allocate(tracks));
    return file;
}

Bytes trackBytes(const PlayScore& file, int32_t track) {
    const auto bytes = file.render.streams[static_cast<std::size_t>(track)].bytes();
    return Bytes(bytes.begin(), bytes.end());
}

std::vector<uint32_t> shortMessages(const platform::CaptureMidiOut& device) {
    std::vector<uint32_t> out;
    for (const auto& m : device.messages()) out.push_back(m.packed);
    return out;
}

Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// --- putting events ---------------------------------------------------------------------

TEST(RenderPut, AppendsDeltaAndMessageWhileRendering) {
    struct Case {
        const char* name;
        int32_t track;
        int delta;
        uint8_t status, data1, data2;
        Bytes expected;
        int result;
    };
    const Case cases[] = {
        {"note-on after no time", 1, 0, 0x91, 60, 100, {0x00, 0x91, 60, 100}, 4},
        {"delta as a variable-length quantity", 1, 0x80, 0x91, 60, 0, {0x81, 0x00, 0x91, 60, 0}, 5},
        {"program change has one data byte", 1, 5, 0xC3, 12, 99, {0x05, 0xC3, 12}, 3},
        {"unset data bytes are kept in range", 1, 0, 0xB0, 255, 200, {0x00, 0xB0, 127, 127}, 4},
        {"negative delta counts as none", 1, -7, 0x80, 1, 2, {0x00, 0x80, 1, 2}, 4},
        {"track past the arrays is ignored", 3, 4, 0x90, 60, 100, {}, 0},
        {"negative track is ignored", -1, 4, 0x90, 60, 100, {}, 0},
        {"data byte as status is refused", 1, 4, 0x3C, 60, 100, {}, 0},
        {"system status is refused", 1, 4, 0xFF, 0x2F, 0, {}, 0},
    };
    for (const Case& c : cases) {
        auto file = makeFile(kModeRender, 3);
        platform::CaptureMidiOut device;
        file->midiOut = &device;
        for (int32_t t = 0; t < file->render.count(); ++t) file->render.delta(t) = c.delta;
        EXPECT_EQ(renderPutShort(*file, c.track, c.status, c.data1, c.data2), c.result) << c.name;
        EXPECT_EQ(trackBytes(*file, 1), c.expected) << c.name;
        EXPECT_EQ(file->render.delta(1), c.result > 0 ? 0 : c.delta) << c.name;
        EXPECT_EQ(file->render.headerSizes[1], 0) << c.name;
        EXPECT_EQ(device.count(), 0u) << c.name;
    }
}

TEST(RenderPut, SendsToTheGivenDeviceOrTheFilesOutsideRendering) {
    auto file = makeFile(kModeRealTime, 0);
    platform::CaptureMidiOut own;
    platform::CaptureMidiOut given;
    file->midiOut = &own;
    EXPECT_EQ(renderPutShort(*file, 99, 0x90, 60, 255), 0);
    EXPECT_EQ(renderPutShort(*file, 0, 0xC1, 7, 0, &given), 0);
    EXPECT_EQ(renderPutMeta(*file, 0, kMetaTrackName, Bytes{'x'}), 0);
    EXPECT_EQ(renderPutTempo(*file, 120), 0);
    EXPECT_THAT(shortMessages(own), ElementsAre(platform::packShortMessage(0x90, 60, 127)));
    EXPECT_THAT(shortMessages(given), ElementsAre(platform::packShortMessage(0xC1, 7, 0)));

    // Without any device nothing goes anywhere, and nothing breaks.
    file->midiOut = nullptr;
    EXPECT_EQ(renderPutShort(*file, 0, 0x90, 60, 100), 0);
    EXPECT_EQ(actualizePlaybackSound(*file, 0, 0), 0);
}

TEST(RenderPut, ScoreWideMetaEventsGoToTrackZero) {
    auto file = makeFile(kModeRender, 2);
    file->render.delta(0) = 3;
    scorecore::CMeter sixEight;
    sixEight.init(480, 6, 3);
    scorecore::CMeter invalid;
    invalid.init(480, 0, 2);
    EXPECT_EQ(renderPutTempo(*file, 120), 7);
    EXPECT_EQ(renderPutTimeSignature(*file, sixEight), 8);
    EXPECT_EQ(renderPutTimeSignature(*file, invalid), 0);
    EXPECT_EQ(renderPutKeySignature(*file, -3, 0), 6);
    EXPECT_EQ(renderPutKeySignature(*file, 9, 1), 6);
    EXPECT_THAT(trackBytes(*file, 0),
                ElementsAreArray(Bytes{0x03, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,        // tempo 120
                                       0x00, 0xFF, 0x58, 0x04, 0x06, 0x03, 0x0C, 0x08,  // 6/8
                                       0x00, 0xFF, 0x59, 0x02, 0xFD, 0x01,              // 3 flats, minor
                                       0x00, 0xFF, 0x59, 0x02, 0x07, 0x00}));           // kept at 7 sharps
    EXPECT_TRUE(trackBytes(*file, 1).empty());
}

TEST(RenderPut, DeltaAdvancesEveryTrackAndFlushesAlone) {
    auto file = makeFile(kModeRender, 3);
    renderAdvance(*file, 200);
    renderAdvance(*file, -5);
    EXPECT_THAT(file->render.deltas(), ElementsAre(200, 200, 200));
    EXPECT_EQ(renderFlushDelta(*file, 2), 2);
    EXPECT_EQ(renderFlushDelta(*file, 7), 0);
    EXPECT_THAT(trackBytes(*file, 2), ElementsAre(0x81, 0x48));
    EXPECT_THAT(file->render.deltas(), ElementsAre(200, 200, 0));

    // A track written in between counts from its event on; the others go on.
    renderAdvance(*file, 50);
    EXPECT_EQ(renderFlushDelta(*file, 0), 2);
    renderAdvance(*file, 7);
    EXPECT_THAT(file->render.deltas(), ElementsAre(7, 257, 57));
    // However long a track waits, its delta stays what an int holds.
    renderAdvance(*file, std::numeric_limits<int>::max());
    renderAdvance(*file, 5);
    EXPECT_THAT(file->render.deltas(), ElementsAre(std::numeric_limits<int>::max(), std::numeric_limits<int>::max(),
                                                   std::numeric_limits<int>::max()));
}

TEST(RenderPut, ProgramChangeNowUsesTheVoicesTrackAndChannel) {
    auto file = makeFile(kModeRender, 4, {1, 2});
    file->instruments.at(1, 1)->UserProgram = 33;
    file->instruments.at(1, 0)->Channel = CMidiInstr::kUnset;  // not planned: channel 1 of the score
    EXPECT_EQ(actualizePlaybackSound(*file, 1, 1), 3);
    EXPECT_EQ(actualizePlaybackSound(*file, 1, 0), 3);
    EXPECT_EQ(actualizePlaybackSound(*file, 2, 0), 0);
    EXPECT_EQ(actualizePlaybackSound(*file, 1, 2), 0);
    EXPECT_TRUE(trackBytes(*file, 1).empty());
    EXPECT_THAT(trackBytes(*file, 2), ElementsAre(0x00, 0xC0, 10));  // no user program: the source's
    EXPECT_THAT(trackBytes(*file, 3), ElementsAre(0x00, 0xC1, 33));

    file->controls.setPlayMode(kModeRealTime);
    platform::CaptureMidiOut device;
    EXPECT_EQ(actualizePlaybackSound(*file, 1, 1, &device), 0);
    EXPECT_THAT(shortMessages(device), ElementsAre(platform::packShortMessage(0xC1, 33, 0)));
}

// --- track names and set-up -------------------------------------------------------------

TEST(RenderTrackName, TakesTheBaseNameUpToItsLastDot) {
    struct Case {
        const char* scanned;
        const char* name;
    };
    const Case cases[] = {
        {"C:\\Noten\\b.song.xml", "b.song"},
        {"/home/user/b.song.xml", "b.song"},
        {"C:\\Noten/mixed\\b.song.xml", "b.song"},
        {"b.song.xml", "b.song"},
        {"/home/user/noext", "noext"},
        {"/home/user.v2/noext", "noext"},
        {"C:\\dir\\.hidden", ".hidden"},
        {"/home/user/", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(renderTrackName(c.scanned), c.name) << c.scanned;
}

TEST(RenderSetUp, TrackZeroHeaderAndMetronomeTrackCountAsSetUp) {
    auto file = makeFile(kModeRender, 3);
    file->fnScanned = "C:\\Noten\\b.song.xml";
    file->metronom.Volume = 90;
    ASSERT_EQ(renderTrackZeroHeader(*file), scorecore::kOk);
    ASSERT_EQ(renderMetronomeTrack(*file, 2), scorecore::kOk);
    EXPECT_EQ(renderMetronomeTrack(*file, 3), scorecore::kOk);  // unknown track: nothing

    Bytes zero{0x00, 0xFF, 0x03, 6, 'b', '.', 's', 'o', 'n', 'g', 0x00, 0xFF, 0x02,
               static_cast<uint8_t>(1 + kRenderBanner.size()), 0xA9};
    zero.insert(zero.end(), kRenderBanner.begin(), kRenderBanner.end());
    EXPECT_EQ(trackBytes(*file, 0), zero);
    EXPECT_EQ(trackBytes(*file, 2),
              (Bytes{0x00, 0xB9, 7, 90, 0x00, 0xB9, 10, 64,  //
                     0x00, 0xFF, 0x03, 8, 'M', 'e', 't', 'r', 'o', 'n', 'o', 'm'}));
    EXPECT_EQ(file->render.headerSizes[2], static_cast<int32_t>(trackBytes(*file, 2).size()));
    EXPECT_EQ(file->lastVolume[9], 90);
    EXPECT_EQ(file->lastPan[9], 64);

    // Outside rendering nothing is written and nothing remembered.
    auto live = makeFile(kModeRealTime, 3);
    EXPECT_EQ(renderTrackZeroHeader(*live), scorecore::kOk);
    EXPECT_EQ(renderMetronomeTrack(*live, 2), scorecore::kOk);
    EXPECT_TRUE(trackBytes(*live, 0).empty());
    EXPECT_EQ(live->lastVolume[9], 0);
}

// --- the MIDI file ----------------------------------------------------------------------

// The number of "MTrk" chunks in a file and the track count of its header.
std::pair<int, int> chunksAndHeaderCount(const Bytes& bytes) {
    int chunks = 0;
    for (std::size_t i = 14; i + 8 <= bytes.size();) {
        EXPECT_TRUE(std::equal(bytes.begin() + static_cast<std::ptrdiff_t>(i),
                               bytes.begin() + static_cast<std::ptrdiff_t>(i + 4), "MTrk"));
        const uint32_t length = uint32_t(bytes[i + 4]) << 24 | uint32_t(bytes[i + 5]) << 16 |
                                uint32_t(bytes[i + 6]) << 8 | bytes[i + 7];
        i += 8 + length;
        ++chunks;
    }
    return {chunks, bytes.size() >= 12 ? bytes[10] << 8 | bytes[11] : -1};
}

class RenderFile : public ::testing::Test {
protected:
    void SetUp() override {
        // Tracks: 0 score-wide, 1 and 2 the two voices, 3 the metronome.
        file_ = makeFile(kModeRender, 4, {2});
        file_->fnScanned = "/music/b.song.xml";
        ASSERT_EQ(renderTrackZeroHeader(*file_), scorecore::kOk);
        ASSERT_EQ(renderMetronomeTrack(*file_, 3), scorecore::kOk);
        for (int32_t track = 1; track <= 2; ++track) {
            ASSERT_GT(renderPutSetUpShort(*file_, track, static_cast<uint8_t>(0xC0 | (track - 1)), 0, 0), 0);
            ASSERT_GT(renderPutSetUpText(*file_, track, kMetaTrackName, track == 1 ? "Violin-1" : "Violin-2"), 0);
        }
        scorecore::CMeter threeFour;
        threeFour.init(480, 3, 2);
        ASSERT_GT(renderPutTempo(*file_, 90), 0);
        ASSERT_GT(renderPutTimeSignature(*file_, threeFour), 0);
        ASSERT_GT(renderPutKeySignature(*file_, 2, 1), 0);
    }
    void playNotesOnTrackOne() {
        renderAdvance(*file_, 480);
        ASSERT_GT(renderPutShort(*file_, 1, 0x90, 62, 90), 0);
        renderAdvance(*file_, 240);
        ASSERT_GT(renderPutShort(*file_, 1, 0x90, 62, 0), 0);
        ASSERT_GT(renderPutShort(*file_, 1, 0x90, 64, 80), 0);
        renderAdvance(*file_, 480);
        ASSERT_GT(renderPutShort(*file_, 1, 0x90, 64, 0), 0);
    }

    platform::testing::TempFolder folder_;
    std::unique_ptr<PlayScore> file_;
};

TEST_F(RenderFile, WritesTrackZeroAndTheTracksThatPlayed) {
    if (!midoAvailable()) GTEST_SKIP() << "/usr/bin/python3 cannot import mido (python3-mido)";
    playNotesOnTrackOne();
    const auto target = folder_.path() / "b_qvpcnv.mid";
    ASSERT_EQ(renderWriteMidiFile(*file_, target), scorecore::kOk);

    const auto [chunks, headerCount] = chunksAndHeaderCount(readFile(target));
    EXPECT_EQ(chunks, 2);
    EXPECT_EQ(headerCount, 2);
    EXPECT_THAT(readWithMido(target, folder_.path()).lines,
                ElementsAre("type 1 tracks 2 division 480",  //
                            "track 0",                       //
                            "track_name name=b.song time=0",
                            "copyright text=\u00A9qvp3 scoreconv time=0",
                            "set_tempo tempo=666666 time=0",
                            "time_signature clocks_per_click=24 denominator=4 notated_32nd_notes_per_beat=8 "
                            "numerator=3 time=0",
                            "key_signature key=D time=0",  //
                            "end_of_track time=0",         //
                            "track 1",                     //
                            "program_change channel=0 program=0 time=0",
                            "track_name name=Violin-1 time=0",
                            "note_on channel=0 note=62 time=480 velocity=90",
                            "note_on channel=0 note=62 time=240 velocity=0",
                            "note_on channel=0 note=64 time=0 velocity=80",
                            "note_on channel=0 note=64 time=480 velocity=0",  //
                            "end_of_track time=0"));
}

TEST_F(RenderFile, SilentScoreWritesOnlyTrackZero) {
    if (!midoAvailable()) GTEST_SKIP() << "/usr/bin/python3 cannot import mido (python3-mido)";
    renderAdvance(*file_, 1920);  // time passes, nothing sounds
    const auto target = folder_.path() / "silent.mid";
    ASSERT_EQ(renderWriteMidiFile(*file_, target), scorecore::kOk);
    const Bytes bytes = readFile(target);
    EXPECT_EQ(chunksAndHeaderCount(bytes), std::make_pair(1, 1));
    const auto lines = readWithMido(target, folder_.path()).lines;
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "type 1 tracks 1 division 480");
}

TEST_F(RenderFile, UncreatableTargetLeavesNoFile) {
    const auto blocker = folder_.path() / "plain-file";
    std::ofstream(blocker) << "not a folder";
    playNotesOnTrackOne();
    EXPECT_EQ(renderWriteMidiFile(*file_, blocker / "out.mid"), scorecore::kErrCreate);
    EXPECT_EQ(renderWriteMidiFile(*file_, folder_.path() / "missing" / "out.mid"), scorecore::kErrCreate);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 1);
}

TEST_F(RenderFile, ShortWriteKeepsTheOldFile) {
    playNotesOnTrackOne();
    const auto target = folder_.path() / "old.mid";
    std::ofstream(target) << "the old file";

    // A file size limit makes the write come up short (EFBIG instead of the signal).
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 20;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = renderWriteMidiFile(*file_, target);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(result, scorecore::kErrWrite);
    const Bytes old = readFile(target);
    EXPECT_EQ(std::string(old.begin(), old.end()), "the old file");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_.path()), {}), 1);
}

TEST(RenderWrite, RefusesWhatTheHeaderCannotHold) {
    platform::testing::TempFolder folder;
    auto notRendering = makeFile(kModeRealTime, 2);
    EXPECT_EQ(renderWriteMidiFile(*notRendering, folder.path() / "a.mid"), scorecore::kErrWrite);
    auto noTracks = makeFile(kModeRender, 0);
    EXPECT_EQ(renderWriteMidiFile(*noTracks, folder.path() / "b.mid"), scorecore::kErrWrite);
    auto fineResolution = makeFile(kModeRender, 1);
    fineResolution->ticksPerQuarter = 0x8000;  // would read as a time-code division
    EXPECT_EQ(renderWriteMidiFile(*fineResolution, folder.path() / "c.mid"), scorecore::kErrWrite);
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

}  // namespace
}  // namespace scoreconv
