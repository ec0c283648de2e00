/* The record through which the partial test engine reports its calls and
 * takes the answers it gives. The test owns it and hands its address to the
 * engine as the instance value of C112; from then on every entry point the
 * engine has logs its number and arguments and answers from the record. A
 * zeroed record is an engine without a score's content: no staves, no voices,
 * no description, no notes, and 0 (success) from every other entry point. */
#ifndef QVP3_PIPELINE_PARTIAL_ENGINE_H
#define QVP3_PIPELINE_PARTIAL_ENGINE_H

#include "tavtune/tavtune.h"

#define PARTIAL_ENGINE_LOG_SIZE 256
#define PARTIAL_ENGINE_MAX_VOICES 8
#define PARTIAL_ENGINE_MAX_NOTES 16
#define PARTIAL_ENGINE_MAX_POINTS 8
#define PARTIAL_ENGINE_INI_BYTES 2048

/* Index of a play-switch kind (4 dynamics, 2 articulation, 5 trills) in the
 * per-kind arrays below; -1 for another kind. */
#define PARTIAL_ENGINE_SWITCH_INDEX(kind) ((kind) == 4 ? 0 : (kind) == 2 ? 1 : (kind) == 5 ? 2 : -1)

typedef struct PartialEngineLog {
    int count; /* calls made; only the first PARTIAL_ENGINE_LOG_SIZE are kept */
    int entry[PARTIAL_ENGINE_LOG_SIZE];
    tvWord args[PARTIAL_ENGINE_LOG_SIZE][6];
    int calls[TAVTUNE_ENTRY_COUNT]; /* calls per entry point */
    char openedPath[256]; /* the path text C176 was given last */
    tvWord openAnswer;    /* what C176 answers */

    /* C143: the description's texts (may be null); C143 answers null unless hasDescription. */
    int hasDescription;
    const char* description[3];
    /* C145(stave): a stave record for 0 .. staveCount - 1, null beyond. */
    int staveCount;
    /* C131(stave, index): a voice record with marker voiceMarkers[index] for
     * index 0 .. voiceCount - 1 (at most PARTIAL_ENGINE_MAX_VOICES), null beyond. */
    int voiceCount;
    int32_t voiceMarkers[PARTIAL_ENGINE_MAX_VOICES];
    /* C146(stave, voice): the first noteCount notes, or null when noNoteList. */
    int noNoteList;
    int noteCount;
    tvNote notes[PARTIAL_ENGINE_MAX_NOTES];

    /* C55(request, code): answer timeAnswer; when it is 0, sets playTimeMs for
     * TAVTUNE_REQUEST_PLAY_TIME and result, result2 for TAVTUNE_REQUEST_POSITION.
     * The marker and positionMs it was given are kept. */
    tvWord timeAnswer;
    double playTimeMs;
    int32_t positionResult;
    int32_t positionResult2;
    int32_t receivedMarker;
    double receivedPositionMs;
    /* C93(request, code): answers positionAnswer and keeps positionMs. */
    tvWord positionAnswer;
    double setPositionMs;
    /* C98(a, b, c): answers tempoAnswer; when it is 0 writes the three doubles. */
    tvWord tempoAnswer;
    double tempos[3];
    /* C99(point, code): keeps the point (its code in pointCodes) and answers
     * pointAnswers[its number]; C99(0, 0) answers endAnswer. */
    int pointCount;
    tvTempoPoint points[PARTIAL_ENGINE_MAX_POINTS];
    tvWord pointCodes[PARTIAL_ENGINE_MAX_POINTS];
    tvWord pointAnswers[PARTIAL_ENGINE_MAX_POINTS];
    tvWord endAnswer;
    /* C100(0, 0) answers pointCountAnswer. */
    tvWord pointCountAnswer;

    /* C63() answers options; C92(option, value) switches option on when value
     * is option, off when it is TAVTUNE_OPTION_OFF. */
    tvWord options;

    /* C169(kind, path, section): answers switchAnswers[kind]; when that is 0,
     * appends "[section]\r\n" and switchLines[kind] (may be null) to the file,
     * unless switchSilent is set. */
    tvWord switchAnswers[3];
    const char* switchLines[3];
    int switchSilent;
    /* C168(kind, path, section): answers handedAnswers[kind] and keeps the
     * whole file and the section name. */
    tvWord handedAnswers[3];
    char handedIni[3][PARTIAL_ENGINE_INI_BYTES];
    char handedSection[3][32];
    char iniPath[256]; /* the path C168 or C169 was given last */
} PartialEngineLog;

#endif
