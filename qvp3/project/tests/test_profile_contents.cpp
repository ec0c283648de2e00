#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "platform/ini_file.h"
#include "platform/text.h"
#include "platform_testing/file_bytes.h"
#include "profile_support.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;
using testing::FakePipeline;
using testing::ProfileStudio;
using testing::voiceKey;
using Shape = FakePipeline::Shape;
using C = StepCategory;

// Three staves of 2, 1 and 3 voices; the second is a percussion staff.
const Shape kScore{EntryKind::TvrXml, {2, 1, 3}, {1}, 1000};
// A MIDI file of three tracks after the conductor track.
const Shape kMidi{EntryKind::Midi, {1, 1, 2}, {}, 1000};

std::string lines(const IniSectionLines& section) {
    std::string out;
    for (const auto& [key, value] : section) out += key + "=" + value + ";";
    return out;
}

// Per step: sets every setting of the step away from its default, and shows
// the settings of the step as text.
struct StepCase {
    StepCategory step;
    const Shape* shape;
    std::function<void(Project&, ProjectEntry&)> set;
    std::function<std::string(const Project&, const ProjectEntry&)> show;
};

std::string showVoices(const ProjectEntry& e, const std::function<void(std::ostream&, int, int)>& voice) {
    std::ostringstream out;
    for (int s = 0; s < static_cast<int>(e.voiceCounts.size()); ++s) {
        for (int v = 0; v < e.voiceCounts[static_cast<std::size_t>(s)]; ++v) {
            out << s << "/" << v << ":";
            voice(out, s, v);
            out << " ";
        }
    }
    return out.str();
}

const std::vector<StepCase>& stepCases() {
    static const std::vector<StepCase> cases = {
        {C::Sls, &kScore,
         [](Project&, ProjectEntry& e) {
             e.states.setVoiceOnOff(0, 1, scorecore::kStateOff);
             e.voiceRecord(0, 1)->setMuted(true);
             e.states.setStaffOnOff(2, scorecore::kStateHidden, true);
             for (int v = 0; v < 3; ++v) e.voiceRecord(2, v)->setMuted(true);
         },
         [](const Project&, const ProjectEntry& e) {
             std::string staves;
             for (int s = 0; s < 3; ++s) staves += std::to_string(e.states.getStaffOnOff(s));
             return staves + " " + showVoices(e, [&](std::ostream& out, int s, int v) {
                        out << e.states.getVoiceOnOff(s, v) << e.voiceRecord(s, v)->muted();
                    });
         }},
        {C::Trp, &kScore,
         [](Project&, ProjectEntry& e) {
             for (VoicePlayRecord& r : e.voices) r.transposition = -3;
             e.TransposePercussion = 1;
         },
         [](const Project&, const ProjectEntry& e) {
             return std::to_string(e.TransposePercussion) + " " + showVoices(e, [&](std::ostream& out, int s, int v) {
                        out << int(e.voiceRecord(s, v)->transposition);
                    });
         }},
        {C::Chp, &kScore,
         [](Project&, ProjectEntry& e) {
             for (int s = 0; s < 3; ++s) {
                 for (int v = 0; v < e.voiceCounts[static_cast<std::size_t>(s)]; ++v) {
                     e.voiceInstrument(s, v)->Channel = static_cast<std::uint8_t>(3 + s);
                     e.voiceInstrument(s, v)->UserProgram = static_cast<std::uint8_t>(40 + v);
                     e.voiceRecord(s, v)->setChannel(3 + s);
                 }
             }
         },
         [](const Project&, const ProjectEntry& e) {
             return showVoices(e, [&](std::ostream& out, int s, int v) {
                 out << int(e.voiceInstrument(s, v)->Channel) << "," << int(e.voiceInstrument(s, v)->UserProgram) << ","
                     << e.voiceRecord(s, v)->channel();
             });
         }},
        {C::Vol, &kScore,
         [](Project&, ProjectEntry& e) {
             for (std::size_t i = 0; i < e.voices.size(); ++i) e.voices[i].volume = static_cast<std::int8_t>(60 + i);
         },
         [](const Project&, const ProjectEntry& e) {
             return showVoices(e, [&](std::ostream& out, int s, int v) { out << int(e.voiceRecord(s, v)->volume); });
         }},
        {C::Pan, &kScore,
         [](Project&, ProjectEntry& e) {
             for (std::size_t i = 0; i < e.voices.size(); ++i) e.voices[i].panorama = static_cast<std::int8_t>(20 + 9 * i);
         },
         [](const Project&, const ProjectEntry& e) {
             return showVoices(e, [&](std::ostream& out, int s, int v) { out << int(e.voiceRecord(s, v)->panorama); });
         }},
        {C::Prc, &kScore,
         [](Project&, ProjectEntry& e) {
             e.instruments[1][0].InstrumentId = "Snare";
             e.instruments[1][0].PercNote = 38;
         },
         [](const Project&, const ProjectEntry& e) {
             return e.instruments[1][0].InstrumentId + "," + std::to_string(e.instruments[1][0].PercNote);
         }},
        {C::Tmp, &kScore,
         [](Project&, ProjectEntry& e) {
             e.TempoIsRelative = 0;
             e.TempoRelative = 900;
             e.TempoAbsolute = 132;
         },
         [](const Project&, const ProjectEntry& e) {
             return std::to_string(e.TempoIsRelative) + "," + std::to_string(e.TempoRelative) + "," +
                    std::to_string(e.TempoAbsolute);
         }},
        {C::Tpp, &kScore,
         [](Project& p, ProjectEntry& e) {
             e.tempoCurve.minimum = 40;
             e.tempoCurve.maximum = 200;
             ASSERT_TRUE(p.stepPageServices().stpTempoCurveSetSpeed(e.tempoCurve, 3000));
             e.tempoCurve.showTempos = true;
             e.tempoCurve.fileTempos = false;
             e.tempoCurve.record = true;
         },
         [](const Project&, const ProjectEntry& e) {
             const TempoCurve& c = e.tempoCurve;
             std::ostringstream out;
             out << c.minimum << "," << c.maximum << "," << c.speed << "/" << c.speedDivisor << "/" << c.speedSteps
                 << "," << c.showTempos << c.fileTempos << c.record;
             return out.str();
         }},
        {C::Dyn, &kScore,
         [](Project&, ProjectEntry& e) {
             e.tuneSections.UseDynamic = 1;
             e.tuneSections.UseSwing = 0;
             e.tuneSections.UseTrills = 1;
             e.tuneSections.dynamic = {{"pp", "20"}, {"ff", "110"}};
             e.tuneSections.artic = {{"staccato", "50"}};
             e.tuneSections.trills = {{"speed", "8"}};
         },
         [](const Project&, const ProjectEntry& e) {
             const TuneSectionSet& t = e.tuneSections;
             return std::to_string(t.UseDynamic) + std::to_string(t.UseSwing) + std::to_string(t.UseTrills) + " " +
                    lines(t.dynamic) + " " + lines(t.artic) + " " + lines(t.trills);
         }},
        {C::Shv, &kMidi,
         [](Project&, ProjectEntry& e) {
             e.staffVelocity = {-5, 12, 0};
             e.staffVelocityRelative = {0, 1, 0};
         },
         [](const Project&, const ProjectEntry& e) {
             std::string out;
             for (std::size_t s = 0; s < 3; ++s) {
                 out += std::to_string(e.staffVelocity[s]) + "/" + std::to_string(e.staffVelocityRelative[s]) + " ";
             }
             return out;
         }},
        {C::Met, &kScore,
         [](Project&, ProjectEntry& e) {
             scorecore::CMetronom& m = e.metronome;
             m.CountIn = 3;
             m.Use = 0;
             m.Instrument = 37;
             m.Velocity = 70;
             m.FirstBeat = 0;
             m.Frequency = 2;
             m.Volume = 90;
             m.LastBeat = 0;
         },
         [](const Project&, const ProjectEntry& e) {
             const scorecore::CMetronom& m = e.metronome;
             std::ostringstream out;
             out << m.CountIn << int(m.Use) << "," << int(m.Instrument) << "," << int(m.Velocity) << int(m.FirstBeat)
                 << m.Frequency << "," << int(m.Volume) << m.LastBeat;
             return out.str();
         }},
        {C::Ein, &kScore,
         [](Project&, ProjectEntry& e) {
             scorecore::CEinstimmung& t = e.tuneUp;
             t.Type = 1;
             t.Duration = 2500;
             t.Zerlegt = 0;
             t.Tempo = 3;
             t.Sounding = 0;
             t.Volume = 80;
             t.Instrument = 19;
             t.ChordGrundton = 7;
             t.ChordDurMoll = 0;
             t.ChordOctave = 4;
             t.FirstNotesFromTop = 1;
             t.addSelectedVoice(voiceKey(0, 1));
             t.addSelectedVoice(voiceKey(2, 2));
         },
         [](const Project&, const ProjectEntry& e) {
             const scorecore::CEinstimmung& t = e.tuneUp;
             std::ostringstream out;
             out << t.Type << "," << t.Duration << "," << int(t.Zerlegt) << t.Tempo << int(t.Sounding) << ","
                 << int(t.Volume) << "," << t.Instrument << "," << t.ChordGrundton << t.ChordDurMoll << t.ChordOctave
                 << int(t.FirstNotesFromTop) << " voices " << t.FirstNotesVoiceNum << ":";
             for (const std::int32_t key : t.voices) out << " " << key;
             return out.str();
         }},
        {C::Pwc, &kScore,
         [](Project&, ProjectEntry& e) {
             e.Reverb = "Großer Saal";
             e.ReverbType = 2;
             e.MWConversionMethod = 0;
             e.SamplePlayer = "Strings";
             e.OutDevSampler = "ALSA default";
             e.samplerSetupName = "Setup A";
             e.samplerSetupType = 0;
             for (std::uint8_t b = 1; b <= 40; ++b) e.samplerSetup.push_back(b);
         },
         [](const Project&, const ProjectEntry& e) {
             std::ostringstream out;
             out << e.Reverb << "/" << e.ReverbType << "," << e.MWConversionMethod << "," << e.SamplePlayer << "/"
                 << e.samplerIndex << "," << e.OutDevSampler << "," << e.samplerSetupName << "/"
                 << int(e.samplerSetupType) << "/" << e.samplerSetup.size() << "/"
                 << (e.samplerSetup.empty() ? 0 : int(e.samplerSetup.back()));
             return out.str();
         }},
        {C::Brn, &kScore,
         [](Project& p, ProjectEntry&) {
             p.burnMethod = 2;
             p.burningSpeed = 16;
             p.cdCopies = 3;
             p.openTray = 0;
             p.burnProof = 1;
             for (std::size_t i = 0; i < p.mp3Config.size(); ++i) p.mp3Config[i] = static_cast<std::uint8_t>(i * 3);
         },
         [](const Project& p, const ProjectEntry&) {
             std::ostringstream out;
             out << p.burnMethod << "," << p.burningSpeed << "," << p.cdCopies << "," << int(p.openTray)
                 << int(p.burnProof) << "," << int(p.mp3Config[7]) << "," << int(p.mp3Config[330]);
             return out.str();
         }},
    };
    return cases;
}

TEST(ProfileContents, EveryStepTypeComesBackFromItsProfile) {
    ASSERT_EQ(stepCases().size(), 14u);
    for (const StepCase& c : stepCases()) {
        SCOPED_TRACE(std::string(stpCategoryCode(static_cast<int>(c.step))));
        platform::testing::TempFolder dir;
        ProfileStudio writer(dir.path());
        ProjectEntry& full = writer.addEntry(*c.shape);
        c.set(writer.project, full);
        const fs::path path = writer.save(c.step, &full);

        ProfileStudio reader(dir.path());
        ProjectEntry& fresh = reader.addEntry(*c.shape);
        const std::string before = c.show(reader.project, fresh);
        ASSERT_NE(before, c.show(writer.project, full)) << "the case sets nothing away from the defaults";
        EXPECT_TRUE(reader.apply(c.step, path, nullptr));
        EXPECT_EQ(c.show(reader.project, fresh), c.show(writer.project, full));
        EXPECT_TRUE(reader.shell.asked.empty());
    }
}

TEST(ProfileContents, AProfileOfAnotherStepIsRefusedWithoutATouch) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    ProjectEntry& entry = studio.addEntry(kScore);
    entry.voices[0].volume = 33;
    const fs::path volume = studio.save(C::Vol, &entry);
    entry.voices[0].volume = 100;
    // VOL and PAN share their functions; the step decides.
    testing::ListDouble list;
    studio.context.profileList = &list;
    list.addItem("test", volume);
    studio.context.selectedIndex = 0;
    EXPECT_FALSE(prfApplyProfile(studio.context, studio.page(C::Pan), &entry));
    EXPECT_FALSE(stpLoadProfile(studio.context, studio.page(C::Pan), volume, 127, static_cast<int>(C::Vol), &entry));
    EXPECT_EQ(entry.voices[0].volume, 100);
    EXPECT_TRUE(prfApplyProfile(studio.context, studio.page(C::Vol), &entry));
    EXPECT_EQ(entry.voices[0].volume, 33);
    studio.context.profileList = nullptr;
}

// Writes a profile file as the Windows program does: Windows-1252, CRLF.
void writeWindowsProfile(const fs::path& path, const std::string& utf8Body) {
    std::string text = platform::utf8ToCp1252(utf8Body);
    std::string crlf;
    for (const char ch : text) {
        if (ch == '\n') crlf += '\r';
        crlf += ch;
    }
    platform::testing::writeBytes(path, crlf);
}

TEST(ProfileContents, ProfilesWrittenOnWindowsApplyWithTheirValues) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    ProjectEntry& entry = studio.addEntry(kScore, "Präludium.tvrx");
    const std::string header = "[qvp Profile File]\n=====================================================\n"
                               "Stop!!=Bitte nicht von Hand ändern!\n";
    writeWindowsProfile(dir.path() / "Profile00001.qvpprof",
                        header + "ProfileType=TMP\nProfileDesc=Langsamer üben\nProfileVersion=2\nProfileDataNum=3\n"
                                 "ProfileTempoRelative=1\nProfileRelativeVal=900\nProfileAbsoluteVal=-1\n");
    writeWindowsProfile(dir.path() / "Profile00002.qvpprof",
                        header + "ProfileType=MET\nProfileDesc=Klick leise\nProfileVersion=2\nProfileDataNum=8\n"
                                 "ProfileMetrCountIn=1\nProfileMetrFirstBeat=0\nProfileMetrFreq=2\n"
                                 "ProfileMetrInstr=76\nProfileMetrLastBeat=1\nProfileMetrUseIt=1\n"
                                 "ProfileMetrVelocity=40\nProfileMetrVolume=60\n");
    writeWindowsProfile(dir.path() / "Profile00003.qvpprof",
                        header + "ProfileType=PWC\nProfileDesc=Saal\nProfileVersion=2\nProfileDataNum=4\n"
                                 "ProfileConfHall=Großer Saal\nProfileConfHallTyp=1\nProfileConfType=0\n"
                                 "ProfileConfSampler=\nProfileConfSamplerOut=\nsmpAssignmentName=\n"
                                 "smpAssignmentType=1\n");
    writeWindowsProfile(dir.path() / "Profile00004.qvpprof",
                        header + "ProfileType=VOL\nProfileDesc=Sopran vorn\nProfileVersion=2\nProfileDataNum=127\n"
                                 "ProfileStaffNum=3\nProfileStaff001Voice001Vol=110\nProfileStaff001Voice002Vol=60\n"
                                 "ProfileStaff003Voice003Vol=0\n");

    struct Case {
        const char* file;
        StepCategory step;
        int dataNum;
    } cases[] = {{"Profile00001.qvpprof", C::Tmp, 3},
                 {"Profile00002.qvpprof", C::Met, 8},
                 {"Profile00003.qvpprof", C::Pwc, 4},
                 {"Profile00004.qvpprof", C::Vol, 127}};
    for (const Case& c : cases) {
        EXPECT_EQ(prfReadProfileType(dir.path() / c.file), static_cast<int>(c.step)) << c.file;
        EXPECT_TRUE(studio.apply(c.step, dir.path() / c.file, &entry)) << c.file;
    }
    EXPECT_EQ(entry.TempoRelative, 900);
    EXPECT_EQ(entry.TempoIsRelative, 1);
    EXPECT_EQ(entry.TempoAbsolute, -1);
    const scorecore::CMetronom& m = entry.metronome;
    EXPECT_EQ(m.CountIn, 1);
    EXPECT_EQ(m.FirstBeat, 0);
    EXPECT_EQ(m.Frequency, 2);
    EXPECT_EQ(m.Instrument, 76);
    EXPECT_EQ(m.Velocity, 40);
    EXPECT_EQ(m.Volume, 60);
    EXPECT_EQ(entry.Reverb, "Großer Saal");
    EXPECT_EQ(entry.ReverbType, 1);
    EXPECT_EQ(entry.voiceRecord(0, 0)->volume, 110);
    EXPECT_EQ(entry.voiceRecord(0, 1)->volume, 60);
    EXPECT_EQ(entry.voiceRecord(1, 0)->volume, 100);  // no key: kept
    EXPECT_EQ(entry.voiceRecord(2, 2)->volume, 0);

    const fs::path first = dir.path() / "Profile00001.qvpprof";
    EXPECT_EQ(prfGetProfileDesc(studio.context, &first, 0), "Langsamer üben");
}

TEST(ProfileContents, AUtf16ProfileFromWindowsAppliesToo) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    ProjectEntry& entry = studio.addEntry(kScore);
    const std::string text = "[qvp Profile File]\r\nProfileType=TRP\r\nProfileDesc=Quarte tiefer – Ξ\r\n"
                             "ProfileVersion=2\r\nProfileDataNum=2\r\nProfileTransposeValue=-5\r\n"
                             "ProfileTransposePercussion=1\r\n";
    platform::testing::writeBytes(dir.path() / "Profile00001.qvpprof",
                                  "\xff\xfe" + platform::utf16ToLeBytes(platform::utf8ToUtf16(text)));
    EXPECT_TRUE(studio.apply(C::Trp, dir.path() / "Profile00001.qvpprof", &entry));
    for (const VoicePlayRecord& r : entry.voices) EXPECT_EQ(r.transposition, -5);
    EXPECT_EQ(entry.TransposePercussion, 1);
    const fs::path path = dir.path() / "Profile00001.qvpprof";
    EXPECT_EQ(prfGetProfileDesc(studio.context, &path, 0), "Quarte tiefer – Ξ");
}

TEST(ProfileContents, TheSoundConfigurationTakesTheSamplersCurrentSetup) {
    struct Case {
        int method;
        int qvoIndex;
        bool setupKeys;
        std::size_t blockSize;
    } cases[] = {
        {1, -1, true, 3},   // the sample player's setup is taken first
        {0, -1, true, 40},  // the entry's own
        {1, 0, false, 0},   // the sample library keeps its own setup
    };
    for (const Case& c : cases) {
        platform::testing::TempFolder dir;
        ProfileStudio studio(dir.path());
        ProjectEntry& entry = studio.addEntry(kScore);
        entry.MWConversionMethod = c.method;
        entry.samplerIndex = 0;
        entry.samplerSetup.assign(40, 9);
        studio.audio.samplerSetup = {1, 2, 3};
        studio.audio.qvoIndex = c.qvoIndex;
        const fs::path path = studio.save(C::Pwc, &entry);
        platform::IniDocument doc;
        ASSERT_EQ(doc.load(path), platform::IniStatus::Ok);
        EXPECT_EQ(doc.hasKey(kProfileSection, "smpAssignmentName"), c.setupKeys) << c.method << c.qvoIndex;
        EXPECT_EQ(doc.getInt(kProfileSection, "smpAssignment-ByteSize", 0), static_cast<int>(c.blockSize));
    }
}

TEST(ProfileContents, MissingDamagedOrOutOfRangeKeysLeaveTheirSettingsAndTheRestApplies) {
    struct Case {
        const char* why;
        const char* key;
        const char* value;  // null: the key is removed
    } cases[] = {
        {"missing", "ProfileMetrVelocity", nullptr},
        {"not a number", "ProfileMetrVelocity", "loud"},
        {"trailing junk", "ProfileMetrVelocity", "70x"},
        {"out of range", "ProfileMetrVelocity", "300"},
        {"negative", "ProfileMetrVelocity", "-1"},
        {"beyond int", "ProfileMetrVelocity", "99999999999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.why);
        platform::testing::TempFolder dir;
        ProfileStudio studio(dir.path());
        ProjectEntry& entry = studio.addEntry(kScore);
        entry.metronome.CountIn = 4;
        entry.metronome.Velocity = 70;
        entry.metronome.Volume = 90;
        const fs::path path = studio.save(C::Met, &entry);
        if (c.value) {
            platform::iniWriteString(path, kProfileSection, c.key, std::string_view(c.value));
        } else {
            platform::iniWriteString(path, kProfileSection, c.key, std::nullopt);
        }
        ProjectEntry& other = studio.addEntry(kScore);
        other.metronome.Velocity = 12;
        EXPECT_FALSE(studio.apply(C::Met, path, &other));
        EXPECT_EQ(other.metronome.Velocity, 12);
        EXPECT_EQ(other.metronome.CountIn, 4);  // before the bad key
        EXPECT_EQ(other.metronome.Volume, 90);  // after it
    }
}

TEST(ProfileContents, NoKeyReachesBeyondTheEntrysStavesVoicesOrInstruments) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    studio.shell.textAnswer = kIdYes;
    // A profile that claims far more than the entry has, keys included.
    std::string body = "[qvp Profile File]\nProfileType=VOL\nProfileDesc=big\nProfileVersion=2\nProfileDataNum=127\n"
                       "ProfileStaffNum=60\n";
    for (int s = 1; s <= 60; ++s) {
        for (int v = 1; v <= 9; ++v) {
            body += testing::staffVoiceKey(s, v, "Vol") + "=5\n";
        }
    }
    platform::testing::writeBytes(dir.path() / "big.qvpprof", body);
    ProjectEntry& entry = studio.addEntry(kScore);
    EXPECT_TRUE(studio.apply(C::Vol, dir.path() / "big.qvpprof", &entry));
    for (const VoicePlayRecord& r : entry.voices) EXPECT_EQ(r.volume, 5);
    EXPECT_EQ(studio.shell.asked.size(), 1u);

    // Percussion: more instruments claimed than the staff has.
    platform::testing::writeBytes(dir.path() / "perc.qvpprof",
                                  "[qvp Profile File]\nProfileType=PRC\nProfileDesc=p\nProfileVersion=2\n"
                                  "ProfileDataNum=127\nProfilePercStaveNum=1\nProfileStaff002MidiInstrNum=40\n"
                                  "ProfileStaff002MidiInstr001Id=Kick\nProfileStaff002MidiInstr001Note=36\n"
                                  "ProfileStaff002MidiInstr002Id=Snare\nProfileStaff002MidiInstr002Note=38\n");
    EXPECT_TRUE(studio.apply(C::Prc, dir.path() / "perc.qvpprof", &entry));
    ASSERT_EQ(entry.instruments[1].size(), 1u);
    EXPECT_EQ(entry.instruments[1][0].InstrumentId, "Kick");
    EXPECT_EQ(entry.instruments[1][0].PercNote, 36);

    // Velocities of a MIDI file: more tracks claimed than it has.
    ProjectEntry& midi = studio.addEntry(kMidi, "Song.mid");
    std::string shv = "[qvp Profile File]\nProfileType=SHV\nProfileDesc=v\nProfileVersion=2\nProfileDataNum=127\n"
                      "ProfileOnlyForMidi=1\nProfileStaffNum=30\n";
    for (int s = 1; s <= 30; ++s) {
        shv += "ProfileStaff" + std::string(s < 10 ? "00" : "0") + std::to_string(s) + "VelocRel=1\n";
        shv += "ProfileStaff" + std::string(s < 10 ? "00" : "0") + std::to_string(s) + "VelocAdd=-7\n";
    }
    platform::testing::writeBytes(dir.path() / "shv.qvpprof", shv);
    EXPECT_TRUE(studio.apply(C::Shv, dir.path() / "shv.qvpprof", &midi));
    EXPECT_EQ(midi.staffVelocity, (std::vector<std::int8_t>{-7, -7, -7}));

    // Tune-up voices of staves and voices the entry does not have are dropped.
    platform::testing::writeBytes(dir.path() / "ein.qvpprof",
                                  "[qvp Profile File]\nProfileType=EIN\nProfileDesc=e\nProfileVersion=2\n"
                                  "ProfileDataNum=13\nProfileEinType=1\nProfileEinFirstNotesVoiceNum=3\n"
                                  "ProfileEinFirstNotesVoices=" +
                                      std::to_string(voiceKey(0, 1)) + " " + std::to_string(voiceKey(7, 0)) + " " +
                                      std::to_string(voiceKey(1, 4)) + "\n");
    ProjectEntry& score = studio.project.entries[0];
    EXPECT_FALSE(studio.apply(C::Ein, dir.path() / "ein.qvpprof", &score));  // the other keys are missing
    EXPECT_EQ(score.tuneUp.voices, (std::vector<std::int32_t>{voiceKey(0, 1)}));
    EXPECT_EQ(score.tuneUp.FirstNotesVoiceNum, 1);
}

TEST(ProfileContents, AProfileForMoreStavesAsksOnceAndNoChangesNothing) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    ProjectEntry& four = studio.addEntry(Shape{EntryKind::TvrXml, {1, 1, 1, 1}, {}, 1000}, "Quartett.tvrx");
    for (int s = 0; s < 4; ++s) {
        four.states.setStaffOnOff(s, scorecore::kStateOff, true);
        four.voices[static_cast<std::size_t>(s)].volume = static_cast<std::int8_t>(10 + s);
    }
    const fs::path sls = studio.save(C::Sls, &four);
    for (int s = 0; s < 4; ++s) four.states.setStaffOnOff(s, scorecore::kStateOn, true);
    const fs::path vol = studio.save(C::Vol, &four);

    for (const int answer : {kIdNo, kIdYes}) {
        SCOPED_TRACE(answer == kIdYes ? "Yes" : "No");
        ProfileStudio target(dir.path());
        target.shell.textAnswer = answer;
        target.addEntry(Shape{EntryKind::TvrXml, {1, 2}, {}, 1000}, "Duo.tvrx");
        target.addEntry(Shape{EntryKind::TvrXml, {1, 2}, {}, 1000}, "Duo2.tvrx");
        ProjectEntry& two = target.project.entries[0];
        EXPECT_TRUE(target.apply(C::Sls, sls, &two));
        ASSERT_EQ(target.shell.asked.size(), 1u);
        EXPECT_EQ(target.shell.asked[0], "S351");
        const int expected = answer == kIdYes ? scorecore::kStateOff : scorecore::kStateOn;
        EXPECT_EQ(two.states.getStaffOnOff(0), expected);
        EXPECT_EQ(two.states.getStaffOnOff(1), expected);
        EXPECT_EQ(two.states.getVoiceOnOff(1, 1), expected);
        EXPECT_EQ(two.voiceRecord(1, 1)->muted(), answer == kIdYes);

        ProjectEntry& other = target.project.entries[1];
        EXPECT_TRUE(target.apply(C::Vol, vol, &other));
        EXPECT_EQ(target.shell.asked.size(), 2u);
        EXPECT_EQ(other.voiceRecord(0, 0)->volume, answer == kIdYes ? 10 : 100);
        EXPECT_EQ(other.voiceRecord(1, 0)->volume, answer == kIdYes ? 11 : 100);
        EXPECT_EQ(other.voiceRecord(1, 1)->volume, 100);  // the profile has no second voice there
    }
}

TEST(ProfileContents, TheTuneUpAsksOnlyForFirstNotesOfMoreVoicesThanSound) {
    struct Case {
        int type;
        int storedVoices;
        int answer;
        bool asks;
        int durationAfter;
    } cases[] = {
        {0, 3, kIdNo, false, 700},   // a chord does not care about voices
        {1, 3, kIdNo, true, 1000},   // No: Type taken, the rest kept
        {1, 3, kIdYes, true, 700},
        {1, 2, kIdNo, false, 700},
    };
    for (const Case& c : cases) {
        platform::testing::TempFolder dir;
        ProfileStudio studio(dir.path());
        studio.shell.textAnswer = c.answer;
        ProjectEntry& entry = studio.addEntry(Shape{EntryKind::TvrXml, {2, 1}, {}, 1000});
        entry.states.setStaffOnOff(1, scorecore::kStateOff, true);  // two voices sound
        platform::testing::writeBytes(
            dir.path() / "ein.qvpprof",
            "[qvp Profile File]\nProfileType=EIN\nProfileDesc=e\nProfileVersion=2\nProfileDataNum=13\n"
            "ProfileEinType=" + std::to_string(c.type) + "\nProfileEinDuration=700\n"
            "ProfileEinFirstNotesVoiceNum=" + std::to_string(c.storedVoices) + "\n");
        entry.tuneUp.Type = 2;
        studio.apply(C::Ein, dir.path() / "ein.qvpprof", &entry);
        EXPECT_EQ(studio.shell.asked.size(), c.asks ? 1u : 0u) << c.type << " " << c.storedVoices;
        EXPECT_EQ(entry.tuneUp.Type, c.type);
        EXPECT_EQ(entry.tuneUp.Duration, c.durationAfter);
    }
}

TEST(ProfileContents, AnEmptyTuneUpSelectionStaysEmpty) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    ProjectEntry& entry = studio.addEntry(kScore);
    entry.tuneUp.Type = 2;
    const fs::path path = studio.save(C::Ein, &entry);
    EXPECT_EQ(platform::iniGetString(path, kProfileSection, "ProfileEinFirstNotesVoices", ""), "0");
    entry.tuneUp.addSelectedVoice(voiceKey(2, 1));
    EXPECT_TRUE(studio.apply(C::Ein, path, &entry));
    EXPECT_TRUE(entry.tuneUp.voices.empty());
}

TEST(ProfileContents, VelocityProfilesBelongToMidiFiles) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    ProjectEntry& score = studio.addEntry(kScore);
    const fs::path fromScore = studio.save(C::Shv, &score);
    EXPECT_EQ(platform::iniGetString(fromScore, kProfileSection, "ProfileOnlyForMidi", ""), "0");
    ProjectEntry& midi = studio.addEntry(kMidi, "Song.mid");
    midi.staffVelocity = {4, 4, 4};
    const fs::path fromMidi = studio.save(C::Shv, &midi);

    ProjectEntry& otherMidi = studio.addEntry(kMidi, "Other.mid");
    ProjectEntry& scoreAgain = studio.project.entries[0];
    EXPECT_FALSE(studio.apply(C::Shv, fromMidi, &scoreAgain));
    EXPECT_TRUE(studio.apply(C::Shv, fromScore, &scoreAgain));
    EXPECT_FALSE(studio.apply(C::Shv, fromScore, &otherMidi));
    EXPECT_EQ(otherMidi.staffVelocity, (std::vector<std::int8_t>{0, 0, 0}));
}

TEST(ProfileContents, DynamicsTablesComeBackEvenWithoutTheThreeKeys) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    ProjectEntry& entry = studio.addEntry(kScore);
    entry.tuneSections.dynamic = {{"mf", "80"}};
    entry.tuneSections.UseDynamic = 1;
    const fs::path path = studio.save(C::Dyn, &entry);
    for (const char* key : {"ProfileDYNDynamic", "ProfileDYNRhythms", "ProfileDYNTrills"}) {
        platform::iniWriteString(path, kProfileSection, key, std::nullopt);
    }
    ProjectEntry& other = studio.addEntry(kScore);
    other.tuneSections.UseTrills = 1;
    EXPECT_TRUE(studio.apply(C::Dyn, path, &other));
    EXPECT_EQ(lines(other.tuneSections.dynamic), "mf=80;");
    EXPECT_EQ(other.tuneSections.UseTrills, 0);  // missing counts as off
    EXPECT_EQ(studio.pipeline.calls.back(), "get sections");
}

TEST(ProfileContents, ExportProfilesKeepTheEncoderSettingsUnlessTheyFit) {
    platform::testing::TempFolder dir;
    ProfileStudio studio(dir.path());
    const fs::path path = studio.save(C::Brn, nullptr);
    platform::IniDocument doc;
    ASSERT_EQ(doc.load(path), platform::IniStatus::Ok);
    doc.deleteKey(kProfileSection, "ProfileBurnCopies");
    const std::vector<std::uint8_t> shorter(100, 0xAB);
    doc.setStruct(kProfileSection, "ProfileBurnMP3", shorter);
    doc.setInt(kProfileSection, "ProfileBurnMP3-ByteSize", 100);
    ASSERT_EQ(doc.save(path), platform::IniStatus::Ok);

    ProfileStudio other(dir.path());
    other.project.cdCopies = 5;
    const Mp3Config before = other.project.mp3Config;
    EXPECT_TRUE(other.apply(C::Brn, path, nullptr));
    EXPECT_EQ(other.project.cdCopies, -1);
    EXPECT_EQ(other.project.mp3Config, before);
}

}  // namespace
}  // namespace qvp3
