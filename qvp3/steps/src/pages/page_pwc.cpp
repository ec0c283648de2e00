// The sound configuration page's own handlers.
#include <QComboBox>

#include "qvp3_project/project.h"
#include "qvp3_project/step_changes.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"

namespace qvp3 {

namespace {

constexpr int kPwcOutputBox = 17008;
constexpr int kStrPwcNoSampler = 96;

// An entry on the sample player needs an output and an instrument. An empty
// output is taken from the output box as shown, so that a fresh entry plays
// through what the user sees; only a missing instrument, or no output shown,
// is reported.
void getStatus(StepPage& page, Project& project, StepStatus& status) {
    for (ProjectEntry& entry : project.entries) {
        if (entry.MWConversionMethod != 1) continue;
        if (entry.OutDevSampler.empty()) {
            auto* box = stpControl<QComboBox>(page, kPwcOutputBox);
            const int row = box != nullptr ? box->currentIndex() : -1;
            if (row >= 0) {
                const QVariant data = box->itemData(row);
                if (data.isValid() && data.toInt() == -1) return;
                entry.OutDevSampler = box->itemText(row).toStdString();
                return;
            }
        } else if (!entry.SamplePlayer.empty()) {
            continue;
        }
        entry.pending[kStepPwc] = 1;
        status.state = -1;
        status.stringId = kStrPwcNoSampler;
        status.show = 1;
        status.text = project.shell().languageString(kStrPwcNoSampler);
        return;
    }
}

}  // namespace

void stpFillPwcSlots(StepPage& page) {
    page.getStatus = getStatus;
}

}  // namespace qvp3
