// corvel-sim: the corvel block run over a signal through its MEX file by our
// simulation engine; writes the log as CSV, a plot, and for built-in signals
// the error of every estimate against the true derivative.
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "host/engine.h"
#include "host/mex_module.h"
#include "options.h"
#include "report.h"
#include "simulate.h"

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

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "run") args.erase(args.begin());
  try {
    const SimOptions options = parse_options(args);
    if (options.help) {
      std::cout << usage_text();
      return 0;
    }
    return run(options);
  } catch (const UsageError& e) {
    std::cerr << "corvel-sim: " << e.what() << '\n';
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "corvel-sim: error: " << e.what() << '\n';
    return 1;
  }
}
