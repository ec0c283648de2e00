// How every step page looks: its colours and fonts, the images of its header
// (drawn by the program, one per step, the link and the banner), and where
// the common header puts them. The step tab paints the header from this and
// each page places its controls below it (stpLayoutDescription).
#pragma once

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QRect>
#include <QString>

#include "qvp3_project/project.h"

namespace qvp3 {

// The page's own colours.
inline const QColor kPageBackground{0x86, 0xB1, 0xD8};
inline const QColor kPageLabelText{0xE5, 0xFB, 0xFF};
inline const QColor kPageGroupBackground{0x86, 0xB1, 0xD8};
inline const QColor kPageValueText{0x38, 0x62, 0x87};
inline const QColor kPageNoteText{0x24, 0x4E, 0x73};
inline const QColor kPageDisabledItem{0xA4, 0xCF, 0xEB};
inline const QColor kPageWarningText{0xC8, 0x00, 0x00};
inline const QColor kPageSeparator{0x38, 0x62, 0x87};

QFont stpTitleFont();
QFont stpDescriptionFont();
QFont stpNoteFont();

// An image of the page header by its number: a step's header image, the
// link (204) or the banner (205). A null pixmap for any other number.
QPixmap stpPageImage(int id);

// The maker's home page that the header's link opens.
inline constexpr const char* kMakerHomePage = "https://www.tavrena-software.com/";

// Where the common header of a page goes in a client rectangle.
struct PageHeader {
    QRect image;        // the step's header image
    QRect link;         // the link image, its bottom on the client's bottom
    int separatorX = 0;
    QRect banner;       // drawn at three quarters of its height
    QRect title;        // within the banner
    QString description;
    QRect descriptionRect;  // measured: its height is the text's
    QRect note;         // TMP, TPP and WVC: the note under the description; empty otherwise
    QString noteText;
    QRect content;      // where the page's own controls start (bottom: the client's)
};

// Language strings of the notes under the description.
inline constexpr int kStrTmpNote = 11;
inline constexpr int kStrTppNote = 29;
inline constexpr int kStrWvcNote = 423;

// The header of a page over a client rectangle. The description is the
// alternative one (when the page has one) for a MIDI entry.
PageHeader stpMeasureHeader(const StepPage& page, const QRect& client, const ProjectEntry* current);

// The description of a page as shown for the current entry.
const std::string& stpShownDescription(const StepPage& page, const ProjectEntry* current);

}  // namespace qvp3
