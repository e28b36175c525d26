// corvel-sim tune: the gain and the order chosen from the data alone. The
// block's error output u - z0 is its one-step prediction error; the gain that
// makes its RMS smallest over the record (after a warm-up) estimates the
// derivatives about as well as the best gain chosen with the true ones.
#ifndef CORVEL_SIM_TUNE_H
#define CORVEL_SIM_TUNE_H

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/array_api.h"
#include "tune/tune_description.h"
#include "run/simulate.h"

namespace corvel::sim {

// A tuning problem the data cannot answer (NaN samples, a constant signal, a
// record no longer than the warm-up, every gain diverging); the text says which.
class TuneError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One run of the block at one gain.
struct Evaluation {
  double gain;
  double error_rms;                   // RMS of output 0 after the warm-up; +inf when it diverged
  std::vector<double> derivative_rms;  // built-in signals: RMS error of d1..dn against the truth
};

struct OrderResult {
  int order;
  double best_gain;
  double best_error_rms;
  std::vector<double> derivative_rms;  // at the best gain, built-in signals only
  std::vector<Evaluation> evaluations;  // in the order they were run
  // Non-zero when the error RMS is flat (within 0.1 % of the best) from this
  // gain to the top of the search: the estimate no longer changes there, and
  // this, the smallest gain of the span, is the best gain.
  double flat_from;
  // The best gain's score as the search saw it: best_error_rms, or for a long
  // record searched on parts of it, the parts' (the evaluations' terms).
  double searched_error_rms = 0.0;
};

struct TuneResult {
  std::vector<OrderResult> orders;
  size_t recommended;  // index into orders: the smallest error RMS
  double warmup_end;   // time from which the RMS counts
  long runs;           // block runs made
  int jobs;            // processes that made them
  // A long record's search: `parts` stretches of `part_samples` samples each
  // (0: the search ran over the whole record), each order's best gain then
  // run over the whole record for the numbers of `orders`.
  size_t parts = 0, part_samples = 0;
};

constexpr size_t kWholeSearchSamples = 400000;
constexpr size_t kSearchParts = 4;
constexpr size_t kPartSamples = 50000;

// Progress after each run: runs done, runs expected (an estimate).
using Progress = std::function<void(long done, long expected)>;

// For each order from first_order to last_order: a coarse logarithmic grid of
// gains around R^(1/(n+1)) / h (R the signal's range, h the solver step),
// widened while the best gain sits at an edge, then a refinement of the best
// bracket by parabolas and golden sections. A record of more than
// kWholeSearchSamples scored samples is searched on kSearchParts stretches of
// it spread over its scored span, each of kPartSamples samples whose first
// third warms the block up; each order's best gain is then run over the whole
// record, and those runs give the orders' numbers and the recommendation. The runs go to options.jobs worker
// processes (the block's kernel state is shared by a whole process); the
// result is the same whatever their number. Throws TuneError for data it cannot tune on.
TuneResult tune(host::MexFunction entry, const TuneDescription& options, const Input& input, int first_order,
                int last_order, const Progress& progress = nullptr);

// The same for several signals on one clock (the columns of one record) and
// one gain and order for all: each run's score is the sum over the signals of
// its error RMS relative to the signal's own RMS about its mean.
TuneResult tune_together(host::MexFunction entry, const TuneDescription& options, const std::vector<Input>& inputs,
                         int first_order, int last_order, const Progress& progress = nullptr);

// Every input checked before a single run (NaN samples, a constant signal,
// too few samples after the warm-up), the one that cannot be tuned named;
// returns where the warm-up ends. Throws TuneError.
double check_tunable(const TuneDescription& options, const std::vector<Input>& inputs);

// One evaluation (a whole run of the block), as tune makes them.
Evaluation evaluate(host::MexFunction entry, const RunDescription& options, const Input& input, double gain, int order,
                    double warmup_end);
// One evaluation of each input at one gain and order: for one input its own;
// for several, the sum of their error RMS each over the input's RMS about its mean.
Evaluation evaluate_together(host::MexFunction entry, const RunDescription& options, const std::vector<Input>& inputs,
                             double gain, int order, double warmup_end);

}  // namespace corvel::sim

#endif
