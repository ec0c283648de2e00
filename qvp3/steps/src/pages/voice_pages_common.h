// What the start, staves, transposition and channel pages share besides the
// step pages' routines of page_preview_link.h: the small icon beside a page's
// note and the note's font.
#pragma once

#include <QFont>
#include <QPixmap>

#include "qvp3_project/project.h"

namespace qvp3::voicepages {

// The icon drawn beside a note of a page (32 x 32).
QPixmap noteIcon();
// The font of a page's note: the light note font is too faint to read on
// the page's blue, so notes take the description's.
QFont noteFont();

}  // namespace qvp3::voicepages
