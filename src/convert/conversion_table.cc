#include "convert/conversion_table.h"

namespace talvo {

void LoadConversionTable() {}
void ReleaseConversionTable() {}

}  // namespace talvo
