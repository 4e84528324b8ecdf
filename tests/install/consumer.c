/* A host program built against an installed talvo: it drives the seven
 * exports over a report file and prints how many call records the driver
 * appended. Run from the folder that holds QUORCNVT.INT.
 *
 *   consumer SETTINGS REPORT */
#include <stdio.h>
#include <string.h>

#include <talvo/driver.h>

#define MAX_LINES 8
#define MAX_LENGTH 256

typedef struct {
  LineList base;
  char lines[MAX_LINES][MAX_LENGTH];
  int32_t count;
} Lines;

typedef struct {
  HostText base;
  char value[MAX_LENGTH];
  int32_t length;
} Carry;

static int32_t TALVO_CALL Count(LineList *self) { return ((Lines *)self)->count; }

static int32_t TALVO_CALL Get(LineList *self, int32_t i, const char **text, int32_t *length) {
  Lines *l = (Lines *)self;
  if (i < 0 || i >= l->count) return 1;
  *text = l->lines[i];
  *length = (int32_t)strlen(l->lines[i]);
  return 0;
}

static int32_t TALVO_CALL Delete(LineList *self, int32_t i) {
  Lines *l = (Lines *)self;
  if (i < 0 || i >= l->count) return 1;
  memmove(l->lines[i], l->lines[i + 1], (size_t)(l->count - i - 1) * MAX_LENGTH);
  l->count--;
  return 0;
}

static void TALVO_CALL Assign(HostText *self, const char *text, int32_t length) {
  Carry *c = (Carry *)self;
  c->length = length < MAX_LENGTH - 1 ? length : MAX_LENGTH - 1;
  memcpy(c->value, text, (size_t)c->length);
  c->value[c->length] = '\0';
}

int main(int argc, char **argv) {
  static const LineListOps ops = {Count, Get, Delete};
  static CallRecord records[TALVO_RECORD_ENTRIES];
  Lines lines;
  Carry carry;
  unsigned char name[256], version[16], date[7];
  char text[MAX_LENGTH];
  int32_t handle, index_base = 0, count = 0, total = 0, new_record = 1;
  FILE *report;
  if (argc != 3 || strlen(argv[1]) > 80) {
    fprintf(stderr, "usage: consumer SETTINGS REPORT\n");
    return 2;
  }
  report = fopen(argv[2], "r");
  if (report == NULL) {
    perror(argv[2]);
    return 2;
  }
  lines.base.ops = &ops;
  lines.count = 0;
  carry.base.Assign = Assign;
  DrvProcessVer(version);
  handle = DrvGetHandle();
  name[0] = (unsigned char)strlen(argv[1]);
  memcpy(name + 1, argv[1], name[0]);
  DrvInitDriver(handle, name, &index_base);
  DrvProcessStart(name);
  while (fgets(text, sizeof text, report) != NULL) {
    int32_t error = 0, index = -1, result;
    text[strcspn(text, "\r\n")] = '\0';
    if (new_record) memset(&records[0], 0, sizeof records[0]);
    if (lines.count == MAX_LINES) lines.count = 0;
    strcpy(lines.lines[lines.count++], text);
    carry.length = 0;
    result = DrvProcessLine(handle, &lines.base, &carry.base, records, date, &count, &index, &error);
    new_record = result != TALVO_RESULT_INCOMPLETE;
    if (result == TALVO_RESULT_RECORD) ++total;
    if (count == TALVO_RECORD_ENTRIES) count = 0;
    if (new_record) {
      lines.count = 0;
      if (carry.length > 0) strcpy(lines.lines[lines.count++], carry.value);
    }
  }
  fclose(report);
  DrvProcessEnd(name);
  DrvProcessClose(handle);
  printf("%.*s: %d records\n", version[0], (const char *)version + 1, (int)total);
  return 0;
}
