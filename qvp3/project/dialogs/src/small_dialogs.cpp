#include "qvp3_dialogs/small_dialogs.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QStyle>
#include <QVBoxLayout>
#include <cstring>

#include "qvp3_dialogs/dialog_strings.h"
#include "qvp3_dialogs/dialog_support.h"
#include "qvp3_project/catalogue.h"
#include "qvp3_project/project_entry.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

constexpr int kStrEntriesColumn = 217;
constexpr int kStrAll = 357;
constexpr int kStrNone = 358;
constexpr int kStrCurrent = 359;
constexpr int kStrNotInExportStep = 451;
constexpr int kStrDontAskAgain = 1057;
constexpr int kStrYes = 468;
constexpr int kStrNo = 469;
constexpr int kStrPleaseWait = 112;
constexpr int kStepBrnIndex = 16;
constexpr int kDontAskAgainOffset = 10;
constexpr std::size_t kWaitTextChars = 255;
constexpr int kSplashTextLeft = 10;

}  // namespace

// --- profile entries ---------------------------------------------------------------

ProfileEntriesDialog::ProfileEntriesDialog(Project& project, ProfileContext& profiles, std::optional<QPoint> anchor,
                                           QWidget* parent)
    : QDialog(parent), project_(project), profiles_(profiles), anchor_(anchor),
      exportStep_(project.currentStep == kStepBrnIndex) {
    buildForm();
    fillList();
    dlg::trackActivation(*this);
}

void ProfileEntriesDialog::buildForm() {
    using dlg::makeControl;
    using dlg::text;
    setWindowTitle(text(kStrEntriesColumn));
    auto* layout = new QVBoxLayout(this);
    list_ = makeControl<QListView>(this, 226);
    model_ = new QStandardItemModel(this);
    list_->setModel(model_);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setMinimumSize(320, 200);
    layout->addWidget(list_);
    auto* row = new QHBoxLayout;
    const int ids[] = {227, 228, 229};
    const int strings[] = {kStrAll, kStrNone, kStrCurrent};
    const int which[] = {-1, -2, project_.currentEntry};
    for (int i = 0; i < 3; ++i) {
        auto* button = makeControl<QPushButton>(this, ids[i], text(strings[i]));
        button->setAutoDefault(false);
        button->setEnabled(!exportStep_ && !project_.entries.empty());
        const int only = which[i];
        connect(button, &QPushButton::clicked, this, [this, only] { checkAll(only); });
        row->addWidget(button);
    }
    layout->addLayout(row);
    layout->addWidget(dlg::makeButtonRow(*this, "profile"));
    qvp3ui::findControl(*this, 1)->setEnabled(!exportStep_);
}

void ProfileEntriesDialog::fillList() {
    if (exportStep_) {
        model_->appendRow(new QStandardItem(dlg::text(kStrNotInExportStep)));
        list_->setEnabled(false);
        return;
    }
    const bool anyFlag = std::any_of(profiles_.applyFlags.begin(), profiles_.applyFlags.end(), [](auto f) { return f != 0; });
    for (int i = 0; i < project_.fileNum() && i < kMaxProjectEntries; ++i) {
        const ProjectEntry& entry = project_.entries[static_cast<std::size_t>(i)];
        auto* item = new QStandardItem(QString::fromStdString(entry.Filename.filename().string()));
        item->setCheckable(true);
        item->setData(project_.pipeline().cnvEntryImage(entry), Qt::UserRole + 2);
        const bool checked = anyFlag ? profiles_.applyFlags[static_cast<std::size_t>(i)] != 0 : i == project_.currentEntry;
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
        model_->appendRow(item);
    }
}

void ProfileEntriesDialog::checkAll(int only) {
    for (int row = 0; row < model_->rowCount(); ++row) {
        const bool on = only == -1 || row == only;
        model_->item(row)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
}

void ProfileEntriesDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (anchor_) move(*anchor_ - QPoint(frameGeometry().width(), frameGeometry().height()));
}

void ProfileEntriesDialog::accept() {
    if (exportStep_) return;
    profiles_.applyFlags.fill(0);
    for (int row = 0; row < model_->rowCount() && row < kMaxProjectEntries; ++row) {
        if (model_->item(row)->checkState() == Qt::Checked) profiles_.applyFlags[static_cast<std::size_t>(row)] = 1;
    }
    profiles_.entriesChanged = false;
    QDialog::accept();
}

int prfEntriesDialog(QWidget* parent, Project& project, ProfileContext& profiles, std::optional<QPoint> anchor) {
    ProfileEntriesDialog dialog(project, profiles, anchor, parent);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

// --- overwrite question ---------------------------------------------------------------

OverwriteDialog::OverwriteDialog(const QString& message, QWidget* parent) : QDialog(parent) {
    using dlg::makeControl;
    using dlg::text;
    setWindowTitle(QString::fromStdString(qvp3ui::programTitle()));
    auto* layout = new QVBoxLayout(this);
    auto* label = makeControl<QLabel>(this, 1056, message);
    label->setWordWrap(true);
    layout->addWidget(label);
    layout->addWidget(makeControl<QCheckBox>(this, 1057, text(kStrDontAskAgain)));
    auto* row = new QHBoxLayout;
    row->addStretch();
    const int ids[] = {kIdYes, kIdNo, kIdCancel};
    const int strings[] = {kStrYes, kStrNo, kStrCancel};
    for (int i = 0; i < 3; ++i) {
        auto* button = makeControl<QPushButton>(this, ids[i], text(strings[i]));
        const int id = ids[i];
        connect(button, &QPushButton::clicked, this, [this, id] { finish(id); });
        row->addWidget(button);
    }
    layout->addLayout(row);
}

void OverwriteDialog::finish(int button) {
    const bool dontAsk = qvp3ui::findControl<QCheckBox>(*this, 1057)->isChecked();
    done(button + (dontAsk ? kDontAskAgainOffset : 0));
}

int prjOverwriteDialog(QWidget* parent, const QString& message) {
    OverwriteDialog dialog(message, parent);
    const int result = dialog.exec();
    // Escape and closing the window are Cancel.
    return result == QDialog::Rejected ? kIdCancel : result;
}

// --- playing-time progress ---------------------------------------------------------------

FileTimeProgressWindow::FileTimeProgressWindow(QWidget* parent) : QDialog(parent) {
    auto* layout = new QVBoxLayout(this);
    text_ = dlg::makeControl<QLabel>(this, 0);
    text_->setMinimumWidth(360);
    layout->addWidget(text_);
    progress_ = dlg::makeControl<QProgressBar>(this, 1200);
    layout->addWidget(progress_);
    setModal(false);
    dlg::trackActivation(*this);
}

void FileTimeProgressWindow::open(int files) {
    progress_->setRange(0, std::max(files, 0));
    progress_->setValue(0);
    show();
}

void FileTimeProgressWindow::setText(std::string_view text) {
    text_->setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void FileTimeProgressWindow::setPosition(int file) { progress_->setValue(file); }

void FileTimeProgressWindow::close() { hide(); }

// --- wait windows ---------------------------------------------------------------

WaitWindow::WaitWindow(QWidget* parent)
    : WaitDialog(parent),
      target_(std::make_unique<qvp3ui::QtMessageTarget>(
          this, [this](platform::MessageId msg, platform::WParam, platform::LParam lParam) { return onMessage(msg, lParam); })) {
    text_->show();
    showKeptText();
}

WaitWindow::~WaitWindow() { target_->close(); }

std::string WaitWindow::keptText() const { return kept_; }

bool WaitWindow::event(QEvent* event) {
    if (target_ && target_->dispatch(event)) return true;
    if (event->type() == QEvent::WindowActivate) showKeptText();
    return WaitDialog::event(event);
}

platform::LResult WaitWindow::onMessage(platform::MessageId msg, platform::LParam lParam) {
    if (msg == platform::WM_WAITDLG_TEXT) {
        const auto* text = reinterpret_cast<const char*>(lParam);
        // Never read past the window's own limit, whatever the sender hands over.
        kept_ = text != nullptr ? std::string(text, strnlen(text, kWaitTextChars)) : std::string();
        // A cut may have split a character: drop what is not whole.
        kept_ = QString::fromUtf8(kept_.data(), static_cast<qsizetype>(kept_.size())).remove(QChar::ReplacementCharacter).toStdString();
        showKeptText();
        return 1;
    }
    if (msg == platform::WM_WAITDLG_DONE) {
        kept_.clear();
        return 1;
    }
    return 0;
}

void WaitWindow::showKeptText() {
    text_->setText(kept_.empty() ? dlg::text(kStrPleaseWait) : QString::fromStdString(kept_));
}

// --- splash ---------------------------------------------------------------

SplashWindow::SplashWindow(const std::filesystem::path& programFolder, const std::string* stepText, QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint), stepText_(stepText) {
    picture_.load(QString::fromStdString((programFolder / "qvp3.jpg").string()));
    resize(picture_.isNull() ? QSize(400, 120) : picture_.size());
    QFont bold(QStringLiteral("arial"));
    bold.setPixelSize(14);
    bold.setWeight(QFont::Bold);
    setFont(bold);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->geometry().center() - rect().center());
    }
}

void SplashWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (!picture_.isNull()) painter.drawPixmap(0, 0, picture_);
    if (stepText_ == nullptr || stepText_->empty()) return;
    painter.setPen(QColor(0, 81, 139));
    const QRect line(kSplashTextLeft, 0, width() - kSplashTextLeft, height());
    painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, QString::fromStdString(*stepText_));
}

}  // namespace qvp3
