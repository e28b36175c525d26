#include "input/record.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>

#include "output/error_table.h"
#include "command_line/options.h"
#include "output/run_plot.h"
#include "run/simulate.h"

namespace corvel::sim {
namespace {

TEST(InputOptions, EveryRowIsASampleUnlessTheStepIsGiven) {
  EXPECT_EQ(parse_options({"--input", "a.csv"}).step, -1.0);
  EXPECT_EQ(parse_options({"a.csv"}).input, "a.csv");
  EXPECT_EQ(parse_options({"a.csv", "--step", "0.01"}).step, 0.01);
  EXPECT_EQ(parse_options({}).step, 0.01);  // the built-in signal keeps its own step
  EXPECT_EQ(parse_options({"a.csv", "--noise", "0.1"}).noise, 0.1);
}

TEST(InputOptions, OptionsThatWouldDoNothingAreRefused) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--input", "a.csv", "--frequency", "3"}, "--frequency shapes the built-in signal and means nothing with --input a.csv"},
      {{"a.csv", "--duration=4"}, "--duration shapes the built-in signal and means nothing with --input a.csv"},
      {{"--signal", "poly", "a.csv"}, "--signal shapes the built-in signal and means nothing with --input a.csv"},
      {{"--column", "u"}, "--column needs --input FILE"},
      {{"--time-tolerance", "1e-3"}, "--time-tolerance needs --input FILE"},
      {{"a.csv", "b.csv"}, "several recordings need --out-dir DIR for their outputs (a log and a plot for each)"},
      {{"a.csv", "b.csv", "--out-dir", "d", "--out", "x.csv"},
       "--out names one file; a fleet writes a log for each recording under --out-dir d"},
      {{"a.csv", "--jobs", "2"}, "--jobs, --force, --shard and --summary-only are for several recordings (with --out-dir DIR)"},
      {{"a.csv", "b.csv", "--out-dir", "d", "--shard", "2/2"}, "--shard: 2/2 must be I/N, whole numbers with 0 <= I < N"},
      {{"a.csv", "--time-tolerance", "2"}, "--time-tolerance: 2 must be a relative tolerance from 0 to below 1"},
  };
  for (const auto& [args, message] : cases) {
    try {
      parse_options(args);
      ADD_FAILURE() << message;
    } catch (const UsageError& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
}

class FixedRecord : public Record {
 public:
  FixedRecord(size_t n, double h, double start) {
    shape_.description = "rec.csv";
    shape_.count = n;
    shape_.step = h;
    shape_.t0 = start;
  }
  void restart() override {}
  double next() override { return 0.0; }
  double value(size_t) const override { return 0.0; }
  std::string where() const override { return ""; }
};

struct Plan {
  const char* name;
  double file_step;
  double p2;
  long every;
  size_t rows;
  const char* note;  // empty: none
};

void PrintTo(const Plan& p, std::ostream* os) { *os << p.name; }

class RunPlans : public ::testing::TestWithParam<Plan> {};

TEST_P(RunPlans, SampleEveryKthRowAndSaySo) {
  const Plan& p = GetParam();
  SimOptions o;
  o.input = "rec.csv";
  o.step = p.p2;
  const FixedRecord record(3000, p.file_step, 2.0);
  std::vector<std::string> notes;
  const RunShape shape = plan_run(o, record, &notes);
  EXPECT_EQ(shape.every, p.every);
  EXPECT_EQ(shape.rows, p.rows);
  EXPECT_EQ(shape.first_t, 2.0);
  EXPECT_EQ(shape.last_t, 2.0 + static_cast<double>((p.rows - 1) * static_cast<size_t>(p.every)) * p.file_step);
  if (*p.note == '\0') {
    EXPECT_TRUE(notes.empty());
  } else {
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_EQ(notes[0], p.note);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, RunPlans,
    ::testing::Values(Plan{"inherited", 0.001, -1, 1, 3000, ""}, Plan{"same_step", 0.004, 0.004, 1, 3000, ""},
                      Plan{"every_tenth", 0.001, 0.01, 10, 300,
                           "--step 0.01 is 10 steps of 0.001 s: the block samples one row in 10 of rec.csv, 300 of "
                           "3000 rows"},
                      Plan{"every_seventh_ends_early", 0.001, 0.007, 7, 429,
                           "--step 0.007 is 7 steps of 0.001 s: the block samples one row in 7 of rec.csv, 429 of "
                           "3000 rows"}));

TEST(RunPlans, AStepThatIsNoMultipleNamesBothAndTheWayOut) {
  SimOptions o;
  o.input = "rec.csv";
  for (const double p2 : {0.01, 0.002}) {
    o.step = p2;
    try {
      plan_run(o, FixedRecord(10, 0.004, 0.0), nullptr);
      ADD_FAILURE() << p2;
    } catch (const UsageError& e) {
      EXPECT_EQ(std::string(e.what()), "--step " + std::string(p2 == 0.01 ? "0.01" : "0.002") +
                                           " is not a whole multiple of the step 0.004 s of rec.csv; --step -1 "
                                           "samples every row at the file's step");
    }
  }
}

// Hand-computed: rows at t = 0, 1, 2, 3 with errors 4, 1, 2, 2 in z0; the
// warm-up ends at 2, so rows 2 and 3 count and the RMS is sqrt((4 + 4) / 2).
TEST(ErrorTable, CountsRowsFromTheWarmUpOnAndDividesByTheirNumber) {
  ErrorTable table(1, 2.0);
  const double estimates[] = {4, 1, 2, 2};
  const double derivative[] = {1, 1, 4, 0};
  for (int k = 0; k < 4; ++k) {
    Derivatives truth{};
    truth[1] = 1.0;
    table.add(k, estimates[k], &derivative[k], truth);
  }
  const std::vector<ErrorRow> rows = table.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].rms, 2.0);
  EXPECT_EQ(rows[0].truth_rms, 0.0);
  EXPECT_EQ(rows[1].rms, std::sqrt(5.0));  // (3^2 + 1^2) / 2
  EXPECT_EQ(rows[1].truth_rms, 1.0);
}

TEST(Plot, EscapesEveryTextItWrites) {
  EXPECT_EQ(xml_escape("a&b<c>'d\"\x01"), "a&amp;b&lt;c&gt;&apos;d&quot;?");
  EXPECT_EQ(script_string("</script><b>\"x\\"), "\"\\u003c/script\\u003e\\u003cb\\u003e\\\"x\\\\\"");
  RunPlot plot(1, 0, 9, RunPlot::kSvgBins, 0.5, false);
  const double d = 1.0;
  for (size_t k = 0; k < 10; ++k) plot.add(k, {0.1 * static_cast<double>(k), 1.0, 0.0, 1.0, &d}, nullptr);
  const std::string title = "corvel: R&D <raw>.csv [</script><b>x]";
  std::ostringstream svg, html;
  plot.write_svg(svg, title);
  plot.write_html(html, title, "/* library */", "/* style */");
  EXPECT_NE(svg.str().find("corvel: R&amp;D &lt;raw&gt;.csv [&lt;/script&gt;&lt;b&gt;x]"), std::string::npos);
  EXPECT_EQ(svg.str().find("<raw>"), std::string::npos);
  // In the page: escaped as HTML text, and as a string in the script; the
  // only </script> tags are the page's own two.
  EXPECT_NE(html.str().find("<h2>corvel: R&amp;D &lt;raw&gt;.csv [&lt;/script&gt;&lt;b&gt;x]</h2>"), std::string::npos);
  EXPECT_NE(html.str().find("\\u003c/script\\u003e\\u003cb\\u003ex]"), std::string::npos);
  size_t closing = 0;
  for (size_t at = html.str().find("</script>"); at != std::string::npos; at = html.str().find("</script>", at + 1)) {
    ++closing;
  }
  EXPECT_EQ(closing, 2u);
}

// Rows bin by their place in the plotted span: one a bin while they are
// fewer than the bins, each bin's smallest, largest and mean beyond.
TEST(Plot, BinsHoldEachRowOrTheRangeOfTheirRows) {
  RunPlot exact(1, 0, 3, 10, 0.0, false);
  RunPlot envelope(1, 0, 3, 2, 0.0, false);
  RunPlot window(1, 1, 2, 10, 0.0, false);
  const double values[] = {1.0, 5.0, -2.0, 4.0};
  for (size_t k = 0; k < 4; ++k) {
    const LogRow row{static_cast<double>(k), values[k], 0.0, values[k], &values[k]};
    exact.add(k, row, nullptr);
    envelope.add(k, row, nullptr);
    window.add(k, row, nullptr);
  }
  auto page = [](const RunPlot& p) {
    std::ostringstream out;
    p.write_html(out, "t", "", "");
    return out.str();
  };
  EXPECT_FALSE(exact.enveloped());
  EXPECT_NE(page(exact).find("[3,[4,4,4],[4,4,4]]"), std::string::npos);
  EXPECT_TRUE(envelope.enveloped());
  EXPECT_NE(page(envelope).find("[0,[1,3,5],[1,3,5]]"), std::string::npos);   // rows 0 and 1
  EXPECT_NE(page(envelope).find("[2,[-2,1,4],[-2,1,4]]"), std::string::npos);  // rows 2 and 3
  EXPECT_EQ(window.rows_seen(), 2u);
  EXPECT_EQ(page(window).find("\n[0,"), std::string::npos);
  EXPECT_NE(page(window).find("\n[1,[5,5,5],[5,5,5]]"), std::string::npos);
}

TEST(Plot, TicksAreRoundNumbersOverTheRange) {
  EXPECT_EQ(nice_ticks(0.0, 10.0, 5), (std::vector<double>{0, 2, 4, 6, 8, 10}));
  EXPECT_EQ(nice_ticks(-0.13, 0.42, 5), (std::vector<double>{0, 0.2, 0.4}));
  EXPECT_EQ(nice_ticks(-0.13, 0.42, 10), (std::vector<double>{-0.1, 0, 0.1, 0.2, 0.3, 0.4}));
  EXPECT_EQ(nice_ticks(0.0, 0.007, 7), (std::vector<double>{0, 0.001, 0.002, 0.003, 0.004, 0.005, 0.006, 0.007}));
  EXPECT_EQ(nice_ticks(1752.0, 1760.0, 4), (std::vector<double>{1752, 1754, 1756, 1758, 1760}));
  EXPECT_TRUE(nice_ticks(1.0, 1.0, 5).empty());
  EXPECT_TRUE(nice_ticks(0.0, INFINITY, 5).empty());
}

}  // namespace
}  // namespace corvel::sim
