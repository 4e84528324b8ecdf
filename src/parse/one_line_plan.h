// A one-line layout compiled from a handle's settings when they are loaded.
//
// Most PBXs print a call on one line. For such a layout the general decoder
// still asks, on every line, which of the 87 settings are configured, on
// which line each field stands and whether that line is buffered. The plan
// answers those questions once: it keeps the marker tests that are
// configured, with their texts, and the list of steps that can change
// anything under these settings. A line that starts a normal record is then
// recognised and decoded from the host's own copy, which is not copied again.
//
// The plan takes only what it decides in the same way as the general path:
// local and duty lines, lines that start no record and records of more than
// one line go to the general path. The steps themselves are shared with it.
#ifndef TALVO_PARSE_ONE_LINE_PLAN_H_
#define TALVO_PARSE_ONE_LINE_PLAN_H_

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "config/driver_settings.h"

namespace talvo {

class OneLinePlan {
 public:
  // One configured marker test: `length` bytes of `text` at 0-based `offset`.
  struct Marker {
    uint16_t offset = 0;
    uint8_t length = 0;
    std::array<char, 10> text{};
    bool Matches(std::string_view line) const;
  };

  // The plan of `s`, or nothing when the layout spans more than one line.
  static std::optional<OneLinePlan> Compile(const DriverSettings& s);

  // True iff `line` starts a normal record: every configured line-1 marker
  // matches and every line-1 blank column holds a blank.
  bool StartsNormalRecord(std::string_view line) const;

  // The incoming-call test: IN_CALLS, then every configured marker.
  bool IncomingCall(std::string_view line) const;

  // The steps of a normal call that can change anything under the settings.
  // The others read an unconfigured field and leave everything as it was.
  struct Steps {
    bool date = false;
    bool dialled = false;
    bool caller = false;
    bool times = false;
    bool index = false;
    bool pulses = false;
    bool account = false;
    bool originating = false;
    bool code = false;
    bool disa = false;
  };
  const Steps& steps() const { return steps_; }

  // TG_BASE as the trunk group's step adds it: nothing (empty), a plain
  // number, or anything else (text, or a base that is no plain number),
  // which the step reads as the general path does.
  enum class TrunkGroupBase : uint8_t { kNone, kNumber, kOther };
  TrunkGroupBase trunk_group_base() const { return trunk_group_base_; }
  uint32_t trunk_group_base_value() const { return trunk_group_base_value_; }

  // The private-call test and its codes: PRV_CALLS, then each entry in turn,
  // the first that fails (or PRV_CALLS=N) recording 42 + its number.
  bool PrivateCall(std::string_view line, int32_t& error_code) const;

 private:
  std::array<Marker, 6> start_markers_{};
  uint8_t start_marker_count_ = 0;
  std::array<uint16_t, 6> start_blanks_{};  // 0-based offsets
  uint8_t start_blank_count_ = 0;
  bool incoming_calls_ = false;
  std::array<Marker, 4> incoming_markers_{};
  uint8_t incoming_marker_count_ = 0;
  bool private_calls_ = false;
  std::array<Marker, 4> private_markers_{};
  std::array<bool, 4> private_configured_{};
  Steps steps_;
  TrunkGroupBase trunk_group_base_ = TrunkGroupBase::kNone;
  uint32_t trunk_group_base_value_ = 0;
};

}  // namespace talvo

#endif  // TALVO_PARSE_ONE_LINE_PLAN_H_
