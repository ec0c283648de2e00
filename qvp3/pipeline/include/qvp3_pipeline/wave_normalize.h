// The WAV normaliser: raises the rendered WAV files of a project so that
// their loudest sample reaches full scale. The project's Normalize chooses
// when: 1, each file on its own right after it was rendered; 2, all converted
// files with one common gain after the WAV step (so that their levels keep
// their proportions); any other value, never.
//
// The gain is the largest that keeps every sample in range: full scale is
// 32767 upwards and 32768 downwards, so a file whose loudest sample is
// positive ends at 32767 and one whose loudest is negative at -32768; no
// sample is ever clipped. Samples are rounded to the nearest step. A file
// without sound (every sample 0) is left as it is. Each file is rewritten
// through a temporary file that replaces it only once complete, so a failure
// leaves the file as it was.
#pragma once

#include <cstdint>

#include "qvp3_pipeline/wave_file.h"
#include "qvp3_project/project.h"

namespace qvp3 {

// Results besides 0 (done, or nothing to do).
inline constexpr int kNormalizeGainTooSmall = -7;  // project gain below 1.1: nothing changed
inline constexpr int kNormalizeOutOfMemory = -2;
inline constexpr int kNormalizeReadError = -100;
inline constexpr int kNormalizeWriteError = -101;
inline constexpr int kNormalizeCannotOpen = -103;
inline constexpr int kNormalizeUnknownFormat = -104;  // not 16-bit PCM: left alone
inline constexpr int kNormalizeCannotCreate = -106;

// The project gain must reach this for the files to be rewritten.
inline constexpr double kNormalizeMinimumProjectGain = 1.1;

// Language strings of the warnings.
inline constexpr int kStrNormalizeWarning = 60242;  // "%s": the cause

// A progress bar of the WAV page (the total bar or the per-file bar).
class WaveProgressBar {
public:
    virtual ~WaveProgressBar() = default;
    virtual void setRange(int maximum) = 0;
    virtual void setPosition(int position) = 0;
    virtual int position() const = 0;
};

// The extremes of a file's samples over both channels.
struct WavePeak {
    std::int32_t highest = 0;  // 0..32767
    std::int32_t lowest = 0;   // -32768..0

    // Takes the other's extremes in.
    void merge(const WavePeak& other);
    bool silent() const { return highest == 0 && lowest == 0; }
    // The largest gain that keeps every sample in range; 1 for silence.
    double gain() const;
};

// Reads the data of an open 16-bit file in blocks of a second and keeps its
// extremes; the bar, when given, is advanced by 1 per block from where it
// stands. The file is then back at the start of its data. -2 when no block
// can be had, -100 on a read error, -104 when the file is not 16-bit PCM;
// else 0.
int cnvWavePeak(CWaveFile& wave, WavePeak* peak, WaveProgressBar* bar);

// The extremes over the converted WAV files of the project (entries below the
// converted-WAV count). 0 (and silence) without converted files; -103 when a
// file does not open; else cnvWavePeak's result.
int cnvProjectWavePeak(Project& project, WavePeak* peak);

// Normalises the converted WAV file of entry entryIndex (on its own gain),
// or, for -1, every converted WAV file of the project with the project's
// gain, which must reach 1.1 (else -7 and nothing changes). total (may be
// null) counts the files, file (may be null) the blocks of the file in hand;
// both end at 0. An error ends the run at the file where it happened: files
// already done stay normalised, that file stays as it was. Answers 0 or one
// of the results above.
int cnvNormalizeWaveFiles(Project& project, WaveProgressBar* total, WaveProgressBar* file, int entryIndex);

// Shows the warning for a result of cnvNormalizeWaveFiles through the
// project's shell; 0, -7 and the codes without a text of their own show
// nothing.
void cnvReportNormalizeError(Project& project, int code);

}  // namespace qvp3
