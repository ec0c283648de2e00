#include "platform/midi_out.h"

#include <utility>

namespace platform {

ShortMessageBytes decodeShortMessage(std::uint32_t packed) {
    ShortMessageBytes message;
    const auto status = static_cast<std::uint8_t>(packed & 0xFF);
    if (status < 0x80 || status == 0xF0 || status == 0xF7) return message;

    std::size_t size = 1;
    switch (status & 0xF0) {
        case 0xC0:
        case 0xD0: size = 2; break;
        case 0xF0:
            if (status == 0xF2) size = 3;
            else if (status == 0xF1 || status == 0xF3) size = 2;
            break;
        default: size = 3; break;
    }
    for (std::size_t i = 0; i < size; ++i) {
        const auto byte = static_cast<std::uint8_t>((packed >> (8 * i)) & 0xFF);
        if (i > 0 && byte >= 0x80) return message;
        message.bytes[i] = byte;
    }
    message.size = size;
    return message;
}

CaptureMidiOut::CaptureMidiOut(Clock clock) : clock_(std::move(clock)) {}

bool CaptureMidiOut::shortMessage(std::uint32_t packed) {
    Message message;
    message.kind = Message::Kind::Short;
    message.packed = packed & 0x00FFFFFFu;
    record(std::move(message));
    return true;
}

bool CaptureMidiOut::longMessage(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return false;
    Message message;
    message.kind = Message::Kind::Long;
    message.bytes.assign(bytes.begin(), bytes.end());
    record(std::move(message));
    return true;
}

bool CaptureMidiOut::reset() {
    Message message;
    message.kind = Message::Kind::Reset;
    record(std::move(message));
    return true;
}

std::vector<CaptureMidiOut::Message> CaptureMidiOut::messages() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::size_t CaptureMidiOut::count() const {
    std::lock_guard lock(mutex_);
    return log_.size();
}

void CaptureMidiOut::clear() {
    std::lock_guard lock(mutex_);
    log_.clear();
}

void CaptureMidiOut::record(Message message) {
    std::lock_guard lock(mutex_);
    message.time = clock_ ? clock_() : std::chrono::steady_clock::now();
    log_.push_back(std::move(message));
}

}  // namespace platform
