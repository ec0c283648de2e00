// Reading one "chord" or "rest" of a TvrXML voice into an event record: its
// duration, display, stem, beam, articulation, lyrics, heads with their alterations
// and ties, and the symbols of its "drawObjects".
#include "scorecore/result_codes.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_file.h"
#include "scorecore/vxml_writer.h"
#include "vxml_read_util.h"

#include "platform/text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <new>
#include <string>
#include <string_view>

namespace scorecore {

namespace {

using vxmlread::childElement;
using vxmlread::ElementAttrs;
using vxmlread::forEachElement;
using vxmlread::isElement;

// The record keeps a base text of at most this many characters.
constexpr std::size_t kMaxBaseChars = 7;
// Tuplets above this count would not fit the record's normal-note byte.
constexpr int kMaxTupletCount = 127;
constexpr int kMaxDots = 31;
constexpr std::string_view kTextFace = "Times New Roman";

// Font heights are given in points; the record keeps logical units of a 96 dpi
// display, the resolution the texts are laid out for (there is no display here to
// ask).
int pointsToLogical(int points) {
    return static_cast<int>(std::lround(std::clamp(points, 0, 10000) * 96.0 / 72.0));
}

// An "x" text back to the stored offset in tenths (x x 1.8 x 100), 0 when it is not
// a finite number.
int offsetOf(double x) {
    if (!std::isfinite(x)) return 0;
    return static_cast<int>(std::lround(std::clamp(x * 180.0, -1.0e9, 1.0e9)));
}

// "-" in front of a "y" places the symbol above (1), anything else below (2).
int placementOf(const ElementAttrs& attrs, std::string_view name) {
    const auto y = attrs.get(name);
    const std::string_view text = y ? platform::trimBlanks(*y) : std::string_view();
    return !text.empty() && text.front() == '-' ? 1 : 2;
}

// The pitch (letter upper-cased, octave digit), alteration step and "alter" element
// of a "head"; false when it has no pitch.
bool headPitch(const xmlNode* head, std::string& pitch, int& step, const xmlNode** alterNode) {
    ElementAttrs attrs(head);
    const auto text = attrs.get("pitch");
    if (!text || text->size() < 2) return false;
    pitch = {static_cast<char>(std::toupper(static_cast<unsigned char>((*text)[0]))), (*text)[1]};
    if (std::string_view("CDEFGAB").find(pitch[0]) == std::string_view::npos || pitch[1] < '0' ||
        pitch[1] > '9') {
        return false;
    }
    *alterNode = childElement(head, "alter");
    // The record holds up to double alterations.
    step = *alterNode != nullptr ? std::clamp(ElementAttrs(*alterNode).asInt("step", 0), -2, 2) : 0;
    return true;
}

std::string alterText(int step) {
    if (step == 0) return "**";
    return (step > 0 ? "+" : "-") + std::to_string(step > 0 ? step : -step);
}

// The ornament a glyph stands for, given what the event already holds: an
// accidental mark of the smaller height right after an ornament belongs to it.
bool joinsLastOrnament(const CScoreEvent& event, int code, bool musicFont, std::string_view height) {
    return musicFont && height == kMusicFontSecondHeight && (code == 5 || code == 6 || code == 7) &&
           !event.ornaments.empty() && event.ornaments.back().secondCode == 0;
}

class NoteReader {
public:
    NoteReader(CVxmlFile& file, CScoreEvent& event) : file_(file), event_(event) {}

    int duration(const xmlNode* node, const CMeter& meter) {
        ElementAttrs attrs(node);
        if (attrs.status() != kOk) return attrs.status();
        const auto base = attrs.get("base");
        if (!base) return kErrIndex;
        const bool grace = attrs.isTrue("noDuration");
        if (grace) event_.setKind(kKindGrace);
        event_.dots = static_cast<std::uint8_t>(std::clamp(attrs.asInt("dots", 0), 0, kMaxDots));
        if (const xmlNode* tuplet = childElement(node, "tuplet")) {
            ElementAttrs t(tuplet);
            const int count = std::clamp(t.asInt("count", 0), 0, kMaxTupletCount);
            if (count > 0) {
                event_.tupletCount = static_cast<std::uint8_t>(count);
                event_.tupletNormal =
                    static_cast<std::uint8_t>(tupletNormalCount(count, t.isTrue("tripartite"), t.isTrue("prolong")));
            }
        }
        event_.baseText = std::string(base->substr(0, kMaxBaseChars));
        const NoteDurationText text{*base, event_.dots, event_.tupletCount, event_.tupletNormal, grace};
        const int ticks = noteDurationTicks(text, meter, file_.tupletRounding);
        if (ticks < 0) return kErrIndex;
        event_.duration = ticks;
        return kOk;
    }

    int lyric(const xmlNode* node) {
        int index = 0;
        return forEachElement(node, [this, &index](const xmlNode* verse) {
            if (!isElement(verse, "verse")) return kOk;
            ElementAttrs attrs(verse);
            CScoreLyric item;
            const int number = attrs.asInt("verseNumber", 0);
            item.number = number >= 1 ? number : index + 1;
            ++index;
            item.hyphen = attrs.isTrue("hyphen") ? 1 : 0;
            item.extender = attrs.isTrue("extender") ? 1 : 0;
            if (auto text = attrs.get("text")) item.text = *text;
            return event_.appendLyric(item) ? kOk : kErrOutOfMemory;
        });
    }

    void display(const xmlNode* node) {
        ElementAttrs attrs(node);
        if (attrs.isTrue("small")) event_.setKind(kKindSmall);
        if (attrs.isTrue("invisible")) event_.setKind(kKindInvisible);
        if (attrs.is("notationStaff", "up")) event_.notationStaff = 1;
        if (attrs.is("notationStaff", "down")) event_.notationStaff = 2;
    }

    void stem(const xmlNode* node) {
        ElementAttrs attrs(node);
        if (attrs.is("dir", "up")) event_.setStem(1);
        if (attrs.is("dir", "down")) event_.setStem(2);
        if (attrs.has("tremoloBars")) {
            const int bars = attrs.asInt("tremoloBars", 0);
            event_.setStem(bars >= 1 && bars <= 4 ? 4u << (bars - 1) : 64u);
        }
    }

    void beam(const xmlNode* node) {
        ElementAttrs attrs(node);
        if (attrs.is("group", "force")) event_.setBeam(8);
        if (attrs.is("group", "split")) event_.setBeam(16);
        if (attrs.is("group", "divide")) event_.setBeam(32);
    }

    void articulation(const xmlNode* node) {
        ElementAttrs attrs(node);
        const auto type = attrs.get("type");
        const int code = type ? readArticulationText(*type) : 0;
        if (code != 0) event_.articulation.code = code;
    }

    int heads(const xmlNode* node) {
        return forEachElement(node, [this](const xmlNode* head) {
            if (!isElement(head, "head") || event_.headCount >= kMaxHeads) return kOk;
            return this->head(head);
        });
    }

    int drawObjects(const xmlNode* node) {
        return forEachElement(node, [this](const xmlNode* obj) {
            if (!isElement(obj, "drawObj")) return kOk;
            return drawObj(obj);
        });
    }

private:
    int head(const xmlNode* node) {
        std::string pitch;
        int step = 0;
        const xmlNode* alter = nullptr;
        // A head without a pitch has nothing to sound or show.
        if (!headPitch(node, pitch, step, &alter)) return kOk;
        ElementAttrs attrs(node);
        const int shape = attrs.has("shape") ? readNoteheadText(*attrs.get("shape")) : 0;
        if (!event_.appendHead(shape) || !event_.appendPitch(pitch) || !event_.appendAlter(alterText(step))) {
            return kErrOutOfMemory;
        }
        const int index = event_.headCount++;
        if (attrs.isTrue("silent")) event_.setKind(kKindSilent);
        // Shown: what the file asks for, and what the key and the bar so far do not
        // already say (a plain head after a sharp of the key shows its natural). A
        // voice without a table (no cursor) counts as one without accidentals.
        ElementAttrs display(alter);
        const bool parenth = display.is("display", "parenth");
        int expected = 0;
        if (file_.getAccidental(pitch, &expected) != kOk) expected = 0;
        if (!display.is("display", "suppress") && (parenth || display.is("display", "force") || expected != step)) {
            CEventAccidental& slot = event_.accidentals[static_cast<std::size_t>(index)];
            slot.shown = static_cast<std::int8_t>(step);
            slot.editorial = parenth ? 1 : 0;
        }
        if (const xmlNode* tie = childElement(node, "tie")) {
            ElementAttrs t(tie);
            if (t.isTrue("begin")) event_.setTie(kTieStart);
            if (t.isTrue("end")) event_.setTie(kTieEnd);
        }
        return kOk;
    }

    int drawObj(const xmlNode* obj) {
        int range = 0;
        int rc = CVxmlFile::readNoteRange(obj, &range);
        if (rc != kOk) return rc;
        return forEachElement(obj, [this, range](const xmlNode* symbol) {
            if (isElement(symbol, "text")) return text(symbol);
            if (isElement(symbol, "volta")) return volta(symbol, range);
            if (isElement(symbol, "bracket")) return bracket(symbol, range);
            if (isElement(symbol, "slur")) {
                CScoreEventItem item;
                item.flags = kItemSlurStart;
                item.span = range;
                return event_.appendItem(item) ? kOk : kErrOutOfMemory;
            }
            if (isElement(symbol, "trill")) return trill(symbol);
            if (isElement(symbol, "wedge")) return wedge(symbol, range);
            return kOk;
        });
    }

    int text(const xmlNode* node) {
        ElementAttrs attrs(node);
        const auto x = attrs.get("x");
        const double xValue = attrs.asDouble("x", 0.0);
        const int placement = placementOf(attrs, "y");
        const xmlNode* fontNode = childElement(node, "font");
        ElementAttrs font(fontNode);
        const std::string face(font.get("face").value_or(kTextFace));
        const std::string height(font.get("height").value_or(""));
        const bool musicFont = platform::equalsNoCase(face, kMusicFontFace);
        const xmlNode* contentNode = childElement(node, "content");
        const std::string content = contentNode != nullptr ? xmldomNodeText(contentNode) : std::string();
        if (content.empty()) return kOk;

        if (const int glyph = singleGlyph(content)) {
            if (const int code = articulationOfGlyph(glyph)) {
                if (event_.articulation.code == 0) event_.articulation = {code, placement};
                return kOk;
            }
            if (const int code = ornamentOfGlyph(glyph)) {
                if (code == kOrnamentDalSegno || code == kOrnamentDaCapo) {
                    CScoreText words;
                    words.text = code == kOrnamentDalSegno ? "D.S." : "D.C.";
                    words.face = kTextFace;
                    words.bold = 1;
                    words.height = 14;
                    words.placement = placement;
                    words.offsetX = offsetOf(xValue);
                    return event_.appendText(words) ? kOk : kErrOutOfMemory;
                }
                if (joinsLastOrnament(event_, code, musicFont, height)) {
                    event_.ornaments.back().secondCode = code;
                    return kOk;
                }
                CScoreOrnament ornament;
                ornament.code = code;
                ornament.placement = placement;
                // The offset every ornament of the code gets by default is no offset.
                if (!x || *x != ornamentOffsetText(ornament)) ornament.position = static_cast<float>(offsetOf(xValue));
                return event_.appendOrnament(ornament) ? kOk : kErrOutOfMemory;
            }
            if (const int code = dynamicOfGlyph(glyph); code != 0 && musicFont) {
                event_.dynamic.code = code;
                event_.dynamic.placement = placement;
                event_.dynamic.offset = static_cast<float>(offsetOf(xValue));
                return kOk;
            }
        }
        if (musicFont && content == "fp") {
            event_.dynamic.code = -1;
            event_.dynamic.placement = placement;
            event_.dynamic.offset = static_cast<float>(offsetOf(xValue));
            return kOk;
        }
        CScoreText words;
        words.text = content;
        words.face = face;
        words.height = pointsToLogical(font.asInt("height", 10));
        words.bold = font.asInt("weight", 400) >= 700 ? 1 : 0;
        words.italic = font.isTrue("italic") ? 1 : 0;
        words.placement = placement;
        // Unplaced words stand left of the note by about their own width.
        std::size_t chars = 0;
        for (std::size_t pos = 0; pos < content.size(); ++chars) platform::decodeUtf8(content, pos);
        const std::string unplaced = std::to_string(-static_cast<long long>(chars * 12 / 10));
        words.offsetX = x && *x == unplaced ? 0 : offsetOf(xValue);
        return event_.appendText(words) ? kOk : kErrOutOfMemory;
    }

    int volta(const xmlNode* node, int range) {
        ElementAttrs attrs(node);
        CEventBarline& ending = event_.barline;
        ending.type = 6;
        ending.endingLabel = CEventBarline::formEndingLabel(attrs.asInt("firstNumber", 0),
                                                            attrs.asInt("lastNumber", 0), attrs.isTrue("allNumbers"));
        ending.endingSpan = range;
        ending.leftDown = attrs.is("leftBent", "false") ? 0 : 1;
        ending.rightDown = attrs.is("rightBent", "false") ? 0 : 1;
        ending.present = 1;
        return kOk;
    }

    int bracket(const xmlNode* node, int range) {
        ElementAttrs attrs(node);
        if (attrs.has("orientation")) {
            event_.bracketHasOrientation = 1;
            event_.bracketOrientation = attrs.is("orientation", "up") ? 1 : 2;
        }
        // Only a negative number goes unwritten.
        event_.bracketNumber = attrs.has("number") ? std::max(attrs.asInt("number", 0), 0) : -1;
        event_.bracketNoteRange = std::max(range, 0);
        event_.bracketPresent = 1;
        return kOk;
    }

    int trill(const xmlNode* node) {
        CScoreOrnament ornament;
        ornament.placement = 1;
        const xmlNode* wavy = childElement(node, "wavyLine");
        ornament.code = wavy == nullptr ? 1 : ElementAttrs(node).is("tr", "false") ? 23 : 12;
        return event_.appendOrnament(ornament) ? kOk : kErrOutOfMemory;
    }

    int wedge(const xmlNode* node, int range) {
        ElementAttrs attrs(node);
        CScoreWedge wedge;
        wedge.code = attrs.isTrue("decrescendo") ? kWedgeDiminuendo : kWedgeCrescendo;
        wedge.placement = placementOf(attrs, "y1");
        wedge.span = range;
        wedge.startOffset = offsetOf(attrs.asDouble("x1", 0.0));
        wedge.endOffset = offsetOf(attrs.asDouble("x2", 0.0));
        const double factor = attrs.asDouble("span", 1.0);
        wedge.spanFactor = std::isfinite(factor) ? static_cast<float>(std::clamp(factor, 0.0, 1.0e6)) : 1.0f;
        return event_.appendWedge(wedge) ? kOk : kErrOutOfMemory;
    }

    CVxmlFile& file_;
    CScoreEvent& event_;
};

}  // namespace

int vxmlread::readHeadKeys(const xmlNode* chord, CScoreEvent& heads) {
    heads.clear();
    const int rc = forEachElement(childElement(chord, "heads"), [&heads](const xmlNode* head) {
        std::string pitch;
        int step = 0;
        const xmlNode* alter = nullptr;
        if (!isElement(head, "head") || heads.headCount >= kMaxHeads || !headPitch(head, pitch, step, &alter)) {
            return kOk;
        }
        if (!heads.appendHead(0) || !heads.appendPitch(pitch) || !heads.appendAlter(alterText(step))) {
            return kErrOutOfMemory;
        }
        ++heads.headCount;
        return kOk;
    });
    heads.updateMidiKeys();
    return rc;
}

int CVxmlFile::readNoteObject(const xmlNode* node, CScoreEvent& event, const CMeter& meter, int voiceTick) {
    if (node == nullptr) return kErrDom;
    event.clear();
    const bool chord = isElement(node, "chord");
    if (!chord && !isElement(node, "rest")) return kErrNotPresent;
    event.setKind(chord ? kKindChord : kKindRest);
    event.start = voiceTick;
    const xmlNode* duration = childElement(node, "duration");
    if (duration == nullptr) return kErrIndex;
    NoteReader reader(*this, event);
    try {
        int rc = reader.duration(duration, meter);
        if (rc != kOk) return rc;
        rc = forEachElement(node, [&reader, chord](const xmlNode* child) {
            if (isElement(child, "display")) {
                reader.display(child);
            } else if (isElement(child, "drawObjects")) {
                return reader.drawObjects(child);
            } else if (!chord) {
                return kOk;  // the rest of what a rest holds is only drawn
            } else if (isElement(child, "lyric")) {
                return reader.lyric(child);
            } else if (isElement(child, "stem")) {
                reader.stem(child);
            } else if (isElement(child, "beam")) {
                reader.beam(child);
            } else if (isElement(child, "articulation")) {
                reader.articulation(child);
            } else if (isElement(child, "heads")) {
                return reader.heads(child);
            }
            return kOk;
        });
        if (rc != kOk) return rc;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    event.updateMidiKeys();
    return kOk;
}

}  // namespace scorecore
