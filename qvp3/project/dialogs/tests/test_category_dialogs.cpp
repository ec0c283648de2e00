// The two catalogue dialogs against projects written below a projects root.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTreeView>

#include "dialog_fixture.h"
#include "qvp3_dialogs/category_dialogs.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using testing::ProjectOnDisk;
using testing::catalogued;

class CategoriesTest : public testing::DialogTest {
protected:
    ProjectOnDisk disk;
    void SetUp() override {
        DialogTest::SetUp();
        catalogued(disk.root, "Brass one", "Brass", "3", "Fanfares");
        catalogued(disk.root, "Choir one", "Choir", "2;5", "");
    }
    // Selects the category items of these numbers, in this order.
    static void select(CategoriesDialog& dialog, std::initializer_list<int> numbers) {
        auto* list = control<QListView>(dialog, 1016);
        auto* model = list->model();
        for (const int n : numbers) {
            const auto found = model->match(model->index(0, 0), Qt::UserRole + 1, n, 1, Qt::MatchExactly);
            ASSERT_FALSE(found.isEmpty()) << n;
            list->selectionModel()->select(found.first(), QItemSelectionModel::Toggle);
        }
    }
};

TEST_F(CategoriesTest, CategoriesAreStoredInListOrderWithTheEnsemble) {
    CategoriesDialog dialog(disk.project);
    auto* combo = control<QComboBox>(dialog, 1013);
    EXPECT_EQ(combo->count(), 2) << "the ensembles of the catalogue";
    EXPECT_TRUE(control<QRadioButton>(dialog, 1011)->isChecked());
    EXPECT_EQ(control<QListView>(dialog, 1016)->model()->rowCount(), kInstrumentCategoryCount);
    select(dialog, {12, 1, 5});
    EXPECT_EQ(disk.project.CatInstrument, "1;5;12") << "in list order, whatever the order of clicking";
    EXPECT_EQ(control<QLabel>(dialog, 1017)->text(), "S60000; S60004; S60011");
    click(dialog, 1009);
    control<QLineEdit>(dialog, 1012)->setText("string quartet");
    click(dialog, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(disk.project.CatEnsemble, "String quartet");
    EXPECT_EQ(disk.project.catInstrumentSize(), 7);
}

TEST_F(CategoriesTest, RefusalsAndCancelLeaveTheProjectAsItWas) {
    disk.project.CatEnsemble = "Lute consort";  // used by no project of the catalogue
    disk.project.CatInstrument = "3;7";
    {
        CategoriesDialog dialog(disk.project);
        EXPECT_TRUE(control<QRadioButton>(dialog, 1009)->isChecked());
        EXPECT_EQ(control<QLineEdit>(dialog, 1012)->text(), "Lute consort");
        select(dialog, {3, 7});  // off again
        click(dialog, 1);
        click(dialog, 1011);
        control<QComboBox>(dialog, 1013)->setCurrentIndex(-1);
        select(dialog, {40});
        click(dialog, 1);
        EXPECT_EQ(boxIds(), (std::vector<int>{167, 166}));
        EXPECT_EQ(dialog.result(), QDialog::Rejected) << "still open";
        click(dialog, 2);
    }
    EXPECT_EQ(disk.project.CatInstrument, "3;7");
    EXPECT_EQ(disk.project.CatEnsemble, "Lute consort");
}

TEST_F(CategoriesTest, OpenByCategoryFindsProjectsInTreeAndList) {
    OpenCategoryDialog dialog(disk.project.shell());
    auto* tree = control<QTreeView>(dialog, 1022);
    auto* ok = control(dialog, 1);
    EXPECT_FALSE(ok->isEnabled());
    // By ensemble: root, ensembles, then the projects under their categories.
    const QAbstractItemModel* model = tree->model();
    const QModelIndex root = model->index(0, 0);
    EXPECT_EQ(root.data().toString(), "S176");
    ASSERT_EQ(model->rowCount(root), 2);
    const QModelIndex brass = model->index(0, 0, root);
    EXPECT_EQ(brass.data().toString(), "Brass");
    tree->setCurrentIndex(brass);
    EXPECT_FALSE(ok->isEnabled()) << "a category is no project";
    const QModelIndex fanfares = model->index(0, 0, brass);
    EXPECT_EQ(fanfares.data().toString(), "S60002");
    tree->setCurrentIndex(fanfares);
    EXPECT_TRUE(ok->isEnabled());
    EXPECT_EQ(control<QLabel>(dialog, 1025)->text(), "Fanfares");
    click(dialog, 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.chosenProject(), disk.root / "Brass one" / "Brass one.c-1");
}

TEST_F(CategoriesTest, OpenByInstrumentAndFromTheList) {
    OpenCategoryDialog dialog(disk.project.shell());
    click(dialog, 1020);
    auto* tree = control<QTreeView>(dialog, 1022);
    const QAbstractItemModel* model = tree->model();
    const QModelIndex root = model->index(0, 0);
    EXPECT_EQ(root.data().toString(), "S177");
    EXPECT_EQ(model->rowCount(root), 3) << "categories 2, 3 and 5";
    click(dialog, 1021);
    EXPECT_TRUE(tree->isHidden());
    auto* list = control<QTreeView>(dialog, 1023);
    ASSERT_EQ(list->model()->rowCount(), 3);
    EXPECT_FALSE(control(dialog, 1)->isEnabled());
    dialog.accept();  // as a double click would, with nothing chosen yet
    EXPECT_EQ(boxIds(), std::vector<int>{175});
    const auto rows = list->model()->match(list->model()->index(0, 0), Qt::DisplayRole, "Choir one");
    ASSERT_FALSE(rows.isEmpty());
    list->setCurrentIndex(rows.first());
    EXPECT_EQ(control<QLabel>(dialog, 1025)->text(), "S157") << "no description stored";
    click(dialog, 1);
    ASSERT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(dialog.chosenProject(), disk.root / "Choir one" / "Choir one.c-1");
}

}  // namespace
}  // namespace qvp3
