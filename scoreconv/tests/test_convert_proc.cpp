// The convert procedure: every fixture and every suite file converted to a
// ".tvrx" and read back as TvrXML, the play-model modes, progress, stop
// requests, unwritable targets, and the scan on a worker thread.
#include "musicxml/convert_proc.h"

#include <gtest/gtest.h>

#include <libxml/tree.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <unistd.h>

#include "musicxml/part_list.h"
#include "musicxml/play_model_builder.h"
#include "mxml_load_support.h"
#include "platform/message_target.h"
#include "platform/midi_out.h"
#include "platform_testing/temp_folder.h"
#include "platform_testing/thread_count.h"
#include "play/play_proc.h"
#include "play_test_support.h"
#include "scorecore/result_codes.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_file.h"
#include "scorecore/vxml_writer.h"
#include "scorecore/xml_dom.h"
#include "scoreconv_testing/score_generator.h"

namespace scoreconv::testing {
namespace {

namespace fs = std::filesystem;
using platform::testing::TempFolder;
using scorecore::kOk;

std::vector<fs::path> musicXmlFiles() {
    std::vector<fs::path> files;
    for (const fs::path& folder : {fs::path(QVP3_TEST_DATA_DIR), fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml"}) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().extension() == ".xml") files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A file object in one mode with its own TvrXML document, progress receiver
// and log.
struct Conversion {
    explicit Conversion(int32_t mode = kModeTvrxml) : f(mode) {
        f.file->controls.setPlayMode(mode);
        f.file->setCallbackWindow(&window, true);
    }

    int run(const fs::path& source, const fs::path& target = {}, int64_t* playTime = nullptr) {
        int result = 12345;
        CConvertParams params;
        params.file = f.file.get();
        params.vxml = &vxml;
        params.sourcePath = source.string();
        params.targetPath = target.string();
        params.playTime = playTime;
        params.result = &result;
        mxmlConvertProc(&params);
        return result;
    }

    CMxmlFile& file() { return *f.file; }

    LoggedFile f;
    scorecore::CVxmlFile vxml;
    platform::RecordingMessageTarget progress;
    platform::MessageTarget* window = &progress;
};

// --- reading a written file back -------------------------------------------------------

std::vector<xmlNodePtr> childElements(const xmlNode* node, std::string_view name) {
    std::vector<xmlNodePtr> out;
    for (xmlNodePtr c = node != nullptr ? node->children : nullptr; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && scorecore::xmldomNodeName(c) == name) out.push_back(c);
    }
    return out;
}

xmlNodePtr childElement(const xmlNode* node, std::string_view name) {
    const auto all = childElements(node, name);
    return all.empty() ? nullptr : all.front();
}

// Ticks of a "duration" as a TvrXML reader counts them.
int32_t durationTicks(const xmlNode* duration, const scorecore::CMeter& meter, scorecore::TupletRounding& rounding) {
    if (duration == nullptr || scorecore::xmldomAttribute(duration, "noDuration") == "true") return 0;
    const std::string base = scorecore::xmldomAttribute(duration, "base").value_or("");
    scorecore::NoteDurationText text{base, std::atoi(scorecore::xmldomAttribute(duration, "dots").value_or("0").c_str())};
    if (const xmlNode* tuplet = childElement(duration, "tuplet")) {
        text.tupletActual = std::atoi(scorecore::xmldomAttribute(tuplet, "count").value_or("0").c_str());
        text.tupletNormal = scorecore::tupletNormalCount(text.tupletActual,
                                                         scorecore::xmldomAttribute(tuplet, "tripartite") == "true",
                                                         scorecore::xmldomAttribute(tuplet, "prolong") == "true");
    }
    return scorecore::noteDurationTicks(text, meter, rounding);
}

// The length of every bar of a voice, closed by its barlines.
std::vector<int32_t> barLengths(const xmlNode* voice, scorecore::CMeter& meter) {
    std::vector<int32_t> bars;
    scorecore::TupletRounding rounding;
    int32_t ticks = 0;
    const xmlNode* objects = childElement(voice, "noteObjects");
    for (xmlNodePtr o = objects != nullptr ? objects->children : nullptr; o != nullptr; o = o->next) {
        if (o->type != XML_ELEMENT_NODE) continue;
        const std::string name = scorecore::xmldomNodeName(o);
        if (name == "timeSign") {
            scorecore::readTimeText(scorecore::xmldomAttribute(o, "time").value_or(""), meter);
        } else if (name == "chord" || name == "rest") {
            ticks += durationTicks(childElement(o, "duration"), meter, rounding);
        } else if (name == "barline") {
            bars.push_back(ticks);
            ticks = 0;
        }
    }
    if (ticks != 0) bars.push_back(ticks);
    return bars;
}

// What a written ".tvrx" holds.
struct WrittenScore {
    int rc = -1;
    int staffCount = 0;
    std::vector<std::string> names;
    std::vector<std::string> layouts;  // the staff layouts' descriptions
    std::vector<int> voices;          // per staff, in the first system
    int systems = 0;
    int bars = 0;                     // over all systems
    std::vector<std::string> faults;  // voices whose bars are not those of the rest of their system
};

// The voices of a staff have the same bars, each as long. Across the staves
// of a system the bars are those of its longest voice, except that a part with
// fewer measures than the score ends early; parts that disagree about their
// measures' lengths are compared by staff only.
void checkSystem(const xmlNode* system, int index, bool acrossStaves, WrittenScore& out) {
    // A bar may differ by what rounding leaves out: less than a 256th.
    constexpr int32_t kTolerance = 8;
    struct Voice {
        int staff;
        int voice;
        std::vector<int32_t> bars;
    };
    std::vector<Voice> all;
    int staffIndex = 0;
    for (const xmlNode* staff : childElements(childElement(system, "staves"), "staff")) {
        // Every system has every staff, in the order of the layout.
        const std::string layout = scorecore::xmldomAttribute(staff, "layout").value_or("");
        if (staffIndex >= static_cast<int>(out.layouts.size()) || layout != out.layouts[static_cast<std::size_t>(staffIndex)]) {
            out.faults.push_back("system " + std::to_string(index) + " staff " + std::to_string(staffIndex) + " is " + layout);
        }
        scorecore::CMeter meter;
        scorecore::readTimeText(scorecore::xmldomAttribute(staff, "defaultTime").value_or("4/4"), meter);
        const auto voices = childElements(childElement(staff, "voices"), "voice");
        if (index == 0) out.voices.push_back(static_cast<int>(voices.size()));
        for (std::size_t v = 0; v < voices.size(); ++v) {
            scorecore::CMeter voiceMeter = meter;
            all.push_back(Voice{staffIndex, static_cast<int>(v), barLengths(voices[v], voiceMeter)});
        }
        ++staffIndex;
    }
    if (staffIndex != out.staffCount) out.faults.push_back("system " + std::to_string(index) + " has too few staves");
    if (all.empty()) return;
    const std::vector<int32_t>& longest =
        std::max_element(all.begin(), all.end(), [](const Voice& a, const Voice& b) { return a.bars.size() < b.bars.size(); })
            ->bars;
    out.bars += static_cast<int>(longest.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Voice& voice = all[i];
        const Voice& staffFirst = all[i - static_cast<std::size_t>(voice.voice)];
        const std::vector<int32_t>& reference = acrossStaves ? longest : staffFirst.bars;
        bool same = voice.bars.size() == staffFirst.bars.size();
        for (std::size_t b = 0; same && b < voice.bars.size(); ++b) {
            same = std::abs(voice.bars[b] - reference[b]) <= kTolerance;
        }
        if (same) continue;
        std::string text = "system " + std::to_string(index) + " staff " + std::to_string(voice.staff) + " voice " +
                           std::to_string(voice.voice) + ": bars";
        for (const int32_t b : voice.bars) text += " " + std::to_string(b);
        text += " against";
        for (const int32_t b : reference) text += " " + std::to_string(b);
        out.faults.push_back(text);
    }
}

WrittenScore readBack(const fs::path& tvrx, bool acrossStaves = true) {
    WrittenScore out;
    scorecore::CVxmlFile back;
    out.rc = back.getProps(tvrx);
    if (out.rc != kOk) return out;
    std::vector<xmlNodePtr> layouts;
    if (back.getLayoutStaffNum(&out.staffCount, &layouts) != kOk) return out;
    for (const xmlNode* layout : layouts) {
        out.names.push_back(scorecore::xmldomAttribute(childElement(layout, "instrument"), "name").value_or("?"));
        out.layouts.push_back(scorecore::xmldomAttribute(layout, "description").value_or("?"));
    }
    const auto systems = childElements(childElement(back.root, "systems"), "system");
    out.systems = static_cast<int>(systems.size());
    for (std::size_t i = 0; i < systems.size(); ++i) checkSystem(systems[i], static_cast<int>(i), acrossStaves, out);
    return out;
}

// What the part list of a mode-2 load gives.
struct SourceScore {
    int rc = -1;
    int staffCount = 0;
    std::vector<std::string> names;
    std::vector<int> voices;
};

SourceScore readSource(const fs::path& source, int32_t mode) {
    SourceScore out;
    LoggedFile f(mode);
    f.file->controls.setPlayMode(mode);
    out.rc = f.load(source);
    if (out.rc != kOk) return out;
    const CMxmlFile& file = *f.file;
    out.staffCount = scoreStaffCount(file);
    for (int32_t s = 0; s < out.staffCount; ++s) out.names.push_back(file.staffNames[static_cast<std::size_t>(s)].name);
    for (int32_t p = 0; p < scorePartCount(file); ++p) {
        for (int32_t s = 0; s < file.voiceTables.staffCount(p); ++s) out.voices.push_back(file.voiceTables.voiceCount(p, s));
    }
    return out;
}

// --- mode 5 over every file ------------------------------------------------------------

TEST(ConvertTvrxml, EveryMusicXmlFileBecomesATvrxmlScoreWithItsStavesAndVoices) {
    const CurrentFolder folder(styleSheetFolder());
    TempFolder temp;
    int converted = 0;
    for (const fs::path& source : musicXmlFiles()) {
        SCOPED_TRACE(source.filename().string());
        const SourceScore expected = readSource(source, kModeRealTime);
        // Voices of nothing but hidden notes are not drawn: mode 5 reads the part list without them.
        const SourceScore drawn = readSource(source, kModeTvrxml);
        Conversion c;
        const fs::path target = temp.path() / (source.stem().string() + ".tvrx");
        const int rc = c.run(source, target);
        if (expected.rc != kOk) {
            // Files that do not load as MusicXML fail the same way and write nothing.
            EXPECT_EQ(rc, expected.rc);
            EXPECT_FALSE(fs::exists(target));
            continue;
        }
        ASSERT_EQ(rc, kOk);
        ++converted;
        // Its parts have measures of different lengths (one has no time signature).
        const bool partsAgree = source.filename() != "voices_staves.xml";
        const WrittenScore written = readBack(target, partsAgree);
        ASSERT_EQ(written.rc, kOk);
        EXPECT_EQ(written.staffCount, expected.staffCount);
        EXPECT_EQ(written.names, expected.names);
        ASSERT_FALSE(written.layouts.empty());
        EXPECT_EQ(written.layouts.front(), "Stv1");
        EXPECT_EQ(written.voices, drawn.voices);
        ASSERT_EQ(written.voices.size(), expected.voices.size());
        for (std::size_t s = 0; s < written.voices.size(); ++s) EXPECT_LE(written.voices[s], expected.voices[s]);
        EXPECT_GE(written.systems, 1);
        EXPECT_TRUE(written.faults.empty()) << written.faults.front();
        EXPECT_EQ(c.file().playModeNow(), kModeTvrxml);
        EXPECT_TRUE(c.f.logged("\tmxmlConvertProc|vxml->writeFile|errorcode okay"));
        EXPECT_TRUE(c.f.logged("\tmxmlConvertProc|errorcode success"));
    }
    EXPECT_GE(converted, 40);
}

// --- progress, stop and failures -------------------------------------------------------

// A score of `parts` parts with `measures` whole notes each.
std::string wholeNoteScore(int parts, int measures) {
    std::string xml = "<?xml version=\"1.0\"?><score-partwise version=\"4.0\"><part-list>";
    for (int p = 1; p <= parts; ++p) {
        xml += "<score-part id=\"P" + std::to_string(p) + "\"><part-name>Part " + std::to_string(p) +
               "</part-name></score-part>";
    }
    xml += "</part-list>";
    for (int p = 1; p <= parts; ++p) {
        xml += "<part id=\"P" + std::to_string(p) + "\">";
        for (int m = 1; m <= measures; ++m) {
            xml += "<measure number=\"" + std::to_string(m) + "\">";
            if (m == 1) xml += "<attributes><divisions>1</divisions><time><beats>4</beats><beat-type>4</beat-type></time></attributes>";
            xml += "<note><pitch><step>C</step><octave>4</octave></pitch><duration>4</duration><type>whole</type></note></measure>";
        }
        xml += "</part>";
    }
    return xml + "</score-partwise>";
}

struct ProgressCase {
    const char* name;
    int32_t mode;
    bool posted;
};

TEST(ConvertProgress, TwoPartsOfTenMeasuresReportTwentyUnitsOnceThenEachOne) {
    TempFolder temp;
    const fs::path source = temp.path() / "two_parts.xml";
    writeBytes(source, wholeNoteScore(2, 10));
    for (const ProgressCase& pc : {ProgressCase{"tvrxml posted", kModeTvrxml, true},
                                   ProgressCase{"tvrxml sent", kModeTvrxml, false},
                                   ProgressCase{"play model sent", kModeRealTime, false}}) {
        SCOPED_TRACE(pc.name);
        Conversion c(pc.mode);
        c.file().progressPosted = pc.posted ? 1 : 0;
        ASSERT_EQ(c.run(source, temp.path() / "two_parts.tvrx"), kOk);
        std::vector<platform::LParam> totals;
        std::vector<platform::LParam> done;
        for (const platform::RecordedMessage& m : c.progress.messages()) {
            ASSERT_EQ(m.msg, platform::WM_MXML_PROGRESS);
            EXPECT_EQ(m.delivery, pc.posted ? platform::Delivery::Posted : platform::Delivery::Sent);
            if (m.wParam == kProgressTotal) totals.push_back(m.lParam);
            if (m.wParam == kProgressDone) done.push_back(m.lParam);
        }
        EXPECT_EQ(totals, std::vector<platform::LParam>{20});
        std::vector<platform::LParam> expected(20);
        for (int i = 0; i < 20; ++i) expected[static_cast<std::size_t>(i)] = i + 1;
        EXPECT_EQ(done, expected);
    }
}

TEST(ConvertStop, AStopRequestAtMeasureFiveEndsTheRunWithNoFileAndTheModeRestored) {
    TempFolder temp;
    const fs::path source = temp.path() / "two_parts.xml";
    writeBytes(source, wholeNoteScore(2, 10));
    for (const int32_t mode : {kModeTvrxml, kModeRealTime, kModeLoadAndPlay}) {
        SCOPED_TRACE(mode);
        Conversion c(mode);
        c.file().progressPosted = 0;
        c.progress.setSendHandler([&c](platform::MessageId, platform::WParam w, platform::LParam l) {
            if (w == kProgressDone && l == 5) c.f.signal = 1;
            return platform::LResult{0};
        });
        const fs::path target = temp.path() / "stopped.tvrx";
        EXPECT_EQ(c.run(source, target), scorecore::kErrStopped);
        EXPECT_FALSE(fs::exists(target));
        EXPECT_EQ(c.file().playModeNow(), mode);
        EXPECT_FALSE(c.file().isLoaded());
        EXPECT_EQ(c.file().staffCount(), 0);
        EXPECT_TRUE(c.f.logged("\tmxmlConvertProc|errorcode fail"));
        // The last report is the measure that asked to stop.
        EXPECT_EQ(c.progress.messages().back().lParam, 5);
    }
}

// An orchestral score stopped in its last parts, while the blocks of its
// document are being deflated, and one whose file cannot replace its target:
// no file, no temporary file, and once the document is emptied no thread of
// the conversion is left.
TEST(ConvertStopThreads, AConversionStoppedOrFailingLateLeavesNoFileAndNoThread) {
    TempFolder temp;
    const fs::path source = temp.path() / "orchestral.xml";
    writeOrchestralScore(source, {12, 1});
    const fs::path blocked = temp.path() / "blocked.tvrx";
    fs::create_directories(blocked);
    const std::size_t before = platform::testing::threadCountAtRest();
    const struct {
        const char* name;
        platform::LParam stopAt;  // the measure done that asks to stop; 0: none
        fs::path target;
        int result;
    } cases[] = {
        {"stopped in part 34 of 36", 33 * 12 + 6, temp.path() / "stopped.tvrx", scorecore::kErrStopped},
        {"a folder in the way", 0, blocked, scorecore::kErrVxmlFileNotWritten},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Conversion run(kModeTvrxml);
        run.file().progressPosted = 0;
        run.progress.setSendHandler([&run, &c](platform::MessageId, platform::WParam w, platform::LParam l) {
            if (c.stopAt > 0 && w == kProgressDone && l == c.stopAt) run.f.signal = 1;
            return platform::LResult{0};
        });
        EXPECT_EQ(run.run(source, c.target), c.result);
        EXPECT_FALSE(fs::is_regular_file(c.target));
        run.vxml.destroy();
        EXPECT_EQ(platform::testing::threadCount(), before);
        std::vector<fs::path> left;
        for (const fs::directory_entry& entry : fs::directory_iterator(temp.path())) left.push_back(entry.path().filename());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<fs::path>{"blocked.tvrx", "orchestral.xml"}));
    }
}

TEST(ConvertStop, AStopWordSetBeforeTheRunLoadsNothing) {
    Conversion c(kModeRealTime);
    c.f.signal = 1;
    EXPECT_EQ(c.run(fixture("walk_parts.xml")), scorecore::kErrStopped);
    EXPECT_EQ(c.file().playModeNow(), kModeRealTime);
    EXPECT_FALSE(c.file().isLoaded());
}

TEST(ConvertFailures, ATargetThatCannotBeWrittenLeavesNothing) {
    TempFolder temp;
    const fs::path missing = temp.path() / "no such folder" / "score.tvrx";
    Conversion c;
    EXPECT_EQ(c.run(fixture("walk_parts.xml"), missing), scorecore::kErrVxmlFileNotWritten);
    EXPECT_FALSE(fs::exists(missing.parent_path()));
    EXPECT_TRUE(c.f.logged("\tmxmlConvertProc|vxml->writeFile|errorcode fail"));
    EXPECT_FALSE(c.file().isLoaded());

    // An older file at the target stays as it was when the new one fails.
    const fs::path existing = temp.path() / "old.tvrx";
    writeBytes(existing, "old");
    fs::permissions(temp.path(), fs::perms::owner_read | fs::perms::owner_exec);
    Conversion again;
    const int rc = again.run(fixture("walk_parts.xml"), existing);
    fs::permissions(temp.path(), fs::perms::owner_all);
    if (::geteuid() != 0) {
        EXPECT_EQ(rc, scorecore::kErrVxmlFileNotWritten);
        std::ifstream in(existing);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text, "old");
    }
}

TEST(ConvertFailures, LoadFailuresAreLoggedAndLeaveTheFileEmpty) {
    struct Case {
        const char* file;
        int rc;
        const char* line;
    };
    for (const Case& k : {Case{"malformed.xml", scorecore::kErrCannotOpen, "\tmxmlConvertProc|mxml->getProps|errorcode other"},
                          Case{"not_musicxml.xml", scorecore::kErrUnknownFormat, "\tmxmlConvertProc|mxml->getProps|errorcode other"},
                          Case{"no_such_file.xml", scorecore::kErrCannotOpen, "\tmxmlConvertProc|errorcode fail"}}) {
        SCOPED_TRACE(k.file);
        for (const int32_t mode : {kModeTvrxml, kModeRealTime}) {
            Conversion c(mode);
            TempFolder temp;
            EXPECT_EQ(c.run(fixture(k.file), temp.path() / "x.tvrx"), k.rc);
            EXPECT_TRUE(c.f.logged(k.line));
            EXPECT_FALSE(c.file().isLoaded());
            EXPECT_FALSE(fs::exists(temp.path() / "x.tvrx"));
        }
    }
}

TEST(ConvertFailures, ModeFiveWithoutADocumentObjectWritesNothing) {
    TempFolder temp;
    LoggedFile f(kModeTvrxml);
    int result = 0;
    CConvertParams params;
    params.file = f.file.get();
    params.sourcePath = fixture("walk_parts.xml").string();
    params.targetPath = (temp.path() / "x.tvrx").string();
    params.result = &result;
    mxmlConvertProc(&params);
    EXPECT_EQ(result, scorecore::kErrNotPresent);
    EXPECT_FALSE(fs::exists(temp.path() / "x.tvrx"));
    // A block without a file only reports.
    params.file = nullptr;
    mxmlConvertProc(&params);
    EXPECT_EQ(result, scorecore::kErrNotPresent);
    mxmlConvertProc(nullptr);
}

// --- the play-model modes --------------------------------------------------------------

// A load with a play-time slot goes on to the play procedure: an ordinary
// load measures the playing time (the mode reads 1 meanwhile), mode 7 plays
// the score through the file's MIDI output. Without a slot nothing plays.
TEST(ConvertPlay, ASlotHandsTheLoadedModelToThePlayProcedure) {
    struct Case {
        int32_t mode;
        bool slot;
        bool pass;    // the play procedure ran
        bool sounds;  // in real time, through the output
    };
    for (const Case& k : {Case{kModeRealTime, false, false, false}, Case{kModeRealTime, true, true, false},
                          Case{kModeRender, true, true, false}, Case{kModeLoadAndPlay, false, false, false},
                          Case{kModeLoadAndPlay, true, true, true}}) {
        SCOPED_TRACE(std::to_string(k.mode) + (k.slot ? " with slot" : " without slot"));
        Conversion c(k.mode);
        platform::CaptureMidiOut device;
        c.file().midiOut = &device;
        // A real-time play ends after its first step.
        c.file().PreviewDo = 1;
        c.file().PreviewSec = 0;
        int64_t time = 0;
        ASSERT_EQ(c.run(fixture("walk_parts.xml"), {}, k.slot ? &time : nullptr), kOk);
        EXPECT_EQ(c.file().playModeNow(), k.mode);
        EXPECT_TRUE(c.file().isLoaded());
        EXPECT_EQ(c.file().fnScanned, fixture("walk_parts.xml").string());
        EXPECT_EQ(c.f.logged("\tmxmlConvertProc|vor mxmlPlayProc"), k.pass);
        EXPECT_EQ(c.f.logged("\tmxmlConvertProc|nach mxmlPlayProc"), k.pass);
        EXPECT_EQ(c.f.logged("\tmxmlPlayProc|End"), k.pass);
        bool announced = false;
        for (const auto& m : c.progress.messages()) announced = announced || m.wParam == kProgressLoadAndPlay;
        EXPECT_EQ(announced, k.pass);
        EXPECT_EQ(expectEveryNoteEnded(captureNotes(device)) > 0, k.sounds);
        if (k.pass && !k.sounds) {
            // The slot holds the time a play-time pass of the loaded score measures.
            EXPECT_GT(time, 0);
            int64_t again = 0;
            EXPECT_EQ(measurePlayTime(c.file(), &again), kOk);
            EXPECT_EQ(again, time);
        } else {
            EXPECT_EQ(time, 0);
        }
        // Mode 7 leaves the per-voice defaults to the play procedure.
        if (!k.slot) {
            EXPECT_EQ(c.file().cursor.voiceCounts.empty(), k.mode == kModeLoadAndPlay);
        }
    }
}

TEST(ConvertPlay, AStopDuringThePlayTimePassFailsTheLoad) {
    Conversion c(kModeRealTime);
    c.file().progressPosted = 0;
    c.progress.setSendHandler([&c](platform::MessageId, platform::WParam w, platform::LParam) {
        if (w == kProgressLoadAndPlay) c.f.signal = 1;
        return platform::LResult{0};
    });
    int64_t time = 0;
    EXPECT_EQ(c.run(fixture("walk_parts.xml"), {}, &time), scorecore::kErrStopped);
    EXPECT_EQ(time, 0);
    EXPECT_FALSE(c.file().isLoaded());
    EXPECT_EQ(c.file().playModeNow(), kModeRealTime);
    EXPECT_TRUE(c.f.logged("\tmxmlPlayProc|End"));
    EXPECT_TRUE(c.f.logged("\tmxmlConvertProc|errorcode fail"));
}

TEST(ConvertPlayModel, UpbeatsLieBeforeZeroAndTiedNotesAreOneEvent) {
    Conversion upbeat(kModeRealTime);
    ASSERT_EQ(upbeat.run(fixture("walk_upbeat.xml")), kOk);
    const auto notes = upbeat.file().events.events(0, 0);
    ASSERT_GE(notes.size(), 2u);
    EXPECT_EQ(notes[0].start, -480);
    EXPECT_EQ(notes[1].start, 0);

    Conversion ties(kModeRealTime);
    ASSERT_EQ(ties.run(fixture("walk_ties.xml")), kOk);
    const CScoreEvent* first = ties.file().events.event(0, 0, 0);
    ASSERT_NE(first, nullptr);
    for (const CScoreEvent& e : ties.file().events.events(0, 0)) {
        // No later note of the voice starts inside the tied one.
        if (&e != first && e.isKind(scorecore::kKindNote)) {
            EXPECT_GE(e.start, first->start + first->duration);
        }
    }
    EXPECT_GT(first->duration, 1920);
}

// --- the scan on a worker --------------------------------------------------------------

TEST(ScanFile, LoadsOnAWorkerWhileTheCallerPumpsAndKnowsTheFileAfterwards) {
    std::vector<platform::WParam> seen;
    platform::QueuedMessageTarget target([&seen](platform::MessageId, platform::WParam w, platform::LParam) {
        seen.push_back(w);
        return platform::LResult{0};
    });
    platform::MessageTarget* window = &target;
    LoggedFile f(kModeRealTime);
    f.file->controls.setPlayMode(kModeRealTime);
    // Sent reports wait for this thread: the scan must pump while it waits.
    f.file->setCallbackWindow(&window, false);
    const std::string source = fixture("walk_parts.xml").string();
    EXPECT_EQ(mxmlScanFile(f.file.get(), source, nullptr), kOk);
    EXPECT_TRUE(f.file->isLoaded());
    EXPECT_EQ(f.file->playModeNow(), kModeRealTime);
    EXPECT_FALSE(f.file->worker.running());
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), kProgressTotal);

    // The same file again: nothing to do.
    seen.clear();
    EXPECT_EQ(mxmlScanFile(f.file.get(), source, nullptr), kOk);
    EXPECT_TRUE(seen.empty());
    int64_t known = 1000;
    EXPECT_EQ(mxmlScanFile(f.file.get(), source, &known), kOk);
    EXPECT_TRUE(seen.empty());

    // Another file replaces it.
    EXPECT_EQ(mxmlScanFile(f.file.get(), fixture("walk_ties.xml").string(), nullptr), kOk);
    EXPECT_EQ(f.file->fnScanned, fixture("walk_ties.xml").string());
    EXPECT_FALSE(seen.empty());
}

TEST(ScanFile, RefusalsAndFailures) {
    const std::string source = fixture("walk_parts.xml").string();
    EXPECT_EQ(mxmlScanFile(nullptr, source, nullptr), kOk);
    {
        LoggedFile f(kModeRealTime);
        f.file->controls.setPlayMode(kModePlayTime);  // a load runs
        EXPECT_EQ(mxmlScanFile(f.file.get(), source, nullptr), scorecore::kErrNotPresent);
    }
    {
        LoggedFile f(kModeRealTime);
        f.file->controls.setPlayMode(kModeRealTime);
        f.signal = 1;
        EXPECT_EQ(mxmlScanFile(f.file.get(), source, nullptr), scorecore::kErrStopped);
        EXPECT_FALSE(f.file->isLoaded());
    }
    {
        LoggedFile f(kModeRealTime);
        f.file->controls.setPlayMode(kModeRealTime);
        EXPECT_EQ(mxmlScanFile(f.file.get(), fixture("malformed.xml").string(), nullptr), scorecore::kErrCannotOpen);
        EXPECT_FALSE(f.file->isLoaded());
    }
    {
        // A worker that cannot be started is a failure, and nothing is loaded.
        LoggedFile f(kModeRealTime);
        f.file->controls.setPlayMode(kModeRealTime);
        platform::WorkerThread failing([](std::function<void()>) -> std::thread {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        });
        EXPECT_EQ(mxmlScanFileOn(failing, f.file.get(), source, nullptr), scorecore::kErrOutOfMemory);
        EXPECT_FALSE(f.file->isLoaded());
    }
}

}  // namespace
}  // namespace scoreconv::testing
