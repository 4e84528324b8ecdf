// `talvo settings FILE --sample REPORT`: what each key of the settings reads
// on the first calls of a sample report, and warnings for the fields that
// read blanks, or a date, time or number field that reads something other
// than digits, on every call of the sample.
#ifndef TALVO_TOOLS_SAMPLE_READINGS_H_
#define TALVO_TOOLS_SAMPLE_READINGS_H_

#include <string>

#include "tools/output.h"

namespace talvo::tool {

// How many calls of each kind the readings show.
inline constexpr std::size_t kSampleCallsShown = 3;

// Decodes `sample` with `settings` and writes the readings and warnings to
// `out`; returns the number of warnings. Throws IoError.
int WriteSampleReadings(const std::string& settings, const std::string& sample, Output& out);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_SAMPLE_READINGS_H_
