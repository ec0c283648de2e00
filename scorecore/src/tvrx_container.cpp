#include "scorecore/tvrx_container.h"

#include "platform/atomic_file.h"
#include "scorecore/result_codes.h"

#include <zip.h>

#include <algorithm>
#include <cstdint>
#include <ctime>
#include <memory>
#include <new>

namespace scorecore {

namespace {

struct ZipDiscard {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using ZipPtr = std::unique_ptr<zip_t, ZipDiscard>;

struct ZipSourceFree {
    void operator()(zip_source_t* source) const { zip_source_free(source); }
};
using ZipSourcePtr = std::unique_ptr<zip_source_t, ZipSourceFree>;

struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileClose>;

// The bytes that a written in-memory archive source holds.
bool readWholeSource(zip_source_t* source, std::string& out) {
    if (zip_source_open(source) < 0) return false;
    bool ok = false;
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_source_stat(source, &st) == 0 && (st.valid & ZIP_STAT_SIZE) != 0) {
        try {
            out.resize(static_cast<std::size_t>(st.size));
            const zip_int64_t n = zip_source_read(source, out.data(), st.size);
            ok = n >= 0 && static_cast<zip_uint64_t>(n) == st.size;
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    zip_source_close(source);
    return ok;
}

// The general-purpose flag of a deflated entry written at the strongest level.
constexpr zip_uint16_t kStrongestFlag = 0x0002;
constexpr zip_uint16_t kLevelFlags = 0x0006;

// A document deflated already as the one source of the archive's entry:
// libzip stores its bytes as they are, with the size and CRC of the text.
// Seekable over the whole, so that libzip treats it as it would one buffer.
class DeflatedSource {
public:
    explicit DeflatedSource(const DeflatedText& deflated) : deflated_(deflated), size_(deflated.bytes.size()) {
        zip_error_init(&error_);
    }
    ~DeflatedSource() { zip_error_fini(&error_); }
    DeflatedSource(const DeflatedSource&) = delete;
    DeflatedSource& operator=(const DeflatedSource&) = delete;

    static zip_int64_t callback(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        return static_cast<DeflatedSource*>(state)->handle(data, length, command);
    }

private:
    zip_int64_t handle(void* data, zip_uint64_t length, zip_source_cmd_t command) {
        switch (command) {
            case ZIP_SOURCE_OPEN:
                seekTo(0);
                return 0;
            case ZIP_SOURCE_READ:
                return read(static_cast<char*>(data), length);
            case ZIP_SOURCE_CLOSE:
            case ZIP_SOURCE_FREE:
                return 0;
            case ZIP_SOURCE_STAT: {
                auto* st = static_cast<zip_stat_t*>(data);
                if (st == nullptr || length < sizeof(zip_stat_t)) break;
                zip_stat_init(st);
                st->size = deflated_.size;
                st->comp_size = size_;
                st->comp_method = ZIP_CM_DEFLATE;
                st->crc = deflated_.crc;
                st->mtime = mtime_;
                st->valid |= ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC | ZIP_STAT_MTIME;
                return sizeof(zip_stat_t);
            }
            case ZIP_SOURCE_GET_FILE_ATTRIBUTES: {
                auto* attributes = static_cast<zip_file_attributes_t*>(data);
                if (attributes == nullptr || length < sizeof(zip_file_attributes_t)) break;
                attributes->valid |= ZIP_FILE_ATTRIBUTES_GENERAL_PURPOSE_BIT_FLAGS;
                attributes->general_purpose_bit_flags = kStrongestFlag;
                attributes->general_purpose_bit_mask = kLevelFlags;
                return sizeof(zip_file_attributes_t);
            }
            case ZIP_SOURCE_SEEK: {
                const zip_int64_t to = zip_source_seek_compute_offset(position_, size_, data, length, &error_);
                if (to < 0) return -1;
                seekTo(static_cast<zip_uint64_t>(to));
                return 0;
            }
            case ZIP_SOURCE_TELL:
                return static_cast<zip_int64_t>(position_);
            case ZIP_SOURCE_ERROR:
                return zip_error_to_data(&error_, data, length);
            case ZIP_SOURCE_SUPPORTS:
                return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                                      ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                                      ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL, ZIP_SOURCE_SUPPORTS,
                                                      ZIP_SOURCE_GET_FILE_ATTRIBUTES, -1);
            default:
                break;
        }
        zip_error_set(&error_, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }

    zip_int64_t read(char* out, zip_uint64_t length) {
        const auto n = static_cast<std::size_t>(std::min<zip_uint64_t>(size_ - position_, length));
        std::copy_n(deflated_.bytes.data() + position_, n, out);
        position_ += n;
        return static_cast<zip_int64_t>(n);
    }

    void seekTo(zip_uint64_t position) { position_ = std::min(position, size_); }

    const DeflatedText& deflated_;
    zip_uint64_t size_ = 0;
    zip_uint64_t position_ = 0;
    time_t mtime_ = time(nullptr);
    zip_error_t error_;
};

// The text deflated as it would be a system at a time: one segment before
// the first system and one from each system's line to the next.
bool deflateWhole(std::string_view xml, DeflatedText& deflated) {
    DeflateStream stream(kTvrxDeflateLevel);
    std::size_t segment = 0;
    std::size_t from = 0;
    for (std::size_t at = xml.find(kTvrxSystemLine); at != std::string_view::npos;
         at = xml.find(kTvrxSystemLine, at + 1)) {
        if (!stream.append(segment, xml.substr(from, at - from)) || !stream.close(segment)) return false;
        ++segment;
        from = at;
    }
    return stream.append(segment, xml.substr(from)) && stream.finish(deflated);
}

// The zip image of one deflated "score.xml" entry. The text is deflated in
// blocks on several threads (deflate_stream.h): libzip's own deflater would
// take one core for as long as reading the score did.
bool buildArchive(const DeflatedText& deflated, std::string& image) {
    // Before the archive: a discarded archive still calls on its sources.
    DeflatedSource pieces(deflated);
    zip_error_t error;
    zip_error_init(&error);
    ZipSourcePtr memory(zip_source_buffer_create(nullptr, 0, 0, &error));
    zip_error_fini(&error);
    if (!memory) return false;
    zip_error_init(&error);
    ZipPtr archive(zip_open_from_source(memory.get(), ZIP_TRUNCATE, &error));
    zip_error_fini(&error);
    if (!archive) return false;
    // The archive takes a reference of its own; ours keeps the bytes after zip_close.
    zip_source_keep(memory.get());

    zip_source_t* data = zip_source_function(archive.get(), DeflatedSource::callback, &pieces);
    if (data == nullptr) return false;
    const zip_int64_t index =
        zip_file_add(archive.get(), std::string(kTvrxEntryName).c_str(), data, ZIP_FL_ENC_UTF_8);
    if (index < 0) {
        zip_source_free(data);
        return false;
    }
    if (zip_set_file_compression(archive.get(), static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE,
                                 kTvrxDeflateLevel) < 0) {
        return false;
    }
    if (zip_close(archive.get()) < 0) return false;
    archive.release();  // zip_close freed it
    return readWholeSource(memory.get(), image);
}

}  // namespace

int writeTvrxContainer(const std::filesystem::path& target, std::string_view xml) {
    DeflatedText deflated;
    if (!deflateWhole(xml, deflated)) return kErrWrite;
    return writeTvrxContainer(target, deflated);
}

int writeTvrxContainer(const std::filesystem::path& target, const DeflatedText& deflated) {
    std::string image;
    if (!buildArchive(deflated, image)) return kErrWrite;
    return platform::writeFileAtomically(target, image) ? kOk : kErrWrite;
}

int readTvrxContainer(const std::filesystem::path& path, std::string& xml, std::size_t maxBytes) {
    xml.clear();
    int errorCode = 0;
    ZipPtr archive(zip_open(path.c_str(), ZIP_RDONLY, &errorCode));
    if (!archive) return kErrCannotOpen;

    const zip_int64_t count = zip_get_num_entries(archive.get(), 0);
    if (count < 0) return kErrCannotOpen;
    // The name is looked up by hand: libzip would pick the first of two
    // entries named alike, and which one holds the document is anyone's guess.
    zip_int64_t index = -1;
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(archive.get(), static_cast<zip_uint64_t>(i), 0);
        if (name == nullptr || std::string_view(name) != kTvrxEntryName) continue;
        if (index >= 0) return kErrUnknownFormat;
        index = i;
    }
    if (index < 0) {
        if (count != 1) return kErrCannotOpen;
        index = 0;
    }
    const auto entry = static_cast<zip_uint64_t>(index);
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive.get(), entry, 0, &st) < 0) return kErrCannotOpen;
    const bool sizeKnown = (st.valid & ZIP_STAT_SIZE) != 0;
    if (sizeKnown && st.size > maxBytes) return kErrCannotOpen;

    ZipFilePtr file(zip_fopen_index(archive.get(), entry, 0));
    if (!file) return kErrCannotOpen;
    // The stored size is only a claim: read one byte past it, which shows a
    // lie without inflating the rest, and never more than the cap allows.
    const zip_uint64_t claimed = sizeKnown ? st.size : maxBytes;
    const zip_uint64_t readLimit = claimed + (claimed < UINT64_MAX ? 1 : 0);
    try {
        char chunk[65536];
        while (xml.size() < readLimit) {
            const zip_uint64_t want = std::min<zip_uint64_t>(sizeof chunk, readLimit - xml.size());
            const zip_int64_t n = zip_fread(file.get(), chunk, want);
            if (n == 0) break;
            if (n < 0) {
                xml.clear();
                return kErrCannotOpen;
            }
            xml.append(chunk, static_cast<std::size_t>(n));
            if (xml.size() > maxBytes) {
                xml.clear();
                return kErrCannotOpen;
            }
        }
    } catch (const std::bad_alloc&) {
        xml.clear();
        return kErrCannotOpen;
    }
    if (sizeKnown && xml.size() != st.size) {
        xml.clear();
        return kErrCannotOpen;
    }
    return kOk;
}

}  // namespace scorecore
