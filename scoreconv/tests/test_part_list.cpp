// The part list: parts matched to their elements by id, staves and voices,
// names, clefs, transpositions, lyric verses, staff groups and instruments.
#include "musicxml/part_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mxml_load_support.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"

namespace scoreconv {
namespace {

using platform::testing::TempFolder;
using scoreconv::testing::fixture;
using scoreconv::testing::LoggedFile;
using scoreconv::testing::suiteFile;
using scoreconv::testing::writeBytes;
using scorecore::kOk;

std::vector<std::string> staffNames(const CMxmlFile& file) {
    std::vector<std::string> names;
    for (const CStaffName& name : file.staffNames) names.push_back(name.name);
    return names;
}

// A partwise score with the given part list and parts.
std::string score(const std::string& partList, const std::string& parts) {
    return "<score-partwise version='4.0'><part-list>" + partList + "</part-list>" + parts + "</score-partwise>";
}

// --- the real test suite --------------------------------------------------------------------

TEST(PartList, SuiteFilesGiveThePartsTheirTitlesPromise) {
    struct Case {
        const char* file;
        std::vector<std::string> names;
        std::vector<int32_t> stavesPerPart;
        std::vector<int32_t> transposition;  // per staff
    };
    const Case cases[] = {
        {"01a-Pitches-Pitches.xml", {"MusicXML Part"}, {1}, {0}},
        {"41a-MultiParts-Partorder.xml", {"Part 1", "Part 2", "Part 3", "Part 4"}, {1, 1, 1, 1}, {0, 0, 0, 0}},
        {"43a-PianoStaff.xml", {"MusicXML Part", "MusicXML Part"}, {2}, {0, 0}},
        {"72a-TransposingInstruments.xml", {"Trumpet in Bb", "Horn in Eb", "Piano"}, {1, 1, 1}, {-2, -9, 0}},
    };
    for (const Case& c : cases) {
        LoggedFile loaded;
        ASSERT_EQ(loaded.load(suiteFile(c.file)), kOk) << c.file;
        const CMxmlFile& f = *loaded.file;
        EXPECT_EQ(staffNames(f), c.names) << c.file;
        ASSERT_EQ(scorePartCount(f), static_cast<int32_t>(c.stavesPerPart.size())) << c.file;
        for (int32_t p = 0; p < scorePartCount(f); ++p) {
            EXPECT_EQ(f.voiceTables.staffCount(p), c.stavesPerPart[static_cast<std::size_t>(p)]) << c.file << p;
        }
        EXPECT_EQ(f.staffTransposition, c.transposition) << c.file;
    }
}

TEST(PartList, SuitePartsKeepTheirOrderAndElements) {
    LoggedFile loaded;
    ASSERT_EQ(loaded.load(suiteFile("41a-MultiParts-Partorder.xml")), kOk);
    const CMxmlFile& f = *loaded.file;
    std::vector<xmlNodePtr> elements;
    ASSERT_EQ(GetPartlistFromNode(f.document.root(), elements), kOk);
    ASSERT_EQ(elements.size(), 4u);
    for (int32_t p = 0; p < 4; ++p) {
        EXPECT_EQ(f.parts[static_cast<std::size_t>(p)].id, "P" + std::to_string(p));
        EXPECT_EQ(f.parts[static_cast<std::size_t>(p)].node, elements[static_cast<std::size_t>(p)]);
        EXPECT_EQ(partIndexOfElement(f, elements[static_cast<std::size_t>(p)]), p);
    }
}

TEST(PartList, SuitePianoStaffIsBracedWithAVoicePerStaff) {
    LoggedFile loaded;
    ASSERT_EQ(loaded.load(suiteFile("43a-PianoStaff.xml")), kOk);
    const CMxmlFile& f = *loaded.file;
    ASSERT_EQ(f.partGroups.count(), 1);
    const scorecore::CScorePartGroup& brace = *f.partGroups.item(0);
    EXPECT_EQ(brace.symbol, kGroupSymbolBrace);
    EXPECT_EQ(brace.firstStaff, 0);
    EXPECT_EQ(brace.lastStaff, 1);
    EXPECT_FALSE(brace.isOpen());
    EXPECT_EQ(f.groupEnd, (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(f.voiceTables.staffMask(0, 0), 1u);
    EXPECT_EQ(f.voiceTables.staffMask(0, 1), 2u);
    EXPECT_EQ(f.clefs[0].kind, kClefG);
    EXPECT_EQ(f.clefs[1].kind, kClefF);
    EXPECT_EQ(f.clefs[1].line, 4);
}

TEST(PartList, SuiteLyricVersesAreCountedInTheTvrxmlModeOnly) {
    struct Case {
        const char* file;
        int32_t mode;
        int32_t verses;
    };
    const Case cases[] = {
        {"61a-Lyrics.xml", kModeTvrxml, 1},
        {"31a-Directions.xml", kModeTvrxml, 2},
        {"32a-Notations.xml", kModeTvrxml, 3},
        {"32a-Notations.xml", kModeRealTime, 0},
        {"01a-Pitches-Pitches.xml", kModeTvrxml, 0},
    };
    for (const Case& c : cases) {
        LoggedFile loaded(c.mode);
        ASSERT_EQ(loaded.load(suiteFile(c.file)), kOk) << c.file;
        EXPECT_EQ(loaded.file->lyricVerses, std::vector<int32_t>{c.verses}) << c.file << " mode " << c.mode;
    }
}

// --- groups ---------------------------------------------------------------------------------

TEST(PartList, GroupsAreReadByAttributeName) {
    LoggedFile loaded;
    ASSERT_EQ(loaded.load(fixture("part_groups.xml")), kOk);
    const CMxmlFile& f = *loaded.file;
    EXPECT_EQ(staffNames(f), (std::vector<std::string>{"Violin", "Viola", "Violoncello", "Piano", "Piano",
                                                       "Organ Pedal"}));
    struct Group {
        const char* name;
        const char* abbreviation;
        int32_t symbol;
        int32_t first;
        int32_t last;
    };
    // "number" before "type", a group without a type (ignored), and a group
    // whose number equals the one the piano's own brace is given: the brace
    // closes alone and "Keys" still reaches the pedal staff.
    const Group expected[] = {
        {"Strings", "Str.", kGroupSymbolOther, 0, 2},
        {"", "", kGroupSymbolLine, 1, 2},
        {"Keys", "", kGroupSymbolOther, 3, 5},
        {"Piano", "Pno.", kGroupSymbolBrace, 3, 4},
    };
    ASSERT_EQ(f.partGroups.count(), 4);
    for (int32_t i = 0; i < 4; ++i) {
        const scorecore::CScorePartGroup& g = *f.partGroups.item(i);
        const Group& e = expected[i];
        EXPECT_EQ(g.name, e.name) << i;
        EXPECT_EQ(g.abbreviation, e.abbreviation) << i;
        EXPECT_EQ(g.symbol, e.symbol) << i;
        EXPECT_EQ(g.firstStaff, e.first) << i;
        EXPECT_EQ(g.lastStaff, e.last) << i;
        EXPECT_FALSE(g.isOpen()) << i;
    }
    EXPECT_EQ(f.groupEnd, (std::vector<int32_t>{0, 0, 1, 0, 1, 1}));
    EXPECT_EQ(f.voiceTables.staffMask(3, 0), 0x1u);
    EXPECT_EQ(f.voiceTables.staffMask(3, 1), 0x10u);
    EXPECT_EQ(f.clefs[1].kind, kClefC);
    EXPECT_EQ(f.clefs[1].line, 3);
}

// --- voices, staves and staff tables -----------------------------------------------------------

TEST(PartList, VoicesStavesAndStaffTablesOfAPart) {
    struct Case {
        int32_t mode;
        uint32_t secondStaffMask;  // the hidden note's voice 6 counts outside the TvrXML mode
        int32_t verses;
    };
    const Case cases[] = {{kModeRealTime, 0x22u, 0}, {kModeTvrxml, 0x02u, 2}};
    for (const Case& c : cases) {
        LoggedFile loaded(c.mode);
        ASSERT_EQ(loaded.load(fixture("voices_staves.xml")), kOk);
        CMxmlFile& f = *loaded.file;
        ASSERT_EQ(f.staffCount(), 4);
        // An empty part name takes the line label with the staff's number.
        EXPECT_EQ(staffNames(f), (std::vector<std::string>{"Piano", "Piano", "[Zeile 3]", "[Zeile 4]"}));
        EXPECT_EQ(f.staffNames[3].abbreviation, "[Zeile 4]");
        // Voice 1, "X" -> 4, "Y" (no staff: the first) -> 5 on the first staff;
        // a missing voice is 1 and stays there; voice 2 stays on the staff it
        // was met on first; voice 3 on a staff the part lacks, and voice 40,
        // are left out.
        EXPECT_EQ(f.voiceTables.staffMask(1, 0), 0x19u) << c.mode;
        EXPECT_EQ(f.voiceTables.staffMask(1, 1), c.secondStaffMask) << c.mode;
        EXPECT_EQ(f.voiceTables.voiceNumber(1, "X"), 4);
        EXPECT_EQ(f.voiceTables.voiceNumber(1, "Y"), 5);
        EXPECT_EQ(f.voiceTables.staffOfVoice(1, 2), -1);
        // The first clef of a staff, an octave down; the staff-details of staff 2.
        EXPECT_EQ(f.clefs[2].kind, kClefG);
        EXPECT_EQ(f.clefs[2].line, 2);
        EXPECT_EQ(f.clefs[2].octaveChange, 2);
        EXPECT_EQ(f.clefs[3].kind, kClefF);
        EXPECT_EQ(f.clefs[3].octaveChange, 1);
        EXPECT_EQ(f.staffLines, (std::vector<int32_t>{5, 5, 5, 1}));
        // The transposition in force when the part starts, not a sum of all.
        EXPECT_EQ(f.staffTransposition, (std::vector<int32_t>{0, 0, -14, -14}));
        EXPECT_EQ(f.lyricVerses, (std::vector<int32_t>{0, 0, c.verses, c.verses}));
        // The first part has no tempo: the file's is 120; the second part's is rounded.
        EXPECT_EQ(f.cursor.tempo, 120);
        EXPECT_EQ(f.parts[1].tempo, 73);
        EXPECT_EQ(f.groupEnd, (std::vector<int32_t>{0, 1, 0, 1}));
    }
}

TEST(PartList, ConductorEntryEndsThePartTable) {
    LoggedFile loaded;
    ASSERT_EQ(loaded.load(fixture("voices_staves.xml")), kOk);
    const CMxmlFile& f = *loaded.file;
    ASSERT_EQ(f.parts.size(), 3u);
    EXPECT_TRUE(f.parts[2].conductor);
    EXPECT_EQ(scorePartCount(f), 2);
    EXPECT_EQ(f.voiceTables.staffCount(2), 1);
    EXPECT_EQ(f.voiceTables.staffMask(2, 0), 1u);
    EXPECT_EQ(f.voiceTables.firstStaffOfPart(2), 4);
    EXPECT_EQ(f.rowCount, 5);
}

TEST(PartList, HostLineLabelIsNeverUsedAsAFormat) {
    LoggedFile loaded(kModeRealTime, "Staff %i %s%n 100%% %i");
    ASSERT_EQ(loaded.load(fixture("voices_staves.xml")), kOk);
    EXPECT_EQ(loaded.file->staffNames[2].name, "Staff 3 %s%n 100% %i");
}

TEST(PartList, FileNumbersAreBoundedBeforeUse) {
    struct Case {
        const char* name;
        std::string staves;
        int32_t expected;
    };
    const Case cases[] = {
        {"huge", "100000000000", kMaxStavesPerPart},
        {"above the cap", "40", kMaxStavesPerPart},
        {"zero", "0", 1},
        {"negative", "-3", 1},
        {"word", "two", 1},
        {"decimal", "2.4", 2},
    };
    TempFolder temp;
    for (const Case& c : cases) {
        const std::string text = score(
            "<score-part id='P1'><part-name>A</part-name></score-part>",
            "<part id='P1'><measure number='1'><attributes><staves>" + c.staves +
                "</staves><clef number='99'><sign>F</sign></clef><staff-details number='-1'>"
                "<staff-lines>1000</staff-lines></staff-details></attributes>"
                "<note><voice>1</voice><staff>1000000000000</staff></note></measure></part>");
        writeBytes(temp.path() / "n.xml", text);
        LoggedFile loaded;
        ASSERT_EQ(loaded.load(temp.path() / "n.xml"), kOk) << c.name;
        EXPECT_EQ(loaded.file->staffCount(), c.expected) << c.name;
        EXPECT_EQ(loaded.file->staffLines[0], 5) << c.name;
        EXPECT_EQ(loaded.file->voiceTables.staffMask(0, 0), 1u) << c.name;
    }
}

// --- parts matched by id --------------------------------------------------------------------------

TEST(PartList, PartsAreMatchedToTheirElementsById) {
    LoggedFile loaded;
    ASSERT_EQ(loaded.load(fixture("undeclared_part.xml")), kOk);
    const CMxmlFile& f = *loaded.file;
    std::vector<xmlNodePtr> elements;
    ASSERT_EQ(GetPartlistFromNode(f.document.root(), elements), kOk);
    ASSERT_EQ(elements.size(), 3u);  // P1, P2 (not declared), HN
    ASSERT_EQ(scorePartCount(f), 4);
    EXPECT_EQ(f.parts[0].node, elements[0]);
    EXPECT_EQ(f.parts[1].id, "Hn");
    EXPECT_EQ(f.parts[1].node, elements[2]);  // ids differing in case still match
    EXPECT_EQ(f.parts[2].node, nullptr);      // declared, but without element
    // The undeclared part follows the declared ones with its three staves and voice 7.
    EXPECT_EQ(f.parts[3].id, "P2");
    EXPECT_EQ(partIndexOfElement(f, elements[1]), 3);
    EXPECT_EQ(f.staffCount(), 6);
    EXPECT_EQ(f.voiceTables.staffCount(3), 3);
    EXPECT_EQ(f.voiceTables.staffOfVoice(3, 6), 2);
    EXPECT_EQ(f.clefs[1].kind, kClefF);
    ASSERT_EQ(loaded.lines.size(), 1u);
    EXPECT_EQ(loaded.lines[0], "\tgetProps|part \"P2\" is not in the part list: read as a part of its own\r\n");
}

TEST(PartList, EachElementServesOneDeclaredPart) {
    TempFolder temp;
    writeBytes(temp.path() / "twice.xml",
              score("<score-part id='P1'><part-name>A</part-name></score-part>"
                    "<score-part id='P1'><part-name>B</part-name></score-part>",
                    "<part id='P1'><measure number='1'/></part>"));
    LoggedFile loaded;
    ASSERT_EQ(loaded.load(temp.path() / "twice.xml"), kOk);
    ASSERT_EQ(scorePartCount(*loaded.file), 2);
    EXPECT_NE(loaded.file->parts[0].node, nullptr);
    EXPECT_EQ(loaded.file->parts[1].node, nullptr);
}

// --- instruments ------------------------------------------------------------------------------------

TEST(PartList, InstrumentsOfDrumAndMelodicParts) {
    LoggedFile loaded;
    ASSERT_EQ(loaded.load(fixture("percussion.xml")), kOk);
    CMxmlFile& f = *loaded.file;
    ASSERT_EQ(f.staffCount(), 4);
    EXPECT_EQ(f.midiInstrumentListCount, 4);

    struct Expected {
        const char* id;
        uint8_t percNote;
        uint8_t progOrId;
        uint8_t displayKey;
        uint8_t srcChannel;
    };
    // Drum set: running percussion ids from 128, display keys from the first
    // note naming each instrument (F4 = 65, C5 = 72; none for the hi-hat).
    const Expected drums[] = {
        {"P1-I36", 35, 128, 65, 9},
        {"P1-I39", 38, 129, 72, 9},
        {"P1-I43", 42, 130, 255, 255},
    };
    ASSERT_EQ(f.instruments.count(0), 3);
    for (int32_t i = 0; i < 3; ++i) {
        const CMidiInstr& r = *f.instruments.at(0, i);
        EXPECT_EQ(r.InstrumentId, drums[i].id);
        EXPECT_EQ(r.PercNote, drums[i].percNote) << i;
        EXPECT_EQ(r.SrcProgPercId, drums[i].progOrId) << i;
        EXPECT_EQ(r.UserProgram, drums[i].displayKey) << i;
        EXPECT_EQ(r.SrcChannel, drums[i].srcChannel) << i;
    }
    EXPECT_TRUE(f.instruments.isPercussionStaff(0));

    // A drum part without instruments gets one per key, named by the key.
    ASSERT_EQ(f.instruments.count(1), kPercussionKeys);
    EXPECT_EQ(f.instruments.at(1, 0)->InstrumentId, "0");
    EXPECT_EQ(f.instruments.at(1, 127)->InstrumentId, "127");
    EXPECT_EQ(f.instruments.at(1, 42)->PercNote, 42);
    EXPECT_EQ(f.instruments.percussionKey(1, 42), 42);

    // No midi-program: program 0; no midi-channel: left to the channel plan.
    ASSERT_EQ(f.instruments.count(2), 1);
    EXPECT_EQ(f.instruments.at(2, 0)->SrcProgPercId, 0);
    EXPECT_EQ(f.instruments.at(2, 0)->SrcChannel, CMidiInstr::kUnset);
    EXPECT_FALSE(f.instruments.isPercussionStaff(2));
    // No midi-instrument at all: a default record.
    ASSERT_EQ(f.instruments.count(3), 1);
    EXPECT_EQ(f.instruments.at(3, 0)->PercNote, CMidiInstr::kUnset);

    // Whatever the file left unset, no MIDI byte is ever 255.
    f.instruments.planChannels(false);
    for (int32_t s = 0; s < f.staffCount(); ++s) {
        for (int32_t i = 0; i < f.instruments.count(s); ++i) {
            EXPECT_LT(f.instruments.midiChannel(s, i), 16) << s << "/" << i;
            EXPECT_LT(f.instruments.midiProgram(s, i, false), 128) << s << "/" << i;
            EXPECT_LT(f.instruments.midiProgram(s, i, true), 128) << s << "/" << i;
        }
    }
    EXPECT_EQ(f.instruments.midiChannel(0, 2), kDrumChannel);
    EXPECT_EQ(f.instruments.midiChannel(1, 0), kDrumChannel);
}

TEST(PartList, PercussionIdsStopAt255) {
    std::string instruments;
    for (int i = 0; i < 140; ++i) {
        instruments += "<midi-instrument id='I" + std::to_string(i) + "'><midi-channel>10</midi-channel>"
                       "<midi-unpitched>" + std::to_string(35 + i % 40) + "</midi-unpitched></midi-instrument>";
    }
    TempFolder temp;
    writeBytes(temp.path() / "many.xml",
              score("<score-part id='P1'><part-name>Perc</part-name>" + instruments + "</score-part>",
                    "<part id='P1'><measure number='1'><attributes><clef><sign>percussion</sign></clef>"
                    "</attributes></measure></part>"));
    LoggedFile loaded;
    ASSERT_EQ(loaded.load(temp.path() / "many.xml"), kOk);
    const CStaffInstruments& list = loaded.file->instruments;
    ASSERT_EQ(list.count(0), 140);
    EXPECT_EQ(list.at(0, 0)->SrcProgPercId, 128);
    EXPECT_EQ(list.at(0, 126)->SrcProgPercId, 254);
    for (int32_t i = 127; i < 140; ++i) EXPECT_EQ(list.at(0, i)->SrcProgPercId, 255) << i;
}

TEST(PartList, MidiValuesOutsideTheirRangeAreUnset) {
    TempFolder temp;
    writeBytes(temp.path() / "odd.xml",
              score("<score-part id='P1'><part-name>A</part-name>"
                    "<midi-instrument id='A1'><midi-channel>17</midi-channel><midi-program>0</midi-program>"
                    "<midi-unpitched>200</midi-unpitched></midi-instrument>"
                    "<midi-instrument id='A2'><midi-channel>16</midi-channel><midi-program>128</midi-program>"
                    "</midi-instrument></score-part>",
                    "<part id='P1'/>"));
    LoggedFile loaded;
    ASSERT_EQ(loaded.load(temp.path() / "odd.xml"), kOk);
    const CStaffInstruments& list = loaded.file->instruments;
    ASSERT_EQ(list.count(0), 2);
    EXPECT_EQ(list.at(0, 0)->SrcChannel, CMidiInstr::kUnset);
    EXPECT_EQ(list.at(0, 0)->SrcProgPercId, 0);
    EXPECT_EQ(list.at(0, 0)->PercNote, CMidiInstr::kUnset);
    EXPECT_EQ(list.at(0, 1)->SrcChannel, 15);
    EXPECT_EQ(list.at(0, 1)->SrcProgPercId, 127);
}

}  // namespace
}  // namespace scoreconv
