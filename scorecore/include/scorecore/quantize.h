// Swing quantize settings: per staff a rate (long part : short part) over a
// grid of eighths, sixteenths or thirty-seconds, and per voice a protocol
// position; the play procedure runs its delta times through quantizeTick so
// that each pair of grid steps is split long-short by the rate.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace scorecore {

// Long part, short part.
using QuantizeRate = std::array<uint8_t, 2>;

// The rates the program offers, in list order; getRateIndex counts in it.
inline constexpr std::array<std::string_view, 25> kQuantizeRates = {
    "1:4", "4:15", "2:7", "4:13", "1:3", "4:11", "2:5",  "4:9",  "1:2",
    "4:7", "2:3",  "4:5", "1:1",  "5:4", "3:2",  "7:4",  "2:1",  "9:4",
    "5:2", "11:4", "3:1", "13:4", "7:2", "15:4", "4:1"};
inline constexpr int32_t kQuantizeRateNone = 25;  // getRateIndex: not in the list

// The counts the program offers; getAnzahlIndex counts in it.
inline constexpr std::array<uint8_t, 4> kQuantizeCounts = {2, 4, 6, 8};
inline constexpr int32_t kQuantizeCountNone = 4;

// Bit of the flags: a recorded position is aligned to odd grid steps.
inline constexpr uint32_t kQuantizeOddAlignment = 0x1;

// Staff and voice indices come from user files: setters ignore an unknown
// staff or voice, and getters answer for it as for an empty row (rate 0:0,
// note index 0, count 0, no grid, no voices), which never quantizes.
// A rate whose parts add up to 0 and a grid of 0 ticks never divide.
class CQuantize {
public:
    explicit CQuantize(int32_t ticksPerQuarter);

    // Rows with rate 1:1, note index 0, count 2 and no voices. False for
    // staves < 1 or when memory cannot be had; the rows are then left as they were.
    bool create(int32_t staves);
    // Gives the staff `voices` zeroed protocol positions (0 removes them).
    // False for an unknown staff, voices outside 0..255, or lack of memory.
    bool allocVoices(int32_t staff, int32_t voices);
    void freeVoices();  // every staff loses its voices
    void clear();       // no rows, flags 0

    int32_t staffCount() const { return static_cast<int32_t>(staves_.size()); }
    int32_t voiceCount(int32_t staff) const;
    int32_t ticksPerQuarter() const { return ticksPerQuarter_; }
    uint32_t flags() const { return flags_; }
    void setFlags(uint32_t flags) { flags_ = flags; }
    int32_t lastTick() const { return lastTick_; }  // tick of the last recorded position

    void setRate(int32_t staff, uint8_t longPart, uint8_t shortPart);
    // Text as parseRate takes it; false (rate unchanged) for bad text or an unknown staff.
    bool setRateFromString(int32_t staff, std::string_view text);
    bool setRateFromString(int32_t staff, std::u16string_view text);
    // Index in kQuantizeRates of the rate written "%i:%i"; kQuantizeRateNone when absent.
    int32_t getRateIndex(int32_t staff) const;
    // The kQuantizeRates text of the staff's rate; empty when it has none.
    std::string_view getRateString(int32_t staff) const;
    // The rate as "%i:%i" (at most 7 characters); empty for an unknown staff.
    std::string createRateString(int32_t staff) const;
    // Byte `part` (0 long, 1 short) of the rate; 0 for an unknown staff or part.
    uint8_t getRatePart(int32_t staff, int32_t part) const;
    // Two decimal numbers 0..255 around a colon ("2:1"), blanks allowed at
    // either end only. False for anything else, and `rate` is left unchanged.
    static bool parseRate(std::string_view text, QuantizeRate& rate);
    static bool parseRate(std::u16string_view text, QuantizeRate& rate);

    void resetPositions();          // every protocol position 0, flags 0
    void resetStaff(int32_t staff);  // rate 1:1, note index 0, count 2, no voices

    // 0 eighth grid, 1 sixteenth, any other value thirty-second.
    void setNote(int32_t staff, int32_t noteIndex);
    int32_t getNote(int32_t staff) const;
    // Grid step in ticks: ticks per quarter >> 1, 2 or 3.
    int32_t getNoteTicks(int32_t staff) const;
    // Grid steps that pass before a position is recorded.
    void setAnzahl(int32_t staff, uint8_t count);
    uint8_t getAnzahl(int32_t staff) const;
    // Index of the count in kQuantizeCounts; kQuantizeCountNone when absent.
    int32_t getAnzahlIndex(int32_t staff) const;

    void setProtocolPos(int32_t staff, int32_t voice, int32_t pos);
    int32_t getProtocolPos(int32_t staff, int32_t voice) const;  // 0 when unknown
    // True when the staff swings (a rate other than 1:1, 0:1, 1:0 or 0:0, and a
    // grid) and the voice has no protocol position yet.
    bool needsQuantize(int32_t staff, int32_t voice) const;
    // Grid step index = base + tick / grid; once it reaches the count, the
    // voice's position becomes the index rounded down to even, or with
    // kQuantizeOddAlignment in `flags` down to odd and negated. The flags and
    // the tick are kept for quantizeTick and lastTick.
    void recordPos(int32_t staff, int32_t voice, int32_t tick, int32_t base, uint32_t flags);
    // Swings a delta of whole grid steps: the steps become long and short
    // alternately (long first for an even position), long = 2 x grid x a / (a + b).
    // A negative position turns positive and, with kQuantizeOddAlignment in the
    // flags, the old delta minus the new one is returned; otherwise the position
    // counts down by the number of steps and 0 is returned. Any other delta
    // (not whole steps, not positive, or no position) is left alone.
    int32_t quantizeTick(int32_t staff, int32_t voice, int32_t& delta);

private:
    struct StaffRow {
        QuantizeRate rate{1, 1};
        int32_t noteIndex = 0;
        uint8_t anzahl = 2;
        std::vector<int32_t> positions;  // one per voice; empty: no voices
    };

    const StaffRow* row(int32_t staff) const;
    StaffRow* row(int32_t staff);
    const int32_t* position(int32_t staff, int32_t voice) const;
    int32_t* position(int32_t staff, int32_t voice);
    // The grid in ticks when the staff swings: a rate other than 1:1 and a grid
    // of at least one tick; else false.
    bool swingGrid(const StaffRow& r, int32_t& grid) const;

    int32_t ticksPerQuarter_;
    uint32_t flags_ = 0;
    int32_t lastTick_ = 0;
    std::vector<StaffRow> staves_;
};

}  // namespace scorecore
