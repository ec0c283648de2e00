// What the metronome and tune-up pages share: their texts and colours, the
// edit routine, the profile slots, and the play link beside their first
// group box that starts and stops the page's preview.
#pragma once

#include <QString>

#include <functional>
#include <initializer_list>

#include "qvp3_project/neighbours.h"
#include "qvp3_steps/page_routines.h"

class QPainter;
class QPalette;
class QWidget;

namespace qvp3 {

// The program's current entry; null without a host or an entry.
ProjectEntry* stpCurrentEntry();

// An edit on a page: the step is changed, and the commands follow.
void stpPageEdited();

// A channel message on the output a playing MIDI entry plays to, so that a
// page's change is heard at once; nothing when its player has no output.
void stpSendToPlayingEntry(const ProjectEntry& entry, int status, int data1, int data2);

// readProfile / writeProfile through the project's reader and writer of the
// page's step, with the host's project and profile context at call time.
void stpInstallProfileSlots(StepPage& page);

// The profile bar after a page showed its values: disabled when there was
// nothing to show, else by whether the step has profiles.
void stpLayoutProfileBarAfterShow(StepPage& page, bool shown);

// Enables every control of these ids under the page's window.
void stpEnableIds(StepPage& page, std::initializer_list<int> ids, bool enable);

// Colours of the pages' statics: labels and check boxes in the label colour
// on the page, group boxes on the group background, number edits in the
// value colour on white (on the page colour when disabled).
enum class PageColour { None, Label, Group, NumberEdit };
void stpColourControl(QPalette& palette, PageColour colour);

// Language strings of the play link and its warning.
inline constexpr int kStrPreviewStart = 343;
inline constexpr int kStrPreviewStop = 381;
inline constexpr int kStrPreviewFailed = 278;

// Paints the play link 5 units right of the group box and 5 below its top,
// and keeps its rectangle in the page's block. Nothing when the box is missing
// or has no size.
void stpPaintPlayLink(StepPage& page, QPainter& painter, int groupBoxId, bool running);

// onSetCursor of the play link: on a move the hover state follows the
// pointer (hoverValue inside the link, 0 elsewhere, always 0 while the page's
// controls are disabled); a left click while hovered calls click. 1 when the
// page took the pointer.
int stpPlayLinkSetCursor(StepPage& page, int mouseMessage, int hoverValue, const std::function<void()>& click);

}  // namespace qvp3

namespace qvp3 {

// A new control of the page with its id as its object name.
template <class Control>
Control* stpNewControl(QWidget& parent, int id) {
    auto* control = new Control(&parent);
    control->setObjectName(QString::number(id));
    return control;
}

}  // namespace qvp3
