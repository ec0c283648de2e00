#include "libburn/libburn_recorder.h"

#include <cdio/cdio.h>
#include <cdio/mmc.h>
#include <fcntl.h>
#include <libburn/libburn.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "discwriter/discwriter.h"

namespace discwriter {
namespace {

using namespace burn;

// The erase thread grabs its drive too, so starting and ending libburn are guarded.
std::mutex g_libburnMutex;
bool g_started = false;

bool startLibburn() {
    std::lock_guard lock(g_libburnMutex);
    if (g_started) return true;
    if (burn_initialize() != 1) return false;
    // A library prints nothing: libburn's messages are neither printed nor kept.
    burn_msgs_set_severities(const_cast<char*>("NEVER"), const_cast<char*>("NEVER"),
                             const_cast<char*>("discwriter: "));
    g_started = true;
    return true;
}

int mediaTypeOfProfile(int profile) {
    switch (profile) {
        case 0x08: return kMediaCdRom;
        case 0x09: return kMediaCdR;
        case 0x0A: return kMediaCdRw;
        case 0x10: return kMediaDvdRom;
        case 0x11: case 0x15: return kMediaDvdDashR;
        case 0x12: return kMediaDvdRam;
        case 0x13: case 0x14: return kMediaDvdDashRw;
        case 0x1A: return kMediaDvdPlusRw;
        case 0x1B: return kMediaDvdPlusR;
        case 0x2B: return kMediaDvdPlusRDualLayer;
        default: return kMediaUnknown;
    }
}

// A drive grabbed for one operation and released at the end of the scope.
class Grab {
public:
    Grab(const std::string& address, bool load) {
        if (!startLibburn()) return;
        char adr[BURN_DRIVE_ADR_LEN] = {};
        std::strncpy(adr, address.c_str(), sizeof adr - 1);
        if (burn_drive_scan_and_grab(&info_, adr, load ? 1 : 0) == 1 && info_ != nullptr) drive_ = info_[0].drive;
    }
    ~Grab() {
        if (drive_ != nullptr) burn_drive_release(drive_, eject_ ? 1 : 0);
        if (info_ != nullptr) burn_drive_info_free(info_);
    }
    Grab(const Grab&) = delete;
    Grab& operator=(const Grab&) = delete;
    burn_drive* drive() const { return drive_; }
    void ejectOnRelease() { eject_ = true; }

private:
    burn_drive_info* info_ = nullptr;
    burn_drive* drive_ = nullptr;
    bool eject_ = false;
};

// The state of a disc in a grabbed drive: S_OK with type and blankness.
HResult discState(burn_drive* d, int& type, bool& blank) {
    for (int i = 0; i < 20; ++i) {
        const burn_disc_status s = burn_disc_get_status(d);
        if (s == BURN_DISC_EMPTY) return DISCWRITER_E_MEDIA_NO_MEDIA;
        if (s != BURN_DISC_UNREADY) {
            int profile = 0;
            char name[80] = {};
            burn_disc_get_profile(d, &profile, name);
            type = mediaTypeOfProfile(profile);
            blank = s == BURN_DISC_BLANK;
            return DISCWRITER_S_OK;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return DISCWRITER_E_MEDIA_BECOMING_READY;
}

// The tracks of one write, built from the audio files; owns the open files.
class BurnDisc {
public:
    BurnDisc() : disc_(burn_disc_create()), session_(burn_session_create()) {
        burn_disc_add_session(disc_, session_, BURN_POS_END);
    }
    ~BurnDisc() {
        burn_session_free(session_);
        burn_disc_free(disc_);
        for (int fd : fds_) ::close(fd);
    }
    BurnDisc(const BurnDisc&) = delete;
    BurnDisc& operator=(const BurnDisc&) = delete;

    bool addAudio(const AudioTrack& t, int mode, int pregap) {
        const int fd = ::open(t.path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        fds_.push_back(fd);
        if (::lseek(fd, static_cast<off_t>(t.dataOffset), SEEK_SET) < 0) return false;
        burn_source* src = burn_fd_source_new(fd, -1, static_cast<off_t>(t.dataBytes));
        return add(src, mode, 1, pregap);
    }
    bool add(burn_source* src, int mode, int pad, int pregap) {
        if (src == nullptr) return false;
        burn_track* track = burn_track_create();
        burn_track_define_data(track, 0, 0, pad, mode);
        if (pregap > 0) burn_track_set_pregap_size(track, pregap, 0);
        const bool ok = burn_track_set_source(track, src) == BURN_SOURCE_OK &&
                        burn_session_add_track(session_, track, BURN_POS_END) != 0;
        burn_source_free(src);
        burn_track_free(track);
        return ok;
    }
    burn_disc* disc() const { return disc_; }

private:
    burn_disc* disc_;
    burn_session* session_;
    std::vector<int> fds_;
};

// Writes a disc and turns libburn's status into the library's progress.
HResult runWrite(burn_drive* d, burn_disc* disc, burn_write_types type, int block, const WriteOptions& o,
                 WriteEvents& events, bool perTrack) {
    burn_write_opts* opts = burn_write_opts_new(d);
    burn_write_opts_set_write_type(opts, type, block);
    burn_write_opts_set_simulate(opts, o.simulate ? 1 : 0);
    burn_write_opts_set_underrun_proof(opts, o.burnProof ? 1 : 0);
    burn_write_opts_set_multi(opts, o.closeDisc ? 0 : 1);
    burn_drive_set_speed(d, 0, o.speedSectors > 0 ? o.speedSectors * 2352 / 1000 : 0);
    burn_disc_write(opts, disc);
    burn_write_opts_free(opts);
    const auto begin = std::chrono::steady_clock::now();
    int track = 0;
    bool cancelled = false;
    burn_progress p{};
    for (burn_drive_status s; (s = burn_drive_get_status(d, &p)) != BURN_DRIVE_IDLE;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        if (perTrack && p.track + 1 > track && s == BURN_DRIVE_WRITING) {
            if (track > 0) events.trackDone(track);
            events.trackBegin(track = p.track + 1);
        }
        WriteProgress w;
        w.action = s == BURN_DRIVE_CLOSING_SESSION || s == BURN_DRIVE_WRITING_LEADOUT ? WriteAction::Finishing
                                                                                       : WriteAction::Writing;
        if (perTrack && track > 0 && w.action == WriteAction::Finishing) {
            events.trackDone(track);  // the last track is done before the session closes
            perTrack = false;
        }
        w.elapsedSeconds = static_cast<int>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begin).count());
        w.remainingSeconds = p.sector > 0 ? static_cast<int>(std::int64_t(w.elapsedSeconds) * (p.sectors - p.sector) / p.sector) : 0;
        w.lastWrittenLba = s == BURN_DRIVE_WRITING_LEADIN ? -150 : p.start_sector + p.sector - 1;
        if (!cancelled && !events.progress(w)) {
            burn_drive_cancel(d);
            cancelled = true;
        }
    }
    if (perTrack && track > 0) events.trackDone(track);
    if (cancelled) return DISCWRITER_E_CANCELLED;
    return burn_drive_wrote_well(d) ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
}

class LibburnRecorder : public Recorder {
public:
    explicit LibburnRecorder(DriveIdentity id) : id_(std::move(id)) {}

    DriveIdentity identity() const override { return id_; }

    HResult mediaType(int& type) override {
        Grab g(id_.path, true);
        bool blank = false;
        return g.drive() == nullptr ? DISCWRITER_E_FAIL : discState(g.drive(), type, blank);
    }
    bool mediaBlank() override {
        Grab g(id_.path, true);
        int type = 0;
        bool blank = false;
        return g.drive() != nullptr && discState(g.drive(), type, blank) == DISCWRITER_S_OK && blank;
    }
    HResult freeSectors(WriteMode, int& sectors) override {
        Grab g(id_.path, true);
        if (g.drive() == nullptr) return DISCWRITER_E_FAIL;
        sectors = static_cast<int>(burn_disc_available_space(g.drive(), nullptr) / 2048);
        return DISCWRITER_S_OK;
    }
    HResult existingTracks(int& count) override;
    HResult prepare(WriteMode mode, const WriteOptions&) override {
        Grab g(id_.path, true);
        int type = 0;
        bool blank = false;
        const HResult hr = g.drive() == nullptr ? DISCWRITER_E_FAIL : discState(g.drive(), type, blank);
        return hr != DISCWRITER_S_OK ? hr : mediumFits(mode, type, blank);
    }
    // libburn closes the session inside the write itself.
    HResult release(WriteMode, WriteEvents*) override { return DISCWRITER_S_OK; }
    std::vector<int> writeSpeeds(WriteMode) override;
    HResult writeTrackAtOnce(const std::vector<AudioTrack>& tracks, const WriteOptions& o, WriteEvents& e) override {
        BurnDisc disc;
        for (const AudioTrack& t : tracks)
            if (!disc.addAudio(t, BURN_AUDIO, 0)) return DISCWRITER_E_FAIL;
        Grab g(id_.path, true);
        if (g.drive() == nullptr) return DISCWRITER_E_FAIL;
        return runWrite(g.drive(), disc.disc(), BURN_WRITE_TAO, BURN_BLOCK_RAW0, o, e, true);
    }
    HResult writeDiscAtOnce(const RawLayout& layout, const WriteOptions& o, WriteEvents& e) override {
        BurnDisc disc;
        const int mode = BURN_AUDIO | (layout.preemphasis ? BURN_PREEMPHASIS : 0) | (layout.copyProhibited ? 0 : BURN_COPY);
        for (std::size_t i = 0; i < layout.tracks.size(); ++i)
            if (!disc.addAudio(layout.tracks[i], mode, i > 0 && !layout.gapless ? 150 : 0)) return DISCWRITER_E_FAIL;
        Grab g(id_.path, true);
        if (g.drive() == nullptr) return DISCWRITER_E_FAIL;
        return runWrite(g.drive(), disc.disc(), BURN_WRITE_SAO, BURN_BLOCK_SAO, o, e, false);
    }
    HResult writeData(burn::burn_source* image, std::int64_t, const WriteOptions& o, WriteEvents& e) override {
        BurnDisc disc;
        ++image->refcount;  // the caller keeps its own reference
        if (!disc.add(image, BURN_MODE1, 0, 0)) return DISCWRITER_E_FAIL;
        Grab g(id_.path, true);
        if (g.drive() == nullptr) return DISCWRITER_E_FAIL;
        return runWrite(g.drive(), disc.disc(), BURN_WRITE_TAO, BURN_BLOCK_MODE1, o, e, false);
    }
    HResult erase(bool full, const std::function<void(int, int)>& progress, const std::atomic<bool>& stop) override;
    HResult eject() override {
        Grab g(id_.path, false);
        g.ejectOnRelease();
        return g.drive() != nullptr ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
    }
    HResult closeTray() override {
        Grab g(id_.path, true);  // grabbing loads the tray
        return g.drive() != nullptr ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
    }
    // Every operation grabs the drive exclusively for its own length.
    HResult lock(const std::string&) override { return DISCWRITER_S_OK; }
    HResult unlock() override { return DISCWRITER_S_OK; }
    HResult command(const std::uint8_t* cdb, std::size_t cdbLength, Direction direction, std::uint8_t* buffer,
                    std::size_t length, Sense& sense) override;

private:
    DriveIdentity id_;
};

HResult LibburnRecorder::existingTracks(int& count) {
    Grab g(id_.path, true);
    if (g.drive() == nullptr) return DISCWRITER_E_FAIL;
    burn_disc* disc = burn_drive_get_disc(g.drive());
    count = 0;
    if (disc != nullptr) {
        int sessions = 0;
        burn_session** s = burn_disc_get_sessions(disc, &sessions);
        for (int i = 0; i < sessions; ++i) {
            int tracks = 0;
            burn_session_get_tracks(s[i], &tracks);
            count += tracks;
        }
        burn_disc_free(disc);
    }
    return DISCWRITER_S_OK;
}

std::vector<int> LibburnRecorder::writeSpeeds(WriteMode) {
    Grab g(id_.path, true);
    std::vector<int> speeds;
    burn_speed_descriptor* list = nullptr;
    if (g.drive() == nullptr || burn_drive_get_speedlist(g.drive(), &list) != 1) return speeds;
    for (burn_speed_descriptor* s = list; s != nullptr; s = s->next)
        if (s->write_speed > 0) speeds.push_back(static_cast<int>(s->write_speed * 1000LL / 2352));
    burn_drive_free_speedlist(&list);
    return speeds;
}

HResult LibburnRecorder::erase(bool full, const std::function<void(int, int)>& progress,
                               const std::atomic<bool>& stop) {
    Grab g(id_.path, true);
    if (g.drive() == nullptr) return DISCWRITER_E_FAIL;
    int type = 0;
    bool blank = false;
    const HResult hr = discState(g.drive(), type, blank);
    if (hr != DISCWRITER_S_OK) return hr;
    if (!isRewritableMedium(type) || !burn_disc_erasable(g.drive())) return DISCWRITER_E_MEDIA_NOT_SUPPORTED;
    burn_disc_erase(g.drive(), full ? 0 : 1);
    const auto begin = std::chrono::steady_clock::now();
    burn_progress p{};
    bool cancelled = false;
    while (burn_drive_get_status(g.drive(), &p) != BURN_DRIVE_IDLE) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        const int elapsed = static_cast<int>(
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - begin).count());
        progress(elapsed, p.sector > 0 ? static_cast<int>(std::int64_t(elapsed) * p.sectors / p.sector) : 0);
        if (stop.load() && !cancelled) {
            burn_drive_cancel(g.drive());
            cancelled = true;
        }
    }
    if (cancelled) return DISCWRITER_E_CANCELLED;
    return burn_drive_wrote_well(g.drive()) ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
}

HResult LibburnRecorder::command(const std::uint8_t* cdb, std::size_t cdbLength, Direction direction,
                                 std::uint8_t* buffer, std::size_t length, Sense& sense) {
    sense = Sense{};
    if (cdbLength > sizeof(mmc_cdb_t{}.field)) return DISCWRITER_E_INVALIDARG;
    CdIo_t* cdio = cdio_open(id_.path.c_str(), DRIVER_DEVICE);
    if (cdio == nullptr) return DISCWRITER_E_FAIL;
    mmc_cdb_t c{};
    std::memcpy(c.field, cdb, cdbLength);
    const cdio_mmc_direction_t dir = direction == Direction::Read    ? SCSI_MMC_DATA_READ
                                     : direction == Direction::Write ? SCSI_MMC_DATA_WRITE
                                                                     : SCSI_MMC_DATA_NONE;
    const driver_return_code_t rc = mmc_run_cmd_len(cdio, 5000, &c, static_cast<unsigned>(cdbLength), dir,
                                                    static_cast<unsigned>(length), buffer);
    cdio_mmc_request_sense_t* s = nullptr;
    if (rc != DRIVER_OP_SUCCESS && mmc_last_cmd_sense(cdio, &s) > 0 && s != nullptr) {
        sense = Sense{s->sense_key, s->asc, s->ascq};
        cdio_free(s);
    }
    cdio_destroy(cdio);
    return rc == DRIVER_OP_SUCCESS ? DISCWRITER_S_OK : DISCWRITER_E_FAIL;
}

}  // namespace

std::vector<std::unique_ptr<Recorder>> scanLibburnRecorders() {
    std::vector<std::unique_ptr<Recorder>> found;
    if (!startLibburn()) return found;
    burn_drive_info* infos = nullptr;
    unsigned int count = 0;
    while (burn_drive_scan(&infos, &count) == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (unsigned int i = 0; infos != nullptr && i < count; ++i) {
        char adr[BURN_DRIVE_ADR_LEN] = {};
        if (burn_drive_get_adr(&infos[i], adr) <= 0) continue;
        DriveIdentity id;
        id.uniqueId = id.path = adr;
        id.vendor = infos[i].vendor;
        id.product = infos[i].product;
        id.revision = infos[i].revision;
        id.canWriteTao = (infos[i].tao_block_types & BURN_BLOCK_RAW0) != 0;
        found.push_back(std::make_unique<LibburnRecorder>(id));
    }
    if (infos != nullptr) burn_drive_info_free(infos);
    // A scan keeps every drive it found occupied; ending libburn lets them go,
    // and each operation grabs its drive by address afterwards.
    finishLibburn();
    return found;
}

void finishLibburn() {
    std::lock_guard lock(g_libburnMutex);
    if (!g_started) return;
    burn_finish();
    g_started = false;
}

}  // namespace discwriter
