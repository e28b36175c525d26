// corvel-sim tune: the gain and order chosen from the data, printed with the
// command that runs them, and the error RMS against the gain plotted.
#ifndef CORVEL_SIM_TUNE_COMMAND_H
#define CORVEL_SIM_TUNE_COMMAND_H

#include "command_line/options.h"
#include "output/output_file.h"
#include "tune/tune.h"

namespace corvel::sim {

// What a tuning found: each signal's inputs, each one's own search when
// there are several, the search of all together (the one search of a single
// signal), and the plot it put in place (empty: none).
struct TuningReport {
  std::vector<Input> inputs;
  std::vector<TuneResult> each;
  TuneResult together;
  std::string plot;
  std::vector<std::string> column_plots;  // each column's own search, when several were tuned together
};

// The tuning the options ask for, its plot put in place. Throws as a run does,
// and TuneError for data it cannot tune on. `before_placing` runs before the
// plots are put in place (OutputSet::commit).
TuningReport tune_recording(SimOptions options, bool progress, const CommitCheck& before_placing = {});

// corvel-sim tune of one record: the tuning, then its tables, recommendations
// and commands on standard output. Returns the exit status; throws
// UsageError, InputError, OutputError or TuneError.
int tune_command(SimOptions options);

}  // namespace corvel::sim

#endif
