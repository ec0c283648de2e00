#include "disc_writing.h"

#include <libburn/libburn.h>
#include <libisofs/libisofs.h>

#include <filesystem>
#include <thread>

#include "discwriter/discwriter.h"
#include "progress_sinks.h"
#include "wave_file.h"

namespace discwriter {
namespace {

constexpr int kGapSectors = 150;
bool g_isoStarted = false;

bool startIso() {
    if (g_isoStarted) return true;
    if (iso_init() < 0) return false;
    iso_set_msgs_severities(const_cast<char*>("NEVER"), const_cast<char*>("NEVER"), const_cast<char*>("discwriter"));
    g_isoStarted = true;
    return true;
}

HResult writeTrackAtOnce(LibraryState& s, Recorder& rec, const WriteOptions& o) {
    CCallBack sink;
    if (s.tracks.empty()) {
        rec.release(WriteMode::TrackAtOnce, &sink);
        return DISCWRITER_S_OK;
    }
    std::vector<AudioTrack> tracks;
    HResult hr = collectAudioTracks(s.tracks, tracks);
    if (hr == DISCWRITER_S_OK) hr = rec.writeTrackAtOnce(tracks, o, sink);
    rec.release(WriteMode::TrackAtOnce, &sink);
    return hr;
}

HResult writeDiscAtOnce(LibraryState& s, Recorder& rec, const WriteOptions& o) {
    std::vector<AudioTrack> tracks;
    HResult hr = collectAudioTracks(s.tracks, tracks);
    if (hr != DISCWRITER_S_OK) return hr;
    const RawLayout layout = layoutDiscAtOnce(std::move(tracks), s.settings);
    s.daoStarts = layout.startLba;
    CCallBackDAO sink(s.daoStarts, layout.leadOutLba);
    hr = rec.writeDiscAtOnce(layout, o, sink);
    rec.release(WriteMode::DiscAtOnce, &sink);
    return hr;
}

HResult writeDataDisc(LibraryState& s, Recorder& rec, const WriteOptions& o, char* fits) {
    burn::burn_source* image = nullptr;
    std::int64_t blocks = 0;
    HResult hr = buildDataImage(s.tracks, s.client, &image, blocks);
    if (hr != DISCWRITER_S_OK) return hr;
    int free = 0;
    hr = rec.freeSectors(WriteMode::Data, free);
    if (hr == DISCWRITER_S_OK && blocks > free) {
        if (fits != nullptr) *fits = 0;
    } else if (hr == DISCWRITER_S_OK) {
        CCallBackData sink;
        hr = rec.writeData(image, blocks, o, sink);
    }
    releaseDataImage(image);
    return hr;
}

}  // namespace

HResult collectAudioTracks(const std::vector<std::string>& paths, std::vector<AudioTrack>& tracks) {
    tracks.clear();
    for (const std::string& path : paths) {
        std::string why;
        const auto info = readWaveInfo(path, why);
        if (!info) return failWith(DISCWRITER_E_NOT_CD_AUDIO, "\"" + path + "\" cannot be written as audio: " + why);
        if (!isCdAudio(info->format))
            return failWith(DISCWRITER_E_NOT_CD_AUDIO, "\"" + path + "\" is not CD audio (44100 Hz, 16-bit, stereo): " +
                                                           describe(info->format));
        tracks.push_back(AudioTrack{path, info->dataOffset, info->dataBytes});
    }
    return DISCWRITER_S_OK;
}

RawLayout layoutDiscAtOnce(std::vector<AudioTrack> tracks, const Settings& settings) {
    RawLayout layout;
    layout.gapless = settings.gapless;
    layout.preemphasis = settings.preemphasis;
    layout.copyProhibited = settings.copyProhibited;
    std::int64_t next = 0;
    for (std::size_t i = 0; i < tracks.size(); ++i) {
        if (i > 0 && !settings.gapless) next += kGapSectors;
        layout.startLba.push_back(static_cast<int>(next));
        next += static_cast<std::int64_t>(tracks[i].sectors());
    }
    layout.leadOutLba = static_cast<int>(next);
    layout.tracks = std::move(tracks);
    return layout;
}

HResult buildDataImage(const std::vector<std::string>& paths, const std::string& volume, burn::burn_source** out,
                       std::int64_t& blocks) {
    *out = nullptr;
    if (!startIso()) return failWith(DISCWRITER_E_FAIL, "the file-system image cannot be started");
    IsoImage* image = nullptr;
    if (iso_image_new(volume.empty() ? "CDROM" : volume.c_str(), &image) < 0) return DISCWRITER_E_OUTOFMEMORY;
    HResult hr = DISCWRITER_S_OK;
    for (const std::string& path : paths) {
        const std::string name = std::filesystem::path(path).filename().string();
        if (iso_tree_add_new_node(image, iso_image_get_root(image), name.c_str(), path.c_str(), nullptr) < 0) {
            hr = failWith(DISCWRITER_E_FAIL, "\"" + path + "\" cannot be added to the data image");
            break;
        }
    }
    IsoWriteOpts* opts = nullptr;
    if (hr == DISCWRITER_S_OK && iso_write_opts_new(&opts, 0) < 0) hr = DISCWRITER_E_OUTOFMEMORY;
    if (hr == DISCWRITER_S_OK) {
        iso_write_opts_set_joliet(opts, 1);
        // libisofs names libburn's source outside libburn's C++ namespace: one and the same C struct.
        ::burn_source* source = nullptr;
        if (iso_image_create_burn_source(image, opts, &source) < 0) {
            hr = failWith(DISCWRITER_E_FAIL, "the data image cannot be made");
        } else {
            *out = reinterpret_cast<burn::burn_source*>(source);
        }
    }
    if (opts != nullptr) iso_write_opts_free(opts);
    iso_image_unref(image);
    if (hr == DISCWRITER_S_OK) blocks = (*out)->get_size(*out) / 2048;
    return hr;
}

void releaseDataImage(burn::burn_source* image) {
    if (image != nullptr) burn::burn_source_free(image);
}

void finishDataImages() {
    if (!g_isoStarted) return;
    iso_finish();
    g_isoStarted = false;
}

HResult waitForMedium(Recorder& recorder, int& type, std::chrono::milliseconds timeout,
                      std::chrono::milliseconds step, const std::atomic<bool>& cancel) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const HResult hr = recorder.mediaType(type);
        if (hr != DISCWRITER_E_MEDIA_BECOMING_READY) return hr;
        if (cancel.load()) return DISCWRITER_E_ABORT;
        if (std::chrono::steady_clock::now() + step > deadline) return hr;
        std::this_thread::sleep_for(step);
        if (cancel.load()) return DISCWRITER_E_ABORT;
    }
}

HResult writeDisc(LibraryState& s, char* fits) {
    if (fits != nullptr) *fits = 1;
    if (!s.current) return DISCWRITER_E_NO_DRIVE;
    const std::shared_ptr<Recorder> rec = s.current;
    const WriteOptions o = s.writeOptions();
    HResult hr = DISCWRITER_S_OK;
    switch (s.settings.mode) {
        case WriteMode::TrackAtOnce: hr = writeTrackAtOnce(s, *rec, o); break;
        case WriteMode::DiscAtOnce: hr = writeDiscAtOnce(s, *rec, o); break;
        case WriteMode::Data: hr = writeDataDisc(s, *rec, o, fits); break;
    }
    postToClient(DISCWRITER_WM_CD_WRITE_DONE, 0, 0);
    return hr;
}

}  // namespace discwriter
