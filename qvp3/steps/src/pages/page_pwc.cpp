// The sound configuration page's own handlers.
#include "qvp3_steps/page_slots.h"

namespace qvp3 {

// The page has only the framework's handlers so far.
void stpFillPwcSlots(StepPage&) {}

}  // namespace qvp3
