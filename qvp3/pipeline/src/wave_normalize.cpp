// The WAV normaliser (see wave_normalize.h).
#include "qvp3_pipeline/wave_normalize.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "qvp3_project/profile_file.h"

namespace qvp3 {
namespace {

constexpr double kFullScaleUp = 32767.0;
constexpr double kFullScaleDown = 32768.0;

// A 16-bit PCM format whose byte rate and alignment agree: the only one whose
// samples this code knows how to scale.
bool isPcm16(const WaveFormatEx& f) {
    return f.wFormatTag == kWaveFormatPcm && f.wBitsPerSample == 16 && f.nChannels > 0 &&
           f.nBlockAlign == f.nChannels * 2 && f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign &&
           f.nAvgBytesPerSec > 0;
}

// A block of a second of the file's audio; empty when it cannot be had.
std::vector<std::int16_t> secondBlock(const WaveFormatEx& f) {
    try {
        return std::vector<std::int16_t>(f.nAvgBytesPerSec / 2);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

std::uint32_t byteSize(const std::vector<std::int16_t>& block) {
    return static_cast<std::uint32_t>(block.size() * sizeof(std::int16_t));
}

std::int16_t scaled(std::int16_t sample, double gain) {
    const long v = std::lround(sample * gain);
    return static_cast<std::int16_t>(std::clamp<long>(v, -32768, 32767));
}

void setBar(WaveProgressBar* bar, int maximum, int position) {
    if (bar == nullptr) return;
    if (maximum >= 0) bar->setRange(maximum);
    bar->setPosition(position);
}

// Scales the data of the open file by gain into a new file that replaces it
// once complete; the per-file bar advances by 1 per block.
int rewriteScaled(CWaveFile& in, const std::filesystem::path& path, double gain, WaveProgressBar* bar) {
    std::vector<std::int16_t> block = secondBlock(in.Format());
    if (block.empty()) return kNormalizeOutOfMemory;
    // The writer works in a temporary file beside path and renames it over
    // path only at a successful Close; the reader keeps the old file open.
    CWaveFile out;
    WaveFormatEx format = in.Format();
    if (out.Open(path, &format, CWaveFile::kModeWrite) != S_OK) return kNormalizeCannotCreate;
    int position = 0;
    while (true) {
        std::uint32_t read = 0;
        if (in.Read(block.data(), byteSize(block), &read) != S_OK) return kNormalizeReadError;
        if (read == 0) break;
        const std::size_t samples = read / 2;
        for (std::size_t i = 0; i < samples; ++i) block[i] = scaled(block[i], gain);
        std::uint32_t written = 0;
        if (out.Write(read, block.data(), &written) != S_OK || written != read) return kNormalizeWriteError;
        setBar(bar, -1, ++position);
    }
    in.Close();
    return out.Close() == S_OK ? 0 : kNormalizeWriteError;
}

// One file: opened, measured in single-file mode (gain 0), and rewritten
// when its gain raises it.
int normalizeFile(const std::filesystem::path& path, double gain, WaveProgressBar* bar) {
    CWaveFile in;
    if (path.empty() || in.Open(path, nullptr, CWaveFile::kModeRead) != S_OK) return kNormalizeCannotOpen;
    if (!isPcm16(in.Format())) return kNormalizeUnknownFormat;
    setBar(bar, static_cast<int>(in.DataSize() / in.Format().nAvgBytesPerSec), 0);
    if (gain == 0.0) {
        WavePeak peak;
        if (const int rc = cnvWavePeak(in, &peak, bar); rc != 0) return rc;
        gain = peak.gain();
        // Already at full scale, or silent: the file stays as it is.
        if (gain <= 1.0) return 0;
        setBar(bar, -1, 0);
    }
    return rewriteScaled(in, path, gain, bar);
}

struct Cause {
    int code;
    int stringId;
    const char* english;
};
constexpr Cause kCauses[] = {
    {kNormalizeCannotCreate, 501, "a temporary file could not be created"},
    {-300, 213, "a file could not be opened"},
    {kNormalizeUnknownFormat, 314, "a file is not a 16-bit PCM WAV file"},
    {kNormalizeCannotOpen, 212, "a WAV file could not be opened"},
    {kNormalizeReadError, 187, "a WAV file could not be read"},
    {-5, 60232, "the step was cancelled"},
    {kNormalizeOutOfMemory, 188, "there is not enough memory"},
};

std::string text(Project& project, int id, const char* english) {
    std::string s = project.shell().languageString(id);
    return s.empty() ? std::string(english) : s;
}

}  // namespace

void WavePeak::merge(const WavePeak& other) {
    highest = std::max(highest, other.highest);
    lowest = std::min(lowest, other.lowest);
}

double WavePeak::gain() const {
    if (silent()) return 1.0;
    const double up = highest > 0 ? kFullScaleUp / highest : HUGE_VAL;
    const double down = lowest < 0 ? kFullScaleDown / -static_cast<double>(lowest) : HUGE_VAL;
    return std::min(up, down);
}

int cnvWavePeak(CWaveFile& wave, WavePeak* peak, WaveProgressBar* bar) {
    *peak = WavePeak{};
    if (!isPcm16(wave.Format())) return kNormalizeUnknownFormat;
    std::vector<std::int16_t> block = secondBlock(wave.Format());
    if (block.empty()) return kNormalizeOutOfMemory;
    int position = bar != nullptr ? bar->position() : 0;
    while (true) {
        std::uint32_t read = 0;
        if (wave.Read(block.data(), byteSize(block), &read) != S_OK) return kNormalizeReadError;
        if (read == 0) break;
        const auto [lo, hi] = std::minmax_element(block.begin(), block.begin() + read / 2);
        peak->merge(WavePeak{std::max<std::int32_t>(*hi, 0), std::min<std::int32_t>(*lo, 0)});
        if (bar != nullptr) bar->setPosition(++position);
    }
    return wave.ResetFile() == S_OK ? 0 : kNormalizeReadError;
}

int cnvProjectWavePeak(Project& project, WavePeak* peak) {
    *peak = WavePeak{};
    const auto count = std::min<std::size_t>(static_cast<std::size_t>(std::max(project.convertedWaveCount, 0)),
                                             project.entries.size());
    for (std::size_t i = 0; i < count; ++i) {
        CWaveFile wave;
        const std::filesystem::path& path = project.entries[i].convertedWavePath;
        if (path.empty() || wave.Open(path, nullptr, CWaveFile::kModeRead) != S_OK) return kNormalizeCannotOpen;
        WavePeak filePeak;
        if (const int rc = cnvWavePeak(wave, &filePeak, nullptr); rc != 0) return rc;
        peak->merge(filePeak);
    }
    return 0;
}

int cnvNormalizeWaveFiles(Project& project, WaveProgressBar* total, WaveProgressBar* file, int entryIndex) {
    setBar(total, -1, 0);
    setBar(file, -1, 0);
    const int count = std::min(std::max(project.convertedWaveCount, 0), project.fileNum());
    double gain = 0.0;  // 0: each file its own
    if (entryIndex == -1) {
        WavePeak peak;
        if (const int rc = cnvProjectWavePeak(project, &peak); rc != 0) return rc;
        // Nothing but silence: nothing to raise.
        if (peak.silent()) return 0;
        gain = peak.gain();
        if (gain < kNormalizeMinimumProjectGain) return kNormalizeGainTooSmall;
    } else if (entryIndex < 0 || entryIndex >= project.fileNum()) {
        return kNormalizeCannotOpen;
    }
    const int first = entryIndex == -1 ? 0 : entryIndex;
    const int last = entryIndex == -1 ? count : entryIndex + 1;
    setBar(total, last - first, 0);
    int rc = 0;
    for (int i = first; i < last && rc == 0; ++i) {
        setBar(total, -1, i - first + 1);
        rc = normalizeFile(project.entries[static_cast<std::size_t>(i)].convertedWavePath, gain, file);
    }
    setBar(total, -1, 0);
    setBar(file, -1, 0);
    return rc;
}

void cnvReportNormalizeError(Project& project, int code) {
    for (const Cause& c : kCauses) {
        if (c.code != code) continue;
        std::string warning = prfFormatString(
            text(project, kStrNormalizeWarning, "The WAV files could not be normalised:\n%s"),
            text(project, c.stringId, c.english));
        // At most 256 bytes, cut before a character rather than inside one.
        if (warning.size() > 256) {
            std::size_t end = 256;
            while (end > 0 && (static_cast<unsigned char>(warning[end]) & 0xC0) == 0x80) --end;
            warning.resize(end);
        }
        project.shell().appTextBox(warning, kBoxWarning, kMbOk);
        return;
    }
}

}  // namespace qvp3
