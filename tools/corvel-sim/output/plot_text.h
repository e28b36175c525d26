// Text and scales shared by the plots: escaping for SVG, HTML and scripts,
// round tick values, and the colours of the series.
#ifndef CORVEL_SIM_PLOT_TEXT_H
#define CORVEL_SIM_PLOT_TEXT_H

#include <string>
#include <vector>

namespace corvel::sim {

// Text made safe inside an SVG or HTML element or attribute.
std::string xml_escape(const std::string& text);
// Text made safe as a string inside a <script> element: a JSON string
// literal in which '<', '>' and '&' are written as escapes.
std::string script_string(const std::string& text);

// Round tick values covering [lo, hi]: steps of 1, 2 or 5 times a power of
// ten, about `count` of them.
std::vector<double> nice_ticks(double lo, double hi, int count);
// A tick's label: %.6g, so that round values read round, its exponent
// short (1e9, 2.5e-5).
std::string tick_label(double x);

// The colours of a run's series: the estimate, and what it is drawn against
// (the true value of a built-in signal, else the recorded signal).
inline constexpr const char* kEstimateColour = "#1f77b4";
inline const char* reference_colour(bool truth) { return truth ? "#d62728" : "#9a9a9a"; }
// One colour per curve of the tuning plot.
const char* curve_colour(size_t index);

}  // namespace corvel::sim

#endif
