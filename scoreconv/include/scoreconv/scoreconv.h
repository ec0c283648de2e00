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
 * - Staff indexes outside the loaded score give the neutral value.
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
namespace platform { class MessageTarget; class MidiOutDevice; }
namespace scorecore { class CScoreLog; class CVxmlFile; }
namespace scoreconv { class CMxmlFile; }
typedef platform::MessageTarget scMessageTarget;
typedef platform::MidiOutDevice scMidiOut;
typedef scorecore::CScoreLog scScoreLog;
typedef scoreconv::CMxmlFile scMxmlFile;
typedef scorecore::CVxmlFile scVxmlFile;
typedef char16_t scWChar;
#else
typedef struct scMessageTarget scMessageTarget;
typedef struct scMidiOut scMidiOut;
typedef struct scScoreLog scScoreLog;
typedef struct scMxmlFile scMxmlFile;
typedef struct scVxmlFile scVxmlFile;
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

#ifdef __cplusplus
}  /* extern "C" */
#endif

#endif /* SCORECONV_SCORECONV_H */
