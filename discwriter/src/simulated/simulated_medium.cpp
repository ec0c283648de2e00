#include "simulated/simulated_medium.h"

#include <array>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

#include "cue_sheet.h"
#include "discwriter/discwriter.h"
#include "platform/ini_file.h"

namespace discwriter {
namespace {

constexpr const char* kSection = "Medium";
constexpr std::size_t kMaxCueBytes = 64 * 1024;

const std::array<std::pair<int, const char*>, 11> kTypeNames = {{
    {0, "none"}, {kMediaCdRom, "cd-rom"}, {kMediaCdR, "cd-r"}, {kMediaCdRw, "cd-rw"},
    {kMediaDvdRom, "dvd-rom"}, {kMediaDvdRam, "dvd-ram"}, {kMediaDvdPlusR, "dvd+r"},
    {kMediaDvdPlusRw, "dvd+rw"}, {kMediaDvdPlusRDualLayer, "dvd+r-dl"}, {kMediaDvdDashR, "dvd-r"},
    {kMediaDvdDashRw, "dvd-rw"},
}};

std::optional<std::string> readSmallFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(kMaxCueBytes + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kMaxCueBytes) return std::nullopt;
    return text;
}

std::vector<SimulatedTrack> tracksOf(const CueSheet& sheet, int imageSectors) {
    std::vector<SimulatedTrack> tracks;
    for (std::size_t i = 0; i < sheet.tracks.size(); ++i) {
        const CueTrack& c = sheet.tracks[i];
        SimulatedTrack t;
        t.number = c.number;
        t.audio = c.audio;
        t.start = c.index1;
        t.pregapStart = c.index0 >= 0 ? c.index0 : c.index1;
        int end = imageSectors;
        if (i + 1 < sheet.tracks.size()) {
            const CueTrack& next = sheet.tracks[i + 1];
            end = next.index0 >= 0 ? next.index0 : next.index1;
        }
        t.length = end > t.start ? end - t.start : 0;
        t.preemphasis = c.preemphasis;
        t.copyPermitted = c.copyPermitted;
        tracks.push_back(t);
    }
    return tracks;
}

}  // namespace

int mediaTypeFromName(const std::string& name) {
    for (const auto& [type, text] : kTypeNames)
        if (name == text) return type;
    return -1;
}

std::string mediaTypeName(int type) {
    for (const auto& [t, text] : kTypeNames)
        if (t == type) return text;
    return "none";
}

SimulatedMedium::SimulatedMedium(std::filesystem::path folder) : folder_(std::move(folder)) {}

MediumState SimulatedMedium::load() const {
    platform::IniDocument ini;
    ini.load(folder_ / "medium.ini");
    MediumState s;
    const int type = mediaTypeFromName(ini.getString(kSection, "Type", "cd-r"));
    s.type = type < 0 ? 0 : type;
    s.capacity = std::max(0, ini.getInt(kSection, "Capacity", s.capacity));
    s.trayOpen = ini.getString(kSection, "Tray", "closed") == "open";
    s.becomingReady = std::max(0, ini.getInt(kSection, "BecomingReady", 0));
    s.finalized = ini.getInt(kSection, "Finalized", 0) != 0;
    return s;
}

bool SimulatedMedium::save(const MediumState& s) const {
    platform::IniDocument ini;
    ini.load(folder_ / "medium.ini");
    ini.setString(kSection, "Type", mediaTypeName(s.type));
    ini.setInt(kSection, "Capacity", s.capacity);
    ini.setString(kSection, "Tray", s.trayOpen ? "open" : "closed");
    ini.setInt(kSection, "BecomingReady", s.becomingReady);
    ini.setInt(kSection, "Finalized", s.finalized ? 1 : 0);
    return ini.save(folder_ / "medium.ini") == platform::IniStatus::Ok;
}

HResult SimulatedMedium::query(int& type) const {
    MediumState s = load();
    if (s.trayOpen || s.type == 0) return DISCWRITER_E_MEDIA_NO_MEDIA;
    if (s.becomingReady > 0) {
        --s.becomingReady;
        save(s);
        return DISCWRITER_E_MEDIA_BECOMING_READY;
    }
    type = s.type;
    return DISCWRITER_S_OK;
}

bool SimulatedMedium::blank() const {
    std::error_code ec;
    return !std::filesystem::exists(cuePath(), ec);
}

std::optional<SimulatedDisc> SimulatedMedium::disc(HResult& error) const {
    error = DISCWRITER_S_OK;
    if (blank()) return std::nullopt;
    std::string why;
    const auto text = readSmallFile(cuePath());
    const auto sheet = text ? parseCueSheet(*text, why) : std::nullopt;
    if (!sheet || sheet->file.find('/') != std::string::npos) {
        error = DISCWRITER_E_FAIL;
        return std::nullopt;
    }
    SimulatedDisc d;
    d.image = folder_ / sheet->file;
    d.sectorBytes = sheet->tracks.front().audio ? DISCWRITER_SECTOR_BYTES : 2048;
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(d.image, ec);
    const std::uint64_t sectors = ec ? 0 : bytes / static_cast<std::uint64_t>(d.sectorBytes);
    d.leadOut = static_cast<int>(std::min<std::uint64_t>(sectors, 100u * 60u * 75u));
    d.tracks = tracksOf(*sheet, d.leadOut);
    return d;
}

bool SimulatedMedium::wipe() const {
    std::error_code ec;
    for (const char* name : {"disc.cue", "disc.bin", "disc.iso"}) std::filesystem::remove(folder_ / name, ec);
    return !std::filesystem::exists(cuePath(), ec);
}

}  // namespace discwriter
