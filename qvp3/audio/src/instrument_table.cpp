// The sample library's instrument tables, read from their INI file.
#include "qvp3_audio/instrument_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <new>

#include "platform/ini_file.h"

namespace qvp3 {
namespace {

constexpr const char* kPercussionFallback = "Tamburin";

std::string lower(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

bool sameText(std::string_view a, std::string_view b) { return lower(a) == lower(b); }

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

// A number in 0 .. limit - 1 (the whole text); -1 for anything else.
int smallNumber(std::string_view text, int limit) {
    text = trim(text);
    int value = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < 0 || value >= limit) return -1;
    return value;
}

// Splits at any of the separators.
std::vector<std::string_view> split(std::string_view text, std::string_view separators) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || separators.find(text[i]) != std::string_view::npos) {
            parts.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

// The 128 note names in the sharp spelling, then in the flat one: keys 0-11
// "C3".."B3", 12-23 "C2".., 24-35 "C1".., 36-47 "C".."B", 48-59 "c".."b",
// 60-71 "c1".., up to 127 "g6".
const std::array<std::string, 256>& noteNames() {
    static const std::array<std::string, 256> names = [] {
        static const char* const sharps[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
        static const char* const flats[12] = {"C", "Db", "D", "Eb", "E", "F", "Gb", "G", "Ab", "A", "Bb", "B"};
        std::array<std::string, 256> table;
        for (unsigned i = 0; i < 256; ++i) {
            const unsigned key = i % 128;
            const unsigned octave = key / 12;  // 0 .. 10
            std::string name = (i < 128 ? sharps : flats)[key % 12];
            if (octave < 3) {
                name += std::to_string(3 - octave);
            } else if (octave > 3) {
                name[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
                if (octave > 4) name += std::to_string(octave - 4);
            }
            table[i] = std::move(name);
        }
        return table;
    }();
    return names;
}

}  // namespace

int CQvoInstrumentTable::noteKey(std::string_view name) {
    name = trim(name);
    if (name.empty()) return -1;
    const auto& names = noteNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name) return static_cast<int>(i % 128);
    }
    return -1;
}

std::string CQvoInstrumentTable::sectionInstrumentName(std::string_view section) {
    if (const std::size_t bar = section.find('|'); bar != std::string_view::npos) section.remove_prefix(bar + 1);
    std::string name(section);
    if (name.find("Wiener Konzerthaus-Orgel") != std::string::npos) {
        if (const std::size_t blank = name.rfind(' '); blank != std::string::npos) name.resize(blank);
    } else if (const std::size_t klavier = name.find("Klavier"); klavier != std::string::npos) {
        if (const std::size_t blank = name.find(' ', klavier); blank != std::string::npos) name.resize(blank);
    } else if (const std::size_t semicolon = name.find(';'); semicolon != std::string::npos) {
        name.resize(semicolon);
    } else if (const std::size_t comma = name.find(','); comma != std::string::npos) {
        name.resize(comma);
    }
    return std::string(trim(name));
}

CQvoInstrumentTable::CQvoInstrumentTable(const std::filesystem::path& programFolder) {
    load(programFolder / kQvoTableFile);
}

bool CQvoInstrumentTable::load(const std::filesystem::path& iniPath) {
    path_ = iniPath;
    instruments_.clear();
    for (QvoMapEntry& e : map_) e = QvoMapEntry{};
    platform::IniDocument ini;
    if (ini.load(iniPath) != platform::IniStatus::Ok) return false;
    try {
        for (const std::string& section : ini.sectionNames()) {
            const std::string name = sectionInstrumentName(section);
            if (name.empty()) continue;
            const int vstProgram = std::clamp(ini.getInt(section, "vstprogram", -1), -1, 32767);
            auto it = std::find_if(instruments_.begin(), instruments_.end(), [&](const QvoInstrument& i) {
                return sameText(i.name, name) && i.vstProgram == vstProgram;
            });
            if (it == instruments_.end()) {
                QvoInstrument instrument;
                instrument.name = name;
                instrument.vstProgram = static_cast<std::int16_t>(vstProgram);
                instrument.releaseAlways = sameText(trim(ini.getString(section, "releasesample", "")), "always");
                instruments_.push_back(std::move(instrument));
                it = std::prev(instruments_.end());
            }
            QvoProgram program;
            if (const auto given = ini.getString(section, "name"); given && !trim(*given).empty()) {
                program.name = std::string(trim(*given));
            }
            // The texts are kept while their parts are looked at.
            const std::string keys = ini.getString(section, "default", "");
            for (std::string_view key : split(keys, ",/")) {
                if (const int k = smallNumber(key, 128); k >= 0) program.keys[static_cast<std::size_t>(k)] = 1;
            }
            std::string controllers = ini.getString(section, "controler", "");
            if (controllers.empty()) controllers = ini.getString(section, "controller", "");
            for (std::string_view pair : split(controllers, ",")) {
                const std::size_t eq = pair.find('=');
                if (eq == std::string_view::npos) continue;
                const int c = smallNumber(pair.substr(0, eq), 128);
                const int v = smallNumber(pair.substr(eq + 1), 128);
                if (c >= 0 && v >= 0) program.controllers[static_cast<std::size_t>(c)] = static_cast<std::uint8_t>(v);
            }
            const std::string keyRange = ini.getString(section, "keyrange", "");
            const auto range = split(keyRange, ",");
            if (range.size() == 2) {
                program.lowKey = static_cast<std::int16_t>(noteKey(range[0]));
                program.highKey = static_cast<std::int16_t>(noteKey(range[1]));
            }
            it->programs.push_back(std::move(program));
        }
    } catch (const std::bad_alloc&) {
        // What was read so far stays.
    }
    return true;
}

std::vector<QvoListItem> CQvoInstrumentTable::FillInstrumentList() const {
    std::vector<QvoListItem> items;
    for (std::size_t i = 0; i < instruments_.size(); ++i) {
        if (!instruments_[i].visible) continue;
        char number[16];
        std::snprintf(number, sizeof number, "%02i-", static_cast<int>(i));
        items.push_back({number + instruments_[i].name, static_cast<int>(i)});
    }
    return items;
}

std::vector<QvoListItem> CQvoInstrumentTable::FillAllInstrumentsList() const {
    std::vector<QvoListItem> items;
    for (std::size_t i = 0; i < instruments_.size(); ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%02i-", static_cast<int>(i));
        items.push_back({number + instruments_[i].name, static_cast<int>(i)});
    }
    return items;
}

std::vector<QvoListItem> CQvoInstrumentTable::FillProgramList(int instrument) const {
    std::vector<QvoListItem> items;
    const QvoInstrument* entry = GetInstrument(instrument);
    if (entry == nullptr) return items;
    for (std::size_t p = 0; p < entry->programs.size(); ++p) items.push_back({entry->programs[p].name, static_cast<int>(p)});
    return items;
}

int CQvoInstrumentTable::FindInstrument(std::string_view name) const {
    for (const std::string& candidate : {std::string(name), sectionInstrumentName(name)}) {
        for (std::size_t i = 0; i < instruments_.size(); ++i) {
            if (sameText(instruments_[i].name, candidate)) return static_cast<int>(i);
        }
    }
    return -1;
}

int CQvoInstrumentTable::MapProgram(int program, std::string* name) const {
    int index = -1;
    if (program >= 0 && program < kQvoMapSize) index = map_[static_cast<std::size_t>(program)].instrument;
    if (index < 0 || GetInstrument(index) == nullptr) {
        index = -1;
        if (program >= 128) {
            index = FindInstrument(kPercussionFallback);
        } else if (program >= 0) {
            for (std::size_t i = 0; i < instruments_.size(); ++i) {
                if (instruments_[i].vstProgram == program && !instruments_[i].programs.empty()) {
                    index = static_cast<int>(i);
                    break;
                }
            }
        }
    }
    if (name != nullptr) {
        const QvoInstrument* entry = GetInstrument(index);
        *name = entry != nullptr ? entry->name.substr(0, 128) : std::string();
    }
    return index;
}

const QvoInstrument* CQvoInstrumentTable::FindInstrumentForKey(int key) const {
    if (key < 0 || key >= 128) return nullptr;
    for (const QvoInstrument& instrument : instruments_) {
        for (const QvoProgram& program : instrument.programs) {
            if (program.keys[static_cast<std::size_t>(key)] != 0) return &instrument;
        }
    }
    return nullptr;
}

const QvoInstrument* CQvoInstrumentTable::GetInstrument(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= instruments_.size()) return nullptr;
    return &instruments_[static_cast<std::size_t>(index)];
}

int CQvoInstrumentTable::GetVstProgram(std::string_view name) const {
    for (const QvoInstrument& instrument : instruments_) {
        if (instrument.visible && sameText(instrument.name, name)) return instrument.vstProgram;
    }
    return -1;
}

int CQvoInstrumentTable::ProgramLowKey(int percussionIndex) const {
    if (percussionIndex < 0 || percussionIndex >= kQvoMapSize) return -1;
    const QvoInstrument* instrument = GetInstrument(map_[static_cast<std::size_t>(percussionIndex)].instrument);
    if (instrument == nullptr || instrument->programs.empty()) return -1;
    return static_cast<std::uint8_t>(instrument->programs.front().lowKey);
}

}  // namespace qvp3
