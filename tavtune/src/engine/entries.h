// The work behind the exported entry points: entry<N> is entry point "C<N>".
// The general form answers "not handled"; an entry point with work is an
// explicit specialisation, declared here and defined in one of the
// entries_*.cpp files.
#pragma once

#include <mutex>

#include "engine/engine.h"
#include "tavtune/tavtune.h"

namespace tavtune {

template <int N>
tvWord entry(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord) {
    return TAVTUNE_NOT_HANDLED;
}

#define TAVTUNE_HANDLED_ENTRIES(X)                                                                     \
    /* life, options and settings: entries_life.cpp */                                                \
    X(105) X(106) X(112) X(122) X(186) X(170) X(178) X(130) X(136) X(63) X(92)                        \
    /* the score and its staves and voices: entries_score.cpp */                                      \
    X(176) X(101) X(41) X(143) X(145) X(131) X(146) X(124) X(125) X(87)                                \
    /* playing in real time: entries_play.cpp */                                                     \
    X(89) X(51) X(52) X(61) X(126)                                                                    \
    /* the intro: entries_intro.cpp */                                                                \
    X(95) X(123)                                                                                      \
    /* time, tempo and rendering: entries_time.cpp */                                                 \
    TAVTUNE_TIME_ENTRIES(X)

#define TAVTUNE_TIME_ENTRIES(X) X(94) X(55) X(93) X(98) X(97) X(99) X(100) X(179) X(169) X(168) X(135)

#define TAVTUNE_DECLARE_HANDLED(n) template <> tvWord entry<n>(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord);
TAVTUNE_HANDLED_ENTRIES(TAVTUNE_DECLARE_HANDLED)
#undef TAVTUNE_DECLARE_HANDLED

// Runs f(score, engine) under the engine's lock on the open score; `none`
// without one (entry points that answer an address answer 0).
template <class F>
tvWord onOpenScore(F&& f, tvWord none = TAVTUNE_NOT_HANDLED) {
    Engine& e = Engine::instance();
    std::lock_guard<std::recursive_mutex> lock(e.mutex);
    OpenScore* s = e.score();
    return s == nullptr ? none : static_cast<tvWord>(f(*s, e));
}

// Casts of the argument words.
template <class T>
T* pointerArg(tvWord word) {
    return reinterpret_cast<T*>(word);
}

}  // namespace tavtune
