// The table of drives: each backend in order of preference, real recorders
// first, the simulated recorder last (only when the environment names its folder).
#pragma once

#include <memory>
#include <vector>

#include "recorder.h"

namespace discwriter {

struct DriveRecord {
    int index = 0;  // position among the system's recorders
    DriveIdentity id;
    std::shared_ptr<Recorder> recorder;
};

std::vector<DriveRecord> findDrives();
// Lets the backends go once the table has been dropped.
void finishBackends();

}  // namespace discwriter
