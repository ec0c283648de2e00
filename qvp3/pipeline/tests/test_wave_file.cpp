// WAV files: reading the shapes that real programs write (and damage),
// writing through a temporary file, silence, and the renderer's pipe reader.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <poll.h>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/wave_file.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::readBytes;
using platform::testing::TempFolder;
using platform::testing::writeBytes;

// --- bytes of RIFF files --------------------------------------------------------

std::string le16(std::uint32_t v) { return {static_cast<char>(v), static_cast<char>(v >> 8)}; }
std::string le32(std::uint32_t v) { return le16(v & 0xFFFF) + le16(v >> 16); }
std::uint32_t get32(const std::string& s, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(s.at(at + static_cast<std::size_t>(i)));
    return v;
}

// A chunk with its true size and the pad byte of an odd body.
std::string chunk(const std::string& id, const std::string& body) {
    return id + le32(static_cast<std::uint32_t>(body.size())) + body + (body.size() % 2 ? std::string(1, '\0') : "");
}
// A chunk whose size field says something else than its body holds.
std::string chunkClaiming(const std::string& id, std::uint32_t size, const std::string& body) {
    return id + le32(size) + body;
}
std::string riff(const std::string& chunks) {
    return "RIFF" + le32(static_cast<std::uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

std::string formatBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits) {
    const std::uint32_t align = channels * bits / 8u;
    return le16(tag) + le16(channels) + le32(rate) + le32(rate * align) + le16(align) + le16(bits);
}
std::string pcm16Stereo() { return formatBody(1, 2, 44100, 16); }

// The 22 extra bytes of WAVE_FORMAT_EXTENSIBLE: valid bits, channel mask,
// and the PCM sub-format GUID.
std::string extensibleExtra() {
    return le16(24) + le32(0x3) + le32(1) + std::string("\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 12);
}

std::string frames(std::size_t bytes, int seed = 1) {
    std::string data(bytes, '\0');
    for (std::size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>((i * 7 + static_cast<std::size_t>(seed)) % 251);
    return data;
}

// A LIST/INFO chunk as editors write it: an odd-length text, so a pad byte.
std::string infoList() { return chunk("LIST", "INFO" + chunk("ISFT", std::string("qvp3 test\0", 10) + "x")); }

struct ReadCase {
    const char* name;
    std::string file;
    HRESULT result;
    std::uint16_t tag;
    std::uint16_t cbSize;
    std::string extra;
    std::string data;
};

ReadCase refused(const char* name, std::string file) { return {name, std::move(file), E_FAIL, 0, 0, "", ""}; }

std::vector<ReadCase> readCases() {
    const std::string data = frames(64);
    const std::string ext = extensibleExtra();
    return {
        {"16-byte PCM format", riff(chunk("fmt ", pcm16Stereo()) + chunk("data", data)), S_OK, 1, 0, "", data},
        {"18-byte PCM format and LIST/INFO before data",
         riff(chunk("fmt ", pcm16Stereo() + le16(0)) + infoList() + chunk("data", data)), S_OK, 1, 0, "", data},
        {"PCM cbSize of junk is ignored", riff(chunk("fmt ", pcm16Stereo() + le16(9)) + chunk("data", data)), S_OK,
         1, 0, "", data},
        {"odd chunk and its pad byte before data",
         riff(chunk("fmt ", pcm16Stereo()) + chunk("junk", "abc") + chunk("data", data)), S_OK, 1, 0, "", data},
        {"LIST after data is not data", riff(chunk("fmt ", pcm16Stereo()) + chunk("data", data) + infoList()), S_OK,
         1, 0, "", data},
        {"extensible with cbSize 22",
         riff(chunk("fmt ", formatBody(0xFFFE, 2, 48000, 24) + le16(22) + ext) + chunk("fact", le32(10)) +
              chunk("data", frames(60))),
         S_OK, 0xFFFE, 22, ext, frames(60)},
        {"16-byte float format has no extra bytes",
         riff(chunk("fmt ", formatBody(3, 1, 8000, 32)) + chunk("fact", le32(4)) + chunk("data", frames(16))), S_OK,
         3, 0, "", frames(16)},
        {"data size past the end, cut to whole frames",
         "RIFF" + le32(0xFFFFFFFF) + "WAVE" + chunk("fmt ", pcm16Stereo()) +
             chunkClaiming("data", 0xFFFFFFF0, frames(10)),
         S_OK, 1, 0, "", frames(8)},
        refused("format shorter than 16 bytes", riff(chunk("fmt ", pcm16Stereo().substr(0, 14)) + chunk("data", data))),
        refused("format cut by the end of the file",
                "RIFF" + le32(100) + "WAVE" + chunkClaiming("fmt ", 16, std::string("\x01\x00\x02", 3))),
        refused("extra bytes past the format chunk",
         riff(chunk("fmt ", formatBody(0xFFFE, 2, 48000, 24) + le16(22)) + chunk("data", data))),
        refused("no format chunk", riff(chunk("data", data))),
        refused("no data chunk", riff(chunk("fmt ", pcm16Stereo()) + infoList())),
        refused("not RIFF", "RIFX" + riff(chunk("fmt ", pcm16Stereo()) + chunk("data", data)).substr(4)),
        refused("not WAVE", "RIFF" + le32(4) + "AVI "),
        refused("shorter than a RIFF header", "RIFF" + le32(4) + "WAV"),
        refused("empty", ""),
    };
}

// Every data byte, in blocks of an odd size so that block ends fall anywhere.
std::string readAll(CWaveFile& wave, HRESULT* last = nullptr) {
    std::string out;
    char block[37];
    for (;;) {
        std::uint32_t got = 0;
        const HRESULT hr = wave.Read(block, sizeof block, &got);
        out.append(block, got);
        if (hr != S_OK || got == 0) {
            if (last) *last = hr;
            return out;
        }
    }
}

TEST(WaveRead, FilesAsProgramsWriteThemAndDamagedHeaders) {
    TempFolder tmp;
    for (const ReadCase& c : readCases()) {
        SCOPED_TRACE(c.name);
        const fs::path path = tmp.path() / "in.wav";
        writeBytes(path, c.file);
        for (std::uint32_t mode : {CWaveFile::kModeRead, CWaveFile::kModeReadWrite}) {
            CWaveFile wave;
            WaveFormatEx format;
            format.nChannels = 99;
            ASSERT_EQ(wave.Open(path, &format, mode), c.result);
            if (c.result != S_OK) {
                EXPECT_FALSE(wave.IsOpen());
                continue;
            }
            EXPECT_EQ(format, wave.Format());
            EXPECT_EQ(format.wFormatTag, c.tag);
            EXPECT_EQ(format.cbSize, c.cbSize);
            EXPECT_EQ(std::string(format.extra.begin(), format.extra.end()), c.extra);
            EXPECT_EQ(wave.DataSize(), c.data.size());
            HRESULT last = E_FAIL;
            EXPECT_EQ(readAll(wave, &last), c.data);
            EXPECT_EQ(last, S_OK);
            ASSERT_EQ(wave.ResetFile(), S_OK);  // the normaliser reads a file twice
            EXPECT_EQ(readAll(wave), c.data);
            EXPECT_EQ(wave.Close(), S_OK);
            EXPECT_EQ(readBytes(path), c.file) << "reading never changes the file";
        }
    }
}

// --- writing ------------------------------------------------------------------------------

struct Chunk {
    std::string id;
    std::uint32_t size;
    std::size_t body;
};

// The chunks of a written file, read independently of the reader under test.
std::vector<Chunk> chunksOf(const std::string& file) {
    std::vector<Chunk> chunks;
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::uint32_t size = get32(file, at + 4);
        chunks.push_back({file.substr(at, 4), size, at + 8});
        at += 8 + size + (size & 1u);
    }
    return chunks;
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    return names;
}

WaveFormatEx extensible24() {
    WaveFormatEx f;
    f.wFormatTag = 0xFFFE;
    f.nChannels = 2;
    f.nSamplesPerSec = 48000;
    f.nBlockAlign = 6;
    f.nAvgBytesPerSec = 48000 * 6;
    f.wBitsPerSample = 24;
    f.cbSize = 22;
    const std::string extra = extensibleExtra();
    f.extra.assign(extra.begin(), extra.end());
    return f;
}

TEST(WaveWrite, ClosedFileHasTrueSizesAZeroFactAndReadsBack) {
    struct Case {
        const char* name;
        WaveFormatEx format;
        std::uint32_t formatChunkSize;
        std::size_t dataBytes;
    };
    const Case cases[] = {
        {"16-bit stereo PCM", WaveFormatEx::pcm(44100, 2, 16), 16, 4000},
        {"8-bit mono with an odd data chunk", WaveFormatEx::pcm(8000, 1, 8), 16, 4001},
        {"extensible 24-bit", extensible24(), 40, 6 * 200},
    };
    TempFolder tmp;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path path = tmp.path() / "out.wav";
        const std::string data = frames(c.dataBytes, 3);
        {
            CWaveFile wave;
            WaveFormatEx format = c.format;
            ASSERT_EQ(wave.Open(path, &format, CWaveFile::kModeWrite), S_OK);
            std::uint32_t written = 0;
            // In two pieces, the first of an odd size.
            ASSERT_EQ(wave.Write(1001, data.data(), &written), S_OK);
            EXPECT_EQ(written, 1001u);
            ASSERT_EQ(wave.Write(static_cast<std::uint32_t>(data.size() - 1001), data.data() + 1001, &written), S_OK);
            EXPECT_EQ(wave.DataSize(), data.size());
            ASSERT_EQ(wave.Close(), S_OK);
            EXPECT_EQ(wave.Close(), CO_E_NOTINITIALIZED);
        }
        const std::string file = readBytes(path);
        ASSERT_GE(file.size(), 12u);
        EXPECT_EQ(file.substr(0, 4), "RIFF");
        EXPECT_EQ(file.substr(8, 4), "WAVE");
        EXPECT_EQ(get32(file, 4), file.size() - 8);
        const std::vector<Chunk> chunks = chunksOf(file);
        ASSERT_EQ(chunks.size(), 3u);
        EXPECT_EQ(chunks[0].id, "fmt ");
        EXPECT_EQ(chunks[0].size, c.formatChunkSize);
        EXPECT_EQ(chunks[1].id, "fact");
        EXPECT_EQ(chunks[1].size, 4u);
        EXPECT_EQ(get32(file, chunks[1].body), 0u);
        EXPECT_EQ(chunks[2].id, "data");
        EXPECT_EQ(chunks[2].size, data.size());
        EXPECT_EQ(chunks[2].body + data.size() + data.size() % 2, file.size())
            << "an odd data chunk ends on its pad byte";

        CWaveFile back;
        WaveFormatEx format;
        ASSERT_EQ(back.Open(path, &format, CWaveFile::kModeRead), S_OK);
        EXPECT_EQ(format, c.format);
        EXPECT_EQ(readAll(back), data);
        EXPECT_EQ(filesIn(tmp.path()), std::vector<std::string>{"out.wav"}) << "no temporary file is left";
    }
}

// Holds the file size limit low (with SIGXFSZ ignored, writes past it fail
// with EFBIG) for as long as it lives.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit low = saved_;
        low.rlim_cur = bytes;
        active_ = setrlimit(RLIMIT_FSIZE, &low) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, handler_);
    }
    bool active() const { return active_; }

private:
    rlimit saved_{};
    void (*handler_)(int) = nullptr;
    bool active_ = false;
};

TEST(WaveWrite, AnAbandonedOrFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    struct Case {
        const char* name;
        std::function<void(CWaveFile*&)> abandon;  // may delete the object and null it
    };
    const Case cases[] = {
        {"discarded", [](CWaveFile*& w) { w->Discard(); }},
        {"destroyed without Close",
         [](CWaveFile*& w) {
             delete w;
             w = nullptr;
         }},
        {"opened again before Close",
         [](CWaveFile*& w) {
             WaveFormatEx f = WaveFormatEx::pcm(8000, 1, 8);
             EXPECT_EQ(w->Open("/nonexistent-folder-qvp3/x.wav", &f, CWaveFile::kModeWrite), E_FAIL);
         }},
        {"a write past the file size limit",
         [](CWaveFile*& w) {
             const std::string big(1 << 20, '\x11');
             FileSizeLimit limit(256 * 1024);
             ASSERT_TRUE(limit.active());
             std::uint32_t written = 0;
             HRESULT hr = S_OK;
             for (int i = 0; i < 4 && hr == S_OK; ++i) {
                 hr = w->Write(static_cast<std::uint32_t>(big.size()), big.data(), &written);
             }
             // Bytes still buffered fail when Close flushes them; a failed
             // Write fails Close in any case.
             EXPECT_EQ(w->Close(), E_FAIL);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder tmp;
        const fs::path path = tmp.path() / "take.wav";
        const std::string old = riff(chunk("fmt ", pcm16Stereo()) + chunk("data", frames(40)));
        writeBytes(path, old);
        auto* wave = new CWaveFile;
        WaveFormatEx format = WaveFormatEx::pcm(44100, 2, 16);
        ASSERT_EQ(wave->Open(path, &format, CWaveFile::kModeWrite), S_OK);
        ASSERT_EQ(filesIn(tmp.path()).size(), 2u) << "the write goes to a file beside the target";
        std::uint32_t written = 0;
        const std::string data = frames(400);
        ASSERT_EQ(wave->Write(400, data.data(), &written), S_OK);
        c.abandon(wave);
        if (wave) {
            EXPECT_EQ(wave->Close(), CO_E_NOTINITIALIZED);
            delete wave;
        }
        EXPECT_EQ(readBytes(path), old);
        EXPECT_EQ(filesIn(tmp.path()), std::vector<std::string>{"take.wav"});
    }
}

TEST(WaveWrite, WrongCallsAreAnsweredWithTheirResults) {
    TempFolder tmp;
    const fs::path good = tmp.path() / "good.wav";
    writeBytes(good, riff(chunk("fmt ", pcm16Stereo()) + chunk("data", frames(8))));
    WaveFormatEx pcm = WaveFormatEx::pcm(44100, 2, 16);
    WaveFormatEx shortExtra = extensible24();
    shortExtra.extra.resize(10);
    fs::create_directory(tmp.path() / "folder.wav");
    struct Case {
        const char* name;
        fs::path path;
        WaveFormatEx* format;
        std::uint32_t mode;
        HRESULT result;
    };
    const Case opens[] = {
        {"empty path", "", &pcm, CWaveFile::kModeRead, E_INVALIDARG},
        {"mode 0", good, &pcm, 0, E_INVALIDARG},
        {"mode 4", good, &pcm, 4, E_INVALIDARG},
        {"writing without a format", tmp.path() / "n.wav", nullptr, CWaveFile::kModeWrite, E_INVALIDARG},
        {"extra bytes fewer than cbSize", tmp.path() / "n.wav", &shortExtra, CWaveFile::kModeWrite, E_INVALIDARG},
        {"a missing file (no resource fallback)", tmp.path() / "none.wav", nullptr, CWaveFile::kModeRead, E_FAIL},
        {"a folder to read", tmp.path(), nullptr, CWaveFile::kModeRead, E_FAIL},
        {"a folder as target", tmp.path() / "folder.wav", &pcm, CWaveFile::kModeWrite, E_FAIL},
        {"a target in a missing folder", tmp.path() / "no" / "n.wav", &pcm, CWaveFile::kModeWrite, E_FAIL},
    };
    for (const Case& c : opens) {
        SCOPED_TRACE(c.name);
        CWaveFile wave;
        EXPECT_EQ(wave.Open(c.path, c.format, c.mode), c.result);
        EXPECT_FALSE(wave.IsOpen());
    }
    EXPECT_FALSE(fs::exists(tmp.path() / "n.wav"));

    char buffer[8] = {};
    std::uint32_t count = 0;
    CWaveFile closed;
    EXPECT_EQ(closed.Read(buffer, 8, &count), CO_E_NOTINITIALIZED);
    EXPECT_EQ(closed.Write(8, buffer, &count), CO_E_NOTINITIALIZED);
    EXPECT_EQ(closed.Close(), CO_E_NOTINITIALIZED);
    EXPECT_EQ(closed.ResetFile(), CO_E_NOTINITIALIZED);
    EXPECT_FALSE(closed.AppendSilence(10));

    CWaveFile reader;
    ASSERT_EQ(reader.Open(good, nullptr, CWaveFile::kModeRead), S_OK);
    EXPECT_EQ(reader.Read(nullptr, 8, &count), E_INVALIDARG);
    EXPECT_EQ(reader.Read(buffer, 8, nullptr), E_INVALIDARG);
    EXPECT_EQ(reader.Write(8, buffer, &count), E_NOTIMPL);
    EXPECT_FALSE(reader.AppendSilence(10));

    CWaveFile writer;
    ASSERT_EQ(writer.Open(tmp.path() / "w.wav", &pcm, CWaveFile::kModeWrite), S_OK);
    EXPECT_EQ(writer.Write(8, nullptr, &count), E_INVALIDARG);
    EXPECT_EQ(writer.Write(8, buffer, nullptr), E_INVALIDARG);
    EXPECT_EQ(writer.Read(buffer, 8, &count), E_NOTIMPL);
    EXPECT_EQ(writer.Close(), S_OK) << "refused calls do not spoil the file";
}

TEST(WaveWrite, AppendSilenceWritesWholeFramesOfZeros) {
    struct Case {
        const char* name;
        WaveFormatEx format;
        std::uint32_t milliseconds;
        std::size_t bytes;
    };
    WaveFormatEx noByteRate = WaveFormatEx::pcm(8000, 1, 16);
    noByteRate.nAvgBytesPerSec = 0;
    WaveFormatEx byteRateBelowAFrame = WaveFormatEx::pcm(8000, 2, 16);
    byteRateBelowAFrame.nAvgBytesPerSec = 3;
    const Case cases[] = {
        {"a second of CD audio", WaveFormatEx::pcm(44100, 2, 16), 1000, 176400},
        {"nothing for 0 ms", WaveFormatEx::pcm(44100, 2, 16), 0, 0},
        {"44.1 frames round down", WaveFormatEx::pcm(44100, 2, 16), 1, 44 * 4},
        {"220.5 frames round up", WaveFormatEx::pcm(22050, 1, 8), 10, 221},
        {"longer than the block of a second", WaveFormatEx::pcm(44100, 2, 16), 2500, 441000},
        {"a format without a byte rate", noByteRate, 1000, 16000},
        {"a byte rate below one frame", byteRateBelowAFrame, 10, 80 * 4},
    };
    TempFolder tmp;
    const fs::path path = tmp.path() / "pause.wav";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CWaveFile wave;
        WaveFormatEx format = c.format;
        ASSERT_EQ(wave.Open(path, &format, CWaveFile::kModeWrite), S_OK);
        std::uint32_t written = 0;
        ASSERT_EQ(wave.Write(4, "\x7F\x7F\x7F\x7F", &written), S_OK);
        ASSERT_TRUE(wave.AppendSilence(c.milliseconds));
        ASSERT_EQ(wave.Close(), S_OK);
        CWaveFile back;
        ASSERT_EQ(back.Open(path, nullptr, CWaveFile::kModeRead), S_OK);
        EXPECT_EQ(readAll(back), "\x7F\x7F\x7F\x7F" + std::string(c.bytes, '\0'));
    }

    WaveFormatEx noAlign = WaveFormatEx::pcm(44100, 2, 16);
    noAlign.nBlockAlign = 0;
    CWaveFile wave;
    ASSERT_EQ(wave.Open(path, &noAlign, CWaveFile::kModeWrite), S_OK);
    EXPECT_FALSE(wave.AppendSilence(100)) << "silence cannot be measured without a frame size";
    EXPECT_TRUE(wave.AppendSilence(0));
}

// --- the renderer's pipe reader ----------------------------------------------------------

class Pipe {
public:
    Pipe() { ok_ = ::pipe2(fds_, O_CLOEXEC) == 0; }
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    bool ok() const { return ok_; }
    int readEnd() const { return fds_[0]; }
    int writeEnd() const { return fds_[1]; }
    void closeRead() { closeFd(fds_[0]); }
    void closeWrite() { closeFd(fds_[1]); }

    // Writes bytes in pieces of changing sizes from a thread of its own,
    // then closes the write end. A reader that stops reading leaves the
    // writer blocked; after 10 s it gives up and says so.
    std::thread writeAndClose(std::string bytes) {
        return std::thread([this, bytes = std::move(bytes)] {
            std::size_t at = 0;
            std::size_t piece = 1;
            while (at < bytes.size()) {
                pollfd out{fds_[1], POLLOUT, 0};
                if (::poll(&out, 1, 10000) == 0) {
                    writerBlocked_ = true;
                    break;
                }
                const std::size_t n = std::min(piece, bytes.size() - at);
                const ssize_t put = ::write(fds_[1], bytes.data() + at, n);
                if (put < 0 && errno == EINTR) continue;
                if (put <= 0) break;
                at += static_cast<std::size_t>(put);
                piece = piece * 3 % 9001 + 1;
            }
            closeWrite();
        });
    }
    // Read after joining the writer.
    bool writerBlocked() const { return writerBlocked_; }

private:
    static void closeFd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int fds_[2] = {-1, -1};
    bool ok_ = false;
    bool writerBlocked_ = false;
};

TEST(WavePipeThreads, EveryByteTheRendererWritesReachesTheFile) {
    const std::string audio = frames(300 * 1024 + 6, 5);
    TempFolder tmp;
    for (std::uint32_t blockBytes : {7u, 4096u, 1u << 20}) {
        SCOPED_TRACE(blockBytes);
        const fs::path path = tmp.path() / "render.wav";
        CWaveFile wave;
        WaveFormatEx format = WaveFormatEx::pcm(44100, 2, 16);
        ASSERT_EQ(wave.Open(path, &format, CWaveFile::kModeWrite), S_OK);
        Pipe pipe;
        ASSERT_TRUE(pipe.ok());
        std::thread renderer = pipe.writeAndClose(audio);
        EXPECT_EQ(cnvPipeToWave(pipe.readEnd(), blockBytes, wave), 0);
        renderer.join();
        ASSERT_EQ(wave.Close(), S_OK);
        CWaveFile back;
        ASSERT_EQ(back.Open(path, nullptr, CWaveFile::kModeRead), S_OK);
        EXPECT_TRUE(readAll(back) == audio);
    }
}

TEST(WavePipeThreads, AWriterClosingAtOnceGivesAnEmptyFile) {
    TempFolder tmp;
    CWaveFile wave;
    WaveFormatEx format = WaveFormatEx::pcm(44100, 2, 16);
    ASSERT_EQ(wave.Open(tmp.path() / "empty.wav", &format, CWaveFile::kModeWrite), S_OK);
    Pipe pipe;
    ASSERT_TRUE(pipe.ok());
    pipe.closeWrite();
    EXPECT_EQ(cnvPipeToWave(pipe.readEnd(), 4096, wave), 0);
    EXPECT_EQ(wave.DataSize(), 0u);
    EXPECT_EQ(wave.Close(), S_OK);
}

// A failing reader still empties the pipe: the renderer, writing far more than
// a pipe holds, finishes and can be joined.
TEST(WavePipeThreads, FailuresAreReportedWithoutLeavingTheWriterBlocked) {
    TempFolder tmp;
    const std::string audio = frames(1 << 20);
    struct Case {
        const char* name;
        std::uint32_t blockBytes;
        bool open;
        int result;
    };
    const Case cases[] = {
        {"no block", 0, true, kPipeNoBlock},
        {"the file refuses the bytes", 4096, false, kPipeWriteError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CWaveFile wave;
        WaveFormatEx format = WaveFormatEx::pcm(44100, 2, 16);
        if (c.open) {
            ASSERT_EQ(wave.Open(tmp.path() / "r.wav", &format, CWaveFile::kModeWrite), S_OK);
        }
        Pipe pipe;
        ASSERT_TRUE(pipe.ok());
        std::thread renderer = pipe.writeAndClose(audio);
        EXPECT_EQ(cnvPipeToWave(pipe.readEnd(), c.blockBytes, wave), c.result);
        renderer.join();
        EXPECT_FALSE(pipe.writerBlocked()) << "the reader stopped reading and left the writer hanging";
    }
}

TEST(WavePipeThreads, AReadErrorIsNotTheWriterClosing) {
    TempFolder tmp;
    CWaveFile wave;
    WaveFormatEx format = WaveFormatEx::pcm(44100, 2, 16);
    ASSERT_EQ(wave.Open(tmp.path() / "r.wav", &format, CWaveFile::kModeWrite), S_OK);
    Pipe pipe;
    ASSERT_TRUE(pipe.ok());
    // The write end cannot be read from (EBADF).
    EXPECT_EQ(cnvPipeToWave(pipe.writeEnd(), 4096, wave), kPipeReadError);
}

// --- damaged files --------------------------------------------------------------------------

#if defined(__SANITIZE_ADDRESS__)
constexpr int kMutationRounds = 3000;
#else
constexpr int kMutationRounds = 6000;
#endif

// Whatever a damaged file holds, opening it ends with an answer, and a file
// that opens reads exactly the data it claims, all of it inside the file.
TEST(WaveDamaged, CutAndChangedFilesAreAnsweredWithoutHarm) {
    std::vector<std::string> originals;
    for (const ReadCase& c : readCases()) {
        if (c.result == S_OK) originals.push_back(c.file);
    }
    const std::uint32_t absurd[] = {0, 1, 3, 15, 16, 17, 18, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFF8};
    std::mt19937 random(20261210);
    const auto pick = [&](std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(random() % n); };
    TempFolder tmp;
    const fs::path path = tmp.path() / "damaged.wav";
    int accepted = 0;
    int refused = 0;
    for (int round = 0; round < kMutationRounds; ++round) {
        std::string bytes = originals[static_cast<std::size_t>(round) % originals.size()];
        for (int m = 1 + static_cast<int>(pick(3)); m > 0; --m) {
            const std::size_t at = pick(bytes.size());
            switch (pick(4)) {
                case 0:
                    bytes[at] = static_cast<char>(random());
                    break;
                case 1:
                    bytes.resize(at);
                    break;
                case 2:
                    bytes.erase(at, 1 + pick(16));
                    break;
                default: {  // sizes sit on even offsets; put an absurd one there
                    const std::size_t field = at & ~std::size_t{1};
                    if (field + 4 <= bytes.size()) bytes.replace(field, 4, le32(absurd[pick(std::size(absurd))]));
                    break;
                }
            }
        }
        writeBytes(path, bytes);
        CWaveFile wave;
        WaveFormatEx format;
        if (wave.Open(path, &format, CWaveFile::kModeRead) != S_OK) {
            ++refused;
            EXPECT_EQ(wave.DataSize(), 0u);
            continue;
        }
        ++accepted;
        if (format.wFormatTag != kWaveFormatPcm) {
            EXPECT_EQ(format.extra.size(), format.cbSize);
        }
        EXPECT_LE(wave.DataSize(), bytes.size());
        HRESULT last = E_FAIL;
        EXPECT_EQ(readAll(wave, &last).size(), wave.DataSize());
        EXPECT_EQ(last, S_OK);
        if (::testing::Test::HasFailure()) break;
    }
    EXPECT_GT(accepted, kMutationRounds / 10) << "the damage should not refuse every file";
    EXPECT_GT(refused, kMutationRounds / 10);
}

}  // namespace
}  // namespace qvp3
