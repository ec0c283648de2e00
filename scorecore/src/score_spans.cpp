#include "scorecore/score_spans.h"

#include <algorithm>
#include <new>
#include <utility>

namespace scorecore {
namespace {

// Numbers of concurrent spans run 1..6, as many as a MusicXML writer may number.
int32_t nextSpanNumber(int32_t& last) {
    last = last % 6 + 1;
    return last;
}

// What tells the two kinds of span apart: where the marks live in an event, which of
// them open a span, what becomes of the others, and the copy that closes a span.
template <class T>
struct SpanKind;

template <>
struct SpanKind<CScoreEventItem> {
    static std::vector<CScoreEventItem>& marks(CScoreEvent& event) { return event.items; }
    static bool opens(const CScoreEventItem& item, int32_t n) {
        return n > 0 && (item.flags & (kItemSlurStart | kItemLineStart)) != 0 && item.span > 0;
    }
    // With no events left no item keeps a span.
    static CScoreEventItem leftAlone(CScoreEventItem item, int32_t n) {
        if (n <= 0) item.span = 0;
        return item;
    }
    static CScoreEventItem closing(CScoreEventItem item) {
        item.flags = (item.flags & kItemLineStart) ? kItemLineStop : kItemSlurStop;
        return item;
    }
};

template <>
struct SpanKind<CScoreWedge> {
    static auto& marks(CScoreEvent& event) { return event.wedges; }
    static bool opens(const CScoreWedge& wedge, int32_t) {
        return (wedge.code == kWedgeCrescendo || wedge.code == kWedgeDiminuendo) && wedge.span >= 0;
    }
    static CScoreWedge leftAlone(CScoreWedge wedge, int32_t) { return wedge; }
    static CScoreWedge closing(CScoreWedge wedge) {
        wedge.code = kWedgeStop;
        return wedge;
    }
};

}  // namespace

bool scEventIsSlurred(const CScoreEvent& event) {
    return std::any_of(event.items.begin(), event.items.end(), [](const CScoreEventItem& item) {
        return (item.flags & (kItemSlurStart | kItemSlurred)) != 0;
    });
}

// --- pending spans --------------------------------------------------------------------

// Nothing changes when memory runs out.
template <class T>
bool CPendingSpans<T>::closeDue(CScoreEvent& event) {
    try {
        std::vector<T> stillPending;
        std::vector<T> closings;
        for (T entry : pending_) {
            --entry.span;
            if (entry.span <= 0) {
                closings.push_back(SpanKind<T>::closing(entry));
            } else {
                stillPending.push_back(entry);
            }
        }
        auto& marks = SpanKind<T>::marks(event);
        marks.insert(marks.begin(), closings.begin(), closings.end());
        pending_ = std::move(stillPending);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

template <class T>
bool CPendingSpans<T>::take(CScoreEvent& event, int32_t n) {
    const int32_t limit = std::max(n, 0);
    try {
        std::vector<T> marks;
        std::vector<T> taken;
        int32_t number = lastNumber_;
        for (T mark : SpanKind<T>::marks(event)) {
            if (!SpanKind<T>::opens(mark, n)) {
                marks.push_back(SpanKind<T>::leftAlone(mark, n));
                continue;
            }
            mark.number = nextSpanNumber(number);
            mark.span = std::min(mark.span, limit);
            marks.push_back(mark);
            // A span with no event left to run to closes where it starts.
            if (mark.span == 0) {
                marks.push_back(SpanKind<T>::closing(mark));
            } else {
                taken.push_back(mark);
            }
        }
        pending_.reserve(pending_.size() + taken.size());
        // Nothing below can fail, so the event and the list change together or not at all.
        pending_.insert(pending_.end(), taken.begin(), taken.end());
        SpanKind<T>::marks(event) = std::move(marks);
        lastNumber_ = number;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

template class CPendingSpans<CScoreEventItem>;
template class CPendingSpans<CScoreWedge>;

// --- grace-note list ------------------------------------------------------------------

bool CScoreItemList::append(CScoreListItem item) {
    try {
        items_.push_back(std::move(item));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

bool CScoreItemList::appendEvent(const CScoreEvent& event, const Values& values) {
    CScoreListItem item;
    try {
        item.event = std::make_unique<CScoreEvent>();
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!event.copyTo(*item.event)) return false;
    item.type = CScoreListItem::kEvent;
    item.values = values;
    return append(std::move(item));
}

bool CScoreItemList::appendInt(int32_t value, const Values& values) {
    CScoreListItem item;
    item.type = CScoreListItem::kInt;
    item.intValue = value;
    item.values = values;
    return append(std::move(item));
}

bool CScoreItemList::appendByte(uint8_t value, int32_t type, const Values& values) {
    if (type != CScoreListItem::kByte && type != CScoreListItem::kByte5) return false;
    CScoreListItem item;
    item.type = type;
    item.byteValue = value;
    item.values = values;
    return append(std::move(item));
}

bool CScoreItemList::appendTimeContext(const Values& values) {
    CScoreListItem item;
    item.type = CScoreListItem::kTime;
    item.values = values;
    return append(std::move(item));
}

void CScoreItemList::setDurations(int32_t ticks) {
    for (CScoreListItem& item : items_) {
        if (item.type == CScoreListItem::kEvent && item.event) item.event->duration = ticks;
    }
}

int32_t CScoreItemList::countObjects() const {
    return static_cast<int32_t>(
        std::count_if(items_.begin(), items_.end(), [](const CScoreListItem& item) {
            return item.type == CScoreListItem::kEvent;
        }));
}

void CScoreItemList::clear() {
    std::vector<CScoreListItem>().swap(items_);
    flag = 127;
}

const CScoreListItem* CScoreItemList::at(int32_t index) const {
    if (index < 0 || index >= size()) return nullptr;
    return &items_[static_cast<size_t>(index)];
}

CScoreEvent* CScoreItemList::eventAt(int32_t index) {
    if (index < 0 || index >= size()) return nullptr;
    CScoreListItem& item = items_[static_cast<size_t>(index)];
    return item.type == CScoreListItem::kEvent ? item.event.get() : nullptr;
}

}  // namespace scorecore
