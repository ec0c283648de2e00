// The orchestral score generator. Each element kind has its own writer; the
// measures are put together from notes described first as values, so that
// the musical rules (durations adding up to the measure, ties between equal
// pitches) are visible in one place: the line builders.
#include "scoreconv_testing/score_generator.h"

#include <fstream>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace scoreconv::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kDivisions = 6;  // per quarter: an eighth is 3, a triplet eighth 2
constexpr int kMeasureDuration = 4 * kDivisions;
constexpr int kSectionMeasures = 8;  // a section is played twice: 6 measures, then a first or a second ending
constexpr int kConcertFifths = -1;   // F major at concert pitch
constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

enum class Texture {
    Melody,     // one line of quarters, eighths and a triplet
    Chords,     // chords, one note of a chord tied into the next chord
    TwoVoices,  // the melody, a backup, and a second voice of half notes
    Lyrics,     // the melody with a syllable under each note
    Piano,      // chords on the upper staff, a bass line on the lower
};

struct Instrument {
    const char* name;
    const char* abbreviation;
    int program;  // General MIDI, 1 to 128
    const char* clefSign;
    int clefLine;
    int clefOctave;  // <clef-octave-change>, 0 for none
    int lowStep;     // the lowest written note of the part's line: step (0 is C) and octave
    int lowOctave;
    Texture texture;
    int diatonic;  // <transpose>, written to sounding; all 0 for none
    int chromatic;
    int octaveChange;
};

// clang-format off
const Instrument kInstruments[kOrchestralParts] = {
    {"Piccolo",                 "Picc.",     73, "G", 2,  0, 1, 4, Texture::Melody,     0,  0,  1},
    {"Flute 1",                 "Fl. 1",     74, "G", 2,  0, 5, 4, Texture::Melody,     0,  0,  0},
    {"Flute 2",                 "Fl. 2",     74, "G", 2,  0, 3, 4, Texture::Melody,     0,  0,  0},
    {"Oboe 1",                  "Ob. 1",     69, "G", 2,  0, 3, 4, Texture::Melody,     0,  0,  0},
    {"Oboe 2",                  "Ob. 2",     69, "G", 2,  0, 1, 4, Texture::Melody,     0,  0,  0},
    {"English Horn",            "E. Hn.",    70, "G", 2,  0, 4, 4, Texture::Melody,    -4, -7,  0},
    {"Clarinet in B\u266D 1",   "Cl. 1",     72, "G", 2,  0, 4, 4, Texture::Melody,    -1, -2,  0},
    {"Clarinet in B\u266D 2",   "Cl. 2",     72, "G", 2,  0, 2, 4, Texture::Melody,    -1, -2,  0},
    {"Bass Clarinet in B\u266D","B. Cl.",    72, "G", 2,  0, 4, 4, Texture::Melody,    -1, -2, -1},
    {"Bassoon 1",               "Bsn. 1",    71, "F", 4,  0, 1, 3, Texture::Melody,     0,  0,  0},
    {"Bassoon 2",               "Bsn. 2",    71, "F", 4,  0, 5, 2, Texture::Melody,     0,  0,  0},
    {"Contrabassoon",           "Cbsn.",     71, "F", 4,  0, 0, 3, Texture::Melody,     0,  0, -1},
    {"Horn in F 1.2",           "Hn. 1.2",   61, "G", 2,  0, 4, 4, Texture::TwoVoices, -4, -7,  0},
    {"Horn in F 3.4",           "Hn. 3.4",   61, "G", 2,  0, 0, 4, Texture::TwoVoices, -4, -7,  0},
    {"Trumpet in B\u266D 1",    "Tpt. 1",    57, "G", 2,  0, 4, 4, Texture::Melody,    -1, -2,  0},
    {"Trumpet in B\u266D 2",    "Tpt. 2",    57, "G", 2,  0, 2, 4, Texture::Melody,    -1, -2,  0},
    {"Trumpet in B\u266D 3",    "Tpt. 3",    57, "G", 2,  0, 0, 4, Texture::Melody,    -1, -2,  0},
    {"Trombone 1",              "Tbn. 1",    58, "F", 4,  0, 3, 3, Texture::Melody,     0,  0,  0},
    {"Trombone 2",              "Tbn. 2",    58, "F", 4,  0, 0, 3, Texture::Melody,     0,  0,  0},
    {"Bass Trombone",           "B. Tbn.",   58, "F", 4,  0, 3, 2, Texture::Melody,     0,  0,  0},
    {"Tuba",                    "Tba.",      59, "F", 4,  0, 1, 2, Texture::Melody,     0,  0,  0},
    {"Timpani",                 "Timp.",     48, "F", 4,  0, 3, 2, Texture::Melody,     0,  0,  0},
    {"Glockenspiel",            "Glk.",      10, "G", 2,  0, 4, 4, Texture::Melody,     0,  0,  2},
    {"Xylophone",               "Xyl.",      14, "G", 2,  0, 0, 5, Texture::Melody,     0,  0,  1},
    {"Vibraphone",              "Vib.",      12, "G", 2,  0, 3, 4, Texture::Chords,     0,  0,  0},
    {"Celesta",                 "Cel.",       9, "G", 2,  0, 0, 4, Texture::Chords,     0,  0,  1},
    {"Harp",                    "Hp.",       47, "G", 2,  0, 0, 4, Texture::Chords,     0,  0,  0},
    {"Piano",                   "Pno.",       1, "G", 2,  0, 0, 4, Texture::Piano,      0,  0,  0},
    {"Soprano",                 "S.",        53, "G", 2,  0, 2, 4, Texture::Lyrics,     0,  0,  0},
    {"Alto",                    "A.",        53, "G", 2,  0, 5, 3, Texture::Melody,     0,  0,  0},
    {"Tenor",                   "T.",        53, "G", 2, -1, 1, 3, Texture::Melody,     0,  0,  0},
    {"Violin I",                "Vln. I",    41, "G", 2,  0, 4, 4, Texture::TwoVoices,  0,  0,  0},
    {"Violin II",               "Vln. II",   41, "G", 2,  0, 1, 4, Texture::TwoVoices,  0,  0,  0},
    {"Viola",                   "Vla.",      42, "C", 3,  0, 2, 3, Texture::Melody,     0,  0,  0},
    {"Violoncello",             "Vc.",       43, "F", 4,  0, 0, 3, Texture::Chords,     0,  0,  0},
    {"Contrabass",              "Cb.",       44, "F", 4,  0, 2, 2, Texture::Melody,     0,  0, -1},
};
// clang-format on

// The lower staff of the piano.
constexpr int kPianoBassStep = 4;  // G2
constexpr int kPianoBassOctave = 2;

struct Syllable {
    const char* text;
    const char* syllabic;
};
const Syllable kLyrics[] = {{"Ky", "begin"}, {"ri", "middle"}, {"e", "end"},
                            {"e", "begin"},  {"lei", "middle"}, {"son", "end"}};

struct Dynamic {
    const char* mark;
    int sound;  // <sound dynamics>, percent of a forte
};
const Dynamic kDynamics[] = {{"p", 54}, {"mf", 80}, {"f", 98}, {"mp", 69}, {"ff", 115}, {"pp", 40}};

const int kSectionTempos[] = {96, 120, 84, 108};

// Where a measure sits: its music follows from its index in the pass alone, so
// that every pass is the same music.
struct MeasurePlace {
    int index;     // in the pass, from 0
    int number;    // in the score, from 1
    bool first;    // the score's first measure
    bool last;     // the score's last measure
    bool section;  // its whole 8-measure section lies in the pass: it has repeats and endings
};

struct Pitch {
    int step;  // 0 is C
    int octave;
};

struct Note {
    Pitch pitch{};
    int duration = 0;
    const char* type = "";
    int voice = 1;
    int staff = 0;  // 0: the part has one staff
    bool chord = false;
    bool tieStart = false;
    bool tieStop = false;
    const char* tuplet = nullptr;  // "start" or "stop" on the triplet's outer notes
    bool triplet = false;
    bool slurStart = false;
    bool slurStop = false;
    const char* stem = nullptr;
    const char* beam = nullptr;
    const Syllable* lyric = nullptr;
};

// MusicXML text, indented by two spaces a level as notation programs write it.
class XmlText {
public:
    void open(std::string_view name, std::string_view attributes = {}) {
        tag(name, attributes, ">\n");
        ++depth_;
    }
    void close(std::string_view name) {
        --depth_;
        indent();
        text_.append("</").append(name).append(">\n");
    }
    void leaf(std::string_view name, std::string_view value, std::string_view attributes = {}) {
        tag(name, attributes, ">");
        text_.append(value).append("</").append(name).append(">\n");
    }
    void leaf(std::string_view name, int value) { leaf(name, std::to_string(value)); }
    void empty(std::string_view name, std::string_view attributes = {}) { tag(name, attributes, "/>\n"); }
    void line(std::string_view text) {
        text_.append(text).append("\n");
    }

    std::size_t size() const { return text_.size(); }
    // Writes the text so far to out and starts over (the indentation stays).
    void flushTo(std::ofstream& out) {
        out.write(text_.data(), static_cast<std::streamsize>(text_.size()));
        text_.clear();
    }

private:
    void indent() { text_.append(static_cast<std::size_t>(depth_) * 2, ' '); }
    void tag(std::string_view name, std::string_view attributes, std::string_view end) {
        indent();
        text_.append("<").append(name);
        if (!attributes.empty()) text_.append(" ").append(attributes);
        text_.append(end);
    }

    std::string text_;
    int depth_ = 0;
};

std::string attr(std::string_view name, std::string_view value) {
    return std::string(name) + "=\"" + std::string(value) + "\"";
}
std::string attr(std::string_view name, int value) { return attr(name, std::to_string(value)); }

// The key a transposing instrument reads: the concert key moved up by the
// interval it sounds below its notes.
int writtenFifths(const Instrument& instrument) {
    int shift = (-instrument.chromatic * 7) % 12;
    if (shift < 0) shift += 12;
    if (shift > 6) shift -= 12;
    return kConcertFifths + shift;
}

// The alteration the key gives a step (notes follow the key, without accidentals).
int keyAlter(int step, int fifths) {
    static const int kSharpOrder[] = {3, 0, 4, 1, 5, 2, 6};  // F C G D A E B
    for (int i = 0; i < fifths; ++i) {
        if (kSharpOrder[i] == step) return 1;
    }
    for (int i = 0; i < -fifths; ++i) {
        if (kSharpOrder[6 - i] == step) return -1;
    }
    return 0;
}

Pitch degreeAbove(int lowStep, int lowOctave, int degree) {
    const int steps = lowStep + degree;
    return {steps % 7, lowOctave + steps / 7};
}

// ---- the elements ------------------------------------------------------------------

void writeHeader(XmlText& xml) {
    xml.line("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>");
    xml.line("<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
             "\"http://www.musicxml.org/dtds/partwise.dtd\">");
    xml.open("score-partwise", attr("version", "4.0"));
    xml.open("work");
    xml.leaf("work-title", "Symphony for a Large Orchestra");
    xml.close("work");
    xml.open("identification");
    xml.leaf("creator", "Score Generator", attr("type", "composer"));
    xml.open("encoding");
    xml.leaf("software", "qvp3 score generator");
    xml.close("encoding");
    xml.close("identification");
}

std::string partId(int part) { return "P" + std::to_string(part + 1); }

void writeScorePart(XmlText& xml, int part) {
    static const int kChannels[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16};  // 10 is for drums
    const Instrument& instrument = kInstruments[part];
    const std::string id = partId(part);
    const std::string instrumentId = id + "-I1";
    xml.open("score-part", attr("id", id));
    xml.leaf("part-name", instrument.name);
    xml.leaf("part-abbreviation", instrument.abbreviation);
    xml.open("score-instrument", attr("id", instrumentId));
    xml.leaf("instrument-name", instrument.name);
    xml.close("score-instrument");
    xml.open("midi-instrument", attr("id", instrumentId));
    xml.leaf("midi-channel", kChannels[part % 15]);
    xml.leaf("midi-program", instrument.program);
    xml.leaf("volume", 80);
    xml.leaf("pan", (part % 9 - 4) * 10);
    xml.close("midi-instrument");
    xml.close("score-part");
}

void writePartList(XmlText& xml) {
    xml.open("part-list");
    for (int part = 0; part < kOrchestralParts; ++part) writeScorePart(xml, part);
    xml.close("part-list");
}

void writeClef(XmlText& xml, const char* sign, int line, int octave, int number) {
    xml.open("clef", number > 0 ? attr("number", number) : std::string());
    xml.leaf("sign", sign);
    xml.leaf("line", line);
    if (octave != 0) xml.leaf("clef-octave-change", octave);
    xml.close("clef");
}

void writeTranspose(XmlText& xml, const Instrument& instrument) {
    if (instrument.diatonic == 0 && instrument.chromatic == 0 && instrument.octaveChange == 0) return;
    xml.open("transpose");
    xml.leaf("diatonic", instrument.diatonic);
    xml.leaf("chromatic", instrument.chromatic);
    if (instrument.octaveChange != 0) xml.leaf("octave-change", instrument.octaveChange);
    xml.close("transpose");
}

void writeAttributes(XmlText& xml, const Instrument& instrument) {
    const bool piano = instrument.texture == Texture::Piano;
    xml.open("attributes");
    xml.leaf("divisions", kDivisions);
    xml.open("key");
    xml.leaf("fifths", writtenFifths(instrument));
    xml.leaf("mode", "major");
    xml.close("key");
    xml.open("time");
    xml.leaf("beats", 4);
    xml.leaf("beat-type", 4);
    xml.close("time");
    if (piano) {
        xml.leaf("staves", 2);
        writeClef(xml, "G", 2, 0, 1);
        writeClef(xml, "F", 4, 0, 2);
    } else {
        writeClef(xml, instrument.clefSign, instrument.clefLine, instrument.clefOctave, 0);
    }
    writeTranspose(xml, instrument);
    xml.close("attributes");
}

void writeLeftBarline(XmlText& xml, const MeasurePlace& place) {
    if (!place.section) return;
    const int inSection = place.index % kSectionMeasures;
    if (inSection == 0) {
        xml.open("barline", attr("location", "left"));
        xml.leaf("bar-style", "heavy-light");
        xml.empty("repeat", attr("direction", "forward"));
        xml.close("barline");
    } else if (inSection >= kSectionMeasures - 2) {
        const int ending = inSection - (kSectionMeasures - 2) + 1;
        xml.open("barline", attr("location", "left"));
        xml.leaf("ending", std::to_string(ending) + ".", attr("number", ending) + " " + attr("type", "start"));
        xml.close("barline");
    }
}

void writeRightBarline(XmlText& xml, const MeasurePlace& place) {
    const int inSection = place.index % kSectionMeasures;
    const bool firstEnding = place.section && inSection == kSectionMeasures - 2;
    const bool secondEnding = place.section && inSection == kSectionMeasures - 1;
    if (!firstEnding && !secondEnding && !place.last) return;
    xml.open("barline", attr("location", "right"));
    if (firstEnding || place.last) xml.leaf("bar-style", "light-heavy");
    if (firstEnding) {
        xml.empty("ending", attr("number", 1) + " " + attr("type", "stop"));
        xml.empty("repeat", attr("direction", "backward"));
    }
    if (secondEnding) xml.empty("ending", attr("number", 2) + " " + attr("type", "discontinue"));
    xml.close("barline");
}

void writeTempo(XmlText& xml, int tempo) {
    xml.open("direction", attr("placement", "above"));
    xml.open("direction-type");
    xml.open("metronome", attr("parentheses", "no"));
    xml.leaf("beat-unit", "quarter");
    xml.leaf("per-minute", tempo);
    xml.close("metronome");
    xml.close("direction-type");
    xml.empty("sound", attr("tempo", tempo));
    xml.close("direction");
}

void writeDynamics(XmlText& xml, const Dynamic& dynamic, int staff) {
    xml.open("direction", attr("placement", "below"));
    xml.open("direction-type");
    xml.open("dynamics");
    xml.empty(dynamic.mark);
    xml.close("dynamics");
    xml.close("direction-type");
    if (staff > 0) xml.leaf("staff", staff);
    xml.empty("sound", attr("dynamics", dynamic.sound));
    xml.close("direction");
}

void writeWedge(XmlText& xml, const char* type, int staff) {
    xml.open("direction", attr("placement", "below"));
    xml.open("direction-type");
    xml.empty("wedge", attr("type", type) + " " + attr("number", 1));
    xml.close("direction-type");
    if (staff > 0) xml.leaf("staff", staff);
    xml.close("direction");
}

void writeBackup(XmlText& xml, int duration) {
    xml.open("backup");
    xml.leaf("duration", duration);
    xml.close("backup");
}

void writeNotations(XmlText& xml, const Note& note) {
    if (!note.tieStart && !note.tieStop && note.tuplet == nullptr && !note.slurStart && !note.slurStop) return;
    xml.open("notations");
    if (note.tieStop) xml.empty("tied", attr("type", "stop"));
    if (note.tieStart) xml.empty("tied", attr("type", "start"));
    if (note.slurStart) xml.empty("slur", attr("type", "start") + " " + attr("number", 1));
    if (note.slurStop) xml.empty("slur", attr("type", "stop") + " " + attr("number", 1));
    if (note.tuplet != nullptr) xml.empty("tuplet", attr("type", note.tuplet) + " " + attr("bracket", "no"));
    xml.close("notations");
}

void writeLyric(XmlText& xml, const Syllable& syllable) {
    xml.open("lyric", attr("number", 1));
    xml.leaf("syllabic", syllable.syllabic);
    xml.leaf("text", syllable.text);
    xml.close("lyric");
}

void writeNote(XmlText& xml, const Note& note, int fifths) {
    static const char* const kSteps[] = {"C", "D", "E", "F", "G", "A", "B"};
    xml.open("note");
    if (note.chord) xml.empty("chord");
    xml.open("pitch");
    xml.leaf("step", kSteps[note.pitch.step]);
    const int alter = keyAlter(note.pitch.step, fifths);
    if (alter != 0) xml.leaf("alter", alter);
    xml.leaf("octave", note.pitch.octave);
    xml.close("pitch");
    xml.leaf("duration", note.duration);
    if (note.tieStop) xml.empty("tie", attr("type", "stop"));
    if (note.tieStart) xml.empty("tie", attr("type", "start"));
    xml.leaf("voice", note.voice);
    xml.leaf("type", note.type);
    if (note.triplet) {
        xml.open("time-modification");
        xml.leaf("actual-notes", 3);
        xml.leaf("normal-notes", 2);
        xml.close("time-modification");
    }
    if (note.stem != nullptr) xml.leaf("stem", note.stem);
    if (note.staff > 0) xml.leaf("staff", note.staff);
    if (note.beam != nullptr) xml.leaf("beam", note.beam, attr("number", 1));
    writeNotations(xml, note);
    if (note.lyric != nullptr) writeLyric(xml, *note.lyric);
    xml.close("note");
}

// ---- the lines ---------------------------------------------------------------------

// What every line of a part shares: where its notes lie and how they are marked.
struct LineSpec {
    int lowStep;
    int lowOctave;
    int voice;
    int staff;
    const char* stem;
};

Note lineNote(const LineSpec& line, int degree, int duration, const char* type) {
    Note note;
    note.pitch = degreeAbove(line.lowStep, line.lowOctave, degree);
    note.duration = duration;
    note.type = type;
    note.voice = line.voice;
    note.staff = line.staff;
    note.stem = line.stem;
    return note;
}

// A quarter, two slurred eighths, a triplet that ends the slur, and an eighth
// tied to the next.
std::vector<Note> melodyLine(const LineSpec& line, int seed) {
    const int d = seed % 4;
    std::vector<Note> notes;
    notes.push_back(lineNote(line, d + 2, kDivisions, "quarter"));

    Note slurred = lineNote(line, d + 4, kDivisions / 2, "eighth");
    slurred.slurStart = true;
    slurred.beam = "begin";
    notes.push_back(slurred);
    Note second = lineNote(line, d + 3, kDivisions / 2, "eighth");
    second.beam = "end";
    notes.push_back(second);

    static const char* const kTripletBeams[] = {"begin", "continue", "end"};
    for (int i = 0; i < 3; ++i) {
        Note note = lineNote(line, d + 5 - i, kDivisions / 3, "eighth");
        note.triplet = true;
        note.beam = kTripletBeams[i];
        if (i == 0) note.tuplet = "start";
        if (i == 2) {
            note.tuplet = "stop";
            note.slurStop = true;
        }
        notes.push_back(note);
    }

    Note tied = lineNote(line, d + 1, kDivisions / 2, "eighth");
    tied.tieStart = true;
    tied.beam = "begin";
    notes.push_back(tied);
    Note held = tied;
    held.tieStart = false;
    held.tieStop = true;
    held.beam = "end";
    notes.push_back(held);
    return notes;
}

// The notes of one chord, lowest first; every note after the first carries <chord/>.
void addChord(std::vector<Note>& notes, const LineSpec& line, std::initializer_list<int> degrees, int duration,
              const char* type) {
    bool first = true;
    for (const int degree : degrees) {
        Note note = lineNote(line, degree, duration, type);
        note.chord = !first;
        notes.push_back(note);
        first = false;
    }
}

// Two quarter chords whose top note is tied from the first into the second,
// a slurred triplet starting on a chord, and a closing quarter chord.
std::vector<Note> chordLine(const LineSpec& line, int seed) {
    const int d = seed % 3;
    std::vector<Note> notes;
    addChord(notes, line, {d, d + 2, d + 4}, kDivisions, "quarter");
    notes.back().tieStart = true;
    addChord(notes, line, {d + 1, d + 3, d + 4}, kDivisions, "quarter");
    notes.back().tieStop = true;

    const std::size_t tripletStart = notes.size();
    addChord(notes, line, {d + 2, d + 4}, kDivisions / 3, "eighth");
    notes.push_back(lineNote(line, d + 3, kDivisions / 3, "eighth"));
    notes.push_back(lineNote(line, d + 5, kDivisions / 3, "eighth"));
    for (std::size_t i = tripletStart; i < notes.size(); ++i) notes[i].triplet = true;
    notes[tripletStart].beam = "begin";  // a chord's beam goes on its first note
    notes[notes.size() - 2].beam = "continue";
    notes.back().beam = "end";
    notes[tripletStart].tuplet = "start";
    notes[tripletStart].slurStart = true;
    notes.back().tuplet = "stop";
    notes.back().slurStop = true;

    addChord(notes, line, {d + 1, d + 5}, kDivisions, "quarter");
    return notes;
}

// Two half notes under the melody.
std::vector<Note> lowerVoice(const LineSpec& line, int seed) {
    return {lineNote(line, seed % 3, kMeasureDuration / 2, "half"),
            lineNote(line, (seed + 1) % 3, kMeasureDuration / 2, "half")};
}

// The piano's left hand: an octave, then three quarters.
std::vector<Note> bassLine(const LineSpec& line, int seed) {
    const int d = seed % 4;
    std::vector<Note> notes;
    addChord(notes, line, {d, d + 7}, kDivisions, "quarter");
    for (int beat = 1; beat < 4; ++beat) notes.push_back(lineNote(line, d + 4 - beat, kDivisions, "quarter"));
    return notes;
}

// The syllables of the melody: one under each note that a tie does not continue.
void addLyrics(std::vector<Note>& notes, int index) {
    constexpr int kSyllableCount = sizeof kLyrics / sizeof kLyrics[0];
    int sung = index * 7;  // syllables sung before this measure
    for (Note& note : notes) {
        if (note.tieStop) continue;
        note.lyric = &kLyrics[sung % kSyllableCount];
        ++sung;
    }
}

// ---- the measures ------------------------------------------------------------------

void writeLine(XmlText& xml, const std::vector<Note>& notes, int fifths) {
    for (const Note& note : notes) writeNote(xml, note, fifths);
}

void writeMusic(XmlText& xml, int part, const MeasurePlace& place) {
    const Instrument& instrument = kInstruments[part];
    const int fifths = writtenFifths(instrument);
    const int seed = part * 3 + place.index * 5;
    switch (instrument.texture) {
        case Texture::Melody:
            writeLine(xml, melodyLine({instrument.lowStep, instrument.lowOctave, 1, 0, nullptr}, seed), fifths);
            break;
        case Texture::Lyrics: {
            std::vector<Note> notes = melodyLine({instrument.lowStep, instrument.lowOctave, 1, 0, nullptr}, seed);
            addLyrics(notes, place.index);
            writeLine(xml, notes, fifths);
            break;
        }
        case Texture::Chords:
            writeLine(xml, chordLine({instrument.lowStep, instrument.lowOctave, 1, 0, nullptr}, seed), fifths);
            break;
        case Texture::TwoVoices:
            writeLine(xml, melodyLine({instrument.lowStep, instrument.lowOctave + 1, 1, 0, "up"}, seed), fifths);
            writeBackup(xml, kMeasureDuration);
            writeLine(xml, lowerVoice({instrument.lowStep, instrument.lowOctave, 2, 0, "down"}, seed), fifths);
            break;
        case Texture::Piano:
            writeLine(xml, chordLine({instrument.lowStep, instrument.lowOctave, 1, 1, nullptr}, seed), fifths);
            writeBackup(xml, kMeasureDuration);
            writeLine(xml, bassLine({kPianoBassStep, kPianoBassOctave, 5, 2, nullptr}, seed), fifths);
            break;
    }
}

// Tempo (in the first part, which carries the score's tempo), a dynamic every
// 4 measures, a crescendo over measures 2-3 and a diminuendo in measure 6 of
// every section.
void writeMeasure(XmlText& xml, int part, const MeasurePlace& place) {
    const Instrument& instrument = kInstruments[part];
    const int directionStaff = instrument.texture == Texture::Piano ? 1 : 0;
    const int inSection = place.index % kSectionMeasures;
    const int section = place.index / kSectionMeasures;

    xml.open("measure", attr("number", place.number));
    writeLeftBarline(xml, place);
    if (place.first) writeAttributes(xml, instrument);
    if (part == 0 && inSection == 0) writeTempo(xml, kSectionTempos[section % 4]);
    if (part == 0 && inSection == 4) writeTempo(xml, kSectionTempos[section % 4] - 12);
    if (place.index % 4 == 0) {
        constexpr int kDynamicCount = sizeof kDynamics / sizeof kDynamics[0];
        writeDynamics(xml, kDynamics[(place.index / 4 + part) % kDynamicCount], directionStaff);
    }
    if (inSection == 1) writeWedge(xml, "crescendo", directionStaff);
    if (inSection == 5) writeWedge(xml, "diminuendo", directionStaff);
    writeMusic(xml, part, place);
    if (inSection == 2 || inSection == 5) writeWedge(xml, "stop", directionStaff);
    writeRightBarline(xml, place);
    xml.close("measure");
}

void writeParts(XmlText& xml, std::ofstream& out, const ScoreOptions& options) {
    const int total = options.measures * options.repeat;
    for (int part = 0; part < kOrchestralParts; ++part) {
        xml.open("part", attr("id", partId(part)));
        for (int number = 1; number <= total; ++number) {
            const int index = (number - 1) % options.measures;
            const bool section = (index / kSectionMeasures + 1) * kSectionMeasures <= options.measures;
            writeMeasure(xml, part, {index, number, number == 1, number == total, section});
            if (xml.size() >= kFlushBytes) xml.flushTo(out);
        }
        xml.close("part");
    }
}

}  // namespace

std::uintmax_t writeOrchestralScore(const fs::path& path, const ScoreOptions& options) {
    if (options.measures < 1 || options.repeat < 1) {
        throw std::invalid_argument("writeOrchestralScore: measures and repeat must be at least 1 (measures " +
                                    std::to_string(options.measures) + ", repeat " + std::to_string(options.repeat) +
                                    ")");
    }
    fs::path partial = path;
    partial += ".part";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("writeOrchestralScore: cannot create " + partial.string());
        XmlText xml;
        writeHeader(xml);
        writePartList(xml);
        writeParts(xml, out, options);
        xml.close("score-partwise");
        xml.flushTo(out);
        out.close();
        if (!out) {
            std::error_code ignored;
            fs::remove(partial, ignored);
            throw std::runtime_error("writeOrchestralScore: cannot write " + partial.string());
        }
    }
    std::error_code ec;
    fs::rename(partial, path, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(partial, ignored);
        throw std::runtime_error("writeOrchestralScore: cannot replace " + path.string() + ": " + ec.message());
    }
    return fs::file_size(path);
}

}  // namespace scoreconv::testing
