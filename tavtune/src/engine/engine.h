// The engine's state behind its entry points: the one open score with its
// play model, the records the entry points hand out for it, and the settings
// that outlive a score (options, instrument table, play switches, the host's
// message targets).
//
// A TvrXML score is read with the TvrXML reader and brought into the play
// model through the score library's MusicXML bridge; a binary score through
// the binary-score model builder. Playing, measuring and rendering go through
// the score library's one player.
//
// The host calls from its main thread and from step workers, one at a time;
// the lock only keeps two calls that overlap by mistake from tearing the state.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/intro.h"
#include "platform/message_target.h"
#include "play/play_score.h"
#include "tavtune/tavtune.h"

namespace tavtune {

enum class ScoreKind { TvrXml, Binary };

// The kind of a score file by its first bytes; false when it is neither.
bool sniffScoreKind(const std::filesystem::path& path, ScoreKind& kind, bool& readable);

// Play switches of one kind as INI key/value lines, in order.
using SwitchLines = std::vector<std::pair<std::string, std::string>>;

inline constexpr int kSwitchDynamics = 4;
inline constexpr int kSwitchArticulation = 2;
inline constexpr int kSwitchTrills = 5;
inline constexpr int kInstrumentTables = 7;

struct StaveData {
    std::array<std::string, 3> names;
    tvStaveRecord record{};
    std::vector<tvVoiceRecord> voices;  // C131's answers, in voice order
};

// What the open score carries besides its model (its player): made and
// ended with the score, and ended before the model goes.
class ScoreExtension {
public:
    virtual ~ScoreExtension() = default;
};

class OpenScore {
public:
    OpenScore(ScoreKind kind, std::filesystem::path path, std::unique_ptr<scoreconv::PlayScore> model);

    ScoreKind kind() const { return kind_; }
    const std::filesystem::path& path() const { return path_; }
    scoreconv::PlayScore& model() { return *model_; }
    const scoreconv::PlayScore& model() const { return *model_; }

    // Fills the stave and voice records and the description from the model;
    // TAVTUNE_OPEN_REJECTED when the score is beyond the engine's limits.
    int describe(const std::array<std::string, 3>& description);

    int staveCount() const { return static_cast<int>(staves_.size()); }
    const tvStaveRecord* stave(int stave) const;
    const tvVoiceRecord* voice(int stave, int index) const;
    const tvScoreDescription* description() const { return &description_; }

    // The notes of a voice (-1: all voices of the stave) in time order.
    const tvNoteList* notes(int stave, int voice);

    // A voice's settings as C124 answers them; false for an unknown voice.
    // The tune-up voice belongs to no stave: with any stave it is known.
    bool readVoice(tvVoiceRecord& record) const;
    // Takes the set fields of a record into the model (the tune-up voice's
    // into its own settings); false for an unknown voice.
    bool writeVoice(const tvVoiceRecord& record);
    void transpose(int semitones);

    // The host that hears of positions (C176's window, message and code base).
    platform::MessageTarget* window = nullptr;
    platform::MessageId message = 0;
    int codeBase = 0;

    // --- time, kept by the time entry points
    double positionMs = 0.0;
    double playedTempo = -1.0;  // C97's tempo x factor; -1: the score's own
    std::vector<tvTempoPoint> tempoPoints;    // the handed-over list in force (time_map.cpp)
    std::vector<tvTempoPoint> pendingPoints;  // the list being handed over, in force once it ends
    bool pointOpen = false;  // a point was added and not yet ended by C99(0, 0)

    // --- the intro (entries_intro.cpp) and the tune-up voice's settings
    IntroLists intro;

    // The player of the score (entries_play.cpp); null until it first plays.
    std::unique_ptr<ScoreExtension>& player() { return player_; }

private:
    ScoreKind kind_;
    std::filesystem::path path_;
    std::unique_ptr<scoreconv::PlayScore> model_;
    std::vector<StaveData> staves_;
    std::array<std::string, 3> descriptionTexts_;
    tvScoreDescription description_{};
    std::vector<tvNote> notes_;
    tvNoteList noteList_{};
    int transposition_ = 0;
    std::unique_ptr<ScoreExtension> player_;  // last: it ends before the model
};

class Engine {
public:
    static Engine& instance();
    Engine();

    // Opens path, replacing the open score only on success. TAVTUNE_OPEN_*.
    int open(const char* path, platform::MessageTarget* window, platform::MessageId message, int codeBase,
             const tvVoiceRecord* voices);
    void close();
    OpenScore* score() { return score_.get(); }

    std::recursive_mutex mutex;

    // --- settings that outlive a score
    std::uint32_t options = 0;
    std::string tableName = "MIDI: Default";
    platform::MessageTarget* modifiedWindow = nullptr;
    platform::MessageId modifiedMessage = 0;
    platform::MessageTarget* progressWindow = nullptr;
    platform::MessageId progressMessage = 0;
    // Play switches by kind (dynamics, articulation, trills).
    SwitchLines& switches(int kind);
    std::filesystem::path instrumentTables;  // C168(7, ...)

private:
    std::unique_ptr<OpenScore> score_;
    SwitchLines dynamics_;
    SwitchLines articulation_;
    SwitchLines trills_;
    SwitchLines none_;
};

// Loading a score file into a play model (engine_load.cpp). TAVTUNE_OPEN_*.
int loadScoreModel(const std::filesystem::path& path, ScoreKind kind, std::unique_ptr<scoreconv::PlayScore>& model,
                   std::array<std::string, 3>& description);

}  // namespace tavtune
