// The panorama per voice page: the handlers it shares with the volume page.
#include "qvp3_steps/page_slots.h"
#include "vol_pan_grid.h"

namespace qvp3 {

void stpFillPanSlots(StepPage& page) { stpFillVolPanSlots(page); }

}  // namespace qvp3
