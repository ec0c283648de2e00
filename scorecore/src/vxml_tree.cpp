#include "scorecore/vxml_tree.h"

#include <algorithm>
#include <new>

namespace scorecore {

bool CVxmlStaffLayout::addDrumMapEntry(int sourceKey, int targetKey) {
    const auto key = [](int k) { return static_cast<std::uint8_t>(std::clamp(k, 0, 127)); };
    try {
        drumMap.push_back(CDrumMapEntry{key(sourceKey), key(targetKey)});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

CDomNodeItem::CDomNodeItem(int ticksPerQuarter) {
    timeSig.init(ticksPerQuarter, 4, 2);
}

bool CDomNodeItem::addVoice() {
    try {
        voices.emplace_back();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CDomNodeItem::clear() {
    voices.clear();
    voices.shrink_to_fit();
    node = nullptr;
    voicesNode = nullptr;
    sealed = false;
    barline = CEventBarline();
}

bool CDomNodeGroup::addItem(int ticksPerQuarter) {
    try {
        items.emplace_back(ticksPerQuarter);
    } catch (const std::bad_alloc&) {
        return false;
    }
    items.back().valid = 1;
    return true;
}

void CDomNodeGroup::clear() {
    items.clear();
    items.shrink_to_fit();
    node = nullptr;
    stavesNode = nullptr;
    firstBar = 0;
    lastBar = 0;
    tempo = 120;
}

}  // namespace scorecore
