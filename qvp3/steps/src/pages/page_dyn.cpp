// The interpretation page: for a score, our form over the score engine's
// interpretation settings in a scrolling container; nothing for a MIDI file.
#include <QScrollArea>

#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/page_slots.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_page_host.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"
#include "dyn_settings_form.h"
#include "vol_profile_slots.h"
#include "page_preview_link.h"

namespace qvp3 {

namespace {

QScrollArea* container(StepPage& page) {
    return page.window != nullptr ? qvp3ui::findControl<QScrollArea>(*page.window, kDynContainer) : nullptr;
}
DynSettingsForm* form(StepPage& page) {
    QScrollArea* area = container(page);
    return area != nullptr ? dynamic_cast<DynSettingsForm*>(area->widget()) : nullptr;
}

StepPage::Result onInitDialog(StepPage& page, QWidget* dialog, StepPage*) {
    if (dialog == nullptr) return 0;
    if (page.window == nullptr) page.window = dialog;
    auto* area = new QScrollArea(dialog);
    qvp3ui::setControlId(*area, kDynContainer);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setBackgroundRole(QPalette::Window);
    area->hide();
    return 1;
}

// The form is made once, on the first show with an entry that is not playing.
void makeForm(StepPage& page) {
    QScrollArea* area = container(page);
    const ProjectEntry* entry = stpCurrentEntry();
    if (area == nullptr || area->widget() != nullptr || entry == nullptr || entry->isBusy()) return;
    area->setWidget(new DynSettingsForm(area));
}

StepPage::Result onShow(StepPage& page, bool shown) {
    if (!shown) return stpFrameworkOnShow(page, false);
    makeForm(page);
    const bool values = stpDynShowControls(page);
    const StepPage::Result result = stpFrameworkOnShow(page, true);
    if (!values) {
        if (StepPageHost* host = stpPageHost()) host->layoutProfileBar(page, kProfileBarDisabled);
    }
    if (page.onSize) page.onSize(page);
    return result;
}

StepPage::Result onPartChanged(StepPage& page, std::intptr_t) {
    const bool values = stpDynShowControls(page);
    if (StepPageHost* host = stpPageHost()) {
        int mode = kProfileBarDisabled;
        if (values) mode = stpPageFillProfileList(page) ? kProfileBarEnabled : kProfileBarEmpty;
        host->layoutProfileBar(page, mode);
    }
    if (page.onSize) page.onSize(page);
    return 0;
}

void onSize(StepPage& page) {
    QScrollArea* area = container(page);
    if (area == nullptr) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    const ProjectEntry* entry = stpCurrentEntry();
    if (entry == nullptr) {
        area->hide();
        return;
    }
    if (entry->kind == EntryKind::Midi) return;
    // The container stays inside the page; the form inside it never gets
    // smaller than its minimum, so a small page scrolls it.
    const QRect client = page.window->rect();
    const int top = content.top() + 5;
    area->setGeometry(content.left(), top, std::max(client.right() - 10 - content.left(), 0),
                      std::max(client.bottom() - 15 - top, 0));
}

}  // namespace

bool stpDynShowControls(StepPage& page) {
    QScrollArea* area = container(page);
    ProjectEntry* entry = stpCurrentEntry();
    if (entry == nullptr || area == nullptr) return false;
    if (entry->kind == EntryKind::Midi) {
        area->hide();
        return false;
    }
    if (DynSettingsForm* settings = form(page)) settings->load(entry);
    area->show();
    return true;
}

void stpFillDynSlots(StepPage& page) {
    page.onInitDialog = onInitDialog;
    page.onShow = onShow;
    page.onPartChanged = onPartChanged;
    page.onSize = onSize;
    stpInstallProfileSlots(page);
}

}  // namespace qvp3
