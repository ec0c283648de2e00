// Sample conversion for a low-latency driver's buffers.
#include "qvp3_audio/asio_samples.h"

#include <bit>
#include <cstring>

namespace qvp3 {
namespace {

using T = AsioSampleType;

constexpr bool kLittleEndian = std::endian::native == std::endian::little;
constexpr double kFrom16 = 3.05180401483085e-5;  // 1 / 32767.5
constexpr double kFrom24 = 1.0 / 8388608.0;      // 2^-23

struct Layout {
    std::size_t bytes = 0;    // per sample; 0 unknown
    bool bigEndian = false;
    enum Kind { None, Int16, Int24, Int32, Int32Bits, Float32, Float64 } kind = None;
    int bits = 24;  // data bits of Int32Bits
};

Layout layoutOf(T type) {
    switch (type) {
        case T::Int16BE: return {2, true, Layout::Int16};
        case T::Int16LE: return {2, false, Layout::Int16};
        case T::Int24BE: return {3, true, Layout::Int24};
        case T::Int24LE: return {3, false, Layout::Int24};
        case T::Int32BE: return {4, true, Layout::Int32};
        case T::Int32LE: return {4, false, Layout::Int32};
        case T::Float32BE: return {4, true, Layout::Float32};
        case T::Float32LE: return {4, false, Layout::Float32};
        case T::Float64BE: return {8, true, Layout::Float64};
        case T::Float64LE: return {8, false, Layout::Float64};
        case T::Int32BE16: return {4, true, Layout::Int32Bits, 16};
        case T::Int32BE18: return {4, true, Layout::Int32Bits, 18};
        case T::Int32BE20: return {4, true, Layout::Int32Bits, 20};
        case T::Int32BE24: return {4, true, Layout::Int32Bits, 24};
        case T::Int32LE16: return {4, false, Layout::Int32Bits, 16};
        case T::Int32LE18: return {4, false, Layout::Int32Bits, 18};
        case T::Int32LE20: return {4, false, Layout::Int32Bits, 20};
        case T::Int32LE24: return {4, false, Layout::Int32Bits, 24};
    }
    return {};
}

// Unsigned load and store of n bytes in the buffer's byte order.
std::uint64_t load(const unsigned char* p, std::size_t n, bool bigEndian) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = bigEndian ? i : n - 1 - i;
        v = (v << 8) | p[at];
    }
    return v;
}

void store(unsigned char* p, std::size_t n, bool bigEndian, std::uint64_t v) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t at = bigEndian ? n - 1 - i : i;
        p[at] = static_cast<unsigned char>(v & 0xFF);
        v >>= 8;
    }
}

// The low `bits` bits of v as a signed value.
std::int64_t signExtend(std::uint64_t v, int bits) {
    const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
    v &= (sign << 1) - 1;
    return static_cast<std::int64_t>(v ^ sign) - static_cast<std::int64_t>(sign);
}

float sampleToFloat(const Layout& l, const unsigned char* p) {
    const std::uint64_t raw = load(p, l.bytes, l.bigEndian);
    switch (l.kind) {
        case Layout::Int16: return static_cast<float>((static_cast<double>(signExtend(raw, 16)) + 0.5) * kFrom16);
        case Layout::Int24: return static_cast<float>((static_cast<double>(signExtend(raw, 24)) + 0.5) * kFrom24);
        case Layout::Int32: {
            const std::int64_t s24 = signExtend(raw, 32) >> 8;  // arithmetic
            return static_cast<float>((static_cast<double>(s24) + 0.5) * kFrom24);
        }
        case Layout::Int32Bits: {
            const std::int64_t s24 = signExtend(raw, 32) * (std::int64_t{1} << (24 - l.bits));
            return static_cast<float>((static_cast<double>(s24) + 0.5) * kFrom24);
        }
        case Layout::Float32: {
            const auto bits = static_cast<std::uint32_t>(raw);
            float f;
            std::memcpy(&f, &bits, sizeof f);
            return f;
        }
        case Layout::Float64: {
            double d;
            std::memcpy(&d, &raw, sizeof d);
            return static_cast<float>(d);
        }
        case Layout::None: break;
    }
    return 0.0f;
}

std::uint64_t floatToSample(const Layout& l, float x) {
    switch (l.kind) {
        case Layout::Int16: return static_cast<std::uint64_t>(asioFloatToInt16(x));
        case Layout::Int24: return static_cast<std::uint64_t>(asioFloatToInt24(x));
        case Layout::Int32: return static_cast<std::uint64_t>(std::int64_t{asioFloatToInt24(x)} * 256);
        case Layout::Int32Bits: return static_cast<std::uint64_t>(std::int64_t{asioFloatToInt24(x)} >> (24 - l.bits));
        case Layout::Float32: {
            std::uint32_t bits;
            std::memcpy(&bits, &x, sizeof bits);
            return bits;
        }
        case Layout::Float64: {
            const double d = asioClip(x);
            std::uint64_t bits;
            std::memcpy(&bits, &d, sizeof bits);
            return bits;
        }
        case Layout::None: break;
    }
    return 0;
}

}  // namespace

std::size_t asioSampleBytes(AsioSampleType type) { return layoutOf(type).bytes; }

// The casts truncate toward zero.
std::int32_t asioFloatToInt16(float x) { return static_cast<std::int32_t>(asioClip(x) * 32767.505859375 - 0.5); }
std::int32_t asioFloatToInt24(float x) { return static_cast<std::int32_t>(asioClip(x) * 8388608.0 - 0.5); }

bool asioToFloat(AsioSampleType type, const void* src, float* dst, std::size_t frames) {
    const Layout l = layoutOf(type);
    if (l.bytes == 0) return false;
    if (type == AsioSampleType::Float32LE && kLittleEndian) {  // the low-latency server's own type
        std::memcpy(dst, src, frames * sizeof(float));
        return true;
    }
    const auto* p = static_cast<const unsigned char*>(src);
    for (std::size_t i = 0; i < frames; ++i) dst[i] = sampleToFloat(l, p + i * l.bytes);
    return true;
}

bool asioFromFloat(AsioSampleType type, const float* src, void* dst, std::size_t frames) {
    const Layout l = layoutOf(type);
    if (l.bytes == 0) return false;
    if (type == AsioSampleType::Float32LE && kLittleEndian) {
        std::memcpy(dst, src, frames * sizeof(float));
        return true;
    }
    auto* p = static_cast<unsigned char*>(dst);
    for (std::size_t i = 0; i < frames; ++i) store(p + i * l.bytes, l.bytes, l.bigEndian, floatToSample(l, src[i]));
    return true;
}

}  // namespace qvp3
