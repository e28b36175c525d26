// corvel-sim: the corvel block run over a signal through its MEX file by our
// simulation engine (corvel-sim run), or its gain and order chosen from the
// data (corvel-sim tune). This file only dispatches and turns errors into
// messages and exit statuses.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "command_line/options.h"
#include "common/number_text.h"
#include "host/mex_module.h"
#include "common/errors.h"
#include "common/interrupt.h"
#include "fleet/fleet_command.h"
#include "run/run_command.h"
#include "tune/tune.h"
#include "tune/tune_command.h"

using namespace corvel::sim;

namespace {

// What a newcomer who typed nothing reads: what to type next. Nothing is run
// or written.
constexpr const char* kFirstSteps =
    "corvel-sim: the corvel differentiator block over a signal, as the simulation host runs it.\n"
    "  corvel-sim rec.csv --order 2 --gain 30        run it over a recording: log and figure beside you\n"
    "  corvel-sim tune rec.csv                       choose the order and gain from the data first\n"
    "  corvel-sim --signal sine --snr 40             a built-in signal, with its true derivatives\n"
    "  corvel-sim rig/*.csv --out-dir est            many recordings, one summary\n"
    "  corvel-sim --help                             every option (corvel-sim tune --help for tune's)\n";

// The block's refusal of a parameter, said with the option the user typed.
std::string with_option(const corvel::host::EngineError& e, const SimOptions& o) {
  const std::string& text = e.block_text();
  if (text.rfind("Order of the differantiator", 0) == 0) return "--order " + number_text(o.order) + ": " + text;
  if (text.rfind("The step size", 0) == 0) return "--step " + number_text(o.step) + ": " + text;
  return e.what();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::cout << kFirstSteps;
    return 0;
  }
  Subcommand subcommand = Subcommand::kRun;
  if (args[0] == "help") args[0] = "--help";
  if (args[0] == "run" || args[0] == "tune") {
    if (args[0] == "tune") subcommand = Subcommand::kTune;
    args.erase(args.begin());
    if (!args.empty() && args[0] == "help") args[0] = "--help";
  }
  install_interrupt_handlers();
  SimOptions parsed;
  try {
    parsed = parse_options(args, subcommand);
    const SimOptions& options = parsed;
    if (options.help) {
      std::cout << usage_text(subcommand);
      return 0;
    }
    if (options.version) {
      std::cout << "corvel-sim " << CORVEL_VERSION << '\n';
      return 0;
    }
    if (options.fleet()) return fleet_command(options, subcommand);
    return subcommand == Subcommand::kTune ? tune_command(options) : run_command(options);
  } catch (const UsageError& e) {
    std::cerr << "corvel-sim: " << e.what() << '\n';
    return 2;
  } catch (const corvel::host::EngineError& e) {
    std::cerr << "corvel-sim: error: " << with_option(e, parsed) << '\n';
    return 1;
  } catch (const TuneError& e) {
    std::cerr << "corvel-sim tune: " << e.what() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "corvel-sim: error: " << e.what() << '\n';
    return 1;
  }
}
