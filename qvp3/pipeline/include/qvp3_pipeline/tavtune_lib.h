// The binding to the score engine libtavtune.so: the one place that loads the
// engine, keeps its entry points in a table and knows what passes through them.
//
// The engine is loaded by name from the program folder at run time. Every slot
// of the table starts at a stub that ignores its arguments and answers -1, and
// keeps it when the library or that one export is missing, so that a caller
// always sees an engine failure and never calls into nothing. Unloading puts
// the stubs back, so a slot never points into an unloaded library.
//
// No lock: the main thread and the workers of one entry use the binding one
// at a time, and the engine's open score is process-wide state.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/files.h"
#include "platform/message_target.h"
#include "tavtune/tavtune.h"

namespace qvp3 {

struct TuneSectionSet;
struct TempoPoint;

inline constexpr int kTavtuneEntryCount = TAVTUNE_ENTRY_COUNT;
inline constexpr const char* kTavtuneLibraryName = "libtavtune.so";

// Messages of the engine. It posts kTavtunePositionMessage to the main window
// with wParam = kTavtuneCodeBase + its code (both handed over when a score is
// opened); it sends kTavtuneProgressMessage while it renders to MIDI, and the
// main window hands it kTavtuneModifiedMessage when it is created.
inline constexpr platform::MessageId kTavtunePositionMessage = platform::WM_PLAY_POSITION;
inline constexpr platform::MessageId kTavtuneProgressMessage = platform::WM_ENGINE_PROGRESS;
inline constexpr platform::MessageId kTavtuneModifiedMessage = platform::WM_ENGINE_MODIFIED;
inline constexpr int kTavtuneCodeBase = 100;
inline constexpr platform::WParam kTavtunePositionUpdate = kTavtuneCodeBase + 4;
inline constexpr platform::WParam kTavtunePlaybackStopped = kTavtuneCodeBase + 7;
static_assert(kTavtunePositionMessage == 1124 && kTavtuneProgressMessage == 0x720 && kTavtuneModifiedMessage == 0x407,
              "the engine and the main window agree on these numbers");

// Results of the binding's operations.
inline constexpr int kTavtuneOk = 0;
inline constexpr int kTavtuneLoadFailed = -1;
// Results of OpenScore, from the engine's -5 .. -1 in this order.
inline constexpr int kTavtuneNoScore = -6;
inline constexpr int kTavtuneScoreRejected = -107;
inline constexpr int kTavtuneOutOfMemory = -2;
inline constexpr int kTavtuneUnknownFormat = -104;
inline constexpr int kTavtuneEngineFailed = -100;  // also: the engine is missing, or answered something unknown
// Results of the other operations: kTavtuneNoScore (-6) also when the engine
// fails a request; kTavtuneOutOfMemory (-2); the counts answer kTavtuneNoCount.
inline constexpr int kTavtuneNoCount = -1;
inline constexpr int kTavtunePointRefused = -20;  // SetTempoCurve: the engine refused a point (its -2)

// GetTempo without a position to go to first.
inline constexpr std::int32_t kTavtuneNoPosition = -1;
// Keys of CollectStaffKeys' table.
inline constexpr int kTavtuneKeyCount = 128;
using TavKeyTable = std::array<std::uint8_t, kTavtuneKeyCount>;
// The labels GetScoreInfoText puts before the author, the keywords and the comment.
using TavInfoLabels = std::array<std::string, 3>;

// The play-switch sections of GetSections and PutSections: kind and INI section.
struct TavSwitchSection {
    int kind;
    const char* section;
};
inline constexpr TavSwitchSection kTavSwitchSections[3] = {{4, "ctDynamic"}, {2, "ctArtic"}, {5, "ctTrills"}};
// Prefix of their temporary INI file in the system temp folder.
inline constexpr const char* kTavtuneTempPrefix = "qvt";

// The binding's result of OpenScore for the engine's answer to C176.
int tavOpenScoreResult(tvWord engineResult);

// The answer of a position query, as its callers receive it.
struct TavPositionInfo {
    std::int32_t valid = 0;    // 1 when the engine answered
    std::int32_t result = 0;   // the request's first result word; -1 for none
    std::int32_t result2 = 0;  // the request's second result word
    std::int32_t reserved = 0;
};
static_assert(sizeof(TavPositionInfo) == 16, "four words");
static_assert(offsetof(TavPositionInfo, result) == 4 && offsetof(TavPositionInfo, result2) == 8, "position record layout");

// The position record from a request record that C55 filled for a position query.
TavPositionInfo tavPositionInfoFrom(const tvRequest& request);

class CTavtuneLib {
public:
    CTavtuneLib();
    ~CTavtuneLib();
    CTavtuneLib(const CTavtuneLib&) = delete;
    CTavtuneLib& operator=(const CTavtuneLib&) = delete;

    // The stub every slot starts at.
    static tvEntryPoint stub();

    // Loads the engine from folder and starts it: reads its instrument-table
    // name (C170), switches on its base option (C92), then C122(100) and
    // C186(-2, 1, 0). Works without the library too, with every slot a stub.
    CTavtuneLib& Init(tvWord instance, const std::filesystem::path& folder = platform::programFolder());
    // Puts the stub in every slot, loads libtavtune.so from folder and binds
    // "C00" .. "C186"; then C112(instance) and C105(). kTavtuneLoadFailed,
    // with no module and every slot a stub, when the library cannot be loaded.
    // A library loaded before is unloaded first (C106), so loading again
    // holds one reference only.
    int LoadTavtune(tvWord instance, const std::filesystem::path& folder = platform::programFolder());
    // Hands the instrument-table name back (C178), ends the score's use (C41),
    // and when the library is loaded shuts it down (C106) and unloads it.
    // Every slot is the stub afterwards. Harmless when repeated.
    void Release();

    // True when path is not empty and is the open score (exact comparison).
    bool IsScoreOpen(const std::filesystem::path& path) const;
    // Opens the score in the engine (C176), closing another one first; 0 and
    // nothing else when that path is open already. Failures as
    // tavOpenScoreResult, with no score marked open.
    int OpenScore(const std::filesystem::path& path, tvWord argument);
    // Ends the open score (C101(0, 0, 0x40000000), C41) and clears the state.
    void CloseScore();

    // --- the open score; each answers kTavtuneNoScore (the counts
    // kTavtuneNoCount) while none is open --------------------------------

    // The staves: C145(0), C145(1), ... up to the first null answer, at most
    // TAVTUNE_MAX_STAVES; the number of staves.
    int CountStaves() const;
    // The voices of stave: C131(stave, 0), C131(stave, 1), ... up to a null
    // answer, or up to and with a record whose marker is 0; the number of them.
    int CountStaffItems(int stave) const;
    // The score's description (C143) as "%s%s\n%s%s\n%s%s": each label followed
    // by its text (author, keywords, comment; an absent text is empty).
    // kTavtuneNoScore, text untouched, when the engine has no description.
    int GetScoreInfoText(const TavInfoLabels& labels, std::string& text) const;
    // The playing time (C55, TAVTUNE_REQUEST_PLAY_TIME) in milliseconds,
    // rounded to the nearest, halves away from zero. kTavtuneNoScore, ms
    // untouched, when the engine fails or answers no time that fits (below 0,
    // beyond 32 bits, not a number).
    int GetPlayTime(std::int32_t& ms) const;
    // Bar and tick at positionMs (C55, TAVTUNE_REQUEST_POSITION), as
    // tavPositionInfoFrom gives them. kTavtuneNoScore, info untouched, when
    // the engine fails.
    int GetPositionInfo(std::int32_t positionMs, TavPositionInfo& info) const;
    // Moves the play position (C93, TAVTUNE_REQUEST_POSITION). With no score
    // open, first prepareCurrentEntry (its failure is returned);
    // kTavtuneNoScore without that hook, when it leaves no score open, or when
    // the engine fails.
    int SetPosition(std::int32_t positionMs);
    // The tempo at the play position (C98), rounded as GetPlayTime: the tempo
    // played when played is set, else the score's. With no score open, first
    // opens currentEntryPath (OpenScore with argument 0; its failure is
    // returned, kTavtuneNoScore without the hook or a path). A position other
    // than kTavtuneNoPosition counts in tempoRequests and is gone to first
    // (SetPosition; its failure is returned). kTavtuneNoScore, tempo
    // untouched, when the engine fails.
    int GetTempo(std::int32_t positionMs, std::int32_t& tempo, bool played);
    // Hands a tempo curve to the engine: per point C99(point,
    // TAVTUNE_REQUEST_TEMPO_POINT) and C99(0, 0), at the end C99(0, 0) once
    // more, then enginePointCount = C100(0, 0) (-1 when the score was closed
    // meanwhile). No points: 0 and no call. A point the engine refuses (-2)
    // gives kTavtunePointRefused, another failure (of a point or of its end)
    // kTavtuneNoScore; the list is then left unfinished.
    int SetTempoCurve(std::span<const TempoPoint> points);
    // enginePointCount = C100(0, 0), or -1 with no score open; returns it.
    std::int32_t UpdateState();

    // --- play switches and options ----------------------------------------

    // Empties the set's three sections, has the engine write its play
    // switches of kTavSwitchSections into a temporary INI file (C169) and
    // reads them back whole into the set; when readOptions is set, then the
    // option word (C63): 0x40 -> UseDynamic, 8 -> UseSwing, 0x20 -> UseTrills.
    // kTavtuneNoScore when the file cannot be made or read, the engine fails
    // a section or answers no option word; kTavtuneOutOfMemory. The file is
    // gone afterwards. Needs no open score.
    int GetSections(TuneSectionSet& set, bool readOptions) const;
    // Nothing (0) when the set has no dynamics lines. Otherwise writes the
    // three sections into a temporary INI file, hands each to the engine
    // (C168; kTavtuneOutOfMemory when the file cannot be written) and sets the
    // options from the switch bytes: 0x40 from UseDynamic, 0x20 from UseTrills,
    // 8 from UseSwing. All three sections and options are handed over even
    // when the engine refuses one; that gives kTavtuneNoScore. The file is
    // gone afterwards. Needs no open score.
    int PutSections(const TuneSectionSet& set) const;
    // The notes of a stave's voice (voice -1: all its voices) as C146 gives
    // them: each key marked 1 in keys (cleared first), or the notes appended
    // to notes; either may be null. Keys pass unchanged, pitched and
    // percussion alike (C146 answers the keys played); a key above 127 marks
    // nothing. kTavtuneNoScore when the engine gives no list,
    // kTavtuneOutOfMemory (notes then unchanged).
    int CollectStaffKeys(int stave, int voice, TavKeyTable* keys, std::vector<tvNote>* notes) const;
    // C63(), then C92(option, option) to switch it on or
    // C92(option, TAVTUNE_OPTION_OFF) to switch it off.
    void SetOption(std::uint32_t option, bool on) const;

    // Set by the pipeline: prepares the current project entry for playing
    // (the player's preparation, with 1), opening its score; 0 or a failure.
    std::function<int()> prepareCurrentEntry;
    // Set by the pipeline: the score file of the current project entry; empty
    // for none.
    std::function<std::filesystem::path()> currentEntryPath;

    // The main window, handed to the engine with every score opened.
    void setMainWindow(platform::MessageTarget* window) { mainWindow_ = window; }

    // The function in slot n; the stub for a number outside the table.
    tvEntryPoint entryPoint(int n) const;
    // Calls slot n with up to six arguments (integers or addresses), the rest 0.
    template <class... Args>
        requires(sizeof...(Args) <= 6)
    tvWord call(int n, Args... args) const {
        const tvWord w[6] = {toWord(args)...};
        return entryPoint(n)(w[0], w[1], w[2], w[3], w[4], w[5]);
    }
    // Calls slot n for an address: null for the engine's 0 and for -1, which
    // is what a stub answers.
    template <class T, class... Args>
    T* callForAddress(int n, Args... args) const {
        const tvWord answer = call(n, args...);
        return answer == 0 || answer == TAVTUNE_NOT_HANDLED ? nullptr : reinterpret_cast<T*>(answer);
    }

    bool isLoaded() const { return module_ != nullptr; }
    void* module() const { return module_; }
    // Why the last load failed (empty after a successful one).
    const std::string& loadError() const { return loadError_; }
    // The engine's instrument-table name read by Init.
    const std::string& tableName() const { return tableName_; }

    // State of the open score, read and written by the players and the step pages.
    bool scoreOpen = false;
    std::filesystem::path scorePath;
    std::int32_t baselinePointCount = 0;  // tempo points of the engine after preparing the score
    std::int32_t enginePointCount = 0;    // tempo points read again after a tempo curve; -1 no score
    std::int32_t tempoRequests = 0;       // tempo queries with a position and recording switches

private:
    template <class T>
    static tvWord toWord(T value) {
        if constexpr (std::is_null_pointer_v<T>) {
            return 0;
        } else if constexpr (std::is_pointer_v<T>) {
            return reinterpret_cast<tvWord>(value);
        } else {
            static_assert(std::is_integral_v<T> || std::is_enum_v<T>, "engine arguments are words or addresses");
            return static_cast<tvWord>(value);
        }
    }

    void fillStubs();
    void unload();
    void clearScoreState();

    void* module_ = nullptr;
    tvEntryPoint entryPoints_[kTavtuneEntryCount];
    std::string loadError_;
    std::string tableName_;
    platform::MessageTarget* mainWindow_ = nullptr;
};

}  // namespace qvp3
