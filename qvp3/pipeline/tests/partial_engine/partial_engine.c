/* A score engine with only some of its entry points: C00, C41, C105, C106,
 * C112, C176 and C186. Everything else is missing, as in an older or damaged
 * library. */
#include "partial_engine.h"

#include <string.h>

static PartialEngineLog* g_log = NULL;

static tvWord record(int n, tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    if (g_log == NULL) return 0;
    if (g_log->count < PARTIAL_ENGINE_LOG_SIZE) {
        tvWord* args = g_log->args[g_log->count];
        g_log->entry[g_log->count] = n;
        args[0] = a;
        args[1] = b;
        args[2] = c;
        args[3] = d;
        args[4] = e;
        args[5] = f;
    }
    ++g_log->count;
    return 0;
}

TAVTUNE_API tvWord C00(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    return record(0, a, b, c, d, e, f);
}

TAVTUNE_API tvWord C41(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    return record(41, a, b, c, d, e, f);
}

TAVTUNE_API tvWord C105(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    return record(105, a, b, c, d, e, f);
}

TAVTUNE_API tvWord C106(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    record(106, a, b, c, d, e, f);
    g_log = NULL; /* the library is about to go; the log stays the test's */
    return 0;
}

TAVTUNE_API tvWord C112(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    g_log = (PartialEngineLog*)a;
    return record(112, a, b, c, d, e, f);
}

TAVTUNE_API tvWord C176(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    record(176, a, b, c, d, e, f);
    if (g_log == NULL) return TAVTUNE_NOT_HANDLED;
    strncpy(g_log->openedPath, (const char*)a, sizeof g_log->openedPath - 1);
    g_log->openedPath[sizeof g_log->openedPath - 1] = '\0';
    return g_log->openAnswer;
}

TAVTUNE_API tvWord C186(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    return record(186, a, b, c, d, e, f);
}
