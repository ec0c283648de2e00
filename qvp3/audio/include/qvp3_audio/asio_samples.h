// Sample conversion between a low-latency driver's channel buffers and the
// engine's 32-bit float channels, for every sample type such a driver may
// use (the types keep their published numbers, since drivers report them).
//
// Inputs become floats in -1..+1; outputs are clipped to -1..+1 with
// c = (|x + 1| - |x - 1|) / 2, scaled and truncated toward zero, except the
// 32-bit float type, which is copied unclipped. Big-endian types are stored
// big-endian in the driver's buffer; the source buffer of an input is never
// changed. An unknown type converts nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qvp3 {

enum class AsioSampleType : std::int32_t {
    Int16BE = 0,
    Int24BE = 1,  // packed, 3 bytes
    Int32BE = 2,
    Float32BE = 3,
    Float64BE = 4,
    Int32BE16 = 8,  // 32-bit words carrying 16, 18, 20 or 24 bits, right-aligned
    Int32BE18 = 9,
    Int32BE20 = 10,
    Int32BE24 = 11,
    Int16LE = 16,
    Int24LE = 17,
    Int32LE = 18,
    Float32LE = 19,
    Float64LE = 20,
    Int32LE16 = 24,
    Int32LE18 = 25,
    Int32LE20 = 26,
    Int32LE24 = 27,
};

// Bytes one sample of the type takes in a driver's buffer; 0 for a type we
// do not know.
std::size_t asioSampleBytes(AsioSampleType type);

// The clip used before every integer conversion.
inline double asioClip(double x) {
    const double above = x + 1.0 < 0.0 ? -(x + 1.0) : x + 1.0;
    const double below = x - 1.0 < 0.0 ? -(x - 1.0) : x - 1.0;
    return (above - below) / 2.0;
}

// A float as a 16-bit or a 24-bit sample.
std::int32_t asioFloatToInt16(float x);
std::int32_t asioFloatToInt24(float x);

// Converts frames samples of the driver's buffer src into dst; false, and
// dst unchanged, for an unknown type.
bool asioToFloat(AsioSampleType type, const void* src, float* dst, std::size_t frames);
// Converts frames floats into the driver's buffer dst; false, and dst
// unchanged, for an unknown type.
bool asioFromFloat(AsioSampleType type, const float* src, void* dst, std::size_t frames);

}  // namespace qvp3
