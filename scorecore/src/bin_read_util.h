// Shared plumbing of the binary score field readers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

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

// A compact count without the bound on what follows (for indices).
bool readCompactRaw(BinReader& r, std::uint32_t* value);

// A sized block: its bytes as a view into the image (length checked first).
bool takeSizedBlock(BinReader& r, std::span<const std::uint8_t>* bytes);

inline std::string toString(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

}  // namespace scorecore::binutil
