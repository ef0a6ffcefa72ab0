#include "report/html_report.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "report/dry_run.h"

namespace takeloom {
namespace {

std::string Format(const char* format, auto... values) {
  const int length = std::snprintf(nullptr, 0, format, values...);
  std::string text(static_cast<size_t>(std::max(length, 0)), '\0');
  std::snprintf(text.data(), text.size() + 1, format, values...);
  return text;
}

long long Ll(int64_t v) { return static_cast<long long>(v); }

double Seconds(int64_t frames, const TrackFormat& format) {
  return static_cast<double>(frames) / std::max<uint32_t>(format.sample_rate, 1);
}

std::string Clock(int64_t frames, const TrackFormat& format) {
  return ClockTime(Seconds(frames, format));
}

std::string Ms(int64_t frames, const TrackFormat& format) {
  return Format("%.1f ms", 1000.0 * Seconds(frames, format));
}

// m:ss, with tenths where the axis steps by less than a second.
std::string AxisTime(double seconds, bool tenths) {
  const auto tenth = static_cast<long long>(std::llround(seconds * 10));
  if (tenths) {
    return Format("%lld:%02lld.%lld", tenth / 600, tenth / 10 % 60, tenth % 10);
  }
  const long long s = tenth / 10;
  return Format("%lld:%02lld", s / 60, s % 60);
}

// One colour per take name, the same on every track; distinct hues for
// the first twelve, then spread by the golden angle.
std::string TakeColour(size_t take) {
  static constexpr std::array<const char*, 12> kColours = {
      "#4e79a7", "#f28e2b", "#59a14f", "#e15759", "#76b7b2", "#edc948",
      "#b07aa1", "#ff9da7", "#9c755f", "#8cd17d", "#86bcb6", "#d37295"};
  if (take < kColours.size()) return kColours[take];
  return Format("hsl(%d,55%%,55%%)", static_cast<int>((take * 137) % 360));
}

std::string TakeName(const ReportData& data, size_t take) {
  return take < data.take_names.size() ? data.take_names[take] : "";
}

std::string Level(double dbfs) {
  return dbfs > kSilenceDbfs ? Format("%.1f dBFS", dbfs) : "silence";
}

std::string FormatText(const TrackFormat& f) {
  return Format("%u Hz, %u-bit %s, %u ch", f.sample_rate, f.bits_per_sample,
                f.format == SampleFormat::kFloat ? "float" : "integer",
                f.channels);
}

std::string CrossfadeText(const EditTrack& e, const ReportTrack& track) {
  if (e.window_frames <= 0) {
    return e.from_silence ? "hard cut after silence (the take going out "
                            "ended before the window)"
                          : "hard cut";
  }
  std::string text =
      Format("type %d, %lld frames (%s)", e.type, Ll(e.window_frames),
             Ms(e.window_frames, track.format).c_str());
  if (e.shortened != Shortened::kNo) {
    text += Format(", shortened from %lld: the segment it %s is that short",
                   Ll(track.crossfade_frames),
                   e.shortened == Shortened::kBySegmentLeft ? "leaves"
                                                            : "enters");
  }
  return text;
}

struct FlagRef {
  size_t edit, track;
  FlagKind kind;
};

std::vector<FlagRef> AllFlags(const ReportData& data) {
  std::vector<FlagRef> flags;
  for (size_t k = 0; k < data.edits.size(); ++k) {
    for (size_t t = 0; t < data.edits[k].tracks.size(); ++t) {
      for (FlagKind kind : FlagsOf(data.edits[k].tracks[t])) {
        flags.push_back({k, t, kind});
      }
    }
  }
  return flags;
}

class Page {
 public:
  explicit Page(const ReportData& data) : d_(data), flags_(AllFlags(data)) {}
  std::string Render();

 private:
  std::string Flag(const FlagRef& f, bool with_edit) const;
  void Summary();
  void FlagList();
  void Timeline();
  void SegmentTables();
  void Edit(size_t k);
  void Wave(size_t k, size_t t);
  void Number(int n) {
    char text[16];
    const auto end = std::to_chars(text, text + sizeof text, n).ptr;
    h_.append(text, end);
  }

  const ReportData& d_;
  std::vector<FlagRef> flags_;
  std::string h_;
};

constexpr std::string_view kStyle = R"(
body{font:14px/1.4 system-ui,-apple-system,"Segoe UI",Roboto,Helvetica,Arial,sans-serif;color:#222;margin:20px auto;max-width:1100px;padding:0 16px;-webkit-print-color-adjust:exact;print-color-adjust:exact}
h1{font-size:22px;margin:0 0 2px}h2{font-size:18px;border-bottom:1px solid #bbb;margin:26px 0 8px}h3{font-size:16px;margin:0 0 4px}
.meta{color:#555;margin:0}code{font-size:12px;background:#f3f3f3;padding:0 3px;overflow-wrap:anywhere}
table{border-collapse:collapse;margin:4px 0 12px;font-size:13px}th,td{border:1px solid #d5d5d5;padding:2px 6px;text-align:left;vertical-align:top}th{background:#f3f3f3}
td.n{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap}
dl.sum{display:grid;grid-template-columns:max-content auto;gap:1px 14px;margin:0}dt{color:#555}dd{margin:0}
.flag{display:inline-block;background:#fde6e6;color:#8a1111;border:1px solid #e7a0a0;border-radius:3px;padding:0 5px;margin:1px 2px;font-size:12px}
.flag-short{background:#fff3d3;color:#6b4800;border-color:#e2c060}.flag-runout,.flag-silence{background:#e8eefc;color:#1d3a7a;border-color:#9fb4e6}
ul.flags{padding-left:18px;margin:4px 0}ul.flags li{margin:1px 0}
.legend span{display:inline-block;margin-right:14px}.sw{display:inline-block;width:12px;height:12px;border:1px solid #0004;vertical-align:-2px;margin-right:4px}
svg{display:block;max-width:100%;height:auto}svg text{font:11px sans-serif;fill:#333}
.edit{border-top:1px solid #bbb;padding-top:8px;margin-top:14px}
.waves{display:flex;flex-wrap:wrap;gap:6px 14px}figure{margin:0;width:330px}figcaption{font-size:12px;color:#444}
a{color:#1d4fa0}
@page{margin:12mm}
@media print{body{max-width:none;margin:0;padding:0;font-size:11px}table{font-size:10px}.edit,figure,tr,#timeline svg{break-inside:avoid;page-break-inside:avoid}h2,h3{break-after:avoid;page-break-after:avoid}a{color:inherit;text-decoration:none}}
)";

std::string Page::Flag(const FlagRef& f, bool with_edit) const {
  const ReportTrack& track = d_.tracks[f.track];
  const std::string text =
      FlagText(f.kind, d_.edits[f.edit].tracks[f.track], track, d_);
  return Format("<span class=\"flag %s\" data-edit=\"%zu\" data-track=\"%s\">",
                std::string(FlagClass(f.kind)).c_str(), f.edit + 1,
                EscapeHtml(track.base).c_str()) +
         (with_edit ? Format("edit %zu: ", f.edit + 1) : "") +
         EscapeHtml(text) + "</span>";
}

void Page::Summary() {
  double session = 0;
  for (const ReportTrack& t : d_.tracks) {
    session = std::max(session, Seconds(t.length, t.format));
  }
  h_ += "<section id=\"summary\"><h2>Summary</h2><dl class=\"sum\">";
  h_ += Format("<dt>Tracks</dt><dd>%zu</dd><dt>Takes</dt><dd>%zu</dd>"
               "<dt>Edit points</dt><dd>%zu</dd>",
               d_.tracks.size(), d_.take_names.size(), d_.edits.size());
  h_ += "<dt>Length</dt><dd>" + ClockTime(session) + "</dd>";
  h_ += std::string("<dt>Run</dt><dd>") +
        (d_.dry_run ? "dry run: nothing built" : "build") + "</dd>";
  h_ += "<dt>Command</dt><dd><code>" + EscapeHtml(d_.command_line) +
        "</code></dd><dt>Version</dt><dd>" + EscapeHtml(d_.version) +
        "</dd></dl>";
  h_ += "<table><tr><th>Track</th><th>Output</th><th>Format</th>"
        "<th>Length</th><th>Crossfade</th><th>Flags</th></tr>";
  for (size_t t = 0; t < d_.tracks.size(); ++t) {
    const ReportTrack& track = d_.tracks[t];
    h_ += "<tr><td>" + EscapeHtml(track.base) + "</td><td>" +
          EscapeHtml(track.output) + "</td><td>" + FormatText(track.format) +
          "</td>";
    h_ += Format("<td class=\"n\">%lld frames (%s)</td>", Ll(track.length),
                 Clock(track.length, track.format).c_str());
    h_ += track.crossfade_type == 0 || track.crossfade_frames == 0
              ? std::string("<td>type 0: hard cuts</td>")
              : Format("<td>type %d, %.1f ms (%lld frames)</td>",
                       track.crossfade_type,
                       static_cast<double>(track.crossfade_ms),
                       Ll(track.crossfade_frames));
    h_ += "<td>";
    for (const FlagRef& f : flags_) {
      if (f.track == t) h_ += Flag(f, true);
    }
    h_ += "</td></tr>";
  }
  h_ += "</table></section>";
}

void Page::FlagList() {
  h_ += Format("<section id=\"flags\"><h2>Flags (%zu)</h2>", flags_.size());
  if (flags_.empty()) {
    h_ += "<p>None: no level steps, clipping, fades from silence, shortened "
          "crossfades or takes running out.</p></section>";
    return;
  }
  h_ += "<ul class=\"flags\">";
  for (const FlagRef& f : flags_) {
    h_ += Format("<li><a href=\"#edit-%zu\">Edit %zu</a>, track ", f.edit + 1,
                 f.edit + 1) +
          EscapeHtml(d_.tracks[f.track].base) + ": " + Flag(f, false) +
          "</li>";
  }
  h_ += "</ul></section>";
}

void Page::Timeline() {
  constexpr double kLabel = 150, kPlot = 830, kRow = 20, kGap = 6, kTop = 26;
  double session = 0;
  for (const ReportTrack& t : d_.tracks) {
    session = std::max(session, Seconds(t.length, t.format));
  }
  if (session <= 0) session = 1;
  const auto x = [&](double seconds) { return kLabel + seconds / session * kPlot; };
  const double height = kTop + d_.tracks.size() * (kRow + kGap) + 4;
  h_ += "<section id=\"timeline\"><h2>Timeline</h2><p class=\"legend\">";
  for (size_t i = 0; i < d_.take_names.size(); ++i) {
    h_ += "<span><i class=\"sw\" style=\"background:" + TakeColour(i) +
          "\"></i>" + EscapeHtml(d_.take_names[i]) + "</span>";
  }
  h_ += "<span><i class=\"sw\" style=\"background:#fff;border-style:dashed\">"
        "</i>silence</span><span><i class=\"sw\" style=\"background:#222\">"
        "</i>crossfade window</span></p>";
  h_ += Format("<svg viewBox=\"0 0 1000 %.0f\" width=\"1000\" height=\"%.0f\" "
               "role=\"img\" aria-label=\"Timeline of every track\">",
               height, height);
  h_ += "<defs><pattern id=\"hatch\" width=\"6\" height=\"6\" "
        "patternUnits=\"userSpaceOnUse\" patternTransform=\"rotate(45)\">"
        "<rect width=\"6\" height=\"6\" fill=\"#fff\"/><line x1=\"0\" y1=\"0\" "
        "x2=\"0\" y2=\"6\" stroke=\"#bbb\" stroke-width=\"2\"/></pattern>"
        "</defs>";
  // The axis: a step that gives at most ten ticks.
  static constexpr std::array<double, 14> kSteps = {
      0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 1800};
  double step = 3600;
  for (double s : kSteps) {
    if (session / s <= 10) {
      step = s;
      break;
    }
  }
  const double bottom = height - 4;
  for (double s = 0; s <= session + 1e-9; s += step) {
    h_ += Format("<line x1=\"%.1f\" y1=\"12\" x2=\"%.1f\" y2=\"%.0f\" "
                 "stroke=\"#eee\"/><text x=\"%.1f\" y=\"10\" "
                 "text-anchor=\"middle\">%s</text>",
                 x(s), x(s), bottom, x(s), AxisTime(s, step < 1).c_str());
  }
  double last_label = -100;
  for (size_t k = 0; k < d_.edits.size(); ++k) {
    const double at = x(d_.edits[k].seconds);
    h_ += Format("<line x1=\"%.1f\" y1=\"14\" x2=\"%.1f\" y2=\"%.0f\" "
                 "stroke=\"#888\" stroke-dasharray=\"2 2\"><title>edit %zu at "
                 "%s</title></line>",
                 at, at, bottom, k + 1, ClockTime(d_.edits[k].seconds).c_str());
    if (at - last_label >= 16) {
      h_ += Format("<a href=\"#edit-%zu\"><text x=\"%.1f\" y=\"23\" "
                   "text-anchor=\"middle\" style=\"font-size:9px\">%zu</text>"
                   "</a>",
                   k + 1, at, k + 1);
      last_label = at;
    }
  }
  for (size_t t = 0; t < d_.tracks.size(); ++t) {
    const ReportTrack& track = d_.tracks[t];
    const double y = kTop + t * (kRow + kGap);
    const auto rect = [&](int64_t a, int64_t b, const std::string& fill,
                          const std::string& title) {
      const double x0 = x(Seconds(a, track.format));
      const double w = std::max(x(Seconds(b, track.format)) - x0, 1.0);
      h_ += Format("<rect x=\"%.2f\" y=\"%.0f\" width=\"%.2f\" height=\"%.0f\" "
                   "fill=\"%s\" stroke=\"#fff\" stroke-width=\"0.5\"><title>",
                   x0, y, w, kRow, fill.c_str()) +
            title +
            Format(", frames %lld-%lld (%s-%s)</title></rect>", Ll(a), Ll(b),
                   Clock(a, track.format).c_str(),
                   Clock(b, track.format).c_str());
    };
    const std::string base = EscapeHtml(track.base);
    h_ += Format("<text x=\"4\" y=\"%.0f\">", y + 14) + base + "</text>";
    if (track.lead_in_silence > 0) {
      rect(0, track.lead_in_silence, "url(#hatch)",
           base + ": silence before the first edit point");
    }
    for (size_t k = 0; k < track.segments.size(); ++k) {
      const ReportSegment& s = track.segments[k];
      if (s.end <= s.start) continue;
      const int64_t audio_end = s.silent_from >= 0 ? s.silent_from : s.end;
      const std::string name = EscapeHtml(TakeName(d_, s.take));
      rect(s.start, audio_end, TakeColour(s.take),
           base + Format(": edit %zu, ", k + 1) + name);
      if (audio_end < s.end) {
        rect(audio_end, s.end, "url(#hatch)",
             base + Format(": edit %zu, silence where ", k + 1) + name +
                 " runs out");
      }
    }
    for (const ReportFade& f : track.fades) {
      rect(f.start, f.start + f.frames, "#222",
           base + Format(": crossfade of edit %zu, %lld frames",
                         f.edit + 1, Ll(f.frames)));
    }
  }
  h_ += "</svg></section>";
}

void Page::SegmentTables() {
  h_ += "<section id=\"segments\"><h2>Segments</h2>";
  for (const ReportTrack& track : d_.tracks) {
    h_ += "<h3>" + EscapeHtml(track.base) + "</h3><table><tr><th>Edit</th>"
          "<th>Take</th><th>File</th><th>Frames</th><th>Time</th>"
          "<th>Silence from</th></tr>";
    if (track.lead_in_silence > 0) {
      h_ += Format("<tr><td></td><td>silence</td><td></td><td class=\"n\">"
                   "0-%lld</td><td class=\"n\">%s-%s</td><td></td></tr>",
                   Ll(track.lead_in_silence), Clock(0, track.format).c_str(),
                   Clock(track.lead_in_silence, track.format).c_str());
    }
    for (size_t k = 0; k < track.segments.size(); ++k) {
      const ReportSegment& s = track.segments[k];
      if (s.end <= s.start) continue;
      h_ += Format("<tr><td><a href=\"#edit-%zu\">%zu</a></td><td>", k + 1,
                   k + 1) +
            EscapeHtml(TakeName(d_, s.take)) + "</td><td>" +
            EscapeHtml(s.take < track.take_paths.size()
                           ? track.take_paths[s.take]
                           : "") +
            Format("</td><td class=\"n\">%lld-%lld</td><td class=\"n\">%s-%s"
                   "</td><td class=\"n\">%s</td></tr>",
                   Ll(s.start), Ll(s.end), Clock(s.start, track.format).c_str(),
                   Clock(s.end, track.format).c_str(),
                   s.silent_from >= 0
                       ? Format("%lld (%s)", Ll(s.silent_from),
                                Clock(s.silent_from, track.format).c_str())
                             .c_str()
                       : "");
    }
    h_ += "</table>";
  }
  h_ += "</section>";
}

void Page::Wave(size_t k, size_t t) {
  const EditTrack& e = d_.edits[k].tracks[t];
  const ReportTrack& track = d_.tracks[t];
  constexpr double kWidth = 2.0 * kWaveColumns, kLane = 36, kLaneGap = 14;
  const auto x = [&](int64_t frame) {
    return static_cast<double>(frame - e.view_start) * kWidth /
           static_cast<double>(std::max<int64_t>(e.view_frames, 1));
  };
  const std::string base = EscapeHtml(track.base);
  h_ += Format("<figure><svg viewBox=\"0 0 %.0f %.0f\" width=\"%.0f\" "
               "height=\"%.0f\" role=\"img\"><title>",
               kWidth + 30, 3 * (kLane + kLaneGap), kWidth + 30,
               3 * (kLane + kLaneGap)) +
        base +
        Format(", edit %zu: frames %lld-%lld shown, window %lld-%lld</title>",
               k + 1, Ll(e.view_start), Ll(e.view_start + e.view_frames),
               Ll(e.window_start), Ll(e.window_start + e.window_frames));
  h_ += "<g transform=\"translate(30,0)\">";
  const double x0 = x(e.window_start);
  if (e.window_frames > 0) {
    h_ += Format("<rect x=\"%.1f\" y=\"0\" width=\"%.1f\" height=\"%.0f\" "
                 "fill=\"#f5d76e\" opacity=\"0.45\"/>",
                 x0, std::max(x(e.window_start + e.window_frames) - x0, 1.0),
                 3 * (kLane + kLaneGap));
  } else {
    h_ += Format("<line x1=\"%.1f\" y1=\"0\" x2=\"%.1f\" y2=\"%.0f\" "
                 "stroke=\"#d4a500\" stroke-width=\"2\"/>",
                 x0, x0, 3 * (kLane + kLaneGap));
  }
  struct Lane {
    const char* label;
    const Columns* columns;
    std::string colour;
  };
  const std::array<Lane, 3> lanes = {
      Lane{"out", &e.out, TakeColour(e.from)},
      Lane{"in", &e.in, TakeColour(e.take)},
      Lane{"result", &e.result, "#333"}};
  for (size_t l = 0; l < lanes.size(); ++l) {
    const double top = l * (kLane + kLaneGap) + 12;
    h_ += Format("<text x=\"-28\" y=\"%.0f\">%s</text>", top + 22,
                 lanes[l].label);
    h_ += Format("<line x1=\"0\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\" "
                 "stroke=\"#ddd\"/>",
                 top + kLane / 2, kWidth, top + kLane / 2);
    // Columns on a 0..100 scale stretched over the lane: whole numbers
    // keep a session of thousands of waveforms small.
    h_ += Format("<path transform=\"translate(0,%.0f) scale(2,%.2f)\" "
                 "stroke=\"%s\" stroke-width=\"0.8\" fill=\"none\" d=\"",
                 top, kLane / 100, lanes[l].colour.c_str());
    // One vertical stroke per column, each a relative move from the end of
    // the last: a few bytes a column.
    const Columns& c = *lanes[l].columns;
    int at = 0;
    for (size_t i = 0; i < c.low.size(); ++i) {
      const auto y = [](float v) {
        return static_cast<int>(std::lround(50 - 50 * std::clamp(v, -1.0f, 1.0f)));
      };
      const int high = y(c.high[i]);
      const int low = std::max(y(c.low[i]), high + 1);
      h_ += i == 0 ? "M0.5 " : "m1 ";
      Number(high - at);
      h_ += 'v';
      Number(low - high);
      at = low;
    }
    h_ += "\"/>";
  }
  h_ += "</g></svg><figcaption>" + base + ": " +
        EscapeHtml(TakeName(d_, e.from)) + " out, " +
        EscapeHtml(TakeName(d_, e.take)) + " in, " +
        Format("%s either side", Ms(e.window_start - e.view_start,
                                    track.format).c_str()) +
        "</figcaption></figure>";
}

void Page::Edit(size_t k) {
  const ReportEdit& edit = d_.edits[k];
  h_ += Format("<section class=\"edit\" id=\"edit-%zu\"><h3>Edit %zu at %s"
               "</h3><p class=\"meta\">",
               k + 1, k + 1, ClockTime(edit.seconds).c_str());
  if (k == 0) {
    h_ += "The tracks begin: <b>" + EscapeHtml(TakeName(d_, edit.take_in)) +
          "</b> comes in.";
  } else if (k + 1 == d_.edits.size()) {
    h_ += "The end of the tracks: <b>" +
          EscapeHtml(TakeName(d_, edit.take_out)) + "</b> goes out.";
  } else {
    h_ += "Going out: <b>" + EscapeHtml(TakeName(d_, edit.take_out)) +
          "</b>, coming in: <b>" + EscapeHtml(TakeName(d_, edit.take_in)) +
          "</b>.";
  }
  h_ += "</p>";
  bool any_measured = false;
  bool any_row = false;
  for (const EditTrack& e : edit.tracks) {
    any_measured |= e.measured;
    any_row |= e.measured || e.runs_out_at >= 0;
  }
  if (any_row) {
    h_ += "<table><tr><th>Track</th><th>Out &rarr; in</th><th>Crossfade</th>"
          "<th>Before</th><th>After</th><th>Step</th><th>Clipped</th>"
          "<th>Flags</th></tr>";
    for (size_t t = 0; t < edit.tracks.size(); ++t) {
      const EditTrack& e = edit.tracks[t];
      const ReportTrack& track = d_.tracks[t];
      if (!e.measured && e.runs_out_at < 0) continue;
      h_ += "<tr><td>" + EscapeHtml(track.base) + "</td>";
      if (e.measured) {
        const double step = LevelStep(e.level_before, e.level_after);
        h_ += "<td>" + EscapeHtml(track.take_paths[e.from]) + " &rarr; " +
              EscapeHtml(track.take_paths[e.take]) + "</td><td>" +
              CrossfadeText(e, track) + "</td>" +
              Format("<td class=\"n\">%s</td><td class=\"n\">%s</td>"
                     "<td class=\"n\">%s</td><td class=\"n\">%lld</td>",
                     Level(e.level_before).c_str(),
                     Level(e.level_after).c_str(),
                     step != 0 ? Format("%+.1f dB", step).c_str() : "",
                     Ll(e.clipped));
      } else {
        h_ += "<td colspan=\"6\">no take goes out here</td>";
      }
      h_ += "<td>";
      for (FlagKind kind : FlagsOf(e)) h_ += Flag({k, t, kind}, false);
      h_ += "</td></tr>";
    }
    h_ += "</table>";
  }
  if (any_measured) {
    h_ += "<div class=\"waves\">";
    for (size_t t = 0; t < edit.tracks.size(); ++t) {
      if (edit.tracks[t].measured) Wave(k, t);
    }
    h_ += "</div>";
  }
  h_ += "</section>";
}

std::string Page::Render() {
  h_ = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
       "<meta name=\"viewport\" content=\"width=device-width\">"
       "<title>Takeloom report</title><style>";
  h_ += kStyle;
  h_ += "</style></head><body><h1>Takeloom report</h1><p class=\"meta\">" +
        EscapeHtml(d_.version) + (d_.dry_run ? ", dry run" : ", build") +
        "</p>";
  Summary();
  FlagList();
  Timeline();
  SegmentTables();
  h_ += "<section id=\"edits\"><h2>Edit points</h2><p class=\"meta\">Each "
        "waveform shows the take going out, the take coming in and the "
        "result, the crossfade window shaded; levels are RMS over 50 ms "
        "before and after the window.</p>";
  for (size_t k = 0; k < d_.edits.size(); ++k) Edit(k);
  h_ += "</section></body></html>\n";
  return std::move(h_);
}

}  // namespace

std::string EscapeHtml(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string_view FlagClass(FlagKind kind) {
  switch (kind) {
    case FlagKind::kLevelStep: return "flag-step";
    case FlagKind::kClipping: return "flag-clip";
    case FlagKind::kFromSilence: return "flag-silence";
    case FlagKind::kShortened: return "flag-short";
    case FlagKind::kRunsOut: return "flag-runout";
  }
  return "";
}

std::string FlagText(FlagKind kind, const EditTrack& e,
                     const ReportTrack& track, const ReportData& data) {
  switch (kind) {
    case FlagKind::kLevelStep:
      return Format("level step %+.1f dB",
                    LevelStep(e.level_before, e.level_after));
    case FlagKind::kClipping:
      return Format("crossfade clips %lld samples", Ll(e.clipped));
    case FlagKind::kFromSilence:
      return "fades in from silence: " + TakeName(data, e.from) +
             " has run out";
    case FlagKind::kShortened:
      return Format("crossfade shortened to %lld frames (%s)",
                    Ll(e.window_frames), Ms(e.window_frames, track.format).c_str());
    case FlagKind::kRunsOut:
      return TakeName(data, e.take) + " runs out at " +
             Clock(e.runs_out_at, track.format) + ", silence follows";
  }
  return "";
}

std::string RenderReport(const ReportData& data) { return Page(data).Render(); }

}  // namespace takeloom
