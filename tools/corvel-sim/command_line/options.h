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

  // A fleet: several recordings in one command, each run alone with these
  // options, its outputs under out_dir. (--jobs is the tuning's `jobs`.)
  std::vector<std::string> inputs;  // every input the command line names, in order (`input` is the first)
  std::string inputs_from;          // a file of paths, one a line
  std::string out_dir;
  bool force = false;               // redo recordings whose outputs are current
  int shard_index = 0, shard_count = 0;  // --shard I/N: the recordings i with i % N == I, and no summary
  bool summary_only = false;        // the summary from what earlier runs left, running nothing
  bool quiet = false;               // no progress shown (a fleet's line, a run's bar)
  bool fleet() const { return inputs.size() > 1 || !inputs_from.empty() || !out_dir.empty(); }
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
// The tune command for the input `options` read: what to type when a run's
// gain looks wrong for its recording.
std::string tune_command_line(const SimOptions& options);

// A word as a POSIX shell reads it back unchanged: bare when it holds only
// safe characters, else in single quotes.
std::string shell_quoted(const std::string& word);

// Strict number reading for option values: the whole text must be a number
// as strtod reads it. Throws UsageError("--option: 'text' is not a number").
double parse_number(const std::string& option, const std::string& text);
std::vector<double> parse_number_list(const std::string& option, const std::string& text);


}  // namespace corvel::sim

#endif
