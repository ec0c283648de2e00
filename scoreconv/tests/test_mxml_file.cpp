// The MusicXML file object: creation, modes, progress reports, the stop word,
// and emptying and freeing it.
#include "musicxml/mxml_file.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {
namespace {

using platform::Delivery;
using platform::RecordingMessageTarget;

std::unique_ptr<CMxmlFile> makeFile(platform::MessageTarget** window = nullptr, int* signal = nullptr,
                                    int32_t mode = kModeRealTime) {
    return CMxmlFile::newFile(window, mode, signal, 480, "qvp3", nullptr);
}

// Gives the object a score's worth of tables, as a load leaves them.
void fillAsLoaded(CMxmlFile& file) {
    ASSERT_EQ(scorecore::xmldomParseMemory("<score-partwise><part id='P1'/></score-partwise>", file.document),
              scorecore::kOk);
    ASSERT_TRUE(file.appendPart());
    ASSERT_TRUE(file.growStaffTables(2));
    file.rowCount = 3;
    file.voiceCounts = {2, 1};
    ASSERT_TRUE(file.voiceTables.appendPart());
    ASSERT_TRUE(file.voiceTables.growStaves(0, 2));
    ASSERT_TRUE(file.events.allocRows(3));
    ASSERT_TRUE(file.events.allocVoices(0, 2));
    scorecore::CScoreEvent note;
    note.kind = scorecore::kKindNote;
    note.lyrics.push_back({});
    ASSERT_EQ(file.events.append(0, 1, note), scorecore::kOk);
    ASSERT_TRUE(file.voiceMix.resize(file.voiceCounts));
    ASSERT_TRUE(file.allocatePlayState());
    ASSERT_TRUE(file.render.allocate(4));
    ASSERT_TRUE(file.onOff.create(2));
    ASSERT_TRUE(file.quantize.create(2));
    file.description = "Composer: A";
    file.fnOriginal = "a.xml";
    file.fnScanned = "/music/a.xml";
    file.modTime = 42;
    file.dynamik.rows[2].presentInFile = 1;
    file.articulation.rows[0].presentInFile = 1;
    file.metronom.CountIn = 4;
    file.midiInstrumentListCount = 3;
}

TEST(MxmlFileCreate, StartsEmptyWithTheDefaults) {
    platform::MessageTarget* receiver = nullptr;
    int signal = 0;
    auto file = CMxmlFile::newFile(&receiver, kModeRender, &signal, 960, "qvp3", nullptr);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->progressWindow, &receiver);
    EXPECT_EQ(file->signal, &signal);
    EXPECT_EQ(file->playModeNow(), kModeRender);
    EXPECT_EQ(file->ticksPerQuarter, 960);
    EXPECT_EQ(file->quantize.ticksPerQuarter(), 960);
    EXPECT_EQ(file->einstimmung.ticksPerQuarter, 960);
    EXPECT_EQ(file->programName, "qvp3");
    EXPECT_EQ(file->lineEnd, "\r\n");
    EXPECT_EQ(file->modifiedLabel, "Zuletzt geändert: ");
    EXPECT_EQ(file->lineLabel, "[Zeile %i]");
    // The host's creation clears the flag bytes of the two tables and of the length.
    EXPECT_EQ(file->articulation.flag, 0);
    EXPECT_EQ(file->dynamik.flag, 0);
    EXPECT_EQ(file->playLength.flag, 0);
    EXPECT_EQ(file->startPos.flag, 1);
    EXPECT_EQ(file->controls.tempo().TempoMode, 1);
    EXPECT_EQ(file->controls.tempo().TempoAbs, -1);
    EXPECT_EQ(file->controls.tempo().low, 10);
    EXPECT_EQ(file->controls.tempo().high, 720);
    EXPECT_EQ(file->baseVelocity, 90);
    EXPECT_EQ(file->NoteShortening, 95);
    EXPECT_EQ(file->PreviewDo, 0);
    EXPECT_EQ(file->PreviewSec, 5);
    EXPECT_EQ(file->PlayRepeats, 1);
    EXPECT_EQ(file->progressPosted, 1);
    EXPECT_EQ(file->initialTempo, 120);
    EXPECT_EQ(file->convProps, -1);
    EXPECT_EQ(file->controls.playConditions(), 0u);
    EXPECT_EQ(file->writerPart, -1);
    EXPECT_EQ(file->writerMeasure, -1);
    EXPECT_EQ(file->writerVoice, -1);
    EXPECT_EQ(file->cursor.tempo, -1);
    EXPECT_EQ(file->rowCount, 0);
    EXPECT_FALSE(file->isLoaded());
    for (const auto* pos : {&file->startPos, &file->playLength}) {
        EXPECT_EQ(pos->bar, 1);
        EXPECT_EQ(pos->beat, 1);
        EXPECT_EQ(pos->tick, 0);
    }
    EXPECT_EQ(file->articulation.rows[3].velocity, 118);
    EXPECT_EQ(file->dynamik.rows[0].velocity, 127);
}

TEST(MxmlFileCreate, KeepsTheGivenTextsWithinTheirLimits) {
    struct Case {
        std::string program;
        std::string expected;
    };
    const std::string sixtyTwo(62, 'p');
    const Case cases[] = {
        {"", ""},
        {sixtyTwo, sixtyTwo},
        {sixtyTwo + "q", sixtyTwo},
        {std::string(300, 'x'), std::string(62, 'x')},
        // A two-byte character across the limit is left out whole.
        {std::string(61, 'a') + "ä", std::string(61, 'a')},
    };
    for (const Case& c : cases) {
        auto file = CMxmlFile::newFile(nullptr, kModeRealTime, nullptr, 480, c.program, nullptr);
        EXPECT_EQ(file->programName, c.expected) << c.program.size();
    }

    CMxmlInit init;
    init.lineEnd = "\r\n\r\n";
    init.modifiedLabel = "Modified: ";
    init.lineLabel = "[Line %i]";
    CMxmlFile file(init);
    EXPECT_EQ(file.lineEnd, "\r\n");
    EXPECT_EQ(file.modifiedLabel, "Modified: ");
    EXPECT_EQ(file.lineLabel, "[Line %i]");
    EXPECT_EQ(file.articulation.flag, 1);  // only newFile clears the flags
}

TEST(MxmlFileCreate, ResolutionBelowOneTickIsTheDefault) {
    struct Case {
        int32_t given;
        int32_t kept;
    };
    for (const Case c : {Case{480, 480}, Case{96, 96}, Case{0, 480}, Case{-5, 480}}) {
        auto file = CMxmlFile::newFile(nullptr, kModeRealTime, nullptr, c.given, "", nullptr);
        EXPECT_EQ(file->ticksPerQuarter, c.kept) << c.given;
        EXPECT_EQ(file->cursor.meter.ticksPerBar, 4 * c.kept);
    }
}

TEST(MxmlFileMode, LoadsRunInPlayTimeExceptTvrxmlAndLoadAndPlay) {
    struct Case {
        int32_t mode;
        int32_t load;
    };
    const Case cases[] = {{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 5}, {6, 1}, {7, 7}, {0, 1}, {-3, 1}};
    for (const Case c : cases) EXPECT_EQ(CMxmlFile::loadMode(c.mode), c.load) << c.mode;
}

TEST(MxmlFileMode, ScopePutsTheSavedModeBack) {
    auto file = makeFile(nullptr, nullptr, kModeRender);
    {
        CMxmlFile::ModeScope load(*file, CMxmlFile::loadMode(file->playModeNow()));
        EXPECT_EQ(file->playModeNow(), kModePlayTime);
        {
            CMxmlFile::ModeScope lookAhead(*file, kModeLookAhead);
            EXPECT_EQ(file->playModeNow(), kModeLookAhead);
        }
        EXPECT_EQ(file->playModeNow(), kModePlayTime);
    }
    EXPECT_EQ(file->playModeNow(), kModeRender);
}

TEST(MxmlFileProgress, PostsOrSendsByThePostFlag) {
    RecordingMessageTarget target;
    platform::MessageTarget* receiver = &target;
    auto file = makeFile(&receiver);

    EXPECT_TRUE(file->reportProgress(kProgressTotal, 20));
    file->setCallbackWindow(&receiver, false);
    EXPECT_TRUE(file->reportProgress(kProgressDone, 1));
    file->setCallbackWindow(&receiver, true);
    EXPECT_TRUE(file->reportProgress(kProgressLoadAndPlay, -1));

    const auto log = target.messages();
    ASSERT_EQ(log.size(), 3u);
    const struct {
        platform::WParam wParam;
        platform::LParam lParam;
        Delivery delivery;
    } expected[] = {{4, 20, Delivery::Posted}, {3, 1, Delivery::Sent}, {5, -1, Delivery::Posted}};
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].msg, platform::WM_MXML_PROGRESS);
        EXPECT_EQ(log[i].wParam, expected[i].wParam) << i;
        EXPECT_EQ(log[i].lParam, expected[i].lParam) << i;
        EXPECT_EQ(log[i].delivery, expected[i].delivery) << i;
    }
}

TEST(MxmlFileProgress, TempoReportCarriesTheValueItself) {
    for (const bool post : {true, false}) {
        RecordingMessageTarget target;
        platform::MessageTarget* receiver = &target;
        auto file = makeFile();
        file->setCallbackWindow(&receiver, post);
        EXPECT_TRUE(file->reportTempo(133));
        const auto log = target.messages();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].wParam, kProgressTempo);
        EXPECT_EQ(log[0].lParam, 133);
    }
}

TEST(MxmlFileProgress, PositionFitsEachValueIn16Bits) {
    struct Case {
        int32_t bar, beat, tick;
        platform::WParam wParam;
        platform::LParam lParam;
    };
    const Case cases[] = {
        {1, 1, 0, 1, 0},
        {3, 2, 120, (2u << 16) + 1, (120 << 16) | 1},
        {0, 4, 100, (0xFFFFu << 16) + 1, (100 << 16) | 3},  // count-in bar 0
        {70000, 1, 0, (((70000u - 1) & 0xFFFFu) << 16) + 1, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(positionWParam(c.bar), c.wParam) << c.bar;
        EXPECT_EQ(positionLParam(c.tick, c.beat), c.lParam) << c.bar;
    }
    RecordingMessageTarget target;
    platform::MessageTarget* receiver = &target;
    auto file = makeFile(&receiver);
    EXPECT_TRUE(file->reportPosition(3, 2, 120));
    ASSERT_EQ(target.count(), 1u);
    EXPECT_EQ(target.messages()[0].wParam, (2u << 16) + 1);
}

TEST(MxmlFileProgress, NothingGoesOutWithoutAReceiver) {
    platform::MessageTarget* none = nullptr;
    auto withoutVariable = makeFile();
    EXPECT_FALSE(withoutVariable->reportProgress(kProgressDone, 1));
    auto withEmptyVariable = makeFile(&none);
    EXPECT_FALSE(withEmptyVariable->reportProgress(kProgressDone, 1));

    RecordingMessageTarget closed;
    closed.close();
    platform::MessageTarget* receiver = &closed;
    auto file = makeFile(&receiver);
    EXPECT_FALSE(file->reportProgress(kProgressDone, 1));  // a refused post
    EXPECT_EQ(closed.count(), 0u);
}

TEST(MxmlFileSignal, ReadsTheHostsStopWord) {
    auto unsignalled = makeFile();
    EXPECT_EQ(unsignalled->signalValue(), 0);
    EXPECT_FALSE(unsignalled->stopRequested());

    int signal = 0;
    auto file = makeFile(nullptr, &signal);
    EXPECT_FALSE(file->stopRequested());
    signal = 3;
    EXPECT_EQ(file->signalValue(), 3);
    EXPECT_TRUE(file->stopRequested());
}

TEST(MxmlFileDestroy, NeverLoadedObjectStaysEmptyTwice) {
    auto file = makeFile();
    file->destroy();
    file->destroy();
    EXPECT_TRUE(file->fnOriginal.empty());
    EXPECT_TRUE(file->fnScanned.empty());
    EXPECT_EQ(file->rowCount, 0);
    EXPECT_EQ(file->playLength.bar, 0);
}

TEST(MxmlFileDestroy, EmptiesTheScoreAndKeepsTheSettings) {
    auto file = makeFile();
    fillAsLoaded(*file);
    file->controls.setTempoMode(0);
    file->NoteShortening = 80;
    file->articulation.rows[0].noteCut = -30;
    file->cursor.tempo = 100;

    file->destroy();

    EXPECT_FALSE(file->document);
    EXPECT_TRUE(file->parts.empty());
    EXPECT_EQ(file->staffCount(), 0);
    EXPECT_EQ(file->instruments.staffCount(), 0);
    EXPECT_EQ(file->events.rowCount(), 0);
    EXPECT_EQ(file->voiceTables.partCount(), 0);
    EXPECT_EQ(file->cursor.done.staffCount(), 0);
    EXPECT_EQ(file->render.count(), 0);
    EXPECT_EQ(file->onOff.staffCount(), 0);
    EXPECT_EQ(file->quantize.staffCount(), 0);
    EXPECT_TRUE(file->voiceCounts.empty());
    EXPECT_TRUE(file->description.empty());
    EXPECT_FALSE(file->isLoaded());
    EXPECT_TRUE(file->fnOriginal.empty());
    EXPECT_EQ(file->rowCount, 0);
    EXPECT_EQ(file->midiInstrumentListCount, 0);
    EXPECT_EQ(file->modTime, 0u);
    EXPECT_EQ(file->dynamik.rows[2].presentInFile, 0);
    EXPECT_EQ(file->articulation.rows[0].presentInFile, 0);
    EXPECT_EQ(file->cursor.tempo, -1);
    EXPECT_EQ(file->metronom.CountIn, 2);  // a fresh record stands in
    EXPECT_EQ(file->voiceMix.userVolume(0, 0), kDefaultVolume);
    // Settings stay.
    EXPECT_EQ(file->controls.tempo().TempoMode, 0);
    EXPECT_EQ(file->NoteShortening, 80);
    EXPECT_EQ(file->articulation.rows[0].noteCut, -30);

    file->destroy();  // a second time is harmless
    EXPECT_EQ(file->events.rowCount(), 0);
}

TEST(MxmlFileDestroy, IgnoreTempoKeepsTheCursorTempo) {
    auto file = makeFile();
    file->IgnoreTempo = 1;
    file->cursor.tempo = 96;
    file->savedCursor.tempo = 96;
    file->destroy();
    EXPECT_EQ(file->cursor.tempo, 96);
    EXPECT_EQ(file->savedCursor.tempo, 96);
}

TEST(MxmlFileReset, PutsTheSettingsBack) {
    auto file = makeFile();
    fillAsLoaded(*file);
    file->controls.setTempo(CTempoSettings{0, 50, 200, 20, 300});
    file->baseVelocity = 60;
    file->PreviewDo = 1;
    file->progressPosted = 0;
    file->TranspAdd = 5;
    file->einstimmung.Type = 2;
    file->reset();
    EXPECT_EQ(file->controls.tempo().TempoMode, 1);
    EXPECT_EQ(file->controls.tempo().TempoAdd, 0);
    EXPECT_EQ(file->controls.tempo().low, 10);
    EXPECT_EQ(file->controls.tempo().high, 720);
    EXPECT_EQ(file->baseVelocity, 90);
    EXPECT_EQ(file->PreviewDo, 0);
    EXPECT_EQ(file->progressPosted, 1);
    EXPECT_EQ(file->TranspAdd, 0);
    EXPECT_EQ(file->einstimmung.Type, 0);
    EXPECT_EQ(file->playLength.bar, 1);
    EXPECT_FALSE(file->document);
    EXPECT_EQ(file->events.rowCount(), 0);
}

TEST(MxmlFileFree, ReleasesALoadedObjectAndNullsTheHandle) {
    CMxmlFile* handle = makeFile().release();
    fillAsLoaded(*handle);
    CMxmlFile::freeFile(&handle);  // the leak check of the sanitizer build sees the rest
    EXPECT_EQ(handle, nullptr);
    CMxmlFile::freeFile(&handle);
    CMxmlFile::freeFile(nullptr);
}

TEST(MxmlFileNames, RenderedFileIsTheOriginalOrElseTheScannedOne) {
    struct Case {
        std::string original, scanned, asked;
        bool rendered;
    };
    const Case cases[] = {
        {"a.xml", "/m/a.xml", "a.xml", true},
        {"a.xml", "/m/a.xml", "/m/a.xml", false},
        {"", "/m/a.xml", "/m/a.xml", true},
        {"", "/m/a.xml", "b.xml", false},
    };
    for (const Case& c : cases) {
        auto file = makeFile();
        file->fnOriginal = c.original;
        file->fnScanned = c.scanned;
        EXPECT_EQ(file->isThisFileRendered(c.asked), c.rendered) << c.asked;
        EXPECT_TRUE(file->isLoaded());
    }
}

TEST(MxmlFileTables, StaffTablesGrowTogether) {
    auto file = makeFile();
    ASSERT_TRUE(file->growStaffTables(2));
    ASSERT_TRUE(file->growStaffTables(1));
    EXPECT_FALSE(file->growStaffTables(-1));
    EXPECT_EQ(file->staffCount(), 3);
    EXPECT_EQ(file->instruments.staffCount(), 3);
    EXPECT_EQ(file->staffLines, (std::vector<int32_t>{5, 5, 5}));
    EXPECT_EQ(file->staffTransposition, (std::vector<int32_t>{0, 0, 0}));
    EXPECT_EQ(file->clefs.size(), 3u);
    EXPECT_EQ(file->groupEnd.size(), 3u);
    EXPECT_EQ(file->lyricVerses.size(), 3u);

    EXPECT_TRUE(file->appendPart());
    EXPECT_EQ(file->parts.back().tempo, 120);

    file->setConvProps(0x21);
    EXPECT_TRUE(file->testConvProps(0x20));
    EXPECT_FALSE(file->testConvProps(0x02));
    file->setWriterCursor(1, 2, 3);
    EXPECT_EQ(file->writerMeasure, 2);
}

TEST(MxmlFileCursor, RepeatJumpsFollowIgnoreTempo) {
    auto file = makeFile();
    file->voiceCounts = {1};
    ASSERT_TRUE(file->allocatePlayState());
    file->cursor.tempo = 100;
    file->cursor.currentTick = 960;
    file->cursor.eventIndex.set(0, 0, 4);
    file->saveCursor();
    file->cursor.tempo = 140;
    file->cursor.currentTick = 3840;
    file->cursor.eventIndex.set(0, 0, 9);

    file->restoreCursor();
    EXPECT_EQ(file->cursor.currentTick, 960);
    EXPECT_EQ(*file->cursor.eventIndex.at(0, 0), 4);
    EXPECT_EQ(file->cursor.tempo, 100);

    file->cursor.tempo = 140;
    file->IgnoreTempo = 1;
    file->cursor.currentTick = 3840;
    file->restoreCursor();
    EXPECT_EQ(file->cursor.currentTick, 960);
    EXPECT_EQ(file->cursor.tempo, 140);  // the host's tempo stays

    file->cursor.currentTick = 3840;
    file->exchangeCursors();
    EXPECT_EQ(file->cursor.currentTick, 960);
    EXPECT_EQ(file->savedCursor.currentTick, 3840);
    EXPECT_EQ(file->cursor.tempo, 140);
    EXPECT_EQ(file->savedCursor.tempo, 100);
}

}  // namespace
}  // namespace scoreconv
