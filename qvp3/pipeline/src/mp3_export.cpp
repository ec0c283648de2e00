// Encoding a WAV file into an MP3 file, and the export step's MP3 run.
#include "qvp3_pipeline/mp3_export.h"

#include <algorithm>
#include <deque>
#include <atomic>
#include <bit>
#include <chrono>
#include <memory>
#include <new>
#include <vector>

#include "parallel_jobs.h"
#include "platform/atomic_file.h"
#include "platform/files.h"
#include "qvp3_pipeline/midi_step.h"
#include "qvp3_pipeline/wave_file.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_project/project_folder.h"

namespace qvp3 {
namespace fs = std::filesystem;
namespace {

// The WAV data is handed to the encoder as it lies in the file.
static_assert(std::endian::native == std::endian::little, "16-bit samples are read as stored (little-endian)");

constexpr std::size_t kMaxFileNameBytes = 255;
constexpr int kNoAskAgain = 10;

bool cancelRequested(std::int32_t* cancelWord) {
    return cancelWord != nullptr &&
           std::atomic_ref<std::int32_t>(*cancelWord).load(std::memory_order_relaxed) == kMp3CancelRequest;
}

// An open stream of the library, closed however the encoding ends.
class StreamGuard {
public:
    explicit StreamGuard(CMp3EncoderLib& lib) : lib_(lib) {}
    ~StreamGuard() {
        if (stream != nullptr) lib_.beCloseStream(stream);
    }
    StreamGuard(const StreamGuard&) = delete;
    StreamGuard& operator=(const StreamGuard&) = delete;
    HBE_STREAM stream = nullptr;

private:
    CMp3EncoderLib& lib_;
};

struct Buffers {
    std::vector<std::int16_t> samples;
    std::vector<std::uint8_t> mp3;
};

bool allocate(Buffers& b, std::uint32_t samples, std::uint32_t bufferSize) {
    try {
        b.samples.resize(samples);
        b.mp3.resize(bufferSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Steps 6 and 7 of an encoding: every chunk of the data, then the flush.
int encodeData(CMp3EncoderLib& lib, HBE_STREAM stream, CWaveFile& wav, platform::AtomicFileWriter& out,
               Buffers& b, Mp3ProgressBar* progress, std::int32_t* cancelWord) {
    const std::uint32_t total = wav.DataSize();
    const auto chunkBytes = static_cast<std::uint32_t>(b.samples.size() * sizeof(std::int16_t));
    std::uint32_t done = 0;
    std::uint32_t written = 0;
    while (done < total) {
        const std::uint32_t want = std::min(chunkBytes, total - done);
        std::uint32_t got = 0;
        if (wav.Read(b.samples.data(), want, &got) != S_OK || got != want) return kMp3ReadError;
        if (lib.beEncodeChunk(stream, want / 2, b.samples.data(), b.mp3.data(), &written) != BE_ERR_SUCCESSFUL) {
            return kMp3EncodeFailed;
        }
        if (!out.write(b.mp3.data(), written)) return kMp3WriteError;
        done += want;
        if (progress != nullptr) progress->setPosition(done);
        if (cancelRequested(cancelWord)) return kMp3Cancelled;
    }
    if (lib.beDeinitStream(stream, b.mp3.data(), &written) != BE_ERR_SUCCESSFUL) return kMp3EncodeFailed;
    return out.write(b.mp3.data(), written) ? kMp3Ok : kMp3WriteError;
}

int encodeOpenFiles(CMp3EncoderLib& lib, CWaveFile& wav, platform::AtomicFileWriter& out, const BE_CONFIG& config,
                    Mp3ProgressBar* progress, std::int32_t* cancelWord) {
    const WaveFormatEx& format = wav.Format();
    const Mp3Input input{format.nSamplesPerSec, format.nChannels};
    StreamGuard guard(lib);
    std::uint32_t samples = 0;
    std::uint32_t bufferSize = 0;
    if (lib.beInitStream(config, input, &samples, &bufferSize, &guard.stream) != BE_ERR_SUCCESSFUL) {
        return kMp3InitFailed;
    }
    Buffers buffers;
    if (!allocate(buffers, samples, bufferSize)) return kMp3NoMemory;
    if (progress != nullptr) progress->setRange(wav.DataSize());
    int result = encodeData(lib, guard.stream, wav, out, buffers, progress, cancelWord);
    if (result == kMp3Ok) {
        // A header that cannot be written leaves a file that plays: not a failure.
        lib.beWriteVBRHeader(guard.stream, out.temporaryPath());
        if (!out.commit()) result = kMp3WriteError;
    }
    return result;
}

// Cuts name to max bytes without splitting a UTF-8 character.
std::string cutUtf8(const std::string& name, std::size_t max) {
    if (name.size() <= max) return name;
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0u) == 0x80u) --end;
    return name.substr(0, end);
}

}  // namespace

int cnvEncodeWavToMp3(const fs::path& wavPath, const fs::path& mp3Path, const BE_CONFIG& config,
                      Mp3ProgressBar* progress, std::int32_t* cancelWord, const std::string& library) {
    CMp3EncoderLib lib;
    if (!lib.Load(library)) return kMp3EncoderMissing;
    CWaveFile wav;
    WaveFormatEx format;
    if (wav.Open(wavPath, &format, CWaveFile::kModeRead) != S_OK) return kMp3CannotOpen;
    if (format.wFormatTag != kWaveFormatPcm || format.wBitsPerSample != 16) return kMp3CannotOpen;
    platform::AtomicFileWriter out(mp3Path);
    if (!out.open()) return kMp3CannotOpen;
    const int result = encodeOpenFiles(lib, wav, out, config, progress, cancelWord);
    if (progress != nullptr) progress->setPosition(0);
    // Whatever did not succeed leaves no file behind and the earlier one as it was.
    if (result != kMp3Ok) out.discard();
    return result;
}

std::optional<fs::path> cnvMp3FilePath(const Project& project, int index) {
    fs::path path;
    if (!prjMp3Path(project, index, path)) return std::nullopt;
    std::string name = path.filename().string();
    std::erase_if(name, [](char c) {
        return c == '|' || c == '*' || c == '?' || static_cast<unsigned char>(c) < 0x20;
    });
    const std::string extension = ".mp3";
    name = cutUtf8(name.substr(0, name.size() - extension.size()), kMaxFileNameBytes - extension.size()) + extension;
    return path.parent_path() / name;
}

namespace {

struct Cause {
    int code;
    int stringId;
    const char* english;
};
constexpr Cause kCauses[] = {
    {kMp3Cancelled, kStrExportCancelled, "the export was cancelled"},
    {kMp3EncoderMissing, 428, "the MP3 encoder (libmp3lame) is not installed"},
    {kMp3InitFailed, 426, "the MP3 encoder refused the settings"},
    {kMp3EncodeFailed, 427, "the MP3 encoder failed"},
    {kMp3CannotOpen, 212, "a file could not be opened or created"},
    {kMp3WriteError, 282, "the MP3 file could not be written completely"},
    {kMp3ReadError, 187, "the WAV file could not be read"},
    {kMp3NoMemory, 188, "there is not enough memory"},
};

std::string text(Project& project, int id, const char* english) {
    std::string s = project.shell().languageString(id);
    return s.empty() ? std::string(english) : s;
}

bool isCancel(int result) {
    return result == kMp3Cancelled || result == kCnvQuestionCancelled || result == kMp3SkipFile ||
           result == kMp3StopRun;
}

// One file's encoding on the run's threads, into a scratch file beside its
// MP3 file that the run moves onto it in file order.
struct EncodeJob : Mp3ProgressBar {
    void setRange(std::uint32_t maximum) override { range.store(maximum); }
    void setPosition(std::uint32_t position) override { done.store(position); }

    fs::path wav;
    std::unique_ptr<platform::ScopedTempFile> scratch;
    std::atomic<std::uint32_t> range{0};
    std::atomic<std::uint32_t> done{0};
    int result = kMp3Ok;  // read once the job has ended
};

// What the run decided for a file before its encoding: a code (nothing to
// encode) or a job; endsRun when the run is not to go past it.
struct Mp3Admission {
    int code = kMp3Ok;
    bool endsRun = false;
    fs::path mp3;
    std::shared_ptr<EncodeJob> job;
    std::size_t number = 0;
};

class Mp3Run {
public:
    Mp3Run(Project& project, Mp3ExportView& view, const std::string& library, int encodes)
        : project_(project), view_(view), library_(library), config_(beReadConfig(project.mp3Config)),
          encodes_(encodes) {}

    int run();

private:
    int ask(const fs::path& mp3);
    void admitMore(int count);
    Mp3Admission admit(int index);
    int finishFile(int index);
    int awaitEncoding(const Mp3Admission& admission);
    void stopEncodings();
    void report(int result);

    Project& project_;
    Mp3ExportView& view_;
    const std::string& library_;
    const BE_CONFIG config_;
    const int encodes_;
    std::int32_t* cancelWord_ = nullptr;
    // The encodings' own cancel word: the user's cancel, passed on by the
    // run, or the run's end stopping encodings of files after it.
    alignas(std::atomic_ref<std::int32_t>::required_alignment) std::int32_t stop_ = 0;
    bool dontAsk_ = false;
    bool stopAfterSkip_ = false;
    std::string lastWav_;
    std::unique_ptr<ParallelJobs> jobs_;
    // A deque: the file being finished keeps its place while later ones are admitted.
    std::deque<Mp3Admission> admitted_;
    int count_ = 0;
    std::size_t inHand_ = 0;
    int width_ = 1;
    bool admitting_ = true;
};

// The overwrite question: 0 to go on, -22 to skip the file, -23 to stop.
int Mp3Run::ask(const fs::path& mp3) {
    std::error_code ec;
    if (dontAsk_ || !fs::exists(mp3, ec)) return 0;
    const std::string question =
        prfFormatString(text(project_, kStrMp3Overwrite, "The file %s exists already. Replace it?"),
                        mp3.filename().string());
    int answer = view_.askOverwrite(mp3, question);
    if (answer >= kNoAskAgain) {
        answer -= kNoAskAgain;
        dontAsk_ = true;
        stopAfterSkip_ = true;
    }
    if (answer == kIdCancel) return kMp3StopRun;
    // Yes deletes nothing: the new file replaces the old one once it is complete.
    return answer == kIdYes ? 0 : kMp3SkipFile;
}

// The file in hand and, with several threads, the next ones while threads
// are free; a cancel, an answer that ends the run or a failure ahead ends the admitting.
void Mp3Run::admitMore(int count) {
    while (admitting_ && admitted_.size() < static_cast<std::size_t>(count)) {
        const std::size_t k = admitted_.size();
        if (cancelRequested(cancelWord_)) {
            admitting_ = false;
            return;
        }
        if (k > inHand_) {
            const auto ahead = static_cast<std::size_t>(width_);
            if (width_ < 2 || k >= inHand_ + 2 * ahead || jobs_->unfinished() >= ahead) return;
            const bool failedAhead = std::any_of(admitted_.begin(), admitted_.end(), [&](const Mp3Admission& a) {
                return a.job != nullptr && jobs_->ended(a.number) && a.job->result != kMp3Ok;
            });
            if (failedAhead) return;
        }
        admitted_.push_back(admit(static_cast<int>(k)));
        if (admitted_.back().endsRun) admitting_ = false;
    }
}

// The file's MP3 name, the overwrite question, then its encoding is queued.
Mp3Admission Mp3Run::admit(int index) {
    const ProjectEntry& entry = project_.entries[static_cast<std::size_t>(index)];
    Mp3Admission a;
    const std::optional<fs::path> mp3 = cnvMp3FilePath(project_, index);
    if (!mp3) {
        a.code = kMp3CannotOpen;
        a.endsRun = true;
        return a;
    }
    a.mp3 = *mp3;
    if (const int answer = ask(*mp3); answer != 0) {
        a.code = answer;
        a.endsRun = answer != kMp3SkipFile || stopAfterSkip_;
        return a;
    }
    auto job = std::make_shared<EncodeJob>();
    job->wav = entry.convertedWavePath;
    job->scratch = std::make_unique<platform::ScopedTempFile>(mp3->parent_path(), "qvp");
    if (!job->scratch->made()) {
        a.code = kMp3CannotOpen;
        a.endsRun = true;
        return a;
    }
    a.number = jobs_->add([this, job] {
        std::int32_t* const stop = &stop_;
        if (cancelRequested(stop)) {
            job->result = kMp3Cancelled;
            return;
        }
        job->result = cnvEncodeWavToMp3(job->wav, job->scratch->path(), config_, job.get(), stop, library_);
    });
    a.job = std::move(job);
    return a;
}

// The file's status lines and bar, in file order; its MP3 file takes the
// place of an earlier one here.
int Mp3Run::finishFile(int index) {
    const ProjectEntry& entry = project_.entries[static_cast<std::size_t>(index)];
    lastWav_ = entry.convertedWavePath.filename().string();
    view_.addStatusLine(prfFormatString(text(project_, kStrMp3Encoding, "Encoding %s ..."),
                                        cnvConvertedMidiDisplayName(entry.convertedWavePath)),
                        false);
    view_.setPosition(0);
    if (static_cast<std::size_t>(index) >= admitted_.size()) return kMp3Cancelled;  // the admitting stopped
    const Mp3Admission& a = admitted_[static_cast<std::size_t>(index)];
    if (a.job == nullptr) return a.code;
    if (cancelRequested(cancelWord_)) return kMp3Cancelled;
    int result = awaitEncoding(a);
    if (result == kMp3Ok) {
        std::error_code ec;
        fs::rename(a.job->scratch->path(), a.mp3, ec);
        if (ec) result = kMp3WriteError;
    }
    if (result == kMp3Ok) {
        view_.addStatusLine(prfFormatString(text(project_, kStrMp3Encoded, "%s encoded"),
                                            cnvConvertedMidiDisplayName(entry.convertedWavePath)),
                            true);
    }
    return result;
}

// Waits for the file's encoding with its progress on the bar, passes a
// cancel on to the encodings, and admits the next files as threads come free.
int Mp3Run::awaitEncoding(const Mp3Admission& admission) {
    const EncodeJob& job = *admission.job;
    std::uint32_t range = 0;
    std::uint32_t done = 0;
    const auto show = [&] {
        if (const std::uint32_t r = job.range.load(); r != range) view_.setRange(range = r);
        if (const std::uint32_t d = job.done.load(); d != done) view_.setPosition(done = d);
    };
    while (!jobs_->waitFor(admission.number, std::chrono::milliseconds(20))) {
        if (cancelRequested(cancelWord_)) std::atomic_ref<std::int32_t>(stop_).store(kMp3CancelRequest);
        show();
        admitMore(count_);
    }
    show();
    view_.setPosition(0);
    return job.result;
}

// Encodings still running when the run ends are stopped; their scratch files go.
void Mp3Run::stopEncodings() {
    if (jobs_ != nullptr && jobs_->unfinished() > 0) std::atomic_ref<std::int32_t>(stop_).store(kMp3CancelRequest);
    jobs_.reset();
    admitted_.clear();
}

int Mp3Run::run() {
    const int count = count_ = std::min(project_.convertedWaveCount, project_.fileNum());
    if (project_.fileNum() > 0) cancelWord_ = &project_.entries.front().entryState;
    view_.showTotal(0, std::max(count, 0));
    width_ = std::min(cnvParallelWidth(encodes_), std::max(count, 1));
    jobs_ = std::make_unique<ParallelJobs>(width_, platform::ThreadPriority::Normal);
    int result = kMp3Ok;
    for (int i = 0; i < count; ++i) {
        inHand_ = static_cast<std::size_t>(i);
        admitMore(count);
        view_.showTotal(i + 1, count);
        result = finishFile(i);
        const auto k = static_cast<std::size_t>(i);
        const bool endsRun = k < admitted_.size() && admitted_[k].endsRun;
        if (result == kMp3SkipFile && !endsRun) continue;
        if (result < 0) break;
        admitted_[k].job.reset();
    }
    stopEncodings();
    // A Cancel in the question is no finished run: the steps stay changed.
    if (result == kMp3Ok || result == kMp3SuccessVariant || result == kMp3SkipFile) {
        view_.addStatusLine(text(project_, kStrMp3Done, "The MP3 files are written."), false);
        project_.dirty = 0;
    }
    report(result);
    return result;
}

void Mp3Run::report(int result) {
    const bool cancelled = cancelRequested(cancelWord_) || isCancel(result);
    if (!cancelled && (result == kMp3Ok || result == kMp3SuccessVariant)) return;
    std::string cause;
    if (cancelled) {
        view_.addStatusLine(text(project_, kStrMp3Cancelled, "The export was cancelled."), true);
        cause = text(project_, kStrExportCancelled, "the export was cancelled");
    } else {
        view_.addStatusLine(prfFormatString(text(project_, kStrMp3Failed, "%s could not be encoded."), lastWav_),
                            true);
        const auto c = std::find_if(std::begin(kCauses), std::end(kCauses),
                                    [&](const Cause& k) { return k.code == result; });
        cause = c != std::end(kCauses) ? text(project_, c->stringId, c->english)
                                       : "the export failed (" + std::to_string(result) + ")";
    }
    const std::string warning =
        prfFormatString(text(project_, kStrExportWarning, "The export did not finish:\n%s"), cause);
    project_.shell().appTextBox(warning, kBoxWarning, kMbOk);
}

}  // namespace

int cnvExportMp3Files(Project& project, Mp3ExportView& view, const std::string& library, int encodes) {
    return Mp3Run(project, view, library, encodes).run();
}

}  // namespace qvp3
