#include "scorecore/staff_voice_states.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>

namespace scorecore {

namespace {

constexpr int kMaskVoices = 8;  // bits 0..7 of a mask byte
constexpr uint8_t kMaskMarker = 0x80;
constexpr uint8_t kMaskAllOn = 1;

}  // namespace

bool CStaffVoiceStates::create(int32_t staves, std::span<const uint8_t> voiceCounts) {
    if (staves < 1) return false;
    const auto count = static_cast<std::size_t>(staves);
    if (!voiceCounts.empty() && voiceCounts.size() < count) return false;
    try {
        std::vector<StaffRow> rows(count);
        for (std::size_t s = 0; s < count; ++s) {
            const uint8_t voices = voiceCounts.empty() ? 0 : voiceCounts[s];
            if (voices == 0) continue;  // stays off, without a voice array
            rows[s].voices.assign(voices, kStateOn);
            rows[s].staffState = kStateOn;
        }
        rows_ = std::move(rows);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CStaffVoiceStates::free() {
    rows_.clear();
    rows_.shrink_to_fit();
}

const CStaffVoiceStates::StaffRow* CStaffVoiceStates::row(int32_t staff) const {
    if (staff < 0 || static_cast<std::size_t>(staff) >= rows_.size()) return nullptr;
    return &rows_[static_cast<std::size_t>(staff)];
}

CStaffVoiceStates::StaffRow* CStaffVoiceStates::row(int32_t staff) {
    return const_cast<StaffRow*>(std::as_const(*this).row(staff));
}

int32_t CStaffVoiceStates::voiceCount(int32_t staff) const {
    const StaffRow* r = row(staff);
    return r ? static_cast<int32_t>(r->voices.size()) : 0;
}

int32_t CStaffVoiceStates::getStaffOnOff(int32_t staff) const {
    const StaffRow* r = row(staff);
    return r ? r->staffState : kStateInvalid;
}

bool CStaffVoiceStates::isStaffVisible(int32_t staff) const {
    const StaffRow* r = row(staff);  // an unknown staff is not visible
    return r && r->staffState != kStateHidden;
}

bool CStaffVoiceStates::isStaffOff(int32_t staff) const {
    return getStaffOnOff(staff) == kStateOff;
}
bool CStaffVoiceStates::isStaffOn(int32_t staff) const {
    return getStaffOnOff(staff) == kStateOn;
}
bool CStaffVoiceStates::isStaffInvalid(int32_t staff) const {
    return getStaffOnOff(staff) == kStateInvalid;
}

const int32_t* CStaffVoiceStates::findVoice(int32_t staff, int32_t voice) const {
    const StaffRow* r = row(staff);
    if (!r || voice < 0) return nullptr;
    if (r->voices.empty()) return &r->staffState;
    if (static_cast<std::size_t>(voice) >= r->voices.size()) return nullptr;
    return &r->voices[static_cast<std::size_t>(voice)];
}

int32_t CStaffVoiceStates::getVoiceOnOff(int32_t staff, int32_t voice) const {
    const int32_t* state = findVoice(staff, voice);
    return state ? *state : kStateInvalid;
}

bool CStaffVoiceStates::isVoiceVisible(int32_t staff, int32_t voice) const {
    const int32_t* state = findVoice(staff, voice);  // an unknown voice is not visible
    return state && *state != kStateHidden;
}

bool CStaffVoiceStates::isVoiceOff(int32_t staff, int32_t voice) const {
    return getVoiceOnOff(staff, voice) == kStateOff;
}
bool CStaffVoiceStates::isVoiceOn(int32_t staff, int32_t voice) const {
    return getVoiceOnOff(staff, voice) == kStateOn;
}
bool CStaffVoiceStates::isVoiceInvalid(int32_t staff, int32_t voice) const {
    return getVoiceOnOff(staff, voice) == kStateInvalid;
}

int32_t CStaffVoiceStates::setVoiceOnOff(int32_t staff, int32_t voice, int32_t state) {
    StaffRow* r = row(staff);
    if (!r || voice < 0 || static_cast<std::size_t>(voice) >= r->voices.size()) {
        return kStateInvalid;
    }
    r->voices[static_cast<std::size_t>(voice)] = state;
    return state;
}

void CStaffVoiceStates::setStaffOnOff(int32_t staff, int32_t state, bool alsoVoices) {
    StaffRow* r = row(staff);
    if (!r) return;
    const bool changed = r->staffState != state;
    r->staffState = state;
    if (alsoVoices && changed) std::fill(r->voices.begin(), r->voices.end(), state);
}

void CStaffVoiceStates::setStaffAll(int32_t staff, bool on) {
    StaffRow* r = row(staff);
    if (!r) return;
    r->staffState = (on && !r->voices.empty()) ? kStateOn : kStateOff;
    std::fill(r->voices.begin(), r->voices.end(), on ? kStateOn : kStateOff);
}

void CStaffVoiceStates::setAll(bool on) {
    for (int32_t s = 0; s < staffCount(); ++s) setStaffAll(s, on);
}

bool CStaffVoiceStates::anyStaffOn() const {
    return std::any_of(rows_.begin(), rows_.end(),
                       [](const StaffRow& r) { return r.staffState == kStateOn; });
}

void CStaffVoiceStates::copyStates(const CStaffVoiceStates& other) {
    const std::size_t staves = std::min(rows_.size(), other.rows_.size());
    for (std::size_t s = 0; s < staves; ++s) {
        StaffRow& mine = rows_[s];
        const StaffRow& theirs = other.rows_[s];
        if (mine.staffState != theirs.staffState) {
            mine.staffState = theirs.staffState;
            std::fill(mine.voices.begin(), mine.voices.end(), theirs.staffState);
        }
        if (theirs.voices.empty()) {
            std::fill(mine.voices.begin(), mine.voices.end(), theirs.staffState);
            continue;
        }
        const std::size_t voices = std::min(mine.voices.size(), theirs.voices.size());
        std::copy_n(theirs.voices.begin(), voices, mine.voices.begin());
    }
}

std::vector<uint8_t> CStaffVoiceStates::getVoiceMasks() const {
    std::vector<uint8_t> masks(rows_.size(), 0);
    for (std::size_t s = 0; s < rows_.size(); ++s) {
        const StaffRow& r = rows_[s];
        if (r.staffState == kStateOff) continue;
        const bool allOn = std::all_of(r.voices.begin(), r.voices.end(),
                                       [](int32_t v) { return v == kStateOn; });
        if (allOn) {
            masks[s] = kMaskAllOn;
            continue;
        }
        uint8_t mask = kMaskMarker;
        const std::size_t fits = std::min<std::size_t>(r.voices.size(), kMaskVoices);
        for (std::size_t v = 0; v < fits; ++v) {
            if (r.voices[v] == kStateOn) mask |= static_cast<uint8_t>(1u << v);
        }
        masks[s] = mask;
    }
    return masks;
}

}  // namespace scorecore
