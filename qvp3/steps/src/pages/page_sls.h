// The staves and voices page: a tree with check boxes (the file, its staves
// and, for staves with several voices, their voices) that switches the
// current entry's staves and voices on and off; a MIDI file's tracks can be
// renamed in place.
#pragma once

#include "qvp3_project/project.h"

class QStandardItem;

namespace qvp3 {

inline constexpr int kSlsTree = 2000;
// Notifications of the tree, with the changed item in PageNotify::value.
inline constexpr int kSlsChecksChanged = -12;    // a check mark changed (NM_CUSTOMDRAW)
inline constexpr int kSlsLabelEdited = -459;     // an item's text was edited (TVN_ENDLABELEDITW)
// Item data of the tree: the stave (-1 the root) and the voice (-1 a stave item).
inline constexpr int kSlsStaveRole = 0x0110;  // Qt::UserRole + 16: clear of the voice lists' roles
inline constexpr int kSlsVoiceRole = 0x0111;

// Builds the tree anew from the current entry (the SLS page only).
void stpSlsFillTree(StepPage& page);

}  // namespace qvp3
