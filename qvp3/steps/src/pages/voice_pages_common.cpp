#include "voice_pages_common.h"

#include <QApplication>
#include <QStyle>

#include "qvp3_project/profile_contents.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_pages.h"

namespace qvp3::voicepages {

void entryEdited() {
    StepPageHost* host = stpPageHost();
    if (host == nullptr) return;
    prjMarkStepDirty(host->project());
    host->refreshCommands();
}

void installProfileSlots(StepPage& page) {
    const ProfileReadFn read = prfReaderOf(page.category);
    const ProfileWriteFn write = prfWriterOf(page.category);
    if (read == nullptr || write == nullptr) return;
    // The host is set after the pages are made, so it is looked up per call.
    page.readProfile = [read](StepPage& target, const std::filesystem::path&, std::int32_t, std::int32_t type,
                              ProjectEntry* entry) {
        StepPageHost* host = stpPageHost();
        if (host == nullptr) return false;
        ProfileIo io{host->project(), host->profileContext()};
        return read(io, target, type, entry);
    };
    page.writeProfile = [write](StepPage& target, const std::filesystem::path&, std::int32_t type,
                                ProjectEntry* entry) {
        StepPageHost* host = stpPageHost();
        if (host == nullptr) return false;
        ProfileIo io{host->project(), host->profileContext()};
        return write(io, target, type, entry);
    };
}

QPixmap noteIcon() {
    return QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32);
}

QFont noteFont() { return stpDescriptionFont(); }

ProjectEntry* currentEntry() {
    StepPageHost* host = stpPageHost();
    return host != nullptr ? prjGetEntry(host->project(), -1) : nullptr;
}

}  // namespace qvp3::voicepages
