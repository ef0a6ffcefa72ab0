#include "driver/report_file.h"

#include <cerrno>
#include <cstring>
#include <span>

#include "driver/edit_measure.h"
#include "driver/usage.h"
#include "os/file.h"
#include "os/syscalls.h"
#include "report/html_report.h"
#include "wav/track_writer.h"

namespace takeloom {
namespace {

Error CannotWrite(const std::string& name, const std::string& partial) {
  const std::string reason = std::strerror(errno);
  Sys().Unlink(partial.c_str());
  return {Fault::kCannotWrite, name, 0, partial + ": " + reason};
}

}  // namespace

std::string QuotedCommandLine(const std::vector<std::string>& args) {
  std::string line = "takeloom";
  for (const std::string& arg : args) {
    const bool plain =
        !arg.empty() && arg.find_first_not_of(
                            "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTU"
                            "VWXYZ0123456789_-./=:,+@%") == std::string::npos;
    line += ' ';
    if (plain) {
      line += arg;
      continue;
    }
    line += '\'';
    for (char c : arg) line += c == '\'' ? std::string("'\\''") : std::string(1, c);
    line += '\'';
  }
  return line;
}

Error WriteReportPartial(const std::string& path, const BuildState& state,
                         const std::vector<TrackJob>& jobs,
                         const std::vector<std::string>& args,
                         PendingOutput* pending) {
  ReportData data;
  if (Error err = MeasureReport(state, jobs, &data); !err.ok()) return err;
  data.version = std::string(kVersionText.substr(0, kVersionText.size() - 1));
  data.command_line = QuotedCommandLine(args);
  const std::string html = RenderReport(data);
  const std::string partial = path + std::string(kPartialSuffix);
  File file;
  if (!file.CreateNew(partial) ||
      !file.WriteAt(0, std::as_bytes(std::span(html))) || !file.Sync()) {
    return CannotWrite(path, partial);
  }
  const std::optional<Identity> id = file.Id();
  if (!id || !file.Close()) return CannotWrite(path, partial);
  *pending = {partial, path, *id};
  return {};
}

Error WriteReportAlone(const std::string& path, const BuildState& state,
                       const std::vector<TrackJob>& jobs,
                       const std::vector<std::string>& args) {
  PendingOutput pending;
  if (Error err = WriteReportPartial(path, state, jobs, args, &pending);
      !err.ok()) {
    return err;
  }
  if (Sys().Rename(pending.partial.c_str(), path.c_str()) != 0) {
    return CannotWrite(path, pending.partial);
  }
  return {};
}

}  // namespace takeloom
