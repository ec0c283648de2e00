// The event record: one musical event of one voice (a note or chord, a rest, or a
// non-sounding event such as a clef, key, time signature, tempo or barline), as every
// reader of the score library fills it and every writer and the play model read it.
//
// The record is a plain value: copying it copies its lists. Times are ticks at 480
// per quarter note. An event holds at most kMaxHeads note heads; the appends refuse
// the one past that, and every per-head lookup ignores heads at or past headCount
// (and negative ones), because head counts and indices come from user files.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace scorecore {

inline constexpr int32_t kMaxHeads = 32;

// Kind word bits. Bits 128, 256, 512, 1024, 2048, 4096 and 8192 belong to the MusicXML
// conversion and the play model; the record only carries them.
inline constexpr uint32_t kKindNote = 0x1;
inline constexpr uint32_t kKindTempo = 0x2;
inline constexpr uint32_t kKindTimeSig = 0x4;
inline constexpr uint32_t kKindGrace = 0x8;  // no duration
inline constexpr uint32_t kKindChord = 0x10;
inline constexpr uint32_t kKindUnpitched = 0x20;
inline constexpr uint32_t kKindKeySig = 0x4000;
inline constexpr uint32_t kKindCue = 0x8000;
inline constexpr uint32_t kKindInvisible = 0x10000;
inline constexpr uint32_t kKindRest = 0x20000;
inline constexpr uint32_t kKindSmall = 0x40000;
inline constexpr uint32_t kKindStaffUp = 0x80000;
inline constexpr uint32_t kKindStaffDown = 0x100000;
inline constexpr uint32_t kKindSilent = 0x400000;

inline constexpr int32_t kTieStart = 1;
inline constexpr int32_t kTieEnd = 4;

// Flags of a CScoreEventItem.
inline constexpr int32_t kItemSlurred = 2;
inline constexpr int32_t kItemSlurStart = 8;
inline constexpr int32_t kItemSlurStop = 16;
inline constexpr int32_t kItemLineStart = 32;  // glissando or line
inline constexpr int32_t kItemLineStop = 64;

// Codes of a CScoreWedge.
inline constexpr int32_t kWedgeDiminuendo = -8;
inline constexpr int32_t kWedgeCrescendo = -9;
inline constexpr int32_t kWedgeStop = -10;
inline constexpr int32_t kWedgeNone = -11;

// Articulation mark of an event.
struct CEventArticulation {
    int32_t code = 0;       // 0 none; 1, 2, 4, 5, 6, 7, 8 the marks
    int32_t placement = 2;  // 1 above, 2 below

    // Row of the play model's articulation table for the code, -1 for none.
    int32_t tableIndex() const;
};

// Dynamic mark of an event: a level (the code is its velocity) or an accent.
struct CEventDynamic {
    int32_t code = 0;  // 0 none; ppp 10 .. fff 127; -1 fp, -2 fz, -3 sfz/sffz, -4 other sf
    int32_t placement = 2;
    float offset = 0.0f;

    bool isAccent() const { return code >= -4 && code <= -1; }
    bool isLevel() const { return code > 0; }
    // 127 -> 0, 110 -> 1, ... 10 -> 7; -1 for any other code.
    int32_t levelIndex() const;
    // The level scaled by velocity / 74 (mf), truncated and kept in 0..127; the code
    // itself when it is 0, an accent, or velocity is 74.
    int32_t scaledVelocity(int32_t velocity) const;
};

// Barline and ending of an event.
struct CEventBarline {
    std::string endingLabel;  // "1.", "1.-2.", "1. 2. 3." or a number text as read
    int32_t type = -1;        // -1 none
    int32_t endingSpan = -1;  // notes the ending covers, -1 none
    int32_t present = 0;
    uint8_t leftDown = 1;  // ends bent down
    uint8_t rightDown = 1;

    // The label of an ending from its first and last number: "1." for a first only,
    // "1.-3." for a range, "1. 2. 3." for a range given as a list. A first number of 0
    // or less gives an empty label; a last number of 0 or less counts as none. A list of
    // more than kMaxEndingListNumbers numbers is written as a range instead.
    static std::string formEndingLabel(int32_t first, int32_t last, bool list);
    static constexpr int32_t kMaxEndingListNumbers = 16;
};

// Slur or line attached to an event.
struct CScoreEventItem {
    int32_t number = 0;
    int32_t placement = 0;  // 0 unset, 1 above, 2 below
    int32_t span = -1;      // remaining span in events, -1 unset
    int32_t line = -1;      // assigned line number, -1 unset
    int32_t flags = 0;      // kItem* bits

    // ORs bits in (0 clears) and returns the new flags.
    int32_t addFlags(int32_t bits);
    // True when flags and mask share a bit, and also when both are 0.
    bool hasFlag(int32_t mask) const;
};

struct CScoreLyric {
    int32_t number = 0;  // syllabic code (1 single .. 4 end) from MusicXML, verse from TvrXML
    std::string text;
    uint8_t hyphen = 0;
    uint8_t extender = 0;
    int32_t extraA = -1;  // carried unchanged; no use in this library
    int32_t extraB = 0;

    // Stores the text; an empty text keeps the old one. False when memory runs out.
    bool setText(std::string_view newText);
};

struct CScoreOrnament {
    int32_t code = 0;  // 1 trill, 10/11 fermata, 12 wavy line, 23 wavy line without trill ...
    int32_t placement = 0;
    int32_t secondCode = 0;  // accidental mark (5, 6, 7) or wavy-line kind (23 to 25)
    int32_t flag = 0;
    float position = 0.0f;
    int32_t extra = -1;  // carried unchanged; no use in this library

    // False for the pedal, segno, coda (13-16) and the measure-repeat and slash marks (19-22).
    bool isNotation() const;
};

struct CScoreText {
    static constexpr std::size_t kMaxFaceChars = 32;

    uint8_t bold = 0;
    uint8_t italic = 0;
    int32_t height = 10;
    std::string face = "Times New Roman";  // at most kMaxFaceChars characters once appended
    int32_t placement = 1;
    int32_t offsetX = 0;
    int32_t offsetY = 0;
    std::string text;
};

struct CScoreWedge {
    int32_t code = kWedgeNone;
    int32_t placement = 0;
    int32_t span = -1;  // remaining span in events, -1 unset
    int32_t number = 0;
    int32_t startOffset = 0;
    int32_t endOffset = 0;
    float spanFactor = 1.0f;
};

// Key signature as the readers hold it. Fifths come from user files: the setters keep
// them within -7..7 so that they can index a table of keys.
struct CKeySig {
    static constexpr int8_t kUnset = 127;

    int8_t fifths = kUnset;
    uint8_t major = 1;
    int8_t cancel = kUnset;
    uint8_t changed = 0;

    // kUnset stays unset; any other value is clamped to -7..7.
    static int8_t clampFifths(int32_t value);
    void setFifths(int32_t value) { fifths = clampFifths(value); }
    void setCancel(int32_t value) { cancel = clampFifths(value); }
    bool isSet() const { return fifths != kUnset; }
    // The fifths in -7..7, 0 when unset, safe as a table index (after adding 7) even when
    // the field was written directly.
    int32_t safeFifths() const;
};

struct CScoreClef {
    int32_t kind = 6;
    int32_t line = 1;
    int32_t octaveChange = 0;

    bool sameAs(const CScoreClef& other) const;
};

// Accidental drawn on one head.
struct CEventAccidental {
    int8_t shown = -3;  // -3 none, 0 natural, 1 sharp, 2 double sharp, -1 flat, -2 double flat
    uint8_t editorial = 0;
};

// Per-head slots of an event, used like an array of kMaxHeads values. Nearly every event
// has a single head, so the first Inline slots live in the record and the others in a
// block made the first time a later head is written through the non-const operator[]. A
// slot never written reads as T{}. An index at or past kMaxHeads reads T{} and writes
// into a scratch slot, so no index reaches memory outside the record.
template <class T, std::size_t Inline>
class CHeadSlots {
    static constexpr std::size_t kSlots = static_cast<std::size_t>(kMaxHeads);
    static_assert(Inline > 0 && Inline < kSlots);
    using Overflow = std::array<T, kSlots - Inline>;

    template <bool Const>
    class Cursor {
        using Owner = std::conditional_t<Const, const CHeadSlots, CHeadSlots>;

    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = std::conditional_t<Const, const T*, T*>;
        using reference = std::conditional_t<Const, const T&, T&>;

        Cursor() = default;
        Cursor(Owner* owner, std::size_t at) : owner_(owner), at_(at) {}
        reference operator*() const { return (*owner_)[at_]; }
        pointer operator->() const { return &(*owner_)[at_]; }
        Cursor& operator++() {
            ++at_;
            return *this;
        }
        Cursor operator++(int) {
            Cursor before = *this;
            ++at_;
            return before;
        }
        bool operator==(const Cursor& other) const { return owner_ == other.owner_ && at_ == other.at_; }

    private:
        Owner* owner_ = nullptr;
        std::size_t at_ = 0;
    };

public:
    using value_type = T;
    using size_type = std::size_t;
    using iterator = Cursor<false>;
    using const_iterator = Cursor<true>;

    CHeadSlots() = default;
    CHeadSlots(const CHeadSlots& other) : inline_(other.inline_), overflow_(copyOverflow(other)) {}
    CHeadSlots& operator=(const CHeadSlots& other) {
        if (this != &other) {
            std::unique_ptr<Overflow> overflow = copyOverflow(other);  // may throw: nothing changed yet
            inline_ = other.inline_;
            overflow_ = std::move(overflow);
        }
        return *this;
    }
    CHeadSlots(CHeadSlots&&) noexcept = default;
    CHeadSlots& operator=(CHeadSlots&&) noexcept = default;
    ~CHeadSlots() = default;

    static constexpr size_type size() { return kSlots; }

    T& operator[](size_type head) {
        if (head < Inline) return inline_[head];
        if (head >= kSlots) {
            thread_local T scratch;
            scratch = T{};
            return scratch;
        }
        if (!overflow_) overflow_ = std::make_unique<Overflow>();
        return (*overflow_)[head - Inline];
    }
    const T& operator[](size_type head) const {
        if (head < Inline) return inline_[head];
        if (head >= kSlots || !overflow_) return kUnwritten;
        return (*overflow_)[head - Inline];
    }

    // Walking with the non-const iterators writes nothing but makes the block once a slot
    // past the inline ones is reached, as operator[] does.
    iterator begin() { return {this, 0}; }
    iterator end() { return {this, kSlots}; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, kSlots}; }

private:
    static constexpr T kUnwritten{};

    static std::unique_ptr<Overflow> copyOverflow(const CHeadSlots& other) {
        return other.overflow_ ? std::make_unique<Overflow>(*other.overflow_) : nullptr;
    }

    std::array<T, Inline> inline_{};
    std::unique_ptr<Overflow> overflow_;
};

// The flags of an event's heads, one for each head appended with its flags (at most
// kMaxHeads), used like a std::vector of them. They live in head slots, so that a
// record with a few heads holds its flags itself.
class CHeadFlags {
public:
    using value_type = int32_t;
    using size_type = std::size_t;

    size_type size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // New flags read 0; at most kMaxHeads. Throws std::bad_alloc when the block of the
    // later heads cannot be made (nothing changed then).
    void resize(size_type count) {
        count = std::min(count, CHeadSlots<int32_t, 4>::size());
        if (count > count_) {
            slots_[count - 1] = 0;  // makes the later heads' block first, when needed
        } else {
            for (size_type head = count; head < count_; ++head) slots_[head] = 0;
        }
        count_ = static_cast<uint8_t>(count);
    }
    int32_t& operator[](size_type head) { return slots_[head]; }
    const int32_t& operator[](size_type head) const { return slots_[head]; }
    void clear() { *this = CHeadFlags(); }

private:
    // Slots from count_ on read 0.
    CHeadSlots<int32_t, 4> slots_;
    uint8_t count_ = 0;
};

// A list that stays empty in nearly every event: until its first entry arrives it holds
// only a null pointer, and it gives its block back whenever it empties. Otherwise it
// behaves as the std::vector it keeps, and its iterators are pointers into that vector.
template <class T>
class CLazyList {
public:
    using value_type = T;
    using size_type = std::size_t;
    using reference = T&;
    using const_reference = const T&;
    using iterator = T*;
    using const_iterator = const T*;

    CLazyList() = default;
    CLazyList(const CLazyList& other) : block_(copyBlock(other)) {}
    CLazyList& operator=(const CLazyList& other) {
        if (this != &other) block_ = copyBlock(other);
        return *this;
    }
    CLazyList(CLazyList&&) noexcept = default;
    CLazyList& operator=(CLazyList&&) noexcept = default;
    ~CLazyList() = default;

    // Takes the entries of a list built elsewhere.
    CLazyList& operator=(std::vector<T>&& list) {
        if (list.empty()) {
            block_.reset();
        } else if (block_) {
            *block_ = std::move(list);
        } else {
            block_ = std::make_unique<std::vector<T>>(std::move(list));
        }
        return *this;
    }

    size_type size() const { return block_ ? block_->size() : 0; }
    bool empty() const { return !block_; }

    T& operator[](size_type i) { return (*block_)[i]; }
    const T& operator[](size_type i) const { return (*block_)[i]; }
    T& at(size_type i) {
        checkIndex(i);
        return (*block_)[i];
    }
    const T& at(size_type i) const {
        checkIndex(i);
        return (*block_)[i];
    }
    T& back() { return block_->back(); }
    const T& back() const { return block_->back(); }

    iterator begin() { return block_ ? block_->data() : nullptr; }
    iterator end() { return block_ ? block_->data() + block_->size() : nullptr; }
    const_iterator begin() const { return block_ ? block_->data() : nullptr; }
    const_iterator end() const { return block_ ? block_->data() + block_->size() : nullptr; }

    void push_back(const T& value) {
        edit([&](std::vector<T>& list) { list.push_back(value); });
    }
    void push_back(T&& value) {
        edit([&](std::vector<T>& list) { list.push_back(std::move(value)); });
    }
    template <class... Args>
    T& emplace_back(Args&&... args) {
        return edit([&](std::vector<T>& list) -> T& { return list.emplace_back(std::forward<Args>(args)...); });
    }
    iterator insert(const_iterator at, const T& value) {
        const std::ptrdiff_t index = at - begin();
        edit([&](std::vector<T>& list) { list.insert(list.begin() + index, value); });
        return begin() + index;
    }
    template <class InputIt>
    iterator insert(const_iterator at, InputIt first, InputIt last) {
        const std::ptrdiff_t index = at - begin();
        if (first != last) edit([&](std::vector<T>& list) { list.insert(list.begin() + index, first, last); });
        return begin() + index;
    }
    template <class InputIt>
    void assign(InputIt first, InputIt last) {
        if (first == last) {
            clear();
        } else {
            edit([&](std::vector<T>& list) { list.assign(first, last); });
        }
    }
    void clear() { block_.reset(); }

private:
    static std::unique_ptr<std::vector<T>> copyBlock(const CLazyList& other) {
        return other.block_ ? std::make_unique<std::vector<T>>(*other.block_) : nullptr;
    }

    void checkIndex(size_type i) const {
        if (i >= size()) throw std::out_of_range("CLazyList::at");
    }

    // Runs a change on the block, made first when there is none; a block the change
    // leaves empty, or one made for a change that threw, is given back.
    template <class Change>
    decltype(auto) edit(Change&& change) {
        if (!block_) block_ = std::make_unique<std::vector<T>>();
        struct DropWhenEmpty {
            std::unique_ptr<std::vector<T>>& block;
            ~DropWhenEmpty() {
                if (block->empty()) block.reset();
            }
        } drop{block_};
        return change(*block_);
    }

    std::unique_ptr<std::vector<T>> block_;  // null while empty
};

class CScoreEvent {
public:
    CScoreEvent() = default;

    // Back to the state of a new record: every word, slot and list reset.
    void clear();
    // Deep copy into dst; false when memory runs out (dst then holds a partial copy).
    bool copyTo(CScoreEvent& dst) const;

    // --- words: set ORs bits in (0 clears the word); has/is are true when the word
    // shares a bit with bits, or for bits 0 when the word is 0; clear XORs the bits away
    // only when at least one of them is set.
    void setTie(int32_t bits) { tie = bits ? (tie | bits) : 0; }
    bool hasTie(int32_t bits) const { return bits ? (tie & bits) != 0 : tie == 0; }
    void clearTie(int32_t bits) {
        if (tie & bits) tie ^= bits;
    }
    void setTieFlags(bool begin, bool end) { tie = (end ? kTieEnd : 0) | (begin ? kTieStart : 0); }
    void setBeam(int32_t bits) { beam = bits ? (beam | bits) : 0; }
    bool hasBeam(int32_t bits) const { return bits ? (beam & bits) != 0 : beam == 0; }
    void setStem(uint32_t bits) { stem = bits ? (stem | bits) : 0; }
    bool hasStem(uint32_t bits) const { return bits ? (stem & bits) != 0 : stem == 0; }
    bool hasTremolo() const { return (stem & (4u | 8u | 16u | 32u | 64u)) != 0; }
    void setKind(uint32_t bits) { kind = bits ? (kind | bits) : 0; }
    bool isKind(uint32_t bits) const { return bits ? (kind & bits) != 0 : kind == 0; }
    void clearKind(uint32_t bits) {
        if (kind & bits) kind ^= bits;
    }

    // --- heads. A head is added by appendHead, appendPitch and appendAlter and then
    // counted by the caller (++headCount). Each append refuses a 33rd entry and a
    // malformed text, returning false and writing nothing.
    bool appendHead(int32_t flags);
    // Step letter A-G and one octave digit, e.g. "C5".
    bool appendPitch(std::string_view text);
    // "+1", "-1", "+2", "-2", or "**" for none.
    bool appendAlter(std::string_view text);
    void setHeadFlags(int32_t head, int32_t bits);  // ORs; 0 clears
    bool getHeadFlags(int32_t head, int32_t& out) const;
    bool hasHeadFlag(int32_t head, int32_t bits) const;
    void freeHeads();  // releases the head flags
    char getStep(int32_t head) const;  // 0 when the head has no pitch
    bool hasAlter(int32_t head) const;
    // The alteration without a leading plus sign ("1", "-2", "**"); empty when missing.
    std::string getAlterText(int32_t head) const;
    // MusicXML octave to TvrXML octave (+1 while the result stays below 9) and back (-1
    // while above 0).
    bool getPitchTextRaised(int32_t head, std::string& out) const;
    bool getPitchText(int32_t head, std::string& out) const;
    // Sets the key byte of every head's MIDI slot from its TvrXML pitch ("C5" is 60) and
    // alteration, kept within 0..127.
    void updateMidiKeys();

    // --- lists. Appends skip empty entries (reporting success) and return false only
    // when memory runs out; inserts place the entry at `at`, clamped to the last
    // position, or at the end of an empty list.
    bool appendItem(const CScoreEventItem& item);  // flags 0 skipped
    bool insertItem(const CScoreEventItem& item, int32_t at);
    bool appendLyric(const CScoreLyric& lyric);  // number 0 skipped
    bool appendOrnament(const CScoreOrnament& ornament);  // code 0 skipped
    int32_t findWavyLineOrnament() const;  // first with code or second code 23, -1 none
    bool appendText(const CScoreText& text);  // face cut to kMaxFaceChars characters
    bool appendWedge(const CScoreWedge& wedge);  // kWedgeNone skipped
    bool insertWedge(const CScoreWedge& wedge, int32_t at);
    bool isWedge(int32_t index, int32_t code) const;
    bool hasWedge(int32_t code) const;
    bool hasItemFlag(int32_t bits) const;  // some item's hasFlag(bits)
    void limitSlurSpan(int32_t n);  // slur starts get span min(span, n)
    void freeTexts();
    void freeOrnaments();
    void freeLyrics();
    void freeWedges();
    void freeItems();

    int32_t itemCount() const { return static_cast<int32_t>(items.size()); }
    int32_t lyricCount() const { return static_cast<int32_t>(lyrics.size()); }
    int32_t ornamentCount() const { return static_cast<int32_t>(ornaments.size()); }
    int32_t textCount() const { return static_cast<int32_t>(texts.size()); }
    int32_t wedgeCount() const { return static_cast<int32_t>(wedges.size()); }

    // --- durations. The duration (plus half of it with addHalf) as a MusicXML type
    // name: 0 for an exact value; otherwise kErrNotPresent with the name of the largest
    // value below it ("long" above 7680), or "256th" below a quarter.
    int getTypeName(std::string& out, bool addHalf = false) const;
    int getTypeName(std::string* out, bool addHalf = false);  // null: into baseText
    // As a TvrXML base ("1/4"): 0, or kErrNotPresent with out unchanged.
    int getBaseText(std::string& out, bool addHalf = false) const;
    int getBaseText(std::string* out, bool addHalf = false);  // null: into baseText
    // Beams a base text needs: "1/8" 1 .. "1/128" 5, else 0.
    int32_t getBeamCount() const;

    // --- fields. What a play reads of every event comes first, in the
    // record's first two cache lines (a large score's events are read from
    // memory, not from the cache); the rest is grouped by alignment, so that
    // no padding falls between fields.
    int32_t start = 0;
    int32_t duration = 0;  // 480 = quarter
    uint32_t kind = 0;
    int32_t headCount = 0;
    CEventArticulation articulation;
    CEventDynamic dynamic;
    int32_t tie = 0;
    uint8_t dots = 0;
    uint8_t tupletCount = 0;
    // Used by the program's own play model.
    uint8_t meterBeats = 0;   // time signature event: beats
    uint8_t meterUnit = 0;    // and beat unit as a power of two
    int32_t ending = 0;       // 1 for an event in a first ending
    int32_t introStaff = -1;  // where a tune-up note came from, -1 unset
    int32_t introVoice = -1;
    CHeadFlags headFlags;
    CHeadSlots<uint32_t, 4> midi;  // per head: status | key << 8 | velocity << 16
    CHeadSlots<CEventAccidental, 4> accidentals;
    std::vector<CScoreEventItem> items;
    CEventBarline barline;
    std::string pitches;      // two characters per head
    std::string alterations;  // two characters per head
    std::string baseText;     // "1/4", "quarter", "getit" ...; empty when unset
    CLazyList<CScoreLyric> lyrics;
    CLazyList<CScoreOrnament> ornaments;
    CLazyList<CScoreText> texts;
    CLazyList<CScoreWedge> wedges;
    int32_t drawValue = 0;        // signed value of a binary score's drawing object, 0 none
    int32_t drawSmallValue = -1;  // 0..15, -1 none
    int32_t beam = 0;             // 1 begin, 2 continue, 4 end, 8 force, 16 split, 32 divide
    uint32_t stem = 0;            // 1 up, 2 down; tremolo 4, 8, 16, 32, 64; slashed grace 4
    int32_t bracketNumber = 0;
    int32_t bracketOrientation = 0;  // 1 up, 2 down
    int32_t bracketNoteRange = -1;
    int32_t bracketPresent = 0;
    int32_t notationStaff = 0;  // 0 none, 1 up, 2 down
    uint8_t tupletNormal = 0;
    uint8_t bracketHasOrientation = 0;

private:
    // headCount limited to what the slots can hold.
    int32_t usedHeads() const;
    bool isHead(int32_t head) const { return head >= 0 && head < usedHeads(); }
    // The two characters of a head in pitches or alterations, empty when missing.
    std::string_view headText(const std::string& pairs, int32_t head) const;
};

// Scores hold millions of events.
static_assert(sizeof(CScoreEvent) < 400);

}  // namespace scorecore
