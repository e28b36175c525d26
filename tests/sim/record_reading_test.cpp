// A CSV record read as a run reads it: ahead on a second thread (or in turn,
// as a fleet's workers read it), in blocks of 4096 rows; a bad row at a
// block's edge, a file that changes between the two readings, and the queue
// between the threads closed from either side.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "command_line/options.h"
#include "common/block_queue.h"
#include "common/errors.h"
#include "input/record.h"
#include "output/run_plot.h"
#include "support/scratch.h"

namespace corvel::sim {
namespace {

namespace fs = std::filesystem;

std::string temp_csv(const std::string& name) {
  return test::scratch_path(name);
}

// t,u rows 0..rows-1 at 1 ms; `bad` (from 1), when non-zero, reads "x".
void write_rows(const std::string& path, size_t rows, size_t bad = 0, bool append = false) {
  std::ofstream out(path, append ? std::ios::app : std::ios::trunc);
  if (!append) out << "t,u\n";
  for (size_t k = 0; k < rows; ++k) {
    out << k * 0.001 << ',';
    if (k + 1 == bad) {
      out << "x\n";
    } else {
      out << k << '\n';
    }
  }
}

// Reads the record as a run does: every sample, then the check of the whole.
std::string read_whole(Record& record) {
  record.restart();
  for (size_t k = 0; k < record.count(); ++k) record.next();
  record.finish();
  return "";
}

std::string failure_of(const std::string& path, size_t rows_read_before_change, const std::function<void()>& change,
                       bool read_ahead = true) {
  SimOptions o;
  o.input = path;
  o.helper_threads = read_ahead;
  const std::unique_ptr<Record> record = open_record(o);
  try {
    record->restart();
    for (size_t k = 0; k < rows_read_before_change; ++k) record->next();
    change();
    for (size_t k = rows_read_before_change; k < record->count(); ++k) record->next();
    record->finish();
  } catch (const InputError& e) {
    return e.what();
  }
  return "";
}

// Row k of the file is line k + 2 (after the header): a bad row as the last
// of a block, and as the first of the next, is reported with its line after
// every row before it was handed out.
// The same without a thread reading ahead (a fleet's workers).
TEST(RecordReading, ABadRowAtABlocksEdgeIsFoundWhereItIs) {
  for (const size_t bad : {4096u, 4097u, 8192u})
  for (const bool read_ahead : {true, false}) {
    const std::string path = temp_csv("edge.csv");
    write_rows(path, 10000, bad);
    SimOptions o;
    o.input = path;
    o.helper_threads = read_ahead;
    const std::unique_ptr<Record> record = open_record(o);  // the first reading counts rows only
    record->restart();
    size_t good = 0;
    try {
      for (size_t k = 0; k < record->count(); ++k) {
        EXPECT_EQ(record->next(), static_cast<double>(k));
        ++good;
      }
      ADD_FAILURE() << "row " << bad << " read";
    } catch (const InputError& e) {
      EXPECT_EQ(std::string(e.what()), path + ":" + std::to_string(bad + 1) + ": 'u': 'x' is not a number");
    }
    EXPECT_EQ(good, bad - 1);
    std::remove(path.c_str());
  }
}

TEST(RecordReading, AFileThatChangesBetweenItsReadingsFailsTheRun) {
#if defined(_WIN32)
  GTEST_SKIP() << "Windows does not let a file open for reading be rewritten as this test does";
#endif
  const std::string path = temp_csv("changing.csv");
  const struct {
    const char* what;
    std::function<void()> change;
    const char* message;
  } cases[] = {
      {"grows", [&] { write_rows(path, 3, 0, true); }, "changed while it was read: it now has more than the 100000 rows"},
      {"shrinks", [&] { write_rows(path, 90000); }, "changed while it was read: it now has 90000 rows where it had 100000"},
      {"another last row", [&] {
         write_rows(path, 99999);
         std::ofstream(path, std::ios::app) << "99.999,5\n";
       }, "changed while it was read: it now has another last row"},
      {"cut in a line", [&] {
         write_rows(path, 90000);
         std::ofstream(path, std::ios::app) << "90.0";  // a half-written row: not a bad row of the recording
       }, "changed while it was read: it now has 1"},
      {"no change", [] {}, ""},
  };
  for (const auto& c : cases)
  for (const bool read_ahead : {true, false}) {
    write_rows(path, 100000);
    // Changed after the first blocks are read, far ahead of the reader (or,
    // without a thread reading ahead, just behind the run).
    const std::string message = failure_of(path, 5000, c.change, read_ahead);
    if (*c.message == '\0') {
      EXPECT_EQ(message, "") << c.what << (read_ahead ? "" : " (read in turn)");
    } else {
      EXPECT_NE(message.find(c.message), std::string::npos) << c.what << (read_ahead ? "" : " (read in turn)") << ": " << message;
    }
  }
  // A first reading that saw another first row than the run does.
  write_rows(path, 100);
  SimOptions o;
  o.input = path;
  const std::unique_ptr<Record> record = open_record(o);
  {
    std::ofstream out(path);
    out << "t,u\n0,7\n";
    for (int k = 1; k < 100; ++k) out << k * 0.001 << ',' << k << '\n';
  }
  try {
    read_whole(*record);
    ADD_FAILURE() << "a new first row passed";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("another first row"), std::string::npos) << e.what();
  }
  std::remove(path.c_str());
}

// Time stamps of the epoch (1.7e9 s on, 1 kHz, written to the millisecond)
// are regular, whatever their rounding where doubles are 2.4e-7 s apart: a
// file's time column and an array's time stamps alike. Real jitter is
// refused, naming the row that strays the most, however long its file's name.
TEST(RecordReading, TimeStampsAreJudgedAgainstTheRecordsOwnStep) {
  const std::string epoch = temp_csv("epoch.csv");
  std::vector<double> times;
  {
    std::ofstream out(epoch);
    out << "t,u\n";
    char text[64];
    for (long k = 0; k < 5000; ++k) {
      std::snprintf(text, sizeof text, "%.3f", 1.7e9 + static_cast<double>(k) * 1e-3);
      out << text << ',' << k % 7 << '\n';
      times.push_back(std::strtod(text, nullptr));
    }
  }
  SimOptions o;
  o.input = epoch;
  const std::unique_ptr<Record> record = open_record(o);
  EXPECT_EQ(read_whole(*record), "");
  EXPECT_EQ(record->count(), 5000u);
  const std::vector<double> u(times.size(), 1.0);
  SampleArray a;
  a.samples = u.data();
  a.times = times.data();
  a.count = u.size();
  a.description = "the array";
  EXPECT_EQ(open_samples(a, RecordSource{})->count(), 5000u);
  // Noise by a signal-to-noise ratio reads the record whole first: the same step.
  SimOptions noisy = o;
  noisy.snr_db = 20.0;
  noisy.snr_given = true;
  const std::unique_ptr<Record> with_noise = open_record(noisy);
  EXPECT_EQ(read_whole(*with_noise), "");
  EXPECT_EQ(with_noise->step(), record->step());
  EXPECT_EQ(with_noise->t0(), times[0]);

  // Jitter of a tenth of a step at row 1 000, of a fifth at row 3 000 and a tenth after it.
  const std::string jitter = temp_csv(std::string(180, 'j') + ".csv");
  {
    std::ofstream out(jitter);
    out << "t,u\n";
    for (long k = 0; k < 5000; ++k) {
      const double off = k == 999 ? 1e-4 : k == 2999 ? 2e-4 : k == 3000 ? 1e-4 : 0.0;
      out << static_cast<double>(k) * 1e-3 + off << ",1\n";
    }
  }
  o.input = jitter;
  try {
    const std::unique_ptr<Record> jittery = open_record(o);
    read_whole(*jittery);
    ADD_FAILURE() << "jitter read as regular";
  } catch (const InputError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find(jitter + ":3001: the time 2.9992 comes 0.0012 s after the one before, where the "
                                    "record's step (its span over its samples) is 0.001 s"),
              std::string::npos)
        << message;
    EXPECT_NE(message.find("(within --time-tolerance 1e-06 of it); 5 steps stray, this one the most"), std::string::npos)
        << message;
  }
  std::vector<double> jittered = times;
  jittered[2000] += 3e-4;
  a.times = jittered.data();
  EXPECT_THROW(open_samples(a, RecordSource{}), InputError);
  // The very first step is judged too, where the record's step is known before it (the first row early).
  const std::string first_late = temp_csv("first-late.csv");
  {
    std::ofstream out(first_late);
    out << "t,u\n";
    for (long k = 0; k < 5000; ++k) out << static_cast<double>(k) * 1e-3 - (k == 0 ? 3e-4 : 0.0) << ",1\n";
  }
  o.input = first_late;
  o.time_tolerance = 1e-3;  // the rest of the steps are within it of the span's step; the first is not
  try {
    read_whole(*open_record(o));
    ADD_FAILURE() << "a first step 30 % long read as regular";
  } catch (const InputError& e) {
    EXPECT_NE(std::string(e.what()).find("first-late.csv:3: the time 0.001 comes 0.0013 s after"), std::string::npos)
        << e.what();
    EXPECT_EQ(std::string(e.what()).find("steps stray"), std::string::npos) << e.what();
  }
}

TEST(BlockQueue, EachSideEndsItAndTheOtherHearsWhy) {
  {  // the producer finishes with a failure: the consumer gets the blocks before it, then the failure
    BlockQueue<int> q(2);
    EXPECT_TRUE(q.push(1));
    q.end_of_blocks(std::make_exception_ptr(InputError("bad row")));
    int block = 0;
    EXPECT_TRUE(q.pop(&block));
    EXPECT_EQ(block, 1);
    EXPECT_FALSE(q.pop(&block));
    EXPECT_THROW(std::rethrow_exception(q.producer_failure()), InputError);
    EXPECT_EQ(q.consumer_failure(), nullptr);
  }
  {  // the consumer closes: a producer waiting on a full queue is released with false
    BlockQueue<int> q(1);
    EXPECT_TRUE(q.push(1));
    bool pushed = true;
    std::thread producer([&] { pushed = q.push(2); });
    q.stop_taking(std::make_exception_ptr(OutputError("disk full")));
    producer.join();
    EXPECT_FALSE(pushed);
    int block = 0;
    EXPECT_FALSE(q.pop(&block));  // closed: nothing more comes out
    EXPECT_THROW(std::rethrow_exception(q.consumer_failure()), OutputError);
    EXPECT_EQ(q.producer_failure(), nullptr);
  }
  {  // each side's first failure is kept; a reset opens it again
    BlockQueue<int> q(1);
    q.stop_taking(std::make_exception_ptr(OutputError("first")));
    q.stop_taking(std::make_exception_ptr(InputError("second")));
    q.end_of_blocks(std::make_exception_ptr(InputError("bad row")));
    EXPECT_THROW(std::rethrow_exception(q.consumer_failure()), OutputError);
    EXPECT_THROW(std::rethrow_exception(q.producer_failure()), InputError);
    q.reset();
    EXPECT_EQ(q.consumer_failure(), nullptr);
    EXPECT_EQ(q.producer_failure(), nullptr);
    EXPECT_TRUE(q.push(3));
  }
}

// Bins by a row's place in the span, past where offset * bins passes 2^32.
TEST(PlotBins, FollowTheRowsPastThe32BitOverflow) {
  const struct {
    size_t rows, bins;
  } spans[] = {{200000, 40000}, {5000000, 900}, {12000000, 40000}};
  for (const auto& s : spans) {
    size_t before = 0;
    for (size_t offset = 0; offset < s.rows; offset += 997) {
      const size_t bin = RunPlot::bin_of(offset, s.bins, s.rows);
      ASSERT_GE(bin, before) << offset;
      ASSERT_LT(bin, s.bins) << offset;
      // Within one bin of the exact share.
      ASSERT_LE(static_cast<double>(bin), static_cast<double>(offset) * s.bins / s.rows) << offset;
      before = bin;
    }
    EXPECT_EQ(RunPlot::bin_of(s.rows - 1, s.bins, s.rows), s.bins - 1);
  }
}

}  // namespace
}  // namespace corvel::sim
