// Entry points of the intro: the list of timed items that plays before the
// score (C95) and the bar of clicks that repeats through it (C123).
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>

#include "engine/engine.h"
#include "engine/entries.h"
#include "engine/intro.h"
#include "engine/time_map.h"

namespace tavtune {
namespace {

constexpr tvWord kRefused = -2;

// The lanes of a list the host hands over (none for a null list); false when
// its count is out of range or its items are missing.
bool readList(const tvItemList* list, ItemLanes& out) {
    out = ItemLanes{};
    if (list == nullptr) return true;
    const std::int32_t count = list->count;
    if (count < 0 || count > TAVTUNE_MAX_ITEMS || (count > 0 && list->items == nullptr)) return false;
    if (count > 0) out = readItemLanes(std::span(list->items, static_cast<std::size_t>(count) * TAVTUNE_ITEM_SIZE));
    return true;
}

}  // namespace

// C95(list): the intro; 0 clears it.
template <>
tvWord entry<95>(tvWord list, tvWord, tvWord, tvWord, tvWord, tvWord) {
    const auto* items = pointerArg<const tvItemList>(list);
    return onOpenScore([items](OpenScore& s, Engine&) {
        ItemLanes lanes;
        if (!readList(items, lanes)) return kRefused;
        keepingThePlace(s, [&] { s.intro.list = std::move(lanes); });
        return tvWord{0};
    });
}

// C123(list, start, end, value): the bar of clicks and where in the score it clicks; 0 clears it.
template <>
tvWord entry<123>(tvWord list, tvWord start, tvWord end, tvWord, tvWord, tvWord) {
    const auto* items = pointerArg<const tvItemList>(list);
    return onOpenScore([=](OpenScore& s, Engine&) {
        ItemLanes lanes;
        if (!readList(items, lanes)) return kRefused;
        s.intro.bar = std::move(lanes);
        s.intro.barFrom = items != nullptr ? static_cast<std::int64_t>(start) : 0;
        s.intro.barTo = items != nullptr ? static_cast<std::int64_t>(end) : 0;
        return tvWord{0};
    });
}

}  // namespace tavtune
