// What the TvrXML writer's tests share: events built as the readers build them,
// XPath queries on a finished document, and a document with systems of one staff.
#pragma once

#include <libxml/xpath.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "scorecore/result_codes.h"
#include "scorecore/vxml_file.h"
#include "scorecore/vxml_writer.h"

namespace scorecore::testing {

inline const CScoreClef kTreble{0, 2, 1};
inline const CScoreClef kAlto{1, 3, 1};
inline const CScoreClef kBass{2, 4, 1};

inline CMeter meterOf(int beats, int unitIndex) {
    CMeter meter;
    meter.init(480, beats, unitIndex);
    return meter;
}

inline std::string serialise(const CVxmlFile& file) {
    std::string xml;
    EXPECT_EQ(xmldomSaveToString(file.document, xml), kOk);
    return xml;
}

// --- events ------------------------------------------------------------------------------

// A head as MusicXML gives it: pitch with the MusicXML octave, alteration, accidental shown.
struct HeadSpec {
    const char* pitch;
    const char* alter = "**";
    int32_t shown = -3;
};

inline CScoreEvent note(const char* type, int ticks, std::initializer_list<HeadSpec> heads) {
    CScoreEvent event;
    event.setKind(kKindNote);
    if (heads.size() > 1) event.setKind(kKindChord);
    for (const HeadSpec& head : heads) {
        EXPECT_TRUE(event.appendHead(0) && event.appendPitch(head.pitch) && event.appendAlter(head.alter));
        event.accidentals[static_cast<std::size_t>(event.headCount)].shown = head.shown;
        ++event.headCount;
    }
    event.baseText = type;
    event.duration = ticks;
    return event;
}

inline CScoreEvent rest(const char* type, int ticks) {
    CScoreEvent event;
    event.setKind(kKindRest);
    event.baseText = type;
    event.duration = ticks;
    return event;
}

inline CScoreEvent withTuplet(CScoreEvent event, int actual, int normal) {
    event.tupletCount = static_cast<uint8_t>(actual);
    event.tupletNormal = static_cast<uint8_t>(normal);
    return event;
}

inline CScoreEvent withEnding(CScoreEvent event, const char* label, int span, bool leftDown, bool rightDown) {
    event.barline.type = 6;
    event.barline.endingLabel = label;
    event.barline.endingSpan = span;
    event.barline.leftDown = leftDown ? 1 : 0;
    event.barline.rightDown = rightDown ? 1 : 0;
    return event;
}

inline CScoreOrnament ornament(int code, int placement, int secondCode = 0) {
    CScoreOrnament o;
    o.code = code;
    o.placement = placement;
    o.secondCode = secondCode;
    return o;
}

inline CScoreWedge crescendo(int span, int placement, int endOffset) {
    CScoreWedge wedge;
    wedge.code = kWedgeCrescendo;
    wedge.span = span;
    wedge.placement = placement;
    wedge.endOffset = endOffset;
    return wedge;
}

// --- queries on a finished document ------------------------------------------------------

struct XPathContextFree {
    void operator()(xmlXPathContextPtr ctx) const { xmlXPathFreeContext(ctx); }
};
struct XPathObjectFree {
    void operator()(xmlXPathObjectPtr obj) const { xmlXPathFreeObject(obj); }
};

inline std::vector<xmlNodePtr> select(const CVxmlFile& file, const std::string& expression) {
    std::vector<xmlNodePtr> nodes;
    std::unique_ptr<xmlXPathContext, XPathContextFree> ctx(xmlXPathNewContext(file.document.get()));
    std::unique_ptr<xmlXPathObject, XPathObjectFree> result(
        xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(expression.c_str()), ctx.get()));
    if (result && result->nodesetval != nullptr) {
        for (int i = 0; i < result->nodesetval->nodeNr; ++i) nodes.push_back(result->nodesetval->nodeTab[i]);
    }
    return nodes;
}

inline std::string attrOf(xmlNodePtr node, const char* name) {
    return xmldomAttribute(node, name).value_or("(none)");
}

// The attribute of each selected element, "(none)" where it is missing.
inline std::vector<std::string> attrs(const CVxmlFile& file, const std::string& expression, const char* name) {
    std::vector<std::string> values;
    for (xmlNodePtr node : select(file, expression)) values.push_back(attrOf(node, name));
    return values;
}

using Texts = std::vector<std::string>;

// A document with systems of one staff each; the cursor stays on the staff's first voice.
class VxmlWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(xmldomCreateFile({}, file.document, file.root, kXmlDocNewTvrxml), kOk);
        ASSERT_EQ(file.createMainSystemNode(), kOk);
    }

    void addSystem(int voices = 1, const CMeter& meter = meterOf(4, 2)) {
        file.nextSystem();
        ASSERT_EQ(file.appendSystem(120, 1, 0, 0), kOk);
        file.setCurrentStaff(0);
        ASSERT_EQ(file.appendStaff(meter, voices), kOk);
        file.setCurrentVoice(0);
    }

    void finish() {
        file.resetCursor();
        ASSERT_EQ(file.appendSystems(), kOk);
    }

    CVxmlFile file;
};

}  // namespace scorecore::testing
