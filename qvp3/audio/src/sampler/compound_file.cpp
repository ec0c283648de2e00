// One stream out of a compound file, every number checked before it is used.
#include "compound_file.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <new>

namespace qvp3::cfb {
namespace {

constexpr std::uint16_t kByteOrderMark = 0xFFFE;
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::uint8_t kTypeStream = 2;
constexpr std::uint8_t kTypeRoot = 5;
constexpr std::size_t kNameBytes = 64;

std::uint16_t le16(std::span<const std::uint8_t> b, std::size_t at) {
    return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

std::uint32_t le32(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
           std::uint32_t{b[at + 3]} << 24;
}

std::uint64_t le64(std::span<const std::uint8_t> b, std::size_t at) {
    return std::uint64_t{le32(b, at)} | std::uint64_t{le32(b, at + 4)} << 32;
}

char16_t foldAscii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

class Reader {
public:
    Reader(std::span<const std::uint8_t> file, std::string* error) : file_(file), error_(error) {}

    bool read(std::u16string_view name, std::vector<std::uint8_t>& out);

private:
    bool fail(const char* why) {
        if (error_ != nullptr) *error_ = why;
        return false;
    }
    bool header();
    bool buildFat();
    bool addFatSector(std::uint32_t sector);
    // Follows a chain of the table from start, calling visit(sector) for
    // each, until visit says it has enough or the chain ends. A chain visits
    // each of the `sectors` sectors at most once: a second visit is a cycle.
    bool walk(const std::vector<std::uint32_t>& table, std::uint64_t sectors, std::uint32_t start,
              const std::function<bool(std::uint32_t, bool&)>& visit);
    // Whole sectors of a chain of the allocation table, appended to out.
    bool readSectors(std::uint32_t start, std::vector<std::uint8_t>& out);
    bool readStream(std::uint32_t start, std::uint64_t size, bool mini, std::vector<std::uint8_t>& out);
    bool findChild(std::u16string_view name, std::size_t& entry);
    bool nameIs(std::size_t entry, std::u16string_view name) const;
    std::span<const std::uint8_t> entry(std::size_t index) const {
        return std::span(directory_).subspan(index * kDirectoryEntrySize, kDirectoryEntrySize);
    }
    std::uint64_t streamSize(std::span<const std::uint8_t> e) const {
        // Version 3 writers may leave the high half uninitialised.
        return major_ == 3 ? le32(e, 120) : le64(e, 120);
    }

    std::span<const std::uint8_t> file_;
    std::string* error_;
    std::uint16_t major_ = 0;
    std::size_t sectorSize_ = 512;
    std::size_t miniSectorSize_ = 64;
    std::uint64_t sectorCount_ = 0;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<std::uint8_t> directory_;
    std::vector<std::uint8_t> miniStream_;
};

bool Reader::header() {
    if (file_.size() < kHeaderSize) return fail("shorter than a compound file header");
    if (!isCompoundFile(file_)) return fail("no compound file signature");
    if (le16(file_, 28) != kByteOrderMark) return fail("unknown byte order");
    major_ = le16(file_, 26);
    const std::uint16_t shift = le16(file_, 30);
    if (!((major_ == 3 && shift == 9) || (major_ == 4 && shift == 12))) return fail("unknown version or sector size");
    if (le16(file_, 32) != 6) return fail("unknown mini sector size");
    if (le32(file_, 56) != kMiniStreamCutoff) return fail("unknown mini stream cutoff");
    sectorSize_ = std::size_t{1} << shift;
    if (file_.size() < sectorSize_) return fail("shorter than its header sector");
    // Sectors after the header sector; a last one cut short still counts.
    sectorCount_ = (file_.size() - sectorSize_ + sectorSize_ - 1) / sectorSize_;
    return true;
}

bool Reader::addFatSector(std::uint32_t sector) {
    if (sector > kMaxRegularSector || sector >= sectorCount_) return fail("allocation table sector out of range");
    const std::uint64_t at = (std::uint64_t{sector} + 1) * sectorSize_;
    if (at + sectorSize_ > file_.size()) return fail("allocation table sector past the end of the file");
    for (std::size_t i = 0; i < sectorSize_; i += 4) fat_.push_back(le32(file_, static_cast<std::size_t>(at + i)));
    return true;
}

bool Reader::buildFat() {
    const std::uint32_t fatSectors = le32(file_, 44);
    const std::uint32_t difatSectors = le32(file_, 72);
    if (fatSectors > sectorCount_ || difatSectors > sectorCount_) return fail("more table sectors than the file holds");
    try {
        fat_.reserve(std::size_t{fatSectors} * (sectorSize_ / 4));
        std::uint32_t listed = 0;
        for (std::size_t i = 0; i < kHeaderDifatCount && listed < fatSectors; ++i, ++listed)
            if (!addFatSector(le32(file_, 76 + 4 * i))) return false;
        std::uint32_t difat = le32(file_, 68);
        const std::size_t perSector = sectorSize_ / 4 - 1;
        for (std::uint32_t step = 0; listed < fatSectors; ++step) {
            if (step >= difatSectors) return fail("table sector list ends early");
            if (difat > kMaxRegularSector || difat >= sectorCount_) return fail("table list sector out of range");
            const std::uint64_t at = (std::uint64_t{difat} + 1) * sectorSize_;
            if (at + sectorSize_ > file_.size()) return fail("table list sector past the end of the file");
            for (std::size_t i = 0; i < perSector && listed < fatSectors; ++i, ++listed)
                if (!addFatSector(le32(file_, static_cast<std::size_t>(at + 4 * i)))) return false;
            difat = le32(file_, static_cast<std::size_t>(at + 4 * perSector));
        }
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
    return true;
}

bool Reader::walk(const std::vector<std::uint32_t>& table, std::uint64_t sectors, std::uint32_t start,
                  const std::function<bool(std::uint32_t, bool&)>& visit) {
    const std::uint64_t limit = std::min<std::uint64_t>(table.size(), sectors);
    std::vector<bool> seen(static_cast<std::size_t>(limit), false);
    for (std::uint32_t sector = start; sector != kEndOfChain;) {
        if (sector > kMaxRegularSector || sector >= limit) return fail("sector number out of range");
        if (seen[sector]) return fail("sector chain runs in a cycle");
        seen[sector] = true;
        bool done = false;
        if (!visit(sector, done)) return false;
        if (done) return true;
        sector = table[sector];
    }
    return true;
}

bool Reader::readSectors(std::uint32_t start, std::vector<std::uint8_t>& out) {
    return walk(fat_, sectorCount_, start, [&](std::uint32_t sector, bool&) {
        const std::uint64_t at = (std::uint64_t{sector} + 1) * sectorSize_;
        if (at + sectorSize_ > file_.size()) return fail("sector past the end of the file");
        out.insert(out.end(), file_.begin() + static_cast<std::ptrdiff_t>(at),
                   file_.begin() + static_cast<std::ptrdiff_t>(at + sectorSize_));
        return true;
    });
}

bool Reader::readStream(std::uint32_t start, std::uint64_t size, bool mini, std::vector<std::uint8_t>& out) {
    const std::span<const std::uint8_t> source = mini ? std::span<const std::uint8_t>(miniStream_) : file_;
    if (size > source.size()) return fail("stream larger than what holds it");
    out.clear();
    out.reserve(static_cast<std::size_t>(size));
    if (size == 0) return true;
    const std::size_t unit = mini ? miniSectorSize_ : sectorSize_;
    const std::uint64_t units = mini ? (miniStream_.size() + unit - 1) / unit : sectorCount_;
    const bool walked = walk(mini ? miniFat_ : fat_, units, start, [&](std::uint32_t sector, bool& done) {
        const std::uint64_t at = mini ? std::uint64_t{sector} * unit : (std::uint64_t{sector} + 1) * unit;
        const std::uint64_t take = std::min<std::uint64_t>(unit, size - out.size());
        if (at + take > source.size()) return fail("stream sector past the end of what holds it");
        out.insert(out.end(), source.begin() + static_cast<std::ptrdiff_t>(at),
                   source.begin() + static_cast<std::ptrdiff_t>(at + take));
        done = out.size() == size;
        return true;
    });
    if (!walked) return false;
    return out.size() == size || fail("sector chain shorter than its stream");
}

bool Reader::nameIs(std::size_t index, std::u16string_view name) const {
    const auto e = entry(index);
    const std::uint16_t bytes = le16(e, kNameBytes);
    if (bytes < 2 || bytes > kNameBytes || bytes % 2 != 0) return false;
    const std::size_t length = bytes / 2 - 1;
    if (length != name.size()) return false;
    for (std::size_t i = 0; i < length; ++i)
        if (foldAscii(static_cast<char16_t>(le16(e, 2 * i))) != foldAscii(name[i])) return false;
    return true;
}

bool Reader::findChild(std::u16string_view name, std::size_t& found) {
    const std::size_t count = directory_.size() / kDirectoryEntrySize;
    std::vector<bool> seen(count, false);
    std::vector<std::uint32_t> pending{le32(entry(0), 76)};
    while (!pending.empty()) {
        const std::uint32_t id = pending.back();
        pending.pop_back();
        if (id == kNoStream) continue;
        if (id >= count) return fail("directory entry number out of range");
        if (seen[id]) return fail("directory tree runs in a cycle");
        seen[id] = true;
        if (nameIs(id, name)) {
            if (entry(id)[66] != kTypeStream) return fail("the name is not a stream");
            found = id;
            return true;
        }
        pending.push_back(le32(entry(id), 68));
        pending.push_back(le32(entry(id), 72));
    }
    return fail("no such stream");
}

bool Reader::read(std::u16string_view name, std::vector<std::uint8_t>& out) {
    if (!header() || !buildFat()) return false;
    try {
        if (!readSectors(le32(file_, 48), directory_)) return false;
        if (directory_.size() < kDirectoryEntrySize || entry(0)[66] != kTypeRoot) return fail("no root entry");
        std::size_t index = 0;
        if (!findChild(name, index)) return false;
        const auto e = entry(index);
        const std::uint64_t size = streamSize(e);
        if (size >= kMiniStreamCutoff) return readStream(le32(e, 116), size, false, out);
        const std::uint32_t miniFatSectors = le32(file_, 64);
        if (miniFatSectors > sectorCount_) return fail("more mini table sectors than the file holds");
        std::vector<std::uint8_t> table;
        if (miniFatSectors != 0 && !readSectors(le32(file_, 60), table)) return false;
        for (std::size_t i = 0; i + 4 <= table.size(); i += 4) miniFat_.push_back(le32(table, i));
        const auto root = entry(0);
        if (!readStream(le32(root, 116), streamSize(root), false, miniStream_)) return false;
        return readStream(le32(e, 116), size, true, out);
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
}

}  // namespace

bool isCompoundFile(std::span<const std::uint8_t> file) {
    return file.size() >= sizeof kSignature && std::memcmp(file.data(), kSignature, sizeof kSignature) == 0;
}

bool readRootStream(std::span<const std::uint8_t> file, std::u16string_view name, std::vector<std::uint8_t>& out,
                    std::string* error) {
    Reader reader(file, error);
    std::vector<std::uint8_t> bytes;
    if (!reader.read(name, bytes)) return false;
    out = std::move(bytes);
    return true;
}

}  // namespace qvp3::cfb
