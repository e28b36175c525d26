#include "host/sample_hits.h"

#include <cmath>
#include <limits>

namespace corvel::host {

long solver_steps_per_hit(double period, double step) {
  const double ratio = period / step;
  const double whole = std::round(ratio);
  if (!(whole >= 1.0) || std::fabs(ratio - whole) > 1e-9 * whole || whole > 1e15) return 0;
  constexpr long kMost = std::numeric_limits<long>::max();
  return whole >= static_cast<double>(kMost) ? kMost : static_cast<long>(whole);
}

}  // namespace corvel::host
