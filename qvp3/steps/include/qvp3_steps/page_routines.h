// Routines several step pages share: where a page's controls start below
// its header texts, the instrument list of the 128 General MIDI sounds, and
// the rows of the staves-and-voices lists.
#pragma once

#include <QRect>
#include <QString>

#include "qvp3_audio/plugin_catalog.h"
#include "qvp3_project/project.h"
#include "qvp3_ui/controls.h"

class QComboBox;
class QStandardItemModel;

namespace qvp3 {

// A language string as a widget text.
QString stpText(int id);

// The page's control of that id and type; null before the page's window is
// built or without such a control.
template <class T>
T* stpControl(StepPage& page, int id) {
    return page.window != nullptr ? qvp3ui::findControl<T>(*page.window, id) : nullptr;
}

// The rectangles below the header of a page: the content (where the page's
// controls go; bottom 0, the caller sets it) and the measured description.
// The page's window gives the width; the current entry chooses the description.
void stpLayoutDescription(const StepPage& page, QRect* content, QRect* description);

// The 128 instruments, "1: <string 32000>" to "128: <string 32127>", and
// the one at selection chosen. A missing name shows the number alone.
inline constexpr int kStrFirstInstrument = 32000;
void stpFillInstrumentCombo(QComboBox& combo, int selection);

// Column 0's title of a voice list: string 321 for a MIDI entry, else 333.
inline constexpr int kStrTrackColumn = 321;
inline constexpr int kStrStaveColumn = 333;
void cnvSetListColumnTitle(const ProjectEntry& entry, QStandardItemModel& list);

// Images of the rows.
inline constexpr int kImageTrackRow = 25;
inline constexpr int kImageVoiceRow = 27;
// Item data roles of a row: the stave in the low 16 bits and the voice in
// the high 16 bits, and the row's image.
inline constexpr int kVoiceRowDataRole = 0x0100;  // Qt::UserRole
inline constexpr int kVoiceRowImageRole = 0x0101;

// Inserts the row of one voice at index: "<stave>: <name>" for a MIDI entry,
// "<stave>: <name>/<voice>" otherwise (numbers from 1). Nothing (false) for
// a voice that is hidden, invalid or not one of the entry's voices.
bool cnvFillVoiceList(const ProjectEntry& entry, int stave, int voice, QStandardItemModel& list, int index);

// The wait window as the catalogue's progress while it loads instruments:
// shown at begin, its text (a track) and position follow, closed at end.
class WaitWindowProgress : public CatalogProgress {
public:
    void begin(int range) override;
    void loading(const std::string& name) override;
    void done(int count) override;
    void end() override;
    void text(const std::string& line) override;
};

}  // namespace qvp3
