// The audio engine as the project store sees it: the plug-in catalogue of
// the program's output-device model and its sample player, behind the
// project's neighbour interface. Also the sample-library assignment of an
// entry's sounds, as the project file keeps it.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "qvp3_audio/instrument_table.h"
#include "qvp3_project/neighbours.h"
#include "qvp3_project/project_entry.h"

namespace qvp3 {

class COutputDeviceModel;
class CSamplePlayer;

class CatalogAudioServices : public AudioEngineServices {
public:
    // The model (its catalogue may be missing) must outlive this; the player may come later.
    explicit CatalogAudioServices(COutputDeviceModel& devices) : devices_(devices) {}
    void setSamplePlayer(CSamplePlayer* player) { player_ = player; }

    int findEffect(std::string_view name) override;
    int countPresentInstruments() override;
    bool isQvoPlugIn(int catalogIndex) override;
    std::optional<std::vector<std::uint8_t>> saveSamplerSetup(int samplerIndex) override;
    // The setup's bytes with the instrument's name and the kind of setup, so
    // that it is given back to that instrument only.
    void captureSamplerSetup(ProjectEntry& entry) override;
    void clearInstrumentUse(int catalogIndex) override;
    int useInstrument(std::string_view name, std::string& displayName) override;

private:
    COutputDeviceModel& devices_;
    CSamplePlayer* player_ = nullptr;
};

// Whether a catalogue name is the sample-library plug-in's (false when empty).
bool audIsQvoPlugInName(std::string_view name);

// The sounds an entry's assignment block holds: the MIDI programs 0..127
// and the percussion sounds up to key 87 (key + kQvoPercussionBase).
inline constexpr int kQvoAssignedSounds = static_cast<int>(kQvoAssignmentSize / 4);

// A sound's sample-library instrument and program; -1 each when it has none
// (a sound outside the block has none). The block stores each as a 16-bit
// little-endian number one above the index, so that the zeros of a fresh
// entry mean "not assigned".
QvoMapEntry audQvoAssignment(const ProjectEntry& entry, int sound);
// False (nothing stored) for a sound outside the block.
bool audSetQvoAssignment(ProjectEntry& entry, int sound, QvoMapEntry assignment);
// The entry's assignments as the instrument table's program map.
std::array<QvoMapEntry, kQvoMapSize> audQvoProgramMap(const ProjectEntry& entry);

}  // namespace qvp3
