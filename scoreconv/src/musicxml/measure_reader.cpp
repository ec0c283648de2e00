// The measure header and its attributes: divisions, time, key, clefs,
// transposition and measure styles.
#include "musicxml/measure_reader.h"

#include <algorithm>

#include "musicxml/note_reader.h"
#include "musicxml/xml_values.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::kErrNotPresent;
using scorecore::kOk;

namespace {

constexpr int64_t kMaxChromatic = 48;
constexpr int64_t kMaxOctaveChange = 4;
constexpr int32_t kMaxBeats = 255;

// The leading decimal number of a text ("12a" is 12); 0 when there is none.
int32_t leadingNumber(std::string_view text) {
    text = mx::trimmed(text);
    int64_t value = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) value = std::min<int64_t>(value * 10 + (text[i] - '0'), INT32_MAX);
    return static_cast<int32_t>(value);
}

// The 0-based staff a "number" attribute names: -1 when absent (all staves);
// staffCount (out of range) when it names no staff of the part.
int32_t staffAttribute(const xmlNode* element, int32_t staffCount) {
    const std::optional<std::string> number = mx::attribute(element, "number");
    if (!number) return -1;
    const std::optional<int64_t> value = mx::parseRounded(*number, 0, staffCount + 1);
    if (!value || *value < 1 || *value > staffCount) return staffCount;
    return static_cast<int32_t>(*value - 1);
}

// Beats as written: a number, or numbers joined by "+" that add up.
std::optional<int64_t> beatCount(std::string_view text) {
    int64_t sum = 0;
    while (true) {
        const std::size_t plus = text.find('+');
        const std::optional<int64_t> part = mx::parseRounded(text.substr(0, plus), -1, kMaxBeats + 1);
        if (!part || *part < 1) return std::nullopt;
        sum += *part;
        if (sum > kMaxBeats) return std::nullopt;
        if (plus == std::string_view::npos) return sum;
        text.remove_prefix(plus + 1);
    }
}

void readTranspose(const xmlNode* transpose, CPartState& state) {
    const int64_t chromatic = mx::childRounded(transpose, "chromatic", -kMaxChromatic, kMaxChromatic).value_or(0);
    const int64_t octaves = mx::childRounded(transpose, "octave-change", -kMaxOctaveChange, kMaxOctaveChange).value_or(0);
    const auto semitones = static_cast<int32_t>(chromatic + 12 * octaves);
    const int32_t staff = staffAttribute(transpose, state.staffCount);
    if (staff >= state.staffCount) return;
    for (int32_t s = 0; s < state.staffCount; ++s) {
        if (staff < 0 || s == staff) state.transposition[static_cast<std::size_t>(s)] = semitones;
    }
}

int startStyle(const xmlNode* element, int32_t kind, int32_t count, int32_t staff, const CReadContext& context,
               CMeasureStyle& style) {
    // A start inside a running region changes nothing.
    if (style.isRunning()) return kOk;
    style = CMeasureStyle{};
    style.kind = kind;
    style.count = count;
    style.staff = staff;
    style.state = CMeasureStyle::kStateRunning;
    if (context.spans != nullptr && !context.lookAhead()) {
        CSpanResult found;
        const SpanKind span = kind == CMeasureStyle::kMeasureRepeat ? SpanKind::RepeatStyle : SpanKind::SlashStyle;
        if (const int rc = context.spans->find(element, span, staff, 0, found); rc != kOk) return rc;
        if (found.found) style.span = found.span;
    }
    return kOk;
}

int readMeasureStyle(const xmlNode* measureStyle, CPartState& state, const CReadContext& context,
                     CAttributesRead& out) {
    const int32_t staff = staffAttribute(measureStyle, state.staffCount);
    if (staff >= state.staffCount) return kOk;
    for (const xmlNode* c : mx::elements(measureStyle)) {
        const std::string_view name = mx::nameOf(c);
        if (name == "multiple-rest") {
            out.multipleRest = static_cast<int32_t>(mx::parseRounded(mx::text(c), 0, INT32_MAX).value_or(0));
            continue;
        }
        int32_t kind = CMeasureStyle::kNone;
        int32_t count = 1;
        if (name == "measure-repeat") {
            kind = CMeasureStyle::kMeasureRepeat;
            count = static_cast<int32_t>(mx::parseRounded(mx::text(c), 1, kMaxRepeatCount).value_or(1));
        } else if (name == "slash" || name == "beat-repeat") {
            kind = CMeasureStyle::kSlash;
        } else {
            continue;
        }
        const std::string type = mx::lowered(mx::trimmed(mx::attribute(c, "type").value_or("")));
        if (type == "start") {
            if (const int rc = startStyle(c, kind, count, staff, context, state.style); rc != kOk) return rc;
        } else if (type == "stop") {
            state.style = CMeasureStyle{};
        }
    }
    return kOk;
}

// Without a time signature a measure's own length is its bar.
void takeOwnLength(CPartState& state, int64_t length) {
    if (length <= 0) return;
    const int32_t quarter = state.ticksPerQuarter;
    if (length % quarter != 0 || length / quarter > kMaxBeats) return;
    const auto beats = static_cast<int32_t>(length / quarter);
    if (state.meter.beats == beats && state.meter.unitIndex == 2) return;
    state.meter.init(quarter, beats, 2);
    state.meter.flag = 1;
}

}  // namespace

CPartState::CPartState(int32_t ticks, int32_t staves)
    : ticksPerQuarter(ticks > 0 ? ticks : 480),
      staffCount(std::max(staves, 0)),
      clock(ticksPerQuarter),
      clefs(static_cast<std::size_t>(staffCount)),
      transposition(static_cast<std::size_t>(staffCount), 0) {
    meter.init(ticksPerQuarter, 4, 2);
}

int readTime(const xmlNode* time, int32_t ticksPerQuarter, CMeter& meter) {
    if (time == nullptr || mx::hasChild(time, "senza-misura")) return kErrNotPresent;
    const std::optional<std::string> beatsText = mx::childText(time, "beats");
    const std::optional<std::string> typeText = mx::childText(time, "beat-type");
    if (!beatsText || !typeText) return kErrNotPresent;
    const std::optional<int64_t> beats = beatCount(*beatsText);
    const std::optional<int64_t> type = mx::parseRounded(*typeText, 0, 8192);
    if (!beats || !type) return kErrNotPresent;
    const int unit = CMeter::unitToIndex(static_cast<int>(*type));
    if (unit >= scorecore::kBeatUnitCount) return kErrNotPresent;
    meter.init(ticksPerQuarter, static_cast<int>(*beats), unit);
    meter.flag = 1;
    return kOk;
}

int readKey(const xmlNode* key, CKeySig& out) {
    if (key == nullptr) return kErrNotPresent;
    out.setFifths(static_cast<int32_t>(mx::childRounded(key, "fifths", -100, 100).value_or(0)));
    if (const std::optional<int64_t> cancel = mx::childRounded(key, "cancel", -100, 100)) {
        out.setCancel(static_cast<int32_t>(*cancel));
    }
    // Most files leave "mode" out of a major key.
    if (const std::optional<std::string> mode = mx::childText(key, "mode")) {
        out.major = mx::equalsNoCase(mx::trimmed(*mode), "major") ? 1 : 0;
    } else {
        out.major = 1;
    }
    out.changed = 1;
    return kOk;
}

void readClefs(const xmlNode* attributes, std::vector<CScoreClef>& clefs) {
    const auto count = static_cast<int32_t>(clefs.size());
    for (const xmlNode* c : mx::elements(attributes)) {
        if (mx::nameOf(c) != "clef") continue;
        int32_t staff = staffAttribute(c, count);
        if (staff < 0) staff = 0;
        if (staff >= count) continue;
        clefs[static_cast<std::size_t>(staff)] = readClef(c);
    }
}

int readAttributes(const xmlNode* attributes, CPartState& state, const CReadContext& context,
                   CAttributesRead& out) {
    out = CAttributesRead{};
    if (const std::optional<double> divisions = divisionsOf(attributes)) state.clock.setDivisions(*divisions);
    if (readTime(mx::child(attributes, "time"), state.ticksPerQuarter, state.meter) == kOk) {
        out.time = true;
        state.noTimeSignature = false;
    } else if (const xmlNode* time = mx::child(attributes, "time"); time != nullptr && mx::hasChild(time, "senza-misura")) {
        state.noTimeSignature = true;
    }
    out.key = readKey(mx::child(attributes, "key"), state.key) == kOk;
    readClefs(attributes, state.clefs);
    for (const xmlNode* c : mx::elements(attributes)) {
        const std::string_view name = mx::nameOf(c);
        if (name == "transpose") {
            readTranspose(c, state);
            out.transposition = true;
        } else if (name == "measure-style") {
            if (const int rc = readMeasureStyle(c, state, context, out); rc != kOk) return rc;
        }
    }
    return kOk;
}

int readMeasureHeader(const xmlNode* measure, bool firstOfPart, CPartState& state, const CReadContext& context,
                      CMeasureHeader& out, std::optional<std::span<const CTimingStep>> timing) {
    out = CMeasureHeader{};
    out.number = leadingNumber(mx::attribute(measure, "number").value_or(""));
    out.implicit = mx::attributeIs(measure, "implicit", "yes");
    for (const xmlNode* c : mx::elements(measure)) {
        const std::string_view name = mx::nameOf(c);
        if (name == "note" || name == "forward" || name == "backup") break;
        if (name == "attributes") {
            out.attributes = c;
            break;
        }
    }
    state.meter.flag = 0;
    state.key.changed = 0;
    CAttributesRead read;
    if (out.attributes != nullptr) {
        if (const int rc = readAttributes(out.attributes, state, context, read); rc != kOk) return rc;
    }
    out.multipleRest = read.multipleRest;
    if (firstOfPart && !read.time) {
        // No time signature yet: the measure's own length will say the beats.
        state.noTimeSignature = true;
        state.meter.init(state.ticksPerQuarter, 4, 2);
        state.meter.beats = -1;
        state.meter.flag = 1;
    }
    if (firstOfPart && !read.key) {
        state.key = CKeySig{};
        state.key.setFifths(0);
        state.key.changed = 1;
    }
    state.clock.setReach(measureReach(state.meter.ticksPerBar, state.ticksPerQuarter));
    out.length = timing ? measureLength(*timing, state.clock.divisions(), state.ticksPerQuarter, state.clock.reach())
                        : scanMeasureLength(measure, state.clock.divisions(), state.ticksPerQuarter, state.clock.reach());
    if (state.noTimeSignature) takeOwnLength(state, out.length);
    out.timeChanged = state.meter.flag != 0 && state.meter.isValid();
    out.keyChanged = state.key.changed != 0;
    return kOk;
}

}  // namespace scoreconv
