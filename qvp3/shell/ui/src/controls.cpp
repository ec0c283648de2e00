#include "qvp3_ui/controls.h"

namespace qvp3ui {

int controlId(const QObject& control) {
    bool ok = false;
    int id = control.objectName().toInt(&ok);
    return ok ? id : -1;
}

}  // namespace qvp3ui
