// The two catalogue dialogs: CATEGORIES sets the open project's ensemble
// category and instrument categories; OPENCATEGORY lets the user pick a
// project file by ensemble, by instrument category or from the list of
// projects under the projects root.
#pragma once

#include <QDialog>
#include <filesystem>
#include <optional>
#include <string>

#include "qvp3_project/catalogue.h"
#include "qvp3_project/project.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QListView;
class QRadioButton;
class QStandardItemModel;
class QTreeView;

namespace qvp3 {

inline constexpr int kInstrumentCategoryCount = 192;

class CategoriesDialog : public QDialog {
    Q_OBJECT
public:
    explicit CategoriesDialog(Project& project, QWidget* parent = nullptr);

    void accept() override;
    // Cancel also takes back the instrument categories the list changed.
    void reject() override;

private:
    void buildForm();
    void loadProject();
    void onSelectionChanged();
    void useNewEnsemble(bool useNew);

    Project& project_;
    std::optional<std::string> savedInstruments_;
    bool fillingCategories_ = false;
    QRadioButton* newEnsemble_ = nullptr;
    QRadioButton* existingEnsemble_ = nullptr;
    QLineEdit* ensembleEdit_ = nullptr;
    QComboBox* ensembleCombo_ = nullptr;
    QListView* list_ = nullptr;
    QStandardItemModel* model_ = nullptr;
    QLabel* names_ = nullptr;
};

// Runs the dialog modally: 1 after OK, 0 after Cancel.
int prjCategoriesDialog(QWidget* parent, Project& project);

class OpenCategoryDialog : public QDialog {
    Q_OBJECT
public:
    explicit OpenCategoryDialog(ShellServices& shell, QWidget* parent = nullptr);
    ~OpenCategoryDialog() override;

    void accept() override;
    // The chosen project file after OK.
    const std::filesystem::path& chosenProject() const { return result_; }

private:
    void buildForm();
    void fillTree(int kind);
    void showTree(bool tree);
    void onTreeSelection();
    void onListSelection();
    void showDescription(const std::optional<std::filesystem::path>& projectFile);
    std::optional<std::filesystem::path> listProjectFile() const;
    std::optional<std::filesystem::path> treeProjectFile() const;

    ShellServices& shell_;
    ProjectList projects_;
    std::filesystem::path result_;
    QRadioButton* byEnsemble_ = nullptr;
    QRadioButton* byInstrument_ = nullptr;
    QRadioButton* fromList_ = nullptr;
    QTreeView* tree_ = nullptr;
    QStandardItemModel* treeModel_ = nullptr;
    QTreeView* list_ = nullptr;
    QStandardItemModel* listModel_ = nullptr;
    QLabel* description_ = nullptr;
    QWidget* ok_ = nullptr;
};

// Runs the dialog modally; the chosen project file, nothing after Cancel.
std::optional<std::filesystem::path> prjOpenCategoryDialog(QWidget* parent, ShellServices& shell);

}  // namespace qvp3
