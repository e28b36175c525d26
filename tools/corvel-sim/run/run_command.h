// corvel-sim run: the block over a record, through the engine and the MEX
// file, with its log, its plot, its call trace and (for a built-in signal)
// the table of errors against the true derivatives. Every output is put in
// place at the end, all of them or none.
#ifndef CORVEL_SIM_RUN_COMMAND_H
#define CORVEL_SIM_RUN_COMMAND_H

#include <string>
#include <vector>

#include "command_line/options.h"
#include "output/error_table.h"
#include "output/output_file.h"
#include "run/run_description.h"

namespace corvel::sim {

// What a run did, for the one line it prints or a fleet's summary.
struct SignalReport {
  std::string name;        // the column's, when the record has several
  size_t rows = 0;         // its block's sample hits
  double error_rms = 0.0;  // RMS of the error output (the one-step prediction error) after the warm-up
  size_t filled = 0;       // inputs that filled a gap (--missing hold or interpolate)
  double change_rms = 0.0;  // RMS of its input's change from one sample hit to the next, after the warm-up
  bool worse_than_holding = false;  // its block predicts it worse than holding the last sample would
};
struct RunReport {
  std::string description;
  size_t rows = 0;  // log rows
  int order = 0;
  bool multirate = false;
  std::vector<SignalReport> signals;
  std::string log;
  std::vector<std::string> plots;
  std::vector<std::string> outputs;  // every file it put in place
  std::vector<ErrorRow> errors;      // a built-in signal's estimates against the truth
  double errors_from = 0.0;
};

// The run a description asks for, its outputs put in place together; notes
// and warnings go to standard error. Throws UsageError, InputError,
// OutputError or the engine's error with the block's own message, leaving
// none of its outputs. `before_placing` runs once every output is complete,
// before any is put in place (OutputSet::commit).
RunReport run_recording(const RunDescription& run, const CommitCheck& before_placing = {});

// corvel-sim run of one record: the run, then its line and (for a built-in
// signal) the error table on standard output. Returns the exit status.
int run_command(const SimOptions& options);

}  // namespace corvel::sim

#endif
