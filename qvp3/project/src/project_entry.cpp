#include "qvp3_project/project_entry.h"

#include <bit>
#include <new>
#include <type_traits>

namespace qvp3 {

namespace {

constexpr std::uint8_t kChannelMask = 0xF0;

int replaceLines(IniSectionLines& target, const IniSectionLines& lines) {
    try {
        IniSectionLines copy = lines;
        target.swap(copy);
        return 0;
    } catch (const std::bad_alloc&) {
        return -2;
    }
}

template <typename T>
void putLe(std::uint8_t* out, T value) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8);
    using U = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    const U bits = std::bit_cast<U>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) out[i] = static_cast<std::uint8_t>(bits >> (8 * i));
}

template <typename T>
T getLe(const std::uint8_t* in) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8);
    using U = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
    U bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) bits |= static_cast<U>(in[i]) << (8 * i);
    return std::bit_cast<T>(bits);
}

}  // namespace

void VoicePlayRecord::setMuted(bool muted) {
    flags = static_cast<std::uint8_t>(muted ? (flags | kMuted) : (flags & ~kMuted));
}

int VoicePlayRecord::channel() const { return (flags & kChannelSet) != 0 ? flags >> 4 : -1; }

void VoicePlayRecord::setChannel(int channel) {
    std::uint8_t kept = static_cast<std::uint8_t>(flags & ~(kChannelMask | kChannelSet));
    if (channel >= 0 && channel <= 15) kept = static_cast<std::uint8_t>(kept | kChannelSet | (channel << 4));
    flags = kept;
}

int TuneSectionSet::SetDynamic(const IniSectionLines& lines) { return replaceLines(dynamic, lines); }
int TuneSectionSet::SetArtic(const IniSectionLines& lines) { return replaceLines(artic, lines); }
int TuneSectionSet::SetTrills(const IniSectionLines& lines) { return replaceLines(trills, lines); }

std::array<std::uint8_t, TempoPoint::kStoredSize> TempoPoint::toBytes() const {
    std::array<std::uint8_t, kStoredSize> out{};
    putLe(out.data() + 0, position);
    putLe(out.data() + 4, spare);
    putLe(out.data() + 8, tempo);
    putLe(out.data() + 16, time);
    putLe(out.data() + 24, extra);
    putLe(out.data() + 32, kind);
    putLe(out.data() + 36, tag);
    return out;
}

TempoPoint TempoPoint::fromBytes(std::span<const std::uint8_t, kStoredSize> bytes) {
    TempoPoint point;
    point.position = getLe<std::uint32_t>(bytes.data() + 0);
    point.spare = getLe<std::uint32_t>(bytes.data() + 4);
    point.tempo = getLe<double>(bytes.data() + 8);
    point.time = getLe<double>(bytes.data() + 16);
    point.extra = getLe<double>(bytes.data() + 24);
    point.kind = getLe<std::int32_t>(bytes.data() + 32);
    point.tag = getLe<std::int32_t>(bytes.data() + 36);
    return point;
}

int ProjectEntry::voiceIndex(int staff, int voice) const {
    if (staff < 0 || voice < 0 || staff >= static_cast<int>(voiceCounts.size())) return -1;
    if (voice >= voiceCounts[static_cast<std::size_t>(staff)]) return -1;
    int index = voice;
    for (int s = 0; s < staff; ++s) index += voiceCounts[static_cast<std::size_t>(s)];
    return index < static_cast<int>(voices.size()) ? index : -1;
}

VoicePlayRecord* ProjectEntry::voiceRecord(int staff, int voice) {
    const int index = voiceIndex(staff, voice);
    return index < 0 ? nullptr : &voices[static_cast<std::size_t>(index)];
}

const VoicePlayRecord* ProjectEntry::voiceRecord(int staff, int voice) const {
    const int index = voiceIndex(staff, voice);
    return index < 0 ? nullptr : &voices[static_cast<std::size_t>(index)];
}

scorecore::CMidiInstr* ProjectEntry::voiceInstrument(int staff, int voice) {
    if (staff < 0 || voice < 0 || staff >= static_cast<int>(instruments.size())) return nullptr;
    auto& records = instruments[static_cast<std::size_t>(staff)];
    return voice < static_cast<int>(records.size()) ? &records[static_cast<std::size_t>(voice)] : nullptr;
}

bool ProjectEntry::isPercussionStave(int staff) const {
    if (isScoreKind(kind)) {
        const VoicePlayRecord* record = voiceRecord(staff, 0);
        return record != nullptr && record->sound > 127;
    }
    if (kind == EntryKind::Midi) {
        const scorecore::CMidiInstr* instrument = voiceInstrument(staff, 0);
        return instrument != nullptr && instrument->hasPercNote();
    }
    return false;
}

const scorecore::CMidiInstr* ProjectEntry::voiceInstrument(int staff, int voice) const {
    return const_cast<ProjectEntry*>(this)->voiceInstrument(staff, voice);
}

}  // namespace qvp3
