// The TvrXML writer: the whole document against a reviewed one, the layout,
// systems, staves and voices, signs and barlines, durations and rests.
#include "scorecore/vxml_writer.h"

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"
#include "scorecore/tvrx_container.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_file.h"
#include "test_support.h"
#include "vxml_writer_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

using namespace scorecore;
using namespace scorecore::testing;
namespace fs = std::filesystem;

namespace {

using platform::testing::readBytes;
using platform::testing::writeBytes;

const fs::path kData = QVP3_TEST_DATA_DIR;
const fs::path kGolden = kData / "writer_golden_score.xml";

// --- a voice's script ----------------------------------------------------------------------

struct Step {
    enum Kind { Chord, Rest, Barline, Clef } kind;
    CScoreEvent event;
    int code = 0;
    CScoreClef clef{};
};

Step chordStep(CScoreEvent event) { return {Step::Chord, std::move(event)}; }
Step restStep(CScoreEvent event) { return {Step::Rest, std::move(event)}; }
Step barStep(int code) { return {Step::Barline, CScoreEvent(), code}; }
Step clefStep(CScoreClef clef) { return {Step::Clef, CScoreEvent(), 0, clef}; }

void writeVoice(CVxmlFile& file, int staff, int voice, const std::vector<Step>& steps) {
    file.setCurrentStaff(staff);
    file.setCurrentVoice(voice);
    for (const Step& step : steps) {
        switch (step.kind) {
        case Step::Chord: ASSERT_EQ(file.appendChord(step.event), kOk); break;
        case Step::Rest: ASSERT_EQ(file.appendRest(step.event), kOk); break;
        case Step::Barline: ASSERT_EQ(file.appendBarline(step.code), kOk); break;
        case Step::Clef: ASSERT_EQ(file.appendClefSign(step.clef, false), kOk); break;
        }
    }
}

// A staff of the current system with its voices and the signs that open the system.
void startStaff(CVxmlFile& file, int staff, const CMeter& meter, int voices, const CScoreClef& clef,
                int fifths) {
    file.setCurrentStaff(staff);
    ASSERT_EQ(file.appendStaff(meter, voices), kOk);
    for (int voice = 0; voice < voices; ++voice) {
        file.setCurrentVoice(voice);
        ASSERT_EQ(file.appendClefSign(clef, true), kOk);
        ASSERT_EQ(file.appendKeySign(fifths, true), kOk);
        ASSERT_EQ(file.appendTimeSign(&meter), kOk);
    }
}

VxmlStaffSetup staffSetup(const char* name, const char* abbreviation, CScoreClef clef, int topFlag,
                          double distance) {
    VxmlStaffSetup staff;
    staff.topFlag = topFlag;
    staff.name = name;
    staff.abbreviation = abbreviation;
    staff.clef = clef;
    staff.distance = distance;
    CMidiInstr piano;
    piano.SrcProgPercId = 0;
    piano.SrcChannel = 0;
    staff.instruments = {piano};
    return staff;
}


// --- the golden score --------------------------------------------------------------------

// The golden score: two staves joined by a brace (treble with two voices, bass with
// one) in two systems.
void writeGoldenFrame(CVxmlFile& file) {
    ASSERT_EQ(xmldomCreateFile({}, file.document, file.root, kXmlDocNewTvrxml), kOk);
    ASSERT_EQ(file.appendInfo(kVxmlEngineText), kOk);
    CScorePartGroupList groups;
    ASSERT_TRUE(groups.add("Piano", "Pno.", 2, 0, 1));
    groups.setLastPart(1);
    VxmlLayoutArgs layout;
    layout.staves = {staffSetup("Right hand", "R.H.", kTreble, 1, 4.0),
                     staffSetup("Left hand", "L.H.", kBass, 0, 6.5)};
    layout.groups = &groups;
    ASSERT_EQ(file.appendLayout(layout), kOk);
    ASSERT_EQ(file.appendBarCount(), kOk);
    ASSERT_EQ(file.createMainSystemNode(), kOk);
}

// Bars 1 and 2 in 4/4, one sharp.
void writeGoldenFirstSystem(CVxmlFile& file) {
    const CMeter common = meterOf(4, 2);
    file.nextSystem();
    ASSERT_EQ(file.appendSystem(96, 1, 0, 1), kOk);
    startStaff(file, 0, common, 2, kTreble, 1);
    startStaff(file, 1, common, 1, kBass, 1);

    CScoreEvent grace = note("eighth", 0, {{"D5"}});
    grace.setKind(kKindGrace);
    grace.setStem(1 | 4);  // up, slashed
    CScoreEvent first = note("quarter", 480, {{"C5"}, {"E5"}});
    first.setStem(1);
    first.dynamic.code = 44;  // p
    first.articulation = {1, 1};
    CScoreLyric syllable;
    syllable.number = 2;  // begins a word
    syllable.text = "La";
    ASSERT_TRUE(first.appendLyric(syllable));
    ASSERT_TRUE(first.appendItem(CScoreEventItem{1, 1, 2, -1, kItemSlurStart}));
    CScoreEvent triplet1 = withTuplet(note("eighth", 160, {{"D5"}}), 3, 2);
    triplet1.setBeam(1);
    triplet1.bracketNoteRange = 3;
    triplet1.bracketHasOrientation = 1;
    triplet1.bracketOrientation = 1;
    CScoreEvent triplet2 = withTuplet(note("eighth", 160, {{"F5", "+1", 1}}), 3, 2);
    triplet2.setBeam(2);
    CScoreEvent triplet3 = withTuplet(note("eighth", 160, {{"E5"}}), 3, 2);
    triplet3.setBeam(4);
    CScoreEvent tied = note("half", 960, {{"A5"}});
    tied.setTie(kTieStart);
    ASSERT_TRUE(tied.appendOrnament(ornament(1, 1)));  // trill
    ASSERT_TRUE(tied.appendWedge(crescendo(2, 2, 90)));
    CScoreEvent tieEnd = note("quarter", 480, {{"A5"}});
    tieEnd.setTie(kTieEnd);
    tieEnd.dynamic.code = 90;  // f
    CScoreEvent held = note("half", 960, {{"B4"}, {"D5"}, {"G5"}});
    held.setStem(2);
    ASSERT_TRUE(held.appendOrnament(ornament(10, 1)));  // fermata
    writeVoice(file, 0, 0,
               {chordStep(grace), chordStep(first), chordStep(triplet1), chordStep(triplet2),
                chordStep(triplet3), chordStep(tied), barStep(3), barStep(4), chordStep(tieEnd),
                restStep(rest("quarter", 480)), chordStep(held), barStep(1)});
    CScoreEvent low = note("half", 960, {{"E4"}});
    low.setStem(2);
    writeVoice(file, 0, 1,
               {restStep(rest("1", 1920)), barStep(3), barStep(4), chordStep(low),
                restStep(rest("getit", 960)), barStep(1)});
    CScoreEvent bassWhole = note("whole", 1920, {{"G2"}});
    CScoreText dolce;
    dolce.text = "dolce";
    dolce.italic = 1;
    dolce.placement = 2;
    ASSERT_TRUE(bassWhole.appendText(dolce));
    writeVoice(file, 1, 0,
               {chordStep(bassWhole), barStep(3), barStep(4), chordStep(note("half", 960, {{"D3"}})),
                restStep(rest("half", 960)), barStep(1)});
}

// Bars 3 and 4 in 3/4, two flats; the bass staff changes to the alto clef.
void writeGoldenSecondSystem(CVxmlFile& file) {
    const CMeter threeFour = meterOf(3, 2);
    file.nextSystem();
    ASSERT_EQ(file.appendSystem(96, 3, 2, 3), kOk);
    startStaff(file, 0, threeFour, 2, kTreble, -2);
    startStaff(file, 1, threeFour, 1, kBass, -2);

    CScoreEvent dottedHalf = withEnding(note("half", 1440, {{"A4"}}), "2.", 0, true, true);
    dottedHalf.dots = 1;
    writeVoice(file, 0, 0,
               {chordStep(withEnding(note("quarter", 480, {{"D5"}}), "1.", 2, true, false)),
                chordStep(note("quarter", 480, {{"C5"}})),
                chordStep(note("quarter", 480, {{"B4", "-1", -1}})), barStep(3), chordStep(dottedHalf),
                barStep(2)});
    writeVoice(file, 0, 1, {restStep(rest("2", 2880)), barStep(2)});
    CScoreEvent flat = note("quarter", 480, {{"B2", "-1", -1}});
    flat.dynamic.code = -1;  // fp
    CScoreEvent dottedLow = note("half", 1440, {{"A3"}});
    dottedLow.dots = 1;
    writeVoice(file, 1, 0,
               {chordStep(flat), clefStep(kAlto), chordStep(note("quarter", 480, {{"C4"}})),
                restStep(rest("quarter", 480)), barStep(3), chordStep(dottedLow), barStep(2)});
}

void writeGoldenScore(CVxmlFile& file) {
    ASSERT_NO_FATAL_FAILURE(writeGoldenFrame(file));
    ASSERT_NO_FATAL_FAILURE(writeGoldenFirstSystem(file));
    ASSERT_NO_FATAL_FAILURE(writeGoldenSecondSystem(file));
    file.resetCursor();
    ASSERT_EQ(file.appendSystems(), kOk);
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The whole document

TEST(VxmlWriterGoldenTest, SmallScoreSerialisesToTheReviewedDocument) {
    CVxmlFile file;
    writeGoldenScore(file);
    ASSERT_FALSE(HasFatalFailure());
    const std::string xml = serialise(file);
    const std::string golden = readBytes(kGolden);
    if (xml != golden) {
        const fs::path actual = fs::path(::testing::TempDir()) / "writer_golden_score.actual.xml";
        writeBytes(actual, xml);
        FAIL() << "the document differs from " << kGolden << "; it was written to " << actual;
    }
}

TEST(VxmlWriterGoldenTest, WrittenContainerOpensAsATvrxmlScore) {
    CVxmlFile file;
    writeGoldenScore(file);
    ASSERT_FALSE(HasFatalFailure());
    platform::testing::TempFolder folder;
    const fs::path target = folder.path() / "golden.tvrx";
    ASSERT_EQ(file.writeFile(target), kOk);

    CVxmlFile reader;
    ASSERT_EQ(reader.getProps(target), 0);
    EXPECT_EQ(reader.comment, kVxmlEngineText);
    int staves = 0;
    EXPECT_EQ(reader.getLayoutStaffNum(&staves, nullptr), kOk);
    EXPECT_EQ(staves, 2);
}

TEST(VxmlWriterGoldenTest, GoldenDocumentIsWellFormedForXmllint) {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xmllint is not installed (package libxml2-utils; CI installs it)";
    }
    const std::string command = "xmllint --noout --nonet '" + kGolden.string() + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// ---------------------------------------------------------------------------------------
// Packed staves: voices written out as text early give the same file

namespace {

// When to pack which staves while the golden score is written.
struct PackPlan {
    const char* name;
    std::vector<std::pair<int, int>> afterFirstSystem;  // (first staff, count)
    std::vector<std::pair<int, int>> afterSecondSystem;
};

// The golden score with a lyric outside Latin-1 (escaped by the save's
// encoding), packed as the plan says; the document text of its container.
// deferred: the objects are written on the writer's helper thread.
std::string packedGoldenFile(const PackPlan& plan, const fs::path& target, bool deferred = false) {
    CVxmlFile file;
    const auto pack = [&file](const std::vector<std::pair<int, int>>& staves) {
        for (const auto& [first, count] : staves) EXPECT_EQ(file.packStaves(first, count), kOk);
    };
    writeGoldenFrame(file);
    if (deferred) file.deferObjectText();
    writeGoldenFirstSystem(file);
    CScoreEvent sung = note("quarter", 480, {{"C4"}});
    CScoreLyric arrow;
    arrow.number = 1;
    arrow.text = "up \u2191 \u00e9";
    EXPECT_TRUE(sung.appendLyric(arrow));
    file.setCurrentSystem(0);
    writeVoice(file, 1, 0, {chordStep(sung)});
    pack(plan.afterFirstSystem);
    writeGoldenSecondSystem(file);
    pack(plan.afterSecondSystem);
    file.resetCursor();
    EXPECT_EQ(file.appendSystems(), kOk);
    EXPECT_EQ(file.writeFile(target), kOk);
    std::string xml;
    EXPECT_EQ(readTvrxContainer(target, xml), kOk);
    return xml;
}

const PackPlan kPackPlans[] = {
    {"one staff at the end", {}, {{1, 1}}},
    {"every staff at the end", {}, {{0, 2}}},
    {"a staff per system", {{0, 1}}, {{0, 1}, {1, 1}}},
    {"twice and out of range", {{1, 1}, {1, 1}}, {{-3, 4}, {0, 100}, {5, 1}}},
};

// Every plan, with the objects written at once or on the helper thread (the
// sanitizer build for threads runs the second).
void expectPackedFilesOfTheWholeDocument(bool deferred) {
    platform::testing::TempFolder folder;
    const std::string whole = packedGoldenFile({"none", {}, {}}, folder.path() / "whole.tvrx");
    ASSERT_NE(whole.find("&#8593;"), std::string::npos);
    const std::string wholeDeflated = scorecore::testing::storedEntry(folder.path() / "whole.tvrx");
    ASSERT_FALSE(wholeDeflated.empty());
    std::vector<PackPlan> plans(std::begin(kPackPlans), std::end(kPackPlans));
    if (deferred) plans.push_back({"never", {}, {}});
    for (const PackPlan& plan : plans) {
        SCOPED_TRACE(plan.name);
        EXPECT_EQ(packedGoldenFile(plan, folder.path() / "packed.tvrx", deferred), whole);
        // Deflated a system at a time as it was written, and whole: the same bytes.
        EXPECT_EQ(scorecore::testing::storedEntry(folder.path() / "packed.tvrx"), wholeDeflated);
    }
}

}  // namespace

TEST(VxmlWriterPackTest, PackedStavesWriteTheSameDocument) { expectPackedFilesOfTheWholeDocument(false); }

TEST(VxmlWriterPackThreads, ObjectsWrittenOnTheHelperThreadWriteTheSameDocument) {
    expectPackedFilesOfTheWholeDocument(true);
}

TEST(VxmlWriterPackTest, PackedVoiceTakesNoMoreObjectsAndAnEmptyScoreStaysWritable) {
    for (const bool deferred : {false, true}) {
        SCOPED_TRACE(deferred ? "written on the helper" : "written at once");
        CVxmlFile file;
        writeGoldenFrame(file);
        if (deferred) file.deferObjectText();
        writeGoldenFirstSystem(file);
        ASSERT_EQ(file.packStaves(0, 1), kOk);
        file.setCursor(0, 0, 1);
        EXPECT_EQ(file.appendChord(note("quarter", 480, {{"C4"}})), kErrIndex);
        EXPECT_EQ(file.appendRest(rest("quarter", 480)), kErrIndex);
        EXPECT_EQ(file.appendBarline(1), kErrIndex);
        EXPECT_EQ(file.appendKeySign(2, true), kErrIndex);
        file.setCursor(0, 1, 0);
        EXPECT_EQ(file.appendBarline(1), kOk);
        // Nor does its staff take another voice.
        file.setCursor(0, 0, -1);
        EXPECT_EQ(file.appendVoice(0), kErrIndex);
        file.setCursor(0, 1, -1);
        EXPECT_EQ(file.appendVoice(0), kOk);
        file.resetCursor();
        EXPECT_EQ(file.appendSystems(), kOk);
    }

    // Without systems the packed document is the plain one.
    platform::testing::TempFolder folder;
    CVxmlFile empty;
    CVxmlFile packed;
    for (CVxmlFile* f : {&empty, &packed}) {
        writeGoldenFrame(*f);
        if (f == &packed) {
            ASSERT_EQ(f->packStaves(0, 2), kOk);
        }
        f->resetCursor();
        ASSERT_EQ(f->appendSystems(), kOk);
    }
    ASSERT_EQ(packed.writeFile(folder.path() / "packed.tvrx"), kOk);
    std::string xml;
    ASSERT_EQ(readTvrxContainer(folder.path() / "packed.tvrx", xml), kOk);
    EXPECT_EQ(xml, serialise(empty));
}

// Written twice, a packed document gives the same bytes again; once the
// document around its systems has changed it gives no file, as its systems
// went into the file's deflate stream already.
TEST(VxmlWriterPackTest, APackedDocumentWritesItsFileAgainButNotOnceChanged) {
    platform::testing::TempFolder folder;
    CVxmlFile file;
    writeGoldenFrame(file);
    writeGoldenFirstSystem(file);
    ASSERT_EQ(file.packStaves(0, 2), kOk);
    writeGoldenSecondSystem(file);
    file.resetCursor();
    ASSERT_EQ(file.appendSystems(), kOk);
    ASSERT_EQ(file.writeFile(folder.path() / "first.tvrx"), kOk);
    ASSERT_EQ(file.writeFile(folder.path() / "again.tvrx"), kOk);
    EXPECT_EQ(scorecore::testing::storedEntry(folder.path() / "again.tvrx"),
              scorecore::testing::storedEntry(folder.path() / "first.tvrx"));
    ASSERT_EQ(xmldomAppendElement(XmlElementArgs(file.document, file.root, "extra").depth(1).indent()), kOk);
    EXPECT_EQ(file.writeFile(folder.path() / "changed.tvrx"), kErrWrite);
    EXPECT_FALSE(fs::exists(folder.path() / "changed.tvrx"));
}

// ---------------------------------------------------------------------------------------
// Layout

TEST(VxmlWriterLayoutTest, StaffLineDistanceShrinksOnlyAboveTwelveStaves) {
    const struct {
        int staves;
        const char* normal;
        double scale;
    } cases[] = {
        {0, "1.80", 1.0}, {1, "1.80", 1.0}, {12, "1.80", 1.0},
        {13, "1.77", 1.8 / 1.77}, {20, "1.15", 1.8 / 1.15}, {46, "0.50", 1.8 / 0.5},
    };
    for (const auto& c : cases) {
        CVxmlFile file;
        ASSERT_EQ(xmldomCreateFile({}, file.document, file.root, kXmlDocNewTvrxml), kOk);
        VxmlLayoutArgs layout;
        layout.staves.resize(static_cast<std::size_t>(c.staves));
        ASSERT_EQ(file.appendLayout(layout), kOk);
        EXPECT_EQ(attrs(file, "/*/layout/distances/staffLines", "normal"), Texts{c.normal}) << c.staves;
        EXPECT_DOUBLE_EQ(file.layoutScale, c.scale) << c.staves;
        EXPECT_EQ(select(file, "//staffLayout").size(), static_cast<std::size_t>(c.staves));
        EXPECT_TRUE(select(file, "//brackets").empty());
    }
}

TEST(VxmlWriterLayoutTest, NotationAndDistancesFollowTheStaffSettings) {
    const struct {
        int lines;
        int barlineFlag;
        int topFlag;
        double distance;
        const char* notelines;  // "(none)": not written
        const char* mode;
        const char* from;
        const char* to;
        const char* top;
        const char* bottom;
    } cases[] = {
        {5, 0, 0, 4.0, "(none)", "(none)", "3", "7", "11", "11"},
        {5, 1, 1, 3.0, "(none)", "internal", "3", "7", "5", "10"},  // 4.5 rounds up
        {1, 1, 0, 0.0, "_______|___", "internal", "7", "7", "5", "5"},
        {1, 0, 0, 0.0, "_______|___", "(none)", "3", "7", "5", "5"},
        {3, 1, 0, 2.0, "_____|||___", "internal", "5", "7", "8", "8"},
        {8, 1, 0, 2.0, "_||||||||__", "internal", "1", "8", "8", "8"},
        {0, 1, 0, 2.0, "___|||||___", "internal", "3", "7", "8", "8"},  // unknown count: 5 lines
    };
    for (const auto& c : cases) {
        CVxmlFile file;
        ASSERT_EQ(xmldomCreateFile({}, file.document, file.root, kXmlDocNewTvrxml), kOk);
        VxmlStaffSetup staff = staffSetup("Flute", "Fl.", kTreble, c.topFlag, c.distance);
        staff.lineCount = c.lines;
        staff.barlineFlag = c.barlineFlag;
        VxmlLayoutArgs layout;
        layout.staves = {staff};
        ASSERT_EQ(file.appendLayout(layout), kOk);
        const std::string where = "lines " + std::to_string(c.lines) + " flag " + std::to_string(c.barlineFlag);
        EXPECT_EQ(attrs(file, "//staffLayout", "description"), Texts{"Stv1"});
        EXPECT_EQ(attrs(file, "//notation", "defaultClef"), Texts{"treble"});
        EXPECT_EQ(attrs(file, "//notation", "notelines"), Texts{c.notelines}) << where;
        EXPECT_EQ(attrs(file, "//notation/barlines", "mode"), Texts{c.mode}) << where;
        EXPECT_EQ(attrs(file, "//notation/barlines", "from"), Texts{c.from}) << where;
        EXPECT_EQ(attrs(file, "//notation/barlines", "to"), Texts{c.to}) << where;
        EXPECT_EQ(attrs(file, "//staffLayout/distances", "top"), Texts{c.top}) << where;
        EXPECT_EQ(attrs(file, "//staffLayout/distances", "bottom"), Texts{c.bottom}) << where;
    }
}

TEST(VxmlWriterLayoutTest, SoundAndInstrumentNamesComeFromInstrumentsAndGroups) {
    CVxmlFile file;
    ASSERT_EQ(xmldomCreateFile({}, file.document, file.root, kXmlDocNewTvrxml), kOk);
    VxmlStaffSetup horn = staffSetup("Horn", "Hn.", kTreble, 0, 4.0);
    horn.instruments[0].SrcProgPercId = 60;
    horn.instruments[0].SrcChannel = 3;
    horn.transpose = -7;
    VxmlStaffSetup drums = staffSetup("Drums", "", CScoreClef{3, 3, 1}, 0, 4.0);
    drums.lineCount = 1;
    CMidiInstr kick;  // mapped from key 36 to 35
    kick.PercNote = 35;
    kick.UserProgram = 36;
    kick.SrcChannel = 9;
    CMidiInstr snare;  // same key: no map
    snare.PercNote = 38;
    snare.UserProgram = 38;
    CMidiInstr unset;  // no source key: no map
    unset.PercNote = 42;
    drums.instruments = {kick, snare, unset};
    VxmlStaffSetup plain = staffSetup("Voice", "V.", kTreble, 0, 4.0);
    plain.instruments[0].SrcChannel = CMidiInstr::kUnset;
    CScorePartGroupList groups;
    ASSERT_TRUE(groups.add("Winds", "", 1, 0, 1));
    groups.setLastPart(1);
    groups.stopGroup(1);
    VxmlLayoutArgs layout;
    layout.staves = {horn, drums, plain};
    layout.groups = &groups;
    ASSERT_EQ(file.appendLayout(layout), kOk);

    EXPECT_EQ(attrs(file, "//instrument", "name"), (Texts{"Horn", "Drums", "Voice"}));
    EXPECT_EQ(attrs(file, "//instrument", "abbrev"), (Texts{"Hn.", "", "V."}));
    EXPECT_EQ(attrs(file, "//instrument", "pairName"), (Texts{"Winds", "Winds", "(none)"}));
    EXPECT_EQ(attrs(file, "//instrument", "pairAbbrev"), (Texts{"(none)", "(none)", "(none)"}));
    EXPECT_EQ(attrs(file, "//sound", "percussion"), (Texts{"(none)", "true", "(none)"}));
    EXPECT_EQ(attrs(file, "//sound", "instr"), (Texts{"60", "0", "0"}));
    EXPECT_EQ(attrs(file, "//sound", "volume"), (Texts{"74", "74", "74"}));
    EXPECT_EQ(attrs(file, "//sound", "transpose"), (Texts{"-7", "(none)", "(none)"}));
    EXPECT_EQ(attrs(file, "//sound", "preferredChannel"), (Texts{"3", "9", "(none)"}));
    EXPECT_EQ(attrs(file, "//brackets/bracket", "from"), Texts{"0"});
    EXPECT_EQ(attrs(file, "//brackets/bracket", "to"), Texts{"1"});
    EXPECT_EQ(attrs(file, "//brackets/bracket", "curly"), Texts{"(none)"});
    // The maps stand on one line inside their element.
    EXPECT_NE(serialise(file).find("\n\t\t\t\t\t<outputAssignment><map from=\"36\" to=\"35\"/>"
                                   "</outputAssignment>\n\t\t\t\t</sound>"),
              std::string::npos);
}

// ---------------------------------------------------------------------------------------
// Systems, staves and voices

TEST_F(VxmlWriterTest, VoicesOfAStaffAlternateStemDirections) {
    const struct {
        int voices;
        Texts stemDirs;
        Texts firstLines;
    } cases[] = {
        {1, {"(none)"}, {"6"}},
        {2, {"up", "down"}, {"-6", "6"}},
        {4, {"up", "down", "up", "down"}, {"-6", "6", "-6", "6"}},
    };
    for (const auto& c : cases) addSystem(c.voices);
    finish();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string voices = "//system[" + std::to_string(i + 1) + "]//voice";
        EXPECT_EQ(attrs(file, voices, "stemDir"), cases[i].stemDirs);
        EXPECT_EQ(attrs(file, voices + "/lyricsSettings", "firstLine"), cases[i].firstLines);
    }
    EXPECT_EQ(attrs(file, "//system", "instrNotation"), (Texts{"long", "short", "short"}));
    EXPECT_EQ(attrs(file, "//staff", "layout"), (Texts{"Stv1", "Stv1", "Stv1"}));
}

TEST_F(VxmlWriterTest, BarCountOfASystemStartsFromItsBarNumber) {
    for (const int barNumber : {1, 5, 0, -3}) {
        file.nextSystem();
        ASSERT_EQ(file.appendSystem(72, barNumber, 0, 0), kOk);
    }
    finish();
    EXPECT_EQ(attrs(file, "//system/barCount", "nAdd"), (Texts{"0", "4", "0", "0"}));
    EXPECT_EQ(attrs(file, "//system/barCount", "reset"), (Texts{"true", "false", "false", "false"}));
    EXPECT_EQ(attrs(file, "//system", "tempo"), (Texts{"72", "72", "72", "72"}));
}

TEST(VxmlWriterCursorTest, OperationsWithoutTheirSystemStaffOrVoiceWriteNothing) {
    CVxmlFile file;
    // No document at all.
    EXPECT_EQ(file.appendInfo("x"), kErrVxmlInfo);
    EXPECT_EQ(file.appendLayout(VxmlLayoutArgs{}), kErrVxmlLayout);
    EXPECT_EQ(file.createMainSystemNode(), kErrVxmlSystemsNode);
    EXPECT_EQ(file.appendSystems(), kErrXmlElement);
    file.nextSystem();
    EXPECT_EQ(file.appendSystem(120, 1, 0, 0), kErrXmlElement);

    ASSERT_EQ(xmldomCreateFile({}, file.document, file.root, kXmlDocNewTvrxml), kOk);
    ASSERT_EQ(file.createMainSystemNode(), kOk);
    const CScoreEvent quarter = note("quarter", 480, {{"C4"}});
    const CMeter meter = meterOf(4, 2);
    const auto everyVoiceOperation = [&](const char* where) {
        EXPECT_EQ(file.appendClefSign(kTreble, true), kErrIndex) << where;
        EXPECT_EQ(file.appendKeySign(3, true), kErrIndex) << where;
        EXPECT_EQ(file.appendTimeSign(&meter), kErrIndex) << where;
        EXPECT_EQ(file.appendBarline(0), kErrIndex) << where;
        EXPECT_EQ(file.appendChord(quarter), kErrIndex) << where;
        EXPECT_EQ(file.appendRest(rest("quarter", 480)), kErrIndex) << where;
    };
    file.resetCursor();
    EXPECT_EQ(file.appendStaff(meter, 1), kErrIndex);
    EXPECT_EQ(file.appendVoice(0), kErrIndex);
    everyVoiceOperation("no system");
    file.setCurrentSystem(1);  // skips system 0
    EXPECT_EQ(file.appendSystem(120, 1, 0, 0), kErrIndex);
    file.setCurrentSystem(0);
    ASSERT_EQ(file.appendSystem(120, 1, 0, 0), kOk);
    file.setCurrentStaff(1);  // skips staff 0
    EXPECT_EQ(file.appendStaff(meter, 1), kErrIndex);
    everyVoiceOperation("no staff");
    file.setCurrentStaff(0);
    ASSERT_EQ(file.appendStaff(meter, 2), kOk);
    for (const int voice : {-1, 2, 1000}) {
        file.setCurrentVoice(voice);
        everyVoiceOperation("voice out of range");
    }
    file.setCursor(-1, 0, 0);
    everyVoiceOperation("system -1");
    file.resetCursor();
    ASSERT_EQ(file.appendSystems(), kOk);
    EXPECT_EQ(select(file, "//noteObjects/*").size(), 0u);
    EXPECT_EQ(select(file, "//voice").size(), 2u);
}

// ---------------------------------------------------------------------------------------
// Signs and barlines

TEST_F(VxmlWriterTest, KeySignIsWrittenOnChangesAndWhenForced) {
    addSystem(2);
    const struct {
        int voice;
        int key;
        bool force;
    } steps[] = {
        {0, 0, true},                // C major at the first system's start: nothing
        {0, 2, false}, {1, 2, false},  // both voices get the change; the staff takes it at the last
        {0, 2, false}, {0, 2, true},   // equal: only when forced
        {0, CKeySig::kUnset, false}, {0, 9, false}, {1, -12, false}, {0, -7, false},
    };
    for (const auto& s : steps) {
        file.setCurrentVoice(s.voice);
        ASSERT_EQ(file.appendKeySign(s.key, s.force), kOk);
    }
    // The next system opens with C major, cancelling the flats, and then takes the key
    // before it when none is given.
    addSystem(1);
    ASSERT_EQ(file.appendKeySign(0, true), kOk);
    addSystem(1);
    ASSERT_EQ(file.appendKeySign(CKeySig::kUnset, true), kOk);
    ASSERT_EQ(file.appendKeySign(4, false), kOk);
    addSystem(1);
    ASSERT_EQ(file.appendKeySign(CKeySig::kUnset, true), kOk);
    finish();
    EXPECT_EQ(attrs(file, "//system[1]//voice[1]//keySign", "fifths"), (Texts{"2", "2", "7"}));
    EXPECT_EQ(attrs(file, "//system[1]//voice[2]//keySign", "fifths"), (Texts{"2", "-7"}));
    EXPECT_EQ(attrs(file, "//system[2]//keySign", "fifths"), Texts{"0"});
    EXPECT_EQ(attrs(file, "//system[3]//keySign", "fifths"), Texts{"4"});
    EXPECT_EQ(attrs(file, "//system[4]//keySign", "fifths"), Texts{"4"});
}

TEST_F(VxmlWriterTest, ClefSignIsWrittenOnChangesAndWhenForced) {
    addSystem();
    const CScoreClef none{0, 0, 1};  // no line: not given
    ASSERT_EQ(file.appendClefSign(none, true), kOk);     // nothing known yet
    ASSERT_EQ(file.appendClefSign(kTreble, true), kOk);  // written
    ASSERT_EQ(file.appendClefSign(kTreble, false), kOk);  // same: nothing
    ASSERT_EQ(file.appendClefSign(none, false), kOk);    // nothing
    ASSERT_EQ(file.appendClefSign(CScoreClef{0, 2, 2}, false), kOk);  // an octave lower
    ASSERT_EQ(file.appendClefSign(CScoreClef{3, 0, 1}, false), kOk);  // percussion needs no line
    ASSERT_EQ(file.appendClefSign(CScoreClef{4, 2, 1}, false), kOk);  // no text: nothing
    addSystem();
    ASSERT_EQ(file.appendClefSign(none, true), kOk);  // from the system before
    ASSERT_EQ(file.appendClefSign(kAlto, false), kOk);
    finish();
    EXPECT_EQ(attrs(file, "//system[1]//clefSign", "clef"), (Texts{"treble", "G2-", "P3"}));
    EXPECT_EQ(attrs(file, "//system[2]//clefSign", "clef"), (Texts{"P3", "alto"}));
}

TEST_F(VxmlWriterTest, TimeSignUsesTheTimeTexts) {
    addSystem(1, meterOf(6, 3));
    const CMeter meters[] = {meterOf(4, 2), meterOf(2, 1), meterOf(6, 3), meterOf(0, 2)};
    for (const CMeter& meter : meters) ASSERT_EQ(file.appendTimeSign(&meter), kOk);
    ASSERT_EQ(file.appendTimeSign(nullptr), kOk);
    finish();
    EXPECT_EQ(attrs(file, "//timeSign", "time"), (Texts{"C", "allaBreve", "6/8"}));
    EXPECT_EQ(attrs(file, "//staff", "defaultTime"), Texts{"6/8"});
}

TEST_F(VxmlWriterTest, BarlineCodesAndARepeatEndFollowedByABegin) {
    addSystem();
    for (const int code : {0, 1, 2, 3, 7, 5, -1, 6, 99, 4, 3, 4, 0, 4}) {
        ASSERT_EQ(file.appendBarline(code), kOk) << code;
    }
    finish();
    EXPECT_EQ(attrs(file, "//barline", "type"),
              (Texts{"single", "double", "end", "repEnd", "repEnd", "repEndBegin", "repBegin",
                     "repEndBegin", "single", "repBegin"}));
    // The merged barline keeps one line of its own.
    const std::string xml = serialise(file);
    const std::string line = "\n\t\t\t\t\t\t\t\t";
    EXPECT_NE(xml.find("<barline type=\"repBegin\"/>" + line + "<barline type=\"repEndBegin\"/>" + line +
                       "<barline type=\"single\"/>"),
              std::string::npos);
}

// ---------------------------------------------------------------------------------------
// Durations and rests

TEST(VxmlWriterTupletTest, NormalCountFollowsTheTupletAttributes) {
    const struct {
        int count;
        bool tripartite;
        bool prolong;
        int normal;
    } cases[] = {
        {3, false, false, 2}, {5, false, false, 4}, {6, false, false, 4}, {7, false, false, 4},
        {9, false, false, 8}, {2, true, true, 3},   {4, true, false, 3},  {5, true, false, 3},
        {3, false, true, 4},  {2, false, false, 1}, {1, false, false, 2}, {0, false, false, 0},
        {-3, true, true, 0},  {255, false, false, 128},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(tupletNormalCount(c.count, c.tripartite, c.prolong), c.normal)
            << c.count << " " << c.tripartite << " " << c.prolong;
    }
}

TEST_F(VxmlWriterTest, TupletDurationsReadBackToTheirTicks) {
    const struct {
        const char* type;
        int ticks;
        int actual;
        int normal;
        int dots;
        const char* base;  // written
    } cases[] = {
        {"eighth", 160, 3, 2, 0, "1/8"},      // triplet eighth
        {"16th", 96, 5, 4, 0, "1/16"},        // quintuplet sixteenth
        {"16th", 80, 6, 4, 0, "1/16"},        // 6:4 sixteenth
        {"eighth", 360, 2, 3, 0, "1/8"},      // duplet eighth in 6/8
        {"quarter", 480, 6, 4, 1, "1/4"},     // dotted quarters six to four
        {"16th", 69, 7, 4, 0, "1/16"},        // septuplet, rounded
        {"16th", 160, 3, 2, 0, "1/8"},        // a type that contradicts the ticks
        {"getit", 320, 3, 2, 0, "1/4"},       // triplet quarter from its ticks
    };
    addSystem();
    for (const auto& c : cases) {
        CScoreEvent event = withTuplet(note(c.type, c.ticks, {{"C5"}}), c.actual, c.normal);
        event.dots = static_cast<uint8_t>(c.dots);
        ASSERT_EQ(file.appendChord(event), kOk);
    }
    finish();
    const std::vector<xmlNodePtr> durations = select(file, "//chord/duration");
    ASSERT_EQ(durations.size(), std::size(cases));
    for (std::size_t i = 0; i < durations.size(); ++i) {
        const auto& c = cases[i];
        xmlNodePtr tuplet = nullptr;
        ASSERT_EQ(xmldomGetChild(durations[i], "tuplet", &tuplet), kOk);
        const std::string base = attrOf(durations[i], "base");
        const bool tripartite = attrOf(tuplet, "tripartite") == "true";
        const bool prolong = attrOf(tuplet, "prolong") == "true";
        const int dots = std::atoi(xmldomAttribute(durations[i], "dots").value_or("0").c_str());
        const int count = std::atoi(attrOf(tuplet, "count").c_str());
        EXPECT_EQ(base, c.base) << c.ticks;
        EXPECT_EQ(count, c.actual);
        EXPECT_EQ(tripartite, c.normal % 3 == 0) << c.ticks;
        EXPECT_EQ(prolong, c.actual < c.normal) << c.ticks;
        for (const bool truncate : {false, true}) {
            TupletRounding rounding{truncate};
            const NoteDurationText read{base, dots, count, tupletNormalCount(count, tripartite, prolong), false};
            EXPECT_NEAR(noteDurationTicks(read, CMeter{}, rounding), c.ticks, 1) << c.ticks;
        }
    }
}

TEST_F(VxmlWriterTest, RestDisplayFollowsItsBarCount) {
    addSystem();
    const struct {
        const char* type;
        int ticks;
        bool invisible;
        const char* churchStyle;
        const char* number;
        const char* invisibleAttr;
        std::size_t verticalPos;
    } cases[] = {
        {"2", 3840, false, "false", "up", "(none)", 1},  // two bars: one rest
        {"1", 1920, false, "true", "(none)", "(none)", 0},
        {"whole", 1920, false, "true", "(none)", "(none)", 0},
        {"breve", 3840, false, "false", "up", "(none)", 1},
        {"long", 7680, true, "false", "up", "true", 1},
        {"half", 960, true, "(none)", "(none)", "true", 0},
        {"quarter", 480, false, nullptr, nullptr, nullptr, 0},  // no display
    };
    for (const auto& c : cases) {
        CScoreEvent event = rest(c.type, c.ticks);
        if (c.invisible) event.setKind(kKindInvisible);
        ASSERT_EQ(file.appendRest(event), kOk) << c.type;
    }
    finish();
    const std::vector<xmlNodePtr> rests = select(file, "//rest");
    ASSERT_EQ(rests.size(), std::size(cases));
    for (std::size_t i = 0; i < rests.size(); ++i) {
        const auto& c = cases[i];
        xmlNodePtr duration = nullptr;
        ASSERT_EQ(xmldomGetChild(rests[i], "duration", &duration), kOk);
        EXPECT_EQ(attrOf(duration, "base"), noteBaseText(c.type)) << c.type;
        xmlNodePtr display = nullptr;
        const int found = xmldomGetChild(rests[i], "display", &display);
        if (c.churchStyle == nullptr) {
            EXPECT_EQ(found, kXmlNotFound) << c.type;
        } else {
            ASSERT_EQ(found, kOk) << c.type;
            EXPECT_EQ(attrOf(display, "churchStyle"), c.churchStyle) << c.type;
            EXPECT_EQ(attrOf(display, "number"), c.number) << c.type;
            EXPECT_EQ(attrOf(display, "invisible"), c.invisibleAttr) << c.type;
        }
        int vertical = 0;
        ASSERT_EQ(xmldomCountChildren(rests[i], "verticalPos", &vertical), kOk);
        EXPECT_EQ(static_cast<std::size_t>(vertical), c.verticalPos) << c.type;
    }
    EXPECT_EQ(attrs(file, "//verticalPos", "centered"), (Texts{"true", "true", "true"}));
}

TEST_F(VxmlWriterTest, RestPiecesAlwaysComeToAnEnd) {
    const struct {
        const char* type;
        int ticks;
        int dots;
        int rc;
        Texts bases;
    } cases[] = {
        {"getit", 2400, 0, kOk, {"1/1", "1/4"}},
        {"getit", 360, 0, kOk, {"1/8", "1/16"}},
        {"getit", 720, 1, kOk, {"1/4"}},  // with its dot
        {"getit", 3, 0, kErrNotPresent, {"1/256"}},  // shorter than any value: once
        {"", 480, 0, kErrNotPresent, {}},            // no type: nothing
        {"foo", 480, 0, kErrNotPresent, {"foo"}},    // a type nothing counts: once
        {"quarter", 0, 0, kOk, {}},
        {"quarter", -480, 0, kOk, {}},
        {"2", 3840, 0, kOk, {"2"}},
        {"1/4", 480, 0, kOk, {"1/4"}},  // a base as it stands
    };
    for (const auto& c : cases) {
        addSystem();
        CScoreEvent event = rest(c.type, c.ticks);
        event.dots = static_cast<uint8_t>(c.dots);
        event.dynamic.code = 44;  // marks go to the first piece only
        EXPECT_EQ(file.appendRest(event), c.rc) << c.type << " " << c.ticks;
    }
    // A huge rest from a file stops after a bounded number of pieces.
    addSystem();
    EXPECT_EQ(file.appendRest(rest("getit", 7680 * 2000)), kErrNotPresent);
    finish();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string system = "//system[" + std::to_string(i + 1) + "]";
        EXPECT_EQ(attrs(file, system + "//rest/duration", "base"), cases[i].bases)
            << cases[i].type << " " << cases[i].ticks;
        EXPECT_EQ(select(file, system + "//rest/drawObjects").size(), cases[i].bases.empty() ? 0u : 1u);
    }
    EXPECT_EQ(attrs(file, "//system[3]//rest/duration", "dots"), Texts{"1"});
    EXPECT_EQ(select(file, "//system[11]//rest").size(), 1024u);
}
