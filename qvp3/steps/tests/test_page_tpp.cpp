// The tempo-curve page on MIDI entries read by the pipeline: its controls
// set the entry's curve, a click or a move while recording records tempo
// points, and the transport plays them.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>

#include "../src/pages/tempo_pages.h"
#include "../src/pages/tpp_widgets.h"
#include "platform_testing/fake_clock.h"
#include "qvp3_pipeline/midi_write.h"
#include "qvp3_project/profile_file.h"
#include "qvp3_project/tempo_curve.h"
#include "tempo_page_fixture.h"
#include "../../pipeline/tests/engine_test_support.h"

namespace qvp3 {
namespace {

using testing::TempoPageFixture;

constexpr int kSpeedSlider = 9001;
constexpr int kDown = 9003;
constexpr int kMinimum = 9005;
constexpr int kTempoSlider = 9006;
constexpr int kMaximum = 9007;
constexpr int kUp = 9009;
constexpr int kShowTempos = 9011;
constexpr int kFileTempos = 9012;
constexpr const char* kKeepKey = "{C9868768-C008-4533-8EED-375C397AD3C7}";

struct CurvePage : TempoPageFixture {
    CurvePage() : TempoPageFixture(kStepTpp) {}
    QAction& action(int id) { return *window->findChild<QAction*>(QString::number(id)); }
    QSlider& tempoSlider() { return control<QSlider>(kTempoSlider); }
    void record(bool on) {
        if (action(40075).isChecked() != on) action(40075).trigger();
    }
    // The point of the tempo slider's channel at a share of its span (0..1), on screen.
    QPoint onChannel(double share) {
        int left = 0;
        int right = 0;
        tmpSliderSpan(tempoSlider(), left, right);
        const int x = left + static_cast<int>(share * (right - left));
        return tempoSlider().mapToGlobal(QPoint(x, tempoSlider().height() / 2));
    }
    void mouse(QEvent::Type type, const QPoint& global) {
        const QPointF local = tempoSlider().mapFromGlobal(global);
        QMouseEvent event(type, local, QPointF(global), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&tempoSlider(), &event);
    }
    const std::vector<TempoPoint>& recorded(int index = 0) {
        return entry(index).tempoCurve.points[TempoCurve::kRecordedList];
    }
};

TEST(TempoCurvePage, ControlsSetTheCurveAndTheProjectFileKeepsIt) {
    CurvePage f;
    EXPECT_FALSE(f.tempoSlider().isEnabled()) << "nothing to move without recording";
    EXPECT_FALSE(f.control<QPushButton>(kDown).isEnabled());
    EXPECT_FALSE(f.control<QPushButton>(kUp).isEnabled());
    EXPECT_FALSE(f.control<QCheckBox>(kShowTempos).isEnabled());
    f.screenshot("step_tpp_idle");

    f.key(f.control<QSlider>(kSpeedSlider), Qt::Key_Right, Qt::ControlModifier);
    EXPECT_EQ(f.entry().tempoCurve.speed, 1010) << "Ctrl moves the speed ten times as far";
    f.key(f.control<QSlider>(kSpeedSlider), Qt::Key_Right);
    EXPECT_EQ(f.entry().tempoCurve.speed, 1011);
    EXPECT_TRUE(f.stepDirty(kStepTpp));

    f.record(true);
    EXPECT_TRUE(f.entry().tempoCurve.record);
    EXPECT_TRUE(f.tempoSlider().isEnabled());
    f.control<QSpinBox>(kMinimum).setValue(60);
    f.control<QSpinBox>(kMaximum).setValue(240);
    EXPECT_EQ(f.tempoSlider().minimum(), 60);
    EXPECT_EQ(f.tempoSlider().maximum(), 240);
    f.control<QCheckBox>(kShowTempos).click();
    f.control<QCheckBox>(kFileTempos).click();
    EXPECT_TRUE(f.entry().tempoCurve.showTempos);
    EXPECT_FALSE(f.entry().tempoCurve.fileTempos);
    EXPECT_TRUE(stpData<TppData>(f.page(kStepTpp))->changed) << "the green notice";

    const auto reread = f.saveAndReopen();
    const TempoCurve& curve = reread->entries[0].tempoCurve;
    EXPECT_EQ(curve.speed, 1011);
    EXPECT_EQ(curve.minimum, 60);
    EXPECT_EQ(curve.maximum, 240);
    EXPECT_TRUE(curve.showTempos);
    EXPECT_FALSE(curve.fileTempos);
    EXPECT_TRUE(curve.record);
    EXPECT_EQ(reread->entries[1].tempoCurve.minimum, 10);
}

TEST(TempoCurvePage, SpeedAndTempoStayWithinTheirBounds) {
    CurvePage f;
    StepPage& page = f.page(kStepTpp);
    auto& speed = f.control<QSlider>(kSpeedSlider);
    f.entry().tempoCurve.speed = 40;
    page.onHScroll(page, &speed, 2, 10);  // a page left, past the lowest speed
    EXPECT_EQ(f.entry().tempoCurve.speed, 30);
    page.onHScroll(page, &speed, 0, 29);  // at the lowest speed a step left does nothing
    EXPECT_EQ(f.entry().tempoCurve.speed, 30);

    f.record(true);
    f.control<QSpinBox>(kMaximum).setValue(150);
    TempoCurve& curve = f.entry().tempoCurve;
    for (int i = 0; i < 5; ++i) f.tempoSlider().triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(curve.recordTempo, 150);
    EXPECT_FALSE(f.control<QPushButton>(kUp).isEnabled()) << "at the maximum";
    EXPECT_TRUE(f.control<QPushButton>(kDown).isEnabled());
    page.onHScroll(page, &f.tempoSlider(), 5, 400);  // a position past the maximum
    EXPECT_EQ(curve.recordTempo, 150);
    f.tempoSlider().triggerAction(QAbstractSlider::SliderToMinimum);
    EXPECT_EQ(curve.recordTempo, 10);
    EXPECT_FALSE(f.control<QPushButton>(kDown).isEnabled()) << "at the minimum";
    f.control<QPushButton>(kUp).click();
    EXPECT_EQ(curve.recordTempo, 11);
    EXPECT_EQ(f.control<QLabel>(9010).text(), "11");
}

TEST(TempoCurvePage, AClickWithoutADragRecordsTheTempoUnderThePointer) {
    CurvePage f;
    TempoCurve& curve = f.entry().tempoCurve;
    f.mouse(QEvent::MouseButtonPress, f.onChannel(0.5));
    f.mouse(QEvent::MouseButtonRelease, f.onChannel(0.5));
    EXPECT_TRUE(f.recorded().empty()) << "nothing is recorded without recording";
    EXPECT_EQ(curve.recordedCount, 0);

    f.record(true);
    struct Case {
        double share;
        int tempo;
    } cases[] = {{0.0, 10}, {1.0, 720}, {0.5, 365}};
    for (const Case& c : cases) {
        tppPointerOnSlider(f.page(kStepTpp), f.onChannel(c.share));
        EXPECT_EQ(stpData<TppData>(f.page(kStepTpp))->tipTempo, c.tempo) << "the tool tip at " << c.share;
    }
    f.mouse(QEvent::MouseButtonPress, f.onChannel(0.5));
    f.mouse(QEvent::MouseButtonRelease, f.onChannel(0.5));
    EXPECT_EQ(curve.recordTempo, 365);
    EXPECT_EQ(f.tempoSlider().value(), 365);
    ASSERT_EQ(f.recorded().size(), 1u);
    EXPECT_EQ(f.recorded()[0].tempo, 365.0);
    EXPECT_EQ(curve.recordedCount, 1);

    // A drag moves the slider as usual and records nothing by itself.
    f.mouse(QEvent::MouseButtonPress, f.onChannel(0.5));
    f.mouse(QEvent::MouseMove, f.onChannel(0.2));
    f.mouse(QEvent::MouseButtonRelease, f.onChannel(0.2));
    EXPECT_LT(curve.recordTempo, 365);
    EXPECT_EQ(f.recorded().size(), 1u);
    f.screenshot("step_tpp_recording");
}

TEST(TempoCurvePage, RecordingWhilePlayingKeepsPointsInTimeOrderWithinTheEntry) {
    CurvePage f;
    f.record(true);
    ProjectEntry& e = f.entry();
    EntryPlayer& player = plyEntryPlayer(e);
    e.entryState = kEntryPlaying;
    struct Step {
        std::int64_t ticks;
        int tempo;
    } steps[] = {{960, 60}, {480, 240}, {1920 * 4, 90}};  // the last lies past the music
    for (const Step& s : steps) {
        player.positionTicks = s.ticks;
        f.page(kStepTpp).onHScroll(f.page(kStepTpp), &f.tempoSlider(), 5, s.tempo);
    }
    e.entryState = 0;
    ASSERT_EQ(f.recorded().size(), 2u);
    EXPECT_EQ(f.recorded()[0].position, 480u);
    EXPECT_EQ(f.recorded()[0].tempo, 240.0);
    EXPECT_EQ(f.recorded()[1].position, 960u);
    EXPECT_EQ(f.recorded()[1].tempo, 60.0);
    EXPECT_TRUE(f.boxes.empty()) << "switching off while playing would ask nothing";

    // The transport plays the recorded curve: the first quarter at the
    // file's 120, the second at 240, the rest at 60.
    platform::testing::FakeClock clock;
    platform::CaptureMidiOut out([&clock] { return clock.now(); });
    f.playback.outputForTests = &out;
    f.playback.clockForTests = &clock;
    player.positionTicks = 0;
    player.positionMs = 0;
    ASSERT_EQ(f.playback.plyStart(e), 0);
    f.playback.waitForPlayer();
    std::vector<int> noteOns;
    for (const auto& m : out.messages()) {
        const auto status = static_cast<int>(m.packed & 0xF0);
        if (m.kind == platform::CaptureMidiOut::Message::Kind::Short && status == 0x90 && ((m.packed >> 16) & 0x7F) > 0) {
            noteOns.push_back(static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                   m.time.time_since_epoch()).count()));
        }
    }
    ASSERT_EQ(noteOns.size(), 4u);
    EXPECT_EQ(noteOns[1] - noteOns[0], 500);
    EXPECT_EQ(noteOns[2] - noteOns[1], 250);
    EXPECT_EQ(noteOns[3] - noteOns[2], 1000);
    f.playback.plyStop(e);
}

TEST(TempoCurvePage, EndingARecordingAsksWhetherToKeepItsPoints) {
    CurvePage f;
    f.entry().tempoCurve.points[TempoCurve::kFileList] = {TempoPoint{.position = 0, .tempo = 100, .kind = 1}};
    f.record(true);
    f.page(kStepTpp).onHScroll(f.page(kStepTpp), &f.tempoSlider(), 5, 200);  // a click records while stopped too
    f.mouse(QEvent::MouseButtonPress, f.onChannel(1.0));
    f.mouse(QEvent::MouseButtonRelease, f.onChannel(1.0));
    ASSERT_EQ(f.entry().tempoCurve.recordedCount, 1);

    f.answer = kIdNo;
    f.record(false);
    ASSERT_EQ(f.boxes.size(), 1u);
    EXPECT_EQ(f.boxes[0].checkKey, kKeepKey);
    EXPECT_EQ(f.recorded(), f.entry().tempoCurve.points[TempoCurve::kFileList]) << "No gives the file's points back";
    EXPECT_EQ(f.entry().tempoCurve.recordedCount, 0);
    EXPECT_FALSE(f.entry().tempoCurve.record);
}

// The recorded list holds a point at the position whose tempo, with the
// factor it keeps, is the engine's.
::testing::AssertionResult holdsEnginePoint(const std::vector<TempoPoint>& list, std::uint32_t position,
                                            double engineTempo, double factor) {
    for (const TempoPoint& p : list) {
        if (p.position != position) continue;
        if (std::abs(p.tempo - engineTempo / factor) < 1e-9 && std::abs(p.tempo * p.extra - engineTempo) < 1e-9) {
            return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "at " << position << ": tempo " << p.tempo << ", factor " << p.extra;
    }
    return ::testing::AssertionFailure() << "no point at " << position;
}

TEST(TempoCurvePage, AScoreTakesOverTheTemposTheEngineRecorded) {
    testing::keepEngineRuntimeLoaded();
    CurvePage f;
    f.engine.Init(0, QVP3_PROGRAM_DIR);
    ProjectEntry opened;
    opened.Filename = f.folder.path() / "parts.tvrx";
    ASSERT_EQ(testing::convertToTvrx(std::filesystem::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" /
                                         "41a-MultiParts-Partorder.xml",
                                     opened.Filename),
              0);
    f.pipeline.cnvEntryInit(opened, f.project);
    ASSERT_EQ(f.pipeline.openEntry(opened, f.project, false, false), 0);
    ProjectEntry& score = f.entry(2);
    score.TempoIsRelative = 1;
    score.TempoRelative = 1301;  // twice the score's tempo
    const double factor = TempoFactor(score);
    f.engine.call(178, "MIDI: capture");
    f.playback.midiOutputName = "capture";
    f.choose(2);
    ASSERT_TRUE(f.engine.IsScoreOpen(score.Filename));

    // Recording ended while the score plays: taken over when it stops.
    f.record(true);
    ASSERT_EQ(f.playback.plyStart(score), 0);
    f.page(kStepTpp).onHScroll(f.page(kStepTpp), &f.tempoSlider(), 5, 150);
    ASSERT_EQ(score.tempoCurve.recordedCount, 1);
    // What the engine recorded meanwhile, as its list of points holds it.
    ASSERT_EQ(f.engine.SetTempoCurve(std::vector<TempoPoint>{{.position = 480, .tempo = 100, .extra = 1, .kind = 1},
                                                             {.position = 1920, .tempo = 150, .extra = 1, .kind = 1}}),
              0);
    f.record(false);
    EXPECT_TRUE(f.boxes.empty()) << "nothing is asked while the score plays";
    EXPECT_TRUE(f.recorded(2).empty());
    f.playback.plyStop(score);
    EXPECT_TRUE(holdsEnginePoint(f.recorded(2), 480, 100, factor));
    EXPECT_TRUE(holdsEnginePoint(f.recorded(2), 1920, 150, factor));
    EXPECT_EQ(static_cast<std::size_t>(f.engine.enginePointCount), f.recorded(2).size());
    std::int32_t playTime = 0;
    ASSERT_EQ(f.engine.GetPlayTime(playTime), 0);
    EXPECT_EQ(score.durationMs, playTime) << "the playing time follows the new tempos";

    // Handed back and loaded again, the list stays as it is.
    const std::vector<TempoPoint> loaded = f.recorded(2);
    ASSERT_EQ(f.playback.plySendTempoCurve(score), 0);
    ASSERT_EQ(f.playback.plyLoadEngineTempoCurve(score), 0);
    EXPECT_EQ(f.recorded(2), loaded);

    // Recording ended while stopped: the engine's points, kept on Yes.
    f.record(true);
    f.mouse(QEvent::MouseButtonPress, f.onChannel(0.5));
    f.mouse(QEvent::MouseButtonRelease, f.onChannel(0.5));
    ASSERT_EQ(f.engine.SetTempoCurve(std::vector<TempoPoint>{{.position = 960, .tempo = 80, .extra = 1, .kind = 1}}), 0);
    f.answer = kIdYes;
    f.record(false);
    EXPECT_EQ(f.boxes.size(), 1u);
    EXPECT_TRUE(holdsEnginePoint(f.recorded(2), 960, 80, factor));
    EXPECT_FALSE(holdsEnginePoint(f.recorded(2), 480, 100, factor)) << "the engine's list in force replaced it";
    EXPECT_EQ(score.tempoCurve.recordedCount, 0);

    // With the engine holding no score there is nothing to take over: the entry keeps its points.
    const std::vector<TempoPoint> kept = f.recorded(2);
    f.engine.CloseScore();
    EXPECT_EQ(f.playback.plyLoadEngineTempoCurve(score), 0);
    EXPECT_EQ(f.recorded(2), kept);
}

TEST(TempoCurvePage, DeletingTheNewPointsEmptiesBothLists) {
    CurvePage f;
    f.record(true);
    f.mouse(QEvent::MouseButtonPress, f.onChannel(0.3));
    f.mouse(QEvent::MouseButtonRelease, f.onChannel(0.3));
    ASSERT_EQ(f.recorded().size(), 1u);
    EXPECT_TRUE(f.action(40076).isEnabled());
    f.action(40076).trigger();
    EXPECT_TRUE(f.recorded().empty());
    EXPECT_TRUE(f.entry().tempoCurve.points[TempoCurve::kFileList].empty());
    EXPECT_EQ(f.entry().tempoCurve.recordedCount, 0);
    EXPECT_FALSE(f.action(40076).isEnabled());
}

TEST(TempoCurvePage, AProfileGivesAnotherEntryTheSameSettingsAndABadSpeedIsRefused) {
    CurvePage f;
    f.control<QSpinBox>(kMinimum).setValue(40);
    f.control<QSpinBox>(kMaximum).setValue(300);
    f.page(kStepTpp).onHScroll(f.page(kStepTpp), &f.control<QSlider>(kSpeedSlider), 5, 2400);
    ASSERT_TRUE(prfWriteNewProfile(&f.entry(0), f.host.profiles, "Wide curve", f.page(kStepTpp), f.shell));
    const auto profile = prfProfilePath(f.host.profiles, 0);

    f.choose(1);
    ASSERT_TRUE(stpLoadProfile(f.host.profiles, f.page(kStepTpp), profile, 72, kStepTpp, &f.entry(1)));
    EXPECT_EQ(f.entry(1).tempoCurve.minimum, 40);
    EXPECT_EQ(f.entry(1).tempoCurve.maximum, 300);
    EXPECT_EQ(f.entry(1).tempoCurve.speed, 2400);
    EXPECT_EQ(f.control<QSpinBox>(kMinimum).value(), 40) << "the page shows the applied curve";
    EXPECT_EQ(f.control<QSlider>(kSpeedSlider).value(), 2400);

    platform::iniWriteString(profile, "qvp Profile File", "ProfileTPPSpeed", "0");
    EXPECT_FALSE(stpLoadProfile(f.host.profiles, f.page(kStepTpp), profile, 72, kStepTpp, &f.entry(0)));
    EXPECT_EQ(f.entry(0).tempoCurve.speed, 2400) << "a speed of 0 leaves the speed as it was";
}

TEST(TempoCurvePage, AnAbsoluteTempoAlwaysUsesTheFilesTempos) {
    CurvePage f;
    f.entry(1).TempoIsRelative = 0;
    f.entry(1).TempoAbsolute = 90;
    f.entry(1).tempoCurve.fileTempos = false;
    f.choose(1);
    EXPECT_TRUE(f.entry(1).tempoCurve.fileTempos);
    EXPECT_TRUE(f.control<QCheckBox>(kFileTempos).isChecked());
    EXPECT_FALSE(f.control<QCheckBox>(kFileTempos).isEnabled());
}

}  // namespace
}  // namespace qvp3
