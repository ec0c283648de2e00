// The tempo page on MIDI entries read by the pipeline: its controls set the
// entry's tempo, which the project file and the profiles keep.
#include <gtest/gtest.h>

#include <QLabel>
#include <QRadioButton>
#include <QSlider>

#include "qvp3_project/profile_file.h"
#include "tempo_page_fixture.h"

namespace qvp3 {
namespace {

using testing::TempoPageFixture;

constexpr int kAbsolute = 8000;
constexpr int kRelative = 8001;
constexpr int kSlider = 8002;
constexpr int kDisplay = 7000;

TEST(TempoPage, ControlsSetTheEntrysTempoAndTheProjectFileKeepsIt) {
    TempoPageFixture f(kStepTmp);
    auto& slider = f.control<QSlider>(kSlider);
    auto& display = f.control<QLabel>(kDisplay);
    ASSERT_TRUE(f.control<QRadioButton>(kRelative).isChecked());
    EXPECT_EQ(slider.minimum(), 0);
    EXPECT_EQ(slider.maximum(), 2000);
    EXPECT_EQ(slider.pageStep(), 100);
    EXPECT_EQ(slider.singleStep(), 10);
    EXPECT_EQ(display.text(), "120");
    f.screenshot("step_tmp_relative");

    slider.triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(f.entry().TempoRelative, 1100);
    EXPECT_EQ(display.text(), "151") << "120 x 10^0.1";
    EXPECT_TRUE(f.stepDirty(kStepTmp));

    // The recorded tempos belong to the mode they were recorded in.
    f.entry().tempoCurve.points[TempoCurve::kRecordedList].push_back(TempoPoint{.position = 0, .tempo = 90});
    f.control<QRadioButton>(kAbsolute).click();
    EXPECT_EQ(f.entry().TempoIsRelative, 0);
    EXPECT_EQ(f.entry().TempoAbsolute, 120) << "an unset absolute tempo starts at 120";
    EXPECT_TRUE(f.entry().tempoCurve.points[TempoCurve::kRecordedList].empty());
    EXPECT_EQ(slider.minimum(), 10);
    EXPECT_EQ(slider.maximum(), 720);
    EXPECT_EQ(slider.pageStep(), 10);
    EXPECT_EQ(slider.singleStep(), 1);
    slider.triggerAction(QAbstractSlider::SliderSingleStepSub);
    EXPECT_EQ(f.entry().TempoAbsolute, 119);
    EXPECT_EQ(display.text(), "119");
    f.screenshot("step_tmp_absolute");

    const auto reread = f.saveAndReopen();
    ASSERT_EQ(reread->fileNum(), 2);
    EXPECT_EQ(reread->entries[0].TempoIsRelative, 0);
    EXPECT_EQ(reread->entries[0].TempoAbsolute, 119);
    EXPECT_EQ(reread->entries[0].TempoRelative, 1100);
    EXPECT_EQ(reread->entries[1].TempoRelative, 1000);
}

TEST(TempoPage, SliderEndsAndOutOfRangePositionsStayWithinTheScale) {
    TempoPageFixture f(kStepTmp);
    auto& slider = f.control<QSlider>(kSlider);
    slider.triggerAction(QAbstractSlider::SliderToMaximum);  // not a step the page takes
    EXPECT_EQ(f.entry().TempoRelative, 1000);
    struct Case {
        bool absolute;
        int position;
        int stored;
    } cases[] = {{false, 2000, 2000}, {false, 2600, 2000}, {false, -40, 0},
                 {true, 720, 720},    {true, 900, 720},    {true, 3, 10}};
    for (const Case& c : cases) {
        f.control<QRadioButton>(c.absolute ? kAbsolute : kRelative).click();
        f.page(kStepTmp).onHScroll(f.page(kStepTmp), &slider, 5, c.position);
        EXPECT_EQ(c.absolute ? f.entry().TempoAbsolute : f.entry().TempoRelative, c.stored) << c.position;
    }
}

TEST(TempoPage, TempoMarksSetTheirFactorsOnlyInRelativeMode) {
    TempoPageFixture f(kStepTmp);
    auto* data = stpData<TmpData>(f.page(kStepTmp));
    const int expected[] = {0, 699, 1000, 1301, 2000};
    for (int mark = 0; mark < 5; ++mark) {
        f.entry().TempoRelative = 1500;
        EXPECT_EQ(f.pointerAt(data->tempoMarkRects[static_cast<std::size_t>(mark)].center(), true), 1) << mark;
        EXPECT_EQ(f.entry().TempoRelative, expected[mark]) << mark;
        EXPECT_EQ(f.control<QSlider>(kSlider).value(), expected[mark]);
    }
    f.control<QRadioButton>(kAbsolute).click();
    const int before = f.entry().TempoAbsolute;
    EXPECT_EQ(f.pointerAt(data->tempoMarkRects[3].center(), true), 0) << "no marks in absolute mode";
    EXPECT_EQ(f.entry().TempoAbsolute, before);
    EXPECT_EQ(f.entry().TempoRelative, 2000);
}

TEST(TempoPage, AProfileGivesAnotherEntryTheSameSettings) {
    TempoPageFixture f(kStepTmp);
    f.control<QSlider>(kSlider).triggerAction(QAbstractSlider::SliderPageStepAdd);
    f.control<QSlider>(kSlider).triggerAction(QAbstractSlider::SliderPageStepAdd);
    ASSERT_TRUE(prfWriteNewProfile(&f.entry(0), f.host.profiles, "Slower practice", f.page(kStepTmp), f.shell));
    const auto profile = prfProfilePath(f.host.profiles, 0);

    f.choose(1);
    EXPECT_EQ(f.control<QSlider>(kSlider).value(), 1000);
    ASSERT_TRUE(stpLoadProfile(f.host.profiles, f.page(kStepTmp), profile, 3, kStepTmp, &f.entry(1)));
    EXPECT_EQ(f.entry(1).TempoRelative, 1200);
    EXPECT_EQ(f.entry(1).TempoIsRelative, 1);
    EXPECT_EQ(f.control<QSlider>(kSlider).value(), 1200) << "the page shows the applied tempo";
    EXPECT_TRUE(f.control<QRadioButton>(kRelative).isChecked());
}

TEST(TempoPage, TheItemWorksOutThePlayingTimesAndTheWarningFollowsTheDisc) {
    TempoPageFixture f(kStepTmp);
    auto* data = stpData<TmpData>(f.page(kStepTmp));
    ASSERT_FALSE(data->toggleDisabled);
    // The pipeline here measures no source, so the worked-out total is 0.
    f.project.totalMs = 12345;
    const int refreshes = f.host.fileListRefreshes;
    EXPECT_EQ(f.pointerAt(data->itemRect.center(), true), 1);
    EXPECT_EQ(f.project.totalMs, 0);
    EXPECT_EQ(f.host.fileListRefreshes, refreshes + 1);
    EXPECT_FALSE(f.page(kStepTmp).pending);

    f.project.totalMs = 4000;
    f.project.data.CDSpace = 3;  // a disc shorter than the project: the red line
    f.screenshot("step_tmp_too_long");

    f.project.currentEntry = -1;
    stpNotifyPartChanged(f.page(kStepTmp), 0);
    EXPECT_TRUE(data->toggleDisabled);
    EXPECT_FALSE(f.control<QSlider>(kSlider).isEnabled());
    EXPECT_EQ(f.pointerAt(data->itemRect.center(), true), 0) << "without an entry the item does nothing";
}

}  // namespace
}  // namespace qvp3
