#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "qvp3_dialogs/category_dialogs.h"
#include "qvp3_dialogs/dialog_strings.h"
#include "qvp3_dialogs/dialog_support.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

constexpr int kStrCaption = 165;
constexpr int kStrEnsembleGroup = 161;
constexpr int kStrNewEnsemble = 162;
constexpr int kStrExistingEnsemble = 163;
constexpr int kStrInstrumentGroup = 164;
constexpr int kStrExplanation = 1015;
constexpr int kStrNoEnsemble = 166;
constexpr int kStrNoInstrument = 167;
constexpr int kMaxEnsembleChars = 63;
constexpr int kCategoryRole = Qt::UserRole + 1;

// The combo box of existing ensembles, as the catalogue fills it.
class EnsembleCombo : public EnsembleListView {
public:
    explicit EnsembleCombo(QComboBox& combo) : combo_(combo) {}
    bool contains(std::string_view text) const override {
        return combo_.findText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())),
                               Qt::MatchExactly | Qt::MatchCaseSensitive) >= 0;
    }
    void add(std::string_view text) override {
        combo_.addItem(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    }

private:
    QComboBox& combo_;
};

}  // namespace

CategoriesDialog::CategoriesDialog(Project& project, QWidget* parent)
    : QDialog(parent), project_(project), savedInstruments_(project.CatInstrument) {
    buildForm();
    loadProject();
    dlg::trackActivation(*this);
}

void CategoriesDialog::buildForm() {
    using dlg::makeControl;
    using dlg::text;
    setWindowTitle(text(kStrCaption));
    auto* layout = new QVBoxLayout(this);
    auto* ensemble = makeControl<QGroupBox>(this, 1007, text(kStrEnsembleGroup));
    auto* ensembleLayout = new QGridLayout(ensemble);
    newEnsemble_ = makeControl<QRadioButton>(ensemble, 1009, text(kStrNewEnsemble));
    ensembleEdit_ = makeControl<QLineEdit>(ensemble, 1012);
    ensembleEdit_->setMaxLength(kMaxEnsembleChars);
    existingEnsemble_ = makeControl<QRadioButton>(ensemble, 1011, text(kStrExistingEnsemble));
    ensembleCombo_ = makeControl<QComboBox>(ensemble, 1013);
    ensembleLayout->addWidget(newEnsemble_, 0, 0);
    ensembleLayout->addWidget(ensembleEdit_, 0, 1);
    ensembleLayout->addWidget(existingEnsemble_, 1, 0);
    ensembleLayout->addWidget(ensembleCombo_, 1, 1);
    layout->addWidget(ensemble);

    auto* instruments = makeControl<QGroupBox>(this, 1014, text(kStrInstrumentGroup));
    auto* instrumentLayout = new QVBoxLayout(instruments);
    auto* explanation = makeControl<QLabel>(instruments, 1015, text(kStrExplanation));
    explanation->setWordWrap(true);
    dlg::setTextColour(*explanation, 0, 128, 0);
    instrumentLayout->addWidget(explanation);
    list_ = makeControl<QListView>(instruments, 1016);
    list_->setViewMode(QListView::ListMode);
    list_->setFlow(QListView::TopToBottom);
    list_->setWrapping(true);
    list_->setResizeMode(QListView::Adjust);
    list_->setSelectionMode(QAbstractItemView::MultiSelection);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setMinimumSize(520, 220);
    model_ = new QStandardItemModel(this);
    list_->setModel(model_);
    instrumentLayout->addWidget(list_);
    names_ = makeControl<QLabel>(instruments, 1017);
    names_->setWordWrap(true);
    names_->setMinimumHeight(36);
    dlg::setTextColour(*names_, 0, 0, 0, true);
    instrumentLayout->addWidget(names_);
    layout->addWidget(instruments);

    layout->addWidget(dlg::makeButtonRow(*this, "projekt_kategorien"));
    connect(newEnsemble_, &QRadioButton::clicked, this, [this] { useNewEnsemble(true); });
    connect(existingEnsemble_, &QRadioButton::clicked, this, [this] { useNewEnsemble(false); });
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CategoriesDialog::onSelectionChanged);
}

void CategoriesDialog::useNewEnsemble(bool useNew) {
    ensembleEdit_->setEnabled(useNew);
    ensembleCombo_->setEnabled(!useNew);
    (useNew ? static_cast<QWidget*>(ensembleEdit_) : ensembleCombo_)->setFocus();
}

void CategoriesDialog::loadProject() {
    existingEnsemble_->setChecked(true);
    ensembleEdit_->setEnabled(false);
    EnsembleCombo combo(*ensembleCombo_);
    prjCatalogueByEnsemble(project_.shell(), combo);
    if (!project_.CatEnsemble.empty()) {
        const int found = ensembleCombo_->findText(QString::fromStdString(project_.CatEnsemble),
                                                   Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (found >= 0) {
            ensembleCombo_->setCurrentIndex(found);
        } else {
            newEnsemble_->setChecked(true);
            ensembleEdit_->setEnabled(true);
            ensembleCombo_->setEnabled(false);
            ensembleEdit_->setText(QString::fromStdString(project_.CatEnsemble));
        }
    }
    for (int n = 1; n <= kInstrumentCategoryCount; ++n) {
        auto* item = new QStandardItem(dlg::text(kStrCategoryBase + n));
        item->setData(n, kCategoryRole);
        item->setData(kImageCategory, Qt::UserRole + 2);
        model_->appendRow(item);
    }
    model_->sort(0);
    QStringList names;
    if (project_.CatInstrument && !project_.CatInstrument->empty()) {
        fillingCategories_ = true;
        bool first = true;
        for (const int number : prjCategoryNumbers(*project_.CatInstrument)) {
            const QModelIndexList found = model_->match(model_->index(0, 0), kCategoryRole, number, 1, Qt::MatchExactly);
            if (found.isEmpty()) continue;
            list_->selectionModel()->select(found.first(), QItemSelectionModel::Select);
            names << found.first().data().toString();
            if (first) list_->scrollTo(found.first());
            first = false;
        }
        fillingCategories_ = false;
    }
    names_->setText(names.join(QStringLiteral("; ")));
}

void CategoriesDialog::onSelectionChanged() {
    if (fillingCategories_) return;
    // Rebuilt in list order, whatever the order of clicking.
    std::string numbers;
    QStringList names;
    for (int row = 0; row < model_->rowCount(); ++row) {
        const QModelIndex index = model_->index(row, 0);
        if (!list_->selectionModel()->isSelected(index)) continue;
        if (!numbers.empty()) numbers += ';';
        numbers += std::to_string(index.data(kCategoryRole).toInt());
        names << index.data().toString();
    }
    if (numbers.empty()) {
        project_.CatInstrument.reset();
    } else {
        project_.CatInstrument = numbers;
    }
    names_->setText(names.join(QStringLiteral("; ")));
}

void CategoriesDialog::accept() {
    if (project_.catInstrumentSize() == 0) {
        qvp3ui::appInfoBox(kStrNoInstrument);
        return;
    }
    QString ensemble;
    if (newEnsemble_->isChecked()) {
        ensemble = ensembleEdit_->text().left(kMaxEnsembleChars);
        if (!ensemble.isEmpty()) ensemble[0] = ensemble[0].toUpper();
    } else if (ensembleCombo_->currentIndex() >= 0) {
        ensemble = ensembleCombo_->currentText();
    }
    if (ensemble.isEmpty()) {
        qvp3ui::appInfoBox(kStrNoEnsemble);
        return;
    }
    project_.CatEnsemble = ensemble.toStdString();
    QDialog::accept();
}

void CategoriesDialog::reject() {
    project_.CatInstrument = savedInstruments_;
    QDialog::reject();
}

int prjCategoriesDialog(QWidget* parent, Project& project) {
    CategoriesDialog dialog(project, parent);
    return dialog.exec() == QDialog::Accepted ? 1 : 0;
}

}  // namespace qvp3
