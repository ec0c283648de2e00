// Standard MIDI File bytes for tests, written as sequencers and notation
// programs write them: chunks, events with or without running status, meta
// events, the RIFF wrapper of ".rmi" files.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qvp3::testing {

inline std::string bigEndian(std::uint32_t value, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(value >> (8 * i) & 0xFF);
    return out;
}

inline std::string littleEndian(std::uint32_t value) {
    std::string out;
    for (int i = 0; i < 4; ++i) out += static_cast<char>(value >> (8 * i) & 0xFF);
    return out;
}

inline std::string quantity(std::uint32_t value) {
    std::string out(1, static_cast<char>(value & 0x7F));
    while ((value >>= 7) != 0) out.insert(out.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    return out;
}

// A delta time and the event's bytes as they stand in the file (a running
// status event simply leaves its status out).
inline std::string ev(std::uint32_t delta, std::initializer_list<int> bytes) {
    std::string out = quantity(delta);
    for (int b : bytes) out += static_cast<char>(b);
    return out;
}

inline std::string meta(std::uint32_t delta, int type, std::string_view data) {
    return quantity(delta) + '\xFF' + static_cast<char>(type) + quantity(static_cast<std::uint32_t>(data.size())) +
           std::string(data);
}

inline std::string tempo(std::uint32_t delta, std::uint32_t perQuarter) { return meta(delta, 0x51, bigEndian(perQuarter, 3)); }
inline std::string meter(std::uint32_t delta, int beats, int unitPower) {
    return meta(delta, 0x58, std::string{static_cast<char>(beats), static_cast<char>(unitPower), 24, 8});
}
inline std::string name(std::string_view text) { return meta(0, 0x03, text); }
inline std::string endOfTrack(std::uint32_t delta = 0) { return meta(delta, 0x2F, ""); }

inline std::string header(int format, int tracks, int division) {
    return "MThd" + bigEndian(6, 4) + bigEndian(static_cast<std::uint32_t>(format), 2) +
           bigEndian(static_cast<std::uint32_t>(tracks), 2) + bigEndian(static_cast<std::uint32_t>(division), 2);
}

inline std::string track(std::string_view events) {
    return "MTrk" + bigEndian(static_cast<std::uint32_t>(events.size()), 4) + std::string(events);
}

inline std::string smf(int format, int division, std::initializer_list<std::string> tracks) {
    std::string out = header(format, static_cast<int>(tracks.size()), division);
    for (const std::string& t : tracks) out += track(t);
    return out;
}

// The wrapper of ".rmi" files.
inline std::string riff(const std::string& midi) {
    return "RIFF" + littleEndian(static_cast<std::uint32_t>(midi.size() + 12)) + "RMID" + "data" +
           littleEndian(static_cast<std::uint32_t>(midi.size())) + midi;
}

// A chunk in the layout of the file's own chunks (big-endian length, no
// padding), of any type: the private chunks some programs put between tracks.
inline std::string privateChunk(std::string_view tag, std::string_view data) {
    return std::string(tag) + bigEndian(static_cast<std::uint32_t>(data.size()), 4) + std::string(data);
}

// A RIFF chunk: little-endian length, data padded to an even size.
inline std::string riffChunk(std::string_view tag, std::string_view data) {
    std::string out = std::string(tag) + littleEndian(static_cast<std::uint32_t>(data.size())) + std::string(data);
    if (data.size() % 2 != 0) out += '\0';
    return out;
}

// The ".rmi" wrapper as a player writes it: the data chunk (padded when its
// length is odd), then further chunks such as an INFO list.
inline std::string riffWithChunks(const std::string& midi, const std::string& chunksAfter) {
    const std::string body = "RMID" + riffChunk("data", midi) + chunksAfter;
    return "RIFF" + littleEndian(static_cast<std::uint32_t>(body.size())) + body;
}

}  // namespace qvp3::testing
