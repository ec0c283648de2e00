// The MusicXML writer inside a measure: attributes, tempo, barlines,
// directions, notes and rests with their notations and lyrics, and the slur
// numbers and pending endings the writer keeps per measure.
#include "musicxml/mxml_writer.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <string>

#include "musicxml/mxml_file.h"
#include "musicxml/mxml_writer_elements.h"
#include "musicxml/output_elements.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using mxw::Attr;
using scorecore::CScoreEvent;
using scorecore::kErrIndex;
using scorecore::kOk;
using scorecore::XmlDocument;

namespace {

constexpr int kMeasureChild = 3;
constexpr int kNoteChild = 4;
constexpr int kInner = 5;
constexpr int kInnermost = 6;

// Runs steps until the first failure; keeps its code.
class Steps {
public:
    bool operator()(int rc) {
        if (rc_ == kOk) rc_ = rc;
        return rc_ == kOk;
    }
    int result() const { return rc_; }

private:
    int rc_ = kOk;
};

std::string placementText(int32_t placement) {
    if (placement == 0) return {};
    return placement == 2 ? "below" : "above";
}

// Appends a leaf with an optional placement attribute.
int leafPlaced(XmlDocument& doc, xmlNodePtr parent, std::string_view name, int depth, int32_t placement,
               std::initializer_list<Attr> before = {}, std::string_view text = {}) {
    if (parent == nullptr) return scorecore::kErrXmlElement;
    const std::string where = placementText(placement);
    scorecore::XmlElementArgs args(doc, parent, name);
    for (const Attr& a : before) args.attr(a.name, a.value);
    if (!where.empty()) args.attr("placement", where);
    return scorecore::xmldomAppendElement(args.depth(depth).indent().text(text));
}

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The duration text of a note value in ticks ("1/4" for a quarter); empty for
// a value that is no plain note value.
std::string durationText(int32_t ticks, int32_t ticksPerQuarter) {
    if (ticks == 8 * ticksPerQuarter) return "2/1";
    for (int32_t denominator = 1; denominator <= 128; denominator *= 2) {
        if (static_cast<int64_t>(ticks) * denominator == 4 * static_cast<int64_t>(ticksPerQuarter)) {
            return "1/" + std::to_string(denominator);
        }
    }
    return {};
}

// A scaled value of a mark as an integer; values from files may be anything,
// so non-finite ones give 0 and others stay within 32 bits.
int64_t scaled(double value, double factor) {
    const double v = value * factor;
    if (!std::isfinite(v)) return 0;
    return static_cast<int64_t>(std::clamp(v, -2147483648.0, 2147483647.0));
}

int32_t resolveVoice(const CMxmlFile& file, int32_t voice) {
    if (voice == -1) voice = file.writerVoice;
    return std::max(voice, 0);
}

// --- attributes -----------------------------------------------------------------------

int moveToEnd(XmlDocument& doc, xmlNodePtr parent, xmlNodePtr child, int depth) {
    if (child == nullptr) return kOk;
    if (const int rc = mxw::takeOut(doc, parent, child); rc != kOk) return rc;
    return mxw::attach(doc, parent, child, depth);
}

const char* clefSign(int32_t sign) {
    switch (sign) {
        case 1: return "C";
        case 2: return "F";
        case 3: return "percussion";
        default: return "G";
    }
}

// --- notes ----------------------------------------------------------------------------

struct NoteType {
    std::string_view text;
    std::string_view type;
    int32_t restCount;
};
constexpr std::array<NoteType, 13> kNoteTypes = {{
    {"4", "long", 4},
    {"2/1", "breve", 2},
    {"2", "breve", 2},
    {"1/1", "whole", 0},
    {"1", "whole", 0},
    {"1/2", "half", 0},
    {"1/4", "quarter", 0},
    {"1/8", "eighth", 0},
    {"1/16", "16th", 0},
    {"1/32", "32nd", 0},
    {"1/64", "64th", 0},
    {"1/128", "128th", 0},
    {"", "", 0},
}};

const char* accidentalText(int8_t shown) {
    switch (shown) {
        case -2: return "flat-flat";
        case -1: return "flat";
        case 0: return "natural";
        case 1: return "sharp";
        case 2: return "double-sharp";
        default: return nullptr;
    }
}

bool hollow(std::string_view duration) { return duration == "2/1" || duration == "1/1" || duration == "1/2"; }

// The notehead and its filled attribute ("" none) of a head shape.
std::pair<const char*, const char*> noteheadOf(int32_t shape, std::string_view duration) {
    const char* filled = hollow(duration) ? "no" : "yes";
    switch (shape) {
        case 0: return {nullptr, ""};
        case 1:
        case 4: return {"diamond", filled};
        case 2: return hollow(duration) ? std::pair{"circle-x", filled} : std::pair{"x", ""};
        case 8: return {"triangle", filled};
        case 16: return {"square", filled};
        case 32: return {"none", ""};
        default: return {"normal", ""};
    }
}

const char* articulationName(int32_t code) {
    switch (code) {
        case 1: return "staccato";
        case 2: return "tenuto";
        case 3: return "detached-legato";
        case 4: return "staccatissimo";
        case 5:
        case 7: return "accent";
        case 6:
        case 8: return "strong-accent";
        default: return nullptr;
    }
}

bool isSlurItem(const scorecore::CScoreEventItem& item) {
    return (item.flags & (scorecore::kItemSlurStart | scorecore::kItemSlurStop | scorecore::kItemLineStart |
                          scorecore::kItemLineStop)) != 0;
}

// The slot (0..5) a slur starting in measure m of the part takes.
int32_t takeSlurSlot(CMxmlWriterPart& part, int32_t m) {
    auto& measures = part.group.items;
    auto& here = measures[static_cast<std::size_t>(m)].slots;
    const bool hasNext = m + 1 < part.group.itemCount();
    for (int32_t s = 0; s < kSlurSlots; ++s) {
        if (here[static_cast<std::size_t>(s)] != kSlotFree) continue;
        if (hasNext && measures[static_cast<std::size_t>(m + 1)].slots[static_cast<std::size_t>(s)] != kSlotFree) {
            continue;
        }
        return s;
    }
    for (int32_t s = 0; s < kSlurSlots; ++s) {
        if (here[static_cast<std::size_t>(s)] == kSlotFree) return s;
    }
    return 0;
}

struct NoteContext {
    CMxmlFile& file;
    XmlDocument& doc;
    CMxmlWriterPart& part;
    int32_t partIndex;
    int32_t measureIndex;
    xmlNodePtr measure;
    int32_t voice;
};

int appendSlurs(NoteContext& c, xmlNodePtr notations, CScoreEvent& event) {
    auto& measures = c.part.group.items;
    auto& slots = measures[static_cast<std::size_t>(c.measureIndex)].slots;
    for (scorecore::CScoreEventItem& item : event.items) {
        if (!isSlurItem(item)) continue;
        const bool glissando = (item.flags & (scorecore::kItemLineStart | scorecore::kItemLineStop)) != 0;
        const char* name = glissando ? "glissando" : "slur";
        const bool start = (item.flags & (scorecore::kItemSlurStart | scorecore::kItemLineStart)) != 0;
        int32_t slot = 0;
        if (start) {
            slot = takeSlurSlot(c.part, c.measureIndex);
            slots[static_cast<std::size_t>(slot)] = kSlotInUse;
            c.part.slurStart[static_cast<std::size_t>(slot)] = c.measureIndex;
            item.line = slot + 1;
        } else {
            // The number given at the start; without one, the first slot in use.
            slot = item.line - 1;
            if (slot < 0 || slot >= kSlurSlots) {
                slot = 0;
                for (int32_t s = 0; s < kSlurSlots; ++s) {
                    if (slots[static_cast<std::size_t>(s)] == kSlotInUse) {
                        slot = s;
                        break;
                    }
                }
            }
            slots[static_cast<std::size_t>(slot)] = kSlotEnded;
            const int32_t from = c.part.slurStart[static_cast<std::size_t>(slot)];
            if (from != c.measureIndex && from >= 0 && from < c.part.group.itemCount()) {
                measures[static_cast<std::size_t>(from)].slots[static_cast<std::size_t>(slot)] = kSlotFree;
            }
        }
        const std::string number = std::to_string(slot + 1);
        const int rc = start ? leafPlaced(c.doc, notations, name, kInner, item.placement,
                                          {{"type", "start"}, {"number", number}})
                             : mxw::leaf(c.doc, notations, name, kInner, {}, {{"type", "stop"}, {"number", number}});
        if (rc != kOk) return rc;
    }
    return kOk;
}

int appendSymbols(NoteContext& c, xmlNodePtr notations, const CScoreEvent& event) {
    XmlDocument& doc = c.doc;
    for (const scorecore::CScoreOrnament& o : event.ornaments) {
        Steps step;
        xmlNodePtr group = nullptr;
        switch (o.code) {
            case 8:
            case 9:
                step(mxw::detached(doc, "technical", &group)) &&
                    step(leafPlaced(doc, group, o.code == 8 ? "up-bow" : "down-bow", kInnermost, o.placement)) &&
                    step(mxw::attach(doc, notations, group, kInner));
                break;
            case 10:
            case 11:
                step(mxw::leaf(doc, notations, "fermata", kInner, {},
                               {{"type", o.code == 10 ? "upright" : "inverted"}}));
                break;
            case 12: step(mxw::leaf(doc, notations, "arpeggiate", kInner)); break;
            case 1:
                step(mxw::detached(doc, "ornaments", &group)) &&
                    step(mxw::leaf(doc, group, "trill-mark", kInnermost)) &&
                    (o.secondCode < 23 || o.secondCode > 25 ||
                     step(mxw::leaf(doc, group, "wavy-line", kInnermost, {}, {{"type", "start"}}))) &&
                    step(mxw::attach(doc, notations, group, kInner));
                break;
            case 2:
            case 3:
            case 4: {
                const char* name = o.code == 2 ? "inverted-mordent" : o.code == 3 ? "mordent" : "turn";
                step(mxw::detached(doc, "ornaments", &group)) && step(mxw::leaf(doc, group, name, kInnermost)) &&
                    step(mxw::attach(doc, notations, group, kInner));
                break;
            }
            case 5:
            case 6:
            case 7: {
                const char* text = o.code == 5 ? "natural" : o.code == 6 ? "sharp" : "flat";
                step(mxw::detached(doc, "ornaments", &group)) &&
                    step(leafPlaced(doc, group, "accidental-mark", kInnermost, o.placement, {}, text)) &&
                    step(mxw::attach(doc, notations, group, kInner));
                break;
            }
            case 23:
            case 24:
            case 25: {
                const char* type = o.code == 23 ? "start" : o.code == 24 ? "continue" : "stop";
                step(mxw::detached(doc, "ornaments", &group)) &&
                    step(mxw::leaf(doc, group, "wavy-line", kInnermost, {}, {{"type", type}})) &&
                    step(mxw::attach(doc, notations, group, kInner));
                break;
            }
            default: break;
        }
        if (step.result() != kOk) return step.result();
    }
    return kOk;
}

// The "notations" of a note or rest; nothing when no mark of the event is
// written.
int appendNotations(NoteContext& c, xmlNodePtr note, CScoreEvent& event) {
    XmlDocument& doc = c.doc;
    const CMxmlFile& file = c.file;
    xmlNodePtr notations = nullptr;
    if (const int rc = mxw::detached(doc, "notations", &notations); rc != kOk) return rc;
    Steps step;
    if (event.bracketPresent == 1) {
        const int32_t placement = event.bracketHasOrientation ? event.bracketOrientation : 0;
        step(leafPlaced(doc, notations, "tuplet", kInner, placement == 1 || placement == 2 ? placement : 0,
                        {{"type", "start"}, {"bracket", event.bracketNoteRange >= 0 ? "yes" : "no"}}));
    } else if (event.bracketPresent == 2) {
        step(mxw::leaf(doc, notations, "tuplet", kInner, {}, {{"type", "stop"}}));
    }
    if (const char* name = articulationName(event.articulation.code);
        name != nullptr && file.testConvProps(kConvArticulations)) {
        xmlNodePtr articulations = nullptr;
        step(mxw::detached(doc, "articulations", &articulations)) &&
            step(leafPlaced(doc, articulations, name, kInnermost, event.articulation.placement)) &&
            step(mxw::attach(doc, notations, articulations, kInner));
    }
    if (step.result() == kOk && file.testConvProps(kConvSymbols)) step(appendSymbols(c, notations, event));
    if (step.result() == kOk && file.testConvProps(kConvSlurs)) step(appendSlurs(c, notations, event));
    if (step.result() != kOk) return step.result();
    if (mxw::lastElement(notations) == nullptr) return kOk;  // left to the document to free
    return mxw::attach(doc, note, notations, kNoteChild);
}

int appendLyrics(NoteContext& c, xmlNodePtr note, const CScoreEvent& event) {
    if (!c.file.testConvProps(kConvLyrics)) return kOk;
    int32_t number = 0;
    for (const scorecore::CScoreLyric& lyric : event.lyrics) {
        xmlNodePtr element = nullptr;
        Steps step;
        step(mxw::detached(c.doc, "lyric", &element, {{"number", std::to_string(++number)}})) &&
            step(mxw::leaf(c.doc, element, "syllabic", kInner, lyric.number == 2 ? "begin" : "single")) &&
            step(mxw::leaf(c.doc, element, "text", kInner, lyric.text)) &&
            (lyric.extender == 0 || step(mxw::leaf(c.doc, element, "extend", kInner))) &&
            step(mxw::attach(c.doc, note, element, kNoteChild));
        if (step.result() != kOk) return step.result();
    }
    return kOk;
}

int appendHead(NoteContext& c, CScoreEvent& event, int32_t head, std::string_view type) {
    XmlDocument& doc = c.doc;
    xmlNodePtr note = nullptr;
    const bool invisible = event.isKind(scorecore::kKindInvisible);
    const bool grace = event.isKind(scorecore::kKindGrace);
    if (const int rc = invisible ? mxw::detached(doc, "note", &note, {{"print-object", "no"}})
                                 : mxw::detached(doc, "note", &note);
        rc != kOk) {
        return rc;
    }
    Steps step;
    if (head > 0) step(mxw::leaf(doc, note, "chord", kNoteChild));
    if (grace) {
        if ((event.stem & 4u) != 0) {
            step(mxw::leaf(doc, note, "grace", kNoteChild, {}, {{"slash", "yes"}}));
        } else {
            step(mxw::leaf(doc, note, "grace", kNoteChild));
        }
    }
    std::string pitch;
    if (event.getPitchText(head, pitch)) {
        const std::string letter(1, static_cast<char>(std::toupper(static_cast<unsigned char>(pitch[0]))));
        const std::string octave(1, pitch[1]);
        xmlNodePtr element = nullptr;
        if (c.part.percussion) {
            step(mxw::detached(doc, "unpitched", &element)) &&
                step(mxw::leaf(doc, element, "display-step", kInner, letter)) &&
                step(mxw::leaf(doc, element, "display-octave", kInner, octave)) &&
                step(mxw::attach(doc, note, element, kNoteChild));
        } else {
            step(mxw::detached(doc, "pitch", &element)) && step(mxw::leaf(doc, element, "step", kInner, letter)) &&
                (!event.hasAlter(head) || step(mxw::leaf(doc, element, "alter", kInner, event.getAlterText(head)))) &&
                step(mxw::leaf(doc, element, "octave", kInner, octave)) &&
                step(mxw::attach(doc, note, element, kNoteChild));
        }
    }
    if (c.part.percussion) {
        const auto key = static_cast<int32_t>((event.midi[static_cast<std::size_t>(head)] >> 8) & 0xFFu);
        const std::string id = "P" + std::to_string(c.partIndex + 1) + "-M" + std::to_string(key + 1);
        step(mxw::leaf(doc, note, "instrument", kNoteChild, {}, {{"id", id}}));
    }
    if (!grace) step(mxw::leaf(doc, note, "duration", kNoteChild, std::to_string(event.duration)));
    // The middle note of a tie chain ends one tie and starts the next: both.
    if (event.hasTie(scorecore::kTieEnd)) step(mxw::leaf(doc, note, "tie", kNoteChild, {}, {{"type", "stop"}}));
    if (event.hasTie(scorecore::kTieStart)) step(mxw::leaf(doc, note, "tie", kNoteChild, {}, {{"type", "start"}}));
    step(mxw::leaf(doc, note, "voice", kNoteChild, std::to_string(c.voice + 1)));
    if (!type.empty()) {
        if (event.isKind(scorecore::kKindCue)) {
            step(mxw::leaf(doc, note, "type", kNoteChild, type, {{"size", "cue"}}));
        } else {
            step(mxw::leaf(doc, note, "type", kNoteChild, type));
        }
    }
    for (int32_t d = 0; d < event.dots; ++d) step(mxw::leaf(doc, note, "dot", kNoteChild));
    const scorecore::CEventAccidental& accidental = event.accidentals[static_cast<std::size_t>(head)];
    if (const char* text = accidentalText(accidental.shown); text != nullptr) {
        if (accidental.editorial != 0) {
            step(mxw::leaf(doc, note, "accidental", kNoteChild, text, {{"editorial", "yes"}}));
        } else {
            step(mxw::leaf(doc, note, "accidental", kNoteChild, text));
        }
    }
    if (step.result() == kOk) step(appendTimeModification(doc, note, event));
    if (event.hasStem(1u)) {
        step(mxw::leaf(doc, note, "stem", kNoteChild, "up"));
    } else if (event.hasStem(2u)) {
        step(mxw::leaf(doc, note, "stem", kNoteChild, "down"));
    }
    int32_t shape = 0;
    if (event.getHeadFlags(head, shape)) {
        const auto [notehead, filled] = noteheadOf(shape, event.baseText);
        if (notehead != nullptr) {
            if (*filled != '\0') {
                step(mxw::leaf(doc, note, "notehead", kNoteChild, notehead, {{"filled", filled}}));
            } else {
                step(mxw::leaf(doc, note, "notehead", kNoteChild, notehead));
            }
        }
    }
    if ((event.beam & 7) != 0) {
        const char* text = (event.beam & 1) != 0 ? "begin" : (event.beam & 4) != 0 ? "end" : "continue";
        for (int32_t n = 1; n <= event.getBeamCount(); ++n) {
            step(mxw::leaf(doc, note, "beam", kNoteChild, text, {{"number", std::to_string(n)}}));
        }
    }
    if (head == 0) {
        if (step.result() == kOk) step(appendNotations(c, note, event));
        if (step.result() == kOk) step(appendLyrics(c, note, event));
    }
    if (step.result() != kOk) return step.result();
    return mxw::attach(doc, c.measure, note, kMeasureChild);
}

int appendOneRest(NoteContext& c, CScoreEvent& event, int32_t ticks, std::string_view type) {
    XmlDocument& doc = c.doc;
    xmlNodePtr note = nullptr;
    if (const int rc = event.isKind(scorecore::kKindInvisible)
                           ? mxw::detached(doc, "note", &note, {{"print-object", "no"}})
                           : mxw::detached(doc, "note", &note);
        rc != kOk) {
        return rc;
    }
    Steps step;
    step(mxw::leaf(doc, note, "rest", kNoteChild)) &&
        step(mxw::leaf(doc, note, "duration", kNoteChild, std::to_string(ticks))) &&
        step(mxw::leaf(doc, note, "voice", kNoteChild, std::to_string(c.voice + 1))) &&
        (type.empty() || step(mxw::leaf(doc, note, "type", kNoteChild, type)));
    for (int32_t d = 0; d < event.dots && step.result() == kOk; ++d) step(mxw::leaf(doc, note, "dot", kNoteChild));
    if (step.result() == kOk) step(appendTimeModification(doc, note, event));
    if (step.result() == kOk) step(appendNotations(c, note, event));
    if (step.result() != kOk) return step.result();
    return mxw::attach(doc, c.measure, note, kMeasureChild);
}

// A rest, or a multi-measure rest written as that many whole-measure rests.
int appendRestEvent(CMxmlFile& file, CScoreEvent& event, int32_t voice, int32_t partIndex) {
    const int32_t count = restCountOfDuration(event.baseText);
    if (count < 2) {
        CMxmlWriterPart* part = nullptr;
        xmlNodePtr measure = nullptr;
        if (const int rc = mxw::currentMeasure(file, partIndex, &part, &measure); rc != kOk) return rc;
        NoteContext c{file, file.document, *part, partIndex == -1 ? file.writerPart : partIndex,
                      file.writerMeasure, measure, voice};
        return appendOneRest(c, event, event.duration, noteTypeOfDuration(event.baseText));
    }
    const CMxmlMeasureStyle style{3, count};
    if (const int rc = appendAttributes(file, partIndex, 0, &style, nullptr, std::nullopt, nullptr, std::nullopt, 0);
        rc != kOk) {
        return rc;
    }
    for (int32_t i = 0; i < count; ++i) {
        if (i > 0) {
            if (const int rc = appendMeasure(file, nullptr, partIndex); rc != kOk) return rc;
        }
        CMxmlWriterPart* part = nullptr;
        xmlNodePtr measure = nullptr;
        if (const int rc = mxw::currentMeasure(file, partIndex, &part, &measure); rc != kOk) return rc;
        NoteContext c{file, file.document, *part, partIndex == -1 ? file.writerPart : partIndex,
                      file.writerMeasure, measure, voice};
        if (const int rc = appendOneRest(c, event, event.duration / count, {}); rc != kOk) return rc;
    }
    return kOk;
}

// --- directions -----------------------------------------------------------------------

// One "direction" with its "direction-type"; fill adds the content (depth 5).
template <class Fill>
int appendOneDirection(XmlDocument& doc, xmlNodePtr measure, int32_t placement, int64_t offset, Fill fill) {
    xmlNodePtr direction = nullptr;
    xmlNodePtr type = nullptr;
    const std::string where = placementText(placement);
    Steps step;
    step(where.empty() ? mxw::detached(doc, "direction", &direction)
                       : mxw::detached(doc, "direction", &direction, {{"placement", where}})) &&
        step(mxw::detached(doc, "direction-type", &type)) && step(fill(type)) &&
        step(mxw::attach(doc, direction, type, kNoteChild)) &&
        (offset == 0 || step(mxw::leaf(doc, direction, "offset", kNoteChild, std::to_string(offset)))) &&
        step(mxw::attach(doc, measure, direction, kMeasureChild));
    return step.result();
}

struct DynamicMark {
    int32_t code;
    const char* mark;
    int32_t relativeX;
};
constexpr std::array<DynamicMark, 12> kDynamics = {{
    {10, "ppp", -11},
    {22, "pp", -8},
    {44, "p", -5},
    {62, "mp", -8},
    {74, "mf", -8},
    {90, "f", -5},
    {110, "ff", -8},
    {127, "fff", -11},
    {-4, "sf", -8},
    {-3, "sfz", -11},
    {-2, "fz", -8},
    {-1, "fp", -8},
}};

}  // namespace

// --- tables -------------------------------------------------------------------------------

std::string_view noteTypeOfDuration(std::string_view duration) {
    if (duration.empty()) return {};
    for (const NoteType& t : kNoteTypes) {
        if (t.text == duration) return t.type;
    }
    return {};
}

int32_t restCountOfDuration(std::string_view duration) {
    if (duration.empty()) return 0;
    for (const NoteType& t : kNoteTypes) {
        if (!t.text.empty() && t.text == duration) return t.restCount;
    }
    if (!std::all_of(duration.begin(), duration.end(), [](char ch) { return ch >= '0' && ch <= '9'; })) return 0;
    // A count beyond any score is not a measure count (and would make as
    // many measures).
    if (duration.size() > 4) return 0;
    const int32_t n = std::atoi(std::string(duration).c_str());
    return n > 1 ? n : 0;
}

// --- operations ---------------------------------------------------------------------------

int appendAttributes(CMxmlFile& file, int32_t partIndex, int32_t divisions, const CMxmlMeasureStyle* style,
                     const CMxmlClef* clef, std::optional<int8_t> fifths, const CMxmlTime* time,
                     std::optional<std::string_view> staffLines, int32_t transposition) {
    CMxmlWriterPart* part = nullptr;
    xmlNodePtr measure = nullptr;
    if (const int rc = mxw::currentMeasure(file, partIndex, &part, &measure); rc != kOk) return rc;
    XmlDocument& doc = file.document;

    // A key or time joins the measure's attributes wherever they stand;
    // anything else only continues attributes that end the measure.
    xmlNodePtr attributes = nullptr;
    if (fifths.has_value() || time != nullptr) {
        attributes = mxw::firstNamed(measure, "attributes");
    } else if (xmlNodePtr last = mxw::lastElement(measure); mxw::isNamed(last, "attributes")) {
        attributes = last;
    }
    if (attributes != nullptr) {
        if (const int rc = mxw::takeOut(doc, measure, attributes); rc != kOk) return rc;
    } else if (const int rc = mxw::detached(doc, "attributes", &attributes); rc != kOk) {
        return rc;
    }
    Steps step;
    if (divisions != 0) step(mxw::leaf(doc, attributes, "divisions", kNoteChild, std::to_string(divisions)));
    xmlNodePtr measureStyle = nullptr;
    if (style != nullptr && style->kind == 3) {
        step(mxw::detached(doc, "measure-style", &measureStyle)) &&
            step(mxw::leaf(doc, measureStyle, "multiple-rest", kInner, std::to_string(style->measures))) &&
            step(mxw::attach(doc, attributes, measureStyle, kNoteChild));
    }
    if (fifths.has_value() && step.result() == kOk) {
        const std::string value = std::to_string(*fifths);
        if (xmlNodePtr key = mxw::firstNamed(attributes, "key"); key != nullptr) {
            if (xmlNodePtr old = mxw::firstNamed(key, "fifths"); old != nullptr) {
                xmlNodeSetContent(old, reinterpret_cast<const xmlChar*>(value.c_str()));
            } else {
                step(mxw::leaf(doc, key, "fifths", kInner, value));
            }
        } else {
            step(mxw::detached(doc, "key", &key)) && step(mxw::leaf(doc, key, "fifths", kInner, value)) &&
                step(mxw::leaf(doc, key, "mode", kInner, "major")) &&
                step(mxw::attach(doc, attributes, key, kNoteChild));
        }
        if (step.result() == kOk) step(moveToEnd(doc, attributes, measureStyle, kNoteChild));
    }
    if (time != nullptr && step.result() == kOk) {
        xmlNodePtr element = nullptr;
        switch (time->symbol) {
            case 0: step(mxw::detached(doc, "time", &element)); break;
            case 1: step(mxw::detached(doc, "time", &element, {{"symbol", "common"}})); break;
            case 2: step(mxw::detached(doc, "time", &element, {{"symbol", "cut"}})); break;
            case 3: step(mxw::detached(doc, "time", &element, {{"print-object", "no"}})); break;
            default: step(mxw::detached(doc, "time", &element, {{"symbol", "normal"}})); break;
        }
        const int32_t unit = std::clamp(time->unitIndex, 0, 12);
        step(mxw::leaf(doc, element, "beats", kInner, std::to_string(time->beats))) &&
            step(mxw::leaf(doc, element, "beat-type", kInner, std::to_string(1 << unit))) &&
            step(mxw::attach(doc, attributes, element, kNoteChild)) &&
            step(moveToEnd(doc, attributes, measureStyle, kNoteChild));
    }
    if (clef != nullptr && step.result() == kOk) {
        xmlNodePtr element = nullptr;
        step(mxw::detached(doc, "clef", &element)) &&
            step(mxw::leaf(doc, element, "sign", kInner, clefSign(clef->sign))) &&
            step(mxw::leaf(doc, element, "line", kInner, std::to_string(clef->line)));
        if (clef->octave != 1) {
            const char* change = clef->octave == 0 ? "1" : clef->octave == 2 ? "-1" : "0";
            step(mxw::leaf(doc, element, "clef-octave-change", kInner, change));
        }
        step(mxw::attach(doc, attributes, element, kNoteChild));
    }
    if (transposition != 0 && step.result() == kOk) {
        const int32_t diatonic = transposition / 2 + (transposition < 0 ? -1 : 1);
        xmlNodePtr element = nullptr;
        step(mxw::detached(doc, "transpose", &element)) &&
            step(mxw::leaf(doc, element, "diatonic", kInner, std::to_string(diatonic))) &&
            step(mxw::leaf(doc, element, "chromatic", kInner, std::to_string(transposition))) &&
            step(mxw::attach(doc, attributes, element, kNoteChild));
    }
    if (staffLines.has_value() && step.result() == kOk) {
        if (const int32_t lines = staffLineCount(*staffLines); lines != 5) {
            xmlNodePtr element = nullptr;
            step(mxw::detached(doc, "staff-details", &element)) &&
                step(mxw::leaf(doc, element, "staff-lines", kInner, std::to_string(lines))) &&
                step(mxw::attach(doc, attributes, element, kNoteChild));
        }
    }
    if (step.result() != kOk) return step.result();
    return mxw::attach(doc, measure, attributes, kMeasureChild);
}

int appendSoundTempo(CMxmlFile& file, int32_t tempo, int32_t partIndex) {
    CMxmlWriterPart* part = nullptr;
    xmlNodePtr measure = nullptr;
    if (const int rc = mxw::currentMeasure(file, partIndex, &part, &measure); rc != kOk) return rc;
    return mxw::leaf(file.document, measure, "sound", kMeasureChild, {}, {{"tempo", std::to_string(tempo)}});
}

int appendBarline(CMxmlFile& file, int32_t partIndex, const scorecore::CEventBarline& barline) {
    CMxmlWriterPart* part = nullptr;
    xmlNodePtr measure = nullptr;
    if (const int rc = mxw::currentMeasure(file, partIndex, &part, &measure); rc != kOk) return rc;
    const int32_t kind = barline.type;
    if (kind < kBarRegular || kind > kBarEnding) return kOk;
    XmlDocument& doc = file.document;
    const bool stop = barline.present == kEndingStop;
    xmlNodePtr element = mxw::lastElement(measure);
    if (mxw::isNamed(element, "barline")) {
        if (const int rc = mxw::takeOut(doc, measure, element); rc != kOk) return rc;
    } else {
        const bool right = kind == kBarLightLight || kind == kBarFinal || kind == kBarRepeatBackward ||
                           kind == kBarRepeatBackwardEnd || (kind == kBarEnding && stop);
        if (const int rc = mxw::detached(doc, "barline", &element, {{"location", right ? "right" : "left"}});
            rc != kOk) {
            return rc;
        }
    }
    Steps step;
    if (kind == kBarEnding) {
        const bool closed = (stop ? barline.rightDown : barline.leftDown) != 0;
        const char* type = !closed ? "discontinue" : stop ? "stop" : "start";
        step(mxw::leaf(doc, element, "ending", kNoteChild, {}, {{"type", type}, {"number", barline.endingLabel}}));
    } else {
        static constexpr std::array<const char*, 6> kStyles = {"regular",     "light-light", "light-heavy",
                                                               "light-heavy", "heavy-light", "light-heavy"};
        step(mxw::leaf(doc, element, "bar-style", kNoteChild, kStyles[static_cast<std::size_t>(kind)]));
        if (step.result() == kOk) step(moveToEnd(doc, element, mxw::firstNamed(element, "ending"), kNoteChild));
        if (kind >= kBarRepeatBackward) {
            step(mxw::leaf(doc, element, "repeat", kNoteChild, {},
                           {{"direction", kind == kBarRepeatForward ? "forward" : "backward"}}));
        }
    }
    if (step.result() != kOk) return step.result();
    return mxw::attach(doc, measure, element, kMeasureChild);
}

int appendDirection(CMxmlFile& file, const CScoreEvent& event, int32_t partIndex) {
    CMxmlWriterPart* part = nullptr;
    xmlNodePtr measure = nullptr;
    if (const int rc = mxw::currentMeasure(file, partIndex, &part, &measure); rc != kOk) return rc;
    XmlDocument& doc = file.document;
    if (file.testConvProps(kConvSymbols)) {
        for (const scorecore::CScoreOrnament& o : event.ornaments) {
            if (o.code < 13 || o.code > 16) continue;
            const int rc = appendOneDirection(
                doc, measure, o.placement, scaled(o.position, 3), [&](xmlNodePtr type) {
                    switch (o.code) {
                        case 13: return mxw::leaf(doc, type, "pedal", kInner, {}, {{"type", "start"}});
                        case 14: return mxw::leaf(doc, type, "pedal", kInner, {}, {{"type", "stop"}});
                        case 15: return mxw::leaf(doc, type, "segno", kInner);
                        default: return mxw::leaf(doc, type, "coda", kInner);
                    }
                });
            if (rc != kOk) return rc;
        }
    }
    if (file.testConvProps(kConvDynamics)) {
        for (const DynamicMark& d : kDynamics) {
            if (d.code != event.dynamic.code) continue;
            const int rc = appendOneDirection(doc, measure, event.dynamic.placement, 0, [&](xmlNodePtr type) {
                xmlNodePtr dynamics = nullptr;
                Steps step;
                step(mxw::detached(doc, "dynamics", &dynamics, {{"relative-x", std::to_string(d.relativeX)}})) &&
                    step(mxw::leaf(doc, dynamics, d.mark, kInnermost)) &&
                    step(mxw::attach(doc, type, dynamics, kInner));
                return step.result();
            });
            if (rc != kOk) return rc;
        }
    }
    if (file.testConvProps(kConvWedges)) {
        for (const scorecore::CScoreWedge& w : event.wedges) {
            const bool crescendo = w.code == scorecore::kWedgeCrescendo;
            const bool diminuendo = w.code == scorecore::kWedgeDiminuendo;
            const char* type = crescendo ? "crescendo" : diminuendo ? "diminuendo" : "stop";
            const std::string spread =
                crescendo || (!diminuendo && w.spanFactor < 0)
                    ? "0"
                    : std::to_string(std::abs(scaled(w.spanFactor, 10)));
            const int64_t offset = scaled(w.code == scorecore::kWedgeStop ? w.endOffset : w.startOffset, 32);
            const int rc = appendOneDirection(doc, measure, w.placement, offset, [&](xmlNodePtr t) {
                return mxw::leaf(doc, t, "wedge", kInner, {}, {{"type", type}, {"spread", spread}});
            });
            if (rc != kOk) return rc;
        }
    }
    if (file.testConvProps(kConvWords)) {
        for (const scorecore::CScoreText& text : event.texts) {
            const std::string face = lower(text.face);
            const char* family = face.find("tavrena") != std::string::npos ? "music"
                                 : face.find("arial") != std::string::npos ? "sans-serif"
                                                                           : "serif";
            const int64_t relativeX = std::llround(text.offsetX * 10.0);
            const int rc = appendOneDirection(doc, measure, text.placement, 0, [&](xmlNodePtr t) {
                scorecore::XmlElementArgs args(doc, t, "words");
                if (relativeX != 0) args.attr("relative-x", std::to_string(relativeX));
                args.attr("font-weight", text.bold ? "bold" : "normal")
                    .attr("font-size", std::to_string(text.height))
                    .attr("font-style", text.italic ? "italic" : "normal")
                    .attr("font-family", family);
                return scorecore::xmldomAppendElement(args.depth(kInner).indent().text(text.text));
            });
            if (rc != kOk) return rc;
        }
    }
    return kOk;
}

int appendNote(CMxmlFile& file, CScoreEvent& event, int32_t voice, int32_t partIndex) {
    CMxmlWriterPart* part = nullptr;
    xmlNodePtr measure = nullptr;
    if (const int rc = mxw::currentMeasure(file, partIndex, &part, &measure); rc != kOk) return rc;
    if (event.isKind(scorecore::kKindInvisible) && event.duration == 0) return kOk;
    voice = resolveVoice(file, voice);
    if (event.isKind(scorecore::kKindRest)) return appendRestEvent(file, event, voice, partIndex);
    NoteContext c{file, file.document, *part, partIndex == -1 ? file.writerPart : partIndex,
                  file.writerMeasure, measure, voice};
    const std::string_view type = noteTypeOfDuration(event.baseText);
    const int32_t heads = std::clamp(event.headCount, 0, scorecore::kMaxHeads);
    for (int32_t head = 0; head < heads; ++head) {
        if (const int rc = appendHead(c, event, head, type); rc != kOk) return rc;
    }
    return kOk;
}

int appendRests(CMxmlFile& file, int32_t ticks, int32_t measures, int32_t voice) {
    if (ticks <= 0) return kOk;
    if (measures >= 2) {
        // One multi-measure rest; each of its measures takes its share.
        CScoreEvent rest;
        rest.setKind(scorecore::kKindRest);
        rest.duration = ticks;
        rest.baseText = std::to_string(measures);
        return appendNote(file, rest, voice, -1);
    }
    const int32_t quarter = std::max(file.ticksPerQuarter, 1);
    int32_t left = ticks;
    while (left > 0) {
        int32_t value = 4 * quarter;
        bool triplet = false;
        while (value > left) {
            if (left == value / 3 * 2) {
                triplet = true;
                break;
            }
            value /= 2;
        }
        if (value <= 0) break;
        CScoreEvent rest;
        rest.setKind(scorecore::kKindRest);
        rest.baseText = durationText(value, quarter);
        rest.duration = triplet ? value / 3 * 2 : value;
        if (triplet) {
            rest.tupletCount = 3;
            rest.tupletNormal = 2;
        }
        if (const int rc = appendNote(file, rest, voice, -1); rc != kOk) return rc;
        left -= rest.duration;
    }
    return kOk;
}

void carryOpenFlags(CMxmlFile& file, int32_t partIndex, int32_t measureIndex) {
    CMxmlWriterPart* part = mxw::partAt(file, partIndex);
    if (part == nullptr) return;
    const int32_t m = measureIndex == -1 ? file.writerMeasure : measureIndex;
    // The following measure must exist already.
    if (m < 0 || m + 1 >= part->group.itemCount()) return;
    const auto& from = part->group.items[static_cast<std::size_t>(m)].slots;
    auto& to = part->group.items[static_cast<std::size_t>(m + 1)].slots;
    for (std::size_t s = 0; s < static_cast<std::size_t>(kSlurSlots); ++s) {
        if (from[s] == kSlotInUse) to[s] = kSlotInUse;
    }
}

int setMeasureAttributes(CMxmlFile& file, const scorecore::CEventBarline& barline, int32_t partIndex) {
    CMxmlWriterPart* part = mxw::partAt(file, partIndex);
    const int32_t m = file.writerMeasure;
    if (part == nullptr || m < 0 || m >= part->group.itemCount()) return kErrIndex;
    part->group.items[static_cast<std::size_t>(m)].barline = barline;
    return kOk;
}

int getMeasureAttributes(CMxmlFile& file, scorecore::CEventBarline& barline, int32_t partIndex) {
    CMxmlWriterPart* part = mxw::partAt(file, partIndex);
    const int32_t m = file.writerMeasure;
    if (part == nullptr || m < 0 || m >= part->group.itemCount()) return kErrIndex;
    const scorecore::CEventBarline& pending = part->group.items[static_cast<std::size_t>(m)].barline;
    if (pending.type != -1) barline = pending;
    return kOk;
}

}  // namespace scoreconv
