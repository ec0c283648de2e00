// The conversion to MIDI files page's own handlers.
#include "page_conversion.h"
#include "qvp3_steps/page_slots.h"

namespace qvp3 {

void stpFillMdcSlots(StepPage& page) { stpFillConversionSlots(page, ConversionPageKind::Midi); }

}  // namespace qvp3
