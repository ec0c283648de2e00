// The TvrXML writer's objects of a voice: signs, barlines, chords and rests with
// their durations. A score has hundreds of thousands of them, so they are
// written as text into the voice at once (XmlTextOut), never built as elements.
#include "scorecore/vxml_writer.h"

#include "scorecore/result_codes.h"
#include "scorecore/tvrxml_vocab.h"
#include "scorecore/vxml_file.h"
#include "scorecore/xml_text.h"
#include "vxml_build.h"
#include "vxml_objects.h"

#include <algorithm>
#include <array>
#include <limits>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>

namespace scorecore {

namespace {

using namespace vxmlbuild::depth;

// A rest longer than this many of the longest note values is cut there; no score
// holds such a rest, but a file may claim one.
constexpr int kMaxRestPieces = 1024;

// Note values from the longest; their bases and ticks come from the vocabulary, so
// that what is written reads back through the same table.
constexpr std::array<std::string_view, 11> kTypeNames = {
    "long", "breve", "whole", "half", "quarter", "eighth", "16th", "32nd", "64th", "128th", "256th",
};
constexpr std::string_view kShortestBase = "1/256";

// One object written into a voice: what it wrote is taken back unless it ends
// well, and once something is written it is the voice's last object.
class ObjectScope {
public:
    ObjectScope(CVxmlVoice& voice, XmlCharset charset)
        : voice_(voice), start_(voice.objectsText.size()), out_(voice.objectsText, charset) {}
    ~ObjectScope() {
        if (!done_) voice_.objectsText.resize(start_);
    }
    ObjectScope(const ObjectScope&) = delete;
    ObjectScope& operator=(const ObjectScope&) = delete;

    XmlTextOut& out() { return out_; }
    std::size_t start() const { return start_; }
    int finish(int rc) {
        if (rc != kOk) return rc;
        done_ = true;
        if (voice_.objectsText.size() != start_) voice_.repEndAt = std::string::npos;
        return kOk;
    }

private:
    CVxmlVoice& voice_;
    std::size_t start_;
    XmlTextOut out_;
    bool done_ = false;
};

// The writer's operations answer a code; running out of memory is one of them.
template <typename Body>
int guarded(Body&& body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    } catch (const std::length_error&) {
        return kErrOutOfMemory;
    }
}

// A sign of one attribute after the indentation of a note object.
int writeSign(CVxmlVoice& voice, XmlCharset charset, std::string_view name, std::string_view attribute,
              std::string_view value) {
    ObjectScope scope(voice, charset);
    scope.out().open(name, kDepthNoteObject).attr(attribute, value).close();
    return scope.finish(kOk);
}

// --- durations ------------------------------------------------------------------------

struct DurationChoice {
    std::string base;
    int dots = 0;
    int ticks = 0;  // what the written duration stands for; 0 when it cannot be counted
};

bool isTripartite(const CScoreEvent& event) {
    return event.tupletNormal > 0 && event.tupletNormal % 3 == 0;
}
bool isProlong(const CScoreEvent& event) { return event.tupletCount < event.tupletNormal; }

// Whether a base with dots in a tuplet of actual over normal notes reads back as
// target ticks, with either of the reader's roundings.
bool readsBack(std::string_view base, int dots, int actual, int normal, int target) {
    for (const bool truncate : {false, true}) {
        TupletRounding rounding{truncate};
        const NoteDurationText text{base, dots, actual, normal, false};
        if (noteDurationTicks(text, CMeter{}, rounding) == target) return true;
    }
    return false;
}

// The note value (with the given dots, else none) that reads back as the ticks.
std::optional<DurationChoice> exactValue(int ticks, int dots, int actual, int normal) {
    for (const int d : {dots, 0}) {
        for (const std::string_view type : kTypeNames) {
            const std::string base = noteBaseText(type);
            if (readsBack(base, d, actual, normal, ticks)) return DurationChoice{base, d, ticks};
        }
    }
    return std::nullopt;
}

// A duration derived from the ticks alone: an exact value, else the longest that
// fits (the rest of a rest follows in further pieces), else the shortest, which then
// counts nothing.
DurationChoice valueForTicks(int ticks, int dots, int actual, int normal) {
    if (auto exact = exactValue(ticks, dots, actual, normal)) return *exact;
    for (const std::string_view type : kTypeNames) {
        const std::string base = noteBaseText(type);
        TupletRounding rounding;
        const int fits = noteDurationTicks({base, 0, actual, normal, false}, CMeter{}, rounding);
        if (fits >= 1 && fits <= ticks) return DurationChoice{base, 0, fits};
    }
    return DurationChoice{std::string(kShortestBase), 0, 0};
}

bool isWrittenBase(std::string_view text) {
    return std::any_of(kTypeNames.begin(), kTypeNames.end(),
                       [text](std::string_view type) { return noteBaseText(type) == text; });
}

// The written duration of an event that lasts `duration` ticks (a piece of a
// rest lasts less than the whole).
DurationChoice chooseDuration(const CScoreEvent& event, int duration) {
    const std::string& type = event.baseText;
    const int actual = event.tupletCount;
    const int normal = actual > 0 ? tupletNormalCount(actual, isTripartite(event), isProlong(event)) : 0;
    if (type == "getit") return valueForTicks(duration, event.dots, actual, normal);
    std::string base = noteBaseText(type);
    if (base.empty() && isWrittenBase(type)) base = type;
    // Any other text is written as it stands, but nothing can count it.
    if (base.empty()) return DurationChoice{type, event.dots, 0};
    const bool named = base != type;
    if (actual > 0 && named && !readsBack(base, event.dots, actual, normal, duration)) {
        // The stored type and the tuplet disagree with the ticks: the ticks win, so
        // that the duration reads back as it was.
        if (auto exact = exactValue(duration, event.dots, actual, normal)) return *exact;
    }
    return DurationChoice{base, event.dots, duration};
}

// The "duration" of a chord or rest piece; *ticks gets what it stands for.
int writeDuration(XmlTextOut& out, const CScoreEvent& event, int duration, int* ticks) {
    if (event.baseText.empty()) return kErrNotPresent;
    const DurationChoice choice = chooseDuration(event, duration);
    out.open("duration", kDepthObjectChild).attr("base", choice.base);
    if (choice.dots != 0) out.attr("dots", choice.dots);
    if (event.isKind(kKindGrace)) out.attr("noDuration", "true");
    if (event.tupletCount > 0) {
        out.open("tuplet", kDepthObjectChild + 1).attr("count", event.tupletCount);
        if (isTripartite(event)) out.attr("tripartite", "true");
        if (isProlong(event)) out.attr("prolong", "true");
        out.close();
    }
    out.close();
    if (ticks != nullptr) *ticks = choice.ticks;
    return kOk;
}

// --- chords ---------------------------------------------------------------------------

void writeChordDisplay(XmlTextOut& out, const CScoreEvent& event) {
    const bool small = event.isKind(kKindGrace) || event.isKind(kKindSmall);
    const bool invisible = event.isKind(kKindInvisible);
    if (!small && !invisible && event.notationStaff == 0) return;
    out.open("display", kDepthObjectChild);
    if (small) out.attr("small", "true");
    if (invisible) out.attr("invisible", "true");
    if (event.notationStaff != 0) out.attr("notationStaff", event.notationStaff == 1 ? "up" : "down");
    out.close();
}

void writeStemAndBeam(XmlTextOut& out, const CScoreEvent& event) {
    const bool grace = event.isKind(kKindGrace);
    const bool direction = event.hasStem(1) || event.hasStem(2);
    // On a grace note bit 4 is the slash, not a tremolo.
    const std::uint32_t tremolo = event.stem & (grace ? 8u | 16u | 32u | 64u : 4u | 8u | 16u | 32u | 64u);
    if (direction || tremolo != 0) {
        out.open("stem", kDepthObjectChild);
        if (direction) out.attr("dir", event.hasStem(1) ? "up" : "down");
        if (tremolo != 0) {
            const char* bars = (tremolo & 4u) ? "1" : (tremolo & 8u) ? "2" : (tremolo & 16u) ? "3"
                             : (tremolo & 32u) ? "4" : "5";
            out.attr("tremoloBars", bars);
        }
        out.close();
    }
    if (!grace && event.beam == 0) return;
    const bool split = (grace && event.beam == 0) || (event.beam & 4) != 0;
    out.open("beam", kDepthObjectChild).attr("group", split ? "split" : "force").close();
}

void writeLyric(XmlTextOut& out, const CScoreEvent& event) {
    out.open("lyric", kDepthObjectChild);
    for (int i = 0; i < event.lyricCount(); ++i) {
        const CScoreLyric& item = event.lyrics[static_cast<std::size_t>(i)];
        out.open("verse", kDepthObjectChild + 1).attr("i", i);
        if (item.extender != 0) out.attr("extender", "true");
        if (item.number == 2 || item.number == 3) out.attr("hyphen", "true");
        out.attr("text", item.text).close();
    }
    out.close();
}

void writeHead(XmlTextOut& out, const CScoreEvent& event, int head, int fifths, std::string& pitch) {
    if (!event.getPitchTextRaised(head, pitch)) return;  // nothing to place
    out.open("head", kDepthObjectChild + 1).attr("pitch", pitch);
    std::int32_t shape = 0;
    if (event.getHeadFlags(head, shape) && shape != 0) out.attr("shape", noteheadText(shape));
    const bool altered = event.hasAlter(head);
    const AlterDisplay display =
        alterDisplay(event.accidentals[static_cast<std::size_t>(head)], altered, fifths, event.getStep(head));
    if (display != AlterDisplay::Omit && (altered || display != AlterDisplay::None)) {
        out.open("alter", kDepthObjectChild + 2);
        if (altered) out.attr("step", event.getAlterText(head));
        if (display == AlterDisplay::Force) out.attr("display", "force");
        if (display == AlterDisplay::Parenth) out.attr("display", "parenth");
        out.close();
    }
    if (event.hasTie(kTieStart) || event.hasTie(kTieEnd)) {
        out.open("tie", kDepthObjectChild + 2);
        if (event.hasTie(kTieStart)) out.attr("begin", "true");
        if (event.hasTie(kTieEnd)) out.attr("end", "true");
        out.close();
    }
    out.close();
}

void writeHeads(XmlTextOut& out, const CScoreEvent& event, int fifths) {
    out.open("heads", kDepthObjectChild);
    std::string pitch;
    const int count = std::min(event.headCount, kMaxHeads);
    for (int head = 0; head < count; ++head) writeHead(out, event, head, fifths, pitch);
    out.close();
}

// --- rests ----------------------------------------------------------------------------

void writeRestDisplay(XmlTextOut& out, const CScoreEvent& event, int bars) {
    const bool invisible = event.isKind(kKindInvisible);
    if (bars >= 1 || invisible) {
        out.open("display", kDepthObjectChild);
        if (bars >= 1) out.attr("churchStyle", bars == 1 ? "true" : "false");
        if (bars >= 2) out.attr("number", "up");
        if (invisible) out.attr("invisible", "true");
        out.close();
    }
    if (bars > 1) out.open("verticalPos", kDepthObjectChild).attr("centered", "true").close();
}

// --- the objects as text -------------------------------------------------------------

bool hasProp(int convProps, int bit) { return (convProps & bit) != 0; }

int writeChord(CVxmlVoice& voice, XmlCharset charset, int convProps, int key, const CScoreClef* clef,
               const CScoreEvent& event) {
    return guarded([&] {
        ObjectScope scope(voice, charset);
        XmlTextOut& out = scope.out();
        out.open("chord", kDepthNoteObject);
        int rc = writeDuration(out, event, event.duration, nullptr);
        if (rc != kOk) return rc;
        writeChordDisplay(out, event);
        writeStemAndBeam(out, event);
        if (hasProp(convProps, kConvArticulations) && event.articulation.code != 0) {
            const std::string_view type = articulationText(event.articulation.code);
            if (!type.empty()) out.open("articulation", kDepthObjectChild).attr("type", type).close();
        }
        if (hasProp(convProps, kConvLyrics) && event.lyricCount() > 0) writeLyric(out, event);
        rc = writeDrawObjects(out, event, clef, convProps);
        if (rc != kOk) return rc;
        writeHeads(out, event, key);
        out.close();
        return scope.finish(kOk);
    });
}

int writeRest(CVxmlVoice& voice, XmlCharset charset, int convProps, const CScoreClef* clef,
              const CScoreEvent& event) {
    const int bars = noteTypeBars(event.baseText);
    return guarded([&] {
        // Each piece covers at least one tick or ends the loop, and the pieces are
        // counted, so no duration can keep it going.
        int left = event.duration;
        for (int pieces = 0; left >= 1; ++pieces) {
            if (pieces == kMaxRestPieces) return kErrNotPresent;
            ObjectScope scope(voice, charset);
            XmlTextOut& out = scope.out();
            out.open("rest", kDepthNoteObject);
            int ticks = 0;
            int rc = writeDuration(out, event, left, &ticks);
            if (rc != kOk) return rc;  // a rest without a duration cannot be read
            writeRestDisplay(out, event, bars);
            // The marks belong to the rest once, not to every piece of it.
            if (pieces == 0) rc = writeDrawObjects(out, event, clef, convProps);
            if (rc != kOk) return rc;
            out.close();
            scope.finish(kOk);
            if (ticks < 1) return kErrNotPresent;
            left -= ticks;
        }
        return kOk;
    });
}

int writeBarline(CVxmlVoice& voice, XmlCharset charset, std::string_view type) {
    return guarded([&] {
        if (type == "repBegin" && voice.repEndAt != std::string::npos) {
            // A repeat that ends and begins again at the same barline is one
            // barline; the ending one's indentation stays.
            std::string& text = voice.objectsText;
            text.resize(voice.repEndAt);
            XmlTextOut(text, charset).open("barline", kDepthNoteObject, false).attr("type", "repEndBegin").close();
            voice.repEndAt = std::string::npos;
            return kOk;
        }
        ObjectScope scope(voice, charset);
        scope.out().open("barline", kDepthNoteObject).attr("type", type).close();
        const int rc = scope.finish(kOk);
        if (type == "repEnd") voice.repEndAt = voice.objectsText.find('<', scope.start());
        return rc;
    });
}

}  // namespace

int writePendingObject(CVxmlVoice& voice, const CVxmlPendingObject& object) {
    const int convProps = object.convProps;
    const auto charset = static_cast<XmlCharset>(object.charset);
    const CScoreClef* clef = object.clef ? &*object.clef : nullptr;
    switch (object.kind) {
        case CVxmlPendingObject::Kind::Chord:
            return writeChord(voice, charset, convProps, object.key, clef, object.event);
        case CVxmlPendingObject::Kind::Rest: {
            const int rc = writeRest(voice, charset, convProps, clef, object.event);
            return rc == kErrNotPresent ? kOk : rc;
        }
        case CVxmlPendingObject::Kind::Sign:
            return guarded([&] {
                return writeSign(voice, charset, object.signName, object.signAttribute, object.signValue);
            });
        case CVxmlPendingObject::Kind::Barline: return writeBarline(voice, charset, barlineText(object.code));
    }
    return kOk;
}

std::int32_t tupletNormalCount(std::int32_t count, bool tripartite, bool prolong) {
    if (count < 1) return 0;
    std::int64_t below = 0;
    std::int64_t value = tripartite ? 3 : 1;
    while (value < count) {
        below = value;
        value *= 2;
    }
    const std::int64_t above = value > count ? value : value * 2;
    const std::int64_t normal = prolong || below == 0 ? above : below;
    return static_cast<std::int32_t>(std::min<std::int64_t>(normal, std::numeric_limits<std::int32_t>::max()));
}

namespace {

// The event into a recorded object: moved when the caller gave it up.
void takeEvent(CVxmlPendingObject& object, const CScoreEvent& event, CScoreEvent* owned) {
    if (owned != nullptr) {
        object.event = std::move(*owned);
    } else {
        object.event = event;
    }
}

}  // namespace

template <typename Fill>
int CVxmlFile::record(CVxmlVoice& voice, CVxmlPendingObject::Kind kind, Fill&& fill) {
    // A voice holds a few hundred objects of a part: its list starts at a size
    // that spares it the first small steps of growing.
    constexpr std::size_t kFirstObjects = 64;
    std::vector<CVxmlPendingObject>& pending = voice.pending;
    return guarded([&] {
        if (pending.capacity() == 0) pending.reserve(kFirstObjects);
        CVxmlPendingObject& object = pending.emplace_back();
        object.kind = kind;
        object.charset = static_cast<std::uint8_t>(objectsCharset_);
        object.convProps = convProps;
        try {
            fill(object);
        } catch (...) {
            pending.pop_back();
            throw;
        }
        return kOk;
    });
}

// --- signs ----------------------------------------------------------------------------

int CVxmlFile::appendClefSign(const CScoreClef& clef, bool force) {
    CDomNodeItem* staff = staffAt(-1, -1);
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (staff == nullptr || voice == nullptr || voice->noteObjectsNode == nullptr || voice->sealed) return kErrIndex;
    const auto given = [](const CScoreClef& c) { return c.kind == 3 || c.line != 0; };
    CScoreClef sign = clef;
    if (!given(sign)) {
        if (!force) return kOk;
        const CDomNodeItem* previous = curSystem > 0 ? staffAt(curSystem - 1, curStaff) : nullptr;
        if (previous == nullptr || !given(previous->clef)) return kOk;  // no clef known yet
        sign = previous->clef;
    }
    if (!force && sign.sameAs(staff->clef)) return kOk;
    return guarded([&] {
        std::string text = clefText(sign);
        if (text.empty()) return kOk;
        const int rc = appendSign(*voice, "clefSign", "clef", std::move(text));
        if (rc == kOk) staff->clef = sign;
        return rc;
    });
}

int CVxmlFile::appendKeySign(int key, bool force) {
    CDomNodeItem* staff = staffAt(-1, -1);
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (staff == nullptr || voice == nullptr || voice->noteObjectsNode == nullptr || voice->sealed) return kErrIndex;
    std::int8_t fifths = CKeySig::clampFifths(key);
    const CDomNodeItem* previous = curSystem > 0 ? staffAt(curSystem - 1, curStaff) : nullptr;
    if (force) {
        if (fifths == CKeySig::kUnset) fifths = previous != nullptr ? previous->key : 0;
        // C major needs no sign at a system's start, unless it cancels the key before.
        if (fifths == 0 && (previous == nullptr || previous->key == 0)) return kOk;
    } else if (fifths == CKeySig::kUnset || fifths == staff->key) {
        return kOk;
    }
    const int rc = guarded([&] { return appendSign(*voice, "keySign", "fifths", std::to_string(fifths)); });
    // Every voice gets the sign; the staff's key changes once the last one has it.
    if (rc == kOk && curVoice == staff->voiceCount() - 1) staff->key = fifths;
    return rc;
}

int CVxmlFile::appendTimeSign(const CMeter* timeSig) {
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (voice == nullptr || voice->noteObjectsNode == nullptr || voice->sealed) return kErrIndex;
    return guarded([&] {
        std::string text = timeSig != nullptr ? timeText(*timeSig) : std::string();
        return text.empty() ? kOk : appendSign(*voice, "timeSign", "time", std::move(text));
    });
}

int CVxmlFile::appendBarline(int code) {
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (voice == nullptr || voice->noteObjectsNode == nullptr || voice->sealed) return kErrIndex;
    const std::string_view type = barlineText(code);
    if (type.empty()) return kOk;
    if (defersObjects()) {
        return record(*voice, CVxmlPendingObject::Kind::Barline, [code](CVxmlPendingObject& object) { object.code = code; });
    }
    return writeBarline(*voice, objectsCharset_, type);
}

int CVxmlFile::appendChord(const CScoreEvent& event) { return appendChordFrom(event, nullptr); }
int CVxmlFile::appendChord(CScoreEvent&& event) { return appendChordFrom(event, &event); }
int CVxmlFile::appendRest(const CScoreEvent& event) { return appendRestFrom(event, nullptr); }
int CVxmlFile::appendRest(CScoreEvent&& event) { return appendRestFrom(event, &event); }

int CVxmlFile::appendChordFrom(const CScoreEvent& event, CScoreEvent* owned) {
    const CDomNodeItem* staff = staffAt(-1, -1);
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (staff == nullptr || voice == nullptr || voice->noteObjectsNode == nullptr || voice->sealed) return kErrIndex;
    if (event.headCount <= 0 || event.baseText.empty()) return kOk;
    if (defersObjects()) {
        return record(*voice, CVxmlPendingObject::Kind::Chord, [&](CVxmlPendingObject& object) {
            object.key = staff->key;
            object.clef = staff->clef;
            takeEvent(object, event, owned);
        });
    }
    return writeChord(*voice, objectsCharset_, convProps, staff->key, &staff->clef, event);
}

int CVxmlFile::appendRestFrom(const CScoreEvent& event, CScoreEvent* owned) {
    CVxmlVoice* voice = voiceAt(-1, -1, -1);
    if (voice == nullptr || voice->noteObjectsNode == nullptr || voice->sealed) return kErrIndex;
    // A rest's duration comes from its type and ticks alone, so that the event
    // itself stands for each of its pieces.
    if (event.headCount <= 0 && !event.isKind(kKindRest)) return event.duration >= 1 ? kErrNotPresent : kOk;
    const CDomNodeItem* staff = staffAt(-1, -1);
    if (defersObjects()) {
        return record(*voice, CVxmlPendingObject::Kind::Rest, [&](CVxmlPendingObject& object) {
            if (staff != nullptr) object.clef = staff->clef;
            takeEvent(object, event, owned);
        });
    }
    return writeRest(*voice, objectsCharset_, convProps, staff != nullptr ? &staff->clef : nullptr, event);
}

int CVxmlFile::appendSign(CVxmlVoice& voice, std::string_view name, std::string_view attribute, std::string value) {
    if (!defersObjects()) return writeSign(voice, objectsCharset_, name, attribute, value);
    return record(voice, CVxmlPendingObject::Kind::Sign, [&](CVxmlPendingObject& object) {
        object.signName = name;
        object.signAttribute = attribute;
        object.signValue = std::move(value);
    });
}

}  // namespace scorecore
