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

// Counts every pending span down; those reaching 0 are closed by makeClosing(entry) at the
// front of target. Nothing changes when memory runs out.
template <class T, class MakeClosing>
bool closeDueSpans(std::vector<T>& pending, std::vector<T>& target, MakeClosing makeClosing) {
    try {
        std::vector<T> stillPending;
        std::vector<T> closings;
        for (T entry : pending) {
            --entry.span;
            if (entry.span <= 0) {
                closings.push_back(makeClosing(entry));
            } else {
                stillPending.push_back(entry);
            }
        }
        target.insert(target.begin(), closings.begin(), closings.end());
        pending = std::move(stillPending);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

CScoreEventItem closingItem(CScoreEventItem item) {
    item.flags = (item.flags & kItemLineStart) ? kItemLineStop : kItemSlurStop;
    return item;
}

CScoreWedge closingWedge(CScoreWedge wedge) {
    wedge.code = kWedgeStop;
    return wedge;
}

bool isWedgeStart(const CScoreWedge& wedge) {
    return wedge.code == kWedgeCrescendo || wedge.code == kWedgeDiminuendo;
}

}  // namespace

bool scEventIsSlurred(const CScoreEvent& event) {
    return std::any_of(event.items.begin(), event.items.end(), [](const CScoreEventItem& item) {
        return (item.flags & (kItemSlurStart | kItemSlurred)) != 0;
    });
}

// --- slurs and lines ------------------------------------------------------------------

bool CPendingItems::closeDue(CScoreEvent& event) {
    return closeDueSpans(pending_, event.items, closingItem);
}

bool CPendingItems::take(CScoreEvent& event, int32_t n) {
    if (n <= 0) {
        for (CScoreEventItem& item : event.items) item.span = 0;
        return true;
    }
    try {
        std::vector<CScoreEventItem> items = event.items;
        std::vector<CScoreEventItem> taken;
        int32_t number = lastNumber_;
        for (CScoreEventItem& item : items) {
            if (!(item.flags & (kItemSlurStart | kItemLineStart)) || item.span <= 0) continue;
            item.number = nextSpanNumber(number);
            item.span = std::min(item.span, n);
            taken.push_back(item);
        }
        pending_.reserve(pending_.size() + taken.size());
        // Nothing below can fail, so the event and the list change together or not at all.
        pending_.insert(pending_.end(), taken.begin(), taken.end());
        event.items = std::move(items);
        lastNumber_ = number;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void CPendingItems::reset() {
    pending_.clear();
    lastNumber_ = 0;
}

// --- wedges ---------------------------------------------------------------------------

bool CPendingWedges::closeDue(CScoreEvent& event) {
    return closeDueSpans(pending_, event.wedges, closingWedge);
}

bool CPendingWedges::take(CScoreEvent& event, int32_t n) {
    const int32_t limit = std::max(n, 0);
    try {
        std::vector<CScoreWedge> wedges;
        std::vector<CScoreWedge> taken;
        int32_t number = lastNumber_;
        for (CScoreWedge wedge : event.wedges) {
            if (!isWedgeStart(wedge) || wedge.span < 0) {
                wedges.push_back(wedge);
                continue;
            }
            wedge.number = nextSpanNumber(number);
            wedge.span = std::min(wedge.span, limit);
            wedges.push_back(wedge);
            if (wedge.span == 0) {
                wedges.push_back(closingWedge(wedge));
            } else {
                taken.push_back(wedge);
            }
        }
        pending_.reserve(pending_.size() + taken.size());
        pending_.insert(pending_.end(), taken.begin(), taken.end());  // cannot fail now
        event.wedges = std::move(wedges);
        lastNumber_ = number;
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void CPendingWedges::reset() {
    pending_.clear();
    lastNumber_ = 0;
}

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
