// For a built-in signal: the RMS error of every estimate against the true
// derivative, summed as the run goes, over the rows at or after the warm-up.
#ifndef CORVEL_SIM_ERROR_TABLE_H
#define CORVEL_SIM_ERROR_TABLE_H

#include <ostream>
#include <vector>

#include "common/derivatives.h"

namespace corvel::sim {

struct ErrorRow {
  int derivative;    // 0 for the signal itself
  double rms;
  double truth_rms;  // RMS of the true derivative over the same rows, for scale
};

class ErrorTable {
 public:
  ErrorTable(int order, double from);
  // One log row: its time, z0, d1..dn and the truth at its sample.
  void add(double t, double estimate, const double* derivatives, const Derivatives& truth);
  std::vector<ErrorRow> rows() const;
  double from() const { return from_; }

 private:
  int order_;
  double from_;
  std::vector<double> sum_, truth_sum_;
  size_t count_ = 0;
};

void print_error_table(std::ostream& out, const std::vector<ErrorRow>& rows, double from);

}  // namespace corvel::sim

#endif
