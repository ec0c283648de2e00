#include "scorecore/bin_reader.h"

namespace scorecore {

BinReader::BinReader(std::span<const std::uint8_t> data, std::size_t position)
    : data_(data), pos_(position <= data.size() ? position : data.size()) {}

bool BinReader::seek(std::size_t position) {
    if (position > data_.size()) {
        return false;
    }
    pos_ = position;
    return true;
}

bool BinReader::peek(std::uint8_t* value) const {
    if (atEnd()) {
        return false;
    }
    if (value) {
        *value = data_[pos_];
    }
    return true;
}

namespace {

// A little-endian unsigned number from the front of bytes (which holds sizeof(T) of them).
template <class T>
T littleEndian(std::span<const std::uint8_t> bytes) {
    T value = 0;
    for (std::size_t i = sizeof(T); i-- > 0;) {
        value = static_cast<T>((static_cast<std::uint32_t>(value) << 8) | bytes[i]);
    }
    return value;
}

template <class T>
bool readNumber(BinReader& r, T* value) {
    std::span<const std::uint8_t> bytes;
    if (!r.take(sizeof(T), &bytes)) {
        return false;
    }
    if (value) {
        *value = littleEndian<T>(bytes);
    }
    return true;
}

}  // namespace

bool BinReader::readU8(std::uint8_t* value) {
    return readNumber(*this, value);
}

bool BinReader::readU16(std::uint16_t* value) {
    return readNumber(*this, value);
}

bool BinReader::readU32(std::uint32_t* value) {
    return readNumber(*this, value);
}

bool BinReader::skip(std::size_t n) {
    return take(n, nullptr);
}

// The one place that checks a read against the end of the image.
bool BinReader::take(std::size_t n, std::span<const std::uint8_t>* bytes) {
    if (n > remaining()) {
        return false;
    }
    if (bytes) {
        *bytes = data_.subspan(pos_, n);
    }
    pos_ += n;
    return true;
}

}  // namespace scorecore
