// The plots corvel-sim draws of a run: the signal with z0, the error output
// and every derivative estimate over time, as a static SVG figure or an
// interactive HTML page; and the tuning's error RMS against the gain. A run's
// plot keeps a min/max envelope of fixed size, whatever the record's length.
#ifndef CORVEL_SIM_PLOT_H
#define CORVEL_SIM_PLOT_H

#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "output/log_writer.h"
#include "input/signals.h"

namespace corvel::sim {

// Text made safe inside an SVG or HTML element or attribute.
std::string xml_escape(const std::string& text);
// Text made safe as a string inside a <script> element: a JSON string
// literal in which '<', '>' and '&' are written as escapes.
std::string script_string(const std::string& text);

// Round tick values covering [lo, hi]: steps of 1, 2 or 5 times a power of
// ten, about `count` of them.
std::vector<double> nice_ticks(double lo, double hi, int count);

class RunPlot {
 public:
  // The rows first_row..last_row of a run (counted from 0) go into `bins`
  // bins by their place in that span: one row a bin while they are fewer
  // than the bins, a min/max envelope beyond. `warmup_end` (s) marks the
  // start-up span, which is shaded and left out of each panel's scale.
  RunPlot(int order, size_t first_row, size_t last_row, size_t bins, double warmup_end, bool truth);
  static constexpr size_t kSvgBins = 900;    // one per pixel column of the figure
  static constexpr size_t kHtmlBins = 40000;  // per series in a page

  // The bin of the row `offset` rows into a span of `rows` rows.
  static size_t bin_of(size_t offset, size_t bins, size_t rows);
  // Row `index` of the run; rows outside the span are passed over.
  void add(size_t index, const LogRow& row, const Derivatives* truth);

  void write_svg(std::ostream& out, const std::string& title) const;
  // `script` and `style`: the charting library (dygraphs) to embed.
  void write_html(std::ostream& out, const std::string& title, const std::string& script,
                  const std::string& style) const;

  size_t rows_seen() const { return rows_seen_; }
  bool enveloped() const { return last_row_ - first_row_ + 1 > bins_; }

 private:
  struct Series {
    std::vector<double> lo, hi, sum;  // per bin; lo > hi: no finite value there
    std::vector<unsigned> finite;
  };
  struct Panel {
    std::string name;            // "u and z0", "error output", "d1"
    std::string estimate_label;  // the legend's words
    std::string reference_label;  // empty: no reference series
  };
  void add_value(Series& s, size_t bin, double value);
  std::pair<double, double> steady_range(size_t panel) const;
  const Series& series(size_t panel, size_t which) const { return series_[panel * 2 + which]; }

  int order_;
  size_t first_row_, last_row_, bins_;
  double warmup_end_;
  bool truth_;
  std::vector<Panel> panels_;
  std::vector<Series> series_;  // per panel: the estimate, then the reference
  std::vector<double> bin_time_;  // the time of each bin's first row; NaN: empty
  size_t rows_seen_ = 0;
};

// Error RMS against the gain (both logarithmic), one curve per order, each
// order's minimum marked, and the recommended gain.
struct TuneCurve {
  int order;
  std::vector<std::pair<double, double>> points;  // (gain, error RMS), any order
  double best_gain;
  double best_rms;
};
void write_tune_svg(std::ostream& out, const std::vector<TuneCurve>& curves, double recommended_gain,
                    const std::string& title);

}  // namespace corvel::sim

#endif
