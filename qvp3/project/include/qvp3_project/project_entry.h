// One file of a project and the settings of every step for it. The record is
// shared by the project store (which stores it in the project file), the
// pipeline (which opens the file and builds its play model) and the step pages.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "qvp3_project/neighbours.h"
#include "scorecore/metronome.h"
#include "scorecore/midi_stream.h"
#include "scorecore/staff_voice_states.h"
#include "scorecore/tune_up.h"

namespace qvp3 {

class Project;

// The kind of source an entry was opened as.
enum class EntryKind : std::int32_t {
    Unset = -1,
    Midi = 14,         // Standard MIDI File
    BinaryScore = 17,  // "tvr3" score
    MusicXml = 18,     // MusicXML, only while it is being converted
    TvrXml = 19,       // TvrXML score (also every converted MusicXML file)
};

// Scores are played by the score engine; everything else by the sequencer.
inline bool isScoreKind(EntryKind kind) { return kind == EntryKind::BinaryScore || kind == EntryKind::TvrXml; }

// Entry states in which the entry is playing.
inline constexpr std::int32_t kEntryPlaying = 2;
inline constexpr std::int32_t kEntryPlayingAlt = 10;

// The play settings of one voice of an entry (index: ProjectEntry::voiceIndex).
struct VoicePlayRecord {
    static constexpr std::uint8_t kMuted = 0x01;       // flags bit 0
    static constexpr std::uint8_t kChannelSet = 0x08;  // flags bit 3; the channel is the high nibble

    std::uint8_t state = 0;
    std::uint8_t sound = 0;        // program; above 127 a percussion sound
    std::int8_t volume = 100;
    std::uint8_t lowBits = 0x0F;   // low four bits start as 1111
    std::int8_t transposition = 0; // the first record's value is the entry's transposition
    std::int8_t panorama = 64;     // 0..127, 64 centre
    std::uint8_t flags = 0;
    std::string outputDevice;
    std::string soundName;

    bool muted() const { return (flags & kMuted) != 0; }
    void setMuted(bool muted);
    // The channel 0..15, or -1 when none is set.
    int channel() const;
    // Sets channel 0..15; any other value clears the channel. Other flag bits stay.
    void setChannel(int channel);
};

// Key and value lines of one INI section.
using IniSectionLines = std::vector<std::pair<std::string, std::string>>;

// The score engine's play switches of an entry, stored as three INI sections,
// and whether dynamics, swing and trills are interpreted.
struct TuneSectionSet {
    IniSectionLines dynamic;
    IniSectionLines artic;
    IniSectionLines trills;
    std::uint8_t UseDynamic = 0;
    std::uint8_t UseSwing = 0;
    std::uint8_t UseTrills = 0;

    // Copy a section text into the entry: 0, or -2 when memory runs out (the
    // old text then stays).
    int SetDynamic(const IniSectionLines& lines);
    int SetArtic(const IniSectionLines& lines);
    int SetTrills(const IniSectionLines& lines);
};

// One point of a tempo curve, stored as 40 little-endian bytes.
struct TempoPoint {
    static constexpr std::size_t kStoredSize = 40;

    std::uint32_t position = 0;  // play position in ticks; lists are sorted by it
    std::uint32_t spare = 0;
    double tempo = 0.0;
    double time = 0.0;
    double extra = 0.0;
    std::int32_t kind = 0;
    std::int32_t tag = 0;

    std::array<std::uint8_t, kStoredSize> toBytes() const;
    static TempoPoint fromBytes(std::span<const std::uint8_t, kStoredSize> bytes);
    friend bool operator==(const TempoPoint&, const TempoPoint&) = default;
};

// The tempo curve of an entry (the tempo-curve step).
struct TempoCurve {
    static constexpr int kFileList = 0;      // points taken from the file
    static constexpr int kRecordedList = 1;  // points recorded while playing

    bool fileTempos = true;
    bool showTempos = false;
    std::int32_t minimum = 10;
    std::int32_t maximum = 720;
    bool record = false;
    std::array<std::vector<TempoPoint>, 3> points;
    std::int32_t recordedCount = 0;
    double baseTempo = -1.0;
    std::int32_t recordTempo = 10;  // the current tempo (kept within minimum..maximum)
    std::int32_t speed = 1000;
    std::int32_t speedSteps = 1;
    std::int32_t speedDivisor = 100;
};

// Size of the sample-library instrument assignment block.
inline constexpr std::size_t kQvoAssignmentSize = 756;

struct ProjectEntry {
    ProjectEntry() = default;
    ProjectEntry(ProjectEntry&&) noexcept = default;
    ProjectEntry& operator=(ProjectEntry&&) noexcept = default;
    ProjectEntry(const ProjectEntry&) = delete;
    ProjectEntry& operator=(const ProjectEntry&) = delete;
    ~ProjectEntry() = default;

    // --- files
    std::filesystem::path Filename;      // the file that is opened
    std::filesystem::path FilenameOrig;  // the MusicXML source it was converted from, or empty
    std::filesystem::path convertedMidiPath;
    std::filesystem::path convertedWavePath;
    std::uint64_t modDate = 0;  // last-write time of the source (FILETIME) as the loader saw it

    // --- kind, state and times
    EntryKind kind = EntryKind::Unset;
    std::int32_t sniffedKind = -1;  // what the file sniffer took the file for (13..16), -1 nothing
    std::int32_t entryState = 0;
    std::int32_t durationMs = 0;  // 0 unknown
    std::int32_t convertedMidiMs = 0;
    std::int32_t convertedWaveMs = 0;

    // --- per-entry settings
    std::int32_t Pause = 2;  // seconds after the file on the disc
    std::uint8_t ConvertForQvo = 0;
    std::int32_t MWConversionMethod = 0;  // 0 software synthesizer, 1 sample player
    std::int32_t TempoAbsolute = -1;      // beats per minute, -1 unset
    std::int32_t TempoRelative = 1000;    // thousandths of the file's own tempo
    std::uint8_t TempoIsRelative = 1;
    std::uint8_t TransposePercussion = 0;
    TuneSectionSet tuneSections;
    std::array<std::uint8_t, kQvoAssignmentSize> qvoAssignment{};

    // --- sampler and reverb
    std::string SamplePlayer;
    std::int32_t samplerIndex = -1;  // index in the plug-in catalogue, -1 none
    std::string OutDevSampler;
    std::vector<std::uint8_t> samplerSetup;  // the bytes of a ".qvpp" setup; empty: none
    std::string samplerSetupName;
    std::uint8_t samplerSetupType = 1;
    std::string Reverb;
    std::int32_t ReverbType = -1;
    std::vector<std::uint8_t> reverbData;

    // --- shape of the music
    std::int32_t staveCount = 0;  // scores
    std::int32_t trackCount = 0;  // MIDI files (track 0 is the conductor track)
    std::vector<std::uint8_t> voiceCounts;  // per staff
    // Per staff its instrument records: one per voice, or one per percussion
    // instrument on a percussion staff.
    std::vector<std::vector<scorecore::CMidiInstr>> instruments;
    // MIDI files, per staff (track staff + 1): velocity, and whether it is an
    // offset to the notes' own velocities.
    std::vector<std::int8_t> staffVelocity;
    std::vector<std::uint8_t> staffVelocityRelative;
    std::vector<std::string> trackNames;  // index = track number
    std::vector<VoicePlayRecord> voices;  // all voices of all staves, staff by staff
    scorecore::CStaffVoiceStates states;

    // --- step records
    scorecore::CMetronom metronome;
    scorecore::CEinstimmung tuneUp{480};
    TempoCurve tempoCurve;
    std::array<std::uint8_t, kStepCount> pending{};

    Project* project = nullptr;
    std::unique_ptr<EntryPlayModel> model;

    // Flat index of a voice into voices: the voices of the staves before it,
    // then the voice; -1 when staff or voice is out of range.
    int voiceIndex(int staff, int voice) const;
    VoicePlayRecord* voiceRecord(int staff, int voice);
    const VoicePlayRecord* voiceRecord(int staff, int voice) const;
    // The instrument record of a voice (its index in the staff's records);
    // null when the staff has none at that index.
    scorecore::CMidiInstr* voiceInstrument(int staff, int voice);
    const scorecore::CMidiInstr* voiceInstrument(int staff, int voice) const;
    bool isBusy() const { return entryState == kEntryPlaying || entryState == kEntryPlayingAlt; }
    // A percussion staff: of a score, its first voice plays a percussion
    // sound (above 127); of a MIDI file, its first instrument record is a
    // percussion record. False for any other kind.
    bool isPercussionStave(int staff) const;
};

}  // namespace qvp3
