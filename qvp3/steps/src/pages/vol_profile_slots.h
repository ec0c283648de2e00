// What the volume, panorama, percussion, interpretation and velocity pages
// share: whether Shift is held.
#pragma once

namespace qvp3 {

// Whether Shift is held: the keyboard's state; tests put their own here.
extern bool (*stpShiftHeld)();

}  // namespace qvp3
