// The dry run's reporter: the build's own text up to the plan, then every
// track's plan in words a person can check (and a program can diff),
// instead of building anything.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "report/messages.h"

namespace takeloom {

// A time as editors show it, h:mm:ss.fff.
std::string ClockTime(double seconds);

// The lines that describe `plan` for `job`, made from `edits`.
std::string PlanText(const TrackJob& job, const TrackPlan& plan,
                     const EditList& edits);

class DryRunReporter : public ConsoleReporter {
 public:
  using ConsoleReporter::ConsoleReporter;

  void TrackPlanned(const TrackJob& job, const TrackPlan& plan,
                    const EditList& edits) override;
  void Finished() override;
};

}  // namespace takeloom
