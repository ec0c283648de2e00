// Where the MusicXML voices of each part live: per part and per staff a 32-bit
// mask of the voice numbers seen there (bit v for voice v + 1), the mapping of
// voice ids that are not numbers onto unused voice numbers of the part, and
// the done matrix of the play procedure (per staff and voice: has it played
// its last event).
//
// Part, staff and voice numbers come from files: unknown ones read as "none"
// (-1, 0 or an empty mask) and are never used to index a table.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace scoreconv {

class CVoiceBitTables {
public:
    static constexpr int32_t kMaxVoices = 32;

    void clear();

    // Appends a part with no staves and an empty mask; false when memory runs out.
    bool appendPart();
    // Appends n staves with empty masks to the part; false for an unknown part,
    // n < 0 or without memory.
    bool growStaves(int32_t part, int32_t n);

    int32_t partCount() const { return static_cast<int32_t>(parts_.size()); }
    int32_t staffCount(int32_t part) const;
    // The file-wide index of the part's first staff: the staves of the parts
    // before it; -1 for an unknown part.
    int32_t firstStaffOfPart(int32_t part) const;

    uint32_t partMask(int32_t part) const;
    uint32_t staffMask(int32_t part, int32_t staff) const;
    // Stores the mask (0 is stored as 1: voice 1 alone) and adds it to the part's.
    void setStaffMask(int32_t part, int32_t staff, uint32_t mask);
    // Places voice number 1..32 on the staff, unless a staff of the part holds
    // it already (the first staff met stays). Unknown staves and voice
    // numbers are ignored.
    void assignVoice(int32_t part, int32_t staff, int32_t voiceNumber);
    // Every staff of the part that holds no voice gets voice 1.
    void fillEmptyStaves(int32_t part);

    // --- lookups by voice bit (voice number - 1).
    // The staff whose mask holds the bit; -1 when none.
    int32_t staffOfVoice(int32_t part, int32_t voiceBit) const;
    // Voices (set bits) of a staff.
    int32_t voiceCount(int32_t part, int32_t staff) const;
    // Position of the k-th set bit (k from 0); -1 when there is none.
    int32_t nthVoiceBit(int32_t part, int32_t staff, int32_t k) const;
    // Index of the voice among the staff's voices (set bits below it); -1
    // when the staff does not hold the bit.
    int32_t voiceRank(int32_t part, int32_t staff, int32_t voiceBit) const;
    // Voice index counted over the part: the voices of the staves before plus
    // voice; -1 for an unknown staff or a voice beyond the staff's count.
    int32_t flatIndex(int32_t part, int32_t staff, int32_t voice) const;
    // Back from a flat index to (staff, voice); false when out of range.
    bool fromFlatIndex(int32_t part, int32_t flat, int32_t& staff, int32_t& voice) const;

    // --- voice ids of the part's <voice> elements.
    // Notes an id the part uses. Note every id of the part before asking for
    // numbers: an id that is not a number gets one that no noted number uses.
    void noteVoiceText(int32_t part, std::string_view text);
    // The voice number (1..32) of an id: an empty id is 1; "1".."32" are
    // themselves; any other number (0, 33, -1 ...) is -1 (ignored); an id that
    // is not a number gets the lowest number the part's noted numbers and
    // earlier ids leave free, the same one at every call; -1 when none is left
    // or the part is unknown.
    int32_t voiceNumber(int32_t part, std::string_view text);

private:
    struct Part {
        uint32_t mask = 0;
        std::vector<uint32_t> staffMasks;
        uint32_t numbersSeen = 0;   // numeric ids noted
        uint32_t numbersGiven = 0;  // numbers handed to ids that are not numbers
        std::vector<std::pair<std::string, int32_t>> names;
    };

    Part* part(int32_t index);
    const Part* part(int32_t index) const;
    std::vector<Part> parts_;
};

// The done matrix: per staff one flag per voice, per staff a flag that all
// its voices are done, and the count of such staves. A staff without voices
// is done from the start.
class CVoiceFlags {
public:
    static constexpr int32_t kDefaultVoices = 6;
    static constexpr int32_t kMaxVoicesPerStaff = 255;

    // staves rows with voiceCounts[s] voices each (kDefaultVoices each when
    // voiceCounts is empty; missing entries and negative counts give none,
    // counts above kMaxVoicesPerStaff are cut), every voice not done. False,
    // with the matrix as it was, for staves < 0 or without memory.
    bool create(int32_t staves, std::span<const int32_t> voiceCounts = {});
    void free();

    int32_t staffCount() const { return static_cast<int32_t>(voices_.size()); }
    int32_t voiceCount(int32_t staff) const;

    // An unknown (staff, voice) reads as done: it has nothing to play.
    bool isDone(int32_t staff, int32_t voice) const;
    void setDone(int32_t staff, int32_t voice, bool done = true);
    bool isStaffDone(int32_t staff) const;
    int32_t doneStaves() const { return doneStaves_; }
    bool allDone() const { return doneStaves_ == staffCount(); }

    // Recomputes the staff flags and the count; returns the count.
    int32_t recount();
    void setAll();
    void clearAll();

    bool operator==(const CVoiceFlags&) const = default;

private:
    bool updateStaff(std::size_t staff);

    std::vector<std::vector<uint8_t>> voices_;
    std::vector<uint8_t> staffDone_;
    int32_t doneStaves_ = 0;
};

}  // namespace scoreconv
