#include "qvp3_shell/step_tab.h"

#include <QDesktopServices>
#include <QEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>

#include "qvp3_project/step_changes.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_workers.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_steps/step_table.h"
#include "qvp3_ui/language.h"
#include "step_page_dialog.h"

namespace qvp3 {

namespace {

std::string truncated(const std::string& text, int characters) {
    return QString::fromStdString(text).left(characters).toStdString();
}

// The texts and image of a page, as the step tab's creation loads them.
void loadPageTexts(StepPage& page, int step, const qvp3ui::LanguageModule& language) {
    const StepInfo& info = *stpStepInfo(step);
    page.title = truncated(language.string(info.titleId), kTitleChars);
    page.label = truncated(language.string(info.labelId), kLabelChars);
    page.headerImage = info.headerImage;
    const std::string description =
        step == kStepShv ? language.format(info.descriptionId, {std::int64_t{kShvDescriptionNumber},
                                                                std::string_view(language.string(kStrDynTitle))})
                         : language.string(info.descriptionId);
    page.description = truncated(description, kDescriptionChars);
    page.altDescription =
        info.altDescriptionId != 0 ? truncated(language.string(info.altDescriptionId), kDescriptionChars) : "";
}

}  // namespace

StepTab::StepTab(QTabWidget& tabs, Project& project) : QObject(&tabs), tabs_(tabs), project_(project) {
    openLink = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    connect(&tabs_, &QTabWidget::currentChanged, this, [this](int index) { keepBarOnCurrentStep(index); });
    tabs_.installEventFilter(this);
}

bool StepTab::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &tabs_ && event->type() == QEvent::FocusIn) {
        if (StepPageDialog* page = dialog(std::max(project_.currentStep, 0))) page->setFocus();
    }
    return QObject::eventFilter(watched, event);
}

StepTab::~StepTab() {
    destroyPages();
    if (pageHost_ && stpPageHost() == pageHost_.get()) stpSetPageHost(nullptr);
}

void StepTab::setPageHost(std::unique_ptr<StepPageHost> host) {
    pageHost_ = std::move(host);
    stpSetPageHost(pageHost_.get());
}

void StepTab::createPages(const qvp3ui::LanguageModule& language) {
    switching_ = true;  // the tab widget shows and hides while it is filled
    for (int step = 0; step < kStepCount; ++step) {
        StepPage* page = stpGetPage(project_, step);
        if (page == nullptr) continue;
        loadPageTexts(*page, step, language);
        auto* dialog = new StepPageDialog(*this, *page, &tabs_);
        dialog->setObjectName(QStringLiteral("stepPage%1").arg(step));
        stpAttachWindow(*page, dialog, &dialog->target());
        dialogs_[static_cast<std::size_t>(step)] = dialog;
        if (step < tabs_.count()) {
            QWidget* standIn = tabs_.widget(step);
            tabs_.removeTab(step);
            standIn->deleteLater();
        }
        tabs_.insertTab(step, dialog, QString::fromStdString(page->label));
        tabs_.setTabToolTip(step, QString::fromStdString(page->title));
        dialog->procedure(WM_INITDIALOG, 0, reinterpret_cast<platform::LParam>(page));
    }
    tabs_.setCurrentIndex(std::max(project_.currentStep, 0));
    switching_ = false;
}

StepPage* StepTab::currentPage() { return stpGetPage(project_, project_.currentStep < 0 ? 0 : project_.currentStep); }

StepPageDialog* StepTab::dialog(int step) const {
    return step >= 0 && step < kStepCount ? dialogs_[static_cast<std::size_t>(step)] : nullptr;
}

int StepTab::tabItemHeight() const {
    const QTabBar* bar = tabs_.tabBar();
    return (bar->count() > 0 ? bar->tabRect(0).height() : 0) + 2;  // the bar keeps one row
}

void StepTab::layoutPages() {
    const int step = std::max(project_.currentStep, 0);
    if (shownStep_ >= 0 && shownStep_ != step) showPage(shownStep_, false);
    switching_ = true;
    tabs_.setCurrentIndex(step);
    switching_ = false;
    showPage(step, true);
}

void StepTab::showPage(int step, bool shown) {
    StepPageDialog* page = dialog(step);
    if (page == nullptr) return;
    shownStep_ = shown ? step : -1;
    page->showWindow(shown);
}

platform::LResult StepTab::onCommand(int id, int) {
    StepPage* page = currentPage();
    if (page == nullptr) return 0;
    if (id == kCmdToggle && page->onToggle) page->onToggle(*page);
    if (id == kCmdRun && page->onRun) page->onRun(*page);
    return 0;
}

// The old page is hidden while it is still current, then the new step
// becomes current and its page is shown: each page hears of its own show.
void StepTab::switchTo(int step) {
    const int old = project_.currentStep;
    showPage(shownStep_ >= 0 ? shownStep_ : std::max(old, 0), false);
    project_.previousStep = old;
    project_.currentStep = step;
    switching_ = true;
    tabs_.setCurrentIndex(step);
    switching_ = false;
    showPage(step, true);
    if (StepPageDialog* shown = dialog(step)) shown->setFocus();
}

void StepTab::keepBarOnCurrentStep(int index) {
    if (switching_ || index == std::max(project_.currentStep, 0)) return;
    // The bar moved by itself (a click the main window has not approved yet):
    // it goes back to the current step once the click is handled.
    QTimer::singleShot(0, this, [this] {
        switching_ = true;
        tabs_.setCurrentIndex(std::max(project_.currentStep, 0));
        switching_ = false;
    });
}

void StepTab::selectStep(int step) {
    if (step < 0 || step >= kStepCount || step == project_.currentStep) return;
    if (!prjCanChangeStep(step, project_)) return;
    switchTo(step);
    project_.saved = 0;
    updateStepMenuItems(step);
}

void StepTab::forwardCommand(int id, int code) { onCommand(id, code); }

bool StepTab::isToggleDisabled() {
    StepPage* page = currentPage();
    return page != nullptr && page->isToggleDisabled && page->isToggleDisabled(*page);
}

bool StepTab::isRunDisabled() {
    StepPage* page = currentPage();
    return page != nullptr && page->isRunDisabled && page->isRunDisabled(*page);
}

void StepTab::updateStepMenuItems(int step) {
    if (onStepMenuItems) onStepMenuItems(step);
}

void StepTab::stopAllWorkers() {
    for (auto& page : project_.stepPages) {
        if (!page) continue;
        stpStopNotifier(*page);
        if (auto* mdc = stpData<MdcData>(*page)) cnvMidiStepStop(mdc->job);
        if (auto* wvc = stpData<WvcData>(*page)) cnvWaveStepStop(wvc->job);
        if (auto* brn = stpData<BrnData>(*page)) cnvExportStepStop(brn->job);
    }
}

void StepTab::destroyPages() {
    stopAllWorkers();
    for (int step = 0; step < kStepCount; ++step) {
        StepPageDialog*& d = dialogs_[static_cast<std::size_t>(step)];
        if (d == nullptr) continue;
        if (StepPage* page = stpGetPage(project_, step)) stpAttachWindow(*page, nullptr, nullptr);
        d->hide();
        d->deleteLater();
        d = nullptr;
    }
}

// The PRC and MET pages hear when the program is activated or deactivated.
void StepTab::notifyActivation(bool active) {
    for (int step : {kStepPrc, kStepMet}) {
        if (StepPageDialog* d = dialog(step)) d->target().post(platform::WM_ENGINE_MODIFIED, active ? 1 : 0, 0);
    }
}

}  // namespace qvp3
