// Primitive, compact and small fixed-layout field readers of binary score files.
#include "scorecore/bin_fields.h"

#include <algorithm>

#include "bin_read_util.h"

namespace scorecore {

using binutil::consumed;
using binutil::readField;

namespace binutil {

bool readCompactRaw(BinReader& r, std::uint32_t* value) {
    return readField(r, value, [&](std::uint32_t& v) {
               std::uint8_t first = 0;
               if (!r.readU8(&first)) {
                   return false;
               }
               if (first < 254) {
                   v = first;
                   return true;
               }
               if (first == 254) {
                   std::uint16_t v16 = 0;
                   const bool ok = r.readU16(&v16);
                   v = v16;
                   return ok;
               }
               return r.readU32(&v);
           }) != 0;
}

bool takeSizedBlock(BinReader& r, std::span<const std::uint8_t>* bytes) {
    return readField(r, bytes, [&](std::span<const std::uint8_t>& block) {
               std::uint32_t n = 0;
               return readCompactRaw(r, &n) && r.take(n, &block);
           }) != 0;
}

}  // namespace binutil

// --- primitive and compact readers --------------------------------------------------

std::size_t scBinRead32(BinReader& r, std::uint32_t* value) {
    return r.readU32(value) ? 4 : 0;
}

std::size_t scBinRead16(BinReader& r, std::uint16_t* value) {
    return r.readU16(value) ? 2 : 0;
}

std::size_t scBinRead8(BinReader& r, std::uint8_t* value) {
    return r.readU8(value) ? 1 : 0;
}

std::size_t scBinReadSmallInt(BinReader& r, std::int32_t* value) {
    return readField(r, value, [&](std::int32_t& v) {
        std::uint8_t first = 0;
        if (!r.readU8(&first)) {
            return false;
        }
        v = static_cast<std::int8_t>(first);
        if (v == -128) {
            std::uint16_t v16 = 0;
            const bool ok = r.readU16(&v16);
            v = static_cast<std::int16_t>(v16);
            return ok;
        }
        if (v == 127) {
            std::uint32_t v32 = 0;
            const bool ok = r.readU32(&v32);
            v = static_cast<std::int32_t>(v32);
            return ok;
        }
        return true;
    });
}

std::size_t scBinReadCount(BinReader& r, std::uint32_t* count) {
    // Everything a count counts takes at least one byte: more than what is
    // left cannot be real, and must not size anything.
    return readField(r, count,
                     [&](std::uint32_t& v) { return binutil::readCompactRaw(r, &v) && v <= r.remaining(); });
}

std::size_t scBinReadBytes(BinReader& r, std::size_t n, std::vector<std::uint8_t>* out) {
    std::span<const std::uint8_t> bytes;
    if (n == 0 || !r.take(n, &bytes)) {
        return 0;
    }
    if (out) {
        out->assign(bytes.begin(), bytes.end());
    }
    return n;
}

std::size_t scBinSkip4(BinReader& r) {
    return r.skip(4) ? 4 : 0;
}

std::size_t scBinSkipSizedBlock(BinReader& r) {
    return consumed(r, [&] { return binutil::takeSizedBlock(r, nullptr); });
}

std::size_t scBinReadString(BinReader& r, std::string* text) {
    return readField(r, text, [&](std::string& t) {
        std::span<const std::uint8_t> bytes;
        if (!binutil::takeSizedBlock(r, &bytes)) {
            return false;
        }
        if (text) {
            t = binutil::toString(bytes);
        }
        return true;
    });
}

// --- field readers ----------------------------------------------------------------

std::size_t scBinReadFileHeader(BinReader& r, BinFileHeader* header) {
    return readField(r, header, [&](BinFileHeader& h) {
        std::span<const std::uint8_t> magic;
        if (!r.take(4, &magic)) {
            return false;
        }
        std::copy(magic.begin(), magic.end(), h.magic.begin());
        if (h.magic != kBinMagic) {
            return true;
        }
        return r.readU16(&h.version) && r.skip(2);
    });
}

std::size_t scBinReadColor(BinReader& r, std::uint32_t* color) {
    return readField(r, color, [&](std::uint32_t& c) {
        std::uint8_t index = 0;
        if (!r.readU8(&index)) {
            return false;
        }
        if (index < kBinPalette.size()) {
            c = kBinPalette[index];
            return true;
        }
        std::span<const std::uint8_t> rgb;
        if (!r.take(3, &rgb)) {
            return false;
        }
        c = static_cast<std::uint32_t>(rgb[0]) | (static_cast<std::uint32_t>(rgb[1]) << 8) |
            (static_cast<std::uint32_t>(rgb[2]) << 16);
        return true;
    });
}

std::size_t scBinReadFont(BinReader& r, BinFont* font) {
    return readField(r, font, [&](BinFont& f) {
        if (!binutil::readCompactRaw(r, &f.index)) {
            return false;
        }
        if (f.index != 0) {
            return true;
        }
        std::span<const std::uint8_t> face;
        if (!r.skip(28) || !scBinReadColor(r, &f.color) || !binutil::takeSizedBlock(r, &face)) {
            return false;
        }
        if (font) {
            f.face = binutil::toString(face);
        }
        return true;
    });
}

std::size_t scBinReadObjectHeader(BinReader& r, BinObjectHeader* header, bool extraByte) {
    return readField(r, header, [&](BinObjectHeader& h) {
        if (!r.skip(1) || !r.readU8(&h.type)) {
            return false;
        }
        if (h.type != 1 && h.type != 2 && !r.skip(11)) {
            return false;
        }
        if (!r.skip(1)) {
            return false;
        }
        for (std::int32_t& coord : h.coords) {
            if (!scBinReadSmallInt(r, &coord)) {
                return false;
            }
        }
        return r.skip(extraByte ? 3 : 2);
    });
}

std::size_t scBinReadClef(BinReader& r, BinClef* clef) {
    return readField(r, clef, [&](BinClef& c) {
        std::uint8_t b = 0;
        if (!r.readU8(&b) || (b & 0x07) > 4 || ((b >> 3) & 0x07) > 4 || (b >> 6) > 2) {
            return false;
        }
        c = scBinClefFromByte(b);
        return true;
    });
}

std::size_t scBinReadNibble(BinReader& r, std::int32_t* value) {
    return readField(r, value, [&](std::int32_t& v) {
        std::uint8_t b = 0;
        const bool ok = r.readU8(&b) && b <= 5;
        v = b;
        return ok;
    });
}

std::size_t scBinReadKey(BinReader& r, std::int32_t* fifths) {
    return readField(r, fifths, [&](std::int32_t& f) {
        std::uint8_t b = 0;
        const bool ok = r.readU8(&b) && b <= 14;
        f = static_cast<std::int32_t>(b) - 7;
        return ok;
    });
}

std::size_t scBinReadMeter(BinReader& r, BinMeter* meter) {
    return readField(r, meter, [&](BinMeter& m) {
        std::uint8_t beats = 0;
        std::uint8_t unit = 0;
        const bool ok = r.readU8(&beats) && r.readU8(&unit);
        m.beats = beats;
        m.unit = static_cast<std::int32_t>(unit & 0x7F) - 1;
        return ok;
    });
}

std::size_t scBinReadDuration(BinReader& r, BinDuration* duration) {
    return readField(r, duration, [&](BinDuration& d) {
        std::uint8_t b = 0;
        if (!r.readU8(&b) || (b & 0x80)) {
            return false;
        }
        d.code = b & 0x0F;
        d.flag = (b & 0x40) != 0;
        if (b & 0x10) {
            // A dot count, not a count of following bytes: bounded by the cap alone.
            std::uint32_t dots = 0;
            if (!binutil::readCompactRaw(r, &dots) || dots > static_cast<std::uint32_t>(kBinMaxDots)) {
                return false;
            }
            d.dots = static_cast<std::int32_t>(dots);
        }
        if (b & 0x20) {
            std::uint8_t t = 0;
            if (!r.readU8(&t) || (t & 0x0F) == 0) {
                return false;
            }
            d.tupletCount = t & 0x0F;
            d.tupletFlag = (t & 0x10) != 0;
            d.tupletDouble = (t & 0x20) != 0;
        }
        return true;
    });
}

std::size_t scBinReadHead(BinReader& r, BinHead* head) {
    return readField(r, head, [&](BinHead& h) {
        std::uint8_t position = 0;
        std::uint8_t form = 0;
        if (!r.readU8(&position) || !r.readU8(&form)) {
            return false;
        }
        const std::int32_t low7 = position & 0x7F;
        h.step = low7 >= 64 ? low7 - 128 : low7;
        h.shape = form & 0x07;
        h.alteration = ((form >> 3) & 0x07) - 2;
        return h.shape <= 6 && h.alteration <= 2;
    });
}

namespace {

bool readSigned8(BinReader& r, std::int32_t* value) {
    std::uint8_t b = 0;
    if (!r.readU8(&b)) {
        return false;
    }
    *value = static_cast<std::int8_t>(b);
    return true;
}

bool readChordAttrs(BinReader& r, BinChordAttrs& a) {
    if (!r.readU8(&a.flags)) {
        return false;
    }
    if ((a.flags & 0x01) && !r.skip(1)) {
        return false;
    }
    if ((a.flags & 0x02) && !(readSigned8(r, &a.direction) && a.direction >= -1 && a.direction <= 1)) {
        return false;
    }
    if (a.flags & 0x04) {
        if (!readSigned8(r, &a.beam) || !(a.beam == 0 || a.beam == 1 || a.beam == 3 || a.beam == -1) ||
            !r.skip(1)) {
            return false;
        }
    }
    if (a.flags & 0x08) {
        std::uint8_t va = 0;
        std::uint8_t vb = 0;
        if (!r.readU8(&va) || !r.readU8(&vb) || va > 5 || vb > 8) {
            return false;
        }
        a.valueA = va;
        a.valueB = vb;
    }
    if (a.flags & 0x10) {
        std::uint8_t bits = 0;
        if (!r.readU8(&bits)) {
            return false;
        }
        a.flagA = (bits & 0x01) != 0;
        a.flagB = (bits & 0x02) != 0;
    }
    return !(a.flags & 0x20) || r.skip(2);
}

}  // namespace

std::size_t scBinReadChordAttrs(BinReader& r, BinChordAttrs* attrs) {
    return readField(r, attrs, [&](BinChordAttrs& a) { return readChordAttrs(r, a); });
}

std::size_t scBinReadPairRecord(BinReader& r, BinPair* pair) {
    return readField(r, pair, [&](BinPair& p) {
        return scBinReadSmallInt(r, &p.first) && scBinReadSmallInt(r, &p.second);
    });
}

std::size_t scBinSkipPairList(BinReader& r) {
    return consumed(r, [&] { return binutil::readCounted(r, [&] { return scBinReadPairRecord(r, nullptr) != 0; }); });
}

std::size_t scBinReadPackedInts(BinReader& r, std::vector<std::int32_t>* values) {
    return readField(r, values, [&](std::vector<std::int32_t>& v) {
        return binutil::readCounted(r, [&] {
            std::int32_t value = 0;
            if (!scBinReadSmallInt(r, &value)) {
                return false;
            }
            if (values) {
                v.push_back(value);
            }
            return true;
        });
    });
}

std::size_t scBinReadValueFlags(BinReader& r, std::uint8_t* flags) {
    return r.readU8(flags) ? 1 : 0;
}

}  // namespace scorecore
