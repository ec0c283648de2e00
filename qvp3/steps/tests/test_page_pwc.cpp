// The sound configuration page's status check: an entry on the sample player
// without an instrument is reported, and the report marks that entry.
#include <gtest/gtest.h>

#include "qvp3_project/project_entry.h"
#include "qvp3_steps/step_table.h"
#include "step_test_support.h"

namespace qvp3 {
namespace {

using testing::StepFixture;

TEST(SoundConfigPage, StatusReportsTheFirstSamplePlayerEntryWithoutAnInstrument) {
    struct Case {
        int method;
        const char* sampler;
        int state;
        int stringId;
        int pending;
    };
    for (const Case c : {Case{0, "", 0, 0, 0}, Case{1, "Piano", 0, 0, 0}, Case{1, "", -1, 96, 1}}) {
        StepFixture f;
        StepPage& page = f.page(kStepPwc);
        f.project.entries.resize(2);
        f.project.entries[0].MWConversionMethod = 1;
        f.project.entries[0].SamplePlayer = "Strings";
        f.project.entries[0].OutDevSampler = "Speakers";
        ProjectEntry& second = f.project.entries[1];
        second.MWConversionMethod = c.method;
        second.SamplePlayer = c.sampler;
        second.OutDevSampler = "Speakers";
        StepStatus status;
        page.getStatus(page, f.project, status);
        EXPECT_EQ(status.state, c.state) << c.method << c.sampler;
        EXPECT_EQ(status.stringId, c.stringId) << c.method << c.sampler;
        EXPECT_EQ(f.project.entries[1].pending[kStepPwc], c.pending) << c.method << c.sampler;
        EXPECT_EQ(f.project.entries[0].pending[kStepPwc], 0);
    }
}

// Without an output box shown there is no output to take, so an entry
// without an output is reported rather than given a made-up name.
TEST(SoundConfigPage, StatusWithoutAnOutputShownReportsTheEntry) {
    StepFixture f;
    StepPage& page = f.page(kStepPwc);
    f.project.entries.resize(1);
    f.project.entries[0].MWConversionMethod = 1;
    f.project.entries[0].SamplePlayer = "Strings";
    StepStatus status;
    page.getStatus(page, f.project, status);
    EXPECT_EQ(status.stringId, 96);
    EXPECT_TRUE(f.project.entries[0].OutDevSampler.empty());
    EXPECT_EQ(f.project.entries[0].pending[kStepPwc], 1);
}

}  // namespace
}  // namespace qvp3
