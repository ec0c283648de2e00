#include "pwc_controls.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <array>

#include "page_preview_link.h"
#include "qvp3_steps/page_events.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_steps/step_data.h"
#include "qvp3_steps/step_pages.h"
#include "qvp3_ui/controls.h"

namespace qvp3::pwc {

namespace {

constexpr int kTabRowHeight = 30;
constexpr int kBoxWidth = 360;
constexpr int kRowHeight = 26;
constexpr int kToolbarWidth = 330;
constexpr int kLibraryColumn = 330;
constexpr const char* kPlayerAreaName = "SamplePlayer";

// Images of the tabs, the toolbars and the tree (indices of the page's image list).
constexpr int kImageTabSynth = 1;
constexpr int kImageTabSampler = 3;
constexpr int kImageTabEffect = 21;
constexpr int kImageLoad = 1;
constexpr int kImagePlay = 3;
constexpr int kImageAdd = 7;
constexpr int kImageRemove = 9;

template <class Control>
Control* child(StepPage& page, int id) {
    return stpControl<Control>(page, id);
}

void show(StepPage& page, std::initializer_list<int> ids, bool visible) {
    for (int id : ids) {
        if (QWidget* w = stpControl<QWidget>(page, id)) w->setVisible(visible);
    }
}

QLabel* newLabel(QWidget& parent, int id, int textId) {
    auto* label = stpNewControl<QLabel>(parent, id);
    label->setText(stpText(textId));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kPageLabelText);
    label->setPalette(palette);
    return label;
}

// An extended combo box of the page: a drop-down list with pictures.
QComboBox* newBox(StepPage& page, QWidget& parent, int id) {
    auto* box = stpNewControl<QComboBox>(parent, id);
    box->setMaxVisibleItems(12);
    StepPage* p = &page;
    QObject::connect(box, &QComboBox::currentIndexChanged, box, [p, box, id] {
        if (p->onCommand) p->onCommand(*p, id, box, kSelChange);
    });
    return box;
}

// A toolbar of two command buttons with text beside the picture; its
// commands reach the page's onCommand.
QToolBar* newToolbar(StepPage& page, QWidget& parent, int id, std::array<std::pair<int, int>, 2> buttons,
                     std::array<int, 2> images) {
    auto* toolbar = stpNewControl<QToolBar>(parent, id);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar->setIconSize(QSize(24, 24));
    StepPage* p = &page;
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        const auto [command, textId] = buttons[i];
        QAction* action = toolbar->addAction(pwcToolbarImage(images[i]), stpText(textId));
        qvp3ui::setControlId(*action, command);
        QObject::connect(action, &QAction::triggered, toolbar, [p, command] {
            if (p->onCommand) p->onCommand(*p, command, nullptr, 0);
        });
        if (QWidget* button = toolbar->widgetForAction(action)) button->setMinimumSize(150, 26);
    }
    return toolbar;
}

QWidget* newCredits(QWidget& parent) {
    auto* credits = new QWidget(&parent);
    credits->setObjectName(kCreditsName);
    credits->setAutoFillBackground(true);
    QPalette palette = credits->palette();
    palette.setColor(QPalette::Window, kPageDisabledItem);
    palette.setColor(QPalette::WindowText, kPageNoteText);
    credits->setPalette(palette);
    auto* layout = new QVBoxLayout(credits);
    auto* title = new QLabel(QStringLiteral("TiMidity++ 2.13.2"), credits);
    qvp3ui::setControlId(*title, 105);
    QFont titleFont(QStringLiteral("Times"), 18, QFont::Bold, true);
    title->setFont(titleFont);
    auto* text = new QLabel(stpText(kStrCredits), credits);
    qvp3ui::setControlId(*text, 110);
    text->setWordWrap(true);
    QFont textFont = text->font();
    textFont.setBold(true);
    text->setFont(textFont);
    layout->addWidget(title);
    layout->addWidget(text, 1);
    return credits;
}

void buildSoundTree(StepPage& page, QWidget& area) {
    auto* tree = stpNewControl<QTreeWidget>(area, kSoundTree);
    tree->setHeaderHidden(true);
    tree->setRootIsDecorated(true);
    tree->setSelectionBehavior(QAbstractItemView::SelectRows);
    StepPage* p = &page;
    QObject::connect(tree, &QTreeWidget::currentItemChanged, tree, [p, tree](QTreeWidgetItem* item) {
        PageNotify notify{kSoundTree, kTreeSelChanged, tree, reinterpret_cast<std::intptr_t>(item)};
        if (p->onNotify) p->onNotify(*p, notify);
    });
    newLabel(area, kValueLabel, 99);
    auto* value = stpNewControl<QLabel>(area, kValue);
    value->setAlignment(Qt::AlignCenter);
    value->setFrameShape(QFrame::Panel);
    value->setFrameShadow(QFrame::Sunken);
    value->setAutoFillBackground(true);
    QPalette palette = value->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, kPageValueText);
    value->setPalette(palette);
    newLabel(area, kLibInstrumentLabel, 106);
    newBox(page, area, kLibInstrumentBox);
    newLabel(area, kLibProgramLabel, 107);
    newBox(page, area, kLibProgramBox);
}

void buildEffectGroup(StepPage& page, QWidget& area) {
    newLabel(area, kEffectLabel, 306);
    newBox(page, area, kEffectBox);
    auto* programs = stpNewControl<QTreeWidget>(area, kEffectPrograms);
    programs->setRootIsDecorated(false);
    programs->setSelectionMode(QAbstractItemView::SingleSelection);
    programs->setHeaderLabels({stpText(kStrEffectColumn)});
    StepPage* p = &page;
    QObject::connect(programs, &QTreeWidget::itemSelectionChanged, programs, [p, programs] {
        const QList<QTreeWidgetItem*> chosen = programs->selectedItems();
        const int row = chosen.isEmpty() ? -1 : programs->indexOfTopLevelItem(chosen.front());
        PageNotify notify{kEffectPrograms, kListItemChanged, programs, row};
        if (p->onNotify) p->onNotify(*p, notify);
    });
    newToolbar(page, area, kEffectToolbar, {{{kCmdAddEffect, kStrAddEffect}, {kCmdRemoveEffect, kStrRemoveEffect}}},
               {kImageAdd, kImageRemove});
    auto* panel = stpNewControl<QScrollArea>(area, kEffectPanel);
    panel->setWidgetResizable(true);
    panel->setProperty("SelectedReverb", -1);
}

}  // namespace

QIcon pwcImage(int image) {
    QStyle* style = QApplication::style();
    switch (image) {
    case 1: return style->standardIcon(QStyle::SP_ComputerIcon);          // the synthesizer; a second-standard instrument
    case 3: return style->standardIcon(QStyle::SP_MediaPlay);             // the sample player
    case 7: return style->standardIcon(QStyle::SP_DirHomeIcon);           // the sample library
    case 9: return style->standardIcon(QStyle::SP_FileIcon);              // a VST instrument; a melodic sound
    case 11:
    case 15: return style->standardIcon(QStyle::SP_MediaVolume);          // percussion sounds
    case 13: return style->standardIcon(QStyle::SP_ArrowRight);           // a program; a sound of a second kind
    case 21: return style->standardIcon(QStyle::SP_MediaSeekForward);     // the effect
    default: return style->standardIcon(QStyle::SP_FileIcon);
    }
}

QIcon pwcToolbarImage(int image) {
    QStyle* style = QApplication::style();
    switch (image) {
    case 1: return style->standardIcon(QStyle::SP_BrowserReload);   // load the instruments
    case 3: return style->standardIcon(QStyle::SP_MediaPlay);
    case 5: return style->standardIcon(QStyle::SP_MediaStop);
    case 7: return style->standardIcon(QStyle::SP_DialogOpenButton);  // add an effect
    case 9: return style->standardIcon(QStyle::SP_TrashIcon);         // remove it
    default: return {};
    }
}

QIcon pwcInstrumentIcon() { return QApplication::style()->standardIcon(QStyle::SP_MediaVolume); }

PwcTabBar::PwcTabBar(StepPage& page, QWidget* parent) : QTabBar(parent), page_(page) {
    qvp3ui::setControlId(*this, kTabs);
    setDrawBase(false);
    setExpanding(false);
    QObject::connect(this, &QTabBar::currentChanged, this, [this](int tab) {
        previous_ = current_;
        current_ = tab;
        PageNotify notify{kTabs, kTabSelChange, this, tab};
        if (page_.onNotify) page_.onNotify(page_, notify);
    });
}

void PwcTabBar::selectQuietly(int tab) {
    const QSignalBlocker block(this);
    setCurrentIndex(tab);
    current_ = currentIndex();
    update();
}

QSize PwcTabBar::tabSizeHint(int index) const {
    QFont bold = font();
    bold.setBold(true);
    const int text = QFontMetrics(bold).horizontalAdvance(tabText(index));
    return {text + 16 + 5 + 2 + 16, kTabRowHeight};
}

void PwcTabBar::paintEvent(QPaintEvent* event) {
    if (!page_.onDrawItem) {
        QTabBar::paintEvent(event);
        return;
    }
    QPainter painter(this);
    for (int i = 0; i < count(); ++i) {
        PageDrawItem item{kTabs, i, this, &painter, tabRect(i), i == currentIndex(), isEnabled()};
        page_.onDrawItem(page_, item);
    }
}

PwcTabArea::PwcTabArea(std::function<void(QPainter&)> paint, QWidget* parent)
    : QWidget(parent), paint_(std::move(paint)) {
    setObjectName(kTabAreaName);
}

void PwcTabArea::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kPageGroupBackground);
    painter.setPen(kPageSeparator);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (paint_) paint_(painter);
}

void pwcBuildControls(StepPage& page, QWidget& dialog) {
    auto* bar = new PwcTabBar(page, &dialog);
    {
        const QSignalBlocker block(bar);
        bar->addTab(pwcImage(kImageTabSynth), stpText(kStrTabSynth));
        bar->addTab(pwcImage(kImageTabSampler), stpText(kStrTabSampler));
        bar->addTab(pwcImage(kImageTabEffect), stpText(kStrTabEffect));
    }
    StepPage* p = &page;
    auto* area = new PwcTabArea(
        [p](QPainter& painter) {
            if (p->window != nullptr) stpPaintSampleLibBanner(*p, painter);
        },
        &dialog);
    newCredits(*area);
    newLabel(*area, kInstrumentLabel, 77);
    newBox(page, *area, kInstrumentBox);
    newLabel(*area, kOutputLabel, 78);
    newBox(page, *area, kOutputBox);
    auto* playerArea = new QWidget(area);
    playerArea->setObjectName(kPlayerAreaName);
    buildSoundTree(page, *area);
    newToolbar(page, *area, kPlayToolbar, {{{kCmdRun, kStrLoadButton}, {kCmdToggle, kStrPlayButton}}},
               {kImageLoad, kImagePlay});
    buildEffectGroup(page, *area);
}

QWidget* pwcPlayerWindowArea(StepPage& page) {
    return page.window != nullptr ? page.window->findChild<QWidget*>(kPlayerAreaName) : nullptr;
}

void stpPwcShowSamplerGroup(StepPage& page, bool visible, bool toolbarShow, bool windowShow) {
    show(page, {kInstrumentBox, kInstrumentLabel, kOutputBox, kOutputLabel}, visible);
    pwcShowPlayToolbar(page, toolbarShow);
    if (QWidget* area = pwcPlayerWindowArea(page)) area->setVisible(windowShow);
}

void stpPwcShowSampleLibGroup(StepPage& page, bool visible) {
    show(page, {kSoundTree, kValue, kValueLabel, kLibInstrumentBox, kLibInstrumentLabel, kLibProgramBox, kLibProgramLabel},
         visible);
}

void stpPwcShowEffectGroup(StepPage& page, bool visible) {
    show(page, {kEffectLabel, kEffectBox, kEffectPrograms, kEffectToolbar, kEffectPanel}, visible);
}

void pwcShowCredits(StepPage& page, bool visible) {
    if (page.window == nullptr) return;
    if (QWidget* credits = page.window->findChild<QWidget*>(kCreditsName)) credits->setVisible(visible);
}

void pwcShowPlayToolbar(StepPage& page, bool visible) { show(page, {kPlayToolbar}, visible); }

void appSetToolbarButtonText(StepPage& page, int textId, int command, int image) {
    if (page.window == nullptr) return;
    QAction* action = page.window->findChild<QAction*>(qvp3ui::controlName(command));
    if (action == nullptr) return;
    action->setIcon(pwcToolbarImage(image));
    if (textId != 0) action->setText(stpText(textId));
}

void pwcLayout(StepPage& page) {
    auto* data = stpData<PwcData>(page);
    if (page.window == nullptr || data == nullptr) return;
    QRect content;
    stpLayoutDescription(page, &content, nullptr);
    content.setBottom(page.window->height() - 10);
    content.setRight(page.window->width() - 10);
    auto* bar = page.window->findChild<PwcTabBar*>();
    auto* area = page.window->findChild<PwcTabArea*>(kTabAreaName);
    if (bar == nullptr || area == nullptr) return;
    bar->setGeometry(content.left(), content.top(), content.width(), kTabRowHeight);
    area->setGeometry(content.left(), content.top() + kTabRowHeight, content.width(),
                      std::max(content.height() - kTabRowHeight, 200));
    const int w = area->width();
    const int h = area->height();
    const auto place = [&page](int id, int x, int y, int width, int height) {
        if (QWidget* c = stpControl<QWidget>(page, id)) c->setGeometry(x, y, width, height);
    };
    if (QWidget* credits = page.window->findChild<QWidget*>(kCreditsName)) {
        credits->setGeometry(20, 20, std::min(w - 40, 460), std::min(h - 40, 200));
    }
    // The sampler: the instrument's icon left of its box, the play toolbar beside.
    data->iconRect = QRect(12, 40, 28, kRowHeight);
    place(kInstrumentLabel, 48, 16, kBoxWidth, 22);
    place(kInstrumentBox, 48, 40, kBoxWidth, kRowHeight);
    place(kOutputLabel, 48, 74, kBoxWidth, 22);
    place(kOutputBox, 48, 98, kBoxWidth, kRowHeight);
    place(kPlayToolbar, 48 + kBoxWidth + 20, 40, kToolbarWidth, 36);
    if (QWidget* playerArea = pwcPlayerWindowArea(page)) playerArea->setGeometry(12, 140, w - 24, h - 152);
    data->hintRect = QRect(12, 150, w - 24, 90);
    // The sound tree and the library's boxes beside it; the notes below them.
    const int top = 140;
    const int treeHeight = std::max(h - top - 60, 80);
    place(kSoundTree, 12, top, 300, treeHeight);
    data->bannerRect = QRect(12, top + treeHeight + 8, 300, 40);
    const int x = kLibraryColumn;
    const int width = std::max(std::min(w - x - 12, kBoxWidth), 120);
    place(kValueLabel, x, top, width, 22);
    place(kValue, x, top + 22, width, kRowHeight);
    place(kLibInstrumentLabel, x, top + 56, width, 22);
    place(kLibInstrumentBox, x, top + 78, width, kRowHeight);
    place(kLibProgramLabel, x, top + 112, width, 22);
    place(kLibProgramBox, x, top + 134, width, kRowHeight);
    data->noteRects[0] = QRect(x + 30, top + 184, width - 30, 56);
    data->noteRects[1] = QRect(x + 30, top + 248, width - 30, 56);
    // The effect: its box and programs, its toolbar and panel beside them.
    place(kEffectLabel, 12, 16, kBoxWidth, 22);
    place(kEffectBox, 12, 40, kBoxWidth, kRowHeight);
    // Below the play toolbar, which stays on this tab for the sample player.
    place(kEffectPrograms, 12, 74, kBoxWidth, std::max(h - 86, 60));
    place(kEffectToolbar, 48 + kBoxWidth + 20, 84, kToolbarWidth, 36);
    place(kEffectPanel, kBoxWidth + 30, 128, std::max(w - kBoxWidth - 42, 100), std::max(h - 140, 60));
    if (auto* programs = stpControl<QTreeWidget>(page, kEffectPrograms)) {
        programs->setHeaderLabels({stpText(kStrEffectColumn)});
    }
}

}  // namespace qvp3::pwc
