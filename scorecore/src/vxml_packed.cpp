#include "vxml_packed.h"

#include "scorecore/result_codes.h"
#include "scorecore/tvrx_container.h"

#include <new>
#include <utility>

namespace scorecore {

PackedSystems::PackedSystems() : stream_(kTvrxDeflateLevel) {}

bool PackedSystems::putText(std::size_t system, std::vector<std::string>& pieces) {
    for (std::string& piece : pieces) {
        if (!stream_.append(system + 1, piece)) return false;
        piece = std::string();
    }
    return true;
}

bool PackedSystems::putStaff(std::size_t system, int staff, std::vector<std::string> pieces,
                             const std::function<bool(std::string&)>& head) {
    try {
        if (system >= systems_.size()) systems_.resize(system + 1);
        System& entry = systems_[system];
        if (staff != entry.staves) {
            entry.waiting.emplace(staff, std::move(pieces));
            return true;
        }
        if (entry.staves == 0) {
            std::string start;
            if (!head(start) || !stream_.append(system + 1, start)) return false;
        }
        if (!putText(system, pieces)) return false;
        ++entry.staves;
        for (auto next = entry.waiting.find(entry.staves); next != entry.waiting.end();
             next = entry.waiting.find(entry.staves)) {
            if (!putText(system, next->second)) return false;
            entry.waiting.erase(next);
            ++entry.staves;
        }
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool PackedSystems::hasStaves(std::size_t system) const {
    return system < systems_.size() && systems_[system].staves > 0;
}

bool PackedSystems::endSystem(std::size_t system, std::string_view text, bool last) {
    // A staff still waiting has lost one before it: the text would miss it.
    if (system < systems_.size() && !systems_[system].waiting.empty()) return false;
    if (!stream_.append(system + 1, text)) return false;
    return last || stream_.close(system + 1);
}

void PackedSystems::endSystems(std::size_t count, std::string placeholder, std::string start, std::string end) {
    systemCount_ = count;
    placeholder_ = std::move(placeholder);
    start_ = std::move(start);
    end_ = std::move(end);
    systems_ = std::vector<System>();
    ended_ = true;
}

int PackedSystems::write(const std::filesystem::path& target, std::string_view document) {
    if (!ended_) return kErrWrite;
    try {
        if (!deflated_) {
            const std::size_t at = document.rfind(placeholder_);
            if (placeholder_.empty() || at == std::string_view::npos) return kErrWrite;
            DeflatedText deflated;
            const std::size_t lastSegment = systemCount_;  // the last system's
            const bool ok = stream_.append(0, document.substr(0, at)) && stream_.append(0, start_) && stream_.close(0) &&
                            stream_.append(lastSegment, end_) &&
                            stream_.append(lastSegment, document.substr(at + placeholder_.size())) &&
                            stream_.finish(deflated);
            if (!ok) return kErrWrite;
            deflated_ = std::move(deflated);
            written_ = std::string(document);
        } else if (document != written_) {
            return kErrWrite;
        }
    } catch (const std::bad_alloc&) {
        return kErrWrite;
    }
    return writeTvrxContainer(target, *deflated_);
}

}  // namespace scorecore
