// What corvel-sim writes: the CSV log, the SVG plot and the error table.
#ifndef CORVEL_SIM_REPORT_H
#define CORVEL_SIM_REPORT_H

#include <ostream>
#include <string>
#include <vector>

#include "simulate.h"

namespace corvel::sim {

// Header t,u,error,z0,d1..dn, then one row per log row, at round-trip
// precision (%.17g).
void write_csv(std::ostream& out, const Log& log);

// RMS of estimate minus truth for z0 and each derivative, over the rows at or
// after `from` seconds. Empty when the input has no truth.
struct ErrorRow {
  int derivative;  // 0 for the signal itself
  double rms;
  double truth_rms;  // RMS of the true derivative over the same rows, for scale
};
std::vector<ErrorRow> error_table(const Log& log, const Input& input, double from);
void print_error_table(std::ostream& out, const std::vector<ErrorRow>& rows, double from);

// One panel for the signal and one per derivative; true derivatives dashed
// when known.
void write_svg(std::ostream& out, const Log& log, const Input& input, const std::string& title);

// Error RMS against the gain (both logarithmic), one curve per order.
struct TuneCurve {
  int order;
  std::vector<std::pair<double, double>> points;  // (gain, error RMS), any order
};
void write_tune_svg(std::ostream& out, const std::vector<TuneCurve>& curves, const std::string& title);

}  // namespace corvel::sim

#endif
