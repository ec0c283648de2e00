// The key tables of the project file: one row per key, in the order the
// writer writes them, naming the field the key stores, how the value is
// stored and what a missing or unusable stored value does. The reader and
// the writer of a section both walk its table, so that a key's name, its
// conversion and its default are stated once.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "qvp3_project/profile_context.h"
#include "qvp3_project/project.h"

namespace qvp3::prjfile {

// The field a key stores. Unsigned 32-bit fields are stored as signed decimal.
using FieldRef = std::variant<std::monostate, std::int32_t*, std::uint8_t*, std::uint32_t*, std::uint64_t*, bool*,
                              std::string*, std::optional<std::string>*, std::filesystem::path*,
                              std::vector<std::uint8_t>*, std::span<std::uint8_t>, IniSectionLines*>;

// How a key is stored. The first five are read and written by their row
// alone; the others need more than one field, a neighbour's setter or
// another key, and are handled by the section's reader and writer.
enum class Form : std::uint8_t {
    Int,
    Flag,     // written "1" or "0"
    Text,     // read up to a NUL; an empty value counts as missing
    RawText,  // read as stored, missing as empty
    Blob,     // binary block, written only when not empty, read only when complete
    // --- header
    Constant,      // written as the row's text, never read
    StopNote,      // the warning not to edit the file, in the user's language
    TemplateOnly,  // written in the template form only
    Folder,        // the project folder: written, never read (the file's own folder counts)
    SizedText,     // "<name>Size" (UTF-16 units with the terminating NUL, 0 for none), then the text
    WholeBlock,    // a fixed record; a shorter stored block is not taken
    LocalFolder,   // a folder of this machine, else the project folder
    // --- entry sections
    SourceFile,        // found in the project folder first; required
    OriginalFile,      // the same; a stored path of this machine is kept when found nowhere
    ModDate,           // the source's date, checked when asked
    ConversionMethod,  // older files knew 0 and 1 as the synthesizer
    SamplerName,       // applied through the pipeline
    ReverbName,        // selected through the pipeline
    ReverbData,        // written with its size key when the effect uses it
    ReverbDataSize,
    StaffVolume,  // older files: a volume per staff, read only
    InstrumentCount,
    Instrument,  // "<name> <note>" of a percussion instrument
    VoiceVolume,
    VoicePanorama,
    VoiceState,
    VoiceChannel,
    VoiceSound,
    TrackVelocity,
    TrackRelative,
    Transpose,
    RelativeTempo,  // older files kept 1000 minus the tempo
    SwitchTable,    // an INI section of its own, "<section>|ct..."
    TrackName,      // "0" for none
    TuneUpVoiceCount,
    TuneUpVoices,
    TempoSpeed,
    TempoPointSize,
    TempoPointCount,
    TempoPoints,
    PartBlock,  // a fixed record; a shorter stored block fills its start
};

// What a missing or unusable stored value does to the field.
enum class Missing : std::uint8_t {
    Fallback,  // takes the rule's fallback
    Keep,      // keeps its value
    Fail,      // the section is refused
};

// How a stored value is read. An integer is readInt(key, def) (so def for a
// missing or empty key); a value outside low..high is unusable, and so is def
// itself where it stands for "missing" (keys whose every other value is
// legal). A text is unusable when missing or empty.
struct ReadRule {
    int def = 0;
    bool defIsMissing = false;
    int low = INT_MIN;
    int high = INT_MAX;
    Missing missing = Missing::Keep;
    int fallback = 0;
};

// Every stored value is taken; a missing key reads as def.
constexpr ReadRule plain(int def) { return {def}; }
// def marks the key missing: the fallback is taken, or the field kept.
constexpr ReadRule orFallback(int def, int fallback) {
    return {def, true, INT_MIN, INT_MAX, Missing::Fallback, fallback};
}
constexpr ReadRule orKeep(int def) { return {def, true}; }
// def marks the key missing, which refuses the section.
constexpr ReadRule required(int def = 0) { return {def, true, INT_MIN, INT_MAX, Missing::Fail}; }
// A missing text reads as empty.
constexpr ReadRule emptyIfMissing() { return {.missing = Missing::Fallback}; }
// A value outside low..high (or a missing key) takes the fallback, keeps the
// field or refuses the section.
constexpr ReadRule within(int def, int low, int high, int fallback) {
    return {def, false, low, high, Missing::Fallback, fallback};
}
constexpr ReadRule withinOrKeep(int def, int low, int high) { return {def, false, low, high, Missing::Keep}; }
constexpr ReadRule withinOrFail(int def, int low, int high) { return {def, false, low, high, Missing::Fail}; }

// How a stored flag reads.
enum class Truth : std::uint8_t {
    One,      // the integer 1
    NotZero,  // any integer but 0
    Text,     // a text whose first character is not '0'
};

// The stored integer by the rule: the value, the fallback, or nothing when
// the field is kept (or the section refused). usable tells whether the
// stored value was taken.
std::optional<int> readRuledInt(ProfileContext& context, std::string_view key, const ReadRule& rule, bool& usable);

// Reads an Int, Flag, Text, RawText or Blob key into its field; false when
// the stored value was unusable (the rule then decided what the field got).
bool readPlainKey(ProfileContext& context, std::string_view key, Form form, const ReadRule& rule, Truth truth,
                  const FieldRef& field);
// Writes an Int, Flag, Text, RawText or Blob key from its field.
void writePlainKey(ProfileContext& context, std::string_view key, Form form, const FieldRef& field);
inline bool isPlainForm(Form form) { return form <= Form::Blob; }

// A field as a FieldRef; a fixed record as its bytes.
template <class T>
FieldRef toField(T* field) {
    return field;
}
template <std::size_t N>
FieldRef toField(std::array<std::uint8_t, N>* record) {
    return std::span<std::uint8_t>(*record);
}

// The integer value of an integer or flag field, and storing one in it.
std::int64_t fieldInt(const FieldRef& field);
void setFieldInt(const FieldRef& field, std::int64_t value);
// Copies a field's value to the same field of another record.
void copyField(const FieldRef& from, const FieldRef& to);

// The key of a row for a section: a name starting with '|' follows the
// section's name; each run of '#' is the next number, padded to the run's
// length ("Staff##_Voice#_Volume" with 1, 2 is "Staff01_Voice2_Volume").
std::string expandKey(std::string_view name, std::string_view section, std::initializer_list<int> numbers = {});

// --- entry sections

// The keys of an entry section come in parts, each written as a whole in the
// table's order, the parts in the order they first appear. The reader reads
// part by part, in an order of its own.
enum class EntryPart : std::uint8_t {
    Source,      // read before the entry is opened
    Conversion,  // read before the entry is opened
    Sampler,
    // Per staff ("##" its number), written staff by staff with Staff first:
    Staff,
    Percussion,  // percussion staves of scores ("#" the instrument)
    Voice,       // per voice ("#" its number)
    Track,       // MIDI files ("####" the track)
    Transposition,
    Tempo,     // read before the entry is opened, taken over after
    Switches,  // scores
    TrackNames,  // MIDI files, per track after the first ("####")
    Metronome,
    TuneUp,
    Assignment,
    TempoCurve,
    SamplerSetup,  // the sample player's
};

template <auto... Path>
FieldRef inEntry(ProjectEntry& entry) {
    return toField(&(entry .* ... .* Path));
}

struct EntryKey {
    std::string_view name;
    EntryPart part;
    Form form;
    FieldRef (*field)(ProjectEntry&) = nullptr;
    ReadRule rule = {};
    Truth truth = Truth::One;
    std::int32_t code = 0;  // reported, once per part, when the stored value is unusable
    int group = 0;          // score-engine switch group of a switch table
};

// Every key of an entry section, in the order they are written.
std::span<const EntryKey> entryKeys();
// The keys of one part.
std::span<const EntryKey> entryPart(EntryPart part);
// The key of a form that only one key has (for keys read together).
const EntryKey& entryKey(Form form);

}  // namespace qvp3::prjfile
