// The conversion to WAV files page's own handlers.
#include "page_conversion.h"
#include "qvp3_steps/page_slots.h"

namespace qvp3 {

void stpFillWvcSlots(StepPage& page) { stpFillConversionSlots(page, ConversionPageKind::Wave); }

}  // namespace qvp3
