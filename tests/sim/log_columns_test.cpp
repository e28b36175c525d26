// A log of chosen columns: the names a user picks from are the header's own,
// a wrong pick is refused with the names there are, and the log keeps exactly
// the chosen columns, in its own order, empty cells of a multirate log
// included.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/number_text.h"
#include "output/log_writer.h"
#include "output/output_file.h"
#include "support/scratch.h"

namespace corvel::sim {
namespace {

namespace fs = std::filesystem;

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ",") + name;
  return text;
}

TEST(LogColumns, AreNamedAsTheHeaderNamesThem) {
  struct Case {
    int order;
    std::vector<std::string> channels;
    bool filled;
    const char* names;
  } cases[] = {
      {1, {}, false, "t,u,error,z0,d1"},
      {3, {}, true, "t,u,error,z0,d1,d2,d3,filled"},
      {2, {"left", "right"}, false, "t,left.u,left.e,left.z0,left.d1,left.d2,right.u,right.e,right.z0,right.d1,right.d2"},
      // Names made unique as the header makes them: a signal named t, two of one name.
      {1, {"t", "a", "a"}, true,
       "t,t_2.u,t_2.e,t_2.z0,t_2.d1,t_2.filled,a.u,a.e,a.z0,a.d1,a.filled,a_2.u,a_2.e,a_2.z0,a_2.d1,a_2.filled"},
  };
  for (const Case& c : cases) EXPECT_EQ(joined(log_column_names(c.order, c.channels, c.filled)), c.names);
}

TEST(LogColumns, AWrongChoiceSaysWhy) {
  const std::vector<std::string> names = log_column_names(2, {}, false);
  struct Case {
    std::vector<std::string> wanted;
    const char* problem;
  } cases[] = {
      {{"t", "d1"}, ""},
      {{"d2", "t"}, ""},
      {{"t", "d3"}, "'d3' is not a column of this log; its columns are t, u, error, z0, d1, d2"},
      {{"T"}, "'T' is not a column of this log; its columns are t, u, error, z0, d1, d2"},
      {{"e"}, "'e' is not a column of this log; its columns are t, u, error, z0, d1, d2"},
      {{"d1", "t", "d1"}, "'d1' is named twice"},
  };
  for (const Case& c : cases) EXPECT_EQ(log_columns_problem(c.wanted, names), c.problem) << joined(c.wanted);
}

class LogOfColumns : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::scratch_folder() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  // The log of `rows` (t, u, error, z0, d1, d2 each) written with `style`,
  // the same with and without a thread of its own for the text.
  std::string log_of(const std::vector<LogRow>& rows, const std::vector<std::string>& channels, bool multirate,
                     LogStyle style) {
    style.own_thread = false;
    const std::string in_turn = log_in(rows, channels, multirate, style);
    style.own_thread = true;
    const std::string text = log_in(rows, channels, multirate, style);
    EXPECT_EQ(text, in_turn);
    return text;
  }
  std::string log_in(const std::vector<LogRow>& rows, const std::vector<std::string>& channels, bool multirate,
                     const LogStyle& style) {
    const std::string path = (dir_ / "log.csv").string();
    OutputSet outputs;
    OutputFile& file = outputs.open(path, "log");
    auto log = make_log_writer(file, 2, channels, multirate, style);
    for (const LogRow& row : rows) log->row(row);
    log->finish();
    outputs.commit();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  fs::path dir_;
};

TEST_F(LogOfColumns, KeepsTheChosenColumnsInTheLogsOrder) {
  const double d[2] = {0.25, -1.5};
  LogStyle style;
  style.columns = {"d2", "t", "error"};
  EXPECT_EQ(log_of({{0.0, 1.0, 0.0, 1.0, d}, {0.01, 2.0, 0.5, 1.5, d, 0, 1}}, {}, false, style),
            "t,error,d2\n0,0,-1.5\n0.01,0.5,-1.5\n");
  style.decimal_comma = true;
  EXPECT_EQ(log_of({{0.01, 2.0, 0.5, 1.5, d}}, {}, false, style), "t;error;d2\n0,01;0,5;-1,5\n");
}

// More rows than one block of text, so that blocks follow blocks.
TEST_F(LogOfColumns, ManyBlocksAreWrittenInTheirOrder) {
  const double d[2] = {0.5, 0.25};
  std::vector<LogRow> rows;
  std::string expected = "t,z0\n";
  for (int k = 0; k < 10000; ++k) {
    rows.push_back({k * 0.5, 0.0, 0.0, static_cast<double>(k), d, 0, k});
    expected += number_text(k * 0.5) + "," + std::to_string(k) + "\n";
  }
  LogStyle style;
  style.columns = {"t", "z0"};
  EXPECT_EQ(log_of(rows, {}, false, style), expected);
}

TEST_F(LogOfColumns, AMultirateLogLeavesTheCellsOfASignalWithoutAHitEmpty) {
  const double d[2] = {3.0, 4.0};
  LogStyle style;
  style.columns = {"t", "fast.d1", "slow.u"};
  // Step 0: both blocks have a hit; step 1: only the fast one.
  const std::vector<LogRow> rows{{0.0, 1.0, 0.0, 1.0, d, 0, 0}, {0.0, 7.0, 0.0, 7.0, d, 1, 0},
                                 {0.01, 2.0, 0.0, 1.0, d, 0, 1}};
  EXPECT_EQ(log_of(rows, {"fast", "slow"}, true, style), "t,fast.d1,slow.u\n0,3,7\n0.01,3,\n");
}

TEST_F(LogOfColumns, AnUnknownColumnIsRefusedBeforeAnyRowIsWritten) {
  LogStyle style;
  style.columns = {"t", "d9"};
  const std::string path = (dir_ / "log.csv").string();
  OutputSet outputs;
  OutputFile& file = outputs.open(path, "log");
  try {
    make_log_writer(file, 2, {}, false, style);
    FAIL() << "a log of an unknown column was made";
  } catch (const OutputError& e) {
    EXPECT_NE(std::string(e.what()).find("'d9' is not a column of this log; its columns are t, u, error, z0, d1, d2"),
              std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace corvel::sim
