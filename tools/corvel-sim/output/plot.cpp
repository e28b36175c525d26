#include "output/plot.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "common/number_text.h"

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
        out += static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' ? '?' : c;
    }
  }
  return out;
}

std::string script_string(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || c == '<' || c == '>' || c == '&' || c == '\'') {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::vector<double> nice_ticks(double lo, double hi, int count) {
  std::vector<double> ticks;
  if (!(hi > lo) || !std::isfinite(hi - lo) || count < 1) return ticks;
  const double rough = (hi - lo) / count;
  const double exponent = std::floor(std::log10(rough));
  if (!(std::fabs(exponent) <= 300)) return ticks;
  // 10^|exponent| by multiplication, exact up to 1e22, and a tick as m k
  // divided by it for a negative exponent: 0.3 comes out as the double
  // nearest 0.3 on every build, whatever its pow does.
  double scale = 1.0;
  for (int i = 0; i < static_cast<int>(std::fabs(exponent)); ++i) scale *= 10.0;
  auto tick_at = [&](double units) { return exponent < 0 ? units / scale : units * scale; };
  double m = 1.0;
  for (const double candidate : {1.0, 2.0, 5.0, 10.0}) {
    m = candidate;
    if (tick_at(m) >= rough) break;
  }
  const double step = tick_at(m);
  for (double k = std::ceil(lo / step); ticks.size() < 100; k += 1.0) {
    const double tick = tick_at(k * m);
    if (tick > hi * (1 + 1e-12) + 1e-300) break;
    ticks.push_back(tick == 0.0 ? 0.0 : tick);
  }
  return ticks;
}

namespace {

std::string tick_label(double x) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.6g", x);
  return buffer;
}

const char* const kEstimateColour = "#1f77b4";
const char* const kTruthColour = "#d62728";
const char* const kSignalColour = "#9a9a9a";

}  // namespace

RunPlot::RunPlot(int order, size_t first_row, size_t last_row, size_t bins, double warmup_end, bool truth)
    : order_(order),
      first_row_(first_row),
      last_row_(std::max(first_row, last_row)),
      bins_(std::max<size_t>(1, std::min(bins, last_row_ - first_row_ + 1))),
      warmup_end_(warmup_end),
      truth_(truth) {
  panels_.push_back({"u and z0", "z0, the estimate of u", truth ? "u without noise" : "u, the signal"});
  panels_.push_back({"error output", "u - z0 (of the sample before)", ""});
  for (int j = 1; j <= order; ++j) {
    const std::string d = "d" + std::to_string(j);
    panels_.push_back({d, d + ", the estimate of derivative " + std::to_string(j),
                       truth ? "the true derivative " + std::to_string(j) : ""});
  }
  series_.resize(2 * panels_.size());
  for (Series& s : series_) {
    s.lo.assign(bins_, INFINITY);
    s.hi.assign(bins_, -INFINITY);
    s.sum.assign(bins_, 0.0);
    s.finite.assign(bins_, 0);
  }
  bin_time_.assign(bins_, NAN);
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
      const char* colour = w == 0 ? kEstimateColour : truth_ ? kTruthColour : kSignalColour;
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
      const char* colour = w == 0 ? kEstimateColour : truth_ ? kTruthColour : kSignalColour;
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

void RunPlot::write_html(std::ostream& out, const std::string& title, const std::string& script,
                         const std::string& style) const {
  out << "<!DOCTYPE html>\n<html><head><meta charset='utf-8'>\n<title>" << xml_escape(title) << "</title>\n<style>"
      << style
      << "\nbody{font-family:sans-serif;margin:16px} .panel{width:96%;height:230px;margin:6px 0 28px 0} "
         "#errors{color:#b00}</style>\n<script>"
      << script << "</script>\n</head><body>\n<h2>" << xml_escape(title) << "</h2>\n<p>";
  if (enveloped()) {
    out << rows_seen_ << " samples, drawn as " << bins_
        << " ranges (the smallest and largest value of each stretch, with its mean): use corvel-sim's "
           "--plot-window T0:T1 for every sample of a span.";
  } else {
    out << rows_seen_ << " samples, every one drawn.";
  }
  out << " Drag to zoom (every panel follows), double-click to zoom out; the shaded start is the warm-up.</p>\n"
         "<div id='errors'></div>\n";
  for (size_t p = 0; p < panels_.size(); ++p) out << "<div class='panel' id='panel" << p << "'></div>\n";

  // The data: per panel, rows of [t, [lo, mean, hi], ...] as dygraphs'
  // customBars reads them; null where a bin holds no finite value.
  out << "<script>\nwindow.onerror = function (message) {\n"
         "  document.getElementById('errors').textContent += message + ' ';\n"
         "  document.body.setAttribute('data-errors', 'yes');\n};\n";
  out << "const title = " << script_string(title) << ";\nconst warmupEnd = " << number_text(warmup_end_)
      << ";\nconst panels = [\n";
  char number[3][kNumberTextMax + 1];
  auto value = [&](int slot, double x) -> const char* {
    if (!std::isfinite(x)) return "null";
    *write_number(number[slot], x) = '\0';
    return number[slot];
  };
  for (size_t p = 0; p < panels_.size(); ++p) {
    const bool reference = !panels_[p].reference_label.empty();
    const auto [lo, hi] = steady_range(p);
    // The reference first, so that the estimate is drawn over it.
    out << "{labels: [\"t\", ";
    if (reference) out << script_string(panels_[p].reference_label) << ", ";
    out << script_string(panels_[p].estimate_label);
    out << "], name: " << script_string(panels_[p].name) << ", range: [" << value(0, lo) << ", " << value(1, hi)
        << "], rows: [\n";
    for (size_t b = 0; b < bins_; ++b) {
      if (std::isnan(bin_time_[b])) continue;
      out << '[' << value(0, bin_time_[b]);
      for (size_t w = reference ? 1 : 0;; --w) {
        const Series& s = series(p, w);
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
  out << R"(];
const colours = [[')" << (truth_ ? kTruthColour : kSignalColour) << "', '" << kEstimateColour << R"('], [')"
      << kEstimateColour << R"(']];
const graphs = [];
let syncing = false;
function follow(source) {
  if (syncing) return;
  syncing = true;
  const range = source.xAxisRange();
  for (const g of graphs) if (g !== source) g.updateOptions({dateWindow: range});
  syncing = false;
}
panels.forEach(function (panel, i) {
  const g = new Dygraph(document.getElementById('panel' + i), panel.rows, {
    labels: panel.labels,
    customBars: true,
    title: panel.name,
    xlabel: i === panels.length - 1 ? 't (s)' : undefined,
    colors: panel.labels.length > 2 ? colours[0] : colours[1],
    valueRange: panel.range,
    legend: 'always',
    labelsSeparateLines: false,
    showRangeSelector: i === 0,
    strokeWidth: 1.2,
    underlayCallback: function (canvas, area, g) {
      const right = g.toDomXCoord(warmupEnd);
      if (right > area.x) {
        canvas.fillStyle = 'rgba(0, 0, 0, 0.06)';
        canvas.fillRect(area.x, area.y, Math.min(right, area.x + area.w) - area.x, area.h);
      }
    },
    drawCallback: function (g, initial) { if (!initial) follow(g); },
  });
  graphs.push(g);
});
document.body.setAttribute('data-panels', String(graphs.length));
</script>
</body></html>
)";
}

void write_tune_svg(std::ostream& out, const std::vector<TuneCurve>& curves, double recommended_gain,
                    const std::string& title) {
  static const char* colours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                  "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};
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
        << "' stroke='#e4e4e4'/>\n<text x='" << text << "' y='" << top + ph + 16 << "' text-anchor='middle'>1e" << d
        << "</text>\n";
  }
  for (int d = static_cast<int>(std::ceil(y0)); d <= static_cast<int>(std::floor(y1)); ++d) {
    std::snprintf(text, sizeof text, "%.1f", top + (y1 - d) / (y1 - y0) * ph);
    out << "<line x1='" << left << "' x2='" << left + pw << "' y1='" << text << "' y2='" << text
        << "' stroke='#e4e4e4'/>\n<text x='" << left - 6 << "' y='" << text << "' dy='4' text-anchor='end'>1e" << d
        << "</text>\n";
  }
  out << "<text x='" << left - 6 << "' y='" << top + 4 << "' dy='4' text-anchor='end' fill='#555'>"
      << tick_label(std::pow(10.0, y1)) << "</text>\n<text x='" << left - 6 << "' y='" << top + ph
      << "' text-anchor='end' fill='#555'>" << tick_label(std::pow(10.0, y0)) << "</text>\n";
  out << "<rect x='" << left << "' y='" << top << "' width='" << pw << "' height='" << ph
      << "' fill='none' stroke='#888'/>\n";
  out << "<text x='" << left + pw / 2 << "' y='" << height - 14 << "' font-size='12' text-anchor='middle'>gain P1"
      << (recommended_gain < 0 ? " (magnitude)" : "") << "</text>\n";
  out << "<text x='16' y='" << top + ph / 2 << "' font-size='12' transform='rotate(-90 16 " << top + ph / 2
      << ")' text-anchor='middle'>RMS of the error output</text>\n";
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
    const char* colour = colours[i % 10];
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
