// MP3 export: a rendered WAV file encoded with the project's encoder
// settings, and the export step's MP3 run over the project's converted WAV
// files ("<number>-<title>-<source name>.mp3" in the MP3 folder).
//
// An MP3 file is written to a temporary file beside it, which replaces an
// earlier file only once it is complete: a cancel or a failure leaves the
// earlier file as it was and no partial file. The encoder library is loaded
// for each file and released after it; without it the export says so (-9).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "qvp3_pipeline/mp3_encoder.h"
#include "qvp3_project/mp3_config.h"
#include "qvp3_project/project.h"

namespace qvp3 {

// Results of an encoding.
inline constexpr int kMp3Ok = 0;
inline constexpr int kMp3NoMemory = -2;
inline constexpr int kMp3Cancelled = -5;
inline constexpr int kMp3EncoderMissing = -9;    // the library or one of its functions
inline constexpr int kMp3ReadError = -100;       // the WAV file ended early or could not be read
inline constexpr int kMp3WriteError = -101;      // the MP3 file could not be written completely
inline constexpr int kMp3CannotOpen = -103;      // the WAV file (or not 16-bit PCM), or the MP3 file
inline constexpr int kMp3EncodeFailed = -400;
inline constexpr int kMp3InitFailed = -401;      // the encoder refused the settings
// Answers of the overwrite question that end a file or the run.
inline constexpr int kMp3SkipFile = -22;
inline constexpr int kMp3StopRun = -23;
inline constexpr int kMp3SuccessVariant = -16;

// The cancel word's value that asks for a stop.
inline constexpr std::int32_t kMp3CancelRequest = 7;

// Language strings of the run (English texts stand in where the shell has none).
inline constexpr int kStrMp3Encoding = 367;   // "%s": the WAV file's display name
inline constexpr int kStrMp3Encoded = 368;    // "%s": the WAV file's display name
inline constexpr int kStrMp3Done = 370;
inline constexpr int kStrMp3Cancelled = 372;
inline constexpr int kStrMp3Failed = 373;     // "%s": the WAV file's name
inline constexpr int kStrMp3Overwrite = 467;  // "%s": the MP3 file's name
inline constexpr int kStrExportWarning = 60231;
inline constexpr int kStrExportCancelled = 60232;

// A progress bar the encoding moves (the export page's per-file bar). Calls
// come from the encoding's thread.
class Mp3ProgressBar {
public:
    virtual ~Mp3ProgressBar() = default;
    virtual void setRange(std::uint32_t maximum) = 0;
    virtual void setPosition(std::uint32_t position) = 0;
};

// Encodes a WAV file (16-bit PCM, mono or stereo) into mp3Path with config.
// progress (optional) runs over the WAV data bytes and returns to 0; a cancel
// word (optional) that becomes 7 stops the encoding after the chunk in hand.
// 0 or a negative code above; library names the encoder library to load.
int cnvEncodeWavToMp3(const std::filesystem::path& wavPath, const std::filesystem::path& mp3Path,
                      const BE_CONFIG& config, Mp3ProgressBar* progress, std::int32_t* cancelWord,
                      const std::string& library = kMp3EncoderLibrary);

// The MP3 file of entry index: prjMp3Path with what no file name may hold
// ("|", "*", "?", control characters) removed and the name cut, on a
// character boundary, to the 255 bytes a file name may have. Nothing when
// the entry has no MP3 name.
std::optional<std::filesystem::path> cnvMp3FilePath(const Project& project, int index);

// What the export page shows of an MP3 run. Calls come from the run's thread.
class Mp3ExportView : public Mp3ProgressBar {
public:
    // The per-file bar.
    void setRange(std::uint32_t maximum) override { (void)maximum; }
    void setPosition(std::uint32_t position) override { (void)position; }
    // The bar over the files.
    virtual void showTotal(int position, int maximum) { (void)position, (void)maximum; }
    // A line of the status list, or a replacement of its last line.
    virtual void addStatusLine(std::string_view text, bool replaceLast) { (void)text, (void)replaceLast; }
    // The overwrite question for an existing MP3 file: kIdYes, kIdNo or
    // kIdCancel, plus 10 when "do not ask again" was ticked.
    virtual int askOverwrite(const std::filesystem::path& mp3File, std::string_view question) {
        (void)mp3File, (void)question;
        return kIdYes;
    }
};

// The export step's MP3 run: encodes the WAV files of the first
// convertedWaveCount entries into their MP3 files, with the project's
// settings. The cancel word is the first entry's state. Ends at the first
// failure; a finished run clears the project's changed steps. Status lines
// and, unless the run succeeded, the warning box report it. The result of
// the last file, or of the question that ended the run.
//
// Several files encode at once (encodes; 0: as many as the machine has
// hardware threads), each into a scratch file beside its MP3 file. The
// questions, status lines and bars come from the calling thread file by
// file, and a scratch file takes its MP3 file's place only in file order, so
// a failure or a cancel keeps the earlier MP3 files of every file after it.
int cnvExportMp3Files(Project& project, Mp3ExportView& view, const std::string& library = kMp3EncoderLibrary,
                      int encodes = 0);

}  // namespace qvp3
