// The player's tests use the platform's fake clock.
#pragma once

#include "platform_testing/fake_clock.h"
#include "play/play_proc.h"

namespace scoreconv::testing {

using platform::testing::FakeClock;

}  // namespace scoreconv::testing
