// The TvrXML side of the conversion: the look-ahead for spanning marks, the
// system estimate, the values of hidden rests, the measure-style signs, and
// what the receiver writes into the voices of a small score.
#include "tvrxml/vxml_bridge.h"

#include <gtest/gtest.h>

#include <libxml/tree.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#include "musicxml/convert_proc.h"
#include "musicxml/output_elements.h"
#include "mxml_load_support.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"
#include "scorecore/vxml_file.h"
#include "scorecore/xml_dom.h"

namespace scoreconv::testing {
namespace {

namespace fs = std::filesystem;
using scorecore::kOk;

// --- span search -----------------------------------------------------------------------

// The n-th element of that name in document order.
const xmlNode* findNth(const xmlNode* node, std::string_view name, int& n) {
    for (const xmlNode* c = node; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (scorecore::xmldomNodeName(c) == name && n-- == 0) return c;
        if (const xmlNode* found = findNth(c->children, name, n)) return found;
    }
    return nullptr;
}

const xmlNode* findNth(const scorecore::XmlDocument& doc, std::string_view name, int n = 0) {
    return findNth(doc.root(), name, n);
}

std::string note(std::string_view voice, std::string_view extra = "", std::string_view type = "eighth") {
    return "<note><pitch><step>C</step><octave>4</octave></pitch><duration>1</duration><voice>" + std::string(voice) +
           "</voice><type>" + std::string(type) + "</type>" + std::string(extra) + "</note>";
}

std::string part(std::initializer_list<std::string> measures) {
    std::string xml = "<score-partwise><part id=\"P1\">";
    for (const std::string& m : measures) xml += "<measure>" + m + "</measure>";
    return xml + "</part></score-partwise>";
}

struct SpanCase {
    const char* name;
    std::string xml;
    const char* start;  // the element the search starts at
    SpanKind kind;
    int32_t staffOrVoice;
    int32_t number;
    bool found;
    int32_t span;
};

TEST(SpanSearch, FindsWhereEachKindOfMarkEnds) {
    const std::string tupletStart = "<notations><tuplet type=\"start\"/></notations>";
    const std::string tupletStop = "<notations><tuplet type=\"stop\"/></notations>";
    const std::string slurStart = "<notations><slur type=\"start\" number=\"1\"/></notations>";
    const std::string slurStop = "<notations><slur type=\"stop\" number=\"1\"/></notations>";
    const std::string chord = "<note><chord/><pitch><step>E</step><octave>4</octave></pitch><duration>1</duration>"
                              "<voice>1</voice><type>eighth</type></note>";
    const SpanCase cases[] = {
        {"tuplet of three eighths", part({note("1", tupletStart) + note("1") + note("1", tupletStop)}), "tuplet",
         SpanKind::Tuplet, 0, 0, true, 3},
        {"tuplet counts only its voice", part({note("1", tupletStart) + note("2") + note("1") + note("2") + note("1", tupletStop)}),
         "tuplet", SpanKind::Tuplet, 0, 0, true, 3},
        {"tuplet never stopped", part({note("1", tupletStart) + note("1")}), "tuplet", SpanKind::Tuplet, 0, 0, false, -1},
        {"slur into the next measure", part({note("1") + note("1", slurStart) + chord + note("1"), note("1") + note("1", slurStop)}),
         "slur", SpanKind::Slur, 0, 1, true, 4},
        {"slur of another number goes on",
         part({note("1", slurStart) + note("1", "<notations><slur type=\"stop\" number=\"2\"/></notations>") + note("1", slurStop)}),
         "slur", SpanKind::Slur, 0, 1, true, 3},
        {"wedge over the notes of its staff",
         part({"<direction><direction-type><wedge type=\"crescendo\" number=\"1\"/></direction-type></direction>" + note("1") +
               note("1", "<staff>2</staff>") + note("1") +
               "<direction><direction-type><wedge type=\"stop\" number=\"1\"/></direction-type><offset>2</offset></direction>"}),
         "direction", SpanKind::Wedge, 0, 0, true, 2},
        {"ending over voice 1",
         part({"<barline location=\"left\"><ending number=\"1\" type=\"start\"/></barline>" + note("1") + note("1") + note("2"),
               note("1") + "<barline location=\"right\"><ending number=\"1\" type=\"stop\"/></barline>", note("1")}),
         "barline", SpanKind::Ending, -1, 0, true, 2},
        {"ending discontinued at 1 runs to the part's end",
         part({"<barline location=\"left\"><ending number=\"1\" type=\"start\"/></barline>" + note("1") +
                   "<barline location=\"right\"><ending number=\"1\" type=\"discontinue\"/></barline>",
               note("1") + note("1")}),
         "barline", SpanKind::Ending, -1, 0, true, 2},
        {"measure repeat over two measures",
         part({note("1"), "<attributes><measure-style><measure-repeat type=\"start\">1</measure-repeat></measure-style></attributes>" + note("1"),
               note("1"), "<attributes><measure-style><slash type=\"stop\"/></measure-style></attributes>" + note("1"),
               "<attributes><measure-style><measure-repeat type=\"stop\"/></measure-style></attributes>" + note("1")}),
         "measure-repeat", SpanKind::RepeatStyle, -1, 0, true, 3},
    };
    // The readings of a part's notes made beforehand (as a parsing thread
    // makes them) give every search the same end as readings made on demand;
    // those of another part are not taken for this one's.
    enum class Readings { OnDemand, Prepared, OfAnotherPart };
    for (const SpanCase& c : cases) {
        for (const Readings readings : {Readings::OnDemand, Readings::Prepared, Readings::OfAnotherPart}) {
            SCOPED_TRACE(std::string(c.name) + (readings == Readings::OnDemand   ? ", on demand"
                                                : readings == Readings::Prepared ? ", prepared"
                                                                                 : ", another part's"));
            LoggedFile f(kModeTvrxml);
            ASSERT_EQ(scorecore::xmldomParseMemory(c.xml, f.file->document), kOk);
            const xmlNode* partElement = findNth(f.file->document, "part");
            scorecore::XmlDocument other;
            ASSERT_EQ(scorecore::xmldomParseMemory(part({note("1", slurStop) + note("2", tupletStop)}), other), kOk);
            CMxmlSpanFinder finder(*f.file);
            if (readings == Readings::Prepared) {
                finder.usePrepared(partElement, CMxmlSpanFinder::readPart(partElement, f.file->ticksPerQuarter));
            } else if (readings == Readings::OfAnotherPart) {
                const xmlNode* otherPart = findNth(other, "part");
                finder.usePrepared(otherPart, CMxmlSpanFinder::readPart(otherPart, f.file->ticksPerQuarter));
            }
            CSpanResult result;
            ASSERT_EQ(finder.find(findNth(f.file->document, c.start), c.kind, c.staffOrVoice, c.number, result), kOk);
            EXPECT_EQ(result.found, c.found);
            EXPECT_EQ(result.span, c.span);
            EXPECT_EQ(f.file->playModeNow(), kModeTvrxml);
        }
    }
}

TEST(SpanSearch, WedgeEndOffsetAndEndingNumberAndAStartOutsideAMeasure) {
    LoggedFile f(kModeTvrxml);
    const std::string xml =
        part({"<direction><direction-type><wedge type=\"diminuendo\" number=\"2\"/></direction-type></direction>" + note("1") +
                  "<direction><direction-type><wedge type=\"stop\" number=\"1\"/></direction-type></direction>",
              "<direction><direction-type><wedge type=\"stop\" number=\"2\"/></direction-type><offset>3</offset></direction>"
              "<barline><ending number=\"1, 2\" type=\"stop\"/></barline>"});
    ASSERT_EQ(scorecore::xmldomParseMemory(xml, f.file->document), kOk);
    CMxmlSpanFinder finder(*f.file);
    CSpanResult wedge;
    // Wedge numbers are counted from 0, as the direction reader keeps them.
    ASSERT_EQ(finder.find(findNth(f.file->document, "direction"), SpanKind::Wedge, -1, 1, wedge), kOk);
    EXPECT_TRUE(wedge.found);
    EXPECT_EQ(wedge.span, 1);
    EXPECT_EQ(wedge.endOffset, 3.0);
    CSpanResult ending;
    ASSERT_EQ(finder.find(findNth(f.file->document, "note"), SpanKind::Ending, -1, 0, ending), kOk);
    EXPECT_EQ(ending.endingNumber, "1, 2");
    CSpanResult outside;
    EXPECT_EQ(finder.find(f.file->document.root(), SpanKind::Slur, 0, 1, outside), scorecore::kErrDom);
    EXPECT_EQ(finder.find(nullptr, SpanKind::Slur, 0, 1, outside), scorecore::kErrDom);
}

// --- weights and the system estimate ---------------------------------------------------

TEST(MeasureWeight, NotesOfTheFullestVoiceAndTheSignsOfTheMeasure) {
    struct Case {
        const char* name;
        std::string measure;
        int32_t weight;
    };
    const std::string whole = note("1", "", "whole");
    const Case cases[] = {
        {"one whole note", whole, 4},
        {"quarters", note("1", "", "quarter") + note("1", "", "quarter") + note("1", "", "quarter"), 3},
        {"rest and half", "<note><rest/><duration>1</duration><voice>1</voice><type>half</type></note>" + note("1", "", "half"), 5},
        {"fullest voice", note("1", "", "half") + note("2", "", "quarter") + note("2", "", "quarter") + note("2", "", "quarter"), 3},
        {"chord notes and hidden notes count nothing",
         whole + "<note><chord/><pitch><step>E</step><octave>4</octave></pitch><duration>4</duration><type>whole</type></note>"
                 "<note print-object=\"no\"><pitch><step>E</step><octave>4</octave></pitch><duration>4</duration><type>whole</type></note>",
         4},
        {"key of four flats", "<attributes><key><fifths>-4</fifths></key></attributes>" + whole, 6},
        {"key of one sharp counts at least one", "<attributes><key><fifths>1</fifths></key></attributes>" + whole, 5},
        {"time", "<attributes><time><beats>3</beats><beat-type>4</beat-type></time></attributes>" + whole, 5},
        {"bass clef", "<attributes><clef><sign>F</sign><line>4</line></clef></attributes>" + whole, 5},
        {"treble clef", "<attributes><clef><sign>G</sign><line>2</line></clef></attributes>" + whole, 4},
        {"second staff's clef", "<attributes><clef number=\"2\"><sign>F</sign></clef></attributes>" + whole, 4},
        {"multiple rest", "<attributes><measure-style><multiple-rest>4</multiple-rest></measure-style></attributes>" + whole, 5},
        {"empty", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scorecore::XmlDocument doc;
        ASSERT_EQ(scorecore::xmldomParseMemory("<measure>" + c.measure + "</measure>", doc), kOk);
        EXPECT_EQ(measureWeight(doc.root()), c.weight);
    }
}

// A part whose measures hold notes of the given weights (quarters weigh 1).
std::string weighedPart(std::string_view id, std::initializer_list<int> weights) {
    std::string xml = "<part id=\"" + std::string(id) + "\">";
    for (const int w : weights) {
        xml += "<measure>";
        for (int i = 0; i < w; ++i) xml += note("1", "", "quarter");
        xml += "</measure>";
    }
    return xml + "</part>";
}

TEST(SystemEstimate, MeasuresUpToTheWidthAndTheOvershootRule) {
    struct Case {
        const char* name;
        std::string parts;
        double width;
        int32_t first;
        int32_t count;
    };
    const Case cases[] = {
        {"six of four", weighedPart("P1", {4, 4, 4, 4, 4, 4, 4, 4}), 1.0, 0, 6},
        {"overshoot beyond the shortfall stops before", weighedPart("P1", {10, 10, 10}), 1.0, 0, 2},
        {"overshoot within the shortfall counts", weighedPart("P1", {10, 10, 5, 1}), 1.0, 0, 3},
        {"the heaviest part's measure counts", weighedPart("P1", {1, 1, 1}) + weighedPart("P2", {12, 12, 1}), 1.0, 0, 2},
        {"a wider layout takes more", weighedPart("P1", {4, 4, 4, 4, 4, 4, 4, 4, 4, 4}), 1.5, 0, 9},
        {"from a later measure", weighedPart("P1", {20, 20, 4, 4, 4, 4, 4, 4}), 1.0, 2, 6},
        {"never full: all that is left", weighedPart("P1", {4, 4}), 1.0, 0, 2},
        {"no width", weighedPart("P1", {4, 4}), 0.01, 0, 0},
        {"past the end", weighedPart("P1", {4, 4}), 1.0, 5, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        scorecore::XmlDocument doc;
        ASSERT_EQ(scorecore::xmldomParseMemory("<score-partwise>" + c.parts + "</score-partwise>", doc), kOk);
        int32_t count = -1;
        ASSERT_EQ(firstSystemEstimate(doc.root(), c.width, c.first, count), kOk);
        EXPECT_EQ(count, c.count);
    }
    int32_t count = -1;
    EXPECT_EQ(firstSystemEstimate(nullptr, 1.0, 0, count), scorecore::kErrDom);
    EXPECT_EQ(count, 0);
}

// --- rest values and style signs -------------------------------------------------------

TEST(RestValues, TheLongestValueWithUpToTwoDotsThatFits) {
    struct Case {
        int64_t gap;
        const char* type;
        int32_t dots;
        int32_t ticks;
    };
    const Case cases[] = {
        {960, "half", 0, 960},       {1440, "half", 1, 1440}, {1680, "half", 2, 1680}, {1000, "half", 0, 960},
        {1920, "whole", 0, 1920},    {10000, "long", 0, 7680}, {180, "16th", 1, 180}, {7, "256th", 0, 7},
        {11520, "long", 1, 11520},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.gap);
        const std::optional<CRestValue> value = longestRestValue(c.gap, 480);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, c.type);
        EXPECT_EQ(value->dots, c.dots);
        EXPECT_EQ(value->ticks, c.ticks);
    }
    EXPECT_FALSE(longestRestValue(6, 480).has_value());
    EXPECT_FALSE(longestRestValue(0, 480).has_value());
    EXPECT_FALSE(longestRestValue(-480, 480).has_value());
    EXPECT_FALSE(longestRestValue(480, 0).has_value());
}

TEST(MeasureStyleMarks, TheSignOfABlockGoesOnItsFirstEvent) {
    CScoreEvent one;
    ASSERT_EQ(applyMeasureStyleMarks(one, CStyleMarks{CMeasureStyle::kMeasureRepeat, 1}), kOk);
    ASSERT_EQ(one.ornamentCount(), 1);
    EXPECT_EQ(one.ornaments[0].code, kOrnamentRepeatOne);
    EXPECT_EQ(one.ornaments[0].position, 0.0f);
    EXPECT_EQ(one.ornaments[0].flag, 1);
    EXPECT_EQ(one.ornaments[0].placement, 3);
    EXPECT_EQ(one.textCount(), 0);

    CScoreEvent many;
    scorecore::CScoreText words;
    words.text = "solo";
    words.offsetY = -50;
    ASSERT_TRUE(many.appendText(words));
    ASSERT_EQ(applyMeasureStyleMarks(many, CStyleMarks{CMeasureStyle::kMeasureRepeat, 3}), kOk);
    EXPECT_EQ(many.ornaments[0].code, kOrnamentRepeatMany);
    EXPECT_EQ(many.ornaments[0].position, 800.0f);
    ASSERT_EQ(many.textCount(), 2);
    EXPECT_EQ(many.texts[1].text, "3");
    EXPECT_EQ(many.texts[1].face, "Tavrena3");
    EXPECT_EQ(many.texts[1].offsetY, -250);

    CScoreEvent slashes;
    ASSERT_EQ(applyMeasureStyleMarks(slashes, CStyleMarks{CMeasureStyle::kSlash, 1}), kOk);
    EXPECT_EQ(slashes.ornaments[0].code, kOrnamentSlashes);
    CScoreEvent none;
    ASSERT_EQ(applyMeasureStyleMarks(none, CStyleMarks{}), kOk);
    EXPECT_EQ(none.ornamentCount(), 0);
}

// --- what the receiver writes ----------------------------------------------------------

// The objects of every voice of a converted score, system by system:
// voices[system][staff][voice] is a list like "clef:treble", "chord:1/4",
// "rest:1/2~" (a hidden rest), "bar:single".
using Voices = std::vector<std::vector<std::vector<std::vector<std::string>>>>;

std::string objectText(const xmlNode* o) {
    const std::string name = scorecore::xmldomNodeName(o);
    const auto attr = [o](const char* n) { return scorecore::xmldomAttribute(o, n).value_or(""); };
    if (name == "clefSign") return "clef:" + attr("clef");
    if (name == "keySign") return "key:" + attr("fifths");
    if (name == "timeSign") return "time:" + attr("time");
    if (name == "barline") return "bar:" + attr("type");
    std::string text = name + ":";
    bool hidden = false;
    for (const xmlNode* c = o->children; c != nullptr; c = c->next) {
        const std::string child = scorecore::xmldomNodeName(c);
        if (child == "duration") {
            text += scorecore::xmldomAttribute(c, "base").value_or("");
            const std::string dots = scorecore::xmldomAttribute(c, "dots").value_or("");
            if (!dots.empty()) text += "." + dots;
        }
        if (child == "display") hidden = scorecore::xmldomAttribute(c, "invisible") == "true";
        if (child == "drawObjects") text += "+marks";
    }
    return hidden ? text + "~" : text;
}

struct Converted {
    int rc = -1;
    Voices voices;
};

// Barlines of an object list.
long bars(const std::vector<std::string>& objects) {
    return std::count_if(objects.begin(), objects.end(), [](const std::string& o) { return o.rfind("bar:", 0) == 0; });
}

std::vector<const xmlNode*> elementsNamed(const xmlNode* parent, std::string_view name) {
    std::vector<const xmlNode*> out;
    for (const xmlNode* c = parent != nullptr ? parent->children : nullptr; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && (name.empty() || scorecore::xmldomNodeName(c) == name)) out.push_back(c);
    }
    return out;
}

Converted convert(const std::string& xml) {
    platform::testing::TempFolder temp;
    writeBytes(temp.path() / "score.xml", xml);
    LoggedFile f(kModeTvrxml);
    f.file->controls.setPlayMode(kModeTvrxml);
    scorecore::CVxmlFile vxml;
    Converted out;
    CConvertParams params;
    params.file = f.file.get();
    params.vxml = &vxml;
    params.sourcePath = (temp.path() / "score.xml").string();
    params.targetPath = (temp.path() / "score.tvrx").string();
    params.result = &out.rc;
    mxmlConvertProc(&params);
    if (out.rc != kOk) return out;
    scorecore::CVxmlFile back;
    if (back.getProps(temp.path() / "score.tvrx") != kOk) {
        out.rc = -1;
        return out;
    }
    for (const xmlNode* system : elementsNamed(elementsNamed(back.root, "systems").front(), "system")) {
        auto& staves = out.voices.emplace_back();
        for (const xmlNode* staff : elementsNamed(elementsNamed(system, "staves").front(), "staff")) {
            auto& voices = staves.emplace_back();
            for (const xmlNode* voice : elementsNamed(elementsNamed(staff, "voices").front(), "voice")) {
                auto& objects = voices.emplace_back();
                for (const xmlNode* o : elementsNamed(elementsNamed(voice, "noteObjects").front(), "")) {
                    objects.push_back(objectText(o));
                }
            }
        }
    }
    return out;
}

using Objects = std::vector<std::string>;

std::string score(std::string_view partList, std::initializer_list<std::string> parts) {
    std::string xml = "<?xml version=\"1.0\"?><score-partwise version=\"4.0\"><part-list>" + std::string(partList) + "</part-list>";
    for (const std::string& p : parts) xml += p;
    return xml + "</score-partwise>";
}

constexpr std::string_view kOnePart = "<score-part id=\"P1\"><part-name>Flute</part-name></score-part>";
const std::string kFourFour =
    "<attributes><divisions>2</divisions><time><beats>4</beats><beat-type>4</beat-type></time>"
    "<clef><sign>G</sign><line>2</line></clef></attributes>";

std::string pitched(std::string_view step, int duration, std::string_view type, std::string_view voice = "1",
                    std::string_view extra = "") {
    return "<note><pitch><step>" + std::string(step) + "</step><octave>4</octave></pitch><duration>" +
           std::to_string(duration) + "</duration><voice>" + std::string(voice) + "</voice><type>" + std::string(type) +
           "</type>" + std::string(extra) + "</note>";
}

TEST(VxmlBridge, AVoiceThatStopsEarlyIsFilledWithHiddenRests) {
    const Converted c = convert(score(
        kOnePart, {"<part id=\"P1\"><measure number=\"1\">" + kFourFour + pitched("C", 2, "quarter") +
                   pitched("D", 2, "quarter") + pitched("E", 4, "half") + "<backup><duration>8</duration></backup>" +
                   pitched("F", 4, "half", "2") + "</measure><measure number=\"2\">" + pitched("G", 8, "whole") +
                   "<backup><duration>8</duration></backup>" + pitched("A", 1, "eighth", "2") +
                   "<forward><duration>2</duration><voice>2</voice></forward>" + pitched("B", 1, "eighth", "2") +
                   "</measure></part>"}));
    ASSERT_EQ(c.rc, kOk);
    ASSERT_EQ(c.voices.size(), 1u);
    ASSERT_EQ(c.voices[0][0].size(), 2u);
    EXPECT_EQ(c.voices[0][0][0], (Objects{"clef:treble", "time:C", "chord:1/4", "chord:1/4", "chord:1/2", "bar:single",
                                          "chord:1/1", "bar:single"}));
    EXPECT_EQ(c.voices[0][0][1], (Objects{"clef:treble", "time:C", "chord:1/2", "rest:1/2~", "bar:single", "chord:1/8",
                                          "rest:1/4~", "chord:1/8", "rest:1/2~", "bar:single"}));
}

TEST(VxmlBridge, RestsThatFillTheirMeasureAreOneBarRests) {
    const std::string partList(kOnePart);
    const Converted c = convert(score(
        partList, {"<part id=\"P1\"><measure number=\"1\">" + kFourFour +
                   "<note><rest measure=\"yes\"/><duration>8</duration><voice>1</voice></note></measure>"
                   "<measure number=\"2\"><note><rest/><duration>8</duration><voice>1</voice><type>whole</type></note></measure>"
                   "<measure number=\"3\"><note><rest/><duration>3</duration><voice>1</voice></note>"
                   "<note><rest/><duration>2</duration><voice>1</voice><type>half</type></note>" +
                   pitched("G", 3, "quarter", "1", "<dot/>") + "</measure>"
                   "<measure number=\"4\"><note><rest measure=\"yes\"/><duration>4</duration><voice>1</voice></note>"
                   "</measure></part>"}));
    ASSERT_EQ(c.rc, kOk);
    // A typeless rest takes its ticks; a type that says other ticks than the
    // duration gives way to the duration; the short last measure's rest is
    // counted from its ticks, not as a bar.
    EXPECT_EQ(c.voices[0][0][0], (Objects{"clef:treble", "time:C", "rest:1", "bar:single", "rest:1", "bar:single",
                                          "rest:1/4", "rest:1/8", "rest:1/4", "chord:1/4.1", "bar:single", "rest:1/2",
                                          "bar:single"}));
}

TEST(VxmlBridge, RepeatsShareTheirBarlineAndEndingsGoOnVoiceOne) {
    const Converted c = convert(score(
        kOnePart, {"<part id=\"P1\"><measure number=\"1\">" + kFourFour + pitched("C", 8, "whole") +
                   "</measure><measure number=\"2\"><barline location=\"left\"><repeat direction=\"forward\"/></barline>" +
                   pitched("D", 8, "whole") +
                   "<barline location=\"right\"><repeat direction=\"backward\"/></barline></measure>"
                   "<measure number=\"3\"><barline location=\"left\"><repeat direction=\"forward\"/>"
                   "<ending number=\"1\" type=\"start\"/></barline>" +
                   pitched("E", 8, "whole") +
                   "<barline location=\"right\"><ending number=\"1\" type=\"stop\"/><repeat direction=\"backward\"/></barline>"
                   "</measure><measure number=\"4\">" +
                   pitched("F", 8, "whole") +
                   "<barline location=\"right\"><bar-style>light-heavy</bar-style></barline></measure></part>"}));
    ASSERT_EQ(c.rc, kOk);
    EXPECT_EQ(c.voices[0][0][0], (Objects{"clef:treble", "time:C", "chord:1/1", "bar:repBegin", "chord:1/1",
                                          "bar:repEndBegin", "chord:1/1+marks", "bar:repEnd", "chord:1/1", "bar:end"}));
}

TEST(VxmlBridge, ClefChangesInsideAMeasureComeAfterWhatWasBefore) {
    const Converted c = convert(score(
        kOnePart, {"<part id=\"P1\"><measure number=\"1\">" + kFourFour + pitched("C", 4, "half") +
                   "<attributes><clef><sign>F</sign><line>4</line></clef></attributes>" + pitched("D", 4, "half") +
                   "</measure><measure number=\"2\"><attributes><clef><sign>G</sign><line>2</line>"
                   "<clef-octave-change>-1</clef-octave-change></clef></attributes>" +
                   pitched("E", 8, "whole") + "</measure></part>"}));
    ASSERT_EQ(c.rc, kOk);
    EXPECT_EQ(c.voices[0][0][0], (Objects{"clef:treble", "time:C", "chord:1/2", "clef:bass", "chord:1/2", "bar:single",
                                          "clef:G2-", "chord:1/1", "bar:single"}));
}

// A part of `measures` measures of one whole note, a multiple rest over the
// given measures (1-based, inclusive).
std::string longPart(std::string_view id, int measures, int restFrom, int restTo) {
    std::string xml = "<part id=\"" + std::string(id) + "\">";
    for (int m = 1; m <= measures; ++m) {
        xml += "<measure number=\"" + std::to_string(m) + "\">";
        if (m == 1) xml += kFourFour;
        if (m == restFrom) {
            xml += "<attributes><measure-style><multiple-rest>" + std::to_string(restTo - restFrom + 1) +
                   "</multiple-rest></measure-style></attributes>";
        }
        if (m >= restFrom && m <= restTo) {
            xml += "<note><rest measure=\"yes\"/><duration>8</duration><voice>1</voice></note>";
        } else {
            xml += pitched("C", 8, "whole");
        }
        xml += "</measure>";
    }
    return xml + "</part>";
}

TEST(VxmlBridge, SystemsFollowTheEstimateAndKeepAMultipleRestWhole) {
    const std::string twoParts = std::string(kOnePart) + "<score-part id=\"P2\"><part-name>Oboe</part-name></score-part>";
    // Whole notes weigh 4 (the first measure 5 with its time): six measures a
    // system; the rest over measures 5 to 8 keeps the first system open.
    const Converted c = convert(score(twoParts, {longPart("P1", 14, 5, 8), longPart("P2", 14, 5, 8)}));
    ASSERT_EQ(c.rc, kOk);
    ASSERT_EQ(c.voices.size(), 2u);
    for (std::size_t staff = 0; staff < 2; ++staff) {
        SCOPED_TRACE(staff);
        // Measures 1 to 4, then 5 to 8 as one rest; then 9 to 14.
        const Objects& first = c.voices[0][staff][0];
        EXPECT_EQ(bars(first), 5);
        EXPECT_EQ(std::count(first.begin(), first.end(), "rest:4"), 1);
        EXPECT_EQ(first[first.size() - 2], "rest:4");
        EXPECT_EQ(bars(c.voices[1][staff][0]), 6);
        EXPECT_EQ(c.voices[1][staff][0].front(), "clef:treble");
    }
}

TEST(VxmlBridge, AMultipleRestOfALaterPartEndsAtTheSystemsEnd) {
    const std::string twoParts = std::string(kOnePart) + "<score-part id=\"P2\"><part-name>Oboe</part-name></score-part>";
    const Converted c = convert(score(twoParts, {longPart("P1", 10, 20, 20), longPart("P2", 10, 5, 8)}));
    ASSERT_EQ(c.rc, kOk);
    ASSERT_EQ(c.voices.size(), 2u);
    // Measures 1 to 6, then 7 to 10; the second part's rest over measures 5
    // to 8 is split at the system break: two bars, then two.
    EXPECT_EQ(bars(c.voices[0][0][0]), 6);
    EXPECT_EQ(bars(c.voices[1][0][0]), 4);
    const Objects& before = c.voices[0][1][0];
    const Objects& after = c.voices[1][1][0];
    EXPECT_EQ(std::count(before.begin(), before.end(), "rest:2"), 1);
    EXPECT_EQ(bars(before), 5);
    EXPECT_EQ(std::count(after.begin(), after.end(), "rest:2"), 1);
    EXPECT_EQ(bars(after), 3);
}

TEST(VxmlBridge, AScoreWithoutStavesWritesNothing) {
    platform::testing::TempFolder temp;
    writeBytes(temp.path() / "empty.xml", "<?xml version=\"1.0\"?><score-partwise version=\"4.0\"><part-list/></score-partwise>");
    LoggedFile f(kModeTvrxml);
    f.file->controls.setPlayMode(kModeTvrxml);
    scorecore::CVxmlFile vxml;
    int result = 0;
    CConvertParams params;
    params.file = f.file.get();
    params.vxml = &vxml;
    params.sourcePath = (temp.path() / "empty.xml").string();
    params.targetPath = (temp.path() / "empty.tvrx").string();
    params.result = &result;
    mxmlConvertProc(&params);
    EXPECT_EQ(result, scorecore::kErrVxmlFileNotWritten);
    EXPECT_FALSE(fs::exists(temp.path() / "empty.tvrx"));
}

}  // namespace
}  // namespace scoreconv::testing
