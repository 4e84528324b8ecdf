/* Drives all seven exports from plain C, linked against the shared library. */
#include <stdio.h>
#include <string.h>

#include "talvo/driver.h"

static int failures = 0;
#define CHECK(cond)                                                   \
  do {                                                                \
    if (!(cond)) {                                                    \
      fprintf(stderr, "%s:%d: CHECK failed: %s\n", __FILE__, __LINE__, #cond); \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

typedef struct {
  LineList base;
  const char *lines[4];
  int32_t count;
} CList;

static int32_t TALVO_CALL ListCount(LineList *self) { return ((CList *)self)->count; }

static int32_t TALVO_CALL ListGet(LineList *self, int32_t i, const char **text, int32_t *length) {
  CList *l = (CList *)self;
  if (i < 0 || i >= l->count) return 1;
  *text = l->lines[i];
  *length = (int32_t)strlen(l->lines[i]);
  return 0;
}

static int32_t TALVO_CALL ListDelete(LineList *self, int32_t i) {
  CList *l = (CList *)self;
  if (i < 0 || i >= l->count) return 1;
  memmove(&l->lines[i], &l->lines[i + 1], (size_t)(l->count - i - 1) * sizeof l->lines[0]);
  l->count--;
  return 0;
}

typedef struct {
  HostText base;
  char value[256];
} CCarry;

static void TALVO_CALL CarryAssign(HostText *self, const char *text, int32_t length) {
  CCarry *c = (CCarry *)self;
  if (length > 255) length = 255;
  memcpy(c->value, text, (size_t)length);
  c->value[length] = '\0';
}

int main(void) {
  static const LineListOps ops = {ListCount, ListGet, ListDelete};
  unsigned char ver[16];
  unsigned char name[32];
  unsigned char label[4] = {3, 'r', 'u', 'n'};
  int32_t handle, index_base = -9, count = 0, call_index = 0, error = 0, result;
  CallRecord records[TALVO_RECORD_ENTRIES];
  unsigned char date[7] = {0};
  CList list;
  CCarry carry;

  CHECK(sizeof(CallRecord) == 195);

  memset(ver, 0, sizeof ver);
  DrvProcessVer(ver);
  CHECK(ver[0] == 8 && memcmp(ver + 1, "TALVO 21", 8) == 0 && ver[9] == 0);

  handle = DrvGetHandle();
  CHECK(handle == 1);

  name[0] = (unsigned char)strlen("/nonexistent/talvo.ini");
  memcpy(name + 1, "/nonexistent/talvo.ini", name[0]);
  DrvInitDriver(handle, name, &index_base);
  CHECK(index_base == 0);

  CHECK(DrvProcessStart(label) == 1);

  memset(records, 0, sizeof records);
  list.base.ops = &ops;
  list.lines[0] = "a line the default settings do not know";
  list.count = 1;
  carry.base.Assign = CarryAssign;
  carry.value[0] = '\0';
  result = DrvProcessLine(handle, &list.base, &carry.base, records, date, &count, &call_index, &error);
  CHECK(result == TALVO_RESULT_NO_RECORD || result == TALVO_RESULT_RECORD ||
        result == TALVO_RESULT_INCOMPLETE || result == TALVO_RESULT_DUTY);

  DrvProcessEnd(label);
  DrvProcessClose(handle);
  CHECK(DrvGetHandle() == 1);
  DrvProcessClose(1);

  if (failures == 0) printf("C API: all checks passed\n");
  return failures == 0 ? 0 : 1;
}
