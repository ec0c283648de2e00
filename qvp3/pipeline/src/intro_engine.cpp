// The intro of a score: the tune-up's and the count-in's item lists, handed
// to the score engine, which plays and renders them before the music.
#include <algorithm>
#include <cmath>
#include <vector>

#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/intro_player.h"
#include "qvp3_pipeline/sequencer.h"
#include "qvp3_project/project.h"
#include "scorecore/player_items.h"

namespace qvp3 {
namespace {

using scorecore::CPlayerItem;

constexpr int kEngineTicksPerQuarter = scorecore::kTuneUpTicksPerQuarter;  // 384
constexpr int kOptionQuery = 63;
constexpr int kClickList = 123;
constexpr int kIntroList = 95;
constexpr int kTimeValues = 98;
constexpr int kStatusQuery = 55;
constexpr int kVoiceRead = 124;
constexpr int kVoiceWrite = 125;
constexpr std::int32_t kClickThroughout = 0x7FFFFFFF;
constexpr std::uint8_t kPercussionSound = 129;

std::uint64_t features(const ProjectEntry& entry) { return entry.project != nullptr ? entry.project->playFeatures : 0; }

// Hands a list over (an empty one clears); the engine copies it.
int handOver(CTavtuneLib& engine, int entryPoint, const std::vector<CPlayerItem>& items, tvWord a = 0, tvWord b = 0,
             tvWord c = 0) {
    const std::vector<std::uint8_t> bytes = scorecore::playerItemBytes(items);
    const tvItemList list{static_cast<std::int32_t>(items.size()), bytes.data()};
    const tvWord address = items.empty() ? 0 : reinterpret_cast<tvWord>(&list);
    return static_cast<int>(engine.call(entryPoint, address, a, b, c));
}

// Ticks from the start of the list to the end of its last lane.
std::int64_t listLength(const std::vector<CPlayerItem>& items) {
    std::int64_t length = 0;
    std::int64_t cursor = 0;
    for (const CPlayerItem& item : items) {
        if (item.kind == scorecore::kItemMarker) {
            if (item.data1 == scorecore::kMarkerEnd) {
                length = std::max(length, cursor);
            } else {
                cursor = std::max(item.value, 0);
            }
        } else if (item.isNote()) {
            cursor += std::max<int>(item.noteTicks(), 0);
        } else {
            cursor += std::max(item.value, 0);
        }
    }
    return std::max(length, cursor);
}

// Writes the tune-up voice's record of the engine: the sound, volume and channel it plays with.
void setTuneUpVoice(CTavtuneLib& engine, int sound, int volume, int channel) {
    tvVoiceRecord record;
    tvVoiceRecordInit(&record, 0, TAVTUNE_TUNE_UP_VOICE);
    engine.call(kVoiceRead, &record, -1);
    record.sound = static_cast<std::uint8_t>(sound);
    record.volume = static_cast<std::uint8_t>(std::clamp(volume, 0, 127));
    record.panorama = 0;
    record.channel = static_cast<std::uint8_t>(channel);
    engine.call(kVoiceWrite, &record, -1);
}

}  // namespace

bool plyBuildCountInItems(ProjectEntry& entry, CTavtuneLib& engine, std::int32_t value, std::int32_t countInStart) {
    if (!isScoreKind(entry.kind)) return true;
    tvRequest request{};
    if (engine.call(kStatusQuery, &request, TAVTUNE_REQUEST_METER) != 0) return false;
    const int ticksPerBeat = request.reserved1[0];
    const int ticksPerBar = request.reserved1[1];
    if (ticksPerBeat <= 0 || ticksPerBar < ticksPerBeat) return false;
    const int unitIndex = scorecore::CMeter::unitToIndex(kEngineTicksPerQuarter * 4 / ticksPerBeat);
    scorecore::CMeter meter;
    meter.init(kEngineTicksPerQuarter, ticksPerBar / ticksPerBeat, unitIndex);
    scorecore::CMetronom& metronome = entry.metronome;
    if (!metronome.buildBarClicks(meter)) return false;
    const bool throughout = (features(entry) & kPlayMetronome) != 0 && metronome.Use != 0;
    const std::int32_t start = throughout ? 0 : std::clamp(metronome.CountIn, 0, 64) * meter.ticksPerBar;
    handOver(engine, kClickList, metronome.barClickItems, start, throughout ? kClickThroughout : 0, value);
    return metronome.buildCountIn(meter, countInStart);
}

bool plyBuildTuneUpItems(ProjectEntry& entry, CTavtuneLib& engine, std::int32_t start, std::int32_t offset) {
    (void)offset;
    scorecore::CEinstimmung& tuneUp = entry.tuneUp;
    if (tuneUp.Type == 2) {
        if (!tuneUp.buildChordItems(start)) return false;
    }
    if (tuneUp.Type == 2 || tuneUp.Instrument >= 0) {
        setTuneUpVoice(engine, std::max(tuneUp.Instrument, 0), tuneUp.Volume, 0);
    }
    if (tuneUp.Type != 1) return true;
    const PipelineEntryModel* model = cnvEntryModelIf(entry);
    const auto n = static_cast<int>(tuneUp.voices.size());
    for (int k = 0; k < n; ++k) {
        const std::int32_t key = tuneUp.voices[static_cast<std::size_t>(tuneUp.FirstNotesFromTop ? k : n - 1 - k)];
        const int stave = key & 0xFFFF;
        const int voice = static_cast<int>(static_cast<std::uint32_t>(key) >> 16);
        if (!entry.states.isVoiceOn(stave, voice)) continue;
        int index = cnvEntryNextEventOfKind(entry, stave, voice, -1, scorecore::kKindNote);
        if (index < 0) index = cnvEntryNextEventOfKind(entry, stave, voice, -1, scorecore::kKindChord);
        if (index < 0 || model == nullptr) continue;
        if (!tuneUp.appendNoteItems((*model->list(stave, voice))[static_cast<std::size_t>(index)])) return false;
        if (entry.isPercussionStave(stave) && tuneUp.Instrument < 0) {
            setTuneUpVoice(engine, kPercussionSound, tuneUp.Volume, scorecore::kPercussionChannel);
        }
    }
    return true;
}

bool plySendIntroToEngine(ProjectEntry& entry, CTavtuneLib& engine) {
    if (!isScoreKind(entry.kind)) return true;
    engine.call(kOptionQuery);
    handOver(engine, kClickList, {});
    engine.call(kOptionQuery);
    handOver(engine, kIntroList, {});
    engine.call(kOptionQuery);
    const scorecore::CEinstimmung& tuneUp = entry.tuneUp;
    const bool wantTuneUp = (features(entry) & kPlayTuneUp) != 0 && tuneUp.Type != 0;
    const bool wantCountIn = (features(entry) & kPlayCountIn) != 0 && entry.metronome.CountIn > 0;
    if (!wantTuneUp && !wantCountIn) return true;
    double tempo = 0.0;
    double position = 0.0;
    double played = 0.0;
    engine.call(kTimeValues, &tempo, &position, &played);
    const auto wholeTempo = static_cast<std::int32_t>(std::lround(std::clamp(tempo, 1.0, 1000.0)));
    std::vector<CPlayerItem> items;
    if (wantTuneUp) {
        const int groups = tuneUp.Type == 2 ? 1 : static_cast<int>(tuneUp.voices.size());
        if (!entry.tuneUp.buildEvents(groups, wholeTempo)) return true;
        if (!plyBuildTuneUpItems(entry, engine, wholeTempo, 0)) return true;
        items = entry.tuneUp.eventList;
    }
    if (wantCountIn) {
        // The count-in follows the tune-up rather than sounding through it.
        const auto countInStart = static_cast<std::int32_t>(std::min<std::int64_t>(listLength(items), 0x7FFFFFFF));
        if (!plyBuildCountInItems(entry, engine, 0, countInStart)) return true;
        items.insert(items.end(), entry.metronome.countInItems.begin(), entry.metronome.countInItems.end());
    }
    handOver(engine, kIntroList, items);
    std::int32_t ms = 0;
    if (engine.GetPlayTime(ms) == kTavtuneOk) {
        entry.durationMs = ms;
        const PipelineEntryModel* model = cnvEntryModelIf(entry);
        if (model != nullptr && model->player.view != nullptr) model->player.view->setPositionRange(ms);
    }
    return true;
}

}  // namespace qvp3
