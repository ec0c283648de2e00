#include "play/track_names.h"

#include <array>
#include <new>
#include <span>
#include <string>
#include <string_view>

#include "play/play_model.h"
#include "play/render_output.h"
#include "scorecore/result_codes.h"

namespace scoreconv {

using scorecore::kErrOutOfMemory;
using scorecore::kOk;

namespace {

// The General MIDI percussion names of keys 35 to 81.
constexpr int32_t kFirstDrumKey = 35;
constexpr std::array<std::string_view, 47> kDrumNames = {
    "Acoustic Bass Drum", "Bass Drum 1",    "Side Stick",     "Acoustic Snare", "Hand Clap",
    "Electric Snare",     "Low Floor Tom",  "Closed Hi-Hat",  "High Floor Tom", "Pedal Hi-Hat",
    "Low Tom",            "Open Hi-Hat",    "Low-Mid Tom",    "Hi-Mid Tom",     "Crash Cymbal 1",
    "High Tom",           "Ride Cymbal 1",  "Chinese Cymbal", "Ride Bell",      "Tambourine",
    "Splash Cymbal",      "Cowbell",        "Crash Cymbal 2", "Vibraslap",      "Ride Cymbal 2",
    "Hi Bongo",           "Low Bongo",      "Mute Hi Conga",  "Open Hi Conga",  "Low Conga",
    "High Timbale",       "Low Timbale",    "High Agogo",     "Low Agogo",      "Cabasa",
    "Maracas",            "Short Whistle",  "Long Whistle",   "Short Guiro",    "Long Guiro",
    "Claves",             "Hi Wood Block",  "Low Wood Block", "Mute Cuica",     "Open Cuica",
    "Mute Triangle",      "Open Triangle",
};

int nameTrack(PlayScore& file, int32_t track, const std::string& name) {
    return renderPutSetUpText(file, track, kMetaTrackName, name) < 0 ? kErrOutOfMemory : kOk;
}

}  // namespace

std::string percussionTrackName(int32_t key) {
    const int32_t index = key - kFirstDrumKey;
    if (index >= 0 && index < static_cast<int32_t>(kDrumNames.size())) {
        return std::string(kDrumNames[static_cast<std::size_t>(index)]);
    }
    return "[" + std::to_string(key) + "]";
}

int writeTrackNames(PlayScore& file) {
    if (file.playModeNow() != kModeRender) return kOk;
    try {
        const std::span<const int32_t> voices(file.voiceCounts);
        const bool drumTracks = (file.controls.playConditions() & kCondPercussionTracks) != 0;
        for (int32_t s = 0; s < static_cast<int32_t>(voices.size()); ++s) {
            const int32_t first =
                planTracks(file.instruments, voices.first(static_cast<std::size_t>(s)), file.controls.playConditions(), false, false)
                    .count;
            if (drumTracks && file.instruments.isPercussionStaff(s)) {
                const auto records = file.instruments.list(s);
                for (std::size_t i = 0; i < records.size(); ++i) {
                    const int rc = nameTrack(file, first + static_cast<int32_t>(i), percussionTrackName(records[i].PercNote));
                    if (rc != kOk) return rc;
                }
                continue;
            }
            const int32_t used = voices[static_cast<std::size_t>(s)];
            const std::string staffName =
                static_cast<std::size_t>(s) < file.staffNames.size() ? file.staffNames[static_cast<std::size_t>(s)].name : "";
            for (int32_t v = 0; v < used; ++v) {
                const std::string name = used == 1 ? staffName : staffName + "-" + std::to_string(v + 1);
                if (const int rc = nameTrack(file, first + v, name); rc != kOk) return rc;
            }
        }
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return kOk;
}

}  // namespace scoreconv
