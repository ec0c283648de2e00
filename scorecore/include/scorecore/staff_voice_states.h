// Per staff and per voice of a score: hidden, switched off or switched on.
// The play model answers the on/off exports from one of these, and the program
// keeps its own for the step pages, the players and the project files.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace scorecore {

inline constexpr int32_t kStateInvalid = -1;
inline constexpr int32_t kStateHidden = 0;
inline constexpr int32_t kStateOff = 1;
inline constexpr int32_t kStateOn = 2;

// Staff and voice indices often come from user files, so every query treats an
// index outside the matrix as kStateInvalid and every setter ignores it.
// A staff without voices answers every voice (index >= 0) with its own state.
class CStaffVoiceStates {
public:
    CStaffVoiceStates() = default;  // no staves; destruction frees the rows

    // One row per staff. voiceCounts holds one byte per staff (empty: no staff
    // has voices). A staff with voices starts on (staff and every voice 2), a
    // staff without voices starts off (1). False for staves < 1, for a
    // voiceCounts shorter than staves, or when memory cannot be had; the matrix
    // is then left as it was.
    bool create(int32_t staves, std::span<const uint8_t> voiceCounts = {});
    // Drops every row; the staff count becomes 0.
    void free();

    int32_t staffCount() const { return static_cast<int32_t>(rows_.size()); }
    // Length of the staff's voice array: 0 for a staff without voices or out of range.
    int32_t voiceCount(int32_t staff) const;

    bool isStaffVisible(int32_t staff) const;  // state != 0
    bool isStaffOff(int32_t staff) const;      // state == 1
    bool isStaffOn(int32_t staff) const;       // state == 2
    bool isStaffInvalid(int32_t staff) const;  // state == -1
    int32_t getStaffOnOff(int32_t staff) const;

    bool isVoiceVisible(int32_t staff, int32_t voice) const;
    bool isVoiceOff(int32_t staff, int32_t voice) const;
    bool isVoiceOn(int32_t staff, int32_t voice) const;
    bool isVoiceInvalid(int32_t staff, int32_t voice) const;
    int32_t getVoiceOnOff(int32_t staff, int32_t voice) const;

    // Stores the state and returns it; -1 (nothing stored) when the staff has no
    // voice array or an index is out of range.
    int32_t setVoiceOnOff(int32_t staff, int32_t voice, int32_t state);
    // Sets the staff state; with alsoVoices and only when the state changed,
    // every voice of the staff takes it as well.
    void setStaffOnOff(int32_t staff, int32_t state, bool alsoVoices);
    // on: staff 2 (1 when it has no voices) and every voice 2; off: all 1.
    void setStaffAll(int32_t staff, bool on);
    void setAll(bool on);
    bool anyStaffOn() const;

    // Takes over the states of other. Matrices of different shape share only
    // their common staves and voices; the rest of this matrix keeps its states.
    // A staff of other without voices lends its staff state to every voice.
    void copyStates(const CStaffVoiceStates& other);

    // One byte per staff: 0 when the staff is off (state 1); 1 when every voice
    // is on (also for a staff without voices that is not off); otherwise
    // 0x80 | (1 << v) for every voice v that is on. Only voices 0..7 fit, and
    // voice 7 shares its bit with the 0x80 marker; later voices are left out.
    std::vector<uint8_t> getVoiceMasks() const;

private:
    struct StaffRow {
        std::vector<int32_t> voices;  // empty: the staff has no voice array
        int32_t staffState = kStateOff;
    };

    const StaffRow* row(int32_t staff) const;
    StaffRow* row(int32_t staff);
    // The stored state a voice query answers from; null for an unknown index.
    const int32_t* findVoice(int32_t staff, int32_t voice) const;

    std::vector<StaffRow> rows_;
};

}  // namespace scorecore
