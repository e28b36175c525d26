// A run's plot as an SVG figure: a panel per series, round ticks, a grid, a
// legend per panel, the warm-up shaded and left out of each panel's scale.
#include <algorithm>
#include <cmath>

#include "common/number_text.h"
#include "output/run_plot.h"

namespace corvel::sim {

void RunPlot::write_svg(std::ostream& out, const std::string& title) const {
  // Each panel's name and legend sit above its frame, where no trace is.
  constexpr double kWidth = 1060, kLeft = 90, kRight = 20, kTop = 58, kPanelHeight = 170, kGap = 50;
  const double plot_width = kWidth - kLeft - kRight;
  std::vector<size_t> shown;
  for (size_t p = 0; p < panels_.size(); ++p) {
    if (panels_[p].shown) shown.push_back(p);
  }
  const size_t panels = shown.size();
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
  const std::vector<std::pair<double, double>> filled = filled_spans();
  for (size_t row = 0; row < panels; ++row) {
    const size_t p = shown[row];
    const double top = kTop + static_cast<double>(row) * (kPanelHeight + kGap);
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
    // Inputs that fill gaps in the record (--missing), shaded.
    for (const auto& [from, to] : filled) {
      const double x = std::max(kLeft, x_of(from)), right = std::min(kLeft + plot_width, std::max(x_of(to), x + 1.0));
      std::snprintf(text, sizeof text, "<rect x='%.1f' y='%.1f' width='%.1f' height='%.1f' fill='#fbe3c4'/>\n", x, top,
                    right - x, kPanelHeight);
      out << text;
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
    // The panel's name, and its legend at the right, in one line above it.
    out << "<text x='" << kLeft << "' y='" << top - 7 << "' font-size='12' font-weight='bold'>"
        << xml_escape(panels_[p].name) << "</text>\n";
    double legend_right = kLeft + plot_width;
    for (const size_t w : {size_t{1}, size_t{0}}) {
      const std::string& label = w == 0 ? panels_[p].estimate_label : panels_[p].reference_label;
      if (label.empty()) continue;
      const char* colour = w == 0 ? kEstimateColour : reference_colour(truth_);
      out << "<text x='" << legend_right << "' y='" << top - 7 << "' text-anchor='end'>" << xml_escape(label)
          << "</text>\n";
      // About 6 px a character at this size: the line ends short of the words.
      const double line_end = legend_right - 6.2 * static_cast<double>(label.size()) - 6;
      out << "<line x1='" << line_end - 22 << "' x2='" << line_end << "' y1='" << top - 11 << "' y2='" << top - 11
          << "' stroke='" << colour << "' stroke-width='2'" << (w == 1 && truth_ ? " stroke-dasharray='5,3'" : "")
          << "/>\n";
      legend_right = line_end - 40;
    }
  }
  const double bottom = kTop + static_cast<double>(panels) * (kPanelHeight + kGap);
  out << "<text x='" << kLeft + plot_width / 2 << "' y='" << bottom + 10
      << "' text-anchor='middle' font-size='12'>t (" << xml_escape(time_unit_) << "); shaded: the warm-up, left out of each panel's scale"
      << (filled.empty() ? "" : "; orange: gaps in the record, filled") << "</text>\n</svg>\n";
}
}  // namespace corvel::sim
