// The exported entry points. Each forwards to entry<N>, whose general form
// answers "not handled"; the work of an entry point is a specialisation.
#include "tavtune/tavtune.h"

namespace tavtune {
namespace {

template <int N>
tvWord entry(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return TAVTUNE_NOT_HANDLED;
}

// Start-up after loading (C112 with the host's instance value, then C105) and
// shut-down before unloading (C106): nothing to set up yet, so they succeed.
template <>
tvWord entry<105>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return 0;
}

template <>
tvWord entry<106>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return 0;
}

template <>
tvWord entry<112>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return 0;
}

}  // namespace
}  // namespace tavtune

#define TAVTUNE_DEFINE_ENTRY_POINT(name, number)                                  \
    extern "C" tvWord name(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) { \
        return tavtune::entry<number>(a, b, c, d, e, f);                          \
    }
TAVTUNE_ENTRY_POINTS(TAVTUNE_DEFINE_ENTRY_POINT)
#undef TAVTUNE_DEFINE_ENTRY_POINT
