// A three-field view of one step page (page, category, data block), for code
// outside the pages that reaches a page through the project's page table.
#pragma once

#include "qvp3_project/project.h"

namespace qvp3 {

struct StepCursor {
    StepPage* page = nullptr;
    int category = -1;
    StepPageData* data = nullptr;
};

// Makes the cursor empty.
void stpInitCursor(StepCursor& cursor);
// The page of step 0..17, -1 the current step (step 0 when the project has
// none). False, the cursor empty, for any other step or a missing page.
bool stpGetPage(StepCursor& cursor, Project& project, int step);
bool stpGetCurrentPage(StepCursor& cursor, Project& project);
bool stpGetSlfPage(StepCursor& cursor, Project& project);
bool stpGetBrnPage(StepCursor& cursor, Project& project);

}  // namespace qvp3
