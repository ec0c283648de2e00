// Directions (dynamics, wedges, words, pedal, segno, coda, tempo) and
// barlines of a measure.
#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "musicxml/measure_reader.h"
#include "musicxml/mxml_words.h"
#include "musicxml/note_reader.h"
#include "musicxml/xml_values.h"
#include "play/play_model.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::CScoreOrnament;
using scorecore::CScoreText;
using scorecore::CScoreWedge;
using scorecore::kErrDom;
using scorecore::kErrNotPresent;
using scorecore::kErrOutOfMemory;
using scorecore::kOk;

namespace {

constexpr int32_t kOrnamentPedalStart = 13;
constexpr int32_t kOrnamentPedalStop = 14;
constexpr int32_t kOrnamentSegno = 15;
constexpr int32_t kOrnamentCoda = 16;
constexpr std::size_t kMaxWordsBytes = 256;
constexpr std::size_t kMaxEndingChars = 3;
// The player reads the whole number list of an ending, within reason.
constexpr std::size_t kMaxEndingNumberChars = 64;
// A wedge found to end on its own note is drawn at least this long (divisions).
constexpr double kShortestWedge = 10;
// Wedge codes given as words.
constexpr int32_t kWordsCrescendo = -13;
constexpr int32_t kWordsDiminuendo = -12;

bool isLoud(int32_t code) { return code == 90 || code == 110 || code == 127; }
bool isSoft(int32_t code) { return code == 44 || code == 22 || code == 10; }

int32_t roundedTicks(const CReadContext& context, double divisions) {
    const double perDivision = context.divisions > 0 ? context.ticksPerQuarter / context.divisions : 0;
    const double ticks = divisions * perDivision;
    if (!std::isfinite(ticks)) return 0;
    // A wedge's end found further on is no longer kept within this measure;
    // it still stays within a measure's reach of it.
    const double reach = static_cast<double>(std::clamp<int64_t>(context.reach, 0, kMaxTicks));
    return static_cast<int32_t>(std::clamp(std::round(ticks), -reach, reach));
}

struct DirectionContext {
    const xmlNode* direction;
    const CReadContext& context;
    int32_t placement;
    double offset;
    int32_t staff;
};

void readDynamics(const xmlNode* dynamics, const DirectionContext& d, CScoreEvent& event) {
    const xmlNode* first = mx::firstElement(dynamics);
    if (first == nullptr) return;
    const std::string_view name = mx::nameOf(first);
    const int32_t code = dynamicCodeOfWord(name == "other-dynamics" ? std::string_view(mx::trimmed(mx::text(first))) : name);
    // "f" followed by "p" in one place is the accent "fp".
    event.dynamic.code = isLoud(event.dynamic.code) && isSoft(code) ? -1 : code;
    if (mx::attribute(dynamics, "placement")) {
        event.dynamic.placement = placementCode(dynamics);
    } else if (mx::attribute(d.direction, "placement")) {
        event.dynamic.placement = d.placement;
    }
    event.dynamic.offset = static_cast<float>(roundedTicks(d.context, d.offset));
}

int readWedge(const xmlNode* wedge, const DirectionContext& d, CScoreEvent& event) {
    const std::string type = mx::lowered(mx::trimmed(mx::attribute(wedge, "type").value_or("")));
    CScoreWedge w;
    if (type == "crescendo") w.code = scorecore::kWedgeCrescendo;
    if (type == "diminuendo") w.code = scorecore::kWedgeDiminuendo;
    if (type == "stop") w.code = scorecore::kWedgeStop;
    if (w.code == scorecore::kWedgeNone) return kOk;
    const std::optional<std::string> number = mx::attribute(wedge, "number");
    w.number = number ? static_cast<int32_t>(mx::parseRounded(*number, 1, 16).value_or(1)) - 1 : 0;
    w.placement = d.placement;
    w.startOffset = roundedTicks(d.context, d.offset);
    w.endOffset = w.startOffset;
    const bool searching = d.context.spans != nullptr && !d.context.lookAhead();
    // With a look-ahead the start carries its span, and the stop adds nothing.
    if (w.code == scorecore::kWedgeStop && searching) return kOk;
    if (w.code != scorecore::kWedgeStop && searching) {
        CSpanResult found;
        if (const int rc = d.context.spans->find(d.direction, SpanKind::Wedge, d.staff, w.number, found); rc != kOk) {
            return rc;
        }
        if (found.found) {
            double end = found.endOffset;
            if (found.span == 0 && end - d.offset < kShortestWedge) end = d.offset + kShortestWedge;
            w.span = found.span;
            w.endOffset = roundedTicks(d.context, end);
        }
    }
    return event.appendWedge(w) ? kOk : kErrOutOfMemory;
}

int readWordsDirection(const xmlNode* directionType, const DirectionContext& d, CScoreEvent& event) {
    CScoreText text;
    if (readWords(directionType, text) != kOk) return kOk;
    const std::string lower = mx::lowered(text.text);
    int32_t wedgeCode = scorecore::kWedgeNone;
    if (lower.find("cresc") != std::string::npos) wedgeCode = kWordsCrescendo;
    if (lower.find("dim") != std::string::npos || lower.find("decr") != std::string::npos) wedgeCode = kWordsDiminuendo;
    if (wedgeCode != scorecore::kWedgeNone) {
        CScoreWedge w;
        w.code = wedgeCode;
        w.placement = d.placement;
        w.startOffset = roundedTicks(d.context, d.offset);
        w.endOffset = w.startOffset;
        if (!event.appendWedge(w)) return kErrOutOfMemory;
    }
    if (text.text.empty()) return kOk;
    text.placement = d.placement;
    text.offsetX = roundedTicks(d.context, d.offset);
    return event.appendText(text) ? kOk : kErrOutOfMemory;
}

// One "direction-type": its first child decides what it is.
int readDirectionType(const xmlNode* directionType, const DirectionContext& d, CScoreEvent& event) {
    const xmlNode* first = mx::firstElement(directionType);
    const std::string_view name = mx::nameOf(first);
    CScoreOrnament ornament;
    ornament.placement = d.placement;
    if (name == "dynamics") {
        readDynamics(first, d, event);
    } else if (name == "wedge") {
        return readWedge(first, d, event);
    } else if (name == "words") {
        return readWordsDirection(directionType, d, event);
    } else if (name == "segno") {
        ornament.code = kOrnamentSegno;
    } else if (name == "coda") {
        ornament.code = kOrnamentCoda;
    } else if (name == "pedal") {
        const std::string type = mx::lowered(mx::trimmed(mx::attribute(first, "type").value_or("")));
        if (type == "start") ornament.code = kOrnamentPedalStart;
        if (type == "stop") ornament.code = kOrnamentPedalStop;
    }
    return event.appendOrnament(ornament) ? kOk : kErrOutOfMemory;
}

}  // namespace

int readOffset(const xmlNode* node, double& out) {
    const std::optional<double> value = mx::childNumber(node, "offset");
    if (!value) return kErrNotPresent;
    out = *value;
    return kOk;
}

int readWords(const xmlNode* node, CScoreText& out) {
    const xmlNode* words = mx::child(node, "words");
    if (words == nullptr) return kErrNotPresent;
    out.text = mx::cutUtf8(mx::text(words), kMaxWordsBytes);
    out.bold = mx::attributeIs(words, "font-weight", "bold") ? 1 : 0;
    out.italic = mx::attributeIs(words, "font-style", "italic") ? 1 : 0;
    return kOk;
}

int32_t soundTempo(const xmlNode* sound) {
    const std::optional<std::string> tempo = mx::attribute(sound, "tempo");
    if (!tempo) return -1;
    const std::optional<int64_t> value = mx::parseRounded(*tempo, 0, kMaxTempo);
    return value && *value > 0 ? static_cast<int32_t>(*value) : -1;
}

int readDirection(const xmlNode* direction, const CReadContext& context, CScoreEvent& event, CDirectionInfo& info) {
    info = CDirectionInfo{};
    info.staff = readStaffNumber(direction);
    info.firstWedge = event.wedgeCount();
    info.tempo = soundTempo(mx::child(direction, "sound"));
    if (!mx::hasChild(direction, "direction-type")) return kErrDom;
    readOffset(direction, info.offset);
    info.offsetCut = context.keepInMeasure(info.offset);
    const DirectionContext d{direction, context, placementCode(direction), info.offset, info.staff};
    // Each "direction-type" is one mark: words and a dynamic may share a direction.
    for (const xmlNode* c : mx::elements(direction)) {
        if (mx::nameOf(c) != "direction-type") continue;
        if (const int rc = readDirectionType(c, d, event); rc != kOk) return rc;
    }
    return kOk;
}

int readBarline(const xmlNode* barline, const CReadContext& context, scorecore::CEventBarline& out,
                CBarlineInfo& info) {
    out = scorecore::CEventBarline{};
    info = CBarlineInfo{};
    const std::string location = mx::lowered(mx::trimmed(mx::attribute(barline, "location").value_or("right")));
    if (location == "left") info.location = CBarlineInfo::Location::Left;
    if (location == "middle") info.location = CBarlineInfo::Location::Middle;
    int32_t style = kBarlineNone;
    const xmlNode* ending = nullptr;
    for (const xmlNode* c : mx::elements(barline)) {
        const std::string_view name = mx::nameOf(c);
        if (name == "repeat") {
            const std::string direction = mx::lowered(mx::trimmed(mx::attribute(c, "direction").value_or("")));
            info.forwardRepeat = info.forwardRepeat || direction == "forward";
            info.backwardRepeat = info.backwardRepeat || direction == "backward";
            if (direction == "backward") {
                const std::optional<int64_t> times =
                    mx::parseRounded(mx::attribute(c, "times").value_or(""), 0, kMaxRepeatTimes);
                info.repeatTimes = static_cast<int32_t>(times.value_or(0));
            }
        } else if (name == "ending" && mx::attributeIs(c, "type", "start")) {
            ending = c;
        } else if (name == "bar-style") {
            const std::string word = mx::text(c);
            if (mx::equalsNoCase(mx::trimmed(word), "light-light")) style = kBarlineLightLight;
            if (mx::equalsNoCase(mx::trimmed(word), "light-heavy")) style = kBarlineLightHeavy;
        }
    }
    out.type = style;
    if (ending != nullptr) {
        info.endingStart = true;
        out.type = kBarlineEndingStart;
        out.present = 1;
        const std::string numbers = mx::attribute(ending, "number").value_or("");
        out.endingLabel = mx::cutUtf8(mx::trimmed(numbers), kMaxEndingChars);
        info.endingNumbers = mx::cutUtf8(mx::trimmed(numbers), kMaxEndingNumberChars);
        if (context.spans != nullptr && !context.lookAhead()) {
            CSpanResult found;
            if (const int rc = context.spans->find(barline, SpanKind::Ending, -1, 0, found); rc != kOk) return rc;
            if (found.found) {
                out.endingSpan = found.span;
            } else {
                out.endingLabel.clear();
                out.endingSpan = -1;
            }
        }
    }
    if (info.backwardRepeat) out.type = kBarlineBackwardRepeat;
    if (info.forwardRepeat) out.type = kBarlineForwardRepeat;
    return kOk;
}

}  // namespace scoreconv
