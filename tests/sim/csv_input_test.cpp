#include "input/csv_input.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <sstream>

#include "input/record.h"
#include "support/bits.h"

namespace corvel::sim {
namespace {

struct Read {
  CsvLayout layout;
  std::vector<double> t, u;
  std::vector<long> lines;
};

// Every row of a text, through the reader and the time column's check.
Read read(const std::string& text, ColumnChoice choice = {}, double tolerance = 1e-6) {
  CsvReader reader(std::make_unique<std::istringstream>(text), "in.csv", choice);
  Read r{reader.layout(), {}, {}, {}};
  TimeGrid grid(tolerance);
  CsvRow row;
  while (reader.next(&row)) {
    if (r.layout.time >= 0) {
      grid.add(row.t, "in.csv:" + std::to_string(row.line) + ": ");
      r.t.push_back(row.t);
    }
    r.u.push_back(row.u);
    r.lines.push_back(row.line);
  }
  grid.refuse_if_breached();
  return r;
}

TEST(CsvInput, ReadsNumbersAsStrtodDoes) {
  const Read s = read("# comment\nt,u\n0,nan\n0.5, -inf\n1.0,-0.0\n\n1.5,0x1p-3\n2,1e400\n");
  ASSERT_EQ(s.u.size(), 5u);
  EXPECT_EQ(s.t, (std::vector<double>{0, 0.5, 1.0, 1.5, 2}));
  EXPECT_TRUE(std::isnan(s.u[0]));
  EXPECT_EQ(s.u[1], -INFINITY);
  EXPECT_SAME_BITS(-0.0, s.u[2]);
  EXPECT_EQ(s.u[3], 0.125);
  EXPECT_EQ(s.u[4], INFINITY);
  EXPECT_EQ(s.lines, (std::vector<long>{3, 4, 5, 7, 8}));
}

struct Layout {
  const char* name;
  const char* text;
  ColumnChoice choice;
  char delimiter;
  std::vector<size_t> signals;
  long time;
  std::vector<double> u;
};

void PrintTo(const Layout& c, std::ostream* os) { *os << c.name; }

class CsvLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(CsvLayouts, FindTheDelimiterHeaderAndColumns) {
  const Layout& c = GetParam();
  const Read r = read(c.text, c.choice);
  EXPECT_EQ(r.layout.delimiter, c.delimiter);
  EXPECT_EQ(r.layout.signals, c.signals);
  EXPECT_EQ(r.layout.time, c.time);
  EXPECT_EQ(r.u, c.u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CsvLayouts,
    ::testing::Values(
        Layout{"one_column_crlf", "1\r\n2.5\r\n-3\r\n", {}, ',', {0}, -1, {1, 2.5, -3}},
        Layout{"byte_order_mark_header", "\xEF\xBB\xBFt,u\n0,4\n1,5\n", {}, ',', {1}, 0, {4, 5}},
        Layout{"byte_order_mark_data", "\xEF\xBB\xBF" "0,4\n1,5", {}, ',', {1}, 0, {4, 5}},
        Layout{"semicolons", "t;u\n0;4\n1;5\n", {}, ';', {1}, 0, {4, 5}},
        Layout{"tabs_with_spaces", "t\tu\n0\t 4\n1\t5 \n", {}, '\t', {1}, 0, {4, 5}},
        Layout{"column_by_name", "t,a,b,c,d\n0,1,2,3,4\n1,5,6,7,8\n", {"c", ""}, ',', {3}, 0, {3, 7}},
        Layout{"column_by_number", "t,a,b,c,d\n0,1,2,3,4\n1,5,6,7,8\n", {"2", ""}, ',', {1}, 0, {1, 5}},
        Layout{"time_by_name", "a,time,b\n1,0,2\n3,1,4\n", {"b", "time"}, ',', {2}, 1, {2, 4}},
        Layout{"time_none", "a,b\n1,2\n3,2\n", {"a", "none"}, ',', {0}, -1, {1, 3}},
        Layout{"first_column_signal_has_no_time", "a,b\n1,0\n3,1\n", {"a", ""}, ',', {0}, -1, {1, 3}},
        Layout{"unread_columns_may_hold_text", "t,u,note\n0,1,ok\n1,2,late\n", {"u", ""}, ',', {1}, 0, {1, 2}},
        // Lists: in the order given; "all" is every column but the time's.
        Layout{"list_of_names_and_numbers", "t,a,b,c\n0,1,2,3\n1,4,5,6\n", {"c,2", ""}, ',', {3, 1}, 0, {3, 6}},
        Layout{"range", "t,a,b,c,d\n0,1,2,3,4\n1,5,6,7,8\n", {"2-4", ""}, ',', {1, 2, 3}, 0, {1, 5}},
        Layout{"all_but_the_time", "a,t,b\n1,0,2\n3,1,4\n", {"all", "t"}, ',', {0, 2}, 1, {1, 3}},
        Layout{"all_without_a_time", "1,2\n3,4\n", {"all", "none"}, ',', {0, 1}, -1, {1, 3}},
        Layout{"all_default_time", "0,2,5\n1,4,6\n", {"all", ""}, ',', {1, 2}, 0, {2, 4}},
        Layout{"a_name_with_a_comma", "t;x,y;z\n0;1;2\n1;3;4\n", {"x,y", ""}, ';', {1}, 0, {1, 3}},
        Layout{"range_of_names", "t,a,b,c,d\n0,1,2,3,4\n1,5,6,7,8\n", {"b-d,a", ""}, ',', {2, 3, 4, 1}, 0, {2, 6}},
        Layout{"a_name_with_a_dash", "t,x-1,b\n0,1,2\n1,3,4\n", {"x-1,b", ""}, ',', {1, 2}, 0, {1, 3}}));

// Each list that cannot be a run's columns is refused as a usage error.
TEST(CsvColumnLists, BadListsAreUsageErrors) {
  const struct {
    const char* text;
    ColumnChoice choice;
    const char* message;
  } cases[] = {
      {"t,a,b\n0,1,2\n", {"a,2", ""}, "--column a,2: column 2 ('a') is chosen twice"},
      {"t,a,b\n0,1,2\n", {"1-3", ""}, "--column 1-3 names the time column 't' (--time-column none reads every column as a signal)"},
      {"t,a,b\n0,1,2\n", {"3-2", ""}, "--column 3-2: the range 3-2 runs backwards"},
      {"t\n0\n", {"all", "t"}, "--column all: in.csv has no column but the time"},
  };
  for (const auto& c : cases) {
    try {
      read(c.text, c.choice);
      ADD_FAILURE() << c.choice.signal << " accepted";
    } catch (const UsageError& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
  }
  std::string wide = "0";
  for (int c = 0; c <= 1001; ++c) wide += ",1";
  EXPECT_THROW(read(wide + "\n", {"all", ""}), UsageError);
  EXPECT_NO_THROW(read(wide.substr(0, wide.size() - 4) + "\n", {"all", ""}));  // 1 000 columns
}

struct BadCsv {
  const char* name;
  const char* text;
  ColumnChoice choice;
  const char* message;
};

void PrintTo(const BadCsv& c, std::ostream* os) { *os << c.name; }

class CsvErrors : public ::testing::TestWithParam<BadCsv> {};

TEST_P(CsvErrors, NameTheFileAndLine) {
  try {
    read(GetParam().text, GetParam().choice);
    ADD_FAILURE() << "accepted";
  } catch (const InputError& e) {
    EXPECT_STREQ(e.what(), GetParam().message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, CsvErrors,
    ::testing::Values(
        BadCsv{"word_in_data", "t,u\n0,1\n0.1,abc\n", {}, "in.csv:3: 'u': 'abc' is not a number"},
        BadCsv{"header_not_first", "1\nsignal\n", {}, "in.csv:2: column 1: 'signal' is not a number"},
        BadCsv{"text_after_units_row", "t,u\ns,V\nsec,volt\n0,1\n", {}, "in.csv:3: 'u': 'volt' is not a number"},
        BadCsv{"typo_in_first_line", "0,1x\n1,2\n", {}, "in.csv:1: column 2: '1x' is not a number"},
        BadCsv{"empty_time", "0,1\n,2\n", {}, "in.csv:2: column 1: '' is not a number"},
        BadCsv{"three_columns_unchosen", "t,a,b\n0,1,2\n", {},
               "in.csv has 3 columns (1 t, 2 a, 3 b): choose the signal with --column NAME|N|LIST|all, and the time with "
               "--time-column NAME|N|none"},
        BadCsv{"no_such_column", "t,a\n0,1\n", {"b", ""}, "--column b: in.csv has no such column; it has columns t, a"},
        BadCsv{"column_out_of_range", "0,1\n", {"3", ""},
               "--column 3: in.csv has no such column; it has 2 unnamed column(s) (no header line): give a number "
               "from 1"},
        BadCsv{"signal_is_time", "t,u\n0,1\n", {"u", "u"}, "in.csv: the signal and the time cannot both be 'u'"},
        BadCsv{"field_count_changes", "0,1\n5\n", {}, "in.csv:2: found 1 field(s) where line 1 has 2"},
        BadCsv{"time_goes_back", "0,1\n0.1,1\n0.05,1\n", {},
               "in.csv:3: the time 0.05 does not come after the time before it, 0.1"},
        BadCsv{"time_not_finite", "0,1\ninf,1\n", {}, "in.csv:2: the time inf is not finite"},
        BadCsv{"irregular_step", "0,1\n0.1,1\n0.2,1\n0.35,1\n", {},
               "in.csv:4: the time 0.35 comes 0.15 s after the one before, where the first two are 0.1 s apart: the "
               "time column must rise by one constant step (within --time-tolerance 1e-06 of it)"}));

// A kHz log printed with three decimals keeps within the default tolerance
// an hour in; a coarser print needs a looser one, and a loose one lets it by.
TEST(TimeGrid, ToleranceIsRelativeToTheFirstStep) {
  char text[32];
  std::string log = "t,u\n";
  for (long k = 0; k < 20000; ++k) {
    std::snprintf(text, sizeof text, "%.3f,1\n", 3500.0 + static_cast<double>(k) * 0.001);
    log += text;
  }
  EXPECT_EQ(read(log).u.size(), 20000u);

  const std::string coarse = "0,1\n0.0028,1\n0.0056,1\n0.0083,1\n";  // 360 Hz printed with 4 decimals
  EXPECT_THROW(read(coarse), InputError);
  EXPECT_EQ(read(coarse, {}, 0.05).u.size(), 4u);
}

TEST(CsvInput, RewindGivesTheSameRowsAgain) {
  for (const char* text : {"t,u\n0,1\n1,2\n", "0,1\n1,2\n"}) {
    CsvReader reader(std::make_unique<std::istringstream>(text), "in.csv", {});
    CsvRow row;
    std::vector<double> first, second;
    while (reader.next(&row)) first.push_back(row.u);
    reader.rewind();
    while (reader.next(&row)) second.push_back(row.u);
    EXPECT_EQ(first, (std::vector<double>{1, 2}));
    EXPECT_EQ(second, first);
  }
}


// A spreadsheet's exports: decimal commas where ';' or tabs separate the
// fields, units in the names or in a row of their own, empty cells.
TEST(CsvInput, SpreadsheetExportsReadAsTheyAreMeant) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<double> t, u;
    std::vector<std::string> units;
  };
  const std::vector<Case> cases = {
      {"decimal commas, units in the names", "Time [s];Position [mm]\r\n0,000;12,50\r\n0,001;12,75\r\n", {0, 0.001},
       {12.5, 12.75}, {"s", "mm"}},
      {"a units row", "t,ax\ns,m/s^2\n0,1\n0.1,2\n", {0, 0.1}, {1, 2}, {"s", "m/s^2"}},
      {"tabs and commas", "t\tu (V)\n0\t1,5\n1\t2,5\n", {0, 1}, {1.5, 2.5}, {"", "V"}},
      {"commas only from the third row", "t;u\n0;1\n1;2,5\n", {0, 1}, {1, 2.5}, {"", ""}},
      {"no header", "0,5;1,25\n1,5;2\n", {0.5, 1.5}, {1.25, 2}, {"", ""}},
      {"an empty cell", "t;u\n0;1\n1;\n", {0, 1}, {1, NAN}, {"", ""}},
      // A group of three after the sign reads as the rest of the file writes.
      {"1,000 where commas are decimal", "t;u\n0,001;12,5\n0,002;1,000\n", {0.001, 0.002}, {12.5, 1.0}, {"", ""}},
      {"1.000 where points are decimal", "t\tu\n0.5\t1\n1.5\t1.000\n", {0.5, 1.5}, {1, 1.0}, {"", ""}},
      {"the time column says it first", "t;u\n0,5;1,000\n", {0.5}, {1.0}, {"", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CsvReader reader(std::make_unique<std::istringstream>(c.text), "in.csv", {});
    EXPECT_EQ(reader.layout().units, c.units);
    CsvRow row;
    std::vector<double> t, u;
    while (reader.next(&row)) t.push_back(row.t), u.push_back(row.u);
    EXPECT_EQ(t, c.t);
    ASSERT_EQ(u.size(), c.u.size());
    for (size_t k = 0; k < u.size(); ++k) {
      if (std::isnan(c.u[k])) {
        EXPECT_TRUE(std::isnan(u[k]));
      } else {
        EXPECT_EQ(u[k], c.u[k]);
      }
    }
  }
}

// A number whose sign could be a thousands separator is read only as the
// file's other numbers say; the file's convention is its first unambiguous
// number's, and a field against it is refused with its place.
TEST(CsvInput, TheFilesDecimalSignIsDecidedOnce) {
  struct Case {
    const char* name;
    std::string text;
    std::string message;  // what the refusal says, in part
  };
  const std::vector<Case> cases = {
      {"1,000 in a file of points", "t\tu\n0.001\t2.5\n0.002\t1,000\n",
       "in.csv:3: 'u': '1,000' is not a number (this file writes decimal points, as '0.001' on line 2"},
      {"a decimal comma in a file of points", "t;u\n0.5;1\n1.5;2,25\n",
       "in.csv:3: 'u': '2,25' is not a number (this file writes decimal points, as '0.5' on line 2"},
      {"1.000 in a file of commas", "t;u\n0,5;1\n1,5;1.000\n",
       "in.csv:3: 'u': '1.000' is not a number (this file writes decimal commas, as '0,5' on line 2"},
      {"nothing says which", "u;v\n1,000;2\n", "in.csv:2: 'u': '1,000' is not a number (a thousands separator or a decimal sign?"},
      {"a sign before it says nothing", "u;v\n-1,000;2\n", "in.csv:2: 'u': '-1,000' is not a number (a thousands separator"},
      {"1.000,5 still named", "t;u\n0,5;1.000,5\n", "thousands separators are not read: write 1234,5 or 1234.5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CsvReader reader(std::make_unique<std::istringstream>(c.text), "in.csv", ColumnChoice{"u"});
    CsvRow row;
    try {
      while (reader.next(&row)) {
      }
      ADD_FAILURE() << "read to the end";
    } catch (const InputError& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
}

TEST(CsvInput, ADecimalCommaGivenTakesTheCommaFromTheSeparators) {
  // 1,5 alone on a line: a comma-separated file would read two fields.
  CsvReader reader(std::make_unique<std::istringstream>("u\n1,5\n2,25\n"), "in.csv", {}, true);
  CsvRow row;
  std::vector<double> u;
  while (reader.next(&row)) u.push_back(row.u);
  EXPECT_EQ(u, (std::vector<double>{1.5, 2.25}));

  // The run's word decides what the file alone could not: 1,000 is one, and 1.000 no number.
  CsvReader said(std::make_unique<std::istringstream>("t;u\n0;1,000\n1;2,5\n"), "in.csv", ColumnChoice{"u"}, true);
  u.clear();
  while (said.next(&row)) u.push_back(row.u);
  EXPECT_EQ(u, (std::vector<double>{1.0, 2.5}));
  CsvReader point(std::make_unique<std::istringstream>("t;u\n0;1.000\n"), "in.csv", ColumnChoice{"u"}, true);
  try {
    while (point.next(&row)) {
    }
    ADD_FAILURE() << "1.000 read where the run says the file writes decimal commas";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("this file writes decimal commas, as the run says"), std::string::npos) << e.what();
  }
}


TEST(CsvInput, TheDelimiterOfEachKindOfLine) {
  const std::vector<std::pair<std::string, char>> cases = {
      {"0,001;12,50\n", ';'}, {"0,5\t1,25\n", '\t'}, {"0,\t1\n", ','}, {"t,u\n", ','}, {"t\n", ','}, {"a;b,c\n", ';'}};
  for (const auto& [text, delimiter] : cases) {
    CsvReader reader(std::make_unique<std::istringstream>(text + text), "in.csv", {"1", "none"});
    EXPECT_EQ(reader.layout().delimiter, delimiter) << text;
  }
}

}  // namespace
}  // namespace corvel::sim
