#include "qvp3_dialogs/project_data_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <cmath>

#include <QEvent>
#include "qvp3_dialogs/dialog_strings.h"
#include "qvp3_dialogs/dialog_support.h"
#include "qvp3_project/catalogue.h"
#include "qvp3_project/project_folder.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

constexpr int kStrCaption = 256;
constexpr int kStrTitleLabel = 248;
constexpr int kStrFolderLabel = 249;
constexpr int kStrKeepFolderHint = 250;
constexpr int kStrDescriptionLabel = 251;
constexpr int kStrCapacityGroup = 252;
constexpr int kStrCd80 = 253;
constexpr int kStrCd90 = 254;
constexpr int kStrCdOther = 255;
constexpr int kStrNormalisationGroup = 66;
constexpr int kStrNormalise1 = 64;
constexpr int kStrNormalise2 = 65;
constexpr int kStrNormalise0 = 63;
constexpr int kStrChooseFolderTitle = 60;
constexpr int kStrNoFolderChosen = 61;
constexpr int kStrFolderNotEmpty = 62;
constexpr int kStrTitleEmpty = 257;
constexpr int kStrFolderEmpty = 258;
constexpr int kStrCapacityRange = 260;
constexpr int kStrCannotCreate = 198;
constexpr int kStrFolderInUse = 76;
constexpr int kStrOwnFolder = 199;
constexpr int kMaxTitleChars = 255;
constexpr int kMaxDescriptionChars = 511;
constexpr int kStoredDescriptionChars = 255;
constexpr std::int64_t kBytesPerMegabyte = 1048576;
constexpr std::int64_t kCdBytesPerSecond = 176400;

// The up-down beside the capacity edit steps within the accepted range;
// anything may be typed, OK checks it.
class CapacitySpinBox : public QSpinBox {
public:
    using QSpinBox::QSpinBox;
    void stepBy(int steps) override {
        setValue(std::clamp(value() + steps, kCdMinMegabytes, kCdMaxMegabytes));
    }
    QAbstractSpinBox::StepEnabled stepEnabled() const override {
        return QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
    }
};

std::string lastComponent(const fs::path& folder) {
    fs::path path = folder;
    if (!path.has_filename() && path.has_parent_path()) path = path.parent_path();
    return path.filename().string();
}

// A folder below the projects root shows as its bare name.
std::string folderText(const fs::path& folder, const fs::path& root) {
    const std::string full = folder.string();
    if (!root.empty() && QString::fromStdString(full).contains(QString::fromStdString(root.string()), Qt::CaseInsensitive)) {
        return lastComponent(folder);
    }
    return full;
}

std::string firstCharacters(const QString& text, int count) { return text.left(count).toStdString(); }

}  // namespace

int appBytesToSeconds(int megabytes) {
    return static_cast<int>(static_cast<std::int64_t>(megabytes) * kBytesPerMegabyte / kCdBytesPerSecond);
}

int prjSecondsToMegabytes(int seconds) {
    return static_cast<int>(std::lround(static_cast<double>(seconds) * kCdBytesPerSecond / kBytesPerMegabyte));
}

std::string prjFolderFromTitle(std::string_view title) {
    const std::string cut = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()))
                                .left(kMaxTitleChars)
                                .toStdString();
    return prjCleanTitle(cut).value_or(std::string());
}

ProjectDataDialog::ProjectDataDialog(ProjectDataContext context, QWidget* parent)
    : QDialog(parent), context_(context) {
    buildForm();
    loadRecord();
    dlg::trackActivation(*this);
}

void ProjectDataDialog::buildForm() {
    using dlg::makeControl;
    using dlg::text;
    setWindowTitle(text(kStrCaption));
    auto* layout = new QVBoxLayout(this);
    auto* fields = new QGridLayout;
    fields->addWidget(makeControl<QLabel>(this, 1154, text(kStrTitleLabel)), 0, 0);
    title_ = makeControl<QLineEdit>(this, 1155);
    title_->setMaxLength(kMaxTitleChars);
    fields->addWidget(title_, 0, 1, 1, 2);
    fields->addWidget(makeControl<QLabel>(this, 1156, text(kStrFolderLabel)), 1, 0);
    folder_ = makeControl<QLineEdit>(this, 1157);
    fields->addWidget(folder_, 1, 1);
    auto* choose = makeControl<QPushButton>(this, 4, QStringLiteral("..."));
    choose->setAutoDefault(false);
    fields->addWidget(choose, 1, 2);
    auto* hint = makeControl<QLabel>(this, 1158, text(kStrKeepFolderHint));
    hint->setWordWrap(true);
    dlg::setTextColour(*hint, 27, 154, 58);
    fields->addWidget(hint, 2, 1, 1, 2);
    fields->addWidget(makeControl<QLabel>(this, 1159, text(kStrDescriptionLabel)), 3, 0);
    description_ = makeControl<QLineEdit>(this, 1160);
    description_->setMaxLength(kMaxDescriptionChars);
    fields->addWidget(description_, 3, 1, 1, 2);
    layout->addLayout(fields);
    layout->addLayout(buildChoices());
    layout->addWidget(dlg::makeButtonRow(*this, "projekt_neu"));
    connect(choose, &QPushButton::clicked, this, &ProjectDataDialog::onChooseFolder);
    connect(title_, &QLineEdit::textChanged, this, &ProjectDataDialog::onTitleChanged);
    connect(cdOther_, &QRadioButton::clicked, this, [this] { megabytes_->setFocus(); });
    megabytes_->installEventFilter(this);
    title_->setFocus();
}

QLayout* ProjectDataDialog::buildChoices() {
    using dlg::makeControl;
    using dlg::text;
    auto* groups = new QHBoxLayout;
    auto* capacity = makeControl<QGroupBox>(this, 1161, text(kStrCapacityGroup));
    auto* capacityLayout = new QGridLayout(capacity);
    cd80_ = makeControl<QRadioButton>(capacity, 1162, text(kStrCd80));
    cd90_ = makeControl<QRadioButton>(capacity, 1163, text(kStrCd90));
    cdOther_ = makeControl<QRadioButton>(capacity, 1164, text(kStrCdOther));
    megabytes_ = makeControl<CapacitySpinBox>(capacity, 1003);
    megabytes_->setRange(0, 99999);
    capacityLayout->addWidget(cd80_, 0, 0, 1, 3);
    capacityLayout->addWidget(cd90_, 1, 0, 1, 3);
    capacityLayout->addWidget(cdOther_, 2, 0);
    capacityLayout->addWidget(megabytes_, 2, 1);
    capacityLayout->addWidget(makeControl<QLabel>(capacity, 1005, QStringLiteral("MB")), 2, 2);
    groups->addWidget(capacity);
    auto* normalisation = makeControl<QGroupBox>(this, 1165, text(kStrNormalisationGroup));
    auto* normLayout = new QVBoxLayout(normalisation);
    norm1_ = makeControl<QRadioButton>(normalisation, 1166, text(kStrNormalise1));
    norm2_ = makeControl<QRadioButton>(normalisation, 1167, text(kStrNormalise2));
    norm0_ = makeControl<QRadioButton>(normalisation, 1168, text(kStrNormalise0));
    for (QRadioButton* radio : {norm1_, norm2_, norm0_}) normLayout->addWidget(radio);
    groups->addWidget(normalisation);
    return groups;
}

bool ProjectDataDialog::eventFilter(QObject* watched, QEvent* event) {
    // Typing a capacity chooses "other".
    if (watched == megabytes_ && event->type() == QEvent::FocusIn && !cdOther_->isChecked()) cdOther_->setChecked(true);
    return QDialog::eventFilter(watched, event);
}

void ProjectDataDialog::loadRecord() {
    const ProjectData& record = context_.record;
    const int normalize = context_.project.normalize;
    (normalize == 1 ? norm1_ : normalize == 2 ? norm2_ : norm0_)->setChecked(true);
    if (record.ProjectDataMode == ProjectData::kModeNew) {
        cd80_->setChecked(true);
        megabytes_->setValue(kCdNewProjectMegabytes);
        folderFollowsTitle_ = true;
        return;
    }
    {
        const QSignalBlocker block(title_);
        title_->setText(QString::fromStdString(record.ProjectTitle));
    }
    description_->setText(QString::fromStdString(record.ProjectDescription));
    const fs::path root = context_.project.shell().projectsRoot();
    const std::string shown = folderText(record.ProjectFolder, root);
    folderFollowsTitle_ = shown != record.ProjectFolder.string();
    folder_->setText(QString::fromStdString(shown));
    (record.CDSpace == kCdSpace80Minutes   ? cd80_
     : record.CDSpace == kCdSpace90Minutes ? cd90_
                                           : cdOther_)
        ->setChecked(true);
    megabytes_->setValue(prjSecondsToMegabytes(record.CDSpace));
    if (record.ProjectDataMode == ProjectData::kModeEdit) {
        folder_->setEnabled(false);
        qvp3ui::findControl(*this, 4)->setEnabled(false);
        qvp3ui::findControl(*this, 1158)->hide();
    }
}

void ProjectDataDialog::onTitleChanged(const QString& title) {
    if (folderFollowsTitle_) folder_->setText(QString::fromStdString(prjFolderFromTitle(title.toStdString())));
}

void ProjectDataDialog::onChooseFolder() {
    const fs::path root = context_.project.shell().projectsRoot();
    const auto chosen = dlg::browseForFolder(this, dlg::text(kStrChooseFolderTitle), root);
    if (!chosen) return;
    if (chosen->empty()) {
        qvp3ui::appWarningBox(kStrNoFolderChosen);
        return;
    }
    std::error_code ec;
    if (fs::is_directory(*chosen, ec) && !fs::is_empty(*chosen, ec) &&
        qvp3ui::appQuestionBox(kStrFolderNotEmpty, {}, kMbYesNo) != kIdYes) {
        return;
    }
    folder_->setText(QString::fromStdString(folderText(*chosen, root)));
}

bool ProjectDataDialog::readCapacity() {
    ProjectData& record = context_.record;
    if (cd80_->isChecked()) {
        record.CDSpace = kCdSpace80Minutes;
    } else if (cd90_->isChecked()) {
        record.CDSpace = kCdSpace90Minutes;
    } else {
        const int megabytes = megabytes_->value();
        if (megabytes < kCdMinMegabytes || megabytes > kCdMaxMegabytes) {
            qvp3ui::appWarningBox(0, dlg::textFormat(kStrCapacityRange, {kCdMinMegabytes, kCdMaxMegabytes}).toStdString());
            megabytes_->setValue(kCdMaxMegabytes);
            megabytes_->setFocus();
            megabytes_->selectAll();
            return false;
        }
        record.CDSpace = appBytesToSeconds(megabytes);
    }
    return true;
}

int ProjectDataDialog::normalisationChoice() const {
    if (norm1_->isChecked()) return 1;
    if (norm2_->isChecked()) return 2;
    return 0;
}

bool ProjectDataDialog::carryOut(const std::string& title, const std::string& folder) {
    const int choice = normalisationChoice();
    const int result = CopyProjectTo(folder, context_.project, context_.record, title, choice);
    switch (result) {
    case kFolderOk:
        break;
    case kFolderCannotCreate:
        qvp3ui::appWarningBox(kStrCannotCreate);
        return false;
    case kFolderNotEmpty:
        qvp3ui::appInfoBox(kStrFolderInUse);
        folder_->setFocus();
        return false;
    case kFolderIsProjectFolder:
        qvp3ui::appInfoBox(kStrOwnFolder);
        return false;
    case kFolderBadName:
        // A title or folder that names no usable place once cleaned.
        qvp3ui::appInfoBox(kStrBadFileName);
        (prjCleanTitle(title) ? folder_ : title_)->setFocus();
        return false;
    default:
        return false;
    }
    if (context_.setWindowTitle) context_.setWindowTitle();
    if (context_.record.ProjectDataMode == ProjectData::kModeEdit) context_.project.normalize = choice;
    if (context_.chosenNormalize != nullptr) *context_.chosenNormalize = choice;
    if (context_.project.currentStep == kStepMdc && context_.mdcFileList != nullptr) {
        prjFillFileList(context_.project, *context_.mdcFileList, true, kFileListMidi);
    }
    return true;
}

void ProjectDataDialog::accept() {
    const std::string title = firstCharacters(title_->text(), kMaxTitleChars);
    if (title.empty()) {
        qvp3ui::appInfoBox(kStrTitleEmpty);
        title_->setFocus();
        return;
    }
    const std::string folder = firstCharacters(folder_->text(), kMaxTitleChars);
    if (folder.empty()) {
        qvp3ui::appInfoBox(kStrFolderEmpty);
        folder_->setFocus();
        return;
    }
    // The copy reads description and capacity from the record; a refusal
    // gives them back, so that Cancel leaves the project as it was.
    const std::string oldDescription = context_.record.ProjectDescription;
    const std::int32_t oldCapacity = context_.record.CDSpace;
    const std::string description = firstCharacters(description_->text(), kStoredDescriptionChars);
    context_.record.ProjectDescription = description.empty() ? qvp3ui::uiString(kStrNoDescription) : description;
    if (readCapacity() && carryOut(title, folder)) {
        QDialog::accept();
        return;
    }
    context_.record.ProjectDescription = oldDescription;
    context_.record.CDSpace = oldCapacity;
}

int prjProjectDataDialog(QWidget* parent, ProjectDataContext context) {
    ProjectDataDialog dialog(context, parent);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

}  // namespace qvp3
