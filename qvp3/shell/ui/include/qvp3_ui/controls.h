// Controls are found by their documented ids: a control's object name is
// its id as decimal text ("1003", "40053").
#pragma once

#include <QObject>
#include <QString>
#include <QWidget>

namespace qvp3ui {

inline QString controlName(int id) { return QString::number(id); }

inline void setControlId(QObject& control, int id) { control.setObjectName(controlName(id)); }

// The id of a control, or -1 when its name is not a number.
int controlId(const QObject& control);

// The first control below root (root itself included) with this id.
template <typename T = QWidget>
T* findControl(QObject& root, int id) {
    if (root.objectName() == controlName(id)) {
        if (auto* self = qobject_cast<T*>(&root)) return self;
    }
    return root.findChild<T*>(controlName(id));
}

}  // namespace qvp3ui
