// A fleet's progress as a person reads it: the counts, the pace and the time
// left in one line; rewritten in place on a terminal, plain lines elsewhere,
// nothing when quiet.
#include "fleet/fleet_progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace corvel::sim {
namespace {

TEST(FleetProgress, SaysHowFarAndHowFast) {
  struct Case {
    size_t total;
    int ended, failed;
    double samples, seconds;
    const char* line;
  } cases[] = {
      {4, 0, 0, 0, 0.5, "corvel-sim: 0/4 recordings, 0 failed"},
      {4, 1, 0, 1000, 2.0, "corvel-sim: 1/4 recordings, 0 failed, 500 samples/s, 6.0 s left"},
      {40, 10, 2, 3.6e7, 20.0, "corvel-sim: 10/40 recordings, 2 failed, 1.8e+06 samples/s, 1 min 00 s left"},
      {3, 3, 3, 0, 65.0, "corvel-sim: 3/3 recordings, 3 failed, in 1 min 05 s"},
      {1000, 1, 0, 3.6e6, 30.0, "corvel-sim: 1/1000 recordings, 0 failed, 1.2e+05 samples/s, 8 h 19 min left"},
      // Where one unit gives way to the next: 9.9 s, 10 s; 59 s, 1 min; 59 min 59 s, 1 h.
      {2, 1, 0, 0, 9.9, "corvel-sim: 1/2 recordings, 0 failed, 9.9 s left"},
      {2, 1, 0, 0, 10.0, "corvel-sim: 1/2 recordings, 0 failed, 10 s left"},
      {2, 1, 0, 0, 59.0, "corvel-sim: 1/2 recordings, 0 failed, 59 s left"},
      {2, 1, 0, 0, 60.0, "corvel-sim: 1/2 recordings, 0 failed, 1 min 00 s left"},
      {2, 1, 0, 0, 3599.0, "corvel-sim: 1/2 recordings, 0 failed, 59 min 59 s left"},
      {2, 1, 0, 0, 3600.0, "corvel-sim: 1/2 recordings, 0 failed, 1 h 00 min left"},
  };
  for (const Case& c : cases) {
    FleetProgress progress(c.total, FleetProgress::Shown::kNot);
    for (int k = 0; k < c.ended; ++k) progress.recording_ended(k < c.failed, c.samples / c.ended);
    EXPECT_EQ(progress.line(c.seconds), c.line);
  }
}

// What each way of showing writes for a fleet of three, the first failing.
std::string shown(FleetProgress::Shown how) {
  std::FILE* stream = std::tmpfile();
  {
    FleetProgress progress(3, how, stream);
    progress.recording_ended(true, 0);
    progress.tick();
    progress.recording_ended(false, 10);
    progress.recording_ended(false, 10);
    progress.finish();
  }
  std::rewind(stream);
  std::string text;
  for (int c; (c = std::fgetc(stream)) != EOF;) text += static_cast<char>(c);
  std::fclose(stream);
  return text;
}

TEST(FleetProgress, InPlaceOnATerminalInLinesElsewhereNothingWhenQuiet) {
  const std::string in_place = shown(FleetProgress::Shown::kInPlace);
  EXPECT_EQ(in_place.rfind("\rcorvel-sim: 1/3 recordings, 1 failed", 0), 0u) << in_place;
  EXPECT_NE(in_place.find("\rcorvel-sim: 2/3 recordings, 1 failed"), std::string::npos) << in_place;
  EXPECT_NE(in_place.find("\rcorvel-sim: 3/3 recordings, 1 failed"), std::string::npos) << in_place;
  EXPECT_EQ(in_place.back(), '\n');
  EXPECT_EQ(in_place.find('\n'), in_place.size() - 1) << in_place;  // one line end, at the end

  // Lines: none before ten seconds have passed, then the last.
  const std::string lines = shown(FleetProgress::Shown::kLines);
  EXPECT_EQ(lines.rfind("corvel-sim: 3/3 recordings, 1 failed, ", 0), 0u) << lines;
  EXPECT_EQ(lines.find('\r'), std::string::npos) << lines;
  EXPECT_EQ(lines.find('\n'), lines.size() - 1) << lines;

  EXPECT_EQ(shown(FleetProgress::Shown::kNot), "");
}

}  // namespace
}  // namespace corvel::sim
