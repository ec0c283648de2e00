#include "simulated/simulated_recorder.h"

#include <libburn/libburn.h>

#include <algorithm>
#include <vector>

#include "cue_sheet.h"
#include "discwriter/discwriter.h"
#include "platform/atomic_file.h"

namespace discwriter {

namespace {

constexpr int kSectorsPerUpdate = 750;  // progress every 10 seconds of audio
constexpr int kGapSectors = 150;

bool writeZeros(std::ofstream* out, std::uint64_t bytes) {
    if (out == nullptr) return true;
    static const std::vector<char> zeros(DISCWRITER_SECTOR_BYTES * 75, 0);
    while (bytes > 0) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, zeros.size()));
        out->write(zeros.data(), static_cast<std::streamsize>(n));
        bytes -= n;
    }
    return static_cast<bool>(*out);
}

}  // namespace

struct SimulatedRecorder::AudioImage {
    const std::vector<AudioTrack>& tracks;
    std::vector<int> start;
    int leadOut = 0;
    bool trackAtOnce = true;
    bool preemphasis = false;
    bool copyPermitted = false;
};

SimulatedRecorder::SimulatedRecorder(std::filesystem::path folder)
    : medium_(std::move(folder)) {}

DriveIdentity SimulatedRecorder::identity() const {
    return DriveIdentity{"simulated:" + medium_.folder().string(), "QVP3", "Simulated CD-RW", "1.0",
                         medium_.folder().string(), true};
}

HResult SimulatedRecorder::mediaType(int& type) { return medium_.query(type); }

bool SimulatedRecorder::mediaBlank() { return medium_.blank(); }

HResult SimulatedRecorder::checkMedium(WriteMode mode) {
    int type = 0;
    const HResult hr = medium_.query(type);
    if (hr != DISCWRITER_S_OK) return hr;
    return mediumFits(mode, type, medium_.blank());
}

HResult SimulatedRecorder::freeSectors(WriteMode mode, int& sectors) {
    int type = 0;
    const HResult hr = medium_.query(type);
    if (hr != DISCWRITER_S_OK) return hr;
    const MediumState state = medium_.load();
    HResult error = DISCWRITER_S_OK;
    const auto disc = medium_.disc(error);
    if (error != DISCWRITER_S_OK) return error;
    if (!disc) {
        sectors = state.capacity;
    } else if (mode == WriteMode::DiscAtOnce || state.finalized) {
        sectors = 0;
    } else {
        sectors = std::max(0, state.capacity - disc->leadOut - kGapSectors);
    }
    return DISCWRITER_S_OK;
}

HResult SimulatedRecorder::existingTracks(int& count) {
    int type = 0;
    const HResult hr = medium_.query(type);
    if (hr != DISCWRITER_S_OK) return hr;
    HResult error = DISCWRITER_S_OK;
    const auto disc = medium_.disc(error);
    count = disc ? static_cast<int>(disc->tracks.size()) : 0;
    return error;
}

HResult SimulatedRecorder::prepare(WriteMode mode, const WriteOptions& options) {
    const HResult hr = checkMedium(mode);
    prepared_ = hr == DISCWRITER_S_OK;
    preparedOptions_ = options;
    return hr;
}

HResult SimulatedRecorder::release(WriteMode mode, WriteEvents* events) {
    if (mode == WriteMode::TrackAtOnce && finishPending_) {
        if (events != nullptr) events->progress(WriteProgress{WriteAction::Finishing, 0, 0, 0});
        if (!preparedOptions_.simulate) {
            MediumState state = medium_.load();
            state.finalized = preparedOptions_.closeDisc;
            medium_.save(state);
        }
    }
    finishPending_ = false;
    prepared_ = false;
    return DISCWRITER_S_OK;
}

std::vector<int> SimulatedRecorder::writeSpeeds(WriteMode) { return {600, 1200, 1800, 3000}; }

HResult SimulatedRecorder::writeTrackAtOnce(const std::vector<AudioTrack>& tracks, const WriteOptions& options,
                                            WriteEvents& events) {
    AudioImage image{tracks, {}, 0, true, false, true};
    int next = 0;
    for (const AudioTrack& t : tracks) {
        image.start.push_back(next);
        next += static_cast<int>(t.sectors()) + kGapSectors;
    }
    image.leadOut = tracks.empty() ? 0 : next - kGapSectors;
    preparedOptions_ = options;
    return writeAudio(image, options, events);
}

HResult SimulatedRecorder::writeDiscAtOnce(const RawLayout& layout, const WriteOptions& options,
                                           WriteEvents& events) {
    AudioImage image{layout.tracks, layout.startLba, layout.leadOutLba, false, layout.preemphasis,
                     !layout.copyProhibited};
    return writeAudio(image, options, events);
}

HResult SimulatedRecorder::writeAudio(const AudioImage& image, const WriteOptions& options,
                                      WriteEvents& events) {
    const WriteMode mode = image.trackAtOnce ? WriteMode::TrackAtOnce : WriteMode::DiscAtOnce;
    HResult hr = checkMedium(mode);
    if (hr != DISCWRITER_S_OK) return hr;
    if (image.leadOut > medium_.load().capacity) return DISCWRITER_E_DISK_FULL;
    std::ofstream file;
    std::ofstream* out = nullptr;
    if (!options.simulate) {
        file.open(medium_.folder() / "disc.bin", std::ios::binary | std::ios::trunc);
        if (!file) return DISCWRITER_E_FAIL;
        out = &file;
    }
    if (!image.trackAtOnce && !events.progress(WriteProgress{WriteAction::Writing, 0, 0, -kGapSectors}))
        return DISCWRITER_E_CANCELLED;
    std::uint64_t written = 0;  // sectors in the image so far
    for (std::size_t i = 0; i < image.tracks.size() && hr == DISCWRITER_S_OK; ++i) {
        const int number = static_cast<int>(i) + 1;
        if (image.trackAtOnce) events.trackBegin(number);
        const auto gap = static_cast<std::uint64_t>(std::max<std::int64_t>(0, image.start[i] - std::int64_t(written)));
        hr = writeZeros(out, gap * DISCWRITER_SECTOR_BYTES) ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
        if (hr == DISCWRITER_S_OK) hr = writeTrackSectors(out, image.tracks[i], number, image, events);
        written = static_cast<std::uint64_t>(image.start[i]) + image.tracks[i].sectors();
        if (out != nullptr) out->flush();
        if (hr == DISCWRITER_S_OK && out != nullptr && image.trackAtOnce && !commitCue(image, i + 1))
            hr = DISCWRITER_E_FAIL;
        if (image.trackAtOnce) events.trackDone(number);
    }
    if (image.trackAtOnce) {
        finishPending_ = finishPending_ || !image.tracks.empty();
        return hr;
    }
    if (hr != DISCWRITER_S_OK) return hr;
    events.progress(WriteProgress{WriteAction::Writing, 0, 0, image.leadOut});
    events.progress(WriteProgress{WriteAction::Finishing, 0, 0, image.leadOut});
    if (out != nullptr && !commitCue(image, image.tracks.size())) return DISCWRITER_E_FAIL;
    return DISCWRITER_S_OK;
}

HResult SimulatedRecorder::writeTrackSectors(std::ofstream* out, const AudioTrack& track, int number,
                                             const AudioImage& image, WriteEvents& events) {
    std::ifstream in(track.path, std::ios::binary);
    if (!in || !in.seekg(static_cast<std::streamoff>(track.dataOffset))) return DISCWRITER_E_FAIL;
    const std::uint64_t total = track.sectors();
    std::vector<char> buffer(static_cast<std::size_t>(kSectorsPerUpdate) * DISCWRITER_SECTOR_BYTES);
    std::uint64_t left = track.dataBytes;
    for (std::uint64_t done = 0; done < total;) {
        const std::uint64_t n = std::min<std::uint64_t>(kSectorsPerUpdate, total - done);
        const std::size_t bytes = static_cast<std::size_t>(n * DISCWRITER_SECTOR_BYTES);
        const std::size_t audio = static_cast<std::size_t>(std::min<std::uint64_t>(left, bytes));
        std::fill(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(bytes), 0);
        if (!in.read(buffer.data(), static_cast<std::streamsize>(audio))) return DISCWRITER_E_FAIL;
        left -= audio;
        if (out != nullptr && !out->write(buffer.data(), static_cast<std::streamsize>(bytes)))
            return DISCWRITER_E_FAIL;
        done += n;
        WriteProgress p{WriteAction::Writing, static_cast<int>(done / 75), static_cast<int>((total - done + 74) / 75),
                        image.start[static_cast<std::size_t>(number - 1)] + static_cast<int>(done) - 1};
        if (!events.progress(p)) return DISCWRITER_E_CANCELLED;
    }
    return DISCWRITER_S_OK;
}

bool SimulatedRecorder::commitCue(const AudioImage& image, std::size_t tracksWritten) const {
    CueSheet sheet;
    sheet.file = "disc.bin";
    int previousEnd = 0;
    for (std::size_t i = 0; i < tracksWritten; ++i) {
        CueTrack t;
        t.number = static_cast<int>(i) + 1;
        t.index1 = image.start[i];
        t.index0 = i > 0 && image.start[i] > previousEnd ? previousEnd : -1;
        t.preemphasis = image.preemphasis;
        t.copyPermitted = image.copyPermitted;
        previousEnd = image.start[i] + static_cast<int>(image.tracks[i].sectors());
        sheet.tracks.push_back(t);
    }
    return platform::writeFileAtomically(medium_.cuePath(), writeCueSheet(sheet));
}

HResult SimulatedRecorder::writeData(burn::burn_source* image, std::int64_t blocks, const WriteOptions& options,
                                     WriteEvents& events) {
    const HResult hr = checkMedium(WriteMode::Data);
    if (hr != DISCWRITER_S_OK) return hr;
    if (blocks > medium_.load().capacity) return DISCWRITER_E_DISK_FULL;
    platform::AtomicFileWriter file(medium_.folder() / "disc.iso");
    if (!options.simulate && !file.open()) return DISCWRITER_E_FAIL;
    std::vector<unsigned char> buffer(2048 * 512);
    for (std::int64_t done = 0; done < blocks;) {
        const int n = static_cast<int>(std::min<std::int64_t>(512, blocks - done));
        const int want = n * 2048;
        const int got = image->read_xt != nullptr ? image->read_xt(image, buffer.data(), want)
                                                  : image->read(image, buffer.data(), want);
        if (got != want || (!options.simulate && !file.write(buffer.data(), static_cast<std::size_t>(want))))
            return DISCWRITER_E_FAIL;
        done += n;
        if (!events.progress(WriteProgress{WriteAction::Writing, static_cast<int>(done / 75),
                                           static_cast<int>((blocks - done) / 75), 0}))
            return DISCWRITER_E_CANCELLED;
    }
    events.progress(WriteProgress{WriteAction::Finishing, 0, 0, 0});
    if (options.verification >= 0) events.progress(WriteProgress{WriteAction::Verifying, 0, 0, 0});
    if (options.simulate) return DISCWRITER_S_OK;
    CueSheet sheet{"disc.iso", {CueTrack{1, false, -1, 0, false, false}}};
    if (!file.commit() || !platform::writeFileAtomically(medium_.cuePath(), writeCueSheet(sheet)))
        return DISCWRITER_E_FAIL;
    MediumState state = medium_.load();
    state.finalized = options.closeDisc;
    medium_.save(state);
    return DISCWRITER_S_OK;
}

HResult SimulatedRecorder::erase(bool full, const std::function<void(int, int)>& progress,
                                 const std::atomic<bool>&) {
    int type = 0;
    const HResult hr = medium_.query(type);
    if (hr != DISCWRITER_S_OK) return hr;
    if (!isRewritableMedium(type)) return DISCWRITER_E_MEDIA_NOT_SUPPORTED;
    const int total = full ? 4 : 1;
    for (int second = 0; second <= total; ++second) progress(second, total);
    if (!medium_.wipe()) return DISCWRITER_E_FAIL;
    MediumState state = medium_.load();
    state.finalized = false;
    return medium_.save(state) ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
}

HResult SimulatedRecorder::eject() {
    MediumState state = medium_.load();
    state.trayOpen = true;
    return medium_.save(state) ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
}

HResult SimulatedRecorder::closeTray() {
    MediumState state = medium_.load();
    state.trayOpen = false;
    return medium_.save(state) ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
}

HResult SimulatedRecorder::lock(const std::string&) { return DISCWRITER_S_OK; }
HResult SimulatedRecorder::unlock() { return DISCWRITER_S_OK; }

}  // namespace discwriter
