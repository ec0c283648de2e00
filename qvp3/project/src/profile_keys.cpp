#include "profile_keys.h"

#include <array>
#include <charconv>

#include "platform/text.h"

namespace qvp3 {

namespace prfkeys {

std::optional<int> readNumber(ProfileContext& context, std::string_view key, int low, int high) {
    const std::string text(platform::trimBlanks(context.readString(key, "")));
    if (text.empty()) return std::nullopt;
    const char* first = text.data();
    if (*first == '+') ++first;
    int value = 0;
    const auto [end, error] = std::from_chars(first, text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (value < low || value > high) return std::nullopt;
    return value;
}

void writeNumber(ProfileContext& context, std::string_view key, int value) {
    prfWriteIniValue(context, {}, {}, key, value, nullptr);
}

void writeTextValue(ProfileContext& context, std::string_view key, std::string_view text) {
    const std::string value(text);
    prfWriteIniValue(context, {}, {}, key, 0, value.c_str());
}

std::string keyName(std::string_view pattern, int first, int second) {
    std::string name;
    const int numbers[] = {first, second};
    std::size_t used = 0;
    for (std::size_t at = 0; at < pattern.size();) {
        if (pattern.substr(at, 4) == "%03i" && used < 2) {
            std::string digits = std::to_string(numbers[used++]);
            if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
            name += digits;
            at += 4;
        } else {
            name += pattern[at++];
        }
    }
    return name;
}

ProjectEntry* entryFor(ProfileIo& io, const StepPage& page, std::int32_t type, ProjectEntry* entry) {
    if (type != static_cast<std::int32_t>(page.category)) return nullptr;
    return prjGetEntryOrCurrent(io.project, entry);
}

}  // namespace prfkeys

void prfCaptureSamplerSetup(Project& project, ProjectEntry& entry) {
    project.audio().captureSamplerSetup(entry);
}

int prfCountStavesOn(Project& project, const ProjectEntry& entry) {
    const int staves = project.pipeline().cnvEntryStaveCount(entry);
    int on = 0;
    for (int s = 0; s < staves; ++s) on += entry.states.getStaffOnOff(s) == scorecore::kStateOn ? 1 : 0;
    return on;
}

int prfCountPercStavesOn(Project& project, const ProjectEntry& entry) {
    const int staves = project.pipeline().cnvEntryStaveCount(entry);
    int on = 0;
    for (int s = 0; s < staves; ++s) {
        if (entry.states.getStaffOnOff(s) == scorecore::kStateOn &&
            project.pipeline().cnvEntryIsPercussionStave(entry, s)) {
            ++on;
        }
    }
    return on;
}

int prfCountVoicesOn(const ProjectEntry& entry) {
    int on = 0;
    for (int s = 0; s < static_cast<int>(entry.voiceCounts.size()); ++s) {
        for (int v = 0; v < prfkeys::voiceCountOf(entry, s); ++v) {
            on += entry.states.getVoiceOnOff(s, v) == scorecore::kStateOn ? 1 : 0;
        }
    }
    return on;
}

namespace {

struct Handlers {
    ProfileReadFn read;
    ProfileWriteFn write;
};

constexpr std::array<Handlers, kStepCount> kHandlers{{
    {nullptr, nullptr},                                 // SLF
    {prfReadVoiceStatus, prfWriteVoiceStatus},          // SLS
    {prfReadTranspose, prfWriteTranspose},              // TRP
    {prfReadInstruments, prfWriteInstruments},          // CHP
    {prfReadVolumePan, prfWriteVolumePan},              // VOL
    {prfReadVolumePan, prfWriteVolumePan},              // PAN
    {prfReadPercussion, prfWritePercussion},            // PRC
    {prfReadTempo, prfWriteTempo},                      // TMP
    {prfReadTempoCurve, prfWriteTempoCurve},            // TPP
    {prfReadInterpretation, prfWriteInterpretation},    // DYN
    {prfReadVelocity, prfWriteVelocity},                // SHV
    {prfReadMetronome, prfWriteMetronome},              // MET
    {prfReadTuneUp, prfWriteTuneUp},                    // EIN
    {nullptr, nullptr},                                 // MDC
    {prfReadSoundConfig, prfWriteSoundConfig},          // PWC
    {nullptr, nullptr},                                 // WVC
    {prfReadExport, prfWriteExport},                    // BRN
    {nullptr, nullptr},                                 // CLN
}};

const Handlers* handlersOf(StepCategory category) {
    const auto index = static_cast<std::size_t>(category);
    return index < kHandlers.size() ? &kHandlers[index] : nullptr;
}

}  // namespace

ProfileReadFn prfReaderOf(StepCategory category) {
    const Handlers* handlers = handlersOf(category);
    return handlers ? handlers->read : nullptr;
}

ProfileWriteFn prfWriterOf(StepCategory category) {
    const Handlers* handlers = handlersOf(category);
    return handlers ? handlers->write : nullptr;
}

void prfInstallProfileHandlers(StepPage& page, Project& project, ProfileContext& context) {
    const ProfileReadFn read = prfReaderOf(page.category);
    const ProfileWriteFn write = prfWriterOf(page.category);
    if (read == nullptr || write == nullptr) {
        page.readProfile = nullptr;
        page.writeProfile = nullptr;
        return;
    }
    Project* p = &project;
    ProfileContext* c = &context;
    page.readProfile = [p, c, read](StepPage& target, const std::filesystem::path&, std::int32_t, std::int32_t type,
                                    ProjectEntry* entry) {
        ProfileIo io{*p, *c};
        return read(io, target, type, entry);
    };
    page.writeProfile = [p, c, write](StepPage& target, const std::filesystem::path&, std::int32_t type,
                                      ProjectEntry* entry) {
        ProfileIo io{*p, *c};
        return write(io, target, type, entry);
    };
}

}  // namespace qvp3
