// Writes binary score bytes by the same codings the readers read, so that
// tests can build fields and whole files without stored samples.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bintest {

class Bytes {
public:
    Bytes() = default;
    Bytes(std::initializer_list<int> bytes) {
        for (int b : bytes) {
            u8(b);
        }
    }

    Bytes& u8(int v) {
        data_.push_back(static_cast<std::uint8_t>(v));
        return *this;
    }
    Bytes& u16(std::uint32_t v) { return u8(v & 0xFF).u8((v >> 8) & 0xFF); }
    Bytes& u32(std::uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
    Bytes& raw(std::string_view text) {
        for (char c : text) {
            u8(static_cast<unsigned char>(c));
        }
        return *this;
    }
    Bytes& zeros(std::size_t n) {
        data_.insert(data_.end(), n, 0);
        return *this;
    }
    Bytes& add(const Bytes& other) {
        data_.insert(data_.end(), other.data_.begin(), other.data_.end());
        return *this;
    }

    // Compact count in its shortest form.
    Bytes& count(std::uint32_t v) {
        if (v < 254) {
            return u8(static_cast<int>(v));
        }
        if (v <= 0xFFFF) {
            return u8(254).u16(v);
        }
        return u8(255).u32(v);
    }
    // Compact signed integer in its shortest form.
    Bytes& small(std::int32_t v) {
        if (v > -128 && v < 127) {
            return u8(v & 0xFF);
        }
        if (v >= -32768 && v <= 32767) {
            return u8(0x80).u16(static_cast<std::uint32_t>(v) & 0xFFFF);
        }
        return u8(0x7F).u32(static_cast<std::uint32_t>(v));
    }
    Bytes& sized(std::string_view text) { return count(static_cast<std::uint32_t>(text.size())).raw(text); }

    const std::vector<std::uint8_t>& data() const { return data_; }
    std::span<const std::uint8_t> span() const { return data_; }
    std::size_t size() const { return data_.size(); }

private:
    std::vector<std::uint8_t> data_;
};

// --- pieces of a score file ----------------------------------------------------------

inline Bytes fileHeader(std::uint16_t version = 30253) {
    return Bytes().raw("tvr3").u16(version).u16(0);
}

// Short-form object header with the given coordinates.
inline Bytes objectHeader(int x = 0, int y = 0, int z = 0) {
    return Bytes().u8(0).u8(1).u8(0).small(x).small(y).small(z).u8(0).u8(0);
}

inline Bytes textObject(std::string_view text) {
    return Bytes().u8(3).add(objectHeader()).count(1).sized(text);
}

inline Bytes itemList(std::initializer_list<Bytes> objects) {
    Bytes b;
    b.count(static_cast<std::uint32_t>(objects.size()));
    for (const Bytes& o : objects) {
        b.add(o);
    }
    return b;
}

inline Bytes head(int step, int alteration, int shape = 0) {
    return Bytes().u8(step & 0x7F).u8(shape | ((alteration + 2) << 3));
}

inline Bytes documentHead() {
    return Bytes()
        .sized("Title")
        .sized("Composer")
        .sized("")
        .small(1)
        .small(-2)  // pair record
        .count(2)
        .small(10)
        .small(300)  // packed integers
        .add(objectHeader(1, 2, 3))
        .u8(0x03)
        .u8(1)
        .u8(2)
        .raw("ab")  // text pair
        .sized("blk")
        .count(1)
        .small(4)
        .small(5)  // pair list
        .count(4)
        .u8(1)
        .u8(2)
        .raw("xy")  // typed list
        .count(1)
        .add(itemList({}))  // item section
        .u8(0x80)
        .u8(0x00)
        .count(1)
        .add(head(3, 0))  // chord list
        .sized("")
        .count(2)
        .count(0)
        .count(0)
        .count(0)
        .count(0);
}

inline Bytes tagS(int value, std::uint32_t count, std::uint32_t count2) {
    return Bytes().raw("S").small(value).zeros(3).u32(count).u8(0).sized("").u8(0).count(count2);
}

inline Bytes tagV(int beats, int unitByte, int byteValue) {
    return Bytes().raw("V").u8(beats).u8(unitByte).u8(byteValue).small(0).small(0).u8(0).sized("").u32(0);
}

inline Bytes tagC(std::uint32_t elements) {
    return Bytes().raw("C").zeros(2).count(1).u8(0).sized("").count(elements);
}

// Element kind with an empty record block (and a colour where the kind has one).
inline Bytes elementKind(int kind) {
    Bytes b = Bytes().u8(kind).count(0);
    if (kind != 0 && kind != 1 && kind != 7) {
        b.u8(0);
    }
    return b;
}

// Kind, an empty attachment and the value flags: what precedes every body.
inline Bytes elementStart(int kind) {
    return elementKind(kind).u8(0x80).u8(0);
}

inline Bytes restBody(const Bytes& duration, const Bytes& items) {
    return Bytes().u8(0x00).add(duration).add(items);
}

inline Bytes rest(const Bytes& duration, const Bytes& items = itemList({})) {
    return elementStart(0).add(restBody(duration, items));
}

inline Bytes chord(int kind, const Bytes& duration, std::initializer_list<Bytes> heads,
                   const Bytes& items = itemList({})) {
    Bytes b = elementStart(kind).add(restBody(duration, items)).u8(0x00).count(static_cast<std::uint32_t>(heads.size()));
    for (const Bytes& h : heads) {
        b.add(h);
    }
    return b;
}

inline Bytes simpleElement(int kind, int value) {
    return elementStart(kind).u8(value);
}

// The smallest valid file: header, document head and an 'S' section.
inline Bytes minimalScore() {
    return fileHeader().add(documentHead()).add(tagS(100, 1, 0));
}

}  // namespace bintest
