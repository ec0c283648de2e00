// The exported entry points: each forwards to entry<N> (engine/entries.h).
// No exception leaves the library: one that escapes an entry point answers
// "not handled".
#include "engine/entries.h"
#include "tavtune/tavtune.h"

#define TAVTUNE_DEFINE_ENTRY_POINT(name, number)                                             \
    extern "C" tvWord name(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {     \
        try {                                                                                \
            return tavtune::entry<number>(a, b, c, d, e, f);                                 \
        } catch (...) {                                                                      \
            return TAVTUNE_NOT_HANDLED;                                                      \
        }                                                                                    \
    }
TAVTUNE_ENTRY_POINTS(TAVTUNE_DEFINE_ENTRY_POINT)
#undef TAVTUNE_DEFINE_ENTRY_POINT
