// The note reader proper: chords and voices, the walk over a note's children,
// and the predicates on note elements.
#include "musicxml/note_reader.h"

#include <algorithm>

#include "musicxml/mxml_words.h"
#include "musicxml/xml_values.h"
#include "play/play_model.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::kErrNoteSkipped;
using scorecore::kErrOutOfMemory;
using scorecore::kOk;

namespace {

constexpr std::size_t kMaxTypeChars = 7;  // the stored type string holds 7 characters
constexpr int32_t kSlashedGraceStem = 4;

// What the reader needs before it changes anything: enough to keep time for a
// note that is skipped.
void readTiming(const xmlNode* note, CNoteInfo& info) {
    for (const xmlNode* c : mx::elements(note)) {
        const std::string_view name = mx::nameOf(c);
        if (name == "duration") {
            const std::optional<double> value = mx::parseNumber(mx::text(c));
            info.duration = value && *value > 0 ? *value : 0.0;
        } else if (name == "voice") {
            info.voice = std::string(mx::trimmed(mx::text(c)));
        } else if (name == "grace") {
            info.grace = true;
        } else if (name == "cue") {
            info.cue = true;
        } else if (name == "rest") {
            info.rest = true;
            info.measureRest = mx::attributeIs(c, "measure", "yes");
        } else if (name == "instrument") {
            info.instrumentId = mx::attribute(c, "id").value_or("");
        }
    }
    info.staff = readStaffNumber(note);
}

void readType(const xmlNode* type, CScoreEvent& event, bool cue) {
    if (mx::attributeIs(type, "size", "cue")) event.setKind(scorecore::kKindSmall);
    if (cue && mx::attributeIs(type, "size", "full")) event.clearKind(scorecore::kKindSmall);
    event.baseText = mx::cutUtf8(mx::trimmed(mx::text(type)), kMaxTypeChars);
}

void readBeam(const xmlNode* beam, CScoreEvent& event) {
    const std::optional<std::string> number = mx::attribute(beam, "number");
    if (number && mx::trimmed(*number) != "1") return;
    const std::string word = mx::lowered(mx::trimmed(mx::text(beam)));
    if (word == "begin") event.setBeam(1);
    if (word == "continue") event.setBeam(2);
    if (word == "end") event.setBeam(4);
}

// The tie bits a "tie" or "tied" element gives.
int32_t tieBits(const xmlNode* tie) {
    const std::string type = mx::lowered(mx::trimmed(mx::attribute(tie, "type").value_or("")));
    int32_t bits = 0;
    if (type == "start" || type == "continue") bits |= scorecore::kTieStart;
    if (type == "stop" || type == "continue") bits |= scorecore::kTieEnd;
    return bits;
}

// The event keeps the ties of all its notes (a chord is drawn tied as a whole);
// the info keeps those of this note, which is what the player holds.
void readTie(const xmlNode* tie, CScoreEvent& event, CNoteInfo& info) {
    const int32_t bits = tieBits(tie);
    if (bits != 0) event.setTie(bits);
    info.tie |= bits;
}

uint8_t tupletByte(const xmlNode* parent, std::string_view name) {
    return static_cast<uint8_t>(mx::childRounded(parent, name, 0, 255).value_or(0));
}

void readAccidental(const xmlNode* accidental, CScoreEvent& event) {
    const int32_t head = event.headCount - 1;
    if (head < 0 || head >= scorecore::kMaxHeads) return;
    auto& slot = event.accidentals[static_cast<std::size_t>(head)];
    slot.shown = accidentalCode(mx::trimmed(mx::text(accidental)));
    if (mx::attributeIs(accidental, "editorial", "yes") || mx::attributeIs(accidental, "parentheses", "yes")) {
        slot.editorial = 1;
    }
}

void readNotehead(const xmlNode* notehead, CScoreEvent& event) {
    const int32_t head = event.headCount - 1;
    if (head < 0) return;
    int32_t flags = noteheadFlagsOfWord(mx::trimmed(mx::text(notehead)));
    if (const std::optional<std::string> filled = mx::attribute(notehead, "filled")) {
        flags |= mx::equalsNoCase(mx::trimmed(*filled), "no") ? 128 : 64;
    }
    if (flags != 0) event.setHeadFlags(head, flags);
}

// One child of the note; kOk or a failure that ends the read.
int readChild(const xmlNode* c, const xmlNode* note, const CReadContext& context, CScoreEvent& event,
              CNoteInfo& info) {
    const std::string_view name = mx::nameOf(c);
    if (context.spanMarksOnly && name != "notations") return kOk;
    if (name == "pitch" || name == "unpitched") {
        if (name == "unpitched") event.setKind(scorecore::kKindUnpitched);
        return readPitch(note, name == "unpitched", event);
    }
    if (name == "rest") {
        if (!info.chord) event.headCount = 0;
        event.setKind(scorecore::kKindRest);
    } else if (name == "accidental") {
        readAccidental(c, event);
    } else if (name == "stem") {
        const std::string word = mx::lowered(mx::trimmed(mx::text(c)));
        if (word == "up") event.setStem(1);
        if (word == "down") event.setStem(2);
    } else if (name == "type") {
        readType(c, event, info.cue);
    } else if (name == "dot") {
        if (event.dots < 255) ++event.dots;
    } else if (name == "beam") {
        readBeam(c, event);
    } else if (name == "notehead") {
        readNotehead(c, event);
    } else if (name == "tie") {
        readTie(c, event, info);
    } else if (name == "time-modification") {
        event.tupletCount = tupletByte(c, "actual-notes");
        event.tupletNormal = tupletByte(c, "normal-notes");
    } else if (name == "notations") {
        for (const xmlNode* tied : mx::elements(c)) {
            if (mx::nameOf(tied) == "tied") info.tie |= tieBits(tied);
        }
        return readNotations(c, context, event, info);
    } else if (name == "grace") {
        event.setKind(scorecore::kKindGrace);
        if (mx::attributeIs(c, "slash", "yes")) event.setStem(kSlashedGraceStem);
    }
    return kOk;
}

}  // namespace

int readStaffNumber(const xmlNode* parent) {
    const xmlNode* staff = mx::child(parent, "staff");
    if (staff == nullptr) return 0;
    const std::optional<double> value = mx::parseNumber(mx::text(staff));
    if (!value || *value < 1 || *value > 1000 || *value != static_cast<double>(static_cast<int32_t>(*value))) {
        return -1;
    }
    return static_cast<int32_t>(*value) - 1;
}

int readNote(const xmlNode* note, const CReadContext& context, CScoreEvent& event, CNoteInfo& info) {
    info = CNoteInfo{};
    info.chord = noteIsChord(note);
    const uint32_t sounding = scorecore::kKindNote | scorecore::kKindChord | scorecore::kKindRest;
    if (!info.chord && event.isKind(sounding)) return kNoteStartsNewEvent;
    info.headsBefore = event.headCount;
    info.hidden = noteIsHidden(note);
    readTiming(note, info);

    if (info.cue) event.setKind(scorecore::kKindCue | scorecore::kKindSmall);
    if (info.hidden && !info.rest) {
        if (context.skipsHiddenNotes() && !info.cue) return kErrNoteSkipped;
        event.setKind(scorecore::kKindInvisible);
    }
    event.setKind(info.chord ? scorecore::kKindChord : scorecore::kKindNote);
    if (!info.chord) event.dots = 0;
    if (!context.spanMarksOnly) {
        if (const int rc = readLyrics(note, event); rc != kOk) return rc;
    }
    for (const xmlNode* c : mx::elements(note)) {
        if (const int rc = readChild(c, note, context, event, info); rc != kOk) return rc;
    }

    if (info.grace) {
        if (!info.chord) event.duration = 0;
        if (info.hidden) return kErrNoteSkipped;
        return kOk;
    }
    if (info.hidden && info.duration <= 0) return kErrNoteSkipped;
    if (!info.chord) event.duration = context.ticksOf(info.duration);
    return kOk;
}

double readBackup(const xmlNode* backup) {
    const std::optional<double> value = mx::childNumber(backup, "duration");
    return value && *value > 0 ? *value : 0.0;
}

double readForward(const xmlNode* forward, int32_t& staff, std::string& voice) {
    staff = readStaffNumber(forward);
    voice = std::string(mx::trimmed(mx::childText(forward, "voice").value_or("")));
    return readBackup(forward);
}

bool noteIsCue(const xmlNode* note) { return mx::hasChild(note, "cue"); }
bool noteIsChord(const xmlNode* note) { return mx::hasChild(note, "chord"); }
bool noteIsGrace(const xmlNode* note) { return mx::hasChild(note, "grace"); }
bool noteIsRest(const xmlNode* note) { return mx::hasChild(note, "rest"); }
bool noteIsHidden(const xmlNode* note) { return mx::attributeIs(note, "print-object", "no"); }

int32_t placementCode(const xmlNode* element) { return mx::attributeIs(element, "placement", "below") ? 2 : 1; }

int32_t articulationPlacement(const xmlNode* element) {
    return mx::attributeIs(element, "placement", "above") ? 1 : 2;
}

int32_t accidentalCode(std::string_view word) {
    if (mx::equalsNoCase(word, "natural")) return 0;
    if (mx::equalsNoCase(word, "sharp")) return 1;
    if (mx::equalsNoCase(word, "double-sharp")) return 2;
    if (mx::equalsNoCase(word, "flat-flat")) return -2;
    if (mx::equalsNoCase(word, "flat")) return -1;
    return -3;
}

}  // namespace scoreconv
