/*
 * scoreconv.h - the C interface of libscoreconv.so.
 *
 * Two families of functions over opaque handles: mxml* on a MusicXML file
 * (the score with its play model and play settings), vxml* on a TvrXML file.
 * Plain C (C99 and later) and C++.
 *
 * Rules every export follows:
 * - The handle comes first. A null handle is never an error: the export does
 *   nothing and returns its neutral value (0, false or a null address unless
 *   its comment names another). The exports that end a handle take the
 *   address of the host's handle variable; a null address and a variable
 *   holding null are both accepted.
 * - Staff, voice, event and table-row indexes the file does not have give the
 *   neutral value, and setters given one change nothing.
 * - Narrow texts are UTF-8. "W" exports take and return UTF-16 (scWChar).
 *   Texts returned by address stay valid until the object's contents are
 *   destroyed (mxmlDestroyFile, mxmlInitFile, mxmlFreeFile, or the next load);
 *   the caller never frees them. Lengths count bytes of the UTF-8 text.
 * - Bounded copies (into a caller's buffer or a fixed field of the object)
 *   always terminate the target and return SCORECONV_S_OK when the whole text
 *   fitted, SCORECONV_E_INSUFFICIENT_BUFFER when it was cut (at a character
 *   boundary) and SCORECONV_E_INVALIDARG for a buffer size of 0 or a null
 *   text. File-name fields hold 259 bytes, instrument ids 30. With a null
 *   handle a caller's buffer receives an empty text.
 * - The long procedures return 0 or a negative result code.
 * - No exception and no C++ type crosses an export.
 *
 * Objects the host hands over (message target variable, stop word, log) stay
 * the host's and must outlive the handles that use them. Progress goes to the
 * target held in the host's variable (read at every report, so the host may
 * change it) as SCORECONV_WM_MXML_PROGRESS.
 */
#ifndef SCORECONV_SCORECONV_H
#define SCORECONV_SCORECONV_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(__GNUC__)
#define SCORECONV_API __attribute__((visibility("default")))
#else
#define SCORECONV_API
#endif

/* The handle types. C sees incomplete structs; C++ sees the library's own
 * classes, declared only, so that a C++ host may hand over objects it built
 * itself (a message target, a MIDI output, a log). */
#ifdef __cplusplus
#include <vector>
namespace platform { class MessageTarget; class MidiOutDevice; }
namespace scorecore { class CScoreLog; class CVxmlFile; }
namespace scoreconv { class CMxmlFile; struct CArticulation; }
namespace scorecore {
struct CDynamik;
class CMetronom;
class CQuantize;
class CEinstimmung;
class CStaffVoiceStates;
class CMidiTrackStream;
class CScoreEvent;
}
typedef platform::MessageTarget scMessageTarget;
typedef platform::MidiOutDevice scMidiOut;
typedef scorecore::CScoreLog scScoreLog;
typedef scoreconv::CMxmlFile scMxmlFile;
typedef scorecore::CVxmlFile scVxmlFile;
typedef scoreconv::CArticulation scArticulation;
typedef scorecore::CDynamik scDynamik;
typedef scorecore::CMetronom scMetronom;
typedef scorecore::CQuantize scQuantize;
typedef scorecore::CEinstimmung scEinstimmung;
typedef scorecore::CStaffVoiceStates scStaffVoiceStates;
typedef scorecore::CMidiTrackStream scMidiTrackStream;
typedef scorecore::CScoreEvent scScoreEvent;
/* A list of score events a C++ host owns (the tune-up chords). */
typedef std::vector<scorecore::CScoreEvent> scScoreEventList;
typedef char16_t scWChar;
#else
typedef struct scMessageTarget scMessageTarget;
typedef struct scMidiOut scMidiOut;
typedef struct scScoreLog scScoreLog;
typedef struct scMxmlFile scMxmlFile;
typedef struct scVxmlFile scVxmlFile;
typedef struct scArticulation scArticulation;
typedef struct scDynamik scDynamik;
typedef struct scMetronom scMetronom;
typedef struct scQuantize scQuantize;
typedef struct scEinstimmung scEinstimmung;
typedef struct scStaffVoiceStates scStaffVoiceStates;
typedef struct scMidiTrackStream scMidiTrackStream;
typedef struct scScoreEvent scScoreEvent;
typedef struct scScoreEventList scScoreEventList;
typedef uint16_t scWChar;
#endif

/* Results of the bounded copies. */
#define SCORECONV_S_OK ((int32_t)0)
#define SCORECONV_E_INSUFFICIENT_BUFFER ((int32_t)-2147024774) /* 0x8007007A */
#define SCORECONV_E_INVALIDARG ((int32_t)-2147024809)          /* 0x80070057 */

/* Result codes of the procedures (a selection). */
#define SCORECONV_OK 0
#define SCORECONV_ERR_OUT_OF_MEMORY (-2)
#define SCORECONV_ERR_STOPPED (-5)
#define SCORECONV_ERR_NOT_PRESENT (-7)
#define SCORECONV_ERR_CANNOT_OPEN (-103)
#define SCORECONV_ERR_UNKNOWN_FORMAT (-104)
#define SCORECONV_MAX_PLAY_HOURS 24 /* a score playing longer once through loads and converts as -104 */
#define SCORECONV_ERR_WRITE (-101)
#define SCORECONV_ERR_CREATE (-200)

/* File modes of mxmlNewFile. */
#define SCORECONV_MODE_PLAY_TIME 1
#define SCORECONV_MODE_REAL_TIME 2
#define SCORECONV_MODE_RENDER 3
#define SCORECONV_MODE_FAST_FORWARD 4
#define SCORECONV_MODE_TVRXML 5
#define SCORECONV_MODE_LOAD_AND_PLAY 7

/* End states a play writes to *params->state. */
#define SCORECONV_PLAY_STATE_FILE_WRITTEN 0 /* a render wrote (or tried to write) its file */
#define SCORECONV_PLAY_STATE_ENDED 2        /* also the value while a play runs */
#define SCORECONV_PLAY_STATE_SIGNALLED 5    /* left on stop word 3 */
#define SCORECONV_PLAY_STATE_REPEAT 10      /* left inside the second pass of a repeat */

/* Stop word values a play reads once per step. */
#define SCORECONV_SIGNAL_STOP 1  /* ends the play with SCORECONV_ERR_STOPPED */
#define SCORECONV_SIGNAL_LEAVE 3 /* 3 to 6 leave at once (result 0) */

/* ConvProps mask: which kinds of symbols a conversion carries over. */
#define SCORECONV_CONV_ALL (-1)

/* Progress message and its wParam codes. */
#define SCORECONV_WM_MXML_PROGRESS 2524u
#define SCORECONV_PROGRESS_TEMPO 0          /* lParam: the tempo */
#define SCORECONV_PROGRESS_SECONDS 2        /* lParam: elapsed whole seconds */
#define SCORECONV_PROGRESS_DONE 3           /* lParam: units done */
#define SCORECONV_PROGRESS_TOTAL 4          /* lParam: units in all */
#define SCORECONV_PROGRESS_LOAD_AND_PLAY 5  /* lParam: -1 */
/* A position report has wParam ((bar - 1) << 16) + 1 and lParam
 * (tick << 16) | (beat - 1). */

/* The parameter block of a conversion or a play. The procedure reads it and
 * writes only through the slots it points to (and the two counts). */
typedef struct CThreadProcParams {
    scMxmlFile* file;       /* required */
    scVxmlFile* vxml;       /* mode 5: the TvrXML file to build, else null */
    const char* sourcePath; /* UTF-8: the MusicXML file to read; a render (mode 3): the MIDI file to write */
    const char* targetPath; /* UTF-8: mode 5, the ".tvrx" file to write, else null */
    int64_t* playTime;      /* not mode 5: a play-time pass fills it (100-ns units); null: load only */
    int* state;             /* the play procedure's end state (SCORECONV_PLAY_STATE_*); null for a conversion */
    int* result;            /* receives the result code; may be null */
    int32_t staffCount;     /* filled by the TvrXML-to-MusicXML conversion */
    int32_t voiceCount;
    uint8_t closeFlag;      /* nonzero: the run ends the file's worker (mxmlScanFile sets it) */
} CThreadProcParams;

/* A position in the score: bar and beat counted from 1, tick inside the beat from 0. */
typedef struct scMeasurePos {
    uint8_t flag;
    int32_t bar;
    int32_t beat;
    int32_t tick;
} scMeasurePos;

/* Receiver of the messages of a callback target. */
typedef void (*scMessageCallback)(void* user, uint32_t msg, uintptr_t wParam, intptr_t lParam);

#ifdef __cplusplus
extern "C" {
#endif

/* ---- helpers for C hosts ---------------------------------------------------------- */

/* A message target owned by the calling thread that hands every message to fn:
 * posted messages wait for scoreconvPumpCallbackTarget; a send from the owner
 * thread calls fn at once, a send from another thread waits until the owner
 * pumps. Null for a null fn or without memory. */
SCORECONV_API scMessageTarget* scoreconvCreateCallbackTarget(scMessageCallback fn, void* user);
/* Delivers the queued messages (owner thread only; elsewhere nothing happens). */
SCORECONV_API void scoreconvPumpCallbackTarget(scMessageTarget* target);
/* Destroys a target made by scoreconvCreateCallbackTarget; queued messages are dropped. */
SCORECONV_API void scoreconvDestroyCallbackTarget(scMessageTarget* target);
/* A log that appends its lines to the file at path (created when missing); null
 * when the file cannot be opened. */
SCORECONV_API scScoreLog* scoreconvCreateLog(const char* path);
/* Destroys a log made by scoreconvCreateLog. */
SCORECONV_API void scoreconvDestroyLog(scScoreLog* log);
/* A MIDI output that only records what it receives (for tests and hosts
 * without a device of their own); null without memory. C++ hosts may pass any
 * platform::MidiOutDevice of their own instead. */
SCORECONV_API scMidiOut* scoreconvCreateCaptureMidiOut(void);
/* The messages a capture output has received so far (of every kind); 0 for
 * null or an output that scoreconvCreateCaptureMidiOut did not make. */
SCORECONV_API size_t scoreconvCaptureCount(scMidiOut* out);
/* Destroys an output made by scoreconvCreateCaptureMidiOut. */
SCORECONV_API void scoreconvDestroyCaptureMidiOut(scMidiOut* out);

/* ---- MusicXML file: lifecycle ------------------------------------------------------ */

/* A new, empty file object; null without memory. window: address of the host's variable holding the
 * progress target (may be null); mode: SCORECONV_MODE_*; signal: the host's stop word (may be null);
 * ticksPerQuarter below 1 means 480; programName cut to 62 bytes; log may be null and stays this handle's. */
SCORECONV_API scMxmlFile* mxmlNewFile(scMessageTarget** window, int32_t mode, int* signal, int32_t ticksPerQuarter,
                                      const char* programName, scScoreLog* log);
/* Frees the object and everything it holds, then sets *handle to null. A procedure still running on the
 * file (a scan or play on another thread) is asked to stop and waited for first. */
SCORECONV_API void mxmlFreeFile(scMxmlFile** handle);
/* Frees the loaded score (document, tables, events, texts, wide copies); the object and its settings stay.
 * Nothing happens while a procedure runs on the file. */
SCORECONV_API void mxmlDestroyFile(scMxmlFile** handle);
/* Frees the loaded score and puts every setting back to its default (flag is accepted and not needed).
 * Nothing happens while a procedure runs on the file. */
SCORECONV_API void mxmlInitFile(scMxmlFile** handle, int32_t flag);
/* Replaces the progress-target variable; post nonzero: progress is posted, 0: sent. */
SCORECONV_API void mxmlSetCallbackWindow(scMxmlFile* file, scMessageTarget** window, int post);
/* Replaces the address of the stop word; returns file. */
SCORECONV_API scMxmlFile* mxmlSetSignal(scMxmlFile* file, int* signal);
/* Stores the ConvProps mask (SCORECONV_CONV_ALL: every kind). */
SCORECONV_API void mxmlCopyConvProps(scMxmlFile* file, int32_t mask);
/* Loads params->sourcePath into params->file, or in mode 5 writes it as a ".tvrx" through params->vxml,
 * on the calling thread; returns the result code, also written to *params->result. With a play-time slot
 * the loaded score goes on to the play procedure: its playing time fills *params->playTime, or in mode 7
 * it plays through the file's MIDI output. 0 for a null block or a block without file (nothing is
 * written then); SCORECONV_ERR_STOPPED while another procedure runs on the file; -1407 when the target
 * of mode 5 is the source file itself (under any name or link). */
SCORECONV_API int mxmlConvertProc(CThreadProcParams* params);
/* Loads path on a worker while the calling thread pumps the progress target every 10 ms; returns the
 * result code; 0 at once when the file holds path already and no play time is wanted; -7 while a load
 * or another procedure runs on the file; -5 while the stop word is set; -2 when the worker cannot be
 * started. */
SCORECONV_API int mxmlScanFile(scMxmlFile* file, const char* path, int64_t* playTime);
/* Whether path is a MusicXML file: 0, -103 (cannot be read) or -104 (not MusicXML). */
SCORECONV_API int mxmlGetVersion(scMxmlFile* file, const char* path);
/* Reads the header of path (part list, staves, description, date) into file without the measures;
 * 0 or a negative code, after which the file is emptied; SCORECONV_ERR_STOPPED (the file untouched)
 * while another procedure runs on the file. */
SCORECONV_API int mxmlGetProps(scMxmlFile* file, const char* path);

/* ---- MusicXML file: queries and texts ---------------------------------------------- */

/* True when no file is loaded (also for a null handle). */
SCORECONV_API bool mxmlFnScannedIsEmpty(scMxmlFile* file);
/* Number of staves plus one (the last row holds the score-wide events). */
SCORECONV_API int32_t mxmlGetStaveNum(scMxmlFile* file);
/* Last-write time of the loaded file, 64-bit FILETIME (100-ns units since 1601). */
SCORECONV_API uint64_t mxmlGetModDate(scMxmlFile* file);
/* Length in bytes of the staff's name. */
SCORECONV_API int32_t mxmlGetStaffNameLength(scMxmlFile* file, int32_t staff);
/* The staff's name (UTF-8, inside the object). */
SCORECONV_API const char* mxmlGetStaffNameA(scMxmlFile* file, int32_t staff);
/* The staff's name in UTF-16, made on the first call and returned again (same address) until destroyed. */
SCORECONV_API const scWChar* mxmlGetStaffNameW(scMxmlFile* file, int32_t staff);
/* The score's description (UTF-8, inside the object; empty when nothing is loaded). */
SCORECONV_API const char* mxmlGetDescA(scMxmlFile* file);
/* The description in UTF-16, made on the first call and returned again until destroyed. */
SCORECONV_API const scWChar* mxmlGetDescW(scMxmlFile* file);
/* Copies the loaded file's name into buffer (size bytes); bounded-copy result. */
SCORECONV_API int32_t mxmlCopyFnScanned(scMxmlFile* file, char* buffer, size_t size);
/* Sets the loaded file's name (bounded copy into the 260-byte field). */
SCORECONV_API int32_t mxmlCopyToFnScanned(scMxmlFile* file, const char* text);
/* Sets the original file name (bounded copy into the 260-byte field). */
SCORECONV_API int32_t mxmlCopyToFnOriginal(scMxmlFile* file, const char* text);
/* Sets the original file name, as mxmlCopyToFnOriginal. */
SCORECONV_API int32_t mxmlSetOriginalFilename(scMxmlFile* file, const char* text);
/* Sets the instrument id of a (staff, voice) record (bounded copy, at most 30 bytes); SCORECONV_E_INVALIDARG
 * for a record the score does not have. */
SCORECONV_API int32_t mxmlSetMidiInstrId(scMxmlFile* file, int32_t staff, int32_t voice, const char* text);

/* ---- MusicXML file: playing --------------------------------------------------------- */

/* Runs the play procedure on params->file in the file's play mode, on the calling thread:
 * SCORECONV_MODE_PLAY_TIME fills *params->playTime (100-ns units); REAL_TIME and LOAD_AND_PLAY play
 * through the file's MIDI output (the last one mxmlPlayFile gave it; none: nothing sounds); FAST_FORWARD runs
 * silently to the play position, then plays; RENDER writes a standard MIDI file at params->sourcePath
 * (nothing half-written when that fails). Returns the result code, also written to *params->result:
 * 0, -2 (no memory), -5 (stop word 1, or another procedure runs on the file), -101 / -200 (the MIDI
 * file not written; -200 also when the target is the loaded score itself, under any name or link);
 * *params->state gets the end state. 0 for a null block or a block without file. */
SCORECONV_API int mxmlPlayProc(CThreadProcParams* params);
/* Makes out the file's MIDI output, starts the play procedure on a time-critical worker of the file
 * and returns at once: 0; SCORECONV_ERR_NOT_PRESENT without a block; SCORECONV_ERR_STOPPED while a
 * procedure runs on the file; SCORECONV_ERR_OUT_OF_MEMORY when no thread can be had. params->file is not
 * read. The worker plays with a copy of the block: the slots it points to must stay valid until
 * mxmlGetThread returns null. out stays the host's; the file keeps using it (also in mxmlPlayProc and
 * mxmlPlayEinstimmung) until the next mxmlPlayFile or mxmlInitFile. The host stops the play with its
 * stop word (SCORECONV_SIGNAL_*); however it ends, no note it started keeps sounding. 0 for a null
 * handle. */
SCORECONV_API int mxmlPlayFile(scMxmlFile* file, CThreadProcParams* params, scMidiOut* out);
/* Non-null while a worker of the file runs (a play or a scan); null once it has ended. */
SCORECONV_API const void* mxmlGetThread(scMxmlFile* file);
/* Measures the playing time on the calling thread: *playTime in 100-ns units (64-bit). The play mode
 * reads SCORECONV_MODE_PLAY_TIME meanwhile and is the same afterwards, also on failure. Returns the
 * result code; SCORECONV_ERR_STOPPED while another procedure runs on the file. */
SCORECONV_API int mxmlGetPlaytime(scMxmlFile* file, int64_t* playTime);
/* Plays the tune-up through the file's MIDI output and returns when it has ended; true also when the
 * tune-up is switched off; false for a null handle and while another procedure runs on the file. */
SCORECONV_API bool mxmlPlayEinstimmung(scMxmlFile* file);

/* Settings a host may change while a play runs. Setters return file. */
/* The play mode (SCORECONV_MODE_*). */
SCORECONV_API int32_t mxmlGetPlaymode(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetPlaymode(scMxmlFile* file, int32_t mode);
/* The play position, 100-ns units: where a fast-forward play starts to sound, and the time reached
 * while a play runs. */
SCORECONV_API int64_t mxmlGetPlayPosition(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetPlayPosition(scMxmlFile* file, int64_t position);
/* The tempo rule, applied each step while play condition 0x4 is on: tempo mode nonzero (1 for a null
 * handle) plays the score's tempo plus the tempo offset, kept within the tempo range; 0 plays the
 * absolute tempo (-1 for a null handle; -1 stands for 120). */
SCORECONV_API uint8_t mxmlGetTempoMode(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetTempoMode(scMxmlFile* file, uint8_t mode);
SCORECONV_API int32_t mxmlGetTempoAdd(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetTempoAdd(scMxmlFile* file, int32_t offset);
SCORECONV_API int32_t mxmlGetTempoAbs(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetTempoAbs(scMxmlFile* file, int32_t tempo);

/* ---- MusicXML file: play settings ---------------------------------------------------- */

/* Plain settings: a getter returns the value (0 for a null handle unless named), a setter stores it and
 * returns file. */
/* Semitones added to every note while play condition 0x8 is on. */
SCORECONV_API int32_t mxmlGetTranspAdd(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetTranspAdd(scMxmlFile* file, int32_t semitones);
/* Whether that transposition also moves percussion voices (0 or 1). */
SCORECONV_API uint8_t mxmlGetTranspAddToPerc(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetTranspAddToPerc(scMxmlFile* file, uint8_t flag);
/* Base velocity of plain notes (play condition 0x800). */
SCORECONV_API int32_t mxmlGetVelocity(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetVelocity(scMxmlFile* file, int32_t velocity);
/* Note shortening in percent of the written length (play condition 0x80). */
SCORECONV_API int32_t mxmlGetNoteShortening(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetNoteShortening(scMxmlFile* file, int32_t percent);
/* Lower and upper limit of the tempo rule (quarters per minute). */
SCORECONV_API scMxmlFile* mxmlSetTempoRange(scMxmlFile* file, int32_t low, int32_t high);
/* The tempo in force at the start of the last play. */
SCORECONV_API int32_t mxmlGetInitialTempo(scMxmlFile* file);
/* Sets the tempo at the play position, which holds while the ignore-tempo flag is set. */
SCORECONV_API scMxmlFile* mxmlSetPlayPosTempo(scMxmlFile* file, int32_t tempo);
/* Whether a play repeats the marked sections (1) or plays straight through (0). */
SCORECONV_API scMxmlFile* mxmlSetPlayRepeats(scMxmlFile* file, uint8_t flag);
/* Replaces the play conditions (64-bit bit set, given as its low and high half). */
SCORECONV_API scMxmlFile* mxmlSetPlayCond(scMxmlFile* file, uint32_t low, uint32_t high);
/* mask widened with its sign: its bits are set only when none of them is set yet. Returns mask. */
SCORECONV_API int32_t mxmlAddPlayCond(scMxmlFile* file, int32_t mask);
/* mask widened with its sign: its bits are inverted when at least one of them is set. Returns mask. */
SCORECONV_API int32_t mxmlRemovePlayCond(scMxmlFile* file, int32_t mask);
/* The host's progress-target variable given at creation or by mxmlSetCallbackWindow. */
SCORECONV_API scMessageTarget** mxmlGetCallbackWindow(scMxmlFile* file);
/* Number of staves plus one, as mxmlGetStaveNum. */
SCORECONV_API int32_t mxmlGetStvNum(scMxmlFile* file);
/* Per staff the number of voices: an array of mxmlGetStaveNum() - 1 values inside the object; null when
 * nothing is loaded. */
SCORECONV_API const int32_t* mxmlGetVocNum(scMxmlFile* file);

/* Address exports. The addresses stay valid for the handle's life. A play reads these values at each
 * use, so a host may change them through the address while a play runs, with one aligned store of the
 * value's width; only the host writes them. */
SCORECONV_API int32_t* mxmlGetVelocityP(scMxmlFile* file);
SCORECONV_API int32_t* mxmlGetNoteShorteningP(scMxmlFile* file);
/* Ignore-tempo flag (0 or 1): while set, a play keeps the play-position tempo instead of the marks. */
SCORECONV_API uint8_t* mxmlGetIgnoreTempoP(scMxmlFile* file);
SCORECONV_API uint8_t* mxmlGetPlayRepeatsP(scMxmlFile* file);
/* Preview flag (0 or 1): a real-time play stops once it has played the preview length. */
SCORECONV_API uint8_t* mxmlGetPreviewDoP(scMxmlFile* file);
/* Preview length in seconds. */
SCORECONV_API int32_t* mxmlGetPreviewSecP(scMxmlFile* file);
/* The tempo in force: a play writes it each step, and while the ignore-tempo flag is set it reads what
 * the host stored there. Read and write it with one aligned 32-bit access. */
SCORECONV_API int32_t* mxmlGetPlayPosTempoP(scMxmlFile* file);
/* Read-only: the position (100-ns units) the last play reached; set a position with
 * mxmlSetPlayPosition. */
SCORECONV_API const int64_t* mxmlGetPlayPositionP(scMxmlFile* file);
/* Read-only: the file's worker record; its address never changes (mxmlGetThread tells whether it runs). */
SCORECONV_API const void* mxmlGetThreadP(scMxmlFile* file);
/* Read-only: the score's length in bars, beats and ticks after a play-time pass. */
SCORECONV_API const scMeasurePos* mxmlGetBarDurationP(scMxmlFile* file);
/* The records a play reads as a whole (C++ hosts see their classes; C hosts pass them back to the
 * exports below). Change them only while no play runs. */
SCORECONV_API scArticulation* mxmlGetArticulationP(scMxmlFile* file);
SCORECONV_API scDynamik* mxmlGetDynamikP(scMxmlFile* file);
SCORECONV_API scQuantize* mxmlGetQuantizeP(scMxmlFile* file);
SCORECONV_API scMetronom* mxmlGetMetronomP(scMxmlFile* file);
SCORECONV_API scEinstimmung* mxmlGetEinstimmungP(scMxmlFile* file);
SCORECONV_API scStaffVoiceStates* mxmlGetStaffOnOffP(scMxmlFile* file);

/* ---- MusicXML file: articulation and dynamics tables ---------------------------------- */

/* Whether articulations change velocity and length (0 or 1). */
SCORECONV_API uint8_t mxmlGetArticulationUse(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetArticulationUse(scMxmlFile* file, uint8_t flag);
/* Whether dynamics change the voice level; whether a mark applies to all voices of its staff; to all
 * staves. */
SCORECONV_API uint8_t mxmlGetDynamicUse(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetDynamicUse(scMxmlFile* file, uint8_t flag);
SCORECONV_API uint8_t mxmlGetUseAllVoicesForDyn(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetUseAllVoicesForDyn(scMxmlFile* file, uint8_t flag);
SCORECONV_API uint8_t mxmlGetUseAllStavesForDyn(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetUseAllStavesForDyn(scMxmlFile* file, uint8_t flag);
/* Dynamics row i (0 fff .. 7 ppp): its velocity (255 for a null handle or an unknown row) and whether the
 * loaded file holds the mark. Setters ignore an unknown row. */
SCORECONV_API uint8_t mxmlGetValueOfDynSymbol(scMxmlFile* file, int32_t row);
SCORECONV_API scMxmlFile* mxmlSetValueOfDynSymbol(scMxmlFile* file, int32_t row, uint8_t velocity);
SCORECONV_API uint8_t mxmlIsDynSymbolInFile(scMxmlFile* file, int32_t row);
SCORECONV_API scMxmlFile* mxmlSetDynSymbolInFile(scMxmlFile* file, int32_t row, uint8_t flag);
/* Articulation row i (0 staccato, 1 staccatissimo, 2 tenuto, 3 strong accent, 4 accent, 5 strong beat,
 * 6 weak beat): whether the loaded file holds it, its velocity value and its note cut (percent). Setters
 * ignore an unknown row. */
SCORECONV_API uint8_t mxmlIsArtSymbolInFile(scMxmlFile* file, int32_t row);
SCORECONV_API int8_t mxmlGetVelocRaiseOfArtSymbol(scMxmlFile* file, int32_t row);
SCORECONV_API scMxmlFile* mxmlSetVelocRaiseOfArtSymbol(scMxmlFile* file, int32_t row, int8_t value);
SCORECONV_API int8_t mxmlGetNoteCutOfArtSymbol(scMxmlFile* file, int32_t row);
SCORECONV_API scMxmlFile* mxmlSetNoteCutOfArtSymbol(scMxmlFile* file, int32_t row, int8_t percent);
/* Take the values of another table (not its flags); a null table changes nothing. */
SCORECONV_API scMxmlFile* mxmlDynamikCopyValues(scMxmlFile* file, const scDynamik* from);
SCORECONV_API scMxmlFile* mxmlArticulationCopyValues(scMxmlFile* file, const scArticulation* from);

/* ---- MusicXML file: staves, voices and their instruments --------------------------------- */

/* An unknown staff, voice or event gives the neutral value and setters ignore it. */
SCORECONV_API int32_t mxmlGetVocNumOfStaff(scMxmlFile* file, int32_t staff);
/* Source volume of the staff. */
SCORECONV_API int32_t mxmlGetSrcVolume(scMxmlFile* file, int32_t staff);
SCORECONV_API scMxmlFile* mxmlSetSrcVolume(scMxmlFile* file, int32_t staff, int32_t volume);
/* Number of instrument records of the staff, and of the score's instrument list. */
SCORECONV_API int32_t mxmlGetMidiInstrumentNum(scMxmlFile* file, int32_t staff);
SCORECONV_API int32_t mxmlGetMidiInstrumentListNum(scMxmlFile* file);
/* Whether the staff's first instrument record is percussion. */
SCORECONV_API bool mxmlGetPercussionFlag(scMxmlFile* file, int32_t staff);
/* User volume and pan of a voice; a staff without voices reads 74 and 64 and ignores the setters. */
SCORECONV_API int32_t mxmlGetUserVolume(scMxmlFile* file, int32_t staff, int32_t voice);
SCORECONV_API scMxmlFile* mxmlSetUserVolume(scMxmlFile* file, int32_t staff, int32_t voice, int32_t volume);
SCORECONV_API int32_t mxmlGetUserPanorama(scMxmlFile* file, int32_t staff, int32_t voice);
SCORECONV_API scMxmlFile* mxmlSetUserPanorama(scMxmlFile* file, int32_t staff, int32_t voice, int32_t pan);
/* The instrument record of (staff, voice), field by field (255 stands for unset). mxmlGetMidiInstrId
 * returns its instrument id (UTF-8, inside the object). */
SCORECONV_API const char* mxmlGetMidiInstrId(scMxmlFile* file, int32_t staff, int32_t voice);
SCORECONV_API uint8_t mxmlGetMidiInstrPercNote(scMxmlFile* file, int32_t staff, int32_t voice);
SCORECONV_API scMxmlFile* mxmlSetMidiInstrPercNote(scMxmlFile* file, int32_t staff, int32_t voice, uint8_t key);
SCORECONV_API uint8_t mxmlGetMidiInstrSrcProgPercId(scMxmlFile* file, int32_t staff, int32_t voice);
SCORECONV_API scMxmlFile* mxmlSetMidiInstrSrcProgPercId(scMxmlFile* file, int32_t staff, int32_t voice,
                                                        uint8_t value);
SCORECONV_API uint8_t mxmlGetUserProgram(scMxmlFile* file, int32_t staff, int32_t voice);
SCORECONV_API scMxmlFile* mxmlSetUserProgram(scMxmlFile* file, int32_t staff, int32_t voice, uint8_t program);
SCORECONV_API uint8_t mxmlGetMidiInstrChannel(scMxmlFile* file, int32_t staff, int32_t voice);
SCORECONV_API scMxmlFile* mxmlSetMidiInstrChannel(scMxmlFile* file, int32_t staff, int32_t voice, uint8_t channel);
/* Sets the planned channel, as mxmlSetMidiInstrChannel. */
SCORECONV_API scMxmlFile* mxmlSetUserChannel(scMxmlFile* file, int32_t staff, int32_t voice, uint8_t channel);
SCORECONV_API uint8_t mxmlGetMidiInstrSrcChannel(scMxmlFile* file, int32_t staff, int32_t voice);
SCORECONV_API scMxmlFile* mxmlSetMidiInstrSrcChannel(scMxmlFile* file, int32_t staff, int32_t voice,
                                                     uint8_t channel);
/* Whether the record of (staff, voice) is percussion. */
SCORECONV_API bool mxmlIspercOfStaffOfVoc(scMxmlFile* file, int32_t staff, int32_t voice);
/* Channel (0..15) of the voice's first channel message; 255 when there is none or for a null handle. */
SCORECONV_API uint8_t mxmlGetVoiceChannel(scMxmlFile* file, int32_t staff, int32_t voice);
/* Sends the voice's program change at once through the file's MIDI output; 0 or a negative code. */
SCORECONV_API int mxmlActualizePlaybackSound(scMxmlFile* file, int32_t staff, int32_t voice);
/* Event k of the voice: its start tick, its length in ticks, and the key of its head j. */
SCORECONV_API int32_t mxmlGetTimeOfNote(scMxmlFile* file, int32_t staff, int32_t voice, int32_t event);
SCORECONV_API int32_t mxmlGetTicklenOfNote(scMxmlFile* file, int32_t staff, int32_t voice, int32_t event);
SCORECONV_API uint8_t mxmlGetMidiNumberOfNote(scMxmlFile* file, int32_t staff, int32_t voice, int32_t event,
                                              int32_t head);
/* Index of the first event after index whose kind shares a bit with mask; -1 when none (0 for a null
 * handle). */
SCORECONV_API int32_t mxmlGetNextEventType(scMxmlFile* file, uint32_t mask, int32_t staff, int32_t voice,
                                           int32_t index);
/* Splits a score tick into bar and beat (from 1) and tick inside the beat by the score's time
 * signatures (at 480 ticks per quarter); the outputs may be null and are left alone for a null handle. */
SCORECONV_API void mxmlTimeToMeasure(scMxmlFile* file, int32_t tick, int32_t* bar, int32_t* beat,
                                     int32_t* tickInBeat);

/* ---- MusicXML file: file names -------------------------------------------------------- */

/* The original and the loaded file's name (inside the object). */
SCORECONV_API const char* mxmlGetFnOriginal(scMxmlFile* file);
SCORECONV_API const char* mxmlGetFnScanned(scMxmlFile* file);
/* True when text equals the loaded file's name (case-sensitive); true for a null handle. */
SCORECONV_API bool mxmlFnScannedIsEqual(scMxmlFile* file, const char* text);
/* True when text is the original name, or the loaded one when there is no original. */
SCORECONV_API bool mxmlIsThisFileRendered(scMxmlFile* file, const char* text);
/* True when a file is loaded. */
SCORECONV_API bool mxmlIsAnyFileRendered(scMxmlFile* file);

/* ---- MusicXML file: staves and voices on and off ------------------------------------- */

/* States: -1 invalid, 0 hidden, 1 off, 2 on. Getters give -1 for a null handle, the others false. */
SCORECONV_API int32_t mxmlGetStaffOnOff(scMxmlFile* file, int32_t staff);
/* Sets the staff's state; with alsoVoices and a changed state every voice takes it too. */
SCORECONV_API scMxmlFile* mxmlSetStaffOnOff(scMxmlFile* file, int32_t staff, int32_t state, bool alsoVoices);
SCORECONV_API int32_t mxmlGetVoiceOnOff(scMxmlFile* file, int32_t staff, int32_t voice);
/* Stores the voice's state and returns it; -1 (nothing stored) for an unknown voice. */
SCORECONV_API int32_t mxmlSetVoiceOnOff(scMxmlFile* file, int32_t staff, int32_t voice, int32_t state);
SCORECONV_API bool mxmlIsStaffOn(scMxmlFile* file, int32_t staff);
SCORECONV_API bool mxmlIsStaffOff(scMxmlFile* file, int32_t staff);
SCORECONV_API bool mxmlIsStaffInvalid(scMxmlFile* file, int32_t staff);
SCORECONV_API bool mxmlIsStaffVisible(scMxmlFile* file, int32_t staff);
SCORECONV_API bool mxmlIsVoiceOn(scMxmlFile* file, int32_t staff, int32_t voice);
SCORECONV_API bool mxmlIsVoiceOff(scMxmlFile* file, int32_t staff, int32_t voice);
SCORECONV_API bool mxmlIsVoiceInvalid(scMxmlFile* file, int32_t staff, int32_t voice);
SCORECONV_API bool mxmlIsVoiceVisible(scMxmlFile* file, int32_t staff, int32_t voice);
/* The on/off matrix's voice count of the staff. */
SCORECONV_API int32_t mxmlGetOnOffVoiceNumOfStaff(scMxmlFile* file, int32_t staff);

/* ---- MusicXML file: metronome ---------------------------------------------------------- */

/* Count-in bars. */
SCORECONV_API int32_t mxmlGetMetrCountIn(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetMetrCountIn(scMxmlFile* file, int32_t bars);
/* Click while the music plays (0 or 1). */
SCORECONV_API uint8_t mxmlGetMetrUse(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetMetrUse(scMxmlFile* file, uint8_t flag);
/* Click key (42 for a null handle). */
SCORECONV_API uint8_t mxmlGetMetrInstrument(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetMetrInstrument(scMxmlFile* file, uint8_t key);
/* Velocity of ordinary clicks. */
SCORECONV_API uint8_t mxmlGetMetrVelocity(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetMetrVelocity(scMxmlFile* file, uint8_t velocity);
/* Accent the first beat (1 for a null handle). */
SCORECONV_API uint8_t mxmlGetMetrFirstBeat(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetMetrFirstBeat(scMxmlFile* file, uint8_t flag);
/* Click pattern: 0 every beat, 1 first and middle, 2 odd beats, 3 every third, 4 every fourth. */
SCORECONV_API int32_t mxmlGetMetrFrequency(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetMetrFrequency(scMxmlFile* file, int32_t pattern);
/* Click volume (controller 7). */
SCORECONV_API uint8_t mxmlGetMetrVolume(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetMetrVolume(scMxmlFile* file, uint8_t volume);
/* Click on the last beat of a bar (1 for a null handle). */
SCORECONV_API uint8_t mxmlGetMetrLastBeat(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetMetrLastBeat(scMxmlFile* file, uint8_t flag);
/* One beat (from 1) of a bar of beats clicked live to device, or appended to stream when given; *delta
 * is the pending delta time (null: none). The last levels sent are kept in *lastVolume and *lastPan
 * (null: unknown). Bytes appended, 0 when live, -1 when the stream cannot grow. */
SCORECONV_API int mxmlMetrClickFreq(scMxmlFile* file, scMidiOut* device, int force, int32_t beats, int32_t beat,
                                    uint8_t* lastVolume, uint8_t* lastPan, scMidiTrackStream* stream, int* delta);
/* Ends the sounding click, as mxmlMetrClickFreq sends it. */
SCORECONV_API int mxmlMetrClickOff(scMxmlFile* file, scMidiOut* device, scMidiTrackStream* stream, int* delta);

/* ---- MusicXML file: tune-up ----------------------------------------------------------- */

/* Mode: 0 off, 1 first notes of the selected voices, 2 chord (1 for a null handle). */
SCORECONV_API int32_t mxmlGetEinstType(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstType(scMxmlFile* file, int32_t type);
/* Duration in ms (1000 for a null handle). */
SCORECONV_API int32_t mxmlGetEinstDuration(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstDuration(scMxmlFile* file, int32_t ms);
/* Break the notes up (1 for a null handle). */
SCORECONV_API uint8_t mxmlGetEinstZerlegt(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstZerlegt(scMxmlFile* file, uint8_t flag);
/* Arpeggio speed: 1 fast, 2 medium, 3 slow (2 for a null handle). */
SCORECONV_API int32_t mxmlGetEinstTempo(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstTempo(scMxmlFile* file, int32_t speed);
/* Broken notes keep sounding to the end (1 for a null handle). */
SCORECONV_API uint8_t mxmlGetEinstSounding(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstSounding(scMxmlFile* file, uint8_t flag);
/* Velocity (100 for a null handle). */
SCORECONV_API uint8_t mxmlGetEinstVolume(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstVolume(scMxmlFile* file, uint8_t volume);
/* Own program, negative for the voices' own (-1 for a null handle). */
SCORECONV_API int32_t mxmlGetEinstInstrument(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstInstrument(scMxmlFile* file, int32_t program);
/* Chord root 0 (C) .. 11. */
SCORECONV_API int32_t mxmlGetEinstChordGrundton(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstChordGrundton(scMxmlFile* file, int32_t root);
/* Major (1, also for a null handle) or minor (0). */
SCORECONV_API uint8_t mxmlGetEinstChordDurMoll(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstChordDurMoll(scMxmlFile* file, uint8_t major);
/* Octave of the chord root 0..10 (5 for a null handle). */
SCORECONV_API int32_t mxmlGetEinstChordOctave(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstChordOctave(scMxmlFile* file, int32_t octave);
/* Number of voices whose first notes sound. */
SCORECONV_API int32_t mxmlGetEinstFirstNotesVoiceNum(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstFirstNotesVoiceNum(scMxmlFile* file, int32_t count);
/* Take the first notes from the top voice down. */
SCORECONV_API uint8_t mxmlGetEinstFirstNotesFromTop(scMxmlFile* file);
SCORECONV_API scMxmlFile* mxmlSetEinstFirstNotesFromTop(scMxmlFile* file, uint8_t flag);
/* Whether a tune-up plays now. */
SCORECONV_API uint8_t mxmlIsEinstActive(scMxmlFile* file);
/* Copies seven ints of play parameters into the record; null zeroes them. */
SCORECONV_API scMxmlFile* mxmlSetEinstPlayParams(scMxmlFile* file, const int32_t* params);
/* The selected voices: keys with the staff in the low and the voice in the high 16 bits. */
SCORECONV_API scMxmlFile* mxmlEinstDeleteVoiceList(scMxmlFile* file);
/* Appends a key unless present: true when it was present already. */
SCORECONV_API bool mxmlEinstAddSelectedVoice(scMxmlFile* file, int32_t key);
/* Staff and voice of entry i (outputs may be null); -1 for both and as the result for an unknown entry. */
SCORECONV_API int32_t mxmlEinstGetFirstNotesStaffVoice(scMxmlFile* file, int32_t entry, int32_t* staff,
                                                       int32_t* voice);
/* Arpeggio step in ms (1000 for a null handle) and in ticks (480 for a null handle). */
SCORECONV_API int32_t mxmlEinstGetZerlegtTime(scMxmlFile* file);
SCORECONV_API int32_t mxmlEinstGetZerlegtTicks(scMxmlFile* file);
/* False only for the first-notes mode without any voice selected. */
SCORECONV_API bool mxmlEinstFirstNotesVoicesSelected(scMxmlFile* file);
/* The tune-up chord (keynote, third, fifth) into the host's list (C++ hosts): *count becomes 3; false
 * (count 0) when memory fails, and for a null handle or list. */
SCORECONV_API bool mxmlEinstCreateChord(scMxmlFile* file, scScoreEventList* events, int32_t* count,
                                        int32_t transpose);
/* Copies the first `heads` heads (negative: all) of source into the next slot of the host's list (made with
 * one event per selected voice when *count is 0), keys moved by both transpositions, on the channel; the
 * slot's index, or -1 when every slot is taken, memory fails, or for a null handle, list or source. */
SCORECONV_API int32_t mxmlEinstGetFirstNotesNote(scMxmlFile* file, scScoreEventList* events, int32_t* count,
                                                 int32_t heads, const scScoreEvent* source, int32_t channel,
                                                 int32_t transposeA, int32_t transposeB, int32_t staff,
                                                 int32_t voice);
/* The voice keys as decimal text separated by blanks (inside the object, valid until the next call);
 * null when none is selected. */
SCORECONV_API const char* mxmlEinstCreateVoicesString(scMxmlFile* file);
/* Replaces the selection with the keys of such a text; 0, -104 after a bad key (the keys before it
 * stay), -2 without memory. */
SCORECONV_API int mxmlEinstBuildVoicesFromString(scMxmlFile* file, const char* text);

/* ---- MusicXML file: swing quantize (per staff) ----------------------------------------- */

/* Grid: 0 eighths, 1 sixteenths, 2 thirty-seconds. */
SCORECONV_API int32_t mxmlGetQuantizeNote(scMxmlFile* file, int32_t staff);
SCORECONV_API scMxmlFile* mxmlSetQuantizeNote(scMxmlFile* file, int32_t staff, int32_t note);
/* Grid steps that pass before a position is recorded, and their index in the offered counts 2, 4, 6, 8
 * (4 when it is none of them). */
SCORECONV_API uint8_t mxmlGetQuantizeAnzahl(scMxmlFile* file, int32_t staff);
SCORECONV_API scMxmlFile* mxmlSetQuantizeAnzahl(scMxmlFile* file, int32_t staff, uint8_t count);
SCORECONV_API int32_t mxmlGetQuantizeAnzahlIndex(scMxmlFile* file, int32_t staff);
/* The rate long : short, its index among the 25 offered rates "1:4" .. "4:1" (25 when none, 12 ("1:1")
 * for a null handle or an unknown staff), its text among them (null when none) and as "%i:%i" copied
 * into buffer (bounded-copy result). */
SCORECONV_API scMxmlFile* mxmlSetQuantizeRate(scMxmlFile* file, int32_t staff, uint8_t longPart, uint8_t shortPart);
SCORECONV_API int32_t mxmlGetQuantizeRateIndex(scMxmlFile* file, int32_t staff);
SCORECONV_API const char* mxmlGetQuantizeRateString(scMxmlFile* file, int32_t staff);
SCORECONV_API int32_t mxmlCreateQuantizeRateString(scMxmlFile* file, int32_t staff, char* buffer, size_t size);
/* Sets the rate from text such as "2:1"; false (rate unchanged) for bad text or an unknown staff. */
SCORECONV_API bool mxmlSetQuantizeRateFromString(scMxmlFile* file, int32_t staff, const char* text);
/* The protocol position of a voice of the staff. */
SCORECONV_API scMxmlFile* mxmlSetQuantizeProtocolPos(scMxmlFile* file, int32_t staff, int32_t voice, int32_t pos);

/* ---- TvrXML file ------------------------------------------------------------------- */

/* A new, empty TvrXML file object; null without memory. log may be null and stays this handle's. */
SCORECONV_API scVxmlFile* vxmlNewFile(scScoreLog* log);
/* Frees the object and everything it holds, then sets *handle to null. A procedure still running on the
 * file (a scan or play on another thread) is asked to stop and waited for first. */
SCORECONV_API void vxmlFreeFile(scVxmlFile** handle);
/* Frees the document, layouts and systems and forgets the stop word and progress target; the object stays. */
SCORECONV_API void vxmlDestroyFile(scVxmlFile** handle);
/* Stores the ConvProps mask (SCORECONV_CONV_ALL: every kind). */
SCORECONV_API void vxmlCopyConvProps(scVxmlFile* file, int32_t mask);
/* Replaces the progress-target variable (TvrXML progress is always posted). */
SCORECONV_API void vxmlSetCallbackWindow(scVxmlFile* file, scMessageTarget** window);
/* Replaces the address of the stop word; returns file. */
SCORECONV_API scVxmlFile* vxmlSetSignal(scVxmlFile* file, int* signal);
/* Loads a plain TvrXML document: 0 (format 1.0 or 2.0), -103 (cannot be loaded) or -104 (not TvrXML). */
SCORECONV_API int vxmlGetVersion(scVxmlFile* file, const char* path);
/* Reads a ".tvrx" file: its document, description and date; 0, -103 or the code of vxmlGetVersion. */
SCORECONV_API int vxmlGetProps(scVxmlFile* file, const char* path);
/* Bounded copies of the description fields into buffer (size bytes). */
SCORECONV_API int32_t vxmlGetDescAuthor(scVxmlFile* file, char* buffer, size_t size);
SCORECONV_API int32_t vxmlGetDescKeywords(scVxmlFile* file, char* buffer, size_t size);
SCORECONV_API int32_t vxmlGetDescComment(scVxmlFile* file, char* buffer, size_t size);
SCORECONV_API int32_t vxmlGetDescFdate(scVxmlFile* file, char* buffer, size_t size);
/* The description texts inside the object (valid until the next read or vxmlDestroyFile) and their lengths. */
SCORECONV_API const char* vxmlGetDescAuthorP(scVxmlFile* file);
SCORECONV_API const char* vxmlGetDescKeywordsP(scVxmlFile* file);
SCORECONV_API const char* vxmlGetDescCommentP(scVxmlFile* file);
SCORECONV_API const char* vxmlGetDescFdateP(scVxmlFile* file);
SCORECONV_API const char* vxmlGetDescEncengineP(scVxmlFile* file);
SCORECONV_API int32_t vxmlGetDescAuthorLength(scVxmlFile* file);
SCORECONV_API int32_t vxmlGetDescKeywordsLength(scVxmlFile* file);
SCORECONV_API int32_t vxmlGetDescCommentLength(scVxmlFile* file);
SCORECONV_API int32_t vxmlGetDescFdateLength(scVxmlFile* file);
/* The file time (100-ns units since 1601, UTC) of the file vxmlGetProps read. */
SCORECONV_API uint64_t vxmlGetModDate(scVxmlFile* file);
/* The play mode of the object, and setting it (returns the mode set). */
SCORECONV_API int vxmlGetPlaymode(scVxmlFile* file);
SCORECONV_API int vxmlSetPlaymode(scVxmlFile* file, int mode);
/* The address of the host's progress-target variable given to vxmlSetCallbackWindow. */
SCORECONV_API scMessageTarget** vxmlGetCallbackWindow(scVxmlFile* file);
/* Take a text, not a handle: whether it is null or empty; the text itself. */
SCORECONV_API bool vxmlTvrxfnameIsEmpty(const char* text);
SCORECONV_API const char* vxmlGetTvrxfname(const char* text);
/* Counts the staff layouts of the document vxmlGetProps read into *count; 0 or -300 without layouts. */
SCORECONV_API int vxmlGetLayoutStaffNum(scVxmlFile* file, int* count);
/* After vxmlGetLayoutStaffNum: reads the staff layouts and the systems; 0, -2, -6 or a reader's code. */
SCORECONV_API int vxmlSetupScore(scVxmlFile* file);
/* The largest voice count of the staves of staff layout `layout` over all systems into *count. */
SCORECONV_API int vxmlGetVoiceNumOfStaff(scVxmlFile* file, int layout, int* count);
/* Staff layout `layout`: instrument name (inside the object); its UTF-16 form (made once from the name,
 * else the description, else the pair name; kept by the object); volume; transposition; percussion
 * flag; MIDI program; preferred channel (get and set). Unknown layouts give 0 or null. */
SCORECONV_API const char* vxmlGetStaffNameA(scVxmlFile* file, int layout);
SCORECONV_API const scWChar* vxmlGetStaffNameW(scVxmlFile* file, int layout);
SCORECONV_API uint8_t vxmlGetSrcVolume(scVxmlFile* file, int layout);
SCORECONV_API int32_t vxmlGetStaffTranspose(scVxmlFile* file, int layout);
SCORECONV_API uint8_t vxmlGetPercussionFlag(scVxmlFile* file, int layout);
SCORECONV_API uint8_t vxmlGetMidiInstrument(scVxmlFile* file, int layout);
SCORECONV_API uint8_t vxmlGetMidiInstrChannel(scVxmlFile* file, int layout);
SCORECONV_API uint8_t vxmlSetMidiInstrChannel(scVxmlFile* file, int layout, uint8_t channel);
/* Drum map of a staff layout: the source key of entry `entry`; the target key of the first entry of
 * source key `key` (the key itself when the map has none). */
SCORECONV_API uint8_t vxmlGetMidiDrummapFrom(scVxmlFile* file, int layout, int entry);
SCORECONV_API uint8_t vxmlGetMidiDrummapTo(scVxmlFile* file, int layout, uint8_t key);
/* The index of the staff layout whose description is the text; -1 when none (and for a null handle). */
SCORECONV_API int vxmlGetLayoutPosOfStaff(scVxmlFile* file, const char* description);
/* Selects system `system` (and staff `staff`) and returns its staff (voice) count; -1 for a null handle. */
SCORECONV_API int vxmlGetSystemStaffNum(scVxmlFile* file, int system);
SCORECONV_API int vxmlGetSystemStaffVoiceNum(scVxmlFile* file, int system, int staff);
/* *out = a copy of the "layout" attribute of that staff, which the host frees with free(); 0, -300 for
 * an unknown system or staff or a staff without it, -2 when no copy can be made. */
SCORECONV_API int vxmlGetSystemStaffDescription(scVxmlFile* file, int system, int staff, char** out);
/* The tempo of system `system` (0 for one the file does not have). */
SCORECONV_API int vxmlGetSystemTempo(scVxmlFile* file, int system);
/* Fills *event (a score event of the host's, C++ hosts only) with the first chord of voice `voice` of
 * staff layout `layout`, for the tune-up; 0, -7 when there is none. */
SCORECONV_API int vxmlGetFirstEinstChord(scVxmlFile* file, int layout, int voice, scScoreEvent* event);
/* Converts params->vxml's ".tvrx" source (params->sourcePath) into a MusicXML file at params->targetPath,
 * with params->file (mode 5) as the writer, on the calling thread. The result goes to *params->result and
 * is returned: 0; -2; -5 stopped; -6; -7; -101 not saved, or the target is the source; -300 with the
 * system and staff of the fault in params->staffCount and params->voiceCount; -1400; -1402; the codes of
 * vxmlGetProps. Nothing is written at the target unless the whole score was; an older file there stays
 * until the new one is complete. 0 for a null block, file or vxml; -5 while another procedure holds the
 * MusicXML file. */
SCORECONV_API int vxmlConvertProc(CThreadProcParams* params);
/* The same conversion from source to target on a below-normal worker while the calling thread pumps the
 * file's progress target every 10 ms; returns its result. The stop word (may be null) is zeroed first and
 * stays stored in the file; -5 when the word stored by an earlier run is set; -7 for a null handle; -103
 * for a null path. */
SCORECONV_API int vxmlConvertFile(scVxmlFile* file, const char* source, const char* target, int* signal);
/* Non-null while a vxmlConvertFile of the file runs; the address of that value. */
SCORECONV_API const void* vxmlGetThread(scVxmlFile* file);
SCORECONV_API const void* vxmlGetThreadP(scVxmlFile* file);

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* SCORECONV_SCORECONV_H */
