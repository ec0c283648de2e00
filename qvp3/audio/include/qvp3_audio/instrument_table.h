// The instrument tables of the orchestral sample-library plug-in: which of
// its instruments, programs (articulations), controller settings and keys
// serve a MIDI program or a percussion sound. Read from an INI file that
// ships beside the program; one section per program of an instrument.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvp3 {

inline constexpr const char* kQvoTableFile = "Tavrena-Vienna-orchestra_tavtune.ini";
// Percussion sounds sit in the program map at their key + this.
inline constexpr int kQvoPercussionBase = 101;
inline constexpr int kQvoMapSize = 128 + kQvoPercussionBase;
inline constexpr std::uint8_t kQvoControllerUnset = 255;

struct QvoProgram {
    std::string name = "normal";
    std::array<std::uint8_t, 128> keys{};  // 1: the program plays the key ("default")
    std::int16_t lowKey = -1;              // "keyrange"
    std::int16_t highKey = -1;
    std::array<std::uint8_t, 128> controllers;  // by controller number; kQvoControllerUnset
    QvoProgram() { controllers.fill(kQvoControllerUnset); }
};

struct QvoInstrument {
    std::string name;
    bool visible = true;
    std::int16_t vstProgram = -1;  // "vstprogram"
    bool releaseAlways = false;    // "releasesample" = "always"
    std::vector<QvoProgram> programs;
};

// An instrument and one of its programs of the program map; -1 for none.
struct QvoMapEntry {
    std::int16_t instrument = -1;
    std::int16_t program = -1;
};

// One line of a list the dialogs fill.
struct QvoListItem {
    std::string text;
    int index = -1;  // instrument or program index
};

class CQvoInstrumentTable {
public:
    // The table of the file in the program's folder; a missing file leaves it empty.
    explicit CQvoInstrumentTable(const std::filesystem::path& programFolder);
    CQvoInstrumentTable() = default;

    // Reads the INI file; false (and an empty table) when it cannot be read.
    bool load(const std::filesystem::path& iniPath);

    // The visible instruments (or all) as "%02i-%s" with their indexes.
    std::vector<QvoListItem> FillInstrumentList() const;
    std::vector<QvoListItem> FillAllInstrumentsList() const;
    // The programs of one instrument; empty for an invalid index (the list is disabled).
    std::vector<QvoListItem> FillProgramList(int instrument) const;

    // Index of the instrument of that name (no regard to case, then by its
    // shortened name); -1 when none.
    int FindInstrument(std::string_view name) const;
    // The instrument of a MIDI program (0..127) or percussion number (key +
    // kQvoPercussionBase): the map's entry; without one, for percussion the
    // instrument "Tamburin", for a program the first instrument whose VST
    // program is that program. name gets the instrument's name (empty for
    // none). -1 when none.
    int MapProgram(int program, std::string* name = nullptr) const;
    // The first instrument with a program that plays the key.
    const QvoInstrument* FindInstrumentForKey(int key) const;
    const QvoInstrument* GetInstrument(int index) const;
    // The VST program of the visible instrument of that name; -1 when none.
    int GetVstProgram(std::string_view name) const;
    void SetProgramMap(const std::array<QvoMapEntry, kQvoMapSize>& map) { map_ = map; }
    const std::array<QvoMapEntry, kQvoMapSize>& programMap() const { return map_; }
    // The low key of the first program of the instrument the map gives for a
    // percussion index; -1 when there is none.
    int ProgramLowKey(int percussionIndex) const;

    std::size_t instrumentCount() const { return instruments_.size(); }
    const std::filesystem::path& iniPath() const { return path_; }

    // The instrument name of a section: the part before "|" dropped, then
    // shortened ("Wiener Konzerthaus-Orgel" at its last blank, "Klavier" at
    // the first blank after it, any other at its first ";" or else ",").
    static std::string sectionInstrumentName(std::string_view section);
    // The key of a note name ("C3" 0 .. "c1" 60 .. "g6" 127, sharps "C#3",
    // flats "Db3"); -1 when unknown.
    static int noteKey(std::string_view name);

private:
    std::filesystem::path path_;
    std::vector<QvoInstrument> instruments_;
    std::array<QvoMapEntry, kQvoMapSize> map_{};
};

}  // namespace qvp3
