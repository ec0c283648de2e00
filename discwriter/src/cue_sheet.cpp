#include "cue_sheet.h"

#include <cstdio>
#include <sstream>

namespace discwriter {
namespace {

constexpr int kMaxTracks = 99;
constexpr int kMaxMinutes = 99;

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::size_t j = i;
        if (line[i] == '"') {
            j = line.find('"', i + 1);
            if (j == std::string_view::npos) j = line.size();
            out.push_back(line.substr(i + 1, j - i - 1));
            i = j + 1;
            continue;
        }
        while (j < line.size() && line[j] != ' ' && line[j] != '\t') ++j;
        out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

// Digits only, at most `limit`.
std::optional<int> number(std::string_view text, int limit) {
    if (text.empty() || text.size() > 3) return std::nullopt;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v <= limit ? std::optional<int>(v) : std::nullopt;
}

std::optional<int> parseMsf(std::string_view text) {
    if (text.size() < 8 || text[text.size() - 3] != ':' || text[text.size() - 6] != ':') return std::nullopt;
    const auto m = number(text.substr(0, text.size() - 6), kMaxMinutes);
    const auto s = number(text.substr(text.size() - 5, 2), 59);
    const auto f = number(text.substr(text.size() - 2, 2), 74);
    if (!m || !s || !f) return std::nullopt;
    return (*m * 60 + *s) * 75 + *f;
}

bool fail(std::string& why, std::string text) {
    why = std::move(text);
    return false;
}

bool parseLine(const std::vector<std::string_view>& w, CueSheet& sheet, std::string& why) {
    const std::string_view key = w[0];
    if (key == "REM") return true;
    if (key == "FILE") {
        if (w.size() < 2 || !sheet.file.empty() || !sheet.tracks.empty()) return fail(why, "one FILE before the tracks");
        sheet.file = std::string(w[1]);
        return true;
    }
    if (key == "TRACK") {
        const auto n = w.size() >= 3 ? number(w[1], kMaxTracks) : std::nullopt;
        if (sheet.file.empty() || !n || *n != static_cast<int>(sheet.tracks.size()) + 1)
            return fail(why, "tracks must follow FILE, numbered from 1");
        CueTrack t;
        t.number = *n;
        t.audio = w[2] == "AUDIO";
        t.index1 = -1;
        sheet.tracks.push_back(t);
        return true;
    }
    if (sheet.tracks.empty()) return fail(why, std::string(key) + " outside a track");
    CueTrack& t = sheet.tracks.back();
    if (key == "FLAGS") {
        for (std::size_t i = 1; i < w.size(); ++i) {
            if (w[i] == "PRE") t.preemphasis = true;
            if (w[i] == "DCP") t.copyPermitted = true;
        }
        return true;
    }
    if (key == "INDEX") {
        const auto idx = w.size() >= 3 ? number(w[1], 99) : std::nullopt;
        const auto at = w.size() >= 3 ? parseMsf(w[2]) : std::nullopt;
        if (!idx || !at || *idx > 1) return fail(why, "bad INDEX line");
        (*idx == 0 ? t.index0 : t.index1) = *at;
        return true;
    }
    return fail(why, "unknown command " + std::string(key));
}

bool checkOrder(const CueSheet& sheet, std::string& why) {
    int previous = -1;
    for (const CueTrack& t : sheet.tracks) {
        if (t.index1 < 0) return fail(why, "a track without INDEX 01");
        const int first = t.index0 >= 0 ? t.index0 : t.index1;
        if (first > t.index1 || first <= previous) return fail(why, "index points do not rise");
        previous = t.index1;
    }
    return true;
}

}  // namespace

std::string formatMsf(int sectors) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", sectors / 75 / 60, sectors / 75 % 60, sectors % 75);
    return text;
}

std::string writeCueSheet(const CueSheet& sheet) {
    std::ostringstream out;
    out << "FILE \"" << sheet.file << "\" BINARY\r\n";
    for (const CueTrack& t : sheet.tracks) {
        char number[8];
        std::snprintf(number, sizeof number, "%02d", t.number);
        out << "  TRACK " << number << (t.audio ? " AUDIO" : " MODE1/2048") << "\r\n";
        if (t.audio && (t.preemphasis || t.copyPermitted))
            out << "    FLAGS" << (t.copyPermitted ? " DCP" : "") << (t.preemphasis ? " PRE" : "") << "\r\n";
        if (t.index0 >= 0) out << "    INDEX 00 " << formatMsf(t.index0) << "\r\n";
        out << "    INDEX 01 " << formatMsf(t.index1) << "\r\n";
    }
    return out.str();
}

std::optional<CueSheet> parseCueSheet(std::string_view text, std::string& why) {
    CueSheet sheet;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const auto w = words(line);
        if (w.empty()) continue;
        if (!parseLine(w, sheet, why)) return std::nullopt;
    }
    if (sheet.tracks.empty()) {
        why = "no tracks";
        return std::nullopt;
    }
    if (!checkOrder(sheet, why)) return std::nullopt;
    return sheet;
}

}  // namespace discwriter
