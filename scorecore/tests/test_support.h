// Small helpers that several of the score library's tests share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scorecore/player_items.h"

namespace scorecore::testing {

// A TvrXML score whose DOCTYPE declares an entity bomb: each entity holds the
// one before it ten times, and the author's text names the last.
inline std::string entityBomb() {
    std::string xml = "<!DOCTYPE score [<!ENTITY e0 \"lollollol\">";
    for (int i = 1; i <= 9; ++i) {
        xml += "<!ENTITY e" + std::to_string(i) + " \"";
        for (int k = 0; k < 10; ++k) xml += "&e" + std::to_string(i - 1) + ";";
        xml += "\">";
    }
    return xml + "]><score xmlns=\"http://x/TvrXML/1.0\"><info><author>&e9;</author></info></score>";
}

// The 8 stored bytes of a player item, comparable with a list of bytes.
inline std::vector<std::uint8_t> bytesOf(const CPlayerItem& item) {
    const auto b = item.bytes();
    return {b.begin(), b.end()};
}

}  // namespace scorecore::testing
