#include "qvp3_project/catalogue.h"

#include <algorithm>
#include <charconv>
#include <set>
#include <system_error>

#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/text.h"
#include "project_file_internal.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kProjectPattern = "*.c-1";
constexpr std::string_view kEnsembleKey = "CatEnsemble";
constexpr std::string_view kCategoriesKey = "CatInstrument";
constexpr std::string_view kCategoriesSizeKey = "CatInstrumentSize";
constexpr std::size_t kEnsembleChars = 127;
constexpr std::size_t kTitleChars = 127;
constexpr std::size_t kDescriptionChars = 255;
// Longer category lists than this are not believed.
constexpr int kMaxCategoriesSize = 4096;
// Folders deeper than this below the root are not visited.
constexpr int kMaxDepth = 64;

// The header of one project file, or nothing (and a log line) when the file
// cannot be read or is no project file.
std::optional<platform::IniDocument> readHeader(ShellServices& shell, const fs::path& file) {
    platform::IniDocument document;
    const platform::IniStatus status = document.load(file);
    if (status != platform::IniStatus::Ok) {
        shell.appLog("Project catalogue: skipped " + file.string() + ": cannot be read");
        return std::nullopt;
    }
    if (!document.hasSection(prjfile::kHeaderSection)) {
        shell.appLog("Project catalogue: skipped " + file.string() + ": not a project file");
        return std::nullopt;
    }
    return document;
}

std::vector<fs::path> entriesOf(const fs::path& folder, bool folders) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError) == folders) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
        return platform::foldCase(a.filename().string()) < platform::foldCase(b.filename().string());
    });
    return found;
}

// Calls visit for every project file below root, files of a folder before
// its subfolders, never leaving root.
template <class Visit>
void walkProjects(ShellServices& shell, const fs::path& root, Visit visit) {
    std::error_code ec;
    const fs::path canonicalRoot = fs::canonical(root, ec);
    if (ec || !fs::is_directory(canonicalRoot, ec)) return;
    std::set<fs::path> visited;
    auto walk = [&](auto& self, const fs::path& folder, int depth) -> void {
        std::error_code error;
        const fs::path real = fs::canonical(folder, error);
        if (error) return;
        if (!platform::isPathInside(real, canonicalRoot)) {
            shell.appLog("Project catalogue: not followed " + folder.string() + ": leads out of the projects root");
            return;
        }
        if (!visited.insert(real).second) return;  // a link back to a folder already seen
        for (const fs::path& file : platform::listFiles(folder, kProjectPattern)) {
            if (!platform::isPathInside(file, canonicalRoot)) {
                shell.appLog("Project catalogue: not followed " + file.string() + ": leads out of the projects root");
                continue;
            }
            if (auto header = readHeader(shell, file)) visit(file, *header);
        }
        if (depth >= kMaxDepth) return;
        for (const fs::path& sub : entriesOf(folder, true)) self(self, sub, depth + 1);
    };
    walk(walk, root, 0);
}

std::string headerText(const platform::IniDocument& header, std::string_view key, std::size_t chars) {
    return platform::firstCharacters(header.getString(prjfile::kHeaderSection, key, ""), chars);
}

// The categories of a project as far as its size key lets them be read;
// nothing when the size key is missing or 0, or the list is missing.
std::optional<std::vector<int>> categoriesOf(const platform::IniDocument& header) {
    const int size = header.getInt(prjfile::kHeaderSection, kCategoriesSizeKey, 0);
    const auto text = header.getString(prjfile::kHeaderSection, kCategoriesKey);
    if (size <= 0 || !text) return std::nullopt;
    if (size > kMaxCategoriesSize) return std::vector<int>{};
    // The size counts UTF-16 units with the terminating zero.
    const std::u16string units = platform::utf8ToUtf16(*text);
    const std::size_t kept = std::min(units.size(), static_cast<std::size_t>(size - 1));
    return prjCategoryNumbers(platform::utf16ToUtf8(units.substr(0, kept)));
}

std::string categoryName(ShellServices& shell, int category) {
    if (category < 0 || category > kMaxCategory) return {};
    return shell.languageString(kStrCategoryBase + category);
}

}  // namespace

std::vector<int> prjCategoryNumbers(std::string_view text) {
    std::vector<int> numbers;
    for (std::size_t start = 0;;) {
        const std::size_t end = text.find(';', start);
        std::string_view piece = platform::trimBlanks(text.substr(start, end == std::string_view::npos ? text.npos : end - start));
        if (!piece.empty() && piece.front() == '+') piece.remove_prefix(1);
        long long value = 0;
        const auto result = std::from_chars(piece.data(), piece.data() + piece.size(), value);
        if (result.ec != std::errc{}) value = 0;
        numbers.push_back(value < 0 || value > kMaxCategory ? -1 : static_cast<int>(value));
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    return numbers;
}

bool prjCatalogueByEnsemble(ShellServices& shell, EnsembleListView& combo) {
    walkProjects(shell, shell.projectsRoot(), [&](const fs::path&, const platform::IniDocument& header) {
        const std::string ensemble = headerText(header, kEnsembleKey, kEnsembleChars);
        if (!ensemble.empty() && !combo.contains(ensemble)) combo.add(ensemble);
    });
    return true;
}

bool prjCatalogueByEnsemble(ShellServices& shell, CatalogueTreeView& tree, CatalogueTreeView::Item parent) {
    walkProjects(shell, shell.projectsRoot(), [&](const fs::path& file, const platform::IniDocument& header) {
        const std::string ensemble = headerText(header, kEnsembleKey, kEnsembleChars);
        if (ensemble.empty()) return;
        if (parent != 0) {
            tree.insertItem(parent, ensemble, kImageEnsemble, std::nullopt);
            return;
        }
        if (!header.hasKey(prjfile::kHeaderSection, kCategoriesSizeKey)) {
            // One incomplete file does not hide the projects after it.
            shell.appLog("Project catalogue: skipped " + file.string() + ": no CatInstrumentSize");
            return;
        }
        for (const int category : categoriesOf(header).value_or(std::vector<int>{})) {
            const std::string name = categoryName(shell, category);
            const CatalogueTreeView::Item top = name.empty() ? 0 : tree.findTopItem(name);
            if (top != 0) tree.insertItem(top, ensemble, kImageEnsemble, file);
        }
    });
    return true;
}

bool prjCatalogueByInstrument(ShellServices& shell, CatalogueTreeView& tree, CatalogueTreeView::Item parent) {
    walkProjects(shell, shell.projectsRoot(), [&](const fs::path& file, const platform::IniDocument& header) {
        const auto categories = categoriesOf(header);
        if (!categories) return;
        const std::string ensemble = headerText(header, kEnsembleKey, kEnsembleChars);
        const CatalogueTreeView::Item under = parent != 0 ? parent : (ensemble.empty() ? 0 : tree.findTopItem(ensemble));
        if (under == 0) return;
        for (const int category : *categories) {
            const std::string name = categoryName(shell, category);
            if (name.empty()) continue;
            tree.insertItem(under, name, kImageCategory, parent != 0 ? std::nullopt : std::optional<fs::path>(file));
        }
    });
    return true;
}

void prjProjectListFill(ShellServices& shell, ProjectList& list, ProjectListView& view, bool showDescription) {
    const fs::path root = shell.projectsRoot();
    std::error_code ec;
    const fs::path canonicalRoot = fs::canonical(root, ec);
    if (ec) return;
    for (const fs::path& folder : entriesOf(root, true)) {
        if (!platform::isPathInside(folder, canonicalRoot) || fs::equivalent(folder, canonicalRoot, ec)) {
            shell.appLog("Project catalogue: not followed " + folder.string() + ": leads out of the projects root");
            continue;
        }
        // The folder's first project file; a link out of the root is none.
        std::optional<fs::path> file;
        for (const fs::path& candidate : platform::listFiles(folder, kProjectPattern)) {
            if (platform::isPathInside(candidate, canonicalRoot)) {
                file = candidate;
                break;
            }
            shell.appLog("Project catalogue: not followed " + candidate.string() + ": leads out of the projects root");
        }
        if (!file) continue;
        const auto header = readHeader(shell, *file);
        if (!header) continue;
        list.names.push_back(folder.filename().string());
        std::optional<std::string> description;
        if (showDescription) {
            description = headerText(*header, prjfile::kDescriptionKey, kDescriptionChars);
            if (description->empty()) description = shell.languageString(kStrNoDescription);
        }
        view.appendRow(headerText(*header, prjfile::kTitleKey, kTitleChars), kImageProject,
                       static_cast<int>(list.names.size()) - 1, description);
    }
}

void prjProjectListFree(ProjectList& list) {
    list.names.clear();
    list.names.shrink_to_fit();
}

}  // namespace qvp3
