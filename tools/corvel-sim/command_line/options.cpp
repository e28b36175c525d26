#include "command_line/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
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

}  // namespace

SimOptions parse_options(const std::vector<std::string>& args) {
  SimOptions o;
  using Setter = std::function<void(const std::string& option, const std::string& value)>;
  const std::map<std::string, Setter> with_value = {
      {"--gain", [&](auto& k, auto& v) { o.gain = parse_number(k, v); }},
      {"--step", [&](auto& k, auto& v) { o.step = parse_number(k, v); }},
      {"--order", [&](auto& k, auto& v) { o.order = parse_number(k, v); }},
      {"--solver-step", [&](auto& k, auto& v) { o.solver_step = positive(k, v); }},
      {"--input", [&](auto&, auto& v) { o.input = v; }},
      {"--column", [&](auto&, auto& v) { o.column = v; }},
      {"--time-column", [&](auto&, auto& v) { o.time_column = v; }},
      {"--variable", [&](auto&, auto& v) { o.variable = v; }},
      {"--time-tolerance", [&](auto& k, auto& v) {
         o.time_tolerance = parse_number(k, v);
         if (!(o.time_tolerance >= 0.0 && o.time_tolerance < 1.0)) {
           throw UsageError(k + ": " + v + " must be a relative tolerance from 0 to below 1");
         }
       }},
      {"--signal", [&](auto&, auto& v) { o.signal.kind = v; }},
      {"--amplitude", [&](auto& k, auto& v) { o.signal.amplitude = parse_number(k, v); }},
      {"--frequency", [&](auto& k, auto& v) { o.signal.frequency = parse_number(k, v); }},
      {"--phase", [&](auto& k, auto& v) { o.signal.phase = parse_number(k, v); }},
      {"--end-frequency", [&](auto& k, auto& v) { o.signal.end_frequency = parse_number(k, v); }},
      {"--coefficients", [&](auto& k, auto& v) { o.signal.coefficients = parse_number_list(k, v); }},
      {"--duration", [&](auto& k, auto& v) { o.duration = positive(k, v); }},
      {"--noise", [&](auto& k, auto& v) {
         o.noise = parse_number(k, v);
         if (!(o.noise >= 0.0) || std::isinf(o.noise)) throw UsageError(k + ": " + v + " must be 0 or more");
       }},
      {"--snr", [&](auto& k, auto& v) {
         o.snr_db = parse_number(k, v);
         if (!std::isfinite(o.snr_db)) throw UsageError(k + ": " + v + " must be a finite number of decibels");
         o.snr_given = true;
       }},
      {"--seed", [&](auto& k, auto& v) {
         const double s = parse_number(k, v);
         if (!(s >= 0 && s < 1.8e19) || s != std::floor(s)) throw UsageError(k + ": " + v + " must be a whole number >= 0");
         o.seed = static_cast<std::uint64_t>(s);
       }},
      {"--warmup", [&](auto& k, auto& v) {
         o.warmup = parse_number(k, v);
         if (!(o.warmup >= 0.0)) throw UsageError(k + ": " + v + " must be 0 or more seconds");
       }},
      {"--out", [&](auto&, auto& v) { o.out = v; }},
      {"--plot", [&](auto&, auto& v) {
         o.plot = v;
         o.plot_given = true;
       }},
      {"--gains", [&](auto& k, auto& v) {
         const size_t colon = v.find(':');
         if (colon == std::string::npos) throw UsageError(k + ": " + v + " must be a range LO:HI");
         const double a = parse_number(k, v.substr(0, colon)), b = parse_number(k, v.substr(colon + 1));
         if (!(a * b > 0) || !std::isfinite(a) || !std::isfinite(b) || !(a < b)) {
           throw UsageError(k + ": " + v + " must be a range LO:HI of gains of one sign, LO < HI");
         }
         o.gain_low = a;
         o.gain_high = b;
       }},
      {"--orders", [&](auto& k, auto& v) {
         const size_t dash = v.find('-', 1);
         const double a = parse_number(k, v.substr(0, dash));
         const double b = dash == std::string::npos ? a : parse_number(k, v.substr(dash + 1));
         if (!(a >= 1 && b <= 10 && a <= b) || a != std::floor(a) || b != std::floor(b)) {
           throw UsageError(k + ": " + v + " must be an order or a range A-B of orders within 1-10");
         }
         o.first_order = static_cast<int>(a);
         o.last_order = static_cast<int>(b);
       }},
      {"--jobs", [&](auto& k, auto& v) {
         const double jobs = parse_number(k, v);
         if (!(jobs >= 1 && jobs <= 256) || jobs != std::floor(jobs)) throw UsageError(k + ": " + v + " must be a whole number from 1 to 256");
         o.jobs = static_cast<int>(jobs);
       }},
      {"--window", [&](auto& k, auto& v) { parse_span(k, v, &o.window_start, &o.window_end); }},
      {"--plot-window", [&](auto& k, auto& v) { parse_span(k, v, &o.plot_window_start, &o.plot_window_end); }},
      {"--trace", [&](auto&, auto& v) { o.trace = v; }},
      {"--mex", [&](auto&, auto& v) { o.mex = v; }},
  };
  const std::map<std::string, std::string> aliases = {{"--P1", "--gain"}, {"--P2", "--step"}, {"--P3", "--order"}};

  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    const size_t equals = name.find('=');
    if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
      value = name.substr(equals + 1);
      name = name.substr(0, equals);
      has_value = true;
    }
    if (name == "--help" || name == "-h") {
      o.help = true;
      continue;
    }
    if (name == "--version") {
      o.version = true;
      continue;
    }
    if (name == "--variable-step") {
      o.variable_step = true;
      continue;
    }
    if (name == "--strict") {
      o.strict = true;
      continue;
    }
    // A bare file name is the input, as simulators' command lines take it.
    if (name.rfind("-", 0) != 0 && !name.empty()) {
      if (!o.input.empty()) throw UsageError("two inputs: '" + o.input + "' and '" + name + "'");
      o.input = name;
      o.given.insert("--input");
      continue;
    }
    if (name == "--no-plot") {
      o.plot.clear();
      o.plot_given = true;
      continue;
    }
    if (const auto alias = aliases.find(name); alias != aliases.end()) name = alias->second;
    const auto setter = with_value.find(name);
    if (setter == with_value.end()) {
      throw UsageError("unknown option '" + args[i] + "' (see corvel-sim --help)");
    }
    if (!has_value) {
      if (i + 1 >= args.size()) throw UsageError(name + " needs a value");
      value = args[++i];
    }
    if (name == "--input" && o.given.count("--input") != 0) {
      throw UsageError("two inputs: '" + o.input + "' and '" + value + "'");
    }
    setter->second(name, value);
    o.given.insert(name);
  }
  if (!o.input.empty()) {
    // Options that only shape a built-in signal mean nothing for recorded data.
    for (const char* only_builtin :
         {"--signal", "--amplitude", "--frequency", "--phase", "--end-frequency", "--coefficients", "--duration"}) {
      if (o.given.count(only_builtin) != 0) {
        throw UsageError(std::string(only_builtin) + " shapes the built-in signal and means nothing with --input " +
                         o.input);
      }
    }
    // Every row is a sample unless the user asks for another sample time.
    if (o.given.count("--step") == 0) o.step = -1.0;
  } else {
    for (const char* only_input : {"--column", "--time-column", "--variable", "--time-tolerance"}) {
      if (o.given.count(only_input) != 0) throw UsageError(std::string(only_input) + " needs --input FILE");
    }
  }
  try {
    make_signal(o.signal);
  } catch (const std::invalid_argument& e) {
    throw UsageError(std::string("--signal: ") + e.what());
  }
  if (o.signal.kind == "chirp") o.signal.chirp_duration = o.duration;
  return o;
}

const char* usage_text() {
  return R"(corvel-sim: run the corvel differentiator block over a signal, through its MEX file,
the way the simulation host runs it.

Usage:
  corvel-sim [run] [FILE] [options]
  corvel-sim --help
  corvel-sim --version

The block's parameters:
  --gain L,  --P1 L     the differentiator gain P1 (default 20)
  --step H,  --P2 H     the block's sample time P2: positive, or -1 to inherit the
                        solver step (default 0.01; with an input file -1, so that
                        every row is a sample)
  --order N, --P3 N     the order P3: how many derivatives, 1 to 10 (default 3)
  A value the block rejects ends the run with the block's own message.

Recorded data (FILE, or --input FILE):
  FILE.csv              text: fields separated by ',', ';' or tabs; an optional
                        header line (a first line with no number in it); '#'
                        lines are skipped; numbers read as strtod reads them (nan,
                        inf, -0.0, hex floats). One column is the signal, one
                        sample per solver step; two are time and signal; with more,
                        choose with --column.
  FILE.mat              a MAT-file: a real double vector (the samples) or an N x 2
                        matrix (time, signal)
  --column NAME|N       the signal's column, by header name or number from 1
  --time-column NAME|N|none
                        the time column (default: the first column, when the
                        signal is another one; none for one column)
  --variable NAME       the MAT-file variable (default: its only candidate)
  --time-tolerance R    how far (relative) each time step may stray from the first
                        one (default 1e-6, which a kHz log printed as %.3f meets)
  --step H              a whole multiple k of the file's step samples every k-th
                        row (said on standard error); other values are refused
  --noise, --snr, --seed
                        add noise to the file's signal too, to see how an
                        estimate degrades
  --strict              a non-finite sample ends the run with status 1 (otherwise
                        a warning: the block's states, and every estimate after
                        it, become NaN)

The built-in signal (when no file is given):
  --signal KIND         sine, poly, chirp or expsin (default sine):
                          sine    A sin(2 pi f t + phase)
                          poly    c0 + c1 t + c2 t^2 + ...  (--coefficients)
                          chirp   A sin(2 pi (f t + (f1 - f) t^2 / (2 T))), f to f1 over T
                          expsin  A e^t sin 5t
  --amplitude A         (default 1)
  --frequency F         Hz, sine and chirp start (default 1)
  --phase P             rad, sine (default 0)
  --end-frequency F1    Hz, chirp end (default 5)
  --coefficients LIST   poly, comma-separated from c0 (default 1,1,-0.5,0.25)
  --duration T          seconds of built-in signal (default 10)
  --noise SIGMA         add Gaussian noise of this standard deviation
  --snr DB              or noise at this signal-to-noise ratio (clean signal's RMS)
  --seed N              noise seed (default 1)

The simulation:
  --solver-step H       the fixed solver step (default: the time column's step,
                        else P2 when positive, else 0.01)
  --variable-step       a variable-step solver: an inherited sample time then
                        becomes continuous, which the block refuses
  --mex FILE            the MEX file to load (default: the one beside corvel-sim)
  --trace FILE          write the host's call trace (- for standard error)

What it writes (each under a temporary name first, renamed when complete: a
failed or interrupted run leaves none of them):
  --out FILE.csv        the log (default corvel-out.csv), one row per sample hit,
                        written as the host logs outputs: after mdlOutputs at t.
                          t          the sample time t_k
                          u          the input at t_k
                          error      output 0, u - z0 as the previous mdlUpdate
                                     left it: u(t_{k-1}) - z0(t_{k-1}); 0 on the first row
                          z0         output 1, the estimate of u(t_k) from the samples
                                     before t_k
                          d1..dn     output 2, the estimates of the derivatives at t_k
                        every number as the shortest text that reads back to the
                        same double.
  --out FILE.mat        the same numbers as MAT variables t, u, e, z0 (N x 1) and
                        d (N x n)
  --plot FILE.svg       the signal, the error and the estimates (default
                        corvel-plot.svg): a figure with axes, grid and legends,
                        each panel scaled to the samples after the warm-up
  --plot FILE.html      the same as an interactive page (zoom, pan, values under
                        the cursor) that any browser opens offline
  --plot-window T0:T1   plot only the span from T0 to T1 seconds (every sample of
                        it, where a long record is otherwise drawn as ranges)
  --no-plot             no plot
  --warmup T            seconds left out of the error table and the plot's scale
                        (default: the first third)
  For a built-in signal, a table of the RMS error of every estimate against the
  true derivative is printed.

corvel-sim tune [options]: choose the gain and the order from the data alone.
  For each order it searches the gain (a logarithmic grid around R^(1/(n+1))/h,
  R the signal's range, widened while the best gain is at an edge, then a
  refinement of the best bracket) for the smallest RMS of the block's error
  output, its one-step prediction error, after the warm-up; each evaluation is
  a whole run of the block. Takes the input options above, and:
  --orders A-B          the orders to try (default 1-5)
  --jobs N              worker processes for the block runs (default: one per
                        core); the result is the same for any N
  --window T0:T1        tune on the span from T0 to T1 seconds of a long record
  --gains LO:HI         search the gain only from LO to HI (one sign; no widening)
  --warmup T            seconds before the RMS counts (default: the first third)
  --plot FILE.svg       error RMS against the gain, one curve per order
                        (default corvel-tune.svg)
  It prints, per order, the best gain and its error RMS (and for a built-in
  signal the RMS error of each derivative estimate there), the recommended
  order and gain, and the corvel-sim command that runs them.

Exit status: 0 on success, 1 when the run fails (the block's message, a bad
input file, a non-finite sample with --strict), 2 for a bad command line,
130 or 143 when interrupted by SIGINT or SIGTERM.
)";
}

}  // namespace corvel::sim
