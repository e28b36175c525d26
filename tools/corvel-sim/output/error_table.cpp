#include "output/error_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace corvel::sim {

ErrorTable::ErrorTable(int order, double from)
    : order_(std::min(order, kMaxDerivative)),
      from_(from),
      sum_(static_cast<size_t>(order_) + 1, 0.0),
      truth_sum_(static_cast<size_t>(order_) + 1, 0.0) {}

void ErrorTable::add(double t, double estimate, const double* derivatives, const Derivatives& truth) {
  if (t < from_) return;
  for (int j = 0; j <= order_; ++j) {
    const double value = truth[static_cast<size_t>(j)];
    const double e = (j == 0 ? estimate : derivatives[j - 1]) - value;
    sum_[static_cast<size_t>(j)] += e * e;
    truth_sum_[static_cast<size_t>(j)] += value * value;
  }
  ++count_;
}

std::vector<ErrorRow> ErrorTable::rows() const {
  std::vector<ErrorRow> rows;
  const double n = count_ > 0 ? static_cast<double>(count_) : std::nan("");
  for (int j = 0; j <= order_; ++j) {
    rows.push_back({j, std::sqrt(sum_[static_cast<size_t>(j)] / n), std::sqrt(truth_sum_[static_cast<size_t>(j)] / n)});
  }
  return rows;
}

void print_error_table(std::ostream& out, const std::vector<ErrorRow>& rows, double from) {
  char line[160];
  std::snprintf(line, sizeof line, "RMS error against the true derivatives, from t = %g s on:\n", from);
  out << line;
  std::snprintf(line, sizeof line, "  %-12s %14s %14s %10s\n", "estimate", "RMS error", "RMS of truth", "relative");
  out << line;
  for (const ErrorRow& row : rows) {
    const std::string name = row.derivative == 0 ? "z0 (signal)" : "d" + std::to_string(row.derivative);
    std::snprintf(line, sizeof line, "  %-12s %14.6g %14.6g %10.3g\n", name.c_str(), row.rms, row.truth_rms,
                  row.rms / row.truth_rms);
    out << line;
  }
}

}  // namespace corvel::sim
