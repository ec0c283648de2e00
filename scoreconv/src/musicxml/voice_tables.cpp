#include "musicxml/voice_tables.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <new>
#include <optional>
#include <stdexcept>

#include "musicxml/xml_values.h"

namespace scoreconv {

namespace {

uint32_t voiceBitMask(int32_t bit) { return bit >= 0 && bit < 32 ? (1u << bit) : 0u; }

using mx::trimmed;

// A voice id that is a decimal number (with an optional sign): its value,
// saturated far outside 1..32; nothing for any other id.
std::optional<int64_t> numericId(std::string_view id) {
    std::string_view digits = id;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '-' || digits.front() == '+')) digits.remove_prefix(1);
    if (digits.empty()) return std::nullopt;
    int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        value = std::min<int64_t>(value * 10 + (c - '0'), 1000);
    }
    return negative ? -value : value;
}

}  // namespace

// --- parts and staves -------------------------------------------------------------------

void CVoiceBitTables::clear() { std::vector<Part>().swap(parts_); }

CVoiceBitTables::Part* CVoiceBitTables::part(int32_t index) {
    if (index < 0 || index >= partCount()) return nullptr;
    return &parts_[static_cast<std::size_t>(index)];
}

const CVoiceBitTables::Part* CVoiceBitTables::part(int32_t index) const {
    return const_cast<CVoiceBitTables*>(this)->part(index);
}

bool CVoiceBitTables::appendPart() {
    try {
        parts_.emplace_back();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CVoiceBitTables::growStaves(int32_t index, int32_t n) {
    Part* p = part(index);
    if (p == nullptr || n < 0) return false;
    try {
        p->staffMasks.resize(p->staffMasks.size() + static_cast<std::size_t>(n), 0u);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

int32_t CVoiceBitTables::staffCount(int32_t index) const {
    const Part* p = part(index);
    return p != nullptr ? static_cast<int32_t>(p->staffMasks.size()) : 0;
}

int32_t CVoiceBitTables::firstStaffOfPart(int32_t index) const {
    if (part(index) == nullptr) return -1;
    int64_t first = 0;
    for (int32_t i = 0; i < index; ++i) first += staffCount(i);
    return static_cast<int32_t>(std::min<int64_t>(first, INT32_MAX));
}

uint32_t CVoiceBitTables::partMask(int32_t index) const {
    const Part* p = part(index);
    return p != nullptr ? p->mask : 0u;
}

uint32_t CVoiceBitTables::staffMask(int32_t index, int32_t staff) const {
    const Part* p = part(index);
    if (p == nullptr || staff < 0 || staff >= static_cast<int32_t>(p->staffMasks.size())) return 0u;
    return p->staffMasks[static_cast<std::size_t>(staff)];
}

void CVoiceBitTables::setStaffMask(int32_t index, int32_t staff, uint32_t mask) {
    Part* p = part(index);
    if (p == nullptr || staff < 0 || staff >= static_cast<int32_t>(p->staffMasks.size())) return;
    const uint32_t stored = mask != 0 ? mask : 1u;
    p->staffMasks[static_cast<std::size_t>(staff)] = stored;
    p->mask |= stored;
}

void CVoiceBitTables::assignVoice(int32_t index, int32_t staff, int32_t voiceNumber) {
    Part* p = part(index);
    if (p == nullptr || staff < 0 || staff >= static_cast<int32_t>(p->staffMasks.size())) return;
    const int32_t bit = voiceNumber - 1;
    if (voiceBitMask(bit) == 0 || staffOfVoice(index, bit) >= 0) return;
    p->staffMasks[static_cast<std::size_t>(staff)] |= voiceBitMask(bit);
    p->mask |= voiceBitMask(bit);
}

void CVoiceBitTables::fillEmptyStaves(int32_t index) {
    Part* p = part(index);
    if (p == nullptr) return;
    for (uint32_t& mask : p->staffMasks) {
        if (mask == 0) mask = 1u;
    }
    if (!p->staffMasks.empty()) p->mask |= 1u;
}

// --- lookups ----------------------------------------------------------------------------

int32_t CVoiceBitTables::staffOfVoice(int32_t index, int32_t voiceBit) const {
    const Part* p = part(index);
    const uint32_t bit = voiceBitMask(voiceBit);
    if (p == nullptr || bit == 0) return -1;
    for (std::size_t s = 0; s < p->staffMasks.size(); ++s) {
        if ((p->staffMasks[s] & bit) != 0) return static_cast<int32_t>(s);
    }
    return -1;
}

int32_t CVoiceBitTables::voiceCount(int32_t index, int32_t staff) const {
    return std::popcount(staffMask(index, staff));
}

int32_t CVoiceBitTables::nthVoiceBit(int32_t index, int32_t staff, int32_t k) const {
    uint32_t mask = staffMask(index, staff);
    for (int32_t bit = 0; mask != 0; ++bit, mask >>= 1) {
        if ((mask & 1u) != 0 && k-- == 0) return bit;
    }
    return -1;
}

int32_t CVoiceBitTables::voiceRank(int32_t index, int32_t staff, int32_t voiceBit) const {
    const uint32_t mask = staffMask(index, staff);
    const uint32_t bit = voiceBitMask(voiceBit);
    if ((mask & bit) == 0) return -1;
    return std::popcount(mask & (bit - 1));
}

int32_t CVoiceBitTables::flatIndex(int32_t index, int32_t staff, int32_t voice) const {
    if (staff < 0 || staff >= staffCount(index) || voice < 0 || voice >= voiceCount(index, staff)) return -1;
    int32_t flat = voice;
    for (int32_t s = 0; s < staff; ++s) flat += voiceCount(index, s);
    return flat;
}

bool CVoiceBitTables::fromFlatIndex(int32_t index, int32_t flat, int32_t& staff, int32_t& voice) const {
    if (flat < 0) return false;
    for (int32_t s = 0; s < staffCount(index); ++s) {
        const int32_t count = voiceCount(index, s);
        if (flat < count) {
            staff = s;
            voice = flat;
            return true;
        }
        flat -= count;
    }
    return false;
}

// --- voice ids --------------------------------------------------------------------------

void CVoiceBitTables::noteVoiceText(int32_t index, std::string_view text) {
    Part* p = part(index);
    if (p == nullptr) return;
    const std::string_view id = trimmed(text);
    const std::optional<int64_t> number = id.empty() ? std::optional<int64_t>(1) : numericId(id);
    if (number && *number >= 1 && *number <= kMaxVoices) p->numbersSeen |= voiceBitMask(static_cast<int32_t>(*number - 1));
}

int32_t CVoiceBitTables::voiceNumber(int32_t index, std::string_view text) {
    Part* p = part(index);
    if (p == nullptr) return -1;
    const std::string_view id = trimmed(text);
    if (id.empty()) return 1;
    if (const std::optional<int64_t> number = numericId(id)) {
        return *number >= 1 && *number <= kMaxVoices ? static_cast<int32_t>(*number) : -1;
    }
    for (const auto& [name, number] : p->names) {
        if (name == id) return number;
    }
    const uint32_t taken = p->numbersSeen | p->numbersGiven;
    if (taken == UINT32_MAX) return -1;
    const int32_t bit = std::countr_one(taken);
    try {
        p->names.emplace_back(std::string(id), bit + 1);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    p->numbersGiven |= voiceBitMask(bit);
    return bit + 1;
}

}  // namespace scoreconv
