#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "platform/text.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "profile_support.h"
#include "qvp3_project/catalogue.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

// A tree as the window keeps it: sorted children, one item per text and parent.
class TreeDouble : public CatalogueTreeView {
public:
    struct Node {
        std::string text;
        int image = 0;
        std::optional<fs::path> path;
        Item parent = 0;
        std::vector<Item> children;
    };

    Item insertItem(Item parent, std::string_view text, int image, const std::optional<fs::path>& path) override {
        std::vector<Item>& siblings = parent == 0 ? top : nodes.at(parent).children;
        for (const Item existing : siblings) {
            if (nodes.at(existing).text == text) return existing;
        }
        const Item item = next++;
        nodes[item] = Node{std::string(text), image, path, parent, {}};
        const auto at = std::find_if(siblings.begin(), siblings.end(), [&](Item other) {
            return platform::foldCase(nodes.at(other).text) > platform::foldCase(text);
        });
        siblings.insert(at, item);
        return item;
    }
    Item findTopItem(std::string_view text) const override {
        for (const Item item : top) {
            if (nodes.at(item).text == text) return item;
        }
        return 0;
    }

    // "text[image]{file}" with children indented, one item a line.
    std::string show(const fs::path& root) const {
        std::ostringstream out;
        auto walk = [&](auto& self, const std::vector<Item>& items, int depth) -> void {
            for (const Item item : items) {
                const Node& n = nodes.at(item);
                out << std::string(static_cast<std::size_t>(depth) * 2, ' ') << n.text << "[" << n.image << "]";
                if (n.path) out << "{" << fs::relative(*n.path, root).string() << "}";
                out << "\n";
                self(self, n.children, depth + 1);
            }
        };
        walk(walk, top, 0);
        return out.str();
    }

    std::map<Item, Node> nodes;
    std::vector<Item> top;
    Item next = 1;
};

class ComboDouble : public EnsembleListView {
public:
    bool contains(std::string_view text) const override {
        return std::find(items.begin(), items.end(), text) != items.end();
    }
    void add(std::string_view text) override { items.emplace_back(text); }
    std::vector<std::string> items;
};

class RowsDouble : public ProjectListView {
public:
    void appendRow(std::string_view title, int image, int index, const std::optional<std::string>& desc) override {
        rows.push_back(std::string(title) + "[" + std::to_string(image) + "]#" + std::to_string(index) +
                       (desc ? " " + *desc : ""));
    }
    std::vector<std::string> rows;
};

// A project file header as the Windows program writes it (Windows-1252, CRLF).
void writeProject(const fs::path& file, const std::string& title, const std::string& ensemble,
                  const std::optional<std::string>& categories, const std::string& description = {},
                  bool withSize = true) {
    std::string text = "[zq1 Project File]\r\nProjectTitle=" + title + "\r\n";
    if (!description.empty()) text += "ProjectDescription=" + description + "\r\n";
    if (!ensemble.empty()) text += "CatEnsemble=" + ensemble + "\r\n";
    if (categories) {
        if (withSize) text += "CatInstrumentSize=" + std::to_string(categories->size() + 1) + "\r\n";
        text += "CatInstrument=" + *categories + "\r\n";
    }
    fs::create_directories(file.parent_path());
    platform::testing::writeBytes(file, platform::utf8ToCp1252(text));
}

// The fixture: projects in folders one and two levels down, a damaged file,
// a foreign file, and links out of the root.
struct Catalogue {
    platform::testing::TempFolder dir;
    fs::path root = dir.path() / "Projects";
    testing::ProfileShell shell;

    Catalogue() {
        shell.projectsRootFolder = root;
        writeProject(root / "Messe" / "Messe.c-1", "Messe in C", "Chor", "3;12", "für Ostern");
        writeProject(root / "Choral" / "Choral.c-1", "Choral", "Chor", "3");
        writeProject(root / "Blech" / "Fanfare.c-1", "Fanfare", "Brass", "5", "Einzug");
        writeProject(root / "Blech" / "Zweite.c-1", "Zweite Fanfare", "Brass", "5");  // second file of a folder
        writeProject(root / "Archiv" / "2019" / "Tief" / "Alt.c-1", "Altes Stück", "Kammer", "12");
        writeProject(root / "Ohne" / "Ohne.c-1", "Ohne Kategorie", "", std::nullopt);
        writeProject(root / "Halb" / "Halb.c-1", "Halb", "Solo", "3", {}, false);  // no size key
        platform::testing::writeBytes(root / "Kaputt" / "Kaputt.c-1", std::string("\xff\xfe[\0z", 5));
        platform::testing::writeBytes(root / "Fremd" / "Fremd.c-1", "[Something else]\r\nCatEnsemble=Fremd\r\n");
        writeProject(dir.path() / "Outside" / "Draussen.c-1", "Draussen", "Outside", "3");
        fs::create_directory_symlink(dir.path() / "Outside", root / "LinkOut");
        fs::create_symlink(dir.path() / "Outside" / "Draussen.c-1", root / "Messe" / "Draussen.c-1");
        fs::create_directory_symlink(root, root / "Archiv" / "Loop");
    }
    std::string path(const char* relative) const { return (root / relative).string(); }
};

TEST(Catalogue, ProjectsAreListedByInstrumentCategoryThenEnsemble) {
    Catalogue cat;
    TreeDouble tree;
    for (const int category : {3, 5, 12}) tree.insertItem(0, "S" + std::to_string(59999 + category), 5, std::nullopt);
    EXPECT_TRUE(prjCatalogueByEnsemble(cat.shell, tree, 0));
    EXPECT_EQ(tree.show(cat.root),
              "S60002[5]\n"
              "  Chor[3]{Choral/Choral.c-1}\n"  // the first one found keeps the item
              "S60004[5]\n"
              "  Brass[3]{Blech/Fanfare.c-1}\n"
              "S60011[5]\n"
              "  Chor[3]{Messe/Messe.c-1}\n"
              "  Kammer[3]{Archiv/2019/Tief/Alt.c-1}\n");
    const auto& log = cat.shell.logLines;
    auto logged = [&](const std::string& part) {
        return std::any_of(log.begin(), log.end(), [&](const std::string& line) { return line.find(part) != line.npos; });
    };
    EXPECT_TRUE(logged("skipped " + cat.path("Kaputt/Kaputt.c-1")));
    EXPECT_TRUE(logged(cat.path("Fremd/Fremd.c-1") + ": not a project file"));
    EXPECT_TRUE(logged(cat.path("Halb/Halb.c-1") + ": no CatInstrumentSize"));
    EXPECT_TRUE(logged(cat.path("LinkOut") + ": leads out"));
    EXPECT_TRUE(logged(cat.path("Messe/Draussen.c-1") + ": leads out"));
}

TEST(Catalogue, ProjectsAreListedByEnsembleThenInstrumentCategory) {
    Catalogue cat;
    TreeDouble tree;
    ComboDouble combo;
    EXPECT_TRUE(prjCatalogueByEnsemble(cat.shell, combo));
    EXPECT_EQ(combo.items, (std::vector<std::string>{"Kammer", "Brass", "Chor", "Solo"}));
    for (const std::string& ensemble : combo.items) tree.insertItem(0, ensemble, kImageEnsemble, std::nullopt);
    EXPECT_TRUE(prjCatalogueByInstrument(cat.shell, tree, 0));
    EXPECT_EQ(tree.show(cat.root),
              "Brass[3]\n"
              "  S60004[5]{Blech/Fanfare.c-1}\n"
              "Chor[3]\n"
              "  S60002[5]{Choral/Choral.c-1}\n"
              "  S60011[5]{Messe/Messe.c-1}\n"
              "Kammer[3]\n"
              "  S60011[5]{Archiv/2019/Tief/Alt.c-1}\n"
              "Solo[3]\n");

    // Under a parent of the dialog's choosing: names only, no files.
    TreeDouble flat;
    const auto parent = flat.insertItem(0, "All", 1, std::nullopt);
    EXPECT_TRUE(prjCatalogueByInstrument(cat.shell, flat, parent));
    EXPECT_TRUE(prjCatalogueByEnsemble(cat.shell, flat, parent));
    EXPECT_EQ(flat.show(cat.root),
              "All[1]\n  Brass[3]\n  Chor[3]\n  Kammer[3]\n  S60002[5]\n  S60004[5]\n  S60011[5]\n  Solo[3]\n");
}

TEST(Catalogue, TheProjectListHasOneRowPerProjectFolder) {
    Catalogue cat;
    ProjectList list;
    RowsDouble rows;
    prjProjectListFill(cat.shell, list, rows, true);
    EXPECT_EQ(rows.rows, (std::vector<std::string>{"Fanfare[7]#0 Einzug", "Choral[7]#1 S157", "Halb[7]#2 S157",
                                                   "Messe in C[7]#3 für Ostern", "Ohne Kategorie[7]#4 S157"}));
    EXPECT_EQ(list.names, (std::vector<std::string>{"Blech", "Choral", "Halb", "Messe", "Ohne"}));
    prjProjectListFree(list);
    EXPECT_TRUE(list.names.empty());

    RowsDouble plain;
    prjProjectListFill(cat.shell, list, plain, false);
    EXPECT_EQ(plain.rows.front(), "Fanfare[7]#0");
}

TEST(Catalogue, AMissingRootListsNothing) {
    testing::ProfileShell shell;
    shell.projectsRootFolder = "/nonexistent/qvp3/projects";
    TreeDouble tree;
    ComboDouble combo;
    ProjectList list;
    RowsDouble rows;
    EXPECT_TRUE(prjCatalogueByEnsemble(shell, combo));
    EXPECT_TRUE(prjCatalogueByInstrument(shell, tree, 0));
    prjProjectListFill(shell, list, rows, true);
    EXPECT_TRUE(combo.items.empty());
    EXPECT_TRUE(tree.top.empty());
    EXPECT_TRUE(rows.rows.empty());
}

TEST(Catalogue, CategoryListsAreReadPieceByPiece) {
    struct Case {
        const char* text;
        std::vector<int> numbers;
    } cases[] = {
        {"3;12", {3, 12}}, {"2;5", {2, 5}}, {"7", {7}}, {"x;4", {0, 4}}, {"4;", {4, 0}},
        {"", {0}},         {" 8 ; 9", {8, 9}}, {"99999999999;1", {-1, 1}}, {"-3", {-1}},
    };
    for (const Case& c : cases) EXPECT_EQ(prjCategoryNumbers(c.text), c.numbers) << c.text;
}

}  // namespace
}  // namespace qvp3
