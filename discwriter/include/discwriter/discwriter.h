/*
 * discwriter.h - the C interface of libdiscwriter.so: CD recorders, audio
 * CDs written track at once (one audio track per WAV file), disc at once
 * (one raw image) or as data discs, erasing, raw drive commands and ripping.
 * Plain C (C99 and later) and C++. Bind the exports by name; the Windows
 * ordinals are listed in ordinals.txt beside this header for reference.
 *
 * The library keeps one global state (one drive table, one open drive, one
 * track list, one set of settings) and serves one client at a time: a second
 * cdSetup before cdClose is refused with DISCWRITER_E_BUSY. Call the exports
 * from one thread; only cdSetCancel may come from any thread.
 *
 * Results are HRESULTs as 32-bit ints (0 = success, negative = failure)
 * unless an export's comment says otherwise. Narrow texts and paths are
 * UTF-8; "W" exports take UTF-16 (dwWChar). Name buffers hold
 * DISCWRITER_NAME_CHARS characters, track paths at most DISCWRITER_PATH_BYTES
 * bytes of UTF-8.
 *
 * Drives: the table lists the recorders that libburn finds, then, when the
 * environment variable QVP3_SIMULATED_RECORDER names a folder, a simulated
 * recorder whose medium lives in that folder (see "Simulated recorder" at the
 * end). Drives are counted two ways: the table index (every drive) and the
 * writer number (only drives that can write audio track at once).
 *
 * Progress goes to the event target of cdSetEventWindow as posted messages
 * (DISCWRITER_WM_CD_*); the target must outlive the library's use of it.
 */
#ifndef DISCWRITER_DISCWRITER_H
#define DISCWRITER_DISCWRITER_H

#include <stddef.h>
#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(__GNUC__)
#define DISCWRITER_API __attribute__((visibility("default")))
#else
#define DISCWRITER_API
#endif

#ifdef __cplusplus
namespace platform { class MessageTarget; }
namespace scorecore { class CScoreLog; }
typedef platform::MessageTarget dwMessageTarget;
typedef scorecore::CScoreLog dwScoreLog;
typedef char16_t dwWChar;
#else
typedef struct dwMessageTarget dwMessageTarget;
typedef struct dwScoreLog dwScoreLog;
typedef uint16_t dwWChar;
#endif
/* A data-disc image made by cdCreateMediaFileSystem; release it with cdReleaseStream. */
typedef struct dwImageStream dwImageStream;

#define DISCWRITER_NAME_CHARS 256
#define DISCWRITER_PATH_BYTES 260
#define DISCWRITER_MAX_TRACKS 99
#define DISCWRITER_SECTOR_BYTES 2352 /* one CD audio sector: 1/75 s of 44.1 kHz 16-bit stereo */
#define DISCWRITER_ISRC_BYTES 16     /* 12 characters and 4 zero bytes */

/* ---- results ------------------------------------------------------------------------ */
#define DISCWRITER_S_OK ((int32_t)0)
#define DISCWRITER_E_FAIL ((int32_t)0x80004005)
#define DISCWRITER_E_UNEXPECTED ((int32_t)0x8000FFFF)
#define DISCWRITER_E_INVALIDARG ((int32_t)0x80070057)
#define DISCWRITER_E_OUTOFMEMORY ((int32_t)0x8007000E)
#define DISCWRITER_E_POINTER ((int32_t)0x80004003)
#define DISCWRITER_E_ABORT ((int32_t)0x80004004)             /* a wait for the medium was cancelled */
#define DISCWRITER_E_INSUFFICIENT_BUFFER ((int32_t)0x8007007A)
#define DISCWRITER_E_BUSY ((int32_t)0x800700AA)              /* cdSetup while a client holds the library */
#define DISCWRITER_E_CANCELLED ((int32_t)0x800704C7)         /* a write cancelled through cdSetCancel */
#define DISCWRITER_E_NOT_CD_AUDIO ((int32_t)0x8007000B)      /* a track's WAV is not 44.1 kHz 16-bit stereo PCM */
#define DISCWRITER_E_DISK_FULL ((int32_t)0x80070070)         /* the tracks do not fit the medium */
#define DISCWRITER_E_NO_DRIVE ((int32_t)0x80040001)          /* no drive is open */
#define DISCWRITER_E_NOT_SET_UP ((int32_t)0x80040002)        /* cdSetup has not run */
#define DISCWRITER_E_MEDIA_NO_MEDIA ((int32_t)0xC0AA0202)    /* no medium in the drive (or the tray is open) */
#define DISCWRITER_E_MEDIA_BECOMING_READY ((int32_t)0xC0AA0205) /* still becoming ready: try again */
#define DISCWRITER_E_MEDIA_NOT_BLANK ((int32_t)0xC0AA0506)   /* written medium where a blank one is needed */
#define DISCWRITER_E_MEDIA_NOT_SUPPORTED ((int32_t)0xC0AA0507) /* medium the operation cannot use */
#define DISCWRITER_E_RIP_TRACK_INFO (-706)                   /* cdReadTrack: no such track */

/* ---- progress messages (posted, WM_USER = 1024) -------------------------------------- */
#define DISCWRITER_WM_CD_TRACK_BEGIN 1054u     /* wParam track (from 1) */
#define DISCWRITER_WM_CD_FINISHING 1055u
#define DISCWRITER_WM_CD_WRITE_DONE 1056u      /* end of cdWriteDisc, whatever its result */
#define DISCWRITER_WM_CD_TRACK_DONE 1057u      /* wParam track */
#define DISCWRITER_WM_CD_TIME_TOTAL 1060u      /* wParam seconds; disc at once: the lead-out LBA */
#define DISCWRITER_WM_CD_TIME_ELAPSED 1061u    /* wParam seconds; disc at once: last written LBA + 1 */
#define DISCWRITER_WM_CD_ERASE_PROGRESS 1062u  /* wParam elapsed seconds, lParam expected total */
#define DISCWRITER_WM_CD_ERASE_DONE 1063u      /* wParam the erase's HRESULT */
#define DISCWRITER_WM_CD_LEADIN 1064u
#define DISCWRITER_WM_CD_PAST_LAST_TRACK 1065u
#define DISCWRITER_WM_CD_READ_PROGRESS 1066u   /* wParam sectors read so far */
#define DISCWRITER_WM_CD_READ_TOTAL 1067u      /* wParam sectors of the track */
#define DISCWRITER_WM_CD_READ_START 1068u      /* wParam track */
#define DISCWRITER_WM_CD_READ_END 1069u        /* wParam track */
#define DISCWRITER_WM_CD_VERIFYING 1070u

/* Writing modes of cdSetDataMode. */
#define DISCWRITER_MODE_DISC_AT_ONCE 0
#define DISCWRITER_MODE_TRACK_AT_ONCE 1
#define DISCWRITER_MODE_DATA 2

#ifdef __cplusplus
extern "C" {
#endif

/* ---- library and drive table --------------------------------------------------------- */

/* Starts the library: finds the drives. log (may be null) receives a line for every refused
 * input; it must outlive cdClose. DISCWRITER_E_BUSY while already set up. */
DISCWRITER_API int32_t cdSetup(dwScoreLog* log);
/* Ends the library state: an erase still running is cancelled and waited for; every drive,
 * the track list and the client name are let go (settings keep their values); 0. */
DISCWRITER_API int32_t cdClose(void);
/* Kept for hosts of the Windows interface (there it chose the thread set-up); returns flag. */
DISCWRITER_API int32_t cdSetOwnThread(int32_t flag);
/* Number of drives that can write audio track at once; 0 (count 0 before cdSetup). */
DISCWRITER_API int32_t cdGetDriveNumber(int32_t* count);
/* Number of drives in the table; 0. */
DISCWRITER_API int32_t cdGetAllDriveNumber(int32_t* count);
/* Vendor and product id of writer number `writer`, joined, into a buffer of 256; E_FAIL (and an
 * empty text) when there is no such writer. The narrow form writes UTF-8. */
DISCWRITER_API int32_t cdGetDriveNameW(int32_t writer, dwWChar* name);
DISCWRITER_API int32_t cdGetDriveName(int32_t writer, char* name);
/* The same by table index. */
DISCWRITER_API int32_t cdGetAllDriveNameW(int32_t index, dwWChar* name);
/* Vendor id by table index into a buffer of 256: W gives 0, DISCWRITER_E_INSUFFICIENT_BUFFER
 * (cut) or E_FAIL (no such drive, empty text), A the number of bytes written including the
 * terminator (0 for no such drive). */
DISCWRITER_API int32_t cdGetVendorIdW(int32_t index, dwWChar* text);
DISCWRITER_API int32_t cdGetVendorIdA(int32_t index, char* text);
DISCWRITER_API int32_t cdGetProductIdW(int32_t index, dwWChar* text);
DISCWRITER_API int32_t cdGetProductIdA(int32_t index, char* text);
/* First character of the drive's path (its device file, or the simulated drive's folder); 0
 * for no such drive. */
DISCWRITER_API dwWChar cdGetDriveLetterW(int32_t index);
DISCWRITER_API char cdGetDriveLetterA(int32_t index);
/* The drive's number among the system's devices (its table index here). */
DISCWRITER_API void cdGetLegacyDeviceNumber(int32_t index, int32_t* number);
/* 1 when the drive can write audio track at once, else 0. */
DISCWRITER_API int32_t cdIsBurner(int32_t index);
/* Opens writer number `writer` (when there is no such writer, `writer` is taken as a table
 * index); a drive open before is let go first. E_FAIL for -1 or no such drive (no drive open then). */
DISCWRITER_API int32_t cdOpenDrive(int32_t writer);
/* Closes the open drive; the client name and the track list are emptied; 0. */
DISCWRITER_API int32_t cdCloseDrive(void);
DISCWRITER_API int32_t cdEject(void);
DISCWRITER_API int32_t cdCloseTray(void);
/* Exclusive access to the open drive under the client name, and its release. */
DISCWRITER_API int32_t cdLock(void);
DISCWRITER_API int32_t cdUnlock(void);
/* The client name (cut to 256 characters); 0. */
DISCWRITER_API int32_t cdSetClientA(const char* name);

/* ---- settings (kept for the whole life of the library) ----------------------------------- */
DISCWRITER_API int32_t cdSetBurnProof(int32_t on);        /* default 1 */
DISCWRITER_API int32_t cdSetWriteSpeed(int32_t xFactor);  /* stored as x * 75 sectors/s; 0 = drive's own */
DISCWRITER_API int32_t cdSetCloseSession(int32_t on);     /* default 1; kept only */
DISCWRITER_API int32_t cdSetCloseDisc(int32_t on);        /* default 1: finalise */
DISCWRITER_API int32_t cdSetSimulate(int32_t on);         /* default 0: a simulated write leaves the medium as it was */
DISCWRITER_API int32_t cdSetGaplessAudio(int32_t on);     /* default 0: 2-second gaps in disc-at-once images */
DISCWRITER_API int32_t cdSetCopyright(int32_t on);        /* default 1: copy prohibited (disc at once) */
DISCWRITER_API int32_t cdSetPreemphasis(int32_t on);      /* default 1 (disc at once) */
DISCWRITER_API int32_t cdSetVerificationLevel(int32_t level); /* -1 none (default), 0 full, else quick */
/* Cancels a running write, rip or wait for a medium at its next progress step (any thread);
 * the flag stays until set to 0. An erase is not cancelled. */
DISCWRITER_API int32_t cdSetCancel(int32_t on);
/* DISCWRITER_MODE_*; returns the mode given (an unknown mode is not stored). */
DISCWRITER_API int32_t cdSetDataMode(int32_t mode);
DISCWRITER_API int32_t cdGetSimulate(void);
/* The target of the progress messages (null: none); 0. */
DISCWRITER_API int32_t cdSetEventWindow(dwMessageTarget* target);

/* ---- track list ------------------------------------------------------------------------ */
/* Appends a path (UTF-8): E_FAIL with 99 paths listed already, DISCWRITER_E_INVALIDARG for a
 * null, empty or longer path than DISCWRITER_PATH_BYTES - 1 bytes (the list unchanged). */
DISCWRITER_API int32_t cdInsertTrack(const char* path);
DISCWRITER_API int32_t cdInsertTrackW(const dwWChar* path);
DISCWRITER_API int32_t cdInsertFileW(const dwWChar* path);
/* Empties the track list; 0. */
DISCWRITER_API int32_t cdRemoveTracks(void);

/* ---- speeds of the open drive ---------------------------------------------------------- */
/* From the drive's capabilities page: x-factors (0 when the page cannot be read) and the
 * buffer-underrun protection flag; the page read's result. */
DISCWRITER_API int32_t cdGetMaxWriteSpeed(int32_t* xFactor);
DISCWRITER_API int32_t cdGetMaxReadSpeed(int32_t* xFactor);
DISCWRITER_API int32_t cdCanBurnProof(char* flag);
/* Supported write speeds as x-factors (at least 2) in a block the caller frees with free(). */
DISCWRITER_API int32_t cdGetSuppWriteSpeeds(int32_t** list, int32_t* count);
/* 4, 8, 16, 24, 32, 48, 64, 96, 128 up to and including the first not below maximum (all nine
 * when every one is below); a block the caller frees with free(). */
DISCWRITER_API int32_t cdGetSuppReadSpeeds(int32_t** list, int32_t* count, int32_t maximum);

/* ---- media and writing ------------------------------------------------------------------- */
/* Bind a new writer of the mode to the open drive (DISCWRITER_E_NO_DRIVE without one). */
DISCWRITER_API int32_t cdCreateTrackAtOnce(void);
DISCWRITER_API int32_t cdCreateDiscAtOnce(void);
DISCWRITER_API int32_t cdCreateFormatData(void);
/* Prepare the medium for the mode under the client name given (UTF-8): a missing medium gives
 * DISCWRITER_E_MEDIA_NO_MEDIA, a written one DISCWRITER_E_MEDIA_NOT_BLANK, one the mode cannot
 * write (a pressed CD, a DVD for audio) DISCWRITER_E_MEDIA_NOT_SUPPORTED. */
DISCWRITER_API int32_t cdPrepareMediaTAO(const char* client);
DISCWRITER_API int32_t cdPrepareMediaDAO(const char* client);
DISCWRITER_API int32_t cdPrepareMediaForData(const char* client);
/* state: 0 a CD, 1 a DVD in data mode, -1 no medium or one the mode cannot use. A medium still
 * becoming ready is asked again every 500 ms for at most 30 s (then
 * DISCWRITER_E_MEDIA_BECOMING_READY); cdSetCancel ends the wait with DISCWRITER_E_ABORT.
 * Without an open drive: 0, state untouched. */
DISCWRITER_API int32_t cdIsMediaLoaded(int32_t* state);
/* 1 when the medium is blank, else 0. */
DISCWRITER_API int32_t cdIsDiscEmpty(void);
/* Disc at once: last possible start of the lead-out; otherwise free sectors. */
DISCWRITER_API int32_t cdGetFreeSpace(int32_t* sectors);
DISCWRITER_API int32_t cdGetExistingTrackNumber(int32_t* count);
DISCWRITER_API int32_t cdUnprepare(void);
/* Writes the track list in the current mode, blocking. Audio modes refuse, before anything is
 * written, a WAV that is not 44.1 kHz 16-bit stereo PCM (DISCWRITER_E_NOT_CD_AUDIO; the text of
 * cdGetLastErrorText names the file). fits (may be null) is 0 when a data image is larger than
 * the free space (nothing written, result 0). */
DISCWRITER_API int32_t cdWriteDisc(char* fits);
/* The data image of the track list (ISO 9660 and Joliet, volume name = client name); true when it
 * fits the medium and *image was handed out. */
DISCWRITER_API bool cdCreateMediaFileSystem(dwImageStream** image, char* fits);
/* Releases an image of cdCreateMediaFileSystem (null is accepted). */
DISCWRITER_API void cdReleaseStream(dwImageStream* image);
/* Start LBA of a track (from 1) in the last disc-at-once image; -1 for no such track. */
DISCWRITER_API int32_t cddaoGetTrackStartLba(int32_t track);
/* Starts erasing a rewritable medium on a thread of its own (full: every sector); progress
 * messages follow and DISCWRITER_WM_CD_ERASE_DONE ends it, its wParam the erase's HRESULT as 32
 * bits (DISCWRITER_E_MEDIA_NOT_SUPPORTED for a medium that cannot be erased). DISCWRITER_E_BUSY
 * while an erase runs. */
DISCWRITER_API int32_t cdEraseDisk(int32_t full);
/* Waits for the erase to end (a drive that does not end in 1 s is told to stop first); 0. */
DISCWRITER_API int32_t cdFinishEraseDisk(void);
/* Why the last failing export failed, as a line for the user (UTF-8, empty when none). */
DISCWRITER_API const char* cdGetLastErrorText(void);

/* ---- raw drive commands (MMC) -------------------------------------------------------------- */
/* The disc information block (at most size bytes). */
DISCWRITER_API int32_t cdGetDiskInfo(uint8_t* buffer, int32_t size);
/* Last track of the last session; 0 when it cannot be read. */
DISCWRITER_API int32_t cdGetTrackNumber(void);
/* The track information block of a track (at most size bytes); DISCWRITER_E_UNEXPECTED for a
 * track outside the last session. */
DISCWRITER_API int32_t cdGetTrackInfo(int32_t track, uint8_t* buffer, int32_t size);
/* The track's ISRC into DISCWRITER_ISRC_BYTES bytes, untouched when the disc has none. */
DISCWRITER_API int32_t cdReadIsrcA(int32_t track, char* isrc);
/* The pregap of a track in sectors (track 1: 0, without a drive command). */
DISCWRITER_API int32_t cdGetPregap(int32_t track, int32_t* sectors);
/* Mutes (1) or restores (0) the drive's audio output. */
DISCWRITER_API int32_t cdMuteDrive(int32_t mute);
/* READ CAPACITY: megabytes in use (-1.0 on failure). */
DISCWRITER_API double cdGetUsedSpace(int32_t* lastLba, int32_t* blockLength);
/* Maximum CD write speed as a rounded x-factor; 4 when unknown. */
DISCWRITER_API int32_t cdGetCDMaxWriteSpeed(void);
/* SET CD SPEED in x-factors; 0 means the drive's maximum. */
DISCWRITER_API int32_t cdSelectSpeed(int32_t readX, int32_t writeX);
/* READ CD of count sectors from lba into buffer (bytes); E_FAIL on failure and
 * DISCWRITER_E_INSUFFICIENT_BUFFER when count sectors do not fit. */
DISCWRITER_API int32_t cdReadTrackSector(uint8_t* buffer, int32_t bytes, int32_t lba, int32_t count);
/* 0 ready, 4 no medium, 2 not ready or unit attention, 1 any other failure. */
DISCWRITER_API int32_t cdTestUnitReady(void);
/* Rips an audio track into a WAV file (CD audio), written through a temporary file beside it;
 * DISCWRITER_E_RIP_TRACK_INFO when the track cannot be found, E_UNEXPECTED when cancelled. */
DISCWRITER_API int32_t cdReadTrack(int32_t track, const dwWChar* wavPath);

#ifdef __cplusplus
}
#endif

/*
 * Simulated recorder. When QVP3_SIMULATED_RECORDER names a folder, the table
 * ends with a recorder (vendor "QVP3", product "Simulated CD-RW") whose medium
 * is described by "medium.ini" in that folder:
 *
 *   [Medium]
 *   Type=cd-r            none, cd-rom, cd-r, cd-rw, dvd-rom, dvd-ram, dvd+r, dvd+rw, dvd-r, dvd-rw
 *   Capacity=359847      sectors
 *   Tray=closed          open or closed (an open tray has no medium)
 *   BecomingReady=0      media queries answered "becoming ready" before the medium is
 *   Finalized=0          written by the recorder
 *
 * A written medium is "disc.cue" (a cue sheet) and its image "disc.bin"
 * (audio, 2352 bytes a sector) or "disc.iso" (data, 2048 bytes a sector);
 * without "disc.cue" the medium is blank. Track at once leaves 2 seconds (150
 * sectors) of silence before every track after the first (INDEX 00 to 01);
 * disc at once does the same unless gapless audio is on.
 */

#endif /* DISCWRITER_DISCWRITER_H */
