// The TvrXML reader: events written by the writer read back as they were, the
// words the writer never uses, staff layouts and the system tree, the pickup and
// beam rules, the accidental table, drum keys, voice counts, the first tune-up
// chord, and documents that are broken or lie.
#include "scorecore/vxml_file.h"

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_writer.h"
#include "vxml_writer_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace scorecore;
using namespace scorecore::testing;
namespace fs = std::filesystem;

namespace {

using platform::testing::TempFolder;
using platform::testing::writeBytes;

const fs::path kData = QVP3_TEST_DATA_DIR;

// --- what an event holds, in one line -------------------------------------------------------

std::string describe(const CScoreEvent& e) {
    std::ostringstream out;
    out << (e.isKind(kKindRest) ? "rest" : e.isKind(kKindChord) ? "chord" : "?");
    const std::pair<std::uint32_t, const char*> flags[] = {
        {kKindGrace, "+grace"}, {kKindSmall, "+small"}, {kKindInvisible, "+invisible"}, {kKindSilent, "+silent"}};
    std::uint32_t known = kKindRest | kKindChord;
    for (const auto& [bit, name] : flags) {
        if (e.isKind(bit)) out << name;
        known |= bit;
    }
    if ((e.kind & ~known) != 0) out << "+0x" << std::hex << (e.kind & ~known) << std::dec;
    out << " d=" << e.duration << " b=" << e.baseText;
    if (e.dots != 0) out << " dots=" << int{e.dots};
    if (e.tupletCount != 0) out << " t=" << int{e.tupletCount} << ":" << int{e.tupletNormal};
    for (int h = 0; h < e.headCount; ++h) {
        out << (h == 0 ? " h=" : ",") << e.pitches.substr(static_cast<std::size_t>(2 * h), 2);
        if (e.hasAlter(h)) out << e.alterations.substr(static_cast<std::size_t>(2 * h), 2);
        const CEventAccidental& slot = e.accidentals[static_cast<std::size_t>(h)];
        if (slot.shown != -3) out << "!" << int{slot.shown};
        if (slot.editorial != 0) out << "p";
        std::int32_t shape = 0;
        if (e.getHeadFlags(h, shape) && shape != 0) out << "#" << shape;
    }
    if (e.tie != 0) out << " tie=" << e.tie;
    if (e.stem != 0) out << " stem=" << e.stem;
    if (e.beam != 0) out << " beam=" << e.beam;
    if (e.notationStaff != 0) out << " staff=" << e.notationStaff;
    if (e.articulation.code != 0) out << " art=" << e.articulation.code << "/" << e.articulation.placement;
    if (e.dynamic.code != 0) {
        out << " dyn=" << e.dynamic.code << "/" << e.dynamic.placement << "/" << e.dynamic.offset;
    }
    for (std::size_t i = 0; i < e.lyrics.size(); ++i) {
        const CScoreLyric& l = e.lyrics[i];
        out << (i == 0 ? " ly=" : ",") << l.number << ":" << l.text << (l.hyphen ? "-" : "")
            << (l.extender ? "_" : "");
    }
    for (const CScoreOrnament& o : e.ornaments) {
        out << " orn=" << o.code << "/" << o.placement;
        if (o.secondCode != 0) out << "/" << o.secondCode;
        if (o.position != 0) out << "@" << o.position;
    }
    for (const CScoreText& t : e.texts) {
        out << " tx=" << t.text << "/" << t.face << "/" << t.height << "/" << (t.bold ? "b" : "")
            << (t.italic ? "i" : "") << "/" << t.placement << "@" << t.offsetX;
    }
    for (const CScoreEventItem& item : e.items) {
        out << " slur=" << item.span;
        if (item.flags != kItemSlurStart) out << "/f" << item.flags;
    }
    for (const CScoreWedge& w : e.wedges) {
        out << " wedge=" << w.code << "/" << w.placement << "/" << w.span << "/" << w.startOffset << ":"
            << w.endOffset;
    }
    if (e.barline.type != -1) {
        out << " volta=" << e.barline.type << "/" << e.barline.endingLabel << "/" << e.barline.endingSpan << "/"
            << int{e.barline.leftDown} << int{e.barline.rightDown};
    }
    if (e.bracketPresent != 0) {
        out << " br=" << (e.bracketHasOrientation ? std::to_string(e.bracketOrientation) : "-") << "/"
            << e.bracketNumber << "/" << e.bracketNoteRange;
    }
    return out.str();
}

// --- documents --------------------------------------------------------------------------------

// Loads a TvrXML text and sets the score up as a host does.
int loadScore(CVxmlFile& file, const std::string& xml, const TempFolder& folder) {
    const fs::path path = folder.path() / "score.xml";
    writeBytes(path, xml);
    int rc = file.getVersion(path);
    if (rc != kOk) return rc;
    int count = 0;
    rc = file.getLayoutStaffNum(&count, nullptr);
    return rc != kOk ? rc : file.setupScore();
}

// The events of one voice as a conversion walks them: keys and barlines reset the
// accidental table, each chord or rest is read, beamed and remembered.
std::vector<CScoreEvent> walkVoice(CVxmlFile& file, int system, int staff, int voice, int* rc = nullptr) {
    std::vector<CScoreEvent> events;
    if (rc != nullptr) *rc = kOk;
    file.setCursor(system, staff, voice);
    file.resetBeam();
    // Ticks run on from the same voice of the system before.
    if (system > 0 && file.voiceAt(system - 1, staff, voice) != nullptr) {
        file.setVoiceTick(file.getVoiceTick(system - 1, staff, voice));
    }
    CMeter meter = *file.getStaffTimeSig(system, staff);
    int fifths = 0;
    xmlNodePtr node = nullptr;
    if (file.getFirstNoteObject(&node) != kOk) return events;
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        const std::string name = xmldomNodeName(node);
        int code = kOk;
        if (name == "keySign") {
            std::int8_t key = 0;
            code = CVxmlFile::readKeySign(node, &key);
            fifths = key;
            file.resetAccidentals(fifths);
        } else if (name == "timeSign") {
            code = CVxmlFile::readTimeSign(node, "time", meter);
        } else if (name == "barline") {
            file.resetAccidentals(fifths);
        } else if (name == "chord" || name == "rest") {
            CScoreEvent event;
            code = file.readNoteObject(node, event, meter, file.getVoiceTick());
            if (code == kOk) {
                file.computeBeam(event, meter);
                file.storeAccidentals(event);
                file.addVoiceTick(event.duration);
                events.push_back(std::move(event));
            }
        }
        if (code != kOk) {
            if (rc != nullptr) *rc = code;
            break;
        }
    }
    return events;
}

// A score of one staff, one voice and one system around the given note objects.
std::string scoreXml(const std::string& noteObjects, const std::string& time = "C") {
    return "<?xml version='1.0' encoding='ISO-8859-1'?>\n"
           "<score xmlns=\"http://www.tavrena.com/TvrXML/1.0\"><layout><staves>"
           "<staffLayout description=\"Stv1\"><notation defaultClef=\"treble\"/></staffLayout>"
           "</staves></layout><systems><system beamGrouping=\"1\" tempo=\"100\">"
           "<barCount nAdd=\"0\" reset=\"true\"/><staves><staff layout=\"Stv1\" defaultTime=\"" +
           time + "\"><voices><voice><noteObjects>" + noteObjects +
           "</noteObjects></voice></voices></staff></staves></system></systems></score>";
}

// Writes one event (a chord or rest) in a staff with the given key and meter, and
// reads the document back.
std::string roundTrip(const CScoreEvent& event, int fifths, const CMeter& meter) {
    CVxmlFile writer;
    EXPECT_EQ(xmldomCreateFile({}, writer.document, writer.root, kXmlDocNewTvrxml), kOk);
    VxmlLayoutArgs layout;
    layout.staves.resize(1);
    EXPECT_EQ(writer.appendLayout(layout), kOk);
    EXPECT_EQ(writer.createMainSystemNode(), kOk);
    writer.nextSystem();
    EXPECT_EQ(writer.appendSystem(120, 1, 0, 0), kOk);
    writer.setCurrentStaff(0);
    EXPECT_EQ(writer.appendStaff(meter, 1), kOk);
    writer.setCurrentVoice(0);
    EXPECT_EQ(writer.appendClefSign(kTreble, true), kOk);
    EXPECT_EQ(writer.appendKeySign(fifths, true), kOk);
    EXPECT_EQ(writer.appendTimeSign(&meter), kOk);
    EXPECT_EQ(event.isKind(kKindRest) ? writer.appendRest(event) : writer.appendChord(event), kOk);
    writer.resetCursor();
    EXPECT_EQ(writer.appendSystems(), kOk);

    TempFolder folder;
    CVxmlFile reader;
    EXPECT_EQ(loadScore(reader, serialise(writer), folder), kOk);
    reader.setCursor(0, 0, 0);
    reader.resetAccidentals(fifths);
    xmlNodePtr node = reader.getNoteObjectsNode(0, 0, 0);
    node = node != nullptr ? node->children : nullptr;
    while (node != nullptr && xmldomNodeName(node) != "chord" && xmldomNodeName(node) != "rest") node = node->next;
    CScoreEvent read;
    const int rc = reader.readNoteObject(node, read, meter, 0);
    return rc == kOk ? describe(read) : "code " + std::to_string(rc);
}

CScoreEvent with(CScoreEvent event, const std::function<void(CScoreEvent&)>& change) {
    change(event);
    return event;
}

// ---------------------------------------------------------------------------------------------
// Events written by the writer read back

TEST(VxmlReaderRoundTripTest, EventsReadBackAsTheWriterWroteThem) {
    const CMeter common = meterOf(4, 2);
    const CMeter threeFour = meterOf(3, 2);
    CScoreLyric hal;
    hal.number = 2;  // begins a word
    hal.text = "Hal";
    CScoreLyric le;
    le.number = 4;
    le.text = "le";
    le.extender = 1;
    CScoreText dolce;
    dolce.text = "dolce";
    dolce.italic = 1;
    dolce.placement = 2;
    CScoreText allegro;
    allegro.text = "Allegro";
    allegro.face = "Arial";
    allegro.height = 12;
    allegro.bold = 1;
    allegro.placement = 1;
    allegro.offsetX = 90;
    CScoreOrnament trill = ornament(1, 1, 6);
    trill.position = 90;
    CScoreWedge diminuendo;
    diminuendo.code = kWedgeDiminuendo;
    diminuendo.span = 3;
    diminuendo.placement = 1;

    const struct {
        const char* what;
        CScoreEvent event;
        int fifths;
        CMeter meter;
        const char* read;
    } cases[] = {
        {"quarter", note("quarter", 480, {{"C5"}}), 0, common, "chord d=480 b=1/4 h=C6"},
        {"tied chord with stem",
         with(note("quarter", 480, {{"C5"}, {"E5"}}), [](CScoreEvent& e) { e.setTie(kTieStart); e.setStem(1); }), 0,
         common, "chord d=480 b=1/4 h=C6,E6 tie=1 stem=1"},
        {"tie end", with(note("half", 960, {{"A4"}}), [](CScoreEvent& e) { e.setTie(kTieEnd); }), 0, common,
         "chord d=960 b=1/2 h=A5 tie=4"},
        {"dotted half", with(note("half", 1440, {{"A4"}}), [](CScoreEvent& e) { e.dots = 1; }), 0, common,
         "chord d=1440 b=1/2 dots=1 h=A5"},
        {"triplet eighth", withTuplet(note("eighth", 160, {{"D5"}}), 3, 2), 0, common, "chord d=160 b=1/8 t=3:2 h=D6"},
        {"quintuplet 16th", withTuplet(note("16th", 96, {{"D5"}}), 5, 4), 0, common, "chord d=96 b=1/16 t=5:4 h=D6"},
        {"grace", with(note("eighth", 0, {{"D5"}}), [](CScoreEvent& e) { e.setKind(kKindGrace); e.setStem(1); }), 0,
         common, "chord+grace+small d=0 b=1/8 h=D6 stem=1 beam=16"},
        {"invisible cue on the staff below",
         with(note("quarter", 480, {{"C5"}}),
              [](CScoreEvent& e) { e.setKind(kKindInvisible | kKindSmall); e.notationStaff = 2; }),
         0, common, "chord+small+invisible d=480 b=1/4 h=C6 staff=2"},
        {"tremolo of two bars", with(note("half", 960, {{"C5"}}), [](CScoreEvent& e) { e.setStem(2 | 8); }), 0, common,
         "chord d=960 b=1/2 h=C6 stem=10"},
        {"tremolo of five bars", with(note("half", 960, {{"C5"}}), [](CScoreEvent& e) { e.setStem(1 | 64); }), 0,
         common, "chord d=960 b=1/2 h=C6 stem=65"},
        {"beam begin", with(note("eighth", 240, {{"C5"}}), [](CScoreEvent& e) { e.setBeam(1); }), 0, common,
         "chord d=240 b=1/8 h=C6 beam=8"},
        {"beam end", with(note("eighth", 240, {{"C5"}}), [](CScoreEvent& e) { e.setBeam(4); }), 0, common,
         "chord d=240 b=1/8 h=C6 beam=16"},
        {"articulation", with(note("quarter", 480, {{"C5"}}), [](CScoreEvent& e) { e.articulation.code = 6; }), 0,
         common, "chord d=480 b=1/4 h=C6 art=6/2"},
        {"lyrics", with(note("quarter", 480, {{"C5"}}), [&](CScoreEvent& e) { e.appendLyric(hal); e.appendLyric(le); }),
         0, common, "chord d=480 b=1/4 h=C6 ly=1:Hal-,2:le_"},
        {"notehead", with(note("quarter", 480, {{"C5"}}), [](CScoreEvent& e) { e.setHeadFlags(0, 8); }), 0, common,
         "chord d=480 b=1/4 h=C6#8"},
        // Accidentals shown: what the key and the bar do not already say.
        {"sharp outside the key", note("quarter", 480, {{"F5", "+1", 1}}), 0, common, "chord d=480 b=1/4 h=F6+1!1"},
        {"sharp of the key", note("quarter", 480, {{"F5", "+1"}}), 1, common, "chord d=480 b=1/4 h=F6+1"},
        {"natural against the key", note("quarter", 480, {{"F5", "**", 0}}), 1, common, "chord d=480 b=1/4 h=F6!0"},
        {"flat forced in its key", note("quarter", 480, {{"B4", "-1", -1}}), -1, common,
         "chord d=480 b=1/4 h=B5-1!-1"},
        {"double flat", note("quarter", 480, {{"B4", "-2", -2}}), 0, common, "chord d=480 b=1/4 h=B5-2!-2"},
        {"editorial flat",
         with(note("quarter", 480, {{"B4", "-1", -1}}), [](CScoreEvent& e) { e.accidentals[0].editorial = 1; }), -1,
         common, "chord d=480 b=1/4 h=B5-1!-1p"},
        // Symbols.
        {"piano below", with(note("quarter", 480, {{"C5"}}), [](CScoreEvent& e) { e.dynamic.code = 44; }), 0, common,
         "chord d=480 b=1/4 h=C6 dyn=44/2/0"},
        {"fp above with an offset",
         with(note("quarter", 480, {{"C5"}}),
              [](CScoreEvent& e) { e.dynamic = {-1, 1, 90.0f}; }),
         0, common, "chord d=480 b=1/4 h=C6 dyn=-1/1/90"},
        {"trill with its sharp", with(note("quarter", 480, {{"C5"}}), [&](CScoreEvent& e) { e.appendOrnament(trill); }),
         0, common, "chord d=480 b=1/4 h=C6 orn=1/1/6@90"},
        {"fermata", with(note("quarter", 480, {{"C5"}}), [](CScoreEvent& e) { e.appendOrnament(ornament(10, 1)); }), 0,
         common, "chord d=480 b=1/4 h=C6 orn=10/1"},
        {"words", with(note("quarter", 480, {{"C5"}}), [&](CScoreEvent& e) { e.appendText(dolce); e.appendText(allegro); }),
         0, common, "chord d=480 b=1/4 h=C6 tx=dolce/Times New Roman/13/i/2@0 tx=Allegro/Arial/16/b/1@90"},
        {"slur", with(note("quarter", 480, {{"C5"}}),
                      [](CScoreEvent& e) { e.appendItem(CScoreEventItem{1, 1, 2, -1, kItemSlurStart}); }),
         0, common, "chord d=480 b=1/4 h=C6 slur=2"},
        {"wedges", with(note("quarter", 480, {{"C5"}}),
                        [&](CScoreEvent& e) { e.appendWedge(crescendo(2, 2, 90)); e.appendWedge(diminuendo); }),
         0, common, "chord d=480 b=1/4 h=C6 wedge=-9/2/2/0:90 wedge=-8/1/3/0:0"},
        {"ending", withEnding(note("quarter", 480, {{"C5"}}), "1.-2.", 3, false, true), 0, common,
         "chord d=480 b=1/4 h=C6 volta=6/1.-2./3/01"},
        {"tuplet bracket",
         with(withTuplet(note("eighth", 160, {{"C5"}}), 3, 2),
              [](CScoreEvent& e) {
                  e.bracketNoteRange = 3;
                  e.bracketHasOrientation = 1;
                  e.bracketOrientation = 2;
                  e.bracketNumber = 1;
              }),
         0, common, "chord d=160 b=1/8 t=3:2 h=C6 br=2/1/3"},
        // Rests.
        {"quarter rest", rest("quarter", 480), 0, common, "rest d=480 b=1/4"},
        {"bar rest", rest("1", 1920), 0, common, "rest d=1920 b=1"},
        {"two bars of 3/4", rest("2", 2880), 0, threeFour, "rest d=2880 b=2"},
        {"invisible rest", with(rest("half", 960), [](CScoreEvent& e) { e.setKind(kKindInvisible); }), 0, common,
         "rest+invisible d=960 b=1/2"},
        {"rest with a dynamic", with(rest("half", 960), [](CScoreEvent& e) { e.dynamic.code = 90; }), 0, common,
         "rest d=960 b=1/2 dyn=90/2/0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(roundTrip(c.event, c.fifths, c.meter), c.read) << c.what;
    }
}

// ---------------------------------------------------------------------------------------------
// What only other programs write

TEST(VxmlReaderVocabularyTest, WordsTheWriterNeverUsesAreRead) {
    const std::string heads = "<heads><head pitch=\"c5\"/></heads>";
    const std::string quarter = "<duration base=\"1/4\"/>";
    const auto text = [](const char* face, const char* height, const char* content, const char* y = "-4") {
        return std::string("<drawObj><text x=\"0\" y=\"") + y + "\"><font face=\"" + face + "\" height=\"" + height +
               "\"/><content>" + content + "</content></text></drawObj>";
    };
    const struct {
        const char* what;
        std::string chord;
        const char* read;
    } cases[] = {
        {"staccato tenuto", quarter + "<articulation type=\"staccato tenuto\"/>" + heads,
         "chord d=480 b=1/4 h=C5 art=3/2"},
        {"names without regard to case", quarter + "<stem dir=\"UP\"/><beam group=\"Divide\"/>" + heads,
         "chord d=480 b=1/4 h=C5 stem=1 beam=32"},
        {"unknown tremolo count", quarter + "<stem tremoloBars=\"9\"/>" + heads, "chord d=480 b=1/4 h=C5 stem=64"},
        {"verse numbers", quarter + "<lyric><verse verseNumber=\"3\" text=\"a\"/><verse text=\"b\"/></lyric>" + heads,
         "chord d=480 b=1/4 h=C5 ly=3:a,2:b"},
        {"silent head", quarter + "<heads><head pitch=\"c5\" silent=\"true\"/></heads>",
         "chord+silent d=480 b=1/4 h=C5"},
        {"suppressed accidental", quarter + "<heads><head pitch=\"f5\"><alter step=\"1\" display=\"suppress\"/></head></heads>",
         "chord d=480 b=1/4 h=F5+1"},
        {"alteration beyond double", quarter + "<heads><head pitch=\"f5\"><alter step=\"5\"/></head></heads>",
         "chord d=480 b=1/4 h=F5+2!2"},
        {"fp in two glyphs", quarter + "<drawObjects>" + text("Tavrena3", "18", "fp", "5") + "</drawObjects>" + heads,
         "chord d=480 b=1/4 h=C5 dyn=-1/2/0"},
        {"a dynamic glyph in a text font is words",
         quarter + "<drawObjects>" + text("Arial", "9", "f") + "</drawObjects>" + heads,
         "chord d=480 b=1/4 h=C5 tx=f/Arial/12//1@0"},
        {"staccato glyph", quarter + "<drawObjects>" + text("Tavrena3", "18", ".") + "</drawObjects>" + heads,
         "chord d=480 b=1/4 h=C5 art=1/1"},
        {"dal segno", quarter + "<drawObjects>" + text("Tavrena3", "18", "e") + "</drawObjects>" + heads,
         "chord d=480 b=1/4 h=C5 tx=D.S./Times New Roman/14/b/1@0"},
        {"second ornament glyph", quarter + "<drawObjects>" + text("Tavrena3", "18", "o") + "</drawObjects>" + heads,
         "chord d=480 b=1/4 h=C5 orn=16/1"},
        {"wavy line without its sign",
         quarter + "<drawObjects><drawObj><trill tr=\"false\"><wavyLine/></trill><basic noteRange=\"2\"/></drawObj>"
                   "</drawObjects>" + heads,
         "chord d=480 b=1/4 h=C5 orn=23/1"},
        {"ending given as a list",
         quarter + "<drawObjects><drawObj><volta firstNumber=\"1\" lastNumber=\"3\" allNumbers=\"true\"/>"
                   "</drawObj></drawObjects>" + heads,
         "chord d=480 b=1/4 h=C5 volta=6/1. 2. 3./0/11"},
        {"bracket without number or range",
         quarter + "<drawObjects><drawObj><bracket/></drawObj></drawObjects>" + heads,
         "chord d=480 b=1/4 h=C5 br=-/-1/0"},
        {"base beyond the table", "<duration base=\"4/1\"/>" + heads, "chord d=7680 b=4/1 h=C5"},
        {"heads past the record's limit",
         quarter + "<heads>" + [] { std::string h; for (int i = 0; i < 40; ++i) h += "<head pitch=\"c5\"/>"; return h; }() +
             "</heads>",
         "chord d=480 b=1/4 h=C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,C5,"
         "C5,C5,C5"},
        {"a head without a pitch is left out",
         quarter + "<heads><head/><head pitch=\"x5\"/><head pitch=\"g4\"/></heads>", "chord d=480 b=1/4 h=G4"},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        CVxmlFile file;
        ASSERT_EQ(loadScore(file, scoreXml("<chord>" + c.chord + "</chord>"), folder), kOk) << c.what;
        const std::vector<CScoreEvent> events = walkVoice(file, 0, 0, 0);
        ASSERT_EQ(events.size(), 1u) << c.what;
        CScoreEvent event = events[0];
        event.beam &= ~(kBeamBegin | kBeamContinue | kBeamNone);  // the running group is tested elsewhere
        EXPECT_EQ(describe(event), c.read) << c.what;
    }
}

TEST(VxmlReaderVocabularyTest, NoteObjectsAndSignsThatCannotBeReadGiveCodes) {
    TempFolder folder;
    CVxmlFile file;
    ASSERT_EQ(loadScore(file,
                        scoreXml("<chord><heads><head pitch=\"c5\"/></heads></chord>"
                                 "<rest><duration base=\"99999999999\"/></rest>"
                                 "<rest><duration/></rest>"
                                 "<clefSign clef=\"X2\"/><keySign/><timeSign time=\"3/0\"/><barline type=\"dotted\"/>"
                                 "<clefSign clef=\"G2-\"/><keySign fifths=\"-12\"/><timeSign time=\"6/8\"/>"
                                 "<barline type=\"repEndBegin\"/>"),
                        folder),
              kOk);
    std::vector<xmlNodePtr> nodes;
    for (xmlNodePtr n = file.getNoteObjectsNode(0, 0, 0)->children; n != nullptr; n = n->next) nodes.push_back(n);
    ASSERT_EQ(nodes.size(), 11u);
    file.setCursor(0, 0, 0);
    CScoreEvent event;
    const CMeter meter = meterOf(4, 2);
    EXPECT_EQ(file.readNoteObject(nodes[0], event, meter, 0), kErrIndex);  // no duration
    EXPECT_EQ(file.readNoteObject(nodes[1], event, meter, 0), kErrIndex);  // more ticks than a bar can count
    EXPECT_EQ(file.readNoteObject(nodes[2], event, meter, 0), kErrIndex);  // no base
    EXPECT_EQ(file.readNoteObject(nodes[3], event, meter, 0), kErrNotPresent);
    EXPECT_EQ(file.readNoteObject(nullptr, event, meter, 0), kErrDom);

    CScoreClef clef{0, 2, 1};
    std::int8_t fifths = 5;
    CMeter time = meterOf(4, 2);
    int code = 9;
    EXPECT_EQ(CVxmlFile::readClefSign(nodes[3], clef), kErrIndex);
    EXPECT_EQ(CVxmlFile::readKeySign(nodes[4], &fifths), kErrIndex);
    EXPECT_EQ(CVxmlFile::readTimeSign(nodes[5], "time", time), kErrIndex);
    EXPECT_EQ(CVxmlFile::readBarline(nodes[6], &code), kErrIndex);
    EXPECT_TRUE(clef.sameAs(CScoreClef{0, 2, 1}));
    EXPECT_EQ(fifths, 5);
    EXPECT_EQ(time.beats, 4);
    EXPECT_EQ(code, 9);

    EXPECT_EQ(CVxmlFile::readClefSign(nodes[7], clef), kOk);
    EXPECT_TRUE(clef.sameAs(CScoreClef{0, 2, 2}));
    EXPECT_EQ(CVxmlFile::readKeySign(nodes[8], &fifths), kOk);
    EXPECT_EQ(fifths, -7);
    EXPECT_EQ(CVxmlFile::readTimeSign(nodes[9], "time", time), kOk);
    EXPECT_EQ(time.beats, 6);
    EXPECT_EQ(time.ticksPerBar, 1440);
    EXPECT_EQ(CVxmlFile::readNextBarline(nodes[9], &code), kOk);
    EXPECT_EQ(code, 5);
    EXPECT_EQ(CVxmlFile::readNextBarline(nodes[8], &code), kErrNotPresent);
    EXPECT_EQ(CVxmlFile::readNextBarline(nodes[10], &code), kErrNotPresent);
    EXPECT_EQ(CVxmlFile::readNextBarline(nodes[5], &code), kErrIndex);  // the next one is unknown
}

// ---------------------------------------------------------------------------------------------
// Layouts, systems, staves and voices

// A triplet note with every kind of symbol.
CScoreEvent richEvent() {
    CScoreEvent rich = withTuplet(note("eighth", 160, {{"F5", "+1", 1}, {"A5"}}), 3, 2);
    rich.dynamic.code = 44;
    rich.articulation.code = 2;
    rich.setTie(kTieStart);
    rich.appendOrnament(ornament(1, 1, 6));
    rich.appendItem(CScoreEventItem{1, 1, 2, -1, kItemSlurStart});
    rich.appendWedge(crescendo(2, 2, 90));
    rich.bracketNoteRange = 3;
    CScoreText words;
    words.text = "espr.";
    rich.appendText(words);
    CScoreLyric syllable;
    syllable.number = 1;
    syllable.text = "la";
    rich.appendLyric(syllable);
    return withEnding(rich, "1.", 2, true, false);
}

// Two staves (the second a drum staff), two systems, voices 2 + 1 and then 3 + 1; the
// first voice opens with a quarter and a triplet note that carries every symbol.
void writeScore(CVxmlFile& file) {
    ASSERT_EQ(xmldomCreateFile({}, file.document, file.root, kXmlDocNewTvrxml), kOk);
    ASSERT_EQ(file.appendInfo(kVxmlEngineText), kOk);
    VxmlLayoutArgs layout;
    VxmlStaffSetup horn;
    horn.name = "Horn";
    horn.abbreviation = "Hn.";
    horn.instruments.resize(1);
    horn.instruments[0].SrcProgPercId = 60;
    horn.instruments[0].SrcChannel = 3;
    horn.transpose = -7;
    VxmlStaffSetup drums;
    drums.name = "Drums";
    drums.clef = CScoreClef{3, 3, 1};
    drums.lineCount = 1;
    CMidiInstr kick;
    kick.PercNote = 35;
    kick.UserProgram = 36;
    drums.instruments = {kick};
    layout.staves = {horn, drums};
    ASSERT_EQ(file.appendLayout(layout), kOk);
    ASSERT_EQ(file.appendBarCount(), kOk);
    ASSERT_EQ(file.createMainSystemNode(), kOk);
    const CMeter common = meterOf(4, 2);
    const CMeter threeFour = meterOf(3, 2);
    const int voices[2][2] = {{2, 1}, {3, 1}};
    for (int s = 0; s < 2; ++s) {
        file.nextSystem();
        ASSERT_EQ(file.appendSystem(s == 0 ? 90 : 72, s == 0 ? 1 : 3, 2 * s, 2 * s + 1), kOk);
        for (int staff = 0; staff < 2; ++staff) {
            const CMeter& meter = s == 0 ? common : threeFour;
            file.setCurrentStaff(staff);
            ASSERT_EQ(file.appendStaff(meter, voices[s][staff]), kOk);
            for (int v = 0; v < voices[s][staff]; ++v) {
                file.setCurrentVoice(v);
                ASSERT_EQ(file.appendClefSign(staff == 0 ? kTreble : CScoreClef{3, 3, 1}, true), kOk);
                ASSERT_EQ(file.appendKeySign(staff == 0 ? -1 : 0, true), kOk);
                ASSERT_EQ(file.appendTimeSign(&meter), kOk);
                if (staff == 1) {
                    // Keys 36 (mapped already), 38 and 42 twice.
                    ASSERT_EQ(file.appendChord(note("quarter", 480, {{"C2"}, {"D2"}})), kOk);
                    ASSERT_EQ(file.appendChord(note("quarter", 480, {{"F2", "+1"}})), kOk);
                    ASSERT_EQ(file.appendChord(note("quarter", 480, {{"F2", "+1"}})), kOk);
                } else if (v == 1) {
                    ASSERT_EQ(file.appendRest(rest("quarter", 480)), kOk);
                    ASSERT_EQ(file.appendChord(note("half", 960, {{s == 0 ? "E4" : "G4"}})), kOk);
                } else {
                    ASSERT_EQ(file.appendChord(note("quarter", 480, {{"C5"}, {"E5"}})), kOk);
                    if (s == 0) {
                        ASSERT_EQ(file.appendChord(richEvent()), kOk);
                    }
                }
                ASSERT_EQ(file.appendBarline(s == 0 ? 0 : 2), kOk);
            }
        }
    }
    file.resetCursor();
    ASSERT_EQ(file.appendSystems(), kOk);
}

TEST(VxmlReaderScoreTest, WrittenScoreSetsUpItsLayoutsAndSystemTree) {
    CVxmlFile writer;
    writeScore(writer);
    ASSERT_FALSE(HasFatalFailure());
    TempFolder folder;
    const fs::path target = folder.path() / "score.tvrx";
    ASSERT_EQ(writer.writeFile(target), kOk);

    CVxmlFile file;
    ASSERT_EQ(file.getProps(target), kOk);
    int count = 0;
    ASSERT_EQ(file.getLayoutStaffNum(&count, nullptr), kOk);
    ASSERT_EQ(file.setupScore(), kOk);
    ASSERT_EQ(file.staffLayouts.size(), 2u);
    const CVxmlStaffLayout& horn = file.staffLayouts[0];
    EXPECT_EQ(horn.description, "Stv1");
    EXPECT_EQ(horn.defaultClef, "treble");
    EXPECT_EQ(horn.notelines, "5");
    EXPECT_EQ(horn.barlineFrom, 3);
    EXPECT_EQ(horn.barlineTo, 7);
    EXPECT_EQ(horn.instrumentName, "Horn");
    EXPECT_EQ(horn.instrumentNameW, u"Horn");
    EXPECT_EQ(horn.abbreviation, "Hn.");
    EXPECT_EQ(horn.program, 60);
    EXPECT_EQ(horn.volume, 74);
    EXPECT_EQ(horn.transpose, -7);
    EXPECT_EQ(horn.preferredChannel, 3);
    EXPECT_EQ(horn.percussion, 0);
    const CVxmlStaffLayout& drums = file.staffLayouts[1];
    EXPECT_EQ(drums.description, "Stv2");
    EXPECT_EQ(drums.defaultClef, "P3");
    EXPECT_EQ(drums.notelines, "_______|___");
    EXPECT_EQ(drums.percussion, 1);
    ASSERT_EQ(drums.drumMapCount(), 1);
    EXPECT_EQ(drums.drumMap[0].sourceKey, 36);
    EXPECT_EQ(drums.drumMap[0].targetKey, 35);

    ASSERT_EQ(file.getSystemCount(), 2);
    EXPECT_EQ(file.getSystemTempo(0), 90);
    EXPECT_EQ(file.getSystemTempo(1), 72);
    EXPECT_EQ(file.getSystemBeamGrouping(0), 1);
    EXPECT_EQ(file.getSystemBarNumbering(0)->reset, 1);
    EXPECT_EQ(file.getSystemBarNumbering(1)->reset, 0);
    EXPECT_EQ(file.getSystemBarNumbering(1)->nAdd, 2);
    EXPECT_EQ(file.getVoiceCount(0, 0), 2);
    EXPECT_EQ(file.getVoiceCount(1, 0), 3);
    EXPECT_EQ(file.getVoiceCount(1, 1), 1);
    EXPECT_EQ(file.getVoiceStemDir(1, 0, 0), 1);
    EXPECT_EQ(file.getVoiceStemDir(1, 0, 1), 2);
    EXPECT_EQ(file.getVoiceStemDir(1, 0, 2), 1);
    EXPECT_EQ(file.getVoiceStemDir(0, 1, 0), 0);
    EXPECT_EQ(file.staffAt(1, 1)->layoutName, "Stv2");
    EXPECT_EQ(file.getStaffTimeSig(1, 0)->beats, 3);
    std::string layoutName;
    EXPECT_EQ(CVxmlFile::getStaffLayoutAttr(file.getStaffNode(1, 1), layoutName), kOk);
    EXPECT_EQ(layoutName, "Stv2");
    EXPECT_EQ(CVxmlFile::getStaffLayoutAttr(file.getNoteObjectsNode(1, 1, 0), layoutName), kErrIndex);

    ASSERT_EQ(file.readStaffStart(), kOk);
    EXPECT_TRUE(file.getStaffClef(0, 0)->sameAs(kTreble));
    EXPECT_TRUE(file.getStaffClef(0, 1)->sameAs(CScoreClef{3, 3, 1}));
    EXPECT_EQ(*file.getStaffKey(0, 0), -1);
    EXPECT_EQ(file.getSystemBarNumbering(0)->nAdd, -1);  // a bar of one quarter opens the score
    EXPECT_EQ(file.getSystemBarNumbering(0)->continuation, 1);

    const std::vector<CScoreEvent> opening = walkVoice(file, 0, 0, 0);
    ASSERT_EQ(opening.size(), 2u);
    EXPECT_EQ(opening[1].start, 480);
    EXPECT_EQ(describe(opening[1]),
              "chord d=160 b=1/8 t=3:2 h=F6+1!1,A6 tie=1 beam=1 art=2/2 dyn=44/2/0 ly=1:la orn=1/1/6 "
              "tx=espr./Times New Roman/13//1@0 slur=2 wedge=-9/2/2/0:90 volta=6/1./2/10 br=-/0/3");

    // Voice ticks run on from one system to the next.
    const std::vector<CScoreEvent> first = walkVoice(file, 0, 0, 1);
    const std::vector<CScoreEvent> second = walkVoice(file, 1, 0, 1);
    ASSERT_EQ(first.size(), 2u);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(first[1].start, 480);
    EXPECT_EQ(second[0].start, 1440);
    EXPECT_EQ(describe(second[1]), "chord d=960 b=1/2 h=G5");
}

TEST(VxmlReaderScoreTest, VoiceCountsTuneUpChordsAndDrumKeysFollowTheLayoutNames) {
    CVxmlFile writer;
    writeScore(writer);
    ASSERT_FALSE(HasFatalFailure());
    TempFolder folder;
    CVxmlFile file;
    ASSERT_EQ(loadScore(file, serialise(writer), folder), kOk);

    const struct {
        int layout;
        int code;
        int voices;
    } counts[] = {{0, kOk, 3}, {1, kOk, 1}, {2, kErrIndex, 0}, {-1, kErrIndex, 0}};
    for (const auto& c : counts) {
        int voices = -5;
        EXPECT_EQ(file.getVoiceNumOfStaff(c.layout, &voices), c.code) << c.layout;
        EXPECT_EQ(voices, c.voices) << c.layout;
    }

    // The first chord of each voice: voice 2 begins with a rest, voice 3 exists only
    // in the second system.
    const struct {
        int layout;
        int voice;
        int code;
        const char* chord;
    } chords[] = {
        {0, 0, kOk, "chord d=480 b=1/4 h=C6,E6"},
        {0, 1, kOk, "chord d=960 b=1/2 h=E5"},
        {0, 2, kOk, "chord d=480 b=1/4 h=C6,E6"},
        {0, 3, kErrNotPresent, ""},
        {1, 0, kOk, "chord d=480 b=1/4 h=C3,D3"},
        {5, 0, kErrNotPresent, ""},
    };
    for (const auto& c : chords) {
        CScoreEvent event;
        EXPECT_EQ(file.getFirstEinstChord(c.layout, c.voice, event), c.code) << c.layout << "/" << c.voice;
        if (c.code == kOk) {
            EXPECT_EQ(describe(event), c.chord) << c.layout << "/" << c.voice;
        }
    }
    EXPECT_EQ(file.getCurrentSystem(), -1);  // the cursor is left as it was

    EXPECT_EQ(file.findStaffByLayout(1, "Stv2"), 1);
    EXPECT_EQ(file.findStaffByLayout(1, "Stv9"), -1);
    EXPECT_EQ(file.findStaffByLayout(7, "Stv1"), -1);

    // Keys 36 (C3, mapped to 35 already), 38 (D3) and 42 (F#3) in both systems.
    ASSERT_EQ(file.collectDrumKeys("Stv2", 1), kOk);
    std::vector<std::pair<int, int>> map;
    for (const CDrumMapEntry& e : file.staffLayouts[1].drumMap) map.emplace_back(e.sourceKey, e.targetKey);
    EXPECT_EQ(map, (std::vector<std::pair<int, int>>{{36, 35}, {38, 38}, {42, 42}}));
    ASSERT_EQ(file.collectDrumKeys("Stv2", 1), kOk);  // nothing new the second time
    EXPECT_EQ(file.staffLayouts[1].drumMapCount(), 3);
    EXPECT_EQ(file.collectDrumKeys("Stv2", 2), kErrIndex);
    ASSERT_EQ(file.collectDrumKeys("Nobody", 0), kOk);
    EXPECT_EQ(file.staffLayouts[0].drumMapCount(), 0);
}

TEST(VxmlReaderScoreTest, FixtureScoresReadAsFarAsTheyGo) {
    CVxmlFile file;
    ASSERT_EQ(file.getProps(kData / "score10.tvrx"), kOk);
    int count = 0;
    ASSERT_EQ(file.getLayoutStaffNum(&count, nullptr), kOk);
    ASSERT_EQ(file.setupScore(), kOk);
    EXPECT_EQ(file.staffLayouts[1].instrumentName, "Bass");
    EXPECT_EQ(file.staffLayouts[1].preferredChannel, 1);
    EXPECT_EQ(file.staffLayouts[0].program, 52);
    ASSERT_EQ(file.readStaffStart(), kOk);
    EXPECT_EQ(file.getSystemBarNumbering(0)->nAdd, 0);  // a full first bar
    const std::vector<CScoreEvent> events = walkVoice(file, 0, 0, 0);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(describe(events[0]), "chord d=1920 b=1/1 h=C5");
    EXPECT_EQ(events[0].midi[0] >> 8 & 0xFF, 60u);
    // A layout no staff names: no voices, no tune-up chord.
    int voices = -1;
    EXPECT_EQ(file.getVoiceNumOfStaff(1, &voices), kOk);
    EXPECT_EQ(voices, 0);
    CScoreEvent event;
    EXPECT_EQ(file.getFirstEinstChord(1, 0, event), kErrNotPresent);

    CVxmlFile empty;
    ASSERT_EQ(empty.getProps(kData / "score20.tvrx"), kOk);
    ASSERT_EQ(empty.getLayoutStaffNum(&count, nullptr), kOk);
    EXPECT_EQ(empty.setupScore(), kErrIndex);  // "systems" without a "system"
    EXPECT_EQ(empty.staffLayouts[0].description, "Stv1");
    EXPECT_EQ(empty.staffLayouts[0].volume, 74);
}

// ---------------------------------------------------------------------------------------------
// Pickup, beams, accidentals

TEST(VxmlReaderRulesTest, AShortFirstBarIsAPickup) {
    const std::string quarter = "<chord><duration base=\"1/4\"/><heads><head pitch=\"c5\"/></heads></chord>";
    const std::string bar = "<barline type=\"single\"/>";
    const struct {
        const char* what;
        std::string objects;
        const char* time;
        bool pickup;
    } cases[] = {
        {"one quarter of 4/4", quarter + bar + quarter, "C", true},
        {"a full bar", quarter + quarter + quarter + quarter + bar, "C", false},
        {"two quarters of 3/4 after the signs",
         "<clefSign clef=\"bass\"/><timeSign time=\"3/4\"/>" + quarter + quarter + bar, "C", true},
        {"a bar rest", "<rest><duration base=\"1\"/></rest>" + bar, "3/4", false},
        {"a single bar without barline", quarter, "C", false},
        {"nothing before the barline", bar + quarter, "C", false},
        {"an unmetered bar", quarter + bar, "infinite", false},
        {"a grace note counts nothing",
         "<chord><duration base=\"1/8\" noDuration=\"true\"/><heads><head pitch=\"c5\"/></heads></chord>" + quarter +
             quarter + "<rest><duration base=\"1/2\"/></rest>" + bar,
         "C", false},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        CVxmlFile file;
        ASSERT_EQ(loadScore(file, scoreXml(c.objects, c.time), folder), kOk) << c.what;
        ASSERT_EQ(file.readStaffStart(), kOk) << c.what;
        EXPECT_EQ(file.getSystemBarNumbering(0)->nAdd, c.pickup ? -1 : 0) << c.what;
        EXPECT_EQ(file.getSystemBarNumbering(0)->continuation, c.pickup ? 1 : 0) << c.what;
    }
    // The count leaves the tuplet rounding where the conversion starts it.
    TempFolder folder;
    CVxmlFile file;
    ASSERT_EQ(loadScore(file,
                        scoreXml("<chord><duration base=\"1/8\"><tuplet count=\"3\"/></duration><heads><head "
                                 "pitch=\"c5\"/></heads></chord>" + bar),
                        folder),
              kOk);
    ASSERT_EQ(file.readStaffStart(), kOk);
    EXPECT_FALSE(file.tupletRounding.truncateNext);
}

TEST(VxmlReaderRulesTest, BeamsFollowTheBeatsAndTheForcedAndSplitGroups) {
    const auto eighth = [](const char* beam = nullptr) {
        return std::string("<chord><duration base=\"1/8\"/>") +
               (beam ? std::string("<beam group=\"") + beam + "\"/>" : "") + "<heads><head pitch=\"c5\"/></heads></chord>";
    };
    const std::string quarter = "<chord><duration base=\"1/4\"/><heads><head pitch=\"c5\"/></heads></chord>";
    const std::string eighthRest = "<rest><duration base=\"1/8\"/></rest>";
    const std::string grace =
        "<chord><duration base=\"1/16\" noDuration=\"true\"/><heads><head pitch=\"c5\"/></heads></chord>";
    // Beam words after the running group, low three bits: 1 begin, 2 continue, 4 closed.
    const struct {
        const char* what;
        std::string objects;
        const char* time;
        int grouping;
        std::vector<int> beams;
    } cases[] = {
        {"eighths pair by beat", eighth() + eighth() + eighth() + eighth(), "C", 1, {1, 2, 1, 2}},
        {"a quarter closes the group", eighth() + eighth() + quarter + eighth(), "C", 1, {1, 2, 4, 1}},
        {"a rest closes the group", eighth() + eighthRest + eighth() + eighth(), "C", 1, {1, 4, 1, 2}},
        {"a grace note leaves it open", eighth() + grace + eighth(), "C", 1, {1, 0, 2}},
        {"compound meter groups three", eighth() + eighth() + eighth() + eighth(), "6/8", 1, {1, 2, 2, 1}},
        {"a forced beam crosses the beat", eighth() + eighth() + eighth("force") + eighth(), "C", 1, {1, 2, 2, 1}},
        {"a split ends the group", eighth("force") + eighth("split") + eighth() + eighth(), "C", 1, {1, 4, 1, 2}},
        {"an offbeat eighth stays alone in its beat", eighthRest + eighth() + eighth() + eighth(), "C", 1,
         {0, 1, 1, 2}},
        {"without grouping only forced beams", eighth("force") + eighth("force") + eighth() + eighth("force"), "C", 0,
         {1, 2, 4, 1}},
    };
    for (const auto& c : cases) {
        TempFolder folder;
        CVxmlFile file;
        ASSERT_EQ(loadScore(file, scoreXml(c.objects, c.time), folder), kOk) << c.what;
        file.systems[0].beamGrouping = c.grouping;
        std::vector<int> beams;
        for (const CScoreEvent& e : walkVoice(file, 0, 0, 0)) beams.push_back(e.beam & 7);
        EXPECT_EQ(beams, c.beams) << c.what;
    }
}

TEST(VxmlReaderRulesTest, AccidentalTableHoldsTheKeyAndTheBarsAlterations) {
    TempFolder folder;
    CVxmlFile file;
    ASSERT_EQ(loadScore(file, scoreXml(""), folder), kOk);
    file.setCursor(0, 0, 0);
    file.resetAccidentals(2);  // F#, C#
    CScoreEvent flats = note("quarter", 480, {{"B5", "-1"}, {"F5", "**", 0}, {"G5"}});
    CScoreEvent restEvent = rest("quarter", 480);
    ASSERT_EQ(file.storeAccidentals(flats), kOk);
    ASSERT_EQ(file.storeAccidentals(restEvent), kOk);
    const struct {
        const char* pitch;
        int code;
        int value;
    } cases[] = {
        {"c5", kOk, 1},   {"C2", kOk, 1},  // the key's sharp in every octave
        {"b5", kOk, -1},  {"B4", kOk, 0},  // the flat only in its octave
        {"f5", kOk, 0},                    // a natural cancels the key's sharp
        {"f4", kOk, 1},   {"g5", kOk, 0},  // a head without alteration or accidental stores nothing
        {"h5", kErrNotPresent, -9}, {"c", kErrNotPresent, -9}, {"cX", kErrNotPresent, -9},
    };
    for (const auto& c : cases) {
        int value = -9;
        EXPECT_EQ(file.getAccidental(c.pitch, &value), c.code) << c.pitch;
        EXPECT_EQ(value, c.value) << c.pitch;
    }
    int value = -9;
    EXPECT_EQ(file.getAccidental("c5", &value, 0, 0, 1), kErrNotPresent);
    EXPECT_EQ(file.storeAccidentals(flats, 0, 3, 0), kErrNotPresent);
    file.resetCursor();
    EXPECT_EQ(file.getAccidental("c5", &value), kErrNotPresent);
}

// ---------------------------------------------------------------------------------------------
// Broken documents and documents that lie

// Reads everything a host and a conversion would; each step returns a code and
// every result it gives is one that can be used.
void readEverything(const std::string& xml, const std::string& what) {
    TempFolder folder;
    CVxmlFile file;
    const int rc = loadScore(file, xml, folder);
    ASSERT_LE(rc, 0) << what;
    if (rc != kOk) return;
    EXPECT_LE(file.readStaffStart(), 0) << what;
    for (int layout = 0; layout < static_cast<int>(file.staffLayouts.size()); ++layout) {
        int voices = 0;
        EXPECT_EQ(file.getVoiceNumOfStaff(layout, &voices), kOk) << what;
        for (int v = 0; v <= voices; ++v) {
            CScoreEvent event;
            EXPECT_LE(file.getFirstEinstChord(layout, v, event), 0) << what;
            EXPECT_LE(event.headCount, kMaxHeads) << what;
        }
        EXPECT_LE(file.collectDrumKeys(file.staffLayouts[static_cast<std::size_t>(layout)].description, layout), 0)
            << what;
    }
    for (int s = 0; s < file.getSystemCount(); ++s) {
        EXPECT_GE(file.getSystemTempo(s), 1) << what;
        for (int staff = 0; staff < file.systems[static_cast<std::size_t>(s)].itemCount(); ++staff) {
            for (int v = 0; v < file.getVoiceCount(s, staff); ++v) {
                int code = kOk;
                for (const CScoreEvent& e : walkVoice(file, s, staff, v, &code)) {
                    EXPECT_GE(e.duration, 0) << what;
                    EXPECT_LE(e.headCount, kMaxHeads) << what;
                    EXPECT_EQ(e.pitches.size(), static_cast<std::size_t>(2 * e.headCount)) << what;
                }
                EXPECT_LE(code, 0) << what;
            }
        }
    }
}

TEST(VxmlReaderMutationTest, BrokenAndLyingDocumentsGiveCodesOrSoundResults) {
    CVxmlFile writer;
    writeScore(writer);
    ASSERT_FALSE(HasFatalFailure());
    const std::string base = serialise(writer);
    ASSERT_NO_FATAL_FAILURE(readEverything(base, "as written"));

    // Lies: attribute values no writer gives.
    const std::vector<std::pair<std::string, std::string>> lies = {
        {"base=\"1/4\"", "base=\"0\""},
        {"base=\"1/4\"", "base=\"-3\""},
        {"base=\"1/4\"", "base=\"2147483647\""},
        {"base=\"1/2\"", "base=\"1/2\" dots=\"100000\""},
        {"base=\"1/4\"", "base=\"1/4\" noDuration=\"true\""},
        {"<duration base=\"1/4\"/>", "<duration base=\"1/4\"><tuplet count=\"99999\"/></duration>"},
        {"<duration base=\"1/4\"/>", "<duration base=\"1/4\"><tuplet count=\"-4\" prolong=\"true\"/></duration>"},
        {"<duration base=\"1/4\"/>", "<duration base=\"1/4\"><tuplet count=\"127\" prolong=\"true\" tripartite=\"true\"/></duration>"},
        {"fifths=\"-1\"", "fifths=\"120\""},
        {"defaultTime=\"C\"", "defaultTime=\"0/0\""},
        {"defaultTime=\"3/4\"", "defaultTime=\"99999/4\""},
        {"time=\"3/4\"", "time=\"infinite\""},
        {"layout=\"Stv2\"", "layout=\"Stv1\""},
        {"layout=\"Stv1\"", "layout=\"\""},
        {"clef=\"treble\"", "clef=\"\""},
        {"pitch=\"C6\"", "pitch=\"C\""},
        {"pitch=\"C6\"", "pitch=\"c99\""},
        {"tempo=\"90\"", "tempo=\"-5\""},
        {"nAdd=\"2\"", "nAdd=\"-2147483648\""},
        {"from=\"36\"", "from=\"99999\""},
        {"<heads>", "<heads><head pitch=\"c5\"><alter step=\"-2147483648\" display=\"force\"/><tie begin=\"true\"/></head>"},
        {"<heads>", "<drawObjects><drawObj><slur/><basic noteRange=\"-2147483648\"/></drawObj>"
                    "<drawObj><wedge x1=\"nan\" x2=\"1e308\" span=\"inf\"/><basic noteRange=\"x\"/></drawObj>"
                    "<drawObj><text x=\"-1e300\" y=\"\"><font height=\"2147483647\"/><content>\xC3\x88</content></text></drawObj>"
                    "</drawObjects><heads>"},
        {"<heads>", "<lyric><verse verseNumber=\"-7\"/></lyric><heads>"},
    };
    for (const auto& [from, to] : lies) {
        std::string xml = base;
        for (std::size_t at = xml.find(from); at != std::string::npos; at = xml.find(from, at + to.size())) {
            xml.replace(at, from.size(), to);
        }
        ASSERT_NO_FATAL_FAILURE(readEverything(xml, to));
    }

    // Elements dropped: each element name in turn loses its first occurrence.
    for (const char* name : {"layout", "staves", "staffLayout", "systems", "system", "staff", "voices", "voice",
                             "noteObjects", "duration", "heads", "head", "barCount", "sound"}) {
        std::string xml = base;
        const std::string open = std::string("<") + name;
        const std::size_t at = xml.find(open + ">") != std::string::npos ? xml.find(open + ">") : xml.find(open + " ");
        if (at == std::string::npos) continue;
        const std::string close = std::string("</") + name + ">";
        const std::size_t selfClose = xml.find("/>", at);
        const std::size_t tagEnd = xml.find('>', at);
        std::size_t end = xml.find(close, at);
        end = selfClose != std::string::npos && selfClose + 1 == tagEnd ? tagEnd + 1 : end + close.size();
        xml.erase(at, end - at);
        ASSERT_NO_FATAL_FAILURE(readEverything(xml, std::string("without ") + name));
    }

    // Truncated at every 97th byte, and bytes overwritten.
    for (std::size_t length = 0; length < base.size(); length += 97) {
        ASSERT_NO_FATAL_FAILURE(readEverything(base.substr(0, length), "cut at " + std::to_string(length)));
    }
    for (std::size_t at = 150; at < base.size(); at += 131) {
        for (const char byte : {'<', '"', '0', 'x'}) {
            std::string xml = base;
            xml[at] = byte;
            ASSERT_NO_FATAL_FAILURE(readEverything(xml, "byte at " + std::to_string(at)));
        }
    }
}

}  // namespace
