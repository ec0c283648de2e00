// The info kit's own texts, one table per language, numbered in blocks: the
// English text with offset n is 1000 + n, the German one 6000 + n. Texts are
// asked for by their English number; a language without a table, or a table
// that lacks the text, gives the English one.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "text_format.h"

namespace infokit {

// A language code of the host (setlanguage) with what the library makes of it.
struct LanguageInfo {
    int code;
    int block;               // first number of the language's string block
    std::string_view urlCode;  // two letters used in update addresses
};

// The row of a language code; codes without a row get the English block and
// an empty URL code.
LanguageInfo languageInfo(int code);

// Texts by number, read from "number<TAB>text" lines.
class StringTable {
public:
    // Lines that are empty, start with '#' or do not hold a number, a tab and
    // a text are skipped; "\n" in a text is a line break, "\\" a backslash;
    // a number seen twice keeps its first text. Never fails.
    static StringTable parse(std::string_view utf8);

    std::optional<std::string_view> find(int number) const;
    std::size_t size() const { return texts_.size(); }

private:
    std::map<int, std::string> texts_;
};

// The text of English number `number` in the language, or nothing when no
// table has it.
std::optional<std::string> loadText(int language, int number);
// loadText, or empty.
std::string text(int language, int number);
// The language's text used as a format with these arguments; when its
// conversions do not fit them, the English text's; when neither fits, the
// text itself with nothing substituted.
std::string formatText(int language, int number, std::initializer_list<FormatArg> args);

// Texts the library itself uses, by their English number.
namespace txt {
inline constexpr int kCancel = 1036;
inline constexpr int kNeedAdminRights = 1038;
inline constexpr int kAskCheckNow = 1039;
inline constexpr int kDownloadCancelled = 1040;
inline constexpr int kUnpacking = 1041;
inline constexpr int kReadyToInstall = 1042;
inline constexpr int kUpdateTitle = 1043;
inline constexpr int kUpdateIntro = 1044;
inline constexpr int kRightsNote = 1050;
inline constexpr int kAskDownload = 1052;
inline constexpr int kDownloading = 1053;
inline constexpr int kFileVersionsItem = 1056;
inline constexpr int kDownloadFailed = 1095;
inline constexpr int kNothingFound = 1096;
inline constexpr int kDownloadTitle = 1098;
inline constexpr int kAskRestore = 1139;
inline constexpr int kSearching = 1151;
inline constexpr int kFreqAtStart = 1160;  // then daily, weekly, monthly, never
inline constexpr int kUpdateAfterClose = 1165;
inline constexpr int kBackupCurrent = 1166;
inline constexpr int kReactivatePrevious = 1167;
inline constexpr int kDownloadedOf = 1168;
inline constexpr int kOk = 1169;
inline constexpr int kBackupFolderFailed = 1170;
inline constexpr int kWrongAppName = 1171;
inline constexpr int kError = 1172;
inline constexpr int kUpliftCaption = 1173;
inline constexpr int kLoggingActive = 1174;
inline constexpr int kLoggingDeactivated = 1175;
inline constexpr int kLoggingCaption = 1176;
inline constexpr int kDontAskAgain = 1177;
inline constexpr int kFileVersionsTitle = 1178;
inline constexpr int kAboutTitle = 1179;
inline constexpr int kMore = 1180;
inline constexpr int kLess = 1181;
inline constexpr int kLegalNotes = 1182;
inline constexpr int kLoggingItem = 1183;
inline constexpr int kLoggingCheck = 1184;
inline constexpr int kLoggingExplain = 1185;
inline constexpr int kLoggingUntilRestart = 1186;
inline constexpr int kLogFileLabel = 1187;
inline constexpr int kSendLog = 1188;
inline constexpr int kReason = 1189;
inline constexpr int kYes = 1190;
inline constexpr int kNo = 1191;
inline constexpr int kClose = 1192;
inline constexpr int kNewerVersionTitle = 1193;
inline constexpr int kFullVersionTitle = 1194;
inline constexpr int kAuthors = 1195;
inline constexpr int kWebSite = 1196;
inline constexpr int kSupport = 1197;
inline constexpr int kInformation = 1198;
inline constexpr int kUpdatePage = 1199;
inline constexpr int kDetails = 1200;
inline constexpr int kPublicBase = 1000;  // public number n is English 1000 + n
inline constexpr int kCredit1 = 1503;
inline constexpr int kCredit2 = 1504;
inline constexpr int kUnknown = 1513;
inline constexpr int kInstallStart = 1514;
inline constexpr int kProcessing = 1515;
inline constexpr int kInstallIncomplete = 1518;
inline constexpr int kInstalledFile = 1519;
inline constexpr int kCouldNotCopy = 1520;
inline constexpr int kInstallComplete = 1521;
inline constexpr int kCouldNotStart = 1527;
inline constexpr int kReactivating = 1542;
inline constexpr int kReactivated = 1543;
inline constexpr int kReactivateFailed = 1544;
}  // namespace txt

}  // namespace infokit
