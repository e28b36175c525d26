// The plots corvel-sim draws: the run's signal, error and estimates over
// time, kept as a fixed-size min/max envelope whatever the record's length;
// and the tuning's error RMS against the gain.
#ifndef CORVEL_SIM_PLOT_H
#define CORVEL_SIM_PLOT_H

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "log_writer.h"
#include "signals.h"

namespace corvel::sim {

// Text made safe inside an SVG (XML) element or attribute.
std::string xml_escape(const std::string& text);

// Per series and pixel column, the smallest and largest finite value; and
// the columns after the warm-up set each panel's scale.
class RunPlot {
 public:
  // The time span [t0, t1] the record covers and the end of the warm-up.
  RunPlot(int order, double t0, double t1, double warmup_end, bool truth);
  void add(const LogRow& row, const Derivatives* truth);
  void write_svg(std::ostream& out, const std::string& title) const;

  static constexpr size_t kColumns = 810;  // the plotting width in pixels

 private:
  struct Series {
    std::vector<double> lo, hi;  // per column; lo > hi: no finite value there
    void add(size_t column, double value);
  };
  Series& series(size_t panel, size_t which) { return series_[panel * 2 + which]; }
  const Series& series(size_t panel, size_t which) const { return series_[panel * 2 + which]; }

  int order_;
  double t0_, t1_, warmup_end_;
  double scale_;                    // columns per second
  size_t first_steady_column_;      // the first column wholly after the warm-up
  bool truth_;
  // Panels: u with z0, the error, then d1..dn; each with its estimate (0)
  // and its reference (1): u for z0, the true derivative when known.
  std::vector<Series> series_;
};

// Error RMS against the gain (both logarithmic), one curve per order.
struct TuneCurve {
  int order;
  std::vector<std::pair<double, double>> points;  // (gain, error RMS), any order
};
void write_tune_svg(std::ostream& out, const std::vector<TuneCurve>& curves, const std::string& title);

}  // namespace corvel::sim

#endif
