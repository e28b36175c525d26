// A fleet's plan: the recordings a command names, where each one's outputs go
// under the output folder, and what an earlier run left of them (the record
// of a run, NAME.run.txt, or of a failure, NAME.failed.txt).
#ifndef CORVEL_SIM_FLEET_PLAN_H
#define CORVEL_SIM_FLEET_PLAN_H

#include <string>
#include <vector>

#include "command_line/options.h"

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
// (an absolute path without its root, '..' as '_up'). Throws UsageError when
// the output folder is a file, when two recordings would write the same
// outputs (naming both), or when an output would be a recording.
// A tuning's outputs are NAME.tune.svg, NAME.tune.txt and NAME.tune-failed.txt,
// so that a run's and a tuning's fleets may share a folder.
std::vector<FleetMember> plan_fleet(const std::vector<std::string>& inputs, const SimOptions& options,
                                    Subcommand subcommand = Subcommand::kRun);

// The options that decide a recording's outputs, as one line: what its
// record keeps, so that a run with other options is not taken as current.
std::string fleet_options_line(const SimOptions& options);

// What a finished run of one recording found, per signal.
struct FleetSignalResult {
  std::string column;  // the signal's name, or the --column value
  size_t rows = 0;
  double error_rms = 0.0;  // a tuning's: the recommendation's (for columns together, their score)
  int order = 0;           // a tuning's recommendation; 0 for a run
  double gain = 0.0;
};
struct FleetResult {
  std::string status;  // done, failed, up-to-date, missing
  std::string message;  // a failure's one line
  std::vector<FleetSignalResult> signals;
  std::vector<std::string> outputs;
  double seconds = 0.0;
};

// The record a run leaves beside its outputs, and what a later run reads of
// it: its results when the record is current (the same options, the input of
// the same size and time, every output there), else none.
std::string record_text(const FleetMember& member, const std::string& options_line, const FleetResult& result);
bool read_current_record(const FleetMember& member, const std::string& options_line, FleetResult* result);
// The message of the last failure a run left, if any.
bool read_failure(const FleetMember& member, std::string* message);

}  // namespace corvel::sim

#endif
