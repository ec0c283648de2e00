// Opening project entries through the pipeline and the score engine: a
// project of a ".tvrx", a MusicXML file (converted beside its source), a
// binary score and a MIDI file; every engine entry point the program calls,
// through the binding; the shared scores exported through the engine with the
// notes of the score library's own rendering; damaged scores and a missing
// engine, which fail without crashing.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <random>
#include <string>
#include <vector>

#include "../../../scoreconv/tests/mido_support.h"
#include "../../../scorecore/tests/bin_bytes.h"
#include "engine_test_support.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/tvrx_container.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/pipeline.h"
#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_project/project.h"
#include "scoreconv/scoreconv.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using platform::testing::TempFolder;

const fs::path kProgramDir = QVP3_PROGRAM_DIR;

fs::path sharedScore(const std::string& name) { return fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" / name; }

using testing::convertToTvrx;

// Two staves: four quarters (72 74 76 77) over a whole note at tempo 120.
std::string binaryScore() {
    using namespace bintest;
    const auto note = [](int step, int code) { return chord(1, Bytes().u8(code), {head(step, 0)}); };
    Bytes b = fileHeader().add(documentHead()).add(tagS(120, 1, 0));
    b.add(tagV(4, 3, 0)).add(tagC(4)).add(note(0, 2)).add(note(1, 2)).add(note(2, 2)).add(note(3, 2));
    b.add(tagV(4, 3, 1)).add(tagC(1)).add(note(0, 0));
    return std::string(b.span().begin(), b.span().end());
}

// A format-1 file as sequencers write it: a conductor track with tempo and
// meter, a piano track and a drum track with keys 42, 36 and 38.
std::string midiFile() {
    std::string out = std::string("MThd\0\0\0\6\0\1\0\3\1\xE0", 14);
    const auto track = [&out](const std::string& events) {
        const auto n = static_cast<std::uint32_t>(events.size());
        out += "MTrk";
        out += static_cast<char>(n >> 24);
        out += static_cast<char>(n >> 16);
        out += static_cast<char>(n >> 8);
        out += static_cast<char>(n);
        out += events;
    };
    track(std::string("\0\xFF\x51\x03\x07\xA1\x20\0\xFF\x58\x04\x04\x02\x18\x08\0\xFF\x2F\0", 19));
    track(std::string("\0\xFF\x03\x05Piano\0\xC0\x00\0\x90\x3C\x64\x83\x60\x80\x3C\x40\0\xFF\x2F\0", 25));
    track(std::string("\0\xFF\x03\x05" "Drums\0\x99\x2A\x64\0\x24\x64\x83\x60\x89\x2A\x40\0\x24\x40\0\x99\x26\x64\x83\x60"
                      "\x89\x26\x40\0\xFF\x2F\0",
                      37));
    return out;
}

using Fixture = testing::EngineProject;

TEST(EntryOpen, AProjectOfEveryKindOpens) {
    Fixture f;
    const fs::path tvrx = f.dir.path() / "piano.tvrx";
    ASSERT_EQ(convertToTvrx(sharedScore("43a-PianoStaff.xml"), tvrx), 0);
    const fs::path xml = f.dir.path() / "parts.xml";
    fs::copy_file(sharedScore("41a-MultiParts-Partorder.xml"), xml);
    const fs::path tvr = f.dir.path() / "two.tvr";
    platform::testing::writeBytes(tvr, binaryScore());
    const fs::path mid = f.dir.path() / "song.mid";
    platform::testing::writeBytes(mid, midiFile());

    ASSERT_EQ(f.open(tvrx), 0);
    ASSERT_EQ(f.open(xml), 0);
    ASSERT_EQ(f.open(tvr), 0);
    ASSERT_EQ(f.open(mid), 0);
    ASSERT_EQ(f.project.entries.size(), 4u);

    const ProjectEntry& piano = f.project.entries[0];
    EXPECT_EQ(piano.kind, EntryKind::TvrXml);
    EXPECT_EQ(piano.staveCount, 2);
    EXPECT_EQ(piano.voices.size(), 2u);
    EXPECT_GT(piano.durationMs, 0);

    const ProjectEntry& parts = f.project.entries[1];
    EXPECT_EQ(parts.kind, EntryKind::TvrXml);
    EXPECT_EQ(parts.FilenameOrig, xml);
    EXPECT_EQ(parts.Filename, fs::path(xml.string() + ".tvrx"));
    EXPECT_TRUE(fs::exists(parts.Filename));
    EXPECT_EQ(parts.staveCount, 4);

    const ProjectEntry& binary = f.project.entries[2];
    EXPECT_EQ(binary.kind, EntryKind::BinaryScore);
    EXPECT_EQ(binary.staveCount, 2);
    EXPECT_EQ(binary.durationMs, 2000);
    EXPECT_EQ(cnvEntryModelIf(binary)->events[0][0].size(), 4u);

    const ProjectEntry& song = f.project.entries[3];
    EXPECT_EQ(song.kind, EntryKind::Midi);
    EXPECT_EQ(song.trackCount, 3);
    ASSERT_EQ(song.instruments.size(), 2u);
    ASSERT_EQ(song.instruments[1].size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(song.instruments[1][i].PercNote, (std::array<int, 3>{36, 38, 42}[i]));
        EXPECT_EQ(song.instruments[1][i].Channel, 9);
    }

    // Every entry, a MIDI file too, keeps its file's date, so that the project
    // opened again does not take an unchanged file for changed.
    for (const ProjectEntry& e : f.project.entries) {
        SCOPED_TRACE(e.Filename.string());
        EXPECT_EQ(e.modDate, platform::fileTimeOf(e.Filename).value_or(1));
    }

    // Every voice of every entry has a play record with the output and, for scores, a channel.
    for (const ProjectEntry& e : f.project.entries) {
        SCOPED_TRACE(e.Filename.string());
        EXPECT_EQ(static_cast<int>(e.voices.size()), cnvEntryVoiceCount(e));
        for (const VoicePlayRecord& r : e.voices) {
            if (isScoreKind(e.kind)) {
                EXPECT_GE(r.channel(), 0);
            }
        }
    }
    EXPECT_EQ(f.project.totalMs, piano.durationMs + parts.durationMs + binary.durationMs + song.durationMs);
}

// Every engine entry point the program calls, through the binding, on one score.
// The catalogue of a machine that has our strings instrument.
struct StringsCatalogue : BasicAudioEngine {
    int countPresentInstruments() override { return 1; }
    int useInstrument(std::string_view name, std::string& shown) override {
        asked.emplace_back(name);
        shown = "[VST]qvp3: qvp3 strings";
        // As the catalogue: by its own name or the one stored without its marks.
        if (name != "qvp3 strings" && name != shown) return -1;
        return 4;
    }
    std::vector<std::string> asked;
};

// One part of one note.
constexpr const char* kOneNoteScore = R"(<?xml version="1.0" encoding="UTF-8"?>
<score-partwise version="3.1"><part-list><score-part id="P1"><part-name>Strings</part-name>
<score-instrument id="P1-I1"><instrument-name>Strings</instrument-name></score-instrument>
</score-part></part-list><part id="P1"><measure number="1"><attributes><divisions>1</divisions>
<time><beats>4</beats><beat-type>4</beat-type></time><clef><sign>G</sign><line>2</line></clef></attributes>
<note><pitch><step>C</step><octave>4</octave></pitch><duration>4</duration><type>whole</type></note>
</measure></part></score-partwise>)";

// The ".tvrx" of a notation program that names its staff's instrument as it likes.
void renameInstrument(const fs::path& tvrx, const std::string& instrument) {
    std::string xml;
    ASSERT_EQ(scorecore::readTvrxContainer(tvrx, xml), 0);
    const std::string named = R"(<instrument name="Strings")";
    const std::size_t at = xml.find(named);
    ASSERT_NE(at, std::string::npos) << xml;
    xml.replace(at, named.size(), R"(<instrument name=")" + instrument + "\"");
    ASSERT_EQ(scorecore::writeTvrxContainer(tvrx, xml), 0);
}

TEST(EntryOpen, AScoreNamingAnInstrumentOfTheCataloguePlaysThroughTheSamplePlayer) {
    const struct {
        const char* instrument;
        int method;
        const char* sampler;
    } cases[] = {{"VST:qvp3 strings", 1, "[VST]qvp3: qvp3 strings"}, {"VST:absent", 0, ""}, {"Violins", 0, ""}};
    for (const auto& c : cases) {
        Fixture f;
        StringsCatalogue catalogue;
        Project project(Neighbours{&f.pipeline, &catalogue});
        project.data.ProjectFolder = f.dir.path();
        const fs::path xml = f.dir.path() / "strings.xml";
        platform::testing::writeBytes(xml, kOneNoteScore);
        const fs::path tvrx = f.dir.path() / "strings.tvrx";
        ASSERT_EQ(convertToTvrx(xml, tvrx), 0);
        ASSERT_NO_FATAL_FAILURE(renameInstrument(tvrx, c.instrument));
        ProjectEntry entry;
        entry.Filename = tvrx;
        f.pipeline.cnvEntryInit(entry, project);
        ASSERT_EQ(f.pipeline.openEntry(entry, project, false, false), 0) << c.instrument;
        const ProjectEntry& opened = project.entries.back();
        EXPECT_EQ(opened.MWConversionMethod, c.method) << c.instrument;
        EXPECT_EQ(opened.SamplePlayer, c.sampler) << c.instrument;
        EXPECT_EQ(opened.samplerIndex, c.method == 1 ? 4 : -1) << c.instrument;

        // A MusicXML source opened anew is the program's own conversion: its names are no choice of instrument.
        catalogue.asked.clear();
        ProjectEntry source;
        source.Filename = xml;
        f.pipeline.cnvEntryInit(source, project);
        ASSERT_EQ(f.pipeline.openEntry(source, project, false, false), 0);
        EXPECT_EQ(project.entries.back().MWConversionMethod, 0);
        EXPECT_TRUE(catalogue.asked.empty());
    }
}

TEST(EntryOpen, EveryEngineEntryPointThroughTheBinding) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    Fixture f;
    const fs::path tvrx = f.dir.path() / "parts.tvrx";
    ASSERT_EQ(convertToTvrx(sharedScore("41a-MultiParts-Partorder.xml"), tvrx), 0);
    CTavtuneLib& e = f.engine;
    ASSERT_EQ(e.OpenScore(tvrx, 0), 0);
    EXPECT_TRUE(e.IsScoreOpen(tvrx));

    std::string info;
    EXPECT_EQ(e.GetScoreInfoText(f.pipeline.infoLabels, info), 0);
    EXPECT_NE(info.find(f.pipeline.infoLabels[0]), std::string::npos);
    EXPECT_EQ(e.CountStaves(), 4);
    for (int s = 0; s < 4; ++s) EXPECT_EQ(e.CountStaffItems(s), 1) << s;

    ProjectEntry entry;
    entry.kind = EntryKind::TvrXml;
    auto voice = cnvEngineVoiceInfo(e, entry, 1, 0);
    ASSERT_TRUE(voice.has_value());
    tvVoiceRecord change;
    tvVoiceRecordInit(&change, 1, 0);
    change.volume = 33;
    EXPECT_EQ(e.call(125, &change, -1), 0);
    EXPECT_EQ(cnvEngineVoiceInfo(e, entry, 1, 0)->volume, 33);
    EXPECT_EQ(e.call(87, 2), 0);
    EXPECT_EQ(cnvEngineVoiceInfo(e, entry, 1, 0)->transposition, 2);

    std::int32_t ms = 0;
    ASSERT_EQ(e.GetPlayTime(ms), 0);
    EXPECT_GT(ms, 0);
    TavPositionInfo at;
    ASSERT_EQ(e.GetPositionInfo(ms / 2, at), 0);
    EXPECT_EQ(at.valid, 1);
    EXPECT_GE(at.result, 1);
    EXPECT_EQ(e.SetPosition(ms / 2), 0);
    std::int32_t tempo = 0;
    EXPECT_EQ(e.GetTempo(-1, tempo, false), 0);
    EXPECT_GT(tempo, 0);

    e.UpdateState();
    const std::int32_t before = e.enginePointCount;
    std::vector<TempoPoint> curve(2);
    curve[0].position = 0;
    curve[0].tempo = 1.0;
    curve[0].extra = 60.0;
    curve[1].position = 960;
    curve[1].tempo = 1.0;
    curve[1].extra = 90.0;
    EXPECT_EQ(e.SetTempoCurve(curve), 0);
    EXPECT_GT(e.enginePointCount, before) << "the engine holds the curve's points";

    const fs::path midi = f.dir.path() / "parts.mid";
    const std::string path = midi.string();
    EXPECT_EQ(e.call(92, TAVTUNE_OPTION_RENDERING, TAVTUNE_OPTION_RENDERING), 0);
    ASSERT_EQ(e.call(179, path.c_str()), 0);
    EXPECT_EQ(e.call(92, TAVTUNE_OPTION_RENDERING, TAVTUNE_OPTION_OFF), 0);
    const auto read = scoreconv::testing::readWithMido(midi, f.dir.path());
    ASSERT_TRUE(read.read);
    EXPECT_FALSE(read.notesOn().empty());
    for (const auto& n : read.notesOn()) EXPECT_GE(n.number("note"), 2) << "transposed up";

    e.CloseScore();
    EXPECT_FALSE(e.scoreOpen);
    EXPECT_EQ(e.CountStaves(), -1);
}

// The notes (key, start) of a Standard MIDI File, sorted.
std::vector<std::pair<int, std::int64_t>> notesOf(const fs::path& midi, const fs::path& folder) {
    std::vector<std::pair<int, std::int64_t>> out;
    const auto file = scoreconv::testing::readWithMido(midi, folder);
    EXPECT_TRUE(file.read) << midi;
    for (const auto& n : file.notesOn()) out.emplace_back(n.number("note"), n.tick);
    std::sort(out.begin(), out.end());
    return out;
}

// The score library's own rendering of a MusicXML file.
fs::path libraryRender(const fs::path& source, const fs::path& folder) {
    const fs::path target = folder / "library.mid";
    scMxmlFile* file = mxmlNewFile(nullptr, SCORECONV_MODE_RENDER, nullptr, 480, "qvp3 test", nullptr);
    const std::string from = source.string();
    const std::string to = target.string();
    std::int64_t playTime = 0;
    int result = -1;
    CThreadProcParams load{};
    load.file = file;
    load.sourcePath = from.c_str();
    load.playTime = &playTime;
    load.result = &result;
    EXPECT_EQ(mxmlConvertProc(&load), 0) << source;
    mxmlSetPlaymode(file, SCORECONV_MODE_RENDER);
    int state = -1;
    CThreadProcParams render{};
    render.file = file;
    render.sourcePath = to.c_str();
    render.state = &state;
    render.result = &result;
    EXPECT_EQ(mxmlPlayProc(&render), 0) << source;
    mxmlFreeFile(&file);
    return target;
}

// Every shared score opens as a project entry (converted to ".tvrx" on the
// way) and renders through the engine with the notes the score library
// renders from the MusicXML file itself. What a ".tvrx" cannot carry changes
// the notes of three of them; for those the keys must still be the same.
TEST(EntryOpen, SharedScoresRenderThroughTheEngineAsTheLibraryRendersThem) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    const std::map<std::string, std::string> keysOnly = {
        {"03a-Rhythm-Durations.xml", "a maxima and notes below a 256th"},
        {"24a-GraceNotes.xml", "no slashed grace notes in a .tvrx"},
        {"45a-SimpleRepeat.xml", "barlines carry no play count: the repeat plays twice"},
    };
    std::vector<fs::path> scores;
    for (const auto& entry : fs::directory_iterator(fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml")) {
        if (entry.path().extension() == ".xml") scores.push_back(entry.path());
    }
    std::sort(scores.begin(), scores.end());
    ASSERT_EQ(scores.size(), 24u);
    std::size_t notes = 0;
    for (const fs::path& score : scores) {
        const std::string name = score.filename().string();
        SCOPED_TRACE(name);
        Fixture f;
        const fs::path copy = f.dir.path() / name;
        fs::copy_file(score, copy);
        ASSERT_EQ(f.open(copy), 0);
        const ProjectEntry& entry = f.project.entries.back();
        EXPECT_EQ(entry.kind, EntryKind::TvrXml);
        ASSERT_EQ(f.engine.OpenScore(entry.Filename, 0), 0);
        const fs::path midi = f.dir.path() / "engine.mid";
        ASSERT_EQ(f.engine.call(179, midi.string().c_str()), 0);
        const auto engine = notesOf(midi, f.dir.path());
        const auto library = notesOf(libraryRender(score, f.dir.path()), f.dir.path());
        notes += engine.size();
        if (const auto why = keysOnly.find(name); why != keysOnly.end()) {
            std::set<int> a, b;
            for (const auto& n : engine) a.insert(n.first);
            for (const auto& n : library) b.insert(n.first);
            EXPECT_EQ(a, b) << why->second;
        } else {
            EXPECT_EQ(engine, library);
        }
    }
    EXPECT_GT(notes, 500u);
}

// Damaged scores are refused with a code and leave the project as it was;
// the sanitizer build runs this.
TEST(EntryOpen, DamagedScoresAreRefused) {
    Fixture f;
    const fs::path good = f.dir.path() / "good.tvrx";
    ASSERT_EQ(convertToTvrx(sharedScore("43a-PianoStaff.xml"), good), 0);
    const std::string tvrx = platform::testing::readBytes(good);
    const std::string tvr = binaryScore();
    std::mt19937 random(1210);
    int refused = 0;
    for (const auto& [bytes, extension] : {std::pair{tvrx, ".tvrx"}, std::pair{tvr, ".tvr"}}) {
        std::vector<std::string> copies;
        for (std::size_t cut = 1; cut < bytes.size(); cut += 1 + bytes.size() / 12) copies.push_back(bytes.substr(0, cut));
        for (int i = 0; i < 40; ++i) {
            std::string copy = bytes;
            copy[random() % copy.size()] ^= static_cast<char>(1 + random() % 255);
            copies.push_back(std::move(copy));
        }
        for (std::size_t i = 0; i < copies.size(); ++i) {
            const fs::path file = f.dir.path() / ("damaged" + std::to_string(i) + extension);
            platform::testing::writeBytes(file, copies[i]);
            const std::size_t before = f.project.entries.size();
            const int rc = f.open(file);
            if (rc != 0) {
                ++refused;
                EXPECT_LT(rc, 0);
                EXPECT_EQ(f.project.entries.size(), before);
            }
        }
    }
    EXPECT_GT(refused, 20);
}

// Without the engine every score fails cleanly: nothing opens, nothing crashes.
TEST(EntryOpen, WithoutTheEngineScoresFailCleanly) {
    TempFolder empty;
    TempFolder dir;
    CTavtuneLib engine;
    engine.Init(0, empty.path());
    ASSERT_FALSE(engine.isLoaded());
    platform::MessageTarget* window = nullptr;
    Pipeline pipeline(engine, &window);
    Neighbours neighbours{&pipeline};
    Project project(neighbours);
    project.data.ProjectFolder = dir.path();
    const fs::path tvrx = dir.path() / "piano.tvrx";
    ASSERT_EQ(convertToTvrx(sharedScore("43a-PianoStaff.xml"), tvrx), 0);
    const fs::path tvr = dir.path() / "two.tvr";
    platform::testing::writeBytes(tvr, binaryScore());
    const fs::path xml = dir.path() / "piano.xml";
    fs::copy_file(sharedScore("43a-PianoStaff.xml"), xml);
    for (const fs::path& file : {tvrx, tvr, xml}) {
        SCOPED_TRACE(file.filename().string());
        ProjectEntry entry;
        entry.Filename = file;
        pipeline.cnvEntryInit(entry, project);
        EXPECT_LT(pipeline.openEntry(entry, project, false, false), 0);
    }
    EXPECT_TRUE(project.entries.empty());
    std::int32_t ms = 0;
    EXPECT_EQ(engine.GetPlayTime(ms), -6);
    EXPECT_EQ(engine.CountStaves(), -1);
}

}  // namespace
}  // namespace qvp3

namespace qvp3 {
namespace {

// Constructs of real scores, converted to ".tvrx" and opened in the engine,
// play as long as their own comments say.
TEST(EntryOpen, ConstructsOfRealScoresKeepTheirPlayTimeThroughTheEngine) {
    const struct {
        const char* file;
        int ms;
    } cases[] = {
        {"tempo-two-sounds-same-moment.musicxml", 16000},
        {"tie-chord-partial.musicxml", 4000},
        {"playtime-trailing-rests.musicxml", 4000},
    };
    for (const auto& c : cases) {
        testing::EngineProject f;
        const fs::path tvrx = f.dir.path() / "construct.tvrx";
        ASSERT_EQ(convertToTvrx(fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml-constructs" / c.file, tvrx), 0) << c.file;
        ASSERT_EQ(f.open(tvrx), 0) << c.file;
        EXPECT_NEAR(f.project.entries.back().durationMs, c.ms, 20) << c.file;
    }
}

}  // namespace
}  // namespace qvp3
