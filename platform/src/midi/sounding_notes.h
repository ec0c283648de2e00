// Which keys a device has been told to sound, so that a reset can switch each
// of them off: a receiver that ignores "all notes off" still goes silent.
#pragma once

#include "platform/midi_out.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <vector>

namespace platform::midi {

class SoundingNotes {
public:
    // Follows note-ons and note-offs (a note-on with velocity 0 is a
    // note-off); other messages change nothing.
    void track(const ShortMessageBytes& message);

    // The messages that silence the device, in sending order: a note-off for
    // every sounding key, then on each of the 16 channels the sustain pedal up
    // and all notes off. Forgets the sounding keys.
    std::vector<std::uint32_t> silence();

private:
    std::array<std::bitset<128>, 16> sounding_;
};

}  // namespace platform::midi
