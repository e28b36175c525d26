// The tuning's plot: error RMS against the gain (both logarithmic), one
// curve per order, each order's minimum marked, and the recommended gain.
#ifndef CORVEL_SIM_TUNE_PLOT_H
#define CORVEL_SIM_TUNE_PLOT_H

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace corvel::sim {

// One order's curve.
struct TuneCurve {
  int order;
  std::vector<std::pair<double, double>> points;  // (gain, error RMS), any order
  double best_gain;
  double best_rms;
};
// `score` names what the curves show: "RMS of the error output", or for
// columns tuned together the score they share.
void write_tune_svg(std::ostream& out, const std::vector<TuneCurve>& curves, double recommended_gain,
                    const std::string& title, const std::string& score = "RMS of the error output");

}  // namespace corvel::sim

#endif
