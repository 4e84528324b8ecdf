// A host that drives a Driver exactly as a host drives the exports: one report
// line appended per call, a zero-filled working record for each new record,
// the carried-over line kept as the first line of the next record.
#ifndef TALVO_TESTS_SUPPORT_TEST_HOST_H_
#define TALVO_TESTS_SUPPORT_TEST_HOST_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "talvo/driver.h"

namespace talvo::testing {

// The host's list of buffered lines, with the C operation table.
class HostLineList {
 public:
  HostLineList();
  LineList* list() { return &base_.list; }
  std::vector<std::string> lines;
  // When set, Get refuses every index (a list that fails).
  bool fail_get = false;

 private:
  struct Base {
    LineList list;
    HostLineList* owner;
  } base_;
  std::string copy_;  // the copy handed out by Get
  static int32_t TALVO_CALL Count(LineList* self);
  static int32_t TALVO_CALL Get(LineList* self, int32_t i, const char** text, int32_t* length);
  static int32_t TALVO_CALL Delete(LineList* self, int32_t i);
  static HostLineList& Of(LineList* self);
};

// The carried-over line variable.
class HostCarry {
 public:
  HostCarry();
  HostText* text() { return &base_.text; }
  std::string value;
  bool assigned = false;

 private:
  struct Base {
    HostText text;
    HostCarry* owner;
  } base_;
  static void TALVO_CALL Assign(HostText* self, const char* text, int32_t length);
};

// What one DrvProcessLine call gave back.
struct LineOutcome {
  int32_t result = 0;
  int32_t error_code = 0;
  int32_t call_index = -1;
  std::string call_date;
  std::string carried;  // the carried-over line, empty if none
  CallRecord record{};  // entry 0 after the call
};

class TestHost {
 public:
  // Takes a handle of `driver` and loads `settings_file` (a path on disk or a
  // file of the driver's platform layer). REQUIRES: `driver` outlives the host.
  TestHost(Driver& driver, const std::string& settings_file);
  ~TestHost();
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;

  // Appends `line` and calls DrvProcessLine, following the host protocol.
  LineOutcome Feed(const std::string& line);

  int32_t handle() const { return handle_; }
  int32_t index_base() const { return index_base_; }
  int32_t record_count = 0;
  std::array<CallRecord, TALVO_RECORD_ENTRIES> records{};
  HostLineList list;
  HostCarry carry;
  // Error code passed in on the next call (the protocol passes 0).
  int32_t next_error_code = 0;

 private:
  Driver& driver_;
  int32_t handle_ = 0;
  int32_t index_base_ = 0;
  bool new_record_ = true;
};

// A host short string (length byte + characters) from a C++ string.
std::vector<unsigned char> ShortString(const std::string& text);

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SUPPORT_TEST_HOST_H_
