#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTreeView>
#include <QVBoxLayout>

#include "platform/files.h"
#include "qvp3_dialogs/category_dialogs.h"
#include "qvp3_dialogs/dialog_strings.h"
#include "qvp3_dialogs/dialog_support.h"
#include "qvp3_project/profile_context.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

constexpr int kStrCaption = 168;
constexpr int kStrPrompt = 169;
constexpr int kStrByEnsemble = 170;
constexpr int kStrByInstrument = 171;
constexpr int kStrFromList = 172;
constexpr int kStrDescriptionLabel = 173;
constexpr int kStrListColumn = 174;
constexpr int kStrNoProjectChosen = 175;
constexpr int kStrEnsembleRoot = 176;
constexpr int kStrInstrumentRoot = 177;
constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kImageRole = Qt::UserRole + 2;
constexpr int kNameIndexRole = Qt::UserRole + 3;
constexpr std::size_t kDescriptionChars = 255;

QString qtext(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

// The catalogue's tree: its "top level" is the level below the dialog's
// root item, so that categories hang under the root and projects under them.
class CategoryTree : public CatalogueTreeView {
public:
    CategoryTree(QStandardItemModel& model, QStandardItem& root) : model_(model), root_(root) {}

    Item insertItem(Item parent, std::string_view text, int image,
                    const std::optional<fs::path>& projectFile) override {
        QStandardItem* under = parent == 0 ? &root_ : itemOf(parent);
        if (under == nullptr) return 0;
        const QString name = qtext(text);
        int row = 0;
        for (; row < under->rowCount(); ++row) {
            const int order = QString::localeAwareCompare(under->child(row)->text(), name);
            if (order == 0) return idOf(under->child(row));
            if (order > 0) break;
        }
        auto* item = new QStandardItem(name);
        item->setEditable(false);
        item->setData(image, kImageRole);
        if (projectFile) item->setData(QString::fromStdString(projectFile->string()), kPathRole);
        under->insertRow(row, item);
        return idOf(item);
    }
    Item findTopItem(std::string_view text) const override {
        const QString name = qtext(text);
        for (int row = 0; row < root_.rowCount(); ++row) {
            if (root_.child(row)->text().left(64) == name.left(64)) return idOf(root_.child(row));
        }
        return 0;
    }
    Item rootItem() const { return idOf(&root_); }

private:
    static Item idOf(const QStandardItem* item) { return static_cast<Item>(reinterpret_cast<std::intptr_t>(item)); }
    QStandardItem* itemOf(Item id) const {
        auto* item = reinterpret_cast<QStandardItem*>(static_cast<std::intptr_t>(id));
        return item == &root_ || isBelowRoot(item) ? item : nullptr;
    }
    bool isBelowRoot(const QStandardItem* item) const {
        for (const QStandardItem* p = item; p != nullptr; p = p->parent()) {
            if (p == &root_) return true;
        }
        return false;
    }
    QStandardItemModel& model_;
    QStandardItem& root_;
};

class ProjectRows : public ProjectListView {
public:
    explicit ProjectRows(QStandardItemModel& model) : model_(model) {}
    void appendRow(std::string_view title, int image, int nameIndex, const std::optional<std::string>&) override {
        auto* item = new QStandardItem(qtext(title));
        item->setEditable(false);
        item->setData(image, kImageRole);
        item->setData(nameIndex, kNameIndexRole);
        model_.appendRow(item);
    }

private:
    QStandardItemModel& model_;
};

}  // namespace

OpenCategoryDialog::OpenCategoryDialog(ShellServices& shell, QWidget* parent) : QDialog(parent), shell_(shell) {
    buildForm();
    byEnsemble_->setChecked(true);
    fillTree(0);
    ProjectRows rows(*listModel_);
    prjProjectListFill(shell_, projects_, rows, false);
    showTree(true);
    dlg::trackActivation(*this);
}

OpenCategoryDialog::~OpenCategoryDialog() { prjProjectListFree(projects_); }

void OpenCategoryDialog::buildForm() {
    using dlg::makeControl;
    using dlg::text;
    setWindowTitle(text(kStrCaption));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(makeControl<QLabel>(this, 1018, text(kStrPrompt)));
    auto* radios = new QHBoxLayout;
    byEnsemble_ = makeControl<QRadioButton>(this, 1019, text(kStrByEnsemble));
    byInstrument_ = makeControl<QRadioButton>(this, 1020, text(kStrByInstrument));
    fromList_ = makeControl<QRadioButton>(this, 1021, text(kStrFromList));
    for (QRadioButton* radio : {byEnsemble_, byInstrument_, fromList_}) radios->addWidget(radio);
    layout->addLayout(radios);
    tree_ = makeControl<QTreeView>(this, 1022);
    tree_->setHeaderHidden(true);
    treeModel_ = new QStandardItemModel(this);
    tree_->setModel(treeModel_);
    list_ = makeControl<QTreeView>(this, 1023);
    list_->setRootIsDecorated(false);
    listModel_ = new QStandardItemModel(0, 1, this);
    listModel_->setHorizontalHeaderLabels({text(kStrListColumn)});
    list_->setModel(listModel_);
    list_->header()->setStretchLastSection(true);
    for (QTreeView* view : {tree_, list_}) {
        view->setMinimumSize(420, 260);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        layout->addWidget(view);
    }
    layout->addWidget(makeControl<QLabel>(this, 1024, text(kStrDescriptionLabel)));
    description_ = makeControl<QLabel>(this, 1025);
    description_->setWordWrap(true);
    description_->setMinimumHeight(40);
    dlg::setTextColour(*description_, 0, 0, 0, true);
    layout->addWidget(description_);

    layout->addWidget(dlg::makeButtonRow(*this, "projekt_ladenalt"));
    ok_ = qvp3ui::findControl(*this, 1);
    ok_->setEnabled(false);
    connect(byEnsemble_, &QRadioButton::clicked, this, [this] { showTree(true), fillTree(0); });
    connect(byInstrument_, &QRadioButton::clicked, this, [this] { showTree(true), fillTree(1); });
    connect(fromList_, &QRadioButton::clicked, this, [this] { showTree(false); });
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, &OpenCategoryDialog::onTreeSelection);
    connect(list_->selectionModel(), &QItemSelectionModel::currentChanged, this, &OpenCategoryDialog::onListSelection);
    for (QTreeView* view : {tree_, list_}) {
        connect(view, &QTreeView::doubleClicked, this, [this] {
            if (!description_->text().isEmpty()) accept();
        });
    }
}

void OpenCategoryDialog::fillTree(int kind) {
    treeModel_->clear();
    auto* root = new QStandardItem(dlg::text(kind == 0 ? kStrEnsembleRoot : kStrInstrumentRoot));
    root->setEditable(false);
    root->setData(kind == 0 ? kImageEnsemble : kImageCategory, kImageRole);
    treeModel_->appendRow(root);
    CategoryTree tree(*treeModel_, *root);
    if (kind == 0) {
        prjCatalogueByEnsemble(shell_, tree, tree.rootItem());
        prjCatalogueByInstrument(shell_, tree, 0);
    } else {
        prjCatalogueByInstrument(shell_, tree, tree.rootItem());
        prjCatalogueByEnsemble(shell_, tree, 0);
    }
    tree_->expand(root->index());
    ok_->setEnabled(false);
    description_->clear();
}

void OpenCategoryDialog::showTree(bool tree) {
    tree_->setVisible(tree);
    list_->setVisible(!tree);
    ok_->setEnabled(false);
    description_->clear();
    if (!tree) list_->selectionModel()->clearCurrentIndex();
}

std::optional<fs::path> OpenCategoryDialog::treeProjectFile() const {
    const QVariant path = tree_->currentIndex().data(kPathRole);
    if (!path.isValid()) return std::nullopt;
    return fs::path(path.toString().toStdString());
}

std::optional<fs::path> OpenCategoryDialog::listProjectFile() const {
    const QModelIndex index = list_->currentIndex();
    if (!index.isValid()) return std::nullopt;
    const int name = index.data(kNameIndexRole).toInt();
    if (name < 0 || static_cast<std::size_t>(name) >= projects_.names.size()) return std::nullopt;
    const auto files = platform::listFiles(shell_.projectsRoot() / projects_.names[static_cast<std::size_t>(name)], "*.c-1");
    if (files.empty()) return std::nullopt;
    return files.front();
}

void OpenCategoryDialog::showDescription(const std::optional<fs::path>& projectFile) {
    ok_->setEnabled(projectFile.has_value());
    if (!projectFile) {
        description_->clear();
        return;
    }
    ProfileContext file("zq1 Project File", *projectFile);
    std::string text = file.readString("ProjectDescription", "");
    text = QString::fromStdString(text).left(static_cast<int>(kDescriptionChars)).toStdString();
    if (text.empty()) text = shell_.languageString(kStrNoDescription);
    description_->setText(QString::fromStdString(text));
}

void OpenCategoryDialog::onTreeSelection() { showDescription(treeProjectFile()); }

void OpenCategoryDialog::onListSelection() { showDescription(listProjectFile()); }

void OpenCategoryDialog::accept() {
    const auto file = fromList_->isChecked() ? listProjectFile() : treeProjectFile();
    if (!file) {
        result_.clear();
        qvp3ui::appInfoBox(kStrNoProjectChosen);
        return;
    }
    result_ = *file;
    QDialog::accept();
}

std::optional<fs::path> prjOpenCategoryDialog(QWidget* parent, ShellServices& shell) {
    OpenCategoryDialog dialog(shell, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.chosenProject();
}

}  // namespace qvp3
