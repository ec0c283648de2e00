// ALSA sequencer ports through RtMidi. Where the machine has no sequencer,
// creating the RtMidi client throws: that only means there are no ports.

#include "midi_backends.h"
#include "sounding_notes.h"

#include <RtMidi.h>

#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace platform::midi {
namespace {

constexpr const char* kClientName = "qvp3";

// Without a callback RtMidi prints its errors and throws from any call; with
// one, a call reports through it and returns.
struct ErrorSink {
    std::string text;
    static void receive(RtMidiError::Type, const std::string& message, void* self) {
        static_cast<ErrorSink*>(self)->text = message;
    }
};

// A client on the sequencer; nothing (and error set) when there is none.
std::unique_ptr<RtMidiOut> connectClient(ErrorSink& sink, std::string* error) {
    try {
        auto client = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, kClientName);
        client->setErrorCallback(&ErrorSink::receive, &sink);
        return client;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return nullptr;
    }
}

// The names of client's ports by port number; empty for a port that vanished
// while being read.
std::vector<std::string> portNames(RtMidiOut& client, ErrorSink& sink) {
    std::vector<std::string> names;
    const unsigned count = client.getPortCount();
    for (unsigned port = 0; port < count; ++port) {
        sink.text.clear();
        std::string name = client.getPortName(port);
        names.push_back(sink.text.empty() ? std::move(name) : std::string());
    }
    return names;
}

class AlsaMidiOut : public MidiOutDevice {
public:
    AlsaMidiOut(std::unique_ptr<RtMidiOut> client, std::unique_ptr<ErrorSink> sink)
        : sink_(std::move(sink)), client_(std::move(client)) {}
    ~AlsaMidiOut() override { reset(); }
    AlsaMidiOut(const AlsaMidiOut&) = delete;
    AlsaMidiOut& operator=(const AlsaMidiOut&) = delete;

    bool shortMessage(std::uint32_t packed) override {
        const ShortMessageBytes message = decodeShortMessage(packed);
        if (message.size == 0) return false;
        std::lock_guard lock(mutex_);
        notes_.track(message);
        return send(message.view());
    }

    bool longMessage(std::span<const std::uint8_t> bytes) override {
        if (bytes.empty()) return false;
        std::lock_guard lock(mutex_);
        return send(bytes);
    }

    bool reset() override {
        std::lock_guard lock(mutex_);
        bool ok = true;
        for (const std::uint32_t packed : notes_.silence()) ok = send(decodeShortMessage(packed).view()) && ok;
        return ok;
    }

private:
    bool send(std::span<const std::uint8_t> bytes) {
        sink_->text.clear();
        try {
            client_->sendMessage(bytes.data(), bytes.size());
        } catch (const std::exception&) {
            return false;
        }
        return sink_->text.empty();
    }

    std::mutex mutex_;
    std::unique_ptr<ErrorSink> sink_;  // outlives the client that reports to it
    std::unique_ptr<RtMidiOut> client_;
    SoundingNotes notes_;
};

}  // namespace

std::vector<std::string> alsaDeviceNames() {
    ErrorSink sink;
    std::unique_ptr<RtMidiOut> client = connectClient(sink, nullptr);
    if (!client) return {};
    std::vector<std::string> names;
    try {
        names = portNames(*client, sink);
    } catch (const std::exception&) {
        return {};
    }
    std::erase(names, std::string());
    return names;
}

MidiOutOpenResult openAlsaDevice(std::string_view deviceName) {
    auto sink = std::make_unique<ErrorSink>();
    std::string error;
    std::unique_ptr<RtMidiOut> client = connectClient(*sink, &error);
    if (!client) return {nullptr, "no ALSA sequencer on this machine: " + error};
    try {
        const std::vector<std::string> names = portNames(*client, *sink);
        for (unsigned port = 0; port < names.size(); ++port) {
            if (names[port].empty() || names[port] != deviceName) continue;
            sink->text.clear();
            client->openPort(port, kClientName);
            if (!client->isPortOpen())
                return {nullptr, "cannot open the MIDI port " + std::string(deviceName) + ": " + sink->text};
            return {std::make_unique<AlsaMidiOut>(std::move(client), std::move(sink)), {}};
        }
    } catch (const std::exception& e) {
        return {nullptr, "cannot open the MIDI port " + std::string(deviceName) + ": " + e.what()};
    }
    return {nullptr, "the MIDI port " + std::string(deviceName) + " is gone"};
}

}  // namespace platform::midi
