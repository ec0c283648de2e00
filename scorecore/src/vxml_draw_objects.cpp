// The symbols attached to a chord or rest ("drawObjects"): dynamics and ornaments as
// glyphs of the music font, endings, tuplet brackets, words, slurs and wedges, placed
// above or below the heads on the cursor staff's clef.
#include "scorecore/result_codes.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_file.h"
#include "vxml_build.h"

#include "platform/text.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scorecore {

namespace {

constexpr int kDepthDrawObjects = 9;
constexpr int kDepthDrawObj = 10;
constexpr int kDepthSymbol = 11;
constexpr int kDepthSymbolChild = 12;

struct FontSpec {
    std::string_view face;
    std::string height;
    bool bold = false;
    bool italic = false;
};

FontSpec musicFont(std::string_view height) {
    return FontSpec{kMusicFontFace, std::string(height)};
}

// An offset text, "0" for no offset.
std::string offsetOrZero(double offset) {
    std::string text = offsetText(offset);
    return text.empty() ? "0" : text;
}

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); ++count) platform::decodeUtf8(text, pos);
    return count;
}

int mirrored(int placement) {
    return placement == 1 ? 2 : placement == 2 ? 1 : placement;
}

// Collects the "drawObj" elements of one chord or rest; the "drawObjects" element
// is made with the first of them.
class DrawObjectList {
public:
    explicit DrawObjectList(XmlDocument& doc) : doc_(doc) {}

    int text(const std::string& x, const std::string& y, const FontSpec& font,
             const std::string& content) {
        xmlNodePtr obj = build(XmlElementArgs(doc_, nullptr, "drawObj"));
        xmlNodePtr text = build(XmlElementArgs(doc_, nullptr, "text").attr("x", x).attr("y", y));
        if (obj == nullptr || text == nullptr) return kErrXmlElement;
        XmlElementArgs fontArgs(doc_, text, "font");
        fontArgs.depth(kDepthSymbolChild).indent();
        fontArgs.attr("face", std::string(font.face)).attr("height", font.height);
        if (font.bold) fontArgs.attr("weight", "700");
        if (font.italic) fontArgs.attr("italic", "true");
        if (font.face == kMusicFontFace) {
            fontArgs.attr("charSet", std::string(kMusicFontCharSet));
            fontArgs.attr("pitchAndFamily", std::string(kMusicFontPitchAndFamily));
        }
        if (xmldomAppendElement(fontArgs) != kOk ||
            xmldomAppendElement(XmlElementArgs(doc_, text, "content")
                                    .depth(kDepthSymbolChild).indent().text(content)) != kOk) {
            return kErrXmlElement;
        }
        const int rc = attach(obj, text, kDepthSymbol);
        return rc != kOk ? rc : add(obj);
    }

    // A symbol over a range of notes: the symbol's element and its "basic" noteRange.
    int spanning(std::string_view name, const std::vector<XmlAttr>& attrs, int noteRange) {
        xmlNodePtr obj = build(XmlElementArgs(doc_, nullptr, "drawObj"));
        if (obj == nullptr) return kErrXmlElement;
        XmlElementArgs symbol(doc_, obj, name);
        symbol.depth(kDepthSymbol).indent();
        for (const XmlAttr& attr : attrs) symbol.attr(attr.name, attr.value);
        if (xmldomAppendElement(symbol) != kOk ||
            xmldomAppendElement(XmlElementArgs(doc_, obj, "basic")
                                    .depth(kDepthSymbol).indent()
                                    .attr("noteRange", std::to_string(noteRange))) != kOk) {
            return kErrXmlElement;
        }
        return add(obj);
    }

    // Attaches the list to the chord or rest when it holds a symbol.
    int finish(xmlNodePtr parent) {
        return list_ == nullptr ? kOk : attach(parent, list_, kDepthDrawObjects);
    }

private:
    xmlNodePtr build(XmlElementArgs args) { return vxmlbuild::build(std::move(args)); }
    int attach(xmlNodePtr parent, xmlNodePtr child, int depth) { return vxmlbuild::attach(doc_, parent, child, depth); }

    int add(xmlNodePtr obj) {
        if (list_ == nullptr) list_ = build(XmlElementArgs(doc_, nullptr, "drawObjects"));
        return list_ == nullptr ? kErrXmlElement : attach(list_, obj, kDepthDrawObj);
    }

    XmlDocument& doc_;
    xmlNodePtr list_ = nullptr;
};

int appendOrnaments(DrawObjectList& list, const CScoreEvent& event, const std::vector<double>& heads) {
    for (const CScoreOrnament& ornament : event.ornaments) {
        const int glyph = ornamentGlyph(ornament.code);
        if (glyph == 0) continue;  // no glyph of its own (a wavy line, say)
        const std::string x = ornamentOffsetText(ornament);
        int rc = list.text(x, symbolYText(ornament.placement, ornament.code, heads),
                           musicFont(kMusicFontHeight), glyphText(glyph));
        if (rc != kOk) return rc;
        // An accidental mark beside the ornament, on the other side of the heads.
        const int second = ornament.secondCode != 0 ? ornamentGlyph(ornament.secondCode) : 0;
        if (second == 0) continue;
        rc = list.text(x, symbolYText(mirrored(ornament.placement), ornament.secondCode, heads),
                       musicFont(kMusicFontSecondHeight), glyphText(second));
        if (rc != kOk) return rc;
    }
    return kOk;
}

int appendEndingAndBracket(DrawObjectList& list, const CScoreEvent& event) {
    const CEventBarline& ending = event.barline;
    if (ending.type == 6) {
        std::vector<XmlAttr> attrs{{"x1", "-1.5"}, {"x2", "4"}, {"y", "-5"}};
        if (ending.leftDown == 0) attrs.push_back({"leftBent", "false"});
        if (ending.rightDown == 0) attrs.push_back({"rightBent", "false"});
        const EndingNumbers numbers = endingNumbers(ending.endingLabel);
        if (numbers.first > 0) attrs.push_back({"firstNumber", std::to_string(numbers.first)});
        if (numbers.last > 0) attrs.push_back({"lastNumber", std::to_string(numbers.last)});
        const int rc = list.spanning("volta", attrs, ending.endingSpan);
        if (rc != kOk) return rc;
    }
    if (event.bracketNoteRange < 0) return kOk;
    std::vector<XmlAttr> attrs;
    if (event.bracketHasOrientation != 0) {
        attrs.push_back({"orientation", event.bracketOrientation == 1 ? "up" : "down"});
    }
    if (event.bracketNumber >= 0) attrs.push_back({"number", std::to_string(event.bracketNumber)});
    return list.spanning("bracket", attrs, event.bracketNoteRange);
}

int appendWords(DrawObjectList& list, const CScoreEvent& event, const std::vector<double>& heads) {
    for (const CScoreText& words : event.texts) {
        // Unplaced words start left of the note by about their own width.
        const std::string x =
            words.offsetX != 0 ? offsetOrZero(words.offsetX)
                               : std::to_string(-static_cast<long long>(characterCount(words.text) * 12 / 10));
        const FontSpec font{words.face, std::to_string(words.height), words.bold != 0, words.italic != 0};
        const int rc = list.text(x, symbolYText(words.placement, kSymbolWords, heads), font, words.text);
        if (rc != kOk) return rc;
    }
    return kOk;
}

int appendLines(DrawObjectList& list, const CScoreEvent& event, bool slurs, bool wedges) {
    for (const CScoreEventItem& item : event.items) {
        if (!slurs || (item.flags & kItemSlurStart) == 0) continue;
        const int rc = list.spanning("slur", {}, item.span);
        if (rc != kOk) return rc;
    }
    for (const CScoreWedge& wedge : event.wedges) {
        if (!wedges || (wedge.code != kWedgeCrescendo && wedge.code != kWedgeDiminuendo)) continue;
        const std::string y = wedge.placement == 1 ? "-4.5" : "4.5";
        std::vector<XmlAttr> attrs{{"x1", offsetOrZero(wedge.startOffset)},
                                   {"y1", y},
                                   {"x2", offsetOrZero(wedge.endOffset)},
                                   {"y2", y}};
        if (wedge.code == kWedgeDiminuendo) attrs.push_back({"decrescendo", "true"});
        attrs.push_back({"span", "1.8"});
        const int rc = list.spanning("wedge", attrs, wedge.span);
        if (rc != kOk) return rc;
    }
    return kOk;
}

}  // namespace

int CVxmlFile::appendDrawObjects(xmlNodePtr parent, const CScoreEvent& event) {
    if (!document || parent == nullptr) return kErrXmlElement;
    const CDomNodeItem* staff = staffAt(-1, -1);
    const std::vector<double> heads =
        staff != nullptr ? headStaffPositions(event, staff->clef) : std::vector<double>{};
    DrawObjectList list(document);
    int rc = kOk;
    if (testConvProps(kConvDynamics) && event.dynamic.code != 0) {
        if (const int glyph = dynamicGlyph(event.dynamic.code)) {
            rc = list.text(offsetOrZero(event.dynamic.offset),
                           symbolYText(event.dynamic.placement, kSymbolDynamic, heads),
                           musicFont(kMusicFontHeight), glyphText(glyph));
        }
    }
    if (rc == kOk && testConvProps(kConvTechnical)) rc = appendOrnaments(list, event, heads);
    if (rc == kOk) rc = appendEndingAndBracket(list, event);
    if (rc == kOk && testConvProps(kConvWords)) rc = appendWords(list, event, heads);
    if (rc == kOk) rc = appendLines(list, event, testConvProps(kConvSlurs), testConvProps(kConvWedges));
    return rc != kOk ? rc : list.finish(parent);
}

}  // namespace scorecore
