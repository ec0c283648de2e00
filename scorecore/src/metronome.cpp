#include "scorecore/metronome.h"

#include <algorithm>
#include <cstddef>
#include <new>
#include <utility>

namespace scorecore {

namespace {

constexpr uint8_t kNoteOn = 0x90;
constexpr uint8_t kControl = 0xB0;
constexpr uint8_t kProgramChange = 0xC0;
constexpr uint8_t kControllerVolume = 7;
constexpr uint8_t kControllerPan = 10;
constexpr uint8_t kAccentVelocity = 127;

uint8_t dataByte(uint8_t value) { return std::min<uint8_t>(value, 127); }

// Adds one message after the pending delta; false when the stream cannot grow.
bool put(CMidiTrackStream* stream, int& delta, uint8_t status, uint8_t data1, uint8_t data2,
         platform::MidiOutDevice* device, int& total) {
    const int deltaBytes = scMidiPutDelta(stream, delta);
    if (deltaBytes < 0) return false;
    const int messageBytes = scMidiPutShort(stream, status, data1, data2, device);
    if (messageBytes < 0) return false;
    total += deltaBytes + messageBytes;
    return true;
}

// Sends a controller or program only when the caller's memory says it changed.
bool changed(const uint8_t* last, uint8_t value) { return !last || *last != value; }

bool validBar(const CMeter& meter) {
    return meter.beats >= 1 && meter.beats <= kMetronomeMaxBeats && meter.ticksPerBeat > 0;
}

}  // namespace

bool CMetronom::patternClicks(int32_t beats, int32_t c) const {
    switch (Frequency) {
    case 0: return true;
    case 1: return c == beats / 2 + 1;
    case 2: return c % 2 == 1;
    case 3: return (c - 1) % 3 == 0;
    case 4: return c % 4 == 1;
    default: return false;
    }
}

bool CMetronom::clicksLive(int32_t beats, int32_t c) const {
    if (c < 1 || c > beats) return false;
    if (c == 1) return true;
    if (c == beats) return LastBeat != 0;
    return patternClicks(beats, c);
}

int32_t CMetronom::countClicks(int32_t beats) const {
    if (beats < 1 || beats > kMetronomeMaxBeats) return 0;
    int32_t clicks = 0;
    for (int32_t c = 1; c <= beats; ++c)
        if (clicksLive(beats, c)) ++clicks;
    return clicks;
}

bool CMetronom::isClickBeat(int32_t beats, int32_t n) const {
    if (n < 1 || n > beats) return false;
    if (n == 1) return true;
    if (n == beats && LastBeat != 0) return true;
    return patternClicks(beats, n);
}

uint8_t CMetronom::channel() const { return std::min<uint8_t>(Channel, 15); }

int CMetronom::clickOff(platform::MidiOutDevice* device, CMidiTrackStream* stream, int& delta) {
    if (sounding == kMetronomeSilent) return 0;
    int total = 0;
    if (!put(stream, delta, static_cast<uint8_t>(kNoteOn | channel()), dataByte(sounding), 0, device, total)) return -1;
    sounding = kMetronomeSilent;
    return total;
}

int CMetronom::emitClick(platform::MidiOutDevice* device, bool force, bool accent, bool stopOnly,
                         uint8_t* lastVolume, uint8_t* lastPan, CMidiTrackStream* stream, int& delta,
                         uint8_t* lastProgram) {
    int total = clickOff(device, stream, delta);
    if (total < 0) return -1;
    if (stopOnly || !(force || Use)) return total;

    const uint8_t ch = channel();
    const uint8_t program = dataByte(Program);
    const uint8_t volume = dataByte(Volume);
    const uint8_t pan = dataByte(Pan);
    if (ch != kPercussionChannel && changed(lastProgram, program)) {
        if (!put(stream, delta, static_cast<uint8_t>(kProgramChange | ch), program, 0, device, total)) return -1;
        if (lastProgram) *lastProgram = program;
    }
    if (changed(lastVolume, volume)) {
        if (!put(stream, delta, static_cast<uint8_t>(kControl | ch), kControllerVolume, volume, device, total))
            return -1;
        if (lastVolume) *lastVolume = volume;
    }
    if (changed(lastPan, pan)) {
        if (!put(stream, delta, static_cast<uint8_t>(kControl | ch), kControllerPan, pan, device, total)) return -1;
        if (lastPan) *lastPan = pan;
    }
    const uint8_t key = dataByte(Instrument);
    const uint8_t velocity = accent && FirstBeat ? kAccentVelocity : dataByte(Velocity);
    if (!put(stream, delta, static_cast<uint8_t>(kNoteOn | ch), key, velocity, device, total)) return -1;
    sounding = key;
    return total;
}

int CMetronom::clickFreq(platform::MidiOutDevice* device, bool force, int32_t beats, int32_t beat,
                         uint8_t* lastVolume, uint8_t* lastPan, CMidiTrackStream* stream, int& delta,
                         uint8_t* lastProgram) {
    const bool validBeat = beats >= 1 && beats <= kMetronomeMaxBeats && beat >= 1 && beat <= beats;
    const bool clicks = validBeat && (force || clicksLive(beats, beat));
    return emitClick(device, force, beat == 1, !clicks, lastVolume, lastPan, stream, delta, lastProgram);
}

uint8_t CMetronom::listVelocity(int32_t beat) const {
    return dataByte(beat == 1 && FirstBeat ? Volume : Velocity);
}

bool CMetronom::buildBarClicks(const CMeter& meter) {
    const bool valid = validBar(meter);
    const int32_t beats = valid ? meter.beats : 0;
    const uint8_t key = dataByte(Instrument);
    try {
        std::vector<CPlayerItem> items;
        items.reserve(static_cast<std::size_t>(beats) + 3);
        items.push_back(makeMarkerItem(kMarkerStart, 0));
        items.push_back(makeAnchorItem());
        for (int32_t beat = 1; beat <= beats; ++beat) {
            if (isClickBeat(beats, beat)) {
                const uint8_t velocity = listVelocity(beat);
                items.push_back(makeNoteItem(kNoteTimed | kNotePlain, velocity, velocity, key, kNoteLengthQuarter, 0,
                                             meter.ticksPerBeat));
            } else {
                items.push_back(makeRestItem(meter.ticksPerBeat));
            }
        }
        items.push_back(makeEndItem());
        barClickItems = std::move(items);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool CMetronom::buildCountIn(const CMeter& meter, int32_t start) {
    const bool valid = validBar(meter);
    const int32_t beats = valid ? meter.beats : 0;
    const int32_t bars = std::clamp(CountIn, 0, kMetronomeMaxCountIn);
    const uint8_t key = dataByte(Instrument);
    const bool withProgram = channel() != kPercussionChannel;
    try {
        std::vector<CPlayerItem> items;
        items.reserve(static_cast<std::size_t>(bars * beats * 2 + 3));
        items.push_back(makeMarkerItem(kMarkerStart, start, withProgram ? dataByte(Program) : 0,
                                       withProgram ? kMarkerHasProgram : 0));
        items.push_back(makeAnchorItem());
        for (int32_t bar = 0; bar < bars; ++bar) {
            for (int32_t beat = 1; beat <= beats; ++beat) {
                if (isClickBeat(beats, beat)) {
                    items.push_back(makeNoteOnItem(key, listVelocity(beat), meter.ticksPerBeat));
                    items.push_back(makeNoteOffItem(key, 0, 0));
                } else {
                    items.push_back(makeRestItem(meter.ticksPerBeat));
                }
            }
        }
        items.push_back(makeEndItem());
        countInItems = std::move(items);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CMetronom::clear() {
    std::vector<CPlayerItem>().swap(countInItems);
    std::vector<CPlayerItem>().swap(barClickItems);
}

}  // namespace scorecore
