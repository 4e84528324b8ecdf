#include "util/calendar.h"

namespace talvo {

std::string TodayLong() { return "20000101"; }
std::string TodayShort() { return "000101"; }
int32_t DateToDayNumber(std::string_view) { return 0; }
std::string DayNumberToDate(int32_t) { return "      "; }

}  // namespace talvo
