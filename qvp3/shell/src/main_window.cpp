#include "qvp3_shell/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStatusBar>
#include <QStyle>
#include <QTabWidget>
#include <QToolBar>
#include <QTreeView>
#include <QVBoxLayout>

#include "qvp3_audio/output_device_model.h"
#include "qvp3_shell/app_state.h"
#include "qvp3_shell/main_commands.h"
#include "qvp3_shell/profile_bar_qt.h"
#include "qvp3_shell/shell_hosts_basic.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/qt_message_target.h"
#include "qvp3_ui/string_ids.h"

namespace qvp3 {

namespace {

QString langText(const AppState& app, int id) {
    return app.stringModule ? QString::fromStdString(app.stringModule->string(id)) : QString();
}

// A theme icon, else the style's picture of the same meaning.
QIcon commandIcon(const CommandRow& row) {
    static const std::map<std::string_view, QStyle::StandardPixmap> fallbacks{
        {"document-new", QStyle::SP_FileIcon},        {"document-open", QStyle::SP_DialogOpenButton},
        {"document-save", QStyle::SP_DialogSaveButton}, {"document-close", QStyle::SP_DialogCloseButton},
        {"list-add", QStyle::SP_FileDialogNewFolder},  {"list-remove", QStyle::SP_TrashIcon},
        {"go-up", QStyle::SP_ArrowUp},                 {"go-down", QStyle::SP_ArrowDown},
        {"go-next", QStyle::SP_ArrowForward},          {"go-previous", QStyle::SP_ArrowBack},
        {"help-contents", QStyle::SP_DialogHelpButton}, {"application-exit", QStyle::SP_DialogCloseButton},
        {"system-search", QStyle::SP_FileDialogContentsView}, {"document-edit", QStyle::SP_FileDialogDetailedView},
        {"preferences-system", QStyle::SP_ComputerIcon}, {"document-properties", QStyle::SP_FileDialogInfoView},
        {"media-playback-start", QStyle::SP_MediaPlay}, {"media-playback-stop", QStyle::SP_MediaStop},
        {"media-skip-backward", QStyle::SP_MediaSkipBackward}, {"media-seek-backward", QStyle::SP_MediaSeekBackward},
        {"media-seek-forward", QStyle::SP_MediaSeekForward}, {"document-import", QStyle::SP_DialogApplyButton},
        {"edit-delete", QStyle::SP_TrashIcon},
    };
    if (row.icon.empty()) return {};
    QIcon icon = QIcon::fromTheme(QString::fromUtf8(row.icon.data(), static_cast<qsizetype>(row.icon.size())));
    if (!icon.isNull()) return icon;
    auto it = fallbacks.find(row.icon);
    return it != fallbacks.end() ? QApplication::style()->standardIcon(it->second) : QIcon();
}

template <typename W>
W* named(W* widget, int id) {
    qvp3ui::setControlId(*widget, id);
    return widget;
}

}  // namespace

MainWindow::MainWindow(AppState& app) : app_(app) {
    target_ = std::make_unique<qvp3ui::QtMessageTarget>(
        this, [this](platform::MessageId m, platform::WParam w, platform::LParam l) { return onMessage(m, w, l); });
    setObjectName("QVP3MAIN");
    setMinimumSize(1024, 768);
    setAcceptDrops(true);
    buildActions();
    buildMenus();
    buildToolbars();
    buildStatusBar();

    splitter_ = new QSplitter(Qt::Horizontal, this);
    splitter_->setObjectName("splitter");
    splitter_->addWidget(buildListArea());
    auto* right = new QWidget(splitter_);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    auto* bars = new QHBoxLayout;
    bars->addWidget(buildTransport(), 3);
    bars->addWidget(buildProfileBar(), 2);
    rightLayout->addLayout(bars);
    rightLayout->addWidget(buildStepTab(), 1);
    splitter_->addWidget(right);
    splitter_->setStretchFactor(0, 1);
    splitter_->setStretchFactor(1, 3);
    splitter_->setChildrenCollapsible(false);
    setCentralWidget(splitter_);
    listHost_ = std::make_unique<BasicProjectListHost>(*this, *static_cast<QStandardItemModel*>(standInModel_));
    stepHost_ = std::make_unique<BasicStepHost>(*this);
    dialogs_ = std::make_unique<BasicShellDialogs>(*this);

    retranslate();
    updateTitle();
    updateTransport();
    updateCommands();
    connect(qApp, &QApplication::focusChanged, this, [this] { updateCommands(); });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
        MainCommands(*this).onActivateApp(state == Qt::ApplicationActive);
    });
}

MainWindow::~MainWindow() {
    // The application outlives the window: its signals must not reach a half-destroyed one.
    disconnect(qApp, nullptr, this, nullptr);
    if (app_.profiles) {
        app_.profiles->profileList = nullptr;
        app_.profiles->barWindow = nullptr;
        app_.profiles->profileToolbar = nullptr;
    }
    target_->close();
}

platform::MessageTarget& MainWindow::target() { return *target_; }

QAction* MainWindow::action(int id) const {
    auto it = actions_.find(id);
    return it != actions_.end() ? it->second : nullptr;
}

QMenu* MainWindow::submenu(Submenu which) const {
    const int i = static_cast<int>(which);
    return i >= 0 && i < kSubmenuCount ? submenus_[static_cast<std::size_t>(i)] : nullptr;
}

void MainWindow::buildActions() {
    for (const CommandRow& row : commandTable()) {
        auto* action = new QAction(commandIcon(row), QString(), this);
        action->setObjectName(QString::number(row.id));
        const int id = row.id;
        connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
        addAction(action);  // keys work while the action is in no menu
        actions_[row.id] = action;
    }
    // The step tabs, by key only.
    for (int id = cmd::kFirstStepTab; id <= cmd::kLastStepTab; ++id) {
        auto* action = new QAction(this);
        action->setObjectName(QString::number(id));
        connect(action, &QAction::triggered, this, [this, id] { runCommand(id); });
        addAction(action);
        actions_[id] = action;
    }
}

void MainWindow::buildMenus() {
    for (int i = 0; i < kSubmenuCount; ++i) {
        submenus_[static_cast<std::size_t>(i)] = menuBar()->addMenu(QString());
        submenus_[static_cast<std::size_t>(i)]->setObjectName(QStringLiteral("menu%1").arg(i));
    }
    for (const CommandRow& row : commandTable()) {
        QMenu* menu = submenu(row.menu);
        if (!menu) continue;
        if (row.separatorBefore && !menu->isEmpty()) menu->addSeparator();
        menu->addAction(action(row.id));
    }
    QMenu* file = submenu(Submenu::File);
    connect(file, &QMenu::aboutToShow, this, [this] { MainCommands(*this).initMenuPopup(Submenu::File); });
    connect(submenu(Submenu::Playback), &QMenu::aboutToShow, this,
            [this] { MainCommands(*this).initMenuPopup(Submenu::Playback); });
    connect(submenu(Submenu::Project), &QMenu::aboutToShow, this,
            [this] { MainCommands(*this).initMenuPopup(Submenu::Project); });
}

void MainWindow::buildToolbars() {
    auto* main = addToolBar(QString());
    main->setObjectName(qvp3ui::controlName(ctl::kRebar));
    main->setMovable(false);
    main->setIconSize(QSize(20, 20));
    auto* second = addToolBar(QString());
    second->setObjectName(kSecondToolbarName);
    second->setMovable(false);
    second->setIconSize(QSize(20, 20));
    for (const CommandRow& row : commandTable()) {
        QToolBar* bar = row.toolbar == ToolbarRow::Main ? main : row.toolbar == ToolbarRow::Second ? second : nullptr;
        if (!bar) continue;
        if (row.separatorBefore || bar->actions().isEmpty()) {
            if (bar == second || !bar->actions().isEmpty()) bar->addSeparator();
        }
        bar->addAction(action(row.id));
    }
}

void MainWindow::buildStatusBar() {
    QStatusBar* bar = statusBar();
    qvp3ui::setControlId(*bar, ctl::kStatusBar);
    statusProgress_ = new QProgressBar(bar);
    statusProgress_->setObjectName(kStatusProgressName);
    statusProgress_->setMaximumWidth(240);
    statusProgress_->setVisible(false);
    bar->addPermanentWidget(statusProgress_);
}

QWidget* MainWindow::buildListArea() {
    auto* area = new QWidget(this);
    area->setObjectName("listArea");
    auto* layout = new QVBoxLayout(area);
    layout->addWidget(named(new QLabel(area), ctl::kListLabel));
    fileList_ = named(new QTreeView(area), ctl::kFileList);
    fileList_->setRootIsDecorated(false);
    fileList_->setSelectionMode(QAbstractItemView::SingleSelection);
    fileList_->setSelectionBehavior(QAbstractItemView::SelectRows);
    fileList_->setSortingEnabled(false);
    fileList_->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (int id : {cmd::kPlay, cmd::kStop, cmd::kFileUp, cmd::kFileDown, cmd::kRemoveFile, cmd::kExternalEditor})
        fileList_->addAction(action(id));
    standInModel_ = new QStandardItemModel(0, 3, this);
    fileList_->setModel(standInModel_);
    connectFileList();
    layout->addWidget(fileList_, 1);
    fileList_->viewport()->installEventFilter(this);
    addPathCheck_ = named(new QCheckBox(area), ctl::kAddPathCheck);
    connect(addPathCheck_, &QCheckBox::clicked, this, [this] { runCommand(ctl::kAddPathCheck); });
    layout->addWidget(addPathCheck_);
    for (int id : {ctl::kPlaceholderA, ctl::kListProgressA, ctl::kPlaceholderB, ctl::kListProgressB}) {
        if (id == ctl::kPlaceholderA || id == ctl::kPlaceholderB) {
            // The captions of the file count and the disc usage: shown by the
            // file list once it fills them.
            auto* caption = named(new QLabel(area), id);
            caption->setVisible(false);
            layout->addWidget(caption);
            continue;
        }
        auto* progress = named(new QProgressBar(area), id);
        progress->setRange(0, 99);
        progress->setTextVisible(false);
        progress->setStyleSheet("QProgressBar { background: rgb(134,177,216); border: 1px solid rgb(56,98,135); }"
                                "QProgressBar::chunk { background: rgb(56,98,135); }");
        layout->addWidget(progress);
    }
    return area;
}

QWidget* MainWindow::buildTransport() {
    auto* panel = new QWidget(this);
    panel->setObjectName("transport");
    auto* layout = new QVBoxLayout(panel);
    layout->addWidget(named(new QLabel(panel), ctl::kTransportLabel));
    auto* buttons = new QHBoxLayout;
    // Holding a wind button is holding its key, once the project has files.
    auto* windKeys = new TransportKeyButtons(target(), [this] { return app_.project && app_.project->fileNum() > 0; }, panel);
    for (int id : {cmd::kPlay, cmd::kStop, cmd::kToStart, cmd::kBack, cmd::kForward}) {
        auto* button = new QPushButton(panel);
        qvp3ui::setControlId(*button, id);
        button->setIcon(action(id)->icon());
        button->setIconSize(QSize(24, 24));
        button->setFixedSize(52, 36);
        button->setFocusPolicy(Qt::TabFocus);
        if (id == cmd::kBack || id == cmd::kForward) {
            windKeys->attach(*button, id == cmd::kBack ? Qt::Key_F5 : Qt::Key_F7);
        } else {
            connect(button, &QPushButton::clicked, this, [this, id] { runCommand(id); });
        }
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    layout->addLayout(buttons);
    positionSlider_ = named(new QSlider(Qt::Horizontal, panel), ctl::kPositionSlider);
    connect(positionSlider_, &QSlider::actionTriggered, this,
            [this](int sliderAction) { MainCommands(*this).onPositionScroll(sliderAction); });
    connect(positionSlider_, &QSlider::sliderReleased, this,
            [this] { MainCommands(*this).onPositionScroll(QSlider::SliderNoAction); });
    layout->addWidget(positionSlider_);
    auto* displays = new QHBoxLayout;
    barDisplay_ = named(new QLabel("1 : 1", panel), ctl::kBarDisplay);
    timeDisplay_ = named(new QLabel("0:00:000", panel), ctl::kTimeDisplay);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(mono.pointSize() + 4);
    mono.setBold(true);
    for (QLabel* display : {barDisplay_, timeDisplay_}) {
        display->setFont(mono);
        display->setFrameShape(QFrame::StyledPanel);
        display->setFrameShadow(QFrame::Sunken);
        display->setAlignment(Qt::AlignCenter);
        display->setMinimumWidth(QFontMetrics(mono).horizontalAdvance("000 : 00") + 16);
        display->setStyleSheet("background: rgb(229,251,255); color: rgb(56,98,135); padding: 2px 6px;");
    }
    midiOutList_ = named(new QComboBox(panel), ctl::kMidiOutList);
    for (const OutputDeviceEntry& out : app_.outputDevices->midiOuts)
        midiOutList_->addItem(QString::fromStdString(out.name));
    midiOutList_->setCurrentIndex(static_cast<int>(app_.outputDevices->selectedMidiOut));
    connect(midiOutList_, &QComboBox::activated, this, [this] { MainCommands(*this).onMidiOutChanged(); });
    displays->setSpacing(8);
    displays->addWidget(barDisplay_);
    displays->addWidget(timeDisplay_);
    displays->addWidget(midiOutList_, 1);
    layout->addLayout(displays);
    return panel;
}

QWidget* MainWindow::buildProfileBar() {
    auto* bar = new QWidget(this);
    bar->setObjectName("profileBar");
    profileBar_ = bar;
    auto* layout = new QVBoxLayout(bar);
    layout->addWidget(named(new QLabel(bar), ctl::kProfileLabelA));
    layout->addWidget(named(new QLabel(bar), ctl::kProfileLabelB));
    auto* row = new QHBoxLayout;
    profileList_ = named(new QComboBox(bar), ctl::kProfileList);
    profileList_->setEditable(true);
    profileList_->setMinimumWidth(160);
    profileList_->lineEdit()->setMaxLength(64);
    // A typed name is a new profile's name, never an item of the list.
    profileList_->setInsertPolicy(QComboBox::NoInsert);
    profileList_->lineEdit()->installEventFilter(this);
    row->addWidget(profileList_, 1);
    auto* tools = named(new QToolBar(bar), ctl::kProfileToolbar);
    tools->setIconSize(QSize(20, 20));
    for (const CommandRow& r : commandTable()) {
        if (r.toolbar == ToolbarRow::Profile) tools->addAction(action(r.id));
    }
    row->addWidget(tools);
    layout->addLayout(row);
    connect(profileList_, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (app_.profiles) app_.profiles->selectedIndex = index;
    });
    profileListWindow_ = std::make_unique<QtProfileList>(profileList_);
    profileBarWindow_ = std::make_unique<QtBarWindow>(bar);
    profileToolbarWindow_ = std::make_unique<QtBarWindow>(tools);
    app_.profiles->profileList = profileListWindow_.get();
    app_.profiles->barWindow = profileBarWindow_.get();
    app_.profiles->profileToolbar = profileToolbarWindow_.get();
    layout->addStretch(1);
    return bar;
}

QWidget* MainWindow::buildStepTab() {
    stepTab_ = new QTabWidget(this);
    stepTab_->setObjectName(kStepTabName);
    for (int step = 0; step < kStepCount; ++step) {
        auto* page = new QWidget(stepTab_);
        page->setObjectName(QStringLiteral("stepPage%1").arg(step));
        stepTab_->addTab(page, QString());
    }
    connect(stepTab_, &QTabWidget::tabBarClicked, this,
            [this](int index) { MainCommands(*this).selectStep(index, true); });
    return stepTab_;
}

void MainWindow::retranslate() {
    for (int i = 0; i < kSubmenuCount; ++i)
        submenus_[static_cast<std::size_t>(i)]->setTitle(langText(app_, qvp3ui::kSubmenuTitleBase + i));
    for (auto& [id, act] : actions_) {
        const CommandRow* row = findCommand(id);
        act->setText(langText(app_, id == cmd::kUpdateSettings ? 472 : qvp3ui::kMenuTextBase + id));
        if (row && row->tooltipId != 0) act->setToolTip(langText(app_, row->tooltipId));
        if (app_.stringModule) {
            QKeySequence keys = QKeySequence::fromString(QString::fromStdString(app_.stringModule->accelerator(id)));
            if (!keys.isEmpty()) act->setShortcut(keys);
        }
    }
    for (int id : {cmd::kPlay, cmd::kStop, cmd::kToStart, cmd::kBack, cmd::kForward}) {
        auto* button = qvp3ui::findControl<QPushButton>(*this, id);
        button->setToolTip(action(id)->text().remove('&'));
    }
    auto* list = static_cast<QStandardItemModel*>(standInModel_);
    list->setHorizontalHeaderLabels({langText(app_, qvp3ui::kStrFileListFile), langText(app_, qvp3ui::kStrFileListKind),
                                     langText(app_, 40)});
    qvp3ui::findControl<QLabel>(*this, ctl::kListLabel)->setText(langText(app_, qvp3ui::kStrListCaption));
    addPathCheck_->setText(langText(app_, qvp3ui::kStrAddPath));
    qvp3ui::findControl<QLabel>(*this, ctl::kTransportLabel)->setText(langText(app_, qvp3ui::kStrTransportCaption));
    qvp3ui::findControl<QLabel>(*this, ctl::kProfileLabelA)->setText(langText(app_, qvp3ui::kStrProfileCaption));
    qvp3ui::findControl<QLabel>(*this, ctl::kProfileLabelB)->setText(langText(app_, qvp3ui::kStrProfileStep));
    // The installed step pages name their own tabs.
    if (dynamic_cast<BasicStepHost*>(stepHost_.get()) == nullptr) return;
    for (int step = 0; step < kStepCount; ++step) stepTab_->setTabText(step, langText(app_, qvp3ui::kStrStepTabBase + step));
}

void MainWindow::setFileListModel(QAbstractItemModel* model) {
    fileList_->setModel(model ? model : standInModel_);
    connectFileList();
}

void MainWindow::connectFileList() {
    connect(fileList_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { MainCommands(*this).onFileSelected(current.isValid() ? current.row() : -1); });
}

void MainWindow::updateCommands() {
    const bool listFocused = fileList_->hasFocus();
    for (auto& [id, act] : actions_) act->setEnabled(commandEnabled(app_, id, listFocused));
    for (int id : {cmd::kPlay, cmd::kStop, cmd::kToStart, cmd::kBack, cmd::kForward})
        qvp3ui::findControl<QPushButton>(*this, id)->setEnabled(commandEnabled(app_, id, listFocused));
    addPathCheck_->setEnabled(app_.projectOpen);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* e) {
    // A click on the pause column changes the pause instead of the selection.
    if (fileList_ && watched == fileList_->viewport() && e->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(e);
        const QModelIndex index = fileList_->indexAt(mouse->position().toPoint());
        if (index.isValid() && index.column() == kPauseColumn &&
            (mouse->button() == Qt::LeftButton || mouse->button() == Qt::RightButton)) {
            MainCommands(*this).onPauseClicked(index.row(), mouse->button() == Qt::LeftButton,
                                               mouse->modifiers() & Qt::ControlModifier);
            return true;
        }
    }
    if (profileList_ && watched == profileList_->lineEdit()) {
        if (e->type() == QEvent::FocusIn) MainCommands(*this).onProfileEdit(ProfileEdit::Begin);
        if (e->type() == QEvent::FocusOut) MainCommands(*this).onProfileEdit(ProfileEdit::FocusLeft);
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                MainCommands(*this).onProfileEdit(ProfileEdit::Return);
                return true;
            }
            if (key == Qt::Key_Escape) {
                MainCommands(*this).onProfileEdit(ProfileEdit::Escape);
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

bool MainWindow::event(QEvent* e) {
    if (target_ && target_->dispatch(e)) return true;
    return QMainWindow::event(e);
}

void MainWindow::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    if (splitterPlaced_ || e->size().width() <= 0) return;
    splitterPlaced_ = true;
    const int width = e->size().width();
    splitter_->setSizes({width / 4, width - width / 4});
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (!MainCommands(*this).onClose()) {
        e->ignore();
        return;
    }
    MainCommands(*this).onDestroy();
    e->accept();
}

}  // namespace qvp3
