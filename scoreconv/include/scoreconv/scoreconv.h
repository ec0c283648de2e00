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
 * itself (a message target, a log). */
#ifdef __cplusplus
namespace platform { class MessageTarget; }
namespace scorecore { class CScoreLog; class CVxmlFile; }
namespace scoreconv { class CMxmlFile; }
typedef platform::MessageTarget scMessageTarget;
typedef scorecore::CScoreLog scScoreLog;
typedef scoreconv::CMxmlFile scMxmlFile;
typedef scorecore::CVxmlFile scVxmlFile;
typedef char16_t scWChar;
#else
typedef struct scMessageTarget scMessageTarget;
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

/* File modes of mxmlNewFile. */
#define SCORECONV_MODE_PLAY_TIME 1
#define SCORECONV_MODE_REAL_TIME 2
#define SCORECONV_MODE_RENDER 3
#define SCORECONV_MODE_FAST_FORWARD 4
#define SCORECONV_MODE_TVRXML 5
#define SCORECONV_MODE_LOAD_AND_PLAY 7

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

/* The parameter block of a conversion. The procedure reads it and writes only
 * through the slots it points to (and the two counts). */
typedef struct CThreadProcParams {
    scMxmlFile* file;       /* required */
    scVxmlFile* vxml;       /* mode 5: the TvrXML file to build, else null */
    const char* sourcePath; /* UTF-8: the MusicXML file to read */
    const char* targetPath; /* UTF-8: mode 5, the ".tvrx" file to write, else null */
    int64_t* playTime;      /* not mode 5: a play-time pass fills it (100-ns units); null: load only */
    int* state;             /* the play procedure's; null for a conversion */
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

/* ---- MusicXML file: lifecycle ------------------------------------------------------ */

/* A new, empty file object; null without memory. window: address of the host's variable holding the
 * progress target (may be null); mode: SCORECONV_MODE_*; signal: the host's stop word (may be null);
 * ticksPerQuarter below 1 means 480; programName cut to 62 bytes; log may be null and stays this handle's. */
SCORECONV_API scMxmlFile* mxmlNewFile(scMessageTarget** window, int32_t mode, int* signal, int32_t ticksPerQuarter,
                                      const char* programName, scScoreLog* log);
/* Frees the object and everything it holds, then sets *handle to null. */
SCORECONV_API void mxmlFreeFile(scMxmlFile** handle);
/* Frees the loaded score (document, tables, events, texts, wide copies); the object and its settings stay. */
SCORECONV_API void mxmlDestroyFile(scMxmlFile** handle);
/* Frees the loaded score and puts every setting back to its default (flag is accepted and not needed). */
SCORECONV_API void mxmlInitFile(scMxmlFile** handle, int32_t flag);
/* Replaces the progress-target variable; post nonzero: progress is posted, 0: sent. */
SCORECONV_API void mxmlSetCallbackWindow(scMxmlFile* file, scMessageTarget** window, int post);
/* Replaces the address of the stop word; returns file. */
SCORECONV_API scMxmlFile* mxmlSetSignal(scMxmlFile* file, int* signal);
/* Stores the ConvProps mask (SCORECONV_CONV_ALL: every kind). */
SCORECONV_API void mxmlCopyConvProps(scMxmlFile* file, int32_t mask);
/* Loads params->sourcePath into params->file, or in mode 5 writes it as a ".tvrx" through params->vxml,
 * on the calling thread; returns the result code, also written to *params->result. 0 for a null block
 * or a block without file (nothing is written then). */
SCORECONV_API int mxmlConvertProc(CThreadProcParams* params);
/* Loads path on a worker while the calling thread pumps the progress target every 10 ms; returns the
 * result code; 0 at once when the file holds path already and no play time is wanted; -7 while a load
 * runs; -5 while the stop word is set; -2 when the worker cannot be started. */
SCORECONV_API int mxmlScanFile(scMxmlFile* file, const char* path, int64_t* playTime);
/* Whether path is a MusicXML file: 0, -103 (cannot be read) or -104 (not MusicXML). */
SCORECONV_API int mxmlGetVersion(scMxmlFile* file, const char* path);
/* Reads the header of path (part list, staves, description, date) into file without the measures;
 * 0 or a negative code, after which the file is emptied. */
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

/* ---- MusicXML file: playing (reserved) ---------------------------------------------
 * mxmlPlayProc, mxmlPlayFile, mxmlGetPlaytime and mxmlPlayEinstimmung belong here. */

/* ---- TvrXML file ------------------------------------------------------------------- */

/* A new, empty TvrXML file object; null without memory. log may be null and stays this handle's. */
SCORECONV_API scVxmlFile* vxmlNewFile(scScoreLog* log);
/* Frees the object and everything it holds, then sets *handle to null. */
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
