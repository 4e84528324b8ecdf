#include "util/text.h"

namespace talvo {

std::string_view TrimBlanks(std::string_view text) { return text; }
std::string_view CutText(std::string_view text, int32_t, int32_t) { return text; }
std::string UpperText(std::string_view text) { return std::string(text); }
IntegerParse ParseInteger(std::string_view) { return {}; }
RealParse ParseReal(std::string_view) { return {}; }
bool IsIntegerText(std::string_view) { return false; }
bool IsAlphanumericText(std::string_view) { return true; }
int32_t TextToIntDef(std::string_view) { return 0; }
std::string RepeatChar(int32_t, char) { return {}; }
std::string PadRight(std::string_view text, int32_t, char) { return std::string(text); }
std::string IntToTextWidth(int32_t, int32_t) { return {}; }
std::string IntToTextZeroPad(int32_t, int32_t) { return {}; }
std::string Int64ToText(int64_t) { return {}; }
int CompareText(std::string_view a, std::string_view b) { return a.compare(b); }

}  // namespace talvo
