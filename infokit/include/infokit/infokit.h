/*
 * infokit.h - the C interface of libinfokit.so, the information library:
 * language strings, application variables, the about box, the diagnostic
 * log and the online update.
 *
 * Rules every export follows:
 * - Exports come in pairs: the form ending in "W" takes and returns UTF-16
 *   (ikWChar), the other UTF-8. Results are true or false unless noted.
 * - Buffers have the fixed sizes noted (in characters for "W" forms, in bytes
 *   for UTF-8 ones); a text longer than its buffer is cut (never in the middle
 *   of a character) and always terminated. Null pointers are refused (false).
 * - Windows (ikWindow) are QWidget pointers of the host; null means "no owner".
 *   The dialogs need the host's QApplication; without one they return 0/false.
 * - The library is used from the host's user-interface thread.
 * - No exception and no C++ type crosses an export.
 * The numbers the Windows build bound these exports by are listed, for
 * reference only, in ordinals.txt beside this header; bind them by name.
 */
#ifndef INFOKIT_INFOKIT_H
#define INFOKIT_INFOKIT_H

#include <stdint.h>
#ifndef __cplusplus
#include <stdbool.h>
#endif

#if defined(__GNUC__)
#define INFOKIT_API __attribute__((visibility("default")))
#else
#define INFOKIT_API
#endif

#ifdef __cplusplus
typedef char16_t ikWChar;
extern "C" {
#else
typedef uint16_t ikWChar;
#endif

typedef void* ikWindow;
/* The about record the file-versions callback is given; opaque to the host. */
typedef struct ikAboutRecord ikAboutRecord;
typedef void (*ikFileVersionsProc)(const ikAboutRecord* record);

/* Buffer sizes of the exports that fill one. */
#define INFOKIT_STRING_CHARS 256
#define INFOKIT_APPVAR_VALUE_CHARS 260
#define INFOKIT_PATH_CHARS 260

/* --- core: language, product row, owner, strings, variables ------------- */

/* Language codes: 0 none, 1 German, 3 Finnish, 4 Swedish, 5 English (US),
 * 6 English (GB), 7 Dutch, 8 Czech, 9 Polish, 10 and 12 English texts with
 * their own update address, 11 French. Returns the code. */
INFOKIT_API int32_t setlanguage(int32_t language);
/* Selects the product row (0..51); false, and no change, above. */
INFOKIT_API bool setprogindex(int32_t index);
/* The owner of the library's dialogs; returns it. */
INFOKIT_API ikWindow setmainwindow(ikWindow window);
/* The host's settings key (its "Uplift" subkey holds the update settings). */
INFOKIT_API bool setprogramkeyW(const ikWChar* key);
INFOKIT_API bool setprogramkey(const char* key);
/* Public string numbers 500..553 (not 530 and 549) in the current language. */
INFOKIT_API bool getdllstringW(int32_t number, ikWChar* buffer /* 256 */);
INFOKIT_API bool getdllstring(int32_t number, char* buffer /* 256 */);
/* Display name of the selected product row. */
INFOKIT_API bool getprogramnameW(ikWChar* buffer /* 256 */);
INFOKIT_API bool getprogramname(char* buffer /* 256 */);
/* Application variables: appended (names may repeat); found by name without
 * regard to case, the first one winning. Names hold 255 characters, values 259. */
INFOKIT_API bool appvar_addW(const ikWChar* name, const ikWChar* value);
INFOKIT_API bool appvar_add(const char* name, const char* value);
INFOKIT_API bool appvar_getW(const ikWChar* name, ikWChar* buffer /* 260 */);
INFOKIT_API bool appvar_get(const char* name, char* buffer /* 260 */);
/* Writes the version values of the host's uninstall entry in the machine
 * settings through infokitreg; preferredView 0x200 looks at the 32-bit view first. */
INFOKIT_API bool set_program_uninstallversion(int32_t build, int32_t preferredView);

/* --- about box ---------------------------------------------------------- */

/* Each copies its text into the about record, cut at the field's size. */
INFOKIT_API void info_setprognameW(const ikWChar* text);          /* 36 */
INFOKIT_API void info_setprogname(const char* text);
INFOKIT_API void info_setautorsW(const ikWChar* text);            /* 512 */
INFOKIT_API void info_setautors(const char* text);
INFOKIT_API void info_setcopyrighttextW(const ikWChar* text);     /* 32 */
INFOKIT_API void info_setcopyrighttext(const char* text);
INFOKIT_API void info_setcompanyW(const ikWChar* text);           /* 64 */
INFOKIT_API void info_setcompany(const char* text);
INFOKIT_API void info_setstreetW(const ikWChar* text);            /* 64 */
INFOKIT_API void info_setstreet(const char* text);
INFOKIT_API void info_setcityW(const ikWChar* text);              /* 64 */
INFOKIT_API void info_setcity(const char* text);
INFOKIT_API void info_setphoneW(const ikWChar* text);             /* 32 */
INFOKIT_API void info_setphone(const char* text);
INFOKIT_API void info_seturlTavrenaW(const ikWChar* text);        /* 64 */
INFOKIT_API void info_seturlTavrena(const char* text);
INFOKIT_API void info_seturlinfoW(const ikWChar* text);           /* 64 */
INFOKIT_API void info_seturlinfo(const char* text);
INFOKIT_API void info_seturlsupportW(const ikWChar* text);        /* 64 */
INFOKIT_API void info_seturlsupport(const char* text);
INFOKIT_API void info_seturlupliftW(const ikWChar* text);         /* 64 */
INFOKIT_API void info_seturluplift(const char* text);
INFOKIT_API void info_seturlupdateW(const ikWChar* text);         /* 64 */
INFOKIT_API void info_seturlupdate(const char* text);
INFOKIT_API void info_setcopyrightex1W(const ikWChar* text);      /* 10000 */
INFOKIT_API void info_setcopyrightex1(const char* text);
INFOKIT_API void info_setcopyrightex2W(const ikWChar* text);      /* 10000 */
INFOKIT_API void info_setcopyrightex2(const char* text);
INFOKIT_API void info_setfileversionstextW(const ikWChar* text);  /* 2048 */
INFOKIT_API void info_setfileversionstext(const char* text);
INFOKIT_API void info_setfileversionsproc(ikFileVersionsProc proc);
/* Shows the about box modally; returns 1 for OK, 0 for Cancel or no box. */
INFOKIT_API int32_t showinfoboxW(const ikWChar* programName, const ikWChar* authors, ikWindow owner);
INFOKIT_API int32_t showinfobox(const char* programName, const char* authors, ikWindow owner);

/* --- online update ------------------------------------------------------ */

/* The check at start-up (variant 0); true when the updater was started or
 * the offer of a full version was confirmed. */
INFOKIT_API bool uplift_checkupdate_ex(int32_t build, int32_t variant);
INFOKIT_API bool uplift_checkupdate(int32_t build);
/* The update settings dialog; 1 for OK, 0 for Cancel or no dialog. */
INFOKIT_API int32_t uplift_showdlg(int32_t build, ikWindow owner);
/* 0 never, 1 monthly, 2 weekly, 3 daily, 4 at every start. */
INFOKIT_API bool uplift_setFreq(int32_t frequency);
INFOKIT_API bool uplift_setBackup(bool on);
INFOKIT_API bool uplift_getbackupW(const ikWChar* programKey);
INFOKIT_API bool uplift_getbackup(const char* programKey);
INFOKIT_API bool uplift_getbackupdirnameW(ikWChar* buffer /* 260 */);
INFOKIT_API bool uplift_getbackupdirname(char* buffer /* 260 */);
INFOKIT_API bool uplift_getbackinipathW(ikWChar* buffer /* 260 */);
INFOKIT_API bool uplift_getbackinipath(char* buffer /* 260 */);
INFOKIT_API bool setupliftdateW(const ikWChar* programKey);
INFOKIT_API bool setupliftdate(const char* programKey);
/* Replaces the update server's whole base address (2048 characters at most). */
INFOKIT_API bool uplift_setserverurlW(const ikWChar* url);
INFOKIT_API bool uplift_setserverurl(const char* url);

#ifdef __cplusplus
}
#endif

#endif /* INFOKIT_INFOKIT_H */
