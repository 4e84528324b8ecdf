// A Driver of a test's own on a FakeEnv, with the seven exports' calls bound
// to it: what a test drives where a host drives the exports.
#ifndef TALVO_TESTS_SUPPORT_FAKE_DRIVER_H_
#define TALVO_TESTS_SUPPORT_FAKE_DRIVER_H_

#include <cstdint>

#include "driver/driver.h"
#include "driver/driver_calls.h"
#include "support/fake_env.h"
#include "talvo/driver.h"

namespace talvo::testing {

class FakeDriver {
 public:
  FakeEnv env;
  Driver driver{env};

  int32_t GetHandle() { return calls::GetHandle(driver); }
  void InitDriver(int32_t handle, const unsigned char* settings_file, int32_t* index_base) {
    calls::InitDriver(driver, handle, settings_file, index_base);
  }
  uint8_t ProcessStart(const unsigned char* text) { return calls::ProcessStart(driver, text); }
  int32_t ProcessLine(int32_t index, LineList* lines, HostText* carry_over_line, CallRecord* records,
                      unsigned char* call_date, int32_t* record_count, int32_t* call_index, int32_t* error_code) {
    return calls::ProcessLine(driver, index, lines, carry_over_line, records, call_date, record_count, call_index,
                              error_code);
  }
  void ProcessEnd(const unsigned char* text) { calls::ProcessEnd(driver, text); }
  void ProcessClose(int32_t handle) { calls::ProcessClose(driver, handle); }
};

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_FAKE_DRIVER_H_
