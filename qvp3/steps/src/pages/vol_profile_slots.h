// The profile slots of the volume, panorama, percussion, interpretation and
// velocity pages: the project store's reader and writer of the page's step,
// with the program's project and profile context at the time of the call.
#pragma once

#include "qvp3_project/profile_contents.h"
#include "qvp3_steps/step_page_host.h"
#include "qvp3_steps/step_pages.h"

namespace qvp3 {

inline void stpBindProfileSlots(StepPage& page) {
    page.readProfile = [](StepPage& target, const std::filesystem::path&, std::int32_t, std::int32_t type,
                          ProjectEntry* entry) {
        StepPageHost* host = stpPageHost();
        const ProfileReadFn read = prfReaderOf(target.category);
        if (host == nullptr || read == nullptr) return false;
        ProfileIo io{host->project(), host->profileContext()};
        return read(io, target, type, entry);
    };
    page.writeProfile = [](StepPage& target, const std::filesystem::path&, std::int32_t type, ProjectEntry* entry) {
        StepPageHost* host = stpPageHost();
        const ProfileWriteFn write = prfWriterOf(target.category);
        if (host == nullptr || write == nullptr) return false;
        ProfileIo io{host->project(), host->profileContext()};
        return write(io, target, type, entry);
    };
}

}  // namespace qvp3

namespace qvp3 {

// Whether Shift is held: the keyboard's state; tests put their own here.
extern bool (*stpShiftHeld)();

}  // namespace qvp3
