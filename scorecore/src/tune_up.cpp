#include "scorecore/tune_up.h"

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

#include "scorecore/result_codes.h"
#include "scorecore/sc_util.h"

namespace scorecore {

namespace {

constexpr int32_t kMaxNoteGroups = 65536;
constexpr int32_t kTypeFirstNotes = 1;
constexpr int32_t kTypeChord = 2;
constexpr int32_t kMaxOctave = 10;
constexpr int32_t kStepsPerOctave = 7;
constexpr int32_t kStepOfMiddleC = 5 * kStepsPerOctave;  // C of octave 5, key 60

struct Spelling {
    int8_t step;   // 0 C .. 6 B
    int8_t alter;  // semitones
};

// Each semitone above C spelled once: with sharps for major chords, with flats for
// minor ones.
constexpr Spelling kSharpSpelling[12] = {{0, 0}, {0, 1}, {1, 0}, {1, 1}, {2, 0}, {3, 0},
                                         {3, 1}, {4, 0}, {4, 1}, {5, 0}, {5, 1}, {6, 0}};
constexpr Spelling kFlatSpelling[12] = {{0, 0}, {1, -1}, {1, 0}, {2, -1}, {2, 0}, {3, 0},
                                        {4, -1}, {4, 0}, {5, -1}, {5, 0}, {6, -1}, {6, 0}};
constexpr int32_t kStepSemitones[7] = {0, 2, 4, 5, 7, 9, 11};

int32_t saturate(int64_t value) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

uint8_t clampKey(int64_t key) { return static_cast<uint8_t>(std::clamp<int64_t>(key, 0, 127)); }

// A note-on slot of an event: status | key << 8 | velocity << 16.
uint32_t noteOnSlot(int32_t channel, uint8_t key) {
    const auto status = static_cast<uint32_t>(0x90 | std::clamp(channel, 0, 15));
    return status | static_cast<uint32_t>(key) << 8 | static_cast<uint32_t>(kTuneUpSlotVelocity) << 16;
}

// Ticks of ms milliseconds at the tune-up resolution.
int32_t msToTicks(double ms, int32_t tempo) { return scRound(scMsToTicks(ms, kTuneUpTicksPerQuarter, tempo)); }

// MIDI key of a step counted from C of octave 5.
int32_t keyOfStep(int32_t step, int32_t alter) {
    const int32_t octave = step >= 0 ? step / kStepsPerOctave : -((-step + kStepsPerOctave - 1) / kStepsPerOctave);
    return 60 + 12 * octave + kStepSemitones[step - octave * kStepsPerOctave] + alter;
}

// Parses one key token: a decimal number in -2^31..2^32-1.
bool parseKey(std::string_view token, int32_t& key) {
    int64_t value = 0;
    const char* end = token.data() + token.size();
    const auto [ptr, ec] = std::from_chars(token.data(), end, value);
    if (ec != std::errc{} || ptr != end) return false;
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<uint32_t>::max()) return false;
    key = static_cast<int32_t>(static_cast<uint32_t>(value));
    return true;
}

int64_t expectedItems(int32_t type, int32_t notes, bool broken, bool sounding) {
    if (type == kTypeChord) return broken && sounding ? 17 : 7;
    if (notes <= 0) return 0;
    const int64_t n = notes;
    if (!broken) return 5 * n;
    return sounding ? 6 * n - 1 : 7 * n - 2;
}

}  // namespace

CEinstimmung::CEinstimmung(int32_t ticksPerQuarterValue) : ticksPerQuarter(ticksPerQuarterValue) {
    const int64_t tpq = std::max(ticksPerQuarterValue, 0);
    arpeggioTicks = {saturate(tpq / 2), saturate(tpq), saturate(2 * tpq)};
}

bool CEinstimmung::needsOwnTrack() const {
    if (Type == kTypeChord) return true;
    return Type != 0 && Instrument >= 0;
}

bool CEinstimmung::addSelectedVoice(int32_t key) {
    if (std::find(voices.begin(), voices.end(), key) != voices.end()) return true;
    try {
        voices.push_back(key);
    } catch (const std::bad_alloc&) {
        return false;
    }
    FirstNotesVoiceNum = static_cast<int32_t>(voices.size());
    return true;
}

void CEinstimmung::deleteVoiceList() {
    std::vector<int32_t>().swap(voices);
    FirstNotesVoiceNum = 0;
}

bool CEinstimmung::firstNotesVoicesSelected() const { return !(Type == kTypeFirstNotes && voices.empty()); }

int CEinstimmung::buildVoicesFromString(std::string_view text, int32_t n) {
    deleteVoiceList();
    constexpr std::string_view kBlanks = " \t";
    const std::size_t limit = n < 0 ? std::numeric_limits<std::size_t>::max() : static_cast<std::size_t>(n);
    int result = kOk;
    std::size_t pos = 0;
    try {
        while (voices.size() < limit) {
            pos = text.find_first_not_of(kBlanks, pos);
            if (pos == std::string_view::npos) break;
            const std::size_t end = std::min(text.find_first_of(kBlanks, pos), text.size());
            int32_t key = 0;
            if (!parseKey(text.substr(pos, end - pos), key)) {
                result = kErrUnknownFormat;
                break;
            }
            voices.push_back(key);
            pos = end;
        }
    } catch (const std::bad_alloc&) {
        result = kErrOutOfMemory;
    }
    FirstNotesVoiceNum = static_cast<int32_t>(voices.size());
    return result;
}

const char* CEinstimmung::createVoicesString() {
    voicesText.clear();
    if (voices.empty()) return nullptr;
    try {
        for (std::size_t i = 0; i < voices.size(); ++i) {
            if (i > 0) voicesText += ' ';
            voicesText += std::to_string(voices[i]);
        }
    } catch (const std::bad_alloc&) {
        voicesText.clear();
        return nullptr;
    }
    return voicesText.c_str();
}

int32_t CEinstimmung::getFirstNotesStaffVoice(int32_t index, int32_t* staff, int32_t* voice) const {
    if (index < 0 || static_cast<std::size_t>(index) >= voices.size()) {
        if (staff) *staff = -1;
        if (voice) *voice = -1;
        return -1;
    }
    const int32_t key = voices[static_cast<std::size_t>(index)];
    const auto bits = static_cast<uint32_t>(key);
    if (staff) *staff = static_cast<int32_t>(bits & 0xFFFF);
    if (voice) *voice = static_cast<int32_t>(bits >> 16);
    return key;
}

bool CEinstimmung::createChord(std::vector<CScoreEvent>& events, int32_t& count, int32_t transpose) const {
    count = 0;
    const int64_t root = 12 * std::clamp(ChordOctave, 0, kMaxOctave) + std::clamp(ChordGrundton, 0, 11);
    const int64_t keys[3] = {root, root + (ChordDurMoll != 0 ? 4 : 3), root + 7};
    try {
        std::vector<CScoreEvent> chord(3);
        for (std::size_t i = 0; i < 3; ++i) {
            const uint8_t key = clampKey(keys[i] + transpose);
            chord[i].setKind(kKindNote);
            chord[i].headCount = 1;
            chord[i].midi[0] = noteOnSlot(0, key);
        }
        events = std::move(chord);
    } catch (const std::bad_alloc&) {
        return false;
    }
    count = 3;
    return true;
}

int32_t CEinstimmung::getFirstNotesNote(std::vector<CScoreEvent>& events, int32_t& count, int32_t heads,
                                        const CScoreEvent& source, int32_t channel, int32_t transposeA,
                                        int32_t transposeB, int32_t staff, int32_t voice) const {
    if (count <= 0) {
        try {
            events.assign(voices.size(), CScoreEvent{});
        } catch (const std::bad_alloc&) {
            return -1;
        }
        count = 0;
    }
    const std::size_t slots = std::min(voices.size(), events.size());
    if (static_cast<std::size_t>(count) >= slots) return -1;
    const auto filled = static_cast<std::size_t>(count);
    const std::size_t slot = FirstNotesFromTop ? filled : slots - 1 - filled;

    const int32_t available = std::clamp(source.headCount, 0, kMaxHeads);
    const int32_t taken = heads < 0 ? available : std::min(heads, available);
    CScoreEvent note;
    note.setKind(kKindNote);
    note.headCount = taken;
    for (int32_t h = 0; h < taken; ++h) {
        const auto i = static_cast<std::size_t>(h);
        const auto sourceKey = static_cast<uint8_t>(source.midi[i] >> 8);
        const uint8_t key =
            (sourceKey & 0x80) ? sourceKey : clampKey(int64_t{sourceKey} + transposeA + int64_t{transposeB});
        note.midi[i] = noteOnSlot(channel, key);
    }
    note.introStaff = staff;
    note.introVoice = voice;
    events[slot] = std::move(note);
    ++count;
    return static_cast<int32_t>(slot);
}

int32_t CEinstimmung::tempoIndex() const {
    if (Tempo == 1) return 0;
    if (Tempo == 2) return 1;
    return 2;
}

int32_t CEinstimmung::getZerlegtTime() const {
    static constexpr int32_t kStepMs[3] = {500, 1000, 1500};
    return kStepMs[tempoIndex()];
}

int32_t CEinstimmung::getZerlegtTicks() const { return arpeggioTicks[static_cast<std::size_t>(tempoIndex())]; }

uint8_t CEinstimmung::velocity() const { return std::min<uint8_t>(Volume, 127); }

std::vector<int32_t> CEinstimmung::makeTiming(bool chord, int32_t notes, int32_t tempo) const {
    const double step = getZerlegtTime();
    const int32_t single = msToTicks(Zerlegt ? step : std::max(Duration, 0), tempo);
    if (chord) {
        if (brokenSounding()) return {msToTicks(3 * step, tempo), msToTicks(2 * step, tempo), msToTicks(step, tempo)};
        return {single};
    }
    if (notes <= 0) return {};
    if (!brokenSounding()) return {single};
    std::vector<int32_t> timing(static_cast<std::size_t>(notes));
    for (int32_t i = 0; i < notes; ++i)
        timing[static_cast<std::size_t>(i)] = msToTicks(static_cast<double>(notes - i) * step, tempo);
    return timing;
}

bool CEinstimmung::buildEvents(int32_t notes, int32_t tempo) {
    if (notes > kMaxNoteGroups) return false;
    try {
        std::vector<int32_t> timing = makeTiming(Type == kTypeChord, notes, tempo);
        std::vector<CPlayerItem> items;
        items.reserve(static_cast<std::size_t>(expectedItems(Type, notes, Zerlegt != 0, Sounding != 0)));
        timingList = std::move(timing);
        eventList = std::move(items);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    playState = {0, 0, 0};
    lastIndex = -1;
    noteGroups_ = Type == kTypeChord ? 0 : std::max(notes, 0);
    lanesAppended_ = 0;
    return true;
}

bool CEinstimmung::buildChordItems(int32_t tempo) {
    try {
        timingList = makeTiming(true, 1, tempo);
        writeChordLanes();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CEinstimmung::writeChordLanes() {
    const bool sounding = brokenSounding();
    const int32_t root = std::clamp(ChordGrundton, 0, 11);
    const bool major = ChordDurMoll != 0;
    const Spelling* table = major ? kSharpSpelling : kFlatSpelling;
    const int32_t semitones[3] = {root, (root + (major ? 4 : 3)) % 12, (root + 7) % 12};
    const int32_t shift = std::clamp(ChordOctave, 0, kMaxOctave) * kStepsPerOctave - kStepOfMiddleC;
    const int32_t rootStep = table[root].step;
    const uint8_t vel = velocity();

    std::array<CPlayerItem, 3> held;
    std::array<CPlayerItem, 3> timed;
    for (std::size_t i = 0; i < 3; ++i) {
        const Spelling s = table[semitones[i]];
        int32_t step = s.step + (s.step < rootStep ? kStepsPerOctave : 0) + shift;
        while (keyOfStep(step, s.alter) > 127) step -= kStepsPerOctave;  // top octave: keep keys playable
        const auto stepByte = static_cast<uint8_t>(static_cast<int8_t>(step));
        const auto alterByte = static_cast<uint8_t>(s.alter);
        held[i] = makeNoteItem(kNoteHeld | kNoteSpelled, vel, vel, stepByte, kNoteLengthQuarter, alterByte, 0);
        timed[i] = makeNoteItem(kNoteTimed | kNoteSpelled, vel, vel, stepByte, kNoteLengthQuarter, alterByte,
                                timingList[0]);
    }

    std::vector<CPlayerItem> items;
    items.reserve(sounding ? 17 : 7);
    if (sounding) {
        for (std::size_t i = 0; i < 3; ++i) {
            items.push_back(makeMarkerItem(kMarkerTuneUp, 0));
            items.push_back(makeAnchorItem());
            if (i > 0) items.push_back(makeRestItem(timingList[0] - timingList[i]));
            items.push_back(held[i]);
            items.push_back(makeRestItem(timingList[i]));
            items.push_back(makeEndItem());
        }
    } else {
        items.push_back(makeMarkerItem(kMarkerTuneUp, 0));
        items.push_back(makeAnchorItem());
        if (Zerlegt) {
            items.insert(items.end(), {timed[0], timed[1], held[2]});
        } else {
            items.insert(items.end(), held.begin(), held.end());
        }
        items.push_back(makeRestItem(timingList[0]));
        items.push_back(makeEndItem());
    }
    eventList = std::move(items);
}

bool CEinstimmung::appendNoteItems(const CScoreEvent& firstNote) {
    const int32_t heads = std::clamp(firstNote.headCount, 0, kMaxHeads);
    if (heads == 0) return true;
    const int32_t lane = lanesAppended_;
    if (lane >= noteGroups_) return false;
    const bool broken = Zerlegt != 0;
    const bool sounding = brokenSounding();
    if (timingList.size() < (sounding ? static_cast<std::size_t>(noteGroups_) : 1u)) return false;

    const int64_t first = timingList[0];
    const int64_t lead = !broken ? 0 : sounding ? first - timingList[static_cast<std::size_t>(lane)] : lane * first;
    const int32_t hold = sounding ? timingList[static_cast<std::size_t>(lane)] : timingList[0];
    const bool release = broken && !sounding && lane < noteGroups_ - 1;
    const uint8_t vel = velocity();
    auto keyOf = [&](int32_t h) { return static_cast<uint8_t>(firstNote.midi[static_cast<std::size_t>(h)] >> 8); };

    try {
        std::vector<CPlayerItem> items;
        items.reserve(static_cast<std::size_t>(5 + 2 * heads));
        items.push_back(makeMarkerItem(kMarkerTuneUp, 0));
        items.push_back(makeAnchorItem());
        if (broken && lane > 0) items.push_back(makeRestItem(saturate(lead)));
        for (int32_t h = 0; h < heads; ++h)
            items.push_back(makeNoteItem(kNoteHeld | kNotePlain, vel, vel, keyOf(h), kNoteLengthQuarter, 0, 0));
        items.push_back(makeRestItem(hold));
        if (release) {
            const int32_t rest = saturate((noteGroups_ - 1 - lane) * first);
            for (int32_t h = 0; h < heads; ++h)
                items.push_back(makeNoteOffItem(keyOf(h), 0, h + 1 == heads ? rest : 0));
        }
        items.push_back(makeEndItem());
        eventList.insert(eventList.end(), items.begin(), items.end());
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    ++lanesAppended_;
    return true;
}

void CEinstimmung::clear() {
    std::string().swap(voicesText);
    std::vector<CPlayerItem>().swap(eventList);
    std::vector<int32_t>().swap(timingList);
    deleteVoiceList();
    noteGroups_ = 0;
    lanesAppended_ = 0;
}

void CEinstimmung::setPlayParams(const std::array<int32_t, 7>* params) {
    if (params) {
        PlayParams = *params;
    } else {
        PlayParams.fill(0);
    }
}

void einClearVoices(CEinstimmung& record) { record.deleteVoiceList(); }

bool einAddVoice(CEinstimmung& record, int32_t key) {
    try {
        record.voices.push_back(key);
    } catch (const std::bad_alloc&) {
        return false;
    }
    record.FirstNotesVoiceNum = static_cast<int32_t>(record.voices.size());
    return true;
}

}  // namespace scorecore
