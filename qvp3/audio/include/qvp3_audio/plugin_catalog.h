// The catalogue of every instrument and effect the program can play through:
// the installed LV2 instruments (the second standard's kind), VST 2
// instruments and effects the user added, the sample-library plug-in when it
// is installed, and the reverb that ships beside the program. It owns
// the program's VST 2 host and keeps the audio settings that go with it in
// the program's key of the settings store.
//
// A VST plug-in is loaded into the program only after a probe in the helper
// process has found it sound (plugin_probe.h); a plug-in that crashed, hung
// or refused there stays switched off, and the entry says why.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_store.h"
#include "qvp3_audio/lv2_instrument.h"
#include "qvp3_audio/plugin_probe.h"
#include "qvp3_audio/vst_render_host.h"
#include "qvp3_project/neighbours.h"

namespace qvp3 {

inline constexpr std::int32_t kPlugInKindVst = 1;
inline constexpr std::int32_t kPlugInKindDirectX = 2;  // the second standard of software instruments
inline constexpr std::uint32_t kCatalogRegError = 0x8000FFFF;
inline constexpr std::uint32_t kCatalogOutOfMemory = 0x8007000E;

// The marks of the catalogue's values in the settings store: a VST
// instrument's name holds the first, an effect's value name starts with the second.
inline constexpr std::string_view kVstMark = "[VST]";
inline constexpr std::string_view kEffectPrefix = "[EFF]";
inline constexpr const char* kSampleLibraryName = "Tavrena Vienna orchestra";
inline constexpr const char* kSampleLibraryShortName = "qVo";
inline constexpr const char* kSampleLibraryKey = "software\\Tavrena-software\\Tavrena-vienna";
inline constexpr const char* kSampleLibraryFile = "Tavrena-Vienna-orchestra.so";
inline constexpr const char* kReverbName = "RuzozudoZav";
inline constexpr const char* kReverbFile = "RuzozudoZav.so";
inline constexpr std::uint32_t kDefaultSampleBlockSize = 4096;
inline constexpr std::uint32_t kDefaultVstVolumePercent = 190;

// LoadInstrument's answers.
inline constexpr int kLoadRefused = 0;
inline constexpr int kLoadAllTracks = 2;
inline constexpr int kLoadNotAllTracks = 6;
// Language strings of the track operations: the wait text (a track number)
// and the three ways the plug-in output fails to open (118: the output's name).
inline constexpr int kStrReloadingTrack = 111;
inline constexpr int kStrOutputNotOpened = 118;
inline constexpr int kStrOutputBlockSize = 119;
inline constexpr int kStrNoOutput = 120;

struct PlugInEntry {
    // The second standard's 16-byte id; zero for VST. An LV2 instrument's is
    // made from its URI (audLv2InstrumentId), which `uri` keeps.
    std::array<std::uint8_t, 16> clsid{};
    std::string uri;
    std::string name;
    std::filesystem::path path;  // VST: the library, kept whole
    std::shared_ptr<CDxLv2Filter> filter;  // the second standard's kind: the instrument once made
    std::int32_t hostSlot = -1;  // kVstInstrumentSlot or a slot of the host; -1 not loaded
    std::int32_t kind = kPlugInKindVst;
    std::uint32_t enabled = 0;
    std::uint32_t loadMark = 0;   // in use by a track
    std::uint32_t userAdded = 0;  // a copy for a second track: never stored, never listed
    std::uint32_t useMark = 0;
    // Why the plug-in is not loaded ("" while nothing went wrong): shown to the user.
    std::string problem;
};

// An output device or driver with the switch the user set for it.
struct OutputFlag {
    std::string name;
    bool enabled = true;
};

// One line of a list or combo box on the pages.
struct CatalogListItem {
    std::string text;
    int image = -1;  // index into the pages' small image list; -1 none
    int data = -1;   // entry index; -1 for "none"
};

struct CatalogList {
    std::vector<CatalogListItem> items;
    int selected = -1;
    bool enabled = true;
};

// Where start-up shows its progress while plug-ins load: the status bar of
// the main window, or the wait dialog before it exists.
class CatalogProgress {
public:
    virtual ~CatalogProgress() = default;
    virtual void begin(int range) = 0;
    // Before the instrument of that name is created.
    virtual void loading(const std::string& name) = 0;
    virtual void done(int count) = 0;
    virtual void end() = 0;
    // A line of text of its own (the wait dialog's WM_WAITDLG_TEXT).
    virtual void text(const std::string&) {}
};

// The stored parameters of an effect (CaptureEffectParams).
struct EffectParams {
    std::vector<float> values;
    std::size_t bytes() const { return values.size() * sizeof(float); }
};

class CPlugInCatalog {
public:
    // Reads the block size and the volume; creates the VST host.
    CPlugInCatalog(platform::SettingsStore& store, std::filesystem::path programFolder,
                   std::filesystem::path probeHelper = audProbeHelperPath());
    ~CPlugInCatalog();
    CPlugInCatalog(const CPlugInCatalog&) = delete;
    CPlugInCatalog& operator=(const CPlugInCatalog&) = delete;

    std::vector<PlugInEntry> instruments;
    std::vector<PlugInEntry> effects;  // entry 0 is the reverb
    float blockMs = 0.0f;
    std::uint32_t blockSize = kDefaultSampleBlockSize;
    std::unique_ptr<CMyVSTHost> vstHost;
    float sampleRate = 44100.0f;
    float vstVolume = 1.9f;
    bool sampleLibraryFound = false;
    std::chrono::milliseconds probeTimeout = kVstProbeTimeout;
    // Where the LV2 instruments are found; made by EnumSoftSynths when not set before.
    std::shared_ptr<CLv2World> lv2World;

    std::uint32_t instrumentCount() const { return static_cast<std::uint32_t>(instruments.size()); }
    std::uint32_t effectCount() const { return static_cast<std::uint32_t>(effects.size()); }

    // --- the settings store (the program key in the user hive)
    // Holds the key open for a batch of work; every call below opens it
    // itself when it is not held.
    std::uint32_t OpenAppRegKey();
    void CloseRegKey();
    std::uint32_t WriteInstrumentValue(std::size_t index, bool on, const std::string& path);
    std::uint32_t WriteEffectValue(std::size_t index, const std::string& text);
    std::uint32_t SaveSamplePlayerNumber();
    std::uint32_t SaveEffectsNumber();
    // Both also hand the block size, its length and the volume to the render host.
    std::uint32_t SaveSampleBlockSize();
    std::uint32_t SaveVstVolume();
    void SyncRenderHost();
    std::uint32_t SaveVstFolder(const std::string& text);
    // One DWORD per output (1 on); stops at the first failed write.
    std::uint32_t SaveOutputFlags(const std::vector<OutputFlag>& outputs);
    // Missing or not a DWORD: on; a DWORD: on only when 1.
    void LoadOutputFlags(std::vector<OutputFlag>& outputs);
    void DeleteVstValues();
    std::size_t GetVstFolderLength();
    std::string ReadVstFolder();

    // --- lookups (case-insensitive; -1 when absent)
    int FindInstrument(std::string_view name) const;
    int FindEffect(std::string_view name) const;
    int FindPresentInstrument(std::string_view name) const;  // enabled entries only
    std::string GetInstrumentName(int index) const;
    std::string GetEffectName(int index) const;
    int CountPresentInstruments() const;
    bool EffectHasEditor(int index) const;
    // The first enabled entry of that name not in use; else -1 and code 2
    // (all in use) or 3 (none of that name).
    int FindInstrumentEx(std::string_view name, int& code) const;

    // --- list maintenance (0, or kCatalogOutOfMemory with nothing changed)
    std::uint32_t AddInstrument(const std::filesystem::path& path, bool enabled, const std::string& name);
    std::uint32_t DuplicateInstrument(std::size_t index, int& newIndex);
    // Makes the instrument of one entry (a VST one loaded into the host, one
    // of the second standard created); false, with the entry switched off and
    // its problem set, when that fails.
    bool CreateSoftSynth(std::size_t index);
    // Loads one effect's plug-in into the host; false, with the entry switched
    // off and its problem set, when that fails.
    bool CreateEffect(std::size_t index);
    std::uint32_t AddEffect(const std::filesystem::path& path, const std::string& name);
    std::uint32_t RemoveEffect(std::size_t index);
    std::uint32_t RemoveInstrument(std::size_t index);
    void ClearLoadMarks();
    void ClearUseMarks();
    void UnloadPlugIns();
    void FreeInstruments();
    void FreeEffects();

    // --- filling at start
    // The installed LV2 instruments (switched on by their value in the store),
    // the VST instruments of the store and the sample library, then every
    // enabled one loaded (a VST one probed first when it is new).
    std::uint32_t EnumSoftSynths(CatalogProgress* progress = nullptr);
    void LoadAllPlugIns(CatalogProgress* progress = nullptr);
    // Effect 0, the reverb beside the program, then the "[EFF]" values; all created.
    void LoadReverbEffect();
    void CreateEffects();

    // --- a plug-in found by a scan of the plug-in page: an instrument that
    // loads and is not yet known gets an entry "[VST]<vendor>: <name>".
    // The new entry's index, or -1 (bad, not an instrument, known, no memory).
    int AddScannedInstrument(const std::filesystem::path& path, const PlugInProbeResult& probe);
    static std::string ScannedInstrumentName(const PlugInIdentity& identity);

    // --- the VST host's tracks (track 0 plays nothing) and their instruments
    // Every track from 1 gets its own instance of the sample library (index);
    // a track not locked takes the instrument number of its program, that
    // number's controllers and its VST program. kLoadAllTracks when every
    // track has a plug-in and an instrument (the host is then ready),
    // kLoadNotAllTracks otherwise, kLoadRefused for any other entry.
    int LoadInstrument(int index, CatalogProgress* wait = nullptr);
    // The tracks playing instrument number: their plug-ins leave the host.
    void audReleaseTrackInstrument(int number);
    // The tracks playing number get a fresh instance of the sample library
    // (index), the wait dialog telling which; false at the first that fails.
    bool audReloadTrackInstruments(int index, int number, ShellServices& shell, CatalogProgress* wait = nullptr);
    // The tracks playing number that have a plug-in and are not locked take
    // its VST program and controllers again.
    void audAssignTrackInstruments(int number);
    // Opens and starts the host's output by that name with blockSize. On
    // failure the user is told why (strings 118, 119, 120), the host's
    // tracks are dropped, and the answer is false.
    bool audStartVstOutput(const std::string& outputName, ShellServices& shell);

    // --- effects' parameters and programs
    // The effect's loaded plug-in; null for an index outside the list or one not loaded.
    CEffect* EffectOf(int index) const;
    EffectParams CaptureEffectParams(int index);
    void RestoreEffectParams(int index, const EffectParams& params);
    // False when the program is current already; else sets it (and takes a
    // fresh snapshot) when choose, or restores the snapshot.
    bool SetEffectProgram(int index, EffectParams& snapshot, int program, bool choose);

    // --- lists for the pages
    // Entries not added for a second track whose switch equals enabledOnes;
    // vstCount: how many of them are VST instruments of the user.
    CatalogList FillInstrumentList(bool enabledOnes, int* vstCount = nullptr) const;
    CatalogList FillInstrumentCombo(std::string& name) const;
    // noneText: the language's "none"; the box is off for a negative index.
    CatalogList FillEffectCombo(int index, std::string& name, bool all, const std::string& noneText) const;
    CatalogList FillEffectProgramList(int index, int selected);
    // The first enabled entry whose name (without "[VST]") contains the
    // stored one, then with blanks as "-".
    bool MatchProjectInstrument(const std::string& stored, std::string& nameOut, int& indexOut) const;

private:
    platform::SettingsKey key();
    // Loads a VST entry into the host once its probe is sound; false with the entry's problem set.
    bool LoadVstEntry(PlugInEntry& entry);
    // A new instance of a VST entry's plug-in once its probe is sound: its slot, or -1 with the problem set.
    int LoadVstInstance(PlugInEntry& entry);
    void AddLv2Instruments(platform::SettingsKey& key);
    bool CreateLv2Instrument(PlugInEntry& entry);
    bool IsSampleLibrary(int index) const;
    // Loads a track's instance; applies a number (LoadInstrument's or the track's own) unless it is locked.
    bool LoadTrack(PlugInEntry& entry, std::size_t track, bool numberFromProgram);
    void AddRegistryVstInstruments(platform::SettingsKey& key);
    void FindSampleLibrary(platform::SettingsKey& key);

    platform::SettingsStore& store_;
    std::filesystem::path programFolder_;
    std::filesystem::path probeHelper_;
    std::optional<platform::SettingsKey> regKey_;
};

// The 16-byte id of an LV2 instrument: a name-based id of its URI (two
// 64-bit FNV-1a hashes, stamped as an RFC 9562 version-8 id), the same on
// every machine and at every start.
std::array<std::uint8_t, 16> audLv2InstrumentId(std::string_view uri);

// A DWORD value; the default and error 13 for another type, 2 when missing.
std::uint32_t audRegReadDword(const platform::SettingsKey& key, std::string_view name, std::uint32_t fallback,
                              int* error = nullptr);
std::uint32_t audRegReadVolume(const platform::SettingsKey& key, int* error = nullptr);

}  // namespace qvp3
