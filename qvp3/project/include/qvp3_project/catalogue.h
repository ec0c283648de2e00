// The project catalogue: finds the project files below the projects root
// and lists them by ensemble and instrument category (from the header keys
// "CatEnsemble", "CatInstrument" and "CatInstrumentSize"), or as a flat
// list of project folders with title and description. The window shows the
// results through the small views below.
//
// The scans visit the projects root and every folder below it, files before
// subfolders, and never leave the root: a link to a file or folder outside
// it is not followed, nor one to a folder already visited. Files that cannot
// be read, or that are no project files, are skipped and named in the log.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qvp3_project/neighbours.h"

namespace qvp3 {

inline constexpr int kImageEnsemble = 3;
inline constexpr int kImageCategory = 5;
inline constexpr int kImageProject = 7;
// Instrument category n is named by language string 59999 + n.
inline constexpr int kStrCategoryBase = 59999;
inline constexpr int kStrNoDescription = 157;
// Category numbers the catalogue names (0 stands for text that is no number).
inline constexpr int kMaxCategory = 9999;

// A tree of catalogue items.
class CatalogueTreeView {
public:
    using Item = std::int64_t;  // 0: none, and as a parent the top level
    virtual ~CatalogueTreeView() = default;
    // Inserts text under parent in sorted order, with the project file's
    // path as item data when given; when parent already has an item of that
    // text, nothing is inserted and that item is returned.
    virtual Item insertItem(Item parent, std::string_view text, int image,
                            const std::optional<std::filesystem::path>& projectFile) = 0;
    // The top-level item with that text; 0 when there is none.
    virtual Item findTopItem(std::string_view text) const = 0;
};

// The ensemble names of a combo box.
class EnsembleListView {
public:
    virtual ~EnsembleListView() = default;
    virtual bool contains(std::string_view text) const = 0;
    virtual void add(std::string_view text) = 0;
};

// The flat project list: one row per project folder.
class ProjectListView {
public:
    virtual ~ProjectListView() = default;
    // description: only when it is shown.
    virtual void appendRow(std::string_view title, int image, int nameIndex,
                           const std::optional<std::string>& description) = 0;
};

// The folder names behind the rows of the project list (row data = index).
struct ProjectList {
    std::vector<std::string> names;
};

// Every ensemble name into the combo box, once each.
bool prjCatalogueByEnsemble(ShellServices& shell, EnsembleListView& combo);
// With a parent: every ensemble name under it. Without (0): each project's
// ensemble under the top-level item of each of its categories, carrying the
// project file's path.
bool prjCatalogueByEnsemble(ShellServices& shell, CatalogueTreeView& tree, CatalogueTreeView::Item parent);
// With a parent: the name of every category of every project under it.
// Without (0): each project's categories under the top-level item of its
// ensemble, carrying the project file's path.
bool prjCatalogueByInstrument(ShellServices& shell, CatalogueTreeView& tree, CatalogueTreeView::Item parent);

// One row per direct subfolder of the projects root that holds a project
// file (its first one by name): its "ProjectTitle" and, with
// showDescription, its "ProjectDescription" (or language string 157).
void prjProjectListFill(ShellServices& shell, ProjectList& list, ProjectListView& view, bool showDescription);
void prjProjectListFree(ProjectList& list);

// The category numbers of a "CatInstrument" text ("3;12"): each piece
// between ";" read as a decimal number, 0 for one that is none.
std::vector<int> prjCategoryNumbers(std::string_view text);

}  // namespace qvp3
