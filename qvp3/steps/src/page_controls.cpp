// The framework's handlers that look at a page's own controls: they find
// them by id (the object name) under the page's window.
#include <QAbstractButton>
#include <QAction>
#include <QWidget>

#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"

namespace qvp3 {

namespace {

QAction* toolbarButton(StepPage& page, int command) {
    if (page.window == nullptr) return nullptr;
    return page.window->findChild<QAction*>(qvp3ui::controlName(command));
}

}  // namespace

void stpFocusFirstControl(StepPage& page) {
    if (page.window == nullptr) return;
    for (QWidget* child : page.window->findChildren<QWidget*>()) {
        if ((child->focusPolicy() & Qt::TabFocus) != 0 && child->isEnabled() && child->isVisibleTo(page.window)) {
            child->setFocus(Qt::TabFocusReason);
            return;
        }
    }
}

bool stpToggleButtonDisabled(StepPage& page) {
    const QAction* button = toolbarButton(page, kCmdToggle);
    return button != nullptr && !button->isEnabled();
}

bool stpRunButtonDisabled(StepPage& page) {
    const QAction* button = toolbarButton(page, kCmdRun);
    return button != nullptr && !button->isEnabled();
}

void stpEnableToolbarButton(StepPage& page, int command, bool enable) {
    if (QAction* button = toolbarButton(page, command)) button->setEnabled(enable);
}

bool stpPageBoxChecked(StepPage& page, int controlId) {
    if (page.window == nullptr) return false;
    const auto* box = qvp3ui::findControl<QAbstractButton>(*page.window, controlId);
    return box != nullptr && box->isChecked();
}

void stpRepaintTppStatus(StepPage& page) {
    const auto* data = stpData<TppData>(page);
    if (page.window == nullptr || data == nullptr) return;
    page.window->update(data->statusX, data->statusY, data->statusWidth, data->statusHeight);
}

void stpAttachWindow(StepPage& page, QWidget* window, platform::MessageTarget* target) {
    page.window = window;
    if (auto* block = stpData<StepDataBlock>(page)) block->target = target;
    if (auto* mdc = stpData<MdcData>(page)) mdc->job.window = target;
    if (auto* wvc = stpData<WvcData>(page)) wvc->job.window = target;
    if (auto* brn = stpData<BrnData>(page)) brn->job.window = target;
}

}  // namespace qvp3
