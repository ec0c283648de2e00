#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <map>
#include <optional>
#include <random>

#include "platform/ini_file.h"
#include "project_file_support.h"
#include "qvp3_project/project_folder.h"

namespace qvp3 {
namespace {

using platform::testing::TempFolder;
using namespace qvp3::testing;
using Shape = FakePipeline::Shape;
using Changes = std::map<std::string, std::optional<std::string>>;

// --- small hand-written files ------------------------------------------------------------

constexpr const char* kHeaderKeys[][2] = {
    {"qvp3", "1"},
    {"ProjectFolder", "C:\\Users\\x\\Noten\\Proj"},
    {"ProjectLastStep", "4"},
    {"AddPath", "0"},
    {"FileNum", "0"},
    {"ProjectTitle", "Proj"},
    {"ProjectDescription", "Beschreibung"},
    {"CatInstrumentSize", "0"},
    {"CatEnsemble", ""},
    {"ProjectDirty", "0"},
    {"ProjectMidiOverwrite", "0"},
    {"ProjectMidiConvertAll", "1"},
    {"Normalize", "2"},
    {"ProjectWaveOverwrite", "0"},
    {"ProjectWaveConvertAll", "1"},
    {"ProjectBurnMethod", "-1"},
    {"ProjectBurningSpeed", "0"},
    {"ProjectCDCopies", "1"},
    {"ProjectOpenTray", "1"},
    {"ProjectBurnProof", "0"},
    {"ProjectBurnSimulate", "0"},
    {"ProjectBurnMP3Folder", ""},
    {"ProjectRemoveMidis", "0"},
    {"ProjectRemoveWaves", "0"},
    {"CDSpace", "4755"},
};

// A header as the Windows system writes it; changes replace values, remove
// keys (nothing) or add keys.
std::string headerText(Changes changes = {}) {
    std::string text = "[zq1 Project File]\r\n";
    for (const auto& [key, value] : kHeaderKeys) {
        std::optional<std::string> v = std::string(value);
        if (auto it = changes.find(key); it != changes.end()) {
            v = it->second;
            changes.erase(it);
        }
        if (v) text += std::string(key) + "=" + *v + "\r\n";
    }
    for (const auto& [key, value] : changes) {
        if (value) text += key + "=" + *value + "\r\n";
    }
    return text;
}

std::string sectionText(int number, std::initializer_list<std::string> lines) {
    std::string text = "[Project File " + std::string(number < 10 ? "0" : "") + std::to_string(number) + "]\r\n";
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

// The keys of an entry section that make it complete (no codes).
std::string completeEntry(int number, const std::string& filename) {
    return sectionText(number, {"Filename=" + filename, "Pause=2", "Transpose=0", "TempoAbsolute=-1",
                                "TempoRelative=1000", "TempoIsRelative=1", "MetrCountIn=2", "MetrUseIt=1",
                                "MetrNote=42", "MetrVelocity=85", "MetrFirstBeat=1", "MetrVolume=127"});
}

std::vector<std::uint8_t> randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

// --- a full project -------------------------------------------------------------------------

void shapeFullProject(Studio& studio) {
    shapeFixtureSources(studio);
    studio.pipeline.shapes["Gavotte.mid"] = Shape{EntryKind::Midi, {2, 1, 1}, {}, 45000};
    studio.pipeline.shapes["Fuge.tvr"] = Shape{EntryKind::BinaryScore, {3, 3, 2}, {}, 120000};
    studio.pipeline.shapes["Partita.tvrx"] = Shape{EntryKind::TvrXml, {1, 1}, {}, 150000};
    studio.pipeline.shapes["Etüde.tvrx"] = Shape{EntryKind::TvrXml, {2}, {}, 70000};
}

ProjectEntry& openSource(Studio& studio, const fs::path& file, const fs::path& orig = {}) {
    writeBytes(file, "source " + file.filename().string());
    ProjectEntry entry;
    studio.pipeline.cnvEntryInit(entry, studio.project);
    entry.Filename = file;
    entry.FilenameOrig = orig;
    const int result = studio.pipeline.cnvOpenEntry(entry, studio.project.fileNum() + 1, studio.project);
    EXPECT_EQ(result, 0) << file;
    return studio.project.entries.back();
}

// Every voice setting the file carries, away from its default, on every staff.
void setStaffSettings(PipelineServices& pipeline, ProjectEntry& e, int seed) {
    for (std::size_t s = 0; s < e.voiceCounts.size(); ++s) {
        const int staff = static_cast<int>(s);
        bool anyOn = false;
        const bool percussion = pipeline.cnvEntryIsPercussionStave(e, staff);
        for (int v = 0; v < e.voiceCounts[s]; ++v) {
            const int state = (seed + staff + v) % 3;  // hidden, off, on
            anyOn = anyOn || state == scorecore::kStateOn;
            pipeline.cnvEntrySetVoiceOnOff(e, staff, v, state);
            pipeline.cnvEntrySetVoiceVolume(e, 60 + seed + v, staff, v);
            pipeline.cnvEntrySetVoicePanorama(e, 10 * staff + v + seed, staff, v);
            pipeline.cnvEntrySetVoiceChannel(e, v, (seed + staff + v) % 16, staff);
            if (!percussion) pipeline.cnvEntrySetVoiceSound(e, seed * 3 + v, staff, v);
        }
        if (percussion) {
            for (std::size_t n = 0; n < e.instruments[s].size(); ++n) {
                pipeline.cnvEntrySetInstrumentName(e, static_cast<int>(n), n == 0 ? "Bass Drum" : "Hi-Hat offen",
                                                   staff);
                e.instruments[s][n].PercNote = static_cast<std::uint8_t>(n == 0 ? 36 : 46);
            }
        }
        e.states.setStaffOnOff(staff, anyOn ? scorecore::kStateOn : scorecore::kStateOff, false);
        if (e.kind == EntryKind::Midi) {
            e.staffVelocity[s] = static_cast<std::int8_t>(s == 0 ? -20 : 90 + staff);
            e.staffVelocityRelative[s] = s == 0 ? 1 : 0;
        }
    }
}

// The metronome, tune-up and sample-library records, away from their defaults.
void setStepRecords(ProjectEntry& e, int seed) {
    scorecore::CMetronom& m = e.metronome;
    m.CountIn = seed % 5;
    m.Use = seed % 2;
    m.Instrument = static_cast<std::uint8_t>(30 + seed);
    m.Velocity = static_cast<std::uint8_t>(60 + seed);
    m.FirstBeat = (seed + 1) % 2;
    m.Volume = static_cast<std::uint8_t>(90 + seed);
    m.Frequency = seed % 5;
    m.LastBeat = m.Frequency == 0 ? 1 : seed % 2;
    scorecore::CEinstimmung& t = e.tuneUp;
    t.ChordGrundton = seed % 12;
    t.ChordDurMoll = seed % 2;
    t.ChordOctave = 3 + seed % 4;
    t.deleteVoiceList();
    if (seed % 3 != 0) {
        t.addSelectedVoice(0x10000);
        t.addSelectedVoice(seed);
    }
    t.FirstNotesFromTop = seed % 2;
    t.Type = seed % 3;
    t.Duration = 500 + seed * 100;
    t.Zerlegt = seed % 2;
    t.Tempo = seed % 4;
    t.Sounding = (seed + 1) % 2;
    t.Volume = static_cast<std::uint8_t>(70 + seed);
    t.Instrument = seed % 2 == 0 ? -1 : seed;
    const auto qvo = randomBytes(kQvoAssignmentSize, static_cast<unsigned>(seed));
    std::copy(qvo.begin(), qvo.end(), e.qvoAssignment.begin());
}

// A tempo curve away from its defaults, with recorded points.
void setTempoCurve(Studio& studio, ProjectEntry& e, int seed) {
    TempoCurve& c = e.tempoCurve;
    c.minimum = 30 + seed;
    c.maximum = 250 + seed;
    c.recordTempo = c.minimum;  // not stored: a curve read back starts at its minimum
    c.fileTempos = seed % 2 == 0;
    c.showTempos = seed % 2 == 1;
    c.record = seed % 3 == 0;
    studio.pages.stpTempoCurveSetSpeed(c, 700 + 100 * seed);
    // More points than one stored chunk holds.
    const int points = seed == 2 ? 800 : seed;
    for (int i = 0; i < points; ++i) {
        TempoPoint p;
        p.position = static_cast<std::uint32_t>(i * 480);
        p.spare = static_cast<std::uint32_t>(i);
        p.tempo = 60.5 + i;
        p.time = i * 0.25;
        p.extra = i % 7 == 0 ? 1.5 : 0.0;
        p.kind = 1;
        p.tag = i % 3;
        c.points[TempoCurve::kRecordedList].push_back(p);
    }
}

// Every setting the file carries, away from its default, on every voice.
void setEntrySettings(Studio& studio, ProjectEntry& e, int seed) {
    PipelineServices& pipeline = studio.pipeline;
    e.Pause = seed % 11;
    e.ConvertForQvo = seed % 2;
    e.TempoAbsolute = seed % 3 == 0 ? -1 : 80 + seed;
    e.TempoRelative = 900 + seed * 10;
    e.TempoIsRelative = seed % 2;
    e.TransposePercussion = (seed + 1) % 2;
    e.Reverb = seed % 2 == 0 ? "Großer Saal" : "Kleiner Raum";
    e.ReverbType = seed % 4;
    setStaffSettings(pipeline, e, seed);
    pipeline.cnvEntrySetTranspose(e, seed % 2 == 0 ? -3 : 5);
    if (e.kind == EntryKind::Midi) {
        for (std::size_t t = 1; t < e.trackNames.size(); ++t)
            e.trackNames[t] = t == 2 ? "" : "Spur " + std::to_string(t);
    } else if (seed % 4 != 1) {
        e.tuneSections.SetDynamic({{"pp", "30"}, {"ff", std::to_string(100 + seed)}});
        e.tuneSections.SetArtic({{"staccato", "50"}});
        e.tuneSections.SetTrills({{"speed", std::to_string(seed)}});
        e.tuneSections.UseDynamic = 1;
        e.tuneSections.UseTrills = seed % 2;
    }
    e.tuneSections.UseSwing = e.kind == EntryKind::Midi ? 0 : (seed + 1) % 2;
    setStepRecords(e, seed);
    setTempoCurve(studio, e, seed);
}

void useSamplePlayer(ProjectEntry& e, int seed) {
    e.MWConversionMethod = 1;
    prjSetEntrySampler(e, "Konzertflügel", -1);
    e.OutDevSampler = "ASIO: Karte " + std::to_string(seed);
    e.reverbData = randomBytes(30000 + static_cast<std::size_t>(seed), static_cast<unsigned>(seed) + 100);
    e.samplerSetup = randomBytes(70000, static_cast<unsigned>(seed) + 200);
    e.samplerSetupName = "Setup " + std::to_string(seed);
    e.samplerSetupType = 0;
}

void buildFullProject(Studio& studio, const fs::path& folder, const fs::path& elsewhere) {
    shapeFullProject(studio);
    Project& p = studio.project;
    p.data.ProjectFolder = folder;
    p.data.ProjectTitle = "Sonaten für Cembalo";
    p.data.ProjectDescription = "Übungsprojekt – Frühjahr";
    p.data.CDSpace = 4755;
    p.filePath = folder / "Sonaten.c-1";
    p.CatInstrument = "3;12;7";
    p.CatEnsemble = "Kammermusik";
    p.currentStep = 5;
    p.addPath = 1;
    p.midiOverwrite = 1;
    p.midiConvertAll = 0;
    p.removeMidis = 1;
    p.waveOverwrite = 1;
    p.waveConvertAll = 0;
    p.removeWaves = 1;
    p.normalize = 1;
    p.burnMethod = 3;
    p.burningSpeed = 8;
    p.cdCopies = 4;
    p.openTray = 0;
    p.burnProof = 1;
    p.burnSimulate = 1;
    const auto mp3 = randomBytes(kMp3ConfigSize, 7);
    std::copy(mp3.begin(), mp3.end(), p.mp3Config.begin());
    p.mp3Folder = folder / "mp3";

    writeBytes(elsewhere / "Partita.xml", "<score-partwise/>");
    writeBytes(folder / "Sonate.xml", "<score-partwise/>");
    openSource(studio, folder / "Menuett.mid");
    openSource(studio, folder / "Gavotte.mid");
    openSource(studio, folder / "Präludium.tvr");
    openSource(studio, folder / "Fuge.tvr");
    openSource(studio, folder / "Sonate.tvrx", folder / "Sonate.xml");
    openSource(studio, folder / "Partita.tvrx", elsewhere / "Partita.xml");
    openSource(studio, folder / "Rhythmus.tvrx");
    openSource(studio, folder / "Etüde.tvrx");
    for (std::size_t i = 0; i < p.entries.size(); ++i) setEntrySettings(studio, p.entries[i], static_cast<int>(i));
    useSamplePlayer(p.entries[1], 1);
    useSamplePlayer(p.entries[2], 2);
    p.dirty = kDirtyWaveDone | kDirtyMidiDone | 0x15;  // after the setters, which mark the step changed
}

TEST(ProjectFileRoundTrip, FullProjectReadsBackAsTheSameRecordAndTheSameFile) {
    TempFolder tmp;
    const fs::path folder = tmp.path() / "Sonaten";
    Studio original;
    buildFullProject(original, folder, tmp.path() / "Noten");
    ASSERT_TRUE(prjWriteFile(original.project));
    const std::string first = readBytes(folder / "Sonaten.c-1");

    Studio reread;
    shapeFullProject(reread);
    ASSERT_TRUE(reread.read(folder / "Sonaten.c-1", true));
    EXPECT_TRUE(reread.codes.empty()) << ::testing::PrintToString(reread.codes);
    EXPECT_TRUE(reread.names.empty());
    EXPECT_EQ(describe(reread.project), describe(original.project));
    for (std::size_t i = 0; i < original.project.entries.size(); ++i) {
        const ProjectEntry& a = original.project.entries[i];
        const ProjectEntry& b = reread.project.entries[i];
        EXPECT_EQ(a.reverbData, b.reverbData) << i;
        EXPECT_EQ(a.samplerSetup, b.samplerSetup) << i;
        EXPECT_EQ(a.tempoCurve.points[TempoCurve::kRecordedList], b.tempoCurve.points[TempoCurve::kRecordedList]) << i;
    }
    EXPECT_EQ(reread.project.mp3Config, original.project.mp3Config);
    EXPECT_EQ(reread.project.previousStep, -1);
    EXPECT_EQ(reread.shell.closeCount, 1);
    EXPECT_EQ(reread.pages.calls.back(), "refresh SLF");

    // The blobs beyond one stored value are chunked.
    platform::IniDocument document;
    ASSERT_EQ(document.load(folder / "Sonaten.c-1"), platform::IniStatus::Ok);
    EXPECT_EQ(document.getInt("Project File 03", "smpAssignment-Size", 0), 3);
    EXPECT_EQ(document.getInt("Project File 03", "TPPRecTempos-Size", 0), 2);
    EXPECT_EQ(document.getInt("Project File 02", "ReverbData-Size", 0), 2);
    EXPECT_EQ(document.getString("zq1 Project File", "ProjectDirty", ""), "-1073741803");

    const fs::path again = folder / "again.c-1";
    ASSERT_TRUE(prjWriteFile(reread.project, &again));
    EXPECT_EQ(readBytes(again), first);
    EXPECT_EQ(reread.project.filePath, folder / "Sonaten.c-1") << "a copy written elsewhere is not the project file";
}

TEST(ProjectFileRoundTrip, WindowsMadeFileReadsTheSameInBothEncodings) {
    TempFolder tmp;
    Studio ansi;
    Studio wide;
    shapeFixtureSources(ansi);
    shapeFixtureSources(wide);
    const fs::path ansiFile = placeFixture(tmp.path() / "Sonaten", "windows_1252.c-1", "Sonaten.c-1", kWindowsSources);
    const fs::path wideFile = placeFixture(tmp.path() / "Sonaten", "windows_utf16.c-1", "Wide.c-1", {});
    ASSERT_TRUE(ansi.read(ansiFile));
    ASSERT_TRUE(wide.read(wideFile));
    EXPECT_TRUE(ansi.codes.empty()) << ::testing::PrintToString(ansi.codes);
    EXPECT_EQ(describe(ansi.project), describe(wide.project));

    const Project& p = ansi.project;
    const fs::path folder = tmp.path() / "Sonaten";
    EXPECT_EQ(p.data.ProjectTitle, "Sonaten für Cembalo");
    EXPECT_EQ(p.data.ProjectDescription, "Übungsprojekt – Frühjahr");
    EXPECT_EQ(p.data.ProjectFolder, folder) << "the folder is the file's own";
    EXPECT_EQ(p.mp3Folder, folder) << "a Windows MP3 folder names no folder here";
    EXPECT_EQ(p.CatInstrument, "3;12;7");
    EXPECT_EQ(p.dirty, 0x80000001u);
    EXPECT_EQ(p.currentStep, 9);
    EXPECT_EQ(p.cdCopies, 2);
    EXPECT_EQ(p.mp3Config[1], 0x01);
    ASSERT_EQ(p.fileNum(), 4);

    const ProjectEntry& midi = p.entries[0];
    EXPECT_EQ(midi.Filename, folder / "Menuett.mid") << "found in the project folder by its name";
    EXPECT_EQ(midi.trackNames[1], "Flöte");
    EXPECT_EQ(midi.trackNames[2], "") << "\"0\" stands for no name";
    EXPECT_EQ(midi.staffVelocity[0], -10);
    EXPECT_EQ(midi.staffVelocityRelative[1], 0);
    EXPECT_EQ(midi.voices[0].transposition, -2);
    EXPECT_EQ(midi.TempoRelative, 1100);

    const ProjectEntry& score = p.entries[1];
    EXPECT_EQ(score.kind, EntryKind::BinaryScore);
    EXPECT_EQ(score.MWConversionMethod, 1);
    EXPECT_EQ(score.Reverb, "Großer Saal");
    EXPECT_EQ(score.reverbData.size(), 64u);
    EXPECT_EQ(score.samplerSetupName, "Flügel hell");
    EXPECT_EQ(score.samplerSetup.size(), 48u);
    EXPECT_EQ(score.states.getVoiceOnOff(0, 1), scorecore::kStateHidden);
    EXPECT_EQ(score.instruments[1][0].UserProgram, 40);
    EXPECT_EQ(score.instruments[0][1].Channel, 3);
    EXPECT_EQ(score.tuneSections.dynamic.size(), 4u);
    EXPECT_EQ(score.tuneSections.trills, (IniSectionLines{{"speed", "8"}}));
    EXPECT_EQ(score.tuneUp.voices, (std::vector<std::int32_t>{1, 65536}));

    const ProjectEntry& converted = p.entries[2];
    EXPECT_EQ(converted.FilenameOrig, folder / "Sonate.xml") << "a Windows source not found is looked for here";
    ASSERT_EQ(converted.tempoCurve.points[TempoCurve::kRecordedList].size(), 2u);
    EXPECT_EQ(converted.tempoCurve.points[TempoCurve::kRecordedList][1].tempo, 104.5);
    EXPECT_EQ(converted.tempoCurve.speed, 1200);
    EXPECT_EQ(converted.tempoCurve.recordTempo, 40) << "the current tempo is kept within the curve";
    EXPECT_TRUE(converted.tuneSections.artic.empty());

    const ProjectEntry& drums = p.entries[3];
    EXPECT_EQ(drums.instruments[1][0].InstrumentId, "Bass Drum");
    EXPECT_EQ(drums.instruments[1][0].PercNote, 36);
    EXPECT_EQ(drums.instruments[1][1].InstrumentId, "Hi-Hat geschlossen");
    EXPECT_EQ(drums.instruments[1][1].PercNote, 42);
    EXPECT_EQ(drums.metronome.Frequency, 3);
    EXPECT_EQ(drums.metronome.LastBeat, 0);
}

// --- header ------------------------------------------------------------------------------------

// A project that is open with one entry, so that a refused file can be seen to change nothing.
void openSomething(Studio& studio, const fs::path& folder) {
    writeBytes(folder / "Open.c-1",
               headerText({{"FileNum", "1"}, {"ProjectTitle", "Offen"}}) + completeEntry(1, "C:\\x\\Alt.tvrx"));
    writeBytes(folder / "Alt.tvrx", "x");
    ASSERT_TRUE(studio.read(folder / "Open.c-1"));
    ASSERT_EQ(studio.project.fileNum(), 1);
}

TEST(ProjectFileHeader, AMissingOrInvalidRequiredKeyLeavesTheOpenProjectAsItWas) {
    const Changes cases[] = {
        {{"ProjectTitle", std::nullopt}},
        {{"ProjectTitle", ""}},
        {{"ProjectMidiOverwrite", ""}},
        {{"ProjectMidiConvertAll", std::nullopt}},
        {{"Normalize", std::nullopt}},
        {{"ProjectWaveOverwrite", std::nullopt}},
        {{"ProjectWaveConvertAll", ""}},
        {{"ProjectBurningSpeed", "-1"}},
        {{"ProjectCDCopies", std::nullopt}},
        {{"ProjectOpenTray", std::nullopt}},
        {{"ProjectBurnProof", std::nullopt}},
        {{"ProjectBurnSimulate", std::nullopt}},
        {{"ProjectRemoveMidis", std::nullopt}},
        {{"ProjectRemoveWaves", "-1"}},
        {{"CDSpace", std::nullopt}},
        {{"CDSpace", "0"}},
        {{"CDSpace", "-600"}},
    };
    TempFolder tmp;
    Studio studio;
    openSomething(studio, tmp.path());
    const std::string before = describe(studio.project);
    for (const Changes& change : cases) {
        Changes withEntry = change;
        withEntry["FileNum"] = "1";
        writeBytes(tmp.path() / "Bad.c-1", headerText(withEntry) + completeEntry(1, "Alt.tvrx"));
        EXPECT_FALSE(studio.read(tmp.path() / "Bad.c-1")) << change.begin()->first;
        EXPECT_EQ(studio.codes, std::vector<std::int32_t>{kPrjHeaderInvalid});
        EXPECT_TRUE(studio.names.empty());
        EXPECT_EQ(describe(studio.project), before) << change.begin()->first;
        EXPECT_EQ(studio.project.filePath, tmp.path() / "Open.c-1");
    }
    EXPECT_EQ(studio.shell.closeCount, 1) << "only the good file closed the project";

    EXPECT_FALSE(studio.read(tmp.path() / "Missing.c-1"));
    EXPECT_EQ(studio.codes, std::vector<std::int32_t>{kPrjFileNotFound});
    EXPECT_EQ(describe(studio.project), before);
}

TEST(ProjectFileHeader, KeysThatMayBeMissingTakeTheirDefaults) {
    struct Case {
        Changes change;
        std::string description;
        int step;
        bool midiOverwrite;
        std::uint8_t addPath;
    } cases[] = {
        {{}, "Beschreibung", 4, false, 0},
        {{{"ProjectDescription", std::nullopt}, {"AddPath", std::nullopt}}, "S157", 4, false, 1},
        {{{"ProjectLastStep", "18"}}, "Beschreibung", 0, false, 0},
        {{{"ProjectLastStep", std::nullopt}}, "Beschreibung", 0, false, 0},
        {{{"ProjectLastStep", "-1"}}, "Beschreibung", -1, false, 0},
        {{{"ProjectLastStep", "-7"}}, "Beschreibung", 0, false, 0},
        {{{"ProjectLastStep", "17"}, {"ProjectMidiOverwrite", "2"}}, "Beschreibung", 17, true, 0},
        {{{"ProjectMidiOverwrite", "yes"}, {"AddPath", "1"}}, "Beschreibung", 4, true, 1},
    };
    TempFolder tmp;
    for (const Case& c : cases) {
        Studio studio;
        studio.project.addPath = 1;  // a missing AddPath leaves the field alone
        writeBytes(tmp.path() / "p.c-1", headerText(c.change));
        ASSERT_TRUE(studio.read(tmp.path() / "p.c-1"));
        EXPECT_TRUE(studio.codes.empty());
        const Project& p = studio.project;
        EXPECT_EQ(p.data.ProjectDescription, c.description);
        EXPECT_EQ(p.currentStep, c.step);
        EXPECT_EQ(p.midiOverwrite, c.midiOverwrite);
        EXPECT_EQ(p.addPath, c.addPath);
        EXPECT_EQ(p.mp3Folder, tmp.path()) << "no MP3 folder: the project folder";
        EXPECT_FALSE(p.CatInstrument.has_value());
        EXPECT_EQ(p.fileNum(), 0);
        EXPECT_EQ(studio.pages.calls, std::vector<std::string>{}) << "no entries: no page refresh";
    }
}

TEST(ProjectFileHeader, TemplateFormHasNoFolderAndOpensOnStepOneWhereItLies) {
    TempFolder tmp;
    Studio studio;
    studio.project.data.ProjectFolder = tmp.path() / "made";
    studio.project.data.ProjectTitle = "Vorlage";
    studio.project.data.CDSpace = 4440;
    studio.project.currentStep = 12;
    studio.shell.templateKeys = true;
    fs::create_directories(tmp.path() / "made");
    const fs::path made = tmp.path() / "made" / "Vorlage.c-1";
    ASSERT_TRUE(prjWriteFile(studio.project, &made));
    platform::IniDocument document;
    ASSERT_EQ(document.load(made), platform::IniStatus::Ok);
    EXPECT_EQ(document.getString("zq1 Project File", "ProjectFolder"), "");
    EXPECT_EQ(document.getString("zq1 Project File", "ProjectLastStep"), "1");
    EXPECT_EQ(document.getString("zq1 Project File", "qrx_zq1_Project")->size(), 8u);

    const fs::path moved = tmp.path() / "elsewhere" / "Neu.c-1";
    writeBytes(moved, readBytes(made));
    Studio opened;
    ASSERT_TRUE(opened.read(moved));
    EXPECT_EQ(opened.project.currentStep, 1);
    EXPECT_EQ(opened.project.data.ProjectFolder, tmp.path() / "elsewhere");
    EXPECT_EQ(opened.project.filePath, moved);
}

// --- writing -------------------------------------------------------------------------------------

TEST(ProjectFileWrite, SavingReplacesTheWholeFileSoRemovedEntriesVanish) {
    TempFolder tmp;
    const fs::path file = tmp.path() / "p.c-1";
    writeBytes(file, headerText({{"FileNum", "3"}}) + completeEntry(1, "a.tvrx") + completeEntry(2, "b.tvrx") +
                         completeEntry(3, "c.tvrx") + "[Project File 03|ctDynamic]\r\npp=1\r\n; a note\r\n");
    for (const char* name : {"a.tvrx", "b.tvrx", "c.tvrx"}) writeBytes(tmp.path() / name, "x");
    Studio studio;
    ASSERT_TRUE(studio.read(file));
    ASSERT_TRUE(prjRemoveEntry(studio.project, 2, false));
    ASSERT_TRUE(prjWriteFile(studio.project));

    platform::IniDocument document;
    ASSERT_EQ(document.load(file), platform::IniStatus::Ok);
    EXPECT_EQ(document.getInt("zq1 Project File", "FileNum", -1), 2);
    EXPECT_TRUE(document.hasSection("Project File 02"));
    EXPECT_FALSE(document.hasSection("Project File 03"));
    EXPECT_FALSE(document.hasSection("Project File 03|ctDynamic"));
    EXPECT_EQ(readBytes(file).find("; a note"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(tmp.path()), fs::directory_iterator()), 4)
        << "the project file and three sources, no temporary file";
}

TEST(ProjectFileWrite, AFailedWriteKeepsTheOldFileAndSaysSo) {
    TempFolder tmp;
    Studio studio;
    buildFullProject(studio, tmp.path() / "Sonaten", tmp.path() / "Noten");
    const fs::path file = studio.project.filePath;
    writeBytes(file, "[zq1 Project File]\r\nProjectTitle=old\r\n");
    const std::string old = readBytes(file);

    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = prjWriteFile(studio.project);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_EQ(readBytes(file), old);
    Project unnamed;
    EXPECT_FALSE(prjWriteFile(unnamed)) << "no path, no file";
}

// The source date the small project's entries carry.
constexpr std::uint64_t kFixtureDate = 133485408000000000;

// A small project with every key of the header and of both kinds of entry
// section set, its blocks short enough to stay one stored value each.
void buildSmallProject(Studio& studio, const fs::path& folder) {
    studio.pipeline.shapes["Lied.tvrx"] = Shape{EntryKind::TvrXml, {1, 2}, {1}, 80000};
    studio.pipeline.shapes["Tanz.mid"] = Shape{EntryKind::Midi, {1, 1}, {}, 50000};
    studio.audio.effects = {"Kleiner Raum"};
    studio.audio.presentInstruments = 1;
    Project& p = studio.project;
    p.data.ProjectFolder = folder;
    p.data.ProjectTitle = "Lieder für Chor";
    p.data.ProjectDescription = "Probe";
    p.data.CDSpace = 4440;
    p.filePath = folder / "Lieder.c-1";
    p.CatInstrument = "3;7";
    p.CatEnsemble = "Chor";
    p.currentStep = static_cast<int>(StepCategory::Prc);
    p.addPath = 1;
    p.midiOverwrite = 1;
    p.midiConvertAll = 0;
    p.normalize = 1;
    p.waveOverwrite = 1;
    p.waveConvertAll = 0;
    p.burnMethod = 2;
    p.burningSpeed = 16;
    p.cdCopies = 3;
    p.openTray = 0;
    p.burnProof = 1;
    p.burnSimulate = 1;
    for (std::size_t i = 0; i < p.mp3Config.size(); ++i) p.mp3Config[i] = static_cast<std::uint8_t>(i % 7);
    p.mp3Folder = folder / "mp3";
    p.removeMidis = 1;

    writeBytes(folder / "Lied.xml", "<score-partwise/>");
    ProjectEntry& score = openSource(studio, folder / "Lied.tvrx", folder / "Lied.xml");
    setEntrySettings(studio, score, 3);
    score.tuneUp.addSelectedVoice(0x10001);
    score.MWConversionMethod = 1;
    prjSetEntrySampler(score, "Konzertflügel", -1);
    score.OutDevSampler = "ASIO: Karte 1";
    score.reverbData = {1, 2, 3, 4, 5};
    score.samplerSetup = {9, 8, 7};
    score.samplerSetupName = "Chor hell";
    score.samplerSetupType = 0;
    setEntrySettings(studio, openSource(studio, folder / "Tanz.mid"), 1);
    for (ProjectEntry& entry : p.entries) entry.modDate = kFixtureDate;
    p.dirty = kDirtyMidiDone | 0x21;
}

std::string replaceAll(std::string text, std::string_view from, std::string_view to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

// The stored file with the project folder written as "<folder>".
std::string withFolderMarked(const std::string& text, const fs::path& folder) {
    return replaceAll(text, platform::toStoredPath(folder), "<folder>");
}

TEST(ProjectFileWrite, SectionsAreWrittenByteForByteAsTheStoredFormatHasThem) {
    TempFolder tmp;
    const fs::path folder = tmp.path() / "Lieder";
    const std::string fixture = readBytes(kProjectData / "written_sections.c-1");
    Studio original;
    buildSmallProject(original, folder);
    ASSERT_TRUE(prjWriteFile(original.project));
    EXPECT_EQ(withFolderMarked(readBytes(folder / "Lieder.c-1"), folder), fixture);

    // The template form differs in three header keys only.
    std::string templateForm = replaceAll(fixture, "qvp3=1\r\n", "qvp3=1\r\nqrx_zq1_Project=30253017\r\n");
    templateForm = replaceAll(templateForm, "ProjectFolder=<folder>\r\n", "ProjectFolder=\r\n");
    templateForm = replaceAll(templateForm, "ProjectLastStep=6\r\n", "ProjectLastStep=1\r\n");
    original.shell.templateKeys = true;
    const fs::path made = folder / "Vorlage.c-1";
    ASSERT_TRUE(prjWriteFile(original.project, &made));
    EXPECT_EQ(withFolderMarked(readBytes(made), folder), templateForm);

    // Everything written is read back: writing the fixture's project again gives the fixture.
    writeBytes(folder / "Fixture.c-1", replaceAll(fixture, "<folder>", platform::toStoredPath(folder)));
    Studio reread;
    reread.pipeline.shapes = original.pipeline.shapes;
    reread.audio.effects = original.audio.effects;
    reread.audio.presentInstruments = 1;
    ASSERT_TRUE(reread.read(folder / "Fixture.c-1"));
    EXPECT_TRUE(reread.codes.empty()) << ::testing::PrintToString(reread.codes);
    for (ProjectEntry& entry : reread.project.entries) entry.modDate = kFixtureDate;
    const fs::path again = folder / "Again.c-1";
    ASSERT_TRUE(prjWriteFile(reread.project, &again));
    EXPECT_EQ(withFolderMarked(readBytes(again), folder), fixture);
}

TEST(ProjectFileWrite, TheCurrentStepHandsItsLiveStateOverFirst) {
    TempFolder tmp;
    Studio studio;
    buildFullProject(studio, tmp.path() / "Sonaten", tmp.path() / "Noten");
    Project& p = studio.project;
    studio.audio.samplerSetup = {9, 8, 7};
    studio.audio.qvoIndex = 4;
    p.entries[2].samplerIndex = 3;       // sample player, current entry, a sampler chosen
    p.entries[1].samplerIndex = 4;       // the sample-library plug-in: no setup is kept
    p.entries[3].samplerSetup = {1, 2};  // the synthesizer keeps none either
    p.entries[3].samplerSetupName = "alt";
    p.currentEntry = 2;

    p.currentStep = static_cast<int>(StepCategory::Pwc);
    ASSERT_TRUE(prjWriteFile(p));
    EXPECT_EQ(p.entries[2].samplerSetup, (std::vector<std::uint8_t>{9, 8, 7}));
    EXPECT_TRUE(p.entries[1].samplerSetup.empty());
    EXPECT_TRUE(p.entries[1].samplerSetupName.empty());
    EXPECT_TRUE(p.entries[3].samplerSetup.empty());
    EXPECT_TRUE(p.entries[3].samplerSetupName.empty());
    platform::IniDocument document;
    ASSERT_EQ(document.load(p.filePath), platform::IniStatus::Ok);
    EXPECT_FALSE(document.hasKey("Project File 02", "smpAssignmentName"));
    EXPECT_EQ(document.getInt("Project File 03", "smpAssignment-ByteSize", 0), 3);
    EXPECT_EQ(std::count(studio.pipeline.calls.begin(), studio.pipeline.calls.end(), "get sections"), 0);

    p.currentStep = static_cast<int>(StepCategory::Dyn);
    ASSERT_TRUE(prjWriteFile(p));
    EXPECT_EQ(std::count(studio.pipeline.calls.begin(), studio.pipeline.calls.end(), "get sections"), 1);
}

// --- entry sections ----------------------------------------------------------------------------

TEST(ProjectFileEntries, ASectionWithOnlyFilenameGetsTheDefaultsAndOneCodeEach) {
    for (const bool currentFormat : {true, false}) {
        TempFolder tmp;
        writeBytes(tmp.path() / "Lied.tvrx", "x");
        writeBytes(tmp.path() / "p.c-1", headerText({{"FileNum", "1"}, {"qvp3", currentFormat ? "1" : "0"}}) +
                                             sectionText(1, {"Filename=C:\\Users\\x\\Lied.tvrx"}));
        Studio studio;
        studio.pipeline.shapes["Lied.tvrx"] = Shape{EntryKind::TvrXml, {2, 1}, {}, 1000};
        ASSERT_TRUE(studio.read(tmp.path() / "p.c-1"));
        EXPECT_EQ(studio.codes,
                  (std::vector<std::int32_t>{kPrjTempoMissing, kPrjNoPause, kPrjNoTranspose, kPrjMetronomeMissing}));
        ASSERT_EQ(studio.project.fileNum(), 1);
        const ProjectEntry& e = studio.project.entries[0];
        EXPECT_EQ(e.TempoRelative, 1000);
        EXPECT_EQ(e.TempoIsRelative, 1);
        EXPECT_EQ(e.TempoAbsolute, -1);
        EXPECT_EQ(e.Pause, 2);
        EXPECT_EQ(e.voices[0].transposition, 0);
        EXPECT_EQ(e.metronome.CountIn, 2);
        EXPECT_EQ(e.metronome.Instrument, 42);
        EXPECT_EQ(e.metronome.Velocity, 85);
        EXPECT_EQ(e.metronome.Volume, 127);
        EXPECT_EQ(e.metronome.LastBeat, 1);
        EXPECT_EQ(e.ConvertForQvo, 1);
        EXPECT_EQ(e.tuneUp.Type, 1);
        EXPECT_EQ(e.tuneUp.ChordOctave, 5);
        EXPECT_EQ(e.voices[2].panorama, 64);
        EXPECT_EQ(e.voices[2].volume, -1) << "no volume anywhere: not set";
        EXPECT_TRUE(e.states.isStaffOn(1)) << "a voice without a state plays";
        EXPECT_EQ(e.tempoCurve.recordTempo, 10);
        const std::vector<std::string> engine(studio.pipeline.calls.end() - 5, studio.pipeline.calls.end());
        EXPECT_EQ(engine, (std::vector<std::string>{"transpose 0", "reset group 4", "reset group 2", "reset group 5",
                                                    "get sections"}));
        EXPECT_EQ(studio.shell.repostCount, 1);
        EXPECT_EQ(studio.project.saved, 1) << "loading marks nothing changed";
        EXPECT_EQ(studio.project.suspendDirty, 0);
    }
}

TEST(ProjectFileEntries, AnOlderFileGetsTheLegacyConversions) {
    TempFolder tmp;
    const fs::path folder = tmp.path() / "Chor";
    const fs::path file = placeFixture(folder, "older_format.c-1", "Chor.c-1", {"Messe.tvrx", "Kyrie.mid"});
    writeBytes(folder / "Chor01.mid", "old midi");
    writeBytes(folder / "Chor01.wav", "old wave");
    writeBytes(folder / "Chor02.mid", "old midi 2");
    writeBytes(folder / "Kyrie_qvpcnv.mid", "present");
    Studio studio;
    shapeFixtureSources(studio);
    ASSERT_TRUE(studio.read(file));
    // Kyrie's stored 1001 gives 1000 - 1001 = -1: no tempo.
    EXPECT_EQ(studio.codes, (std::vector<std::int32_t>{kPrjTempoMissing}));

    const ProjectEntry& messe = studio.project.entries[0];
    EXPECT_EQ(messe.TempoRelative, 900) << "older files stored 1000 minus the tempo";
    EXPECT_EQ(messe.MWConversionMethod, 1) << "2 was the sample player";
    EXPECT_EQ(messe.voices[0].volume, 77) << "the older staff volume reaches every voice";
    EXPECT_EQ(messe.voices[1].volume, 77);
    const auto& points = messe.tempoCurve.points[TempoCurve::kRecordedList];
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].position, 960u);
    EXPECT_EQ(points[1].tempo, 88.0);
    EXPECT_EQ(points[1].kind, 0);
    EXPECT_EQ(points[1].tag, 1);
    EXPECT_EQ(studio.project.entries[1].MWConversionMethod, 0) << "1 was the synthesizer";
    EXPECT_EQ(studio.project.entries[1].TempoRelative, 1000);

    EXPECT_EQ(readBytes(folder / "Messe_qvpcnv.mid"), "old midi");
    EXPECT_EQ(readBytes(folder / "Messe_qvpcnv.wav"), "old wave");
    EXPECT_FALSE(fs::exists(folder / "Chor01.mid"));
    EXPECT_EQ(readBytes(folder / "Kyrie_qvpcnv.mid"), "present") << "a present file is never overwritten";
    EXPECT_TRUE(fs::exists(folder / "Chor02.mid"));

    // Without instruments in the catalogue every entry uses the synthesizer.
    Studio bare;
    shapeFixtureSources(bare);
    bare.audio.presentInstruments = 0;
    ASSERT_TRUE(bare.read(file));
    EXPECT_EQ(bare.project.entries[0].MWConversionMethod, 0);
}

TEST(ProjectFileEntries, SourcesAreFoundInTheProjectFolderFirst) {
    TempFolder tmp;
    const fs::path folder = tmp.path() / "Proj";
    const fs::path outside = tmp.path() / "Noten" / "Fremd.tvrx";
    writeBytes(folder / "Hier.tvrx", "x");
    writeBytes(outside, "x");
    writeBytes(tmp.path() / "Noten" / "Hier.tvrx", "elsewhere");
    const std::string stored = platform::toStoredPath(tmp.path() / "Noten" / "Hier.tvrx");
    writeBytes(folder / "p.c-1", headerText({{"FileNum", "4"}}) + completeEntry(1, stored) +
                                     completeEntry(2, platform::toStoredPath(outside)) +
                                     completeEntry(3, "C:\\Users\\x\\Weg.tvrx") +
                                     completeEntry(4, "\\\\srv\\n\\Hier.tvrx"));
    Studio studio;
    ASSERT_TRUE(studio.read(folder / "p.c-1"));
    ASSERT_EQ(studio.project.fileNum(), 3);
    EXPECT_EQ(studio.project.entries[0].Filename, folder / "Hier.tvrx");
    EXPECT_EQ(studio.project.entries[1].Filename, outside) << "a path of this machine that exists";
    EXPECT_EQ(studio.project.entries[2].Filename, folder / "Hier.tvrx");
    EXPECT_EQ(studio.codes, std::vector<std::int32_t>{kPrjCannotOpenSource});
    EXPECT_EQ(studio.names, std::vector<std::string>{"Weg.tvrx"});
    EXPECT_NE(std::find(studio.pipeline.calls.begin(), studio.pipeline.calls.end(), "open Weg.tvrx 3"),
              studio.pipeline.calls.end());
}

TEST(ProjectFileEntries, SkippedEntriesKeepTheNumberingOfTheOthers) {
    TempFolder tmp;
    for (const char* name : {"a.tvrx", "b.xml", "c.mid", "d.tvrx", "e.tvrx"}) writeBytes(tmp.path() / name, "x");
    writeBytes(tmp.path() / "p.c-1", headerText({{"FileNum", "9"}}) + completeEntry(1, "a.tvrx") +
                                         completeEntry(2, "b.xml") + completeEntry(3, "c.mid") +
                                         sectionText(4, {"Pause=2"}) + completeEntry(6, "d.tvrx") +
                                         completeEntry(7, "e.tvrx") + completeEntry(10, "a.tvrx") + sectionText(5, {}));
    Studio studio;
    studio.pipeline.openResults["b.xml"] = -104;
    studio.pipeline.openResults["c.mid"] = -100;
    studio.pipeline.openResults["e.tvrx"] = -2;
    ASSERT_TRUE(studio.read(tmp.path() / "p.c-1"));
    EXPECT_EQ(studio.codes,
              (std::vector<std::int32_t>{-104, -100, kPrjNoFilename, kPrjNoFilename, -2, kPrjNoFilename}));
    EXPECT_EQ(studio.names, std::vector<std::string>{"b.xml"});
    ASSERT_EQ(studio.project.fileNum(), 2);
    EXPECT_EQ(studio.project.entries[1].Filename.filename(), "d.tvrx");
    EXPECT_NE(std::find(studio.pipeline.calls.begin(), studio.pipeline.calls.end(), "open d.tvrx 6"),
              studio.pipeline.calls.end());
    EXPECT_EQ(studio.shell.statusTexts.front(), "S201");
}

TEST(ProjectFileEntries, ChangedSourcesAreConvertedAgainAndMissingOnesReported) {
    TempFolder tmp;
    const fs::path folder = tmp.path() / "Proj";
    writeBytes(folder / "Same.tvrx", "x");
    writeBytes(folder / "Changed.tvrx", "x");
    writeBytes(folder / "Changed.xml", "<score-partwise/>");
    writeBytes(tmp.path() / "Noten" / "Foreign.tvrx", "x");
    writeBytes(tmp.path() / "Noten" / "Foreign.xml", "<score-partwise/>");
    const auto timeOf = [](const fs::path& p) { return std::to_string(platform::fileTimeOf(p).value()); };
    const auto entry = [](int n, const std::string& file, const std::string& orig, const std::string& date) {
        return sectionText(n, {"Filename=" + file, "FilenameOrig=" + orig, "ModDate=" + date, "Pause=2", "Transpose=0",
                               "TempoAbsolute=-1", "TempoRelative=1000", "TempoIsRelative=1", "MetrCountIn=2",
                               "MetrUseIt=1", "MetrNote=42", "MetrVelocity=85", "MetrFirstBeat=1", "MetrVolume=127"});
    };
    const fs::path foreign = tmp.path() / "Noten" / "Foreign.tvrx";
    writeBytes(folder / "p.c-1", headerText({{"FileNum", "4"}}) +
                                     entry(1, "Same.tvrx", "", timeOf(folder / "Same.tvrx")) +
                                     entry(2, "Changed.tvrx", "Changed.xml", "12345") + entry(3, "Gone.tvrx", "", "1") +
                                     entry(4, platform::toStoredPath(foreign),
                                           platform::toStoredPath(tmp.path() / "Noten" / "Foreign.xml"), "99"));
    for (const bool check : {false, true}) {
        Studio studio;
        studio.pipeline.shapes["Changed.xml"] = Shape{EntryKind::TvrXml, {1}, {}, 1};
        studio.pipeline.shapes["Foreign.xml"] = Shape{EntryKind::TvrXml, {1}, {}, 1};
        ASSERT_TRUE(studio.read(folder / "p.c-1", check));
        EXPECT_EQ(studio.names, std::vector<std::string>{"Gone.tvrx"});
        if (!check) {
            EXPECT_EQ(studio.codes, std::vector<std::int32_t>{kPrjCannotOpenSource}) << "the loader's -103";
            continue;
        }
        EXPECT_EQ(studio.codes,
                  (std::vector<std::int32_t>{kPrjSourceChanged, kPrjCannotOpenSource, kPrjSourceChanged}));
        ASSERT_EQ(studio.project.fileNum(), 3);
        EXPECT_EQ(studio.project.entries[1].Filename, folder / "Changed.xml");
        EXPECT_TRUE(studio.project.entries[1].FilenameOrig.empty());
        EXPECT_FALSE(fs::exists(folder / "Changed.tvrx")) << "the stale conversion is deleted";
        EXPECT_EQ(studio.project.entries[2].Filename, tmp.path() / "Noten" / "Foreign.xml");
        EXPECT_TRUE(fs::exists(foreign)) << "nothing outside the project folder is deleted";
    }
}

TEST(ProjectFileEntries, PercussionInstrumentValues) {
    struct Case {
        const char* value;
        const char* name;
        int note;
    } cases[] = {
        {"Bass Drum 36", "Bass Drum", 36},
        {"Hi Hat", "Hi", 255},
        {"Cowbell", "Cowbell", 35},  // no blank: a name only, the note as loaded
        {"007 38", "7", 38},
        {"808 Kick 36", "808 Kick", 36},
        {"Clap 0", "Clap", 0},
        {"Snare -1", "Snare", 255},
        {"Tom 300", "Tom", 255},
        {"Triangel 81abc", "Triangel", 81},
        {"Ein sehr langer Name eines Instruments 50", "Ein sehr langer Name eines Ins", 50},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        writeBytes(tmp.path() / "Drums.tvrx", "x");
        writeBytes(tmp.path() / "p.c-1",
                   headerText({{"FileNum", "1"}}) + sectionText(1, {"Filename=Drums.tvrx", "Stave_01_MidiInstrNum=1",
                                                                    std::string("Stave_01_MidiInstr 1=") + c.value}));
        Studio studio;
        studio.pipeline.shapes["Drums.tvrx"] = Shape{EntryKind::TvrXml, {1}, {0}, 1};
        ASSERT_TRUE(studio.read(tmp.path() / "p.c-1"));
        const scorecore::CMidiInstr& instrument = studio.project.entries[0].instruments[0][0];
        EXPECT_EQ(instrument.InstrumentId, c.name) << c.value;
        EXPECT_EQ(instrument.PercNote, c.note) << c.value;
    }

    // A different number of instruments than the score has: reported, left as loaded.
    TempFolder tmp;
    writeBytes(tmp.path() / "Drums.tvrx", "x");
    writeBytes(tmp.path() / "p.c-1", headerText({{"FileNum", "1"}}) + completeEntry(1, "Drums.tvrx") +
                                         "Stave_01_MidiInstrNum=3\r\n"
                                         "Stave_01_MidiInstr 1=Bass Drum 36\r\n");
    Studio studio;
    studio.pipeline.shapes["Drums.tvrx"] = Shape{EntryKind::TvrXml, {2}, {0}, 1};
    ASSERT_TRUE(studio.read(tmp.path() / "p.c-1"));
    EXPECT_EQ(studio.codes, std::vector<std::int32_t>{kPrjSourceChanged});
    EXPECT_EQ(studio.project.entries[0].instruments[0][0].PercNote, 35);
}

TEST(ProjectFileEntries, VoiceAndTrackValuesFallBackAsStored) {
    TempFolder tmp;
    writeBytes(tmp.path() / "m.mid", "x");
    writeBytes(tmp.path() / "p.c-1",
               headerText({{"FileNum", "1"}}) +
                   sectionText(1, {"Filename=m.mid", "Staff01_Voice1_Volume=80", "Staff01_Voice1_Panorama=300",
                                   "Stave_01_Voice1_On/Off=1", "Stave_01_Voice2_On/Off=7", "Stave01_Voice1_Channel=16",
                                   "Stave01_Voice2_Channel=271", "Stave01_Voice2_Sound=300", "Stave01_Voice1_Sound=12",
                                   "Track0001_VelocityRelativ=0", "Stave_02_Voice1_On/Off=0", "Track0002_Velocity=200",
                                   "Stave_03_Volume=55", "Track0003_VelocityRelativ=1", "Track0003_Velocity=-30",
                                   "NameOfTrack0002=Baß", "NameOfTrack0003=0"}));
    Studio studio;
    studio.pipeline.shapes["m.mid"] = Shape{EntryKind::Midi, {2, 1, 1}, {}, 1};
    ASSERT_TRUE(studio.read(tmp.path() / "p.c-1"));
    const ProjectEntry& e = studio.project.entries[0];
    EXPECT_EQ(e.voices[0].volume, 80);
    EXPECT_EQ(e.voices[1].volume, 80) << "voice 2 without a volume takes voice 1's";
    EXPECT_EQ(e.voices[2].volume, -1);
    EXPECT_EQ(e.voices[3].volume, 55) << "the older staff volume";
    EXPECT_EQ(e.voices[0].panorama, 64);
    EXPECT_EQ(e.states.getVoiceOnOff(0, 0), scorecore::kStateOff);
    EXPECT_EQ(e.states.getVoiceOnOff(0, 1), scorecore::kStateOn) << "no valid state: on";
    EXPECT_TRUE(e.states.isStaffOn(0));
    EXPECT_TRUE(e.states.isStaffOff(1));
    EXPECT_EQ(e.states.getVoiceOnOff(1, 0), scorecore::kStateHidden);
    EXPECT_EQ(e.voices[0].channel(), -1);
    EXPECT_EQ(e.voices[1].channel(), -1) << "channels outside 0..15 are not set";
    EXPECT_EQ(e.voices[0].sound, 12);
    EXPECT_EQ(e.voices[1].sound, 1);
    EXPECT_EQ(e.staffVelocity[0], 90) << "an absolute track without velocity";
    EXPECT_EQ(e.staffVelocityRelative[0], 0);
    EXPECT_EQ(e.staffVelocity[1], 0) << "no flag: relative; 200 is no velocity";
    EXPECT_EQ(e.staffVelocityRelative[1], 1);
    EXPECT_EQ(e.staffVelocity[2], -30);
    EXPECT_EQ(e.trackNames[2], "Baß");
    EXPECT_EQ(e.trackNames[3], "");
}

TEST(ProjectFileEntries, RecordedTempoPointsAreTakenOnlyAsFarAsTheirBlockHoldsThem) {
    const auto pointBytes = [](int count, std::size_t size) {
        std::vector<std::uint8_t> bytes;
        for (int i = 0; i < count; ++i) {
            TempoPoint p;
            p.position = static_cast<std::uint32_t>(100 * (i + 1));
            p.tempo = 90.0 + i;
            p.kind = 1;
            p.tag = 7;
            auto stored = p.toBytes();
            bytes.insert(bytes.end(), stored.begin(),
                         stored.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(size, 40)));
            bytes.resize(bytes.size() + (size > 40 ? size - 40 : 0), 0xEE);
        }
        return bytes;
    };
    struct Case {
        const char* size;
        const char* count;
        std::vector<std::uint8_t> blob;
        std::size_t points;
        int tag;
    } cases[] = {
        {"40", "3", pointBytes(3, 40), 3, 7},
        {"40", "5", pointBytes(3, 40), 3, 7},  // the count runs past the block
        {"40", "2147483647", pointBytes(2, 40), 2, 7},
        {"48", "2", pointBytes(2, 48), 2, 7},  // larger points are cut to ours
        {"32", "2", pointBytes(2, 32), 2, 1},  // older points
        {"16", "2", pointBytes(2, 16), 0, 0},  // no known layout
        {"-40", "-2", pointBytes(2, 40), 0, 0},
        {"40", "0", pointBytes(2, 40), 0, 0},
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        writeBytes(tmp.path() / "t.tvrx", "x");
        writeBytes(tmp.path() / "p.c-1",
                   headerText({{"FileNum", "1"}}) +
                       sectionText(1, {"Filename=t.tvrx", std::string("TPPTempoValSize=") + c.size,
                                       std::string("TPPRecTempoNum=") + c.count,
                                       "TPPRecTempos=" + platform::encodeIniStruct(c.blob), "TPPRecTempos-Size=1",
                                       "TPPRecTempos-ByteSize=" + std::to_string(c.blob.size())}));
        Studio studio;
        ASSERT_TRUE(studio.read(tmp.path() / "p.c-1"));
        const auto& points = studio.project.entries[0].tempoCurve.points[TempoCurve::kRecordedList];
        ASSERT_EQ(points.size(), c.points) << c.size << " x " << c.count;
        if (!points.empty()) {
            EXPECT_EQ(points.back().position, 100u * c.points);
            EXPECT_EQ(points.back().tempo, 90.0 + static_cast<double>(c.points) - 1);
            EXPECT_EQ(points.back().tag, c.tag);
        }
    }
}

TEST(ProjectFileEntries, TuneUpVoiceListTellsAnEmptyListFromTheFirstVoice) {
    // 1020 characters of keys, then "23 456" across the stored limit of 1024.
    std::string nines;
    for (int i = 0; i < 510; ++i) nines += "9 ";
    std::vector<std::int32_t> longList(510, 9);
    longList.push_back(23);
    struct Case {
        std::vector<std::string> lines;
        std::vector<std::int32_t> voices;
    } cases[] = {
        {{"EinstChordNVoices=0", "EinstChordVoices=0"}, {}},
        {{"EinstChordNVoices=1", "EinstChordVoices=0"}, {0}},
        {{"EinstChordVoices=0"}, {0}},
        {{"EinstChordNVoices=2", "EinstChordVoices=65537 2"}, {65537, 2}},
        {{"EinstChordVoices=3 x 4"}, {3}},
        {{"EinstChordVoices=" + nines + "23 456"}, longList},  // cut between two keys, never inside one
    };
    for (const Case& c : cases) {
        TempFolder tmp;
        writeBytes(tmp.path() / "t.tvrx", "x");
        std::string section = sectionText(1, {"Filename=t.tvrx"});
        for (const std::string& line : c.lines) section += line + "\r\n";
        writeBytes(tmp.path() / "p.c-1", headerText({{"FileNum", "1"}}) + section);
        Studio studio;
        ASSERT_TRUE(studio.read(tmp.path() / "p.c-1"));
        EXPECT_EQ(studio.project.entries[0].tuneUp.voices, c.voices) << c.lines.back();
    }
}

}  // namespace
}  // namespace qvp3
