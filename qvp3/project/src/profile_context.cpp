#include "qvp3_project/profile_context.h"

namespace qvp3 {

ProfileContext::ProfileContext(std::string_view section, std::filesystem::path path)
    : iniSection(section), iniPath(std::move(path)) {}

ProfileContext::~ProfileContext() {
    flush();
    if (barWindow) barWindow->destroy();
    if (profileList) {
        // A list that has gone took the other controls of the bar with it.
        if (!profileList->isWindow()) return;
        clearList();
        profileList->destroy();
    }
    if (barButton) barButton->destroy();
    if (profileToolbar) profileToolbar->destroy();
}

void ProfileContext::clearList() {
    if (!profileList || profileList->count() == 0) return;
    profileList->clear();
    profileList->setEditText("");
}

bool ProfileContext::setTarget(std::string_view section, const std::filesystem::path& path) {
    bool ok = true;
    if (path != iniPath) ok = flush();
    iniSection = std::string(section);
    iniPath = path;
    return ok;
}

platform::IniDocument& ProfileContext::document() {
    if (!document_ || documentPath_ != iniPath) {
        flush();  // iniPath may have been set directly: write the previous file's changes, never drop them
        document_.emplace();
        documentPath_ = iniPath;
        loadStatus_ = document_->load(iniPath);
    }
    return *document_;
}

bool ProfileContext::reload() {
    const bool ok = flush();
    document_.reset();
    return ok;
}

void ProfileContext::startNewDocument() {
    document_.emplace();
    documentPath_ = iniPath;
    loadStatus_ = platform::IniStatus::NotFound;
}

platform::IniStatus ProfileContext::loadStatus() {
    document();
    return loadStatus_;
}

bool ProfileContext::flush(std::string* error) {
    if (!document_ || !document_->dirty()) return true;
    const bool ok = document_->save(documentPath_, error) == platform::IniStatus::Ok;
    if (!ok) document_.reset();  // do not carry unsaved changes over to a later write
    return ok;
}

int ProfileContext::readInt(std::string_view key, int def) { return document().getInt(iniSection, key, def); }

std::string ProfileContext::readString(std::string_view key, std::string_view def) {
    return document().getString(iniSection, key, def);
}

void prfWriteIniValue(ProfileContext& context, std::string_view section, const std::filesystem::path& path,
                      std::string_view key, int intValue, const char* text) {
    const std::string value = text ? std::string(text) : std::to_string(intValue);
    const std::string_view targetSection = section.empty() ? std::string_view(context.iniSection) : section;
    if (path.empty() || path == context.iniPath) {
        context.document().setString(targetSection, key, value);
    } else {
        platform::iniWriteString(path, targetSection, key, value);
    }
}

namespace {

std::string chunkKey(std::string_view name, std::size_t total, std::size_t index) {
    if (total <= kIniBlobChunkSize) return std::string(name);
    char number[16];
    std::snprintf(number, sizeof number, "%04zu", index + 1);
    return std::string(name) + number;
}

std::size_t chunkCountFor(std::size_t total) {
    return total <= kIniBlobChunkSize ? 1 : (total + kIniBlobChunkSize - 1) / kIniBlobChunkSize;
}

}  // namespace

void prfWriteIniBlob(ProfileContext& context, std::span<const std::uint8_t> data, std::string_view name) {
    platform::IniDocument& doc = context.document();
    const std::string& section = context.iniSection;
    std::size_t chunks = 0;
    for (std::size_t offset = 0; offset < data.size(); offset += kIniBlobChunkSize, ++chunks) {
        const std::size_t length = std::min(kIniBlobChunkSize, data.size() - offset);
        doc.setStruct(section, chunkKey(name, data.size(), chunks), data.subspan(offset, length));
    }
    doc.setInt(section, std::string(name) + "-Size", static_cast<int>(chunks));
    doc.setInt(section, std::string(name) + "-ByteSize", static_cast<int>(data.size()));
}

std::optional<std::vector<std::uint8_t>> prfReadIniBlob(ProfileContext& context, std::string_view name) {
    const platform::IniDocument& doc = context.document();
    const std::string& section = context.iniSection;
    const int chunks = doc.getInt(section, std::string(name) + "-Size", 0);
    const int total = doc.getInt(section, std::string(name) + "-ByteSize", 0);
    if (chunks <= 0 || total <= 0) return std::nullopt;
    const auto size = static_cast<std::size_t>(total);
    if (static_cast<std::size_t>(chunks) != chunkCountFor(size)) return std::nullopt;

    // Every chunk must be there with its length before the block is allocated.
    for (std::size_t i = 0; i < static_cast<std::size_t>(chunks); ++i) {
        const std::size_t expected = std::min(kIniBlobChunkSize, size - i * kIniBlobChunkSize);
        if (doc.structSize(section, chunkKey(name, size, i)) != expected) return std::nullopt;
    }
    std::vector<std::uint8_t> block(size);
    for (std::size_t i = 0; i < static_cast<std::size_t>(chunks); ++i) {
        const std::size_t offset = i * kIniBlobChunkSize;
        const std::size_t length = std::min(kIniBlobChunkSize, size - offset);
        if (!doc.getStruct(section, chunkKey(name, size, i), std::span(block).subspan(offset, length))) {
            return std::nullopt;
        }
    }
    return block;
}

}  // namespace qvp3
