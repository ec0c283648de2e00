// Lists, drawing objects, attachments and element kinds of binary score files.
#include <utility>

#include "bin_read_util.h"
#include "scorecore/bin_fields.h"

namespace scorecore {

using binutil::readCounted;
using binutil::readField;

namespace {

bool readEntry(BinReader& r, BinEntry& e, bool copy) {
    if (!r.readU8(&e.marker)) {
        return false;
    }
    if (e.marker == 0) {
        return true;
    }
    if (!r.readU8(&e.flags)) {
        return false;
    }
    std::span<const std::uint8_t> block;
    if (e.flags & 0x08) {
        if (!binutil::takeSizedBlock(r, &block)) {
            return false;
        }
        if (copy) {
            e.block1 = binutil::toString(block);
        }
    }
    if (e.flags & 0x10) {
        if (!binutil::takeSizedBlock(r, &block)) {
            return false;
        }
        if (copy) {
            e.block2 = binutil::toString(block);
        }
    }
    return true;
}

bool readTextField(BinReader& r, BinTextField& field, bool copy) {
    std::uint8_t length = 0;
    std::span<const std::uint8_t> bytes;
    if (!r.readU8(&field.type) || !r.readU8(&length) || !r.take(length, &bytes)) {
        return false;
    }
    if (copy) {
        field.bytes = binutil::toString(bytes);
    }
    return true;
}

bool readTypedItem(BinReader& r, BinTypedItem& item, bool copy) {
    std::uint8_t length = 0;
    std::span<const std::uint8_t> bytes;
    if (!r.readU8(&item.type)) {
        return false;
    }
    switch (item.type) {
    case 1:
        if (!r.readU8(&length) || !r.take(length, &bytes)) {
            return false;
        }
        break;
    case 2:
        return r.readU8(&item.byteValue) && r.readU16(&item.value);
    case 3:
        if (!r.skip(6) || !r.take(8, &bytes)) {
            return false;
        }
        break;
    default:
        return r.readU8(&length) && r.skip(length);
    }
    if (copy) {
        item.bytes = binutil::toString(bytes);
    }
    return true;
}

// Type 3: font reference and text; a short text may be a sign.
bool readTextObject(BinReader& r, BinItems& items) {
    std::span<const std::uint8_t> text;
    if (!scBinReadFont(r, nullptr) || !binutil::takeSizedBlock(r, &text)) {
        return false;
    }
    BinSign sign;
    const std::string_view view(reinterpret_cast<const char*>(text.data()), text.size());
    if (scBinTextSign(view, &sign)) {
        if (sign.dynamic != 0) {
            items.dynamic = sign.dynamic;
        }
        if (sign.articulation != 0) {
            items.articulation = sign.articulation;
        }
        items.flag = items.flag || sign.flag;
    }
    return true;
}

bool readDrawingObject(BinReader& r, BinItems& items) {
    std::uint8_t type = 0;
    if (!r.readU8(&type) || type > 15 || !scBinReadObjectHeader(r, nullptr)) {
        return false;
    }
    std::uint8_t value = 0;
    std::uint8_t sign = 0;
    switch (type) {
    case 3:
        return readTextObject(r, items);
    case 11:
        if (!r.readU8(&value) || !r.readU8(&sign)) {
            return false;
        }
        items.drawValue = (sign & 0x80) ? -static_cast<std::int32_t>(value) : value;
        return true;
    case 12:
        if (!r.readU8(&value)) {
            return false;
        }
        items.drawSmallValue = (value >> 4) < (value & 0x0F) ? 0 : (value & 0x0F);
        return true;
    default:
        return true;
    }
}

bool readItemList(BinReader& r, BinItems& items) {
    return readCounted(r, [&] { return readDrawingObject(r, items); });
}

bool readAttachment(BinReader& r, BinAttachment& a) {
    std::uint8_t flags = 0;
    if (!r.readU8(&flags)) {
        return false;
    }
    if (flags & 0x80) {
        return true;  // end: no attachment
    }
    a.present = true;
    a.hasColor = (flags & 0x40) != 0;
    if ((a.hasColor && !scBinReadColor(r, &a.color)) || !r.readU8(&a.flags2)) {
        return false;
    }
    if ((a.flags2 & 0x10) && !scBinReadSmallInt(r, &a.value)) {
        return false;
    }
    if ((a.flags2 & 0x20) && !r.readU8(&a.byteValue)) {
        return false;
    }
    return !(a.flags2 & 0x40) || readItemList(r, a.items);
}

bool readCheckedChord(BinReader& r, BinCheckedChord& c, bool copy) {
    if (!scBinReadAttachment(r, &c.attachment) || !scBinReadChordAttrs(r, &c.attrs)) {
        return false;
    }
    if (c.attrs.hasEntries() && !scBinReadEntryList(r, copy ? &c.entries : nullptr)) {
        return false;
    }
    // A chord has at least one head.
    return readCounted(
        r,
        [&] {
            BinHead head;
            if (!scBinReadHead(r, &head)) {
                return false;
            }
            if (copy) {
                c.heads.push_back(head);
            }
            return true;
        },
        1);
}

struct SignEntry {
    std::string_view text;
    std::int32_t dynamic;
    std::int32_t articulation;
    bool flag;
};

// Dynamics are the velocities and accent codes of the event record; the
// articulation codes are those the event record takes for these glyphs.
constexpr SignEntry kSigns[] = {
    {"f", 90, 0, false},     {"g", 110, 0, false},    {"h", 127, 0, false},    {"i", 62, 0, false},
    {"j", 74, 0, false},     {"p", 44, 0, false},     {"q", 22, 0, false},     {"r", 10, 0, false},
    {"s", -4, 0, false},     {"z", -3, 0, false},     {"{", -2, 0, false},     {"|", -1, 0, false},
    {"k", 0, 0, true},       {"u", 0, 0, true},       {"Y", 0, 2, false},      {"\xC8", 0, 2, false},
    {"Z", 0, 5, false},      {"\xCA", 0, 5, false},   {"\xC9", 0, 4, false},   {"\xCE", 0, 4, false},
    {"\xCB", 0, 6, false},   {"\xCC", 0, 7, false},   {"\xCD", 0, 8, false},   {"\xCF", 0, 8, false},
    {"fp", -1, 0, false},    {"ff", 110, 0, false},   {"fg", 127, 0, false},   {"gf", 127, 0, false},
    {"pp", 22, 0, false},    {"qp", 10, 0, false},    {"pq", 10, 0, false},    {"fff", 127, 0, false},
    {"ppp", 10, 0, false},
};

}  // namespace

bool scBinTextSign(std::string_view text, BinSign* sign) {
    for (const SignEntry& entry : kSigns) {
        if (entry.text == text) {
            if (sign) {
                *sign = BinSign{entry.dynamic, entry.articulation, entry.flag};
            }
            return true;
        }
    }
    return false;
}

std::size_t scBinReadEntryList(BinReader& r, std::vector<BinEntry>* entries) {
    return readField(r, entries, [&](std::vector<BinEntry>& list) {
        return readCounted(r, [&] {
            BinEntry entry;
            if (!readEntry(r, entry, entries != nullptr)) {
                return false;
            }
            if (entries) {
                list.push_back(std::move(entry));
            }
            return true;
        });
    });
}

std::size_t scBinReadTextPair(BinReader& r, BinTextPair* pair) {
    return readField(r, pair, [&](BinTextPair& p) {
        std::uint8_t flags = 0;
        if (!r.readU8(&flags)) {
            return false;
        }
        p.flag = (flags & 0x01) != 0;
        p.hasFirst = (flags & 0x02) != 0;
        p.hasSecond = (flags & 0x04) != 0;
        return (!p.hasFirst || readTextField(r, p.first, pair != nullptr)) &&
               (!p.hasSecond || readTextField(r, p.second, pair != nullptr));
    });
}

std::size_t scBinReadTypedList(BinReader& r, std::vector<BinTypedItem>* items) {
    return readField(r, items, [&](std::vector<BinTypedItem>& list) {
        std::uint32_t covered = 0;
        std::span<const std::uint8_t> bytes;
        if (!scBinReadCount(r, &covered) || !r.take(covered, &bytes)) {
            return false;
        }
        // The items must fill exactly the bytes the count covers.
        BinReader inner(bytes);
        while (!inner.atEnd()) {
            BinTypedItem item;
            if (!readTypedItem(inner, item, items != nullptr)) {
                return false;
            }
            if (items) {
                list.push_back(std::move(item));
            }
        }
        return true;
    });
}

std::size_t scBinReadObjectFlags(BinReader& r, BinObjectFlags* flags) {
    return readField(r, flags, [&](BinObjectFlags& f) {
        if (!r.readU8(&f.bits) || (f.bits & 0x80)) {
            return false;
        }
        f.value = f.bits & 0x03;
        f.hasColor = (f.bits & 0x40) != 0;
        return !f.hasColor || scBinReadColor(r, &f.color);
    });
}

std::size_t scBinReadObjectKind(BinReader& r, BinObjectKind* kind, std::vector<std::uint8_t>* buffer) {
    std::span<const std::uint8_t> records;
    const std::size_t n = readField(r, kind, [&](BinObjectKind& k) {
        if (!r.readU8(&k.kind) || !binutil::takeSizedBlock(r, &records)) {
            return false;
        }
        k.hasColor = k.kind != 0 && k.kind != 1 && k.kind != 7;
        return !k.hasColor || scBinReadColor(r, &k.color);
    });
    if (n && buffer) {
        buffer->assign(records.begin(), records.end());
    }
    return n;
}

std::size_t scBinReadItemList(BinReader& r, BinItems* items) {
    return readField(r, items, [&](BinItems& result) { return readItemList(r, result); });
}

std::size_t scBinReadAttachment(BinReader& r, BinAttachment* attachment) {
    return readField(r, attachment, [&](BinAttachment& a) { return readAttachment(r, a); });
}

std::size_t scBinReadCheckedLists(BinReader& r, BinCheckedChord* chord) {
    return readField(r, chord, [&](BinCheckedChord& c) { return readCheckedChord(r, c, chord != nullptr); });
}

std::size_t scBinReadItemSection(BinReader& r, BinItems* items) {
    return readField(r, items, [&](BinItems& result) {
        return readCounted(r, [&] { return readItemList(r, result); });
    });
}

}  // namespace scorecore
