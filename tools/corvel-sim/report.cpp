#include "report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace corvel::sim {

namespace {

std::string number(double x) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", x);
  return buffer;
}

std::string short_number(double x) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.4g", x);
  return buffer;
}

}  // namespace

void write_csv(std::ostream& out, const Log& log) {
  out << "t,u,error,z0";
  for (int j = 1; j <= log.order; ++j) out << ",d" << j;
  out << '\n';
  for (size_t r = 0; r < log.t.size(); ++r) {
    out << number(log.t[r]) << ',' << number(log.u[r]) << ',' << number(log.error[r]) << ','
        << number(log.estimate[r]);
    for (int j = 0; j < log.order; ++j) out << ',' << number(log.derivatives[static_cast<size_t>(j)][r]);
    out << '\n';
  }
}

std::vector<ErrorRow> error_table(const Log& log, const Input& input, double from) {
  std::vector<ErrorRow> rows;
  if (input.truth.empty()) return rows;
  for (int j = 0; j <= std::min(log.order, kMaxDerivative); ++j) {
    double sum = 0.0, truth_sum = 0.0;
    size_t count = 0;
    for (size_t r = 0; r < log.t.size(); ++r) {
      if (log.t[r] < from) continue;
      const double truth = input.truth[log.sample[r]][static_cast<size_t>(j)];
      const double estimate = j == 0 ? log.estimate[r] : log.derivatives[static_cast<size_t>(j - 1)][r];
      sum += (estimate - truth) * (estimate - truth);
      truth_sum += truth * truth;
      ++count;
    }
    const double n = count > 0 ? static_cast<double>(count) : std::nan("");
    rows.push_back({j, std::sqrt(sum / n), std::sqrt(truth_sum / n)});
  }
  return rows;
}

void print_error_table(std::ostream& out, const std::vector<ErrorRow>& rows, double from) {
  char line[160];
  std::snprintf(line, sizeof line, "RMS error against the true derivatives, from t = %g s on:\n", from);
  out << line;
  std::snprintf(line, sizeof line, "  %-12s %14s %14s %10s\n", "estimate", "RMS error", "RMS of truth", "relative");
  out << line;
  for (const ErrorRow& row : rows) {
    const std::string name = row.derivative == 0 ? "z0 (signal)" : "d" + std::to_string(row.derivative);
    std::snprintf(line, sizeof line, "  %-12s %14.6g %14.6g %10.3g\n", name.c_str(), row.rms, row.truth_rms,
                  row.rms / row.truth_rms);
    out << line;
  }
}

namespace {

constexpr double kWidth = 900, kPanelHeight = 170, kLeft = 70, kRight = 20, kTop = 30, kGap = 30;
constexpr size_t kMaxPoints = 2000;

struct Series {
  const std::vector<double>* values;
  const char* colour;
  bool dashed;
};

void panel(std::ostream& out, const Log& log, double top, const std::string& label, const std::vector<Series>& series) {
  double lo = INFINITY, hi = -INFINITY;
  for (const Series& s : series) {
    for (double v : *s.values) {
      if (std::isfinite(v)) {
        lo = std::min(lo, v);
        hi = std::max(hi, v);
      }
    }
  }
  if (!(lo <= hi)) lo = -1, hi = 1;
  if (hi - lo < 1e-300) lo -= 1, hi += 1;
  const double t0 = log.t.front(), t1 = log.t.size() > 1 ? log.t.back() : t0 + 1;
  const double plot_width = kWidth - kLeft - kRight;
  auto x = [&](double t) { return kLeft + (t - t0) / (t1 - t0) * plot_width; };
  auto y = [&](double v) { return top + (hi - v) / (hi - lo) * kPanelHeight; };

  out << "<rect x='" << kLeft << "' y='" << top << "' width='" << plot_width << "' height='" << kPanelHeight
      << "' fill='none' stroke='#999'/>\n";
  out << "<text x='" << kLeft + 6 << "' y='" << top + 14 << "' font-size='12'>" << label << "</text>\n";
  out << "<text x='" << kLeft - 6 << "' y='" << top + 10 << "' font-size='10' text-anchor='end'>" << short_number(hi)
      << "</text>\n";
  out << "<text x='" << kLeft - 6 << "' y='" << top + kPanelHeight << "' font-size='10' text-anchor='end'>"
      << short_number(lo) << "</text>\n";
  out << "<text x='" << kLeft << "' y='" << top + kPanelHeight + 12 << "' font-size='10'>t = " << short_number(t0)
      << " s</text>\n";
  out << "<text x='" << kLeft + plot_width << "' y='" << top + kPanelHeight + 12
      << "' font-size='10' text-anchor='end'>t = " << short_number(t1) << " s</text>\n";
  const size_t stride = std::max<size_t>(1, log.t.size() / kMaxPoints);
  for (const Series& s : series) {
    out << "<polyline fill='none' stroke='" << s.colour << "' stroke-width='1.2'"
        << (s.dashed ? " stroke-dasharray='5,3'" : "") << " points='";
    for (size_t r = 0; r < log.t.size(); r += stride) {
      const double v = (*s.values)[r];
      if (!std::isfinite(v)) continue;
      char point[64];
      std::snprintf(point, sizeof point, "%.1f,%.1f ", x(log.t[r]), y(v));
      out << point;
    }
    out << "'/>\n";
  }
}

}  // namespace

void write_svg(std::ostream& out, const Log& log, const Input& input, const std::string& title) {
  const int panels = 1 + log.order;
  const double height = kTop + panels * (kPanelHeight + kGap) + 10;
  out << "<svg xmlns='http://www.w3.org/2000/svg' width='" << kWidth << "' height='" << height
      << "' font-family='sans-serif'>\n<rect width='100%' height='100%' fill='white'/>\n";
  out << "<text x='" << kLeft << "' y='18' font-size='14'>" << title
      << " (estimates solid, signal or true derivative dashed)</text>\n";
  if (log.t.empty()) {
    out << "</svg>\n";
    return;
  }
  std::vector<std::vector<double>> truth(static_cast<size_t>(log.order) + 1);
  if (!input.truth.empty()) {
    for (size_t j = 0; j < truth.size(); ++j) {
      for (size_t r = 0; r < log.t.size(); ++r) truth[j].push_back(input.truth[log.sample[r]][j]);
    }
  }
  double top = kTop;
  panel(out, log, top, "u and z0",
        {{&log.u, "#bbbbbb", false}, {&log.estimate, "#1f77b4", false}, {input.truth.empty() ? &log.u : &truth[0], "#d62728", true}});
  for (int j = 1; j <= log.order; ++j) {
    top += kPanelHeight + kGap;
    std::vector<Series> series = {{&log.derivatives[static_cast<size_t>(j - 1)], "#1f77b4", false}};
    if (!input.truth.empty()) series.push_back({&truth[static_cast<size_t>(j)], "#d62728", true});
    panel(out, log, top, "d" + std::to_string(j) + " (derivative " + std::to_string(j) + ")", series);
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
  out << "<text x='" << left << "' y='22' font-size='14'>" << title << "</text>\n";
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
