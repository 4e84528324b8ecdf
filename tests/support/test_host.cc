#include "support/test_host.h"

#include <cstring>
#include <stdexcept>

#include "driver/driver_calls.h"

namespace talvo::testing {

HostLineList::HostLineList() {
  static const LineListOps ops = {&HostLineList::Count, &HostLineList::Get, &HostLineList::Delete};
  base_.list.ops = &ops;
  base_.owner = this;
}

HostLineList& HostLineList::Of(LineList* self) { return *reinterpret_cast<Base*>(self)->owner; }

int32_t HostLineList::Count(LineList* self) { return static_cast<int32_t>(Of(self).lines.size()); }

int32_t HostLineList::Get(LineList* self, int32_t i, const char** text, int32_t* length) {
  HostLineList& l = Of(self);
  if (l.fail_get || i < 0 || static_cast<std::size_t>(i) >= l.lines.size()) return 1;
  l.copy_ = l.lines[static_cast<std::size_t>(i)];
  *text = l.copy_.data();
  *length = static_cast<int32_t>(l.copy_.size());
  return 0;
}

int32_t HostLineList::Delete(LineList* self, int32_t i) {
  HostLineList& l = Of(self);
  if (i < 0 || static_cast<std::size_t>(i) >= l.lines.size()) return 1;
  l.lines.erase(l.lines.begin() + i);
  return 0;
}

HostCarry::HostCarry() {
  base_.text.Assign = &HostCarry::Assign;
  base_.owner = this;
}

void HostCarry::Assign(HostText* self, const char* text, int32_t length) {
  HostCarry& c = *reinterpret_cast<Base*>(self)->owner;
  c.value.assign(text, static_cast<std::size_t>(length));
  c.assigned = true;
}

std::vector<unsigned char> ShortString(const std::string& text) {
  std::vector<unsigned char> s(1 + text.size());
  s[0] = static_cast<unsigned char>(text.size() > 255 ? 255 : text.size());
  std::memcpy(s.data() + 1, text.data(), text.size());
  return s;
}

TestHost::TestHost(Driver& driver, const std::string& settings_file) : driver_(driver) {
  handle_ = calls::GetHandle(driver_);
  if (handle_ == 0) throw std::runtime_error("no free handle");
  const auto name = ShortString(settings_file);
  calls::InitDriver(driver_, handle_, name.data(), &index_base_);
}

TestHost::~TestHost() { calls::ProcessClose(driver_, handle_); }

LineOutcome TestHost::Feed(const std::string& line) {
  if (new_record_) std::memset(&records[0], 0, sizeof(CallRecord));
  list.lines.push_back(line);
  carry.value.clear();
  carry.assigned = false;

  unsigned char date[7] = {};
  LineOutcome out;
  out.error_code = next_error_code;
  next_error_code = 0;
  out.result = calls::ProcessLine(driver_, handle_, list.list(), carry.text(), records.data(), date, &record_count,
                                  &out.call_index, &out.error_code);
  out.call_date.assign(reinterpret_cast<const char*>(date + 1), date[0] > 6 ? 6 : date[0]);
  out.carried = carry.value;
  out.record = records[0];

  if (out.result == TALVO_RESULT_INCOMPLETE) {
    new_record_ = false;
  } else {
    list.lines.clear();
    if (!carry.value.empty()) list.lines.push_back(carry.value);
    new_record_ = true;
  }
  return out;
}

}  // namespace talvo::testing
