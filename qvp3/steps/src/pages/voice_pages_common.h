// What the start, staves, transposition and channel pages share: an edit
// that marks the step changed, the profile slots through the program's step
// host, and the small icon beside a page's note.
#pragma once

#include <QFont>
#include <QPixmap>

#include "qvp3_project/project.h"

namespace qvp3::voicepages {

// An edit on a page: the current step is marked changed and the commands follow.
void entryEdited();
// readProfile and writeProfile of the page's step, working on the host's
// project and profile context at the time of the call.
void installProfileSlots(StepPage& page);
// The icon drawn beside a note of a page (32 x 32).
QPixmap noteIcon();
// The font of a page's note: the light note font is too faint to read on
// the page's blue, so notes take the description's.
QFont noteFont();
// The current entry of the host's project; null without one.
ProjectEntry* currentEntry();

}  // namespace qvp3::voicepages
