#include "platform/midi_out.h"

#include <utility>

namespace platform {

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
