// The volume per voice page: the handlers it shares with the panorama page.
#include "qvp3_steps/page_slots.h"
#include "vol_pan_grid.h"
#include "vol_profile_slots.h"

#include <QGuiApplication>

namespace qvp3 {

void stpFillVolSlots(StepPage& page) { stpFillVolPanSlots(page); }

}  // namespace qvp3

namespace qvp3 {

namespace {
bool keyboardShift() { return (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier) != 0; }
}  // namespace

bool (*stpShiftHeld)() = keyboardShift;

}  // namespace qvp3
