/*
 * tavtune.h - the C interface of libtavtune.so, the score engine.
 *
 * The program loads the library by name at run time and reaches it only
 * through its numbered entry points "C00" to "C186" (C symbols), which it
 * resolves into one table.
 *
 * Rules every entry point follows:
 * - It takes six argument words and returns one word (tvWord). Arguments it
 *   does not use are passed as 0. One signature for all lets the host keep
 *   every entry point in one table and put a stub in place of a missing one
 *   without calling through a converted function type.
 * - TAVTUNE_NOT_HANDLED (-1) means the engine did not do what was asked: no
 *   score is open, the request is unknown, or the entry point has no work yet.
 *   Entry points that answer an address answer 0 for "none"; a host treats -1
 *   there as "none" as well, since a stub answers -1 everywhere.
 * - Texts are UTF-8 and NUL-terminated; buffer sizes count bytes.
 * - Records passed by address stay the caller's.
 * - No exception and no C++ type crosses an entry point.
 *
 * Plain C (C99 and later) and C++.
 */
#ifndef TAVTUNE_TAVTUNE_H
#define TAVTUNE_TAVTUNE_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(__GNUC__)
#define TAVTUNE_API __attribute__((visibility("default")))
#else
#define TAVTUNE_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef intptr_t tvWord;
typedef tvWord (*tvEntryPoint)(tvWord, tvWord, tvWord, tvWord, tvWord, tvWord);

#define TAVTUNE_ENTRY_COUNT 187
#define TAVTUNE_NOT_HANDLED ((tvWord)-1)

/* Codes of the request record (second argument of C55, C93, C99). */
#define TAVTUNE_REQUEST_POSITION 0x4          /* position in milliseconds, result words */
#define TAVTUNE_REQUEST_POSITION_THREAD 0x100 /* state of the position reporting */
#define TAVTUNE_REQUEST_PLAY_TIME 0x200       /* playing time of the open score */
#define TAVTUNE_REQUEST_PLAYER_STATE 0x300    /* state of the players */
#define TAVTUNE_REQUEST_SIZE 92               /* second argument of C94 */

/* Engine options (C92(option, value)): value = option switches it on,
 * TAVTUNE_OPTION_OFF switches it off. TAVTUNE_OPTION_OFF is also an option
 * of its own, switched on when the host starts. */
#define TAVTUNE_OPTION_OFF 0x80000
#define TAVTUNE_OPTION_SWING 0x8     /* rhythm: articulation and swing ("ctArtic") */
#define TAVTUNE_OPTION_TRILLS 0x20   /* "ctTrills" */
#define TAVTUNE_OPTION_DYNAMICS 0x40 /* "ctDynamic" */
#define TAVTUNE_OPTION_RENDERING 0x2000 /* on while a score is rendered to MIDI */

/* The request record: filled or read by several entry points; the code passed
 * beside it says which fields are meant. Doubles sit at offsets that are not
 * multiples of 8, so the record is packed to 4 bytes. */
#pragma pack(push, 4)
typedef struct tvRequest {
    int32_t marker;       /* 0: -1 before a play-time query */
    int32_t result;       /* 4: first result word of a position query, 0 none */
    int32_t reserved1[3]; /* 8 */
    int32_t result2;      /* 20: second result word of a position query */
    int32_t reserved2[5]; /* 24 */
    double positionMs;    /* 44: position to query or to go to */
    double playTimeMs;    /* 52: playing time of the open score */
    int32_t reserved3[8]; /* 60 */
} tvRequest;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(tvRequest) == TAVTUNE_REQUEST_SIZE, "request record size");
static_assert(offsetof(tvRequest, result2) == 20, "request record layout");
static_assert(offsetof(tvRequest, positionMs) == 44, "request record layout");
static_assert(offsetof(tvRequest, playTimeMs) == 52, "request record layout");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(tvRequest) == TAVTUNE_REQUEST_SIZE, "request record size");
_Static_assert(offsetof(tvRequest, positionMs) == 44, "request record layout");
#endif

/* What the entry points do. Arguments are given as (a, b, ...); unlisted
 * entry points answer TAVTUNE_NOT_HANDLED. One score is open at a time.
 * Answers are 0 for success unless said otherwise; entry points that need an
 * open score answer TAVTUNE_NOT_HANDLED without one.
 *
 * Life
 *   C105(), C106(), C112(instance)   start-up and shut-down; always 0
 *   C122(resolution), C186(a, b, c)  host settings at start; 0
 *   C170(1, buffer, size)            copies the instrument-table name (at most size - 1 bytes)
 *   C178(name)                       selects the instrument table by name
 *   C130(window, message)            the host's MessageTarget* that hears of changes
 *   C136(window, message, 0)         the MessageTarget* that hears render progress
 *                                    (message with wParam percent 0..100, lParam 0)
 * Options
 *   C63()                            the option word
 *   C92(option, value)               value == option switches it on, TAVTUNE_OPTION_OFF off
 * Scores
 *   C176(path, 0, window, message, codeBase, voices)
 *                                    opens a ".tvrx" or binary score (by its first bytes);
 *                                    window is the host's platform MessageTarget* (may be
 *                                    null) that receives message with wParam codeBase + code;
 *                                    voices is a tvVoiceRecord chain of settings or 0.
 *                                    TAVTUNE_OPEN_*; a failure leaves no score open
 *   C101(0, 0, flags), C41()         close the score; end its use (both 0 without a score)
 *   C143()                           tvScoreDescription*
 *   C145(stave)                      tvStaveRecord*, 0 past the last stave
 *   C131(stave, index)               tvVoiceRecord*, 0 past the last voice
 *   C146(stave, voice)               tvNoteList* (voice -1: all voices of the stave)
 *   C124(record, -1), C125(record, -1)  read / write a voice's settings; voice
 *                                    TAVTUNE_TUNE_UP_VOICE (under any stave) is the intro's
 *                                    tune-up voice: sound, volume, panorama and channel
 *   C87(semitones)                   transposes the whole score (percussion stays)
 * Time (C94 needs no open score; the other entry points here do)
 *   C94(request, size)               zeroes a request record of size bytes (1 .. 4096)
 *   C55(request, code)               TAVTUNE_REQUEST_PLAY_TIME: playTimeMs, as the player plays
 *                                    the score (repeats played; -1 while the player holds it);
 *                                    TAVTUNE_REQUEST_POSITION: for positionMs, result the
 *                                    bar (from 1), result2 the tick (480 per quarter, from the
 *                                    first full bar); inside an upbeat bar 0 and a tick below 0.
 *                                    TAVTUNE_REQUEST_METER: the opening meter.
 *                                    Times and positions are walked through the score as it is
 *                                    written, once: repeats are not played again, so a time in
 *                                    a repeated pass falls that much further on, and a time past
 *                                    the last mark goes on at the last tempo and meter (a binary
 *                                    score comes with its repeats unrolled). Time 0 is where the
 *                                    intro begins (C95); the music begins after it (at an upbeat's
 *                                    first note), and a time inside the intro is that of the
 *                                    music's start
 *   C93(request, TAVTUNE_REQUEST_POSITION)   moves the play position to positionMs, kept
 *                                    within 0 .. the play time (only 0 bounds it while the
 *                                    real-time player holds the score)
 *   C98(double* a, double* b, double* c)     at the play position: a the tempo the score's
 *                                    marks and the tempo points give, b the position in
 *                                    milliseconds, c the tempo played (whole beats per minute)
 *   C97(const double* tempo, const double* factor)  plays at tempo x factor from the play
 *                                    position on: every tempo of the score (its marks and the
 *                                    tempo points) plays offset by tempo x factor minus C98's a
 *                                    there, so the score's tempo changes and the curve keep
 *                                    their steps (within 10 .. 720, widened to hold tempo x
 *                                    factor); a product of 0 or less is refused. The play
 *                                    position keeps its place in the score (C98's b follows)
 *   C99(point, TAVTUNE_REQUEST_TEMPO_POINT)  adds a point (tempo x factor; a factor of 0 or
 *                                    less counts as 1) to the list being handed over; -2 for a
 *                                    tempo of 0 or less, a negative position or a 16385th point,
 *                                    which also drops the unfinished list (the one in force stays)
 *   C99(0, 0)                        ends the point; with no point open it ends the list, which
 *                                    then replaces the list handed over before
 *   C100(0, 0)                       the number of tempo points: the score's own tempo marks
 *                                    (kind 0, tag 0) and the handed-over list in force, so it
 *                                    grows by what was handed over
 *   C100(point, i)                   fills tempo point i, in position order (own marks first at a
 *                                    position; a mark in an upbeat at 0), time its milliseconds
 *                                    as the score plays now; -1 past the last.
 *                                    A handed-over point plays as a tempo mark (whole beats per
 *                                    minute) from its position on until the next mark, own or
 *                                    handed; at an own mark's position the point holds. A point
 *                                    after the score's end is counted but not played (the score
 *                                    would play on to it). Playing, play times and renders
 *                                    follow the points in force
 * Play switches (kind 4 dynamics "ctDynamic", 2 articulation "ctArtic", 5 trills "ctTrills";
 * they need no open score and outlive it)
 *   C169(kind, iniPath, section)     writes the switches of kind into that INI section (the rest
 *                                    of the file stays; its encoding is kept)
 *   C168(kind, iniPath, section)     reads them from it: known keys (without case) with valid
 *                                    numbers are taken (brought into range), others passed over;
 *                                    -1 when the file or section cannot be read. They apply to
 *                                    the open score and to every later one.
 *                                    C168(7, iniPath, 0): records the instrument-table INI; 0 when
 *                                    it reads
 *   C135(kind, 0)                    puts the switches of kind back to their defaults
 *                                    Keys: "ctDynamic" fff .. ppp = velocity 1..127 (defaults
 *                                    127 110 90 74 62 44 22 10); "ctArtic" Staccato,
 *                                    Staccatissimo, Tenuto, StrongAccent, NormalAccent, StrongBeat,
 *                                    WeakBeat = "length percent,velocity" (-100..100; the first
 *                                    three raise the velocity by -100..127 percent, the others set
 *                                    it 0..127, 0 the note's own); "ctTrills" Speed = notes per
 *                                    quarter 1..64 (8), kept and handed back: the player plays a
 *                                    trill's main note. Options TAVTUNE_OPTION_DYNAMICS and
 *                                    TAVTUNE_OPTION_SWING switch dynamics, and articulation with swing,
 *                                    on for playing and rendering; TAVTUNE_OPTION_TRILLS is kept
 * Playing (in real time, through the MIDI output the instrument table names:
 * "MIDI: <device>"; "Default", "Microsoft MIDI Mapper" or a device this machine
 * lacks play through the default output)
 *   C89(resolution)                  plays from the play position; 0 also while it plays already.
 *                                    While it plays, C176's window gets message with wParam
 *                                    codeBase + 4 and lParam the position in ms, about every
 *                                    tenth of a second; at the natural end codeBase + 7
 *   C51(command)                     TAVTUNE_PLAYER_PAUSE, _RESUME, _STOP (position back to 0) or
 *                                    _QUERY; answers the state afterwards (TAVTUNE_PLAYER_IDLE,
 *                                    _PAUSED, _PLAYING)
 *   C52()                            a playing score goes on from the play position (C93)
 *   C61(masks)                       one byte per stave: 0 stave off, 1 every voice on,
 *                                    0x80 | (1 << v) for each voice v on (voices 0..6)
 *   C126()                           stops at once and silences the output; the position stays
 * The intro (needs an open score). Both entry points copy the list they are given
 * (a tvItemList*, 0 for none) and answer 0, or -2, changing nothing, for a count below
 * 0 or above TAVTUNE_MAX_ITEMS or for missing items
 *   C95(list)                        the intro that plays before the score (0 clears it): lanes
 *                                    of timed items (marker, anchor, notes, rests and releases,
 *                                    end; the layout of scorecore/player_items.h) at 384 ticks per
 *                                    quarter. Every lane starts at its marker's start, counted
 *                                    from the start of the intro, and the lanes play side by
 *                                    side; the music begins when the last lane has ended. The
 *                                    intro's ticks run at the score's opening tempo as it plays
 *                                    (C97's tempo and the tempo points included)
 *   C123(list, start, end, value)    one bar of clicks (0 clears it) that repeats through the
 *                                    music and clicks where the music's position (384 ticks per
 *                                    quarter as played, repeats included, from the first full bar;
 *                                    an upbeat lies below 0) is in [start, end); start >= end
 *                                    clicks nothing. value is reserved
 *                                    Only the items within the count are read; a lane without
 *                                    its end item ends with the list, items outside a lane are
 *                                    passed over, and a time below 0 counts as 0, one beyond
 *                                    2^20 ticks as that. Playing, rendering and the play time
 *                                    include the intro: the play time grows by its length, times
 *                                    and positions count from its start, a render writes it first
 *                                    and the music after it on every track, and a stop during it
 *                                    ends its notes. Tune-up lanes (marker type 0, and every type
 *                                    but 5) play on the tune-up voice's channel with its sound (a
 *                                    program below 128; 128 and above percussion, no program
 *                                    change), volume and panorama; click lanes (type 5) on channel
 *                                    9, or, with a program of their own, on channel 15. A marker
 *                                    with flag 1 sets its program first. A key with bit 7 set (a
 *                                    percussion marker of the source) sounds as the key the
 *                                    score's first percussion stave that knows it plays, or else
 *                                    as its low seven bits
 * Rendering
 *   C179(path)                       writes the score with its settings (voice settings,
 *                                    transposition, C97's tempo, the tempo points, switches and
 *                                    options) as a Standard MIDI File: rendered into a file beside
 *                                    path and renamed over path only when complete, so nothing is
 *                                    left at path when it fails and an older file there stays; a
 *                                    path that is the open score itself is refused. Answers 0, or
 *                                    below 0. C136's window is posted its message with wParam the
 *                                    percent done (0 at the start, on with the music rendered,
 *                                    100 once the file is in place) and lParam 0
 */

/* Player commands (C51) and the states it answers. */
#define TAVTUNE_PLAYER_PAUSE 0
#define TAVTUNE_PLAYER_RESUME 1
#define TAVTUNE_PLAYER_STOP 2
#define TAVTUNE_PLAYER_QUERY 3
#define TAVTUNE_PLAYER_IDLE 0
#define TAVTUNE_PLAYER_PAUSED 5
#define TAVTUNE_PLAYER_PLAYING 14

/* Request code of the opening meter (C55): the ticks per beat at offset 8
 * and per bar at offset 12, at 384 ticks per quarter. */
#define TAVTUNE_REQUEST_METER 0x1

/* Results of opening a score (C176); the binding maps them to its own codes. */
#define TAVTUNE_OPEN_OK 0
#define TAVTUNE_OPEN_NO_SCORE (-5)     /* no path given */
#define TAVTUNE_OPEN_REJECTED (-4)     /* a known format, but the file is damaged or beyond the limits */
#define TAVTUNE_OPEN_NO_MEMORY (-3)
#define TAVTUNE_OPEN_UNKNOWN (-2)      /* neither a TvrXML nor a binary score */
#define TAVTUNE_OPEN_READ_ERROR (-1)   /* the file cannot be read */

/* Limits of a score the engine opens; a score beyond them is refused with
 * TAVTUNE_OPEN_REJECTED, never cut. */
#define TAVTUNE_MAX_STAVES 255
#define TAVTUNE_MAX_VOICES 64 /* per stave */

/* The voice of the tune-up (C124 and C125 with voice TAVTUNE_TUNE_UP_VOICE). */
#define TAVTUNE_TUNE_UP_VOICE 0xFF

/* "Not set" in a voice record: every byte field but panorama and
 * transposition, which use TAVTUNE_UNSET_SIGNED. */
#define TAVTUNE_UNSET 0xFF
#define TAVTUNE_UNSET_SIGNED 0xBF

#define TAVTUNE_STAVE_UTF8 0x01 /* tvStaveRecord.flags: the names are UTF-8 */

#define TAVTUNE_NAME_BYTES 128 /* instrument, sound and device names, with their NUL */

/* A stave of the open score (C145(stave); null past the last stave). The
 * first present of the three names is the stave's name. Valid until the
 * score is closed. */
typedef struct tvStaveRecord {
    int32_t stave;
    uint8_t flags;      /* TAVTUNE_STAVE_UTF8 */
    uint8_t voiceCount; /* voices that hold music */
    uint8_t percussion; /* 1: a percussion stave */
    uint8_t reserved;
    const char* names[3]; /* full name, abbreviation, instrument; null when absent */
} tvStaveRecord;

/* A voice: answered by C131(stave, index) (valid until the score is closed;
 * null past the last voice of the stave), filled by C124, written back by
 * C125, and the per-voice settings handed to C176 as a chain linked by next.
 * Fields C124 reads are preset by the caller to TAVTUNE_UNSET (panorama and
 * transposition to TAVTUNE_UNSET_SIGNED); C125 and C176 change only the
 * fields that are set. */
typedef struct tvVoiceRecord {
    struct tvVoiceRecord* next; /* C176: the next voice's settings, null for the last */
    int32_t marker;             /* C131: 1 + the voice's running number; C124/C125: 0 */
    uint32_t size;              /* sizeof(tvVoiceRecord) */
    uint8_t stave;
    uint8_t voice;       /* within the stave; TAVTUNE_TUNE_UP_VOICE the tune-up */
    uint8_t sound;       /* program 0..127; 128 and above percussion */
    uint8_t channel;     /* 0..15 */
    uint8_t volume;      /* 0..127 */
    uint8_t panorama;    /* signed offset from 64 */
    uint8_t transposition; /* signed semitones */
    uint8_t runningVoice;  /* the voice's number over the whole score */
    const uint8_t* keyMap; /* C176: 128 percussion keys, key -> key played; null none */
    char instrumentName[TAVTUNE_NAME_BYTES];
    char soundName[TAVTUNE_NAME_BYTES];
    char deviceName[TAVTUNE_NAME_BYTES];
} tvVoiceRecord;

/* A record of a voice with every setting unset and empty names, as C124
 * expects it and as C125 and C176 take a change of some fields only. */
static inline void tvVoiceRecordInit(tvVoiceRecord* r, uint8_t stave, uint8_t voice) {
    memset(r, TAVTUNE_UNSET, sizeof *r);
    r->next = NULL;
    r->keyMap = NULL;
    r->marker = 0;
    r->size = (uint32_t)sizeof *r;
    r->stave = stave;
    r->voice = voice;
    r->panorama = TAVTUNE_UNSET_SIGNED;
    r->transposition = TAVTUNE_UNSET_SIGNED;
    r->instrumentName[0] = r->soundName[0] = r->deviceName[0] = '\0';
}

/* The score's description (C143): the author, the keywords and the comment
 * of a TvrXML score's information; empty texts where the score has none (a
 * binary score has none). Valid until the score is closed. */
typedef struct tvScoreDescription {
    const char* texts[3];
} tvScoreDescription;

/* The notes of one voice (C146(stave, voice)): every note the score plays
 * there, in time order, at 480 ticks per quarter; percussion notes carry the
 * key the score names. Valid until the next C146 call or the score is closed. */
typedef struct tvNote {
    int32_t tick;
    int32_t length;
    uint8_t key;
    uint8_t velocity;
    uint8_t reserved[2];
} tvNote;

typedef struct tvNoteList {
    int32_t count;
    const tvNote* notes;
} tvNoteList;

/* A list of timed items handed to C95 and C123: count items of
 * TAVTUNE_ITEM_SIZE bytes each. The engine copies it. */
#define TAVTUNE_ITEM_SIZE 8
#define TAVTUNE_MAX_ITEMS 65536
typedef struct tvItemList {
    int32_t count;
    const uint8_t* items;
} tvItemList;

/* A tempo point (C99(point, TAVTUNE_REQUEST_TEMPO_POINT) adds one; C100(point,
 * i) fills point i). 88 bytes, packed to 4. */
#define TAVTUNE_REQUEST_TEMPO_POINT 0x130
#pragma pack(push, 4)
typedef struct tvTempoPoint {
    int32_t position;     /* 0: ticks at 480 per quarter */
    int32_t reserved1[7]; /* 4 */
    int32_t tag;          /* 32 */
    int32_t reserved2;    /* 36 */
    int32_t kind;         /* 40 */
    int32_t reserved3[4]; /* 44 */
    double tempo;         /* 60: beats per minute */
    double factor;        /* 68: 1.0 */
    double time;          /* 76: milliseconds from the start */
    int32_t reserved4;    /* 84 */
} tvTempoPoint;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(tvTempoPoint) == 88, "tempo point size");
static_assert(offsetof(tvTempoPoint, tempo) == 60 && offsetof(tvTempoPoint, time) == 76, "tempo point layout");
#endif

/* Every entry point once, as X(name, number), in order. */
#define TAVTUNE_ENTRY_POINTS(X) \
    X(C00, 0) X(C01, 1) X(C02, 2) X(C03, 3) X(C04, 4) X(C05, 5) X(C06, 6) X(C07, 7) \
    X(C08, 8) X(C09, 9) X(C10, 10) X(C11, 11) X(C12, 12) X(C13, 13) X(C14, 14) X(C15, 15) \
    X(C16, 16) X(C17, 17) X(C18, 18) X(C19, 19) X(C20, 20) X(C21, 21) X(C22, 22) X(C23, 23) \
    X(C24, 24) X(C25, 25) X(C26, 26) X(C27, 27) X(C28, 28) X(C29, 29) X(C30, 30) X(C31, 31) \
    X(C32, 32) X(C33, 33) X(C34, 34) X(C35, 35) X(C36, 36) X(C37, 37) X(C38, 38) X(C39, 39) \
    X(C40, 40) X(C41, 41) X(C42, 42) X(C43, 43) X(C44, 44) X(C45, 45) X(C46, 46) X(C47, 47) \
    X(C48, 48) X(C49, 49) X(C50, 50) X(C51, 51) X(C52, 52) X(C53, 53) X(C54, 54) X(C55, 55) \
    X(C56, 56) X(C57, 57) X(C58, 58) X(C59, 59) X(C60, 60) X(C61, 61) X(C62, 62) X(C63, 63) \
    X(C64, 64) X(C65, 65) X(C66, 66) X(C67, 67) X(C68, 68) X(C69, 69) X(C70, 70) X(C71, 71) \
    X(C72, 72) X(C73, 73) X(C74, 74) X(C75, 75) X(C76, 76) X(C77, 77) X(C78, 78) X(C79, 79) \
    X(C80, 80) X(C81, 81) X(C82, 82) X(C83, 83) X(C84, 84) X(C85, 85) X(C86, 86) X(C87, 87) \
    X(C88, 88) X(C89, 89) X(C90, 90) X(C91, 91) X(C92, 92) X(C93, 93) X(C94, 94) X(C95, 95) \
    X(C96, 96) X(C97, 97) X(C98, 98) X(C99, 99) X(C100, 100) X(C101, 101) X(C102, 102) X(C103, 103) \
    X(C104, 104) X(C105, 105) X(C106, 106) X(C107, 107) X(C108, 108) X(C109, 109) X(C110, 110) X(C111, 111) \
    X(C112, 112) X(C113, 113) X(C114, 114) X(C115, 115) X(C116, 116) X(C117, 117) X(C118, 118) X(C119, 119) \
    X(C120, 120) X(C121, 121) X(C122, 122) X(C123, 123) X(C124, 124) X(C125, 125) X(C126, 126) X(C127, 127) \
    X(C128, 128) X(C129, 129) X(C130, 130) X(C131, 131) X(C132, 132) X(C133, 133) X(C134, 134) X(C135, 135) \
    X(C136, 136) X(C137, 137) X(C138, 138) X(C139, 139) X(C140, 140) X(C141, 141) X(C142, 142) X(C143, 143) \
    X(C144, 144) X(C145, 145) X(C146, 146) X(C147, 147) X(C148, 148) X(C149, 149) X(C150, 150) X(C151, 151) \
    X(C152, 152) X(C153, 153) X(C154, 154) X(C155, 155) X(C156, 156) X(C157, 157) X(C158, 158) X(C159, 159) \
    X(C160, 160) X(C161, 161) X(C162, 162) X(C163, 163) X(C164, 164) X(C165, 165) X(C166, 166) X(C167, 167) \
    X(C168, 168) X(C169, 169) X(C170, 170) X(C171, 171) X(C172, 172) X(C173, 173) X(C174, 174) X(C175, 175) \
    X(C176, 176) X(C177, 177) X(C178, 178) X(C179, 179) X(C180, 180) X(C181, 181) X(C182, 182) X(C183, 183) \
    X(C184, 184) X(C185, 185) X(C186, 186)

#define TAVTUNE_DECLARE_ENTRY_POINT(name, number) \
    TAVTUNE_API tvWord name(tvWord a, tvWord b, tvWord c, tvWord d, tvWord e, tvWord f);
TAVTUNE_ENTRY_POINTS(TAVTUNE_DECLARE_ENTRY_POINT)
#undef TAVTUNE_DECLARE_ENTRY_POINT

#ifdef __cplusplus
}
#endif

#endif /* TAVTUNE_TAVTUNE_H */
