/*
 * A C host of libscoreconv.so that knows nothing but the public header: it
 * runs the main program's sequence on each score given on the command line.
 *
 *   c_host_test <score.xml> <stave count> <first staff name> [...]
 *
 * Per score: load it in mode 2 with a play-time slot and read the play time,
 * the staff count and the names; render it into a standard MIDI file; convert
 * it in mode 5 into a ".tvrx" in a fresh temporary folder and read that back;
 * destroy and free every handle. Exits nonzero on the first mismatch.
 * A timewise score among them shows that the library turns it partwise from
 * any folder the host runs in.
 */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "scoreconv/scoreconv.h"

static int failures = 0;

#define CHECK(cond, ...)                                  \
    do {                                                  \
        if (!(cond)) {                                    \
            fprintf(stderr, "%s:%d: ", __FILE__, __LINE__); \
            fprintf(stderr, __VA_ARGS__);                 \
            fputc('\n', stderr);                          \
            ++failures;                                   \
        }                                                 \
    } while (0)

/* Progress as the main window sees it. */
typedef struct Progress {
    int totalReports;
    intptr_t total;
    intptr_t lastDone;
    int doneReports;
} Progress;

static void onMessage(void* user, uint32_t msg, uintptr_t wParam, intptr_t lParam) {
    Progress* p = (Progress*)user;
    if (msg != SCORECONV_WM_MXML_PROGRESS) return;
    if (wParam == SCORECONV_PROGRESS_TOTAL) {
        ++p->totalReports;
        p->total = lParam;
    } else if (wParam == SCORECONV_PROGRESS_DONE) {
        ++p->doneReports;
        p->lastDone = lParam;
    }
}

/* Whether the UTF-16 text equals the ASCII text. */
static int wideEqualsAscii(const scWChar* wide, const char* ascii) {
    size_t i = 0;
    if (wide == NULL) return 0;
    for (; ascii[i] != '\0'; ++i) {
        if (wide[i] != (scWChar)(unsigned char)ascii[i]) return 0;
    }
    return wide[i] == 0;
}

/* The UTF-16 units a full copy of the UTF-8 text takes: one per character,
 * two for those beyond the Basic Multilingual Plane. */
static size_t utf16UnitsOf(const char* utf8) {
    size_t units = 0;
    const unsigned char* s = (const unsigned char*)utf8;
    for (; *s != '\0'; ++s) {
        if ((*s & 0xC0u) == 0x80u) continue;
        units += (*s >= 0xF0u) ? 2 : 1;
    }
    return units;
}

static size_t wideLength(const scWChar* wide) {
    size_t n = 0;
    while (wide[n] != 0) ++n;
    return n;
}

static long fileSize(const char* path) {
    struct stat st;
    return stat(path, &st) == 0 ? (long)st.st_size : -1;
}

/* Whether the file begins with the four bytes of tag. */
static int fileStartsWith(const char* path, const char* tag) {
    char head[4] = {0, 0, 0, 0};
    FILE* f = fopen(path, "rb");
    size_t n;
    if (f == NULL) return 0;
    n = fread(head, 1, sizeof head, f);
    fclose(f);
    return n == sizeof head && memcmp(head, tag, sizeof head) == 0;
}

/* Mode 3: the loaded score rendered into a standard MIDI file. */
static void renderToMidi(scMxmlFile* file, const char* source, const char* folder) {
    char target[4096];
    int state = -1;
    int result = 1;
    CThreadProcParams params;

    snprintf(target, sizeof target, "%s/score.mid", folder);
    mxmlSetPlaymode(file, SCORECONV_MODE_RENDER);
    memset(&params, 0, sizeof params);
    params.file = file;
    params.sourcePath = target;
    params.state = &state;
    params.result = &result;
    CHECK(mxmlPlayProc(&params) == 0 && result == 0, "%s: render failed (%d)", source, result);
    CHECK(state == SCORECONV_PLAY_STATE_FILE_WRITTEN, "%s: render state %d", source, state);
    CHECK(fileStartsWith(target, "MThd"), "%s: no MIDI file written", source);
    mxmlSetPlaymode(file, SCORECONV_MODE_REAL_TIME);
    unlink(target);
}

/* Mode 2: the play time, the staff count and the names. */
static void loadForStaves(const char* source, int expectedStaves, const char* firstName, const char* folder,
                          scScoreLog* log) {
    scMessageTarget* window = NULL;
    Progress progress = {0, 0, 0, 0};
    int signal = 0;
    int64_t playTime = 0;
    int64_t measured = 0;
    int result = 1;
    int32_t staves;
    int32_t s;
    CThreadProcParams params;
    scMxmlFile* file;

    window = scoreconvCreateCallbackTarget(onMessage, &progress);
    CHECK(window != NULL, "no callback target");
    file = mxmlNewFile(&window, SCORECONV_MODE_REAL_TIME, &signal, 480, "c_host_test", log);
    CHECK(file != NULL, "mxmlNewFile failed");
    if (file == NULL) {
        scoreconvDestroyCallbackTarget(window);
        return;
    }
    mxmlSetCallbackWindow(file, &window, 0);

    memset(&params, 0, sizeof params);
    params.file = file;
    params.sourcePath = source;
    params.playTime = &playTime;
    params.result = &result;
    CHECK(mxmlConvertProc(&params) == 0, "%s: load failed (%d)", source, result);
    CHECK(result == 0, "%s: result slot %d", source, result);
    CHECK(!mxmlFnScannedIsEmpty(file), "%s: nothing loaded", source);
    CHECK(progress.totalReports == 1, "%s: %d total reports", source, progress.totalReports);
    CHECK(progress.doneReports > 0 && progress.lastDone == progress.total, "%s: progress %ld of %ld", source,
          (long)progress.lastDone, (long)progress.total);
    CHECK(playTime > 0, "%s: the load measured no play time", source);
    CHECK(mxmlGetPlaytime(file, &measured) == 0 && measured > 0, "%s: play time %lld", source, (long long)measured);
    CHECK(measured == playTime, "%s: play time %lld, the load's %lld", source, (long long)measured,
          (long long)playTime);
    CHECK(mxmlGetPlaymode(file) == SCORECONV_MODE_REAL_TIME, "%s: play mode changed", source);

    staves = mxmlGetStaveNum(file);
    CHECK(staves == expectedStaves, "%s: stave count %d, expected %d", source, (int)staves, expectedStaves);
    for (s = 0; s + 1 < staves; ++s) {
        const char* narrow = mxmlGetStaffNameA(file, s);
        const scWChar* wide = mxmlGetStaffNameW(file, s);
        CHECK(narrow != NULL && wide != NULL, "%s: staff %d has no name", source, (int)s);
        if (narrow == NULL || wide == NULL) continue;
        CHECK(mxmlGetStaffNameLength(file, s) == (int32_t)strlen(narrow), "%s: staff %d length", source, (int)s);
        CHECK(wideLength(wide) == utf16UnitsOf(narrow), "%s: staff %d wide name cut", source, (int)s);
        CHECK(mxmlGetStaffNameW(file, s) == wide, "%s: staff %d wide name made twice", source, (int)s);
    }
    if (staves > 1) CHECK(wideEqualsAscii(mxmlGetStaffNameW(file, 0), firstName), "%s: first staff name", source);
    CHECK(mxmlGetDescW(file) != NULL && mxmlGetDescW(file)[0] != 0, "%s: no description", source);
    CHECK(mxmlGetModDate(file) != 0, "%s: no date", source);
    {
        /* A setting written through its address is the one the getter reads. */
        int32_t bar = 0, beat = 0, tick = -1;
        int32_t* velocity = mxmlGetVelocityP(file);
        CHECK(velocity != NULL, "%s: no velocity address", source);
        if (velocity != NULL) *velocity = 64;
        CHECK(mxmlGetVelocity(file) == 64, "%s: velocity %d", source, (int)mxmlGetVelocity(file));
        mxmlSetVelocity(file, 90);
        mxmlTimeToMeasure(file, 0, &bar, &beat, &tick);
        CHECK(bar == 1 && beat == 1 && tick == 0, "%s: tick 0 at %d/%d/%d", source, (int)bar, (int)beat, (int)tick);
    }
    renderToMidi(file, source, folder);

    /* The main program ends an entry's handle with free alone. */
    mxmlFreeFile(&file);
    CHECK(file == NULL, "mxmlFreeFile left the handle");
    mxmlFreeFile(&file);
    scoreconvDestroyCallbackTarget(window);
}

/* Mode 5: the ".tvrx" file, read back. */
static void convertToTvrxml(const char* source, int expectedStaves, const char* firstName, const char* folder,
                            scScoreLog* log) {
    char target[4096];
    char back[4096];
    int convertSignal = 0;
    int signal = 0;
    int result = 1;
    CThreadProcParams params;
    scMxmlFile* file;
    scVxmlFile* vxml;
    scVxmlFile* reader;

    snprintf(target, sizeof target, "%s/score.tvrx", folder);
    file = mxmlNewFile(NULL, SCORECONV_MODE_TVRXML, &signal, 480, "c_host_test", log);
    vxml = vxmlNewFile(log);
    CHECK(file != NULL && vxml != NULL, "new handles failed");
    vxmlCopyConvProps(vxml, SCORECONV_CONV_ALL);

    memset(&params, 0, sizeof params);
    params.file = file;
    params.vxml = vxml;
    params.sourcePath = source;
    params.targetPath = target;
    params.result = &result;
    CHECK(mxmlConvertProc(&params) == 0 && result == 0, "%s: conversion failed (%d)", source, result);
    CHECK(fileSize(target) > 0, "%s: no .tvrx written", source);

    reader = vxmlNewFile(log);
    CHECK(vxmlGetProps(reader, target) == 0, "%s: the .tvrx does not open", source);
    /* And on into MusicXML, which loads as the original did. */
    snprintf(back, sizeof back, "%s/back.xml", folder);
    CHECK(vxmlConvertFile(reader, target, back, &convertSignal) == 0, "%s: no MusicXML from the .tvrx", source);
    CHECK(vxmlGetThread(reader) == NULL, "%s: the conversion's worker still shows", source);
    CHECK(fileStartsWith(back, "<?xml"), "%s: the MusicXML file has no declaration", source);
    vxmlFreeFile(&reader);
    loadForStaves(back, expectedStaves, firstName, folder, log);
    unlink(back);

    mxmlDestroyFile(&file);
    vxmlDestroyFile(&vxml);
    CHECK(mxmlFnScannedIsEmpty(file), "destroyed file still loaded");
    mxmlFreeFile(&file);
    vxmlFreeFile(&vxml);
    CHECK(file == NULL && vxml == NULL, "free left a handle");
    /* Ending twice, and ending nothing, is harmless. */
    mxmlDestroyFile(&file);
    vxmlDestroyFile(&vxml);
    mxmlFreeFile(NULL);
    vxmlFreeFile(NULL);
    unlink(target);
}

int main(int argc, char** argv) {
    char folder[] = "/tmp/scoreconv-c-host-XXXXXX";
    char logPath[4096];
    scScoreLog* log;
    int i;

    if (argc < 4 || (argc - 1) % 3 != 0) {
        fprintf(stderr, "usage: %s <score.xml> <stave count> <first staff name> [...]\n", argv[0]);
        return 2;
    }
    if (mkdtemp(folder) == NULL) {
        perror("mkdtemp");
        return 2;
    }
    snprintf(logPath, sizeof logPath, "%s/scoreconv.log", folder);
    log = scoreconvCreateLog(logPath);
    CHECK(log != NULL, "no log");

    for (i = 1; i + 2 < argc; i += 3) {
        loadForStaves(argv[i], atoi(argv[i + 1]), argv[i + 2], folder, log);
        convertToTvrxml(argv[i], atoi(argv[i + 1]), argv[i + 2], folder, log);
    }

    scoreconvDestroyLog(log);
    CHECK(fileSize(logPath) > 0, "nothing logged");
    unlink(logPath);
    rmdir(folder);
    if (failures != 0) {
        fprintf(stderr, "%d failure(s)\n", failures);
        return 1;
    }
    printf("c_host_test: %d score(s) passed\n", (argc - 1) / 3);
    return 0;
}
