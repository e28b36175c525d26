// A run's plot as one self-contained HTML page: the data as script arrays,
// the charting library built in, and the page's own script (html_page.js,
// built into the program) drawing a zoomable panel per series.
#include <algorithm>
#include <cmath>
#include <string>

#include "common/number_text.h"
#include "output/run_plot.h"

extern const unsigned char corvel_html_page_js[];
extern const unsigned long corvel_html_page_js_size;

namespace corvel::sim {

namespace {

std::string html_page_script() {
  return std::string(reinterpret_cast<const char*>(corvel_html_page_js), corvel_html_page_js_size);
}

}  // namespace

void RunPlot::write_html(std::ostream& out, const std::string& title, const std::string& script,
                         const std::string& style) const {
  write_html_page(out, title, {this}, {}, script, style);
}

void RunPlot::write_html_page(std::ostream& out, const std::string& title, const std::vector<const RunPlot*>& plots,
                              const std::vector<std::string>& sections, const std::string& script,
                              const std::string& style) {
  const RunPlot& first = *plots.front();
  // Blocks at their own rates have rows of their own: each section says its count.
  bool same_rows = true;
  for (const RunPlot* plot : plots) same_rows = same_rows && plot->rows_seen_ == first.rows_seen_;
  out << "<!DOCTYPE html>\n<html><head><meta charset='utf-8'>\n<title>" << xml_escape(title) << "</title>\n<style>"
      << style
      << "\nbody{font-family:sans-serif;margin:16px} .panel{width:96%;height:230px;margin:2px 0 28px 0} "
         ".legend{width:96%;min-height:1.3em;text-align:right;font-size:13px} "
         "#errors{color:#b00}</style>\n<script>"
      << script << "</script>\n</head><body>\n<h2>" << xml_escape(title) << "</h2>\n<p>";
  if (!same_rows) {
    out << "Each signal's block at its own sample time, its samples counted under its name.";
  } else if (first.enveloped()) {
    out << first.rows_seen_ << " samples" << (sections.empty() ? "" : " of each signal") << ", drawn as " << first.bins_
        << " ranges (the smallest and largest value of each stretch, with its mean): use corvel-sim's "
           "--plot-window T0:T1 for every sample of a span.";
  } else {
    out << first.rows_seen_ << " samples" << (sections.empty() ? "" : " of each signal") << ", every one drawn.";
  }
  bool any_filled = false;
  for (const RunPlot* plot : plots) any_filled = any_filled || !plot->filled_spans().empty();
  out << " Drag to zoom (every panel follows), double-click to zoom out; the shaded start is the warm-up"
      << (any_filled ? "; orange: gaps in the record, filled" : "") << ".</p>\n"
         "<div id='errors'></div>\n";
  size_t panel_id = 0;
  for (size_t k = 0; k < plots.size(); ++k) {
    if (!sections.empty()) {
      out << "<h3>" << xml_escape(sections[k]);
      if (!same_rows) out << " (" << plots[k]->rows_seen_ << " samples" << (plots[k]->enveloped() ? ", drawn as ranges" : "") << ")";
      out << "</h3>\n";
    }
    for (size_t p = 0; p < plots[k]->panels_.size(); ++p) {
      if (!plots[k]->panels_[p].shown) continue;
      out << "<div class='panel' id='panel" << panel_id++ << "'></div>\n";
    }
  }

  // The data: per panel, rows of [t, [lo, mean, hi], ...] as dygraphs'
  // customBars reads them; null where a bin holds no finite value.
  out << "<script>\nwindow.onerror = function (message) {\n"
         "  document.getElementById('errors').textContent += message + ' ';\n"
         "  document.body.setAttribute('data-errors', 'yes');\n};\n";
  out << "const title = " << script_string(title) << ";\nconst timeLabel = " << script_string("t (" + first.time_unit_ + ")")
      << ";\nconst warmupEnd = " << number_text(first.warmup_end_)
      << ";\nconst panels = [\n";
  char number[3][kNumberTextMax + 1];
  auto value = [&](int slot, double x) -> const char* {
    if (!std::isfinite(x)) return "null";
    *write_number(number[slot], x) = '\0';
    return number[slot];
  };
  for (size_t k = 0; k < plots.size(); ++k) {
    const RunPlot& plot = *plots[k];
    const std::vector<std::pair<double, double>> filled = plot.filled_spans();
    for (size_t p = 0; p < plot.panels_.size(); ++p) {
      const Panel& panel = plot.panels_[p];
      if (!panel.shown) continue;
      const bool reference = !panel.reference_label.empty();
      const auto [lo, hi] = plot.steady_range(p);
      // The reference first, so that the estimate is drawn over it.
      out << "{labels: [\"t\", ";
      if (reference) out << script_string(panel.reference_label) << ", ";
      out << script_string(panel.estimate_label);
      out << "], name: " << script_string(sections.empty() ? panel.name : sections[k] + ": " + panel.name)
          << ", range: [" << value(0, lo) << ", " << value(1, hi) << "], filled: [";
      for (const auto& [from, to] : filled) out << '[' << value(0, from) << ',' << value(1, to) << "],";
      out << "], rows: [\n";
      for (size_t b = 0; b < plot.bins_; ++b) {
        if (std::isnan(plot.bin_time_[b])) continue;
        out << '[' << value(0, plot.bin_time_[b]);
        for (size_t w = reference ? 1 : 0;; --w) {
          const Series& s = plot.series(p, w);
          if (s.finite[b] == 0) {
            out << ",null";
          } else {
            out << ",[" << value(0, s.lo[b]) << ',' << value(1, s.sum[b] / s.finite[b]) << ','
                << value(2, s.hi[b]) << ']';
          }
          if (w == 0) break;
        }
        out << "],\n";
      }
      out << "]},\n";
    }
  }
  out << R"(];
const colours = [[')" << reference_colour(first.truth_) << "', '" << kEstimateColour << R"('], [')"
      << kEstimateColour << R"(']];
)" << html_page_script() << R"(</script>
</body></html>
)";
}

}  // namespace corvel::sim
