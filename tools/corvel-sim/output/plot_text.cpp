#include "output/plot_text.h"

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

std::string tick_label(double x) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.6g", x);
  // An exponent as a person writes it: 1e9 and 2.5e-5, not 1e+09 and 2.5e-05.
  std::string text = buffer;
  const size_t e = text.find('e');
  if (e == std::string::npos) return text;
  std::string exponent = text.substr(e + 1);
  const bool negative = exponent[0] == '-';
  exponent.erase(0, exponent.find_first_not_of("+-0"));
  return text.substr(0, e) + "e" + (negative ? "-" : "") + exponent;
}

const char* curve_colour(size_t index) {
  static const char* const colours[] = {"#1f77b4", "#ff7f0e", "#2ca02c", "#d62728", "#9467bd",
                                        "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};
  return colours[index % 10];
}

}  // namespace corvel::sim
