// Time, tempo and rendering of the open score: the play time, positions in
// bars, the tempo at the play position and the one it plays at, tempo points,
// the play switches kept in INI files, and the Standard MIDI File it renders.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "../../scoreconv/tests/mido_support.h"
#include "engine_fixtures.h"
#include "platform/ini_file.h"
#include "platform/message_target.h"
#include "play/play_proc.h"

using namespace tavtune;
using namespace tavtune::testing;

namespace {

struct Opened {
    explicit Opened(const fs::path& musicXml) : tvrx(dir.path() / "score.tvrx") {
        EXPECT_EQ(convertToTvrx(musicXml, tvrx), 0) << musicXml;
        score = std::make_unique<EngineScore>(tvrx);
        EXPECT_EQ(score->result(), TAVTUNE_OPEN_OK);
    }
    platform::testing::TempFolder dir;
    fs::path tvrx;
    std::unique_ptr<EngineScore> score;
};

double playTimeMs() {
    tvRequest r{};
    r.marker = -1;
    EXPECT_EQ(call<55>(reinterpret_cast<tvWord>(&r), TAVTUNE_REQUEST_PLAY_TIME), 0);
    return r.playTimeMs;
}

void setPosition(double ms) {
    tvRequest r{};
    r.positionMs = ms;
    ASSERT_EQ(call<93>(reinterpret_cast<tvWord>(&r), TAVTUNE_REQUEST_POSITION), 0);
}

struct Tempos {
    double written = 0, position = 0, played = 0;
};
Tempos tempos() {
    Tempos t;
    EXPECT_EQ(call<98>(reinterpret_cast<tvWord>(&t.written), reinterpret_cast<tvWord>(&t.position),
                       reinterpret_cast<tvWord>(&t.played)),
              0);
    return t;
}

std::vector<scoreconv::testing::MidoEvent> midoNotes(const fs::path& midi, const fs::path& folder) {
    const auto file = scoreconv::testing::readWithMido(midi, folder);
    EXPECT_TRUE(file.read) << midi;
    return file.notesOn();
}

// The notes of a render of the MusicXML file by the score library itself.
fs::path libraryRender(const fs::path& musicXml, const fs::path& folder) {
    int signal = 0;
    auto file = scoreconv::CMxmlFile::newFile(nullptr, scoreconv::kModeRender, &signal, 480, "qvp3 test", nullptr);
    EXPECT_EQ(scoreconv::loadPlayModel(*file, musicXml), 0);
    const fs::path out = folder / "library.mid";
    scoreconv::CPlayParams params;
    params.targetPath = out.string();
    EXPECT_EQ(scoreconv::runPlayPass(*file, params), 0);
    return out;
}

int renderTo(const fs::path& path) {
    const std::string text = path.string();
    return static_cast<int>(call<179>(reinterpret_cast<tvWord>(text.c_str())));
}

TEST(EngineTime, PlayTimePositionsAndTempo) {
    Opened s(scoreconvData("quarter_and_rests.xml"));  // a quarter and three rests in 4/4 at 120
    EXPECT_DOUBLE_EQ(playTimeMs(), 2000.0);
    const struct {
        double ms;
        int bar, tick;
    } positions[] = {{0, 1, 0}, {499, 1, 479}, {500, 1, 480}, {1999, 1, 1919}, {2000, 2, 1920}, {-5, 1, 0}};
    for (const auto& p : positions) {
        tvRequest r{};
        r.positionMs = p.ms;
        ASSERT_EQ(call<55>(reinterpret_cast<tvWord>(&r), TAVTUNE_REQUEST_POSITION), 0);
        EXPECT_EQ(r.result, p.bar) << p.ms;
        EXPECT_EQ(r.result2, p.tick) << p.ms;
    }
    tvRequest meter{};
    ASSERT_EQ(call<55>(reinterpret_cast<tvWord>(&meter), TAVTUNE_REQUEST_METER), 0);
    EXPECT_EQ(meter.reserved1[0], 384);
    EXPECT_EQ(meter.reserved1[1], 1536);

    setPosition(700);
    Tempos t = tempos();
    EXPECT_DOUBLE_EQ(t.written, 120.0);
    EXPECT_DOUBLE_EQ(t.position, 700.0);
    EXPECT_DOUBLE_EQ(t.played, 120.0);
    setPosition(99999);
    EXPECT_DOUBLE_EQ(tempos().position, 2000.0) << "the position stays inside the score";

    const double sixty = 60.0, one = 1.0, zero = 0.0;
    ASSERT_EQ(call<97>(reinterpret_cast<tvWord>(&sixty), reinterpret_cast<tvWord>(&one)), 0);
    EXPECT_DOUBLE_EQ(tempos().played, 60.0);
    EXPECT_DOUBLE_EQ(tempos().written, 120.0);
    EXPECT_DOUBLE_EQ(playTimeMs(), 4000.0) << "half the tempo, twice the time";
    EXPECT_EQ(call<97>(reinterpret_cast<tvWord>(&zero), reinterpret_cast<tvWord>(&one)), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<97>(reinterpret_cast<tvWord>(&sixty), 0), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<55>(reinterpret_cast<tvWord>(&meter), 0x777), TAVTUNE_NOT_HANDLED);
}

TEST(EngineTime, TempoPointsAreCountedReadAndPlayed) {
    Opened s(scoreconvData("tempo_one_part.xml"));
    const int own = static_cast<int>(call<100>(0, 0));
    EXPECT_GE(own, 1) << "the score's own tempo marks";
    tvTempoPoint first{};
    ASSERT_EQ(call<100>(reinterpret_cast<tvWord>(&first), 0), 0);
    EXPECT_EQ(first.position, 0);
    EXPECT_GT(double(first.tempo), 0.0);  // a packed field: by value
    const double before = playTimeMs();

    tvTempoPoint slower{};
    slower.position = 0;
    slower.tempo = first.tempo / 2;
    slower.factor = 1.0;
    ASSERT_EQ(call<99>(reinterpret_cast<tvWord>(&slower), TAVTUNE_REQUEST_TEMPO_POINT), 0);
    ASSERT_EQ(call<99>(0, 0), 0);
    EXPECT_EQ(call<100>(0, 0), own) << "the list is in force once it ends";
    tvTempoPoint late = slower;
    late.position = 1 << 20;  // after the score's end: counted, not played
    ASSERT_EQ(call<99>(reinterpret_cast<tvWord>(&late), TAVTUNE_REQUEST_TEMPO_POINT), 0);
    ASSERT_EQ(call<99>(0, 0), 0);
    ASSERT_EQ(call<99>(0, 0), 0);
    EXPECT_EQ(call<100>(0, 0), own + 2) << "the count grows by what was handed over";
    EXPECT_GT(playTimeMs(), before * 1.2) << "the score plays slower from the first point on";

    tvTempoPoint bad = slower;
    bad.tempo = 0;
    EXPECT_EQ(call<99>(reinterpret_cast<tvWord>(&bad), TAVTUNE_REQUEST_TEMPO_POINT), -2);
    bad = slower;
    bad.position = -1;
    EXPECT_EQ(call<99>(reinterpret_cast<tvWord>(&bad), TAVTUNE_REQUEST_TEMPO_POINT), -2);
    EXPECT_EQ(call<100>(reinterpret_cast<tvWord>(&first), own + 2), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<100>(reinterpret_cast<tvWord>(&first), -1), TAVTUNE_NOT_HANDLED);
}

TEST(EngineRender, TheRenderHasTheNotesOfTheLibrarysOwnRender) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    for (const char* name : {"43a-PianoStaff.xml", "21a-Chord-Basic.xml", "41a-MultiParts-Partorder.xml"}) {
        SCOPED_TRACE(name);
        Opened s(sharedScore(name));
        platform::RecordingMessageTarget progress;
        ASSERT_EQ(call<136>(reinterpret_cast<tvWord>(&progress), 0x720, 0), 0);
        const fs::path out = s.dir.path() / "engine.mid";
        ASSERT_EQ(renderTo(out), 0);
        call<136>(0, 0, 0);
        std::vector<std::pair<std::int64_t, int>> engineNotes, libraryNotes;
        for (const auto& e : midoNotes(out, s.dir.path())) engineNotes.emplace_back(e.tick, e.number("note"));
        for (const auto& e : midoNotes(libraryRender(sharedScore(name), s.dir.path()), s.dir.path())) {
            libraryNotes.emplace_back(e.tick, e.number("note"));
        }
        std::sort(engineNotes.begin(), engineNotes.end());
        std::sort(libraryNotes.begin(), libraryNotes.end());
        EXPECT_FALSE(engineNotes.empty());
        EXPECT_EQ(engineNotes, libraryNotes);
        const auto messages = progress.messages();
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.front().wParam, 0u);
        EXPECT_EQ(messages.back().wParam, 100u);
    }
}

TEST(EngineRender, AFailedRenderLeavesNothingAndKeepsAnOlderFile) {
    Opened s(scoreconvData("walk_chords.xml"));
    const fs::path older = s.dir.path() / "older.mid";
    platform::testing::writeBytes(older, "an older file");
    const struct {
        const char* what;
        fs::path target;
    } cases[] = {
        {"a folder that does not exist", s.dir.path() / "absent" / "x.mid"},
        {"the score itself", s.tvrx},
        {"an empty path", fs::path()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_NE(renderTo(c.target), 0);
    }
    EXPECT_EQ(platform::testing::readBytes(older), "an older file");
    EXPECT_TRUE(fs::file_size(s.tvrx) > 0);
    int files = 0;
    for (const auto& entry : fs::directory_iterator(s.dir.path())) {
        (void)entry;
        ++files;
    }
    EXPECT_EQ(files, 2) << "no scratch file is left";
    EXPECT_EQ(renderTo(older), 0);
    EXPECT_NE(platform::testing::readBytes(older).substr(0, 4), "an o");
}

TEST(EngineSwitches, RoundTripThroughAnIniFileAndBackToDefaults) {
    platform::testing::TempFolder dir;
    const fs::path ini = dir.path() / "switches.ini";
    const std::string path = ini.string();
    const auto section = [&](const char* name) {
        platform::IniDocument doc;
        EXPECT_EQ(doc.load(ini), platform::IniStatus::Ok);
        return doc.readSection(name);
    };
    ASSERT_EQ(call<169>(4, reinterpret_cast<tvWord>(path.c_str()), reinterpret_cast<tvWord>("ctDynamic")), 0);
    ASSERT_EQ(call<169>(2, reinterpret_cast<tvWord>(path.c_str()), reinterpret_cast<tvWord>("ctArtic")), 0);
    ASSERT_EQ(call<169>(5, reinterpret_cast<tvWord>(path.c_str()), reinterpret_cast<tvWord>("ctTrills")), 0);
    auto dynamics = section("ctDynamic");
    ASSERT_EQ(dynamics.size(), 8u);
    EXPECT_EQ(dynamics.front(), (std::pair<std::string, std::string>{"fff", "127"}));
    EXPECT_EQ(section("ctArtic").size(), 7u);
    EXPECT_EQ(section("ctTrills").size(), 1u);

    platform::IniDocument doc;
    doc.load(ini);
    doc.writeSection("ctDynamic", {{"fff", "120"}, {"p", "not a number"}, {"sfz", "99"}});
    ASSERT_EQ(doc.save(ini), platform::IniStatus::Ok);
    ASSERT_EQ(call<168>(4, reinterpret_cast<tvWord>(path.c_str()), reinterpret_cast<tvWord>("ctDynamic")), 0);
    ASSERT_EQ(call<169>(4, reinterpret_cast<tvWord>(path.c_str()), reinterpret_cast<tvWord>("ctOut")), 0);
    EXPECT_EQ(section("ctOut").front(), (std::pair<std::string, std::string>{"fff", "120"}));
    ASSERT_EQ(call<135>(4, 0), 0);
    ASSERT_EQ(call<169>(4, reinterpret_cast<tvWord>(path.c_str()), reinterpret_cast<tvWord>("ctOut")), 0);
    EXPECT_EQ(section("ctOut"), dynamics);

    EXPECT_NE(call<168>(4, reinterpret_cast<tvWord>(path.c_str()), reinterpret_cast<tvWord>("ctMissing")), 0);
    EXPECT_NE(call<168>(9, reinterpret_cast<tvWord>(path.c_str()), reinterpret_cast<tvWord>("ctDynamic")), 0);
    EXPECT_NE(call<169>(9, reinterpret_cast<tvWord>(path.c_str()), reinterpret_cast<tvWord>("x")), 0);
    EXPECT_EQ(call<168>(7, reinterpret_cast<tvWord>(path.c_str()), 0), 0) << "an instrument-table file that reads";
    const std::string absent = (dir.path() / "absent.ini").string();
    EXPECT_NE(call<168>(7, reinterpret_cast<tvWord>(absent.c_str()), 0), 0);
}

TEST(EngineTime, WithoutAScoreTimeAnswersNone) {
    call<101>(0, 0, 0x40000000);
    tvRequest r{};
    tvTempoPoint p{};
    double a = 0, b = 0, c = 0;
    EXPECT_EQ(call<55>(reinterpret_cast<tvWord>(&r), TAVTUNE_REQUEST_PLAY_TIME), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<93>(reinterpret_cast<tvWord>(&r), TAVTUNE_REQUEST_POSITION), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<98>(reinterpret_cast<tvWord>(&a), reinterpret_cast<tvWord>(&b), reinterpret_cast<tvWord>(&c)),
              TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<99>(reinterpret_cast<tvWord>(&p), TAVTUNE_REQUEST_TEMPO_POINT), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<100>(0, 0), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<179>(reinterpret_cast<tvWord>("/tmp/x.mid")), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<94>(reinterpret_cast<tvWord>(&r), sizeof r), 0) << "zeroing a record needs no score";
    EXPECT_EQ(call<94>(reinterpret_cast<tvWord>(&r), 0), TAVTUNE_NOT_HANDLED);
}

}  // namespace
