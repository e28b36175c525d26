#include "plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace corvel::sim {

std::string xml_escape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\'': out += "&apos;"; break;
      case '"': out += "&quot;"; break;
      default:
        // Control characters are not allowed in XML 1.0 text.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n') {
          out += '?';
        } else {
          out += c;
        }
    }
  }
  return out;
}

namespace {

constexpr double kWidth = 900, kPanelHeight = 170, kLeft = 70, kTop = 30, kGap = 30;

std::string short_number(double x) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.4g", x);
  return buffer;
}

}  // namespace

void RunPlot::Series::add(size_t column, double value) {
  // NaN fails both tests; the infinities are left out by hand.
  if (value < lo[column] && value != -INFINITY) lo[column] = value;
  if (value > hi[column] && value != INFINITY) hi[column] = value;
}

RunPlot::RunPlot(int order, double t0, double t1, double warmup_end, bool truth)
    : order_(order), t0_(t0), t1_(t1 > t0 ? t1 : t0 + 1.0), warmup_end_(warmup_end), truth_(truth) {
  series_.resize(2 * (2 + static_cast<size_t>(order)));
  for (Series& s : series_) {
    s.lo.assign(kColumns, INFINITY);
    s.hi.assign(kColumns, -INFINITY);
  }
  scale_ = kColumns / (t1_ - t0_);
  // The scale comes from the columns that start after the warm-up.
  const double first = std::ceil((warmup_end_ - t0_) * scale_);
  first_steady_column_ = first <= 0.0 ? 0 : first >= kColumns ? kColumns - 1 : static_cast<size_t>(first);
}

void RunPlot::add(const LogRow& row, const Derivatives* truth) {
  const double position = (row.t - t0_) * scale_;
  const size_t column = position >= 0.0 ? (position < kColumns ? static_cast<size_t>(position) : kColumns - 1) : 0;
  series_[0].add(column, row.estimate);
  series_[1].add(column, truth != nullptr ? (*truth)[0] : row.u);
  series_[2].add(column, row.error);
  for (int j = 1; j <= order_; ++j) {
    series_[2 * static_cast<size_t>(j) + 2].add(column, row.derivatives[j - 1]);
    if (truth != nullptr && j <= kMaxDerivative) {
      series_[2 * static_cast<size_t>(j) + 3].add(column, (*truth)[static_cast<size_t>(j)]);
    }
  }
}

void RunPlot::write_svg(std::ostream& out, const std::string& title) const {
  const size_t panels = 2 + static_cast<size_t>(order_);
  const double height = kTop + static_cast<double>(panels) * (kPanelHeight + kGap) + 10;
  const double plot_width = kColumns;
  out << "<svg xmlns='http://www.w3.org/2000/svg' width='" << kWidth << "' height='" << height
      << "' font-family='sans-serif'>\n<rect width='100%' height='100%' fill='white'/>\n";
  out << "<text x='" << kLeft << "' y='18' font-size='14'>" << xml_escape(title)
      << (truth_ ? " (estimates solid, true values dashed)" : " (estimates solid, signal grey)") << "</text>\n";
  auto x_of = [&](size_t column) { return kLeft + (static_cast<double>(column) + 0.5); };
  for (size_t p = 0; p < panels; ++p) {
    const double top = kTop + static_cast<double>(p) * (kPanelHeight + kGap);
    // The scale comes from after the warm-up, so that the start-up transient
    // does not flatten the steady estimate; the transient is clipped.
    double lo = INFINITY, hi = -INFINITY;
    for (size_t w = 0; w < 2; ++w) {
      const Series& s = series(p, w);
      for (size_t c = first_steady_column_; c < kColumns; ++c) {
        lo = std::min(lo, s.lo[c]);
        hi = std::max(hi, s.hi[c]);
      }
    }
    if (!(lo <= hi)) lo = -1, hi = 1;
    if (hi - lo < 1e-300 || !std::isfinite(hi - lo)) {
      const double middle = std::isfinite(hi - lo) ? lo : 0.0;
      lo = middle - 1, hi = middle + 1;
    }
    const double margin = (hi - lo) * 0.05;
    lo -= margin;
    hi += margin;
    auto y_of = [&](double v) { return top + (hi - v) / (hi - lo) * kPanelHeight; };
    const std::string clip = "panel" + std::to_string(p);
    out << "<clipPath id='" << clip << "'><rect x='" << kLeft << "' y='" << top << "' width='" << plot_width
        << "' height='" << kPanelHeight << "'/></clipPath>\n";
    if (warmup_end_ > t0_) {
      const double shade = std::min(1.0, (warmup_end_ - t0_) / (t1_ - t0_)) * plot_width;
      out << "<rect x='" << kLeft << "' y='" << top << "' width='" << shade << "' height='" << kPanelHeight
          << "' fill='#f2f2f2'/>\n";
    }
    out << "<rect x='" << kLeft << "' y='" << top << "' width='" << plot_width << "' height='" << kPanelHeight
        << "' fill='none' stroke='#999'/>\n";
    const std::string label = p == 0   ? "u and z0"
                              : p == 1 ? "error output u - z0"
                                       : "d" + std::to_string(p - 1) + " (derivative " + std::to_string(p - 1) + ")";
    out << "<text x='" << kLeft + 6 << "' y='" << top + 14 << "' font-size='12'>" << label << "</text>\n";
    out << "<text x='" << kLeft - 6 << "' y='" << top + 10 << "' font-size='10' text-anchor='end'>"
        << short_number(hi) << "</text>\n";
    out << "<text x='" << kLeft - 6 << "' y='" << top + kPanelHeight << "' font-size='10' text-anchor='end'>"
        << short_number(lo) << "</text>\n";
    out << "<text x='" << kLeft << "' y='" << top + kPanelHeight + 12 << "' font-size='10'>t = " << short_number(t0_)
        << " s</text>\n";
    out << "<text x='" << kLeft + plot_width << "' y='" << top + kPanelHeight + 12
        << "' font-size='10' text-anchor='end'>t = " << short_number(t1_) << " s</text>\n";
    // The reference first, under the estimate.
    for (const size_t w : {size_t{1}, size_t{0}}) {
      const Series& s = series(p, w);
      const bool reference = w == 1;
      if (reference && p == 1) continue;
      const char* colour = reference ? (truth_ ? "#d62728" : "#bbbbbb") : "#1f77b4";
      out << "<polyline clip-path='url(#" << clip << ")' fill='none' stroke='" << colour << "' stroke-width='1.2'"
          << (reference && truth_ ? " stroke-dasharray='5,3'" : "") << " points='";
      for (size_t c = 0; c < kColumns; ++c) {
        if (s.lo[c] > s.hi[c]) continue;
        char point[96];
        // Both ends of the column's range: a dense record draws its envelope.
        std::snprintf(point, sizeof point, "%.1f,%.1f %.1f,%.1f ", x_of(c), std::clamp(y_of(s.lo[c]), -1e4, 1e4),
                      x_of(c), std::clamp(y_of(s.hi[c]), -1e4, 1e4));
        out << point;
      }
      out << "'/>\n";
    }
  }
  out << "</svg>\n";
}

void write_tune_svg(std::ostream& out, const std::vector<TuneCurve>& curves, const std::string& title) {
  static const char* colours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                  "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};
  const double width = 900, height = 520, left = 80, right = 130, top = 40, bottom = 50;
  double x0 = INFINITY, x1 = -INFINITY, y0 = INFINITY, y1 = -INFINITY;
  for (const TuneCurve& c : curves) {
    for (const auto& [gain, rms] : c.points) {
      if (!(gain > 0) || !(rms > 0) || !std::isfinite(rms)) continue;
      x0 = std::min(x0, std::log10(gain));
      x1 = std::max(x1, std::log10(gain));
      y0 = std::min(y0, std::log10(rms));
      y1 = std::max(y1, std::log10(rms));
    }
  }
  if (!(x0 < x1)) x0 -= 1, x1 += 1;
  if (!(y0 < y1)) y0 -= 1, y1 += 1;
  const double pw = width - left - right, ph = height - top - bottom;
  auto x = [&](double g) { return left + (std::log10(g) - x0) / (x1 - x0) * pw; };
  auto y = [&](double r) { return top + (y1 - std::log10(r)) / (y1 - y0) * ph; };
  out << "<svg xmlns='http://www.w3.org/2000/svg' width='" << width << "' height='" << height
      << "' font-family='sans-serif'>\n<rect width='100%' height='100%' fill='white'/>\n";
  out << "<text x='" << left << "' y='22' font-size='14'>" << xml_escape(title) << "</text>\n";
  out << "<rect x='" << left << "' y='" << top << "' width='" << pw << "' height='" << ph
      << "' fill='none' stroke='#999'/>\n";
  for (int d = static_cast<int>(std::ceil(x0)); d <= static_cast<int>(std::floor(x1)); ++d) {
    out << "<text x='" << left + (d - x0) / (x1 - x0) * pw << "' y='" << top + ph + 18
        << "' font-size='11' text-anchor='middle'>1e" << d << "</text>\n";
  }
  for (int d = static_cast<int>(std::ceil(y0)); d <= static_cast<int>(std::floor(y1)); ++d) {
    out << "<text x='" << left - 6 << "' y='" << top + (y1 - d) / (y1 - y0) * ph + 4
        << "' font-size='11' text-anchor='end'>1e" << d << "</text>\n";
  }
  // The extremes too, since a narrow range may hold no power of ten.
  out << "<text x='" << left - 6 << "' y='" << top + 10 << "' font-size='10' text-anchor='end'>"
      << short_number(std::pow(10.0, y1)) << "</text>\n";
  out << "<text x='" << left - 6 << "' y='" << top + ph << "' font-size='10' text-anchor='end'>"
      << short_number(std::pow(10.0, y0)) << "</text>\n";
  out << "<text x='" << left + pw / 2 << "' y='" << height - 10 << "' font-size='12' text-anchor='middle'>gain P1</text>\n";
  out << "<text x='14' y='" << top + ph / 2 << "' font-size='12' transform='rotate(-90 14 " << top + ph / 2
      << ")' text-anchor='middle'>RMS of the error output</text>\n";
  for (size_t i = 0; i < curves.size(); ++i) {
    std::vector<std::pair<double, double>> points = curves[i].points;
    std::sort(points.begin(), points.end());
    const char* colour = colours[i % 10];
    out << "<polyline fill='none' stroke='" << colour << "' stroke-width='1.5' points='";
    for (const auto& [gain, rms] : points) {
      if (!(gain > 0) || !(rms > 0) || !std::isfinite(rms)) continue;
      char point[64];
      std::snprintf(point, sizeof point, "%.1f,%.1f ", x(gain), y(rms));
      out << point;
    }
    out << "'/>\n<text x='" << width - right + 10 << "' y='" << top + 16 + 18 * static_cast<double>(i)
        << "' font-size='12' fill='" << colour << "'>order " << curves[i].order << "</text>\n";
  }
  out << "</svg>\n";
}

}  // namespace corvel::sim
