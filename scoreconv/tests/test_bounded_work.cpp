// The work a hostile MusicXML file can cause stays bounded: huge durations,
// backups, forwards and offsets are cut to their measure with a log line, a
// score that would play for more than a day is refused, a part list of
// thousands of parts reads at once, and scores whose numbers are pushed to
// extremes load, convert and render in seconds.
#include <gtest/gtest.h>

#include <libxml/tree.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/convert_proc.h"
#include "musicxml/measure_walk.h"
#include "musicxml/part_list.h"
#include "musicxml/xml_values.h"
#include "mxml_load_support.h"
#include "platform_testing/temp_folder.h"
#include "play/play_passes.h"
#include "play_test_support.h"
#include "scorecore/result_codes.h"
#include "scorecore/vxml_file.h"
#include "scorecore/xml_dom.h"

namespace scoreconv::testing {
namespace {

namespace fs = std::filesystem;
using platform::testing::TempFolder;
using scorecore::kOk;

constexpr int64_t k100nsPerSecond = 10'000'000;

double seconds(int64_t time100ns) { return static_cast<double>(time100ns) / k100nsPerSecond; }

// A part of one staff in 4/4 at one division per quarter: `first` is the
// body of the first measure (after its attributes), then `more` measures of
// one whole note each. tempo: a sound tempo at the start, none when empty.
std::string oneStaffScore(std::string_view first, int more, std::string_view tempo = "") {
    std::string xml =
        "<?xml version=\"1.0\"?><score-partwise version=\"4.0\"><part-list><score-part id=\"P1\">"
        "<part-name>Flute</part-name></score-part></part-list><part id=\"P1\"><measure number=\"1\">"
        "<attributes><divisions>1</divisions><time><beats>4</beats><beat-type>4</beat-type></time></attributes>";
    if (!tempo.empty()) xml += "<sound tempo=\"" + std::string(tempo) + "\"/>";
    xml += first;
    xml += "</measure>";
    for (int m = 2; m <= more + 1; ++m) {
        xml += "<measure number=\"" + std::to_string(m) +
               "\"><note><pitch><step>D</step><octave>5</octave></pitch><duration>4</duration><voice>1</voice>"
               "<type>whole</type></note></measure>";
    }
    return xml + "</part></score-partwise>";
}

std::string note(std::string_view duration, std::string_view voice = "1") {
    return "<note><pitch><step>C</step><octave>5</octave></pitch><duration>" + std::string(duration) +
           "</duration><voice>" + std::string(voice) + "</voice><type>whole</type></note>";
}

// What the three procedures make of one file: the play model with its play
// time, the TvrXML conversion and the MIDI render.
struct Outcome {
    int load = 1;
    int64_t playTime = -1;  // 100-ns units
    int convert = 1;
    bool tvrxWritten = false;
    int render = 1;
    bool midiWritten = false;
    std::vector<std::string> loadLog;
    std::vector<std::string> convertLog;

    bool logged(std::string_view part) const { return anyLineHolds(loadLog, part) && anyLineHolds(convertLog, part); }
};

// The conversion to folder/out.tvrx.
void convert(const fs::path& source, const fs::path& folder, Outcome& out) {
    const fs::path target = folder / "out.tvrx";
    fs::remove(target);
    LoggedFile f(kModeTvrxml);
    f.file->controls.setPlayMode(kModeTvrxml);
    scorecore::CVxmlFile vxml;
    int result = 1;
    CConvertParams params;
    params.file = f.file.get();
    params.vxml = &vxml;
    params.sourcePath = source.string();
    params.targetPath = target.string();
    params.result = &result;
    mxmlConvertProc(&params);
    out.convert = result;
    out.tvrxWritten = fs::exists(target);
    out.convertLog = f.lines;
}

// ticksPerQuarter: the resolution of the play model (a render takes a step a tick).
Outcome runAll(const fs::path& source, const fs::path& folder, int32_t ticksPerQuarter = 480) {
    Outcome out;
    const fs::path midi = folder / "out.mid";
    fs::remove(midi);
    {
        // The load as a host starts it: the model, then its play time.
        PlayHarness h(kModePlayTime);
        if (ticksPerQuarter != 480) {
            h.file = CMxmlFile::newFile(&h.window, kModePlayTime, &h.signal, ticksPerQuarter, "qvp3", &h.log);
            h.file->progressPosted = 0;
            h.file->midiOut = &h.device;
        }
        int result = 1;
        CConvertParams params;
        params.file = h.file.get();
        params.sourcePath = source.string();
        params.playTime = &h.playTime;
        params.result = &result;
        mxmlConvertProc(&params);
        out.load = result;
        out.playTime = h.playTime;
        if (out.load == kOk) {
            h.midiPath = midi;
            out.render = h.play(kModeRender);
            out.midiWritten = fs::exists(midi);
        }
        out.loadLog = h.lines;
    }
    convert(source, folder, out);
    return out;
}

// --- durations, backups, forwards and offsets -----------------------------------------

// A measure reaches at most 64 bars (of its meter, at least whole notes) past
// its start: 256 quarters of 4/4, two minutes and eight seconds at 120. The
// whole note of the second measure adds two seconds.
constexpr int64_t kCutMeasureSeconds = 128;

TEST(BoundedDurations, HugeValuesAreCutToTheirMeasureWithALogLine) {
    struct Case {
        const char* name;
        std::string first;
        int64_t seconds;  // the play time once cut
        bool exact;       // else at most
    };
    // A crescendo whose start and stop lie at the offset.
    const auto wedge = [](std::string_view offset) {
        const std::string at = "<offset>" + std::string(offset) + "</offset></direction>";
        return "<direction><direction-type><wedge type=\"crescendo\"/></direction-type>" + at + note("2") +
               "<direction><direction-type><wedge type=\"stop\"/></direction-type>" + at + note("2");
    };
    const Case cases[] = {
        {"duration 1e30", note("1e30"), kCutMeasureSeconds + 2, true},
        {"duration 2^31", note("2147483648"), kCutMeasureSeconds + 2, true},
        {"duration 65536", note("65536"), kCutMeasureSeconds + 2, true},
        {"forward 2^31-1", note("4") + "<forward><duration>2147483647</duration><voice>1</voice></forward>",
         kCutMeasureSeconds + 2, true},
        {"backup 2^31-1", note("4") + "<backup><duration>2147483647</duration></backup>" + note("4", "2"), 4, true},
        // The ramp of the wedge may sound after the notes, but not before the score or days after it.
        {"offset 2^31-1", wedge("2147483647"), kCutMeasureSeconds + 2, false},
        {"offset -2^31", wedge("-2147483648"), 4, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder temp;
        const fs::path source = temp.path() / "hostile.xml";
        writeBytes(source, oneStaffScore(c.first, 1));
        const Outcome out = runAll(source, temp.path());
        EXPECT_EQ(out.load, kOk);
        // The play-time pass moves in steps of a 32nd of a quarter and ends one step after the music.
        if (c.exact) {
            EXPECT_NEAR(seconds(out.playTime), static_cast<double>(c.seconds), 0.05);
        } else {
            EXPECT_GT(out.playTime, 0);
            EXPECT_LE(seconds(out.playTime), static_cast<double>(c.seconds) + 0.05);
        }
        EXPECT_EQ(out.render, kOk);
        EXPECT_TRUE(out.midiWritten);
        EXPECT_EQ(out.convert, kOk);
        EXPECT_TRUE(out.tvrxWritten);
        EXPECT_TRUE(out.logged("measure 1 of part 1 cut"));
    }
}

TEST(BoundedDurations, ValuesWithinTheMeasureLeaveNoLogLine) {
    TempFolder temp;
    const fs::path source = temp.path() / "plain.xml";
    // A cadenza of 40 quarters in a 4/4 measure is long, but no fault.
    writeBytes(source, oneStaffScore(note("40") + "<backup><duration>40</duration></backup>" + note("40", "2"), 1));
    const Outcome out = runAll(source, temp.path());
    EXPECT_EQ(out.load, kOk);
    EXPECT_NEAR(seconds(out.playTime), 22, 0.05);
    EXPECT_EQ(out.convert, kOk);
    EXPECT_FALSE(anyLineHolds(out.loadLog, " cut"));
    EXPECT_FALSE(anyLineHolds(out.convertLog, " cut"));
}

// --- what the rest filler and the ramps emit ------------------------------------------

int countElements(const xmlNode* node, std::string_view name) {
    int count = 0;
    for (const xmlNode* c = node; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (scorecore::xmldomNodeName(c) == name) ++count;
        count += countElements(c->children, name);
    }
    return count;
}

TEST(BoundedEmission, AGapTakesAtMostAThousandHiddenRests) {
    // In 255/1 a measure may reach 64 bars of 255 whole notes: the note is
    // drawn as the longest value, and the rest of its time would take
    // thousands of hidden rests.
    TempFolder temp;
    const fs::path source = temp.path() / "wide.xml";
    writeBytes(source,
               "<?xml version=\"1.0\"?><score-partwise version=\"4.0\"><part-list><score-part id=\"P1\"><part-name>"
               "Organ</part-name></score-part></part-list><part id=\"P1\"><measure number=\"1\"><attributes>"
               "<divisions>1</divisions><time><beats>255</beats><beat-type>1</beat-type></time></attributes>" +
                   note("2147483647") + "</measure></part></score-partwise>");
    Outcome out;
    convert(source, temp.path(), out);
    ASSERT_EQ(out.convert, kOk);
    EXPECT_TRUE(anyLineHolds(out.convertLog, "gap too long for hidden rests: cut"));
    scorecore::CVxmlFile back;
    ASSERT_EQ(back.getProps(temp.path() / "out.tvrx"), kOk);
    EXPECT_EQ(countElements(back.root, "rest"), 1024);
}

TEST(BoundedEmission, RampsOfOneVoiceAddAtMostSixtyFiveThousandSteps) {
    // Twenty crescendos of 4096 sixteenths each would add 81920 steps.
    constexpr int32_t kRamps = 20;
    constexpr int32_t kSixteenth = 120;
    CEventArrays events;
    ASSERT_TRUE(events.allocRows(1));
    ASSERT_TRUE(events.allocVoices(0, 1));
    for (int32_t i = 0; i < kRamps; ++i) {
        for (const int32_t code : {scorecore::kWedgeCrescendo, scorecore::kWedgeStop}) {
            CScoreEvent mark;
            mark.kind = kKindRamp;
            mark.start = (2 * i + (code == scorecore::kWedgeStop ? 1 : 0)) * 4096 * kSixteenth;
            scorecore::CScoreWedge wedge;
            wedge.code = code;
            ASSERT_TRUE(mark.appendWedge(wedge));
            ASSERT_EQ(events.append(0, 0, mark), kOk);
        }
    }
    ASSERT_EQ(wedgesToRamps(events, 0, 480), kOk);
    int steps = 0;
    for (const CScoreEvent& e : events.events(0, 0)) {
        CRampStep step;
        if (rampStepOf(e, step)) ++steps;
    }
    // Sixteen ramps take the 65536 steps; the four after them jump in one step each.
    EXPECT_EQ(steps, 16 * 4096 + 4);
}

// --- the stop word ----------------------------------------------------------------------

// Counts the events of a walk and sets the stop word at the tenth.
class StoppingReceiver : public CWalkReceiver {
public:
    explicit StoppingReceiver(int& signal) : signal_(signal) {}
    int beginMeasure(const CWalkMeasure&) override { return kOk; }
    int event(const CWalkTarget&, CScoreEvent&) override {
        if (++events == 10) signal_ = kSignalStop;
        return kOk;
    }
    int tempo(int64_t, int32_t) override { return kOk; }
    int direction(int32_t, int64_t, const CScoreEvent&, int32_t) override { return kOk; }
    int barline(const CWalkMeasure&, int64_t, const scorecore::CEventBarline&, const CBarlineInfo&) override {
        return kOk;
    }
    int endPart(int32_t, int32_t, int32_t, int64_t) override { return kOk; }

    int events = 0;

private:
    int& signal_;
};

TEST(BoundedStop, TheStopWordEndsAWalkInsideAMeasure) {
    // One measure may hold any number of notes.
    std::string notes;
    for (int i = 0; i < 200; ++i) notes += note("1");
    TempFolder temp;
    const fs::path source = temp.path() / "one_measure.xml";
    writeBytes(source, oneStaffScore(notes, 0));
    LoggedFile f;
    ASSERT_EQ(f.load(source), kOk);
    StoppingReceiver receiver(f.signal);
    CMeasureWalk walk(*f.file, receiver);
    EXPECT_EQ(walk.run(), scorecore::kErrStopped);
    EXPECT_EQ(receiver.events, 10);
}

// --- the play-time limit ---------------------------------------------------------------

TEST(BoundedPlayTime, AScoreLongerThanADayIsRefusedAndNothingIsWritten) {
    struct Case {
        int measures;  // whole notes at one quarter a minute: four minutes each
        int rc;
    };
    // 360 measures are exactly 24 hours.
    for (const Case& c : {Case{360, kOk}, Case{361, scorecore::kErrUnknownFormat}}) {
        SCOPED_TRACE(c.measures);
        TempFolder temp;
        const fs::path source = temp.path() / "long.xml";
        writeBytes(source, oneStaffScore(note("4"), c.measures - 1, "1"));
        const Outcome out = runAll(source, temp.path());
        EXPECT_EQ(out.load, c.rc);
        EXPECT_EQ(out.convert, c.rc);
        EXPECT_EQ(out.tvrxWritten, c.rc == kOk);
        if (c.rc == kOk) {
            // A step is two seconds at this tempo.
            EXPECT_NEAR(seconds(out.playTime), static_cast<double>(kMaxPlaySeconds), 2);
            EXPECT_EQ(out.render, kOk);
        } else {
            EXPECT_TRUE(out.logged("score plays longer than 24 hours: refused"));
        }
    }
}

// --- many parts ------------------------------------------------------------------------

// parts parts of two staves each in groups of ten, every part with a measure
// of one note per staff. The part elements come in the reverse order of the
// part list, which the part list allows.
std::string manyPartScore(int parts) {
    std::string xml = "<?xml version=\"1.0\"?><score-partwise version=\"4.0\"><part-list>";
    for (int p = 1; p <= parts; ++p) {
        const std::string id = "P" + std::to_string(p);
        if (p % 10 == 1) xml += "<part-group type=\"start\" number=\"1\"><group-symbol>bracket</group-symbol></part-group>";
        xml += "<score-part id=\"" + id + "\"><part-name>Part " + std::to_string(p) + "</part-name><midi-instrument id=\"" +
               id + "-I1\"><midi-channel>" + std::to_string(p % 16 + 1) + "</midi-channel><midi-program>" +
               std::to_string(p % 128 + 1) + "</midi-program></midi-instrument></score-part>";
        if (p % 10 == 0) xml += "<part-group type=\"stop\" number=\"1\"/>";
    }
    xml += "</part-list>";
    for (int p = parts; p >= 1; --p) {
        xml += "<part id=\"P" + std::to_string(p) +
               "\"><measure number=\"1\"><attributes><divisions>1</divisions><time><beats>4</beats><beat-type>4"
               "</beat-type></time><staves>2</staves></attributes><note><pitch><step>C</step><octave>5</octave></pitch>"
               "<duration>4</duration><voice>1</voice><staff>1</staff></note><backup><duration>4</duration></backup>"
               "<note><pitch><step>C</step><octave>3</octave></pitch><duration>4</duration><voice>2</voice><staff>2"
               "</staff></note></measure></part>";
    }
    return xml + "</score-partwise>";
}

TEST(BoundedPartList, FiveThousandPartsReadTheirProperties) {
    constexpr int kParts = 5000;
    TempFolder temp;
    const fs::path source = temp.path() / "parts.xml";
    const std::string xml = manyPartScore(kParts);
    ASSERT_GT(xml.size(), 2'000'000u);
    writeBytes(source, xml);
    LoggedFile f;
    ASSERT_EQ(f.load(source), kOk);
    const CMxmlFile& file = *f.file;
    ASSERT_EQ(scorePartCount(file), kParts);
    ASSERT_EQ(file.staffCount(), 2 * kParts);
    EXPECT_EQ(file.staffNames[9999].name, "Part 5000");
    // Each part is braced; each ten parts are bracketed.
    ASSERT_EQ(file.partGroups.count(), kParts + kParts / 10);
    for (int32_t s : {0, 18, 19, 20, 9999}) {
        SCOPED_TRACE(s);
        EXPECT_EQ(file.groupEnd[static_cast<std::size_t>(s)], s % 2 == 1 ? 1 : 0);
    }
    const scorecore::CScorePartGroup* lastBracket = file.partGroups.item(file.partGroups.count() - 11);
    ASSERT_NE(lastBracket, nullptr);
    EXPECT_EQ(lastBracket->firstStaff, 9980);
    EXPECT_EQ(lastBracket->lastStaff, 9999);
    // Every part found its element.
    EXPECT_FALSE(f.logged("is not in the part list"));
    for (int32_t p : {0, 2500, kParts - 1}) {
        EXPECT_EQ(partIndexOfElement(file, file.parts[static_cast<std::size_t>(p)].node), p);
    }
}

// --- numbers pushed to extremes --------------------------------------------------------

// A number of a score: an element's text (attribute empty) or the value of
// one of its attributes. Its kind is the element's name, or
// "element@attribute".
struct NumberSite {
    std::string kind;
    xmlNodePtr element = nullptr;
    std::string attribute;
};

void collectNumbers(xmlNodePtr node, std::vector<NumberSite>& out) {
    for (xmlNodePtr c = node; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        const std::string name = scorecore::xmldomNodeName(c);
        for (xmlAttrPtr a = c->properties; a != nullptr; a = a->next) {
            const std::string attribute = reinterpret_cast<const char*>(a->name);
            if (mx::parseNumber(scorecore::xmldomAttribute(c, attribute).value_or(""))) {
                out.push_back({name + "@" + attribute, c, attribute});
            }
        }
        const xmlNode* text = c->children;
        if (text != nullptr && text->type == XML_TEXT_NODE && text->next == nullptr &&
            mx::parseNumber(scorecore::xmldomNodeText(c))) {
            out.push_back({name, c, {}});
        }
        collectNumbers(c->children, out);
    }
}

std::vector<NumberSite> numbersOf(const scorecore::XmlDocument& doc) {
    std::vector<NumberSite> sites;
    collectNumbers(doc.root(), sites);
    return sites;
}

// The score with the numbers of one kind set to value: every one of them,
// or only the first.
std::string mutated(std::string_view xml, std::string_view kind, std::string_view value, bool all) {
    scorecore::XmlDocument doc;
    EXPECT_EQ(scorecore::xmldomParseMemory(xml, doc), kOk);
    const std::string text(value);
    const auto* bytes = reinterpret_cast<const xmlChar*>(text.c_str());
    for (const NumberSite& site : numbersOf(doc)) {
        if (site.kind != kind) continue;
        if (site.attribute.empty()) {
            xmlNodeSetContent(site.element, bytes);
        } else {
            xmlSetProp(site.element, reinterpret_cast<const xmlChar*>(site.attribute.c_str()), bytes);
        }
        if (!all) break;
    }
    std::string out;
    EXPECT_EQ(scorecore::xmldomSaveToString(doc, out), kOk);
    return out;
}

std::vector<std::string> numberKinds(std::string_view xml) {
    scorecore::XmlDocument doc;
    EXPECT_EQ(scorecore::xmldomParseMemory(xml, doc), kOk);
    std::vector<std::string> kinds;
    for (const NumberSite& site : numbersOf(doc)) {
        if (std::find(kinds.begin(), kinds.end(), site.kind) == kinds.end()) kinds.push_back(site.kind);
    }
    return kinds;
}

// Each file must be done long before a host would give up on it, also in the
// sanitizer build; unbounded work takes minutes to hours.
constexpr double kSecondsPerFile = 20;
// A coarse resolution keeps the renders (a step a tick) of the many files short.
constexpr int32_t kMutantTicksPerQuarter = 48;

// Every number of each fixture (durations, offsets, divisions, counts, tempos,
// staff and voice numbers ...) set to each extreme, everywhere and once.
TEST(BoundedMutation, ExtremeNumbersLoadConvertAndRenderInSeconds) {
    const CurrentFolder folder(styleSheetFolder());
    TempFolder temp;
    const char* const values[] = {"2147483647", "1e30", "1e-300", "-1", "65536", "0"};
    for (const char* fixtureName : {"bounded_numbers.xml", "walk_voices.xml", "walk_directions.xml"}) {
        const std::string xml = readBytes(fixture(fixtureName));
        const std::vector<std::string> kinds = numberKinds(xml);
        ASSERT_FALSE(kinds.empty()) << fixtureName;
        std::set<std::string> seen;
        for (const std::string& kind : kinds) {
            for (const char* value : values) {
                for (const bool all : {true, false}) {
                    const std::string text = mutated(xml, kind, value, all);
                    // A number met once, or already of that value, gives the same file again.
                    if (!seen.insert(text).second) continue;
                    SCOPED_TRACE(std::string(fixtureName) + " " + kind + "=" + value + (all ? " everywhere" : " once"));
                    const fs::path source = temp.path() / "mutant.xml";
                    writeBytes(source, text);
                    const auto start = std::chrono::steady_clock::now();
                    const Outcome out = runAll(source, temp.path(), kMutantTicksPerQuarter);
                    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
                              kSecondsPerFile);
                    // A file loads, or fails with a code; a load that succeeds renders and converts.
                    EXPECT_LE(out.load, kOk);
                    EXPECT_LE(out.convert, kOk);
                    EXPECT_EQ(out.tvrxWritten, out.convert == kOk);
                    if (out.load == kOk) {
                        EXPECT_GE(out.playTime, 0);
                        // Once through within the limit; each repeat adds its part once more at most.
                        EXPECT_LE(out.playTime, 2 * kMaxPlaySeconds * k100nsPerSecond);
                        EXPECT_EQ(out.render, kOk);
                        EXPECT_TRUE(out.midiWritten);
                    }
                    if (::testing::Test::HasFailure()) return;
                }
            }
        }
    }
}

}  // namespace
}  // namespace scoreconv::testing
