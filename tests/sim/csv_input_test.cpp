#include "csv_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <sstream>

#include "support/bits.h"

namespace corvel::sim {
namespace {

SampledSignal read(const std::string& text) {
  std::istringstream in(text);
  return read_csv(in, "in.csv");
}

TEST(CsvInput, ReadsNumbersAsStrtodDoes) {
  const SampledSignal s = read("# comment\nt,u\n0,nan\n0.5, -inf\n1.0,-0.0\n\n1.5,0x1p-3\n2,1e400\n");
  ASSERT_EQ(s.u.size(), 5u);
  EXPECT_EQ(s.t, (std::vector<double>{0, 0.5, 1.0, 1.5, 2}));
  EXPECT_TRUE(std::isnan(s.u[0]));
  EXPECT_EQ(s.u[1], -INFINITY);
  EXPECT_SAME_BITS(-0.0, s.u[2]);
  EXPECT_EQ(s.u[3], 0.125);
  EXPECT_EQ(s.u[4], INFINITY);
  EXPECT_EQ(s.lines, (std::vector<int>{3, 4, 5, 7, 8}));
  EXPECT_EQ(time_step(s, "in.csv"), 0.5);
}

TEST(CsvInput, SignalColumnAloneAndNoHeader) {
  const SampledSignal s = read("1\r\n2.5\r\n-3\r\n");
  EXPECT_TRUE(s.t.empty());
  EXPECT_EQ(s.u, (std::vector<double>{1, 2.5, -3}));
}

struct BadCsv {
  const char* name;
  const char* text;
  const char* message;
};

void PrintTo(const BadCsv& c, std::ostream* os) { *os << c.name; }

class CsvErrors : public ::testing::TestWithParam<BadCsv> {};

TEST_P(CsvErrors, NameTheFileAndLine) {
  try {
    const SampledSignal s = read(GetParam().text);
    if (!s.t.empty()) time_step(s, "in.csv");
    ADD_FAILURE() << "accepted";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CsvErrors,
    ::testing::Values(
        BadCsv{"word_in_data", "t,u\n0,1\n0.1,abc\n", "in.csv:3: column 2: 'abc' is not a number"},
        BadCsv{"header_not_first", "1\nsignal\n", "in.csv:2: column 1: 'signal' is not a number"},
        BadCsv{"empty_field", "0,1\n0.1,\n", "in.csv:2: column 2: '' is not a number"},
        BadCsv{"three_columns", "0,1,2\n", "in.csv:1: expected 1 column (signal) or 2 (time, signal), found 3"},
        BadCsv{"column_count_changes", "0,1\n5\n", "in.csv:2: expected 2 column(s) like the lines before, found 1"},
        BadCsv{"time_goes_back", "0,1\n0.1,1\n0.05,1\n", "in.csv:3: the time 0.05 does not come after the time before it"},
        BadCsv{"time_not_finite", "0,1\ninf,1\n", "in.csv:2: the time inf is not finite"},
        BadCsv{"irregular_step", "0,1\n0.1,1\n0.25,1\n0.3,1\n",
               "in.csv:3: the time 0.25 is off the constant step 0.099999999999999992 of the time column"},
        BadCsv{"no_samples", "t,u\n# nothing\n", "in.csv: no samples"}));

}  // namespace
}  // namespace corvel::sim
