#include "play/render_output.h"

#include <algorithm>
#include <array>
#include <new>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/files.h"
#include "play/play_model.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::kErrCreate;
using scorecore::kErrOutOfMemory;
using scorecore::kErrWrite;
using scorecore::kOk;

namespace {

bool rendering(const PlayScore& file) { return file.playModeNow() == kModeRender; }

bool knownTrack(const PlayScore& file, int32_t track) { return file.render.has(track); }

// The pending delta as a variable-length quantity; a negative counter counts
// as 0 and one past the largest quantity as that.
int deltaBytes(int delta, std::span<uint8_t, 4> out) {
    return scorecore::scMidiPutVarLen(out, std::clamp<int64_t>(delta, 0, scorecore::kMidiVarLenMax));
}

// Appends delta + head + tail to the track as one piece, so that a failure
// leaves neither a lone delta nor half an event. The bytes appended.
int appendEvent(PlayScore& file, int32_t track, std::span<const uint8_t> head, std::span<const uint8_t> tail) {
    const auto t = static_cast<std::size_t>(track);
    int& delta = file.render.delta(track);
    std::array<uint8_t, 16> buffer{};
    const int n = deltaBytes(delta, std::span<uint8_t, 4>(buffer.data(), 4));
    const auto used = static_cast<std::size_t>(n);
    if (head.size() > buffer.size() - used) return kErrOutOfMemory;
    std::copy(head.begin(), head.end(), buffer.begin() + static_cast<std::ptrdiff_t>(used));
    if (!file.render.streams[t].append(std::span(buffer.data(), used + head.size()), tail)) return kErrOutOfMemory;
    delta = 0;
    return static_cast<int>(used + head.size() + tail.size());
}

uint8_t dataByte(uint8_t value) { return std::min<uint8_t>(value, 127); }

bool channelStatus(uint8_t status) { return status >= 0x80 && status <= 0xEF; }

void countSetUp(PlayScore& file, int32_t track, int bytes) {
    if (bytes > 0 && knownTrack(file, track)) file.render.headerSizes[static_cast<std::size_t>(track)] += bytes;
}

void putBigEndian32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

}  // namespace

CRenderTrackSlot renderTrackSlot(PlayScore& file, int32_t track) {
    if (!rendering(file) || !knownTrack(file, track)) return {};
    return {&file.render.streams[static_cast<std::size_t>(track)], &file.render.delta(track)};
}

int renderPutShort(PlayScore& file, int32_t track, uint8_t status, uint8_t data1, uint8_t data2,
                   platform::MidiOutDevice* device) {
    if (!channelStatus(status)) return 0;
    const uint8_t d1 = dataByte(data1);
    const uint8_t d2 = dataByte(data2);
    if (!rendering(file)) {
        scorecore::scMidiSendShort(status, d1, d2, device != nullptr ? device : file.midiOut);
        return 0;
    }
    if (!knownTrack(file, track)) return 0;
    const bool oneDataByte = status >= 0xC0 && status <= 0xDF;
    const std::array<uint8_t, 3> message{status, d1, d2};
    return appendEvent(file, track, std::span(message.data(), oneDataByte ? 2 : 3), {});
}

int renderPutMeta(PlayScore& file, int32_t track, uint8_t type, std::span<const uint8_t> data) {
    if (!rendering(file) || !knownTrack(file, track)) return 0;
    if (data.size() > static_cast<uint64_t>(scorecore::kMidiVarLenMax)) return kErrOutOfMemory;
    std::array<uint8_t, 6> head{0xFF, type};
    const int sizeBytes =
        scorecore::scMidiPutVarLen(std::span<uint8_t, 4>(head.data() + 2, 4), static_cast<int64_t>(data.size()));
    return appendEvent(file, track, std::span(head.data(), 2 + static_cast<std::size_t>(sizeBytes)), data);
}

int renderPutSetUpShort(PlayScore& file, int32_t track, uint8_t status, uint8_t data1, uint8_t data2,
                        platform::MidiOutDevice* device) {
    const int n = renderPutShort(file, track, status, data1, data2, device);
    countSetUp(file, track, n);
    return n;
}

int renderPutSetUpMeta(PlayScore& file, int32_t track, uint8_t type, std::span<const uint8_t> data) {
    const int n = renderPutMeta(file, track, type, data);
    countSetUp(file, track, n);
    return n;
}

int renderPutSetUpText(PlayScore& file, int32_t track, uint8_t type, std::string_view text) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    return renderPutSetUpMeta(file, track, type, std::span(bytes, text.size()));
}

int renderFlushDelta(PlayScore& file, int32_t track) {
    if (!rendering(file) || !knownTrack(file, track)) return 0;
    return appendEvent(file, track, {}, {});
}

void renderAdvance(PlayScore& file, int64_t ticks) {
    if (rendering(file)) file.render.advance(ticks);
}

int renderPutTempo(PlayScore& file, int32_t tempo) {
    const uint32_t us = scorecore::scMidiTempoMicroseconds(tempo);
    const std::array<uint8_t, 3> data{static_cast<uint8_t>(us >> 16), static_cast<uint8_t>(us >> 8),
                                      static_cast<uint8_t>(us)};
    return renderPutMeta(file, 0, 0x51, data);
}

int renderPutTimeSignature(PlayScore& file, const scorecore::CMeter& meter) {
    if (meter.beats < 1 || meter.beats > 255 || meter.unitIndex < 0 || meter.unitIndex > 12) return 0;
    const std::array<uint8_t, 4> data{static_cast<uint8_t>(meter.beats), static_cast<uint8_t>(meter.unitIndex),
                                      scorecore::scMidiClocksPerClick(meter.unitIndex), 8};
    return renderPutMeta(file, 0, 0x58, data);
}

int renderPutKeySignature(PlayScore& file, int32_t fifths, int32_t mode) {
    const std::array<uint8_t, 2> data{static_cast<uint8_t>(static_cast<int8_t>(std::clamp(fifths, -7, 7))),
                                      static_cast<uint8_t>(mode == 1 ? 0 : 1)};
    return renderPutMeta(file, 0, 0x59, data);
}

int actualizePlaybackSound(PlayScore& file, int32_t staff, int32_t voice, platform::MidiOutDevice* device) {
    if (file.instruments.at(staff, voice) == nullptr) return 0;
    const uint8_t channel = file.instruments.midiChannel(staff, voice);
    const uint8_t program = file.instruments.midiProgram(staff, voice, true);
    int32_t track = 0;
    if (rendering(file)) {
        track = trackOfVoice(file.instruments, file.voiceCounts, file.controls.playConditions(), staff, voice);
        if (track < 0) return 0;
    }
    return renderPutShort(file, track, static_cast<uint8_t>(0xC0 | channel), program, 0, device);
}

std::string renderTrackName(std::string_view scannedName) {
    const std::size_t separator = scannedName.find_last_of("\\/");
    const std::string_view base =
        separator == std::string_view::npos ? scannedName : scannedName.substr(separator + 1);
    const std::size_t dot = base.find_last_of('.');
    if (dot == std::string_view::npos || dot == 0) return std::string(base);
    return std::string(base.substr(0, dot));
}

int renderTrackZeroHeader(PlayScore& file) {
    if (!rendering(file)) return kOk;
    if (renderPutSetUpText(file, 0, kMetaTrackName, renderTrackName(file.fnScanned)) < 0) return kErrOutOfMemory;
    std::string copyright;
    try {
        copyright.push_back(static_cast<char>(0xA9));
        copyright += kRenderBanner;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    if (renderPutSetUpText(file, 0, kMetaCopyright, copyright) < 0) return kErrOutOfMemory;
    return kOk;
}

void renderReserveTracks(PlayScore& file, uint64_t playConditions) {
    if (!rendering(file)) return;
    // A head takes a note-on and a note-off with their deltas, about 8 bytes
    // on average; the names and set-up of a track fit in the rest. A track
    // that needs more grows as before.
    constexpr std::size_t kBytesPerHead = 9;
    constexpr std::size_t kBytesPerTrack = 256;
    std::vector<std::size_t> bytes(file.render.streams.size(), kBytesPerTrack);
    const int32_t staves = std::min(static_cast<int32_t>(file.voiceCounts.size()), file.events.rowCount());
    for (int32_t s = 0; s < staves; ++s) {
        for (int32_t v = 0; v < file.voiceCounts[static_cast<std::size_t>(s)]; ++v) {
            const int32_t track = trackOfVoice(file.instruments, file.voiceCounts, playConditions, s, v);
            if (track < 0 || static_cast<std::size_t>(track) >= bytes.size()) continue;
            for (const scorecore::CScoreEvent& e : file.events.events(s, v)) {
                bytes[static_cast<std::size_t>(track)] +=
                    kBytesPerHead * static_cast<std::size_t>(std::clamp(e.headCount, 0, scorecore::kMaxHeads));
            }
        }
    }
    // Track 0 takes the tempo, meter and key marks, about as many bytes each.
    const int32_t global = file.events.globalRow();
    if (global >= 0 && !bytes.empty()) bytes[0] += kBytesPerHead * file.events.events(global, 0).size();
    for (std::size_t t = 0; t < bytes.size(); ++t) file.render.streams[t].reserve(bytes[t]);
}

int renderMetronomeTrack(PlayScore& file, int32_t track) {
    if (!rendering(file) || !knownTrack(file, track)) return kOk;
    const auto channel = static_cast<uint8_t>(std::min<uint8_t>(file.metronom.Channel, kChannels - 1));
    const uint8_t volume = dataByte(file.metronom.Volume);
    const auto status = static_cast<uint8_t>(0xB0 | channel);
    if (renderPutSetUpShort(file, track, status, 7, volume) < 0) return kErrOutOfMemory;
    file.lastVolume[channel] = volume;
    if (renderPutSetUpShort(file, track, status, 10, kDefaultPan) < 0) return kErrOutOfMemory;
    file.lastPan[channel] = kDefaultPan;
    if (renderPutSetUpText(file, track, kMetaTrackName, kMetronomeTrackName) < 0) return kErrOutOfMemory;
    return kOk;
}

namespace {

// Every track ends with a zero delta and the end-of-track event, counted as
// set-up so that it does not make an empty track look used.
int endTracks(PlayScore& file) {
    for (int32_t t = 0; t < file.render.count(); ++t) {
        if (!knownTrack(file, t)) break;
        file.render.delta(t) = 0;
        if (renderPutSetUpMeta(file, t, kMetaEndOfTrack, {}) < 0) return kErrOutOfMemory;
    }
    return kOk;
}

// The tracks the file holds: track 0 and those that hold more than their
// set-up, in track order; false when the file cannot say so many tracks.
bool writtenTracks(const PlayScore& file, std::vector<std::size_t>& written) {
    const CRenderTracks& r = file.render;
    written.assign(1, 0);
    for (std::size_t t = 1; t < r.streams.size() && t < r.headerSizes.size(); ++t) {
        if (static_cast<int64_t>(r.streams[t].length()) > r.headerSizes[t]) written.push_back(t);
    }
    return written.size() <= 0xFFFF && file.ticksPerQuarter >= 1 && file.ticksPerQuarter <= 0x7FFF;
}

// The header chunk and the track chunks, each straight from its stream: the
// file is never held a second time in one block.
bool writeChunks(const PlayScore& file, const std::vector<std::size_t>& written, platform::AtomicFileWriter& writer) {
    const CRenderTracks& r = file.render;
    scorecore::CMidiFileHeader header;
    header.format = 1;
    header.tracks = static_cast<uint16_t>(written.size());
    header.division = static_cast<uint16_t>(file.ticksPerQuarter);
    const auto head = scorecore::scMidiFillFileHeader(header);
    if (!writer.write(head.data(), head.size())) return false;
    for (std::size_t t : written) {
        std::vector<uint8_t> chunk{'M', 'T', 'r', 'k'};
        putBigEndian32(chunk, r.streams[t].length());
        const auto body = r.streams[t].bytes();
        if (!writer.write(chunk.data(), chunk.size()) || (!body.empty() && !writer.write(body.data(), body.size()))) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool renderTargetIsSource(const PlayScore& file, const std::filesystem::path& target) {
    return platform::isSameFile(target, std::filesystem::path(file.fnScanned)) ||
           platform::isSameFile(target, std::filesystem::path(file.fnOriginal));
}

int renderWriteMidiFile(PlayScore& file, const std::filesystem::path& target) {
    if (renderTargetIsSource(file, target)) return kErrCreate;
    if (!rendering(file) || file.render.count() < 1 || !knownTrack(file, 0)) return kErrWrite;
    if (endTracks(file) != kOk) return kErrOutOfMemory;
    std::vector<std::size_t> written;
    try {
        if (!writtenTracks(file, written)) return kErrWrite;
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    platform::AtomicFileWriter writer(target);
    if (!writer.open()) {
        file.logStep("mxmlPlayProc", writer.error());
        return kErrCreate;
    }
    bool ok = false;
    try {
        ok = writeChunks(file, written, writer) && writer.commit();
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;  // the writer drops what it wrote
    }
    if (!ok) {
        file.logStep("mxmlPlayProc", writer.error());
        return kErrWrite;
    }
    return kOk;
}

}  // namespace scoreconv
