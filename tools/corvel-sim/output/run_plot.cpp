#include "output/run_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace corvel::sim {

RunPlot::RunPlot(int order, size_t first_row, size_t last_row, size_t bins, double warmup_end, bool truth)
    : order_(order),
      first_row_(first_row),
      last_row_(std::max(first_row, last_row)),
      bins_(std::max<size_t>(1, std::min(bins, last_row_ - first_row_ + 1))),
      warmup_end_(warmup_end),
      truth_(truth) {
  panels_.push_back({"u and z0", "z0, the estimate of u", truth ? "u without noise" : "u, the signal"});
  panels_.push_back({"error output", "u - z0 (of the sample before)", ""});
  for (int j = 1; j <= order; ++j) {
    const std::string d = "d" + std::to_string(j);
    panels_.push_back({d, d + ", the estimate of derivative " + std::to_string(j),
                       truth ? "the true derivative " + std::to_string(j) : ""});
  }
  series_.resize(2 * panels_.size());
  for (Series& s : series_) {
    s.lo.assign(bins_, INFINITY);
    s.hi.assign(bins_, -INFINITY);
    s.sum.assign(bins_, 0.0);
    s.finite.assign(bins_, 0);
  }
  bin_time_.assign(bins_, NAN);
}

void RunPlot::add_value(Series& s, size_t bin, double value) {
  if (!std::isfinite(value)) return;
  s.lo[bin] = std::min(s.lo[bin], value);
  s.hi[bin] = std::max(s.hi[bin], value);
  s.sum[bin] += value;
  ++s.finite[bin];
}

size_t RunPlot::bin_of(size_t offset, size_t bins, size_t rows) {
  // In 64 bits on every build: offset * bins passes 2^32 from row 107 375 of
  // a 40 000-bin page.
  return static_cast<size_t>(static_cast<std::uint64_t>(offset) * bins / rows);
}

void RunPlot::add(size_t index, const LogRow& row, const Derivatives* truth) {
  if (index < first_row_ || index > last_row_) return;
  ++rows_seen_;
  const size_t bin = bin_of(index - first_row_, bins_, last_row_ - first_row_ + 1);
  if (std::isnan(bin_time_[bin])) bin_time_[bin] = row.t;
  add_value(series_[0], bin, row.estimate);
  add_value(series_[1], bin, truth != nullptr ? (*truth)[0] : row.u);
  add_value(series_[2], bin, row.error);
  for (int j = 1; j <= order_; ++j) {
    add_value(series_[2 * static_cast<size_t>(j) + 2], bin, row.derivatives[j - 1]);
    if (truth != nullptr && j <= kMaxDerivative) {
      add_value(series_[2 * static_cast<size_t>(j) + 3], bin, (*truth)[static_cast<size_t>(j)]);
    }
  }
}

// The range of a panel's values in the bins that start after the warm-up
// (all bins when none does), widened a little so that nothing sits on the
// frame.
std::pair<double, double> RunPlot::steady_range(size_t panel) const {
  double lo = INFINITY, hi = -INFINITY;
  for (const bool after_warmup : {true, false}) {
    for (size_t w = 0; w < 2; ++w) {
      const Series& s = series(panel, w);
      for (size_t b = 0; b < bins_; ++b) {
        if (after_warmup && !(bin_time_[b] >= warmup_end_)) continue;
        lo = std::min(lo, s.lo[b]);
        hi = std::max(hi, s.hi[b]);
      }
    }
    if (lo <= hi) break;
  }
  if (!(lo <= hi)) return {-1.0, 1.0};
  if (!(hi - lo > 1e-300 * std::max(1.0, std::fabs(hi))) || !std::isfinite(hi - lo)) {
    const double middle = std::isfinite(lo) ? lo : 0.0;
    return {middle - 1.0, middle + 1.0};
  }
  const double margin = (hi - lo) * 0.05;
  return {lo - margin, hi + margin};
}

}  // namespace corvel::sim
