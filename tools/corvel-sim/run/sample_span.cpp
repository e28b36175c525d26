#include "run/sample_span.h"

#include <algorithm>
#include <cmath>

#include "common/errors.h"
#include "common/number_text.h"

namespace corvel::sim {

SampleSpan samples_within(double t0, double step, size_t count, double span_start, double span_end,
                          const std::string& option, const std::string& name) {
  const double last = count == 0 ? 0.0 : static_cast<double>(count - 1);
  const double first_in = std::ceil((span_start - t0) / step - 1e-9);
  const double last_in = std::floor((span_end - t0) / step + 1e-9);
  const double begin = std::max(0.0, first_in), end = std::min(last, last_in);
  if (count == 0 || !(begin <= end)) {
    throw UsageError(option + " " + number_text(span_start) + ":" + number_text(span_end) + " holds no sample of " +
                     name + ", which runs from t = " + number_text(t0) + " to " + number_text(t0 + last * step) +
                     " s");
  }
  return {static_cast<size_t>(begin), static_cast<size_t>(end)};
}

double warmup_end(double warmup, double first_t, double last_t) {
  return warmup >= 0.0 ? first_t + warmup : first_t + (last_t - first_t) / 3.0;
}

void refuse_warmup_past_end(double warmup, double first_t, double last_t) {
  if (!(warmup_end(warmup, first_t, last_t) <= last_t)) {
    throw UsageError("--warmup " + number_text(warmup) + " is longer than the run, from t = " + number_text(first_t) +
                     " to " + number_text(last_t) + " s: no sample would count after it (shorten --warmup)");
  }
}

}  // namespace corvel::sim
