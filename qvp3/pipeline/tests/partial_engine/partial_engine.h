/* The record through which the partial test engine reports its calls. The test
 * owns it and hands its address to the engine as the instance value of C112;
 * from then on every entry point the engine has logs its number and arguments. */
#ifndef QVP3_PIPELINE_PARTIAL_ENGINE_H
#define QVP3_PIPELINE_PARTIAL_ENGINE_H

#include "tavtune/tavtune.h"

#define PARTIAL_ENGINE_LOG_SIZE 64

typedef struct PartialEngineLog {
    int count; /* calls made; only the first PARTIAL_ENGINE_LOG_SIZE are kept */
    int entry[PARTIAL_ENGINE_LOG_SIZE];
    tvWord args[PARTIAL_ENGINE_LOG_SIZE][6];
    char openedPath[256]; /* the path text C176 was given last */
    tvWord openAnswer;    /* what C176 answers */
} PartialEngineLog;

#endif
