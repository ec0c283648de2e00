// Tagged sections and the walk over a whole binary score file.
#include "scorecore/bin_score.h"

#include <algorithm>
#include <fstream>
#include <system_error>
#include <utility>

#include "bin_read_util.h"
#include "scorecore/result_codes.h"

namespace scorecore {

using binutil::readField;

namespace {

bool readTag(BinReader& r, char tag) {
    std::uint8_t b = 0;
    return r.peek(&b) && b == static_cast<std::uint8_t>(tag) && r.skip(1);
}

}  // namespace

std::size_t scBinReadTagS(BinReader& r, BinTagS* section) {
    return readField(r, section, [&](BinTagS& s) {
        return readTag(r, 'S') && scBinReadSmallInt(r, &s.value) && r.skip(3) && r.readU32(&s.count) &&
               scBinReadColor(r, &s.color) && scBinSkipSizedBlock(r) && r.skip(1) && scBinReadCount(r, &s.count2);
    });
}

std::size_t scBinReadTagV(BinReader& r, BinTagV* section) {
    return readField(r, section, [&](BinTagV& v) {
        return readTag(r, 'V') && scBinReadMeter(r, &v.meter) && r.readU8(&v.byteValue) &&
               scBinReadSmallInt(r, &v.value1) && scBinReadSmallInt(r, &v.value2) && scBinReadColor(r, &v.color) &&
               scBinSkipSizedBlock(r) && r.readU32(&v.value32);
    });
}

std::size_t scBinReadTagC(BinReader& r, BinTagC* section) {
    return readField(r, section, [&](BinTagC& c) {
        return readTag(r, 'C') && r.skip(2) && scBinReadFont(r, section ? &c.font : nullptr) && r.skip(1) &&
               scBinSkipSizedBlock(r) && scBinReadCount(r, &c.count);
    });
}

int scBinCheckHeader(BinReader& r) {
    BinFileHeader header;
    const std::size_t start = r.position();
    if (scBinReadFileHeader(r, &header) == 8 && header.version == kBinVersion) {
        return kOk;
    }
    r.seek(start);
    return kErrUnknownFormat;
}

namespace {

bool readDocumentHead(BinReader& r) {
    for (int i = 0; i < 3; ++i) {
        if (!scBinReadString(r, nullptr)) {
            return false;
        }
    }
    if (!scBinReadPairRecord(r, nullptr) || !scBinReadPackedInts(r, nullptr) ||
        !scBinReadObjectHeader(r, nullptr) || !scBinReadTextPair(r, nullptr) || !scBinSkipSizedBlock(r) ||
        !scBinSkipPairList(r) || !scBinReadTypedList(r, nullptr) || !scBinReadItemSection(r, nullptr) ||
        !scBinReadCheckedLists(r, nullptr) || !scBinSkipSizedBlock(r)) {
        return false;
    }
    for (int i = 0; i < 5; ++i) {
        if (!scBinReadCount(r, nullptr)) {
            return false;
        }
    }
    return true;
}

// Clef of the current 'V' section and key of the current 'C' section.
struct StaffContext {
    BinClef clef;
    std::int32_t fifths = 0;
};

// Element flags, duration and drawing object list.
bool readRestBody(BinReader& r, BinScoreElement& element) {
    BinDuration duration;
    BinItems items;
    if (!scBinReadObjectFlags(r, nullptr) || !scBinReadDuration(r, &duration) || !scBinReadItemList(r, &items)) {
        return false;
    }
    element.ticks = scBinDurationTicks(duration, kBinTicksPerQuarter);
    element.dynamic = items.dynamic;
    element.articulation = items.articulation;
    return true;
}

bool readChord(BinReader& r, BinScoreElement& element, const StaffContext& context) {
    BinChordAttrs attrs;
    if (!readRestBody(r, element) || !scBinReadChordAttrs(r, &attrs) ||
        (attrs.hasEntries() && !scBinReadEntryList(r, nullptr))) {
        return false;
    }
    // A chord has at least one head.
    return binutil::readCounted(
        r,
        [&] {
            BinHead head;
            if (!scBinReadHead(r, &head)) {
                return false;
            }
            const std::int32_t key =
                scBinMidiPitch(context.clef.type, context.clef.octave, context.fifths, head.step) + head.alteration;
            element.heads.push_back({head.step, head.alteration, std::clamp(key, 0, 127)});
            return true;
        },
        1);
}

// The body of an element after its attachment and value flags.
bool readElementBody(BinReader& r, BinScoreElement& element, StaffContext& context) {
    switch (element.kind) {
    case 0:
        return readRestBody(r, element);
    case 1:
    case 7:
        return readChord(r, element, context);
    case 2:
        if (!scBinReadClef(r, &element.clef)) {
            return false;
        }
        context.clef = element.clef;
        return true;
    case 3:
        if (!scBinReadKey(r, &element.fifths)) {
            return false;
        }
        context.fifths = element.fifths;
        return true;
    case 4:
        return scBinReadMeter(r, &element.meter) != 0;
    case 5:
        return scBinReadNibble(r, &element.nibble) != 0;
    default:
        return true;
    }
}

// A clef stays in force for the later voices of the stave; each voice starts
// without a key.
bool readCSection(BinReader& r, BinScoreCSection& section, StaffContext& context) {
    if (!scBinReadTagC(r, &section.tag)) {
        return false;
    }
    context.fifths = 0;
    for (std::uint32_t i = 0; i < section.tag.count; ++i) {
        BinObjectKind kind;
        if (!scBinReadObjectKind(r, &kind, nullptr)) {
            return false;
        }
        if (kind.kind > 7) {
            break;
        }
        BinScoreElement element;
        element.kind = kind.kind;
        if (!scBinReadAttachment(r, nullptr) || !scBinReadValueFlags(r, nullptr) ||
            !readElementBody(r, element, context)) {
            return false;
        }
        section.elements.push_back(std::move(element));
    }
    return true;
}

bool readBody(BinReader& r, BinScoreSummary& summary) {
    summary.dataOffset = r.position();
    if (!scBinReadTagS(r, &summary.section)) {
        return false;
    }
    while (!r.atEnd()) {
        BinScoreVSection& v = summary.vSections.emplace_back();
        if (!scBinReadTagV(r, &v.tag)) {
            return false;
        }
        StaffContext context;  // a new stave: clef type 0, octave 1
        std::uint8_t next = 0;
        while (r.peek(&next) && next == 'C') {
            if (!readCSection(r, v.cSections.emplace_back(), context)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

int scBinWalkScore(std::span<const std::uint8_t> image, BinScoreSummary* summary) {
    BinReader r(image);
    if (scBinCheckHeader(r) != kOk) {
        return kErrUnknownFormat;
    }
    BinScoreSummary result;
    if (!readDocumentHead(r) || !readBody(r, result)) {
        return kErrUnknownFormat;
    }
    if (summary) {
        *summary = std::move(result);
    }
    return kOk;
}

int scBinWalkScoreFile(const std::filesystem::path& path, BinScoreSummary* summary) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return kErrCannotOpen;
    }
    if (std::filesystem::is_regular_file(path, ec)) {
        const std::uintmax_t size = std::filesystem::file_size(path, ec);
        if (!ec && size > kBinScoreMaxFileSize) {
            return kErrUnknownFormat;
        }
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return kErrCannotOpen;
    }
    // Read in pieces up to one byte past the limit, so that a file whose size
    // the system does not report (a pipe, a special file) is bounded as well.
    std::vector<std::uint8_t> image;
    constexpr std::size_t kPiece = 64 * 1024;
    while (in) {
        if (image.size() > kBinScoreMaxFileSize) {
            return kErrUnknownFormat;
        }
        const std::size_t old = image.size();
        image.resize(old + kPiece);
        in.read(reinterpret_cast<char*>(image.data() + old), static_cast<std::streamsize>(kPiece));
        image.resize(old + static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) {
        return kErrCannotOpen;
    }
    if (image.size() > kBinScoreMaxFileSize) {
        return kErrUnknownFormat;
    }
    return scBinWalkScore(image, summary);
}

}  // namespace scorecore
