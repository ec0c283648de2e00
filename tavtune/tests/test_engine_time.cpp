// The time, tempo, play-switch and render entry points against known scores:
// play times and positions (upbeats, meter changes, repeats), the play
// position with the tempo there, C97's tempo in the rendered file, tempo
// points that replace each other and that a render follows, switches through
// INI files, renders equal to the score library's own, and failed renders.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "../../scoreconv/tests/mido_support.h"
#include "engine/time_map.h"
#include "engine_fixtures.h"
#include "platform/ini_file.h"
#include "platform/message_target.h"
#include "play/play_proc.h"

using namespace tavtune;
using namespace tavtune::testing;

namespace {

using scoreconv::testing::MidoFile;
using Lines = std::vector<std::pair<std::string, std::string>>;

template <class T>
tvWord word(T* p) {
    return reinterpret_cast<tvWord>(p);
}
tvWord text(const std::string& s) { return reinterpret_cast<tvWord>(s.c_str()); }

// A MusicXML score converted to ".tvrx" and open in the engine.
struct Opened {
    explicit Opened(const fs::path& musicXml) : source(musicXml), tvrx(dir.path() / "score.tvrx") {
        EXPECT_EQ(convertToTvrx(musicXml, tvrx), 0) << musicXml;
        score = std::make_unique<EngineScore>(tvrx);
        EXPECT_EQ(score->result(), TAVTUNE_OPEN_OK) << musicXml;
    }
    platform::testing::TempFolder dir;
    fs::path source;
    fs::path tvrx;
    std::unique_ptr<EngineScore> score;
};

// Engine settings that outlive a score, put back after each test.
class EngineTimeTest : public ::testing::Test {
protected:
    void TearDown() override {
        call<101>(0, 0, 0x40000000);
        for (int option : {TAVTUNE_OPTION_DYNAMICS, TAVTUNE_OPTION_SWING, TAVTUNE_OPTION_TRILLS}) {
            call<92>(option, TAVTUNE_OPTION_OFF);
        }
        for (int kind : {kSwitchDynamics, kSwitchArticulation, kSwitchTrills}) call<135>(kind, 0);
        call<136>(0, 0, 0);
    }
};

double playTimeMs() {
    tvRequest r{};
    r.marker = -1;
    EXPECT_EQ(call<55>(word(&r), TAVTUNE_REQUEST_PLAY_TIME), 0);
    return r.playTimeMs;
}

std::pair<int, int> barAndTick(double ms) {
    tvRequest r{};
    r.positionMs = ms;
    EXPECT_EQ(call<55>(word(&r), TAVTUNE_REQUEST_POSITION), 0);
    return {r.result, r.result2};
}

void setPosition(double ms) {
    tvRequest r{};
    r.positionMs = ms;
    ASSERT_EQ(call<93>(word(&r), TAVTUNE_REQUEST_POSITION), 0);
}

struct Tempos {
    double written = -1, position = -1, played = -1;
};
Tempos tempos() {
    Tempos t;
    EXPECT_EQ(call<98>(word(&t.written), word(&t.position), word(&t.played)), 0);
    return t;
}

tvWord setTempo(double tempo, double factor) { return call<97>(word(&tempo), word(&factor)); }

std::vector<tvTempoPoint> enginePoints() {
    std::vector<tvTempoPoint> out;
    const tvWord count = call<100>(0, 0);
    for (tvWord i = 0; i < count; ++i) {
        tvTempoPoint p{};
        EXPECT_EQ(call<100>(word(&p), i), 0);
        out.push_back(p);
    }
    return out;
}

int renderTo(const fs::path& path) {
    const std::string t = path.string();
    return static_cast<int>(call<179>(text(t)));
}

// The library's own render of a MusicXML file.
fs::path libraryRender(const fs::path& musicXml, const fs::path& out) {
    int signal = 0;
    auto file = scoreconv::CMxmlFile::newFile(nullptr, scoreconv::kModeRender, &signal, 480, "qvp3 test", nullptr);
    EXPECT_EQ(scoreconv::loadPlayModel(*file, musicXml), 0);
    scoreconv::CPlayParams params;
    params.targetPath = out.string();
    EXPECT_EQ(scoreconv::runPlayPass(*file, params), 0);
    return out;
}

MidoFile readMidi(const fs::path& midi) {
    const MidoFile file = scoreconv::testing::readWithMido(midi, midi.parent_path());
    EXPECT_TRUE(file.read) << midi;
    return file;
}

// Every note as (on tick, key, velocity, off tick), whatever its track or channel.
using Note = std::tuple<std::int64_t, int, int, std::int64_t>;
std::vector<Note> notesOf(const MidoFile& file) {
    std::vector<Note> out;
    std::vector<scoreconv::testing::MidoEvent> open;
    for (const auto& e : file.events) {
        if (e.noteOn()) open.push_back(e);
        if (!e.noteOff()) continue;
        const auto on = std::find_if(open.begin(), open.end(), [&](const auto& o) {
            return o.track == e.track && o.number("note") == e.number("note") && o.number("channel") == e.number("channel");
        });
        if (on == open.end()) continue;
        out.emplace_back(on->tick, on->number("note"), on->number("velocity"), e.tick);
        open.erase(on);
    }
    std::sort(out.begin(), out.end());
    return out;
}


std::vector<int> volumesOf(const MidoFile& file) {
    std::vector<int> out;
    for (const auto& e : file.of("control_change")) {
        if (e.number("control") == 7) out.push_back(e.number("value"));
    }
    return out;
}

bool contains(const std::vector<int>& values, int v) { return std::find(values.begin(), values.end(), v) != values.end(); }

std::vector<std::string> folderNames(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// --- play time and positions ----------------------------------------------------------

TEST_F(EngineTimeTest, PlayTimesAndPositionsInBarsAndTicks) {
    struct Position {
        double ms;
        int bar, tick;
    };
    const struct Case {
        const char* file;
        double playTime;
        int ticksPerBeat, ticksPerBar;  // the opening meter at 384 per quarter
        std::vector<Position> positions;
    } cases[] = {
        // A quarter and three rests in 4/4 at 120.
        {"quarter_and_rests.xml", 2000, 384, 1536,
         {{0, 1, 0}, {499, 1, 479}, {500, 1, 480}, {1999, 1, 1919}, {2000, 2, 1920}, {-5, 1, 0}}},
        // 4/4, 4/4, 3/4, 6/8 at 120: the bars follow the meters.
        {"walk_changes.xml", 7000, 384, 1536,
         {{3999, 2, 3839}, {4000, 3, 3840}, {5499, 3, 5279}, {5500, 4, 5280}, {6999, 4, 6719}, {7000, 5, 6720}}},
        // 3/4 with a quarter upbeat: time 0 is the upbeat's note, bar 0 before tick 0.
        {"walk_upbeat.xml", 3000, 384, 1152,
         {{0, 0, -480}, {499, 0, -1}, {500, 1, 0}, {1000, 1, 480}, {2000, 2, 1440}, {3000, 2, 2400}}},
        // One tempo per system in a ".tvrx": the opening's, 60 (of a tempo word's 72 and
        // the metronome mark's 60 at one moment the later holds): 16 quarters.
        {"tempo_one_part.xml", 16000, 384, 1536, {{2500, 1, 1200}, {15999, 4, 7679}, {16000, 5, 7680}}},
        // A repeat plays a bar again: the play time counts it, the walk goes on once
        // through the written bars, so the last time falls a bar after the written end.
        {"walk_repeats.xml", 12000, 384, 1536, {{10000, 6, 9600}, {12000, 7, 11520}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        Opened s(scoreconvData(c.file));
        EXPECT_NEAR(playTimeMs(), c.playTime, 1.0);
        for (const Position& p : c.positions) {
            EXPECT_EQ(barAndTick(p.ms), std::make_pair(p.bar, p.tick)) << p.ms << " ms";
        }
        tvRequest meter{};
        ASSERT_EQ(call<55>(word(&meter), TAVTUNE_REQUEST_METER), 0);
        EXPECT_EQ(meter.reserved1[0], c.ticksPerBeat);
        EXPECT_EQ(meter.reserved1[1], c.ticksPerBar);
        EXPECT_EQ(call<55>(word(&meter), 0x777), TAVTUNE_NOT_HANDLED);
        EXPECT_EQ(call<55>(0, TAVTUNE_REQUEST_PLAY_TIME), TAVTUNE_NOT_HANDLED);
    }
    // A binary score: four quarters at 120 over a whole note.
    platform::testing::TempFolder dir;
    writeFile(dir.path() / "two.tvr", twoStaveBinaryScore());
    EngineScore binary(dir.path() / "two.tvr");
    ASSERT_EQ(binary.result(), TAVTUNE_OPEN_OK);
    EXPECT_DOUBLE_EQ(playTimeMs(), 2000.0);
    EXPECT_EQ(barAndTick(1000), std::make_pair(1, 960));
}

TEST_F(EngineTimeTest, ThePlayPositionAndTheTempoThere) {
    Opened s(scoreconvData("walk_changes.xml"));  // 7000 ms at 120
    const struct {
        double set, kept;
    } positions[] = {{700, 700}, {0, 0}, {-5, 0}, {99999, 7000}, {6999.5, 6999.5}};
    for (const auto& p : positions) {
        setPosition(p.set);
        const Tempos t = tempos();
        EXPECT_DOUBLE_EQ(t.position, p.kept) << p.set;
        EXPECT_DOUBLE_EQ(t.written, 120.0);
        EXPECT_DOUBLE_EQ(t.played, 120.0);
    }
    tvRequest bad{};
    bad.positionMs = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(call<93>(word(&bad), TAVTUNE_REQUEST_POSITION), TAVTUNE_NOT_HANDLED);
    bad.positionMs = 10;
    EXPECT_EQ(call<93>(word(&bad), TAVTUNE_REQUEST_PLAY_TIME), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<93>(0, TAVTUNE_REQUEST_POSITION), TAVTUNE_NOT_HANDLED);
    EXPECT_DOUBLE_EQ(tempos().position, 6999.5) << "a refused position changes nothing";
    double a = 0;
    EXPECT_EQ(call<98>(word(&a), 0, word(&a)), TAVTUNE_NOT_HANDLED);

    // Half the tempo: the position keeps its place in the score (tick 960), at twice the time.
    setPosition(1000);
    ASSERT_EQ(setTempo(30, 2.0), 0);
    Tempos t = tempos();
    EXPECT_DOUBLE_EQ(t.written, 120.0);
    EXPECT_DOUBLE_EQ(t.played, 60.0);
    EXPECT_DOUBLE_EQ(t.position, 2000.0);
    EXPECT_EQ(barAndTick(2000), std::make_pair(1, 960));
    EXPECT_DOUBLE_EQ(playTimeMs(), 14000.0);
    // Refused tempos change nothing and never divide by zero.
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const auto& [tempo, factor] : std::vector<std::pair<double, double>>{
             {0, 1}, {-60, 1}, {60, 0}, {60, -1}, {nan, 1}, {inf, 1}, {60, inf}}) {
        EXPECT_EQ(setTempo(tempo, factor), TAVTUNE_NOT_HANDLED) << tempo << " x " << factor;
    }
    const double one = 1.0;
    EXPECT_EQ(call<97>(0, word(&one)), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<97>(word(&one), 0), TAVTUNE_NOT_HANDLED);
    EXPECT_DOUBLE_EQ(tempos().played, 60.0);
    EXPECT_DOUBLE_EQ(playTimeMs(), 14000.0);
}

TEST_F(EngineTimeTest, TheTempoSetIsTheTempoRendered) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    Opened s(scoreconvData("quarter_and_rests.xml"));
    const fs::path own = s.dir.path() / "own.mid";
    ASSERT_EQ(renderTo(own), 0);
    const struct {
        double tempo, factor;
        int rendered;
        double playTime;
    } cases[] = {{50, 2.0, 100, 2400}, {60, 1.0, 60, 4000}, {240, 1.0, 240, 1000}, {120, 1.0, 120, 2000}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rendered);
        ASSERT_EQ(setTempo(c.tempo, c.factor), 0);
        EXPECT_DOUBLE_EQ(playTimeMs(), c.playTime);
        const fs::path out = s.dir.path() / ("at" + std::to_string(c.rendered) + ".mid");
        ASSERT_EQ(renderTo(out), 0);
        const MidoFile file = readMidi(out);
        EXPECT_EQ(temposOf(file), (std::vector<std::pair<std::int64_t, int>>{{0, c.rendered}}));
        EXPECT_EQ(notesOf(file), notesOf(readMidi(own))) << "the notes stay where they are";
    }
}

// --- tempo points ---------------------------------------------------------------------

TEST_F(EngineTimeTest, TempoPointsAreCountedFilledRefusedAndReplaced) {
    Opened s(scoreconvData("walk_changes.xml"));  // one own mark, 120 at 0; bars at 0, 1920, 3840, 5280; end 6720
    std::vector<tvTempoPoint> points = enginePoints();
    ASSERT_EQ(points.size(), 1u);
    EXPECT_EQ(points[0].position, 0);
    EXPECT_DOUBLE_EQ(double(points[0].tempo), 120.0);
    EXPECT_DOUBLE_EQ(double(points[0].factor), 1.0);
    EXPECT_EQ(points[0].kind, 0);
    EXPECT_DOUBLE_EQ(double(points[0].time), 0.0);

    // A curve: 60 from the start, 90 from bar 3, 240 (as 120 x 2) from bar 4.
    tvTempoPoint doubled = point(5280, 120, 1, 7);
    doubled.factor = 2.0;
    ASSERT_EQ(handOver({point(0, 60), point(3840, 90), doubled}), 0);
    points = enginePoints();
    ASSERT_EQ(points.size(), 4u) << "the count grows by what was handed over";
    const struct {
        int position;
        double tempo, time;
        int kind, tag;
    } expected[] = {{0, 120, 0, 0, 0}, {0, 60, 0, 1, 0}, {3840, 90, 8000, 1, 0}, {5280, 240, 10000, 1, 7}};
    for (std::size_t i = 0; i < points.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(points[i].position, expected[i].position);
        EXPECT_DOUBLE_EQ(double(points[i].tempo), expected[i].tempo);
        EXPECT_DOUBLE_EQ(double(points[i].factor), 1.0);
        EXPECT_NEAR(double(points[i].time), expected[i].time, 1e-6);
        EXPECT_EQ(points[i].kind, expected[i].kind);
        EXPECT_EQ(points[i].tag, expected[i].tag);
    }
    // 8 quarters at 60, 3 at 90, 3 at 240.
    EXPECT_DOUBLE_EQ(playTimeMs(), 10750.0);
    EXPECT_EQ(barAndTick(9000), std::make_pair(3, 4560));
    setPosition(9000);
    EXPECT_DOUBLE_EQ(tempos().written, 90.0);
    EXPECT_DOUBLE_EQ(tempos().played, 90.0);
    tvTempoPoint out{};
    EXPECT_EQ(call<100>(word(&out), 4), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(call<100>(word(&out), -1), TAVTUNE_NOT_HANDLED);

    // Refused points: each drops the unfinished list, the list in force stays.
    const double nan = std::numeric_limits<double>::quiet_NaN();
    tvTempoPoint noFactor = point(1920, 30);
    noFactor.factor = 0.0;  // counts as 1: taken
    const struct {
        const char* what;
        tvTempoPoint bad;
    } refusals[] = {{"tempo 0", point(1920, 0)},
                    {"a negative tempo", point(1920, -60)},
                    {"a tempo that is no number", point(1920, nan)},
                    {"a negative position", point(-1, 60)}};
    for (const auto& r : refusals) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(handOver({noFactor, r.bad}), -2);
        EXPECT_EQ(call<99>(0, 0), 0);
        EXPECT_EQ(call<100>(0, 0), 4);
        EXPECT_DOUBLE_EQ(playTimeMs(), 10750.0);
    }
    EXPECT_EQ(call<99>(word(&out), 0x131), TAVTUNE_NOT_HANDLED);

    // A new list replaces the old one; a point after the end is counted, not played.
    ASSERT_EQ(handOver({noFactor, point(100000, 10)}), 0);
    points = enginePoints();
    ASSERT_EQ(points.size(), 3u);
    EXPECT_EQ(points[1].position, 1920);
    EXPECT_DOUBLE_EQ(double(points[1].tempo), 30.0);
    EXPECT_DOUBLE_EQ(double(points[1].time), 2000.0);
    EXPECT_EQ(points[2].position, 100000);
    // 4 quarters at 120, 10 at 30.
    EXPECT_DOUBLE_EQ(playTimeMs(), 22000.0);
    EXPECT_EQ(call<99>(0, 0), 0) << "an empty list changes nothing";
    EXPECT_EQ(call<100>(0, 0), 3);
}

TEST_F(EngineTimeTest, ALongCurveIsTakenUpToItsLimit) {
    Opened s(scoreconvData("walk_changes.xml"));  // 6720 ticks
    // Handed over out of order: the list in force is in position order, each point at its time.
    std::vector<tvTempoPoint> curve;
    for (int i = 1999; i >= 0; --i) curve.push_back(point(i * 3, 60 + i % 100));
    ASSERT_EQ(handOver(curve), 0);
    const std::vector<tvTempoPoint> points = enginePoints();
    ASSERT_EQ(points.size(), 2001u);
    for (std::size_t i = 1; i < points.size(); ++i) {
        ASSERT_LE(points[i - 1].position, points[i].position) << i;
        ASSERT_LE(double(points[i - 1].time), double(points[i].time)) << i;
    }
    EXPECT_EQ(points[2000].position, 5997);
    EXPECT_DOUBLE_EQ(double(points[2000].tempo), 60.0 + 1999 % 100);

    // One list holds at most 16384 points: one more drops it, the list in force stays.
    std::vector<tvTempoPoint> tooLong(16385, point(0, 100));
    EXPECT_EQ(handOver(tooLong), -2);
    EXPECT_EQ(call<99>(0, 0), 0);
    EXPECT_EQ(call<100>(0, 0), 2001);
    tooLong.pop_back();
    ASSERT_EQ(handOver(tooLong), 0);
    EXPECT_EQ(call<100>(0, 0), 16385);
    EXPECT_DOUBLE_EQ(playTimeMs(), 14.0 * 600.0) << "14 quarters at 100";
}

TEST_F(EngineTimeTest, ARenderFollowsTheCurveAndTheTempoSetOnIt) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    Opened s(scoreconvData("walk_changes.xml"));
    const fs::path plain = s.dir.path() / "plain.mid";
    ASSERT_EQ(renderTo(plain), 0);
    ASSERT_EQ(handOver({point(0, 60), point(3840, 90), point(5280, 240)}), 0);
    // The host then sets the tempo at the play position to what the engine says is there.
    setPosition(0);
    ASSERT_EQ(setTempo(tempos().written, 1.0), 0);
    using Tempi = std::vector<std::pair<std::int64_t, int>>;
    const struct {
        double tempo;
        Tempi rendered;
        double playTime;
    } cases[] = {{60, {{0, 60}, {3840, 90}, {5280, 240}}, 10750},
                 // 60 more at the start: every tempo 60 more.
                 {120, {{0, 120}, {3840, 150}, {5280, 300}}, 5800}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tempo);
        ASSERT_EQ(setTempo(c.tempo, 1.0), 0);
        EXPECT_DOUBLE_EQ(playTimeMs(), c.playTime);
        const fs::path out = s.dir.path() / "curve.mid";
        ASSERT_EQ(renderTo(out), 0);
        const MidoFile file = readMidi(out);
        EXPECT_EQ(temposOf(file), c.rendered);
        EXPECT_EQ(notesOf(file), notesOf(readMidi(plain)));
    }
}

// --- play switches --------------------------------------------------------------------

const Lines kDynamicDefaults{{"fff", "127"}, {"ff", "110"}, {"f", "90"}, {"mf", "74"},
                             {"mp", "62"},   {"p", "44"},   {"pp", "22"}, {"ppp", "10"}};
const Lines kArticulationDefaults{{"Staccato", "-50,0"},      {"Staccatissimo", "-70,10"}, {"Tenuto", "10,0"},
                                  {"StrongAccent", "-40,118"}, {"NormalAccent", "-20,110"}, {"StrongBeat", "-50,127"},
                                  {"WeakBeat", "-10,102"}};
const Lines kTrillDefaults{{"Speed", "8"}};

Lines sectionOf(const fs::path& ini, const char* section) {
    platform::IniDocument doc;
    EXPECT_EQ(doc.load(ini), platform::IniStatus::Ok);
    return doc.readSection(section);
}

void writeSection(const fs::path& ini, const char* section, const Lines& lines) {
    platform::IniDocument doc;
    doc.load(ini);
    doc.writeSection(section, lines);
    ASSERT_EQ(doc.save(ini), platform::IniStatus::Ok);
}

TEST_F(EngineTimeTest, SwitchesRoundTripThroughIniFilesAndGoBackToTheirDefaults) {
    platform::testing::TempFolder dir;
    // A UTF-16LE file with a section of its own, which stays as it is.
    const fs::path ini = dir.path() / "switches.ini";
    const std::u16string content = u"\uFEFF[Other]\r\nName=Gr\u00FC\u00DFe \u266B\r\n";
    platform::testing::writeBytes(ini, std::string(reinterpret_cast<const char*>(content.data()), content.size() * 2));
    const std::string path = ini.string();
    const struct {
        int kind;
        const char* section;
        const Lines& defaults;
        Lines handed;   // what another program wrote into the section
        Lines taken;    // the switches afterwards
    } cases[] = {
        {kSwitchDynamics, "ctDynamic", kDynamicDefaults,
         {{"FFF", " 120 "}, {"p", "abc"}, {"sfz", "99"}, {"pp", "500"}, {"mf", "12abc"}},
         {{"fff", "120"}, {"ff", "110"}, {"f", "90"}, {"mf", "74"}, {"mp", "62"}, {"p", "44"}, {"pp", "127"}, {"ppp", "10"}}},
        {kSwitchArticulation, "ctArtic", kArticulationDefaults,
         {{"Staccato", "-60,5"}, {"Tenuto", "10"}, {"StrongAccent", "-200,300"}, {"weakbeat", "0,-5"}},
         {{"Staccato", "-60,5"}, {"Staccatissimo", "-70,10"}, {"Tenuto", "10,0"}, {"StrongAccent", "-100,127"},
          {"NormalAccent", "-20,110"}, {"StrongBeat", "-50,127"}, {"WeakBeat", "0,0"}}},
        {kSwitchTrills, "ctTrills", kTrillDefaults, {{"Speed", "100"}, {"Shape", "2"}}, {{"Speed", "64"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.section);
        ASSERT_EQ(call<169>(c.kind, text(path), reinterpret_cast<tvWord>(c.section)), 0);
        EXPECT_EQ(sectionOf(ini, c.section), c.defaults);
        writeSection(ini, c.section, c.handed);
        ASSERT_EQ(call<168>(c.kind, text(path), reinterpret_cast<tvWord>(c.section)), 0);
        ASSERT_EQ(call<169>(c.kind, text(path), reinterpret_cast<tvWord>("ctOut")), 0);
        EXPECT_EQ(sectionOf(ini, "ctOut"), c.taken);
        ASSERT_EQ(call<135>(c.kind, 0), 0);
        ASSERT_EQ(call<169>(c.kind, text(path), reinterpret_cast<tvWord>("ctOut")), 0);
        EXPECT_EQ(sectionOf(ini, "ctOut"), c.defaults);
    }
    platform::IniDocument doc;
    ASSERT_EQ(doc.load(ini), platform::IniStatus::Ok);
    EXPECT_EQ(doc.sourceEncoding(), platform::IniEncoding::Utf16Le);
    EXPECT_EQ(doc.getString("Other", "Name", ""), "Gr\u00FC\u00DFe \u266B");

    const std::string absent = (dir.path() / "absent.ini").string();
    const std::string noFolder = (dir.path() / "none" / "x.ini").string();
    const struct {
        const char* what;
        tvWord rc;
    } refusals[] = {
        {"a missing section", call<168>(kSwitchDynamics, text(path), reinterpret_cast<tvWord>("ctMissing"))},
        {"a missing file", call<168>(kSwitchDynamics, text(absent), reinterpret_cast<tvWord>("ctDynamic"))},
        {"an unknown kind", call<168>(9, text(path), reinterpret_cast<tvWord>("ctDynamic"))},
        {"no section", call<168>(kSwitchDynamics, text(path), 0)},
        {"no path", call<168>(kSwitchDynamics, 0, reinterpret_cast<tvWord>("ctDynamic"))},
        {"writing an unknown kind", call<169>(9, text(path), reinterpret_cast<tvWord>("x"))},
        {"writing into a missing folder", call<169>(kSwitchDynamics, text(noFolder), reinterpret_cast<tvWord>("x"))},
        {"an instrument table that does not exist", call<168>(kInstrumentTables, text(absent), 0)},
    };
    for (const auto& r : refusals) EXPECT_NE(r.rc, 0) << r.what;
    EXPECT_EQ(call<168>(kInstrumentTables, text(path), 0), 0);
    EXPECT_EQ(Engine::instance().instrumentTables, ini);
}

TEST_F(EngineTimeTest, SwitchesAndOptionsShapeTheRenderOfLaterScores) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    platform::testing::TempFolder dir;
    const fs::path ini = dir.path() / "switches.ini";
    const std::string path = ini.string();
    // Handed over with no score open: they hold for the scores opened later.
    writeSection(ini, "ctDynamic", {{"p", "30"}});
    writeSection(ini, "ctArtic", {{"NormalAccent", "-20,100"}});
    ASSERT_EQ(call<168>(kSwitchDynamics, text(path), reinterpret_cast<tvWord>("ctDynamic")), 0);
    ASSERT_EQ(call<168>(kSwitchArticulation, text(path), reinterpret_cast<tvWord>("ctArtic")), 0);

    const auto velocityAt = [](const std::vector<Note>& notes, std::int64_t tick) {
        for (const Note& n : notes) {
            if (std::get<0>(n) == tick) return std::get<2>(n);
        }
        return -1;
    };
    {
        // 32a: a normal accent on the note at tick 3840.
        Opened s(sharedScore("32a-Notations.xml"));
        const fs::path out = s.dir.path() / "out.mid";
        ASSERT_EQ(renderTo(out), 0);
        EXPECT_EQ(velocityAt(notesOf(readMidi(out)), 3840), 90) << "articulation is off";
        ASSERT_EQ(call<92>(TAVTUNE_OPTION_SWING, TAVTUNE_OPTION_SWING), 0);
        ASSERT_EQ(renderTo(out), 0);
        EXPECT_EQ(velocityAt(notesOf(readMidi(out)), 3840), 100);
        ASSERT_EQ(call<135>(kSwitchArticulation, 0), 0);
        ASSERT_EQ(renderTo(out), 0);
        EXPECT_EQ(velocityAt(notesOf(readMidi(out)), 3840), 110) << "the default row";
    }
    {
        // walk_directions: p on its first note; with dynamics the level goes out as the volume.
        Opened s(scoreconvData("walk_directions.xml"));
        const fs::path out = s.dir.path() / "out.mid";
        ASSERT_EQ(renderTo(out), 0);
        EXPECT_FALSE(contains(volumesOf(readMidi(out)), 30)) << "dynamics are off";
        ASSERT_EQ(call<92>(TAVTUNE_OPTION_DYNAMICS, TAVTUNE_OPTION_DYNAMICS), 0);
        ASSERT_EQ(renderTo(out), 0);
        const std::vector<int> switched = volumesOf(readMidi(out));
        EXPECT_TRUE(contains(switched, 30));
        EXPECT_FALSE(contains(switched, 44));
        ASSERT_EQ(call<135>(kSwitchDynamics, 0), 0);
        ASSERT_EQ(renderTo(out), 0);
        EXPECT_TRUE(contains(volumesOf(readMidi(out)), 44)) << "the default level of p";
    }
}

// --- rendering ------------------------------------------------------------------------

TEST_F(EngineTimeTest, TheRenderHasTheNotesAndTemposOfTheLibrarysOwnRender) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    // Tempo changes inside a system do not survive the ".tvrx" (README): there
    // only the notes are compared.
    const struct {
        fs::path xml;
        bool tempos;
    } scores[] = {{scoreconvData("quarter_and_rests.xml"), true}, {scoreconvData("walk_chords.xml"), true},
                  {scoreconvData("walk_directions.xml"), false},  {scoreconvData("walk_upbeat.xml"), true},
                  {scoreconvData("walk_changes.xml"), true},      {scoreconvData("walk_repeats.xml"), true},
                  {scoreconvData("tempo_two_parts.xml"), false},  {scoreconvData("walk_ties.xml"), true},
                  {scoreconvData("tie_chains.xml"), true},        {scoreconvData("walk_percussion.xml"), true},
                  {sharedScore("45b-RepeatWithAlternatives.xml"), true}, {sharedScore("43a-PianoStaff.xml"), true},
                  {sharedScore("41a-MultiParts-Partorder.xml"), true}};
    for (const auto& [xml, compareTempos] : scores) {
        SCOPED_TRACE(xml.filename().string());
        Opened s(xml);
        platform::RecordingMessageTarget progress;
        ASSERT_EQ(call<136>(word(&progress), platform::WM_ENGINE_PROGRESS, 0), 0);
        const fs::path out = s.dir.path() / "engine.mid";
        ASSERT_EQ(renderTo(out), 0);
        const MidoFile engine = readMidi(out);
        const MidoFile library = readMidi(libraryRender(xml, s.dir.path() / "library.mid"));
        EXPECT_FALSE(notesOf(engine).empty());
        EXPECT_EQ(notesOf(engine), notesOf(library));
        if (compareTempos) {
            EXPECT_EQ(temposOf(engine), temposOf(library));
        }
        EXPECT_EQ(engine.division, 480);

        const auto messages = progress.messages();
        ASSERT_GE(messages.size(), 2u);
        EXPECT_EQ(messages.front().wParam, 0u);
        EXPECT_EQ(messages.back().wParam, 100u);
        for (std::size_t i = 0; i < messages.size(); ++i) {
            EXPECT_EQ(messages[i].msg, platform::WM_ENGINE_PROGRESS);
            EXPECT_EQ(messages[i].delivery, platform::Delivery::Posted);
            EXPECT_EQ(messages[i].lParam, 0);
            if (i > 0) {
                EXPECT_GT(messages[i].wParam, messages[i - 1].wParam);
            }
        }
    }
    // A longer score reports on the way (its rendered seconds against the play time).
    Opened s(sharedScore("32a-Notations.xml"));
    platform::RecordingMessageTarget progress;
    call<136>(word(&progress), platform::WM_ENGINE_PROGRESS, 0);
    ASSERT_EQ(renderTo(s.dir.path() / "long.mid"), 0);
    EXPECT_GT(progress.count(), 10u);
}

TEST_F(EngineTimeTest, ABinaryScoreRendersItsNotes) {
    if (!scoreconv::testing::midoAvailable()) GTEST_SKIP() << "python3-mido is not installed";
    platform::testing::TempFolder dir;
    writeFile(dir.path() / "two.tvr", twoStaveBinaryScore());
    EngineScore score(dir.path() / "two.tvr");
    ASSERT_EQ(score.result(), TAVTUNE_OPEN_OK);
    ASSERT_EQ(renderTo(dir.path() / "two.mid"), 0);
    std::vector<std::pair<std::int64_t, int>> notes;
    for (const Note& n : notesOf(readMidi(dir.path() / "two.mid"))) notes.emplace_back(std::get<0>(n), std::get<1>(n));
    EXPECT_EQ(notes, (std::vector<std::pair<std::int64_t, int>>{{0, 72}, {0, 72}, {480, 74}, {960, 76}, {1440, 77}}));
}

TEST_F(EngineTimeTest, AFailedRenderLeavesNothingAndKeepsAnOlderFile) {
    Opened s(scoreconvData("walk_chords.xml"));
    const fs::path folder = s.dir.path();
    const fs::path older = folder / "older.mid";
    platform::testing::writeBytes(older, "an older file");
    platform::testing::writeBytes(folder / "plain", "a file");
    fs::create_directory(folder / "taken.mid");
    fs::create_hard_link(s.tvrx, folder / "link.tvrx");
    const std::vector<std::string> before = folderNames(folder);
    const std::string score = platform::testing::readBytes(s.tvrx);
    const struct {
        const char* what;
        fs::path target;
    } cases[] = {
        {"a folder that does not exist", folder / "absent" / "x.mid"},
        {"a folder that is a file", folder / "plain" / "x.mid"},
        {"a folder in the way", folder / "taken.mid"},
        {"the score itself", s.tvrx},
        {"the score under another name", folder / "link.tvrx"},
        {"the score by a longer way", folder / "taken.mid" / ".." / "score.tvrx"},
        {"an empty path", fs::path()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_LT(renderTo(c.target), 0);
        EXPECT_EQ(folderNames(folder), before) << "no scratch file is left";
    }
    EXPECT_EQ(call<179>(0), TAVTUNE_NOT_HANDLED);
    EXPECT_EQ(platform::testing::readBytes(older), "an older file");
    // (Compared with its own bytes: a converted file carries the time it was written.)
    EXPECT_EQ(platform::testing::readBytes(s.tvrx), score) << "the score is as it was";
    ASSERT_EQ(renderTo(older), 0) << "an older file is replaced by a render that succeeds";
    EXPECT_EQ(platform::testing::readBytes(older).substr(0, 4), "MThd");
    EXPECT_EQ(folderNames(folder), before);
}

// --- faults ---------------------------------------------------------------------------

TEST_F(EngineTimeTest, ATempoOf0AnEmptyScoreAndOddRecordsDivideByNothing) {
    {
        // A tempo mark of 0 plays as 120, as in the player.
        Opened s(scoreconvData("quarter_and_rests.xml"));
        scoreconv::PlayScore& m = Engine::instance().score()->model();
        scorecore::CScoreEvent zero;
        scoreconv::makeTempoEvent(zero, 0, 0);
        ASSERT_EQ(m.events.insertInOrder(m.events.globalRow(), 0, zero), 0);
        EXPECT_DOUBLE_EQ(playTimeMs(), 2000.0);
        EXPECT_EQ(barAndTick(1000), std::make_pair(1, 960));
        EXPECT_DOUBLE_EQ(tempos().written, 120.0);
        const std::vector<tvTempoPoint> points = enginePoints();
        ASSERT_EQ(points.size(), 2u);
        EXPECT_DOUBLE_EQ(double(points[1].tempo), 120.0);
    }
    {
        // A score without staves.
        platform::testing::TempFolder dir;
        writeFile(dir.path() / "empty.tvr", binScore(120, {binStave(0, {binVoice({})})}));
        EngineScore score(dir.path() / "empty.tvr");
        ASSERT_EQ(score.result(), TAVTUNE_OPEN_OK);
        const double time = playTimeMs();
        EXPECT_LT(time, 50.0) << "at most the player's one step";
        EXPECT_EQ(barAndTick(5000), std::make_pair(3, 4800)) << "on at the tempo and meter in force";
        setPosition(5000);
        EXPECT_DOUBLE_EQ(tempos().position, time);
        ASSERT_EQ(handOver({point(0, 60)}), 0);
        EXPECT_GE(call<100>(0, 0), 1);
        const fs::path out = dir.path() / "empty.mid";
        const int rc = renderTo(out);
        EXPECT_EQ(fs::exists(out), rc == 0);
    }
    // Record sizes are the caller's: checked before anything is written.
    std::vector<unsigned char> record(4097, 0xAB);
    const struct {
        tvWord size;
        tvWord rc;
    } sizes[] = {{0, TAVTUNE_NOT_HANDLED}, {-1, TAVTUNE_NOT_HANDLED}, {4097, TAVTUNE_NOT_HANDLED},
                 {TAVTUNE_REQUEST_SIZE, 0},  {4096, 0}};
    for (const auto& c : sizes) {
        std::fill(record.begin(), record.end(), 0xAB);
        EXPECT_EQ(call<94>(word(record.data()), c.size), c.rc) << c.size;
        const auto zeroed = record.begin() + static_cast<std::ptrdiff_t>(c.rc == 0 ? c.size : 0);
        EXPECT_TRUE(std::all_of(record.begin(), zeroed, [](unsigned char b) { return b == 0; })) << c.size;
        EXPECT_TRUE(std::all_of(zeroed, record.end(), [](unsigned char b) { return b == 0xAB; })) << c.size;
    }
    EXPECT_EQ(call<94>(0, TAVTUNE_REQUEST_SIZE), TAVTUNE_NOT_HANDLED);
}

// Without an open score the time entry points answer "none"; zeroing a record needs none.
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
