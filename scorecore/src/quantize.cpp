#include "scorecore/quantize.h"

#include <algorithm>
#include <cstddef>
#include <limits>
#include <new>
#include <utility>

namespace scorecore {

namespace {

constexpr int32_t kMaxVoices = 255;  // the voice count is stored as a byte

int32_t saturate(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// Grid step of a note index: eighth, sixteenth, else thirty-second.
int32_t gridTicks(int32_t ticksPerQuarter, int32_t noteIndex) {
    return ticksPerQuarter >> (noteIndex == 0 ? 1 : noteIndex == 1 ? 2 : 3);
}

bool isBlank(char32_t c) { return c == U' ' || c == U'\t'; }

// One number 0..255 of decimal digits; leading zeros are fine.
template <typename Char>
bool parseByte(std::basic_string_view<Char> digits, uint8_t& out) {
    if (digits.empty()) return false;
    unsigned value = 0;
    for (Char c : digits) {
        if (c < Char('0') || c > Char('9')) return false;
        value = value * 10 + static_cast<unsigned>(c - Char('0'));
        if (value > 255) return false;
    }
    out = static_cast<uint8_t>(value);
    return true;
}

template <typename Char>
bool parseRateText(std::basic_string_view<Char> text, QuantizeRate& rate) {
    while (!text.empty() && isBlank(static_cast<char32_t>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && isBlank(static_cast<char32_t>(text.back()))) text.remove_suffix(1);
    const std::size_t colon = text.find(Char(':'));
    if (colon == std::basic_string_view<Char>::npos) return false;
    QuantizeRate parsed{};
    if (!parseByte(text.substr(0, colon), parsed[0])) return false;
    if (!parseByte(text.substr(colon + 1), parsed[1])) return false;  // a second colon fails here
    rate = parsed;
    return true;
}

}  // namespace

CQuantize::CQuantize(int32_t ticksPerQuarter) : ticksPerQuarter_(ticksPerQuarter) {}

bool CQuantize::create(int32_t staves) {
    if (staves < 1) return false;
    try {
        std::vector<StaffRow> rows(static_cast<std::size_t>(staves));
        staves_ = std::move(rows);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CQuantize::allocVoices(int32_t staff, int32_t voices) {
    StaffRow* r = row(staff);
    if (!r || voices < 0 || voices > kMaxVoices) return false;
    try {
        r->positions.assign(static_cast<std::size_t>(voices), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CQuantize::freeVoices() {
    for (StaffRow& r : staves_) std::vector<int32_t>().swap(r.positions);
}

void CQuantize::clear() {
    std::vector<StaffRow>().swap(staves_);
    flags_ = 0;
}

const CQuantize::StaffRow* CQuantize::row(int32_t staff) const {
    if (staff < 0 || static_cast<std::size_t>(staff) >= staves_.size()) return nullptr;
    return &staves_[static_cast<std::size_t>(staff)];
}

CQuantize::StaffRow* CQuantize::row(int32_t staff) {
    return const_cast<StaffRow*>(std::as_const(*this).row(staff));
}

const int32_t* CQuantize::position(int32_t staff, int32_t voice) const {
    const StaffRow* r = row(staff);
    if (!r || voice < 0 || static_cast<std::size_t>(voice) >= r->positions.size()) return nullptr;
    return &r->positions[static_cast<std::size_t>(voice)];
}

int32_t* CQuantize::position(int32_t staff, int32_t voice) {
    return const_cast<int32_t*>(std::as_const(*this).position(staff, voice));
}

int32_t CQuantize::voiceCount(int32_t staff) const {
    const StaffRow* r = row(staff);
    return r ? static_cast<int32_t>(r->positions.size()) : 0;
}

void CQuantize::setRate(int32_t staff, uint8_t longPart, uint8_t shortPart) {
    if (StaffRow* r = row(staff)) r->rate = {longPart, shortPart};
}

bool CQuantize::setRateFromString(int32_t staff, std::string_view text) {
    StaffRow* r = row(staff);
    return r && parseRate(text, r->rate);
}

bool CQuantize::setRateFromString(int32_t staff, std::u16string_view text) {
    StaffRow* r = row(staff);
    return r && parseRate(text, r->rate);
}

bool CQuantize::parseRate(std::string_view text, QuantizeRate& rate) {
    return parseRateText(text, rate);
}

bool CQuantize::parseRate(std::u16string_view text, QuantizeRate& rate) {
    return parseRateText(text, rate);
}

int32_t CQuantize::getRateIndex(int32_t staff) const {
    if (!row(staff)) return kQuantizeRateNone;
    const std::string text = createRateString(staff);
    const auto* found = std::find(kQuantizeRates.begin(), kQuantizeRates.end(), text);
    return static_cast<int32_t>(found - kQuantizeRates.begin());  // 25 when not found
}

std::string_view CQuantize::getRateString(int32_t staff) const {
    const int32_t index = getRateIndex(staff);
    return index < kQuantizeRateNone ? kQuantizeRates[static_cast<std::size_t>(index)]
                                     : std::string_view();
}

std::string CQuantize::createRateString(int32_t staff) const {
    const StaffRow* r = row(staff);
    if (!r) return {};
    return std::to_string(r->rate[0]) + ':' + std::to_string(r->rate[1]);
}

uint8_t CQuantize::getRatePart(int32_t staff, int32_t part) const {
    const StaffRow* r = row(staff);
    if (!r || part < 0 || part > 1) return 0;
    return r->rate[static_cast<std::size_t>(part)];
}

void CQuantize::resetPositions() {
    for (StaffRow& r : staves_) std::fill(r.positions.begin(), r.positions.end(), 0);
    flags_ = 0;
}

void CQuantize::resetStaff(int32_t staff) {
    if (StaffRow* r = row(staff)) *r = StaffRow{};
}

void CQuantize::setNote(int32_t staff, int32_t noteIndex) {
    if (StaffRow* r = row(staff)) r->noteIndex = noteIndex;
}

int32_t CQuantize::getNote(int32_t staff) const {
    const StaffRow* r = row(staff);
    return r ? r->noteIndex : 0;
}

int32_t CQuantize::getNoteTicks(int32_t staff) const {
    const StaffRow* r = row(staff);
    if (!r) return 0;
    return gridTicks(ticksPerQuarter_, r->noteIndex);
}

void CQuantize::setAnzahl(int32_t staff, uint8_t count) {
    if (StaffRow* r = row(staff)) r->anzahl = count;
}

uint8_t CQuantize::getAnzahl(int32_t staff) const {
    const StaffRow* r = row(staff);
    return r ? r->anzahl : 0;
}

int32_t CQuantize::getAnzahlIndex(int32_t staff) const {
    const StaffRow* r = row(staff);
    if (!r) return kQuantizeCountNone;
    const auto* found = std::find(kQuantizeCounts.begin(), kQuantizeCounts.end(), r->anzahl);
    return static_cast<int32_t>(found - kQuantizeCounts.begin());  // 4 when not found
}

void CQuantize::setProtocolPos(int32_t staff, int32_t voice, int32_t pos) {
    if (int32_t* p = position(staff, voice)) *p = pos;
}

int32_t CQuantize::getProtocolPos(int32_t staff, int32_t voice) const {
    const int32_t* p = position(staff, voice);
    return p ? *p : 0;
}

bool CQuantize::swingGrid(const StaffRow& r, int32_t& grid) const {
    if (r.rate[0] < 2 && r.rate[1] < 2) return false;  // 1:1 and its degenerate forms
    const int32_t ticks = gridTicks(ticksPerQuarter_, r.noteIndex);
    if (ticks <= 0) return false;
    grid = ticks;
    return true;
}

bool CQuantize::needsQuantize(int32_t staff, int32_t voice) const {
    const StaffRow* r = row(staff);
    int32_t grid = 0;
    if (!r || voice < 0 || static_cast<std::size_t>(voice) >= r->positions.size()) return false;
    if (!swingGrid(*r, grid)) return false;
    return r->positions[static_cast<std::size_t>(voice)] == 0;
}

void CQuantize::recordPos(int32_t staff, int32_t voice, int32_t tick, int32_t base,
                          uint32_t flags) {
    int32_t* pos = position(staff, voice);
    const int32_t grid = getNoteTicks(staff);
    if (!pos || grid <= 0) return;
    const int64_t index = int64_t{base} + tick / grid;
    if (index < row(staff)->anzahl) return;
    const int64_t capped = std::min<int64_t>(index, std::numeric_limits<int32_t>::max());
    if (flags & kQuantizeOddAlignment) {
        *pos = saturate(-((capped % 2 == 0) ? capped - 1 : capped));
    } else {
        *pos = saturate(capped - capped % 2);
    }
    flags_ = flags;
    lastTick_ = tick;
}

int32_t CQuantize::quantizeTick(int32_t staff, int32_t voice, int32_t& delta) {
    int32_t* pos = position(staff, voice);
    int32_t grid = 0;
    if (!pos || *pos == 0 || delta <= 0 || !swingGrid(*row(staff), grid)) return 0;
    if (delta % grid != 0) return 0;
    const QuantizeRate& rate = row(staff)->rate;
    const int64_t pair = int64_t{2} * grid;
    const int64_t longStep = pair * rate[0] / (rate[0] + rate[1]);
    const int64_t shortStep = pair - longStep;
    const int32_t steps = delta / grid;
    // A pair is exactly two grid steps, so only an odd step count leaves one over.
    int64_t swung = int64_t{steps / 2} * pair;
    if (steps % 2 != 0) swung += (*pos % 2 == 0) ? longStep : shortStep;
    const int32_t oldDelta = delta;
    delta = saturate(swung);
    if (*pos < 0) {
        *pos = saturate(-int64_t{*pos});
        if (flags_ & kQuantizeOddAlignment) return saturate(int64_t{oldDelta} - delta);
    }
    *pos = saturate(int64_t{*pos} - steps);
    return 0;
}

}  // namespace scorecore
