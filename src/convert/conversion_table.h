// The conversion table QUORCNVT.INT: re-charges outgoing calls by the prefix
// of the dialled number.
#ifndef TALVO_CONVERT_CONVERSION_TABLE_H_
#define TALVO_CONVERT_CONVERSION_TABLE_H_

namespace talvo {

// Loads QUORCNVT.INT from the current directory into the module's table. An
// unreadable file gives an empty table.
void LoadConversionTable();

// Releases the module's table; it is absent afterwards.
void ReleaseConversionTable();

}  // namespace talvo

#endif  // TALVO_CONVERT_CONVERSION_TABLE_H_
