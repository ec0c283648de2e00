// The MusicXML writer: small scores driven through its operations the way a
// converter does, saved, checked for well-formedness and read back with our
// own MusicXML reader; the measure-level rules on the document as built.
#include "musicxml/mxml_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/convert_proc.h"
#include "musicxml/mxml_file.h"
#include "musicxml/output_elements.h"
#include "mxml_load_support.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {
namespace {

namespace fs = std::filesystem;
using scorecore::CEventBarline;
using scorecore::CScoreEvent;
using scorecore::CVxmlStaffLayout;
using scorecore::kOk;

constexpr std::string_view kStartTemplate =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n"
    "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 3.0 Partwise//EN\" "
    "\"http://www.musicxml.org/dtds/partwise.dtd\">\n"
    "<score-partwise version=\"3.0\"></score-partwise>\n";

CVxmlStaffLayout layout(std::string name, uint8_t program = 0, bool percussion = false) {
    CVxmlStaffLayout l;
    l.instrumentName = std::move(name);
    l.abbreviation = l.instrumentName.substr(0, 3) + ".";
    l.program = program;
    l.percussion = percussion ? 1 : 0;
    return l;
}

// A note or chord of TvrXML pitches ("C5" is middle C) and a duration text.
CScoreEvent chord(std::initializer_list<std::string_view> pitches, int32_t ticks, std::string base) {
    CScoreEvent e;
    e.setKind(scorecore::kKindNote);
    for (const std::string_view p : pitches) {
        e.appendHead(0);
        e.appendPitch(p.substr(0, 2));
        e.appendAlter(p.size() > 2 ? p.substr(2) : "**");
        ++e.headCount;
    }
    e.updateMidiKeys();
    e.duration = ticks;
    e.baseText = std::move(base);
    return e;
}

CScoreEvent rest(int32_t ticks, std::string base) {
    CScoreEvent e;
    e.setKind(scorecore::kKindRest);
    e.duration = ticks;
    e.baseText = std::move(base);
    return e;
}

// A file writing into a fresh folder that holds the start template.
struct Writer {
    Writer() : cwd(folder.path()) {
        platform::testing::writeBytes(folder.path() / "start.xml", std::string(kStartTemplate));
        file = CMxmlFile::newFile(nullptr, kModeTvrxml, &signal, 480, "qvp3 test", nullptr);
        EXPECT_EQ(createOutputDocument(*file), kOk);
        EXPECT_EQ(appendIdentification(*file, {"A. Author", "kw", "a comment"}), kOk);
        EXPECT_EQ(scorecore::xmldomAppendElement(scorecore::XmlElementArgs(file->document, nullptr, "part-list")
                                                     .out(&partList)),
                  kOk);
    }
    // Score parts in order, then the part list goes under the root.
    void declareParts(const std::vector<CVxmlStaffLayout>& layouts) {
        for (const CVxmlStaffLayout& l : layouts) ASSERT_EQ(appendScorePart(*file, partList, l), kOk);
        ASSERT_EQ(scorecore::xmldomAppendChild(file->document, file->writer.root, partList, 1, true, true), kOk);
    }
    void startPart(int32_t index, const CVxmlStaffLayout& l, bool withAttributes = true) {
        ASSERT_EQ(appendPart(*file, index, l, nullptr), kOk);
        if (withAttributes) {
            const CMxmlClef treble{0, 1, 2};
            const CMxmlTime fourFour{4, 2, 0};
            ASSERT_EQ(appendAttributes(*file, -1, 480, nullptr, &treble, int8_t{0}, &fourFour, std::nullopt, 0), kOk);
        }
    }
    void note(CScoreEvent e, int32_t voice = 0) { ASSERT_EQ(appendNote(*file, e, voice), kOk); }
    void nextMeasure() { ASSERT_EQ(appendMeasure(*file, nullptr), kOk); }
    // Finishes and saves; the path of the saved file.
    fs::path save(std::string_view name = "out.xml") {
        EXPECT_EQ(appendPartsToScore(*file), kOk);
        const fs::path path = folder.path() / name;
        EXPECT_EQ(saveFile(*file, path), kOk);
        return path;
    }

    platform::testing::TempFolder folder;
    testing::CurrentFolder cwd;
    int signal = 0;
    std::unique_ptr<CMxmlFile> file;
    xmlNodePtr partList = nullptr;
};


// The element as text without the indentation.
std::string compact(const scorecore::XmlDocument& doc, xmlNodePtr node) {
    xmlBufferPtr buffer = xmlBufferCreate();
    xmlNodeDump(buffer, doc.get(), node, 0, 0);
    std::string out;
    for (const char c : std::string_view(reinterpret_cast<const char*>(xmlBufferContent(buffer)))) {
        if (c != '\n' && c != '\t') out += c;
    }
    xmlBufferFree(buffer);
    return out;
}

int countElements(const xmlNode* node, std::string_view name) {
    int n = 0;
    for (const xmlNode* c = node; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (scorecore::xmldomNodeName(c) == name) ++n;
        n += countElements(c->children, name);
    }
    return n;
}

// The current measure of the current part, as text.
std::string currentMeasure(const Writer& w) {
    const auto& part = w.file->writer.parts.at(static_cast<std::size_t>(w.file->writerPart));
    return compact(w.file->document, part.group.items.at(static_cast<std::size_t>(w.file->writerMeasure)).node);
}

// Same element names, attributes (in order) and texts, child by child; the
// encoding date is the day of writing.
void expectSameElements(const xmlNode* expected, const xmlNode* actual, const std::string& at) {
    ASSERT_NE(actual, nullptr) << at << ": missing";
    const std::string name = scorecore::xmldomNodeName(expected);
    const std::string path = at + name + "/";
    ASSERT_EQ(scorecore::xmldomNodeName(actual), name) << at;
    scorecore::CAttrList want;
    scorecore::CAttrList got;
    scorecore::xmldomReadAttributes(expected, want);
    scorecore::xmldomReadAttributes(actual, got);
    ASSERT_EQ(got.count(), want.count()) << path;
    for (int i = 0; i < want.count(); ++i) {
        EXPECT_EQ(got.attrName(i), want.attrName(i)) << path;
        EXPECT_EQ(got.value(i), want.value(i)) << path;
    }
    std::vector<const xmlNode*> wantChildren;
    std::vector<const xmlNode*> gotChildren;
    for (const xmlNode* c = expected->children; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) wantChildren.push_back(c);
    }
    for (const xmlNode* c = actual->children; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) gotChildren.push_back(c);
    }
    if (wantChildren.empty() && name != "encoding-date") {
        EXPECT_EQ(scorecore::xmldomNodeText(actual), scorecore::xmldomNodeText(expected)) << path;
    }
    ASSERT_EQ(gotChildren.size(), wantChildren.size()) << path;
    for (std::size_t i = 0; i < wantChildren.size(); ++i) expectSameElements(wantChildren[i], gotChildren[i], path);
}

struct ReadNote {
    int32_t staff;
    int32_t start;
    int32_t duration;
    int32_t key;
    bool operator==(const ReadNote&) const = default;
};

std::ostream& operator<<(std::ostream& out, const ReadNote& n) {
    return out << "{staff " << n.staff << " at " << n.start << " for " << n.duration << " key " << n.key << "}";
}

// Every note of the play model, staff by staff in time order. A percussion
// note is given by the key of its instrument.
std::vector<ReadNote> notesOf(const CMxmlFile& file) {
    std::vector<ReadNote> out;
    for (int32_t staff = 0; staff + 1 < file.events.rowCount(); ++staff) {
        std::vector<ReadNote> row;
        for (int32_t v = 0; v < file.events.voiceCount(staff); ++v) {
            for (const CScoreEvent& e : file.events.events(staff, v)) {
                if (!e.isKind(scorecore::kKindNote)) continue;
                for (int32_t h = 0; h < e.headCount; ++h) {
                    auto key = static_cast<int32_t>((e.midi[static_cast<std::size_t>(h)] >> 8) & 0xFF);
                    for (const scorecore::CMidiInstr& instr : file.instruments.list(staff)) {
                        if (key > 127 && instr.hasPercNote() && instr.SrcProgPercId == key) key = instr.PercNote;
                    }
                    row.push_back({staff, e.start, e.duration, key});
                }
            }
        }
        std::stable_sort(row.begin(), row.end(), [](const ReadNote& a, const ReadNote& b) {
            return a.start != b.start ? a.start < b.start : a.key < b.key;
        });
        out.insert(out.end(), row.begin(), row.end());
    }
    return out;
}

}  // namespace

namespace {

CScoreEvent drum(int32_t key, int32_t ticks, std::string base) {
    CScoreEvent e = chord({"C5"}, ticks, std::move(base));
    e.midi[0] = 0x99u | static_cast<uint32_t>(key) << 8 | 100u << 16;
    return e;
}

CEventBarline barline(int32_t kind, int32_t side = 0, std::string label = {}, uint8_t closed = 1) {
    CEventBarline b;
    b.type = kind;
    b.present = side;
    b.endingLabel = std::move(label);
    b.leftDown = closed;
    b.rightDown = closed;
    return b;
}

struct ScoreCase {
    const char* name;
    std::vector<CVxmlStaffLayout> parts;
    std::function<void(Writer&)> write;  // after the part list
    std::vector<int> measures;           // per part
    std::vector<ReadNote> notes;         // as our reader plays them
    std::vector<std::pair<const char*, int>> elements;  // element counts of the document
    const char* golden = nullptr;  // hand-checked file in data/, compared element by element
};

// Writes every part from index 0 with the case's own body per part.
std::vector<ScoreCase> scoreCases() {
    CVxmlStaffLayout drums = layout("Drums", 0, true);
    drums.addDrumMapEntry(36, 36);
    drums.addDrumMapEntry(38, 40);
    return {
        {"chord, then a note tied over the bar line",
         {layout("Piano")},
         [](Writer& w) {
             w.startPart(0, layout("Piano"));
             w.note(chord({"C5", "E5", "G5"}, 480, "1/4"));
             w.note(rest(480, "1/4"));
             CScoreEvent tied = chord({"F5+1"}, 960, "1/2");
             tied.setTie(scorecore::kTieStart);
             w.note(tied);
             w.nextMeasure();
             CScoreEvent end = chord({"F5+1"}, 960, "1/2");
             end.setTie(scorecore::kTieEnd);
             w.note(end);
             w.note(rest(960, "1/2"));
         },
         {2},
         {{0, 0, 480, 60}, {0, 0, 480, 64}, {0, 0, 480, 67}, {0, 960, 1920, 66}},
         {{"chord", 2}, {"tie", 2}, {"alter", 2}, {"rest", 2}},
         "writer_tied_chord.xml"},
        {"grace note and a triplet",
         {layout("Flute", 73)},
         [](Writer& w) {
             w.startPart(0, layout("Flute", 73));
             CScoreEvent grace = chord({"D6"}, 0, "1/8");
             grace.setKind(scorecore::kKindGrace);
             grace.setStem(4);
             w.note(grace);
             for (const auto& [pitch, bracket] : {std::pair{"C6", 1}, std::pair{"D6", 0}, std::pair{"E6", 2}}) {
                 CScoreEvent t = chord({pitch}, 160, "1/8");
                 t.tupletCount = 3;
                 t.tupletNormal = 2;
                 t.bracketPresent = bracket;
                 t.bracketNoteRange = bracket == 1 ? 2 : -1;
                 w.note(t);
             }
             w.note(chord({"F6"}, 1440, "1/2"));
         },
         {1},
         // The grace note takes its time from the note after it.
         {{0, 0, 30, 74}, {0, 30, 130, 72}, {0, 160, 160, 74}, {0, 320, 160, 76}, {0, 480, 1440, 77}},
         {{"grace", 1}, {"time-modification", 3}, {"tuplet", 2}}},
        {"two voices with a backup",
         {layout("Organ", 19)},
         [](Writer& w) {
             w.startPart(0, layout("Organ", 19));
             w.note(chord({"E5"}, 960, "1/2"), 0);
             w.note(chord({"G5"}, 960, "1/2"), 0);
             ASSERT_EQ(appendBackup(*w.file, 1920), kOk);
             w.note(chord({"C4"}, 1920, "1/1"), 1);
         },
         {1},
         {{0, 0, 1920, 48}, {0, 0, 960, 64}, {0, 960, 960, 67}},
         {{"backup", 1}, {"voice", 3}}},
        {"repeat with first and second ending",
         {layout("Violin", 40)},
         [](Writer& w) {
             w.startPart(0, layout("Violin", 40));
             ASSERT_EQ(appendBarline(*w.file, -1, barline(kBarRepeatForward)), kOk);
             w.note(chord({"A5"}, 1920, "1/1"));
             w.nextMeasure();
             ASSERT_EQ(appendBarline(*w.file, -1, barline(kBarEnding, kEndingStart, "1")), kOk);
             w.note(chord({"B5"}, 1920, "1/1"));
             ASSERT_EQ(setMeasureAttributes(*w.file, barline(kBarEnding, kEndingStop, "1")), kOk);
             CEventBarline pending;
             ASSERT_EQ(getMeasureAttributes(*w.file, pending), kOk);
             ASSERT_EQ(appendBarline(*w.file, -1, pending), kOk);
             ASSERT_EQ(appendBarline(*w.file, -1, barline(kBarRepeatBackward)), kOk);
             w.nextMeasure();
             ASSERT_EQ(appendBarline(*w.file, -1, barline(kBarEnding, kEndingStart, "2")), kOk);
             w.note(chord({"C6"}, 1920, "1/1"));
             ASSERT_EQ(appendBarline(*w.file, -1, barline(kBarEnding, kEndingStop, "2", 0)), kOk);
         },
         {3},
         {{0, 0, 1920, 69}, {0, 1920, 1920, 71}, {0, 3840, 1920, 72}},
         {{"barline", 5}, {"ending", 4}, {"repeat", 2}},
         "writer_repeat_endings.xml"},
        {"transposing instrument",
         {layout("Clarinet in B", 71)},
         [](Writer& w) {
             ASSERT_EQ(appendPart(*w.file, 0, layout("Clarinet in B", 71), nullptr), kOk);
             const CMxmlClef treble{0, 1, 2};
             ASSERT_EQ(appendAttributes(*w.file, -1, 480, nullptr, &treble, int8_t{2}, nullptr, std::nullopt, -2),
                       kOk);
             w.note(chord({"D6"}, 1920, "1/1"));
         },
         {1},
         {{0, 0, 1920, 72}},
         {{"transpose", 1}, {"diatonic", 1}}},
        {"part group of two staves, lyrics and drums",
         {layout("Soprano", 52), layout("Alto", 52), drums},
         [drums](Writer& w) {
             for (int32_t p = 0; p < 2; ++p) {
                 w.startPart(p, layout(p == 0 ? "Soprano" : "Alto", 52));
                 CScoreEvent sung = chord({p == 0 ? "G5" : "E5"}, 1920, "1/1");
                 scorecore::CScoreLyric syllable;
                 syllable.number = 2;
                 syllable.text = p == 0 ? "Glo" : "A";
                 syllable.extender = p == 0 ? 0 : 1;
                 sung.appendLyric(syllable);
                 w.note(sung);
             }
             w.startPart(2, drums);
             w.note(drum(36, 960, "1/2"));
             w.note(drum(38, 960, "1/2"));
         },
         {1, 1, 1},
         // The drum written with key 38 sounds 40, as the staff's map says.
         {{0, 0, 1920, 67}, {1, 0, 1920, 64}, {2, 0, 960, 36}, {2, 960, 960, 40}},
         {{"part-group", 2}, {"group-symbol", 1}, {"lyric", 2}, {"extend", 1}, {"unpitched", 2}, {"instrument", 2}},
         "writer_group_lyrics_drums.xml"},
    };
}

}  // namespace

TEST(MxmlWriterScores, AreWellFormedAndReadBackAsWritten) {
    const bool haveXmllint = std::system("xmllint --version > /dev/null 2>&1") == 0;
    for (const ScoreCase& c : scoreCases()) {
        SCOPED_TRACE(c.name);
        Writer w;
        // The first two staves share a bracket when there are three.
        if (c.parts.size() == 3) {
            const CMxmlBracket group{1, 0, 1, 0};
            CVxmlStaffLayout first = c.parts[0];
            first.pairName = "Choir";
            ASSERT_EQ(appendPartGroup(*w.file, w.partList, true, group, &first), kOk);
            ASSERT_EQ(appendScorePart(*w.file, w.partList, c.parts[0]), kOk);
            ASSERT_EQ(appendScorePart(*w.file, w.partList, c.parts[1]), kOk);
            ASSERT_EQ(appendPartGroup(*w.file, w.partList, false, group, nullptr), kOk);
            ASSERT_EQ(appendScorePart(*w.file, w.partList, c.parts[2]), kOk);
            ASSERT_EQ(scorecore::xmldomAppendChild(w.file->document, w.file->writer.root, w.partList, 1, true, true),
                      kOk);
        } else {
            w.declareParts(c.parts);
        }
        c.write(w);
        const fs::path path = w.save();

        const std::string text = platform::testing::readBytes(path);
        EXPECT_NE(text.find("<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 3.0 Partwise//EN\""),
                  std::string::npos);
        if (haveXmllint) {
            EXPECT_EQ(std::system(("xmllint --noout --nonet '" + path.string() + "'").c_str()), 0);
        }
        scorecore::XmlDocument doc;
        ASSERT_EQ(scorecore::xmldomParseMemory(text, doc), kOk);
        xmlNodePtr root = doc.root();
        ASSERT_EQ(scorecore::xmldomNodeName(root), "score-partwise");
        EXPECT_EQ(countElements(root, "identification"), 1);
        EXPECT_EQ(countElements(root, "creator"), 2);
        EXPECT_EQ(countElements(root, "score-part"), static_cast<int>(c.parts.size()));
        std::vector<int> measures;
        for (xmlNodePtr part = root->children; part != nullptr; part = part->next) {
            if (scorecore::xmldomNodeName(part) == "part") measures.push_back(countElements(part->children, "measure"));
        }
        EXPECT_EQ(measures, c.measures);
        for (const auto& [name, count] : c.elements) EXPECT_EQ(countElements(root, name), count) << name;
        if (c.golden != nullptr) {
            scorecore::XmlDocument expected;
            ASSERT_EQ(scorecore::xmldomParseMemory(platform::testing::readBytes(testing::fixture(c.golden)), expected),
                      kOk);
            expectSameElements(expected.root(), root, "/");
        }

        testing::LoggedFile reader;
        const fs::path folders[] = {testing::styleSheetFolder()};
        ASSERT_EQ(loadPlayModel(*reader.file, path, folders), kOk);
        EXPECT_EQ(reader.file->staffCount(), static_cast<int32_t>(c.parts.size()));
        EXPECT_EQ(notesOf(*reader.file), c.notes);
    }
}

// --- frame -------------------------------------------------------------------------------

TEST(MxmlWriterFrame, InstrumentIdsNumberAcrossPartsAndDrumsByKey) {
    Writer w;
    CVxmlStaffLayout drums = layout("Drums", 0, true);
    drums.addDrumMapEntry(37, 37);
    CVxmlStaffLayout violin = layout("Violin", 40);
    violin.preferredChannel = 3;
    w.declareParts({layout("Piano"), violin, drums});
    struct Case {
        int part;
        const char* expected;
    };
    const Case cases[] = {
        {0,
         "<score-part id=\"P1\"><part-name>Piano</part-name><part-abbreviation>Pia.</part-abbreviation>"
         "<score-instrument id=\"P1-I1\"><instrument-name>Concert grand</instrument-name></score-instrument>"
         "<midi-instrument id=\"P1-I1\"><midi-channel>1</midi-channel><midi-program>1</midi-program>"
         "</midi-instrument></score-part>"},
        {1,
         "<score-part id=\"P2\"><part-name>Violin</part-name><part-abbreviation>Vio.</part-abbreviation>"
         "<score-instrument id=\"P2-I2\"><instrument-name>Violin</instrument-name></score-instrument>"
         "<midi-instrument id=\"P2-I2\"><midi-channel>4</midi-channel><midi-program>41</midi-program>"
         "</midi-instrument></score-part>"},
        {2,
         "<score-part id=\"P3\"><part-name>Drums</part-name><part-abbreviation>Dru.</part-abbreviation>"
         "<score-instrument id=\"P3-M38\"><instrument-name>MIDI 38</instrument-name></score-instrument>"
         "<midi-instrument id=\"P3-M38\"><midi-channel>10</midi-channel><midi-program>1</midi-program>"
         "<midi-unpitched>38</midi-unpitched></midi-instrument></score-part>"},
    };
    for (const Case& c : cases) {
        xmlNodePtr scorePart = nullptr;
        ASSERT_EQ(scorecore::xmldomGetChildN(w.partList, "score-part", c.part, &scorePart), kOk);
        EXPECT_EQ(compact(w.file->document, scorePart), c.expected);
    }
    // The staves the score parts declared, with their instruments.
    ASSERT_EQ(w.file->staffCount(), 3);
    ASSERT_EQ(w.file->instruments.count(2), 1);
    EXPECT_EQ(w.file->instruments.at(2, 0)->PercNote, 37);
    EXPECT_EQ(w.file->instruments.at(2, 0)->SrcChannel, 9);
    EXPECT_EQ(w.file->instruments.at(1, 0)->SrcChannel, 3);
}

TEST(MxmlWriterFrame, PartGroupsNumberByDepthAndNameTheirSymbol) {
    struct Case {
        const char* name;
        bool start;
        CMxmlBracket bracket;
        bool withTexts;
        const char* expected;
    };
    const Case cases[] = {
        {"outer brace with texts", true, {2, 0, 1, 0}, true,
         "<part-group type=\"start\" number=\"1\"><group-name>Piano</group-name>"
         "<group-abbreviation>Pno.</group-abbreviation><group-symbol>brace</group-symbol></part-group>"},
        {"nested bracket", true, {1, 0, 3, 1}, false,
         "<part-group type=\"start\" number=\"2\"><group-symbol>bracket</group-symbol></part-group>"},
        {"other kind is a line", true, {7, 0, 3, 0}, false,
         "<part-group type=\"start\" number=\"1\"><group-symbol>line</group-symbol></part-group>"},
        {"stop", false, {1, 0, 3, 1}, true, "<part-group type=\"stop\" number=\"2\"/>"},
    };
    for (const Case& c : cases) {
        Writer w;
        CVxmlStaffLayout piano = layout("Piano");
        piano.pairName = "Piano";
        piano.pairAbbreviation = "Pno.";
        ASSERT_EQ(appendPartGroup(*w.file, w.partList, c.start, c.bracket, c.withTexts ? &piano : nullptr), kOk);
        xmlNodePtr group = nullptr;
        ASSERT_EQ(scorecore::xmldomGetChild(w.partList, "part-group", &group), kOk) << c.name;
        EXPECT_EQ(compact(w.file->document, group), c.expected) << c.name;
    }
}

TEST(MxmlWriterFrame, MeasuresCountOnUnlessARecordRenumbersThem) {
    Writer w;
    w.declareParts({layout("Piano")});
    ASSERT_EQ(appendPart(*w.file, 0, layout("Piano"), nullptr), kOk);
    CMeasureNumbering restart{true, 0, false};
    CMeasureNumbering offset{false, 4, false};
    CMeasureNumbering* const records[] = {nullptr, &restart, nullptr, &offset, &offset, &restart};
    for (CMeasureNumbering* r : records) ASSERT_EQ(appendMeasure(*w.file, r), kOk);
    std::vector<int32_t> numbers;
    for (const auto& m : w.file->writer.parts[0].group.items) {
        numbers.push_back(std::stoi(scorecore::xmldomAttribute(m.node, "number").value_or("0")));
    }
    // A record counts once: the second use of each changes nothing.
    EXPECT_EQ(numbers, (std::vector<int32_t>{1, 2, 1, 2, 7, 8, 9}));
    EXPECT_EQ(w.file->writerMeasure, 6);
}

TEST(MxmlWriterFrame, PartsJoinTheScoreOnlyAtTheEndInTheirOrder) {
    Writer w;
    w.declareParts({layout("Piano"), layout("Violin", 40)});
    w.startPart(0, layout("Piano"), false);
    w.nextMeasure();
    w.startPart(1, layout("Violin", 40), false);
    // The second part is filled first, then the first one again.
    w.note(chord({"C5"}, 1920, "1/1"));
    w.file->setWriterCursor(0, 1, 0);
    w.note(chord({"D5"}, 1920, "1/1"));
    EXPECT_EQ(countElements(w.file->writer.root, "part"), 0);
    EXPECT_EQ(countElements(w.file->writer.root, "measure"), 0);

    ASSERT_EQ(appendPartsToScore(*w.file), kOk);
    std::vector<std::string> children;
    for (xmlNodePtr c = w.file->writer.root->children; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE) {
            children.push_back(scorecore::xmldomNodeName(c) + scorecore::xmldomAttribute(c, "id").value_or(""));
        }
    }
    EXPECT_EQ(children, (std::vector<std::string>{"identification", "part-list", "partP1", "partP2"}));
    xmlNodePtr first = nullptr;
    ASSERT_EQ(scorecore::xmldomGetChildN(w.file->writer.root, "part", 0, &first), kOk);
    xmlNodePtr second = nullptr;
    ASSERT_EQ(scorecore::xmldomGetChildN(first, "measure", 1, &second), kOk);
    EXPECT_EQ(countElements(second->children, "note"), 1);
    ASSERT_EQ(w.file->writer.parts.size(), 2u);
    for (const CMxmlWriterPart& p : w.file->writer.parts) {
        EXPECT_EQ(p.group.node, nullptr);
        EXPECT_EQ(p.group.itemCount(), 0);
    }
    // The root's closing tag starts a line; the last measure's stands two tabs in.
    std::string text;
    ASSERT_EQ(scorecore::xmldomSaveToString(w.file->document, text), kOk);
    EXPECT_NE(text.find("\t\t</measure>\n\t</part>\n</score-partwise>"), std::string::npos);
}

TEST(MxmlWriterFrame, MissingPartsAndMeasuresAreRefused) {
    Writer w;
    w.declareParts({layout("Piano")});
    CScoreEvent note = chord({"C5"}, 480, "1/4");
    CEventBarline ending = barline(kBarEnding, kEndingStop, "1");
    struct Case {
        const char* name;
        std::function<int()> call;
    };
    const Case cases[] = {
        {"note", [&] { return appendNote(*w.file, note, 0); }},
        {"tempo", [&] { return appendSoundTempo(*w.file, 90); }},
        {"barline", [&] { return appendBarline(*w.file, -1, barline(kBarFinal)); }},
        {"direction", [&] { return appendDirection(*w.file, note); }},
        {"backup", [&] { return appendBackup(*w.file, 480); }},
        {"attributes", [&] { return appendAttributes(*w.file, -1, 480, nullptr, nullptr, std::nullopt, nullptr,
                                                     std::nullopt, 0); }},
        {"measure", [&] { return appendMeasure(*w.file, nullptr); }},
        {"set ending", [&] { return setMeasureAttributes(*w.file, ending); }},
        {"get ending", [&] { return getMeasureAttributes(*w.file, ending); }},
        {"part out of order", [&] { return appendPart(*w.file, 1, layout("Piano"), nullptr); }},
    };
    for (const Case& c : cases) EXPECT_EQ(c.call(), scorecore::kErrIndex) << c.name << ", no part yet";

    ASSERT_EQ(appendPart(*w.file, 0, layout("Piano"), nullptr), kOk);
    w.file->setWriterCursor(0, 1, 0);  // one past the part's only measure
    for (const Case& c : cases) {
        // Neither needs a current measure.
        if (std::string_view(c.name) == "measure" || std::string_view(c.name) == "part out of order") continue;
        EXPECT_EQ(c.call(), scorecore::kErrIndex) << c.name << ", measure past the end";
    }
    EXPECT_EQ(ending.type, kBarEnding);
    w.file->setWriterCursor(3, 0, 0);
    EXPECT_EQ(appendNote(*w.file, note, 0, -1), scorecore::kErrIndex);
    EXPECT_EQ(countElements(w.file->writer.parts[0].group.items[0].node->children, "note"), 0);
}

TEST(MxmlWriterFrame, DamagedTemplateNoDocument) {
    platform::testing::TempFolder folder;
    testing::CurrentFolder cwd(folder.path());
    // A template found is used or refused, never passed over for the built-in one.
    platform::testing::writeBytes(folder.path() / "start.xml", std::string(kStartTemplate.substr(0, 150)));
    int signal = 0;
    auto file = CMxmlFile::newFile(nullptr, kModeTvrxml, &signal, 480, "qvp3", nullptr);
    EXPECT_EQ(createOutputDocument(*file), scorecore::kErrXmlDocument);
    EXPECT_FALSE(file->document);
    EXPECT_EQ(appendIdentification(*file, {}), scorecore::kErrXmlElement);
}

TEST(MxmlWriterFrame, WithoutTemplateFileTheBuiltInOneServes) {
    platform::testing::TempFolder empty;
    testing::CurrentFolder cwd(empty.path());
    int signal = 0;
    auto file = CMxmlFile::newFile(nullptr, kModeTvrxml, &signal, 480, "qvp3", nullptr);
    ASSERT_EQ(createOutputDocument(*file), kOk);
    ASSERT_NE(file->writer.root, nullptr);
    EXPECT_EQ(scorecore::xmldomNodeName(file->writer.root), "score-partwise");
    EXPECT_EQ(appendIdentification(*file, {}), kOk);
    const fs::path saved = empty.path() / "out.xml";
    ASSERT_EQ(saveFile(*file, saved), kOk);
    EXPECT_NE(platform::testing::readBytes(saved).find("<!DOCTYPE score-partwise PUBLIC"), std::string::npos);
}

// --- measure contents ------------------------------------------------------------------

// The first measure holding content, as compact() gives it.
std::string firstMeasure(std::string_view content) {
    if (content.empty()) return "<measure number=\"1\"/>";
    return "<measure number=\"1\">" + std::string(content) + "</measure>";
}

// A writer with one part whose first measure is current.
struct OnePart : Writer {
    OnePart() {
        declareParts({layout("Piano")});
        startPart(0, layout("Piano"), false);
    }
};

TEST(MxmlWriterMeasure, AttributesCollectInOneElement) {
    const CMxmlClef bass{2, 1, 4};
    const CMxmlClef trebleDown{0, 2, 2};
    const CMxmlClef altoUp{1, 0, 3};
    const CMxmlTime common{4, 2, 1};
    const CMxmlTime cut{2, 1, 2};
    const CMxmlTime hidden{3, 3, 3};
    const CMxmlTime spelled{6, 3, 9};
    const CMxmlMeasureStyle multiRest{3, 5};
    using Call = std::function<void(CMxmlFile&)>;
    const auto attrs = [](int32_t divisions, const CMxmlMeasureStyle* style, const CMxmlClef* clef,
                          std::optional<int8_t> fifths, const CMxmlTime* time,
                          std::optional<std::string_view> lines, int32_t transposition) -> Call {
        return [=](CMxmlFile& f) {
            ASSERT_EQ(appendAttributes(f, -1, divisions, style, clef, fifths, time, lines, transposition), kOk);
        };
    };
    struct Case {
        const char* name;
        std::vector<Call> calls;
        const char* expected;
    };
    const Case cases[] = {
        {"clefs by sign and octave",
         {attrs(0, nullptr, &bass, {}, nullptr, {}, 0), attrs(0, nullptr, &trebleDown, {}, nullptr, {}, 0),
          attrs(0, nullptr, &altoUp, {}, nullptr, {}, 0)},
         "<measure number=\"1\"><attributes><clef><sign>F</sign><line>4</line></clef>"
         "<clef><sign>G</sign><line>2</line><clef-octave-change>-1</clef-octave-change></clef>"
         "<clef><sign>C</sign><line>3</line><clef-octave-change>1</clef-octave-change></clef>"
         "</attributes></measure>"},
        {"time symbols",
         {attrs(0, nullptr, nullptr, {}, &common, {}, 0), attrs(0, nullptr, nullptr, {}, &cut, {}, 0),
          attrs(0, nullptr, nullptr, {}, &hidden, {}, 0), attrs(0, nullptr, nullptr, {}, &spelled, {}, 0)},
         "<measure number=\"1\"><attributes>"
         "<time symbol=\"common\"><beats>4</beats><beat-type>4</beat-type></time>"
         "<time symbol=\"cut\"><beats>2</beats><beat-type>2</beat-type></time>"
         "<time print-object=\"no\"><beats>3</beats><beat-type>8</beat-type></time>"
         "<time symbol=\"normal\"><beats>6</beats><beat-type>8</beat-type></time></attributes></measure>"},
        {"a second key replaces the fifths",
         {attrs(480, nullptr, nullptr, int8_t{-3}, nullptr, {}, 0),
          attrs(0, nullptr, nullptr, int8_t{2}, nullptr, {}, 0)},
         "<measure number=\"1\"><attributes><divisions>480</divisions>"
         "<key><fifths>2</fifths><mode>major</mode></key></attributes></measure>"},
        {"transposition down a tone",
         {attrs(0, nullptr, nullptr, {}, nullptr, {}, -2)},
         "<measure number=\"1\"><attributes><transpose><diatonic>-2</diatonic><chromatic>-2</chromatic>"
         "</transpose></attributes></measure>"},
        {"transposition up a fifth",
         {attrs(0, nullptr, nullptr, {}, nullptr, {}, 7)},
         "<measure number=\"1\"><attributes><transpose><diatonic>4</diatonic><chromatic>7</chromatic>"
         "</transpose></attributes></measure>"},
        {"staff lines only when not five",
         {attrs(0, nullptr, nullptr, {}, nullptr, std::string_view("|||||"), 0),
          attrs(0, nullptr, nullptr, {}, nullptr, std::string_view("|||"), 0)},
         "<measure number=\"1\"><attributes><staff-details><staff-lines>3</staff-lines></staff-details>"
         "</attributes></measure>"},
        {"multiple rest stays behind key and time",
         {attrs(0, &multiRest, nullptr, int8_t{1}, &common, {}, 0)},
         "<measure number=\"1\"><attributes><key><fifths>1</fifths><mode>major</mode></key>"
         "<time symbol=\"common\"><beats>4</beats><beat-type>4</beat-type></time>"
         "<measure-style><multiple-rest>5</multiple-rest></measure-style></attributes></measure>"},
        {"a clef after a note opens new attributes, a key joins the first",
         {attrs(480, nullptr, nullptr, {}, nullptr, {}, 0),
          [](CMxmlFile& f) {
              CScoreEvent n = chord({"C5"}, 480, "1/4");
              ASSERT_EQ(appendNote(f, n, 0), kOk);
          },
          attrs(0, nullptr, &bass, {}, nullptr, {}, 0), attrs(0, nullptr, nullptr, int8_t{-1}, nullptr, {}, 0)},
         "<measure number=\"1\"><note><pitch><step>C</step><octave>4</octave></pitch><duration>480</duration>"
         "<voice>1</voice><type>quarter</type></note><attributes><clef><sign>F</sign><line>4</line></clef>"
         "</attributes><attributes><divisions>480</divisions><key><fifths>-1</fifths><mode>major</mode></key>"
         "</attributes></measure>"},
    };
    for (const Case& c : cases) {
        OnePart w;
        for (const Call& call : c.calls) call(*w.file);
        EXPECT_EQ(currentMeasure(w), c.expected) << c.name;
    }
}

TEST(MxmlWriterMeasure, BarlinesByKind) {
    struct Case {
        std::vector<CEventBarline> barlines;
        const char* expected;
    };
    const Case cases[] = {
        {{barline(kBarRegular)}, "<barline location=\"left\"><bar-style>regular</bar-style></barline>"},
        {{barline(kBarLightLight)}, "<barline location=\"right\"><bar-style>light-light</bar-style></barline>"},
        {{barline(kBarFinal)}, "<barline location=\"right\"><bar-style>light-heavy</bar-style></barline>"},
        {{barline(kBarRepeatBackwardEnd)},
         "<barline location=\"right\"><bar-style>light-heavy</bar-style><repeat direction=\"backward\"/></barline>"},
        {{barline(kBarRepeatForward)},
         "<barline location=\"left\"><bar-style>heavy-light</bar-style><repeat direction=\"forward\"/></barline>"},
        {{barline(kBarEnding, kEndingStart, "1", 0)},
         "<barline location=\"left\"><ending type=\"discontinue\" number=\"1\"/></barline>"},
        // The ending stop is reused by the repeat and ends up behind its bar style.
        {{barline(kBarEnding, kEndingStop, "1"), barline(kBarRepeatBackward)},
         "<barline location=\"right\"><bar-style>light-heavy</bar-style><ending type=\"stop\" number=\"1\"/>"
         "<repeat direction=\"backward\"/></barline>"},
        {{barline(7), barline(-1)}, ""},
    };
    for (const Case& c : cases) {
        OnePart w;
        for (const CEventBarline& b : c.barlines) ASSERT_EQ(appendBarline(*w.file, -1, b), kOk);
        EXPECT_EQ(currentMeasure(w), firstMeasure(c.expected))
            << c.expected;
    }
}

TEST(MxmlWriterMeasure, DirectionsFollowTheirSwitches) {
    const auto dynamic = [](int32_t code) {
        CScoreEvent e;
        e.dynamic.code = code;
        return e;
    };
    const auto wedge = [](int32_t code, float spread, int32_t start, int32_t end) {
        CScoreEvent e;
        scorecore::CScoreWedge w;
        w.code = code;
        w.spanFactor = spread;
        w.startOffset = start;
        w.endOffset = end;
        w.placement = 1;
        e.appendWedge(w);
        return e;
    };
    const auto words = [](std::string face, int32_t offsetX, uint8_t bold) {
        CScoreEvent e;
        scorecore::CScoreText t;
        t.text = "dolce";
        t.face = std::move(face);
        t.offsetX = offsetX;
        t.bold = bold;
        t.italic = 1;
        t.height = 12;
        e.appendText(t);
        return e;
    };
    const auto symbol = [](int32_t code, float position) {
        CScoreEvent e;
        scorecore::CScoreOrnament o;
        o.code = code;
        o.position = position;
        o.placement = 2;
        e.appendOrnament(o);
        return e;
    };
    struct Case {
        const char* name;
        CScoreEvent event;
        int32_t props;
        const char* expected;
    };
    const Case cases[] = {
        {"piano", dynamic(44), -1,
         "<direction placement=\"below\"><direction-type><dynamics relative-x=\"-5\"><p/></dynamics>"
         "</direction-type></direction>"},
        {"piano without its switch", dynamic(44), -1 & ~kConvDynamics, ""},
        {"sfz", dynamic(-3), -1,
         "<direction placement=\"below\"><direction-type><dynamics relative-x=\"-11\"><sfz/></dynamics>"
         "</direction-type></direction>"},
        {"a level outside the table", dynamic(50), -1, ""},
        {"crescendo spreads 0", wedge(scorecore::kWedgeCrescendo, 1.5f, 2, 0), -1,
         "<direction placement=\"above\"><direction-type><wedge type=\"crescendo\" spread=\"0\"/></direction-type>"
         "<offset>64</offset></direction>"},
        {"diminuendo spreads its value", wedge(scorecore::kWedgeDiminuendo, -1.5f, 0, 3), -1,
         "<direction placement=\"above\"><direction-type><wedge type=\"diminuendo\" spread=\"15\"/>"
         "</direction-type></direction>"},
        {"wedge end takes the end offset", wedge(scorecore::kWedgeStop, 2.0f, 5, 1), -1,
         "<direction placement=\"above\"><direction-type><wedge type=\"stop\" spread=\"20\"/></direction-type>"
         "<offset>32</offset></direction>"},
        {"wedge without its switch", wedge(scorecore::kWedgeCrescendo, 1.0f, 0, 0), kConvDynamics, ""},
        {"words in the music font", words("Tavrena Music", 2, 1), -1,
         "<direction placement=\"above\"><direction-type><words relative-x=\"20\" font-weight=\"bold\" "
         "font-size=\"12\" font-style=\"italic\" font-family=\"music\">dolce</words></direction-type></direction>"},
        {"words in a sans-serif font", words("Arial", 0, 0), -1,
         "<direction placement=\"above\"><direction-type><words font-weight=\"normal\" font-size=\"12\" "
         "font-style=\"italic\" font-family=\"sans-serif\">dolce</words></direction-type></direction>"},
        {"words without their switch", words("Arial", 0, 0), -1 & ~kConvWords, ""},
        {"pedal down", symbol(13, 2.0f), -1,
         "<direction placement=\"below\"><direction-type><pedal type=\"start\"/></direction-type>"
         "<offset>6</offset></direction>"},
        {"coda", symbol(16, 0.0f), -1,
         "<direction placement=\"below\"><direction-type><coda/></direction-type></direction>"},
        {"segno without its switch", symbol(15, 0.0f), -1 & ~kConvSymbols, ""},
        {"a notation symbol is no direction", symbol(10, 0.0f), -1, ""},
    };
    for (const Case& c : cases) {
        OnePart w;
        w.file->setConvProps(c.props);
        ASSERT_EQ(appendDirection(*w.file, c.event), kOk);
        EXPECT_EQ(currentMeasure(w), firstMeasure(c.expected))
            << c.name;
    }
}

TEST(MxmlWriterMeasure, NoteDetails) {
    const auto with = [](CScoreEvent e, const std::function<void(CScoreEvent&)>& change) {
        change(e);
        return e;
    };
    struct Case {
        const char* name;
        CScoreEvent event;
        const char* expected;  // the note's children after its pitch
    };
    const Case cases[] = {
        {"slashed cue grace", with(chord({"C5"}, 0, "1/8"), [](CScoreEvent& e) {
             e.setKind(scorecore::kKindGrace | scorecore::kKindCue);
             e.setStem(4 | 1);
         }),
         "<voice>1</voice><type size=\"cue\">eighth</type><stem>up</stem>"},
        {"dotted with an editorial accidental", with(chord({"B4-1"}, 720, "1/4"), [](CScoreEvent& e) {
             e.dots = 1;
             e.accidentals[0] = {-1, 1};
             e.setStem(2);
         }),
         "<duration>720</duration><voice>1</voice><type>quarter</type><dot/>"
         "<accidental editorial=\"yes\">flat</accidental><stem>down</stem>"},
        {"sixteenth continuing a beam", with(chord({"C5"}, 120, "1/16"), [](CScoreEvent& e) { e.setBeam(2); }),
         "<duration>120</duration><voice>1</voice><type>16th</type>"
         "<beam number=\"1\">continue</beam><beam number=\"2\">continue</beam>"},
        {"x head on a quarter", with(chord({"C5"}, 480, "1/4"), [](CScoreEvent& e) { e.setHeadFlags(0, 2); }),
         "<duration>480</duration><voice>1</voice><type>quarter</type><notehead>x</notehead>"},
        {"diamond on a half", with(chord({"C5"}, 960, "1/2"), [](CScoreEvent& e) { e.setHeadFlags(0, 4); }),
         "<duration>960</duration><voice>1</voice><type>half</type><notehead filled=\"no\">diamond</notehead>"},
        {"tie ending and starting", with(chord({"C5"}, 480, "1/4"), [](CScoreEvent& e) {
             e.setTie(scorecore::kTieStart | scorecore::kTieEnd);
         }),
         "<duration>480</duration><tie type=\"stop\"/><tie type=\"start\"/><voice>1</voice><type>quarter</type>"},
        {"invisible", with(chord({"C5"}, 480, "1/4"), [](CScoreEvent& e) { e.setKind(scorecore::kKindInvisible); }),
         "<duration>480</duration><voice>1</voice><type>quarter</type>"},
    };
    for (const Case& c : cases) {
        OnePart w;
        CScoreEvent e = c.event;
        ASSERT_EQ(appendNote(*w.file, e, 0), kOk);
        const std::string measure = currentMeasure(w);
        const std::size_t pitchEnd = measure.find("</pitch>");
        ASSERT_NE(pitchEnd, std::string::npos) << c.name << ": " << measure;
        const std::size_t noteEnd = measure.find("</note>");
        EXPECT_EQ(measure.substr(pitchEnd + 8, noteEnd - pitchEnd - 8), c.expected) << c.name;
        EXPECT_EQ(measure.find("print-object") != std::string::npos, e.isKind(scorecore::kKindInvisible)) << c.name;
        EXPECT_EQ(measure.find("<grace slash=\"yes\"/>") != std::string::npos, e.isKind(scorecore::kKindGrace))
            << c.name;
    }
    // An invisible event without length writes nothing.
    OnePart w;
    CScoreEvent nothing = chord({"C5"}, 0, "1/4");
    nothing.setKind(scorecore::kKindInvisible);
    ASSERT_EQ(appendNote(*w.file, nothing, 0), kOk);
    EXPECT_EQ(currentMeasure(w), "<measure number=\"1\"/>");
}

TEST(MxmlWriterMeasure, ChordMarksGoOnlyIntoItsFirstNote) {
    OnePart w;
    CScoreEvent c = chord({"C5", "E5", "G5"}, 480, "1/4");
    c.articulation = {1, 1};
    scorecore::CScoreLyric syllable;
    syllable.number = 1;
    syllable.text = "la";
    c.appendLyric(syllable);
    scorecore::CScoreOrnament fermata;
    fermata.code = 10;
    c.appendOrnament(fermata);
    ASSERT_EQ(appendNote(*w.file, c, 0), kOk);
    xmlNodePtr measure = w.file->writer.parts[0].group.items[0].node;
    std::vector<std::string> notes;
    for (int i = 0; i < 3; ++i) {
        xmlNodePtr note = nullptr;
        ASSERT_EQ(scorecore::xmldomGetChildN(measure, "note", i, &note), kOk);
        notes.push_back(compact(w.file->document, note));
    }
    EXPECT_NE(notes[0].find("<notations><articulations><staccato placement=\"above\"/></articulations>"
                            "<fermata type=\"upright\"/></notations><lyric number=\"1\"><syllabic>single</syllabic>"
                            "<text>la</text></lyric></note>"),
              std::string::npos)
        << notes[0];
    for (int i = 1; i < 3; ++i) {
        EXPECT_EQ(notes[static_cast<std::size_t>(i)].find("<chord/>"), 6u) << notes[static_cast<std::size_t>(i)];
        EXPECT_EQ(notes[static_cast<std::size_t>(i)].find("notations"), std::string::npos);
        EXPECT_EQ(notes[static_cast<std::size_t>(i)].find("lyric"), std::string::npos);
    }
    // With the lyric and articulation switches off only the fermata stays.
    OnePart off;
    off.file->setConvProps(-1 & ~kConvLyrics & ~kConvArticulations);
    CScoreEvent again = c;
    ASSERT_EQ(appendNote(*off.file, again, 0), kOk);
    const std::string text = currentMeasure(off);
    EXPECT_EQ(text.find("lyric"), std::string::npos);
    EXPECT_EQ(text.find("articulations"), std::string::npos);
    EXPECT_NE(text.find("<notations><fermata type=\"upright\"/></notations>"), std::string::npos);
}

TEST(MxmlWriterMeasure, RestsFillTheirMeasures) {
    struct Case {
        const char* name;
        std::function<int(CMxmlFile&)> write;
        std::vector<std::string> measures;  // each measure's content after the number
    };
    const std::string wholeRest = "<note><rest/><duration>1920</duration><voice>1</voice></note>";
    const Case cases[] = {
        {"long rest of four measures",
         [](CMxmlFile& f) {
             CScoreEvent r = rest(7680, "4");
             return appendNote(f, r, 0);
         },
         {"<attributes><measure-style><multiple-rest>4</multiple-rest></measure-style></attributes>" + wholeRest,
          wholeRest, wholeRest, wholeRest}},
        {"generated rests of three measures",
         [](CMxmlFile& f) { return appendRests(f, 5760, 3, 0); },
         {"<attributes><measure-style><multiple-rest>3</multiple-rest></measure-style></attributes>" + wholeRest,
          wholeRest, wholeRest}},
        {"generated rests: half and quarter",
         [](CMxmlFile& f) { return appendRests(f, 1440, 1, 0); },
         {"<note><rest/><duration>960</duration><voice>1</voice><type>half</type></note>"
          "<note><rest/><duration>480</duration><voice>1</voice><type>quarter</type></note>"}},
        {"generated rests: a triplet quarter",
         [](CMxmlFile& f) { return appendRests(f, 320, 0, 1); },
         {"<note><rest/><duration>320</duration><voice>2</voice><type>quarter</type><time-modification>"
          "<actual-notes>3</actual-notes><normal-notes>2</normal-notes></time-modification></note>"}},
    };
    for (const Case& c : cases) {
        OnePart w;
        ASSERT_EQ(c.write(*w.file), kOk) << c.name;
        const auto& items = w.file->writer.parts[0].group.items;
        ASSERT_EQ(items.size(), c.measures.size()) << c.name;
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(compact(w.file->document, items[i].node),
                      "<measure number=\"" + std::to_string(i + 1) + "\">" + c.measures[i] + "</measure>")
                << c.name;
        }
    }
}

// A slur start or stop of one event.
CScoreEvent slurred(int32_t flags, int32_t number = -1) {
    CScoreEvent e = chord({"C5"}, 480, "1/4");
    scorecore::CScoreEventItem item;
    item.flags = flags;
    item.line = number;
    item.placement = 1;
    e.appendItem(item);
    return e;
}

TEST(MxmlWriterMeasure, SlurNumbersAvoidSlotsTakenNowOrInTheNextMeasure) {
    OnePart w;
    w.nextMeasure();
    auto& items = w.file->writer.parts[0].group.items;
    // Measure 1 current, slot 1 taken in measure 2 by a slur carried there.
    w.file->setWriterCursor(0, 0, 0);
    items[1].slots[0] = kSlotInUse;
    CScoreEvent start = slurred(scorecore::kItemSlurStart);
    ASSERT_EQ(appendNote(*w.file, start, 0), kOk);
    EXPECT_EQ(start.items[0].line, 2);
    EXPECT_NE(currentMeasure(w).find("<slur type=\"start\" number=\"2\" placement=\"above\"/>"), std::string::npos);
    carryOpenFlags(*w.file);
    EXPECT_EQ(items[1].slots[1], kSlotInUse);

    // The stop in the next measure ends its slot there and frees it where it began.
    w.file->setWriterCursor(0, 1, 0);
    CScoreEvent stop = slurred(scorecore::kItemSlurStop, start.items[0].line);
    ASSERT_EQ(appendNote(*w.file, stop, 0), kOk);
    EXPECT_NE(currentMeasure(w).find("<slur type=\"stop\" number=\"2\"/>"), std::string::npos);
    EXPECT_EQ(items[1].slots[1], kSlotEnded);
    EXPECT_EQ(items[0].slots[1], kSlotFree);

    // A glissando takes a number like a slur; with every slot taken it is 1.
    w.file->setWriterCursor(0, 0, 0);
    items[0].slots.fill(kSlotInUse);
    CScoreEvent glissando = slurred(scorecore::kItemLineStart);
    ASSERT_EQ(appendNote(*w.file, glissando, 0), kOk);
    EXPECT_EQ(glissando.items[0].line, 1);
    EXPECT_NE(currentMeasure(w).find("<glissando type=\"start\" number=\"1\" placement=\"above\"/>"),
              std::string::npos);
    // Without the slur switch nothing is numbered or written.
    w.file->setConvProps(-1 & ~kConvSlurs);
    CScoreEvent quiet = slurred(scorecore::kItemSlurStart);
    ASSERT_EQ(appendNote(*w.file, quiet, 0), kOk);
    EXPECT_EQ(quiet.items[0].line, -1);
}

TEST(MxmlWriterMeasure, CarryingSlotsKeepsOnlyThoseInUse) {
    struct Case {
        const char* name;
        int32_t measures;
        int32_t measure;  // carried from
        std::array<int32_t, kSlurSlots> before;  // of the carried-from measure
        std::array<int32_t, kSlurSlots> nextBefore;
        std::array<int32_t, kSlurSlots> nextAfter;
    };
    const Case cases[] = {
        {"in use is carried, ended is not", 2, 0, {0, 0, 1, 2, 0, 0}, {0, 0, 0, 0, 0, 0}, {0, 0, 1, 0, 0, 0}},
        {"nothing of the next measure is cleared", 2, 0, {1, 0, 0, 0, 0, 0}, {0, 2, 0, 0, 0, 1},
         {1, 2, 0, 0, 0, 1}},
        {"the last measure has nothing to carry into", 2, 1, {1, 1, 1, 1, 1, 1}, {}, {}},
        {"a measure past the end", 2, 5, {}, {}, {}},
    };
    for (const Case& c : cases) {
        OnePart w;
        for (int32_t i = 1; i < c.measures; ++i) w.nextMeasure();
        auto& items = w.file->writer.parts[0].group.items;
        if (c.measure < c.measures) items[static_cast<std::size_t>(c.measure)].slots = c.before;
        if (c.measure + 1 < c.measures) items[static_cast<std::size_t>(c.measure + 1)].slots = c.nextBefore;
        carryOpenFlags(*w.file, 0, c.measure);
        if (c.measure + 1 < c.measures) {
            EXPECT_EQ(items[static_cast<std::size_t>(c.measure + 1)].slots, c.nextAfter) << c.name;
        }
        if (c.measure < c.measures) {
            EXPECT_EQ(items[static_cast<std::size_t>(c.measure)].slots, c.before) << c.name;
        }
    }
    Writer none;
    carryOpenFlags(*none.file);  // no part at all
    EXPECT_TRUE(none.file->writer.parts.empty());
}

TEST(MxmlWriterMeasure, PendingEndingIsKeptPerMeasure) {
    OnePart w;
    w.nextMeasure();
    CEventBarline untouched = barline(kBarFinal, 0, "x");
    ASSERT_EQ(getMeasureAttributes(*w.file, untouched), kOk);
    EXPECT_EQ(untouched.type, kBarFinal);
    EXPECT_EQ(untouched.endingLabel, "x");

    ASSERT_EQ(setMeasureAttributes(*w.file, barline(kBarEnding, kEndingStop, "2", 0)), kOk);
    CEventBarline read;
    ASSERT_EQ(getMeasureAttributes(*w.file, read), kOk);
    EXPECT_EQ(read.type, kBarEnding);
    EXPECT_EQ(read.present, kEndingStop);
    EXPECT_EQ(read.endingLabel, "2");
    EXPECT_EQ(read.rightDown, 0);
    // Only that measure holds it.
    w.file->setWriterCursor(0, 0, 0);
    CEventBarline first;
    ASSERT_EQ(getMeasureAttributes(*w.file, first), kOk);
    EXPECT_EQ(first.type, -1);
}

}  // namespace scoreconv
