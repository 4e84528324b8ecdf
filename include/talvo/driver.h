/* talvo: a PBX call-record driver.
 *
 * This header is the whole face of the library towards a host program. The host
 * hands the driver the lines of the PBX's call report one at a time; the driver
 * decides which lines make up one call and decodes them into a CallRecord.
 *
 * Conventions
 *
 *  1. Texts. A "short string" is a length byte followed by the characters
 *     (single-byte, no terminator). A text[N] field holds at most N characters;
 *     storing a longer text keeps its first N characters and is never an error.
 *     Texts passed by value (file names, run labels) are cut to 80 characters.
 *     Report lines travel as pointer + length and may hold any byte, NUL included.
 *  2. Ownership. The host owns everything it passes in: the line list, the record
 *     array, the date text, the counters and the carried-over line variable. The
 *     driver owns one settings block per handle and the conversion table.
 *  3. NULL. A NULL pointer argument never crashes the driver: the call does
 *     nothing (DrvProcessLine returns TALVO_RESULT_NO_RECORD).
 *  4. Results. DrvProcessLine returns one of the TALVO_RESULT_* values and
 *     reports the first failure of the call as a TALVO_ERR_* code in *errorCode.
 *  5. Threads. The driver starts no threads and takes no locks: the host makes
 *     one call at a time, for all handles together.
 *  6. Calling order. DrvGetHandle -> DrvInitDriver -> DrvProcessStart ->
 *     DrvProcessLine (once per received line) -> DrvProcessEnd -> DrvProcessClose.
 *     DrvProcessVer may be called at any time.
 */
#ifndef TALVO_DRIVER_H_
#define TALVO_DRIVER_H_

#include <stddef.h>
#include <stdint.h>

/* ---- Version ---------------------------------------------------------------
 * The version of this header and of the library built from it. The build
 * reads these three lines for the project's version; DrvProcessVer reports
 * "TALVO " followed by the major and minor numbers ("TALVO 21"). */
#define TALVO_VERSION_MAJOR 2
#define TALVO_VERSION_MINOR 1
#define TALVO_VERSION_PATCH 0

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Export and calling-convention macros ------------------------------ */

/* TALVO_EXPORT marks the seven entry points; everything else stays hidden. */
#if defined(_WIN32)
#  if defined(TALVO_BUILDING_LIBRARY)
#    define TALVO_EXPORT __declspec(dllexport)
#  else
#    define TALVO_EXPORT
#  endif
#elif defined(__GNUC__)
#  define TALVO_EXPORT __attribute__((visibility("default")))
#else
#  define TALVO_EXPORT
#endif

/* TALVO_CALL is the calling convention of the exports and of the host's
 * callbacks. On the 32-bit Windows build it is the host's register convention
 * (first three arguments in EAX, EDX, ECX, the rest on the stack, callee pops);
 * elsewhere it is the platform's ordinary convention.
 *
 * TALVO_REGISTER_ABI is defined iff TALVO_CALL is that register convention.
 * The host pushes the stack arguments (the fourth and later) in declaration
 * order, so the fourth lies highest; GCC pushes them right to left. Under
 * TALVO_REGISTER_ABI a prototype therefore lists its stack arguments in
 * reverse: the same values then land in the same registers and stack slots as
 * the host's call puts them. Only DrvProcessLine (five stack arguments) is
 * affected. Functions with at most four arguments need no reversal: Get of
 * LineListOps has one stack argument, DrvInitDriver, Count, Delete and
 * Assign travel in registers only. The callee pops its stack arguments
 * (DrvProcessLine: 20 bytes, Get: 4 bytes). A Boolean result comes back in AL
 * (uint8_t). */
#if defined(_WIN32) && defined(__i386__) && defined(__GNUC__)
#  define TALVO_REGISTER_ABI 1
#  define TALVO_CALL __attribute__((regparm(3), stdcall))
#else
#  define TALVO_CALL
#endif

/* ---- Short strings -------------------------------------------------------- */

/* A text[N]: a length byte (0..N) and room for N characters. */
#define TALVO_TEXT(N) struct { uint8_t length; char chars[N]; }

/* ---- The call record -------------------------------------------------------- */

#pragma pack(push, 1)

/* One decoded call: 195 bytes, little-endian, every field straight after the
 * previous one. The host passes an array of TALVO_RECORD_ENTRIES records;
 * entry 0 is the working record that every DrvProcessLine call writes. Bytes
 * marked "host" are never written by the driver. */
typedef struct CallRecord {
  TALVO_TEXT(8) Extension;        /*   0: the extension the call is charged to */
  TALVO_TEXT(8) SecondExtension;  /*   9: the extension displaced or acting; a duty call's code */
  TALVO_TEXT(6) TrunkGroup;       /*  18: "0" when empty; "9999" for an internal call */
  TALVO_TEXT(6) Trunk;            /*  25: "0" when empty; "9999" for an internal call */
  uint16_t StartMinute;           /*  32: minutes since midnight, 0..1439 */
  uint8_t StartSecond;            /*  34: seconds of the start time */
  int32_t Duration;               /*  35: seconds */
  int16_t RingSeconds;            /*  39: seconds, at most 255 */
  int32_t Pulses;                 /*  41: metering pulses times PULSES_MULT, rounded */
  uint8_t Reserved45[20];         /*  45: host */
  uint32_t Flags;                 /*  65: TALVO_FLAG_* bits */
  TALVO_TEXT(24) Number;          /*  69: the other party */
  uint8_t Reserved94;             /*  94: host */
  TALVO_TEXT(12) Account;         /*  95: account code */
  uint8_t Reserved108[76];        /* 108: host */
  TALVO_TEXT(10) TCode;           /* 184: the call's code text, if it carries one */
} CallRecord;

#pragma pack(pop)

#define TALVO_RECORD_SIZE 195
#define TALVO_RECORD_ENTRIES 20

#if defined(__cplusplus)
static_assert(sizeof(CallRecord) == TALVO_RECORD_SIZE, "CallRecord is 195 bytes");
static_assert(offsetof(CallRecord, Extension) == 0, "Extension");
static_assert(offsetof(CallRecord, SecondExtension) == 9, "SecondExtension");
static_assert(offsetof(CallRecord, TrunkGroup) == 18, "TrunkGroup");
static_assert(offsetof(CallRecord, Trunk) == 25, "Trunk");
static_assert(offsetof(CallRecord, StartMinute) == 32, "StartMinute");
static_assert(offsetof(CallRecord, StartSecond) == 34, "StartSecond");
static_assert(offsetof(CallRecord, Duration) == 35, "Duration");
static_assert(offsetof(CallRecord, RingSeconds) == 39, "RingSeconds");
static_assert(offsetof(CallRecord, Pulses) == 41, "Pulses");
static_assert(offsetof(CallRecord, Reserved45) == 45, "Reserved45");
static_assert(offsetof(CallRecord, Flags) == 65, "Flags");
static_assert(offsetof(CallRecord, Number) == 69, "Number");
static_assert(offsetof(CallRecord, Reserved94) == 94, "Reserved94");
static_assert(offsetof(CallRecord, Account) == 95, "Account");
static_assert(offsetof(CallRecord, Reserved108) == 108, "Reserved108");
static_assert(offsetof(CallRecord, TCode) == 184, "TCode");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(CallRecord) == TALVO_RECORD_SIZE, "CallRecord is 195 bytes");
_Static_assert(offsetof(CallRecord, StartMinute) == 32, "StartMinute");
_Static_assert(offsetof(CallRecord, Duration) == 35, "Duration");
_Static_assert(offsetof(CallRecord, Flags) == 65, "Flags");
_Static_assert(offsetof(CallRecord, Number) == 69, "Number");
_Static_assert(offsetof(CallRecord, Account) == 95, "Account");
_Static_assert(offsetof(CallRecord, TCode) == 184, "TCode");
#endif

/* ---- Flags of a call record -------------------------------------------------- */

#define TALVO_FLAG_OUTGOING 0x001u  /* outgoing call */
#define TALVO_FLAG_INCOMING 0x002u  /* incoming call */
#define TALVO_FLAG_CONVERTED 0x020u /* DISA field "Y", or Extension replaced by the conversion table */
#define TALVO_FLAG_FOREIGN 0x040u   /* extension outside the range kept by SAVE_TRNK_EXT, or taken as
                                       incoming for a caller number without a dialled number */
#define TALVO_FLAG_INTERNAL 0x080u  /* extension to extension; local call */
#define TALVO_FLAG_PRIVATE 0x100u   /* the private-call markers matched */
#define TALVO_FLAG_ORIGINATING 0x400u /* Extension replaced by the originating extension */

/* ---- Results of DrvProcessLine ------------------------------------------------ */

#define TALVO_RESULT_NO_RECORD 1  /* nothing appended; *errorCode says why where a test recorded it */
#define TALVO_RESULT_RECORD 2     /* the working record is complete and has been appended */
#define TALVO_RESULT_INCOMPLETE 4 /* a valid beginning; append the next line and call again */
#define TALVO_RESULT_DUTY 5       /* the working record holds a duty call; not appended */

/* ---- Error codes --------------------------------------------------------------
 * One table: XX(code, name, description). Codes 32..35, 42..45 can stand beside
 * a result of 2, 4 or 5: they record a test that did not match, not necessarily
 * a rejection. The code names the reason for a rejection only with result 1. */
#define TALVO_ERROR_CODES(XX)                                                        \
  XX(0, NONE, "nothing recorded")                                                    \
  XX(6, CALL_DATE, "call date invalid")                                              \
  XX(7, START_TIME_L1, "start time invalid (start time and duration)")               \
  XX(8, DURATION_L1, "duration invalid (start time and duration)")                   \
  XX(9, START_TIME_L2, "start time invalid (start time only)")                       \
  XX(10, START_TIME_L3, "start time invalid (start and end time)")                   \
  XX(11, END_TIME_L3, "end hours or minutes invalid (start and end time)")           \
  XX(12, END_SECONDS_L3, "end seconds invalid (start and end time)")                 \
  XX(13, DURATION_L4, "duration invalid (duration and end time)")                    \
  XX(14, END_TIME_L4, "end hours or minutes invalid (duration and end time)")        \
  XX(15, END_SECONDS_L4, "end seconds invalid (duration and end time)")              \
  XX(16, INDEX, "INDEX field is not a valid integer")                                \
  XX(17, PULSES, "PULSES field is not a valid number")                               \
  XX(20, EXTENSION, "no extension, or extension not letters and digits")             \
  XX(29, LOCAL_DATE, "local call: date invalid")                                     \
  XX(30, LOCAL_TIME, "local call: start time invalid")                               \
  XX(31, LOCAL_NUMBER, "local call: terminating number empty")                       \
  XX(32, DC_CHK1, "DC_CHK1 marker did not match")                                    \
  XX(33, DC_CHK2, "DC_CHK2 marker did not match")                                    \
  XX(34, DC_CHK3, "DC_CHK3 marker did not match")                                    \
  XX(35, DC_CHK4, "DC_CHK4 marker did not match")                                    \
  XX(37, DUTY_DATE, "duty call: date invalid")                                       \
  XX(38, DUTY_TIME, "duty call: start time invalid")                                 \
  XX(39, DUTY_EXTENSION, "duty call: no extension")                                  \
  XX(40, DUTY_CODE, "duty call: no code characters")                                 \
  XX(42, EXT_RANGE_OR_PRV_CHK1,                                                      \
     "extension outside EXT_RANGE_ST..EXT_RANGE_END, or PRV_CHK1 marker did not match") \
  XX(43, PRV_CHK2, "PRV_CHK2 marker did not match")                                  \
  XX(44, PRV_CHK3, "PRV_CHK3 marker did not match")                                  \
  XX(45, PRV_CHK4, "PRV_CHK4 marker did not match")                                  \
  XX(46, RING_TIME, "ring time invalid")                                             \
  XX(101, CHK1, "CHK1 marker did not match")                                         \
  XX(102, CHK2, "CHK2 marker did not match")                                         \
  XX(103, CHK3, "CHK3 marker did not match")                                         \
  XX(104, CHK4, "CHK4 marker did not match")                                         \
  XX(105, CHK5, "CHK5 marker did not match")                                         \
  XX(106, CHK6, "CHK6 marker did not match")                                         \
  XX(111, SPC1, "SPC1 column is not blank")                                          \
  XX(112, SPC2, "SPC2 column is not blank")                                          \
  XX(113, SPC3, "SPC3 column is not blank")                                          \
  XX(114, SPC4, "SPC4 column is not blank")                                          \
  XX(115, SPC5, "SPC5 column is not blank")                                          \
  XX(116, SPC6, "SPC6 column is not blank")

enum TalvoErrorCode {
#define TALVO_ERROR_ENUM_(code, name, text) TALVO_ERR_##name = code,
  TALVO_ERROR_CODES(TALVO_ERROR_ENUM_)
#undef TALVO_ERROR_ENUM_
  TALVO_ERR_EXT_RANGE = TALVO_ERR_EXT_RANGE_OR_PRV_CHK1,
  TALVO_ERR_PRV_CHK1 = TALVO_ERR_EXT_RANGE_OR_PRV_CHK1
};

/* ---- The host's line list ------------------------------------------------------ */

typedef struct LineList LineList;

/* Operations on the host's list of buffered report lines, oldest first. */
typedef struct LineListOps {
  /* Number of lines in the list. */
  int32_t(TALVO_CALL *Count)(LineList *self);
  /* Line i (0-based): *text and *length describe a copy that stays valid until
   * the next call on this list. Returns 0 on success, non-zero when i is
   * outside 0..Count-1. */
  int32_t(TALVO_CALL *Get)(LineList *self, int32_t i, const char **text, int32_t *length);
  /* Removes line i; returns 0 on success, non-zero when i is out of range. */
  int32_t(TALVO_CALL *Delete)(LineList *self, int32_t i);
} LineListOps;

/* The host embeds this as the first member of its own list. */
struct LineList {
  const LineListOps *ops;
};

/* The host's carried-over line variable: DrvProcessLine assigns it the newest
 * line when that line starts the next record while older lines are buffered. */
typedef struct HostText HostText;
struct HostText {
  void(TALVO_CALL *Assign)(HostText *self, const char *text, int32_t length);
};

/* ---- The seven exports ------------------------------------------------------------ */

/* Takes the lowest free of the ten handles (1..10). Returns 0 when all are taken
 * or the settings block cannot be allocated. */
TALVO_EXPORT int32_t TALVO_CALL DrvGetHandle(void);

/* Loads section "pbx" of the settings file `settingsFile` (short string, cut to
 * 80 characters) into the handle's settings and stores INDEX_BASE (0 when
 * absent) in *indexBase. A handle that is not taken is ignored. */
TALVO_EXPORT void TALVO_CALL DrvInitDriver(int32_t handle, const unsigned char *settingsFile,
                                           int32_t *indexBase);

/* Opens a processing run: loads the conversion table QUORCNVT.INT from the
 * current directory (an unreadable file is an empty table). `text` is not used.
 * Returns 1 (true). */
TALVO_EXPORT uint8_t TALVO_CALL DrvProcessStart(const unsigned char *text);

/* Hands over the host's buffered lines after each received line. Arguments:
 *   index          handle from DrvGetHandle, loaded by DrvInitDriver;
 *   lines          the lines of the record in progress, oldest first (at least one);
 *   carryOverLine  receives the newest line when it starts the next record;
 *   records        TALVO_RECORD_ENTRIES records; entry 0 is the working record;
 *   callDate       text[6] (7 bytes): the call date as YYMMDD;
 *   recordCount    records the host holds; incremented for each accepted record;
 *   callIndex      the record's INDEX field, -1 when there is none;
 *   errorCode      the first failure of the call; the host passes 0.
 * Returns a TALVO_RESULT_* value. A bad handle, a NULL argument, an empty list
 * or a failing Get give TALVO_RESULT_NO_RECORD with nothing written.
 * After TALVO_RESULT_INCOMPLETE the host's next call passes the same list,
 * its lines kept as they are and the next one appended: the driver may take
 * the older lines from copies it made in the earlier calls. */
#if defined(TALVO_REGISTER_ABI)
/* The host's order, with the five stack arguments reversed for GCC (see
 * TALVO_REGISTER_ABI): the host pushes records first and errorCode last, and
 * the function removes the 20 bytes. A C host built with this header passes
 * its arguments in the order written here. */
TALVO_EXPORT int32_t TALVO_CALL DrvProcessLine(int32_t index, LineList *lines, HostText *carryOverLine,
                                               int32_t *errorCode, int32_t *callIndex,
                                               int32_t *recordCount, unsigned char *callDate,
                                               CallRecord *records);
#else
TALVO_EXPORT int32_t TALVO_CALL DrvProcessLine(int32_t index, LineList *lines, HostText *carryOverLine,
                                               CallRecord *records, unsigned char *callDate,
                                               int32_t *recordCount, int32_t *callIndex,
                                               int32_t *errorCode);
#endif

/* Closes the processing run: releases the conversion table. `text` is not used. */
TALVO_EXPORT void TALVO_CALL DrvProcessEnd(const unsigned char *text);

/* Releases a handle. Handles outside 1..10 and free handles are ignored. */
TALVO_EXPORT void TALVO_CALL DrvProcessClose(int32_t handle);

/* Writes the identification short string "TALVO 21": exactly 9 bytes, the
 * length byte 8 and eight characters, no terminator. */
TALVO_EXPORT void TALVO_CALL DrvProcessVer(unsigned char *result);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TALVO_DRIVER_H_ */
