#include "options.h"

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
    if (name == "--variable-step") {
      o.variable_step = true;
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
    setter->second(name, value);
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
  corvel-sim [run] [options]
  corvel-sim --help

The block's parameters:
  --gain L,  --P1 L     the differentiator gain P1 (default 20)
  --step H,  --P2 H     the block's sample time P2: positive, or -1 to inherit the
                        solver step (default 0.01)
  --order N, --P3 N     the order P3: how many derivatives, 1 to 10 (default 3)
  A value the block rejects ends the run with the block's own message.

The input (a built-in signal unless --input is given):
  --input FILE.csv      one column (the signal, one sample per solver step) or two
                        (time, signal; the times rising by one constant step).
                        A header line is optional; '#' lines are skipped; numbers
                        are read as strtod reads them: nan, inf, -0.0 included.
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

What it writes:
  --out FILE.csv        the log (default corvel-out.csv), one row per sample hit,
                        written as the host logs outputs: after mdlOutputs at t.
                          t          the sample time t_k
                          u          the input at t_k
                          error      output 0, u - z0 as the previous mdlUpdate
                                     left it: u(t_{k-1}) - z0(t_{k-1}); 0 on the first row
                          z0         output 1, the estimate of u(t_k) from the samples
                                     before t_k
                          d1..dn     output 2, the estimates of the derivatives at t_k
                        numbers with 17 significant digits (they read back exactly).
  --plot FILE.svg       the signal and the estimates (default corvel-plot.svg)
  --no-plot             no plot
  --warmup T            seconds left out of the error table (default: the first third)
  For a built-in signal, a table of the RMS error of every estimate against the
  true derivative is printed.

corvel-sim tune [options]: choose the gain and the order from the data alone.
  For each order it searches the gain (a logarithmic grid around R^(1/(n+1))/h,
  R the signal's range, widened while the best gain is at an edge, then a
  refinement of the best bracket) for the smallest RMS of the block's error
  output, its one-step prediction error, after the warm-up; each evaluation is
  a whole run of the block. Takes the input options above, and:
  --orders A-B          the orders to try (default 1-5)
  --gains LO:HI         search the gain only from LO to HI (one sign; no widening)
  --warmup T            seconds before the RMS counts (default: the first third)
  --plot FILE.svg       error RMS against the gain, one curve per order
                        (default corvel-tune.svg)
  It prints, per order, the best gain and its error RMS (and for a built-in
  signal the RMS error of each derivative estimate there), the recommended
  order and gain, and the corvel-sim command that runs them.

Exit status: 0 on success, 1 when the run fails (the block's message, a bad
input file), 2 for a bad command line.
)";
}

}  // namespace corvel::sim
