// The TvrXML-to-MusicXML conversion: every shared MusicXML score goes to a
// ".tvrx" file and back to MusicXML and must play the notes it played before;
// the written file is a well-formed partwise score; the progress reports, the
// stop word and broken sources leave the target as a host expects.
#include "tvrxml/vxml_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <iterator>
#include <thread>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "musicxml/convert_proc.h"
#include "musicxml/mxml_file.h"
#include "platform/message_target.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "play_test_support.h"
#include "scorecore/result_codes.h"
#include "scorecore/tvrx_container.h"
#include "scorecore/xml_dom.h"
#include "scorecore/vxml_file.h"
#include "scoreconv_testing/score_generator.h"

namespace scoreconv {
namespace {

namespace fs = std::filesystem;
using platform::testing::readBytes;
using platform::testing::writeBytes;
using scorecore::kOk;
using testing::PlayHarness;

// A sounding note of a rendered file: key, start and length in ticks.
struct Note {
    int key = 0;
    int64_t start = 0;
    int64_t length = 0;
    auto operator<=>(const Note&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Note& n) {
    return out << "{key " << n.key << " at " << n.start << " for " << n.length << "}";
}

// The notes of a standard MIDI file, sorted: every note-on paired with the
// next note-off of its channel and key.
std::vector<Note> midiNotes(const std::string& bytes) {
    std::vector<Note> notes;
    auto u32 = [&](std::size_t at) {
        return (uint32_t(uint8_t(bytes[at])) << 24) | (uint32_t(uint8_t(bytes[at + 1])) << 16) |
               (uint32_t(uint8_t(bytes[at + 2])) << 8) | uint32_t(uint8_t(bytes[at + 3]));
    };
    std::size_t at = 0;
    while (at + 8 <= bytes.size()) {
        const std::string id = bytes.substr(at, 4);
        const std::size_t end = std::min<std::size_t>(at + 8 + u32(at + 4), bytes.size());
        at += 8;
        if (id != "MTrk") {
            at = end;
            continue;
        }
        std::map<std::pair<int, int>, std::vector<int64_t>> sounding;
        int64_t tick = 0;
        uint8_t status = 0;
        auto varLen = [&]() {
            uint32_t value = 0;
            while (at < end) {
                const auto b = uint8_t(bytes[at++]);
                value = (value << 7) | (b & 0x7Fu);
                if ((b & 0x80u) == 0) break;
            }
            return value;
        };
        while (at < end) {
            tick += varLen();
            if (at >= end) break;
            if (uint8_t(bytes[at]) & 0x80u) status = uint8_t(bytes[at++]);
            if (status == 0xFF) {
                ++at;
                at += varLen();
                continue;
            }
            if (status == 0xF0 || status == 0xF7) {
                at += varLen();
                continue;
            }
            const int kind = status & 0xF0;
            const int channel = status & 0x0F;
            const int dataBytes = kind == 0xC0 || kind == 0xD0 ? 1 : 2;
            if (at + dataBytes > end) break;
            const int key = uint8_t(bytes[at]);
            const int velocity = dataBytes > 1 ? uint8_t(bytes[at + 1]) : 0;
            at += dataBytes;
            if (kind == 0x90 && velocity > 0) {
                sounding[{channel, key}].push_back(tick);
            } else if (kind == 0x80 || kind == 0x90) {
                auto& open = sounding[{channel, key}];
                if (open.empty()) continue;
                notes.push_back({key, open.front(), tick - open.front()});
                open.erase(open.begin());
            }
        }
        at = end;
    }
    std::sort(notes.begin(), notes.end());
    return notes;
}

// What a score plays: its rendered notes and its playing time (which also
// tells scores of rests apart).
struct Played {
    std::vector<Note> notes;
    int64_t playTime = -1;
    bool operator==(const Played&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Played& p) {
    out << "play time " << p.playTime << ", " << p.notes.size() << " notes:";
    for (const Note& n : p.notes) out << " " << n;
    return out;
}

Played played(const fs::path& score, const fs::path& midi) {
    PlayHarness h(kModeRender);
    Played out;
    if (h.tryLoad(score) != kOk || h.play(kModePlayTime) != kOk) return out;
    out.playTime = h.playTime;
    h.midiPath = midi;
    if (h.play(kModeRender) != kOk) return out;
    out.notes = midiNotes(readBytes(midi));
    return out;
}

// MusicXML to ".tvrx" with the library's own conversion.
int toTvrx(const fs::path& source, const fs::path& target) {
    int signal = 0;
    auto file = CMxmlFile::newFile(nullptr, kModeTvrxml, &signal, 480, "qvp3 test", nullptr);
    scorecore::CVxmlFile vxml;
    int result = -1;
    CConvertParams params;
    params.file = file.get();
    params.vxml = &vxml;
    params.sourcePath = source.string();
    params.targetPath = target.string();
    params.result = &result;
    mxmlConvertProc(&params);
    return result;
}

// One run of the conversion under test on the caller's thread.
struct Back {
    explicit Back(platform::MessageTarget** window = nullptr) {
        file = CMxmlFile::newFile(window, kModeTvrxml, &signal, 480, "qvp3 test", nullptr);
        vxml.setCallbackWindow(window);
        vxml.signal = &signal;
    }
    int run(const fs::path& source, const fs::path& target) {
        params.file = file.get();
        params.vxml = &vxml;
        params.sourcePath = source.string();
        params.targetPath = target.string();
        params.result = &result;
        vxmlConvertProc(&params);
        return result;
    }
    int signal = 0;
    std::unique_ptr<CMxmlFile> file;
    scorecore::CVxmlFile vxml;
    CConvertParams params;
    int result = -1;
};

std::vector<fs::path> sharedScores() {
    std::vector<fs::path> scores;
    for (const fs::directory_entry& entry : fs::directory_iterator(fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml")) {
        if (entry.path().extension() == ".xml") scores.push_back(entry.path());
    }
    std::sort(scores.begin(), scores.end());
    return scores;
}

// The keys in the order they sound.
std::vector<int> keysInTime(std::vector<Note> notes) {
    std::sort(notes.begin(), notes.end(),
              [](const Note& a, const Note& b) { return std::tie(a.start, a.key) < std::tie(b.start, b.key); });
    std::vector<int> keys;
    for (const Note& n : notes) keys.push_back(n.key);
    return keys;
}

// The lines xmllint finds fault with in a file; empty when it has none or
// is not installed.
std::string xmllintComplaints(const fs::path& file) {
    if (std::system("xmllint --version >/dev/null 2>&1") != 0) return {};
    const fs::path out = file.string() + ".lint";
    const std::string command = "xmllint --noout --nonet '" + file.string() + "' 2>'" + out.string() + "'";
    const int rc = std::system(command.c_str());
    std::string complaints = readBytes(out);
    if (rc != 0 && complaints.empty()) complaints = "xmllint failed";
    return complaints;
}

// A well-formed partwise score with the document type, the identification,
// and one part declared and written per staff layout of the ".tvrx" file,
// every part with as many measures.
void expectPartwiseScore(const fs::path& file, const fs::path& tvrx) {
    EXPECT_EQ(xmllintComplaints(file), "");
    const std::string text = readBytes(file);
    EXPECT_NE(text.find("<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 3.0 Partwise//EN\""),
              std::string::npos);
    scorecore::CVxmlFile source;
    ASSERT_EQ(source.getProps(tvrx), kOk);
    int32_t layouts = 0;
    ASSERT_EQ(source.getLayoutStaffNum(&layouts, nullptr), kOk);
    scorecore::XmlDocument doc;
    ASSERT_EQ(scorecore::xmldomParseMemory(text, doc), kOk);
    const xmlNode* root = doc.root();
    ASSERT_EQ(scorecore::xmldomNodeName(root), "score-partwise");
    std::vector<std::string> names;
    int scoreParts = 0;
    std::vector<int> measures;
    for (const xmlNode* c = root->children; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        names.push_back(scorecore::xmldomNodeName(c));
        if (names.back() == "part-list") {
            for (const xmlNode* p = c->children; p != nullptr; p = p->next) {
                scoreParts += p->type == XML_ELEMENT_NODE && scorecore::xmldomNodeName(p) == "score-part" ? 1 : 0;
            }
        }
        if (names.back() == "part") {
            int count = 0;
            for (const xmlNode* m = c->children; m != nullptr; m = m->next) {
                count += m->type == XML_ELEMENT_NODE && scorecore::xmldomNodeName(m) == "measure" ? 1 : 0;
            }
            measures.push_back(count);
        }
    }
    ASSERT_GE(names.size(), 2u);
    EXPECT_EQ(names[0], "identification");
    EXPECT_EQ(names[1], "part-list");
    EXPECT_EQ(scoreParts, layouts);
    ASSERT_EQ(static_cast<int32_t>(measures.size()), layouts);
    EXPECT_EQ(std::count(measures.begin(), measures.end(), measures.front()), layouts) << "measures per part differ";
}

// How much of what a score plays survives a round trip.
enum class Kept {
    All,    // notes (key, start, length) and playing time
    Notes,  // the notes; the time they take may change
    Keys,   // the keys in the order they sound
};

struct Exception {
    Kept kept = Kept::All;
    std::string reason;
};

// Round trip of one score through a ".tvrx" file in folder.
void roundTrip(const fs::path& score, const fs::path& folder, const Exception& exception = {}) {
    const fs::path tvrx = folder / (score.stem().string() + ".tvrx");
    const fs::path back = folder / (score.stem().string() + ".back.xml");
    ASSERT_EQ(toTvrx(score, tvrx), kOk);
    Back run;
    ASSERT_EQ(run.run(tvrx, back), kOk);
    expectPartwiseScore(back, tvrx);
    const Played before = played(score, folder / "before.mid");
    const Played after = played(back, folder / "after.mid");
    EXPECT_GT(before.playTime, 0);
    switch (exception.kept) {
        case Kept::All: EXPECT_EQ(after, before); break;
        case Kept::Notes: EXPECT_EQ(after.notes, before.notes) << exception.reason; break;
        case Kept::Keys: EXPECT_EQ(keysInTime(after.notes), keysInTime(before.notes)) << exception.reason; break;
    }
}

TEST(VxmlConvertRoundTrip, EveryScorePlaysItsNotesAfterGoingThroughTvrxml) {
    // What a ".tvrx" file cannot carry, by score.
    const std::map<std::string, Exception> exceptions = {
        {"02a-Rests-Durations.xml",
         {Kept::Notes, "rests below a 256th have no value in TvrXML: the score ends that much earlier"}},
        {"03a-Rhythm-Durations.xml", {Kept::Keys, "a maxima and notes below a 256th have no value in TvrXML"}},
        {"24a-GraceNotes.xml", {Kept::Keys, "TvrXML has no slashed grace notes, which play shorter than others"}},
        {"45a-SimpleRepeat.xml", {Kept::Notes, "TvrXML barlines carry no play count: a repeat of 5 plays twice"}},
    };
    platform::testing::TempFolder temp;
    const std::vector<fs::path> scores = sharedScores();
    ASSERT_EQ(scores.size(), 24u);
    for (const fs::path& score : scores) {
        const std::string name = score.filename().string();
        SCOPED_TRACE(name);
        const auto exception = exceptions.find(name);
        roundTrip(score, temp.path(), exception != exceptions.end() ? exception->second : Exception{});
    }
}

// Many parts over many systems: chords with ties, triplets, slurs, two voices,
// a piano on two staves, transposing instruments and endings.
TEST(VxmlConvertRoundTrip, AnOrchestralScorePlaysItsNotes) {
    platform::testing::TempFolder temp;
    const fs::path score = temp.path() / "orchestral.xml";
    testing::writeOrchestralScore(score, {16, 1});
    roundTrip(score, temp.path(), {Kept::Notes, "TvrXML has one tempo per system: changes inside one are lost"});
}

// --- runs: progress, stop, replaced targets, broken sources ---------------------------

// A ".tvrx" score of many parts over several systems, made once.
const fs::path& orchestralTvrx() {
    static platform::testing::TempFolder folder;
    static const fs::path tvrx = [] {
        const fs::path score = folder.path() / "orchestral.xml";
        testing::writeOrchestralScore(score, {16, 1});
        const fs::path out = folder.path() / "orchestral.tvrx";
        EXPECT_EQ(toTvrx(score, out), kOk);
        return out;
    }();
    return tvrx;
}

// Systems and staff layouts of a ".tvrx" file, and the staves of each system.
struct Shape {
    int32_t systems = 0;
    int32_t layouts = 0;
    std::vector<int32_t> staves;
};

Shape shapeOf(const fs::path& tvrx) {
    scorecore::CVxmlFile file;
    Shape shape;
    EXPECT_EQ(file.getProps(tvrx), kOk);
    EXPECT_EQ(file.getLayoutStaffNum(&shape.layouts, nullptr), kOk);
    EXPECT_EQ(file.readSystems(&shape.systems), kOk);
    for (int32_t s = 0; s < shape.systems; ++s) shape.staves.push_back(file.systemAt(s)->itemCount());
    return shape;
}

// Records what is posted and may set a stop word when a report arrives.
class StoppingTarget : public platform::MessageTarget {
public:
    bool post(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) override {
        posted.push_back({msg, wParam, lParam, platform::Delivery::Posted, std::this_thread::get_id()});
        if (stopWord != nullptr && wParam == kProgressDone && lParam >= stopAt) *stopWord = 1;
        return true;
    }
    platform::LResult send(platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) override {
        sent.push_back({msg, wParam, lParam, platform::Delivery::Sent, std::this_thread::get_id()});
        return 0;
    }
    std::vector<platform::LParam> reports(platform::WParam wParam) const {
        std::vector<platform::LParam> out;
        for (const platform::RecordedMessage& m : posted) {
            if (m.msg == platform::WM_MXML_PROGRESS && m.wParam == wParam) out.push_back(m.lParam);
        }
        return out;
    }
    std::vector<platform::RecordedMessage> posted;
    std::vector<platform::RecordedMessage> sent;
    int* stopWord = nullptr;
    platform::LParam stopAt = 0;
};

TEST(VxmlConvertRun, ProgressCountsEveryStaffOfEverySystemUpToTheTotal) {
    const Shape shape = shapeOf(orchestralTvrx());
    ASSERT_GE(shape.systems, 2);
    ASSERT_GE(shape.layouts, 2);
    platform::testing::TempFolder temp;
    StoppingTarget target;
    platform::MessageTarget* window = &target;
    Back run(&window);
    ASSERT_EQ(run.run(orchestralTvrx(), temp.path() / "out.xml"), kOk);

    EXPECT_TRUE(target.sent.empty()) << "progress is posted, never sent";
    ASSERT_FALSE(target.posted.empty());
    EXPECT_EQ(target.posted.front().wParam, kProgressTotal);
    const platform::LParam total = static_cast<platform::LParam>(shape.systems) * shape.layouts;
    EXPECT_EQ(target.reports(kProgressTotal), std::vector<platform::LParam>{total});
    std::vector<platform::LParam> expected;
    for (int32_t s = 0; s < shape.systems; ++s) {
        for (int32_t st = 0; st < shape.staves[static_cast<std::size_t>(s)]; ++st) {
            expected.push_back(static_cast<platform::LParam>(shape.layouts) * s + st + 1);
        }
    }
    EXPECT_EQ(target.reports(kProgressDone), expected);
    EXPECT_EQ(target.reports(kProgressDone).back(), total);
}

// A stop asked before the run or during it: nothing is written, and a file
// already at the target stays as it was.
TEST(VxmlConvertRun, AStopWordEndsTheRunWithoutTouchingTheTarget) {
    const Shape shape = shapeOf(orchestralTvrx());
    struct Case {
        const char* name;
        bool before;                // the word is set before the run
        platform::LParam stopAt;    // else: set at this report of a staff done
    };
    const Case cases[] = {
        {"set before the run", true, 0},
        {"set on the first staff", false, 1},
        {"set on the last staff of the first system", false, shape.staves.at(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const bool existing : {false, true}) {
            platform::testing::TempFolder temp;
            const fs::path target = temp.path() / "out.xml";
            if (existing) writeBytes(target, "an older score");
            StoppingTarget progress;
            platform::MessageTarget* window = &progress;
            Back run(&window);
            if (c.before) {
                run.signal = 1;
            } else {
                progress.stopWord = &run.signal;
                progress.stopAt = c.stopAt;
            }
            EXPECT_EQ(run.run(orchestralTvrx(), target), scorecore::kErrStopped);
            if (existing) {
                EXPECT_TRUE(readBytes(target) == "an older score");
            } else {
                EXPECT_FALSE(fs::exists(target));
            }
            // Nothing but the target's folder entries the test made.
            EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), existing ? 1 : 0);
            // The run ends with the system in which the word was set.
            if (!c.before) {
                ASSERT_FALSE(progress.reports(kProgressDone).empty());
                EXPECT_EQ(progress.reports(kProgressDone).back(), shape.staves.at(0));
            }
        }
    }
}

TEST(VxmlConvertRun, AFileAtTheTargetIsReplacedByTheCompleteScore) {
    platform::testing::TempFolder temp;
    const fs::path target = temp.path() / "out.xml";
    writeBytes(target, "an older score");
    Back run;
    ASSERT_EQ(run.run(orchestralTvrx(), target), kOk);
    const std::string text = readBytes(target);
    EXPECT_EQ(text.rfind("<?xml", 0), 0u);
    EXPECT_NE(text.find("</score-partwise>"), std::string::npos);
    EXPECT_EQ(std::distance(fs::directory_iterator(temp.path()), fs::directory_iterator()), 1);
}

// The n-th child element of parent with that name, or null.
xmlNodePtr nth(xmlNodePtr parent, std::string_view name, int n) {
    for (xmlNodePtr c = parent != nullptr ? parent->children : nullptr; c != nullptr; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && scorecore::xmldomNodeName(c) == name && n-- == 0) return c;
    }
    return nullptr;
}

// The "noteObjects" of a voice.
xmlNodePtr noteObjects(xmlNodePtr root, int system, int staff, int voice) {
    xmlNodePtr staves = nth(nth(nth(root, "systems", 0), "system", system), "staves", 0);
    return nth(nth(nth(nth(staves, "staff", staff), "voices", 0), "voice", voice), "noteObjects", 0);
}

// Broken sources give a code, write nothing and leave an older target alone;
// a missing element or attribute says in which system and staff it was.
TEST(VxmlConvertRun, BrokenSourcesGiveACodeAndNoFile) {
    std::string xml;
    ASSERT_EQ(scorecore::readTvrxContainer(orchestralTvrx(), xml), kOk);
    const Shape shape = shapeOf(orchestralTvrx());
    ASSERT_GE(shape.staves.at(1), 3);
    using Mutation = std::function<void(xmlNodePtr root)>;
    const auto drop = [](xmlNodePtr node) {
        ASSERT_NE(node, nullptr);
        xmlUnlinkNode(node);
        xmlFreeNode(node);
    };
    struct Case {
        const char* name;
        Mutation mutate;  // null: the container is cut in half instead
        int expected;
        int32_t system = -1;  // the error position of a -300
        int32_t staff = -1;
    };
    const Case cases[] = {
        {"container cut in half", nullptr, scorecore::kErrCannotOpen},
        {"root of another format",
         [](xmlNodePtr root) { xmlNodeSetName(root, reinterpret_cast<const xmlChar*>("partitur")); },
         scorecore::kErrUnknownFormat},
        {"no layout", [&](xmlNodePtr root) { drop(nth(root, "layout", 0)); }, scorecore::kErrIndex, 0, 0},
        {"no systems", [&](xmlNodePtr root) { drop(nth(root, "systems", 0)); }, scorecore::kErrIndex, 0, 0},
        {"a clef sign of the first bar without its clef",
         [](xmlNodePtr root) {
             xmlNodePtr clef = nth(noteObjects(root, 0, 0, 0), "clefSign", 0);
             ASSERT_NE(clef, nullptr);
             xmlUnsetProp(clef, reinterpret_cast<const xmlChar*>("clef"));
         },
         scorecore::kErrIndex, 0, 0},
        {"a chord without its duration in a later system",
         [&](xmlNodePtr root) { drop(nth(nth(noteObjects(root, 1, 2, 0), "chord", 0), "duration", 0)); },
         scorecore::kErrIndex, 1, 2},
        {"a barline of no known type",
         [](xmlNodePtr root) {
             xmlNodePtr barline = nth(noteObjects(root, 1, 1, 0), "barline", 0);
             ASSERT_NE(barline, nullptr);
             xmlSetProp(barline, reinterpret_cast<const xmlChar*>("type"), reinterpret_cast<const xmlChar*>("zigzag"));
         },
         scorecore::kErrIndex, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform::testing::TempFolder temp;
        const fs::path source = temp.path() / "broken.tvrx";
        if (c.mutate) {
            scorecore::XmlDocument doc;
            ASSERT_EQ(scorecore::xmldomParseMemory(xml, doc), kOk);
            c.mutate(doc.root());
            std::string text;
            ASSERT_EQ(scorecore::xmldomSaveToString(doc, text), kOk);
            ASSERT_EQ(scorecore::writeTvrxContainer(source, text), kOk);
        } else {
            const std::string whole = readBytes(orchestralTvrx());
            writeBytes(source, whole.substr(0, whole.size() / 2));
        }
        const fs::path target = temp.path() / "out.xml";
        writeBytes(target, "an older score");
        Back run;
        EXPECT_EQ(run.run(source, target), c.expected);
        EXPECT_TRUE(readBytes(target) == "an older score");
        if (c.expected == scorecore::kErrIndex) {
            EXPECT_EQ(run.params.staffCount, c.system);
            EXPECT_EQ(run.params.voiceCount, c.staff);
        }
    }
}

TEST(VxmlConvertRun, TheSourceIsNeverItsOwnTarget) {
    platform::testing::TempFolder temp;
    const fs::path source = temp.path() / "score.tvrx";
    fs::copy_file(orchestralTvrx(), source);
    const std::string bytes = readBytes(source);
    Back run;
    EXPECT_EQ(run.run(source, source), scorecore::kErrWrite);
    EXPECT_TRUE(readBytes(source) == bytes);
}

// A system without a staff of some layout: that part rests through the
// system's bars and every other part plays on in time.
TEST(VxmlConvertRun, APartWithoutAStaffInASystemRestsThroughIt) {
    std::string xml;
    ASSERT_EQ(scorecore::readTvrxContainer(orchestralTvrx(), xml), kOk);
    scorecore::XmlDocument doc;
    ASSERT_EQ(scorecore::xmldomParseMemory(xml, doc), kOk);
    xmlNodePtr staves = nth(nth(nth(doc.root(), "systems", 0), "system", 1), "staves", 0);
    xmlNodePtr staff = nth(staves, "staff", 2);
    ASSERT_NE(staff, nullptr);
    xmlUnlinkNode(staff);
    xmlFreeNode(staff);
    std::string text;
    ASSERT_EQ(scorecore::xmldomSaveToString(doc, text), kOk);
    platform::testing::TempFolder temp;
    const fs::path gap = temp.path() / "gap.tvrx";
    ASSERT_EQ(scorecore::writeTvrxContainer(gap, text), kOk);

    Back whole;
    ASSERT_EQ(whole.run(orchestralTvrx(), temp.path() / "whole.xml"), kOk);
    Back part;
    ASSERT_EQ(part.run(gap, temp.path() / "gap.xml"), kOk);
    expectPartwiseScore(temp.path() / "gap.xml", gap);
    const Played all = played(temp.path() / "whole.xml", temp.path() / "whole.mid");
    const Played some = played(temp.path() / "gap.xml", temp.path() / "gap.mid");
    EXPECT_EQ(some.playTime, all.playTime);
    EXPECT_LT(some.notes.size(), all.notes.size());
    EXPECT_TRUE(std::includes(all.notes.begin(), all.notes.end(), some.notes.begin(), some.notes.end()))
        << "the other parts' notes keep their keys, starts and lengths";
}

// The entry a host calls: a worker does the run while the calling thread
// pumps its progress target.
TEST(VxmlConvertFile, RunsOnAWorkerWhileTheCallerReceivesTheProgress) {
    const Shape shape = shapeOf(orchestralTvrx());
    platform::testing::TempFolder temp;
    std::vector<platform::LParam> done;
    std::vector<std::thread::id> threads;
    platform::QueuedMessageTarget target(
        [&](platform::MessageId msg, platform::WParam wParam, platform::LParam lParam) -> platform::LResult {
            if (msg == platform::WM_MXML_PROGRESS && wParam == kProgressDone) done.push_back(lParam);
            threads.push_back(std::this_thread::get_id());
            return 0;
        });
    platform::MessageTarget* window = &target;
    scorecore::CVxmlFile file;
    file.setCallbackWindow(&window);
    int stop = 1;  // left over from an earlier run: zeroed first
    const fs::path out = temp.path() / "out.xml";
    ASSERT_EQ(vxmlConvertFile(&file, orchestralTvrx().string(), out.string(), &stop), kOk);
    EXPECT_EQ(stop, 0);
    EXPECT_EQ(file.signal, &stop);
    EXPECT_TRUE(fs::exists(out));
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done.back(), static_cast<platform::LParam>(shape.systems) * shape.layouts);
    for (const std::thread::id id : threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST(VxmlConvertFile, RefusesANullFileAndAStopLeftByAnEarlierRun) {
    platform::testing::TempFolder temp;
    const fs::path out = temp.path() / "out.xml";
    EXPECT_EQ(vxmlConvertFile(nullptr, orchestralTvrx().string(), out.string(), nullptr), scorecore::kErrNotPresent);
    scorecore::CVxmlFile file;
    int earlier = 1;
    file.signal = &earlier;
    int mine = 0;
    EXPECT_EQ(vxmlConvertFile(&file, orchestralTvrx().string(), out.string(), &mine), scorecore::kErrStopped);
    EXPECT_FALSE(fs::exists(out));
    // The caller's own word is zeroed and serves the next run.
    earlier = 0;
    file.signal = &mine;
    mine = 1;
    EXPECT_EQ(vxmlConvertFile(&file, orchestralTvrx().string(), out.string(), &mine), kOk);
    EXPECT_TRUE(fs::exists(out));
}

}  // namespace
}  // namespace scoreconv
