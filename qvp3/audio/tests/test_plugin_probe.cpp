// Probing plug-ins in the helper process and scanning folders of them: sound
// plug-ins answer who they are; plug-ins that refuse, crash or hang are
// marked bad while this process goes on.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "platform/settings_store.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_audio/plugin_catalog.h"
#include "qvp3_audio/plugin_probe.h"
#include "qvp3_audio/plugin_scan.h"

namespace qvp3 {
namespace {

using namespace std::chrono_literals;

const std::filesystem::path kHelper = QVP3_VST_PROBE;
const std::filesystem::path kLsp = "/usr/lib/vst/lsp-plugins";

std::filesystem::path plugin(const std::string& name) {
    return std::filesystem::path(QVP3_TEST_PLUGIN_DIR) / (name + ".so");
}

std::int32_t testId(char variant) { return vst::fourCharCode('q', 'v', 't', variant); }

TEST(PlugInProbe, EachTestPlugInIsKnownOrMarkedBad) {
    platform::testing::TempFolder folder;
    std::ofstream(folder.path() / "text.so") << "not a library\n";
    const struct {
        std::filesystem::path path;
        PlugInProbeStatus status;
        char id;
        bool synth;
    } cases[] = {
        {plugin("gain"), PlugInProbeStatus::Ok, 'G', false},
        {plugin("synth"), PlugInProbeStatus::Ok, 'S', true},
        {plugin("mono"), PlugInProbeStatus::Ok, 'M', false},
        {plugin("main_only"), PlugInProbeStatus::Ok, 'O', false},
        {plugin("bad_magic"), PlugInProbeStatus::Refused, 0, false},
        {plugin("throws"), PlugInProbeStatus::Refused, 0, false},
        {plugin("crashes"), PlugInProbeStatus::Crashed, 0, false},
        {plugin("hangs"), PlugInProbeStatus::Hung, 0, false},
        {folder.path() / "text.so", PlugInProbeStatus::Refused, 0, false},
        {folder.path() / "missing.so", PlugInProbeStatus::Refused, 0, false},
    };
    for (const auto& c : cases) {
        const PlugInProbeResult r = audProbePlugIn(c.path, kHelper, 2000ms);
        EXPECT_EQ(r.status, c.status) << c.path << ": " << r.detail;
        EXPECT_EQ(r.bad(), c.status != PlugInProbeStatus::Ok) << c.path;
        if (c.status != PlugInProbeStatus::Ok) {
            EXPECT_FALSE(r.detail.empty()) << c.path;
            continue;
        }
        EXPECT_EQ(r.identity.displayName, "qvp3 " + c.path.stem().string());
        EXPECT_EQ(r.identity.vendor, "qvp3 tests");
        EXPECT_EQ(r.identity.uniqueId, testId(c.id));
        EXPECT_EQ(r.identity.isSynth(), c.synth) << c.path;
        EXPECT_EQ(r.identity.numPrograms, 2);
        EXPECT_EQ(r.identity.vstVersion, 2400);
    }
    const PlugInProbeResult noHelper = audProbePlugIn(plugin("gain"), folder.path() / "no-helper", 2000ms);
    EXPECT_EQ(noHelper.status, PlugInProbeStatus::NoHelper);
    EXPECT_FALSE(noHelper.bad()) << "a missing helper says nothing of the plug-in";
}

TEST(PlugInProbe, TheAnswerIsReadOnlyWhenWhole) {
    PlugInIdentity id;
    id.displayName = "Two\nlines";
    id.vendor = "V=endor";
    id.uniqueId = -5;
    id.flags = 0x131;
    const std::string answer = audFormatProbeAnswer(id);
    const auto back = audParseProbeAnswer(answer);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(back->displayName, "Two lines") << "an answer line stays one line";
    EXPECT_EQ(back->vendor, "V=endor");
    EXPECT_EQ(back->uniqueId, -5);
    EXPECT_TRUE(back->isSynth());

    EXPECT_TRUE(audParseProbeAnswer("qvp3-vstprobe 1\nfuture=7\nend\n").has_value()) << "unknown keys are passed over";
    for (const std::string& bad : {std::string(), answer.substr(0, answer.size() - 4), answer.substr(0, 40),
                                  std::string("qvp3-vstprobe 2\nend\n"), std::string("qvp3-vstprobe 1\nid=12x\nend\n"),
                                  std::string("qvp3-vstprobe 1\nrefused\n"), std::string("qvp3-vstprobe 1\nend")}) {
        EXPECT_FALSE(audParseProbeAnswer(bad).has_value()) << bad;
    }
}

TEST(PlugInProbe, TheCacheKeepsVerdictsUntilTheFileChanges) {
    platform::testing::TempFolder folder;
    platform::SettingsStore store(folder.path() / "config");
    CPlugInProbeCache cache(store);
    const auto crashes = folder.path() / "crashes.so";
    const auto gain = folder.path() / "gain.so";
    std::filesystem::copy_file(plugin("crashes"), crashes);
    std::filesystem::copy_file(plugin("gain"), gain);

    EXPECT_FALSE(cache.Lookup(gain).has_value());
    EXPECT_TRUE(cache.Check(gain, kHelper).ok());
    EXPECT_EQ(cache.Check(crashes, kHelper).status, PlugInProbeStatus::Crashed);
    // Known now: no helper is needed to answer again.
    const auto noHelper = folder.path() / "no-helper";
    EXPECT_TRUE(cache.Check(gain, noHelper).ok());
    const PlugInProbeResult bad = cache.Check(crashes, noHelper);
    EXPECT_EQ(bad.status, PlugInProbeStatus::Crashed);
    EXPECT_FALSE(bad.detail.empty());

    // A changed file is unknown again (an update may have mended it).
    std::filesystem::last_write_time(crashes, std::filesystem::last_write_time(crashes) + 10s);
    EXPECT_FALSE(cache.Lookup(crashes).has_value());
    EXPECT_EQ(cache.Check(crashes, noHelper).status, PlugInProbeStatus::NoHelper);
    EXPECT_FALSE(cache.Lookup(crashes).has_value()) << "a probe that learnt nothing is not kept";
}

// A folder as a user's plug-in folder looks: our plug-ins, sound and broken,
// other files, a sub-folder, capitals, and the outside plug-ins as links.
struct ScanFolder {
    platform::testing::TempFolder folder;
    bool outside = std::filesystem::exists(kLsp / "sampler-mono.so");
    ScanFolder() {
        const auto& root = folder.path();
        std::filesystem::create_directories(root / "more" / "deeper");
        for (const char* name : {"gain", "synth", "bad_magic", "crashes", "hangs"}) {
            std::filesystem::copy_file(plugin(name), root / (std::string(name) + ".so"));
        }
        std::filesystem::copy_file(plugin("mono"), root / "more" / "MONO.SO");
        std::filesystem::copy_file(plugin("synth"), root / "more" / "deeper" / "synth-copy.so");
        std::ofstream(root / "readme.txt") << "not a plug-in\n";
        if (outside) {
            std::filesystem::create_directories(root / "lsp");
            for (const char* name : {"loud-comp-stereo.so", "sampler-mono.so", "lsp-plugins-vst2-1.2.5.so"}) {
                if (std::filesystem::exists(kLsp / name)) std::filesystem::create_symlink(kLsp / name, root / "lsp" / name);
            }
        }
    }
};

TEST(PlugInScan, FindsEffectsAndInstrumentsAndMarksTheBadOnes) {
    ScanFolder scan;
    if (!scan.outside) std::cout << "lsp-plugins-vst is not installed: the scan sees our plug-ins only\n";
    platform::SettingsStore store(scan.folder.path() / "config");
    CPlugInProbeCache cache(store);
    std::vector<PlugInScanItem> found;
    std::atomic<bool> stop{false};
    ASSERT_EQ(audScanPlugInFolder(scan.folder.path(), cache, stop, [&](const PlugInScanItem& i) { found.push_back(i); },
                                  kPlugInExtension, kHelper, 2000ms),
              0);

    std::map<std::string, PlugInProbeResult> byName;
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(found[i].number, static_cast<int>(i));
        byName[found[i].path.lexically_relative(scan.folder.path()).string()] = found[i].probe;
    }
    const struct {
        const char* file;
        PlugInProbeStatus status;
        bool synth;
    } expected[] = {
        {"gain.so", PlugInProbeStatus::Ok, false},
        {"synth.so", PlugInProbeStatus::Ok, true},
        {"bad_magic.so", PlugInProbeStatus::Refused, false},
        {"crashes.so", PlugInProbeStatus::Crashed, false},
        {"hangs.so", PlugInProbeStatus::Hung, false},
        {"more/MONO.SO", PlugInProbeStatus::Ok, false},
        {"more/deeper/synth-copy.so", PlugInProbeStatus::Ok, true},
    };
    for (const auto& e : expected) {
        ASSERT_TRUE(byName.count(e.file)) << e.file;
        EXPECT_EQ(byName[e.file].status, e.status) << e.file << ": " << byName[e.file].detail;
        EXPECT_EQ(byName[e.file].identity.isSynth(), e.synth) << e.file;
        EXPECT_EQ(cache.Lookup(scan.folder.path() / e.file)->bad(), e.status != PlugInProbeStatus::Ok)
            << e.file << ": the verdict is kept";
    }
    EXPECT_FALSE(byName.count("readme.txt"));
    if (scan.outside) {
        EXPECT_TRUE(byName["lsp/loud-comp-stereo.so"].ok());
        EXPECT_FALSE(byName["lsp/loud-comp-stereo.so"].identity.isSynth());
        EXPECT_FALSE(byName["lsp/loud-comp-stereo.so"].identity.displayName.empty());
        EXPECT_NE(byName["lsp/loud-comp-stereo.so"].identity.uniqueId, 0);
        EXPECT_TRUE(byName["lsp/sampler-mono.so"].identity.isSynth());
        EXPECT_EQ(byName["lsp/lsp-plugins-vst2-1.2.5.so"].status, PlugInProbeStatus::Refused) << "a library, no plug-in";
    }

    // The plug-in page adds the instruments, once each.
    CPlugInCatalog catalog(store, scan.folder.path(), kHelper);
    for (int pass = 0; pass < 2; ++pass) {
        for (const auto& item : found) catalog.AddScannedInstrument(item.path, item.probe);
    }
    std::vector<std::string> names;
    for (const auto& e : catalog.instruments) {
        names.push_back(e.name);
        EXPECT_EQ(e.enabled, 0u) << "found instruments start switched off";
    }
    std::vector<std::string> want{"[VST]qvp3 tests: qvp3 synth"};
    if (scan.outside) want.push_back("[VST]LSP VST: " + byName["lsp/sampler-mono.so"].identity.displayName);
    std::sort(names.begin(), names.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(names, want) << "effects, bad plug-ins and a second copy of an instrument add nothing";
}

TEST(PlugInScan, StopsWhenAskedAndRefusesAMissingFolder) {
    ScanFolder scan;
    platform::SettingsStore store(scan.folder.path() / "config");
    CPlugInProbeCache cache(store);
    std::atomic<bool> stop{false};
    int seen = 0;
    audScanPlugInFolder(scan.folder.path(), cache, stop, [&](const PlugInScanItem&) { stop = ++seen == 2; },
                        kPlugInExtension, kHelper, 2000ms);
    EXPECT_EQ(seen, 2);
    EXPECT_EQ(audScanPlugInFolder(scan.folder.path() / "nowhere", cache, stop, [](const PlugInScanItem&) {}),
              kScanFolderMissing);
}

TEST(PlugInScan, ScannedNamesFollowVendorAndName) {
    PlugInIdentity id;
    EXPECT_EQ(CPlugInCatalog::ScannedInstrumentName(id), "[VST]??: ??");
    id.vendor = "Maker";
    id.displayName = "Strings";
    EXPECT_EQ(CPlugInCatalog::ScannedInstrumentName(id), "[VST]Maker: Strings");
}

}  // namespace
}  // namespace qvp3
