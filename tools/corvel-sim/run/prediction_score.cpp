#include "run/prediction_score.h"

#include <cmath>
#include <cstdio>

namespace corvel::sim {

namespace {

// The error output's RMS, as a share of the input's change from sample to
// sample, beyond which a run on recorded data says its gain does not suit it.
constexpr double kLargeErrorShare = 1.0;

// Four digits are enough to judge a gain by.
std::string four_digits(double x) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4g", x);
  return text;
}

double rms(double squares, size_t count) { return count > 0 ? std::sqrt(squares / static_cast<double>(count)) : 0.0; }

}  // namespace

PredictionScore::PredictionScore(size_t channels, double warmup_end) : warmup_end_(warmup_end) {
  Sums fresh;
  fresh.last_input = std::nan("");
  sums_.assign(channels, fresh);
}

void PredictionScore::add(size_t channel, double t, double input, double error) {
  Sums& s = sums_[channel];
  const double input_before = s.last_input;
  s.last_input = input;
  if (!(t >= warmup_end_)) return;
  s.error_squares += error * error;
  ++s.errors;
  const double change = input - input_before;
  if (std::isfinite(change)) {
    s.change_squares += change * change;
    ++s.changes;
  }
}

double PredictionScore::error_rms(size_t channel) const {
  return rms(sums_[channel].error_squares, sums_[channel].errors);
}

double PredictionScore::change_rms(size_t channel) const {
  return rms(sums_[channel].change_squares, sums_[channel].changes);
}

bool PredictionScore::predicts_worse_than_holding(size_t channel) const {
  return error_rms(channel) > kLargeErrorShare * change_rms(channel);
}

std::string unsuited_gain_note(const std::string& signal, double error_rms, double change_rms,
                               const std::string& gain, const std::string& how_to_tune) {
  return "the error output of " + signal + " (RMS " + four_digits(error_rms) +
         ") is larger than its change from one sample to the next (RMS " + four_digits(change_rms) +
         "): the block predicts it worse than repeating the last sample would, so gain " + gain +
         " does not suit this recording. To find the gain and order: " + how_to_tune;
}

}  // namespace corvel::sim
