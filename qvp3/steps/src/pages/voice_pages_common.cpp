#include "voice_pages_common.h"

#include <QApplication>
#include <QStyle>

#include "qvp3_steps/page_look.h"
#include "qvp3_steps/step_pages.h"

namespace qvp3::voicepages {

QPixmap noteIcon() {
    return QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32);
}

QFont noteFont() { return stpDescriptionFont(); }

}  // namespace qvp3::voicepages
