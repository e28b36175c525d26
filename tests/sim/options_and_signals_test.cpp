#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "command_line/options.h"
#include "common/file_kinds.h"
#include "common/text_encoding.h"
#include "output/log_writer.h"
#include "output/mat_writer.h"
#include "input/signals.h"

namespace corvel::sim {
namespace {

TEST(Options, FriendlyNamesAndBlockNamesSetTheSameParameters) {
  const SimOptions a = parse_options({"--gain", "3", "--step=-1", "--order", "4"});
  const SimOptions b = parse_options({"--P1=3", "--P2", "-1", "--P3=4"});
  for (const SimOptions& o : {a, b}) {
    EXPECT_EQ(o.gain, 3);
    EXPECT_EQ(o.step, -1);
    EXPECT_EQ(o.order, 4);
  }
  // The block judges its parameters itself: odd values pass the command line.
  EXPECT_TRUE(std::isnan(parse_options({"--order", "nan"}).order));
  EXPECT_EQ(parse_options({"--order", "2.5"}).order, 2.5);
}

TEST(Options, BadValuesNameTheOptionAndTheValue) {
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"--gain", "fast"}, "--gain: 'fast' is not a number"},
      {{"--order", "3x"}, "--order: '3x' is not a number"},
      {{"--duration", "-2"}, "--duration: -2 must be a positive number"},
      {{"--solver-step", "0"}, "--solver-step: 0 must be a positive number"},
      {{"--noise", "-1"}, "--noise: -1 must be 0 or more"},
      {{"--seed", "1.5"}, "--seed: 1.5 must be a whole number >= 0"},
      {{"--coefficients", "1,,2"}, "--coefficients: '' is not a number"},
      {{"--frobnicate"}, "unknown option '--frobnicate' (see corvel-sim --help)"},
      {{"-o", "x.csv"}, "unknown option '-o' (did you mean --out?) (see corvel-sim --help)"},
      {{"--ordr", "2"}, "unknown option '--ordr' (did you mean --order?) (see corvel-sim --help)"},
      {{"--gain"}, "--gain needs a value"},
  };
  for (const auto& c : cases) {
    try {
      parse_options(c.args);
      ADD_FAILURE() << c.message;
    } catch (const UsageError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
}

TEST(Signals, DerivativesMatchTheClosedForms) {
  SignalForm sine;
  sine.amplitude = 2.0;
  sine.frequency = 0.7;
  sine.phase = 0.3;
  const double w = 2 * std::numbers::pi * 0.7;
  const Derivatives d = make_signal(sine)->at(1.3);
  for (int j = 0; j <= kMaxDerivative; ++j) {
    const double expected = 2.0 * std::pow(w, j) * std::sin(w * 1.3 + 0.3 + j * std::numbers::pi / 2);
    EXPECT_NEAR(d[static_cast<size_t>(j)] / std::pow(w, j), expected / std::pow(w, j), 1e-12) << j;
  }

  SignalForm poly;
  poly.kind = "poly";
  poly.coefficients = {1, 2, 3, 4};  // 1 + 2t + 3t^2 + 4t^3
  const Derivatives p = make_signal(poly)->at(2.0);
  EXPECT_DOUBLE_EQ(p[0], 1 + 4 + 12 + 32);
  EXPECT_DOUBLE_EQ(p[1], 2 + 12 + 48);
  EXPECT_DOUBLE_EQ(p[2], 6 + 48);
  EXPECT_DOUBLE_EQ(p[3], 24);
  EXPECT_EQ(p[4], 0);

  SignalForm expsin;
  expsin.kind = "expsin";
  const Derivatives e = make_signal(expsin)->at(0.4);
  EXPECT_NEAR(e[1], std::exp(0.4) * (std::sin(2.0) + 5 * std::cos(2.0)), 1e-12);
  EXPECT_NEAR(e[2], std::exp(0.4) * (-24 * std::sin(2.0) + 10 * std::cos(2.0)), 1e-11);

  SignalForm chirp;
  chirp.kind = "chirp";
  chirp.frequency = 1.0;
  chirp.end_frequency = 3.0;
  chirp.chirp_duration = 4.0;
  // Central differences of the value give the first derivative.
  const auto c = make_signal(chirp);
  const double t = 1.1, dt = 1e-6;
  EXPECT_NEAR(c->at(t)[1], (c->at(t + dt)[0] - c->at(t - dt)[0]) / (2 * dt), 1e-6);
  EXPECT_NEAR(c->at(t)[2], (c->at(t + dt)[1] - c->at(t - dt)[1]) / (2 * dt), 1e-4);

  EXPECT_THROW(make_signal(SignalForm{"square"}), std::invalid_argument);
}

TEST(Noise, ASeedGivesTheSameSequenceAndTheAskedSpread) {
  Noise a(0.5, 42), b(0.5, 42), c(0.5, 43);
  double sum = 0, squares = 0;
  bool differs = false;
  for (int i = 0; i < 20000; ++i) {
    const double x = a.next();
    EXPECT_EQ(x, b.next());
    differs = differs || x != c.next();
    sum += x;
    squares += x * x;
  }
  EXPECT_TRUE(differs);
  EXPECT_NEAR(sum / 20000, 0.0, 0.02);
  EXPECT_NEAR(std::sqrt(squares / 20000), 0.5, 0.01);
}

}  // namespace
}  // namespace corvel::sim

namespace corvel::sim {
namespace {

// Each subcommand takes its own options; one of the other's is refused with
// where it belongs, never taken and ignored.
TEST(Subcommands, AnOptionOfTheOtherSubcommandIsRefusedNamingIt) {
  const struct {
    Subcommand subcommand;
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {Subcommand::kRun, {"--orders", "2"}, "--orders is an option of corvel-sim tune, not of corvel-sim run"},
      {Subcommand::kRun, {"--jobs", "4"}, "--jobs, --force, --shard and --summary-only are for several recordings"},
      {Subcommand::kTune, {"a.csv", "b.csv"}, "several recordings need --out-dir DIR for their outputs (a tuning plot"},
      {Subcommand::kTune, {"--force"}, "--force, --shard and --summary-only are for several recordings"},
      {Subcommand::kRun, {"--window=2:5"}, "--window is an option of corvel-sim tune, not of corvel-sim run"},
      {Subcommand::kRun, {"--gains", "1:10"}, "--gains is an option of corvel-sim tune, not of corvel-sim run"},
      {Subcommand::kTune, {"--gain", "3"}, "--gain is an option of corvel-sim run, not of corvel-sim tune"},
      {Subcommand::kTune, {"--P3", "3"}, "--P3 is an option of corvel-sim run, not of corvel-sim tune"},
      {Subcommand::kTune, {"--out", "x.csv"}, "--out is an option of corvel-sim run, not of corvel-sim tune"},
      {Subcommand::kTune, {"--trace", "-"}, "--trace is an option of corvel-sim run, not of corvel-sim tune"},
      {Subcommand::kTune, {"--strict"}, "--strict is an option of corvel-sim run, not of corvel-sim tune"},
      {Subcommand::kTune, {"--plot-window", "1:2"}, "--plot-window is an option of corvel-sim run, not of corvel-sim tune"},
      {Subcommand::kRun, {"--strict=yes"}, "--strict takes no value"},
  };
  for (const auto& c : cases) {
    try {
      parse_options(c.args, c.subcommand);
      ADD_FAILURE() << c.message;
    } catch (const UsageError& e) {
      EXPECT_EQ(std::string(e.what()).rfind(c.message, 0), 0u) << e.what();
    }
  }
  // The options both take, and each one's own.
  EXPECT_EQ(parse_options({"--orders", "2-3", "--jobs", "2"}, Subcommand::kTune).last_order, 3);
  EXPECT_EQ(parse_options({"--plot", "p.svg", "--warmup", "1"}, Subcommand::kTune).plot, "p.svg");
  EXPECT_EQ(parse_options({"--trace", "-", "--strict"}, Subcommand::kRun).trace, "-");
}

TEST(Subcommands, EachHelpListsItsOwnOptions) {
  const std::string run = usage_text(Subcommand::kRun), tune = usage_text(Subcommand::kTune);
  for (const char* option : {"--gain L, --P1 L", "--order N, --P3 N", "--out FILE", "--trace FILE", "--column NAME|N"}) {
    EXPECT_NE(run.find(option), std::string::npos) << option;
  }
  for (const char* option : {"--orders A-B", "--jobs N", "--window T0:T1", "--gains LO:HI", "--column NAME|N"}) {
    EXPECT_NE(tune.find(option), std::string::npos) << option;
    // --jobs is each subcommand's own: worker processes for its runs.
    if (std::string(option) != "--column NAME|N" && std::string(option) != "--jobs N") {
      EXPECT_EQ(run.find(option), std::string::npos) << option;
    }
  }
  for (const char* option : {"--out-dir DIR", "--inputs-from LIST", "--jobs N", "--shard I/N"}) {
    EXPECT_NE(run.find(option), std::string::npos) << option;
  }
  EXPECT_EQ(tune.find("--gain L"), std::string::npos);
  EXPECT_EQ(tune.find("--trace"), std::string::npos);
}

// What tune prints is pasted into a shell: every word must come back as it
// was typed, whatever it holds.
TEST(Subcommands, ThePrintedCommandQuotesEveryWordForTheShell) {
  EXPECT_EQ(shell_quoted("data.csv"), "data.csv");
  EXPECT_EQ(shell_quoted("my data.csv"), "'my data.csv'");
  EXPECT_EQ(shell_quoted("it's"), "'it'\\''s'");
  EXPECT_EQ(shell_quoted(""), "''");
  EXPECT_EQ(shell_quoted("$HOME;rm -rf *"), "'$HOME;rm -rf *'");
  const SimOptions o = parse_options({"R&D/my data.csv", "--column", "a b", "--orders", "1-3", "--plot", "t.svg",
                                      "--jobs=2", "--snr", "30", "--variable-step"},
                                     Subcommand::kTune);
  EXPECT_EQ(run_command_line(o, 12.5, 2),
            "corvel-sim --input 'R&D/my data.csv' --column 'a b' --snr 30 --variable-step --gain 12.5 --order 2");
}

// What the command line parses is what a tuning and a run read through the
// descriptions every door fills in (a field of the command line's own that
// hid one of theirs would leave them at their defaults).
TEST(Options, TheDescriptionsSeeWhatTheCommandLineParsed) {
  const SimOptions tune = parse_options({"--orders", "2-4", "--gains", "5:6", "--jobs", "3", "--window", "1:2"},
                                        Subcommand::kTune);
  const TuneDescription& search = tune;
  EXPECT_EQ(search.first_order, 2);
  EXPECT_EQ(search.last_order, 4);
  EXPECT_EQ(search.gain_low, 5.0);
  EXPECT_EQ(search.gain_high, 6.0);
  EXPECT_EQ(search.jobs, 3);
  EXPECT_EQ(search.window_start, 1.0);
  const SimOptions run = parse_options({"a.csv", "--gain", "7", "--order", "2", "--step", "0.01,0.02", "--out", "x.csv"});
  const RunDescription& described = run;
  EXPECT_EQ(described.input, "a.csv");
  EXPECT_EQ(described.gain, 7.0);
  EXPECT_EQ(described.order, 2.0);
  EXPECT_EQ(described.steps, (std::vector<double>{0.01, 0.02}));
  EXPECT_EQ(described.out, "x.csv");
}

// What a name asks for, in any case, and what a MAT variable may be named.
TEST(FileNames, KindsByExtensionAndNamesTheHostCanLoad) {
  const struct {
    const char* path;
    bool mat, html;
  } kinds[] = {{"est.mat", true, false},  {"est.MAT", true, false},  {"est.Mat", true, false},
               {"est.HTML", false, true}, {"est.htm", false, true},  {"est.svg", false, false},
               {".mat", false, false},    {"mat", false, false},     {"est.mat.csv", false, false}};
  for (const auto& k : kinds) {
    EXPECT_EQ(is_mat_path(k.path), k.mat) << k.path;
    EXPECT_EQ(is_html_path(k.path), k.html) << k.path;
  }
  const std::pair<const char*, const char*> names[] = {{"end", "end_"},   {"for", "for_"},     {"while", "while_"},
                                                      {"ending", "ending"}, {"_a", "x_a"},      {"2nd", "x2nd"},
                                                      {"a b", "a_b"},       {"acc (m/s)", "acc__m_s_"}};
  for (const auto& [text, name] : names) EXPECT_EQ(mat_variable_name(text), name) << text;
}

TEST(Options, NoiseIsSetOneWayOnly) {
  try {
    parse_options({"--noise", "0.1", "--snr", "30"});
    ADD_FAILURE() << "--noise with --snr was taken";
  } catch (const UsageError& e) {
    EXPECT_STREQ(e.what(), "--noise 0.1 and --snr 30 both set the noise: give one of them");
  }
}

// No name made up for one signal (made unique or made safe) is another
// signal's own: its numbers would be logged, stored or plotted under it.
TEST(FileNames, MadeUpNamesNeverTakeAnotherSignalsName) {
  using Names = std::vector<std::string>;
  const struct {
    Names names, taken, originals;
    bool fold_case;
    Names expected;
  } cases[] = {
      {{"a", "a", "a_2"}, {"t"}, {}, false, {"a", "a_3", "a_2"}},
      {{"t", "T", "t_2"}, {"t"}, {}, false, {"t_3", "T", "t_2"}},
      {{"a_b", "a_b"}, {"t"}, {"a b", "a_b"}, false, {"a_b_2", "a_b"}},
      {{"a_b", "c"}, {"t"}, {"a b", "c"}, false, {"a_b", "c"}},  // made safe, and no one else's: kept
      {{"t", "T"}, {}, {"t", "T"}, true, {"t", "T_2"}},         // file names on a case-folding system
      {{"x", "x", "x"}, {}, {}, false, {"x", "x_2", "x_3"}},
  };
  for (const auto& c : cases) EXPECT_EQ(unique_names(c.names, c.taken, c.originals, c.fold_case), c.expected);
}

TEST(FileNames, TextThatIsNotUtf8IsReadAsWindows1252) {
  EXPECT_TRUE(is_utf8("acc (m/s\xc2\xb2)"));
  EXPECT_FALSE(is_utf8("acc (m/s\xb2)"));
  EXPECT_FALSE(is_utf8("\xc0\xaf"));          // an overlong '/'
  EXPECT_FALSE(is_utf8("\xed\xa0\x80"));      // a surrogate
  EXPECT_FALSE(is_utf8("\xe2\x82"));          // cut short
  EXPECT_EQ(windows_1252_as_utf8("m/s\xb2"), "m/s\xc2\xb2");
  EXPECT_EQ(windows_1252_as_utf8("\x80 \x81"), "\xe2\x82\xac \xef\xbf\xbd");  // euro; unassigned
}

}  // namespace
}  // namespace corvel::sim
