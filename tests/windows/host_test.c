/* A host written in plain C that sees talvo.dll the way a host does:
 * loaded at run time, its exports looked up by name and by ordinal, and called
 * in the host's register convention (first three arguments in EAX, EDX, ECX,
 * the rest pushed in declaration order, callee pops). Its own line list and
 * carried-over line variable are called back by the driver in that convention.
 *
 * Run from its build folder (under Wine on Linux): talvo.dll lies beside it,
 * and it writes its settings and conversion-table files into the current
 * folder. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "host_call.h"

static int failures = 0;

/* CHECK(cond, what...): on failure prints the condition and what was being checked. */
#define CHECK(cond, ...)                                                   \
  do {                                                                     \
    if (!(cond)) {                                                         \
      fprintf(stderr, "%s:%d: CHECK failed: %s [", __FILE__, __LINE__, #cond); \
      fprintf(stderr, __VA_ARGS__);                                        \
      fprintf(stderr, "]\n");                                              \
      ++failures;                                                          \
    }                                                                      \
  } while (0)

/* The public header gives a MinGW C host exactly these prototypes. */
#define SAME_TYPE(fn, type) _Static_assert(__builtin_types_compatible_p(__typeof__(&fn), type), #fn)
SAME_TYPE(DrvGetHandle, GetHandleFn);
SAME_TYPE(DrvProcessClose, CloseFn);
SAME_TYPE(DrvProcessVer, VerFn);
SAME_TYPE(DrvProcessEnd, EndFn);
SAME_TYPE(DrvProcessStart, StartFn);
SAME_TYPE(DrvInitDriver, InitFn);
SAME_TYPE(DrvProcessLine, ProcessLineFn);
_Static_assert(!__builtin_types_compatible_p(int32_t (*)(int32_t, LineList *, HostText *, int32_t *, int32_t *,
                                                         int32_t *, unsigned char *, CallRecord *),
                                             ProcessLineFn),
               "the register convention is part of the type");

static struct {
  HMODULE module;
  GetHandleFn GetHandle;
  CloseFn Close;
  VerFn Ver;
  EndFn End;
  StartFn Start;
  InitFn Init;
  ProcessLineFn ProcessLine;
} drv;

/* ---- The host's line list and carried-over line ------------------------- */

enum { kMaxLines = 8, kMaxLineLength = 200 };

typedef struct {
  LineList base;
  char lines[kMaxLines][kMaxLineLength + 1];
  int32_t count;
  char copy[kMaxLineLength + 1]; /* what Get hands out, valid until the next call */
  int32_t deletes;
} HostList;

static int32_t HOST_CALL ListCount(LineList *self) { return ((HostList *)self)->count; }

static int32_t HOST_CALL ListGet(LineList *self, int32_t i, const char **text, int32_t *length) {
  HostList *l = (HostList *)self;
  if (i < 0 || i >= l->count) return 1;
  strcpy(l->copy, l->lines[i]);
  *text = l->copy;
  *length = (int32_t)strlen(l->copy);
  return 0;
}

static int32_t HOST_CALL ListDelete(LineList *self, int32_t i) {
  HostList *l = (HostList *)self;
  if (i < 0 || i >= l->count) return 1;
  memmove(l->lines[i], l->lines[i + 1], (size_t)(l->count - i - 1) * sizeof l->lines[0]);
  l->count--;
  l->deletes++;
  return 0;
}

static const LineListOps kListOps = {ListCount, ListGet, ListDelete};

static void ListAppend(HostList *l, const char *line) {
  if (l->count == kMaxLines) return;
  strncpy(l->lines[l->count], line, kMaxLineLength);
  l->lines[l->count][kMaxLineLength] = '\0';
  l->count++;
}

typedef struct {
  HostText base;
  char value[kMaxLineLength + 1];
  int assigned;
} HostCarry;

static void HOST_CALL CarryAssign(HostText *self, const char *text, int32_t length) {
  HostCarry *c = (HostCarry *)self;
  if (length < 0) length = 0;
  if (length > kMaxLineLength) length = kMaxLineLength;
  memcpy(c->value, text, (size_t)length);
  c->value[length] = '\0';
  c->assigned = 1;
}

/* ---- Files the driver reads ---------------------------------------------- */

static void WriteFileBytes(const char *path, const void *bytes, size_t n) {
  FILE *f = fopen(path, "wb");
  CHECK(f != NULL, "create %s", path);
  if (f == NULL) return;
  CHECK(fwrite(bytes, 1, n, f) == n, "write %s", path);
  fclose(f);
}

static void WriteText(const char *path, const char *text) { WriteFileBytes(path, text, strlen(text)); }

/* A host short string: length byte and characters. REQUIRES: strlen(text) <= 255. */
static void ShortString(unsigned char *out, const char *text) {
  size_t n = strlen(text);
  out[0] = (unsigned char)n;
  memcpy(out + 1, text, n);
}

/* ---- The checks ----------------------------------------------------------- */

static const struct {
  const char *name;
  WORD ordinal;
} kExports[] = {
    {"DrvGetHandle", 1},    {"DrvProcessClose", 2}, {"DrvProcessVer", 3},  {"DrvProcessEnd", 4},
    {"DrvProcessStart", 5}, {"DrvInitDriver", 6},   {"DrvProcessLine", 7},
};

static int LoadDriver(void) {
  size_t i;
  FARPROC by_name[7];
  static const char *const kNotExported[] = {"_DrvProcessLine@32", "DrvProcessLine@32", "_DrvGetHandle@0",
                                             "drvgethandle"};

  drv.module = LoadLibraryA("talvo.dll");
  if (drv.module == NULL) {
    fprintf(stderr, "LoadLibraryA(talvo.dll) failed: error %lu\n", (unsigned long)GetLastError());
    return 0;
  }
  for (i = 0; i < 7; ++i) {
    FARPROC by_ordinal = GetProcAddress(drv.module, (LPCSTR)(ULONG_PTR)kExports[i].ordinal);
    by_name[i] = GetProcAddress(drv.module, kExports[i].name);
    CHECK(by_name[i] != NULL, "%s by name", kExports[i].name);
    CHECK(by_ordinal == by_name[i], "%s at ordinal %u", kExports[i].name, kExports[i].ordinal);
  }
  CHECK(GetProcAddress(drv.module, (LPCSTR)(ULONG_PTR)8) == NULL, "no ordinal 8");
  for (i = 0; i < sizeof kNotExported / sizeof kNotExported[0]; ++i) {
    CHECK(GetProcAddress(drv.module, kNotExported[i]) == NULL, "%s is not exported", kNotExported[i]);
  }
  if (failures != 0) return 0;
  drv.GetHandle = (GetHandleFn)(void (*)(void))by_name[0];
  drv.Close = (CloseFn)(void (*)(void))by_name[1];
  drv.Ver = (VerFn)(void (*)(void))by_name[2];
  drv.End = (EndFn)(void (*)(void))by_name[3];
  drv.Start = (StartFn)(void (*)(void))by_name[4];
  drv.Init = (InitFn)(void (*)(void))by_name[5];
  drv.ProcessLine = (ProcessLineFn)(void (*)(void))by_name[6];
  return 1;
}

static void CheckVersion(void) {
  unsigned char buffer[16];
  size_t i;
  memset(buffer, 0xAA, sizeof buffer);
  drv.Ver(buffer);
  CHECK(buffer[0] == 8 && memcmp(buffer + 1, "TALVO 21", 8) == 0, "version \"%.*s\"", buffer[0] & 15,
        (const char *)buffer + 1);
  for (i = 9; i < sizeof buffer; ++i) CHECK(buffer[i] == 0xAA, "byte %u after the version untouched", (unsigned)i);
}

static void CheckHandles(void) {
  int32_t i;
  for (i = 1; i <= 10; ++i) {
    int32_t got = drv.GetHandle();
    CHECK(got == i, "handle %d, got %d", i, got);
  }
  CHECK(drv.GetHandle() == 0, "eleventh handle");
  drv.Close(4);
  CHECK(drv.GetHandle() == 4, "the freed handle comes back");
  CHECK(drv.GetHandle() == 0, "full again");
  drv.Close(0);
  drv.Close(11);
  drv.Close(-1);
  CHECK(drv.GetHandle() == 0, "closing 0, 11, -1 changes nothing");
  drv.Close(7);
  drv.Close(7);
  CHECK(drv.GetHandle() == 7, "closing twice frees once");
  CHECK(drv.GetHandle() == 0, "full after closing twice");
  for (i = 1; i <= 10; ++i) drv.Close(i);
  CHECK(drv.GetHandle() == 1, "all free again");
  drv.Close(1);
}

static void CheckInitDriver(void) {
  /* A name with a folder part: the profile functions look a bare name up in
   * the Windows folder, not in the current one. */
  static const struct {
    const char *name;    /* passed to DrvInitDriver; cut to 80 characters */
    const char *content; /* written to the first 80 characters of the name, NULL: no file */
    int32_t want;        /* INDEX_BASE handed back */
  } kCases[] = {
      {".\\index_base.ini", "[pbx]\r\nINDEX_BASE=7\r\n", 7},
      {".\\index_hex.ini", "[PBX]\nindex_base = 0x1F\n", 31},
      {".\\no_such_settings.ini", NULL, 0},
      {".\\index_base_in_other_section.ini", "[pbx2]\r\nINDEX_BASE=7\r\n", 0},
      /* 100 characters, of which the first 80 name the file. */
      {".\\long_name_long_name_long_name_long_name_long_name_long_name_long_name_long.ini"
       "_cut_off_by_driver__",
       "[pbx]\r\nINDEX_BASE=12\r\n", 12},
  };
  unsigned char name[256];
  size_t i;
  int32_t handle = drv.GetHandle();
  CHECK(handle == 1, "handle for the settings, got %d", handle);
  for (i = 0; i < sizeof kCases / sizeof kCases[0]; ++i) {
    int32_t index_base = -9;
    char file[81];
    snprintf(file, sizeof file, "%.80s", kCases[i].name);
    if (kCases[i].content != NULL) WriteText(file, kCases[i].content);
    ShortString(name, kCases[i].name);
    drv.Init(handle, name, &index_base);
    CHECK(index_base == kCases[i].want, "%s: INDEX_BASE %d, got %d", kCases[i].name, kCases[i].want, index_base);
    if (kCases[i].content != NULL) DeleteFileA(file);
  }
  drv.Close(handle);
}

/* The host's side of DrvProcessLine calls. */
typedef enum {
  kViaDeclaration, /* a C call through the GCC declaration (stack arguments reversed) */
  kViaHostOrder    /* HostOrderProcessLine: pushed by hand in the host's order */
} CallPath;

typedef struct {
  int32_t handle;
  CallPath via;
  HostList list;
  HostCarry carry;
  CallRecord records[TALVO_RECORD_ENTRIES];
  int32_t record_count;
  int new_record;
  /* outputs of the last call */
  int32_t result, error_code, call_index, drift;
  unsigned char call_date[7];
} Host;

enum { kUntouched = 0xEE, kNoIndex = -2 };

static void HostInit(Host *h, int32_t handle, CallPath via) {
  memset(h, 0, sizeof *h);
  h->handle = handle;
  h->via = via;
  h->list.base.ops = &kListOps;
  h->carry.base.Assign = CarryAssign;
  h->new_record = 1;
  /* Entries 1..19 are not the driver's to touch while the host holds no records. */
  memset(&h->records[1], kUntouched, sizeof h->records - sizeof h->records[0]);
}

/* Appends `line` and calls DrvProcessLine as the host does: error code 0, no
 * records held, a zero-filled working record for each new record. Afterwards,
 * unless the record is incomplete, the list holds only the carried-over line. */
static void HostFeed(Host *h, const char *line) {
  if (h->new_record) memset(&h->records[0], 0, sizeof h->records[0]);
  ListAppend(&h->list, line);
  h->carry.value[0] = '\0';
  h->carry.assigned = 0;
  h->list.deletes = 0;
  h->error_code = 0;
  h->call_index = kNoIndex;
  h->record_count = 0;
  h->drift = 0;
  memset(h->call_date, 0, sizeof h->call_date);
  if (h->via == kViaDeclaration) {
    h->result = drv.ProcessLine(h->handle, &h->list.base, &h->carry.base, &h->error_code, &h->call_index,
                                &h->record_count, h->call_date, h->records);
  } else {
    h->result = HostOrderProcessLine(drv.ProcessLine, h->handle, &h->list.base, &h->carry.base, h->records,
                                     h->call_date, &h->record_count, &h->call_index, &h->error_code, 4, &h->drift);
  }
  h->new_record = h->result != TALVO_RESULT_INCOMPLETE;
  if (h->new_record) {
    h->list.count = 0;
    if (h->carry.assigned) ListAppend(&h->list, h->carry.value);
  }
}

static int IsResult(int32_t r) {
  return r == TALVO_RESULT_NO_RECORD || r == TALVO_RESULT_RECORD || r == TALVO_RESULT_INCOMPLETE ||
         r == TALVO_RESULT_DUTY;
}

static int AllBytes(const void *p, size_t n, unsigned char value) {
  const unsigned char *b = (const unsigned char *)p;
  size_t i;
  for (i = 0; i < n; ++i) {
    if (b[i] != value) return 0;
  }
  return 1;
}

/* The stack and the stack arguments across DrvProcessLine. */
static void CheckStackBalance(int32_t handle) {
  static const uint32_t kSkews[] = {0, 4, 8, 12};
  Host h;
  size_t k;
  int i;
  uint32_t esp_before, esp_after;

  /* In the host's push order, at every alignment a 32-bit host may leave: the
   * callee removes exactly 20 bytes, and each output is the one the host's
   * pointer names, with nothing written past it. A first line of a two-line
   * call makes no record (4), nor does a second line that is not a number
   * line (1, CHK2's code): the count, index, date and records the host passed
   * in come back unchanged. */
  for (k = 0; k < 2 * sizeof kSkews / sizeof kSkews[0]; ++k) {
    const uint32_t skew = kSkews[k / 2];
    const int lines = 1 + (int)(k % 2);
    struct {
      int32_t value;
      unsigned char guard[12];
    } count, call_index, error;
    struct {
      unsigned char text[7];
      unsigned char guard[9];
    } date;
    struct {
      CallRecord records[TALVO_RECORD_ENTRIES];
      unsigned char guard[16];
    } held;
    int32_t drift = -1, result;
    memset(&count, kUntouched, sizeof count);
    memset(&call_index, kUntouched, sizeof call_index);
    memset(&error, kUntouched, sizeof error);
    memset(&date, kUntouched, sizeof date);
    memset(&held, kUntouched, sizeof held);
    memset(&held.records[0], 0, sizeof held.records[0]); /* the working record, zero-filled */
    count.value = 3;
    call_index.value = 5;
    error.value = 0;
    HostInit(&h, handle, kViaHostOrder);
    ListAppend(&h.list, "OUT 260315 140205 00:05:30 2001");
    if (lines == 2) ListAppend(&h.list, "XXX 0049301234567    007");

    result = HostOrderProcessLine(drv.ProcessLine, handle, &h.list.base, &h.carry.base, held.records, date.text,
                                  &count.value, &call_index.value, &error.value, skew, &drift);

    CHECK(drift == 0, "stack skew %u, %d line(s): ESP moved by %d", (unsigned)skew, lines, (int)drift);
    CHECK(result == (lines == 1 ? TALVO_RESULT_INCOMPLETE : TALVO_RESULT_NO_RECORD) &&
              error.value == (lines == 1 ? 0 : TALVO_ERR_CHK2),
          "stack skew %u, %d line(s): result %d, error %d", (unsigned)skew, lines, (int)result, (int)error.value);
    CHECK(count.value == 3 && call_index.value == 5, "stack skew %u, %d line(s): count %d, index %d",
          (unsigned)skew, lines, (int)count.value, (int)call_index.value);
    CHECK(AllBytes(date.text, sizeof date.text, kUntouched) && AllBytes(&held.records[0], sizeof held.records[0], 0) &&
              AllBytes(&held.records[1], sizeof held - sizeof held.records[0], kUntouched),
          "stack skew %u, %d line(s): date and records untouched", (unsigned)skew, lines);
    CHECK(AllBytes(count.guard, sizeof count.guard, kUntouched) &&
              AllBytes(call_index.guard, sizeof call_index.guard, kUntouched) &&
              AllBytes(error.guard, sizeof error.guard, kUntouched) &&
              AllBytes(date.guard, sizeof date.guard, kUntouched),
          "stack skew %u, %d line(s): nothing written past an output", (unsigned)skew, lines);
  }

  /* Many calls through the GCC declaration: ESP ends where it began. */
  HostInit(&h, handle, kViaDeclaration);
  READ_ESP(esp_before);
  for (i = 0; i < 1000; ++i) {
    HostFeed(&h, (i % 3) == 2 ? "NUM 0049301234567    007" : "OUT 260315 140205 00:05:30 2001");
    if (!IsResult(h.result)) break;
  }
  READ_ESP(esp_after);
  CHECK(esp_after == esp_before, "ESP over %d calls: %d bytes off", i, (int)(esp_before - esp_after));
  CHECK(i == 1000, "call %d gave result %d", i, (int)h.result);
}

/* Fills a text[N] field of a record. */
#define SET_TEXT(field, text)                    \
  do {                                           \
    (field).length = (uint8_t)strlen(text);      \
    memcpy((field).chars, (text), strlen(text)); \
  } while (0)

static void DumpDifference(const char *what, const CallRecord *want, const CallRecord *got) {
  const unsigned char *w = (const unsigned char *)want, *g = (const unsigned char *)got;
  size_t i;
  for (i = 0; i < sizeof *want; ++i) {
    if (w[i] != g[i]) fprintf(stderr, "  %s: byte %3u want %02x got %02x\n", what, (unsigned)i, w[i], g[i]);
  }
}

/* One report line handed over, and what the host must see afterwards. */
typedef struct {
  const char *line;
  int32_t result;
  const char *carried;   /* the carried-over line, "" when none */
  const char *call_date; /* NULL: not written (left as the host passed it) */
  int32_t error_code;
  /* the record appended, for result 2 */
  const char *extension, *second_extension, *trunk_group, *trunk, *number;
  uint16_t start_minute;
  uint8_t start_second;
  int32_t duration;
  uint32_t flags;
} Step;

static void RunScenario(const char *title, int32_t handle, const Step *steps, size_t n, CallPath via) {
  Host h;
  size_t i;
  const char *path = via == kViaDeclaration ? "declaration" : "host order";
  HostInit(&h, handle, via);
  for (i = 0; i < n; ++i) {
    const Step *s = &steps[i];
    const unsigned row = (unsigned)i + 1;
    HostFeed(&h, s->line);

    CHECK(h.drift == 0, "%s (%s), line %u: ESP moved by %d", title, path, row, (int)h.drift);
    CHECK(h.result == s->result, "%s (%s), line %u \"%s\": result %d, got %d", title, path, row, s->line,
          (int)s->result, (int)h.result);
    CHECK(strcmp(h.carry.value, s->carried) == 0, "%s (%s), line %u \"%s\": carried \"%s\", got \"%s\"", title,
          path, row, s->line, s->carried, h.carry.value);
    CHECK(h.list.deletes == (s->carried[0] != '\0'), "%s (%s), line %u: a carried line is deleted from the list",
          title, path, row);
    CHECK(h.error_code == s->error_code, "%s (%s), line %u \"%s\": error code %d, got %d", title, path, row,
          s->line, (int)s->error_code, (int)h.error_code);
    if (s->call_date != NULL) {
      CHECK((size_t)h.call_date[0] == strlen(s->call_date) && memcmp(h.call_date + 1, s->call_date, 6) == 0,
            "%s (%s), line %u \"%s\": date %s, got %.*s", title, path, row, s->line, s->call_date,
            h.call_date[0] & 7, (const char *)h.call_date + 1);
      CHECK(h.call_index == -1, "%s (%s), line %u: no index field gives -1, got %d", title, path, row,
            (int)h.call_index);
    } else {
      CHECK(h.call_date[0] == 0 && h.call_index == kNoIndex, "%s (%s), line %u \"%s\": date and index untouched",
            title, path, row, s->line);
    }
    CHECK(h.record_count == (s->result == TALVO_RESULT_RECORD), "%s (%s), line %u: count %d", title, path, row,
          (int)h.record_count);
    CHECK(AllBytes(&h.records[1], sizeof h.records - sizeof h.records[0], kUntouched),
          "%s (%s), line %u: entries 1..19 untouched", title, path, row);
    if (s->result == TALVO_RESULT_RECORD) {
      CallRecord want;
      memset(&want, 0, sizeof want);
      SET_TEXT(want.Extension, s->extension);
      SET_TEXT(want.SecondExtension, s->second_extension);
      SET_TEXT(want.TrunkGroup, s->trunk_group);
      SET_TEXT(want.Trunk, s->trunk);
      SET_TEXT(want.Number, s->number);
      want.StartMinute = s->start_minute;
      want.StartSecond = s->start_second;
      want.Duration = s->duration;
      want.Flags = s->flags;
      if (memcmp(&want, &h.records[0], sizeof want) != 0) {
        CHECK(0, "%s (%s), line %u \"%s\": record differs", title, path, row, s->line);
        DumpDifference(s->line, &want, &h.records[0]);
      }
    }
  }
}

/* A settings file for one call in two report lines:
 *
 *   col 1   5      12     19       28
 *       OUT 260315 140205 00:05:30 2001         (date, start, duration, extension)
 *       NUM 0049301234567    007                (dialled number, trunk)
 */
static const char kTwoLineSettings[] =
    "[pbx]\r\n"
    "CHK1_POS=1;1\r\nCHK1_STR=OUT\r\n"
    "CHK2_POS=1;2\r\nCHK2_STR=NUM\r\n"
    "YEAR_POS=5\r\nMONTH_POS=7;1\r\nDAY_POS=9\r\n"
    "TIMEHH_POS=12;1\r\nTIMEMM_POS=14\r\nTIMESS_POS=16\r\n"
    "LENHH_POS=19\r\nLENMM_POS=22;1\r\nLENMM_LEN=2\r\nLENSS_POS=25\r\nLENSS_LEN=2\r\n"
    "EXT_POS=28;1\r\nEXT_LEN=4\r\nEXT_RANGE_ST=1000\r\nEXT_RANGE_END=2999\r\n"
    "NUM_POS=5;2\r\nNUM_LEN=16\r\n"
    "OREK_POS=22;2\r\nOREK_LEN=3\r\n";

/* The conversion table: one entry, numbers beginning 00493 are charged to 3999. */
static void WriteConversionTable(const char *path) {
  unsigned char image[2 * 26];
  memset(image, 0, sizeof image);
  image[0] = 1; /* entry count, 16-bit little-endian */
  image[26] = 16;
  memset(image + 27, ' ', 16);
  memcpy(image + 27, "00493", 5);
  image[43] = 4;
  memcpy(image + 44, "3999", 4);
  WriteFileBytes(path, image, sizeof image);
}

/* A line after which no record is appended, and one after which one is. */
#define NOTHING(line, result, carried, date, error) \
  {line, result, carried, date, error, NULL, NULL, NULL, NULL, NULL, 0, 0, 0, 0}
#define RECORD(line, carried, date, error, ext, second, group, trunk, number, minute, second_, duration, flags) \
  {line, TALVO_RESULT_RECORD, carried, date, error, ext, second, group, trunk, number, minute, second_, duration, flags}

/* Outgoing calls of two lines each, with the table above loaded. */
static const Step kTwoLineCalls[] = {
    /* converted by the table: 00493... is charged to 3999, 2001 moves aside */
    NOTHING("OUT 260315 140205 00:05:30 2001", TALVO_RESULT_INCOMPLETE, "", NULL, 0),
    RECORD("NUM 0049301234567    007", "", "260315", TALVO_ERR_PRV_CHK1, "3999", "2001", "0", "7", "0049301234567",
           842, 5, 330, TALVO_FLAG_OUTGOING | TALVO_FLAG_CONVERTED),
    /* a number the table does not know */
    NOTHING("OUT 260316 090000 00:01:00 2002", TALVO_RESULT_INCOMPLETE, "", NULL, 0),
    RECORD("NUM 0612345678       012", "", "260316", TALVO_ERR_PRV_CHK1, "2002", "", "0", "12", "0612345678", 540, 0,
           60, TALVO_FLAG_OUTGOING),
    /* a new call before the number line: the first is assembled alone, the
     * second carried over and completed by the next line */
    NOTHING("OUT 260316 100000 00:00:10 2003", TALVO_RESULT_INCOMPLETE, "", NULL, 0),
    RECORD("OUT 260316 110000 00:02:00 2004", "OUT 260316 110000 00:02:00 2004", "260316", TALVO_ERR_PRV_CHK1, "2003",
           "", "0", "0", "", 600, 0, 10, TALVO_FLAG_OUTGOING),
    RECORD("NUM 0049301234567    007", "", "260316", TALVO_ERR_PRV_CHK1, "3999", "2004", "0", "7", "0049301234567",
           660, 0, 120, TALVO_FLAG_OUTGOING | TALVO_FLAG_CONVERTED),
    /* not a call line */
    NOTHING("*** PBX RESTART ***", TALVO_RESULT_NO_RECORD, "", NULL, 0),
    /* a second line that is not a number line */
    NOTHING("OUT 260316 120000 00:00:30 2005", TALVO_RESULT_INCOMPLETE, "", NULL, 0),
    NOTHING("XXX 0049301234567    007", TALVO_RESULT_NO_RECORD, "", NULL, TALVO_ERR_CHK2),
    /* an extension outside 1000..2999 */
    NOTHING("OUT 260316 130000 00:00:30 5005", TALVO_RESULT_INCOMPLETE, "", NULL, 0),
    NOTHING("NUM 0612345678       012", TALVO_RESULT_NO_RECORD, "", "260316", TALVO_ERR_EXT_RANGE),
};

/* Settings from disk, the conversion table read with writers refused, and the
 * host's Get, Delete and Assign called back across the boundary. */
static void CheckEndToEnd(void) {
  unsigned char name[64], label[8];
  int32_t index_base = -9;
  int32_t handle;

  WriteText(".\\two_line.ini", kTwoLineSettings);
  WriteConversionTable("QUORCNVT.INT");
  ShortString(name, ".\\two_line.ini");
  ShortString(label, "run");

  handle = drv.GetHandle();
  CHECK(handle == 1, "handle for the scenario, got %d", handle);
  drv.Init(handle, name, &index_base);
  CHECK(index_base == 0, "no INDEX_BASE in the scenario settings, got %d", index_base);

  CHECK(drv.Start(label) == 1, "DrvProcessStart with the table present");
  CheckStackBalance(handle);
  RunScenario("two-line calls", handle, kTwoLineCalls, sizeof kTwoLineCalls / sizeof kTwoLineCalls[0],
              kViaDeclaration);
  RunScenario("two-line calls", handle, kTwoLineCalls, sizeof kTwoLineCalls / sizeof kTwoLineCalls[0],
              kViaHostOrder);
  drv.End(label);

  /* While another program holds the table open for writing, the driver tries
   * again for a while, then runs with an empty table: nothing is converted. */
  {
    HANDLE writer = CreateFileA("QUORCNVT.INT", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD started;
    Host h;
    CHECK(writer != INVALID_HANDLE_VALUE, "open the table for writing: error %lu", (unsigned long)GetLastError());
    started = GetTickCount();
    CHECK(drv.Start(label) == 1, "DrvProcessStart while a writer holds the table");
    CHECK(GetTickCount() - started >= 200, "the open was tried again for a while (%lu ms)",
          (unsigned long)(GetTickCount() - started));
    CloseHandle(writer);
    HostInit(&h, handle, kViaDeclaration);
    HostFeed(&h, kTwoLineCalls[0].line);
    HostFeed(&h, kTwoLineCalls[1].line);
    CHECK(h.result == TALVO_RESULT_RECORD && h.records[0].Extension.length == 4 &&
              memcmp(h.records[0].Extension.chars, "2001", 4) == 0 && (h.records[0].Flags & TALVO_FLAG_CONVERTED) == 0,
          "an empty table converts nothing: result %d", (int)h.result);
    drv.End(label);
  }

  DeleteFileA("QUORCNVT.INT");
  CHECK(drv.Start(label) == 1, "DrvProcessStart without a table file");
  drv.End(label);

  drv.Close(handle);
  DeleteFileA(".\\two_line.ini");
}

int main(void) {
  if (!LoadDriver()) {
    fprintf(stderr, "talvo.dll could not be loaded or lacks its exports\n");
    return 1;
  }
  CheckVersion();
  CheckHandles();
  CheckInitDriver();
  CheckEndToEnd();
  FreeLibrary(drv.module);

  if (failures != 0) {
    fprintf(stderr, "%d check(s) failed\n", failures);
    return 1;
  }
  printf("talvo.dll: all checks passed\n");
  return 0;
}
