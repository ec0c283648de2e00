#include "qvp3_steps/step_cursor.h"

#include "qvp3_project/step_changes.h"

namespace qvp3 {

void stpInitCursor(StepCursor& cursor) { cursor = StepCursor{}; }

bool stpGetPage(StepCursor& cursor, Project& project, int step) {
    stpInitCursor(cursor);
    if (step == -1) step = project.currentStep < 0 ? 0 : project.currentStep;
    StepPage* page = stpGetPage(project, step);
    if (page == nullptr) return false;
    cursor.page = page;
    cursor.category = static_cast<int>(page->category);
    cursor.data = page->data.get();
    return true;
}

bool stpGetCurrentPage(StepCursor& cursor, Project& project) { return stpGetPage(cursor, project, -1); }

bool stpGetSlfPage(StepCursor& cursor, Project& project) { return stpGetPage(cursor, project, 0); }

bool stpGetBrnPage(StepCursor& cursor, Project& project) { return stpGetPage(cursor, project, kStepBrn); }

}  // namespace qvp3
