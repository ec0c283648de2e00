// The clef reader shared by the part list, the measure attributes and the
// TvrXML bridge: signs, lines and octave changes, written and left out.
#include "musicxml/clef_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "musicxml/measure_reader.h"
#include "scorecore/result_codes.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/xml_dom.h"

namespace scoreconv {
namespace {

scorecore::CScoreClef clefOf(const std::string& xml) {
    scorecore::XmlDocument doc;
    EXPECT_EQ(scorecore::xmldomParseMemory(xml, doc), scorecore::kOk) << xml;
    return readClef(doc.root());
}

TEST(ClefReader, SignLineAndOctaveChangeMakeTheRecord) {
    struct Case {
        const char* xml;  // the children of <clef>
        int32_t kind, line, octave;
        const char* text;  // as TvrXML writes it
    };
    const Case cases[] = {
        {"<sign>G</sign><line>2</line>", kClefG, 2, kClefOctaveNone, "treble"},
        {"<sign>F</sign><line>4</line>", kClefF, 4, kClefOctaveNone, "bass"},
        {"<sign>C</sign><line>4</line>", kClefC, 4, kClefOctaveNone, "tenor"},
        {"<sign> g </sign><line>1</line>", kClefG, 1, kClefOctaveNone, "G1"},
        // Without a line: the sign's usual one.
        {"<sign>G</sign>", kClefG, 2, kClefOctaveNone, "treble"},
        {"<sign>F</sign>", kClefF, 4, kClefOctaveNone, "bass"},
        {"<sign>C</sign>", kClefC, 3, kClefOctaveNone, "alto"},
        {"<sign>G</sign><line>x</line>", kClefG, 2, kClefOctaveNone, "treble"},
        {"<sign>G</sign><line>0</line>", kClefG, 2, kClefOctaveNone, "treble"},
        {"<sign>G</sign><line>12</line>", kClefG, 2, kClefOctaveNone, "treble"},
        // Signs without a usual line keep the record's.
        {"<sign>percussion</sign>", kClefPercussion, 1, kClefOctaveNone, "P1"},
        {"<sign>percussion</sign><line>3</line>", kClefPercussion, 3, kClefOctaveNone, "P3"},
        {"<sign>TAB</sign><line>5</line>", kClefOther, 5, kClefOctaveNone, "N5"},
        {"<sign>none</sign>", kClefOther, 1, kClefOctaveNone, "N1"},
        {"<line>2</line>", kClefOther, 2, kClefOctaveNone, "N2"},
        // Octave changes: only the direction counts.
        {"<sign>G</sign><line>2</line><clef-octave-change>-1</clef-octave-change>", kClefG, 2, kClefOctaveDown, "G2-"},
        {"<sign>G</sign><line>2</line><clef-octave-change>-2</clef-octave-change>", kClefG, 2, kClefOctaveDown, "G2-"},
        {"<sign>G</sign><line>2</line><clef-octave-change>1</clef-octave-change>", kClefG, 2, kClefOctaveUp, "G2+"},
        {"<sign>F</sign><clef-octave-change>2</clef-octave-change>", kClefF, 4, kClefOctaveUp, "F4+"},
        {"<sign>G</sign><clef-octave-change>0</clef-octave-change>", kClefG, 2, kClefOctaveNone, "treble"},
        {"<sign>G</sign><clef-octave-change></clef-octave-change>", kClefG, 2, kClefOctaveNone, "treble"},
        {"<sign>G</sign><clef-octave-change>down</clef-octave-change>", kClefG, 2, kClefOctaveNone, "treble"},
    };
    for (const Case& c : cases) {
        const scorecore::CScoreClef clef = clefOf(std::string("<clef>") + c.xml + "</clef>");
        EXPECT_EQ(clef.kind, c.kind) << c.xml;
        EXPECT_EQ(clef.line, c.line) << c.xml;
        EXPECT_EQ(clef.octaveChange, c.octave) << c.xml;
        EXPECT_EQ(scorecore::clefText(clef), c.text) << c.xml;
    }
}

// The measure attributes once read a clef without octave change as an
// octave up, and one without a line as line 1.
TEST(ClefReader, MeasureAttributesReadClefsAsThePartListDoes) {
    scorecore::XmlDocument doc;
    ASSERT_EQ(scorecore::xmldomParseMemory("<attributes><clef><sign>G</sign></clef>"
                                           "<clef number='2'><sign>F</sign></clef></attributes>",
                                           doc),
              scorecore::kOk);
    std::vector<scorecore::CScoreClef> clefs(2);
    readClefs(doc.root(), clefs);
    EXPECT_EQ(scorecore::clefText(clefs[0]), "treble");
    EXPECT_EQ(scorecore::clefText(clefs[1]), "bass");
}

}  // namespace
}  // namespace scoreconv
