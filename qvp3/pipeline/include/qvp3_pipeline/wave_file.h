// RIFF WAVE files: read by the WAV step, the normaliser and the MP3 encoder,
// written by the WAV step, the plug-in renderer's pipe reader and the sample
// player. Our own small RIFF reader and writer over std::FILE.
//
// Written files: "RIFF" of form "WAVE", then "fmt " (16 bytes for PCM, else
// 18 + cbSize), "fact" (4 bytes, 0xFFFFFFFF while writing, 0 once closed),
// then "data". A write goes to a temporary file in the target's folder that
// replaces the target only at a successful Close, so a failed, discarded or
// abandoned write never leaves a partial WAV and keeps the old file intact.
//
// Reading walks the chunks inside the RIFF chunk, in any order, bounded by the
// real size of the file: a RIFF or "data" size that runs past the end (as a
// recorder leaves it after a crash) is cut to the bytes that are there, and a
// "data" chunk cut that way ends on a whole frame. Odd chunk sizes are
// followed by their pad byte.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

namespace qvp3 {

using HRESULT = std::int32_t;
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
inline constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
inline constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
inline constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
inline constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);

inline constexpr std::uint16_t kWaveFormatPcm = 1;
// Bytes of the stored format record before its extra bytes.
inline constexpr std::size_t kWaveFormatExSize = 18;
// Bytes of the "fmt " chunk of a PCM file: the record without cbSize.
inline constexpr std::size_t kWaveFormatPcmSize = 16;

// The stored format record, little-endian, field by field in this order.
struct WaveFormatEx {
    std::uint16_t wFormatTag = 0;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = 0;
    // The cbSize bytes that follow for formats other than PCM; empty for PCM.
    std::vector<std::uint8_t> extra;

    // A PCM format with its block alignment and byte rate filled in.
    static WaveFormatEx pcm(std::uint32_t samplesPerSec, std::uint16_t channels, std::uint16_t bitsPerSample);

    bool operator==(const WaveFormatEx&) const = default;
};

class CWaveFile {
public:
    static constexpr std::uint32_t kModeRead = 1;
    static constexpr std::uint32_t kModeWrite = 2;  // creates or replaces the file
    // Reads as mode 1 with the file opened for reading and writing (so it
    // fails on a file that cannot be written); nothing is ever written.
    static constexpr std::uint32_t kModeReadWrite = 3;

    CWaveFile() = default;
    // A file opened for reading is closed; a write that was never closed
    // successfully is discarded: the target stays as it was.
    ~CWaveFile();
    CWaveFile(const CWaveFile&) = delete;
    CWaveFile& operator=(const CWaveFile&) = delete;

    // Modes 1 and 3: reads the header and stands at the start of the data;
    // format, when given, receives the file's format. Mode 2: format (with
    // extra.size() == cbSize unless PCM) is required; the header goes into a
    // temporary file beside path. An empty path, a missing format for mode 2
    // or another mode: E_INVALIDARG; a file that cannot be opened or created
    // or is no WAV this reader takes: E_FAIL. An object that is open is
    // closed first (a write in progress is discarded).
    HRESULT Open(const std::filesystem::path& path, WaveFormatEx* format, std::uint32_t mode);

    // Back to the start of the data (reading). A writer has its data chunk
    // from Open, so this answers S_OK there and changes nothing.
    HRESULT ResetFile();

    // Up to size bytes of the data chunk, never more than it has left.
    // Null buffer or read: E_INVALIDARG; not open: CO_E_NOTINITIALIZED; a
    // writer: E_NOTIMPL; the file ending early: E_FAIL with *read = the
    // bytes that were there.
    HRESULT Read(void* buffer, std::uint32_t size, std::uint32_t* read);

    // Appends to the data chunk. Null data or written: E_INVALIDARG; not open:
    // CO_E_NOTINITIALIZED; opened for reading: E_NOTIMPL; bytes that would
    // take the file past the 4 GiB the RIFF sizes can count, or a failing
    // write: E_FAIL, and the file can no longer be closed successfully.
    HRESULT Write(std::uint32_t size, const void* data, std::uint32_t* written);

    // Appends milliseconds / 1000 x nSamplesPerSec frames (nearest, halves
    // up) of zeros; 0 does nothing. False when not writing, when the format
    // has no block alignment, or when a write fails.
    bool AppendSilence(std::uint32_t milliseconds);

    // Reading: closes the file. Writing: writes the pad byte of an odd data
    // chunk, the RIFF and "data" sizes and the "fact" value 0, flushes the
    // temporary file and renames it over the target; on any failure it is
    // removed, the target is left as it was, and the result is E_FAIL. Not
    // open: CO_E_NOTINITIALIZED.
    HRESULT Close();

    // Abandons a write (the temporary file is removed, the target untouched)
    // or closes a file opened for reading. Nothing happens when not open.
    void Discard();

    bool IsOpen() const { return file_ != nullptr; }
    // The format read by Open or given to it.
    const WaveFormatEx& Format() const { return format_; }
    // Bytes of the data chunk: read from the header (cut to the file), or
    // written so far.
    std::uint32_t DataSize() const { return dataSize_; }

private:
    HRESULT ReadMMIO();
    HRESULT WriteMMIO();
    HRESULT OpenForReading(const std::filesystem::path& path, WaveFormatEx* format, std::uint32_t mode);
    HRESULT OpenForWriting(const std::filesystem::path& path, const WaveFormatEx& format);
    HRESULT FinishWriting();
    void CloseHandle();

    WaveFormatEx format_;
    std::FILE* file_ = nullptr;
    std::uint32_t mode_ = 0;
    std::filesystem::path target_;    // writing: the file the temporary one replaces
    std::filesystem::path tempPath_;  // writing: the temporary file
    std::uint64_t fileSize_ = 0;      // reading: the real size of the file
    std::uint64_t dataOffset_ = 0;    // first byte of the data
    std::uint32_t dataSize_ = 0;
    std::uint32_t dataRead_ = 0;      // reading: bytes of the data already handed out
    std::uint64_t factOffset_ = 0;    // writing: where the "fact" value sits
    bool writeFailed_ = false;
};

inline constexpr int kPipeNoBlock = -2;
inline constexpr int kPipeReadError = -100;
inline constexpr int kPipeWriteError = -101;

// Reads the rendered audio that the plug-in renderer writes into a pipe and
// appends it to wave (open for writing) in blocks of up to blockBytes, until
// the writer closes its end. Answers 0; -2 when no block can be had (or
// blockBytes is 0); -100 when reading fails other than by the writer closing
// its end; -101 when a write to the file fails or writes fewer bytes than
// read. After -2 or -101 the rest of the pipe is still read and dropped until
// the writer closes its end, so that a writer blocked on a full pipe is never
// left hanging. readFd is neither closed nor made non-blocking.
int cnvPipeToWave(int readFd, std::uint32_t blockBytes, CWaveFile& wave);

}  // namespace qvp3
