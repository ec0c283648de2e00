// The measure readers: the header with its attributes (divisions, time, key,
// clefs, transposition, measure style), directions and barlines.
#include "musicxml/measure_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "scorecore/result_codes.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {
namespace {

using scorecore::CScoreEvent;
using scorecore::kErrDom;
using scorecore::kErrNotPresent;
using scorecore::kOk;

struct Fragment {
    explicit Fragment(std::string_view xml) { EXPECT_EQ(scorecore::xmldomParseMemory(xml, doc), kOk) << xml; }
    const xmlNode* node() const { return doc.root(); }
    scorecore::XmlDocument doc;
};

const std::string kQuarter = "<note><pitch><step>C</step><octave>4</octave></pitch><duration>1</duration></note>";

CMeasureHeader header(std::string_view measure, CPartState& state, bool first = true) {
    Fragment m(measure);
    CMeasureHeader out;
    EXPECT_EQ(readMeasureHeader(m.node(), first, state, CReadContext{}, out), kOk);
    return out;
}

TEST(MeasureHeader, AttributesAreReadByName) {
    CPartState state(480, 2);
    const CMeasureHeader h = header("<measure implicit='yes' width='200' number='12a'><attributes>"
                                    "<divisions>2</divisions></attributes>" +
                                        kQuarter + "</measure>",
                                    state);
    EXPECT_EQ(h.number, 12);
    EXPECT_TRUE(h.implicit);
    EXPECT_NE(h.attributes, nullptr);
    EXPECT_EQ(h.length, 240);
    EXPECT_DOUBLE_EQ(state.clock.divisions(), 2);
    const CMeasureHeader unnumbered = header("<measure number='X1'/>", state, false);
    EXPECT_EQ(unnumbered.number, 0);
}

TEST(MeasureHeader, OnlyAttributesBeforeTheFirstNoteBelongToTheHeader) {
    CPartState state(480, 1);
    const CMeasureHeader h = header("<measure><direction/>" + kQuarter +
                                        "<attributes><divisions>4</divisions></attributes></measure>",
                                    state);
    EXPECT_EQ(h.attributes, nullptr);
    EXPECT_DOUBLE_EQ(state.clock.divisions(), 1);
    const CMeasureHeader late = header("<measure><backup><duration>1</duration></backup>"
                                       "<attributes><divisions>4</divisions></attributes></measure>",
                                       state);
    EXPECT_EQ(late.attributes, nullptr);
}

TEST(MeasureHeader, DivisionsThatAreNoPositiveNumberMeanOne) {
    struct Case {
        std::string divisions;
        double expected;
    };
    const Case cases[] = {{"<divisions>4</divisions>", 4}, {"<divisions>0</divisions>", 1},
                          {"<divisions>-3</divisions>", 1}, {"<divisions>many</divisions>", 1},
                          {"<divisions>2.5</divisions>", 2.5}, {"<divisions/>", 1}};
    for (const Case& c : cases) {
        CPartState state(480, 1);
        state.clock.setDivisions(8);
        header("<measure><attributes>" + c.divisions + "</attributes></measure>", state);
        EXPECT_DOUBLE_EQ(state.clock.divisions(), c.expected) << c.divisions;
    }
}

TEST(MeasureTime, BeatsAndBeatTypeAreChecked) {
    struct Case {
        std::string time;
        int result;
        int beats;
        int unit;
    };
    const Case cases[] = {
        {"<time><beats>3</beats><beat-type>4</beat-type></time>", kOk, 3, 2},
        {"<time><beats>6</beats><beat-type>8</beat-type></time>", kOk, 6, 3},
        {"<time><beats>3+2</beats><beat-type>8</beat-type></time>", kOk, 5, 3},
        {"<time><beats>2</beats><beat-type>2.0</beat-type></time>", kOk, 2, 1},
        {"<time><beats>0</beats><beat-type>4</beat-type></time>", kErrNotPresent, 0, 0},
        {"<time><beats>300</beats><beat-type>4</beat-type></time>", kErrNotPresent, 0, 0},
        {"<time><beats>3</beats><beat-type>3</beat-type></time>", kErrNotPresent, 0, 0},
        {"<time><beats>3</beats><beat-type>0</beat-type></time>", kErrNotPresent, 0, 0},
        {"<time><beats>x</beats><beat-type>4</beat-type></time>", kErrNotPresent, 0, 0},
        {"<time><beats>3</beats></time>", kErrNotPresent, 0, 0},
        {"<time><senza-misura/></time>", kErrNotPresent, 0, 0},
    };
    for (const Case& c : cases) {
        Fragment time(c.time);
        CMeter meter;
        meter.init(480, 4, 2);
        ASSERT_EQ(readTime(time.node(), 480, meter), c.result) << c.time;
        if (c.result != kOk) {
            EXPECT_EQ(meter.beats, 4) << c.time;
            continue;
        }
        EXPECT_EQ(meter.beats, c.beats) << c.time;
        EXPECT_EQ(meter.unitIndex, c.unit) << c.time;
        EXPECT_EQ(meter.flag, 1);
    }
    CMeter meter;
    EXPECT_EQ(readTime(nullptr, 480, meter), kErrNotPresent);
}

TEST(MeasureTime, WithoutTimeSignatureAMeasureIsAsLongAsItsNotes) {
    struct Case {
        int quarters;
        bool changed;
        int beats;
    };
    // Four quarters make 4/4; three eighths are no whole number of quarters.
    for (const Case& c : {Case{4, true, 4}, Case{3, true, 3}}) {
        CPartState state(480, 1);
        std::string notes;
        for (int i = 0; i < c.quarters; ++i) notes += kQuarter;
        const CMeasureHeader h = header("<measure>" + notes + "</measure>", state);
        EXPECT_TRUE(state.noTimeSignature);
        EXPECT_EQ(h.timeChanged, c.changed);
        EXPECT_EQ(state.meter.beats, c.beats);
        EXPECT_EQ(state.meter.ticksPerBar, c.quarters * 480);
    }
    CPartState state(480, 1);
    const CMeasureHeader odd = header("<measure><attributes><divisions>2</divisions></attributes>"
                                      "<note><rest/><duration>3</duration></note></measure>",
                                      state);
    EXPECT_EQ(odd.length, 720);
    EXPECT_FALSE(odd.timeChanged);
    // A later time signature ends the free meter.
    header("<measure><attributes><time><beats>2</beats><beat-type>4</beat-type></time></attributes></measure>",
           state, false);
    EXPECT_FALSE(state.noTimeSignature);
}

TEST(MeasureKey, KeysAreKeptWithinSevenFifthsAndMajorByDefault) {
    struct Case {
        std::string key;
        int fifths;
        int major;
    };
    const Case cases[] = {{"<key><fifths>-3</fifths><mode>minor</mode></key>", -3, 0},
                          {"<key><fifths>2</fifths></key>", 2, 1},
                          {"<key><fifths>9</fifths><mode>MAJOR</mode></key>", 7, 1},
                          {"<key><fifths>x</fifths></key>", 0, 1},
                          {"<key><key-step>D</key-step><key-alter>1</key-alter></key>", 0, 1}};
    for (const Case& c : cases) {
        Fragment key(c.key);
        CKeySig sig;
        ASSERT_EQ(readKey(key.node(), sig), kOk);
        EXPECT_EQ(sig.fifths, c.fifths) << c.key;
        EXPECT_EQ(sig.major, c.major) << c.key;
        EXPECT_EQ(sig.changed, 1);
    }
    CPartState state(480, 1);
    const CMeasureHeader h = header("<measure>" + kQuarter + "</measure>", state);
    EXPECT_TRUE(h.keyChanged);
    EXPECT_EQ(state.key.fifths, 0);
    EXPECT_FALSE(header("<measure>" + kQuarter + "</measure>", state, false).keyChanged);
}

TEST(MeasureAttributes, TranspositionInForceIsReplacedNotAdded) {
    CPartState state(480, 2);
    header("<measure><attributes><transpose><diatonic>-1</diatonic><chromatic>-2</chromatic></transpose>"
           "</attributes></measure>",
           state);
    EXPECT_EQ(state.transposition, (std::vector<int32_t>{-2, -2}));
    header("<measure><attributes><transpose><chromatic>-2</chromatic></transpose></attributes></measure>", state,
           false);
    EXPECT_EQ(state.transposition, (std::vector<int32_t>{-2, -2}));
    header("<measure><attributes><transpose number='2'><chromatic>0</chromatic><octave-change>-1</octave-change>"
           "</transpose><transpose number='3'><chromatic>5</chromatic></transpose></attributes></measure>",
           state, false);
    EXPECT_EQ(state.transposition, (std::vector<int32_t>{-2, -12}));
    header("<measure><attributes><transpose><chromatic>-1000</chromatic></transpose></attributes></measure>", state,
           false);
    EXPECT_EQ(state.transposition, (std::vector<int32_t>{-48, -48}));
}

TEST(MeasureAttributes, ClefsGoToTheirStaff) {
    CPartState state(480, 2);
    header("<measure><attributes><clef number='2'><sign>F</sign><line>4</line></clef>"
           "<clef><sign>G</sign><line>2</line><clef-octave-change>-1</clef-octave-change></clef>"
           "<clef number='3'><sign>C</sign></clef><clef number='x'><sign>C</sign></clef></attributes></measure>",
           state);
    EXPECT_EQ(state.clefs[0].kind, 0);
    EXPECT_EQ(state.clefs[0].line, 2);
    EXPECT_EQ(state.clefs[0].octaveChange, 2);
    EXPECT_EQ(state.clefs[1].kind, 2);
    EXPECT_EQ(state.clefs[1].line, 4);
    EXPECT_EQ(clefSignCode("percussion"), 3);
    EXPECT_EQ(clefSignCode("TAB"), 6);
}

TEST(MeasureAttributes, MeasureStylesStartAndStop) {
    CPartState state(480, 2);
    CMeasureHeader h = header("<measure><attributes><measure-style><measure-repeat type='start'>2</measure-repeat>"
                              "</measure-style></attributes></measure>",
                              state);
    EXPECT_TRUE(state.style.isRunning());
    EXPECT_EQ(state.style.kind, CMeasureStyle::kMeasureRepeat);
    EXPECT_EQ(state.style.count, 2);
    EXPECT_EQ(state.style.staff, -1);
    // A start inside a running region changes nothing.
    header("<measure><attributes><measure-style number='1'><slash type='start'/></measure-style></attributes>"
           "</measure>",
           state, false);
    EXPECT_EQ(state.style.kind, CMeasureStyle::kMeasureRepeat);
    header("<measure><attributes><measure-style><measure-repeat type='stop'/></measure-style></attributes></measure>",
           state, false);
    EXPECT_FALSE(state.style.isRunning());
    // Counts are kept within reason; staves outside the part are ignored.
    header("<measure><attributes><measure-style number='5'><measure-repeat type='start'>1</measure-repeat>"
           "</measure-style></attributes></measure>",
           state, false);
    EXPECT_FALSE(state.style.isRunning());
    header("<measure><attributes><measure-style number='2'><measure-repeat type='start'>100000</measure-repeat>"
           "</measure-style></attributes></measure>",
           state, false);
    EXPECT_EQ(state.style.count, kMaxRepeatCount);
    EXPECT_EQ(state.style.staff, 1);
    h = header("<measure><attributes><measure-style><multiple-rest>4</multiple-rest></measure-style></attributes>"
               "</measure>",
               state, false);
    EXPECT_EQ(h.multipleRest, 4);
}

CScoreEvent direction(std::string_view xml, CDirectionInfo& info, CScoreEvent event = {}, double divisions = 1) {
    Fragment d(xml);
    CReadContext c;
    c.divisions = divisions;
    EXPECT_EQ(readDirection(d.node(), c, event, info), kOk) << xml;
    return event;
}

TEST(Direction, DynamicsAfterLoudMakeFortePiano) {
    CDirectionInfo info;
    CScoreEvent event = direction("<direction placement='below'><direction-type><dynamics><f/></dynamics>"
                                  "</direction-type><offset>2</offset><staff>2</staff></direction>",
                                  info, {}, 4);
    EXPECT_EQ(event.dynamic.code, 90);
    EXPECT_EQ(event.dynamic.placement, 2);
    EXPECT_FLOAT_EQ(event.dynamic.offset, 240.0f);
    EXPECT_EQ(info.staff, 1);
    event = direction("<direction><direction-type><dynamics><p/></dynamics></direction-type></direction>", info, event);
    EXPECT_EQ(event.dynamic.code, -1);
    event = direction("<direction><direction-type><dynamics><other-dynamics>mf</other-dynamics></dynamics>"
                      "</direction-type></direction>",
                      info, event);
    EXPECT_EQ(event.dynamic.code, 74);
}

TEST(Direction, WedgesWordsAndSigns) {
    CDirectionInfo info;
    CScoreEvent event = direction("<direction placement='below'><direction-type><wedge type='crescendo' number='2'/>"
                                  "</direction-type><offset>-1</offset></direction>",
                                  info, {}, 2);
    ASSERT_EQ(event.wedgeCount(), 1);
    EXPECT_EQ(event.wedges[0].code, scorecore::kWedgeCrescendo);
    EXPECT_EQ(event.wedges[0].number, 1);
    EXPECT_EQ(event.wedges[0].placement, 2);
    EXPECT_EQ(event.wedges[0].startOffset, -240);
    event = direction("<direction><direction-type><wedge type='stop' number='2'/></direction-type></direction>", info,
                      event);
    EXPECT_EQ(info.firstWedge, 1);
    ASSERT_EQ(event.wedgeCount(), 2);
    EXPECT_EQ(event.wedges[1].code, scorecore::kWedgeStop);

    CScoreEvent words = direction("<direction placement='above'><direction-type>"
                                  "<words font-weight='bold' font-style='italic'>poco Cresc.</words></direction-type>"
                                  "<direction-type><dynamics><mp/></dynamics></direction-type>"
                                  "<sound tempo='96.5'/></direction>",
                                  info);
    ASSERT_EQ(words.wedgeCount(), 1);
    EXPECT_EQ(words.wedges[0].code, -13);
    ASSERT_EQ(words.textCount(), 1);
    EXPECT_EQ(words.texts[0].text, "poco Cresc.");
    EXPECT_EQ(words.texts[0].bold, 1);
    EXPECT_EQ(words.texts[0].italic, 1);
    EXPECT_EQ(words.dynamic.code, 62);
    EXPECT_EQ(info.tempo, 97);
    EXPECT_EQ(direction("<direction><direction-type><words>decresc.</words></direction-type></direction>", info)
                  .wedges[0]
                  .code,
              -12);

    CScoreEvent signs = direction("<direction><direction-type><segno/></direction-type>"
                                  "<direction-type><pedal type='start'/></direction-type>"
                                  "<direction-type><pedal type='change'/></direction-type></direction>",
                                  info);
    ASSERT_EQ(signs.ornamentCount(), 2);
    EXPECT_EQ(signs.ornaments[0].code, 15);
    EXPECT_EQ(signs.ornaments[1].code, 13);

    Fragment bare("<direction><sound tempo='60'/></direction>");
    CScoreEvent none;
    EXPECT_EQ(readDirection(bare.node(), CReadContext{}, none, info), kErrDom);
}

TEST(Direction, TemposAreRoundedNumbers) {
    struct Case {
        std::string sound;
        int32_t tempo;
    };
    const Case cases[] = {{"<sound tempo='96.5'/>", 97}, {"<sound tempo='120'/>", 120}, {"<sound tempo='0'/>", -1},
                          {"<sound tempo='-60'/>", -1},  {"<sound tempo='fast'/>", -1}, {"<sound dynamics='80'/>", -1},
                          {"<sound tempo='1e9'/>", kMaxTempo}};
    for (const Case& c : cases) {
        Fragment sound(c.sound);
        EXPECT_EQ(soundTempo(sound.node()), c.tempo) << c.sound;
    }
}

TEST(Barline, KindsWhateverTheOrderOfChildren) {
    struct Case {
        std::string barline;
        int32_t kind;
        CBarlineInfo::Location location;
        std::string ending;
    };
    const Case cases[] = {
        {"<barline><bar-style>light-heavy</bar-style><repeat direction='backward'/></barline>", kBarlineBackwardRepeat,
         CBarlineInfo::Location::Right, ""},
        {"<barline location='left'><repeat direction='forward'/><bar-style>heavy-light</bar-style></barline>",
         kBarlineForwardRepeat, CBarlineInfo::Location::Left, ""},
        {"<barline location='left'><ending number='1, 2' type='start'/></barline>", kBarlineEndingStart,
         CBarlineInfo::Location::Left, "1, "},
        {"<barline><bar-style>light-light</bar-style></barline>", kBarlineLightLight, CBarlineInfo::Location::Right,
         ""},
        {"<barline location='middle'><bar-style>dashed</bar-style></barline>", kBarlineNone,
         CBarlineInfo::Location::Middle, ""},
        {"<barline><ending number='1' type='stop'/></barline>", kBarlineNone, CBarlineInfo::Location::Right, ""},
    };
    for (const Case& c : cases) {
        Fragment b(c.barline);
        scorecore::CEventBarline out;
        CBarlineInfo info;
        ASSERT_EQ(readBarline(b.node(), CReadContext{}, out, info), kOk);
        EXPECT_EQ(out.type, c.kind) << c.barline;
        EXPECT_EQ(info.location, c.location) << c.barline;
        EXPECT_EQ(out.endingLabel, c.ending) << c.barline;
    }
}

// A look-ahead that never finds the end of an ending.
struct NoEnd : CSpanFinder {
    int find(const xmlNode*, SpanKind kind, int32_t, int32_t, CSpanResult& result) override {
        kinds.push_back(kind);
        result = CSpanResult{};
        return kOk;
    }
    std::vector<SpanKind> kinds;
};

TEST(Barline, AnEndingWithoutEndLosesItsNumberWhenSearched) {
    Fragment b("<barline location='left'><ending number='1' type='start'/></barline>");
    NoEnd finder;
    CReadContext context;
    context.spans = &finder;
    scorecore::CEventBarline out;
    CBarlineInfo info;
    ASSERT_EQ(readBarline(b.node(), context, out, info), kOk);
    EXPECT_EQ(finder.kinds, std::vector<SpanKind>{SpanKind::Ending});
    EXPECT_EQ(out.endingSpan, -1);
    EXPECT_EQ(out.endingLabel, "");
    EXPECT_TRUE(info.endingStart);
}

}  // namespace
}  // namespace scoreconv
