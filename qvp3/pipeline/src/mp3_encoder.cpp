// The encoder layer over libmp3lame: the settings record becomes the
// library's settings, chunks and the flush go straight through.
#include "qvp3_pipeline/mp3_encoder.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <dlfcn.h>
#include <lame/lame.h>
#include <vector>

namespace qvp3 {

// The library's functions, typed after its public header, found by name.
struct Mp3EncoderApi {
    decltype(&::lame_init) init = nullptr;
    decltype(&::lame_close) close = nullptr;
    decltype(&::lame_init_params) initParams = nullptr;
    decltype(&::lame_set_errorf) setErrorf = nullptr;
    decltype(&::lame_set_debugf) setDebugf = nullptr;
    decltype(&::lame_set_msgf) setMsgf = nullptr;
    decltype(&::lame_set_write_id3tag_automatic) setId3Automatic = nullptr;
    decltype(&::lame_set_in_samplerate) setInRate = nullptr;
    decltype(&::lame_set_num_channels) setChannels = nullptr;
    decltype(&::lame_set_out_samplerate) setOutRate = nullptr;
    decltype(&::lame_set_mode) setMode = nullptr;
    decltype(&::lame_set_brate) setBitrate = nullptr;
    decltype(&::lame_set_quality) setQuality = nullptr;
    decltype(&::lame_set_VBR) setVbr = nullptr;
    decltype(&::lame_set_VBR_q) setVbrQuality = nullptr;
    decltype(&::lame_set_VBR_min_bitrate_kbps) setVbrMin = nullptr;
    decltype(&::lame_set_VBR_max_bitrate_kbps) setVbrMax = nullptr;
    decltype(&::lame_set_VBR_mean_bitrate_kbps) setVbrMean = nullptr;
    decltype(&::lame_set_bWriteVbrTag) setVbrTag = nullptr;
    decltype(&::lame_set_emphasis) setEmphasis = nullptr;
    decltype(&::lame_set_extension) setPrivate = nullptr;
    decltype(&::lame_set_error_protection) setCrc = nullptr;
    decltype(&::lame_set_copyright) setCopyright = nullptr;
    decltype(&::lame_set_original) setOriginal = nullptr;
    decltype(&::lame_set_disable_reservoir) setNoReservoir = nullptr;
    decltype(&::lame_set_strict_ISO) setStrictIso = nullptr;
    decltype(&::lame_set_preset) setPreset = nullptr;
    decltype(&::lame_get_framesize) frameSize = nullptr;
    decltype(&::lame_encode_buffer) encode = nullptr;
    decltype(&::lame_encode_buffer_interleaved) encodeInterleaved = nullptr;
    decltype(&::lame_encode_flush) flush = nullptr;
    decltype(&::lame_get_lametag_frame) tagFrame = nullptr;
    decltype(&::get_lame_version_numerical) version = nullptr;
    decltype(&::get_lame_url) url = nullptr;
};

struct Mp3Stream {
    lame_t flags = nullptr;
    std::uint32_t samples = 0;
    std::uint32_t bufferSize = 0;
    std::uint16_t channels = 0;
};

namespace {

constexpr std::uint32_t kMinRate = 8000;
constexpr std::uint32_t kMaxRate = 192000;
constexpr std::uint32_t kMinBitrate = 8;
constexpr std::uint32_t kMaxBitrate = 320;
constexpr std::array<std::uint32_t, 9> kMpegRates = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr std::uint8_t kLayerMajor = 1;
constexpr std::uint8_t kLayerMinor = 0;

// The library talks to stderr unless told otherwise; a library of ours prints nothing.
void quiet(const char*, va_list) {}

template <class F>
bool bind(void* handle, const char* name, F& function) {
    void* symbol = dlsym(handle, name);
    function = reinterpret_cast<F>(symbol);
    return symbol != nullptr;
}

bool bitrateOk(std::uint32_t kbps) { return kbps >= kMinBitrate && kbps <= kMaxBitrate; }

// How a quality preset of the settings is carried out by this encoder.
enum class PresetKind { None, Quality, Preset, Abr, AbrOwn, Cbr };
struct PresetRow {
    std::int32_t lqp;
    PresetKind kind;
    int value;  // quality 0..9, the library's preset, or the mean bit rate in kbit/s
};
constexpr PresetRow kPresets[] = {
    {LQP_NOPRESET, PresetKind::None, 0},       {LQP_NORMAL_QUALITY, PresetKind::Quality, 5},
    {LQP_LOW_QUALITY, PresetKind::Quality, 7}, {LQP_HIGH_QUALITY, PresetKind::Quality, 2},
    {LQP_VOICE_QUALITY, PresetKind::Abr, 56},  {LQP_R3MIX, PresetKind::Preset, R3MIX},
    {LQP_VERYHIGH_QUALITY, PresetKind::Quality, 0}, {LQP_STANDARD, PresetKind::Preset, STANDARD},
    {LQP_FAST_STANDARD, PresetKind::Preset, STANDARD_FAST}, {LQP_EXTREME, PresetKind::Preset, EXTREME},
    {LQP_FAST_EXTREME, PresetKind::Preset, EXTREME_FAST}, {LQP_INSANE, PresetKind::Preset, INSANE},
    {LQP_ABR, PresetKind::AbrOwn, 0},          {LQP_CBR, PresetKind::Cbr, 0},
    {LQP_MEDIUM, PresetKind::Preset, MEDIUM},  {LQP_FAST_MEDIUM, PresetKind::Preset, MEDIUM_FAST},
    {LQP_PHONE, PresetKind::Abr, 16},          {LQP_SW, PresetKind::Abr, 24},
    {LQP_AM, PresetKind::Abr, 40},             {LQP_FM, PresetKind::Abr, 112},
    {LQP_VOICE, PresetKind::Abr, 56},          {LQP_RADIO, PresetKind::Abr, 112},
    {LQP_TAPE, PresetKind::Abr, 112},          {LQP_HIFI, PresetKind::Abr, 160},
    {LQP_CD, PresetKind::Abr, 192},            {LQP_STUDIO, PresetKind::Abr, 256},
};

// The mean bit rate of the average-bit-rate settings: its own field, else the bit rate.
std::uint32_t abrKbps(const BE_CONFIG_FORMAT_LHV1& c) {
    return c.dwVbrAbr_bps != 0 ? c.dwVbrAbr_bps / 1000 : c.dwBitrate;
}

bool applyVbr(const Mp3EncoderApi& a, lame_t g, const BE_CONFIG_FORMAT_LHV1& c) {
    if (c.bEnableVBR == 0) return a.setVbr(g, vbr_off) == 0;
    if (c.nVBRQuality < 0 || c.nVBRQuality > 9 || !bitrateOk(c.dwMaxBitrate) || c.dwMaxBitrate < c.dwBitrate) {
        return false;
    }
    vbr_mode mode = vbr_default;
    if (c.nVbrMethod == VBR_METHOD_OLD) {
        mode = vbr_rh;
    } else if (c.nVbrMethod == VBR_METHOD_NEW || c.nVbrMethod == VBR_METHOD_MTRH) {
        mode = vbr_mtrh;
    } else if (c.nVbrMethod == VBR_METHOD_ABR) {
        mode = vbr_abr;
    } else if (c.nVbrMethod != VBR_METHOD_NONE && c.nVbrMethod != VBR_METHOD_DEFAULT) {
        return false;
    }
    bool ok = a.setVbr(g, mode) == 0 && a.setVbrQuality(g, c.nVBRQuality) == 0;
    ok = ok && a.setVbrMin(g, static_cast<int>(c.dwBitrate)) == 0 &&
         a.setVbrMax(g, static_cast<int>(c.dwMaxBitrate)) == 0;
    if (ok && mode == vbr_abr) ok = bitrateOk(abrKbps(c)) && a.setVbrMean(g, static_cast<int>(abrKbps(c))) == 0;
    return ok;
}

bool applyPreset(const Mp3EncoderApi& a, lame_t g, const BE_CONFIG_FORMAT_LHV1& c) {
    const auto row = std::find_if(std::begin(kPresets), std::end(kPresets),
                                  [&](const PresetRow& r) { return r.lqp == c.nPreset; });
    if (row == std::end(kPresets)) return false;
    switch (row->kind) {
        case PresetKind::None: return true;
        case PresetKind::Quality: return a.setQuality(g, row->value) == 0;
        case PresetKind::Preset: return a.setPreset(g, row->value) == 0;
        case PresetKind::Abr: return a.setPreset(g, row->value) == 0;
        case PresetKind::AbrOwn: return bitrateOk(abrKbps(c)) && a.setPreset(g, static_cast<int>(abrKbps(c))) == 0;
        case PresetKind::Cbr: return a.setVbr(g, vbr_off) == 0;
    }
    return false;
}

// The stream's header bits: private, CRC, copyright, original, emphasis.
bool applyHeaderBits(const Mp3EncoderApi& a, lame_t g, std::int32_t privateBit, std::int32_t crc,
                     std::int32_t copyright, std::int32_t original) {
    return a.setPrivate(g, privateBit != 0) == 0 && a.setCrc(g, crc != 0) == 0 &&
           a.setCopyright(g, copyright != 0) == 0 && a.setOriginal(g, original != 0) == 0;
}

bool applyLame(const Mp3EncoderApi& a, lame_t g, const BE_CONFIG_FORMAT_LHV1& c) {
    const bool rateOk = c.dwReSampleRate == 0 ||
                        std::find(kMpegRates.begin(), kMpegRates.end(), c.dwReSampleRate) != kMpegRates.end();
    if (!rateOk || c.nMode < BE_MP3_MODE_STEREO || c.nMode > BE_MP3_MODE_MONO || !bitrateOk(c.dwBitrate) ||
        c.dwEmphasis > 3) {
        return false;
    }
    bool ok = a.setMode(g, static_cast<MPEG_mode>(c.nMode)) == 0 && a.setBitrate(g, static_cast<int>(c.dwBitrate)) == 0;
    ok = ok && (c.dwReSampleRate == 0 || a.setOutRate(g, static_cast<int>(c.dwReSampleRate)) == 0);
    ok = ok && applyHeaderBits(a, g, c.bPrivate, c.bCRC, c.bCopyright, c.bOriginal);
    ok = ok && a.setEmphasis(g, static_cast<int>(c.dwEmphasis)) == 0 && a.setVbrTag(g, c.bWriteVBRHeader != 0) == 0;
    ok = ok && a.setNoReservoir(g, c.bNoRes != 0) == 0 && a.setStrictIso(g, c.bStrictIso != 0) == 0;
    ok = ok && applyVbr(a, g, c) && applyPreset(a, g, c);
    // The quality counts only when its high byte is its low byte inverted.
    const unsigned low = c.nQuality & 0xFFu;
    const unsigned high = c.nQuality >> 8;
    if (ok && high == (~low & 0xFFu)) ok = a.setQuality(g, static_cast<int>(std::min(low, 9u))) == 0;
    return ok;
}

bool applyMp3(const Mp3EncoderApi& a, lame_t g, const BE_CONFIG_FORMAT_MP3& c) {
    if (c.byMode > BE_MP3_MODE_MONO || !bitrateOk(c.wBitrate)) return false;
    return a.setMode(g, static_cast<MPEG_mode>(c.byMode)) == 0 && a.setBitrate(g, c.wBitrate) == 0 &&
           a.setVbr(g, vbr_off) == 0 && applyHeaderBits(a, g, c.bPrivate, c.bCRC, c.bCopyright, c.bOriginal);
}

}  // namespace

CMp3EncoderLib::CMp3EncoderLib() : api_(std::make_unique<Mp3EncoderApi>()) {}

CMp3EncoderLib::~CMp3EncoderLib() {
    if (handle_ != nullptr) dlclose(handle_);
}

bool CMp3EncoderLib::Load(const std::string& library) {
    if (handle_ != nullptr) return true;
    void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return false;
    Mp3EncoderApi& a = *api_;
    const bool ok =
        bind(handle, "lame_init", a.init) && bind(handle, "lame_close", a.close) &&
        bind(handle, "lame_init_params", a.initParams) && bind(handle, "lame_set_errorf", a.setErrorf) &&
        bind(handle, "lame_set_debugf", a.setDebugf) && bind(handle, "lame_set_msgf", a.setMsgf) &&
        bind(handle, "lame_set_write_id3tag_automatic", a.setId3Automatic) &&
        bind(handle, "lame_set_in_samplerate", a.setInRate) && bind(handle, "lame_set_num_channels", a.setChannels) &&
        bind(handle, "lame_set_out_samplerate", a.setOutRate) && bind(handle, "lame_set_mode", a.setMode) &&
        bind(handle, "lame_set_brate", a.setBitrate) && bind(handle, "lame_set_quality", a.setQuality) &&
        bind(handle, "lame_set_VBR", a.setVbr) && bind(handle, "lame_set_VBR_q", a.setVbrQuality) &&
        bind(handle, "lame_set_VBR_min_bitrate_kbps", a.setVbrMin) &&
        bind(handle, "lame_set_VBR_max_bitrate_kbps", a.setVbrMax) &&
        bind(handle, "lame_set_VBR_mean_bitrate_kbps", a.setVbrMean) &&
        bind(handle, "lame_set_bWriteVbrTag", a.setVbrTag) && bind(handle, "lame_set_emphasis", a.setEmphasis) &&
        bind(handle, "lame_set_extension", a.setPrivate) && bind(handle, "lame_set_error_protection", a.setCrc) &&
        bind(handle, "lame_set_copyright", a.setCopyright) && bind(handle, "lame_set_original", a.setOriginal) &&
        bind(handle, "lame_set_disable_reservoir", a.setNoReservoir) &&
        bind(handle, "lame_set_strict_ISO", a.setStrictIso) && bind(handle, "lame_set_preset", a.setPreset) &&
        bind(handle, "lame_get_framesize", a.frameSize) && bind(handle, "lame_encode_buffer", a.encode) &&
        bind(handle, "lame_encode_buffer_interleaved", a.encodeInterleaved) &&
        bind(handle, "lame_encode_flush", a.flush) && bind(handle, "lame_get_lametag_frame", a.tagFrame) &&
        bind(handle, "get_lame_version_numerical", a.version) && bind(handle, "get_lame_url", a.url);
    if (!ok) {
        dlclose(handle);
        *api_ = {};
        return false;
    }
    handle_ = handle;
    return true;
}

bool CMp3EncoderLib::IsLoaded() const { return handle_ != nullptr; }

BE_ERR CMp3EncoderLib::beInitStream(const BE_CONFIG& config, const Mp3Input& input, std::uint32_t* samples,
                                    std::uint32_t* bufferSize, HBE_STREAM* stream) {
    if (handle_ == nullptr || samples == nullptr || bufferSize == nullptr || stream == nullptr) {
        return BE_ERR_INVALID_HANDLE;
    }
    *stream = nullptr;
    const bool known = config.dwConfig == BE_CONFIG_LAME || config.dwConfig == BE_CONFIG_MP3;
    if (!known || input.channels < 1 || input.channels > 2 || input.sampleRate < kMinRate ||
        input.sampleRate > kMaxRate) {
        return BE_ERR_INVALID_FORMAT;
    }
    const Mp3EncoderApi& a = *api_;
    // The library fills tables that all its streams share while it sets one
    // up: streams of files encoded at once are set up one after another.
    static std::mutex setUp;
    std::lock_guard lock(setUp);
    lame_t g = a.init();
    if (g == nullptr) return BE_ERR_NO_MORE_HANDLES;
    a.setErrorf(g, quiet);
    a.setDebugf(g, quiet);
    a.setMsgf(g, quiet);
    a.setId3Automatic(g, 0);  // the export writes no tags
    bool ok = a.setInRate(g, static_cast<int>(input.sampleRate)) == 0 && a.setChannels(g, input.channels) == 0;
    ok = ok && (config.dwConfig == BE_CONFIG_LAME ? applyLame(a, g, config.LHV1) : applyMp3(a, g, config.mp3));
    ok = ok && a.initParams(g) >= 0;
    const int frame = ok ? a.frameSize(g) : 0;
    if (frame <= 0) {
        a.close(g);
        return BE_ERR_INVALID_FORMAT_PARAMETERS;
    }
    auto s = std::make_unique<Mp3Stream>();
    s->flags = g;
    s->channels = input.channels;
    s->samples = static_cast<std::uint32_t>(frame) * input.channels;
    // The library's own bound for one call: 1.25 x samples + 7200 bytes.
    s->bufferSize = static_cast<std::uint32_t>(frame) * 5 / 4 + 7200;
    *samples = s->samples;
    *bufferSize = s->bufferSize;
    *stream = s.release();
    return BE_ERR_SUCCESSFUL;
}

BE_ERR CMp3EncoderLib::beEncodeChunk(HBE_STREAM stream, std::uint32_t count, const std::int16_t* input,
                                     std::uint8_t* output, std::uint32_t* written) {
    if (handle_ == nullptr || stream == nullptr || output == nullptr || written == nullptr) {
        return BE_ERR_INVALID_HANDLE;
    }
    *written = 0;
    if (count > stream->samples || (count > 0 && input == nullptr)) return BE_ERR_INVALID_FORMAT_PARAMETERS;
    const int frames = static_cast<int>(count / stream->channels);
    const int size = static_cast<int>(stream->bufferSize);
    // The interleaved call takes a non-const buffer but only reads it.
    const int n = stream->channels == 2
                      ? api_->encodeInterleaved(stream->flags, const_cast<short*>(input), frames, output, size)
                      : api_->encode(stream->flags, input, input, frames, output, size);
    if (n < 0) return n == -1 ? BE_ERR_BUFFER_TOO_SMALL : BE_ERR_INVALID_FORMAT_PARAMETERS;
    *written = static_cast<std::uint32_t>(n);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR CMp3EncoderLib::beDeinitStream(HBE_STREAM stream, std::uint8_t* output, std::uint32_t* written) {
    if (handle_ == nullptr || stream == nullptr || output == nullptr || written == nullptr) {
        return BE_ERR_INVALID_HANDLE;
    }
    *written = 0;
    const int n = api_->flush(stream->flags, output, static_cast<int>(stream->bufferSize));
    if (n < 0) return BE_ERR_BUFFER_TOO_SMALL;
    *written = static_cast<std::uint32_t>(n);
    return BE_ERR_SUCCESSFUL;
}

BE_ERR CMp3EncoderLib::beCloseStream(HBE_STREAM stream) {
    if (handle_ == nullptr || stream == nullptr) return BE_ERR_INVALID_HANDLE;
    api_->close(stream->flags);
    delete stream;
    return BE_ERR_SUCCESSFUL;
}

BE_ERR CMp3EncoderLib::beWriteVBRHeader(HBE_STREAM stream, const std::filesystem::path& mp3File) {
    if (handle_ == nullptr || stream == nullptr) return BE_ERR_INVALID_HANDLE;
    std::vector<unsigned char> frame(2880);
    std::size_t n = api_->tagFrame(stream->flags, frame.data(), frame.size());
    if (n > frame.size()) {
        frame.resize(n);
        n = api_->tagFrame(stream->flags, frame.data(), frame.size());
    }
    if (n == 0) return BE_ERR_SUCCESSFUL;  // no header asked for
    if (n > frame.size()) return BE_ERR_BUFFER_TOO_SMALL;
    std::FILE* file = std::fopen(mp3File.c_str(), "r+b");
    if (file == nullptr) return BE_ERR_INVALID_HANDLE;
    const bool ok = std::fwrite(frame.data(), 1, n, file) == n;
    return std::fclose(file) == 0 && ok ? BE_ERR_SUCCESSFUL : BE_ERR_INVALID_HANDLE;
}

void CMp3EncoderLib::beVersion(BE_VERSION* version) {
    if (version == nullptr) return;
    *version = {};
    if (handle_ == nullptr) return;
    lame_version_t v{};
    api_->version(&v);
    version->byDLLMajorVersion = kLayerMajor;
    version->byDLLMinorVersion = kLayerMinor;
    version->byMajorVersion = static_cast<std::uint8_t>(v.major);
    version->byMinorVersion = static_cast<std::uint8_t>(v.minor);
    const char* url = api_->url();
    version->zHomepage = url != nullptr ? url : "";
}

}  // namespace qvp3
