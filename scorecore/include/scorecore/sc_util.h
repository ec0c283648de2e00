// Small arithmetic shared by the score library and the program: rounding,
// tick and time conversion, byte order, level scales and number texts.
// Nothing here divides by zero or converts an out-of-range double to an
// integer: such inputs get the documented neutral or saturated answers.
#pragma once

#include <cstdint>
#include <string>

namespace scorecore {

// a / b rounded to the nearest integer, halves away from zero (7/2 = 4,
// -7/2 = -4, 5/4 = 1). b = 0 gives 0; a result beyond the type saturates.
int scDivRound(int a, int b);
std::int64_t scDivRound64(std::int64_t a, std::int64_t b);

// Nearest integer, halves away from zero (2.5 -> 3, -2.5 -> -3). NaN gives 0;
// values beyond the type saturate.
int scRound(double x);
std::int64_t scRound64(double x);

// One step toward or away from zero; 0 stays 0. Saturates at the type's ends.
int scStepTowardZero(int a);
int scStepAwayFromZero(int a);

// Byte order reversal for the big-endian fields of MIDI files.
std::uint16_t scSwapBytes16(std::uint16_t value);
std::uint32_t scSwapBytes32(std::uint32_t value);
void scSwapInts(int& a, int& b);
void scSwapShorts(std::int16_t& a, std::int16_t& b);

// Fixed-point text: "-" when negative, the integer digits (or "0"), ".",
// then exactly `decimals` fraction digits, rounded ("%#.*f"). A negative
// `decimals` counts as 0 and more than 1074 (where every double's exact
// value ends) as 1074. NaN and the infinities, which have no digits, give the
// text of 0. Negative zero gives the text of 0.
std::string scFormatDouble(double x, int decimals);

// Ticks in `ms` milliseconds at `tpq` ticks per quarter and `tempo` quarters
// per minute, unrounded. 0 when tpq or tempo is not positive.
double scMsToTicks(double ms, int tpq, int tempo);
// Milliseconds of `ticks`, rounded half away from zero (saturated to int).
// 0 when tpq or tempo is not positive.
int scTicksToMsRounded(int tpq, int tempo, int ticks);
// The same for fractional ticks; the unrounded value is stored in `exact`
// when given (0 when tpq or tempo is not positive).
int scTicksToMs(int tpq, int tempo, double ticks, double* exact);

// Conversions between the level scale -10000..10000 and MIDI values 0..127.
// Inputs are clamped to their range first; results are clamped to theirs.
int scLevelToPan(int level);      // 0 -> 64
int scPanToLevel(int pan);        // 64 -> 0, 0 -> -10000
int scLevelToVolume(int level);   // 0 -> 0, -10000 -> 127
int scVolumeToLevel(int volume);  // 0 -> 0, 127 -> -10000

}  // namespace scorecore
