#include "output/run_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace corvel::sim {

std::vector<std::string> plot_panel_names(int order) {
  std::vector<std::string> names{"u", "e"};
  for (int j = 1; j <= order; ++j) names.push_back("d" + std::to_string(j));
  return names;
}

RunPlot::RunPlot(int order, size_t first_row, size_t last_row, size_t bins, double warmup_end, bool truth,
                 const PlotLabels& labels)
    : order_(order),
      first_row_(first_row),
      last_row_(std::max(first_row, last_row)),
      bins_(std::max<size_t>(1, std::min(bins, last_row_ - first_row_ + 1))),
      warmup_end_(warmup_end),
      truth_(truth),
      time_unit_(labels.time_unit) {
  // Each panel's unit: the signal's, over the time's to the derivative's power.
  // A unit already per time (m/s^2) takes the power on: d1 in m/s^3.
  std::string base = labels.unit;
  int per_time = 0;
  const std::string per = "/" + labels.time_unit;
  const size_t at = base.rfind(per);
  if (at != std::string::npos && at + per.size() == base.size()) {
    per_time = 1;
  } else if (at != std::string::npos && base.compare(at + per.size(), 1, "^") == 0 &&
             base.find_first_not_of("0123456789", at + per.size() + 1) == std::string::npos &&
             at + per.size() + 1 < base.size()) {
    per_time = std::stoi(base.substr(at + per.size() + 1, 2));
  }
  if (per_time > 0) base.resize(at);
  const auto in_unit = [&](const std::string& name, int power) {
    if (labels.unit.empty()) return name;
    const int total = power + per_time;
    const std::string unit = total == per_time ? labels.unit : base + per + (total > 1 ? "^" + std::to_string(total) : "");
    return name + " (" + unit + ")";
  };
  panels_.push_back({in_unit("u and z0", 0), "z0, the estimate of u", truth ? "u without noise" : "u, the signal"});
  panels_.push_back({in_unit("error output", 0), "u - z0 (of the sample before)", ""});
  for (int j = 1; j <= order; ++j) {
    const std::string d = "d" + std::to_string(j);
    panels_.push_back({in_unit(d, j), d + ", the estimate of derivative " + std::to_string(j),
                       truth ? "the true derivative " + std::to_string(j) : ""});
  }
  if (!labels.panels.empty()) {
    const std::vector<std::string> names = plot_panel_names(order);
    for (size_t p = 0; p < panels_.size(); ++p) {
      panels_[p].shown = std::find(labels.panels.begin(), labels.panels.end(), names[p]) != labels.panels.end();
    }
  }
  series_.resize(2 * panels_.size());
  for (Series& s : series_) {
    s.lo.assign(bins_, INFINITY);
    s.hi.assign(bins_, -INFINITY);
    s.sum.assign(bins_, 0.0);
    s.finite.assign(bins_, 0);
  }
  bin_time_.assign(bins_, NAN);
  bin_filled_.assign(bins_, 0);
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
  if (row.filled) bin_filled_[bin] = 1;
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

std::vector<std::pair<double, double>> RunPlot::filled_spans() const {
  std::vector<std::pair<double, double>> spans;
  double last_t = NAN;  // the time of the last bin that holds rows
  bool open = false;
  for (size_t b = 0; b < bins_; ++b) {
    if (std::isnan(bin_time_[b])) continue;
    if (bin_filled_[b] != 0 && !open) spans.push_back({bin_time_[b], bin_time_[b]}), open = true;
    if (bin_filled_[b] == 0 && open) spans.back().second = bin_time_[b], open = false;  // to where rows are real again
    last_t = bin_time_[b];
  }
  if (open) spans.back().second = last_t;
  return spans;
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
