// The run's report as one self-contained HTML page: inline CSS and SVG,
// nothing to fetch and no script, printable. Pure: values in, text out.
#pragma once

#include <string>
#include <string_view>

#include "report/report_data.h"

namespace takeloom {

// `text` with &, <, >, " and ' written as character references, for
// element text and attribute values alike.
std::string EscapeHtml(std::string_view text);

// The short text of flag `kind` raised by `edit` on `track`.
std::string FlagText(FlagKind kind, const EditTrack& edit,
                     const ReportTrack& track, const ReportData& data);

// The class that marks a flag of `kind` besides "flag": flag-step,
// flag-clip, flag-silence, flag-short, flag-runout.
std::string_view FlagClass(FlagKind kind);

// The whole page.
std::string RenderReport(const ReportData& data);

}  // namespace takeloom
