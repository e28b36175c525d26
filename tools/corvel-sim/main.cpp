// corvel-sim: the corvel block run over a signal through its MEX file by our
// simulation engine (corvel-sim run), or its gain and order chosen from the
// data (corvel-sim tune). This file only dispatches and turns errors into
// messages and exit statuses.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "command_line/options.h"
#include "common/errors.h"
#include "common/interrupt.h"
#include "fleet/fleet_command.h"
#include "run/run_command.h"
#include "tune/tune.h"
#include "tune/tune_command.h"

using namespace corvel::sim;

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  Subcommand subcommand = Subcommand::kRun;
  if (!args.empty() && (args[0] == "run" || args[0] == "tune")) {
    if (args[0] == "tune") subcommand = Subcommand::kTune;
    args.erase(args.begin());
  }
  install_interrupt_handlers();
  try {
    const SimOptions options = parse_options(args, subcommand);
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
  } catch (const TuneError& e) {
    std::cerr << "corvel-sim tune: " << e.what() << '\n';
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "corvel-sim: error: " << e.what() << '\n';
    return 1;
  }
}
