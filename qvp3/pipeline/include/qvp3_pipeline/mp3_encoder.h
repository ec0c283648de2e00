// The MP3 encoder library, loaded at the moment of use: a thin layer with the
// calls the export uses (init stream, encode chunk, deinit, close, write the
// VBR header, version) over libmp3lame, whose functions are looked up by
// name, so that a machine without the library still runs everything else.
//
// A stream takes its input's channels and sample rate from the caller (the
// WAV file's header) rather than from the settings, so a mono file and a
// stereo file encoded in mono mode both come out at the right length and
// pitch; mono mode down-mixes a stereo input. The settings' own sample rate
// and the MPEG version and psychoacoustic model fields are therefore not
// used: the output rate is the input's, or the resample rate when one is set.
// No ID3 tags are written.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "qvp3_project/mp3_config.h"

namespace qvp3 {

inline constexpr const char* kMp3EncoderLibrary = "libmp3lame.so.0";

using BE_ERR = std::uint32_t;
inline constexpr BE_ERR BE_ERR_SUCCESSFUL = 0;
inline constexpr BE_ERR BE_ERR_INVALID_FORMAT = 1;
inline constexpr BE_ERR BE_ERR_INVALID_FORMAT_PARAMETERS = 2;
inline constexpr BE_ERR BE_ERR_NO_MORE_HANDLES = 3;
inline constexpr BE_ERR BE_ERR_INVALID_HANDLE = 4;
inline constexpr BE_ERR BE_ERR_BUFFER_TOO_SMALL = 5;

// What the encoder is fed: interleaved 16-bit samples.
struct Mp3Input {
    std::uint32_t sampleRate = 44100;
    std::uint16_t channels = 2;
};

// The library's version; the library tells no release date, so it stays 0.
struct BE_VERSION {
    std::uint8_t byDLLMajorVersion = 0;  // this layer
    std::uint8_t byDLLMinorVersion = 0;
    std::uint8_t byMajorVersion = 0;  // the encoder engine
    std::uint8_t byMinorVersion = 0;
    std::uint8_t byDay = 0;
    std::uint8_t byMonth = 0;
    std::uint16_t wYear = 0;
    std::string zHomepage;
};

struct Mp3Stream;
struct Mp3EncoderApi;
using HBE_STREAM = Mp3Stream*;

class CMp3EncoderLib {
public:
    CMp3EncoderLib();
    // Unloads the library: close every stream first.
    ~CMp3EncoderLib();
    CMp3EncoderLib(const CMp3EncoderLib&) = delete;
    CMp3EncoderLib& operator=(const CMp3EncoderLib&) = delete;

    // Loads the library and looks up every function the calls below use;
    // false (nothing loaded) when the library or one function is missing.
    bool Load(const std::string& library = kMp3EncoderLibrary);
    bool IsLoaded() const;

    // A stream for the settings and the input: samples = 16-bit values the
    // caller hands over per chunk (one frame of every channel), bufferSize =
    // bytes of output a chunk or the flush can give. BE_ERR_INVALID_FORMAT
    // for a dwConfig other than the LAME and MP3 members, an input that is
    // not 1 or 2 channels or outside 8000..192000 Hz;
    // BE_ERR_INVALID_FORMAT_PARAMETERS for settings the encoder refuses.
    BE_ERR beInitStream(const BE_CONFIG& config, const Mp3Input& input, std::uint32_t* samples,
                        std::uint32_t* bufferSize, HBE_STREAM* stream);
    // Encodes count 16-bit values (at most samples of beInitStream; an odd
    // last value of a stereo input is dropped) into output, which holds
    // bufferSize bytes; written = bytes given.
    BE_ERR beEncodeChunk(HBE_STREAM stream, std::uint32_t count, const std::int16_t* input, std::uint8_t* output,
                         std::uint32_t* written);
    // Flushes what the encoder still holds into output (bufferSize bytes).
    BE_ERR beDeinitStream(HBE_STREAM stream, std::uint8_t* output, std::uint32_t* written);
    BE_ERR beCloseStream(HBE_STREAM stream);
    // Writes the VBR (or, for a constant bit rate, the info) header over the
    // empty frame at the start of the file, which is opened for reading and
    // writing. Call after the flush, once every byte is in the file.
    BE_ERR beWriteVBRHeader(HBE_STREAM stream, const std::filesystem::path& mp3File);
    void beVersion(BE_VERSION* version);

private:
    std::unique_ptr<Mp3EncoderApi> api_;
    void* handle_ = nullptr;
};

}  // namespace qvp3
