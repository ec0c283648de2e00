// The symbols attached to a chord or rest ("drawObjects"): dynamics and ornaments as
// glyphs of the music font, endings, tuplet brackets, words, slurs and wedges, placed
// above or below the heads on the cursor staff's clef.
#include "scorecore/result_codes.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_file.h"
#include "scorecore/xml_text.h"
#include "vxml_build.h"
#include "vxml_objects.h"

#include "platform/text.h"

#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace scorecore {

namespace {

using namespace vxmlbuild::depth;

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

// The "drawObj" elements of one chord or rest, written into its text; the
// "drawObjects" element opens with the first of them.
class DrawObjectList {
public:
    explicit DrawObjectList(XmlTextOut& out) : out_(out) {}

    void text(const std::string& x, const std::string& y, const FontSpec& font, const std::string& content) {
        add();
        out_.open("text", kDepthSymbol).attr("x", x).attr("y", y);
        out_.open("font", kDepthSymbolChild).attr("face", font.face).attr("height", font.height);
        if (font.bold) out_.attr("weight", "700");
        if (font.italic) out_.attr("italic", "true");
        if (font.face == kMusicFontFace) {
            out_.attr("charSet", kMusicFontCharSet).attr("pitchAndFamily", kMusicFontPitchAndFamily);
        }
        out_.close();
        out_.open("content", kDepthSymbolChild).text(content).close();
        out_.close();
        out_.close();
    }

    // A symbol over a range of notes: the symbol's element and its "basic" noteRange.
    void spanning(std::string_view name, const std::vector<XmlAttr>& attrs, int noteRange) {
        add();
        out_.open(name, kDepthSymbol);
        for (const XmlAttr& attr : attrs) out_.attr(attr.name, attr.value);
        out_.close();
        out_.open("basic", kDepthSymbol).attr("noteRange", noteRange).close();
        out_.close();
    }

    // Ends the list when it holds a symbol.
    void finish() {
        if (open_) out_.close();
    }

private:
    // Opens the next "drawObj" (and the list with the first).
    void add() {
        if (!open_) out_.open("drawObjects", kDepthDrawObjects);
        open_ = true;
        out_.open("drawObj", kDepthDrawObj);
    }

    XmlTextOut& out_;
    bool open_ = false;
};

void appendOrnaments(DrawObjectList& list, const CScoreEvent& event, const std::vector<double>& heads) {
    for (const CScoreOrnament& ornament : event.ornaments) {
        const int glyph = ornamentGlyph(ornament.code);
        if (glyph == 0) continue;  // no glyph of its own (a wavy line, say)
        const std::string x = ornamentOffsetText(ornament);
        list.text(x, symbolYText(ornament.placement, ornament.code, heads), musicFont(kMusicFontHeight),
                  glyphText(glyph));
        // An accidental mark beside the ornament, on the other side of the heads.
        const int second = ornament.secondCode != 0 ? ornamentGlyph(ornament.secondCode) : 0;
        if (second == 0) continue;
        list.text(x, symbolYText(mirrored(ornament.placement), ornament.secondCode, heads),
                  musicFont(kMusicFontSecondHeight), glyphText(second));
    }
}

void appendEndingAndBracket(DrawObjectList& list, const CScoreEvent& event) {
    const CEventBarline& ending = event.barline;
    if (ending.type == 6) {
        std::vector<XmlAttr> attrs{{"x1", "-1.5"}, {"x2", "4"}, {"y", "-5"}};
        if (ending.leftDown == 0) attrs.push_back({"leftBent", "false"});
        if (ending.rightDown == 0) attrs.push_back({"rightBent", "false"});
        const EndingNumbers numbers = endingNumbers(ending.endingLabel);
        if (numbers.first > 0) attrs.push_back({"firstNumber", std::to_string(numbers.first)});
        if (numbers.last > 0) attrs.push_back({"lastNumber", std::to_string(numbers.last)});
        list.spanning("volta", attrs, ending.endingSpan);
    }
    if (event.bracketNoteRange < 0) return;
    std::vector<XmlAttr> attrs;
    if (event.bracketHasOrientation != 0) {
        attrs.push_back({"orientation", event.bracketOrientation == 1 ? "up" : "down"});
    }
    if (event.bracketNumber >= 0) attrs.push_back({"number", std::to_string(event.bracketNumber)});
    list.spanning("bracket", attrs, event.bracketNoteRange);
}

void appendWords(DrawObjectList& list, const CScoreEvent& event, const std::vector<double>& heads) {
    for (const CScoreText& words : event.texts) {
        // Unplaced words start left of the note by about their own width.
        const std::string x =
            words.offsetX != 0 ? offsetOrZero(words.offsetX)
                               : std::to_string(-static_cast<long long>(characterCount(words.text) * 12 / 10));
        const FontSpec font{words.face, std::to_string(words.height), words.bold != 0, words.italic != 0};
        list.text(x, symbolYText(words.placement, kSymbolWords, heads), font, words.text);
    }
}

void appendLines(DrawObjectList& list, const CScoreEvent& event, bool slurs, bool wedges) {
    for (const CScoreEventItem& item : event.items) {
        if (slurs && (item.flags & kItemSlurStart) != 0) list.spanning("slur", {}, item.span);
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
        list.spanning("wedge", attrs, wedge.span);
    }
}

}  // namespace

int writeDrawObjects(XmlTextOut& out, const CScoreEvent& event, const CScoreClef* clef, int convProps) {
    const auto has = [convProps](int bit) { return (convProps & bit) != 0; };
    try {
        // Only dynamics, ornaments and words are placed by the heads.
        const bool placed = event.dynamic.code != 0 || !event.ornaments.empty() || !event.texts.empty();
        const std::vector<double> heads =
            clef != nullptr && placed ? headStaffPositions(event, *clef) : std::vector<double>{};
        DrawObjectList list(out);
        if (has(kConvDynamics) && event.dynamic.code != 0) {
            if (const int glyph = dynamicGlyph(event.dynamic.code)) {
                list.text(offsetOrZero(event.dynamic.offset), symbolYText(event.dynamic.placement, kSymbolDynamic, heads),
                          musicFont(kMusicFontHeight), glyphText(glyph));
            }
        }
        if (has(kConvTechnical)) appendOrnaments(list, event, heads);
        appendEndingAndBracket(list, event);
        if (has(kConvWords)) appendWords(list, event, heads);
        appendLines(list, event, has(kConvSlurs), has(kConvWedges));
        list.finish();
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return kOk;
}

int CVxmlFile::appendDrawObjects(XmlTextOut& out, const CScoreEvent& event) {
    const CDomNodeItem* staff = staffAt(-1, -1);
    return writeDrawObjects(out, event, staff != nullptr ? &staff->clef : nullptr, convProps);
}

}  // namespace scorecore
