#include "sounding_notes.h"

namespace platform::midi {

void SoundingNotes::track(const ShortMessageBytes& message) {
    if (message.size != 3) return;
    const std::uint8_t kind = message.bytes[0] & 0xF0;
    const std::size_t channel = message.bytes[0] & 0x0F;
    const std::size_t key = message.bytes[1];
    if (kind == 0x90 && message.bytes[2] > 0) sounding_[channel].set(key);
    else if (kind == 0x80 || kind == 0x90) sounding_[channel].reset(key);
}

std::vector<std::uint32_t> SoundingNotes::silence() {
    std::vector<std::uint32_t> messages;
    for (std::size_t channel = 0; channel < sounding_.size(); ++channel) {
        const auto status = static_cast<std::uint8_t>(0x80 | channel);
        for (std::size_t key = 0; key < 128; ++key) {
            if (sounding_[channel].test(key)) messages.push_back(packShortMessage(status, static_cast<std::uint8_t>(key), 0));
        }
        sounding_[channel].reset();
    }
    for (std::uint8_t channel = 0; channel < 16; ++channel) {
        const auto status = static_cast<std::uint8_t>(0xB0 | channel);
        messages.push_back(packShortMessage(status, 64, 0));   // sustain pedal up
        messages.push_back(packShortMessage(status, 123, 0));  // all notes off
    }
    return messages;
}

}  // namespace platform::midi
