// Scores for the engine's tests: ".tvrx" files converted here from MusicXML
// with the score library's own conversion, binary scores written byte by
// byte, and a score opened in the engine for the length of a test.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "../../scoreconv/tests/mido_support.h"
#include "../../scorecore/tests/bin_bytes.h"
#include "engine/engine.h"
#include "engine/entries.h"
#include "musicxml/convert_proc.h"
#include "musicxml/mxml_file.h"
#include "platform_testing/file_bytes.h"
#include "platform_testing/temp_folder.h"
#include "scorecore/result_codes.h"
#include "scorecore/vxml_file.h"

namespace tavtune::testing {

namespace fs = std::filesystem;

inline fs::path sharedScore(const std::string& name) {
    return fs::path(QVP3_SHARED_TESTDATA_DIR) / "musicxml" / name;
}
inline fs::path scoreconvData(const std::string& name) {
    // Lexically: the engine's own data folder need not exist.
    return (fs::path(QVP3_TEST_DATA_DIR) / ".." / ".." / ".." / "scoreconv" / "tests" / "data" / name).lexically_normal();
}

// MusicXML to ".tvrx" at target; the conversion's result.
inline int convertToTvrx(const fs::path& source, const fs::path& target) {
    int signal = 0;
    auto file = scoreconv::CMxmlFile::newFile(nullptr, scoreconv::kModeTvrxml, &signal, 480, "qvp3 test", nullptr);
    scorecore::CVxmlFile vxml;
    int result = -1;
    scoreconv::CConvertParams params;
    params.file = file.get();
    params.vxml = &vxml;
    params.sourcePath = source.string();
    params.targetPath = target.string();
    params.result = &result;
    scoreconv::mxmlConvertProc(&params);
    return result;
}

// --- binary scores ---------------------------------------------------------------------

inline bintest::Bytes binScore(int tempo, std::initializer_list<bintest::Bytes> staves) {
    bintest::Bytes b = bintest::fileHeader().add(bintest::documentHead()).add(bintest::tagS(tempo, 1, 0));
    for (const bintest::Bytes& s : staves) b.add(s);
    return b;
}
inline bintest::Bytes binStave(int number, std::initializer_list<bintest::Bytes> voices) {
    bintest::Bytes b = bintest::tagV(4, 3, number);
    for (const bintest::Bytes& v : voices) b.add(v);
    return b;
}
inline bintest::Bytes binVoice(std::initializer_list<bintest::Bytes> elements) {
    bintest::Bytes b = bintest::tagC(static_cast<std::uint32_t>(elements.size()));
    for (const bintest::Bytes& e : elements) b.add(e);
    return b;
}
// Duration codes: 1 half, 2 quarter, 3 eighth, 0 whole. Step 0 is key 72 under the default clef.
inline bintest::Bytes binNote(int step, int code = 2) {
    return bintest::chord(1, bintest::Bytes().u8(code), {bintest::head(step, 0)});
}

// Two staves: four quarters (72 74 76 77) over a whole note (72) at tempo 120.
inline bintest::Bytes twoStaveBinaryScore() {
    return binScore(120, {binStave(0, {binVoice({binNote(0), binNote(1), binNote(2), binNote(3)})}),
                          binStave(1, {binVoice({binNote(0, 0)})})});
}

inline void writeFile(const fs::path& path, const bintest::Bytes& bytes) {
    platform::testing::writeBytes(path, std::string(bytes.span().begin(), bytes.span().end()));
}

// --- the engine ------------------------------------------------------------------------

template <int N, class... Args>
tvWord call(Args... args) {
    const tvWord w[6] = {static_cast<tvWord>(args)...};
    return entry<N>(w[0], w[1], w[2], w[3], w[4], w[5]);
}
// A point of a tempo curve as the binding hands it over.
inline tvTempoPoint point(int position, double tempo, int kind = 1, int tag = 0) {
    tvTempoPoint p{};
    p.position = position;
    p.tempo = tempo;
    p.factor = 1.0;
    p.kind = kind;
    p.tag = tag;
    return p;
}

// As the binding's SetTempoCurve hands a curve over: each point, then C99(0, 0)
// after each and once more at the end. The first refusal ends it.
inline tvWord handOver(const std::vector<tvTempoPoint>& points) {
    for (tvTempoPoint p : points) {
        const tvWord rc = call<99>(reinterpret_cast<tvWord>(&p), TAVTUNE_REQUEST_TEMPO_POINT);
        if (rc != 0) return rc;
        call<99>(0, 0);
    }
    return call<99>(0, 0);
}

// A score open in the engine for the life of the object.
class EngineScore {
public:
    explicit EngineScore(const fs::path& path, const tvVoiceRecord* voices = nullptr) {
        const std::string text = path.string();
        result_ = static_cast<int>(entry<176>(reinterpret_cast<tvWord>(text.c_str()), 0, 0, 0, 100,
                                              reinterpret_cast<tvWord>(voices)));
    }
    ~EngineScore() {
        entry<101>(0, 0, 0x40000000, 0, 0, 0);
        entry<41>(0, 0, 0, 0, 0, 0);
    }
    EngineScore(const EngineScore&) = delete;
    EngineScore& operator=(const EngineScore&) = delete;
    int result() const { return result_; }

private:
    int result_ = -1;
};

// The tempo changes of a render as (tick, beats per minute).
inline std::vector<std::pair<std::int64_t, int>> temposOf(const scoreconv::testing::MidoFile& file) {
    std::vector<std::pair<std::int64_t, int>> out;
    for (const auto& e : file.of("set_tempo")) {
        out.emplace_back(e.tick, static_cast<int>(std::lround(60000000.0 / e.number("tempo"))));
    }
    return out;
}

// Polls until done() holds; false after 20 seconds.
template <class Condition>
bool waitFor(Condition done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace tavtune::testing
