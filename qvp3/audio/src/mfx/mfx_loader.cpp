// Standard MIDI file events into MFX events: note pairing, RPN/NRPN and
// bank-select folding, system-exclusive messages.
#include "qvp3_audio/mfx_loader.h"

#include <algorithm>

namespace qvp3 {
namespace {

constexpr int kLsbMergeWindow = 120;  // ticks
constexpr int kPatchBankWindow = 15;
constexpr int kControllerBankWindow = 480;
constexpr int kParamValueMax = 16383;

constexpr std::array<std::uint8_t, 6> kGmReset = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
constexpr std::array<std::uint8_t, 9> kXgReset = {0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
constexpr std::array<std::uint8_t, 11> kGsReset = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x40, 0x00, 0x7F, 0x00, 0x41, 0xF7};
constexpr std::array<std::uint8_t, 11> kGsSystemReset = {0xF0, 0x41, 0x10, 0x42, 0x12, 0x00,
                                                         0x00, 0x7F, 0x00, 0x01, 0xF7};

template <std::size_t N>
bool same(std::span<const std::uint8_t> message, const std::array<std::uint8_t, N>& reset) {
    return message.size() == N && std::equal(reset.begin(), reset.end(), message.begin());
}

std::uint8_t dataByte(int value) { return static_cast<std::uint8_t>(value & 0x7F); }

}  // namespace

bool mfxIsResetMessage(std::span<const std::uint8_t> message) {
    return same(message, kGmReset) || same(message, kXgReset) || same(message, kGsReset) ||
           same(message, kGsSystemReset);
}

CMfxLoader::CMfxLoader(CMfxSeq& seq, bool oneTrackPerChannel) : seq_(seq), byChannel_(oneTrackPerChannel) {
    for (auto& keys : open_) keys.fill(kNone);
}

CMfxTrack* CMfxLoader::TrackFor(int fileTrack, std::uint8_t status) {
    int key = byChannel_ ? (status & 0x0F) : fileTrack;
    if (key > 15 && byChannel_) return nullptr;
    key = std::max(key, 0);
    CMfxTrack* track = seq_.GetTrack(key, true);
    track->key = key;
    return track;
}

void CMfxLoader::Track(const CMfxEvent& event) { earliest_ = std::min(earliest_, event.time); }

void CMfxLoader::Append(CMfxTrack& track, CMfxEvent event) {
    Track(event);
    track.events.push_back(std::move(event));
}

// ---- note pairing

void CMfxLoader::NoteOn(CMfxTrack& track, std::int32_t time, int channel, int key, int velocity) {
    channel &= 0x0F;
    key &= 0x7F;
    CMfxEvent note(kMfxNote);
    note.time = time;
    note.channel = static_cast<std::uint8_t>(channel);
    note.setKey(static_cast<std::uint8_t>(key));
    note.setVelocity(dataByte(velocity));
    note.setDuration(kNone);  // end of the chain of open notes of this key
    const auto index = static_cast<std::uint32_t>(track.events.size());
    Append(track, std::move(note));
    std::uint32_t& head = open_[static_cast<std::size_t>(channel)][static_cast<std::size_t>(key)];
    if (head == kNone || noteTrack_[static_cast<std::size_t>(channel)] != &track) {
        head = index;
    } else {
        std::uint32_t last = head;
        while (track.events[last].duration() != kNone) last = track.events[last].duration();
        track.events[last].setDuration(index);
    }
    noteTrack_[static_cast<std::size_t>(channel)] = &track;
    ++openCount_;
}

void CMfxLoader::NoteOff(CMfxTrack& track, std::int32_t time, int channel, int key, int releaseVelocity) {
    channel &= 0x0F;
    key &= 0x7F;
    std::uint32_t& head = open_[static_cast<std::size_t>(channel)][static_cast<std::size_t>(key)];
    if (head == kNone || noteTrack_[static_cast<std::size_t>(channel)] != &track) return;
    CMfxEvent& note = track.events[head];
    head = note.duration();  // the next open note of the key, or none
    note.setDuration(static_cast<std::uint32_t>(std::max<std::int64_t>(std::int64_t{time} - note.time, 0)));
    note.setByteAt(2, dataByte(releaseVelocity));
    --openCount_;
}

void CMfxLoader::CloseChannel(CMfxTrack& track, int channel, std::int32_t time) {
    for (int key = 0; key < 128; ++key)
        while (open_[static_cast<std::size_t>(channel & 0x0F)][static_cast<std::size_t>(key)] != kNone &&
               noteTrack_[static_cast<std::size_t>(channel & 0x0F)] == &track)
            NoteOff(track, time, channel, key);
}

void CMfxLoader::CloseAll(CMfxTrack& track, std::int32_t time) {
    for (int channel = 0; channel < 16; ++channel) CloseChannel(track, channel, time);
}

void CMfxLoader::Erase(CMfxTrack& track, std::size_t index) {
    const auto removed = static_cast<std::uint32_t>(index);
    const auto moved = [removed](std::uint32_t at) { return at != kNone && at > removed ? at - 1 : at; };
    for (std::size_t channel = 0; channel < 16; ++channel) {
        if (noteTrack_[channel] != &track) continue;
        for (std::uint32_t& head : open_[channel]) {
            // The links inside a chain are rewritten before the head that leads to them.
            for (std::uint32_t at = head; at != kNone;) {
                const std::uint32_t next = track.events[at].duration();
                track.events[at].setDuration(moved(next));
                at = next;
            }
            head = moved(head);
        }
    }
    track.events.erase(track.events.begin() + static_cast<std::ptrdiff_t>(index));
}

// ---- controllers

void CMfxLoader::ParamEvent(CMfxTrack& track, std::int32_t time, int channel, const ParamState& state) {
    CMfxEvent e(state.mode == ParamMode::Rpn ? kMfxRpn : kMfxNrpn);
    e.time = time;
    e.channel = static_cast<std::uint8_t>(channel);
    e.SetNumber(static_cast<std::uint16_t>(state.paramMsb * 128 + state.paramLsb));
    e.SetValue(static_cast<std::uint16_t>(state.valueMsb * 128 + state.valueLsb));
    Append(track, std::move(e));
}

bool CMfxLoader::MergeValueLsb(CMfxTrack& track, std::int32_t time, int channel, const ParamState& state) {
    if (track.events.empty()) return false;
    CMfxEvent& last = track.events.back();
    const MfxEventType kind = state.mode == ParamMode::Rpn ? kMfxRpn : kMfxNrpn;
    if (last.type != kind || last.channel != channel ||
        last.GetNumber() != state.paramMsb * 128 + state.paramLsb || last.GetValue() != state.valueMsb * 128 ||
        std::int64_t{time} - last.time > kLsbMergeWindow)
        return false;
    last.SetValue(static_cast<std::uint16_t>(state.valueMsb * 128 + state.valueLsb));
    return true;
}

void CMfxLoader::Controller(CMfxTrack& track, std::int32_t time, int channel, int number, int value) {
    channel &= 0x0F;
    value &= 0x7F;
    ParamState& s = params_[static_cast<std::size_t>(channel)];
    const auto select = [&s, value](ParamMode mode, bool lsb) {
        if (!lsb || s.mode != mode) s.paramMsb = lsb ? 0 : value;
        s.mode = mode;
        if (lsb) s.paramLsb = value;
        if (!lsb) s.paramLsb = 0;
        s.valueMsb = s.valueLsb = 0;
    };
    switch (number) {
    case 101: select(ParamMode::Rpn, false); return;
    case 100: select(ParamMode::Rpn, true); return;
    case 99: select(ParamMode::Nrpn, false); return;
    case 98: select(ParamMode::Nrpn, true); return;
    default: break;
    }
    if (s.mode != ParamMode::None && (number == 6 || number == 38 || number == 96 || number == 97)) {
        const int current = s.valueMsb * 128 + s.valueLsb;
        int next = current;
        if (number == 6) next = value * 128;
        if (number == 38) next = s.valueMsb * 128 + value;
        if (number == 96 && current + 1 >= kParamValueMax) return;
        if (number == 96) next = current + 1;
        if (number == 97 && current == 0) return;
        if (number == 97) next = current - 1;
        s.valueMsb = next / 128;
        s.valueLsb = next % 128;
        if (number == 38 && MergeValueLsb(track, time, channel, s)) return;
        ParamEvent(track, time, channel, s);
        return;
    }
    CMfxEvent e(kMfxControl);
    e.time = time;
    e.channel = static_cast<std::uint8_t>(channel);
    e.SetNumber(static_cast<std::uint16_t>(number & 0x7F));
    e.SetValue(static_cast<std::uint16_t>(value));
    Append(track, std::move(e));
}

// ---- bank select

int CMfxLoader::FindBack(const CMfxTrack& track, std::int32_t time, int window, int channel, MfxEventType type,
                         int number) const {
    for (std::size_t i = track.events.size(); i-- > 0;) {
        const CMfxEvent& e = track.events[i];
        if (std::int64_t{time} - e.time > window) break;
        if (e.channel != channel || e.type != type) continue;
        if (type == kMfxPatch && e.program() >= 100) return static_cast<int>(i);
        if (type == kMfxControl && e.GetNumber() == number) return static_cast<int>(i);
    }
    return -1;
}

void CMfxLoader::ProgramChange(CMfxTrack& track, std::int32_t time, int channel, int program) {
    channel &= 0x0F;
    int bank = -1;
    std::uint8_t method = kBankSelectCc0Cc32;
    if (const int patch = FindBack(track, time, kPatchBankWindow, channel, kMfxPatch, 0); patch >= 0) {
        bank = track.events[static_cast<std::size_t>(patch)].program() - 100;
        method = kBankSelectPatch100;
        Erase(track, static_cast<std::size_t>(patch));
    } else {
        const int lsb = FindBack(track, time, kControllerBankWindow, channel, kMfxControl, 32);
        const int lsbValue = lsb >= 0 ? track.events[static_cast<std::size_t>(lsb)].GetValue() : 0;
        if (lsb >= 0) Erase(track, static_cast<std::size_t>(lsb));
        const int msb = FindBack(track, time, kControllerBankWindow, channel, kMfxControl, 0);
        const int msbValue = msb >= 0 ? track.events[static_cast<std::size_t>(msb)].GetValue() : 0;
        if (msb >= 0) Erase(track, static_cast<std::size_t>(msb));
        if (msb >= 0 && lsb >= 0) {
            bank = msbValue * 128 + lsbValue;
            method = kBankSelectCc0Cc32;
        } else if (msb >= 0) {
            bank = msbValue;
            method = kBankSelectCc0;
        } else if (lsb >= 0) {
            bank = lsbValue;
            method = kBankSelectCc32;
        }
    }
    CMfxEvent e(kMfxPatch);
    e.time = time;
    e.channel = static_cast<std::uint8_t>(channel);
    e.setPatch(dataByte(program), method, static_cast<std::int16_t>(bank));
    Append(track, std::move(e));
}

// ---- system exclusive

HRESULT CMfxLoader::SysEx(CMfxTrack& track, std::int32_t time, std::span<const std::uint8_t> message) {
    CMfxEvent e(kMfxSysx);
    e.time = time;
    if (message.size() > UINT32_MAX - kMfxBufferHeaderSize) return E_OUTOFMEMORY;
    if (const HRESULT hr = e.SetBuffer(message.data(), static_cast<std::uint32_t>(message.size())); hr != S_OK)
        return hr;
    if (!mfxIsResetMessage(message)) onlyResets_ = false;
    Append(track, std::move(e));
    return S_OK;
}

}  // namespace qvp3
