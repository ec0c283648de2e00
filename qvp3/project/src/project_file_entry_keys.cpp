#include <algorithm>
#include <array>

#include "project_file_internal.h"
#include "project_file_keys.h"
#include "qvp3_project/project_file.h"

namespace qvp3::prjfile {

namespace {

using E = ProjectEntry;
using P = EntryPart;
using Metronome = scorecore::CMetronom;
using TuneUp = scorecore::CEinstimmung;
using Switches = TuneSectionSet;

constexpr int kNoValue = INT_MIN;  // default of keys where every other value is legal

constexpr std::array kEntryKeys = {
    EntryKey{kSourceKey, P::Source, Form::SourceFile, inEntry<&E::Filename>, required(), Truth::One, kPrjNoFilename},
    EntryKey{kOriginalKey, P::Source, Form::OriginalFile, inEntry<&E::FilenameOrig>},
    EntryKey{"ModDate", P::Source, Form::ModDate, inEntry<&E::modDate>},

    EntryKey{"Pause", P::Conversion, Form::Int, inEntry<&E::Pause>, orFallback(-1, 2), Truth::One, kPrjNoPause},
    EntryKey{"ConvertForQvo", P::Conversion, Form::Flag, inEntry<&E::ConvertForQvo>, plain(1)},
    EntryKey{"MWConversionMethod", P::Conversion, Form::ConversionMethod, inEntry<&E::MWConversionMethod>, plain(0)},

    EntryKey{"SamplePlayer", P::Sampler, Form::SamplerName, inEntry<&E::SamplePlayer>},
    EntryKey{"OutDevSampler", P::Sampler, Form::RawText, inEntry<&E::OutDevSampler>},
    EntryKey{"Reverb", P::Sampler, Form::ReverbName, inEntry<&E::Reverb>},
    EntryKey{"ReverbType", P::Sampler, Form::Int, inEntry<&E::ReverbType>, plain(-1)},
    EntryKey{"ReverbData", P::Sampler, Form::ReverbData, inEntry<&E::reverbData>},
    EntryKey{"ReverbDataSize", P::Sampler, Form::ReverbDataSize, nullptr, plain(-1)},

    // Older files kept one volume per staff; it starts the voices' running volume.
    EntryKey{"Stave_##_Volume", P::Staff, Form::StaffVolume, nullptr, within(-1, -1, 127, -1)},
    EntryKey{"Stave_##_MidiInstrNum", P::Percussion, Form::InstrumentCount, nullptr, orKeep(-1)},
    EntryKey{"Stave_##_MidiInstr #", P::Percussion, Form::Instrument},
    EntryKey{"Staff##_Voice#_Panorama", P::Voice, Form::VoicePanorama, nullptr, within(-1, 0, 127, 64)},
    // A voice without a volume takes the one before it.
    EntryKey{"Staff##_Voice#_Volume", P::Voice, Form::VoiceVolume, nullptr, withinOrKeep(-1, 0, 127)},
    // A voice without a valid state plays.
    EntryKey{"Stave_##_Voice#_On/Off", P::Voice, Form::VoiceState, nullptr,
             within(scorecore::kStateInvalid, scorecore::kStateHidden, scorecore::kStateOn, scorecore::kStateOn)},
    EntryKey{"Stave##_Voice#_Channel", P::Voice, Form::VoiceChannel, nullptr, withinOrKeep(-1, 0, 15)},
    EntryKey{"Stave##_Voice#_Sound", P::Voice, Form::VoiceSound, nullptr, withinOrKeep(-1, 0, 254)},
    EntryKey{"Track####_Velocity", P::Track, Form::TrackVelocity, nullptr, orKeep(kNoValue)},
    EntryKey{"Track####_VelocityRelativ", P::Track, Form::TrackRelative},

    EntryKey{"Transpose", P::Transposition, Form::Transpose, nullptr, {100, true, -127, 127, Missing::Fallback, 0},
             Truth::One, kPrjNoTranspose},
    EntryKey{"TransposePercussion", P::Transposition, Form::Flag, inEntry<&E::TransposePercussion>, plain(0)},

    EntryKey{"TempoAbsolute", P::Tempo, Form::Int, inEntry<&E::TempoAbsolute>, orKeep(-2), Truth::One,
             kPrjTempoMissing},
    EntryKey{"TempoRelative", P::Tempo, Form::RelativeTempo, inEntry<&E::TempoRelative>, orFallback(kNoValue, 1000),
             Truth::One, kPrjTempoMissing},
    EntryKey{"TempoIsRelative", P::Tempo, Form::Flag, inEntry<&E::TempoIsRelative>, orKeep(-1), Truth::NotZero,
             kPrjTempoMissing},

    EntryKey{"|ctDynamic", P::Switches, Form::SwitchTable, inEntry<&E::tuneSections, &Switches::dynamic>, {},
             Truth::One, 0, kGroupDynamic},
    EntryKey{"|ctArtic", P::Switches, Form::SwitchTable, inEntry<&E::tuneSections, &Switches::artic>, {}, Truth::One,
             0, kGroupArtic},
    EntryKey{"|ctTrills", P::Switches, Form::SwitchTable, inEntry<&E::tuneSections, &Switches::trills>, {},
             Truth::One, 0, kGroupTrills},
    // A missing switch reads as off.
    EntryKey{"|UseDynamic", P::Switches, Form::Flag, inEntry<&E::tuneSections, &Switches::UseDynamic>, plain(0)},
    EntryKey{"|UseSwing", P::Switches, Form::Flag, inEntry<&E::tuneSections, &Switches::UseSwing>, plain(0)},
    EntryKey{"|UseTrills", P::Switches, Form::Flag, inEntry<&E::tuneSections, &Switches::UseTrills>, plain(0)},

    EntryKey{"NameOfTrack####", P::TrackNames, Form::TrackName},

    // 255 stands for "not set" in the data bytes; so does anything that is no MIDI data byte.
    EntryKey{"MetrCountIn", P::Metronome, Form::Int, inEntry<&E::metronome, &Metronome::CountIn>, orFallback(-1, 2),
             Truth::One, kPrjMetronomeMissing},
    EntryKey{"MetrUseIt", P::Metronome, Form::Flag, inEntry<&E::metronome, &Metronome::Use>, orKeep(-1), Truth::One,
             kPrjMetronomeMissing},
    EntryKey{"MetrNote", P::Metronome, Form::Int, inEntry<&E::metronome, &Metronome::Instrument>,
             within(-1, 0, 127, 42), Truth::One, kPrjMetronomeMissing},
    EntryKey{"MetrVelocity", P::Metronome, Form::Int, inEntry<&E::metronome, &Metronome::Velocity>,
             within(-1, 0, 127, 85), Truth::One, kPrjMetronomeMissing},
    EntryKey{"MetrFirstBeat", P::Metronome, Form::Flag, inEntry<&E::metronome, &Metronome::FirstBeat>, orKeep(-1),
             Truth::One, kPrjMetronomeMissing},
    EntryKey{"MetrVolume", P::Metronome, Form::Int, inEntry<&E::metronome, &Metronome::Volume>,
             within(-1, 0, 127, 127), Truth::One, kPrjMetronomeMissing},
    EntryKey{"MetrFrequ", P::Metronome, Form::Int, inEntry<&E::metronome, &Metronome::Frequency>, plain(0)},
    EntryKey{"MetrFrequLastBeat", P::Metronome, Form::Flag, inEntry<&E::metronome, &Metronome::LastBeat>, plain(0)},

    EntryKey{"EinstChordGrundton", P::TuneUp, Form::Int, inEntry<&E::tuneUp, &TuneUp::ChordGrundton>, plain(0)},
    EntryKey{"EinstChordDur", P::TuneUp, Form::Flag, inEntry<&E::tuneUp, &TuneUp::ChordDurMoll>, plain(1),
             Truth::NotZero},
    EntryKey{"EinstChordOctave", P::TuneUp, Form::Int, inEntry<&E::tuneUp, &TuneUp::ChordOctave>, plain(5)},
    EntryKey{"EinstChordNVoices", P::TuneUp, Form::TuneUpVoiceCount, nullptr, plain(-1)},
    EntryKey{"EinstChordVoices", P::TuneUp, Form::TuneUpVoices},
    EntryKey{"EinstChordFromTop", P::TuneUp, Form::Flag, inEntry<&E::tuneUp, &TuneUp::FirstNotesFromTop>, plain(0)},
    EntryKey{"EinstType", P::TuneUp, Form::Int, inEntry<&E::tuneUp, &TuneUp::Type>, plain(1)},
    EntryKey{"EinstDuration", P::TuneUp, Form::Int, inEntry<&E::tuneUp, &TuneUp::Duration>, plain(1000)},
    EntryKey{"EinstZerlegt", P::TuneUp, Form::Flag, inEntry<&E::tuneUp, &TuneUp::Zerlegt>, plain(1), Truth::NotZero},
    EntryKey{"EinstTempo", P::TuneUp, Form::Int, inEntry<&E::tuneUp, &TuneUp::Tempo>, plain(2)},
    EntryKey{"EinstSounding", P::TuneUp, Form::Flag, inEntry<&E::tuneUp, &TuneUp::Sounding>, plain(1), Truth::NotZero},
    EntryKey{"EinstVolume", P::TuneUp, Form::Int, inEntry<&E::tuneUp, &TuneUp::Volume>, within(100, 0, 127, 100)},
    EntryKey{"EinstSound", P::TuneUp, Form::Int, inEntry<&E::tuneUp, &TuneUp::Instrument>, plain(-1)},

    EntryKey{"qVoAssignment", P::Assignment, Form::PartBlock, inEntry<&E::qvoAssignment>},

    EntryKey{"TPPMinVal", P::TempoCurve, Form::Int, inEntry<&E::tempoCurve, &TempoCurve::minimum>, orKeep(kNoValue)},
    EntryKey{"TPPMaxVal", P::TempoCurve, Form::Int, inEntry<&E::tempoCurve, &TempoCurve::maximum>, orKeep(kNoValue)},
    EntryKey{"TPPSpeed", P::TempoCurve, Form::TempoSpeed, inEntry<&E::tempoCurve, &TempoCurve::speed>,
             orKeep(kNoValue)},
    EntryKey{"TPPFileTempos", P::TempoCurve, Form::Flag, inEntry<&E::tempoCurve, &TempoCurve::fileTempos>,
             orKeep(kNoValue), Truth::NotZero},
    EntryKey{"TPPShowTempos", P::TempoCurve, Form::Flag, inEntry<&E::tempoCurve, &TempoCurve::showTempos>,
             orKeep(kNoValue), Truth::NotZero},
    EntryKey{"TPPRecord", P::TempoCurve, Form::Flag, inEntry<&E::tempoCurve, &TempoCurve::record>, orKeep(kNoValue),
             Truth::NotZero},
    EntryKey{"TPPTempoValSize", P::TempoCurve, Form::TempoPointSize, nullptr,
             plain(static_cast<int>(kOldTempoPointSize))},
    EntryKey{"TPPRecTempoNum", P::TempoCurve, Form::TempoPointCount, nullptr, plain(0)},
    EntryKey{"TPPRecTempos", P::TempoCurve, Form::TempoPoints},

    EntryKey{"smpAssignmentName", P::SamplerSetup, Form::RawText, inEntry<&E::samplerSetupName>},
    EntryKey{"smpAssignmentType", P::SamplerSetup, Form::Flag, inEntry<&E::samplerSetupType>, plain(1)},
    EntryKey{"smpAssignment", P::SamplerSetup, Form::Blob, inEntry<&E::samplerSetup>},
};

// A part's keys stand together, so that each part is one span of the table.
constexpr bool partsStandTogether() {
    for (std::size_t i = 1; i < kEntryKeys.size(); ++i) {
        if (kEntryKeys[i].part == kEntryKeys[i - 1].part) continue;
        for (std::size_t j = 0; j < i; ++j) {
            if (kEntryKeys[j].part == kEntryKeys[i].part) return false;
        }
    }
    return true;
}
static_assert(partsStandTogether());

// The forms entryKey() looks up belong to one key each.
constexpr bool onlyOnce(Form form) {
    return std::count_if(kEntryKeys.begin(), kEntryKeys.end(), [&](const EntryKey& k) { return k.form == form; }) == 1;
}
static_assert(onlyOnce(Form::ReverbDataSize) && onlyOnce(Form::TrackRelative) && onlyOnce(Form::TuneUpVoiceCount) &&
              onlyOnce(Form::TempoPointSize) && onlyOnce(Form::TempoPointCount));

}  // namespace

std::span<const EntryKey> entryKeys() { return kEntryKeys; }

std::span<const EntryKey> entryPart(EntryPart part) {
    const auto inPart = [&](const EntryKey& key) { return key.part == part; };
    const auto first = std::find_if(kEntryKeys.begin(), kEntryKeys.end(), inPart);
    return {first, std::find_if_not(first, kEntryKeys.end(), inPart)};
}

const EntryKey& entryKey(Form form) {
    return *std::find_if(kEntryKeys.begin(), kEntryKeys.end(), [&](const EntryKey& key) { return key.form == form; });
}

}  // namespace qvp3::prjfile
