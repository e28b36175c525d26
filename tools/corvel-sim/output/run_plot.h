// A run's plot: the signal with z0, the error output and every derivative
// estimate over time, kept as a min/max envelope of fixed size whatever the
// record's length, and written as a static SVG figure (svg_figure.cpp) or an
// interactive HTML page (html_page.cpp).
#ifndef CORVEL_SIM_RUN_PLOT_H
#define CORVEL_SIM_RUN_PLOT_H

#include <algorithm>
#include <cstddef>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "common/derivatives.h"
#include "output/log_writer.h"
#include "output/plot_text.h"

namespace corvel::sim {

// What a plot's words say beyond the run: the signal's unit and the time's
// (derivatives are in unit/time^j), and which panels to draw.
struct PlotLabels {
  std::string unit;              // empty: none known
  std::string time_unit = "s";
  std::vector<std::string> panels;  // "u", "e", "d1".. in any order; empty: every one
};

// The panel names --plot-panels takes for a run of `order`: u, e, d1..dn.
std::vector<std::string> plot_panel_names(int order);

class RunPlot {
 public:
  // The rows first_row..last_row of a run (counted from 0) go into `bins`
  // bins by their place in that span: one row a bin while they are fewer
  // than the bins, a min/max envelope beyond. `warmup_end` (s) marks the
  // start-up span, which is shaded and left out of each panel's scale.
  RunPlot(int order, size_t first_row, size_t last_row, size_t bins, double warmup_end, bool truth,
          const PlotLabels& labels = {});
  static constexpr size_t kSvgBins = 900;    // one per pixel column of the figure
  static constexpr size_t kHtmlBins = 40000;  // per series in a page, shared by its sections
  static constexpr size_t kPageSections = 100;  // the most signals one page holds
  // Each section's bins in a page of `sections`: the page's size stays the
  // same whatever their number.
  static size_t page_bins(size_t sections) { return std::max<size_t>(kHtmlBins / std::max<size_t>(sections, 1), 400); }

  // The bin of the row `offset` rows into a span of `rows` rows.
  static size_t bin_of(size_t offset, size_t bins, size_t rows);
  // Row `index` of the run; rows outside the span are passed over.
  void add(size_t index, const LogRow& row, const Derivatives* truth);

  void write_svg(std::ostream& out, const std::string& title) const;
  // `script` and `style`: the charting library (dygraphs) to embed.
  void write_html(std::ostream& out, const std::string& title, const std::string& script,
                  const std::string& style) const;
  // One page of several runs' plots over the same rows (the signals of one
  // record), a section each under its name, every panel zooming together.
  static void write_html_page(std::ostream& out, const std::string& title, const std::vector<const RunPlot*>& plots,
                              const std::vector<std::string>& sections, const std::string& script,
                              const std::string& style);

  size_t rows_seen() const { return rows_seen_; }
  // The spans of time (from, to) whose bins hold an input that fills a gap.
  std::vector<std::pair<double, double>> filled_spans() const;
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
    bool shown = true;
  };
  void add_value(Series& s, size_t bin, double value);
  std::pair<double, double> steady_range(size_t panel) const;
  const Series& series(size_t panel, size_t which) const { return series_[panel * 2 + which]; }

  int order_;
  size_t first_row_, last_row_, bins_;
  double warmup_end_;
  bool truth_;
  std::vector<Panel> panels_;
  std::string time_unit_;
  std::vector<Series> series_;  // per panel: the estimate, then the reference
  std::vector<double> bin_time_;  // the time of each bin's first row; NaN: empty
  std::vector<unsigned char> bin_filled_;  // whether a bin holds an input that fills a gap
  size_t rows_seen_ = 0;
};

}  // namespace corvel::sim

#endif
