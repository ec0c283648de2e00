#include "infokit_state.h"

#include <unistd.h>

#include <charconv>
#include <new>
#include <system_error>

#include "platform/settings_store.h"
#include "platform/text.h"

namespace infokit {
namespace {

// The maker's other products are not listed: the host's row is the one the
// library needs.
constexpr ProductRow kHostRow{300, "TOR300", "Tavrena Orvendo", "3.0",
                              "{7C1F3A52-4B0E-4E7D-9E51-3A0C2F6B9D10}",
                              "{0A5E9C21-6D47-4F3B-8C12-5B7E1D9A4F63}"};
const ProductRow kEmptyRow{};

constexpr std::array<int, AboutRecord::FieldCount> kAboutFieldSizes{
    36, 512, 32, 64, 64, 64, 32, 64, 64, 64, 64, 64, 10000, 10000, 2048};

InfoKitState makeState() {
    InfoKitState st;
    st.programKey = std::string(platform::kProgramSettingsKey);
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return st;
    // The updater replaces the library's files; it only borrows its texts.
    if (platform::toLowerAscii(exe.filename().string()).find("uplift") != std::string::npos) {
        st.isUpdater = true;
        return st;
    }
    st.hostPath = exe;
    st.hostFolder = exe.parent_path();
    st.hostProcessId = static_cast<unsigned>(::getpid());
    return st;
}

}  // namespace

const ProductRow& productRow(int index) {
    if (index == kHostProductIndex) return kHostRow;
    return kEmptyRow;
}

std::optional<std::pair<int, int>> parseVersionText(std::string_view text) {
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos) return std::nullopt;
    int major = 0;
    int minor = 0;
    const char* end = text.data() + text.size();
    auto r1 = std::from_chars(text.data(), text.data() + dot, major);
    auto r2 = std::from_chars(text.data() + dot + 1, end, minor);
    if (r1.ec != std::errc() || r1.ptr != text.data() + dot || r2.ec != std::errc() || r2.ptr != end) {
        return std::nullopt;
    }
    return std::make_pair(major, minor);
}

int aboutFieldSize(AboutRecord::Field field) {
    return kAboutFieldSizes[static_cast<std::size_t>(field)];
}

const ProductRow& InfoKitState::product() const {
    if (productIndex < 0 || productIndex >= kProductRows) return kEmptyRow;
    return productRow(productIndex);
}

InfoKitState& state() {
    static InfoKitState st = makeState();
    return st;
}

std::string cutToField(std::string_view text, int characters) {
    if (characters <= 1) return {};
    return platform::firstCharacters(text, static_cast<std::size_t>(characters - 1));
}

bool appvarAdd(InfoKitState& st, std::string_view name, std::string_view value) {
    try {
        st.appVariables.push_back({cutToField(name, 256), cutToField(value, 260)});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::optional<std::string> appvarGet(const InfoKitState& st, std::string_view name) {
    const std::string wanted = cutToField(name, 256);
    for (const AppVariable& var : st.appVariables) {
        if (platform::equalsNoCase(var.name, wanted)) return var.value;
    }
    return std::nullopt;
}

}  // namespace infokit
