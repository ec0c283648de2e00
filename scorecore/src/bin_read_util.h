// Shared plumbing of the binary score field readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "scorecore/bin_fields.h"
#include "scorecore/bin_reader.h"

namespace scorecore::binutil {

// Runs parse (a bool() callable) and turns it into a field reader's result:
// the bytes consumed, or 0 with the position restored when parse fails.
template <class Parse>
std::size_t consumed(BinReader& r, Parse&& parse) {
    const std::size_t start = r.position();
    if (!parse()) {
        r.seek(start);
        return 0;
    }
    return r.position() - start;
}

// The whole contract of a field reader: parse (a bool(T&) callable) fills a fresh T.
// On success the bytes consumed are returned and the value goes to *out when out is
// given; on failure 0, with the position restored and *out untouched.
template <class T, class Parse>
std::size_t readField(BinReader& r, T* out, Parse&& parse) {
    T value{};
    const std::size_t n = consumed(r, [&] { return parse(value); });
    if (n && out) {
        *out = std::move(value);
    }
    return n;
}

// A compact count of at least least things, then each (a bool() callable) once per
// thing. The count is bounded by the bytes left and sizes nothing. The position is not
// restored on failure: callers run this inside consumed or readField.
template <class Each>
bool readCounted(BinReader& r, Each&& each, std::uint32_t least = 0) {
    std::uint32_t count = 0;
    if (!scBinReadCount(r, &count) || count < least) {
        return false;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!each()) {
            return false;
        }
    }
    return true;
}

// A compact count without the bound on what follows (for indices).
bool readCompactRaw(BinReader& r, std::uint32_t* value);

// A sized block: its bytes as a view into the image (length checked first).
bool takeSizedBlock(BinReader& r, std::span<const std::uint8_t>* bytes);

inline std::string toString(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace scorecore::binutil
