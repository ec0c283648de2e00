#include "play/play_model.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "platform/text.h"
#include "scorecore/sc_util.h"
#include "scorecore/score_event.h"

namespace scoreconv {

namespace {

using platform::toLowerAscii;

int32_t clampTo(int64_t value, int32_t low, int32_t high) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, low, high));
}

int32_t articulationRow(int32_t code) {
    scorecore::CEventArticulation articulation;
    articulation.code = code;
    return articulation.tableIndex();
}

int32_t dynamikRow(int32_t code) {
    scorecore::CEventDynamic dynamic;
    dynamic.code = code;
    return dynamic.levelIndex();
}

// Index into the dynamics rows of "f" and "p".
constexpr int32_t kRowForte = 2;
constexpr int32_t kRowPiano = 5;

}  // namespace

// --- tables -----------------------------------------------------------------------------

CArticulationRow* CArticulation::row(int32_t index) {
    if (index < 0 || index >= kRows) return nullptr;
    return &rows[static_cast<std::size_t>(index)];
}

const CArticulationRow* CArticulation::row(int32_t index) const {
    return const_cast<CArticulation*>(this)->row(index);
}

void CArticulation::copyValues(const CArticulation& from) {
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].noteCut = from.rows[i].noteCut;
        rows[i].velocity = from.rows[i].velocity;
    }
}

void CArticulation::clearPresent() {
    for (auto& r : rows) r.presentInFile = 0;
}

void copyDynamikValues(CDynamik& to, const CDynamik& from) {
    for (std::size_t i = 0; i < to.rows.size(); ++i) to.rows[i].velocity = from.rows[i].velocity;
}

void clearDynamikPresent(CDynamik& table) {
    for (auto& r : table.rows) r.presentInFile = 0;
}

void markDynamicPresent(CDynamik& table, int32_t code) {
    if (code == -1) {
        table.rows[kRowForte].presentInFile = 1;
        table.rows[kRowPiano].presentInFile = 1;
        return;
    }
    const int32_t index = dynamikRow(code);
    if (index >= 0) table.rows[static_cast<std::size_t>(index)].presentInFile = 1;
}

void markArticulationPresent(CArticulation& table, int32_t code) {
    if (CArticulationRow* r = table.row(articulationRow(code))) r->presentInFile = 1;
}

// --- words ------------------------------------------------------------------------------

int32_t noteTypeTicks(std::string_view word, int32_t dots, int32_t actual, int32_t normal,
                      int32_t ticksPerQuarter) {
    if (ticksPerQuarter < 1) return 0;
    struct Entry {
        std::string_view word;
        int64_t quarters;  // multiple of a quarter, or
        int64_t divisor;   // its fraction
    };
    static constexpr Entry kEntries[] = {
        {"breve", 8, 1}, {"whole", 4, 1},  {"half", 2, 1},   {"quarter", 1, 1},  {"eighth", 1, 2},
        {"16th", 1, 4},  {"32nd", 1, 8},   {"64th", 1, 16},  {"128th", 1, 32},   {"256th", 1, 64},
    };
    const std::string w = toLowerAscii(word);
    int64_t value = -1;
    for (const Entry& e : kEntries) {
        if (w == e.word) value = ticksPerQuarter * e.quarters / e.divisor;
    }
    if (value < 0) {
        // A plain number counts whole notes; anything else has no length.
        if (w.empty() || w.size() > 9 || !std::all_of(w.begin(), w.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return 0;
        }
        value = std::stoll(w) * 4 * ticksPerQuarter;
        if (value > std::numeric_limits<int32_t>::max()) return 0;
    }
    int64_t part = value;
    for (int32_t d = 0; d < std::min(dots, 32); ++d) {
        part /= 2;
        value += part;
    }
    if (actual > 0) {
        // Tuplet counts are bytes in the event; the clamp keeps the product in range.
        const int64_t a = std::min(actual, 65535);
        const int64_t n = std::clamp(normal, 0, 65535);
        value -= (a - n) * value / a;
    }
    if (value < 0 || value > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(value);
}

// --- instruments ------------------------------------------------------------------------

bool CStaffInstruments::addStaves(int32_t n) {
    if (n < 0) return false;
    try {
        staves_.resize(staves_.size() + static_cast<std::size_t>(n));
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

void CStaffInstruments::clear() {
    std::vector<std::vector<CMidiInstr>>().swap(staves_);
    percussionIds_ = 0;
}

const std::vector<CMidiInstr>* CStaffInstruments::staff(int32_t index) const {
    if (index < 0 || index >= staffCount()) return nullptr;
    return &staves_[static_cast<std::size_t>(index)];
}

int32_t CStaffInstruments::count(int32_t s) const {
    const auto* list = staff(s);
    return list != nullptr ? static_cast<int32_t>(list->size()) : 0;
}

CMidiInstr* CStaffInstruments::at(int32_t s, int32_t index) {
    return const_cast<CMidiInstr*>(static_cast<const CStaffInstruments*>(this)->at(s, index));
}

const CMidiInstr* CStaffInstruments::at(int32_t s, int32_t index) const {
    const auto* list = staff(s);
    if (list == nullptr || index < 0 || index >= static_cast<int32_t>(list->size())) return nullptr;
    return &(*list)[static_cast<std::size_t>(index)];
}

std::span<const CMidiInstr> CStaffInstruments::list(int32_t s) const {
    const auto* records = staff(s);
    return records != nullptr ? std::span<const CMidiInstr>(*records) : std::span<const CMidiInstr>();
}

bool CStaffInstruments::append(int32_t s, const CMidiInstr& instrument) {
    if (staff(s) == nullptr) return false;
    try {
        staves_[static_cast<std::size_t>(s)].push_back(instrument);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CStaffInstruments::remove(int32_t s, int32_t index) {
    if (at(s, index) == nullptr) return true;
    auto& records = staves_[static_cast<std::size_t>(s)];
    records.erase(records.begin() + index);
    return true;
}

bool CStaffInstruments::isPercussionStaff(int32_t s) const {
    const CMidiInstr* first = at(s, 0);
    return first != nullptr && first->hasPercNote();
}

bool CStaffInstruments::isPercussion(int32_t s, int32_t index) const {
    const CMidiInstr* record = at(s, index);
    return record != nullptr && record->hasPercNote();
}

uint8_t CStaffInstruments::nextPercussionId() {
    const int32_t id = 128 + percussionIds_;
    if (id < 255) ++percussionIds_;
    return static_cast<uint8_t>(std::min(id, 255));
}

CStaffInstruments::NewChannel CStaffInstruments::channelForNew(int32_t s, CMidiInstr& instrument) const {
    if (instrument.SrcChannel >= kChannels) instrument.SrcChannel = CMidiInstr::kUnset;
    const auto* records = staff(s);
    if (instrument.hasPercNote() || records == nullptr || instrument.SrcChannel == CMidiInstr::kUnset) {
        return NewChannel::Own;
    }
    const bool taken = std::any_of(records->begin(), records->end(),
                                   [&](const CMidiInstr& r) { return r.SrcChannel == instrument.SrcChannel; });
    if (!taken) return NewChannel::Own;
    for (const CMidiInstr& r : *records) {
        if (r.SrcProgPercId == instrument.SrcProgPercId && r.SrcChannel < kChannels) {
            instrument.SrcChannel = r.SrcChannel;
            instrument.Channel = r.SrcChannel;
            return NewChannel::Shared;
        }
    }
    std::array<int32_t, kChannels> uses{};
    for (const CMidiInstr& r : *records) {
        if (r.SrcChannel < kChannels) ++uses[r.SrcChannel];
    }
    uint8_t best = 0;
    for (uint8_t c = 1; c < kChannels; ++c) {
        if (c != kDrumChannel && uses[c] < uses[best]) best = c;
    }
    instrument.SrcChannel = best;
    instrument.Channel = best;
    return NewChannel::Own;
}

void CStaffInstruments::planChannels(bool renew) {
    std::array<int32_t, kChannels> uses{};
    uses[kDrumChannel] = 1;
    for (auto& records : staves_) {
        for (CMidiInstr& r : records) {
            if (renew || r.Channel >= kChannels) {
                r.Channel = CMidiInstr::kUnset;
            } else {
                ++uses[r.Channel];
            }
        }
    }
    for (int32_t s = 0; s < staffCount(); ++s) {
        const bool drums = isPercussionStaff(s);
        for (CMidiInstr& r : staves_[static_cast<std::size_t>(s)]) {
            if (r.Channel != CMidiInstr::kUnset) continue;
            uint8_t pick = kDrumChannel;
            if (!drums) {
                // The first free channel; else the least used one, never the drums'.
                pick = 0;
                for (uint8_t c = 0; c < kChannels; ++c) {
                    if (c != kDrumChannel && uses[c] < uses[pick]) pick = c;
                }
            }
            r.Channel = pick;
            ++uses[pick];
        }
    }
}

uint8_t CStaffInstruments::midiChannel(int32_t s, int32_t index) const {
    const CMidiInstr* record = at(s, index);
    if (record != nullptr && record->Channel < kChannels) return record->Channel;
    return isPercussionStaff(s) ? kDrumChannel : 0;
}

uint8_t CStaffInstruments::midiProgram(int32_t s, int32_t index, bool user) const {
    const CMidiInstr* record = at(s, index);
    if (record == nullptr) return 0;
    if (user && record->UserProgram <= 127) return record->UserProgram;
    return record->SrcProgPercId <= 127 ? record->SrcProgPercId : 0;
}

namespace {

// The decimal number an instrument id begins with; -1 when it begins with no digit.
int32_t leadingNumber(std::string_view id) {
    int64_t value = -1;
    for (char c : id) {
        if (c < '0' || c > '9') break;
        value = (value < 0 ? 0 : value) * 10 + (c - '0');
        if (value > 255) return -1;
    }
    return static_cast<int32_t>(value);
}

}  // namespace

uint8_t CStaffInstruments::percussionKey(int32_t s, int32_t key) const {
    const auto* records = staff(s);
    if (records == nullptr || key < 0 || key > 255) return kNoKey;
    for (const CMidiInstr& r : *records) {
        const bool match = (key & 0x80) != 0 ? r.SrcProgPercId == key : leadingNumber(r.InstrumentId) == key;
        if (match) return r.PercNote;
    }
    return kNoKey;
}

// --- tracks -----------------------------------------------------------------------------

namespace {

bool ownDrumTracks(const CStaffInstruments& instruments, uint64_t conditions, int32_t staff) {
    return (conditions & kCondPercussionTracks) != 0 && instruments.isPercussionStaff(staff);
}

int32_t staffTracks(const CStaffInstruments& instruments, std::span<const int32_t> voiceCounts,
                    uint64_t conditions, int32_t staff) {
    if (ownDrumTracks(instruments, conditions, staff)) return std::max(instruments.count(staff), 1);
    return std::max(voiceCounts[static_cast<std::size_t>(staff)], 1);
}

// The first track of a staff (staff may be the count, giving the end).
int32_t firstTrack(const CStaffInstruments& instruments, std::span<const int32_t> voiceCounts,
                   uint64_t conditions, int32_t staff) {
    int32_t track = 1;
    for (int32_t s = 0; s < staff; ++s) track += staffTracks(instruments, voiceCounts, conditions, s);
    return track;
}

}  // namespace

CTrackLayout planTracks(const CStaffInstruments& instruments, std::span<const int32_t> voiceCounts,
                        uint64_t playConditions, bool metronomeTrack, bool tuneUpTrack) {
    CTrackLayout layout;
    const int32_t staves = static_cast<int32_t>(voiceCounts.size());
    layout.count = firstTrack(instruments, voiceCounts, playConditions, staves);
    layout.voiceTracks = layout.count - 1;
    if (metronomeTrack) layout.metronomeTrack = layout.count++;
    if (tuneUpTrack) layout.tuneUpTrack = layout.count++;
    return layout;
}

int32_t trackOfVoice(const CStaffInstruments& instruments, std::span<const int32_t> voiceCounts,
                     uint64_t playConditions, int32_t staff, int32_t voice) {
    if (staff < 0 || staff >= static_cast<int32_t>(voiceCounts.size())) return -1;
    if (voice < 0 || voice >= voiceCounts[static_cast<std::size_t>(staff)]) return -1;
    const int32_t base = firstTrack(instruments, voiceCounts, playConditions, staff);
    const int32_t width = staffTracks(instruments, voiceCounts, playConditions, staff);
    return base + std::min(voice, width - 1);
}

int32_t trackOfPercussionKey(const CStaffInstruments& instruments, std::span<const int32_t> voiceCounts,
                             uint64_t playConditions, int32_t staff, int32_t key) {
    if (staff < 0 || staff >= static_cast<int32_t>(voiceCounts.size())) return -1;
    if (!ownDrumTracks(instruments, playConditions, staff) || key < 0 || key > 127) return -1;
    const auto records = instruments.list(staff);
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].PercNote == key) {
            return firstTrack(instruments, voiceCounts, playConditions, staff) + static_cast<int32_t>(i);
        }
    }
    return -1;
}

// --- volumes and pans -------------------------------------------------------------------

bool CVoiceMix::resize(std::span<const int32_t> voiceCounts) {
    CVoiceTable<int32_t> volumes;
    CVoiceTable<int32_t> pans;
    std::vector<int32_t> sources;
    try {
        sources.assign(voiceCounts.size(), kDefaultVolume);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!volumes.resize(voiceCounts, kDefaultVolume) || !pans.resize(voiceCounts, kDefaultPan)) return false;
    sourceVolumes_.swap(sources);
    userVolumes_ = std::move(volumes);
    userPans_ = std::move(pans);
    return true;
}

void CVoiceMix::clear() {
    std::vector<int32_t>().swap(sourceVolumes_);
    userVolumes_.clear();
    userPans_.clear();
}

int32_t CVoiceMix::sourceVolume(int32_t staff) const {
    if (staff < 0 || staff >= static_cast<int32_t>(sourceVolumes_.size())) return kDefaultVolume;
    return sourceVolumes_[static_cast<std::size_t>(staff)];
}

void CVoiceMix::setSourceVolume(int32_t staff, int32_t volume) {
    if (staff < 0 || staff >= static_cast<int32_t>(sourceVolumes_.size())) return;
    sourceVolumes_[static_cast<std::size_t>(staff)] = std::clamp(volume, 0, 127);
}

int32_t CVoiceMix::userVolume(int32_t staff, int32_t voice) const {
    return userVolumes_.get(staff, voice, kDefaultVolume);
}

void CVoiceMix::setUserVolume(int32_t staff, int32_t voice, int32_t volume) {
    userVolumes_.set(staff, voice, std::clamp(volume, 0, 127));
}

int32_t CVoiceMix::userPan(int32_t staff, int32_t voice) const { return userPans_.get(staff, voice, kDefaultPan); }

void CVoiceMix::setUserPan(int32_t staff, int32_t voice, int32_t pan) {
    userPans_.set(staff, voice, std::clamp(pan, 0, 127));
}

// --- rules ------------------------------------------------------------------------------

int32_t applyTempoRule(int32_t value, const CTempoSettings& settings, uint64_t playConditions,
                       bool ignoreTempo, bool playTimePass) {
    if ((playConditions & kCondTempoRule) == 0) return value;
    if (ignoreTempo && !playTimePass) return value;
    if (settings.TempoMode == 0) return settings.TempoAbs == -1 ? 120 : settings.TempoAbs;
    const int64_t tempo = static_cast<int64_t>(value == -1 ? 120 : value) + settings.TempoAdd;
    return clampTo(tempo, std::min(settings.low, settings.high), std::max(settings.low, settings.high));
}

int32_t noteOnVelocity(const CArticulation& table, int32_t articulationCode, uint64_t playConditions,
                       int32_t baseVelocity) {
    // A velocity of 0 would end the note: every result stays within 1..127.
    const int32_t base = (playConditions & kCondBaseVelocity) != 0 ? std::clamp(baseVelocity, 1, 127) : 90;
    const int32_t index = articulationRow(articulationCode);
    const CArticulationRow* r = table.row(index);
    if (r == nullptr || table.ArticulationUse == 0 || (playConditions & kCondArticulations) == 0) return base;
    if (index >= CArticulation::kFirstVelocityRow && r->velocity != 0) return std::clamp<int32_t>(r->velocity, 1, 127);
    return clampTo(base + static_cast<int64_t>(base) * r->velocity / 100, 1, 127);
}

int32_t soundingLength(const CArticulation& table, int32_t articulationCode, int32_t duration, bool tiedOn,
                       uint64_t playConditions, int32_t noteShortening, int32_t timeStep) {
    if ((playConditions & kCondShorten) == 0 || tiedOn) return duration;
    int64_t length = static_cast<int64_t>(duration) * noteShortening / 100;
    const CArticulationRow* r = table.row(articulationRow(articulationCode));
    if (r != nullptr && table.ArticulationUse != 0 && (playConditions & kCondArticulations) != 0) {
        length += length * r->noteCut / 100;
    }
    length = std::min<int64_t>(length, duration);
    return clampTo(std::max<int64_t>(length, std::max(timeStep, 1)), 0, std::numeric_limits<int32_t>::max());
}

int32_t dynamikLevel(const CDynamik& table, int32_t code) {
    const int32_t index = dynamikRow(code);
    return index >= 0 ? table.rows[static_cast<std::size_t>(index)].velocity : -1;
}

int32_t dynamicVoiceLevel(const CDynamik& table, int32_t code, int32_t volume, int32_t lastVolume) {
    const auto scaled = [volume](int32_t level) {
        return clampTo(static_cast<int64_t>(level) * volume / kDefaultVolume, 0, 127);
    };
    const int32_t last = std::clamp(lastVolume, 0, 127);
    if (code > 0) {
        const int32_t level = dynamikLevel(table, code);
        return scaled(level >= 0 ? level : code);
    }
    switch (code) {
    case -1: return scaled(table.rows[kRowForte].velocity);
    case -2:
    case -3:
    case -4: return std::min(scorecore::scDivRound(last * 3, 2), 127);
    case -5: return std::min(last * 2, 127);
    case -6: return std::max(last / 2, 10);
    case -7: return std::max(scorecore::scDivRound(last * 2, 3), 10);
    default: return -1;
    }
}

}  // namespace scoreconv
