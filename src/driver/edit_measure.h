// The report's measurements: every track planned again, and around each
// edit point only the frames of its window and 50 ms either side read from
// the takes, blended as the build blends them, and reduced to waveform
// columns, levels and counts. Memory stays flat whatever the takes' length.
#pragma once

#include <string>
#include <vector>

#include "driver/assemble.h"
#include "driver/setup.h"
#include "error.h"
#include "report/report_data.h"

namespace takeloom {

// Whether the sum a blend forms (on the decode scale of `format`: 16- and
// 24-bit on the 24-bit scale) lies beyond what the format can hold, so that
// the blend is held at full scale (integers) or exceeds it (floats).
bool BeyondFullScale(double sum, const TrackFormat& format);

// Plans every track of `jobs` and measures it at every edit point into
// `data` (all but its version and command line). kTakeChanged when a take
// cannot be read.
Error MeasureReport(const BuildState& state, const std::vector<TrackJob>& jobs,
                    ReportData* data);

}  // namespace takeloom
