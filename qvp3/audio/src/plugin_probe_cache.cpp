// The verdicts of plug-in probes, per file, in the settings store.
#include <charconv>
#include <string>
#include <system_error>

#include "platform/settings_store.h"
#include "qvp3_audio/plugin_probe.h"

namespace qvp3 {
namespace {

std::string cacheKeyPath() { return std::string(platform::kProgramSettingsKey) + "\\PlugInProbe"; }

// The file as it is now: size and modification time; empty when it is gone.
std::string fileStamp(const std::filesystem::path& plugin) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(plugin, ec);
    if (ec) return {};
    const auto time = std::filesystem::last_write_time(plugin, ec);
    if (ec) return {};
    return std::to_string(size) + "|" + std::to_string(time.time_since_epoch().count());
}

PlugInProbeStatus statusNamed(std::string_view name) {
    for (auto s : {PlugInProbeStatus::Refused, PlugInProbeStatus::Crashed, PlugInProbeStatus::Hung}) {
        if (name == audProbeStatusName(s)) return s;
    }
    return PlugInProbeStatus::Ok;
}

}  // namespace

std::optional<PlugInProbeResult> CPlugInProbeCache::Lookup(const std::filesystem::path& plugin) const {
    const platform::SettingsKey key = store_.openKey(platform::Hive::User, cacheKeyPath());
    const std::optional<std::string> value = key.readString(plugin.string());
    const std::string stamp = fileStamp(plugin);
    if (!value || stamp.empty()) return std::nullopt;
    // "<status>|<size>|<time>|<detail>"
    const std::size_t bar = value->find('|');
    if (bar == std::string::npos) return std::nullopt;
    const std::string rest = value->substr(bar + 1);
    if (rest.compare(0, stamp.size(), stamp) != 0 || rest.size() < stamp.size() + 1 || rest[stamp.size()] != '|') {
        return std::nullopt;  // the file changed since: unknown again
    }
    PlugInProbeResult result;
    result.status = statusNamed(std::string_view(*value).substr(0, bar));
    result.detail = rest.substr(stamp.size() + 1);
    return result;
}

void CPlugInProbeCache::Record(const std::filesystem::path& plugin, const PlugInProbeResult& result) {
    if (!result.ok() && !result.bad()) return;  // nothing was learnt
    const std::string stamp = fileStamp(plugin);
    if (stamp.empty()) return;
    platform::SettingsKey key = store_.createKey(platform::Hive::User, cacheKeyPath());
    std::string detail = result.detail;
    for (char& c : detail) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    key.writeString(plugin.string(), std::string(audProbeStatusName(result.status)) + "|" + stamp + "|" + detail);
}

PlugInProbeResult CPlugInProbeCache::Check(const std::filesystem::path& plugin, const std::filesystem::path& helper,
                                           std::chrono::milliseconds timeout) {
    if (auto known = Lookup(plugin)) return *known;
    return Probe(plugin, helper, timeout);
}

PlugInProbeResult CPlugInProbeCache::Probe(const std::filesystem::path& plugin, const std::filesystem::path& helper,
                                           std::chrono::milliseconds timeout) {
    PlugInProbeResult result = audProbePlugIn(plugin, helper, timeout);
    Record(plugin, result);
    return result;
}

}  // namespace qvp3
