#include "tools/report_stream.h"

namespace talvo::tool {

bool TelnetParser::Consume(unsigned char c, std::string* reply) {
  switch (state_) {
    case State::kData:
      if (c != kIac) return true;
      state_ = State::kIac;
      return false;
    case State::kIac:
      if (c == kIac) {
        state_ = State::kData;
        return true;  // an escaped 255
      }
      if (c >= kWill && c <= kDont) {
        verb_ = c;
        state_ = State::kOption;
      } else {
        state_ = c == kSb ? State::kSub : State::kData;
      }
      return false;
    case State::kOption:
      if (reply != nullptr && (verb_ == kDo || verb_ == kWill)) {
        const unsigned char answer[3] = {kIac, verb_ == kDo ? kWont : kDont, c};
        reply->append(reinterpret_cast<const char*>(answer), sizeof answer);
      }
      state_ = State::kData;
      return false;
    case State::kSub:
      if (c == kIac) state_ = State::kSubIac;
      return false;
    case State::kSubIac:
      state_ = c == kSe ? State::kData : State::kSub;
      return false;
  }
  return false;
}

void ReportSplitter::Reset(StreamPosition start, bool after_cr) {
  parser_ = TelnetParser();
  line_.clear();
  start_ = start;
  after_cr_ = after_cr;
}

}  // namespace talvo::tool
