// The score-engine binding: the operations on the open score, its time and
// tempo, the play switches and the options.

#include <cmath>
#include <limits>
#include <new>
#include <optional>
#include <system_error>

#include "platform/ini_file.h"
#include "qvp3_pipeline/tavtune_lib.h"
#include "qvp3_project/project_entry.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

// Entry points these operations call.
constexpr int kStatusQuery = 55;
constexpr int kReadOptions = 63;
constexpr int kSetOption = 92;
constexpr int kSetPosition = 93;
constexpr int kTempoAtPosition = 98;
constexpr int kTempoPoint = 99;
constexpr int kTempoPointCount = 100;
constexpr int kVoiceRecord = 131;
constexpr int kDescription = 143;
constexpr int kStaveRecord = 145;
constexpr int kNoteList = 146;
constexpr int kPutSwitches = 168;
constexpr int kGetSwitches = 169;

// C131's voice is a byte: no stave has more records than that.
constexpr int kMaxStaffItems = 256;

// A double rounded to the nearest integer, halves away from zero; nothing when
// it is no number or does not fit 32 bits.
std::optional<std::int32_t> roundToInt32(double value) {
    if (!std::isfinite(value)) return std::nullopt;
    const double rounded = std::round(value);
    if (rounded < static_cast<double>(std::numeric_limits<std::int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<std::int32_t>::max())) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(rounded);
}

// A new, empty file "qvt....tmp" in the system temp folder, removed again
// when the object ends.
class TempIniFile : public platform::ScopedTempFile {
public:
    TempIniFile() : ScopedTempFile(systemTempFolder(), kTavtuneTempPrefix) {}

private:
    static fs::path systemTempFolder() {
        std::error_code ec;
        fs::path folder = fs::temp_directory_path(ec);
        return ec ? fs::path() : folder;
    }
};

// The set's lines of section i of kTavSwitchSections.
IniSectionLines& sectionLines(TuneSectionSet& set, int i) {
    return i == 0 ? set.dynamic : i == 1 ? set.artic : set.trills;
}
const IniSectionLines& sectionLines(const TuneSectionSet& set, int i) {
    return i == 0 ? set.dynamic : i == 1 ? set.artic : set.trills;
}

// The engine's tempo point for a point of a tempo curve.
tvTempoPoint tempoPointRequest(const TempoPoint& point) {
    tvTempoPoint request{};
    request.position = static_cast<std::int32_t>(point.position);
    request.tag = point.tag;    // the point's word at 36
    request.kind = point.kind;  // the point's word at 32
    request.tempo = point.extra * point.tempo;
    request.factor = 1.0;
    request.time = point.time;
    return request;
}

}  // namespace

int CTavtuneLib::CountStaves() const {
    if (!scoreOpen) return kTavtuneNoCount;
    int count = 0;
    while (count < TAVTUNE_MAX_STAVES && callForAddress<const tvStaveRecord>(kStaveRecord, count) != nullptr) ++count;
    return count;
}

int CTavtuneLib::CountStaffItems(int stave) const {
    if (!scoreOpen) return kTavtuneNoCount;
    int count = 0;
    while (count < kMaxStaffItems) {
        const tvVoiceRecord* record = callForAddress<const tvVoiceRecord>(kVoiceRecord, stave, count);
        if (record == nullptr) break;
        ++count;
        if (record->marker == 0) break;
    }
    return count;
}

int CTavtuneLib::GetScoreInfoText(const TavInfoLabels& labels, std::string& text) const {
    if (!scoreOpen) return kTavtuneNoScore;
    const tvScoreDescription* description = callForAddress<const tvScoreDescription>(kDescription);
    if (description == nullptr) return kTavtuneNoScore;
    try {
        std::string out;
        for (std::size_t i = 0; i < labels.size(); ++i) {
            if (i != 0) out += '\n';
            out += labels[i];
            if (description->texts[i] != nullptr) out += description->texts[i];
        }
        text = std::move(out);
    } catch (const std::bad_alloc&) {
        return kTavtuneOutOfMemory;
    }
    return kTavtuneOk;
}

int CTavtuneLib::GetPlayTime(std::int32_t& ms) const {
    if (!scoreOpen) return kTavtuneNoScore;
    tvRequest request{};
    request.marker = -1;
    if (call(kStatusQuery, &request, TAVTUNE_REQUEST_PLAY_TIME) != 0) return kTavtuneNoScore;
    // A time below 0 is none (the engine's -1 while its player holds the score).
    if (!(request.playTimeMs >= 0.0)) return kTavtuneNoScore;
    const std::optional<std::int32_t> rounded = roundToInt32(request.playTimeMs);
    if (!rounded) return kTavtuneNoScore;
    ms = *rounded;
    return kTavtuneOk;
}

int CTavtuneLib::GetPositionInfo(std::int32_t positionMs, TavPositionInfo& info) const {
    if (!scoreOpen) return kTavtuneNoScore;
    tvRequest request{};
    request.positionMs = positionMs;
    if (call(kStatusQuery, &request, TAVTUNE_REQUEST_POSITION) != 0) return kTavtuneNoScore;
    info = tavPositionInfoFrom(request);
    return kTavtuneOk;
}

int CTavtuneLib::SetPosition(std::int32_t positionMs) {
    if (!scoreOpen) {
        if (!prepareCurrentEntry) return kTavtuneNoScore;
        if (const int rc = prepareCurrentEntry(); rc != kTavtuneOk) return rc;
        if (!scoreOpen) return kTavtuneNoScore;
    }
    tvRequest request{};
    request.positionMs = positionMs;
    return call(kSetPosition, &request, TAVTUNE_REQUEST_POSITION) == 0 ? kTavtuneOk : kTavtuneNoScore;
}

int CTavtuneLib::GetTempo(std::int32_t positionMs, std::int32_t& tempo, bool played) {
    if (!scoreOpen) {
        if (!currentEntryPath) return kTavtuneNoScore;
        const fs::path path = currentEntryPath();
        if (path.empty()) return kTavtuneNoScore;
        if (const int rc = OpenScore(path, 0); rc != kTavtuneOk) return rc;
        if (!scoreOpen) return kTavtuneNoScore;
    }
    if (positionMs != kTavtuneNoPosition) {
        ++tempoRequests;
        if (const int rc = SetPosition(positionMs); rc != kTavtuneOk) return rc;
    }
    double written = 0.0;
    double position = 0.0;
    double playing = 0.0;
    if (call(kTempoAtPosition, &written, &position, &playing) != 0) return kTavtuneNoScore;
    const std::optional<std::int32_t> rounded = roundToInt32(played ? playing : written);
    if (!rounded) return kTavtuneNoScore;
    tempo = *rounded;
    return kTavtuneOk;
}

int CTavtuneLib::SetTempoCurve(std::span<const TempoPoint> points) {
    if (!scoreOpen) return kTavtuneNoScore;
    if (points.empty()) return kTavtuneOk;
    for (const TempoPoint& point : points) {
        const tvTempoPoint request = tempoPointRequest(point);
        const tvWord answer = call(kTempoPoint, &request, TAVTUNE_REQUEST_TEMPO_POINT);
        if (answer == -2) return kTavtunePointRefused;
        if (answer < 0) return kTavtuneNoScore;
        if (call(kTempoPoint, 0, 0) < 0) return kTavtuneNoScore;
    }
    if (call(kTempoPoint, 0, 0) < 0) return kTavtuneNoScore;
    enginePointCount = scoreOpen ? static_cast<std::int32_t>(call(kTempoPointCount, 0, 0)) : -1;
    return kTavtuneOk;
}

std::int32_t CTavtuneLib::UpdateState() {
    enginePointCount = scoreOpen ? static_cast<std::int32_t>(call(kTempoPointCount, 0, 0)) : -1;
    return enginePointCount;
}

int CTavtuneLib::GetSections(TuneSectionSet& set, bool readOptions) const {
    set.dynamic.clear();
    set.artic.clear();
    set.trills.clear();
    const TempIniFile file;
    if (!file.made()) return kTavtuneNoScore;
    const std::string path = file.path().string();
    for (const TavSwitchSection& s : kTavSwitchSections) {
        if (call(kGetSwitches, s.kind, path.c_str(), s.section) != 0) return kTavtuneNoScore;
    }
    try {
        platform::IniDocument ini;
        if (ini.load(file.path()) != platform::IniStatus::Ok) return kTavtuneNoScore;
        for (int i = 0; i < 3; ++i) {
            const char* section = kTavSwitchSections[i].section;
            // The engine said it wrote the section: it must be there, empty or not.
            if (!ini.hasSection(section)) return kTavtuneNoScore;
            IniSectionLines lines = ini.readSection(section);
            lines.shrink_to_fit();
            sectionLines(set, i).swap(lines);
        }
    } catch (const std::bad_alloc&) {
        return kTavtuneOutOfMemory;
    }
    if (readOptions) {
        const tvWord options = call(kReadOptions);
        if (options == TAVTUNE_NOT_HANDLED) return kTavtuneNoScore;
        set.UseDynamic = (options & TAVTUNE_OPTION_DYNAMICS) != 0 ? 1 : 0;
        set.UseSwing = (options & TAVTUNE_OPTION_SWING) != 0 ? 1 : 0;
        set.UseTrills = (options & TAVTUNE_OPTION_TRILLS) != 0 ? 1 : 0;
    }
    return kTavtuneOk;
}

int CTavtuneLib::PutSections(const TuneSectionSet& set) const {
    if (set.dynamic.empty()) return kTavtuneOk;
    int result = kTavtuneOk;
    {
        const TempIniFile file;
        if (!file.made()) return kTavtuneOutOfMemory;
        try {
            platform::IniDocument ini;
            ini.setEncoding(platform::IniEncoding::Utf8);  // the engine speaks UTF-8
            for (int i = 0; i < 3; ++i) ini.writeSection(kTavSwitchSections[i].section, sectionLines(set, i));
            if (ini.save(file.path()) != platform::IniStatus::Ok) return kTavtuneOutOfMemory;
        } catch (const std::bad_alloc&) {
            return kTavtuneOutOfMemory;
        }
        const std::string path = file.path().string();
        for (const TavSwitchSection& s : kTavSwitchSections) {
            if (call(kPutSwitches, s.kind, path.c_str(), s.section) != 0) result = kTavtuneNoScore;
        }
    }
    SetOption(TAVTUNE_OPTION_DYNAMICS, set.UseDynamic != 0);
    SetOption(TAVTUNE_OPTION_TRILLS, set.UseTrills != 0);
    SetOption(TAVTUNE_OPTION_SWING, set.UseSwing != 0);
    return result;
}

int CTavtuneLib::CollectStaffKeys(int stave, int voice, TavKeyTable* keys, std::vector<tvNote>* notes) const {
    if (!scoreOpen) return kTavtuneNoScore;
    if (keys != nullptr) keys->fill(0);
    const tvNoteList* list = callForAddress<const tvNoteList>(kNoteList, stave, voice);
    if (list == nullptr || list->count < 0 || (list->count > 0 && list->notes == nullptr)) return kTavtuneNoScore;
    const std::span<const tvNote> found(list->notes, static_cast<std::size_t>(list->count));
    if (keys != nullptr) {
        for (const tvNote& note : found) {
            if (note.key < kTavtuneKeyCount) (*keys)[note.key] = 1;
        }
    }
    if (notes != nullptr) {
        try {
            notes->insert(notes->end(), found.begin(), found.end());
        } catch (const std::bad_alloc&) {
            return kTavtuneOutOfMemory;
        }
    }
    return kTavtuneOk;
}

void CTavtuneLib::SetOption(std::uint32_t option, bool on) const {
    call(kReadOptions);
    call(kSetOption, option, on ? option : TAVTUNE_OPTION_OFF);
}

}  // namespace qvp3
