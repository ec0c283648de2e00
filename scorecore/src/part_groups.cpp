#include "scorecore/part_groups.h"

#include <algorithm>
#include <new>
#include <utility>

namespace scorecore {

bool CScorePartGroupList::add(std::string_view name, std::string_view abbreviation,
                              int32_t symbol, int32_t firstStaff, int32_t number) {
    try {
        CScorePartGroup group;
        group.name = name;
        group.abbreviation = abbreviation;
        group.symbol = symbol;
        group.firstStaff = firstStaff;
        group.number = number;
        group.open = 1;
        items_.push_back(std::move(group));
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CScorePartGroupList::stopGroup(int32_t number) {
    for (CScorePartGroup& group : items_) {
        if (group.isOpen() && group.number == number) group.resetNumber();
    }
}

void CScorePartGroupList::setLastPart(int32_t staff) {
    for (CScorePartGroup& group : items_) {
        if (group.isOpen()) group.lastStaff = staff;
    }
}

int32_t CScorePartGroupList::middle(int32_t group) const {
    const CScorePartGroup* g = item(group);
    if (!g) return -1;
    // The middle lies between first and last, so only the difference needs the wider type.
    const int64_t diff = int64_t{g->lastStaff} - g->firstStaff;
    return static_cast<int32_t>(g->firstStaff + diff / 2);
}

int32_t CScorePartGroupList::findByMiddle(int32_t staff) const {
    for (int32_t i = 0; i < count(); ++i) {
        if (middle(i) == staff) return i;
    }
    return -1;
}

bool CScorePartGroupList::isGroupEnd(int32_t staff) const {
    const auto holds = [staff](const CScorePartGroup& g) {
        return g.firstStaff <= staff && staff <= g.lastStaff;
    };
    if (std::none_of(items_.begin(), items_.end(), holds)) return true;
    return std::any_of(items_.begin(), items_.end(),
                       [staff](const CScorePartGroup& g) { return g.lastStaff == staff; });
}

CScorePartGroup* CScorePartGroupList::item(int32_t index) {
    return const_cast<CScorePartGroup*>(std::as_const(*this).item(index));
}

const CScorePartGroup* CScorePartGroupList::item(int32_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) return nullptr;
    return &items_[static_cast<std::size_t>(index)];
}

void scFreePartGroupList(CScorePartGroupList& list) {
    std::vector<CScorePartGroup>().swap(list.items_);
}

void CScoreStaffTables::free() {
    for (std::vector<int32_t>& table : tables) std::vector<int32_t>().swap(table);
}

}  // namespace scorecore
