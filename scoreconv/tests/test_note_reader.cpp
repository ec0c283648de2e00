// The note reader: pitches, durations, chords, hidden and grace notes, marks,
// notations and lyrics of one note element; the measure-length scan and the
// clock that turns divisions into ticks.
#include "musicxml/note_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "musicxml/read_context.h"
#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {
namespace {

using scorecore::CScoreEvent;
using scorecore::kErrNoteSkipped;
using scorecore::kOk;

// One element parsed from text.
struct Fragment {
    explicit Fragment(std::string_view xml) { EXPECT_EQ(scorecore::xmldomParseMemory(xml, doc), kOk) << xml; }
    const xmlNode* node() const { return doc.root(); }
    scorecore::XmlDocument doc;
};

CReadContext context(double divisions = 1, int32_t mode = 1) {
    CReadContext c;
    c.mode = mode;
    c.divisions = divisions;
    return c;
}

int read(std::string_view xml, CScoreEvent& event, CNoteInfo& info, const CReadContext& c = context()) {
    Fragment note(xml);
    return readNote(note.node(), c, event, info);
}

int32_t key(const CScoreEvent& e, int32_t head) { return static_cast<int32_t>((e.midi[static_cast<std::size_t>(head)] >> 8) & 0xFF); }

TEST(NoteReaderPitch, StepAlterAndOctaveGiveKeyAndTexts) {
    struct Case {
        std::string pitch;
        int32_t heads;
        int32_t key;
        std::string pitchText;
        std::string alterText;
    };
    const Case cases[] = {
        {"<step>C</step><octave>4</octave>", 1, 60, "C4", "**"},
        {"<step>F</step><alter>1</alter><octave>4</octave>", 1, 66, "F4", "+1"},
        {"<step>B</step><alter>-1</alter><octave>3</octave>", 1, 58, "B3", "-1"},
        {"<step>D</step><alter>-2</alter><octave>5</octave>", 1, 72, "D5", "-2"},
        // Quarter tones round away from zero; decimals are numbers, not text.
        {"<step>C</step><alter>0.5</alter><octave>4</octave>", 1, 61, "C4", "+1"},
        {"<step>C</step><alter>-0.5</alter><octave>4</octave>", 1, 59, "C4", "-1"},
        {"<step>A</step><alter>1.0</alter><octave>4</octave>", 1, 70, "A4", "+1"},
        {"<step>e</step><octave>4</octave>", 1, 64, "E4", "**"},
        // What the event cannot hold is kept within its range.
        {"<step>C</step><alter>3</alter><octave>4</octave>", 1, 63, "C4", "+2"},
        {"<step>G</step><octave>12</octave>", 1, 127, "G9", "**"},
        {"<step>C</step><octave>-5</octave>", 1, 0, "C0", "**"},
        {"<step>C</step><alter>sharp</alter><octave>4</octave>", 1, 60, "C4", "**"},
        // A step that is no letter of the scale gives no head.
        {"<step>H</step><octave>4</octave>", 0, 0, "", ""},
        {"<step></step><octave>4</octave>", 0, 0, "", ""},
    };
    for (const Case& c : cases) {
        CScoreEvent event;
        CNoteInfo info;
        ASSERT_EQ(read("<note><pitch>" + c.pitch + "</pitch><duration>1</duration></note>", event, info), kOk);
        EXPECT_EQ(event.headCount, c.heads) << c.pitch;
        if (c.heads == 0) continue;
        EXPECT_EQ(key(event, 0), c.key) << c.pitch;
        EXPECT_EQ(event.pitches, c.pitchText) << c.pitch;
        EXPECT_EQ(event.alterations, c.alterText) << c.pitch;
    }
}

TEST(NoteReaderPitch, UnpitchedNotesTakeTheirDisplayPosition) {
    CScoreEvent event;
    CNoteInfo info;
    ASSERT_EQ(read("<note><unpitched><display-step>E</display-step><display-octave>4</display-octave></unpitched>"
                   "<duration>1</duration><instrument id='P1-I39'/></note>",
                   event, info),
              kOk);
    EXPECT_TRUE(event.isKind(scorecore::kKindUnpitched));
    EXPECT_EQ(key(event, 0), 64);
    EXPECT_EQ(info.instrumentId, "P1-I39");
    // Without a display position the note sits on the middle line.
    CScoreEvent bare;
    ASSERT_EQ(read("<note><unpitched/><duration>1</duration></note>", bare, info), kOk);
    EXPECT_EQ(key(bare, 0), 71);
}

TEST(NoteReaderTiming, DurationsInDivisionsBecomeTicks) {
    struct Case {
        double divisions;
        std::string duration;
        int32_t ticks;
    };
    const Case cases[] = {
        {4, "3", 360}, {1, "4", 1920}, {2, "1.5", 360}, {3, "1", 160}, {7, "1", 69},
        {1, "0", 0},   {1, "-2", 0},   {1, "x", 0},     {1, "1e12", static_cast<int32_t>(kMaxTicks)},
    };
    for (const Case& c : cases) {
        CScoreEvent event;
        CNoteInfo info;
        ASSERT_EQ(read("<note><pitch><step>C</step><octave>4</octave></pitch><duration>" + c.duration +
                           "</duration></note>",
                       event, info, context(c.divisions)),
                  kOk);
        EXPECT_EQ(event.duration, c.ticks) << c.duration << " at " << c.divisions;
    }
}

TEST(NoteReaderTiming, GraceNotesTakeNoTimeAndRestsNoHeads) {
    CScoreEvent grace;
    CNoteInfo info;
    ASSERT_EQ(read("<note><grace slash='yes'/><pitch><step>D</step><octave>5</octave></pitch>"
                   "<voice>1</voice><type>eighth</type><stem>up</stem></note>",
                   grace, info),
              kOk);
    EXPECT_TRUE(info.grace);
    EXPECT_EQ(grace.duration, 0);
    EXPECT_TRUE(grace.isKind(scorecore::kKindGrace));
    // The stem that follows keeps the slash mark.
    EXPECT_TRUE(grace.hasStem(4));
    EXPECT_TRUE(grace.hasStem(1));

    CScoreEvent rest;
    ASSERT_EQ(read("<note><rest measure='yes'/><duration>4</duration></note>", rest, info), kOk);
    EXPECT_TRUE(rest.isKind(scorecore::kKindRest));
    EXPECT_EQ(rest.headCount, 0);
    EXPECT_TRUE(info.rest);
    EXPECT_TRUE(info.measureRest);
    EXPECT_EQ(rest.duration, 1920);
}

TEST(NoteReaderChords, ChordNotesJoinTheEventAndANewNoteIsRefused) {
    CScoreEvent event;
    CNoteInfo info;
    ASSERT_EQ(read("<note><pitch><step>C</step><octave>4</octave></pitch><duration>2</duration></note>", event, info),
              kOk);
    ASSERT_EQ(read("<note><chord/><pitch><step>E</step><octave>4</octave></pitch><duration>2</duration></note>",
                   event, info),
              kOk);
    EXPECT_EQ(info.headsBefore, 1);
    ASSERT_EQ(read("<note><chord/><pitch><step>G</step><octave>4</octave></pitch><duration>2</duration></note>",
                   event, info),
              kOk);
    EXPECT_EQ(event.headCount, 3);
    EXPECT_TRUE(event.isKind(scorecore::kKindNote | scorecore::kKindChord));
    EXPECT_EQ(event.duration, 960);
    EXPECT_EQ(event.pitches, "C4E4G4");

    const CScoreEvent before = event;
    EXPECT_EQ(read("<note><pitch><step>D</step><octave>4</octave></pitch><duration>1</duration></note>", event, info),
              kNoteStartsNewEvent);
    EXPECT_EQ(event.headCount, 3);
    EXPECT_EQ(event.pitches, before.pitches);
    // A rest read into an event that holds a note is refused as well.
    EXPECT_EQ(read("<note><rest/><duration>1</duration></note>", event, info), kNoteStartsNewEvent);
}

TEST(NoteReaderChords, AThirtyThirdHeadIsNotStored) {
    CScoreEvent event;
    CNoteInfo info;
    ASSERT_EQ(read("<note><pitch><step>C</step><octave>1</octave></pitch><duration>1</duration></note>", event, info),
              kOk);
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(read("<note><chord/><pitch><step>C</step><octave>2</octave></pitch><duration>1</duration></note>",
                       event, info),
                  kOk);
    }
    EXPECT_EQ(event.headCount, scorecore::kMaxHeads);
    EXPECT_EQ(event.pitches.size(), 2u * scorecore::kMaxHeads);
}

TEST(NoteReaderHidden, HiddenNotesAreSkippedOnlyWhereTheyDrawNothing) {
    struct Case {
        std::string note;
        int32_t mode;
        int result;
    };
    const std::string pitch = "<pitch><step>C</step><octave>4</octave></pitch>";
    const Case cases[] = {
        {"<note print-object='no'>" + pitch + "<duration>1</duration></note>", 5, kErrNoteSkipped},
        {"<note print-object='no'>" + pitch + "<duration>1</duration></note>", 1, kOk},
        {"<note print-object='no'><cue/>" + pitch + "<duration>1</duration></note>", 5, kOk},
        {"<note print-object='no'><rest/><duration>1</duration></note>", 5, kOk},
        {"<note print-object='no'>" + pitch + "</note>", 1, kErrNoteSkipped},
        {"<note print-object='yes'>" + pitch + "<duration>1</duration></note>", 5, kOk},
    };
    for (const Case& c : cases) {
        CScoreEvent event;
        CNoteInfo info;
        EXPECT_EQ(read(c.note, event, info, context(1, c.mode)), c.result) << c.note << " mode " << c.mode;
        // A skipped note still tells its caller how long it lasts.
        if (c.result == kErrNoteSkipped && c.note.find("duration") != std::string::npos) {
            EXPECT_EQ(info.duration, 1);
        }
    }
    CScoreEvent kept;
    CNoteInfo info;
    ASSERT_EQ(read("<note print-object='no'>" + pitch + "<duration>1</duration></note>", kept, info), kOk);
    EXPECT_TRUE(kept.isKind(scorecore::kKindInvisible));
}

TEST(NoteReaderStaffVoice, StaffNumbersOutsideTheFileAreNoStaff) {
    struct Case {
        std::string staff;
        int32_t expected;
    };
    const Case cases[] = {{"", 0},          {"<staff>2</staff>", 1},  {"<staff>0</staff>", -1},
                          {"<staff>x</staff>", -1}, {"<staff>-1</staff>", -1}, {"<staff>2.5</staff>", -1},
                          {"<staff>99999</staff>", -1}};
    for (const Case& c : cases) {
        CScoreEvent event;
        CNoteInfo info;
        ASSERT_EQ(read("<note><rest/><duration>1</duration><voice> A </voice>" + c.staff + "</note>", event, info), kOk);
        EXPECT_EQ(info.staff, c.expected) << c.staff;
        EXPECT_EQ(info.voice, "A");
    }
}

TEST(NoteReaderMarks, BeamsTiesTypesDotsNoteheadsAndAccidentals) {
    CScoreEvent event;
    CNoteInfo info;
    ASSERT_EQ(read("<note><cue/><pitch><step>F</step><alter>1</alter><octave>4</octave></pitch><duration>3</duration>"
                   "<tie type='stop'/><tie type='start'/><type size='full'>quarter</type><dot/><dot/>"
                   "<accidental editorial='yes'>sharp</accidental><stem>down</stem><notehead filled='no'>diamond</notehead>"
                   "<beam number='1'>begin</beam><beam number='2'>end</beam></note>",
                   event, info),
              kOk);
    EXPECT_TRUE(event.isKind(scorecore::kKindCue));
    EXPECT_FALSE(event.isKind(scorecore::kKindSmall));  // size "full" on a cue note
    EXPECT_EQ(event.tie, scorecore::kTieStart | scorecore::kTieEnd);
    EXPECT_EQ(event.baseText, "quarter");
    EXPECT_EQ(event.dots, 2);
    EXPECT_EQ(event.accidentals[0].shown, 1);
    EXPECT_EQ(event.accidentals[0].editorial, 1);
    EXPECT_TRUE(event.hasStem(2));
    int32_t flags = 0;
    ASSERT_TRUE(event.getHeadFlags(0, flags));
    EXPECT_EQ(flags, 1 | 128);
    EXPECT_EQ(event.beam, 1);  // the second beam level changes nothing

    CScoreEvent small;
    ASSERT_EQ(read("<note><pitch><step>C</step><octave>4</octave></pitch><duration>1</duration>"
                   "<type size='cue'>a-very-long-type</type><beam>continue</beam></note>",
                   small, info),
              kOk);
    EXPECT_TRUE(small.isKind(scorecore::kKindSmall));
    EXPECT_EQ(small.baseText, "a-very-");
    EXPECT_EQ(small.beam, 2);
}

TEST(NoteReaderNotations, TupletsSlursAndTies) {
    CScoreEvent event;
    CNoteInfo info;
    ASSERT_EQ(read("<note><pitch><step>C</step><octave>5</octave></pitch><duration>1</duration>"
                   "<time-modification><actual-notes>3</actual-notes><normal-notes>2</normal-notes></time-modification>"
                   "<notations><tuplet type='start' bracket='yes' placement='below'/>"
                   "<slur type='start' number='2' placement='above'/><slur type='stop'/><tied type='continue'/>"
                   "</notations></note>",
                   event, info),
              kOk);
    EXPECT_EQ(event.tupletCount, 3);
    EXPECT_EQ(event.tupletNormal, 2);
    EXPECT_EQ(info.tupletState, 1);
    EXPECT_EQ(event.bracketNumber, 3);  // the actual notes when no number is given
    EXPECT_EQ(event.bracketPresent, 1);
    EXPECT_EQ(event.bracketOrientation, 2);
    EXPECT_EQ(event.bracketHasOrientation, 1);
    EXPECT_EQ(event.bracketNoteRange, -1);  // no look-ahead: the span stays unknown
    ASSERT_EQ(event.itemCount(), 2);
    EXPECT_EQ(event.items[0].number, 2);
    EXPECT_EQ(event.items[0].flags, scorecore::kItemSlurStart);
    EXPECT_EQ(event.items[0].placement, 1);
    EXPECT_EQ(event.items[1].number, 1);
    EXPECT_EQ(event.items[1].flags, scorecore::kItemSlurStop);
    EXPECT_EQ(event.tie, scorecore::kTieStart | scorecore::kTieEnd);

    CScoreEvent hidden;
    ASSERT_EQ(read("<note><pitch><step>C</step><octave>5</octave></pitch><duration>1</duration>"
                   "<time-modification><actual-notes>999</actual-notes><normal-notes>x</normal-notes></time-modification>"
                   "<notations><tuplet type='stop' show-number='none'/></notations></note>",
                   hidden, info),
              kOk);
    EXPECT_EQ(info.tupletState, 2);
    EXPECT_EQ(hidden.bracketNumber, -1);
    EXPECT_EQ(hidden.tupletCount, 255);
    EXPECT_EQ(hidden.tupletNormal, 0);
}

TEST(NoteReaderNotations, OrnamentsArticulationsAndDynamics) {
    CScoreEvent event;
    CNoteInfo info;
    ASSERT_EQ(read("<note><pitch><step>C</step><octave>5</octave></pitch><duration>1</duration><notations>"
                   "<fermata type='inverted'/><arpeggiate/>"
                   "<articulations><breath-mark/><staccato placement='above'/><accent/></articulations>"
                   "<technical><fingering>1</fingering><down-bow placement='above'/></technical>"
                   "<ornaments placement='below'><turn placement='below'/><accidental-mark>flat</accidental-mark></ornaments>"
                   "<dynamics><sfp/></dynamics>"
                   "</notations></note>",
                   event, info),
              kOk);
    ASSERT_EQ(event.ornamentCount(), 4);
    EXPECT_EQ(event.ornaments[0].code, 11);
    EXPECT_EQ(event.ornaments[0].placement, 2);
    EXPECT_EQ(event.ornaments[1].code, 12);
    EXPECT_EQ(event.ornaments[1].placement, 3);
    EXPECT_EQ(event.ornaments[2].code, 9);
    EXPECT_EQ(event.ornaments[2].placement, 1);
    EXPECT_EQ(event.ornaments[3].code, 4);
    EXPECT_EQ(event.ornaments[3].secondCode, 7);
    EXPECT_EQ(event.ornaments[3].placement, 2);
    EXPECT_EQ(event.articulation.code, 1);
    EXPECT_EQ(event.articulation.placement, 1);
    EXPECT_EQ(event.dynamic.code, -4);
    EXPECT_FLOAT_EQ(event.dynamic.offset, -0.1f);
}

TEST(NoteReaderLyrics, SyllablesAreKeptInDocumentOrder) {
    CScoreEvent event;
    CNoteInfo info;
    ASSERT_EQ(read("<note><pitch><step>C</step><octave>5</octave></pitch><duration>1</duration>"
                   "<lyric number='1'><syllabic>begin</syllabic><text>Hal</text></lyric>"
                   "<lyric number='verse two'><text>Sun</text><extend/></lyric>"
                   "<lyric number='-3'><extend/></lyric>"
                   "<lyric><syllabic>single</syllabic><text>of</text><elision/><text>a</text></lyric>"
                   "</note>",
                   event, info),
              kOk);
    ASSERT_EQ(event.lyricCount(), 3);
    EXPECT_EQ(event.lyrics[0].number, 2);
    EXPECT_EQ(event.lyrics[0].text, "Hal");
    // Without "syllabic" a syllable stands alone; a number that is no number changes nothing.
    EXPECT_EQ(event.lyrics[1].number, 1);
    EXPECT_EQ(event.lyrics[1].text, "Sun");
    EXPECT_EQ(event.lyrics[1].extender, 1);
    EXPECT_EQ(event.lyrics[2].text, "of a");
}

TEST(NoteReaderElements, BackupAndForwardDurations) {
    Fragment backup("<backup><duration>2.5</duration></backup>");
    EXPECT_DOUBLE_EQ(readBackup(backup.node()), 2.5);
    Fragment negative("<backup><duration>-4</duration></backup>");
    EXPECT_DOUBLE_EQ(readBackup(negative.node()), 0);
    Fragment forward("<forward><duration>3</duration><voice>2</voice><staff>2</staff></forward>");
    int32_t staff = -9;
    std::string voice;
    EXPECT_DOUBLE_EQ(readForward(forward.node(), staff, voice), 3);
    EXPECT_EQ(staff, 1);
    EXPECT_EQ(voice, "2");
}

TEST(MeasureLengthScan, FurthestPositionOfNotesBackupsAndForwards) {
    struct Case {
        std::string body;
        double divisions;
        int64_t ticks;
    };
    const std::string q = "<note><pitch><step>C</step><octave>4</octave></pitch><duration>1</duration></note>";
    const std::string chord = "<note><chord/><pitch><step>E</step><octave>4</octave></pitch><duration>1</duration></note>";
    const std::string grace = "<note><grace/><pitch><step>E</step><octave>4</octave></pitch></note>";
    const Case cases[] = {
        {q + chord + q + grace + q, 1, 1440},
        {q + q + "<backup><duration>1</duration></backup>" + q + q, 1, 1440},
        {q + q + q + "<backup><duration>3</duration></backup>" + q, 1, 1440},
        {q + "<backup><duration>50</duration></backup>" + q + q, 1, 960},
        {q + "<forward><duration>3</duration></forward>", 1, 1920},
        {q + q + "<attributes><divisions>8</divisions></attributes>" +
             "<note><rest/><duration>16</duration></note>",
         1, 1920},
        {q + q + q + q + q + q + q, 7, 480},
        {"", 1, 0},
        {q, 0, 480},
    };
    std::string part = "<part>";
    for (const Case& c : cases) {
        Fragment measure("<measure>" + c.body + "</measure>");
        EXPECT_EQ(scanMeasureLength(measure.node(), c.divisions, 480), c.ticks) << c.body;
        part += "<measure>" + c.body + "</measure><!-- between --><sound/>";
    }
    // Read ahead for a whole part, as a worker does: every measure keeps its own steps.
    Fragment whole(part + "</part>");
    const CPartTimings timings(whole.node());
    ASSERT_EQ(timings.measureCount(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(measureLength(timings.measure(i), cases[i].divisions, 480), cases[i].ticks) << cases[i].body;
    }
    EXPECT_TRUE(timings.measure(std::size(cases)).empty());
}

TEST(MeasureClock, PositionsRoundOnceSoBarsAddUpExactly) {
    CMeasureClock clock(480);
    clock.setDivisions(7);
    std::vector<int64_t> ticks;
    for (int i = 0; i < 7; ++i) {
        clock.advance(1);
        ticks.push_back(clock.tick());
    }
    EXPECT_EQ(ticks, (std::vector<int64_t>{69, 137, 206, 274, 343, 411, 480}));
    // A change of divisions takes over at the position reached.
    clock.setDivisions(3);
    clock.advance(1);
    EXPECT_EQ(clock.tick(), 640);
    clock.backUp(100);
    EXPECT_EQ(clock.tick(), 0);
    EXPECT_EQ(clock.furthest(), 640);
    clock.setDivisions(-1);
    EXPECT_DOUBLE_EQ(clock.divisions(), 1);
    clock.advance(1e300);
    EXPECT_EQ(clock.tick(), kMaxTicks);
    clock.advance(1e300);
    EXPECT_EQ(clock.tick(), kMaxTicks);
}

}  // namespace
}  // namespace scoreconv
