#include "qvp3_pipeline/wave_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

static_assert(2 + 2 + 4 + 4 + 2 + 2 + 2 == kWaveFormatExSize, "the stored format record is 18 bytes");
static_assert(kWaveFormatExSize - 2 == kWaveFormatPcmSize, "PCM stores the record without cbSize");

constexpr std::uint64_t kMaxRiffSize = 0xFFFFFFFFu;
constexpr std::size_t kChunkHeaderSize = 8;
// Largest block of zeros AppendSilence holds at once, whatever byte rate a
// format claims.
constexpr std::uint32_t kMaxSilenceBlock = 1u << 20;

std::uint16_t get16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }

std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void putId(std::vector<std::uint8_t>& out, const char (&id)[5]) { out.insert(out.end(), id, id + 4); }

bool isId(const std::uint8_t* p, const char (&id)[5]) { return std::memcmp(p, id, 4) == 0; }

bool readAt(std::FILE* file, std::uint64_t offset, void* buffer, std::size_t size) {
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 && std::fread(buffer, 1, size, file) == size;
}

bool write32At(std::FILE* file, std::uint64_t offset, std::uint32_t value) {
    std::vector<std::uint8_t> bytes;
    put32(bytes, value);
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0 &&
           std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

// The first 16 bytes of the record (all but cbSize).
WaveFormatEx decodeFormat(const std::uint8_t* p) {
    WaveFormatEx f;
    f.wFormatTag = get16(p);
    f.nChannels = get16(p + 2);
    f.nSamplesPerSec = get32(p + 4);
    f.nAvgBytesPerSec = get32(p + 8);
    f.nBlockAlign = get16(p + 12);
    f.wBitsPerSample = get16(p + 14);
    return f;
}

// The "fmt " chunk's body: 16 bytes for PCM, else 18 plus the extra bytes.
void encodeFormat(std::vector<std::uint8_t>& out, const WaveFormatEx& f) {
    put16(out, f.wFormatTag);
    put16(out, f.nChannels);
    put32(out, f.nSamplesPerSec);
    put32(out, f.nAvgBytesPerSec);
    put16(out, f.nBlockAlign);
    put16(out, f.wBitsPerSample);
    if (f.wFormatTag == kWaveFormatPcm) return;
    put16(out, f.cbSize);
    out.insert(out.end(), f.extra.begin(), f.extra.end());
}

// The "fmt " chunk at body, of which `there` bytes lie inside the file.
// A PCM record's cbSize is 0 whatever the file holds; a 16-byte chunk of
// another format carries no extra bytes (cbSize 0) rather than taking the
// next chunk's bytes for its cbSize; extra bytes past the chunk refuse it.
bool readFormatChunk(std::FILE* file, std::uint64_t body, std::uint32_t size, std::uint64_t there,
                     WaveFormatEx& format) {
    if (size < kWaveFormatPcmSize || there < kWaveFormatPcmSize) return false;
    const std::uint64_t usable = std::min<std::uint64_t>(size, there);
    std::uint8_t record[kWaveFormatExSize] = {};
    const std::size_t head = usable >= kWaveFormatExSize ? kWaveFormatExSize : kWaveFormatPcmSize;
    if (!readAt(file, body, record, head)) return false;
    format = decodeFormat(record);
    if (format.wFormatTag == kWaveFormatPcm || head < kWaveFormatExSize) return true;
    format.cbSize = get16(record + kWaveFormatPcmSize);
    if (format.cbSize > usable - kWaveFormatExSize) return false;
    format.extra.resize(format.cbSize);
    return format.cbSize == 0 || readAt(file, body + kWaveFormatExSize, format.extra.data(), format.cbSize);
}

// A new file beside target, created with the mode a new file gets (or the
// target's own when it is replaced) and a name nobody else holds.
std::FILE* createBeside(const fs::path& target, fs::path& tempPath) {
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 64; ++attempt) {
        const fs::path candidate =
            folder / ("." + target.filename().string() + ".tmp" + std::to_string(random() & 0xFFFFFF));
        const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        struct stat old {};
        if (::stat(target.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
        std::FILE* file = ::fdopen(fd, "w+b");
        if (file == nullptr) {
            ::close(fd);
            ::unlink(candidate.c_str());
            return nullptr;
        }
        tempPath = candidate;
        return file;
    }
    return nullptr;
}

}  // namespace

WaveFormatEx WaveFormatEx::pcm(std::uint32_t samplesPerSec, std::uint16_t channels, std::uint16_t bitsPerSample) {
    WaveFormatEx f;
    f.wFormatTag = kWaveFormatPcm;
    f.nChannels = channels;
    f.nSamplesPerSec = samplesPerSec;
    f.nBlockAlign = static_cast<std::uint16_t>(channels * ((bitsPerSample + 7) / 8));
    f.nAvgBytesPerSec = samplesPerSec * f.nBlockAlign;
    f.wBitsPerSample = bitsPerSample;
    return f;
}

CWaveFile::~CWaveFile() { Discard(); }

HRESULT CWaveFile::Open(const fs::path& path, WaveFormatEx* format, std::uint32_t mode) {
    if (path.empty()) return E_INVALIDARG;
    if (mode != kModeRead && mode != kModeWrite && mode != kModeReadWrite) return E_INVALIDARG;
    if (mode == kModeWrite && format == nullptr) return E_INVALIDARG;
    Discard();
    format_ = WaveFormatEx{};
    dataOffset_ = dataSize_ = dataRead_ = 0;
    factOffset_ = fileSize_ = 0;
    writeFailed_ = false;
    const HRESULT hr = mode == kModeWrite ? OpenForWriting(path, *format) : OpenForReading(path, format, mode);
    if (hr != S_OK) {
        Discard();
        format_ = WaveFormatEx{};
        dataSize_ = 0;
    }
    return hr;
}

// There is no fallback to a WAV resource of the program: a path that does
// not open is an error.
HRESULT CWaveFile::OpenForReading(const fs::path& path, WaveFormatEx* format, std::uint32_t mode) {
    file_ = std::fopen(path.c_str(), mode == kModeReadWrite ? "r+be" : "rbe");
    if (file_ == nullptr) return E_FAIL;
    mode_ = mode;
    struct stat info {};
    if (::fstat(::fileno(file_), &info) != 0 || !S_ISREG(info.st_mode)) return E_FAIL;
    fileSize_ = static_cast<std::uint64_t>(info.st_size);
    if (ReadMMIO() != S_OK || ResetFile() != S_OK) return E_FAIL;
    if (format != nullptr) *format = format_;
    return S_OK;
}

HRESULT CWaveFile::OpenForWriting(const fs::path& path, const WaveFormatEx& format) {
    // The whole record is written, so its extra bytes must be all there.
    if (format.wFormatTag != kWaveFormatPcm && format.extra.size() != format.cbSize) return E_INVALIDARG;
    std::error_code error;
    if (path.filename().empty() || fs::is_directory(path, error)) return E_FAIL;
    format_ = format;
    if (format_.wFormatTag == kWaveFormatPcm) {
        format_.cbSize = 0;
        format_.extra.clear();
    }
    file_ = createBeside(path, tempPath_);
    if (file_ == nullptr) return E_FAIL;
    mode_ = kModeWrite;
    target_ = path;
    return WriteMMIO();
}

// Walks the chunks of the RIFF chunk for the first "fmt " and "data", never
// past the end of the file whatever their sizes say.
HRESULT CWaveFile::ReadMMIO() {
    std::uint8_t riff[12];
    if (fileSize_ < sizeof riff || !readAt(file_, 0, riff, sizeof riff)) return E_FAIL;
    if (!isId(riff, "RIFF") || !isId(riff + 8, "WAVE")) return E_FAIL;
    const std::uint64_t riffEnd = std::min<std::uint64_t>(kChunkHeaderSize + get32(riff + 4), fileSize_);
    bool haveFormat = false;
    bool haveData = false;
    bool dataCut = false;
    for (std::uint64_t at = sizeof riff; at + kChunkHeaderSize <= riffEnd && !(haveFormat && haveData);) {
        std::uint8_t header[kChunkHeaderSize];
        if (!readAt(file_, at, header, sizeof header)) return E_FAIL;
        const std::uint32_t size = get32(header + 4);
        const std::uint64_t body = at + kChunkHeaderSize;
        const std::uint64_t there = std::min<std::uint64_t>(size, riffEnd - body);
        if (!haveFormat && isId(header, "fmt ")) {
            WaveFormatEx format;
            if (!readFormatChunk(file_, body, size, there, format)) return E_FAIL;
            format_ = std::move(format);
            haveFormat = true;
        } else if (!haveData && isId(header, "data")) {
            dataOffset_ = body;
            dataSize_ = static_cast<std::uint32_t>(there);
            dataCut = there < size;
            haveData = true;
        }
        at = body + size + (size & 1u);  // odd chunks are followed by a pad byte
    }
    if (!haveFormat || !haveData) {
        format_ = WaveFormatEx{};
        return E_FAIL;
    }
    // A cut-off recording ends on its last whole frame.
    if (dataCut && format_.nBlockAlign > 0) dataSize_ -= dataSize_ % format_.nBlockAlign;
    return S_OK;
}

HRESULT CWaveFile::WriteMMIO() {
    std::vector<std::uint8_t> fmt;
    encodeFormat(fmt, format_);
    std::vector<std::uint8_t> header;
    putId(header, "RIFF");
    put32(header, 0);  // both sizes are written at Close
    putId(header, "WAVE");
    putId(header, "fmt ");
    put32(header, static_cast<std::uint32_t>(fmt.size()));
    header.insert(header.end(), fmt.begin(), fmt.end());
    if (fmt.size() & 1u) header.push_back(0);
    putId(header, "fact");
    put32(header, 4);
    factOffset_ = header.size();
    put32(header, 0xFFFFFFFFu);
    putId(header, "data");
    put32(header, 0);
    dataOffset_ = header.size();
    if (std::fwrite(header.data(), 1, header.size(), file_) != header.size()) return E_FAIL;
    return S_OK;
}

HRESULT CWaveFile::ResetFile() {
    if (file_ == nullptr) return CO_E_NOTINITIALIZED;
    if (mode_ == kModeWrite) return S_OK;
    dataRead_ = 0;
    return ::fseeko(file_, static_cast<off_t>(dataOffset_), SEEK_SET) == 0 ? S_OK : E_FAIL;
}

HRESULT CWaveFile::Read(void* buffer, std::uint32_t size, std::uint32_t* read) {
    if (buffer == nullptr || read == nullptr) return E_INVALIDARG;
    *read = 0;
    if (file_ == nullptr) return CO_E_NOTINITIALIZED;
    if (mode_ == kModeWrite) return E_NOTIMPL;
    const std::uint32_t wanted = std::min(size, dataSize_ - dataRead_);
    const std::size_t got = wanted == 0 ? 0 : std::fread(buffer, 1, wanted, file_);
    dataRead_ += static_cast<std::uint32_t>(got);
    *read = static_cast<std::uint32_t>(got);
    return got == wanted ? S_OK : E_FAIL;
}

HRESULT CWaveFile::Write(std::uint32_t size, const void* data, std::uint32_t* written) {
    if (data == nullptr || written == nullptr) return E_INVALIDARG;
    *written = 0;
    if (file_ == nullptr) return CO_E_NOTINITIALIZED;
    if (mode_ != kModeWrite) return E_NOTIMPL;
    if (writeFailed_) return E_FAIL;
    const std::uint64_t newDataSize = std::uint64_t{dataSize_} + size;
    if (dataOffset_ + newDataSize + (newDataSize & 1u) - kChunkHeaderSize > kMaxRiffSize) {
        writeFailed_ = true;  // sizes past 4 GiB would wrap and the file would lie
        return E_FAIL;
    }
    const std::size_t put = std::fwrite(data, 1, size, file_);
    dataSize_ += static_cast<std::uint32_t>(put);
    *written = static_cast<std::uint32_t>(put);
    if (put == size) return S_OK;
    writeFailed_ = true;
    return E_FAIL;
}

bool CWaveFile::AppendSilence(std::uint32_t milliseconds) {
    if (milliseconds == 0) return true;
    const std::uint32_t align = format_.nBlockAlign;
    if (file_ == nullptr || mode_ != kModeWrite || align == 0) return false;
    // Exact in 64 bits: (2^32 - 1)^2 + 500 < 2^64.
    const std::uint64_t frames = (std::uint64_t{milliseconds} * format_.nSamplesPerSec + 500) / 1000;
    if (frames > kMaxRiffSize / align) return false;
    std::uint64_t remaining = frames * align;
    // A second of sound at a time, in whole frames; never less than a frame
    // (a byte rate below one frame would otherwise write nothing forever).
    std::uint32_t block = std::min(format_.nAvgBytesPerSec, kMaxSilenceBlock);
    block = std::max(block - block % align, align);
    const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(std::min<std::uint64_t>(block, remaining)));
    while (remaining > 0) {
        const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(remaining, zeros.size()));
        std::uint32_t written = 0;
        if (Write(size, zeros.data(), &written) != S_OK || written != size) return false;
        remaining -= size;
    }
    return true;
}

HRESULT CWaveFile::Close() {
    if (file_ == nullptr) return CO_E_NOTINITIALIZED;
    if (mode_ == kModeWrite) return FinishWriting();
    CloseHandle();
    return S_OK;
}

HRESULT CWaveFile::FinishWriting() {
    const std::uint64_t padded = std::uint64_t{dataSize_} + (dataSize_ & 1u);
    bool ok = !writeFailed_;
    if (ok && (dataSize_ & 1u)) ok = std::fputc(0, file_) != EOF;
    ok = ok && write32At(file_, 4, static_cast<std::uint32_t>(dataOffset_ + padded - kChunkHeaderSize));
    ok = ok && write32At(file_, factOffset_, 0);
    ok = ok && write32At(file_, dataOffset_ - 4, dataSize_);
    ok = ok && std::fflush(file_) == 0 && ::fsync(::fileno(file_)) == 0;
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    ok = ok && ::rename(tempPath_.c_str(), target_.c_str()) == 0;
    if (!ok) ::unlink(tempPath_.c_str());
    tempPath_.clear();
    target_.clear();
    return ok ? S_OK : E_FAIL;
}

void CWaveFile::Discard() {
    CloseHandle();
    if (!tempPath_.empty()) ::unlink(tempPath_.c_str());
    tempPath_.clear();
    target_.clear();
}

void CWaveFile::CloseHandle() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

namespace {

// One read, repeated when a signal broke it off: bytes read, 0 when the
// writer closed its end, -1 on an error.
ssize_t readSome(int fd, void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR) return got;
    }
}

int drainPipe(int fd, int result) {
    std::uint8_t scrap[4096];
    while (readSome(fd, scrap, sizeof scrap) > 0) {
    }
    return result;
}

}  // namespace

int cnvPipeToWave(int readFd, std::uint32_t blockBytes, CWaveFile& wave) {
    std::unique_ptr<std::uint8_t[]> block;
    if (blockBytes > 0) block.reset(new (std::nothrow) std::uint8_t[blockBytes]);
    if (!block) return drainPipe(readFd, kPipeNoBlock);
    for (;;) {
        const ssize_t got = readSome(readFd, block.get(), blockBytes);
        if (got == 0) return 0;
        if (got < 0) return kPipeReadError;
        const auto size = static_cast<std::uint32_t>(got);
        std::uint32_t written = 0;
        if (wave.Write(size, block.get(), &written) != S_OK || written != size) {
            return drainPipe(readFd, kPipeWriteError);
        }
    }
}

}  // namespace qvp3
