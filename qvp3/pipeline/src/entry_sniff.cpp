// What kind of file an entry's path holds: the MIDI header sniffer over a file
// or a memory image, the binary-score header check, and the file's date.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "qvp3_pipeline/entry_sources.h"

namespace qvp3 {
namespace {

using Tag = std::array<std::uint8_t, 4>;

bool tagIs(const Tag& tag, std::string_view text) {
    return std::equal(tag.begin(), tag.end(), text.begin(), text.end(),
                      [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
}

// Where the sniffer reads from: an open file or a memory image.
class FileInput {
public:
    explicit FileInput(SourceFile& file) : file_(file) {}
    bool read(std::span<std::uint8_t> bytes) { return file_.readExactly(bytes); }
    bool skip(std::size_t count) { return file_.skip(count); }

private:
    SourceFile& file_;
};

class ImageInput {
public:
    ImageInput(std::span<const std::uint8_t> image, std::size_t& offset) : image_(image), offset_(offset) {
        offset_ = std::min(offset_, image_.size());
    }
    bool read(std::span<std::uint8_t> bytes) {
        if (image_.size() - offset_ < bytes.size()) return false;
        std::copy_n(image_.begin() + static_cast<std::ptrdiff_t>(offset_), bytes.size(), bytes.begin());
        offset_ += bytes.size();
        return true;
    }
    bool skip(std::size_t count) {
        if (image_.size() - offset_ < count) {
            offset_ = image_.size();
            return false;
        }
        offset_ += count;
        return true;
    }

private:
    std::span<const std::uint8_t> image_;
    std::size_t& offset_;
};

template <class Input>
bool readWord(Input& in, std::uint16_t& value) {
    std::array<std::uint8_t, 2> bytes{};
    if (!in.read(bytes)) return false;
    value = static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
    return true;
}

// The RIFF wrapper Windows puts around a MIDI file ("RMID" files): after the
// tag its size, "RMID", "data" and the data chunk's size.
constexpr std::size_t kRiffWrapperRest = 16;
constexpr int kKindOpen = 0;

template <class Input>
int sniff(Input& in, MidiFileHeader& out) {
    Tag tag{};
    if (!in.read(tag)) return kSniffUnknown;
    int kind = kKindOpen;
    if (tagIs(tag, "RIFF")) {
        if (!in.skip(kRiffWrapperRest) || !in.read(tag) || !tagIs(tag, "MThd")) return kSniffUnknown;
        kind = kSniffRiffMidi;
    } else if (tagIs(tag, "ZRV3") || tagIs(tag, "TVRR")) {
        kind = kSniffSequencerProject;
    } else if (!tagIs(tag, "MThd")) {
        return kSniffUnknown;
    }
    MidiFileHeader header;
    std::copy(tag.begin(), tag.end(), header.magic.begin());
    Tag length{};
    if (!in.read(length) || length[3] != 6) return kSniffUnknown;
    header.length = 6;
    if (!readWord(in, header.format) || !readWord(in, header.trackCount)) return kSniffUnknown;
    if (kind == kKindOpen) kind = header.format == 0 ? kSniffSingleTrackMidi : kSniffMultiTrackMidi;
    // A single track needs no conductor of its own: read it as format 0.
    if (header.trackCount == 1 && header.format == 1) {
        kind = kSniffSingleTrackMidi;
        header.format = kSniffSingleTrackMidi;
    }
    if (!readWord(in, header.division)) return kSniffUnknown;
    // SMPTE time codes: the program counts in ticks per quarter only.
    if ((header.division & 0x8000) != 0) return kSniffUnknown;
    out = header;
    return kind;
}

}  // namespace

SourceFile& SourceFile::operator=(SourceFile&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

bool SourceFile::open(const std::filesystem::path& path) {
    close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void SourceFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool SourceFile::readExactly(std::span<std::uint8_t> bytes) {
    std::size_t done = 0;
    while (isOpen() && done < bytes.size()) {
        const ssize_t n = ::read(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return done == bytes.size();
}

bool SourceFile::skip(std::size_t count) {
    return isOpen() && ::lseek(fd_, static_cast<off_t>(count), SEEK_CUR) >= 0;
}

int cnvSniffMusicFile(SourceFile& file, MidiFileHeader& header) {
    FileInput in(file);
    return sniff(in, header);
}

int cnvSniffMusicFile(std::span<const std::uint8_t> image, MidiFileHeader& header, std::size_t& offset) {
    ImageInput in(image, offset);
    return sniff(in, header);
}

int cnvSniffMusicFileByName(const std::filesystem::path& path, MidiFileHeader* header, int* kind) {
    SourceFile file;
    if (!file.open(path)) return kCnvSnifferCannotOpen;
    MidiFileHeader read;
    const int sniffed = cnvSniffMusicFile(file, read);
    file.close();
    if (kind != nullptr) *kind = sniffed;
    if (sniffed == kSniffUnknown) return kCnvUnknownFormat;
    if (header != nullptr) *header = read;
    return kCnvOk;
}

int cnvCheckBinaryScore(const std::filesystem::path& path, SourceFile& file) {
    SourceFile opened;
    if (!opened.open(path)) return kCnvCannotOpen;
    std::array<std::uint8_t, 6> head{};
    if (!opened.readExactly(head) || !std::equal(head.begin(), head.end(), "tvr3-v")) return kCnvUnknownFormat;
    file = std::move(opened);
    return kCnvOk;
}

int cnvFileDateText(const std::filesystem::path& path, platform::FileTime& time, std::string& text,
                    const SourceFile* open) {
    SourceFile own;
    if (open == nullptr || !open->isOpen()) {
        if (!own.open(path)) return kCnvCannotOpen;
        open = &own;
    }
    struct stat st {};
    if (::fstat(open->fd(), &st) != 0) return kCnvReadError;
    time = platform::fileTimeFromUnix(st.st_mtim.tv_sec, static_cast<std::uint32_t>(st.st_mtim.tv_nsec));
    std::tm local{};
    if (::localtime_r(&st.st_mtim.tv_sec, &local) == nullptr) return kCnvReadError;
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%02i-%02i-%04i", local.tm_mday, local.tm_mon + 1, local.tm_year + 1900);
    text = buffer;
    return kCnvOk;
}

}  // namespace qvp3
