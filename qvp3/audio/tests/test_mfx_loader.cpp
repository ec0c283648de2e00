// MIDI events into MFX events: tables of event sequences and what the loader
// makes of them, and MIDI files loaded into a sequence.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "../../pipeline/tests/smf_bytes.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/mfx_loader.h"
#include "qvp3_pipeline/midi_read.h"

namespace qvp3 {
namespace {

namespace smfb = qvp3::testing;
using platform::testing::TempFolder;
using platform::testing::writeBytes;

struct Midi {
    std::int32_t time;
    int status;
    int data1;
    int data2;
};

std::string describe(const CMfxEvent& e) {
    std::ostringstream out;
    out << e.time << ' ';
    switch (e.type) {
    case kMfxNote:
        out << "note " << int{e.channel} << ':' << int{e.key()} << " vel " << int{e.velocity()} << " dur "
            << e.duration();
        break;
    case kMfxControl: out << "ctl " << int{e.channel} << ':' << e.GetNumber() << '=' << e.GetValue(); break;
    case kMfxRpn: out << "rpn " << int{e.channel} << ':' << e.GetNumber() << '=' << e.GetValue(); break;
    case kMfxNrpn: out << "nrpn " << int{e.channel} << ':' << e.GetNumber() << '=' << e.GetValue(); break;
    case kMfxPatch:
        out << "patch " << int{e.channel} << ':' << int{e.program()} << " bank " << e.bank() << " method "
            << int{e.bankMethod()};
        break;
    default: out << "type " << e.type; break;
    }
    return out.str();
}

void feed(CMfxLoader& loader, CMfxTrack& track, const std::vector<Midi>& events) {
    for (const Midi& m : events) {
        const int channel = m.status & 0x0F;
        switch (m.status & 0xF0) {
        case 0x90:
            if (m.data2 > 0) {
                loader.NoteOn(track, m.time, channel, m.data1, m.data2);
                break;
            }
            [[fallthrough]];
        case 0x80: loader.NoteOff(track, m.time, channel, m.data1, m.data2); break;
        case 0xB0: loader.Controller(track, m.time, channel, m.data1, m.data2); break;
        case 0xC0: loader.ProgramChange(track, m.time, channel, m.data1); break;
        default: FAIL() << "no such event in these tables";
        }
    }
}

std::vector<std::string> load(const std::vector<Midi>& events, std::int32_t end = 1000) {
    CMfxSeq seq;
    CMfxLoader loader(seq);
    CMfxTrack& track = *loader.TrackFor(0, 0x90);
    feed(loader, track, events);
    loader.CloseAll(track, end);
    EXPECT_EQ(loader.openNotes(), 0);
    std::vector<std::string> out;
    for (const CMfxEvent& e : track.events) out.push_back(describe(e));
    return out;
}

struct Case {
    const char* name;
    std::vector<Midi> midi;
    std::vector<std::string> mfx;
};

TEST(MfxLoader, NotesArePairedIntoDurations) {
    const Case cases[] = {
        {"note-off", {{0, 0x90, 60, 100}, {480, 0x80, 60, 0}}, {"0 note 0:60 vel 100 dur 480"}},
        {"note-on of velocity 0", {{10, 0x93, 62, 90}, {130, 0x93, 62, 0}}, {"10 note 3:62 vel 90 dur 120"}},
        {"same key overlapping: oldest first",
         {{0, 0x90, 60, 1}, {10, 0x90, 60, 2}, {20, 0x90, 60, 3}, {30, 0x80, 60, 0}, {40, 0x80, 60, 0},
          {55, 0x80, 60, 0}},
         {"0 note 0:60 vel 1 dur 30", "10 note 0:60 vel 2 dur 30", "20 note 0:60 vel 3 dur 35"}},
        {"same key on two channels",
         {{0, 0x90, 60, 1}, {0, 0x91, 60, 2}, {10, 0x81, 60, 0}, {20, 0x80, 60, 0}},
         {"0 note 0:60 vel 1 dur 20", "0 note 1:60 vel 2 dur 10"}},
        {"note-off without a note is dropped", {{5, 0x80, 61, 0}, {6, 0x90, 61, 50}, {9, 0x80, 61, 0}},
         {"6 note 0:61 vel 50 dur 3"}},
        {"notes open at the end of the track end there", {{100, 0x90, 64, 70}, {200, 0x90, 64, 71}},
         {"100 note 0:64 vel 70 dur 900", "200 note 0:64 vel 71 dur 800"}},
    };
    for (const Case& c : cases) EXPECT_EQ(load(c.midi), c.mfx) << c.name;
}

TEST(MfxLoader, PairingStaysInRangeBeyond65535Notes) {
    // Overlapping pairs of one key: more notes than a 16-bit index can name.
    std::vector<Midi> midi;
    constexpr int kPairs = 40000;
    for (int i = 0; i < kPairs; ++i) {
        const std::int32_t t = i * 10;
        midi.push_back({t, 0x90, 60, 100});
        midi.push_back({t + 1, 0x90, 60, 101});
        midi.push_back({t + 2, 0x80, 60, 0});
        midi.push_back({t + 4, 0x80, 60, 0});
    }
    CMfxSeq seq;
    CMfxLoader loader(seq);
    CMfxTrack& track = *loader.TrackFor(0, 0x90);
    feed(loader, track, midi);
    EXPECT_EQ(loader.openNotes(), 0);
    ASSERT_EQ(track.events.size(), 2u * kPairs);
    for (std::size_t i = 0; i < track.events.size(); ++i) {
        const CMfxEvent& e = track.events[i];
        ASSERT_EQ(e.duration(), i % 2 == 0 ? 2u : 3u) << "note " << i;
        ASSERT_EQ(e.velocity(), i % 2 == 0 ? 100 : 101) << "note " << i;
    }
}

TEST(MfxLoader, RpnAndNrpnRunsAreFolded) {
    const Case cases[] = {
        {"RPN 0 with MSB and LSB at one tick", {{0, 0xB0, 101, 0}, {0, 0xB0, 100, 0}, {0, 0xB0, 6, 2}, {0, 0xB0, 38, 0}},
         {"0 rpn 0:0=256"}},
        {"LSB merged within 120 ticks", {{0, 0xB2, 101, 0}, {0, 0xB2, 100, 1}, {0, 0xB2, 6, 64}, {120, 0xB2, 38, 5}},
         {"0 rpn 2:1=8197"}},
        {"LSB too late is an event of its own",
         {{0, 0xB0, 101, 0}, {0, 0xB0, 100, 1}, {0, 0xB0, 6, 64}, {121, 0xB0, 38, 5}},
         {"0 rpn 0:1=8192", "121 rpn 0:1=8197"}},
        {"NRPN with parameter MSB and LSB", {{0, 0xB1, 99, 1}, {0, 0xB1, 98, 8}, {5, 0xB1, 6, 3}},
         {"5 nrpn 1:136=384"}},
        {"LSB select without MSB sets MSB 0", {{0, 0xB0, 98, 9}, {0, 0xB0, 6, 1}}, {"0 nrpn 0:9=128"}},
        {"increment and decrement",
         {{0, 0xB0, 101, 0}, {0, 0xB0, 100, 2}, {0, 0xB0, 6, 1}, {1, 0xB0, 96, 0}, {2, 0xB0, 97, 0},
          {3, 0xB0, 97, 0}},
         {"0 rpn 0:2=128", "1 rpn 0:2=129", "2 rpn 0:2=128", "3 rpn 0:2=127"}},
        {"increment at 16382 is ignored",
         {{0, 0xB0, 101, 0}, {0, 0xB0, 100, 0}, {0, 0xB0, 6, 127}, {0, 0xB0, 38, 126}, {1, 0xB0, 96, 0}},
         {"0 rpn 0:0=16382"}},
        {"decrement at 0 is ignored", {{0, 0xB0, 101, 0}, {0, 0xB0, 100, 0}, {1, 0xB0, 97, 0}}, {}},
        {"without a selected parameter data entry is a plain controller",
         {{0, 0xB0, 6, 2}, {0, 0xB0, 38, 1}, {0, 0xB0, 96, 0}, {0, 0xB0, 7, 90}},
         {"0 ctl 0:6=2", "0 ctl 0:38=1", "0 ctl 0:96=0", "0 ctl 0:7=90"}},
        {"LSB alone on an empty track", {{0, 0xB0, 101, 0}, {0, 0xB0, 100, 0}, {0, 0xB0, 38, 3}}, {"0 rpn 0:0=3"}},
    };
    for (const Case& c : cases) EXPECT_EQ(load(c.midi), c.mfx) << c.name;
}

TEST(MfxLoader, BankSelectIsFoldedIntoThePatch) {
    const Case cases[] = {
        {"controllers 0 and 32", {{0, 0xB0, 0, 1}, {0, 0xB0, 32, 2}, {0, 0xC0, 5, 0}}, {"0 patch 0:5 bank 130 method 0"}},
        {"controller 0 only", {{0, 0xB4, 0, 8}, {10, 0xC4, 48, 0}}, {"10 patch 4:48 bank 8 method 1"}},
        {"controller 32 only", {{0, 0xB0, 32, 3}, {480, 0xC0, 1, 0}}, {"480 patch 0:1 bank 3 method 2"}},
        {"controllers too long before", {{0, 0xB0, 0, 1}, {481, 0xC0, 1, 0}}, {"0 ctl 0:0=1", "481 patch 0:1 bank -1 method 0"}},
        {"another channel's controllers stay", {{0, 0xB1, 0, 1}, {0, 0xC0, 1, 0}}, {"0 ctl 1:0=1", "0 patch 0:1 bank -1 method 0"}},
        {"program 100 and up just before", {{0, 0xC0, 103, 0}, {15, 0xC0, 7, 0}}, {"15 patch 0:7 bank 3 method 3"}},
        {"program 100 and up too long before",
         {{0, 0xC0, 103, 0}, {16, 0xC0, 7, 0}},
         {"0 patch 0:103 bank -1 method 0", "16 patch 0:7 bank -1 method 0"}},
        {"no bank select", {{0, 0xC9, 0, 0}}, {"0 patch 9:0 bank -1 method 0"}},
        // The controllers removed before the open note must not leave the
        // pairing pointing at the wrong event.
        {"open notes around the folded controllers",
         {{0, 0xB0, 0, 1}, {0, 0x90, 60, 100}, {0, 0x90, 60, 101}, {0, 0xB0, 32, 2}, {0, 0x90, 62, 102},
          {5, 0xC0, 9, 0}, {100, 0x80, 60, 0}, {150, 0x80, 60, 0}, {200, 0x80, 62, 0}},
         {"0 note 0:60 vel 100 dur 100", "0 note 0:60 vel 101 dur 150", "0 note 0:62 vel 102 dur 200",
          "5 patch 0:9 bank 130 method 0"}},
    };
    for (const Case& c : cases) EXPECT_EQ(load(c.midi), c.mfx) << c.name;
}

TEST(MfxLoader, ResetMessagesAreRecognisedByTheirExactBytes) {
    struct Reset {
        std::vector<std::uint8_t> bytes;
        bool reset;
    };
    const Reset cases[] = {
        {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, true},
        {{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7}, true},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7}, true},
        {{0xF0, 0x41, 0x10, 0x42, 0x12, 0x00, 0x00, 0x7F, 0x00, 0x01, 0xF7}, true},
        {{0xF0, 0x7E, 0x7F, 0x09, 0x02, 0xF7}, false},  // General MIDI off
        {{0xF0, 0x7E, 0x7F, 0x09, 0x01}, false},
        {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7, 0xF7}, false},
        {{}, false},
    };
    for (const Reset& c : cases) EXPECT_EQ(mfxIsResetMessage(c.bytes), c.reset) << c.bytes.size() << " bytes";

    CMfxSeq seq;
    CMfxLoader loader(seq);
    CMfxTrack& track = *loader.TrackFor(2, 0xF0);
    ASSERT_EQ(loader.SysEx(track, 40, cases[0].bytes), S_OK);
    EXPECT_TRUE(loader.onlyResetMessages());
    EXPECT_EQ(loader.earliestTime(), 40);
    ASSERT_EQ(loader.SysEx(track, 30, cases[4].bytes), S_OK);
    EXPECT_FALSE(loader.onlyResetMessages());
    EXPECT_EQ(loader.earliestTime(), 30);
    ASSERT_EQ(track.events.size(), 2u);
    std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
    ASSERT_EQ(CMfxBufferFactory::instance().GetPointer(track.events[1].buffer(), &data, &size), S_OK);
    EXPECT_EQ(std::vector<std::uint8_t>(data, data + size), cases[4].bytes);
    EXPECT_EQ(track.events[1].type, kMfxSysx);
}

TEST(MfxLoader, TrackOfAnEventByFileTrackOrChannel) {
    CMfxSeq seq;
    CMfxLoader byTrack(seq);
    EXPECT_EQ(byTrack.TrackFor(3, 0x95)->key, 3);
    EXPECT_EQ(byTrack.TrackFor(-4, 0x95)->key, 0);
    CMfxLoader byChannel(seq, true);
    EXPECT_EQ(byChannel.TrackFor(3, 0x95)->key, 5);
    EXPECT_EQ(byChannel.TrackFor(3, 0xBF)->key, 15);
    EXPECT_NE(seq.GetTrack(kMfxPlayThroughKey, false), nullptr);
}

std::string twoTrackFile(std::uint32_t secondTempo) {
    using namespace smfb;
    const std::string conductor = tempo(0, 500000) + meter(0, 4, 2) + meta(0, 0x59, std::string("\xFE\x00", 2)) +
                                  meta(0, 0x06, "Intro") + tempo(480, secondTempo) + meter(240, 3, 2) +
                                  meta(960, 0x06, "Verse") + endOfTrack();
    const std::string notes = name("Piano") + ev(0, {0xB0, 0, 1}) + ev(0, {0xC0, 4}) + ev(0, {0x90, 60, 100}) +
                              ev(240, {0x80, 60, 0}) + ev(0, {0xF0, 5, 0x7E, 0x7F, 0x09, 0x01, 0xF7}) +
                              meta(0, 0x05, "la") + ev(0, {0x91, 64, 90}) + endOfTrack(720);
    return smf(1, 240, {conductor, notes});
}

TEST(MfxLoader, MidiFileBecomesTheSequence) {
    TempFolder folder;
    const auto path = folder.path() / "two.mid";
    writeBytes(path, twoTrackFile(1000000));
    CMfxSeq seq;
    CMfxLoader loader(seq);
    ASSERT_EQ(loader.LoadFile(path), kMidiOk);
    EXPECT_EQ(seq.ppq(), 240);
    ASSERT_EQ(seq.tempoMap.entries().size(), 2u);
    EXPECT_EQ(seq.tempoMap.entries()[1].tick, 480);
    EXPECT_EQ(seq.tempoMap.entries()[1].tempo, 6000);
    // Bar 1 in 4/4 at 240 PPQ is 960 ticks: the 3/4 met inside it at tick 720 starts with bar 2.
    ASSERT_EQ(seq.meterMap.entries().size(), 2u);
    EXPECT_EQ(seq.meterMap.entries()[1].measure, 2);
    EXPECT_EQ(seq.meterMap.entries()[1].beats, 3);
    EXPECT_EQ(seq.meterMap.entries()[0].key, -2);
    ASSERT_EQ(seq.markers.size(), 2u);
    EXPECT_EQ(seq.markers[1].name, "Verse");
    EXPECT_EQ(seq.markers[1].tick, 1680);
    EXPECT_EQ(seq.meterMap.entries()[1].startTick, 960);

    const CMfxTrack* piano = seq.GetTrack(1, false);
    ASSERT_NE(piano, nullptr);
    EXPECT_EQ(piano->name, "Piano");
    ASSERT_EQ(piano->events.size(), 5u);
    EXPECT_EQ(describe(piano->events[0]), "0 patch 0:4 bank 1 method 1");
    EXPECT_EQ(describe(piano->events[1]), "0 note 0:60 vel 100 dur 240");
    EXPECT_EQ(piano->events[2].type, kMfxSysx);
    EXPECT_EQ(piano->events[3].type, kMfxLyric);
    EXPECT_EQ(describe(piano->events[4]), "240 note 1:64 vel 90 dur 720");  // closed at the track's end
    EXPECT_TRUE(loader.onlyResetMessages());
    EXPECT_EQ(piano->cursor, 0);
}

TEST(MfxLoader, TempoZeroInTheFileDividesByNothing) {
    TempFolder folder;
    const auto path = folder.path() / "zero.mid";
    writeBytes(path, twoTrackFile(0));
    CMfxSeq seq;
    CMfxLoader loader(seq);
    ASSERT_EQ(loader.LoadFile(path), kMidiOk);
    EXPECT_EQ(seq.tempoMap.entries().size(), 1u);  // passed over
    EXPECT_EQ(seq.tempoMap.TicksToMsecs(480), 1000);

    // A tempo of 0 that reaches the map anyway plays as the slowest.
    seq.tempoMap.SetTempo(480, 0);
    EXPECT_EQ(seq.tempoMap.TicksToMsecs(960), 1000 + 12000000);  // two quarters of 6000 s
    EXPECT_GT(seq.tempoMap.TicksToSamples(std::int64_t{960} * 65536), std::int64_t{44100});
}

TEST(MfxLoader, OneTrackPerChannelSortsEveryTrackByTime) {
    using namespace smfb;
    const std::string a = ev(100, {0x90, 60, 1}) + ev(100, {0x80, 60, 0}) + endOfTrack();
    const std::string b = ev(0, {0x90, 62, 2}) + ev(50, {0x80, 62, 0}) + ev(0, {0x91, 70, 3}) + ev(10, {0x81, 70, 0}) +
                          endOfTrack();
    TempFolder folder;
    const auto path = folder.path() / "channels.mid";
    writeBytes(path, smf(1, 120, {a, b}));
    CMfxSeq seq;
    CMfxLoader loader(seq, true);
    ASSERT_EQ(loader.LoadFile(path), kMidiOk);
    const CMfxTrack* first = seq.GetTrack(0, false);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(first->events.size(), 2u);
    EXPECT_EQ(describe(first->events[0]), "0 note 0:62 vel 2 dur 50");
    EXPECT_EQ(describe(first->events[1]), "100 note 0:60 vel 1 dur 100");
    ASSERT_NE(seq.GetTrack(1, false), nullptr);
    EXPECT_EQ(describe(seq.GetTrack(1, false)->events[0]), "50 note 1:70 vel 3 dur 10");
}

// Damaged files: each load ends with an answer, touches no byte outside the
// file, and leaves every note closed.
TEST(MfxLoader, DamagedFilesGiveAnAnswer) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kRounds = 400;
#else
    constexpr int kRounds = 1500;
#endif
    const std::string good = twoTrackFile(400000);
    TempFolder folder;
    const auto path = folder.path() / "damaged.mid";
    std::mt19937 random(7);
    for (int round = 0; round < kRounds; ++round) {
        std::string bytes = good;
        const int changes = 1 + static_cast<int>(random() % 4);
        for (int c = 0; c < changes; ++c) bytes[random() % bytes.size()] = static_cast<char>(random() & 0xFF);
        if (random() % 5 == 0) bytes.resize(random() % bytes.size());
        writeBytes(path, bytes);
        CMfxSeq seq;
        CMfxLoader loader(seq, random() % 2 == 0);
        const int rc = loader.LoadFile(path);
        ASSERT_TRUE(rc == kMidiOk || rc == kMidiNotMidiFile || rc == kMidiShortRead || rc == kMidiCannotOpen)
            << "round " << round << " gave " << rc;
        EXPECT_EQ(loader.openNotes(), 0);
        if (rc != kMidiOk) continue;
        for (const auto& [key, track] : seq.tracks)
            for (std::size_t i = 1; i < track.events.size(); ++i)
                ASSERT_LE(track.events[i - 1].time, track.events[i].time);
    }
}

}  // namespace
}  // namespace qvp3
