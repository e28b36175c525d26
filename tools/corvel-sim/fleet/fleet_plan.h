// A fleet's plan: the recordings a command names, where each one's outputs go
// under the output folder, and what an earlier run left of them (the record
// of a run, NAME.run.txt, or of a failure, NAME.failed.txt).
#ifndef CORVEL_SIM_FLEET_PLAN_H
#define CORVEL_SIM_FLEET_PLAN_H

#include <string>
#include <vector>

#include "command_line/options.h"
#include "fleet/fleet_record.h"

namespace corvel::sim {

// One recording of a fleet and its files, by their paths.
struct FleetMember {
  std::string input;
  std::string base;      // OUT_DIR/its folders/its name without extension: every output starts so
  std::string log;       // BASE.est.csv; empty for a tuning
  std::string plot;      // BASE.plot.svg or .html; empty: no plot
  std::string record;    // BASE.run.txt: what the run did, with its options
  std::string failure;   // BASE.failed.txt: why the last run failed
};

// The recordings the options name, in order: the arguments, then the lines
// of --inputs-from (blank lines and '#' lines skipped). Throws UsageError for
// an empty list, a list file that cannot be read, a path that is missing or a
// folder (naming the list's line), a recording named twice.
std::vector<std::string> fleet_inputs(const SimOptions& options);

// Each recording's outputs, its folders mirrored under the output folder
// (an absolute path without its root, '..' as '_up'); a plot of the kind
// --plot asks for (NAME.plot.svg, .html, .png or .pdf). Throws UsageError
// when the output folder is a file, when two recordings would write the same
// outputs (naming both; names that differ only in case count as the same,
// as a case-insensitive file system takes them), when an output or the
// summary would be a recording, or when the folder's summary is another
// kind of fleet's (a run's and a tuning's fleets keep their members'
// outputs apart, NAME.tune.svg, NAME.tune.txt and NAME.tune-failed.txt, but
// not one summary.csv).
std::vector<FleetMember> plan_fleet(const std::vector<std::string>& inputs, const SimOptions& options,
                                    Subcommand subcommand = Subcommand::kRun);

// The options that decide a recording's outputs, as one line: what its
// record keeps, so that a run with other options is not taken as current.
std::string fleet_options_line(const SimOptions& options);

// The member's record when it is current (read_current_record): its run's
// (status done) or its failure's (status failed).
bool read_current_run(const FleetMember& member, const std::string& options_line, FleetResult* result);
bool read_current_failure(const FleetMember& member, const std::string& options_line, FleetResult* result);

// Where a fleet's summary goes, DIR/summary.csv, and its first line (a
// tuning's has the recommendation, order and gain, before the error RMS).
std::string fleet_summary_path(const SimOptions& options);
std::string fleet_summary_header(bool tune);

}  // namespace corvel::sim

#endif
