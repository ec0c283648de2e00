// A bounded cursor over the memory image of a binary score file. Every field
// reader works on one: a read that would run past the end of the image fails
// and leaves the position where it was, so a broken or truncated file can
// never make a reader look beyond the bytes it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace scorecore {

class BinReader {
public:
    BinReader() = default;
    // The reader does not own the bytes; they must outlive it.
    explicit BinReader(std::span<const std::uint8_t> data, std::size_t position = 0);

    std::size_t size() const { return data_.size(); }
    std::size_t position() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }
    bool atEnd() const { return pos_ == data_.size(); }

    // Moves to an absolute position; false (and no move) beyond the end.
    bool seek(std::size_t position);

    // The next byte without consuming it; false at the end.
    bool peek(std::uint8_t* value) const;

    // Little-endian reads; value may be null to skip. False (and no move)
    // when the image holds fewer bytes than the read needs.
    bool readU8(std::uint8_t* value);
    bool readU16(std::uint16_t* value);
    bool readU32(std::uint32_t* value);

    // Moves on n bytes; false (and no move) when fewer remain.
    bool skip(std::size_t n);

    // The next n bytes as a view into the image, consumed; false (and no
    // move) when fewer remain.
    bool take(std::size_t n, std::span<const std::uint8_t>* bytes);

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

}  // namespace scorecore
