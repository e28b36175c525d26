#include "command_line/options.h"

#include "common/csv_text.h"
#include "input/missing_samples.h"

#include "common/number_text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>

namespace corvel::sim {

double parse_number(const std::string& option, const std::string& text) {
  char* end = nullptr;
  const double value = text.empty() ? 0.0 : std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size()) {
    throw UsageError(option + ": '" + text + "' is not a number");
  }
  return value;
}

std::vector<double> parse_number_list(const std::string& option, const std::string& text) {
  std::vector<double> values;
  size_t start = 0;
  while (true) {
    const size_t comma = text.find(',', start);
    values.push_back(parse_number(option, text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return values;
}

namespace {

double positive(const std::string& option, const std::string& text) {
  const double v = parse_number(option, text);
  if (!(v > 0.0) || std::isinf(v)) throw UsageError(option + ": " + text + " must be a positive number");
  return v;
}

// A span T0:T1 of seconds, T0 < T1.
void parse_span(const std::string& option, const std::string& text, double* start, double* end) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) throw UsageError(option + ": " + text + " must be a span T0:T1 in seconds");
  const double a = parse_number(option, text.substr(0, colon)), b = parse_number(option, text.substr(colon + 1));
  if (!(a < b) || !std::isfinite(a) || !std::isfinite(b)) {
    throw UsageError(option + ": " + text + " must be a span T0:T1 with T0 < T1");
  }
  *start = a;
  *end = b;
}

// One option of a subcommand's table: its names, its argument (null for a
// flag), its help (lines after the first indented by the table), and what it
// sets.
using Setter = std::function<void(const std::string& option, const std::string& value)>;
struct OptionEntry {
  const char* name;
  const char* alias;     // the block's own name for it, or null
  const char* argument;  // null: a flag, taking no value
  const char* help;
  Setter set;
};

struct OptionGroup {
  const char* title;
  std::vector<OptionEntry> options;
  const char* notes;  // printed after the options, or null
};

using Table = std::vector<OptionGroup>;

// The groups both subcommands share: the input, the built-in signal, the
// simulation.
OptionGroup recorded_data(SimOptions& o) {
  return {"Recorded data (FILE, or --input FILE)",
          {{"--input", nullptr, "FILE", "the record: a .csv or a .mat file (see below); several\nrecordings: a fleet (see below)",
            [&](auto&, auto& v) {
              if (o.inputs.empty()) o.input = v;
              o.inputs.push_back(v);
            }},
           {"--column", nullptr, "NAME|N|LIST|all",
            "the signal's column, by header name or number from 1;\nor a list (a,b or 2-7) or all: a block each (tune: each\nalone, then one gain and order for all)",
            [&](auto&, auto& v) { o.column = v; }},
           {"--time-column", nullptr, "NAME|N|none",
            "the time column (default: the first column, when the\nsignal is another one; none for one column)",
            [&](auto&, auto& v) { o.time_column = v; }},
           {"--variable", nullptr, "NAME|LIST",
            "the MAT-file variable (default: its only candidate);\na run takes a list a,b,c of vectors: a block each",
            [&](auto&, auto& v) { o.variable = v; }},
           {"--time-tolerance", nullptr, "R",
            "how far (relative) each time step may stray from the first\none (default 1e-6, which a kHz log printed "
            "as %.3f meets)",
            [&](auto& k, auto& v) {
              o.time_tolerance = parse_number(k, v);
              if (!(o.time_tolerance >= 0.0 && o.time_tolerance < 1.0)) {
                throw UsageError(k + ": " + v + " must be a relative tolerance from 0 to below 1");
              }
            }},
           {"--missing", nullptr, "HOW",
            "a missing sample (an empty cell, or NaN): refuse (default:\nthe gap is named), hold (the last sample "
            "repeated), interpolate\n(a line between the samples around the gap) or keep (NaN\nto the block: every "
            "estimate after it is NaN); filled samples\nare marked in the log (filled) and shaded in the figure",
            [&](auto& k, auto& v) {
              if (!read_missing_word(v, &o.missing)) {
                throw UsageError(k + ": '" + v + "' is not one of refuse, hold, interpolate, keep");
              }
            }},
           {"--decimal-comma", nullptr, nullptr,
            "numbers written 12,5 with ';' between fields: read so (found\nalone where a file has ';' or tabs), and "
            "the CSV log\nwritten so, for a spreadsheet in such a locale",
            [&](auto&, auto&) { o.decimal_comma = true; }},
           {"--noise", nullptr, "SIGMA", "add Gaussian noise of this standard deviation (to a file's\nsignal too)",
            [&](auto& k, auto& v) {
              o.noise = parse_number(k, v);
              if (!(o.noise >= 0.0) || std::isinf(o.noise)) throw UsageError(k + ": " + v + " must be 0 or more");
            }},
           {"--snr", nullptr, "DB", "or noise at this signal-to-noise ratio (clean signal's RMS)",
            [&](auto& k, auto& v) {
              o.snr_db = parse_number(k, v);
              if (!std::isfinite(o.snr_db)) throw UsageError(k + ": " + v + " must be a finite number of decibels");
              o.snr_given = true;
            }},
           {"--seed", nullptr, "N", "noise seed (default 1)",
            [&](auto& k, auto& v) {
              const double s = parse_number(k, v);
              if (!(s >= 0 && s < 1.8e19) || s != std::floor(s)) {
                throw UsageError(k + ": " + v + " must be a whole number >= 0");
              }
              o.seed = static_cast<std::uint64_t>(s);
            }}},
          "  FILE.csv: text, fields separated by ',', ';' or tabs; an optional header\n"
          "  line (a first line with no number in it); '#' lines are skipped; numbers\n"
          "  read as strtod reads them (nan, inf, -0.0, hex floats). One column is the\n"
          "  signal, one sample per solver step; two are time and signal; with more,\n"
          "  choose with --column. A run of several columns runs a block for each, on\n"
          "  one clock: one log (t, then NAME.u,NAME.e,NAME.z0,NAME.d1.. for each; in a\n"
          "  MAT log a struct NAME for each), a figure each (PLOT.NAME.svg) or one page\n"
          "  (PLOT.html) with a section each. --step H1,H2,.. gives each block its own\n"
          "  sample time (a multirate model): the log has a row wherever a block has a\n"
          "  sample hit, the other blocks' cells empty; a MAT log's structs each get t.\n"
          "  FILE.mat: a MAT-file, a real double vector (the samples) or an N x 2 matrix\n"
          "  (time, signal); the columns of a wider one chosen with --column (numbers)\n"
          "  and --time-column, as a CSV file's.\n"};
}

OptionGroup builtin_signal(SimOptions& o) {
  return {"The built-in signal (when no file is given)",
          {{"--signal", nullptr, "KIND",
            "sine, poly, chirp or expsin (default sine):\n"
            "  sine    A sin(2 pi f t + phase)\n"
            "  poly    c0 + c1 t + c2 t^2 + ...  (--coefficients)\n"
            "  chirp   A sin(2 pi (f t + (f1 - f) t^2 / (2 T))), f to f1 over T\n"
            "  expsin  A e^t sin 5t",
            [&](auto&, auto& v) { o.signal.kind = v; }},
           {"--amplitude", nullptr, "A", "(default 1)", [&](auto& k, auto& v) { o.signal.amplitude = parse_number(k, v); }},
           {"--frequency", nullptr, "F", "Hz, sine and chirp start (default 1)",
            [&](auto& k, auto& v) { o.signal.frequency = parse_number(k, v); }},
           {"--phase", nullptr, "P", "rad, sine (default 0)", [&](auto& k, auto& v) { o.signal.phase = parse_number(k, v); }},
           {"--end-frequency", nullptr, "F1", "Hz, chirp end (default 5)",
            [&](auto& k, auto& v) { o.signal.end_frequency = parse_number(k, v); }},
           {"--coefficients", nullptr, "LIST", "poly, comma-separated from c0 (default 1,1,-0.5,0.25)",
            [&](auto& k, auto& v) { o.signal.coefficients = parse_number_list(k, v); }},
           {"--duration", nullptr, "T", "seconds of built-in signal (default 10)",
            [&](auto& k, auto& v) { o.duration = positive(k, v); }}},
          nullptr};
}

OptionGroup simulation(SimOptions& o) {
  return {"The simulation",
          {{"--step", "--P2", "H",
            "the block's sample time P2: positive, or -1 to inherit the\nsolver step (default 0.01; with an input "
            "file -1, so that\nevery row is a sample; a whole multiple k of the file's step\nsamples every k-th row); a run of "
            "several columns takes a\nlist H1,H2,..: each column's block its own sample time",
            [&](auto& k, auto& v) {
              const std::vector<double> steps = parse_number_list(k, v);
              o.step = steps[0];
              o.steps = steps.size() > 1 ? steps : std::vector<double>{};
            }},
           {"--solver-step", nullptr, "H",
            "the fixed solver step (default: the time column's step,\nelse P2 when positive, else 0.01)",
            [&](auto& k, auto& v) { o.solver_step = positive(k, v); }},
           {"--variable-step", nullptr, nullptr,
            "a variable-step solver: an inherited sample time then\nbecomes continuous, which the block refuses",
            [&](auto&, auto&) { o.variable_step = true; }},
           {"--mex", nullptr, "FILE", "the MEX file to load (default: the one beside corvel-sim)",
            [&](auto&, auto& v) { o.mex = v; }},
           {"--warmup", nullptr, "T",
            "seconds before the errors count (default: the first third);\nit must end within the record",
            [&](auto& k, auto& v) {
              o.warmup = parse_number(k, v);
              if (!(o.warmup >= 0.0) || std::isinf(o.warmup)) {
                throw UsageError(k + ": " + v + " must be 0 or more seconds");
              }
            }}},
          nullptr};
}

// run's group has --jobs (recordings at once); tune has its own (workers of
// one tuning).
OptionGroup fleet_options(SimOptions& o, Subcommand subcommand) {
  OptionGroup group{"Many recordings (a fleet): FILE FILE ..., or --inputs-from LIST",
          {{"--inputs-from", nullptr, "LIST", "the recordings, one path a line (# lines and blank lines\nskipped)",
            [&](auto&, auto& v) { o.inputs_from = v; }},
           {"--out-dir", nullptr, "DIR",
            "each recording's outputs under DIR, in its own folders\n(rig/a.csv: DIR/rig/a.est.csv, DIR/rig/a.plot.svg; tune:\n"
            "DIR/rig/a.tune.svg), and DIR/summary.csv",
            [&](auto&, auto& v) { o.out_dir = v; }},
           {"--jobs", nullptr, "N", "recordings run at once, each in a process of its own\n(default 1); the same outputs for any N",
            [&](auto& k, auto& v) {
              const double jobs = parse_number(k, v);
              if (!(jobs >= 1 && jobs <= 256) || jobs != std::floor(jobs)) {
                throw UsageError(k + ": " + v + " must be a whole number from 1 to 256");
              }
              o.jobs = static_cast<int>(jobs);
            }},
           {"--force", nullptr, nullptr, "run every recording again, even where its outputs are current",
            [&](auto&, auto&) { o.force = true; }},
           {"--shard", nullptr, "I/N",
            "only the recordings i (from 0, in the list's order) with\ni % N == I, and no summary: one task of a Slurm array",
            [&](auto& k, auto& v) {
              const size_t slash = v.find('/');
              const double i = parse_number(k, v.substr(0, slash));
              const double n = slash == std::string::npos ? 0 : parse_number(k, v.substr(slash + 1));
              if (!(n >= 1 && n <= 1e6 && i >= 0 && i < n) || i != std::floor(i) || n != std::floor(n)) {
                throw UsageError(k + ": " + v + " must be I/N, whole numbers with 0 <= I < N");
              }
              o.shard_index = static_cast<int>(i);
              o.shard_count = static_cast<int>(n);
            }},
           {"--summary-only", nullptr, nullptr,
            "run nothing: DIR/summary.csv from what earlier runs left\n(a Slurm array's last step)",
            [&](auto&, auto&) { o.summary_only = true; }},
           {"--quiet", nullptr, nullptr,
            "no progress on standard error: a fleet shows k/N recordings,\nfailures, samples a second and the time "
            "left (on a terminal\none line in place, else a line about every 10 s); a run\nof one recording its bar",
            [&](auto&, auto&) {
              o.quiet = true;
              o.progress = false;
            }}},
          "  Each recording runs as it would alone, with the same options; its outputs\n"
          "  are put in place together (all or none), with DIR/.../NAME.run.txt, which\n"
          "  records the options, the input's size and time and the results. Run again,\n"
          "  the same command does only the recordings whose outputs are missing, failed,\n"
          "  or older than their input or its options. A bad recording is reported in\n"
          "  the summary and the others go on; exit 1 when any failed.\n"};
  if (subcommand == Subcommand::kTune) {
    group.options.erase(std::remove_if(group.options.begin(), group.options.end(),
                                       [](const OptionEntry& e) { return std::string(e.name) == "--jobs"; }),
                        group.options.end());
  }
  return group;
}

OptionGroup help_and_version(SimOptions& o) {
  return {"Else",
          {{"--help", "-h", nullptr, "this text", [&](auto&, auto&) { o.help = true; }},
           {"--version", nullptr, nullptr, "corvel-sim's version", [&](auto&, auto&) { o.version = true; }}},
          nullptr};
}

Table run_table(SimOptions& o) {
  return {{"The block's parameters",
           {{"--gain", "--P1", "L", "the differentiator gain P1 (default 20)",
             [&](auto& k, auto& v) { o.gain = parse_number(k, v); }},
            {"--order", "--P3", "N", "the order P3: how many derivatives, 1 to 10 (default 3)",
             [&](auto& k, auto& v) { o.order = parse_number(k, v); }},
            {"--strict", nullptr, nullptr,
             "a non-finite sample ends the run with status 1 (otherwise\na warning: the block's states, and every "
             "estimate after\nit, become NaN)",
             [&](auto&, auto&) { o.strict = true; }}},
           "  A value the block rejects ends the run with the block's own message.\n"},
          recorded_data(o),
          builtin_signal(o),
          simulation(o),
          {"What it writes (each under a temporary name beside it first, put in place\n"
           "together when all are complete: a failed or interrupted run leaves none of\n"
           "them, and a file it replaces is untouched until then)",
           {{"--out", nullptr, "FILE",
             "the log, FILE.csv (default corvel-out.csv) or FILE.mat;\none row per sample hit, written as the host "
             "logs outputs:\nafter mdlOutputs at t.\n"
             "  t          the sample time t_k\n"
             "  u          the input at t_k\n"
             "  error      output 0, u - z0 as the previous mdlUpdate\n"
             "             left it: u(t_{k-1}) - z0(t_{k-1}); 0 on the first row\n"
             "  z0         output 1, the estimate of u(t_k) from the samples\n"
             "             before t_k\n"
             "  d1..dn     output 2, the estimates of the derivatives at t_k\n"
             "every number as the shortest text that reads back to the\nsame double; a .mat log holds t, u, e, z0 "
             "(N x 1) and d (N x n)",
             [&](auto&, auto& v) { o.out = v; }},
            {"--log-columns", nullptr, "LIST",
             "log only these columns, named as the log's header names\nthem (t,d1,d2; NAME.d1 for a signal NAME of several), in\n"
             "the log's order; a .mat log's d then holds the chosen\nderivatives and run.d_orders says which",
             [&](auto& k, auto& v) {
               o.log_columns = split_line(v, ',');
               for (const std::string& name : o.log_columns) {
                 if (name.empty()) throw UsageError(k + ": " + v + " names an empty column");
               }
             }},
            {"--plot", nullptr, "FILE",
             "FILE.svg: the signal, the error and the estimates (default\ncorvel-plot.svg), a figure with axes, grid "
             "and legends, each\npanel scaled to the samples after the warm-up, its units\nfrom the header; FILE.png "
             "or FILE.pdf: the figure drawn for\na report; FILE.html: the same as an interactive page (zoom,\npan, "
             "values under the cursor) that any browser opens offline",
             [&](auto&, auto& v) {
               o.plot = v;
               o.plot_given = true;
             }},
            {"--plot-window", nullptr, "T0:T1",
             "plot only the span from T0 to T1 seconds (every sample of\nit, where a long record is otherwise drawn "
             "as ranges)",
             [&](auto& k, auto& v) { parse_span(k, v, &o.plot_window_start, &o.plot_window_end); }},
            {"--plot-panels", nullptr, "LIST",
             "the panels to draw, of u (with z0), e (the error output)\nand d1..dn; default all (u,e,d1,d2 for a "
             "report's figure)",
             [&](auto& k, auto& v) {
               o.plot_panels = split_line(v, ',');
               for (const std::string& panel : o.plot_panels) {
                 const bool derivative = panel.size() >= 2 && panel[0] == 'd' &&
                                         panel.find_first_not_of("0123456789", 1) == std::string::npos &&
                                         std::stoi(panel.substr(1, 3)) >= 1 && std::stoi(panel.substr(1, 3)) <= 10;
                 if (panel != "u" && panel != "e" && !derivative) {
                   throw UsageError(k + ": '" + panel + "' is not a panel: u, e or d1 to d10, separated by commas");
                 }
               }
             }},
            {"--no-plot", nullptr, nullptr, "no plot",
             [&](auto&, auto&) {
               o.plot.clear();
               o.plot_given = true;
             }},
            {"--trace", nullptr, "FILE", "the host's call trace (- for standard error)",
             [&](auto&, auto& v) { o.trace = v; }}},
           "  Outputs never replace the input, a device (/dev/null, /dev/stdout) or a\n"
           "  FIFO: those are written in place; a link is kept and its target replaced.\n"
           "  For a built-in signal, a table of the RMS error of every estimate against the\n"
           "  true derivative is printed.\n"},
          fleet_options(o, Subcommand::kRun),
          help_and_version(o)};
}

Table tune_table(SimOptions& o) {
  return {{"The tuning",
           {{"--orders", nullptr, "A-B", "the orders to try (default 1-5)",
             [&](auto& k, auto& v) {
               const size_t dash = v.find('-', 1);
               const double a = parse_number(k, v.substr(0, dash));
               const double b = dash == std::string::npos ? a : parse_number(k, v.substr(dash + 1));
               if (!(a >= 1 && b <= 10 && a <= b) || a != std::floor(a) || b != std::floor(b)) {
                 throw UsageError(k + ": " + v + " must be an order or a range A-B of orders within 1-10");
               }
               o.first_order = static_cast<int>(a);
               o.last_order = static_cast<int>(b);
             }},
            {"--gains", nullptr, "LO:HI", "search the gain only from LO to HI (one sign; no widening)",
             [&](auto& k, auto& v) {
               const size_t colon = v.find(':');
               if (colon == std::string::npos) throw UsageError(k + ": " + v + " must be a range LO:HI");
               const double a = parse_number(k, v.substr(0, colon)), b = parse_number(k, v.substr(colon + 1));
               if (!(a * b > 0) || !std::isfinite(a) || !std::isfinite(b) || !(a < b)) {
                 throw UsageError(k + ": " + v + " must be a range LO:HI of gains of one sign, LO < HI");
               }
               o.gain_low = a;
               o.gain_high = b;
             }},
            {"--jobs", nullptr, "N",
             "worker processes for the block runs (default: one per\ncore); the result is the same for any N",
             [&](auto& k, auto& v) {
               const double jobs = parse_number(k, v);
               if (!(jobs >= 1 && jobs <= 256) || jobs != std::floor(jobs)) {
                 throw UsageError(k + ": " + v + " must be a whole number from 1 to 256");
               }
               o.jobs = static_cast<int>(jobs);
             }},
            {"--window", nullptr, "T0:T1", "tune on the span from T0 to T1 seconds of a long record",
             [&](auto& k, auto& v) { parse_span(k, v, &o.window_start, &o.window_end); }},
            {"--plot", nullptr, "FILE.svg", "error RMS against the gain, one curve per order\n(default corvel-tune.svg; .png "
             "and .pdf drawn); with\nseveral columns, FILE.COLUMN.svg for each column's own search",
             [&](auto&, auto& v) {
               o.plot = v;
               o.plot_given = true;
             }},
            {"--no-plot", nullptr, nullptr, "no plot",
             [&](auto&, auto&) {
               o.plot.clear();
               o.plot_given = true;
             }}},
           "  For each order it searches the gain (a logarithmic grid around R^(1/(n+1))/h,\n"
           "  R the signal's range, widened while the best gain is at an edge, then a\n"
           "  refinement of the best bracket) for the smallest RMS of the block's error\n"
           "  output, its one-step prediction error, after the warm-up; each evaluation is\n"
           "  a run of the block. It prints, per order, the best gain and its error RMS\n"
           "  (and for a built-in signal the RMS error of each derivative estimate there),\n"
           "  the recommended order and gain, and the corvel-sim command that runs them.\n"},
          recorded_data(o),
          builtin_signal(o),
          simulation(o),
          fleet_options(o, Subcommand::kTune),
          help_and_version(o)};
}

Table table_of(Subcommand subcommand, SimOptions& o) {
  return subcommand == Subcommand::kRun ? run_table(o) : tune_table(o);
}

const char* name_of(Subcommand subcommand) { return subcommand == Subcommand::kRun ? "run" : "tune"; }

// The option a word names in a table, by its name or alias.
const OptionEntry* find_option(const Table& table, const std::string& word) {
  for (const OptionGroup& group : table) {
    for (const OptionEntry& entry : group.options) {
      if (word == entry.name || (entry.alias != nullptr && word == entry.alias)) return &entry;
    }
  }
  return nullptr;
}

// The option a mistyped word most likely meant: the shortest whose name
// starts with it (-o: --out), else the one within two edits of it; empty when
// none is near.
std::string nearest_option(const Table& table, const std::string& word) {
  std::string typed = word;
  while (!typed.empty() && typed[0] == '-') typed.erase(0, 1);
  if (typed.empty()) return "";
  const auto distance = [](const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
      size_t diagonal = row[0];
      row[0] = i;
      for (size_t j = 1; j <= b.size(); ++j) {
        const size_t above = row[j];
        row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
        diagonal = above;
      }
    }
    return row[b.size()];
  };
  std::string by_prefix, by_distance;
  size_t best = 3;
  for (const OptionGroup& group : table) {
    for (const OptionEntry& entry : group.options) {
      const std::string name = std::string(entry.name).substr(2);
      if (name.rfind(typed, 0) == 0 && (by_prefix.empty() || name.size() + 2 < by_prefix.size())) {
        by_prefix = entry.name;
      }
      const size_t d = distance(typed, name);
      if (d < best) {
        best = d;
        by_distance = entry.name;
      }
    }
  }
  return !by_prefix.empty() ? by_prefix : by_distance;
}

}  // namespace

SimOptions parse_options(const std::vector<std::string>& args, Subcommand subcommand) {
  SimOptions o;
  o.missing = MissingSamples::kRefuse;  // a gap is news to the user: said, with the ways to fill it
  const Table table = table_of(subcommand, o);
  SimOptions unused;
  const Subcommand other = subcommand == Subcommand::kRun ? Subcommand::kTune : Subcommand::kRun;
  const Table other_table = table_of(other, unused);

  for (size_t i = 0; i < args.size(); ++i) {
    std::string word = args[i];
    std::string value;
    bool has_value = false;
    const size_t equals = word.find('=');
    if (word.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = word.substr(equals + 1);
      word = word.substr(0, equals);
      has_value = true;
    }
    // A bare file name is the input, as simulators' command lines take it.
    if (word.rfind("-", 0) != 0 && !word.empty()) {
      word = "--input";
      value = args[i];
      has_value = true;
    }
    const OptionEntry* entry = find_option(table, word);
    if (entry == nullptr) {
      if (find_option(other_table, word) != nullptr) {
        throw UsageError(word + " is an option of corvel-sim " + name_of(other) + ", not of corvel-sim " +
                         name_of(subcommand) + " (see corvel-sim " + name_of(other) + " --help)");
      }
      const std::string nearest = nearest_option(table, word);
      throw UsageError("unknown option '" + args[i] + "'" + (nearest.empty() ? "" : " (did you mean " + nearest + "?)") +
                       " (see corvel-sim --help)");
    }
    const std::string name = entry->name;
    if (entry->argument == nullptr) {
      if (has_value) throw UsageError(name + " takes no value");
    } else if (!has_value) {
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      value = args[++i];
    }
    entry->set(name, value);
    o.given.insert(name);
    o.typed.emplace_back(name, value);
  }
  if (o.snr_given && o.given.count("--noise") != 0) {
    throw UsageError("--noise " + number_text(o.noise) + " and --snr " + number_text(o.snr_db) +
                     " both set the noise: give one of them");
  }
  const bool fleet_only_given = (subcommand == Subcommand::kRun && o.given.count("--jobs") != 0) || o.force ||
                                o.shard_count != 0 || o.summary_only;
  if (o.fleet()) {
    if (o.out_dir.empty()) {
      throw UsageError(std::string("several recordings need --out-dir DIR for their outputs (") +
                       (subcommand == Subcommand::kRun ? "a log and a plot" : "a tuning plot and a record") + " for each)");
    }
    if (o.given.count("--out") != 0) {
      throw UsageError("--out names one file; a fleet writes a log for each recording under --out-dir " + o.out_dir);
    }
    if (o.given.count("--plot-window") != 0 || o.given.count("--trace") != 0) {
      throw UsageError(std::string(o.given.count("--trace") != 0 ? "--trace" : "--plot-window") +
                       " is for one recording, not a fleet");
    }
  } else if (fleet_only_given) {
    throw UsageError(std::string(subcommand == Subcommand::kRun ? "--jobs, " : "") +
                     "--force, --shard and --summary-only are for several recordings (with --out-dir DIR)");
  }
  const bool recorded = !o.input.empty() || !o.inputs_from.empty();
  if (recorded) {
    // Options that only shape a built-in signal mean nothing for recorded data.
    for (const char* only_builtin :
         {"--signal", "--amplitude", "--frequency", "--phase", "--end-frequency", "--coefficients", "--duration"}) {
      if (o.given.count(only_builtin) != 0) {
        throw UsageError(std::string(only_builtin) + " shapes the built-in signal and means nothing with --input " +
                         (o.input.empty() ? o.inputs_from : o.input));
      }
    }
    // Every row is a sample unless the user asks for another sample time.
    if (o.given.count("--step") == 0) o.step = -1.0;
  } else {
    for (const char* only_input : {"--column", "--time-column", "--variable", "--time-tolerance"}) {
      if (o.given.count(only_input) != 0) throw UsageError(std::string(only_input) + " needs --input FILE");
    }
  }
  if (subcommand == Subcommand::kTune && !o.steps.empty()) {
    throw UsageError("--step: corvel-sim tune takes one sample time, not a list (a run of several columns takes one "
                     "for each)");
  }
  try {
    make_signal(o.signal);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("--signal: ") + e.what());
  }
  if (o.signal.kind == "chirp") o.signal.chirp_duration = o.duration;
  return o;
}

std::string usage_text(Subcommand subcommand) {
  SimOptions unused;
  const Table table = table_of(subcommand, unused);
  std::ostringstream out;
  if (subcommand == Subcommand::kRun) {
    out << "corvel-sim: run the corvel differentiator block over a signal, through its MEX file,\n"
           "the way the simulation host runs it.\n\n"
           "Usage:\n"
           "  corvel-sim [run] [FILE] [options]\n"
           "  corvel-sim tune [FILE] [options]   choose the gain and the order (corvel-sim tune --help)\n"
           "  corvel-sim --version\n";
  } else {
    out << "corvel-sim tune: choose the gain and the order of the corvel block from the data alone.\n\n"
           "Usage:\n"
           "  corvel-sim tune [FILE] [options]\n";
  }
  constexpr size_t kHelpColumn = 24;
  for (const OptionGroup& group : table) {
    out << '\n' << group.title << ":\n";
    for (const OptionEntry& entry : group.options) {
      std::string names = std::string("  ") + entry.name + (entry.argument ? std::string(" ") + entry.argument : "");
      if (entry.alias != nullptr) {
        names += std::string(", ") + entry.alias + (entry.argument ? std::string(" ") + entry.argument : "");
      }
      out << names;
      if (names.size() + 2 > kHelpColumn) {
        out << '\n' << std::string(kHelpColumn, ' ');
      } else {
        out << std::string(kHelpColumn - names.size(), ' ');
      }
      for (const char* c = entry.help; *c != '\0'; ++c) {
        out << *c;
        if (*c == '\n') out << std::string(kHelpColumn, ' ');
      }
      out << '\n';
    }
    if (group.notes != nullptr) out << group.notes;
  }
  out << "\nExit status: 0 on success, 1 when the " << (subcommand == Subcommand::kRun ? "run" : "tuning")
      << " fails (the block's message, a bad\n"
         "input file, an output that cannot be written"
      << (subcommand == Subcommand::kRun ? ", a non-finite sample with --strict" : "")
      << "), 2 for a bad\ncommand line, 130 or 143 when interrupted by SIGINT or SIGTERM.\n";
  return out.str();
}

std::string shell_quoted(const std::string& word) {
  static const char* const kSafe =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_@%+=:,./-";
  if (!word.empty() && word.find_first_not_of(kSafe) == std::string::npos) return word;
  std::string quoted = "'";
  for (char c : word) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

namespace {

// The options typed that `table` takes, less those `left_out`, as words.
std::string typed_options(const SimOptions& options, const Table& table, const std::set<std::string>& left_out) {
  std::string words;
  for (const auto& [name, value] : options.typed) {
    const OptionEntry* entry = find_option(table, name);
    if (left_out.count(name) != 0 || entry == nullptr) continue;
    words += " " + name;
    if (entry->argument != nullptr) words += " " + shell_quoted(value);
  }
  return words;
}

// The outputs are the user's to choose again; gain and order are a tuning's result.
const std::set<std::string> kNotRepeated = {
    "--gain",  "--order",   "--out",         "--plot",  "--no-plot", "--plot-window", "--trace",       "--help",
    "--version", "--jobs", "--inputs-from", "--out-dir", "--force", "--shard",       "--summary-only", "--quiet"};

}  // namespace

std::string run_command_line(const SimOptions& options, double gain, int order) {
  SimOptions unused;
  char tail[80];
  std::snprintf(tail, sizeof tail, " --gain %.6g --order %d", gain, order);
  return "corvel-sim" + typed_options(options, run_table(unused), kNotRepeated) + tail;
}

std::string tune_command_line(const SimOptions& options) {
  SimOptions unused;
  return "corvel-sim tune" + typed_options(options, table_of(Subcommand::kTune, unused), kNotRepeated);
}

}  // namespace corvel::sim
