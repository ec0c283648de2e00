// MIDI output devices. The score library and its players talk to one
// interface; real backends (sequencer ports, a built-in synthesizer) and the
// capture device for tests implement it.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <vector>

namespace platform {

// Packs a channel message as devices take it: status in bits 0-7, first data
// byte in bits 8-15, second data byte in bits 16-23.
constexpr std::uint32_t packShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
    return static_cast<std::uint32_t>(status) | static_cast<std::uint32_t>(data1) << 8 |
           static_cast<std::uint32_t>(data2) << 16;
}

// A channel or system message as the bytes a MIDI cable carries.
struct ShortMessageBytes {
    std::array<std::uint8_t, 3> bytes{};
    std::size_t size = 0;  // 0: malformed

    std::span<const std::uint8_t> view() const { return {bytes.data(), size}; }
};

// Unpacks a packed message into its wire bytes: three for notes, key
// pressure, controllers, pitch bend and song position; two for program,
// channel pressure, time code and song select; one for the other system
// messages. Bytes past the message's length are ignored. Size 0 when the
// message is malformed: no status byte (running status is not supported), a
// data byte with its top bit set, or 0xF0 / 0xF7, which only longMessage
// carries.
ShortMessageBytes decodeShortMessage(std::uint32_t packed);

// An open MIDI output. Calls may come from any thread; a backend serialises
// them itself.
class MidiOutDevice {
public:
    virtual ~MidiOutDevice() = default;

    // Sends one channel or system common message, packed as
    // packShortMessage() does (bits 24-31 are ignored); false when the device
    // refused it.
    virtual bool shortMessage(std::uint32_t packed) = 0;
    // Sends a system-exclusive message (the bytes from 0xF0 to 0xF7); false
    // when the device refused it or the message is empty.
    virtual bool longMessage(std::span<const std::uint8_t> bytes) = 0;
    // Silences the device: all notes off on every channel.
    virtual bool reset() = 0;
};

// Test and headless backend: logs every message with the time it arrived.
// Thread-safe; the clock is called under the device's lock, so the log is in
// time order and the clock must not call back into the device.
class CaptureMidiOut : public MidiOutDevice {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    struct Message {
        enum class Kind { Short, Long, Reset };
        Kind kind = Kind::Short;
        std::chrono::steady_clock::time_point time;
        std::uint32_t packed = 0;          // Short only
        std::vector<std::uint8_t> bytes;   // Long only
    };

    // Without a clock, steady_clock::now() stamps the messages.
    explicit CaptureMidiOut(Clock clock = {});

    bool shortMessage(std::uint32_t packed) override;
    bool longMessage(std::span<const std::uint8_t> bytes) override;
    bool reset() override;

    std::vector<Message> messages() const;
    std::size_t count() const;
    void clear();

private:
    void record(Message message);

    const Clock clock_;
    mutable std::mutex mutex_;
    std::vector<Message> log_;
};

}  // namespace platform
