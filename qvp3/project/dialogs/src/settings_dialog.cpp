#include "qvp3_dialogs/settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include "qvp3_dialogs/dialog_strings.h"
#include "qvp3_dialogs/dialog_support.h"
#include "qvp3_dialogs/output_page.h"
#include "qvp3_dialogs/plugin_page.h"
#include "qvp3_dialogs/welcome_dialog.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

constexpr int kStrCaption = 264;
constexpr int kStrClosedProjectNote = 1169;
constexpr int kStrGeneralTab = 80;
constexpr int kStrPlugInTab = 81;
constexpr int kStrOutputTab = 82;
constexpr int kStrCopySources = 262;
constexpr int kStrOverwriteSources = 263;
constexpr int kStrHowToStart = 1051;
constexpr int kStrStartWelcome = 1053;
constexpr int kStrStartLast = 1054;
constexpr int kStrStartEmpty = 1055;
constexpr int kStrLoadQvo = 1048;
constexpr int kStrMidiEditorGroup = 1049;
constexpr int kStrMidiEditorLabel = 1050;
constexpr int kStrMidiEditorNote = 226;
constexpr int kStrChooseProgram = 232;
constexpr int kStrNoEditor = 464;
constexpr int kStrProgramFilter = 227;
constexpr int kStrProgramTitle = 228;
constexpr int kStrNoProgram = 229;
constexpr int kStrProgramMissing = 230;
constexpr int kStrRondaloMissing = 233;
constexpr int kStrReloading = 140;
constexpr std::array<const char*, 3> kHelpTopics{"einst_allg", "einst_allg_sp", "einst_allg_wo"};

}  // namespace

SettingsDialog::SettingsDialog(SettingsContext context, QWidget* parent)
    : QDialog(parent), context_(std::move(context)), editor_(context_.settings) {
    using dlg::makeControl;
    using dlg::text;
    setWindowTitle(text(kStrCaption));
    auto* layout = new QVBoxLayout(this);
    tabs_ = makeControl<QTabWidget>(this, 1020);
    tabs_->addTab(buildGeneralPage(), text(kStrGeneralTab));
    plugInPage_ = new PlugInPage(context_, tabs_);
    tabs_->addTab(plugInPage_, text(kStrPlugInTab));
    outputPage_ = new OutputPage(context_, tabs_);
    tabs_->addTab(outputPage_, text(kStrOutputTab));
    layout->addWidget(tabs_);

    auto* row = new QHBoxLayout;
    auto* note = makeControl<QLabel>(this, 1169, text(kStrClosedProjectNote));
    note->setWordWrap(true);
    dlg::setTextColour(*note, 27, 154, 58);
    row->addWidget(note, 1);
    auto* ok = makeControl<QPushButton>(this, 1, QStringLiteral("OK"));
    ok->setDefault(true);
    auto* cancel = makeControl<QPushButton>(this, 2, text(kStrCancel));
    auto* help = makeControl<QPushButton>(this, 9, text(kStrHelp));
    for (QPushButton* button : {ok, cancel, help}) row->addWidget(button);
    layout->addLayout(row);
    connect(ok, &QPushButton::clicked, this, &SettingsDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &SettingsDialog::reject);
    connect(help, &QPushButton::clicked, this, &SettingsDialog::showHelp);
    // While a scan runs the dialog cannot be closed.
    connect(plugInPage_, &PlugInPage::scanStateChanged, this, [ok, cancel](bool running) {
        ok->setEnabled(!running);
        cancel->setEnabled(!running);
    });
    dlg::trackActivation(*this);
}

// The scan ends before the context it reads goes.
SettingsDialog::~SettingsDialog() { plugInPage_->stopScan(); }

QWidget* SettingsDialog::buildGeneralPage() {
    using dlg::makeControl;
    using dlg::text;
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    const GeneralSettings& settings = context_.settings;
    copy_ = makeControl<QCheckBox>(page, 1006, text(kStrCopySources));
    overwrite_ = makeControl<QCheckBox>(page, 1008, text(kStrOverwriteSources));
    copy_->setChecked(settings.copySourceFiles);
    overwrite_->setChecked(settings.overwriteSourceFiles);
    overwrite_->setEnabled(settings.copySourceFiles);
    connect(copy_, &QCheckBox::toggled, overwrite_, &QCheckBox::setEnabled);
    layout->addWidget(copy_);
    layout->addWidget(overwrite_);
    layout->addWidget(makeControl<QLabel>(page, 1051, text(kStrHowToStart)));
    startWelcome_ = makeControl<QRadioButton>(page, 1053, text(kStrStartWelcome));
    startLast_ = makeControl<QRadioButton>(page, 1054, text(kStrStartLast));
    startEmpty_ = makeControl<QRadioButton>(page, 1055, text(kStrStartEmpty));
    for (QRadioButton* radio : {startWelcome_, startLast_, startEmpty_}) layout->addWidget(radio);
    (settings.howToStart == kStartWelcome       ? startWelcome_
     : settings.howToStart == kStartLastProject ? startLast_
                                                : startEmpty_)
        ->setChecked(true);
    loadQvo_ = makeControl<QCheckBox>(page, 1048, text(kStrLoadQvo));
    loadQvo_->setChecked(settings.loadQvoInstruments);
    layout->addWidget(loadQvo_);
    auto* editor = makeControl<QGroupBox>(page, 1049, text(kStrMidiEditorGroup));
    auto* editorLayout = new QGridLayout(editor);
    editorLayout->addWidget(makeControl<QLabel>(editor, 1050, text(kStrMidiEditorLabel)), 0, 0);
    midiEditor_ = makeControl<QComboBox>(editor, 1022);
    midiEditor_->setMinimumWidth(280);
    editorLayout->addWidget(midiEditor_, 0, 1);
    auto* note = makeControl<QLabel>(editor, 1052, text(kStrMidiEditorNote));
    note->setWordWrap(true);
    dlg::setTextColour(*note, 0, 128, 0);
    editorLayout->addWidget(note, 1, 0, 1, 2);
    layout->addWidget(editor);
    layout->addStretch();
    fillMidiEditorCombo();
    connect(midiEditor_, &QComboBox::activated, this, &SettingsDialog::onMidiEditorChosen);
    return page;
}

void SettingsDialog::fillMidiEditorCombo() {
    const QSignalBlocker block(midiEditor_);
    midiEditor_->clear();
    midiEditor_->addItem(QStringLiteral("Rondalo 3"));
    midiEditor_->addItem(QStringLiteral("Rondalo 4"));
    const bool program = editor_.midiEditorKind == kMidiEditorProgram && !editor_.midiEditorPath.empty();
    if (program) midiEditor_->addItem(QString::fromStdString(editor_.midiEditorPath));
    midiEditor_->addItem(dlg::text(kStrChooseProgram));
    midiEditor_->addItem(dlg::text(kStrNoEditor));
    const int last = midiEditor_->count() - 1;
    midiEditor_->setCurrentIndex(editor_.midiEditorKind == kMidiEditorRondalo3   ? 0
                                 : editor_.midiEditorKind == kMidiEditorRondalo4 ? 1
                                 : program                                       ? 2
                                                                                 : last);
}

void SettingsDialog::onMidiEditorChosen(int index) {
    if (index != midiEditor_->count() - 2) return;
    const auto chosen = dlg::chooseFile(this, dlg::text(kStrProgramFilter), dlg::text(kStrProgramTitle),
                                        fs::current_path(), QStringLiteral("*"));
    if (chosen) {
        editor_.midiEditorKind = kMidiEditorProgram;
        editor_.midiEditorPath = chosen->string();
    }
    fillMidiEditorCombo();
}

bool SettingsDialog::readGeneralPage(GeneralSettings& settings) {
    settings.copySourceFiles = copy_->isChecked();
    settings.overwriteSourceFiles = copy_->isChecked() && overwrite_->isChecked();
    settings.howToStart = startLast_->isChecked() ? kStartLastProject : startWelcome_->isChecked() ? kStartWelcome : kStartEmpty;
    settings.loadQvoInstruments = loadQvo_->isChecked();
    settings.midiEditorPath = editor_.midiEditorPath;
    settings.midiEditorKind = editor_.midiEditorKind;
    settings.midiEditorWindowClass = editor_.midiEditorWindowClass;
    const int index = midiEditor_->currentIndex();
    const int count = midiEditor_->count();
    if (index == 0 || index == 1) {
        settings.midiEditorKind = index == 0 ? kMidiEditorRondalo3 : kMidiEditorRondalo4;
    } else if (index == count - 1) {
        settings.midiEditorKind = kMidiEditorNone;
        settings.midiEditorPath.clear();
        settings.midiEditorWindowClass.clear();
    } else if (index != count - 2) {
        const std::string path = midiEditor_->itemText(index).toStdString();
        std::error_code ec;
        const int refusal = path.empty() ? kStrNoProgram : !fs::exists(path, ec) ? kStrProgramMissing : 0;
        if (refusal != 0) {
            qvp3ui::appInfoBox(refusal);
            midiEditor_->setFocus();
            return false;
        }
        settings.midiEditorKind = kMidiEditorProgram;
        settings.midiEditorPath = path;
        settings.midiEditorWindowClass.clear();
    }
    const bool older = settings.midiEditorKind == kMidiEditorRondalo3 || settings.midiEditorKind == kMidiEditorRondalo4;
    if (older && !(context_.findRondaloInstall && context_.findRondaloInstall(settings))) {
        // Not installed: the whole MIDI-editor block is empty.
        settings.midiEditorPath.clear();
        settings.midiEditorKind = kMidiEditorNone;
        settings.midiEditorWindowClass.clear();
        qvp3ui::appInfoBox(kStrRondaloMissing);
        midiEditor_->setFocus();
        return false;
    }
    return true;
}

void SettingsDialog::applyCatalogue() {
    CPlugInCatalog& catalog = *context_.outputs.catalog;
    auto* ok = qvp3ui::findControl<QPushButton>(*this, 1);
    const QString okText = ok->text();
    if (plugInPage_->changed()) ok->setText(dlg::text(kStrReloading));
    catalog.OpenAppRegKey();
    plugInPage_->applyInstruments(catalog);
    outputPage_->apply();
    plugInPage_->applyValues(catalog);
    catalog.CloseRegKey();
    ok->setText(okText);
}

void SettingsDialog::accept() {
    if (plugInPage_->scanning()) return;
    // Worked out on a copy: a refused choice leaves the program's fields as they were.
    GeneralSettings next = context_.settings;
    if (!readGeneralPage(next)) {
        editor_.midiEditorPath = next.midiEditorPath;
        editor_.midiEditorKind = next.midiEditorKind;
        editor_.midiEditorWindowClass = next.midiEditorWindowClass;
        return;
    }
    const bool qvoSwitchedOn = !context_.settings.loadQvoInstruments && next.loadQvoInstruments;
    context_.settings = next;
    WelcomeContext start{context_.settings.howToStart, context_.store, {}, {}};
    prjWriteHowToStart(start, next.howToStart);
    applyCatalogue();
    done(qvoSwitchedOn ? kSettingsLoadQvo : 1);
}

void SettingsDialog::reject() {
    // Closing is refused while a scan runs, as the disabled buttons say.
    if (plugInPage_->scanning()) return;
    QDialog::reject();
}

void SettingsDialog::showHelp() { dlg::showHelp(kHelpTopics[static_cast<std::size_t>(std::max(tabs_->currentIndex(), 0))]); }

int prjSettingsDialog(QWidget* parent, SettingsContext context) {
    SettingsDialog dialog(std::move(context), parent);
    const int result = dialog.exec();
    return result == QDialog::Rejected ? 0 : result;
}

}  // namespace qvp3
