// Playback of the current entry: the transport's start, pause, stop, rewind,
// wind and seek; MIDI entries played by the own sequencer on a player
// thread, scores by the score engine with the steps' per-voice settings;
// and the preparation of a score for playing or for the MIDI step's render.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/midi_out.h"
#include "platform/real_time_clock.h"
#include "qvp3_pipeline/entry_player.h"
#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_pipeline/worker_threads.h"
#include "qvp3_project/project.h"

namespace qvp3 {

// Entry states of the transport besides those of entry_player.h.
inline constexpr std::int32_t kEntryWindingIdle = 13;
inline constexpr std::int32_t kEntryWindingPlaying = 14;
inline constexpr std::int32_t kEntryWindingPaused = 15;

// Results of the transport.
inline constexpr int kPlayNoLength = -12;
inline constexpr int kPlayNoOutput = -602;
inline constexpr int kPlayIntroFailed = -21;

// Play options of the project (Project::playFeatures) read here besides entry_player.h's.
inline constexpr std::uint64_t kPlayRelativeTempo = 0x4;
inline constexpr std::uint64_t kPlaySections = 0x20;
inline constexpr std::uint64_t kPlayTempoCurve = 0x10000;
inline constexpr std::uint64_t kPlayKeyMaps = 0x20000;

// The tempo-curve step.
inline constexpr int kStepTempoCurve = 8;

// What the transport changes in the main window; every call comes from the
// user-interface thread, except postStop, which the player thread calls when
// the music has ended.
class PlaybackHost {
public:
    virtual ~PlaybackHost() = default;
    virtual void updateTransportControls() {}
    // The pause menu item's text (language string 418 "Pause" / 419 "Continue").
    virtual void setPauseMenuText(int stringId) { (void)stringId; }
    virtual void layoutProfileBar(int mode) { (void)mode; }
    virtual void showPlayPosition(std::int32_t ms, int mode) { (void)ms, (void)mode; }
    virtual void setTempoTrackbar(int value) { (void)value; }
    // The main window's stop command (40052), posted.
    virtual void postStop() {}
};

// A meter record (ticks per quarter, beats, beat unit as a power of two).
struct PlyMeter {
    int beats = 4;
    int ticksPerBeat = 480;
    int ticksPerBar = 1920;
    std::array<std::uint8_t, 4> midiData{4, 2, 24, 8};
};
void plyInitMeter(PlyMeter& meter, int division, int numerator, int power);
// Bar, beat and tick of a position; negative positions (count-in) count back.
void plyTicksToBarBeat(const PlyMeter& meter, std::int64_t position, int& bar, int& beat, int& tick);

// 10 ^ ((TempoRelative - 1000) / 1000) with the project's relative-tempo
// option and the entry's relative flag, else 1.
double TempoFactor(const ProjectEntry& entry);
// value x 10 ^ ((TempoRelative - 1000) / 1000), rounded.
std::int32_t plyScaleByTempo(const ProjectEntry& entry, std::uint32_t value);

// The staff whose voice has the output track track + 1 (the last such one);
// stave unchanged when none.
void plyFindStaveOfTrack(const ProjectEntry& entry, int track, int& stave);

class PlaybackControl {
public:
    PlaybackControl(Project& project, CTavtuneLib& engine, PlaybackHost* host = nullptr);
    ~PlaybackControl();  // stops a running player first
    PlaybackControl(const PlaybackControl&) = delete;
    PlaybackControl& operator=(const PlaybackControl&) = delete;

    // The MIDI output of MIDI entries, by name ("Default": the first output).
    std::string midiOutputName = "Default";
    // Tests: an output to play into instead of opening one, and a clock.
    platform::MidiOutDevice* outputForTests = nullptr;
    const platform::RealTimeClock* clockForTests = nullptr;

    // --- the transport (user-interface thread)
    int plyStart(ProjectEntry& entry);
    void plyPause(ProjectEntry& entry);
    void plyStop(ProjectEntry& entry);
    void plyRewind(ProjectEntry& entry);
    void plyBeginSeek(ProjectEntry& entry);
    // Moves the position: scores to ms, MIDI entries to ms as the sequencer plays them.
    void plySeek(ProjectEntry& entry, std::int32_t ms, bool final);
    // The wind thread: every 100 ms the position moves by step milliseconds
    // (+1000 forward, -1000 back) until the entry's end or start.
    bool plyStartPositionThread(ProjectEntry& entry, std::int32_t step);
    void plyStopPositionThread(ProjectEntry& entry);
    // The position in milliseconds.
    std::int32_t plyEntryPosition(const ProjectEntry& entry) const;
    // Waits for the player thread of a MIDI entry to end (tests, closing).
    void waitForPlayer();

    // --- scores and the engine
    // Makes a score ready in the engine (every kind else: 0): opened with
    // the per-voice records, options, voice masks, transposition, tempo
    // curve and intro; 0, -2, -6 or the engine's opening code. Not for
    // export, a score that is already open stays as it is.
    int plyPrepareEntry(ProjectEntry& entry, bool forExport);
    // plyPrepareEntry, then the playing time and the absolute tempo at 0.
    int plyPrepareAndMeasure(ProjectEntry& entry);
    // Channel, sound, volume and panorama of every voice to the engine.
    void plyApplyVoiceSettings(ProjectEntry& entry);
    bool plySendVoiceMasks(ProjectEntry& entry);
    void plySendTransposition(ProjectEntry& entry);
    int plySendTempoCurve(ProjectEntry& entry);
    // Scores: C97(tempo, 1); -1.0 or less is the player's tempo. -6 without a score.
    int plySetEngineTempo(ProjectEntry& entry, double tempo);
    void plySetEngineVoicePan(ProjectEntry& entry, int stave, int voice, int pan);
    void plySetEngineVoiceVolume(ProjectEntry& entry, int stave, int voice, int volume);
    void plySetEngineVoiceChannel(ProjectEntry& entry, int stave, int voice, int channel);
    void plySetEngineVoiceSound(ProjectEntry& entry, int stave, int voice, int sound);
    // The tempo the entry plays at a position in ticks; fromCurve is set when
    // a point of the tempo curve gave it.
    double plyEntryTempoAt(ProjectEntry& entry, std::int64_t ticks, bool* fromCurve = nullptr);
    // For a playing score, or when forced: the engine's tempo recording
    // (0x200) and file-tempo (0x100) options on or off.
    void plySetEngineOption200(ProjectEntry& entry, bool on, bool force);
    void plySetEngineOption100(ProjectEntry& entry, bool on, bool force);
    // A score in the tempo-curve step (every other case: 0, nothing done):
    // the engine's tempo points, with what it recorded, become the curve's
    // recorded list, each tempo divided by TempoFactor (kept as the point's
    // factor, so that handing the list back gives the engine its tempos
    // again); the binding's enginePointCount is read again. Nothing while
    // the engine holds no score or another one. 0, or -6 when a point cannot
    // be stored (the points before it stay).
    int plyLoadEngineTempoCurve(ProjectEntry& entry);

private:
    int startMidi(ProjectEntry& entry);
    // Asks the MIDI player to stop and waits for it.
    void stopPlayer(ProjectEntry& entry);
    // A score stopped in the tempo-curve step.
    void takeOverRecordedTempos(ProjectEntry& entry);
    int startScore(ProjectEntry& entry);
    void playerThread(ProjectEntry& entry, WorkerThreadRec& record);
    void windThread(ProjectEntry& entry, WorkerThreadRec& record);
    void seekMidi(ProjectEntry& entry, std::int32_t ms);
    // The seek itself, as the wind thread moves the entry.
    void moveTo(ProjectEntry& entry, std::int32_t ms, bool final);
    std::uint64_t features() const { return project_.playFeatures; }

    Project& project_;
    CTavtuneLib& engine_;
    PlaybackHost* host_;
    PlaybackHost noHost_;
    std::unique_ptr<WorkerThreadRec> player_;
    std::unique_ptr<platform::MidiOutDevice> output_;
    ProjectEntry* playing_ = nullptr;
};

}  // namespace qvp3
