// The render host's render into a WAV file: blocks rendered as fast as the
// plug-ins allow, converted to 16-bit and handed through a pipe to a reader
// thread that writes the file, so that the file is written while the next
// block renders.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <thread>

#include "qvp3_audio/vst_render_host.h"
#include "qvp3_pipeline/wave_file.h"

namespace qvp3 {
namespace {

constexpr double kMaxTailMs = 5000.0;

std::int16_t toPcm16(float sample) {
    if (std::isnan(sample)) return 0;
    const double v = std::trunc(static_cast<double>(sample) * 32767.0);
    return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
}

bool writeAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// The pipe and its reader thread, released on every way out.
struct PipeJob {
    int fds[2] = {-1, -1};
    std::thread reader;
    int result = 0;

    bool start(std::uint32_t blockBytes, CWaveFile& wave) {
        if (pipe2(fds, O_CLOEXEC) != 0) return false;
        fcntl(fds[1], F_SETPIPE_SZ, static_cast<int>(blockBytes));  // one block paces the two; best effort
        try {
            reader = std::thread([this, blockBytes, &wave] { result = cnvPipeToWave(fds[0], blockBytes, wave); });
        } catch (const std::system_error&) {
            return false;
        }
        return true;
    }
    // Closes the writing end, waits for the reader and answers its result.
    int finish() {
        if (fds[1] >= 0) ::close(fds[1]);
        fds[1] = -1;
        if (reader.joinable()) reader.join();
        return result;
    }
    ~PipeJob() {
        finish();
        if (fds[0] >= 0) ::close(fds[0]);
    }
};

}  // namespace

int CMyVSTHost::RenderToWave(const std::filesystem::path& fileName, const std::function<void(std::uint32_t)>& progress,
                             const std::atomic<int>& cancelState) {
    CWaveFile wave;
    WaveFormatEx format = WaveFormatEx::pcm(44100, 2, 16);
    if (wave.Open(fileName, &format, CWaveFile::kModeWrite) != S_OK) return kRenderNoFile;
    const std::uint32_t frames = std::clamp<std::uint32_t>(renderBlockSize, 1, kRenderMixFrames);
    std::vector<std::int16_t> block;
    try {
        block.assign(static_cast<std::size_t>(frames) * 2, 0);
    } catch (const std::bad_alloc&) {
        return kRenderNoMemory;
    }
    const std::uint32_t blockBytes = frames * 4;
    int result = 0;
    {
        PipeJob job;
        if (!job.start(blockBytes, wave)) return kRenderFailed;  // the file is discarded with `wave`
        if (!playing_.load()) StartPlayback(nullptr, true);
        startMs_ = 0.0;
        state_ = kRenderStateOffline;
        processLevel = kVstProcessOffline;
        double position = 0.0;
        std::uint32_t reported = 0;
        bool ended = false;
        double tail = 0.0;
        bool tailDone = false;
        for (;;) {
            if (ended && tailDone) {
                result = job.finish();
                break;
            }
            if (progress && static_cast<std::uint32_t>(position) > reported) {
                reported = static_cast<std::uint32_t>(position);
                progress(reported);
            }
            bool nowEnded = ended;
            float* const* out = RenderOfflineBlock(nowEnded, position);
            ended = ended || nowEnded;
            if (out == nullptr) {
                result = kRenderFailed;
                break;
            }
            if (cancelState.load() == kRenderCancelState) {
                result = kRenderCancelled;
                break;
            }
            for (std::uint32_t i = 0; i < frames; ++i) {
                block[2 * i] = toPcm16(out[0][i]);
                block[2 * i + 1] = toPcm16(out[1][i]);
            }
            if (ended) {
                // The instruments' release sounds on until a block starts silent, 5 s at most.
                if (tail <= kMaxTailMs) tail += blockMs;
                tailDone = out[0][0] == 0.0f || tail > kMaxTailMs;
            }
            if (!writeAll(job.fds[1], reinterpret_cast<const std::uint8_t*>(block.data()), blockBytes)) {
                result = kRenderShortWrite;
                break;
            }
            position += std::round(static_cast<double>(blockMs));
        }
        const int readerResult = job.finish();
        if (result == 0) result = readerResult;
    }
    StopPlayback();
    for (auto& s : silence_) std::fill(s.begin(), s.end(), 0.0f);
    for (auto& m : mix_) std::fill(m.begin(), m.end(), 0.0f);
    {
        std::lock_guard lock(queueLock_);
        queueCount_ = 0;
    }
    if (result != 0) return result;  // the unfinished file is discarded with `wave`
    return wave.Close() == S_OK ? 0 : kRenderShortWrite;
}

}  // namespace qvp3
