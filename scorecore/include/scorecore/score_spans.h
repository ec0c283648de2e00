// Marks that span several events of a voice, and the list that holds grace notes
// until their durations are known.
//
// Slurs, lines and wedges are stored on the event where they start, with their span in
// events. Writers that need an explicit stop on a later event carry them with the two
// pending-span carriers. Feed a carrier the events of one voice in order:
//
//     CPendingItems slurs;
//     for (each event e of the voice, n = number of events after e) {
//         if (!slurs.closeDue(e) || !slurs.take(e, n)) return kErrOutOfMemory;
//         ... write e ...
//     }
//
// closeDue puts the stops of the spans that end at e into e; take picks up the spans
// that start at e. Both return false only when memory runs out.
#pragma once

#include "scorecore/score_event.h"

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace scorecore {

// True when some item of the event is a slur start or marks the event slurred.
bool scEventIsSlurred(const CScoreEvent& event);

// Carries the spans of one kind of mark along a voice: Element is CScoreEventItem for
// slurs and lines, CScoreWedge for wedges (see the two aliases below for what each does).
template <class Element>
class CPendingSpans {
public:
    // Counts every pending span down by one. Each that reaches 0 leaves the list, and its
    // closing copy is put at the front of the event's marks, in the order the spans were
    // taken.
    bool closeDue(CScoreEvent& event);
    // Takes the event's starts that open a span: each gets the next number (1..6, then 1
    // again) and the span min(span, n), in the event and in the kept copy.
    bool take(CScoreEvent& event, int32_t n);

    int32_t pendingCount() const { return static_cast<int32_t>(pending_.size()); }
    // Forgets every pending span; numbering starts again at 1.
    void reset() {
        pending_.clear();
        lastNumber_ = 0;
    }

private:
    std::vector<Element> pending_;
    int32_t lastNumber_ = 0;
};

// Slurs and lines: takes the items with kItemSlurStart or kItemLineStart whose span is
// above 0; a line start closes as kItemLineStop, anything else as kItemSlurStop. With
// n <= 0 nothing is taken and every item of the event gets span 0.
using CPendingItems = CPendingSpans<CScoreEventItem>;

// Crescendo and diminuendo wedges: takes those whose span is set (not -1), n below 0
// counting as 0; they close as kWedgeStop. A wedge whose span is then 0 is closed at
// once by a stop copy right after it in the same event; the others are kept.
using CPendingWedges = CPendingSpans<CScoreWedge>;

// Meter context kept in a CScoreItemList.
struct CTimeContext {
    int32_t ticksPerQuarter = 480;
    int32_t beats = 4;
    int32_t unitPower = 2;  // beat unit as a power of two: 2 is a quarter
};

struct CScoreListItem {
    static constexpr int32_t kDestroyed = -1;
    static constexpr int32_t kEvent = 1;
    static constexpr int32_t kInt = 2;
    static constexpr int32_t kByte = 3;
    static constexpr int32_t kTime = 4;
    static constexpr int32_t kByte5 = 5;  // a second byte kind, told apart by its type

    int32_t type = kDestroyed;
    std::unique_ptr<CScoreEvent> event;  // kEvent: an owned deep copy
    int32_t intValue = 0;                // kInt
    uint8_t byteValue = 0;               // kByte, kByte5
    CTimeContext time;                   // kTime
    std::array<int32_t, 5> values{};     // optional values of any item
};

// Typed list that carries grace notes (and their context) until the durations of the
// grace notes are known.
class CScoreItemList {
public:
    using Values = std::array<int32_t, 5>;

    // Each append returns false when memory runs out (the list is then unchanged).
    bool appendEvent(const CScoreEvent& event, const Values& values = {});
    bool appendInt(int32_t value, const Values& values = {});
    // type is CScoreListItem::kByte or kByte5; any other type is refused.
    bool appendByte(uint8_t value, int32_t type = CScoreListItem::kByte,
                    const Values& values = {});
    // A context of 480 ticks per quarter in 4/4.
    bool appendTimeContext(const Values& values = {});

    // Sets the duration of every event item.
    void setDurations(int32_t ticks);
    int32_t countObjects() const;
    // Destroys every item and resets the flag byte.
    void clear();

    int32_t size() const { return static_cast<int32_t>(items_.size()); }
    // The item at index, nullptr out of range.
    const CScoreListItem* at(int32_t index) const;
    // The event of the item at index, nullptr when it holds none.
    CScoreEvent* eventAt(int32_t index);

    uint8_t flag = 127;

private:
    bool append(CScoreListItem item);

    std::vector<CScoreListItem> items_;
};

}  // namespace scorecore
