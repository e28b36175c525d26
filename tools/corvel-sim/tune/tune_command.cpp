#include "tune/tune_command.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/number_text.h"
#include "common/progress.h"
#include "host/mex_module.h"
#include "output/output_file.h"
#include "output/figure_names.h"
#include "output/figure_render.h"
#include "tune/tune_plot.h"
#include "run/sample_span.h"
#include "run/simulate.h"
#include "tune/tune.h"
#include "tune/tune_workers.h"

namespace corvel::sim {

namespace {

// The samples from t0 to t1 of a record (both included).
Input window_of(const Input& whole, double t0, double t1) {
  const SampleSpan span =
      samples_within(whole.t0, whole.solver_step, whole.u.size(), t0, t1, "--window", whole.description);
  Input part = whole;
  const auto b = static_cast<long>(span.first), e = static_cast<long>(span.last) + 1;
  part.u.assign(whole.u.begin() + b, whole.u.begin() + e);
  if (!whole.truth.empty()) part.truth.assign(whole.truth.begin() + b, whole.truth.begin() + e);
  part.t0 = whole.t0 + static_cast<double>(span.first) * whole.solver_step;
  part.description = whole.description + " from t = " + number_text(part.t0) + " s";
  return part;
}

// `what` names the score: "error RMS", or for columns tuned together the sum
// of their error RMS each over its own RMS about its mean.
// The header says what the block sees: with a sample time of k rows, one row
// in k, at k times the record's step.
void print_table(std::FILE* out, const TuneResult& result, const Input& input, int last_order, double block_step,
                 const std::string& what = "error RMS") {
  const long every = std::max(1L, steps_per_sample_hit(block_step, input.solver_step));
  const size_t samples = input.u.empty() ? 0 : (input.u.size() - 1) / static_cast<size_t>(every) + 1;
  std::fprintf(out, "corvel-sim tune: %s, %zu samples at %g s", input.description.c_str(), samples,
              input.solver_step * static_cast<double>(every));
  if (every > 1) std::fprintf(out, " (one row in %ld of %zu)", every, input.u.size());
  if (result.parts > 0) {
    // A long record: the search's runs are over parts of it.
    std::fprintf(out, ", %ld block runs (the search on %zu parts of %zu samples, then each order's gain over the whole)",
                 result.runs, result.parts, result.part_samples);
    std::fprintf(out, "; %s from t = %g s on\n", what.c_str(), result.warmup_end);
  } else {
    std::fprintf(out, ", %ld block runs; %s from t = %g s on\n", result.runs, what.c_str(), result.warmup_end);
  }
  const bool truth = !input.truth.empty();
  std::fprintf(out, "  %5s %12s %14s", "order", "best gain", what == "error RMS" ? "error RMS" : "score");
  if (truth) {
    for (int j = 1; j <= last_order; ++j) std::fprintf(out, " %11s", ("d" + std::to_string(j) + " RMS").c_str());
  }
  std::fprintf(out, "\n");
  for (const OrderResult& r : result.orders) {
    std::fprintf(out, "  %5d %12.6g %14.6g", r.order, r.best_gain, r.best_error_rms);
    for (double d : r.derivative_rms) std::fprintf(out, " %11.4g", d);
    std::fprintf(out, "\n");
  }
  for (const OrderResult& r : result.orders) {
    if (r.flat_from != 0.0) {
      std::fprintf(out, "  order %d: from gain %.6g on the estimate no longer changes (%s within 0.1 %%)\n", r.order,
                  r.flat_from, what == "error RMS" ? "error RMS" : "score");
    }
  }
}

}  // namespace

TuningReport tune_recording(SimOptions options, bool progress, const CommitCheck& before_placing) {
  TuningReport report;
  const std::string plot = options.plot_given ? options.plot : "corvel-tune.svg";
  std::vector<NamedPath> read;
  if (!options.input.empty()) read.push_back({"--input", options.input});
  if (!options.mex.empty()) read.push_back({"--mex", options.mex});
  if (!plot.empty()) refuse_shared_files(read, {{"--plot", plot}});
  if (!plot.empty() && is_html_path(plot)) {
    throw UsageError("--plot " + plot + ": tune draws a figure, .svg, .png or .pdf, not a page");
  }
  if (!plot.empty()) refuse_unwritable_figure(plot, "--plot");
  OutputSet outputs;
  OutputFile* plot_file = plot.empty() ? nullptr : &outputs.open(plot, "tuning plot");

  std::vector<Input> inputs = make_inputs(options);
  // Several columns: each one's search drawn beside the joint one.
  std::vector<OutputFile*> column_plots;
  if (plot_file != nullptr && inputs.size() > 1) {
    std::vector<std::string> names;
    for (const Input& each : inputs) names.push_back(each.signal_name);
    const std::vector<std::string> paths = figure_paths(plot, names);
    std::vector<NamedPath> written{{"--plot", plot}};
    for (const std::string& path : paths) written.push_back({"--plot", path});
    refuse_shared_files(read, written);
    for (const std::string& path : paths) column_plots.push_back(&outputs.open(path, "tuning plot"));
  }
  for (Input& input : inputs) {
    if (options.window_start < options.window_end) input = window_of(input, options.window_start, options.window_end);
  }
  const Input& input = inputs.front();
  corvel::host::MexModule mex(options.mex.empty() ? default_mex_path() : options.mex);
  if (options.jobs == 0) options.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (options.jobs > 1 && !EvaluationPool::parallel_supported()) {
    std::cerr << "corvel-sim: this build makes its block runs one after another, on one core\n";
    options.jobs = 1;
  }

  // Several columns: each tuned alone, then all together for one parameter
  // set (what a model with one block per signal and shared parameters wants).
  const auto tuned = [&](const std::vector<Input>& part) {
    ProgressBar bar("runs", progress && ProgressBar::terminal_watching());
    try {
      const TuneResult r = tune_together(mex.entry(), options, part, options.first_order, options.last_order,
                                         [&](long done, long expected) { bar.update(done, expected); });
      bar.finish();
      return r;
    } catch (...) {
      bar.finish();
      throw;
    }
  };
  // Every column checked before the first run: a constant one is named at once.
  check_tunable(options, inputs);
  std::vector<TuneResult> each;
  for (size_t c = 0; c < inputs.size() && inputs.size() > 1; ++c) each.push_back(tuned(std::vector<Input>{inputs[c]}));
  const TuneResult result = tuned(inputs);

  const auto draw = [&](OutputFile& file, const TuneResult& r, const std::string& title, std::string score) {
    if (r.parts > 0) score += " on " + std::to_string(r.parts) + " parts of the record";
    std::vector<TuneCurve> curves;
    for (const OrderResult& o : r.orders) {
      // The curves are the search's own scores (over parts of a long record).
      TuneCurve curve{o.order, {}, o.best_gain, o.searched_error_rms};
      for (const Evaluation& e : o.evaluations) curve.points.emplace_back(e.gain, e.error_rms);
      curves.push_back(std::move(curve));
    }
    std::ostringstream svg;
    write_tune_svg(svg, curves, r.orders[r.recommended].best_gain, title, score);
    write_figure(file, svg.str());
  };
  // An input's description names its column when the record has several.
  const auto named = [&](const Input& one) {
    const bool said = one.signal_name.empty() || one.description.find("[" + one.signal_name + "]") != std::string::npos;
    return one.description + (said ? "" : " [" + one.signal_name + "]");
  };
  if (plot_file != nullptr && inputs.size() == 1) {
    draw(*plot_file, result, "corvel-sim tune: " + named(input), "RMS of the error output");
  } else if (plot_file != nullptr) {
    const std::string source = options.input.empty() ? input.description : options.input;
    draw(*plot_file, result, "corvel-sim tune: " + source + ", " + std::to_string(inputs.size()) + " columns together",
         "sum of each column's error RMS over its variation");
    for (size_t c = 0; c < inputs.size(); ++c) {
      draw(*column_plots[c], each[c], "corvel-sim tune: " + named(inputs[c]) + ", alone", "RMS of the error output");
    }
  }
  outputs.commit(before_placing);
  report.inputs = std::move(inputs);
  report.each = std::move(each);
  report.together = result;
  report.plot = plot_file != nullptr ? plot : "";
  for (const OutputFile* file : column_plots) report.column_plots.push_back(file->path());
  return report;
}

int tune_command(SimOptions options) {
  const TuningReport report = tune_recording(options, !options.quiet);
  const std::vector<Input>& inputs = report.inputs;
  const Input& input = inputs.front();
  const std::vector<TuneResult>& each = report.each;
  const TuneResult& result = report.together;
  const OrderResult& best = result.orders[result.recommended];
  const std::string& plot = report.plot;
  const bool plotted = !plot.empty();
  // With a plot on standard output, the tables go to standard error.
  bool on_stdout = plotted && is_standard_output(plot);
  for (const std::string& each_plot : report.column_plots) on_stdout = on_stdout || is_standard_output(each_plot);
  std::FILE* out = on_stdout ? stderr : stdout;
  for (size_t c = 0; c < each.size(); ++c) {
    print_table(out, each[c], inputs[c], options.last_order, options.step);
    const OrderResult& own = each[c].orders[each[c].recommended];
    std::fprintf(out, "Recommended for %s: order %d, gain %.6g", inputs[c].signal_name.c_str(), own.order, own.best_gain);
    if (!inputs[c].column.empty()) {
      SimOptions alone = options;
      for (auto& [name, value] : alone.typed) {
        if (name == "--column") value = inputs[c].column;
      }
      std::fprintf(out, ". To run it:\n  %s", run_command_line(alone, own.best_gain, own.order).c_str());
    }
    std::fprintf(out, "\n\n");
  }
  if (inputs.size() > 1) {
    Input together = input;
    together.description = options.input + ", " + std::to_string(inputs.size()) + " columns together";
    print_table(out, result, together, options.last_order, options.step, "the sum of each column's error RMS over its RMS about its mean");
    std::fprintf(out, "Recommended for all %zu columns, one parameter set: order %d, gain %.6g. To run it:\n  %s\n",
                inputs.size(), best.order, best.best_gain, run_command_line(options, best.best_gain, best.order).c_str());
  } else {
    print_table(out, result, input, options.last_order, options.step);
    std::fprintf(out, "Recommended: order %d, gain %.6g. To run it:\n  %s\n", best.order, best.best_gain,
                run_command_line(options, best.best_gain, best.order).c_str());
  }
  if (plotted && report.column_plots.empty()) std::fprintf(out, "Plot of error RMS against gain: %s\n", plot.c_str());
  if (plotted && !report.column_plots.empty()) {
    std::fprintf(out, "Plot of the score against gain, the columns together: %s; each column alone:", plot.c_str());
    for (const std::string& each_plot : report.column_plots) std::fprintf(out, " %s", each_plot.c_str());
    std::fprintf(out, "\n");
  }
  return 0;
}

}  // namespace corvel::sim
