// Standard MIDI files read back with an independent reader: Debian's
// python3-mido, run as /usr/bin/python3 (the PATH's python3 may be another
// interpreter without mido). Tests skip when it cannot import mido.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace scoreconv::testing {

inline bool midoAvailable() { return std::system("/usr/bin/python3 -c 'import mido' >/dev/null 2>&1") == 0; }

// One message as mido reads it, at its absolute tick (fields without "time").
struct MidoEvent {
    int track = 0;
    int64_t tick = 0;
    std::string type;
    std::map<std::string, std::string> fields;

    int number(const std::string& key) const {
        const auto it = fields.find(key);
        return it == fields.end() ? -1 : std::stoi(it->second);
    }
    bool noteOn() const { return type == "note_on" && number("velocity") > 0; }
    bool noteOff() const { return type == "note_off" || (type == "note_on" && number("velocity") == 0); }
};

struct MidoFile {
    bool read = false;  // mido read the whole file
    int type = -1;
    int division = -1;
    int tracks = 0;
    std::vector<MidoEvent> events;
    // The dump as mido gives it: "type T tracks N division D", then per track
    // "track i" and one line per message, "type key=value ..." sorted by key
    // (time is the delta).
    std::vector<std::string> lines;

    std::vector<MidoEvent> of(const std::string& kind, int track = -1) const {
        std::vector<MidoEvent> out;
        for (const MidoEvent& e : events) {
            if (e.type == kind && (track < 0 || e.track == track)) out.push_back(e);
        }
        return out;
    }
    std::vector<std::string> trackNames() const {
        std::vector<std::string> out;
        for (const MidoEvent& e : of("track_name")) out.push_back(e.fields.at("name"));
        return out;
    }
    // Note-ons per key over all tracks.
    std::map<int, int> noteOnsPerKey() const {
        std::map<int, int> out;
        for (const MidoEvent& e : events) {
            if (e.noteOn()) ++out[e.number("note")];
        }
        return out;
    }
    std::vector<MidoEvent> notesOn(int track = -1) const {
        std::vector<MidoEvent> out;
        for (const MidoEvent& e : events) {
            if (e.noteOn() && (track < 0 || e.track == track)) out.push_back(e);
        }
        return out;
    }
};

// Reads a MIDI file with mido; the script goes into folder. The dump's words
// are separated by tabs, so that texts keep their blanks.
inline MidoFile readWithMido(const std::filesystem::path& midi, const std::filesystem::path& folder) {
    const auto script = folder / "read_midi.py";
    std::ofstream(script) << "import sys, mido\n"
                             "m = mido.MidiFile(sys.argv[1])\n"
                             "print('\\t'.join(['type', str(m.type), 'tracks', str(len(m.tracks)),\n"
                             "                  'division', str(m.ticks_per_beat)]))\n"
                             "for i, t in enumerate(m.tracks):\n"
                             "    print('track\\t%d' % i)\n"
                             "    for msg in t:\n"
                             "        d = msg.dict()\n"
                             "        kind = d.pop('type')\n"
                             "        print('\\t'.join([kind] + ['%s=%s' % (k, d[k]) for k in sorted(d)]))\n";
    const std::string command =
        "PYTHONIOENCODING=utf-8 /usr/bin/python3 '" + script.string() + "' '" + midi.string() + "' 2>/dev/null";
    MidoFile file;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return file;
    std::string text;
    for (int c; (c = std::fgetc(pipe)) != EOF;) text.push_back(static_cast<char>(c));
    file.read = ::pclose(pipe) == 0;

    std::istringstream lines(text);
    int track = -1;
    int64_t tick = 0;
    for (std::string line; std::getline(lines, line);) {
        std::vector<std::string> words;
        std::istringstream tabbed(line);
        for (std::string word; std::getline(tabbed, word, '\t');) words.push_back(word);
        std::string spaced;
        for (const std::string& word : words) spaced += (spaced.empty() ? "" : " ") + word;
        file.lines.push_back(spaced);
        if (words.empty()) continue;
        if (words[0] == "type" && words.size() == 6) {
            file.type = std::stoi(words[1]);
            file.tracks = std::stoi(words[3]);
            file.division = std::stoi(words[5]);
            continue;
        }
        if (words[0] == "track" && words.size() == 2) {
            track = std::stoi(words[1]);
            tick = 0;
            continue;
        }
        MidoEvent e;
        e.track = track;
        e.type = words[0];
        for (std::size_t i = 1; i < words.size(); ++i) {
            const auto eq = words[i].find('=');
            if (eq == std::string::npos) continue;
            const std::string key = words[i].substr(0, eq);
            const std::string value = words[i].substr(eq + 1);
            if (key == "time") {
                tick += std::stoll(value);
            } else {
                e.fields[key] = value;
            }
        }
        e.tick = tick;
        file.events.push_back(std::move(e));
    }
    return file;
}

}  // namespace scoreconv::testing
