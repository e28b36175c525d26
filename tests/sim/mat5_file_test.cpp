// The version-5 layout corvel-sim writes its MAT logs in, where Octave does
// not look: numbers left for later get their places (and the file its full
// length) in the order the variables and fields come, and a variable past
// the format's 4 GB is refused instead of written with a size that wraps.
#include "output/mat5_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/errors.h"
#include "output/mat_log_writer.h"

namespace corvel::sim {
namespace {

std::vector<unsigned char> contents(std::FILE* file) {
  std::fflush(file);
  std::vector<unsigned char> bytes;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<unsigned char>(c));
  return bytes;
}

TEST(Mat5File, NumbersLeftForLaterHaveTheirPlacesInOrder) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  // t (3 x 1, later), a struct s of u (3 x 1, later) and gain (at hand), then d (3 x 2, later).
  const std::vector<Mat5Item> items{
      mat5_numbers("t", 3, 1),
      mat5_struct("s", {mat5_numbers("u", 3, 1), mat5_numbers("gain", 1, 1, {2.5}), mat5_text("unit", "mm")}),
      mat5_numbers("d", 3, 2)};
  const std::vector<std::int64_t> at = write_mat5_layout(file, "x.mat", items);
  ASSERT_EQ(at.size(), 3u);
  // The header, then t: tag 8, flags 16, dims 16, name 't' 8, data tag 8.
  EXPECT_EQ(at[0], 128 + 8 + 16 + 16 + 8 + 8);
  EXPECT_LT(at[0], at[1]);
  EXPECT_LT(at[1], at[2]);
  const std::vector<unsigned char> bytes = contents(file);
  // The file reaches past the last numbers' room, d's 6 doubles.
  EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), at[2] + 6 * 8);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 19), "MATLAB 5.0 MAT-file");
  EXPECT_EQ(bytes[126], 'I');
  EXPECT_EQ(bytes[127], 'M');
  // The size in t's tag is the rest of its element: up to s's tag.
  std::uint32_t t_size;
  std::memcpy(&t_size, &bytes[132], 4);
  EXPECT_EQ(128 + 8 + t_size, static_cast<std::uint32_t>(at[0] + 3 * 8));
  std::fclose(file);
}

TEST(Mat5File, AVariablePastFourGigabytesIsRefused) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  // 180 million rows of three derivatives: 4.3 GB.
  try {
    write_mat5_layout(file, "day.mat", {mat5_numbers("t", 10, 1), mat5_numbers("d", 180000000, 3)});
    ADD_FAILURE() << "a variable past 4 GB was written";
  } catch (const OutputError& e) {
    EXPECT_EQ(std::string(e.what()),
              "the MAT log day.mat cannot hold d: a version-5 MAT-file's variable ends at 4 GB (write a CSV log, or "
              "fewer columns with --log-columns)");
  }
  std::fclose(file);
}

// Before a run, from the rows it will have: a log whose d would pass 4 GB is
// refused, the same log of fewer columns is not, and in a multirate log each
// signal's struct is judged by its own rows.
TEST(Mat5File, ALogThatWouldNotFitIsRefusedBeforeTheRun) {
  struct Case {
    size_t rows;
    std::vector<size_t> rows_of;
    int order;
    std::vector<std::string> channels, columns;
    bool refused;
  } cases[] = {
      {180000000, {}, 3, {}, {}, true},             // d: 4.3 GB
      {170000000, {}, 3, {}, {}, false},            // d: 4.08 GB
      {180000000, {}, 3, {}, {"t", "d1"}, false},   // d of one column
      {60000000, {}, 10, {}, {}, true},             // d of ten derivatives: 4.8 GB
      {100000000, {100000000, 1000}, 1, {"fast", "slow"}, {}, false},  // fast: 4.0 GB, just inside
      {140000000, {140000000, 1000}, 1, {"fast", "slow"}, {}, true},   // fast: 5.6 GB
      {140000000, {1000, 1000}, 1, {"fast", "slow"}, {}, false},       // t alone: 1.1 GB
  };
  for (const Case& c : cases) {
    LogStyle style;
    style.columns = c.columns;
    const bool multirate = !c.rows_of.empty();
    bool refused = false;
    try {
      refuse_mat_log_past_limit("day.mat", c.rows, c.rows_of, c.order, c.channels, multirate, style);
    } catch (const OutputError& e) {
      refused = true;
      EXPECT_NE(std::string(e.what()).find("a version-5 MAT-file's variable ends at 4 GB"), std::string::npos) << e.what();
    }
    EXPECT_EQ(refused, c.refused) << c.rows << " rows, order " << c.order;
  }
}

}  // namespace
}  // namespace corvel::sim
