// Conversion of MFX time values between seconds, samples and the musical
// formats, through ticks x 65536 and samples at 44100 Hz.
#include <cmath>
#include <limits>

#include "qvp3_audio/mfx_host_site.h"

namespace qvp3 {
namespace {

bool isFrames(MfxTimeFormat f) { return f >= MfxTimeFormat::Frames24 && f <= MfxTimeFormat::Frames30; }
bool isMusical(MfxTimeFormat f) { return f >= MfxTimeFormat::Ticks && f <= MfxTimeFormat::Mbt; }
bool isClock(MfxTimeFormat f) { return f == MfxTimeFormat::Seconds || f == MfxTimeFormat::Samples; }

std::int64_t ticksToFraction(std::int64_t ticks) { return ticks * 65536; }
// Arithmetic shift: whole ticks toward minus infinity.
std::int32_t wholeTicks(std::int64_t ticks65536) {
    const std::int64_t t = ticks65536 >= 0 ? ticks65536 / 65536 : -((-ticks65536 + 65535) / 65536);
    if (t > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
    if (t < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(t);
}

}  // namespace

HRESULT CMfxHostSite::Convert(MfxTime* time, MfxTimeFormat format) {
    if (time == nullptr) return E_POINTER;
    const MfxTimeFormat from = time->format;
    if (isFrames(from) || isFrames(format)) return E_NOTIMPL;
    if ((!isMusical(from) && !isClock(from)) || (!isMusical(format) && !isClock(format))) return E_INVALIDARG;
    if (from == format) return S_OK;
    const CMfxSeq& s = sequence();

    std::int64_t samples = 0;
    std::int64_t fraction = 0;
    if (from == MfxTimeFormat::Seconds) {
        const double value = time->seconds * static_cast<double>(kMfxSampleRate);
        // A seconds value that no sample count holds is refused rather than converted to nonsense.
        if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) return E_INVALIDARG;
        samples = static_cast<std::int64_t>(value);
    } else if (from == MfxTimeFormat::Samples) {
        samples = time->samples;
    } else if (from == MfxTimeFormat::Ticks) {
        fraction = ticksToFraction(time->ticks);
    } else if (from == MfxTimeFormat::Ticks65536) {
        fraction = time->ticks65536;
    } else {
        fraction = ticksToFraction(s.meterMap.MBTToTicks(time->mbt.measure, time->mbt.beat, time->mbt.tick));
    }

    if (isClock(from) && isMusical(format)) fraction = s.tempoMap.SamplesToTicks(samples);
    if (isMusical(from) && isClock(format)) samples = s.tempoMap.TicksToSamples(fraction);

    switch (format) {
    case MfxTimeFormat::Seconds:
        time->seconds = static_cast<double>(samples) / static_cast<double>(kMfxSampleRate);
        break;
    case MfxTimeFormat::Samples:
        time->samples = samples;
        break;
    case MfxTimeFormat::Ticks:
        time->ticks = wholeTicks(fraction);
        break;
    case MfxTimeFormat::Ticks65536:
        time->ticks65536 = fraction;
        break;
    default:
        time->mbt = s.meterMap.TicksToMBT(wholeTicks(fraction));
        break;
    }
    time->format = format;
    return S_OK;
}

}  // namespace qvp3
