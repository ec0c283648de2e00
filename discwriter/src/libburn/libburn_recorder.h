// Real CD recorders: found, identified and written through libburn; raw MMC
// commands travel through libcdio's pass-through to the drive's device file.
#pragma once

#include <memory>
#include <vector>

#include "recorder.h"

namespace discwriter {

// The recorders libburn finds on this machine, in its order. Starts libburn
// on first use; libburn prints nothing.
std::vector<std::unique_ptr<Recorder>> scanLibburnRecorders();
// Ends libburn once no recorder of it is left.
void finishLibburn();

}  // namespace discwriter
