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

bool BinReader::readU8(std::uint8_t* value) {
    if (!peek(value)) {
        return false;
    }
    ++pos_;
    return true;
}

bool BinReader::readU16(std::uint16_t* value) {
    if (remaining() < 2) {
        return false;
    }
    if (value) {
        *value = static_cast<std::uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    }
    pos_ += 2;
    return true;
}

bool BinReader::readU32(std::uint32_t* value) {
    if (remaining() < 4) {
        return false;
    }
    if (value) {
        *value = static_cast<std::uint32_t>(data_[pos_]) | (static_cast<std::uint32_t>(data_[pos_ + 1]) << 8) |
                 (static_cast<std::uint32_t>(data_[pos_ + 2]) << 16) |
                 (static_cast<std::uint32_t>(data_[pos_ + 3]) << 24);
    }
    pos_ += 4;
    return true;
}

bool BinReader::skip(std::size_t n) {
    if (n > remaining()) {
        return false;
    }
    pos_ += n;
    return true;
}

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
