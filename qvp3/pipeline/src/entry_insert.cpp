// Putting an opened entry into its project's list of files.
#include <new>
#include <stdexcept>
#include <vector>

#include "qvp3_pipeline/entry_sources.h"

namespace qvp3 {

bool cnvInsertEntry(Project& project, ProjectEntry&& entry, int index) {
    std::vector<ProjectEntry>& entries = project.entries;
    // Room first: the insertion itself then moves records only, which cannot fail.
    try {
        entries.reserve(entries.size() + 1);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    const bool before = index >= 0 && static_cast<std::size_t>(index) < entries.size();
    const auto at = before ? entries.begin() + index : entries.end();
    entries.insert(at, std::move(entry))->project = &project;
    return true;
}

}  // namespace qvp3
