#include "tools/host_session.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "driver/driver_calls.h"

namespace talvo::tool {
namespace {

// CallIndex passed in: the driver sets -1 or the index when assembly starts,
// so a value still unchanged afterwards says that assembly did not run.
constexpr int32_t kIndexUntouched = INT32_MIN;

RecordKind KindOf(uint32_t flags) {
  // The order in which the driver's final step decides the outcome.
  if ((flags & TALVO_FLAG_INTERNAL) != 0) return RecordKind::kInternal;
  if ((flags & TALVO_FLAG_OUTGOING) != 0) return RecordKind::kOutgoing;
  if ((flags & TALVO_FLAG_INCOMING) != 0) return RecordKind::kIncoming;
  return RecordKind::kOutgoing;  // an appended record always carries one of the three
}

}  // namespace

std::string_view KindWord(RecordKind kind) {
  switch (kind) {
    case RecordKind::kOutgoing: return "outgoing";
    case RecordKind::kIncoming: return "incoming";
    case RecordKind::kInternal: return "internal";
    case RecordKind::kDuty: return "duty";
  }
  return "outgoing";
}

HostSession::HostSession(Env& env, const std::string& settings_name) : driver_(env) {
  static const LineListOps ops = {&HostSession::ListCount, &HostSession::ListGet, &HostSession::ListDelete};
  list_.list.ops = &ops;
  list_.owner = this;
  carry_.text.Assign = &HostSession::CarryAssign;
  carry_.owner = this;
  slots_.reserve(8);

  handle_ = calls::GetHandle(driver_);
  if (handle_ == 0) throw std::runtime_error("the driver has no free handle");
  std::vector<unsigned char> name(1 + settings_name.size());
  name[0] = static_cast<unsigned char>(std::min<std::size_t>(settings_name.size(), 255));
  std::memcpy(name.data() + 1, settings_name.data(), settings_name.size());
  calls::InitDriver(driver_, handle_, name.data(), &index_base_);
}

HostSession::~HostSession() {
  if (started_) End();
  calls::ProcessClose(driver_, handle_);
}

void HostSession::Start() {
  static const unsigned char kNoText[1] = {0};
  calls::ProcessStart(driver_, kNoText);
  started_ = true;
}

void HostSession::End() {
  static const unsigned char kNoText[1] = {0};
  calls::ProcessEnd(driver_, kNoText);
  started_ = false;
}

int32_t HostSession::ListCount(LineList* self) {
  return static_cast<int32_t>(reinterpret_cast<ListBase*>(self)->owner->count_);
}

int32_t HostSession::ListGet(LineList* self, int32_t i, const char** text, int32_t* length) {
  HostSession& s = *reinterpret_cast<ListBase*>(self)->owner;
  if (i < 0 || static_cast<std::size_t>(i) >= s.count_) return 1;
  const std::string_view line = s.slots_[static_cast<std::size_t>(i)].text();
  if (line.size() > static_cast<std::size_t>(INT32_MAX)) return 1;
  *text = line.data();
  *length = static_cast<int32_t>(line.size());
  return 0;
}

int32_t HostSession::ListDelete(LineList* self, int32_t i) {
  HostSession& s = *reinterpret_cast<ListBase*>(self)->owner;
  if (i < 0 || static_cast<std::size_t>(i) >= s.count_) return 1;
  const auto at = static_cast<std::ptrdiff_t>(i);
  const auto end = static_cast<std::ptrdiff_t>(s.count_);
  s.deleted_.push_back(s.slots_[static_cast<std::size_t>(i)].number);
  // The deleted slot moves behind the list, so its storage keeps its capacity.
  std::rotate(s.slots_.begin() + at, s.slots_.begin() + at + 1, s.slots_.begin() + end);
  --s.count_;
  return 0;
}

void HostSession::CarryAssign(HostText* self, const char* text, int32_t length) {
  HostSession& s = *reinterpret_cast<CarryBase*>(self)->owner;
  if (text == nullptr || length <= 0) {
    s.carry_text_.clear();
  } else {
    s.carry_text_.assign(text, static_cast<std::size_t>(length));
  }
}

void HostSession::AddSlot() { slots_.emplace_back(); }

inline void HostSession::Append(std::string_view text, uint64_t number) {
  if (count_ == slots_.size()) AddSlot();
  Slot& slot = slots_[count_++];
  slot.lent = text;
  slot.number = number;
  slot.owned = false;
}

void HostSession::KeepLentLines() {
  for (std::size_t i = 0; i < count_; ++i) {
    Slot& slot = slots_[i];
    if (slot.owned) continue;
    slot.storage.assign(slot.lent.data(), slot.lent.size());
    slot.owned = true;
  }
}

std::span<const std::string> HostSession::ListTexts() {
  if (reject_texts_.size() < count_) reject_texts_.resize(count_);
  for (std::size_t i = 0; i < count_; ++i) {
    const std::string_view text = slots_[i].text();
    reject_texts_[i].assign(text.data(), text.size());
  }
  return std::span<const std::string>(reject_texts_.data(), count_);
}

LineSpan HostSession::ListSpan() const {
  if (count_ == 0) return {};
  return {slots_[0].number, slots_[count_ - 1].number};
}

void HostSession::Feed(std::string_view line, uint64_t line_number, HostSink& sink) {
  if (new_record_) {
    std::memset(&records_[0], 0, sizeof(CallRecord));
    new_record_ = false;
  }
  Append(line, line_number);
  carry_text_.clear();
  deleted_.clear();

  unsigned char date[7] = {};
  int32_t call_index = kIndexUntouched;
  int32_t error_code = 0;
  record_count_ = 0;  // every record is read out right after the call that appends it
  const int32_t result = calls::ProcessLine(driver_, handle_, &list_.list, &carry_.text, records_.data(), date,
                                        &record_count_, &call_index, &error_code);
  if (sink.wants_lines()) sink.OnLine({line_number, result, error_code, !deleted_.empty() && !carry_text_.empty()});
  if (result == TALVO_RESULT_INCOMPLETE) {
    // The lines wait for the next call, after the caller's buffer may have
    // moved on.
    if (!caller_keeps_lines_) KeepLentLines();
    return;
  }

  // The driver is done with the buffered lines: they form the record, or are
  // rejected together.
  const LineSpan span = ListSpan();
  const std::string_view call_date(reinterpret_cast<const char*>(date + 1), std::min<uint8_t>(date[0], 6));
  const bool assembled = call_index != kIndexUntouched;
  const int32_t appended = std::clamp<int32_t>(record_count_, 0, TALVO_RECORD_ENTRIES);

  if (result == TALVO_RESULT_DUTY || (result == TALVO_RESULT_RECORD && appended > 0)) {
    const int32_t n = result == TALVO_RESULT_DUTY ? 1 : appended;
    for (int32_t i = 0; i < n; ++i) {
      const CallRecord& r = records_[static_cast<std::size_t>(i)];
      DecodedRecord out;
      out.kind = result == TALVO_RESULT_DUTY ? RecordKind::kDuty : KindOf(r.Flags);
      out.record = &r;
      out.call_date = call_date;
      out.call_index = assembled ? call_index : -1;
      out.error_code = error_code;
      out.lines = span;
      sink.OnRecord(out);
    }
  } else if (span.count() > 0) {
    Reject out;
    // A line alone in the list that the driver turned away before assembly
    // started no call, and no call was waiting for it.
    const bool lone = count_ == 1 && span.first == line_number && carry_text_.empty();
    out.kind = lone && !assembled ? RejectKind::kSkipped : RejectKind::kRejected;
    out.lines = span;
    out.error_code = error_code;
    out.texts = ListTexts();
    out.first_text = out.texts[0];
    if (assembled) {
      out.record = &records_[0];
      out.call_date = call_date;
      out.call_index = call_index;
    }
    sink.OnReject(out);
  }

  count_ = 0;
  if (!carry_text_.empty()) {
    // The first line of the next record, in its slot's own storage.
    Append({}, deleted_.empty() ? line_number : deleted_.back());
    Slot& slot = slots_[0];
    slot.storage.swap(carry_text_);
    slot.owned = true;
    carry_text_.clear();
  } else {
    for (uint64_t number : deleted_) {
      Reject out;
      out.kind = RejectKind::kDropped;
      out.lines = {number, number};
      sink.OnReject(out);
    }
  }
  new_record_ = true;
}

void HostSession::EndOfInput(HostSink& sink) {
  if (count_ > 0) {
    Reject out;
    out.kind = RejectKind::kBuffered;
    out.lines = ListSpan();
    out.texts = ListTexts();
    out.first_text = out.texts[0];
    sink.OnReject(out);
  }
  count_ = 0;
  new_record_ = true;
}

}  // namespace talvo::tool
