// One run of the block, as every door onto it describes it: what to read, the
// block's parameters, the solver, what to write. corvel-sim's command line
// fills one in (its options add only what a command line needs); the Python
// package and a fleet of recordings fill in their own.
#ifndef CORVEL_SIM_RUN_DESCRIPTION_H
#define CORVEL_SIM_RUN_DESCRIPTION_H

#include <memory>
#include <string>
#include <vector>

#include "input/record.h"
#include "input/record_source.h"

namespace corvel::sim {

// The block's dialog parameters, passed to it as given.
struct BlockParameters {
  double gain = 20.0;  // P1
  double step = 0.01;  // P2, -1 for inherited
  double order = 3.0;  // P3
  // Each signal's block its own P2, in the order of the record's signals (a
  // multirate model); empty: every block takes `step`.
  std::vector<double> steps;
  // Each signal's block its own P1, in the same order (channels of unlike
  // bandwidth); empty: every block takes `gain`.
  std::vector<double> gains;
};

// The gain P1 of signal `channel`'s block: its own from a list of gains,
// else the one gain.
double block_gain(const BlockParameters& block, size_t channel);

struct RunDescription : RecordSource, BlockParameters {
  bool variable_step = false;  // a variable-step solver: an inherited sample time becomes continuous
  double warmup = -1.0;        // seconds left out of the error table; < 0: the first third
  bool strict = false;         // a non-finite input sample fails the run
  std::string mex;             // the MEX file; empty: the one beside the program

  // What the run writes.
  std::string out = "corvel-out.csv";
  std::vector<std::string> log_columns;  // the log's columns kept, by their header names; empty: all
  std::string plot = "corvel-plot.svg";  // empty: no plot; .html: the interactive page
  double plot_window_start = 0.0, plot_window_end = 0.0;  // equal: the whole run
  std::vector<std::string> plot_panels;  // u, e, d1.. to draw; empty: every one
  std::string trace;                     // "-": standard error; a path: that file
  bool progress = true;                  // a progress bar while a terminal watches
};

// The record the run reads, paced by its first block's sample time.
std::unique_ptr<Record> open_record(const RunDescription& run);

}  // namespace corvel::sim

#endif
