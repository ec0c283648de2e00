#include "qvp3_dialogs/welcome_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include "qvp3_dialogs/dialog_strings.h"
#include "qvp3_dialogs/dialog_support.h"

namespace qvp3 {

namespace {

constexpr int kStrCaption = 145;
constexpr int kStrGreeting = 142;
constexpr int kStrHowToGoOn = 149;
constexpr int kStrLoadProject = 143;
constexpr int kStrNewProject = 144;
constexpr int kStrOpenLast = 1001;
constexpr int kStrOpenLastNote = 1002;
constexpr int kStrAlwaysShow = 147;
constexpr int kStrOk = 146;
constexpr int kButtonSize = 62;
constexpr int kImageSize = 48;

QToolButton* toolbarButton(QWidget* parent, int id, QStyle::StandardPixmap icon) {
    auto* button = dlg::makeControl<QToolButton>(parent, id);
    button->setIcon(parent->style()->standardIcon(icon));
    button->setIconSize(QSize(kImageSize, kImageSize));
    button->setFixedSize(kButtonSize, kButtonSize);
    return button;
}

// The labels beside the toolbar buttons and the check box share a larger font.
QFont labelFont() {
    QFont font = QApplication::font();
    font.setPointSize(font.pointSize() + 2);
    return font;
}

}  // namespace

bool prjWriteHowToStart(WelcomeContext& context, int value) {
    context.howToStart = value;
    platform::SettingsKey key = context.settings.createKey(platform::Hive::User, platform::kProgramSettingsKey);
    return key.writeDword("HowToStart", static_cast<std::uint32_t>(value)) == platform::SettingsStatus::Ok;
}

WelcomeDialog::WelcomeDialog(WelcomeContext context, QWidget* parent) : QDialog(parent), context_(std::move(context)) {
    buildForm();
    dlg::trackActivation(*this);
}

QWidget* WelcomeDialog::buildToolbar() {
    using dlg::makeControl;
    using dlg::text;
    auto* toolbar = makeControl<QWidget>(this, 1000);
    auto* grid = new QGridLayout(toolbar);
    auto* load = toolbarButton(toolbar, 410, QStyle::SP_DialogOpenButton);
    auto* create = toolbarButton(toolbar, 411, QStyle::SP_FileDialogNewFolder);
    auto* loadLabel = makeControl<QLabel>(toolbar, 408, text(kStrLoadProject));
    auto* createLabel = makeControl<QLabel>(toolbar, 409, text(kStrNewProject));
    for (QLabel* label : {loadLabel, createLabel}) label->setFont(labelFont());
    grid->addWidget(load, 0, 0);
    grid->addWidget(loadLabel, 0, 1, Qt::AlignVCenter);
    grid->addWidget(create, 1, 0);
    grid->addWidget(createLabel, 1, 1, Qt::AlignVCenter);
    grid->setColumnStretch(1, 1);
    connect(load, &QToolButton::clicked, this, [this] { onToolbarButton(kCmdOpenProject); });
    connect(create, &QToolButton::clicked, this, [this] { onToolbarButton(kCmdNewProject); });
    return toolbar;
}

void WelcomeDialog::buildForm() {
    using dlg::makeControl;
    using dlg::text;
    setWindowTitle(text(kStrCaption));
    auto* layout = new QVBoxLayout(this);
    auto* greeting = makeControl<QLabel>(this, 405, text(kStrGreeting));
    QFont big = greeting->font();
    big.setPointSize(big.pointSize() + 6);
    big.setBold(true);
    greeting->setFont(big);
    greeting->setWordWrap(true);
    greeting->setMargin(8);
    dlg::setTextColour(*greeting, 66, 115, 159, true);
    layout->addWidget(greeting);
    layout->addWidget(makeControl<QLabel>(this, 406, text(kStrHowToGoOn)));
    layout->addWidget(buildToolbar());
    openLast_ = makeControl<QCheckBox>(this, 1001, text(kStrOpenLast));
    openLast_->setFont(labelFont());
    layout->addWidget(openLast_);
    auto* note = makeControl<QLabel>(this, 1002, text(kStrOpenLastNote));
    note->setWordWrap(true);
    dlg::setTextColour(*note, 27, 154, 58);
    layout->addWidget(note);
    alwaysShow_ = makeControl<QCheckBox>(this, 407, text(kStrAlwaysShow));
    alwaysShow_->setChecked(true);
    layout->addWidget(alwaysShow_);
    layout->addWidget(dlg::makeButtonRow(*this, "einst_allg", text(kStrOk), false));
    // At most one of the two boxes is checked.
    connect(openLast_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) alwaysShow_->setChecked(false);
    });
    connect(alwaysShow_, &QCheckBox::toggled, this, [this](bool on) {
        if (on) openLast_->setChecked(false);
    });
}

int WelcomeDialog::startBehaviour() const {
    if (alwaysShow_->isChecked()) return kStartWelcome;
    return openLast_->isChecked() ? kStartLastProject : kStartEmpty;
}

void WelcomeDialog::onToolbarButton(int command) {
    done(1);
    if (context_.postCommand) context_.postCommand(command);
    prjWriteHowToStart(context_, startBehaviour());
}

void WelcomeDialog::accept() {
    const int value = startBehaviour();
    prjWriteHowToStart(context_, value);
    done(1);
    if (value == kStartLastProject && context_.openLastProject) context_.openLastProject();
}

int prjWelcomeDialog(QWidget* parent, WelcomeContext context) {
    WelcomeDialog dialog(std::move(context), parent);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

}  // namespace qvp3
