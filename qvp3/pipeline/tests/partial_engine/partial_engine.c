/* A score engine with only some of its entry points: C00, C41, C105, C106,
 * C112, C176 and C186 for the life of the binding, and C55, C63, C92, C93,
 * C98, C99, C100, C131, C143, C145, C146, C168 and C169, which answer what the
 * test put into the log. Everything else is missing, as in an older or
 * damaged library. */
#include "partial_engine.h"

#include <stdio.h>
#include <string.h>

static PartialEngineLog* g_log = NULL;

static tvStaveRecord g_staves[TAVTUNE_MAX_STAVES];
static tvVoiceRecord g_voice;
static tvScoreDescription g_description;
static tvNoteList g_noteList;

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
    if (n >= 0 && n < TAVTUNE_ENTRY_COUNT) ++g_log->calls[n];
    return 0;
}

static void copyText(char* target, size_t size, const char* text) {
    if (text == NULL) text = "";
    strncpy(target, text, size - 1);
    target[size - 1] = '\0';
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
    copyText(g_log->openedPath, sizeof g_log->openedPath, (const char*)a);
    return g_log->openAnswer;
}

TAVTUNE_API tvWord C186(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    return record(186, a, b, c, d, e, f);
}

/* --- the score ----------------------------------------------------------------- */

TAVTUNE_API tvWord C143(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    record(143, a, b, c, d, e, f);
    if (g_log == NULL || !g_log->hasDescription) return 0;
    g_description.texts[0] = g_log->description[0];
    g_description.texts[1] = g_log->description[1];
    g_description.texts[2] = g_log->description[2];
    return (tvWord)&g_description;
}

TAVTUNE_API tvWord C145(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    record(145, a, b, c, d, e, f);
    if (g_log == NULL || a < 0 || a >= g_log->staveCount || a >= TAVTUNE_MAX_STAVES) return 0;
    g_staves[a].stave = (int32_t)a;
    return (tvWord)&g_staves[a];
}

TAVTUNE_API tvWord C131(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    record(131, a, b, c, d, e, f);
    if (g_log == NULL || b < 0 || b >= g_log->voiceCount || b >= PARTIAL_ENGINE_MAX_VOICES) return 0;
    memset(&g_voice, 0, sizeof g_voice);
    g_voice.marker = g_log->voiceMarkers[b];
    g_voice.size = (uint32_t)sizeof g_voice;
    g_voice.stave = (uint8_t)a;
    g_voice.voice = (uint8_t)b;
    return (tvWord)&g_voice;
}

TAVTUNE_API tvWord C146(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    record(146, a, b, c, d, e, f);
    if (g_log == NULL || g_log->noNoteList) return 0;
    g_noteList.count = g_log->noteCount;
    g_noteList.notes = g_log->notes;
    return (tvWord)&g_noteList;
}

/* --- time and tempo ------------------------------------------------------------ */

TAVTUNE_API tvWord C55(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    tvRequest* r = (tvRequest*)a;
    record(55, a, b, c, d, e, f);
    if (g_log == NULL || r == NULL) return TAVTUNE_NOT_HANDLED;
    g_log->receivedMarker = r->marker;
    g_log->receivedPositionMs = r->positionMs;
    if (g_log->timeAnswer != 0) return g_log->timeAnswer;
    if (b == TAVTUNE_REQUEST_PLAY_TIME) r->playTimeMs = g_log->playTimeMs;
    if (b == TAVTUNE_REQUEST_POSITION) {
        r->result = g_log->positionResult;
        r->result2 = g_log->positionResult2;
    }
    return 0;
}

TAVTUNE_API tvWord C93(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    const tvRequest* r = (const tvRequest*)a;
    record(93, a, b, c, d, e, f);
    if (g_log == NULL || r == NULL) return TAVTUNE_NOT_HANDLED;
    g_log->setPositionMs = r->positionMs;
    return g_log->positionAnswer;
}

TAVTUNE_API tvWord C98(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    record(98, a, b, c, d, e, f);
    if (g_log == NULL || a == 0 || b == 0 || c == 0) return TAVTUNE_NOT_HANDLED;
    if (g_log->tempoAnswer != 0) return g_log->tempoAnswer;
    *(double*)a = g_log->tempos[0];
    *(double*)b = g_log->tempos[1];
    *(double*)c = g_log->tempos[2];
    return 0;
}

TAVTUNE_API tvWord C99(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    int n;
    record(99, a, b, c, d, e, f);
    if (g_log == NULL) return TAVTUNE_NOT_HANDLED;
    if (a == 0 && b == 0) return g_log->endAnswer;
    if (a == 0 || g_log->pointCount >= PARTIAL_ENGINE_MAX_POINTS) return TAVTUNE_NOT_HANDLED;
    n = g_log->pointCount++;
    memcpy(&g_log->points[n], (const void*)a, sizeof(tvTempoPoint));
    g_log->pointCodes[n] = b;
    return g_log->pointAnswers[n];
}

TAVTUNE_API tvWord C100(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    record(100, a, b, c, d, e, f);
    return g_log == NULL ? TAVTUNE_NOT_HANDLED : g_log->pointCountAnswer;
}

/* --- options and play switches ------------------------------------------------- */

TAVTUNE_API tvWord C63(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    record(63, a, b, c, d, e, f);
    return g_log == NULL ? TAVTUNE_NOT_HANDLED : g_log->options;
}

TAVTUNE_API tvWord C92(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    record(92, a, b, c, d, e, f);
    if (g_log == NULL) return TAVTUNE_NOT_HANDLED;
    if (b == a) {
        g_log->options |= a;
    } else if (b == TAVTUNE_OPTION_OFF) {
        g_log->options &= ~a;
    } else {
        return TAVTUNE_NOT_HANDLED;
    }
    return 0;
}

TAVTUNE_API tvWord C169(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    const int k = PARTIAL_ENGINE_SWITCH_INDEX(a);
    FILE* file;
    record(169, a, b, c, d, e, f);
    if (g_log == NULL || k < 0 || b == 0 || c == 0) return TAVTUNE_NOT_HANDLED;
    copyText(g_log->iniPath, sizeof g_log->iniPath, (const char*)b);
    if (g_log->switchAnswers[k] != 0 || g_log->switchSilent) return g_log->switchAnswers[k];
    file = fopen((const char*)b, "ab");
    if (file == NULL) return TAVTUNE_NOT_HANDLED;
    fprintf(file, "[%s]\r\n%s", (const char*)c, g_log->switchLines[k] != NULL ? g_log->switchLines[k] : "");
    return fclose(file) == 0 ? 0 : TAVTUNE_NOT_HANDLED;
}

TAVTUNE_API tvWord C168(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f) {
    const int k = PARTIAL_ENGINE_SWITCH_INDEX(a);
    FILE* file;
    size_t got;
    record(168, a, b, c, d, e, f);
    if (g_log == NULL || k < 0 || b == 0) return TAVTUNE_NOT_HANDLED;
    copyText(g_log->iniPath, sizeof g_log->iniPath, (const char*)b);
    copyText(g_log->handedSection[k], sizeof g_log->handedSection[k], (const char*)c);
    file = fopen((const char*)b, "rb");
    if (file == NULL) return TAVTUNE_NOT_HANDLED;
    got = fread(g_log->handedIni[k], 1, sizeof g_log->handedIni[k] - 1, file);
    g_log->handedIni[k][got] = '\0';
    fclose(file);
    return g_log->handedAnswers[k];
}
