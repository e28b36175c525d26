#include "tune/tune_plot.h"

#include <algorithm>
#include <cmath>

#include "output/plot_text.h"

namespace corvel::sim {

void write_tune_svg(std::ostream& out, const std::vector<TuneCurve>& curves, double recommended_gain,
                    const std::string& title, const std::string& score) {
  const double width = 960, height = 540, left = 90, right = 150, top = 44, bottom = 56;
  double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
  for (const TuneCurve& c : curves) {
    for (const auto& [gain, rms] : c.points) {
      if (!(std::fabs(gain) > 0) || !(rms > 0) || !std::isfinite(rms)) continue;
      x0 = std::min(x0, std::log10(std::fabs(gain)));
      x1 = std::max(x1, std::log10(std::fabs(gain)));
      y0 = std::min(y0, std::log10(rms));
      y1 = std::max(y1, std::log10(rms));
    }
  }
  if (!(x0 < x1)) x0 = std::isfinite(x0) ? x0 - 1 : 0, x1 = x0 + 2;
  if (!(y0 < y1)) y0 = std::isfinite(y0) ? y0 - 1 : 0, y1 = y0 + 2;
  const double pw = width - left - right, ph = height - top - bottom;
  auto x = [&](double g) { return left + (std::log10(std::fabs(g)) - x0) / (x1 - x0) * pw; };
  auto y = [&](double r) { return top + (y1 - std::log10(r)) / (y1 - y0) * ph; };
  char text[128];
  out << "<svg xmlns='http://www.w3.org/2000/svg' width='" << width << "' height='" << height
      << "' font-family='sans-serif' font-size='11'>\n<rect width='100%' height='100%' fill='white'/>\n";
  out << "<text x='" << left << "' y='24' font-size='15'>" << xml_escape(title) << "</text>\n";
  // Decades, with a light grid; the extremes of the RMS too, since a narrow
  // range may hold no power of ten.
  for (int d = static_cast<int>(std::ceil(x0)); d <= static_cast<int>(std::floor(x1)); ++d) {
    std::snprintf(text, sizeof text, "%.1f", left + (d - x0) / (x1 - x0) * pw);
    out << "<line x1='" << text << "' x2='" << text << "' y1='" << top << "' y2='" << top + ph
        << "' stroke='#e4e4e4'/>\n<text x='" << text << "' y='" << top + ph + 16 << "' text-anchor='middle'>"
        << tick_label(std::pow(10.0, d)) << "</text>\n";
  }
  for (int d = static_cast<int>(std::ceil(y0)); d <= static_cast<int>(std::floor(y1)); ++d) {
    std::snprintf(text, sizeof text, "%.1f", top + (y1 - d) / (y1 - y0) * ph);
    out << "<line x1='" << left << "' x2='" << left + pw << "' y1='" << text << "' y2='" << text
        << "' stroke='#e4e4e4'/>\n<text x='" << left - 6 << "' y='" << text << "' dy='4' text-anchor='end'>"
        << tick_label(std::pow(10.0, d)) << "</text>\n";
  }
  // The extremes, where no decade's label is within a line's height of them.
  const double line = 14.0 / ph * (y1 - y0);  // a label's height, in decades
  if (std::ceil(y1 - line) > std::floor(y1)) {
    std::snprintf(text, sizeof text, "%.4g", std::pow(10.0, y1));
    out << "<text x='" << left - 6 << "' y='" << top + 4 << "' dy='4' text-anchor='end' fill='#555'>" << text
        << "</text>\n";
  }
  if (std::floor(y0 + line) < std::ceil(y0)) {
    std::snprintf(text, sizeof text, "%.4g", std::pow(10.0, y0));
    out << "<text x='" << left - 6 << "' y='" << top + ph << "' text-anchor='end' fill='#555'>" << text << "</text>\n";
  }
  out << "<rect x='" << left << "' y='" << top << "' width='" << pw << "' height='" << ph
      << "' fill='none' stroke='#888'/>\n";
  out << "<text x='" << left + pw / 2 << "' y='" << height - 14 << "' font-size='12' text-anchor='middle'>gain P1"
      << (recommended_gain < 0 ? " (magnitude)" : "") << "</text>\n";
  out << "<text x='16' y='" << top + ph / 2 << "' font-size='12' transform='rotate(-90 16 " << top + ph / 2
      << ")' text-anchor='middle'>" << xml_escape(score) << "</text>\n";
  if (std::isfinite(recommended_gain) && recommended_gain != 0.0) {
    std::snprintf(text, sizeof text, "%.1f", x(recommended_gain));
    out << "<line x1='" << text << "' x2='" << text << "' y1='" << top << "' y2='" << top + ph
        << "' stroke='#444' stroke-dasharray='4,3'/>\n<text x='" << text << "' y='" << top - 4
        << "' text-anchor='middle'>recommended " << tick_label(recommended_gain) << "</text>\n";
  }
  for (size_t i = 0; i < curves.size(); ++i) {
    std::vector<std::pair<double, double>> points = curves[i].points;
    std::sort(points.begin(), points.end(),
              [](const auto& a, const auto& b) { return std::fabs(a.first) < std::fabs(b.first); });
    const char* colour = curve_colour(i);
    out << "<polyline fill='none' stroke='" << colour << "' stroke-width='1.5' points='";
    for (const auto& [gain, rms] : points) {
      if (!(std::fabs(gain) > 0) || !(rms > 0) || !std::isfinite(rms)) continue;
      std::snprintf(text, sizeof text, "%.1f,%.1f ", x(gain), y(rms));
      out << text;
    }
    out << "'/>\n";
    if (curves[i].best_rms > 0 && std::isfinite(curves[i].best_rms)) {
      std::snprintf(text, sizeof text, "cx='%.1f' cy='%.1f'", x(curves[i].best_gain), y(curves[i].best_rms));
      out << "<circle " << text << " r='4' fill='" << colour << "' stroke='black'/>\n";
    }
    out << "<line x1='" << width - right + 10 << "' x2='" << width - right + 30 << "' y1='"
        << top + 12 + 18 * static_cast<double>(i) << "' y2='" << top + 12 + 18 * static_cast<double>(i)
        << "' stroke='" << colour << "' stroke-width='2'/>\n<text x='" << width - right + 36 << "' y='"
        << top + 16 + 18 * static_cast<double>(i) << "'>order " << curves[i].order << "</text>\n";
  }
  out << "<text x='" << width - right + 10 << "' y='" << top + 30 + 18 * static_cast<double>(curves.size())
      << "' fill='#555'>dot: each order's best</text>\n</svg>\n";
}

}  // namespace corvel::sim
