// Where the MusicXML voices of each part live: per part and per staff a 32-bit
// mask of the voice numbers seen there (bit v for voice v + 1) and the
// mapping of voice ids that are not numbers onto unused voice numbers of the
// part.
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

}  // namespace scoreconv
