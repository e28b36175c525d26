// corvel-sim: the corvel block run over a signal through its MEX file by our
// simulation engine; writes the log as CSV or MAT, a plot, and for built-in
// signals the error of every estimate against the true derivative.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "output/dygraphs_assets.h"
#include "output/error_table.h"
#include "host/engine.h"
#include "host/mex_module.h"
#include "common/interrupt.h"
#include "output/log_writer.h"
#include "common/number_text.h"
#include "command_line/options.h"
#include "output/output_file.h"
#include "output/plot.h"
#include "common/progress.h"
#include "input/record.h"
#include "run/simulate.h"
#include "tune/tune.h"
#include "tune/tune_workers.h"

namespace {

using namespace corvel::sim;

// Writes a text output whole, through a temporary beside it.
void write_text_file(const std::string& path, const std::string& what, const std::string& text) {
  OutputFile file(path, what);
  if (std::fwrite(text.data(), 1, text.size(), file.stream()) != text.size()) {
    throw InputError("writing the " + what + " to " + path + " failed");
  }
  file.commit();
}

void say(const std::string& note) { std::cerr << "corvel-sim: " << note << '\n'; }

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The log rows a plot covers: all of them, or those of --plot-window.
std::pair<size_t, size_t> plotted_rows(const SimOptions& o, const RunShape& shape, const std::string& name) {
  const size_t last = shape.rows == 0 ? 0 : shape.rows - 1;
  if (!(o.plot_window_start < o.plot_window_end)) return {0, last};
  const double period = shape.rows > 1 ? (shape.last_t - shape.first_t) / static_cast<double>(last) : 1.0;
  const double first_row = std::ceil((o.plot_window_start - shape.first_t) / period - 1e-9);
  const double last_row = std::floor((o.plot_window_end - shape.first_t) / period + 1e-9);
  const double begin = std::max(0.0, first_row), end = std::min(static_cast<double>(last), last_row);
  if (!(begin <= end)) {
    throw UsageError("--plot-window " + number_text(o.plot_window_start) + ":" + number_text(o.plot_window_end) +
                     " holds no sample of " + name + ", which runs from t = " + number_text(shape.first_t) + " to " +
                     number_text(shape.last_t) + " s");
  }
  return {static_cast<size_t>(begin), static_cast<size_t>(end)};
}

int run(const SimOptions& options) {
  const std::unique_ptr<Record> record = open_record(options);
  std::vector<std::string> notes = record->notes;
  const RunShape shape = plan_run(options, *record, &notes);
  for (const std::string& note : notes) say(note);
  corvel::host::MexModule mex(options.mex.empty() ? default_mex_path() : options.mex);

  const double warmup_end = options.warmup >= 0 ? shape.first_t + options.warmup
                                                : shape.first_t + (shape.last_t - shape.first_t) / 3.0;
  const bool truth = record->truth() != nullptr;
  // What the plot covers (log rows, from 0), and with what.
  const bool html = ends_with(options.plot, ".html") || ends_with(options.plot, ".htm");
  const DygraphsAssets assets = html ? dygraphs_assets() : DygraphsAssets{};
  const std::pair<size_t, size_t> plot_rows = plotted_rows(options, shape, record->description);
  std::unique_ptr<LogWriter> log;
  std::unique_ptr<ErrorTable> errors;
  std::unique_ptr<RunPlot> plot;
  int order = 0;
  size_t rows = 0;
  ProgressBar progress("samples", ProgressBar::terminal_watching());
  const long expected = static_cast<long>(shape.rows);

  std::vector<std::string> trace;
  const bool tracing = !options.trace.empty();
  // The trace is written also when the run fails: that is when it is wanted.
  auto flush_trace = [&] {
    if (!tracing) return;
    std::string text;
    for (const auto& line : trace) text += line + '\n';
    if (options.trace == "-") {
      std::cerr << text;
    } else {
      write_text_file(options.trace, "call trace", text);
    }
  };
  try {
    simulate(
        mex.entry(), options, *record,
        [&](const LogRow& row, int width, const Derivatives* sample_truth) {
          if (!log) {  // the output's width is the block's order, known from the first row
            order = width;
            log = make_log_writer(options.out, order);
            if (truth) errors = std::make_unique<ErrorTable>(order, warmup_end);
            if (!options.plot.empty()) {
              plot = std::make_unique<RunPlot>(order, plot_rows.first, plot_rows.second,
                                               html ? RunPlot::kHtmlBins : RunPlot::kSvgBins, warmup_end, truth);
            }
          }
          log->row(row);
          if (errors && sample_truth != nullptr) errors->add(row.t, row.estimate, row.derivatives, *sample_truth);
          if (plot) plot->add(rows, row, sample_truth);
          if ((++rows & 0xfff) == 0) progress.update(static_cast<long>(rows), expected);
        },
        [&](const FirstNonFinite& first) {
          const std::string text = first.where + " (t = " + number_text(first.t) + " s): the input is " +
                                   number_text(first.u) + "; every estimate from there on is NaN";
          if (options.strict) throw InputError(text + " (--strict)");
          progress.finish();
          say("warning: " + text);
        },
        tracing ? &trace : nullptr);
  } catch (...) {
    progress.finish();
    flush_trace();
    throw;
  }
  progress.finish();
  flush_trace();
  if (!log) log = make_log_writer(options.out, 0);  // a run with no rows still leaves its header
  log->commit();
  std::cout << "corvel-sim: " << rows << " samples of " << record->description << ", order " << order << ", log in "
            << options.out;
  if (plot) {
    std::ostringstream text;
    const std::string title = "corvel: " + record->description +
                              (record->signal_name.empty() ? "" : " [" + record->signal_name + "]") + ", order " +
                              std::to_string(order) + ", gain " + number_text(options.gain);
    if (html) {
      plot->write_html(text, title, assets.script, assets.style);
    } else {
      plot->write_svg(text, title);
    }
    write_text_file(options.plot, "plot", text.str());
    std::cout << ", plot in " << options.plot;
  }
  std::cout << '\n';
  if (errors) print_error_table(std::cout, errors->rows(), errors->from());
  return 0;
}

// The command that simulates with the tuned parameters: the user's input
// options, without those of the tuning, and the chosen gain and order.
std::string simulation_command(const std::vector<std::string>& args, double gain, int order) {
  static const std::vector<std::string> dropped = {"--orders", "--gain", "--P1",  "--order", "--P3",
                                                   "--plot",   "--out",  "--jobs", "--window"};
  std::string command = "corvel-sim";
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string name = args[i].substr(0, args[i].find('='));
    if (std::find(dropped.begin(), dropped.end(), name) != dropped.end()) {
      if (args[i].find('=') == std::string::npos) ++i;  // its value too
      continue;
    }
    command += " " + args[i];
  }
  char tail[80];
  std::snprintf(tail, sizeof tail, " --gain %.6g --order %d", gain, order);
  return command + tail;
}

// The samples from t0 to t1 of a record (both included).
Input window_of(const Input& whole, double t0, double t1) {
  Input part = whole;
  const double first = std::ceil((t0 - whole.t0) / whole.solver_step - 1e-9);
  const double last = std::floor((t1 - whole.t0) / whole.solver_step + 1e-9);
  const double count = static_cast<double>(whole.u.size());
  const double begin = std::max(0.0, first), end = std::min(count - 1.0, last);
  if (!(begin <= end)) {
    throw UsageError("--window " + number_text(t0) + ":" + number_text(t1) + " holds no sample of " +
                     whole.description + ", which runs from t = " + number_text(whole.t0) + " to " +
                     number_text(whole.t0 + (count - 1.0) * whole.solver_step) + " s");
  }
  const auto b = static_cast<size_t>(begin), e = static_cast<size_t>(end) + 1;
  part.u.assign(whole.u.begin() + static_cast<long>(b), whole.u.begin() + static_cast<long>(e));
  if (!whole.truth.empty()) {
    part.truth.assign(whole.truth.begin() + static_cast<long>(b), whole.truth.begin() + static_cast<long>(e));
  }
  part.t0 = whole.t0 + begin * whole.solver_step;
  part.description = whole.description + " from t = " + number_text(part.t0) + " s";
  return part;
}

int tune_command(SimOptions options, const std::vector<std::string>& args) {
  Input input = make_input(options);
  if (options.window_start < options.window_end) input = window_of(input, options.window_start, options.window_end);
  corvel::host::MexModule mex(options.mex.empty() ? default_mex_path() : options.mex);
  if (options.jobs == 0) options.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  if (options.jobs > 1 && !EvaluationPool::parallel_supported()) {
    say("this build makes its block runs one after another, on one core");
    options.jobs = 1;
  }

  ProgressBar bar("runs", ProgressBar::terminal_watching());
  TuneResult result;
  try {
    result = tune(mex.entry(), options, input, options.first_order, options.last_order,
                  [&](long done, long expected) { bar.update(done, expected); });
  } catch (...) {
    bar.finish();
    throw;
  }
  bar.finish();

  std::printf("corvel-sim tune: %s, %zu samples at %g s, %ld block runs; error RMS from t = %g s on\n",
              input.description.c_str(), input.u.size(), input.solver_step, result.runs, result.warmup_end);
  const bool truth = !input.truth.empty();
  std::printf("  %5s %12s %14s", "order", "best gain", "error RMS");
  if (truth) {
    for (int j = 1; j <= options.last_order; ++j) std::printf(" %11s", ("d" + std::to_string(j) + " RMS").c_str());
  }
  std::printf("\n");
  for (const OrderResult& r : result.orders) {
    std::printf("  %5d %12.6g %14.6g", r.order, r.best_gain, r.best_error_rms);
    for (double d : r.derivative_rms) std::printf(" %11.4g", d);
    std::printf("\n");
  }
  for (const OrderResult& r : result.orders) {
    if (r.flat_from != 0.0) {
      std::printf("  order %d: from gain %.6g on the estimate no longer changes (error RMS within 0.1 %%)\n", r.order,
                  r.flat_from);
    }
  }
  const OrderResult& best = result.orders[result.recommended];
  std::printf("Recommended: order %d, gain %.6g. To run it:\n  %s\n", best.order, best.best_gain,
              simulation_command(args, best.best_gain, best.order).c_str());

  const std::string plot = options.plot_given ? options.plot : "corvel-tune.svg";
  if (!plot.empty()) {
    std::vector<TuneCurve> curves;
    for (const OrderResult& r : result.orders) {
      TuneCurve curve{r.order, {}, r.best_gain, r.best_error_rms};
      for (const Evaluation& e : r.evaluations) curve.points.emplace_back(e.gain, e.error_rms);
      curves.push_back(std::move(curve));
    }
    std::ostringstream svg;
    write_tune_svg(svg, curves, best.best_gain, "corvel-sim tune: " + input.description);
    write_text_file(plot, "tuning plot", svg.str());
    std::printf("Plot of error RMS against gain: %s\n", plot.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool tuning = !args.empty() && args[0] == "tune";
  if (!args.empty() && (args[0] == "run" || tuning)) args.erase(args.begin());
  install_interrupt_handlers();
  try {
    const SimOptions options = parse_options(args);
    if (options.help) {
      std::cout << usage_text();
      return 0;
    }
    if (options.version) {
      std::cout << "corvel-sim " << CORVEL_VERSION << '\n';
      return 0;
    }
    return tuning ? tune_command(options, args) : run(options);
  } catch (const UsageError& e) {
    std::cerr << "corvel-sim: " << e.what() << '\n';
    return 2;
  } catch (const std::exception& e) {
    if (dynamic_cast<const TuneError*>(&e) != nullptr) {
      std::cerr << "corvel-sim tune: " << e.what() << '\n';
    } else {
      std::cerr << "corvel-sim: error: " << e.what() << '\n';
    }
    return 1;
  }
}
