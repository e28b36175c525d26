// The samples of a record that a span of time T0:T1 holds (both ends
// included, within a billionth of a step), for --window and --plot-window.
#ifndef CORVEL_SIM_SAMPLE_SPAN_H
#define CORVEL_SIM_SAMPLE_SPAN_H

#include <cstddef>
#include <string>

namespace corvel::sim {

struct SampleSpan {
  size_t first, last;  // sample indices from 0, first <= last
};

// The record has `count` samples `step` seconds apart from `t0`. Throws
// UsageError "OPTION T0:T1 holds no sample of NAME, which runs from ..." when
// the span holds none.
SampleSpan samples_within(double t0, double step, size_t count, double span_start, double span_end,
                          const std::string& option, const std::string& name);

// Where the warm-up ends: `warmup` seconds after the first sample, or with a
// negative `warmup` a third of the way through.
double warmup_end(double warmup, double first_t, double last_t);

// A run's warm-up must leave samples after it to count: throws UsageError
// naming --warmup and the run's span otherwise.
void refuse_warmup_past_end(double warmup, double first_t, double last_t);

}  // namespace corvel::sim

#endif
