// One simulation of the block over a record, through the engine and the MEX
// file, handed row by row to whoever logs it.
#ifndef CORVEL_SIM_SIMULATE_H
#define CORVEL_SIM_SIMULATE_H

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "host/array_api.h"
#include "output/log_writer.h"
#include "run/run_description.h"
#include "input/record.h"
#include "input/signals.h"

namespace corvel::sim {

// A whole record in memory, for runs that read it many times (tune).
struct Input {
  double t0 = 0.0;
  double solver_step = 0.01;
  std::vector<double> u;
  std::vector<Derivatives> truth;  // empty for recorded data
  std::string description;
  std::string signal_name;  // the signal's column or variable, when it has a name
  std::string column;       // the --column value choosing it alone, when known
  double variation = 0.0;   // the RMS of u about its mean: its weight when columns are tuned together
};

// Builds the input the options ask for, one for each signal of the record
// (each column chosen). Throws InputError or UsageError.
std::vector<Input> make_inputs(const RunDescription& options);
// The same from a record already open (samples in memory, say).
std::vector<Input> read_inputs(Record& record);
// The RMS of samples about their mean, taken one at a time (Welford's
// running sums: no squares of the samples themselves, which could overflow).
// About the mean, so that a constant offset (gravity on an accelerometer's
// axis) changes nothing, as it changes nothing in the block's estimates.
// Samples that are not finite are passed over.
class VariationSum {
 public:
  void add(double x) {
    if (!std::isfinite(x)) return;
    ++count_;
    const double before = mean_;
    mean_ += (x - mean_) / static_cast<double>(count_);
    squares_ += (x - before) * (x - mean_);
  }
  double value() const { return count_ > 0 ? std::sqrt(squares_ / static_cast<double>(count_)) : 0.0; }

 private:
  size_t count_ = 0;
  double mean_ = 0.0, squares_ = 0.0;
};
// The same over a whole signal.
double variation_of(const std::vector<double>& u);

// The same for a record of one signal; a record of several is refused.
Input make_input(const RunDescription& options);

// The rows of a run, known before it starts.
struct RunShape {
  long every = 1;       // solver steps (record samples) per sample hit of the first block
  std::vector<long> every_of;     // the same for each signal's block
  std::vector<size_t> rows_of;    // each block's sample hits
  size_t rows = 0;      // log rows: the solver steps where some block has a hit
  double first_t = 0.0, last_t = 0.0;
  bool multirate() const;
};

// Solver steps between the sample hits of a block of sample time
// `block_step` on a solver of step `solver_step`, by the engine's rule: 1 for
// an inherited (or not positive) sample time, 0 when it is no whole multiple.
long steps_per_sample_hit(double block_step, double solver_step);

// Said once before a run whose gain the block takes but cannot track with:
// 0, negative or not finite (the run goes on, as the model would). Empty for
// any other gain. `named` is how the door names the gain before its value
// ("--gain ", "gain=").
std::string gain_warning(double gain, const std::string& named);

// The sample time P2 of signal `channel`'s block: its own from a --step list,
// else the one --step.
double block_step(const RunDescription& options, size_t channel);

// When the block's own sample time P2 is given with recorded data: a whole
// multiple of the record's step samples every k-th row (said in a note);
// anything else is refused with a UsageError naming both steps. A list of
// sample times, or of gains, needs one for each of the record's signals.
RunShape plan_run(const RunDescription& options, const Record& record, std::vector<std::string>* notes);

// Called for each log row with the truth at its sample (null for data); with
// several signals, once for each at every sample hit, in their order.
using RowSink = std::function<void(const LogRow& row, int order, const Derivatives* truth)>;

// Something the block was fed that the user should hear of: the first
// sample that is not finite.
struct FirstNonFinite {
  bool seen = false;
  std::string where;
  double t = 0.0, u = 0.0;
  size_t channel = 0;  // which of the record's signals
};

// What a run says of it: where it is, which signal (`signal`, as
// " ('x')", empty for a record of one), its time and value.
std::string non_finite_warning(const FirstNonFinite& first, const std::string& signal);

// Runs the block with the options' parameters over the record. Throws
// host::EngineError with the block's own message when a call fails. Each
// line of the call trace goes to `trace`, when it is given, as the call returns. `on_non_finite` is
// called once for each signal, at the first non-finite sample its block is
// given.
void simulate(host::MexFunction entry, const RunDescription& options, Record& record, const RowSink& sink,
              const std::function<void(const FirstNonFinite&)>& on_non_finite = nullptr,
              const std::function<void(const std::string&)>& trace = nullptr);

// The MEX file beside the running program, for this platform.
std::string default_mex_path();

}  // namespace corvel::sim

#endif
