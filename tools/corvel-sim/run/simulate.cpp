#include "run/simulate.h"

#include <algorithm>
#include <cmath>

#include "common/number_text.h"
#include "host/engine.h"
#include "host/sample_hits.h"

namespace corvel::sim {

std::vector<Input> make_inputs(const RunDescription& options) {
  const std::unique_ptr<Record> record = open_record(options);
  return read_inputs(*record);
}

std::vector<Input> read_inputs(Record& source) {
  Record* record = &source;
  const size_t channels = record->channels();
  std::vector<Input> inputs(channels);
  for (size_t c = 0; c < channels; ++c) {
    Input& input = inputs[c];
    input.t0 = record->t0();
    input.solver_step = record->step();
    input.description = record->description();
    input.signal_name = record->signal_name();
    if (channels > 1) {
      input.signal_name = record->shape().channel_names[c];
      if (!record->shape().channel_columns.empty()) input.column = record->shape().channel_columns[c];
      input.description += " [" + input.signal_name + "]";
    }
    input.u.reserve(record->count());
  }
  record->restart();
  for (size_t k = 0; k < record->count(); ++k) {
    inputs[0].u.push_back(record->next());
    for (size_t c = 1; c < channels; ++c) inputs[c].u.push_back(record->value(c));
    if (const Derivatives* truth = record->truth()) inputs[0].truth.push_back(*truth);
  }
  record->finish();
  for (Input& input : inputs) input.variation = variation_of(input.u);
  return inputs;
}

double variation_of(const std::vector<double>& u) {
  VariationSum sum;
  for (const double x : u) sum.add(x);
  return sum.value();
}

Input make_input(const RunDescription& options) {
  std::vector<Input> inputs = make_inputs(options);
  if (inputs.size() > 1) {
    throw UsageError("--column " + options.column + ": one column is wanted here (this names " +
                     std::to_string(inputs.size()) + ")");
  }
  return std::move(inputs[0]);
}

bool RunShape::multirate() const {
  for (const long e : every_of) {
    if (e != every) return true;
  }
  return false;
}

double block_step(const RunDescription& options, size_t channel) {
  return options.steps.empty() ? options.step : options.steps.at(channel);
}

long steps_per_sample_hit(double block_step, double solver_step) {
  if (!(block_step > 0.0) || !std::isfinite(block_step)) return 1;
  return host::solver_steps_per_hit(block_step, solver_step);
}

std::string gain_warning(double gain, const std::string& named) {
  const std::string given = named + number_text(gain);
  if (std::isnan(gain)) return given + " is not a number: every estimate from the first error on is NaN";
  if (gain == 0.0) {
    return given + ": the block never corrects its prediction, so its estimates do not follow the signal";
  }
  if (gain < 0.0) return given + " is negative: the block's error grows from sample to sample and its estimates diverge";
  if (std::isinf(gain)) return given + " is infinite: the block places its poles at 0 and passes the noise whole";
  return "";
}

std::string non_finite_warning(const FirstNonFinite& first, const std::string& signal) {
  return first.where + signal + " (t = " + number_text(first.t) + " s): the input is " + number_text(first.u) +
         "; every estimate from there on is NaN";
}

namespace {

// Solver steps per sample hit of a block of sample time `step` over the
// record. A built-in signal's step is the user's own choice: a step that is
// no multiple of it is left to the engine's message.
long every_of_step(double step, const RunDescription& o, const Record& record) {
  const long every = steps_per_sample_hit(step, record.step());
  if (every == 0 && !o.input.empty()) {
    throw UsageError("--step " + number_text(step) + " is not a whole multiple of the step " +
                     number_text(record.step()) + " s of " + record.description() +
                     "; --step -1 samples every row at the file's step");
  }
  return every == 0 ? 1 : every;
}

}  // namespace

RunShape plan_run(const RunDescription& o, const Record& record, std::vector<std::string>* notes) {
  RunShape shape;
  const size_t channels = record.channels();
  if (!o.steps.empty() && o.steps.size() != channels) {
    throw UsageError("--step: " + std::to_string(o.steps.size()) + " sample times for " + std::to_string(channels) +
                     (channels == 1 ? " signal" : " signals") + " of " + record.description() +
                     " (one --step for all, or one for each)");
  }
  if (!o.gains.empty() && o.gains.size() != channels) {
    throw UsageError("gains: " + std::to_string(o.gains.size()) + " gains for " + std::to_string(channels) +
                     (channels == 1 ? " signal" : " signals") + " of " + record.description() +
                     " (one gain for all, or one for each)");
  }
  const size_t count = record.count();
  for (size_t c = 0; c < channels; ++c) {
    const long every = every_of_step(block_step(o, c), o, record);
    shape.every_of.push_back(every);
    shape.rows_of.push_back(count == 0 ? 0 : (count - 1) / static_cast<size_t>(every) + 1);
  }
  shape.every = shape.every_of[0];
  size_t last_row = 0;
  if (!shape.multirate()) {
    shape.rows = shape.rows_of[0];
    last_row = shape.rows == 0 ? 0 : (shape.rows - 1) * static_cast<size_t>(shape.every);
  } else {
    for (size_t k = 0; k < count; ++k) {
      for (const long every : shape.every_of) {
        if (k % static_cast<size_t>(every) != 0) continue;
        ++shape.rows;
        last_row = k;
        break;
      }
    }
  }
  for (size_t c = 0; c < channels && notes != nullptr && !o.input.empty(); ++c) {
    const long every = shape.every_of[c];
    if (every == 1 || (c > 0 && !shape.multirate())) continue;
    const std::string who =
        shape.multirate() ? "the block of '" + record.shape().channel_names[c] + "'" : std::string("the block");
    notes->push_back("--step " + number_text(block_step(o, c)) + " is " + std::to_string(every) + " steps of " +
                     number_text(record.step()) + " s: " + who + " samples one row in " + std::to_string(every) +
                     " of " + record.description() + ", " + std::to_string(shape.rows_of[c]) + " of " +
                     std::to_string(count) + " rows");
  }
  shape.first_t = record.t0();
  shape.last_t = record.t0() + static_cast<double>(last_row) * record.step();
  return shape;
}

void simulate(host::MexFunction entry, const RunDescription& o, Record& record, const RowSink& sink,
              const std::function<void(const FirstNonFinite&)>& on_non_finite,
              const std::function<void(const std::string&)>& trace) {
  host::SolverSettings solver;
  solver.variable_step = o.variable_step;
  solver.step = record.step();
  host::Engine engine(entry, solver);
  if (trace) engine.trace_to(trace);

  // The engine asks each block for its input at each sample hit, in rising
  // order (and for sample 0 twice: initial conditions, then outputs): the
  // rows between hits are read and passed over. A record of several signals
  // gives one block per signal, each on its own sample time; whichever block
  // asks first for a row reads it for all of them.
  record.restart();
  long next_index = 0;
  double first_signal = 0.0;
  const size_t channels = record.channels();
  std::vector<FirstNonFinite> first(channels);
  std::vector<unsigned char> filled(channels, 0);  // whether each block's last input filled a gap
  for (size_t c = 0; c < channels; ++c) {
    engine.add_block({block_gain(o, c), block_step(o, c), o.order}, [&, c](long k, double) {
      while (next_index <= k) {
        first_signal = record.next();
        ++next_index;
      }
      filled[c] = record.filled(c) ? 1 : 0;
      const double current = c == 0 ? first_signal : record.value(c);
      if (!first[c].seen && !std::isfinite(current)) {
        first[c] = {true, record.where(), record.t0() + static_cast<double>(k) * record.step(), current, c};
        if (on_non_finite) on_non_finite(first[c]);
      }
      return current;
    });
  }

  engine.initialize();
  engine.run(static_cast<long>(record.count()), [&](const host::SampleView& view) {
    // The recording's own time stamp where it has one (29.999, not
    // 29.999000000000002 made up from the step).
    const double stamp = next_index == view.step + 1 ? record.time_stamp() : std::nan("");
    LogRow row{std::isnan(stamp) ? record.t0() + view.t : stamp, view.u, view.error[0], view.estimate[0],
               view.derivatives, static_cast<size_t>(view.block), view.step};
    row.filled = filled[row.channel] != 0;
    sink(row, view.order, record.truth());
  });
  // Rows after the last sample hit are read too: the record is checked whole.
  while (next_index < static_cast<long>(record.count())) {
    record.next();
    ++next_index;
  }
  record.finish();
}

std::string default_mex_path() {
  const std::string dir = host::executable_directory();
#if defined(_WIN32)
  return dir + (sizeof(void*) == 8 ? "\\corvel.mexw64" : "\\corvel.mexw32");
#else
  return dir + (sizeof(void*) == 8 ? "/corvel.mexa64" : "/corvel.mexglx");
#endif
}

}  // namespace corvel::sim
