// Name matching, stored path text and path containment (see files.h).
#include "platform/files.h"
#include "platform/text.h"

#include <algorithm>
#include <system_error>

namespace platform {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

// Folded code points of a name; bytes that are not UTF-8 get values above
// U+10FFFF of their own, so that two different broken names never compare equal.
std::u32string foldedCodePoints(std::string_view text) {
    const std::string folded = foldCase(text);
    std::u32string out;
    out.reserve(folded.size());
    std::size_t pos = 0;
    while (pos < folded.size()) {
        const std::size_t start = pos;
        const std::optional<char32_t> cp = decodeWellFormedUtf8(folded, pos);
        out.push_back(cp ? *cp : 0x110000 + static_cast<unsigned char>(folded[start]));
    }
    return out;
}

// Linear greedy matching: on a mismatch only the last "*" is widened by one,
// so the cost stays at most pattern length x name length, never exponential.
bool matchFolded(std::u32string_view pattern, std::u32string_view name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::u32string_view::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == U'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u32string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*') ++p;
    return p == pattern.size();
}

// Offset of the file-name part: after the last separator, or after a leading
// drive "C:" when there is none.
std::size_t fileNameStart(std::string_view text) {
    const auto last = text.find_last_of("\\/");
    if (last != std::string_view::npos) return last + 1;
    if (text.size() >= 2 && text[1] == ':' &&
        ((text[0] >= 'A' && text[0] <= 'Z') || (text[0] >= 'a' && text[0] <= 'z'))) {
        return 2;
    }
    return 0;
}

// Offset of the extension's dot, or text.size() when there is none.
std::size_t extensionStart(std::string_view text) {
    const std::size_t nameStart = fileNameStart(text);
    std::size_t dot = text.size();
    for (std::size_t i = nameStart; i < text.size(); ++i) {
        if (text[i] == '.') {
            dot = i;
        } else if (text[i] == ' ') {
            dot = text.size();
        }
    }
    return dot;
}

// A canonical absolute path with no empty trailing component.
std::optional<std::filesystem::path> canonicalForm(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::path result = std::filesystem::weakly_canonical(path, ec);
    if (ec) {
        result = std::filesystem::absolute(path, ec);
        if (ec) return std::nullopt;
        result = result.lexically_normal();
    }
    return result;
}

}  // namespace

bool wildcardMatch(std::string_view pattern, std::string_view name) {
    const std::u32string p = foldedCodePoints(pattern);
    const std::u32string n = foldedCodePoints(name);
    if (matchFolded(p, n)) return true;
    // "x.*" stands for "x" with any extension, none included.
    constexpr std::u32string_view kAnyExtension = U".*";
    return p.size() >= 2 && std::u32string_view(p).substr(p.size() - 2) == kAnyExtension &&
           matchFolded(std::u32string_view(p).substr(0, p.size() - 2), n);
}

std::vector<std::filesystem::path> listFiles(const std::filesystem::path& folder,
                                             std::string_view pattern) {
    struct Found {
        std::string key;
        std::filesystem::path path;
    };
    std::vector<Found> found;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    for (const std::filesystem::directory_iterator end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        const std::string name = it->path().filename().string();
        if (wildcardMatch(pattern, name)) found.push_back({foldCase(name), it->path()});
    }
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return a.key != b.key ? a.key < b.key : a.path < b.path;
    });
    std::vector<std::filesystem::path> result;
    result.reserve(found.size());
    for (auto& f : found) result.push_back(std::move(f.path));
    return result;
}

bool fileNamesEqual(std::string_view a, std::string_view b) { return equalsNoCase(a, b); }

bool fileNameContains(std::string_view name, std::string_view part) {
    return foldCase(name).find(foldCase(part)) != std::string::npos;
}

std::vector<std::string> splitStoredPath(std::string_view text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = start;
        while (end < text.size() && !isSeparator(text[end])) ++end;
        if (end > start) parts.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::string_view storedFileName(std::string_view text) { return text.substr(fileNameStart(text)); }

std::string_view storedExtension(std::string_view text) { return text.substr(extensionStart(text)); }

std::string_view removeStoredExtension(std::string_view text) {
    return text.substr(0, extensionStart(text));
}

std::string replaceStoredExtension(std::string_view text, std::string_view ext) {
    std::string out(removeStoredExtension(text));
    out += ext;
    return out;
}

std::filesystem::path fromStoredPath(std::string_view text) {
    std::string native(text);
    std::replace(native.begin(), native.end(), '\\', '/');
    return std::filesystem::path(native);
}

std::string toStoredPath(const std::filesystem::path& path) { return path.generic_string(); }

bool isPathInside(const std::filesystem::path& child, const std::filesystem::path& folder) {
    const auto c = canonicalForm(child);
    const auto f = canonicalForm(folder);
    if (!c || !f) return false;
    auto ci = c->begin();
    for (const auto& part : *f) {
        if (part.empty()) continue;  // the empty name after a trailing "/"
        while (ci != c->end() && ci->empty()) ++ci;
        if (ci == c->end() || *ci != part) return false;
        ++ci;
    }
    return true;
}

bool isSameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code ec;
    // Device and inode: also true for a hard link under another name.
    if (std::filesystem::equivalent(a, b, ec) && !ec) return true;
    const auto ca = canonicalForm(a);
    const auto cb = canonicalForm(b);
    return ca && cb && *ca == *cb;
}

}  // namespace platform
