// Each step page puts its own handlers into its record's slots, after the
// framework's; one function per step, each in the page's own file under
// src/pages/.
#pragma once

#include "qvp3_project/neighbours.h"

namespace qvp3 {

void stpFillSlfSlots(StepPage& page);  // start page
void stpFillSlsSlots(StepPage& page);  // staves and voices
void stpFillTrpSlots(StepPage& page);  // transposition
void stpFillChpSlots(StepPage& page);  // channels and instruments
void stpFillVolSlots(StepPage& page);  // volume per voice
void stpFillPanSlots(StepPage& page);  // panorama per voice
void stpFillPrcSlots(StepPage& page);  // percussion mapping
void stpFillTmpSlots(StepPage& page);  // tempo
void stpFillTppSlots(StepPage& page);  // tempo curve
void stpFillDynSlots(StepPage& page);  // interpretation switches
void stpFillShvSlots(StepPage& page);  // velocity per staff
void stpFillMetSlots(StepPage& page);  // metronome
void stpFillEinSlots(StepPage& page);  // tune-up
void stpFillMdcSlots(StepPage& page);  // conversion to MIDI files
void stpFillPwcSlots(StepPage& page);  // sound configuration
void stpFillWvcSlots(StepPage& page);  // conversion to WAV files
void stpFillBrnSlots(StepPage& page);  // export
void stpFillClnSlots(StepPage& page);  // clean-up

// The page's own handlers for a category (nothing for an unknown one).
void stpFillPageSlots(StepPage& page, int category);

}  // namespace qvp3
