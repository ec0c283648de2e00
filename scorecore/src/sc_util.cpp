#include "scorecore/sc_util.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <type_traits>
#include <utility>

namespace scorecore {

namespace {

template <class T>
T divRound(T a, T b) {
    if (b == 0) return 0;
    if (a == std::numeric_limits<T>::min() && b == -1) return std::numeric_limits<T>::max();
    T quotient = a / b;
    // Compare the remainder with half the divisor in unsigned magnitudes, so
    // that neither doubling nor negating can overflow.
    using U = std::make_unsigned_t<T>;
    const T remainder = a % b;
    const U r = remainder < 0 ? U(0) - static_cast<U>(remainder) : static_cast<U>(remainder);
    const U d = b < 0 ? U(0) - static_cast<U>(b) : static_cast<U>(b);
    if (r != 0 && r >= d - r) quotient += ((a < 0) != (b < 0)) ? T(-1) : T(1);
    return quotient;
}

// std::round, then saturated to T; NaN gives 0.
template <class T>
T roundSaturated(double x) {
    if (std::isnan(x)) return 0;
    const double r = std::round(x);
    // Both limits of a two's complement type are powers of two (less one),
    // exactly representable as -2^n and 2^n.
    constexpr double kUpper = -static_cast<double>(std::numeric_limits<T>::min());
    if (r >= kUpper) return std::numeric_limits<T>::max();
    if (r <= -kUpper) return std::numeric_limits<T>::min();
    return static_cast<T>(r);
}

constexpr int kLevelMin = -10000;
constexpr int kLevelMax = 10000;

// A level formula's result, clamped to the level scale and cut to int.
int toLevel(double level) {
    return static_cast<int>(std::clamp(level, double(kLevelMin), double(kLevelMax)));
}

}  // namespace

int scDivRound(int a, int b) { return divRound(a, b); }
std::int64_t scDivRound64(std::int64_t a, std::int64_t b) { return divRound(a, b); }

int scRound(double x) { return roundSaturated<int>(x); }
std::int64_t scRound64(double x) { return roundSaturated<std::int64_t>(x); }

int scStepTowardZero(int a) {
    if (a > 0) return a - 1;
    if (a < 0) return a + 1;
    return 0;
}

int scStepAwayFromZero(int a) {
    if (a > 0) return a == std::numeric_limits<int>::max() ? a : a + 1;
    if (a < 0) return a == std::numeric_limits<int>::min() ? a : a - 1;
    return 0;
}

std::uint16_t scSwapBytes16(std::uint16_t value) {
    return static_cast<std::uint16_t>((value >> 8) | (value << 8));
}

std::uint32_t scSwapBytes32(std::uint32_t value) {
    return (value >> 24) | ((value >> 8) & 0x0000FF00u) | ((value << 8) & 0x00FF0000u) | (value << 24);
}

void scSwapInts(int& a, int& b) { std::swap(a, b); }
void scSwapShorts(std::int16_t& a, std::int16_t& b) { std::swap(a, b); }

std::string scFormatDouble(double x, int decimals) {
    if (!std::isfinite(x)) x = 0.0;
    x += 0.0;  // turns -0 into +0, which has no sign to print
    decimals = std::clamp(decimals, 0, 1074);
    // '#' keeps the point when there are no decimals.
    const int size = std::snprintf(nullptr, 0, "%#.*f", decimals, x);
    if (size <= 0) return "0.";
    std::string text(static_cast<std::size_t>(size), '\0');
    std::snprintf(text.data(), text.size() + 1, "%#.*f", decimals, x);
    return text;
}

double scMsToTicks(double ms, int tpq, int tempo) {
    if (tpq <= 0 || tempo <= 0) return 0.0;
    return ms / 1000.0 * tpq / (60.0 / tempo);
}

int scTicksToMsRounded(int tpq, int tempo, int ticks) {
    return scTicksToMs(tpq, tempo, ticks, nullptr);
}

int scTicksToMs(int tpq, int tempo, double ticks, double* exact) {
    double ms = 0.0;
    if (tpq > 0 && tempo > 0) ms = 1000.0 / tpq * (60.0 / tempo) * ticks;
    if (exact) *exact = ms;
    return scRound(ms);
}

int scLevelToPan(int level) {
    const double s = std::clamp(level, kLevelMin, kLevelMax);
    const int pan = 128 - scRound(128.0 / (std::pow(10.0, s * 0.00021) + 1.0));
    return std::clamp(pan, 0, 127);
}

int scPanToLevel(int pan) {
    const int p = std::clamp(pan, 0, 127);
    const double ratio = 128.0 / (128 - p) - 1.0;
    if (ratio <= 0.0) return kLevelMin;
    return toLevel(std::log10(ratio) * 10.0 / 21.0 * 10000.0);
}

int scLevelToVolume(int level) {
    const double s = std::clamp(level, kLevelMin, kLevelMax);
    const int volume = scRound((1.0 - std::pow(10.0, s * 0.00021)) * 128.0);
    return std::clamp(volume, 0, 127);
}

int scVolumeToLevel(int volume) {
    const int v = std::clamp(volume, 0, 127);
    return toLevel(std::log10(1.0 - v / 128.0) * 10.0 / 21.0 * 10000.0);
}

}  // namespace scorecore
