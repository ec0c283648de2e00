// Standard MIDI file events into an MFX sequence: notes paired into Note
// events with durations, RPN/NRPN controller runs folded into RPN and NRPN
// events, bank selects folded into the Patch event that follows them, and
// system-exclusive messages with a note of whether they were all resets.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <span>

#include "qvp3_audio/mfx_seq.h"

namespace qvp3 {

// The reset messages of the General MIDI, XG and GS standards, by exact bytes.
bool mfxIsResetMessage(std::span<const std::uint8_t> message);

class CMfxLoader {
public:
    // oneTrackPerChannel: events go to the track of their channel instead of
    // the track of their file track.
    explicit CMfxLoader(CMfxSeq& seq, bool oneTrackPerChannel = false);

    // The track of an event of a file track with this status byte (created
    // when missing); null when there is none for it.
    CMfxTrack* TrackFor(int fileTrack, std::uint8_t status);

    void NoteOn(CMfxTrack& track, std::int32_t time, int channel, int key, int velocity);
    // Also a note-on of velocity 0. A note-off without an open note is dropped.
    void NoteOff(CMfxTrack& track, std::int32_t time, int channel, int key, int releaseVelocity = 0);
    // Every open note of the channel ends at `time`.
    void CloseChannel(CMfxTrack& track, int channel, std::int32_t time);
    void CloseAll(CMfxTrack& track, std::int32_t time);
    int openNotes() const { return openCount_; }

    // A control change: folded into RPN/NRPN state and events, or a plain Control event.
    void Controller(CMfxTrack& track, std::int32_t time, int channel, int number, int value);
    // A program change with the bank select before it folded in.
    void ProgramChange(CMfxTrack& track, std::int32_t time, int channel, int program);
    // Any other event as it stands (key and channel pressure, wheel, text...).
    void Append(CMfxTrack& track, CMfxEvent event);
    // A whole system-exclusive message (with its F0) into a Sysx event.
    HRESULT SysEx(CMfxTrack& track, std::int32_t time, std::span<const std::uint8_t> message);

    bool onlyResetMessages() const { return onlyResets_; }
    std::int32_t earliestTime() const { return earliest_; }

    // Reads a Standard MIDI File (also RIFF-wrapped) into the sequence, which
    // is reset first and takes the file's division as its PPQ; tempos, time
    // and key signatures and markers go into its maps. 0 or the MIDI readers'
    // codes (kMidiCannotOpen, kMidiNotMidiFile, kMidiShortRead, kMidiOutOfMemory).
    int LoadFile(const std::filesystem::path& path);

private:
    static constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
    enum class ParamMode { None, Rpn, Nrpn };
    struct ParamState {
        ParamMode mode = ParamMode::None;
        int paramMsb = 0;
        int paramLsb = 0;
        int valueMsb = 0;
        int valueLsb = 0;
    };

    void Track(const CMfxEvent& event);
    void ParamEvent(CMfxTrack& track, std::int32_t time, int channel, const ParamState& state);
    bool MergeValueLsb(CMfxTrack& track, std::int32_t time, int channel, const ParamState& state);
    // Removes an event and moves the open notes' indices after it.
    void Erase(CMfxTrack& track, std::size_t index);
    int FindBack(const CMfxTrack& track, std::int32_t time, int window, int channel, MfxEventType type,
                 int number) const;
    int LoadTrack(std::span<const std::uint8_t> body, int fileTrack);
    void LoadMeta(int fileTrack, std::int32_t time, int type, std::span<const std::uint8_t> data);

    CMfxSeq& seq_;
    bool byChannel_;
    // Per channel and key the oldest open note (its index in the track that
    // holds the channel's notes); later open notes of the same key chain on
    // through the duration fields.
    std::array<std::array<std::uint32_t, 128>, 16> open_{};
    std::array<CMfxTrack*, 16> noteTrack_{};
    int openCount_ = 0;
    std::array<ParamState, 16> params_{};
    bool onlyResets_ = true;
    std::int32_t earliest_ = std::numeric_limits<std::int32_t>::max();
};

}  // namespace qvp3
