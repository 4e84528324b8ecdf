// What each of the seven exports does, for a given Driver: the argument
// checks, the copying of the host's texts, the host's line list seen through
// RecordLines, and the results written back. No C++ exception leaves these
// functions.
//
// The exports (exports.cc) apply them to the module's one Driver. A test, a
// fuzzer, a benchmark or the command-line host that wants a Driver of its own
// (a fake platform layer, a pinned date) calls them directly and so runs
// exactly the code a host's calls run. The arguments and their rules are
// those of the export of the same name in talvo/driver.h.
#ifndef TALVO_DRIVER_DRIVER_CALLS_H_
#define TALVO_DRIVER_DRIVER_CALLS_H_

#include <cstdint>

#include "driver/driver.h"
#include "talvo/driver.h"

namespace talvo::calls {

int32_t GetHandle(Driver& driver);
void InitDriver(Driver& driver, int32_t handle, const unsigned char* settings_file, int32_t* index_base);
uint8_t ProcessStart(Driver& driver, const unsigned char* text);
int32_t ProcessLine(Driver& driver, int32_t index, LineList* lines, HostText* carry_over_line, CallRecord* records,
                    unsigned char* call_date, int32_t* record_count, int32_t* call_index, int32_t* error_code);
void ProcessEnd(Driver& driver, const unsigned char* text);
void ProcessClose(Driver& driver, int32_t handle);
void ProcessVer(unsigned char* result);

}  // namespace talvo::calls

#endif  // TALVO_DRIVER_DRIVER_CALLS_H_
