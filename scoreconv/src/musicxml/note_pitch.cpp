// Pitch and duration: the pitch reader and the measure-length scan.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "musicxml/note_reader.h"
#include "musicxml/xml_values.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::kErrDom;
using scorecore::kErrOutOfMemory;
using scorecore::kOk;

namespace {

// Alterations beyond a few semitones are no pitch anyone writes; they are kept
// within this range so that the key arithmetic stays small.
constexpr int64_t kMaxAlter = 9;
constexpr int64_t kLowestOctave = -1;
constexpr int64_t kHighestOctave = 10;
// An unpitched note without a display position sits on the middle line.
constexpr char kMiddleLineStep = 'B';
constexpr int64_t kMiddleLineOctave = 4;

// Semitone of a step letter as its place in the row "C D EF G A B"; -1 for a
// letter that is not in it.
int32_t stepSemitone(char step) {
    constexpr std::string_view row = "C D EF G A B";
    const char upper = step >= 'a' && step <= 'z' ? static_cast<char>(step - 'a' + 'A') : step;
    if (upper == ' ') return -1;
    const std::size_t at = row.find(upper);
    return at == std::string_view::npos ? -1 : static_cast<int32_t>(at);
}

struct Pitch {
    char step = 0;
    int32_t semitone = -1;
    int64_t octave = 4;
    int64_t alter = 0;
};

Pitch readPitchParts(const xmlNode* element, bool unpitched) {
    Pitch pitch;
    const std::optional<std::string> step = mx::childText(element, unpitched ? "display-step" : "step");
    const std::string_view letter = step ? mx::trimmed(*step) : std::string_view();
    if (!step && unpitched) {
        pitch.step = kMiddleLineStep;
        pitch.octave = kMiddleLineOctave;
    } else if (letter.size() == 1) {
        pitch.step = letter[0] >= 'a' && letter[0] <= 'z' ? static_cast<char>(letter[0] - 'a' + 'A') : letter[0];
    }
    pitch.semitone = pitch.step != 0 ? stepSemitone(pitch.step) : -1;
    const std::optional<int64_t> octave =
        mx::childRounded(element, unpitched ? "display-octave" : "octave", kLowestOctave, kHighestOctave);
    if (octave) pitch.octave = *octave;
    if (!unpitched) pitch.alter = mx::childRounded(element, "alter", -kMaxAlter, kMaxAlter).value_or(0);
    return pitch;
}

int32_t keyOf(const Pitch& pitch) {
    const int64_t key = pitch.octave * 12 + pitch.semitone + pitch.alter + 12;
    return static_cast<int32_t>(std::clamp<int64_t>(key, 0, 127));
}

// "+1", "-2", "**": the alteration as the event stores it, within what it can hold.
std::string alterText(int64_t alter) {
    if (alter == 0) return "**";
    const int64_t shown = std::clamp<int64_t>(alter, -2, 2);
    return std::string(1, shown > 0 ? '+' : '-') + static_cast<char>('0' + (shown > 0 ? shown : -shown));
}

}  // namespace

int readPitch(const xmlNode* note, bool unpitched, CScoreEvent& event) {
    const xmlNode* element = mx::child(note, unpitched ? "unpitched" : "pitch");
    if (element == nullptr) return kErrDom;
    const Pitch pitch = readPitchParts(element, unpitched);
    // A step that is no letter of the scale gives no head.
    if (pitch.semitone < 0) return kOk;
    const int32_t head = event.headCount;
    if (head < 0 || head >= scorecore::kMaxHeads) return kOk;  // the event is full
    const char octaveDigit = static_cast<char>('0' + std::clamp<int64_t>(pitch.octave, 0, 9));
    const std::string pitchText{pitch.step, octaveDigit};
    if (!event.appendHead(0) || !event.appendPitch(pitchText) || !event.appendAlter(alterText(pitch.alter))) {
        return kErrOutOfMemory;
    }
    event.midi[static_cast<std::size_t>(head)] = static_cast<uint32_t>(keyOf(pitch)) << 8;
    ++event.headCount;
    return kOk;
}

int32_t unpitchedDisplayKey(const xmlNode* unpitched) {
    const Pitch pitch = readPitchParts(unpitched, true);
    return pitch.semitone < 0 ? -1 : keyOf(pitch);
}

std::optional<double> divisionsOf(const xmlNode* attributes) {
    const xmlNode* divisions = mx::child(attributes, "divisions");
    if (divisions == nullptr) return std::nullopt;
    const std::optional<double> value = mx::parseNumber(mx::text(divisions));
    return value && *value > 0 ? *value : 1.0;
}

void readMeasureTiming(const xmlNode* measure, std::vector<CTimingStep>& steps) {
    using Kind = CTimingStep::Kind;
    for (const xmlNode* c : mx::elements(measure)) {
        const std::string_view name = mx::nameOf(c);
        if (name == "note") {
            // One pass over the note's children: this runs for every note of
            // every measure before the measure is read.
            bool takesTime = true;
            const xmlNode* duration = nullptr;
            for (const xmlNode* d : mx::elements(c)) {
                if (mx::nameIs(d, "chord") || mx::nameIs(d, "grace")) {
                    takesTime = false;
                    break;
                }
                if (duration == nullptr && mx::nameIs(d, "duration")) duration = d;
            }
            if (!takesTime) continue;
            const std::optional<double> length = duration != nullptr ? mx::parseNumber(mx::text(duration)) : std::nullopt;
            steps.push_back({Kind::Advance, length.value_or(0)});
        } else if (name == "backup") {
            steps.push_back({Kind::BackUp, readBackup(c)});
        } else if (name == "forward") {
            steps.push_back({Kind::Advance, readBackup(c)});
        } else if (name == "attributes") {
            if (const std::optional<double> divisions = divisionsOf(c)) steps.push_back({Kind::Divisions, *divisions});
        }
    }
}

int64_t measureLength(std::span<const CTimingStep> steps, double divisionsAtStart, int32_t ticksPerQuarter,
                      int64_t reach) {
    CMeasureClock clock(ticksPerQuarter);
    clock.setDivisions(divisionsAtStart);
    clock.setReach(reach);
    for (const CTimingStep& step : steps) {
        switch (step.kind) {
            case CTimingStep::Kind::Advance: clock.advance(step.value); break;
            case CTimingStep::Kind::BackUp: clock.backUp(step.value); break;
            case CTimingStep::Kind::Divisions: clock.setDivisions(step.value); break;
        }
    }
    return clock.furthest();
}

int64_t scanMeasureLength(const xmlNode* measure, double divisionsAtStart, int32_t ticksPerQuarter,
                          int64_t reach) {
    std::vector<CTimingStep> steps;
    readMeasureTiming(measure, steps);
    return measureLength(steps, divisionsAtStart, ticksPerQuarter, reach);
}

CPartTimings::CPartTimings(const xmlNode* part) {
    for (const xmlNode* measure : mx::elements(part)) {
        if (!mx::nameIs(measure, "measure")) continue;
        readMeasureTiming(measure, steps_);
        ends_.push_back(steps_.size());
    }
}

std::span<const CTimingStep> CPartTimings::measure(std::size_t index) const {
    if (index >= ends_.size()) return {};
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::span<const CTimingStep>(steps_).subspan(begin, ends_[index] - begin);
}

}  // namespace scoreconv
