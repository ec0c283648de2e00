#include "scorecore/tvrxml_vocab.h"

#include <algorithm>
#include <limits>

#include "platform/text.h"

namespace scorecore {

namespace {

constexpr int64_t kInt32Max = std::numeric_limits<int32_t>::max();

// A text of decimal digits only, as a value up to `limit`; none for an empty text, any
// other character, or a larger value.
std::optional<int64_t> digitsValue(std::string_view text, int64_t limit) {
    if (text.empty()) return std::nullopt;
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > limit) return std::nullopt;
    }
    return value;
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

char upperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// --- tables ---

struct CodeText {
    int32_t code;
    std::string_view text;
};

template <std::size_t N>
int32_t codeOfText(const CodeText (&table)[N], std::string_view text, int32_t none) {
    for (const CodeText& row : table)
        if (platform::equalsNoCase(row.text, text)) return row.code;
    return none;
}

template <std::size_t N>
std::string_view textOfCode(const CodeText (&table)[N], int32_t code) {
    for (const CodeText& row : table)
        if (row.code == code) return row.text;
    return {};
}

struct CodeGlyph {
    int32_t code;
    int32_t glyph;
};

template <std::size_t N>
int32_t glyphOfCode(const CodeGlyph (&table)[N], int32_t code) {
    for (const CodeGlyph& row : table)
        if (row.code == code) return row.glyph;
    return 0;
}

template <std::size_t N>
int32_t codeOfGlyph(const CodeGlyph (&table)[N], int32_t glyph) {
    for (const CodeGlyph& row : table)
        if (row.glyph == glyph) return row.code;
    return 0;
}

struct NamedClef {
    std::string_view name;
    int32_t kind;
    int32_t line;
};

constexpr NamedClef kNamedClefs[] = {
    {"treble", 0, 2},
    {"alto", 1, 3},
    {"bass", 2, 4},
    {"tenor", 1, 4},
};

constexpr int32_t kOctaveUp = 0;
constexpr int32_t kOctaveNone = 1;
constexpr int32_t kOctaveDown = 2;

struct ClefLetter {
    int32_t kind;
    char letter;
};

constexpr ClefLetter kClefLetters[] = {{0, 'G'}, {1, 'C'}, {2, 'F'}, {3, 'P'}, {6, 'N'}};

constexpr CodeText kBarlines[] = {
    {0, "single"},   {1, "double"},      {2, "end"}, {3, "repEnd"},
    {4, "repBegin"}, {5, "repEndBegin"},
};

struct TypeBase {
    std::string_view type;
    std::string_view base;
    int32_t ticks;  // at 480 per quarter
};

constexpr TypeBase kNoteValues[] = {
    {"long", "4/1", 7680},    {"breve", "2/1", 3840}, {"whole", "1/1", 1920},
    {"half", "1/2", 960},     {"quarter", "1/4", 480}, {"eighth", "1/8", 240},
    {"16th", "1/16", 120},    {"32nd", "1/32", 60},    {"64th", "1/64", 30},
    {"128th", "1/128", 15},   {"256th", "1/256", 7},  // 7.5 has no tick; halved as the dots are
};

constexpr int32_t kUnmeteredBarTicks = 1920;

constexpr CodeText kNoteheads[] = {
    {1, "diamond"}, {2, "crossCircle"}, {4, "crossDiamond"},
    {8, "triangle"}, {16, "square"},    {32, "none"},
};

constexpr CodeText kArticulations[] = {
    {1, "staccato"},     {2, "tenuto"},     {4, "staccatissimo"}, {5, "normalAccent"},
    {6, "strongAccent"}, {7, "weakBeat"},   {8, "strongBeat"},
};
constexpr int32_t kArticulationDetachedLegato = 3;

constexpr CodeGlyph kArticulationGlyphs[] = {
    {1, '.'}, {2, 200}, {4, 201}, {4, 206}, {5, 202}, {6, 203}, {7, 204}, {8, 205}, {8, 207},
};

constexpr CodeGlyph kDynamicGlyphs[] = {
    {127, 'h'}, {110, 'g'}, {90, 'f'}, {74, 'j'}, {62, 'i'}, {44, 'p'},
    {22, 'q'},  {10, 'r'},  {-4, 's'}, {-3, 'z'}, {-2, '{'}, {-1, '|'},
};

// Written glyphs first, so that a code finds its written glyph.
constexpr CodeGlyph kOrnamentGlyphs[] = {
    {1, 't'},  {2, 'l'},  {3, 'x'},  {4, 'w'},  {5, 'R'},  {6, 'S'},  {7, 'Q'},
    {8, 'Z'},  {9, 'Y'},  {10, 'u'}, {11, 'k'}, {12, 173}, {13, 'a'}, {14, 'b'},
    {15, 'y'}, {16, 'n'}, {19, 'W'}, {20, 'X'}, {21, 'V'},
};
constexpr CodeGlyph kOrnamentReadOnlyGlyphs[] = {
    {16, 'o'}, {kOrnamentDalSegno, 'e'}, {kOrnamentDaCapo, 'd'},
};

constexpr std::string_view kStaffLinePatterns[] = {
    "_______|___", "______||___", "_____|||___", "____||||___",
    "___|||||___", "__||||||___", "__|||||||__", "_||||||||__",
};

}  // namespace

// --- music font ---

std::string glyphText(int32_t glyph) {
    std::string text;
    if (glyph >= 1 && glyph <= 255) platform::appendUtf8(text, static_cast<char32_t>(glyph));
    return text;
}

int32_t singleGlyph(std::string_view content) {
    std::size_t pos = 0;
    if (content.empty()) return 0;
    const char32_t cp = platform::decodeUtf8(content, pos);
    if (pos != content.size() || cp < 1 || cp > 255) return 0;
    return static_cast<int32_t>(cp);
}

// --- clefs ---

std::string clefText(const CScoreClef& clef) {
    // Only clefs without octave change take a name, so that the octave survives a round trip.
    if (clef.octaveChange == kOctaveNone) {
        for (const NamedClef& named : kNamedClefs)
            if (named.kind == clef.kind && named.line == clef.line) return std::string(named.name);
    }
    const auto letter = std::find_if(std::begin(kClefLetters), std::end(kClefLetters),
                                     [&](const ClefLetter& l) { return l.kind == clef.kind; });
    if (letter == std::end(kClefLetters)) return {};
    std::string text(1, letter->letter);
    if (clef.line <= 5) {
        const bool asItself = clef.line == 1 || clef.line == 2 || clef.line == 4 || clef.line == 5;
        text += asItself ? static_cast<char>('0' + clef.line) : '3';
    }
    if (clef.octaveChange == kOctaveUp) text += '+';
    if (clef.octaveChange == kOctaveDown) text += '-';
    return text;
}

bool readClefText(std::string_view text, CScoreClef& clef) {
    for (const NamedClef& named : kNamedClefs) {
        if (platform::equalsNoCase(named.name, text)) {
            clef.kind = named.kind;
            clef.line = named.line;
            clef.octaveChange = kOctaveNone;
            return true;
        }
    }
    if (text.empty()) return false;
    const char first = upperAscii(text[0]);
    const auto letter = std::find_if(std::begin(kClefLetters), std::end(kClefLetters),
                                     [&](const ClefLetter& l) { return l.letter == first; });
    if (letter == std::end(kClefLetters)) return false;
    clef.kind = letter->kind;
    if (text.size() > 1 && text[1] >= '1' && text[1] <= '5') clef.line = text[1] - '0';
    const char mark = text.size() > 2 ? text[2] : '\0';
    clef.octaveChange = mark == '+' ? kOctaveUp : mark == '-' ? kOctaveDown : kOctaveNone;
    return true;
}

// --- time signatures ---

std::string timeText(const CMeter& meter) {
    if (meter.beats == -1 || isUnmetered(meter)) return "infinite";
    if (meter.unitIndex < 0 || meter.unitIndex >= kBeatUnitCount) return {};
    const int32_t unit = int32_t{1} << meter.unitIndex;
    if (meter.beats == 2 && unit == 2) return "allaBreve";
    if (meter.beats == 4 && unit == 4) return "C";
    if (meter.beats < 1 || meter.beats > 999 || unit > 999) return {};
    return std::to_string(meter.beats) + "/" + std::to_string(unit);
}

int32_t readTimeText(std::string_view text, CMeter& meter) {
    struct Read {
        int32_t kind;
        int64_t beats;
        int64_t unit;
    };
    constexpr Read kUnmetered{kTimeUnmetered, kUnmeteredBeats, 4};
    Read read{kTimeNumeric, 0, 0};
    if (platform::equalsNoCase(text, "C")) {
        read = {kTimeCommon, 4, 4};
    } else if (platform::equalsNoCase(text, "allaBreve")) {
        read = {kTimeAllaBreve, 2, 2};
    } else if (platform::equalsNoCase(text, "infinite")) {
        read = kUnmetered;
    } else {
        const std::size_t slash = text.find('/');
        if (slash == std::string_view::npos) return kTimeInvalid;
        const auto beats = digitsValue(text.substr(0, slash), kUnmeteredBeats);
        const auto unit = digitsValue(text.substr(slash + 1), kUnmeteredBeats);
        if (!beats || !unit || *unit == 0) return kTimeInvalid;
        read = *unit == kUnmeteredBeats ? kUnmetered : Read{kTimeNumeric, *beats, *unit};
    }
    CMeter result;
    const int unitIndex = CMeter::unitToIndex(static_cast<int>(read.unit));
    result.init(480, static_cast<int>(read.beats), unitIndex);
    if (!result.isValid() || result.ticksPerBar <= 0) return kTimeInvalid;
    meter = result;
    return read.kind;
}

bool isUnmetered(const CMeter& meter) { return meter.beats == kUnmeteredBeats; }

// --- barlines ---

std::string_view barlineText(int32_t code) {
    if (code == 7) return "repEnd";
    return textOfCode(kBarlines, code);
}

int32_t readBarlineText(std::string_view text) { return codeOfText(kBarlines, text, -1); }

// --- note values ---

std::string noteBaseText(std::string_view type) {
    for (const TypeBase& value : kNoteValues)
        if (value.type == type) return std::string(value.base);
    if (digitsValue(type, kInt32Max)) return std::string(type);
    return {};
}

int32_t noteTypeBars(std::string_view type) {
    if (type == "long") return 4;
    if (type == "breve") return 2;
    if (type == "whole") return 1;
    return static_cast<int32_t>(digitsValue(type, kInt32Max).value_or(0));
}

int32_t noteBaseTicks(std::string_view base, const CMeter& meter) {
    for (const TypeBase& value : kNoteValues)
        if (value.base == base) return value.ticks;
    const std::size_t digits = std::min(base.find_first_not_of("0123456789"), base.size());
    if (digits == 0) return 0;
    const auto number = digitsValue(base.substr(0, digits), kInt32Max);
    if (!number) return -1;
    const int64_t bar = isUnmetered(meter) ? kUnmeteredBarTicks : std::max(meter.ticksPerBar, 0);
    const int64_t ticks = *number * bar;
    return ticks > kInt32Max ? -1 : static_cast<int32_t>(ticks);
}

int32_t noteDurationTicks(const NoteDurationText& duration, const CMeter& meter,
                          TupletRounding& rounding) {
    if (duration.grace) return 0;
    const int32_t base = noteBaseTicks(duration.base, meter);
    if (base < 0) return -1;
    int64_t d = base;
    for (int32_t i = 0; i < duration.dots && i < 31; ++i) d += base >> (i + 1);
    const int64_t a = duration.tupletActual;
    const int64_t n = duration.tupletNormal;
    if (a > 0) {
        if (n < 0) return -1;
        // d - (a - n) x (d / a) is d x n / a; kept in integers so that exact results stay exact.
        const int64_t numerator = d * n;  // d < 2^32 (base and dots), n < 2^31: fits
        const bool truncate = rounding.truncateNext;
        rounding.truncateNext = !rounding.truncateNext;
        d = truncate ? numerator / a : (numerator + a / 2) / a;
    }
    return d > kInt32Max ? -1 : static_cast<int32_t>(d);
}

// --- staff lines ---

std::string_view staffLinePattern(int32_t lineCount) {
    if (lineCount < 1 || lineCount > 8) return kDefaultStaffLines;
    return kStaffLinePatterns[lineCount - 1];
}

// --- noteheads ---

std::string_view noteheadText(int32_t shapeBits) {
    if (shapeBits & 0x01) return (shapeBits & 0x40) ? "diamond" : "crossDiamond";
    for (const int32_t bit : {0x02, 0x04, 0x08, 0x10, 0x20})
        if (shapeBits & bit) return textOfCode(kNoteheads, bit);
    return "auto";
}

int32_t readNoteheadText(std::string_view text) { return codeOfText(kNoteheads, text, 0); }

// --- articulations ---

std::string_view articulationText(int32_t code) { return textOfCode(kArticulations, code); }

int32_t readArticulationText(std::string_view text) {
    if (platform::equalsNoCase(text, "staccato tenuto")) return kArticulationDetachedLegato;
    return codeOfText(kArticulations, text, 0);
}

int32_t articulationOfGlyph(int32_t glyph) { return codeOfGlyph(kArticulationGlyphs, glyph); }

// --- dynamics ---

int32_t dynamicGlyph(int32_t code) { return code == 0 ? 0 : glyphOfCode(kDynamicGlyphs, code); }

int32_t dynamicOfGlyph(int32_t glyph) { return codeOfGlyph(kDynamicGlyphs, glyph); }

// --- ornaments ---

int32_t ornamentGlyph(int32_t code) { return glyphOfCode(kOrnamentGlyphs, code); }

int32_t ornamentOfGlyph(int32_t glyph) {
    if (const int32_t code = codeOfGlyph(kOrnamentGlyphs, glyph)) return code;
    return codeOfGlyph(kOrnamentReadOnlyGlyphs, glyph);
}

// --- key signatures ---

std::string_view keySigSteps(int32_t fifths) {
    if (fifths == CKeySig::kUnset) return {};
    const int32_t clamped = std::clamp(fifths, -7, 7);
    const std::string_view order = clamped < 0 ? kFlatOrder : kSharpOrder;
    return order.substr(0, static_cast<std::size_t>(clamped < 0 ? -clamped : clamped));
}

bool keyAltersStep(int32_t fifths, char step) {
    return step != '\0' && keySigSteps(fifths).find(upperAscii(step)) != std::string_view::npos;
}

AlterDisplay alterDisplay(const CEventAccidental& slot, bool headHasAlteration, int32_t fifths,
                          char step) {
    const AlterDisplay shown = slot.editorial ? AlterDisplay::Parenth : AlterDisplay::Force;
    switch (slot.shown) {
    case 0:
        return headHasAlteration ? AlterDisplay::Omit : shown;
    case -1:
        return keyAltersStep(fifths, step) ? shown : AlterDisplay::None;
    case 1:
        return fifths > 0 && keyAltersStep(fifths, step) ? shown : AlterDisplay::None;
    default:
        return AlterDisplay::None;
    }
}

// --- endings ---

EndingNumbers endingNumbers(std::string_view text) {
    EndingNumbers numbers;
    bool firstRun = true;
    std::size_t i = 0;
    while (i < text.size()) {
        if (!isDigit(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && isDigit(text[end])) ++end;
        const auto run = digitsValue(text.substr(i, end - i), kInt32Max);
        const int32_t value = static_cast<int32_t>(run.value_or(0));
        if (firstRun) {
            numbers.first = value;
            firstRun = false;
        } else {
            numbers.last = value;
        }
        i = end;
    }
    return numbers;
}

}  // namespace scorecore
