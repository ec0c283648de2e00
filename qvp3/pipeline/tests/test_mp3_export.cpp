// MP3 export: files encoded with the settings are checked by an independent
// decoder (mpg123) for their length, bit rate and channel mode; failures and
// cancels leave no partial file and the earlier MP3 as it was; the export run
// over a project names, asks and reports as the step does.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_pipeline/mp3_export.h"
#include "qvp3_pipeline/wave_file.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::readBytes;
using platform::testing::TempFolder;
using platform::testing::writeBytes;

constexpr std::uint32_t kRate = 44100;
constexpr const char* kMissingLibrary = "libmp3lame-not-there.so.0";

// A 440 Hz sine (the right channel an octave up) of frames frames.
void writeSine(const fs::path& path, std::uint32_t frames, std::uint16_t channels = 2, std::uint16_t bits = 16) {
    CWaveFile wav;
    WaveFormatEx format = WaveFormatEx::pcm(kRate, channels, bits);
    ASSERT_EQ(wav.Open(path, &format, CWaveFile::kModeWrite), S_OK);
    std::vector<std::int16_t> samples;
    samples.reserve(std::size_t{frames} * channels);
    for (std::uint32_t i = 0; i < frames; ++i) {
        for (std::uint16_t c = 0; c < channels; ++c) {
            const double phase = 2 * std::numbers::pi * 440.0 * (c + 1) * i / kRate;
            samples.push_back(static_cast<std::int16_t>(12000 * std::sin(phase)));
        }
    }
    const auto bytes = static_cast<std::uint32_t>(samples.size() * 2 * bits / 16);
    std::uint32_t written = 0;
    ASSERT_EQ(wav.Write(bytes, samples.data(), &written), S_OK);
    ASSERT_EQ(wav.Close(), S_OK);
}

std::string runCommand(const std::string& command) {
    std::string out;
    if (std::FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

std::string quoted(const fs::path& path) { return "'" + path.string() + "'"; }

// What the decoder makes of an MP3 file.
struct Decoded {
    std::uint32_t frames = 0;
    std::uint16_t channels = 0;
    std::string header;  // its verbose line on the stream: version, layer, bit rate, rate, mode
};

Decoded decode(const fs::path& mp3) {
    Decoded d;
    const fs::path wavOut = mp3.parent_path() / "decoded.wav";
    const std::string log = runCommand("mpg123 -v -w " + quoted(wavOut) + " " + quoted(mp3) + " 2>&1");
    // The stream's line, not the banner's "MPEG 1.0/2.0/2.5".
    const auto at = log.find("\nMPEG ");
    if (at != std::string::npos) d.header = log.substr(at + 1, log.find('\n', at + 1) - at - 1);
    CWaveFile wav;
    WaveFormatEx format;
    if (wav.Open(wavOut, &format, CWaveFile::kModeRead) == S_OK && format.nBlockAlign != 0) {
        d.frames = wav.DataSize() / format.nBlockAlign;
        d.channels = format.nChannels;
    }
    fs::remove(wavOut);
    return d;
}

BE_CONFIG lameConfig() {
    BE_CONFIG c;
    c.dwConfig = BE_CONFIG_LAME;
    cnvDefaultMp3Config(c);
    return c;
}

BE_CONFIG cbr(std::int32_t mode, std::uint32_t kbps) {
    BE_CONFIG c = lameConfig();
    c.LHV1.bEnableVBR = 0;
    c.LHV1.nMode = mode;
    c.LHV1.dwBitrate = kbps;
    return c;
}

std::vector<std::string> filesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class Mp3Export : public ::testing::Test {
protected:
    void SetUp() override {
        if (runCommand("command -v mpg123").empty()) GTEST_SKIP() << "the decoder mpg123 is not installed";
    }
    TempFolder tmp;
};

TEST_F(Mp3Export, DecodedFilesHaveTheLengthBitRateAndModeTheSettingsAsk) {
    BE_CONFIG plain;
    plain.dwConfig = BE_CONFIG_MP3;
    cnvDefaultMp3Config(plain);
    plain.mp3.wBitrate = 192;
    BE_CONFIG vbr = lameConfig();
    vbr.LHV1.nVBRQuality = 2;
    struct Case {
        const char* name;
        BE_CONFIG config;
        std::uint16_t wavChannels;
        std::uint16_t decodedChannels;
        const char* header;
    };
    const Case cases[] = {
        {"CBR 128 joint stereo", cbr(BE_MP3_MODE_JSTEREO, 128), 2, 2, "cbr128 44100 j-s"},
        {"CBR 64 mono from a stereo file", cbr(BE_MP3_MODE_MONO, 64), 2, 1, "cbr64 44100 mono"},
        {"CBR 96 stereo from a mono file", cbr(BE_MP3_MODE_STEREO, 96), 1, 1, "cbr96 44100 mono"},
        {"VBR quality 2", vbr, 2, 2, "vbr 44100 j-s"},
        {"plain member, stereo 192", plain, 2, 2, "cbr192 44100 stereo"},
    };
    // Three seconds and a bit: the last chunk is shorter than the others.
    const std::uint32_t frames = 3 * kRate + 777;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path wav = tmp.path() / "in.wav";
        const fs::path mp3 = tmp.path() / "out.mp3";
        writeSine(wav, frames, c.wavChannels);
        ASSERT_EQ(cnvEncodeWavToMp3(wav, mp3, c.config, nullptr, nullptr), kMp3Ok);
        const Decoded d = decode(mp3);
        EXPECT_EQ(d.frames, frames) << "the header gives the decoder the exact length";
        EXPECT_EQ(d.channels, c.decodedChannels);
        EXPECT_NE(d.header.find(c.header), std::string::npos) << d.header;
    }
}

TEST_F(Mp3Export, FailuresGiveTheirCodeKeepTheEarlierFileAndLeaveNoOther) {
    const std::string earlier = "the MP3 file of an earlier export";
    BE_CONFIG badBitrate = cbr(BE_MP3_MODE_STEREO, 999);
    BE_CONFIG badMode = cbr(7, 128);
    BE_CONFIG otherEncoder = lameConfig();
    otherEncoder.dwConfig = 2;
    struct Case {
        const char* name;
        std::string wav;  // "" none; "8" an 8-bit file
        BE_CONFIG config;
        std::string library;
        bool mp3FolderThere;
        int expected;
    };
    const Case cases[] = {
        {"no encoder library", "16", lameConfig(), kMissingLibrary, true, kMp3EncoderMissing},
        {"no WAV file", "", lameConfig(), kMp3EncoderLibrary, true, kMp3CannotOpen},
        {"an 8-bit WAV file", "8", lameConfig(), kMp3EncoderLibrary, true, kMp3CannotOpen},
        {"a bit rate the encoder has not", "16", badBitrate, kMp3EncoderLibrary, true, kMp3InitFailed},
        {"a channel mode out of range", "16", badMode, kMp3EncoderLibrary, true, kMp3InitFailed},
        {"another encoder's settings", "16", otherEncoder, kMp3EncoderLibrary, true, kMp3InitFailed},
        {"no MP3 folder", "16", lameConfig(), kMp3EncoderLibrary, false, kMp3CannotOpen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const fs::path wav = folder.path() / "in.wav";
        if (!c.wav.empty()) writeSine(wav, kRate / 2, 2, c.wav == "8" ? 8 : 16);
        const fs::path mp3Folder = folder.path() / "mp3";
        if (c.mp3FolderThere) writeBytes(mp3Folder / "out.mp3", earlier);
        const std::vector<std::string> before = filesIn(folder.path());
        EXPECT_EQ(cnvEncodeWavToMp3(wav, mp3Folder / "out.mp3", c.config, nullptr, nullptr, c.library), c.expected);
        EXPECT_EQ(filesIn(folder.path()), before);
        if (c.mp3FolderThere) {
            EXPECT_EQ(readBytes(mp3Folder / "out.mp3"), earlier);
            EXPECT_EQ(filesIn(mp3Folder), std::vector<std::string>{"out.mp3"}) << "no temporary file is left";
        }
    }
}

// Moves the bar and asks for a stop once half the data is encoded.
class CancellingBar : public Mp3ProgressBar {
public:
    explicit CancellingBar(std::int32_t& word) : word_(word) {}
    void setRange(std::uint32_t maximum) override { maximum_ = maximum; }
    void setPosition(std::uint32_t position) override {
        positions.push_back(position);
        if (maximum_ != 0 && position >= maximum_ / 2) word_ = kMp3CancelRequest;
    }
    std::vector<std::uint32_t> positions;

private:
    std::int32_t& word_;
    std::uint32_t maximum_ = 0;
};

TEST_F(Mp3Export, CancelMidwayKeepsTheEarlierFileAndLeavesNoPartialFile) {
    const fs::path wav = tmp.path() / "in.wav";
    const fs::path mp3 = tmp.path() / "out.mp3";
    writeSine(wav, 2 * kRate);
    ASSERT_EQ(cnvEncodeWavToMp3(wav, mp3, lameConfig(), nullptr, nullptr), kMp3Ok);
    const std::string earlier = readBytes(mp3);

    std::int32_t cancelWord = 0;
    CancellingBar bar(cancelWord);
    EXPECT_EQ(cnvEncodeWavToMp3(wav, mp3, cbr(BE_MP3_MODE_MONO, 32), &bar, &cancelWord), kMp3Cancelled);
    EXPECT_EQ(readBytes(mp3), earlier);
    EXPECT_EQ(filesIn(tmp.path()), (std::vector<std::string>{"in.wav", "out.mp3"}));
    ASSERT_GE(bar.positions.size(), 2u);
    EXPECT_LT(bar.positions[bar.positions.size() - 2], 2 * kRate * 4) << "stopped before the end";
    EXPECT_EQ(bar.positions.back(), 0u) << "the bar goes back to 0";
}

TEST(Mp3FileNames, CleanedOfWhatNoFileNameHoldsAndCutToAFileNamesLength) {
    const std::string longTitle(300, 'x');
    // "01-" and 247 letters leave one byte of the 251 for the two of the umlaut.
    const std::string umlauts = std::string(247, 'a') + "\xC3\xA4\xC3\xB6\xC3\xBC";
    struct Case {
        std::string title;
        std::string source;
        std::string expected;
    };
    const Case cases[] = {
        {"Mass", "/p/Song.tvrx", "01-Mass-Song_tvrx.mp3"},
        {"What?|Why*", "/p/a.mid", "01-WhatWhy-a_mid.mp3"},
        {"Tab\there\nnow", "/p/a.mid", "01-Tabherenow-a_mid.mp3"},
        {"AC/DC", "/p/a?.mid", "01-AC_DC-a_mid.mp3"},
        {longTitle, "/p/a.mid", "01-" + std::string(248, 'x') + ".mp3"},
        {umlauts, "/p/a.mid", "01-" + std::string(247, 'a') + ".mp3"},
        {"Mass", "/p/" + std::string(40, 'c') + "\xE2\x82\xAC.mid", "01-Mass-" + std::string(40, 'c') + "\xE2\x82\xAC_mid.mp3"},
    };
    for (const Case& c : cases) {
        Project project;
        project.data.ProjectTitle = c.title;
        project.mp3Folder = "/music";
        ProjectEntry entry;
        entry.Filename = c.source;
        project.entries.push_back(std::move(entry));
        const std::optional<fs::path> path = cnvMp3FilePath(project, 0);
        ASSERT_TRUE(path.has_value()) << c.title;
        EXPECT_EQ(path->parent_path(), fs::path("/music"));
        EXPECT_EQ(path->filename().string(), c.expected) << c.title.size() << " bytes of title";
        EXPECT_LE(path->filename().string().size(), 255u);
    }
    Project none;
    EXPECT_FALSE(cnvMp3FilePath(none, 0).has_value()) << "no entry";
}

// The status list, the bars and the questions of the export page.
class RecordingView : public Mp3ExportView {
public:
    void showTotal(int position, int maximum) override { total = {position, maximum}; }
    void addStatusLine(std::string_view text, bool replaceLast) override {
        if (replaceLast && !lines.empty()) lines.pop_back();
        lines.emplace_back(text);
    }
    int askOverwrite(const fs::path& mp3File, std::string_view) override {
        asked.push_back(mp3File.filename().string());
        return answer;
    }
    std::pair<int, int> total{-1, -1};
    std::vector<std::string> lines;
    std::vector<std::string> asked;
    int answer = kIdYes;
};

class WarningShell : public BasicShell {
public:
    int appTextBox(std::string_view text, int kind, int buttons) override {
        warnings.emplace_back(text);
        return BasicShell::appTextBox(text, kind, buttons);
    }
    std::vector<std::string> warnings;
};

// A project of two rendered entries and an MP3 folder.
class Mp3ExportRun : public Mp3Export {
protected:
    void SetUp() override {
        Mp3Export::SetUp();
        fs::create_directories(mp3Folder);
        project.data.ProjectTitle = "Mass";
        project.mp3Folder = mp3Folder;
        for (const char* name : {"Song", "Hymn"}) {
            ProjectEntry entry;
            entry.Filename = tmp.path() / (std::string(name) + ".mid");
            entry.convertedWavePath = tmp.path() / (std::string(name) + "_qvpcnv.wav");
            writeSine(entry.convertedWavePath, kRate / 5);
            project.entries.push_back(std::move(entry));
        }
        project.convertedWaveCount = 2;
        project.dirty = 0x5;
    }
    fs::path first() const { return mp3Folder / "01-Mass-Song_mid.mp3"; }
    fs::path second() const { return mp3Folder / "02-Mass-Hymn_mid.mp3"; }

    fs::path mp3Folder = tmp.path() / "mp3";
    WarningShell shell;
    Project project{Neighbours{nullptr, nullptr, &shell, nullptr}};
    RecordingView view;
};

TEST_F(Mp3ExportRun, EncodesEveryWavFileReportsEachAndClearsTheChangedSteps) {
    EXPECT_EQ(cnvExportMp3Files(project, view), kMp3Ok);
    EXPECT_EQ(filesIn(mp3Folder), (std::vector<std::string>{first().filename(), second().filename()}));
    EXPECT_EQ(decode(second()).frames, kRate / 5);
    EXPECT_EQ(view.lines, (std::vector<std::string>{"Song.wav encoded", "Hymn.wav encoded",
                                                    "The MP3 files are written."}));
    EXPECT_EQ(view.total, std::make_pair(2, 2));
    EXPECT_TRUE(view.asked.empty());
    EXPECT_TRUE(shell.warnings.empty());
    EXPECT_EQ(project.dirty, 0u);
}

TEST_F(Mp3ExportRun, OverwriteAnswersDecideForEachExistingFile) {
    struct Case {
        const char* name;
        int answer;
        int expected;
        std::vector<std::string> asked;  // the files asked about
        bool firstReplaced;
        bool secondWritten;
        bool done;  // the run counts as finished
    };
    const std::string a = first().filename();
    const std::string b = second().filename();
    const Case cases[] = {
        {"Yes", kIdYes, kMp3Ok, {a, b}, true, true, true},
        {"No skips the file", kIdNo, kMp3Ok, {a}, false, true, true},
        {"Cancel stops the run", kIdCancel, kMp3StopRun, {a}, false, false, false},
        {"No, not to ask again, stops", kIdNo + 10, kMp3SkipFile, {a}, false, false, true},
        {"Yes, not to ask again", kIdYes + 10, kMp3Ok, {a}, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const fs::path& mp3 : fs::directory_iterator(mp3Folder)) fs::remove(mp3);
        writeBytes(first(), "earlier");
        if (c.answer % 10 == kIdYes) writeBytes(second(), "earlier");
        view = RecordingView();
        view.answer = c.answer;
        shell.warnings.clear();
        project.dirty = 0x5;
        EXPECT_EQ(cnvExportMp3Files(project, view), c.expected);
        EXPECT_EQ(view.asked, c.asked);
        EXPECT_EQ(readBytes(first()) != "earlier", c.firstReplaced);
        EXPECT_EQ(fs::exists(second()) && readBytes(second()) != "earlier", c.secondWritten);
        EXPECT_EQ(project.dirty == 0, c.done);
        EXPECT_EQ(shell.warnings.size(), c.expected == kMp3Ok ? 0u : 1u);
    }
}

TEST_F(Mp3ExportRun, MissingEncoderAndCancelAreReportedAndWriteNothing) {
    struct Case {
        const char* name;
        const char* library;
        std::int32_t cancelWord;
        int expected;
        const char* lastLine;
        const char* warning;
    };
    const Case cases[] = {
        {"no encoder", kMissingLibrary, 0, kMp3EncoderMissing, "Song_qvpcnv.wav could not be encoded.",
         "The export did not finish:\nthe MP3 encoder (libmp3lame) is not installed"},
        {"cancelled", kMp3EncoderLibrary, kMp3CancelRequest, kMp3Cancelled, "The export was cancelled.",
         "The export did not finish:\nthe export was cancelled"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view = RecordingView();
        shell.warnings.clear();
        project.entries.front().entryState = c.cancelWord;
        EXPECT_EQ(cnvExportMp3Files(project, view, c.library), c.expected);
        EXPECT_TRUE(filesIn(mp3Folder).empty());
        ASSERT_FALSE(view.lines.empty());
        EXPECT_EQ(view.lines.back(), c.lastLine);
        EXPECT_EQ(shell.warnings, std::vector<std::string>{c.warning});
        EXPECT_EQ(project.dirty, 0x5u) << "an export that did not finish leaves the steps changed";
    }
}

// Five rendered entries of different lengths, encoded several at a time.
class Mp3ExportRunThreads : public Mp3Export {
protected:
    void SetUp() override {
        Mp3Export::SetUp();
        if (IsSkipped()) return;
        fs::create_directories(mp3Folder);
        project.data.ProjectTitle = "Mass";
        project.mp3Folder = mp3Folder;
        for (int i = 0; i < 5; ++i) {
            ProjectEntry entry;
            entry.Filename = tmp.path() / ("Song" + std::to_string(i) + ".mid");
            entry.convertedWavePath = tmp.path() / ("Song" + std::to_string(i) + "_qvpcnv.wav");
            // The first file the longest, so that the others end before it.
            writeSine(entry.convertedWavePath, kRate * (i == 0 ? 6 : 1) + 1000 * static_cast<std::uint32_t>(i));
            project.entries.push_back(std::move(entry));
        }
        project.convertedWaveCount = 5;
    }
    fs::path mp3(int i) const {
        return mp3Folder / ("0" + std::to_string(i + 1) + "-Mass-Song" + std::to_string(i) + "_mid.mp3");
    }
    std::vector<std::string> earlierEverywhere() {
        std::vector<std::string> earlier;
        for (int i = 0; i < 5; ++i) {
            writeBytes(mp3(i), "earlier " + std::to_string(i));
            earlier.push_back(readBytes(mp3(i)));
        }
        return earlier;
    }
    std::vector<std::string> mp3Names() const {
        std::vector<std::string> names;
        for (int i = 0; i < 5; ++i) names.push_back(mp3(i).filename().string());
        return names;
    }

    fs::path mp3Folder = tmp.path() / "mp3";
    WarningShell shell;
    Project project{Neighbours{nullptr, nullptr, &shell, nullptr}};
};

// Calls onLine with each status line as it is added.
struct HookedView : RecordingView {
    void addStatusLine(std::string_view text, bool replaceLast) override {
        RecordingView::addStatusLine(text, replaceLast);
        if (onLine) onLine(text);
    }
    std::function<void(std::string_view)> onLine;
};

TEST_F(Mp3ExportRunThreads, SeveralAtOnceWriteWhatOneAtATimeWrites) {
    std::vector<std::string> files[2];
    std::vector<std::string> lines[2];
    const int encodes[2] = {1, 4};
    for (int run = 0; run < 2; ++run) {
        for (const fs::path& f : fs::directory_iterator(mp3Folder)) fs::remove(f);
        RecordingView view;
        EXPECT_EQ(cnvExportMp3Files(project, view, kMp3EncoderLibrary, encodes[run]), kMp3Ok);
        EXPECT_EQ(filesIn(mp3Folder), mp3Names());
        for (int i = 0; i < 5; ++i) files[run].push_back(readBytes(mp3(i)));
        lines[run] = view.lines;
        EXPECT_EQ(view.total, std::make_pair(5, 5));
    }
    EXPECT_TRUE(files[1] == files[0]) << "the same MP3 files, byte for byte";
    EXPECT_EQ(lines[1], lines[0]);
    EXPECT_EQ(lines[1].front(), "Song0.wav encoded");
    EXPECT_EQ(decode(mp3(3)).frames, kRate + 3000);
    EXPECT_TRUE(shell.warnings.empty());
}

// The third file fails (its WAV file is damaged): the two before it are
// written, the run ends with its warning, the files after it keep their
// earlier MP3 files although they were encoded beside it, and no scratch
// file is left.
TEST_F(Mp3ExportRunThreads, AFailureEndsTheRunAtItsFileAndKeepsTheLaterFilesEarlierMp3s) {
    const std::vector<std::string> earlier = earlierEverywhere();
    writeBytes(project.entries[2].convertedWavePath, "RIFF, but no WAV file");
    RecordingView view;
    EXPECT_EQ(cnvExportMp3Files(project, view, kMp3EncoderLibrary, 5), kMp3CannotOpen);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(readBytes(mp3(i)) != earlier[static_cast<std::size_t>(i)], i < 2) << i;
    EXPECT_EQ(filesIn(mp3Folder), mp3Names());
    EXPECT_EQ(view.lines.back(), "Song2_qvpcnv.wav could not be encoded.");
    EXPECT_EQ(shell.warnings.size(), 1u);
}

// A cancel once the first file is encoded stops the encodings running
// beside it: every later file keeps its earlier MP3 file.
TEST_F(Mp3ExportRunThreads, ACancelKeepsTheEarlierMp3sOfEveryFileNotYetWritten) {
    const std::vector<std::string> earlier = earlierEverywhere();
    HookedView view;
    view.answer = kIdYes + 10;  // replace them all, ask once
    view.onLine = [&](std::string_view line) {
        if (line == "Song0.wav encoded") project.entries.front().entryState = kMp3CancelRequest;
    };
    EXPECT_EQ(cnvExportMp3Files(project, view, kMp3EncoderLibrary, 4), kMp3Cancelled);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(readBytes(mp3(i)) != earlier[static_cast<std::size_t>(i)], i == 0) << i;
    EXPECT_EQ(filesIn(mp3Folder), mp3Names());
    EXPECT_EQ(view.lines.back(), "The export was cancelled.");
    EXPECT_EQ(shell.warnings.size(), 1u);
    project.entries.front().entryState = 0;
}

}  // namespace
}  // namespace qvp3
