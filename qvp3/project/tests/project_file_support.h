// Helpers of the project file tests: a project with test neighbours, the
// fixtures, and a text form of everything a project file carries, so that two
// projects compare as one string (and a difference shows as a diff).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <span>
#include <sstream>
#include <string>

#include "neighbour_doubles.h"
#include "platform/files.h"
#include "platform_testing/temp_folder.h"
#include "qvp3_project/project_file.h"
#include "platform_testing/file_bytes.h"

namespace qvp3::testing {

using platform::testing::readBytes;
using platform::testing::writeBytes;

namespace fs = std::filesystem;

inline const fs::path kProjectData = QVP3_TEST_DATA_DIR;

// A loader that also records the source's last-write time, as the real one does.
class DatedPipeline : public FakePipeline {
public:
    int cnvOpenEntry(ProjectEntry& entry, int fileNumber, Project& project) override {
        const fs::path file = entry.Filename;
        const int result = FakePipeline::cnvOpenEntry(entry, fileNumber, project);
        if (result == 0) project.entries.back().modDate = platform::fileTimeOf(file).value_or(0);
        return result;
    }
};

// A project with its neighbours (which outlive it).
struct Studio {
    DatedPipeline pipeline;
    FakeAudioEngine audio;
    FakeShell shell;
    FakeStepPages pages;
    Project project{Neighbours{&pipeline, &audio, &shell, &pages}};
    std::vector<std::int32_t> codes;
    std::vector<std::string> names;

    bool read(const fs::path& path, bool checkDates = false) {
        return prjReadFile(project, path, checkDates, codes, names);
    }
};

// The shapes the loader gives the sources of the Windows-made fixtures.
inline void shapeFixtureSources(Studio& studio) {
    using Shape = FakePipeline::Shape;
    studio.pipeline.shapes["Menuett.mid"] = Shape{EntryKind::Midi, {1, 1}, {}, 61000};
    studio.pipeline.shapes["Präludium.tvr"] = Shape{EntryKind::BinaryScore, {2, 1}, {}, 93000};
    studio.pipeline.shapes["Sonate.tvrx"] = Shape{EntryKind::TvrXml, {2}, {}, 244000};
    studio.pipeline.shapes["Rhythmus.tvrx"] = Shape{EntryKind::TvrXml, {1, 2}, {1}, 30000};
    studio.pipeline.shapes["Messe.tvrx"] = Shape{EntryKind::TvrXml, {2}, {}, 300000};
    studio.audio.effects = {"Kleiner Raum", "Großer Saal"};
    studio.audio.presentInstruments = 2;
}

// Copies a fixture into folder under name, with its sources beside it.
inline fs::path placeFixture(const fs::path& folder, const std::string& fixture, const std::string& name,
                             std::initializer_list<const char*> sources) {
    const fs::path file = folder / name;
    writeBytes(file, readBytes(kProjectData / fixture));
    for (const char* source : sources) writeBytes(folder / fs::u8path(source), std::string("source ") + source);
    return file;
}

inline const std::initializer_list<const char*> kWindowsSources = {"Menuett.mid", "Präludium.tvr", "Sonate.tvrx",
                                                                   "Rhythmus.tvrx"};

inline std::string digest(std::span<const std::uint8_t> bytes) {
    std::uint64_t hash = 1469598103934665603ull;
    for (const std::uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
    return std::to_string(bytes.size()) + "#" + std::to_string(hash);
}

inline void describeLines(std::ostream& out, const char* name, const IniSectionLines& lines) {
    out << "  " << name << ":";
    for (const auto& [key, value] : lines) out << " " << key << "=" << value;
    out << "\n";
}

inline void describeEntry(std::ostream& out, const ProjectEntry& e) {
    out << "entry " << e.Filename.string() << " orig=" << e.FilenameOrig.string()
        << " kind=" << static_cast<int>(e.kind) << " mod=" << e.modDate << "\n";
    out << "  pause=" << e.Pause << " qvo=" << int(e.ConvertForQvo) << " method=" << e.MWConversionMethod
        << " sampler=" << e.SamplePlayer << "/" << e.samplerIndex << " out=" << e.OutDevSampler
        << " reverb=" << e.Reverb << "/" << e.ReverbType << "/" << digest(e.reverbData) << "\n";
    out << "  tempo=" << e.TempoAbsolute << "/" << e.TempoRelative << "/" << int(e.TempoIsRelative)
        << " transposePerc=" << int(e.TransposePercussion) << " staves=" << e.staveCount << " tracks=" << e.trackCount
        << "\n";
    for (std::size_t s = 0; s < e.voiceCounts.size(); ++s) {
        const int staff = static_cast<int>(s);
        out << "  staff " << s << " state=" << e.states.getStaffOnOff(staff);
        if (s < e.staffVelocity.size()) {
            out << " velocity=" << int(e.staffVelocity[s]) << "/" << int(e.staffVelocityRelative[s]);
        }
        out << "\n";
        for (int v = 0; v < e.voiceCounts[s]; ++v) {
            const VoicePlayRecord* r = e.voiceRecord(staff, v);
            out << "    voice " << v << " state=" << e.states.getVoiceOnOff(staff, v);
            if (r) {
                out << " vol=" << int(r->volume) << " pan=" << int(r->panorama) << " sound=" << int(r->sound)
                    << " transpose=" << int(r->transposition) << " flags=" << int(r->flags);
            }
            out << "\n";
        }
        if (s < e.instruments.size()) {
            for (const scorecore::CMidiInstr& i : e.instruments[s]) {
                out << "    instrument '" << i.InstrumentId << "' note=" << int(i.PercNote)
                    << " program=" << int(i.UserProgram) << " channel=" << int(i.Channel) << "\n";
            }
        }
    }
    out << "  tracks:";
    for (const std::string& name : e.trackNames) out << " '" << name << "'";
    out << "\n";
    describeLines(out, "dynamic", e.tuneSections.dynamic);
    describeLines(out, "artic", e.tuneSections.artic);
    describeLines(out, "trills", e.tuneSections.trills);
    out << "  use=" << int(e.tuneSections.UseDynamic) << int(e.tuneSections.UseSwing) << int(e.tuneSections.UseTrills)
        << "\n";
    const scorecore::CMetronom& m = e.metronome;
    out << "  metronome " << m.CountIn << " " << int(m.Use) << " " << int(m.Instrument) << " " << int(m.Velocity) << " "
        << int(m.FirstBeat) << " " << int(m.Volume) << " " << m.Frequency << " " << m.LastBeat << "\n";
    const scorecore::CEinstimmung& t = e.tuneUp;
    out << "  tuneup " << t.ChordGrundton << " " << t.ChordDurMoll << " " << t.ChordOctave << " "
        << int(t.FirstNotesFromTop) << " " << t.Type << " " << t.Duration << " " << int(t.Zerlegt) << " " << t.Tempo
        << " " << int(t.Sounding) << " " << int(t.Volume) << " " << t.Instrument << " voices:";
    for (const std::int32_t key : t.voices) out << " " << key;
    out << "\n  qvo=" << digest(e.qvoAssignment) << " setup=" << e.samplerSetupName << "/" << int(e.samplerSetupType)
        << "/" << digest(e.samplerSetup) << "\n";
    const TempoCurve& c = e.tempoCurve;
    out << "  curve " << c.minimum << ".." << c.maximum << " speed=" << c.speed << "/" << c.speedDivisor << "/"
        << c.speedSteps << " flags=" << c.fileTempos << c.showTempos << c.record << " tempo=" << c.recordTempo
        << " points:";
    for (const TempoPoint& p : c.points[TempoCurve::kRecordedList]) {
        out << " " << p.position << "@" << p.tempo << "/" << p.time << "/" << p.extra << "/" << p.kind << "/" << p.tag;
    }
    out << "\n";
}

// Everything the project file carries, as text.
inline std::string describe(const Project& p) {
    std::ostringstream out;
    out << "title=" << p.data.ProjectTitle << "\ndescription=" << p.data.ProjectDescription
        << "\nfolder=" << p.data.ProjectFolder.string() << " cd=" << p.data.CDSpace
        << "\ncat=" << (p.CatInstrument ? "'" + *p.CatInstrument + "'" : std::string("none"))
        << " ensemble=" << p.CatEnsemble << "\ndirty=" << p.dirty << " step=" << p.currentStep
        << " addPath=" << int(p.addPath) << "\nmidi=" << int(p.midiOverwrite) << int(p.midiConvertAll)
        << int(p.removeMidis) << " wave=" << int(p.waveOverwrite) << int(p.waveConvertAll) << int(p.removeWaves)
        << " normalize=" << p.normalize << "\nburn=" << p.burnMethod << "/" << p.burningSpeed << "/" << p.cdCopies
        << "/" << int(p.openTray) << int(p.burnProof) << int(p.burnSimulate) << " mp3=" << digest(p.mp3Config) << " in "
        << p.mp3Folder.string() << "\n";
    for (const ProjectEntry& entry : p.entries) describeEntry(out, entry);
    return out.str();
}

}  // namespace qvp3::testing
