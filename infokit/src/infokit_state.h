// The library's state: one set per process, as the host set it (language,
// product row, owner window, program key), the host program's own path, the
// application variables and the about record. The library is used from the
// host's user-interface thread; only the diagnostic log and the download
// worker are reached from other threads, and they keep their own state.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The about record as the host's file-versions callback sees it: opaque.
extern "C" {
struct ikAboutRecord;
}

namespace infokit {

inline constexpr int kProductRows = 52;

// One row of the product table. Rows other than the host's stay empty.
struct ProductRow {
    int productId = 0;
    std::string_view code;        // six characters
    std::string_view displayName;
    std::string_view versionText;  // "M.m"
    std::string_view guid1;
    std::string_view guid2;
};

const ProductRow& productRow(int index);
// The host's own row (the one the program selects).
inline constexpr int kHostProductIndex = 0;

// Major and minor of a version text "M.m"; nothing when it is not of that form.
std::optional<std::pair<int, int>> parseVersionText(std::string_view text);

struct AppVariable {
    std::string name;   // at most 255 characters
    std::string value;  // at most 259 characters
};

// Texts of the about box; each is cut at its field's size when set.
struct AboutRecord {
    enum Field {
        ProgName, Authors, CopyrightText, Company, Street, City, Phone, UrlMaker, UrlInfo,
        UrlSupport, UrlUplift, UrlUpdate, CopyrightEx1, CopyrightEx2, FileVersionsText, FieldCount
    };
    std::array<std::string, FieldCount> texts;
    // The host's file-versions callback, called with the record.
    void (*fileVersionsProc)(const ikAboutRecord*) = nullptr;
};

// Characters each field holds, the terminating zero included.
int aboutFieldSize(AboutRecord::Field field);

struct InfoKitState {
    int language = 0;
    int productIndex = -1;
    void* mainWindow = nullptr;
    std::filesystem::path hostPath;
    std::filesystem::path hostFolder;
    unsigned hostProcessId = 0;
    bool isUpdater = false;  // loaded by the updater itself: nothing more is set up
    std::string programKey;
    std::vector<AppVariable> appVariables;
    AboutRecord about;
    std::string serverUrl;  // the base address set by the host; empty: computed

    // The selected product row, or an empty one when none is selected.
    const ProductRow& product() const;
};

InfoKitState& state();

// Copies at most `characters` - 1 characters of UTF-8 text (never splitting one).
std::string cutToField(std::string_view text, int characters);

// Application variables: appended in order; the first whose name matches
// without regard to case is found.
bool appvarAdd(InfoKitState& st, std::string_view name, std::string_view value);
std::optional<std::string> appvarGet(const InfoKitState& st, std::string_view name);

}  // namespace infokit
