#include "scorecore/score_event.h"

#include "scorecore/result_codes.h"

#include <algorithm>
#include <new>

namespace scorecore {
namespace {

template <class List, class T>
bool tryAppend(List& list, const T& entry) {
    try {
        list.push_back(entry);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// At `at` clamped to the last position, or at the end of an empty list.
template <class List, class T>
bool tryInsert(List& list, const T& entry, int32_t at) {
    try {
        if (list.empty()) {
            list.push_back(entry);
        } else {
            const auto last = static_cast<int32_t>(list.size()) - 1;
            list.insert(list.begin() + std::clamp(at, 0, last), entry);
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

template <class T>
void release(std::vector<T>& list) {
    std::vector<T>().swap(list);
}

template <class T>
void release(CLazyList<T>& list) {
    list.clear();  // gives the block back
}

int32_t stepSemitone(char step) {
    switch (step) {
    case 'C': return 0;
    case 'D': return 2;
    case 'E': return 4;
    case 'F': return 5;
    case 'G': return 7;
    case 'A': return 9;
    case 'B': return 11;
    default: return -1;
    }
}

bool isOctaveDigit(char c) { return c >= '0' && c <= '9'; }

bool isPitchText(std::string_view text) {
    return text.size() == 2 && stepSemitone(text[0]) >= 0 && isOctaveDigit(text[1]);
}

// Semitones of an alteration text; 0 for "**" and anything unknown.
int32_t alterSemitones(std::string_view text) {
    if (text == "+1") return 1;
    if (text == "-1") return -1;
    if (text == "+2") return 2;
    if (text == "-2") return -2;
    return 0;
}

bool isAlterText(std::string_view text) {
    return text == "**" || alterSemitones(text) != 0;
}

// Cuts UTF-8 text to at most maxChars characters without splitting a character.
void cutToChars(std::string& text, std::size_t maxChars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool continuation = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
        if (!continuation && ++chars > maxChars) {
            text.resize(i);
            return;
        }
    }
}

struct NamedValue {
    int32_t ticks;
    const char* name;
};

// Longest first.
constexpr NamedValue kTypeNames[] = {
    {7680, "long"}, {3840, "breve"}, {1920, "whole"}, {960, "half"},  {480, "quarter"},
    {240, "eighth"}, {120, "16th"},  {60, "32nd"},    {30, "64th"},   {15, "128th"},
};

constexpr NamedValue kBaseTexts[] = {
    {3840, "2/1"}, {1920, "1/1"}, {960, "1/2"},  {480, "1/4"},  {240, "1/8"},
    {120, "1/16"}, {60, "1/32"},  {30, "1/64"},  {15, "1/128"},
};

int64_t namedTicks(int32_t duration, bool addHalf) {
    return static_cast<int64_t>(duration) + (addHalf ? duration / 2 : 0);
}

}  // namespace

// --- sub-records ----------------------------------------------------------------------

int32_t CEventArticulation::tableIndex() const {
    switch (code) {
    case 1: return 0;
    case 2: return 2;
    case 4: return 1;
    case 5: return 4;
    case 6: return 3;
    case 7: return 6;
    case 8: return 5;
    default: return -1;
    }
}

int32_t CEventDynamic::levelIndex() const {
    switch (code) {
    case 127: return 0;
    case 110: return 1;
    case 90: return 2;
    case 74: return 3;
    case 62: return 4;
    case 44: return 5;
    case 22: return 6;
    case 10: return 7;
    default: return -1;
    }
}

int32_t CEventDynamic::scaledVelocity(int32_t velocity) const {
    if (code == 0 || isAccent() || velocity == 74) return code;
    const double scaled = static_cast<double>(code) * velocity / 74.0;
    // Clamped before the conversion so that no value is out of the int range.
    return static_cast<int32_t>(std::clamp(scaled, 0.0, 127.0));
}

std::string CEventBarline::formEndingLabel(int32_t first, int32_t last, bool list) {
    if (first <= 0) return {};
    std::string label = std::to_string(first) + ".";
    if (last <= 0) return label;
    const int64_t count = static_cast<int64_t>(last) - first + 1;
    if (!list || count < 1 || count > kMaxEndingListNumbers) {
        return label + "-" + std::to_string(last) + ".";
    }
    for (int32_t n = first + 1; n <= last; ++n) label += " " + std::to_string(n) + ".";
    return label;
}

int32_t CScoreEventItem::addFlags(int32_t bits) {
    flags = bits ? (flags | bits) : 0;
    return flags;
}

bool CScoreEventItem::hasFlag(int32_t mask) const {
    return (flags & mask) != 0 || (flags == 0 && mask == 0);
}

bool CScoreLyric::setText(std::string_view newText) {
    if (newText.empty()) return true;
    try {
        text.assign(newText);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CScoreOrnament::isNotation() const {
    return !((code >= 13 && code <= 16) || (code >= 19 && code <= 22));
}

int8_t CKeySig::clampFifths(int32_t value) {
    if (value == kUnset) return kUnset;
    return static_cast<int8_t>(std::clamp(value, -7, 7));
}

int32_t CKeySig::safeFifths() const {
    return fifths == kUnset ? 0 : std::clamp<int32_t>(fifths, -7, 7);
}

bool CScoreClef::sameAs(const CScoreClef& other) const {
    return kind == other.kind && line == other.line && octaveChange == other.octaveChange;
}

// --- lifecycle ------------------------------------------------------------------------

void CScoreEvent::clear() { *this = CScoreEvent(); }

bool CScoreEvent::copyTo(CScoreEvent& dst) const {
    if (&dst == this) return true;
    try {
        dst = *this;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

// --- heads ----------------------------------------------------------------------------

int32_t CScoreEvent::usedHeads() const { return std::clamp(headCount, 0, kMaxHeads); }

std::string_view CScoreEvent::headText(const std::string& pairs, int32_t head) const {
    if (!isHead(head)) return {};
    const size_t pos = static_cast<size_t>(head) * 2;
    if (pos + 2 > pairs.size()) return {};
    return std::string_view(pairs).substr(pos, 2);
}

bool CScoreEvent::appendHead(int32_t flags) {
    if (headCount < 0 || headCount >= kMaxHeads) return false;
    try {
        headFlags.resize(static_cast<size_t>(headCount) + 1);
    } catch (const std::bad_alloc&) {
        return false;
    }
    headFlags[static_cast<size_t>(headCount)] = flags;
    return true;
}

bool CScoreEvent::appendPitch(std::string_view text) {
    if (!isPitchText(text) || pitches.size() >= 2 * kMaxHeads) return false;
    try {
        pitches.append(text);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CScoreEvent::appendAlter(std::string_view text) {
    if (!isAlterText(text) || alterations.size() >= 2 * kMaxHeads) return false;
    try {
        alterations.append(text);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void CScoreEvent::setHeadFlags(int32_t head, int32_t bits) {
    if (!isHead(head) || static_cast<size_t>(head) >= headFlags.size()) return;
    int32_t& value = headFlags[static_cast<size_t>(head)];
    value = bits ? (value | bits) : 0;
}

bool CScoreEvent::getHeadFlags(int32_t head, int32_t& out) const {
    if (!isHead(head) || static_cast<size_t>(head) >= headFlags.size()) return false;
    out = headFlags[static_cast<size_t>(head)];
    return true;
}

bool CScoreEvent::hasHeadFlag(int32_t head, int32_t bits) const {
    int32_t value = 0;
    if (!getHeadFlags(head, value)) return false;
    return bits ? (value & bits) != 0 : value == 0;
}

void CScoreEvent::freeHeads() { headFlags.clear(); }

char CScoreEvent::getStep(int32_t head) const {
    const std::string_view pitch = headText(pitches, head);
    return pitch.empty() ? 0 : pitch[0];
}

bool CScoreEvent::hasAlter(int32_t head) const {
    const std::string_view alter = headText(alterations, head);
    return !alter.empty() && alter != "**";
}

std::string CScoreEvent::getAlterText(int32_t head) const {
    std::string_view alter = headText(alterations, head);
    if (!alter.empty() && alter[0] == '+') alter.remove_prefix(1);
    return std::string(alter);
}

bool CScoreEvent::getPitchTextRaised(int32_t head, std::string& out) const {
    const std::string_view pitch = headText(pitches, head);
    if (!isPitchText(pitch)) return false;
    const char octave = pitch[1] < '8' ? static_cast<char>(pitch[1] + 1) : pitch[1];
    out = {pitch[0], octave};
    return true;
}

bool CScoreEvent::getPitchText(int32_t head, std::string& out) const {
    const std::string_view pitch = headText(pitches, head);
    if (!isPitchText(pitch)) return false;
    // Octave 0 has nothing below it; it stays rather than turning into a non-digit.
    const char octave = pitch[1] > '0' ? static_cast<char>(pitch[1] - 1) : pitch[1];
    out = {pitch[0], octave};
    return true;
}

void CScoreEvent::updateMidiKeys() {
    for (int32_t head = 0; head < usedHeads(); ++head) {
        const std::string_view pitch = headText(pitches, head);
        if (!isPitchText(pitch)) continue;
        const int32_t key = stepSemitone(pitch[0]) + 12 * (pitch[1] - '0') +
                            alterSemitones(headText(alterations, head));
        const auto byte = static_cast<uint32_t>(std::clamp(key, 0, 127));
        uint32_t& slot = midi[static_cast<size_t>(head)];
        slot = (slot & ~0xFF00u) | (byte << 8);
    }
}

// --- lists ----------------------------------------------------------------------------

bool CScoreEvent::appendItem(const CScoreEventItem& item) {
    return item.flags == 0 || tryAppend(items, item);
}

bool CScoreEvent::insertItem(const CScoreEventItem& item, int32_t at) {
    return tryInsert(items, item, at);
}

bool CScoreEvent::appendLyric(const CScoreLyric& lyric) {
    return lyric.number == 0 || tryAppend(lyrics, lyric);
}

bool CScoreEvent::appendOrnament(const CScoreOrnament& ornament) {
    return ornament.code == 0 || tryAppend(ornaments, ornament);
}

int32_t CScoreEvent::findWavyLineOrnament() const {
    for (size_t i = 0; i < ornaments.size(); ++i) {
        if (ornaments[i].code == 23 || ornaments[i].secondCode == 23) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

bool CScoreEvent::appendText(const CScoreText& text) {
    try {
        CScoreText copy = text;
        cutToChars(copy.face, CScoreText::kMaxFaceChars);
        texts.push_back(std::move(copy));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CScoreEvent::appendWedge(const CScoreWedge& wedge) {
    return wedge.code == kWedgeNone || tryAppend(wedges, wedge);
}

bool CScoreEvent::insertWedge(const CScoreWedge& wedge, int32_t at) {
    return tryInsert(wedges, wedge, at);
}

bool CScoreEvent::isWedge(int32_t index, int32_t code) const {
    return index >= 0 && index < wedgeCount() && wedges[static_cast<size_t>(index)].code == code;
}

bool CScoreEvent::hasWedge(int32_t code) const {
    return std::any_of(wedges.begin(), wedges.end(),
                       [code](const CScoreWedge& w) { return w.code == code; });
}

bool CScoreEvent::hasItemFlag(int32_t bits) const {
    return std::any_of(items.begin(), items.end(),
                       [bits](const CScoreEventItem& i) { return i.hasFlag(bits); });
}

void CScoreEvent::limitSlurSpan(int32_t n) {
    for (CScoreEventItem& item : items) {
        if (item.flags & kItemSlurStart) item.span = std::min(item.span, n);
    }
}

void CScoreEvent::freeTexts() { release(texts); }
void CScoreEvent::freeOrnaments() { release(ornaments); }
void CScoreEvent::freeLyrics() { release(lyrics); }
void CScoreEvent::freeWedges() { release(wedges); }
void CScoreEvent::freeItems() { release(items); }

// --- durations ------------------------------------------------------------------------

int CScoreEvent::getTypeName(std::string& out, bool addHalf) const {
    const int64_t ticks = namedTicks(duration, addHalf);
    for (const NamedValue& named : kTypeNames) {
        if (named.ticks == ticks) {
            out = named.name;
            return kOk;
        }
    }
    out = "256th";
    if (ticks >= 480) {
        const auto below = std::find_if(std::begin(kTypeNames), std::end(kTypeNames),
                                        [ticks](const NamedValue& n) { return n.ticks < ticks; });
        out = below->name;  // exists: 480 itself is below any other value from 480 up
    }
    return kErrNotPresent;
}

int CScoreEvent::getTypeName(std::string* out, bool addHalf) {
    return getTypeName(out ? *out : baseText, addHalf);
}

int CScoreEvent::getBaseText(std::string& out, bool addHalf) const {
    const int64_t ticks = namedTicks(duration, addHalf);
    for (const NamedValue& named : kBaseTexts) {
        if (named.ticks == ticks) {
            out = named.name;
            return kOk;
        }
    }
    return kErrNotPresent;
}

int CScoreEvent::getBaseText(std::string* out, bool addHalf) {
    return getBaseText(out ? *out : baseText, addHalf);
}

int32_t CScoreEvent::getBeamCount() const {
    // Base texts hold digits and a slash only, so no case folding is needed.
    if (baseText == "1/8") return 1;
    if (baseText == "1/16") return 2;
    if (baseText == "1/32") return 3;
    if (baseText == "1/64") return 4;
    if (baseText == "1/128") return 5;
    return 0;
}

}  // namespace scorecore
