// A run's plot as an SVG figure: a panel per series, round ticks, a grid, a
// legend per panel, the warm-up shaded and left out of each panel's scale.
#include <algorithm>
#include <cmath>

#include "common/number_text.h"
#include "output/run_plot.h"

namespace corvel::sim {

void RunPlot::write_svg(std::ostream& out, const std::string& title) const {
  constexpr double kWidth = 1060, kLeft = 90, kRight = 20, kTop = 40, kPanelHeight = 170, kGap = 34;
  const double plot_width = kWidth - kLeft - kRight;
  const size_t panels = panels_.size();
  const double height = kTop + static_cast<double>(panels) * (kPanelHeight + kGap) + 30;
  double t0 = INFINITY, t1 = -INFINITY;
  for (const double t : bin_time_) {
    if (!std::isnan(t)) t0 = std::min(t0, t), t1 = std::max(t1, t);
  }
  if (!(t0 < t1)) t0 = std::isfinite(t0) ? t0 : 0.0, t1 = t0 + 1.0;
  auto x_of = [&](double t) { return kLeft + (t - t0) / (t1 - t0) * plot_width; };
  const std::vector<double> time_ticks = nice_ticks(t0, t1, 8);

  out << "<svg xmlns='http://www.w3.org/2000/svg' width='" << kWidth << "' height='" << height
      << "' font-family='sans-serif' font-size='11'>\n<rect width='100%' height='100%' fill='white'/>\n";
  out << "<text x='" << kLeft << "' y='22' font-size='15'>" << xml_escape(title) << "</text>\n";
  if (enveloped()) {
    out << "<text x='" << kWidth - kRight << "' y='22' text-anchor='end' fill='#555'>" << rows_seen_
        << " samples, drawn as their range per pixel column</text>\n";
  }
  char text[256];
  for (size_t p = 0; p < panels; ++p) {
    const double top = kTop + static_cast<double>(p) * (kPanelHeight + kGap);
    const std::pair<double, double> range = steady_range(p);
    const double lo = range.first, hi = range.second;
    auto y_of = [&](double v) { return std::clamp(top + (hi - v) / (hi - lo) * kPanelHeight, top - 2e4, top + 2e4); };
    const std::string clip = "panel" + std::to_string(p);
    out << "<clipPath id='" << clip << "'><rect x='" << kLeft << "' y='" << top << "' width='" << plot_width
        << "' height='" << kPanelHeight << "'/></clipPath>\n";
    // The warm-up, shaded: its values are not in the panel's scale.
    if (warmup_end_ > t0) {
      const double shade = std::min(plot_width, x_of(warmup_end_) - kLeft);
      out << "<rect x='" << kLeft << "' y='" << top << "' width='" << shade << "' height='" << kPanelHeight
          << "' fill='#f0f0f0'/>\n";
    }
    // The grid and the ticks.
    for (const double v : nice_ticks(lo, hi, 5)) {
      std::snprintf(text, sizeof text, "%.1f", y_of(v));
      out << "<line x1='" << kLeft << "' x2='" << kLeft + plot_width << "' y1='" << text << "' y2='" << text
          << "' stroke='#e4e4e4'/>\n<text x='" << kLeft - 6 << "' y='" << text
          << "' dy='4' text-anchor='end'>" << tick_label(v) << "</text>\n";
    }
    for (const double t : time_ticks) {
      std::snprintf(text, sizeof text, "%.1f", x_of(t));
      out << "<line x1='" << text << "' x2='" << text << "' y1='" << top << "' y2='" << top + kPanelHeight
          << "' stroke='#e4e4e4'/>\n<text x='" << text << "' y='" << top + kPanelHeight + 14
          << "' text-anchor='middle'>" << tick_label(t) << "</text>\n";
    }
    out << "<rect x='" << kLeft << "' y='" << top << "' width='" << plot_width << "' height='" << kPanelHeight
        << "' fill='none' stroke='#888'/>\n";
    // The reference under the estimate, each as its range per bin.
    for (const size_t w : {size_t{1}, size_t{0}}) {
      if (w == 1 && panels_[p].reference_label.empty()) continue;
      const Series& s = series(p, w);
      const char* colour = w == 0 ? kEstimateColour : reference_colour(truth_);
      out << "<polyline clip-path='url(#" << clip << ")' fill='none' stroke='" << colour << "' stroke-width='1.2'"
          << (w == 1 && truth_ ? " stroke-dasharray='5,3'" : "") << " points='";
      for (size_t b = 0; b < bins_; ++b) {
        if (!(s.lo[b] <= s.hi[b]) || std::isnan(bin_time_[b])) continue;
        const double x = x_of(bin_time_[b]);
        if (s.lo[b] == s.hi[b]) {
          std::snprintf(text, sizeof text, "%.1f,%.1f ", x, y_of(s.lo[b]));
        } else {
          std::snprintf(text, sizeof text, "%.1f,%.1f %.1f,%.1f ", x, y_of(s.lo[b]), x, y_of(s.hi[b]));
        }
        out << text;
      }
      out << "'/>\n";
    }
    // The panel's name and its legend.
    out << "<text x='" << kLeft + 8 << "' y='" << top + 15 << "' font-size='12' font-weight='bold'>"
        << xml_escape(panels_[p].name) << "</text>\n";
    double legend_y = top + 14;
    for (size_t w = 0; w < 2; ++w) {
      const std::string& label = w == 0 ? panels_[p].estimate_label : panels_[p].reference_label;
      if (label.empty()) continue;
      const char* colour = w == 0 ? kEstimateColour : reference_colour(truth_);
      const double x = kLeft + plot_width - 230;
      out << "<rect x='" << x - 6 << "' y='" << legend_y - 11 << "' width='232' height='15' fill='white' "
          << "fill-opacity='0.8'/>\n<line x1='" << x << "' x2='" << x + 22 << "' y1='" << legend_y - 4
          << "' y2='" << legend_y - 4 << "' stroke='" << colour << "' stroke-width='2'"
          << (w == 1 && truth_ ? " stroke-dasharray='5,3'" : "") << "/>\n<text x='" << x + 28 << "' y='"
          << legend_y << "'>" << xml_escape(label) << "</text>\n";
      legend_y += 15;
    }
  }
  const double bottom = kTop + static_cast<double>(panels) * (kPanelHeight + kGap);
  out << "<text x='" << kLeft + plot_width / 2 << "' y='" << bottom + 10
      << "' text-anchor='middle' font-size='12'>t (s); shaded: the warm-up, left out of each panel's scale"
      << "</text>\n</svg>\n";
}
}  // namespace corvel::sim
