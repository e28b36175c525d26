// corvel-sim: the corvel block run over a signal through its MEX file by our
// simulation engine; writes the log as CSV, a plot, and for built-in signals
// the error of every estimate against the true derivative.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host/engine.h"
#include "host/mex_module.h"
#include "options.h"
#include "report.h"
#include "simulate.h"
#include "tune.h"

#if defined(_WIN32)
#include <io.h>
#define CORVEL_ISATTY _isatty
#define CORVEL_FILENO _fileno
#else
#include <unistd.h>
#define CORVEL_ISATTY isatty
#define CORVEL_FILENO fileno
#endif

namespace {

using namespace corvel::sim;

void write_file(const std::string& path, const std::string& what, const auto& writer) {
  std::ofstream out(path, std::ios::binary);  // the same bytes on every platform
  if (!out) throw InputError("cannot write the " + what + " to " + path);
  writer(out);
  if (!out) throw InputError("writing the " + what + " to " + path + " failed");
}

int run(const SimOptions& options) {
  const Input input = make_input(options);
  corvel::host::MexModule mex(options.mex.empty() ? default_mex_path() : options.mex);

  std::vector<std::string> trace;
  const bool tracing = !options.trace.empty();
  // The trace is written also when the run fails: that is when it is wanted.
  auto flush_trace = [&] {
    if (!tracing) return;
    if (options.trace == "-") {
      for (const auto& line : trace) std::cerr << line << '\n';
      return;
    }
    write_file(options.trace, "call trace", [&](std::ostream& out) {
      for (const auto& line : trace) out << line << '\n';
    });
  };
  Log log;
  try {
    log = simulate(mex.entry(), options, input, tracing ? &trace : nullptr);
  } catch (...) {
    flush_trace();
    throw;
  }
  flush_trace();

  write_file(options.out, "log", [&](std::ostream& out) { write_csv(out, log); });
  std::cout << "corvel-sim: " << log.t.size() << " samples of " << input.description << ", order " << log.order
            << ", log in " << options.out;
  if (!options.plot.empty()) {
    write_file(options.plot, "plot", [&](std::ostream& out) { write_svg(out, log, input, "corvel: " + input.description); });
    std::cout << ", plot in " << options.plot;
  }
  std::cout << '\n';
  if (!input.truth.empty() && !log.t.empty()) {
    const double span = log.t.back() - log.t.front();
    const double from = options.warmup >= 0 ? log.t.front() + options.warmup : log.t.front() + span / 3.0;
    print_error_table(std::cout, error_table(log, input, from), from);
  }
  return 0;
}

// The command that simulates with the tuned parameters: the user's input
// options, without those of the tuning, and the chosen gain and order.
std::string simulation_command(const std::vector<std::string>& args, double gain, int order) {
  static const std::vector<std::string> dropped = {"--orders", "--gain", "--P1", "--order", "--P3", "--plot", "--out"};
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

int tune_command(const SimOptions& options, const std::vector<std::string>& args) {
  const Input input = make_input(options);
  corvel::host::MexModule mex(options.mex.empty() ? default_mex_path() : options.mex);

  // A progress bar on standard error, only when someone watches it.
  const bool watched = CORVEL_ISATTY(CORVEL_FILENO(stderr)) != 0;
  Progress progress;
  if (watched) {
    progress = [](long done, long expected) {
      const int width = 40;
      const int filled = static_cast<int>(width * std::min(1.0, static_cast<double>(done) / static_cast<double>(expected)));
      std::fprintf(stderr, "\r[%s%s] %ld runs", std::string(static_cast<size_t>(filled), '#').c_str(),
                   std::string(static_cast<size_t>(width - filled), ' ').c_str(), done);
      std::fflush(stderr);
    };
  }
  TuneResult result;
  try {
    result = tune(mex.entry(), options, input, options.first_order, options.last_order, progress);
  } catch (...) {
    if (watched) std::fprintf(stderr, "\n");
    throw;
  }
  if (watched) std::fprintf(stderr, "\n");

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
  const OrderResult& best = result.orders[result.recommended];
  std::printf("Recommended: order %d, gain %.6g. To run it:\n  %s\n", best.order, best.best_gain,
              simulation_command(args, best.best_gain, best.order).c_str());

  const std::string plot = options.plot_given ? options.plot : "corvel-tune.svg";
  if (!plot.empty()) {
    std::vector<TuneCurve> curves;
    for (const OrderResult& r : result.orders) {
      TuneCurve curve{r.order, {}};
      for (const Evaluation& e : r.evaluations) curve.points.emplace_back(e.gain, e.error_rms);
      curves.push_back(std::move(curve));
    }
    write_file(plot, "tuning plot", [&](std::ostream& out) {
      write_tune_svg(out, curves, "corvel-sim tune: " + input.description);
    });
    std::printf("Plot of error RMS against gain: %s\n", plot.c_str());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const bool tuning = !args.empty() && args[0] == "tune";
  if (!args.empty() && (args[0] == "run" || tuning)) args.erase(args.begin());
  try {
    const SimOptions options = parse_options(args);
    if (options.help) {
      std::cout << usage_text();
      return 0;
    }
    return tuning ? tune_command(options, args) : run(options);
  } catch (const UsageError& e) {
    std::cerr << "corvel-sim: " << e.what() << '\n';
    return 2;
  } catch (const TuneError& e) {
    std::cerr << "corvel-sim tune: " << e.what() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "corvel-sim: error: " << e.what() << '\n';
    return 1;
  }
}
