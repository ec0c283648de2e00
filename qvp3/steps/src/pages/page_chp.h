// The channels and instruments page: one row per voice of the current entry
// with its MIDI channel and General MIDI instrument, and two lists that
// change the chosen rows (all rows while Shift is held).
#pragma once

#include <functional>

#include "qvp3_project/project.h"

namespace qvp3 {

inline constexpr int kChpChannelCaption = 4000;
inline constexpr int kChpChannelCombo = 4001;
inline constexpr int kChpInstrumentCaption = 4002;
inline constexpr int kChpInstrumentCombo = 4003;
inline constexpr int kChpVoiceList = 4005;
// Notification codes the page's controls send with their ids.
inline constexpr int kChpSelectionChanged = 1;   // a list's choice (CBN_SELCHANGE)
inline constexpr int kChpRowsChanged = -101;      // the voice list's selection (LVN_ITEMCHANGED)
// The General MIDI percussion channel (10), counted from 0.
inline constexpr int kChpPercussionChannel = 9;
// A MIDI voice's program while it plays on the percussion channel.
inline constexpr int kChpPercussionProgram = 255;

// Refills the voice list from the current entry (the CHP page only).
void stpChpFillList(StepPage& page);
// Shows the chosen rows' values in the two lists (the CHP page only).
void stpChpShowSelection(StepPage& page);
// Whether Shift is held; tests replace it.
extern std::function<bool()> stpChpShiftHeld;

// What the page shows of a voice: its channel 0..15 (-1 none) and program.
int stpChpVoiceChannel(const ProjectEntry& entry, int stave, int voice);
int stpChpVoiceProgram(const ProjectEntry& entry, int stave, int voice);

}  // namespace qvp3
