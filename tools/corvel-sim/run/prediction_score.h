// How well a run's block predicts each signal, scored without its true
// derivatives: the RMS of the error output (the one-step prediction error)
// after the warm-up, beside the RMS of the input's own change from one sample
// hit to the next (what holding the last sample would miss by). A block
// that predicts worse than holding would lags the signal (a gain too low) or
// follows its noise (too high): the run says so, whichever door it came by.
#ifndef CORVEL_SIM_PREDICTION_SCORE_H
#define CORVEL_SIM_PREDICTION_SCORE_H

#include <cstddef>
#include <string>
#include <vector>

namespace corvel::sim {

class PredictionScore {
 public:
  // For `channels` signals, counting the rows at or after `warmup_end` (s).
  PredictionScore(size_t channels, double warmup_end);
  // A sample hit of signal `channel` at time `t`: its input and error output.
  void add(size_t channel, double t, double input, double error);

  double error_rms(size_t channel) const;
  double change_rms(size_t channel) const;
  // Whether the block predicts the signal worse than holding its last sample.
  bool predicts_worse_than_holding(size_t channel) const;

 private:
  struct Sums {
    double error_squares = 0.0, change_squares = 0.0, last_input;
    size_t errors = 0, changes = 0;
  };
  std::vector<Sums> sums_;
  double warmup_end_;
};

// The note of a signal its gain does not suit: `signal` names it ("'x'" or
// the record's description), `gain` says the gain as the door takes it, and
// `how_to_tune` is the door's own way to the gain and order.
std::string unsuited_gain_note(const std::string& signal, double error_rms, double change_rms,
                               const std::string& gain, const std::string& how_to_tune);

}  // namespace corvel::sim

#endif
