/* How a host calls talvo.dll: the register convention written out from the
 * convention itself, not taken from talvo/driver.h, so that the header and the
 * DLL are both checked against it. Shared by the C host test and the scenario
 * runner; plain C that also compiles as C++. */
#ifndef TALVO_TESTS_WINDOWS_HOST_CALL_H_
#define TALVO_TESTS_WINDOWS_HOST_CALL_H_

#include <stdint.h>

#include "talvo/driver.h"

/* The exports' types in a host's register convention. GCC pushes stack
 * arguments right to left and a host left to right: the five stack arguments
 * of DrvProcessLine are declared in reverse. */
#define HOST_CALL __attribute__((regparm(3), stdcall))

typedef int32_t(HOST_CALL *GetHandleFn)(void);
typedef void(HOST_CALL *CloseFn)(int32_t handle);
typedef void(HOST_CALL *VerFn)(unsigned char *result);
typedef void(HOST_CALL *EndFn)(const unsigned char *text);
typedef uint8_t(HOST_CALL *StartFn)(const unsigned char *text);
typedef void(HOST_CALL *InitFn)(int32_t handle, const unsigned char *file, int32_t *indexBase);
typedef int32_t(HOST_CALL *ProcessLineFn)(int32_t index, LineList *lines, HostText *carryOverLine,
                                          int32_t *errorCode, int32_t *callIndex, int32_t *recordCount,
                                          unsigned char *callDate, CallRecord *records);

#define READ_ESP(v) __asm__ volatile("movl %%esp, %0" : "=r"(v))

/* Calls DrvProcessLine exactly as a host's compiler does, without relying on
 * GCC's reading of the reversed declaration: index, lines and carryOverLine in
 * EAX, EDX, ECX; records pushed first and errorCode last; `skew` extra bytes
 * below the caller's stack first, so the callee also meets a stack aligned to
 * four bytes only. *drift is how far ESP moved over the call: 0 iff the callee
 * removed exactly its 20 bytes. */
static inline int32_t HostOrderProcessLine(ProcessLineFn process_line, int32_t index, LineList *lines,
                                           HostText *carry, CallRecord *records, unsigned char *callDate,
                                           int32_t *recordCount, int32_t *callIndex, int32_t *errorCode,
                                           uint32_t skew, int32_t *drift) {
  struct {
    uint32_t pushed[5]; /* in the order pushed */
    uint32_t skew;
    uint32_t esp_before;
    uint32_t esp_after;
  } frame;
  uint32_t eax = (uint32_t)index;
  uint32_t edx = (uint32_t)(uintptr_t)lines;
  uint32_t ecx = (uint32_t)(uintptr_t)carry;
  frame.pushed[0] = (uint32_t)(uintptr_t)records;
  frame.pushed[1] = (uint32_t)(uintptr_t)callDate;
  frame.pushed[2] = (uint32_t)(uintptr_t)recordCount;
  frame.pushed[3] = (uint32_t)(uintptr_t)callIndex;
  frame.pushed[4] = (uint32_t)(uintptr_t)errorCode;
  frame.skew = skew;
  __asm__ volatile(
      "subl 20(%%esi), %%esp\n\t"
      "movl %%esp, 24(%%esi)\n\t"
      "pushl 0(%%esi)\n\t"
      "pushl 4(%%esi)\n\t"
      "pushl 8(%%esi)\n\t"
      "pushl 12(%%esi)\n\t"
      "pushl 16(%%esi)\n\t"
      "call *%%edi\n\t"
      "movl %%esp, 28(%%esi)\n\t"
      "movl 24(%%esi), %%esp\n\t" /* whatever the callee did, leave with our own stack */
      "addl 20(%%esi), %%esp\n\t"
      : "+a"(eax), "+d"(edx), "+c"(ecx)
      : "S"(&frame), "D"(process_line)
      : "memory", "cc");
  *drift = (int32_t)(frame.esp_after - frame.esp_before);
  return (int32_t)eax;
}

#endif  /* TALVO_TESTS_WINDOWS_HOST_CALL_H_ */
