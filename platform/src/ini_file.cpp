#include "platform/ini_file.h"

#include <algorithm>
#include <fstream>
#include <system_error>
#include <unordered_map>

#include "platform/atomic_file.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr std::string_view kBomUtf8 = "\xEF\xBB\xBF";
constexpr std::string_view kBomUtf16Le = "\xFF\xFE";
constexpr std::string_view kBomUtf16Be = "\xFE\xFF";

struct Line {
    std::string text;   // the line as stored (UTF-8, no line break)
    std::string key;    // key name as written, trimmed; empty for any other line
    std::string value;  // value as written, trimmed, quotes kept
};

struct Section {
    std::string name;  // as written; empty for the lines before the first header
    std::string header;
    std::vector<Line> lines;
    std::unordered_map<std::string, std::size_t> keyIndex;  // folded key -> first line

    void reindex() {
        keyIndex.clear();
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (!lines[i].key.empty()) keyIndex.emplace(foldCase(lines[i].key), i);
        }
    }
    const Line* find(std::string_view key) const {
        const auto it = keyIndex.find(foldCase(key));
        return it == keyIndex.end() ? nullptr : &lines[it->second];
    }
};

// Text for one line of the file: a line break would start a new entry.
std::string oneLine(std::string_view text) {
    std::string line(text);
    std::replace_if(line.begin(), line.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    return line;
}

std::string_view unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

Line parseLine(std::string text) {
    Line line;
    const std::string_view body = trimBlanks(text);
    if (!body.empty() && body.front() != ';' && body.front() != '#') {
        const auto eq = body.find('=');
        if (eq != std::string_view::npos) {
            const std::string_view key = trimBlanks(body.substr(0, eq));
            if (!key.empty()) {
                line.key = std::string(key);
                line.value = std::string(trimBlanks(body.substr(eq + 1)));
            }
        }
    }
    line.text = std::move(text);
    return line;
}

// The header's name, or nothing when the line is not a section header.
std::optional<std::string> headerName(std::string_view text) {
    const std::string_view body = trimBlanks(text);
    if (body.empty() || body.front() != '[') return std::nullopt;
    const auto close = body.rfind(']');
    if (close == std::string_view::npos || close == 0) return std::nullopt;
    return std::string(trimBlanks(body.substr(1, close - 1)));
}

std::string decodeFile(std::string_view bytes, IniEncoding& encoding) {
    if (bytes.starts_with(kBomUtf16Le)) {
        encoding = IniEncoding::Utf16Le;
        return utf16ToUtf8(utf16leBytesToString(bytes.substr(2)));
    }
    if (bytes.starts_with(kBomUtf16Be)) {
        encoding = IniEncoding::Utf16Be;
        std::string swapped(bytes.substr(2));
        for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
        return utf16ToUtf8(utf16leBytesToString(swapped));
    }
    if (bytes.starts_with(kBomUtf8)) {
        encoding = IniEncoding::Utf8Bom;
        return std::string(bytes.substr(3));  // undecodable bytes are kept as they are
    }
    bool ascii = true;
    for (const char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    if (!ascii && isValidUtf8(bytes)) {
        encoding = IniEncoding::Utf8;
        return std::string(bytes);
    }
    encoding = IniEncoding::Cp1252;
    return cp1252ToUtf8(bytes);
}

std::string encodeFile(const std::string& text, IniEncoding encoding) {
    switch (encoding) {
    case IniEncoding::Cp1252:
        return utf8ToCp1252(text);
    case IniEncoding::Utf8:
        return text;
    case IniEncoding::Utf8Bom:
        return std::string(kBomUtf8) + text;
    case IniEncoding::Utf16Le:
        return std::string(kBomUtf16Le) + utf16ToLeBytes(utf8ToUtf16(text));
    case IniEncoding::Utf16Be: {
        std::string bytes = utf16ToLeBytes(utf8ToUtf16(text));
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) std::swap(bytes[i], bytes[i + 1]);
        return std::string(kBomUtf16Be) + bytes;
    }
    }
    return text;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Integer conversion of the Windows profile functions: blanks, sign, an
// optional base prefix, then digits up to the first other character.
int parseWindowsInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    unsigned base = 10;
    if (i + 1 < text.size() && text[i] == '0') {
        const char p = text[i + 1];
        if (p == 'x' || p == 'X') base = 16;
        if (p == 'o' || p == 'O') base = 8;
        if (p == 'b' || p == 'B') base = 2;
        if (base != 10) i += 2;
    }
    std::uint32_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0 || static_cast<unsigned>(digit) >= base) break;
        value = value * base + static_cast<unsigned>(digit);
    }
    if (negative) value = 0u - value;
    return static_cast<int>(value);
}

}  // namespace

struct IniDocument::Impl {
    std::vector<Section> sections{Section{}};  // [0]: lines before the first header
    std::unordered_map<std::string, std::size_t> sectionIndex;
    IniEncoding source = IniEncoding::Cp1252;
    std::optional<IniEncoding> forced;
    bool dirty = false;
    bool unsafeToSave = false;  // the file exists but could not be read

    void reindex() {
        sectionIndex.clear();
        for (std::size_t i = 1; i < sections.size(); ++i) sectionIndex.emplace(foldCase(sections[i].name), i);
    }
    const Section* find(std::string_view name) const {
        const auto it = sectionIndex.find(foldCase(name));
        return it == sectionIndex.end() ? nullptr : &sections[it->second];
    }
    Section* find(std::string_view name) {
        return const_cast<Section*>(static_cast<const Impl*>(this)->find(name));
    }
    Section& findOrAdd(std::string_view name) {
        if (Section* s = find(name)) return *s;
        Section s;
        s.name = std::string(name);
        s.header = "[" + s.name + "]";
        sections.push_back(std::move(s));
        sectionIndex.emplace(foldCase(name), sections.size() - 1);
        return sections.back();
    }
    std::string text() const {
        std::string out;
        for (const Section& s : sections) {
            if (!s.header.empty()) out.append(s.header).append("\r\n");
            for (const Line& l : s.lines) out.append(l.text).append("\r\n");
        }
        return out;
    }
};

IniDocument::IniDocument() : impl_(new Impl) {}
IniDocument::~IniDocument() { delete impl_; }
IniDocument::IniDocument(IniDocument&& other) noexcept : impl_(other.impl_) { other.impl_ = new Impl; }
IniDocument& IniDocument::operator=(IniDocument&& other) noexcept {
    std::swap(impl_, other.impl_);
    return *this;
}
IniDocument::IniDocument(const IniDocument& other) : impl_(new Impl(*other.impl_)) {}
IniDocument& IniDocument::operator=(const IniDocument& other) {
    if (this != &other) *impl_ = *other.impl_;
    return *this;
}

void IniDocument::parse(std::string_view fileBytes) {
    *impl_ = Impl{};
    const std::string text = decodeFile(fileBytes, impl_->source);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        std::string lineText = text.substr(pos, end - pos);
        pos = end;
        if (pos < text.size() && text[pos] == '\r') ++pos;
        if (pos < text.size() && text[pos] == '\n') ++pos;

        if (auto name = headerName(lineText)) {
            Section s;
            s.name = std::move(*name);
            s.header = std::move(lineText);
            impl_->sections.push_back(std::move(s));
        } else {
            impl_->sections.back().lines.push_back(parseLine(std::move(lineText)));
        }
    }
    for (Section& s : impl_->sections) s.reindex();
    impl_->reindex();
}

IniStatus IniDocument::load(const std::filesystem::path& path) {
    *impl_ = Impl{};
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    if (status.type() == std::filesystem::file_type::not_found) return IniStatus::NotFound;
    impl_->unsafeToSave = true;
    if (ec || !std::filesystem::is_regular_file(status)) return IniStatus::ReadError;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return IniStatus::ReadError;
    if (size > kMaxIniFileSize) return IniStatus::TooLarge;

    std::ifstream in(path, std::ios::binary);
    if (!in) return IniStatus::ReadError;
    std::string bytes(static_cast<std::size_t>(size), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (in.bad()) return IniStatus::ReadError;
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    parse(bytes);
    return IniStatus::Ok;
}

std::string IniDocument::serialize() const { return encodeFile(impl_->text(), saveEncoding()); }

IniStatus IniDocument::save(const std::filesystem::path& path, std::string* error) {
    if (impl_->unsafeToSave) {
        if (error) *error = "'" + path.string() + "' could not be read; it is not overwritten";
        return IniStatus::WriteError;
    }
    if (!writeFileAtomically(path, serialize(), error)) return IniStatus::WriteError;
    impl_->dirty = false;
    return IniStatus::Ok;
}

bool IniDocument::hasSection(std::string_view section) const { return impl_->find(section) != nullptr; }

bool IniDocument::hasKey(std::string_view section, std::string_view key) const {
    const Section* s = impl_->find(section);
    return s && s->find(key);
}

std::optional<std::string> IniDocument::getString(std::string_view section, std::string_view key) const {
    const Section* s = impl_->find(section);
    const Line* line = s ? s->find(key) : nullptr;
    if (!line) return std::nullopt;
    return std::string(unquote(line->value));
}

std::string IniDocument::getString(std::string_view section, std::string_view key, std::string_view def) const {
    auto value = getString(section, key);
    return value ? std::move(*value) : std::string(def);
}

int IniDocument::getInt(std::string_view section, std::string_view key, int def) const {
    const auto value = getString(section, key);
    if (!value || value->empty()) return def;
    return parseWindowsInt(*value);
}

bool IniDocument::getStruct(std::string_view section, std::string_view key, std::span<std::uint8_t> out) const {
    const Section* s = impl_->find(section);
    const Line* line = s ? s->find(key) : nullptr;
    if (!line || line->value.size() != out.size() * 2 + 2) return false;
    const auto bytes = decodeIniStruct(line->value);
    if (!bytes) return false;
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return true;
}

std::optional<std::size_t> IniDocument::structSize(std::string_view section, std::string_view key) const {
    const Section* s = impl_->find(section);
    const Line* line = s ? s->find(key) : nullptr;
    if (!line || line->value.size() < 2 || line->value.size() % 2 != 0) return std::nullopt;
    if (!std::all_of(line->value.begin(), line->value.end(), [](char c) { return hexDigit(c) >= 0; })) {
        return std::nullopt;
    }
    return line->value.size() / 2 - 1;
}

std::vector<std::string> IniDocument::sectionNames() const {
    std::vector<std::string> names;
    for (std::size_t i = 1; i < impl_->sections.size(); ++i) {
        if (impl_->find(impl_->sections[i].name) == &impl_->sections[i]) names.push_back(impl_->sections[i].name);
    }
    return names;
}

std::vector<std::string> IniDocument::keyNames(std::string_view section) const {
    std::vector<std::string> names;
    if (const Section* s = impl_->find(section)) {
        for (const Line& l : s->lines) {
            if (!l.key.empty() && s->find(l.key) == &l) names.push_back(l.key);
        }
    }
    return names;
}

std::vector<std::pair<std::string, std::string>> IniDocument::readSection(std::string_view section) const {
    std::vector<std::pair<std::string, std::string>> pairs;
    if (const Section* s = impl_->find(section)) {
        for (const Line& l : s->lines) {
            if (!l.key.empty()) pairs.emplace_back(l.key, l.value);
        }
    }
    return pairs;
}

void IniDocument::setString(std::string_view section, std::string_view keyText, std::string_view value) {
    const std::string key = oneLine(keyText);
    Section& s = impl_->findOrAdd(section);
    impl_->dirty = true;
    if (const Line* found = s.find(key)) {
        Line& line = s.lines[static_cast<std::size_t>(found - s.lines.data())];
        line.value = oneLine(value);
        line.text = line.key + "=" + line.value;
        return;
    }
    // New keys go after the section's last key, ahead of trailing blank lines and comments.
    std::size_t at = s.lines.size();
    while (at > 0 && s.lines[at - 1].key.empty()) --at;
    if (at == 0) {  // no key yet: before the trailing blank lines
        at = s.lines.size();
        while (at > 0 && trimBlanks(s.lines[at - 1].text).empty()) --at;
    }
    Line line;
    line.key = key;
    line.value = oneLine(value);
    line.text = line.key + "=" + line.value;
    s.lines.insert(s.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    if (at + 1 == s.lines.size()) {
        s.keyIndex.emplace(foldCase(key), at);
    } else {
        s.reindex();
    }
}

void IniDocument::setInt(std::string_view section, std::string_view key, int value) {
    setString(section, key, std::to_string(value));
}

void IniDocument::setStruct(std::string_view section, std::string_view key, std::span<const std::uint8_t> data) {
    setString(section, key, encodeIniStruct(data));
}

bool IniDocument::deleteKey(std::string_view section, std::string_view key) {
    Section* s = impl_->find(section);
    if (!s || !s->find(key)) return false;
    const std::string folded = foldCase(key);
    std::erase_if(s->lines, [&](const Line& l) { return !l.key.empty() && foldCase(l.key) == folded; });
    s->reindex();
    impl_->dirty = true;
    return true;
}

bool IniDocument::deleteSection(std::string_view section) {
    if (!impl_->find(section)) return false;
    const std::string folded = foldCase(section);
    auto& sections = impl_->sections;
    sections.erase(std::remove_if(sections.begin() + 1, sections.end(),
                                  [&](const Section& s) { return foldCase(s.name) == folded; }),
                   sections.end());
    impl_->reindex();
    impl_->dirty = true;
    return true;
}

void IniDocument::writeSection(std::string_view section,
                               const std::vector<std::pair<std::string, std::string>>& pairs) {
    Section& s = impl_->findOrAdd(section);
    s.lines.clear();
    for (const auto& [key, value] : pairs) {
        if (trimBlanks(key).empty()) continue;
        s.lines.push_back(parseLine(oneLine(key) + "=" + oneLine(value)));
    }
    s.reindex();
    impl_->dirty = true;
}

bool IniDocument::dirty() const { return impl_->dirty; }
void IniDocument::clearDirty() { impl_->dirty = false; }
IniEncoding IniDocument::sourceEncoding() const { return impl_->source; }
void IniDocument::setEncoding(IniEncoding encoding) { impl_->forced = encoding; }

IniEncoding IniDocument::saveEncoding() const {
    const IniEncoding wanted = impl_->forced.value_or(impl_->source);
    // Never lose characters: text beyond Windows-1252 moves the file to UTF-16.
    if (wanted == IniEncoding::Cp1252 && !fitsCp1252(impl_->text())) return IniEncoding::Utf16Le;
    return wanted;
}

std::string encodeIniStruct(std::span<const std::uint8_t> data) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(data.size() * 2 + 2);
    unsigned sum = 0;
    for (const std::uint8_t b : data) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 0x0F]);
        sum += b;
    }
    out.push_back(kHex[(sum >> 4) & 0x0F]);
    out.push_back(kHex[sum & 0x0F]);
    return out;
}

std::optional<std::vector<std::uint8_t>> decodeIniStruct(std::string_view text) {
    if (text.size() < 2 || text.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = hexDigit(text[i]);
        const int lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    const std::uint8_t checksum = bytes.back();
    bytes.pop_back();
    unsigned sum = 0;
    for (const std::uint8_t b : bytes) sum += b;
    if ((sum & 0xFF) != checksum) return std::nullopt;
    return bytes;
}

namespace {

IniDocument loadForReading(const std::filesystem::path& path) {
    IniDocument doc;
    doc.load(path);  // an unreadable file reads as empty: every value gets its default
    return doc;
}

template <typename Change>
bool changeFile(const std::filesystem::path& path, Change change) {
    IniDocument doc;
    const IniStatus status = doc.load(path);
    if (status != IniStatus::Ok && status != IniStatus::NotFound) return false;
    change(doc);
    return doc.save(path) == IniStatus::Ok;
}

}  // namespace

std::string iniGetString(const std::filesystem::path& path, std::string_view section, std::string_view key,
                         std::string_view def) {
    return loadForReading(path).getString(section, key, def);
}

int iniGetInt(const std::filesystem::path& path, std::string_view section, std::string_view key, int def) {
    return loadForReading(path).getInt(section, key, def);
}

bool iniGetStruct(const std::filesystem::path& path, std::string_view section, std::string_view key,
                  std::span<std::uint8_t> out) {
    return loadForReading(path).getStruct(section, key, out);
}

bool iniWriteString(const std::filesystem::path& path, std::string_view section, std::string_view key,
                    std::optional<std::string_view> value) {
    return changeFile(path, [&](IniDocument& doc) {
        if (value) {
            doc.setString(section, key, *value);
        } else {
            doc.deleteKey(section, key);
        }
    });
}

bool iniWriteStruct(const std::filesystem::path& path, std::string_view section, std::string_view key,
                    std::span<const std::uint8_t> data) {
    return changeFile(path, [&](IniDocument& doc) { doc.setStruct(section, key, data); });
}

bool iniDeleteSection(const std::filesystem::path& path, std::string_view section) {
    return changeFile(path, [&](IniDocument& doc) { doc.deleteSection(section); });
}

}  // namespace platform
