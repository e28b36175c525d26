// corvel-sim's command line.
#ifndef CORVEL_SIM_OPTIONS_H
#define CORVEL_SIM_OPTIONS_H

#include <cstdint>
#include <set>
#include <utility>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/errors.h"
#include "tune/tune_description.h"

namespace corvel::sim {

// The run the command line describes, and what only a command line has.
struct SimOptions : TuneDescription {
  bool plot_given = false;
  bool help = false;
  bool version = false;
  std::set<std::string> given;  // the options on the command line, by their long name
  // The options as typed, by their long name, with their value as typed
  // (empty for a flag), in order: what a printed command repeats.
  std::vector<std::pair<std::string, std::string>> typed;

  // corvel-sim tune
  int first_order = 1;  // --orders A-B (or one order)
  int last_order = 5;
  double gain_low = 0.0, gain_high = 0.0;  // --gains LO:HI; both 0: the search's own range
  int jobs = 0;                            // --jobs N: worker processes; 0: one per core
  double window_start = 0.0, window_end = 0.0;  // --window T0:T1; equal: the whole record
};

// The two things corvel-sim does; each takes its own options.
enum class Subcommand { kRun, kTune };

// Parses the options after the program name and the subcommand's word.
// Throws UsageError naming the option and value at the first problem, and an
// option of the other subcommand naming the subcommand it belongs to.
SimOptions parse_options(const std::vector<std::string>& args, Subcommand subcommand = Subcommand::kRun);

// The --help text of a subcommand, made from its table of options.
std::string usage_text(Subcommand subcommand);

// The corvel-sim command that runs the block as `options` (a tuning's) read
// its input, with the given gain and order: the options the user typed that
// a run takes, less the outputs, each word quoted for a POSIX shell.
std::string run_command_line(const SimOptions& options, double gain, int order);

// A word as a POSIX shell reads it back unchanged: bare when it holds only
// safe characters, else in single quotes.
std::string shell_quoted(const std::string& word);

// Strict number reading for option values: the whole text must be a number
// as strtod reads it. Throws UsageError("--option: 'text' is not a number").
double parse_number(const std::string& option, const std::string& text);
std::vector<double> parse_number_list(const std::string& option, const std::string& text);


}  // namespace corvel::sim

#endif
