// Notations of a note: ties, slurs, tuplets, fermatas, articulations,
// technical marks, ornaments, arpeggios and dynamics.
#include <optional>
#include <string>

#include "musicxml/note_reader.h"
#include "musicxml/mxml_words.h"
#include "musicxml/voice_tables.h"
#include "musicxml/xml_values.h"
#include "play/play_model.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::CScoreEventItem;
using scorecore::CScoreOrnament;
using scorecore::kErrOutOfMemory;
using scorecore::kOk;

namespace {

constexpr int32_t kOrnamentUpBow = 8;
constexpr int32_t kOrnamentDownBow = 9;
constexpr int32_t kOrnamentFermata = 10;
constexpr int32_t kOrnamentFermataInverted = 11;
constexpr int32_t kOrnamentArpeggio = 12;
constexpr int32_t kPlacementArpeggio = 3;
// Dynamics written as a notation of the note rather than as a direction.
constexpr float kNotationDynamicOffset = -0.1f;
constexpr int32_t kHiddenTupletNumber = -1;

std::string typeOf(const xmlNode* element) {
    return mx::lowered(mx::trimmed(mx::attribute(element, "type").value_or("")));
}

// A number attribute ("number" of slurs and wedges): its value, or fallback
// when it is missing or no number.
int32_t numberAttribute(const xmlNode* element, int32_t fallback) {
    const std::optional<std::string> text = mx::attribute(element, "number");
    if (!text) return fallback;
    return static_cast<int32_t>(mx::parseRounded(*text, -1000, 1000).value_or(fallback));
}

// The voice a span search follows: the note's voice number - 1, or -1.
int32_t searchVoice(const CNoteInfo& info) {
    const std::optional<int64_t> number = mx::parseRounded(info.voice.empty() ? "1" : info.voice, -1, 1000);
    return number && *number >= 1 && *number <= CVoiceBitTables::kMaxVoices ? static_cast<int32_t>(*number - 1) : -1;
}

bool appendOrnament(CScoreEvent& event, int32_t code, int32_t placement) {
    CScoreOrnament ornament;
    ornament.code = code;
    ornament.placement = placement;
    return event.appendOrnament(ornament);
}

int readSlur(const xmlNode* slur, const CReadContext& context, const CNoteInfo& info, CScoreEvent& event) {
    const std::string type = typeOf(slur);
    CScoreEventItem item;
    item.number = numberAttribute(slur, 1);
    item.placement = placementCode(slur);
    if (type == "start") item.flags = scorecore::kItemSlurStart;
    if (type == "stop") item.flags = scorecore::kItemSlurStop;
    if (item.flags == scorecore::kItemSlurStart && !context.lookAhead() && context.spans != nullptr) {
        CSpanResult found;
        if (const int rc = context.spans->find(slur, SpanKind::Slur, searchVoice(info), item.number, found); rc != kOk) {
            return rc;
        }
        if (found.found) item.span = found.span;
    }
    return event.appendItem(item) ? kOk : kErrOutOfMemory;
}

int readTuplet(const xmlNode* tuplet, const CReadContext& context, CScoreEvent& event, CNoteInfo& info) {
    const std::string type = typeOf(tuplet);
    std::optional<int64_t> shown;
    if (const xmlNode* actual = mx::child(tuplet, "tuplet-actual")) {
        shown = mx::childRounded(actual, "tuplet-number", -1, 255);
    }
    if (type == "start") {
        info.tupletState = 1;
        event.bracketNumber = static_cast<int32_t>(shown.value_or(event.tupletCount));
    } else if (type == "stop") {
        info.tupletState = 2;
    }
    if (mx::attributeIs(tuplet, "show-number", "none")) event.bracketNumber = kHiddenTupletNumber;
    if (mx::attribute(tuplet, "placement")) {
        event.bracketOrientation = placementCode(tuplet);
        event.bracketHasOrientation = 1;
    }
    if (mx::attributeIs(tuplet, "bracket", "yes")) event.bracketPresent = 1;
    if (info.tupletState == 1 && !context.lookAhead() && context.spans != nullptr) {
        CSpanResult found;
        if (const int rc = context.spans->find(tuplet, SpanKind::Tuplet, searchVoice(info), 0, found); rc != kOk) {
            return rc;
        }
        if (found.found) event.bracketNoteRange = found.span;
    }
    return kOk;
}

void readArticulations(const xmlNode* articulations, CScoreEvent& event) {
    for (const xmlNode* c : mx::elements(articulations)) {
        const int32_t code = articulationCodeOfWord(mx::nameOf(c));
        if (code == 0) continue;
        event.articulation.code = code;
        event.articulation.placement = articulationPlacement(c);
        return;
    }
}

bool readTechnical(const xmlNode* technical, CScoreEvent& event) {
    for (const xmlNode* c : mx::elements(technical)) {
        const std::string_view name = mx::nameOf(c);
        const int32_t code = name == "up-bow" ? kOrnamentUpBow : name == "down-bow" ? kOrnamentDownBow : 0;
        if (code != 0 && !appendOrnament(event, code, articulationPlacement(c))) return false;
    }
    return true;
}

bool readOrnaments(const xmlNode* ornaments, CScoreEvent& event) {
    CScoreOrnament ornament;
    bool first = true;
    for (const xmlNode* c : mx::elements(ornaments)) {
        if (first) ornament.placement = placementCode(c);
        first = false;
        const std::string_view name = mx::nameOf(c);
        if (name == "accidental-mark") {
            const int32_t mark = accidentalMarkCode(mx::trimmed(mx::text(c)));
            (ornament.code != 0 ? ornament.secondCode : ornament.code) = mark;
        } else if (const int32_t code = ornamentCode(name); code != 0 && ornament.code == 0) {
            ornament.code = code;
        }
    }
    return event.appendOrnament(ornament);
}

void readNotationDynamics(const xmlNode* dynamics, CScoreEvent& event) {
    const xmlNode* first = mx::firstElement(dynamics);
    if (first == nullptr) return;
    event.dynamic.code = dynamicCodeOfWord(mx::nameOf(first));
    event.dynamic.placement = placementCode(dynamics);
    event.dynamic.offset = kNotationDynamicOffset;
}

}  // namespace

int readNotations(const xmlNode* notations, const CReadContext& context, CScoreEvent& event, CNoteInfo& info) {
    for (const xmlNode* c : mx::elements(notations)) {
        const std::string_view name = mx::nameOf(c);
        if (context.spanMarksOnly && name != "slur" && name != "tuplet") continue;
        bool stored = true;
        if (name == "tied") {
            const std::string type = typeOf(c);
            if (type == "start" || type == "continue") event.setTie(scorecore::kTieStart);
            if (type == "stop" || type == "continue") event.setTie(scorecore::kTieEnd);
        } else if (name == "slur") {
            if (const int rc = readSlur(c, context, info, event); rc != kOk) return rc;
        } else if (name == "tuplet") {
            if (const int rc = readTuplet(c, context, event, info); rc != kOk) return rc;
        } else if (name == "arpeggiate") {
            stored = appendOrnament(event, kOrnamentArpeggio, kPlacementArpeggio);
        } else if (name == "fermata") {
            const bool inverted = typeOf(c) == "inverted";
            stored = appendOrnament(event, inverted ? kOrnamentFermataInverted : kOrnamentFermata, inverted ? 2 : 1);
        } else if (name == "articulations") {
            readArticulations(c, event);
        } else if (name == "technical") {
            stored = readTechnical(c, event);
        } else if (name == "ornaments") {
            stored = readOrnaments(c, event);
        } else if (name == "dynamics") {
            readNotationDynamics(c, event);
        }
        if (!stored) return kErrOutOfMemory;
    }
    return kOk;
}

int32_t ornamentCode(std::string_view word) {
    if (mx::equalsNoCase(word, "trill-mark")) return 1;
    if (mx::equalsNoCase(word, "inverted-mordent")) return 2;
    if (mx::equalsNoCase(word, "mordent")) return 3;
    if (mx::equalsNoCase(word, "turn")) return 4;
    return 0;
}

int32_t accidentalMarkCode(std::string_view word) {
    if (mx::equalsNoCase(word, "natural")) return 5;
    if (mx::equalsNoCase(word, "sharp")) return 6;
    if (mx::equalsNoCase(word, "flat")) return 7;
    return 0;
}

}  // namespace scoreconv
