// A fleet's plan and its records: a result comes back from its text as it
// went, whatever its names hold; a record is current only while its options,
// its input and every output it names are as they were; the plan refuses
// what would make two recordings, or a recording and an output, one file.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "command_line/options.h"
#include "common/errors.h"
#include "fleet/fleet_plan.h"
#include "fleet/fleet_record.h"
#include "support/scratch.h"

namespace corvel::sim {
namespace {

namespace fs = std::filesystem;

class FleetPlan : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::scratch_folder() / ("fleet-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  std::string file(const std::string& name, const std::string& text = "t,u\n0,1\n") const {
    const fs::path path = dir_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  SimOptions options(const std::string& out = "out") const {
    SimOptions o;
    o.out_dir = (dir_ / out).string();
    return o;
  }
  fs::path dir_;
};

FleetResult sample_result(const std::string& name, const std::string& message) {
  FleetResult r;
  r.status = message.empty() ? "done" : "failed";
  r.message = message;
  r.options = "--column " + name + " --gain 30";
  r.input = {"rig/" + name + ".csv", 12345, -4640765582073255989LL};
  r.outputs = {{"out/" + name + ".est.csv", 7, 42}, {"out/" + name + ".plot.svg", 0, 43}};
  r.signals = {{name, 1500, 0.1 + 0.2, 3, 68.80731234567891}, {"second", 2, 5e-324, 0, 0.0}};
  r.seconds = 1.0 / 3.0;
  return r;
}

TEST_F(FleetPlan, AResultComesBackFromItsTextWhateverItsNamesHold) {
  for (const std::string& name : {std::string("plain"), std::string("a\tb"), std::string("two\nlines"),
                                  std::string("back\\slash\\t"), std::string("cr\r"), std::string("\\")}) {
    const FleetResult r = sample_result(name, name == "plain" ? "" : "failed: " + name);
    FleetResult back;
    ASSERT_TRUE(parse_fleet_record(fleet_record_text(r), &back)) << name;
    EXPECT_EQ(back.status, r.status);
    EXPECT_EQ(back.message, r.message);
    EXPECT_EQ(back.options, r.options);
    EXPECT_EQ(back.input, r.input);
    ASSERT_EQ(back.outputs.size(), 2u);
    EXPECT_EQ(back.outputs[0], r.outputs[0]);
    EXPECT_EQ(back.outputs[1], r.outputs[1]);
    ASSERT_EQ(back.signals.size(), 2u) << name;
    for (size_t s = 0; s < 2; ++s) {
      EXPECT_EQ(back.signals[s].column, r.signals[s].column);
      EXPECT_EQ(back.signals[s].rows, r.signals[s].rows);
      EXPECT_EQ(back.signals[s].error_rms, r.signals[s].error_rms);  // the same bits
      EXPECT_EQ(back.signals[s].order, r.signals[s].order);
      EXPECT_EQ(back.signals[s].gain, r.signals[s].gain);
    }
    EXPECT_EQ(back.seconds, r.seconds);
    // One line a field: no name breaks a line or adds a field.
    const std::string text = fleet_record_text(r);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 10) << text;
  }
}

TEST_F(FleetPlan, ATextThatIsNotAWholeRecordIsRefused) {
  const std::string whole = fleet_record_text(sample_result("u", ""));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"empty", ""},
      {"cut before its last field", whole.substr(0, whole.rfind("seconds"))},
      {"another version", "corvel-sim fleet record 1" + whole.substr(whole.find('\n'))},
      {"the old form", "corvel-sim run record\noptions\t\ninput\ta.csv\t1\t2\n"},
      {"an escape it does not make", whole + "message\tbad \\q\n"},
      {"a number with more after it", whole + "signal\tu\t12x\t1\t0\t0\n"},
      {"a field too few", whole + "output\tpath\t3\n"},
      {"an unknown status", whole.substr(0, whole.find("done")) + "maybe" + whole.substr(whole.find("done") + 4)},
      {"a field it does not have", whole + "colour\tblue\n"},
  };
  for (const auto& [what, text] : cases) {
    FleetResult r;
    EXPECT_FALSE(parse_fleet_record(text, &r)) << what;
  }
}

TEST_F(FleetPlan, ARecordIsCurrentOnlyWhileEverythingItNamesIsAsItWas) {
  const std::string input = file("rec.csv");
  const std::string log = file("out/rec.est.csv", "t,u\n");
  const std::string record = (dir_ / "out/rec.run.txt").string();
  FleetResult r;
  r.status = "done";
  r.options = "--gain 30";
  ASSERT_TRUE(identify_file(input, &r.input));
  r.outputs.emplace_back();
  ASSERT_TRUE(identify_file(log, &r.outputs.back()));
  r.seconds = 0.5;
  const auto write_record = [&] { std::ofstream(record, std::ios::binary) << fleet_record_text(r); };
  write_record();
  FleetResult found;
  EXPECT_TRUE(read_current_record(record, "done", input, "--gain 30", &found));
  EXPECT_EQ(found.outputs.size(), 1u);
  EXPECT_FALSE(read_current_record(record, "done", input, "--gain 31", &found)) << "other options";
  EXPECT_FALSE(read_current_record(record, "failed", input, "--gain 30", &found)) << "a run's record as a failure's";
  EXPECT_FALSE(read_current_record(record, "done", file("other.csv"), "--gain 30", &found)) << "another input";

  // An output replaced by something else (another run's, the user's): its time moves on.
  fs::last_write_time(log, fs::last_write_time(log) + std::chrono::seconds(2));
  EXPECT_FALSE(read_current_record(record, "done", input, "--gain 30", &found)) << "an output's time";
  ASSERT_TRUE(identify_file(log, &r.outputs.back()));
  write_record();
  std::ofstream(log, std::ios::binary | std::ios::app) << "1,2\n";
  fs::last_write_time(log, fs::file_time_type(std::chrono::nanoseconds(r.outputs.back().time)));
  EXPECT_FALSE(read_current_record(record, "done", input, "--gain 30", &found)) << "an output's size alone";
  ASSERT_TRUE(identify_file(log, &r.outputs.back()));
  write_record();
  ASSERT_TRUE(read_current_record(record, "done", input, "--gain 30", &found));
  fs::remove(log);
  EXPECT_FALSE(read_current_record(record, "done", input, "--gain 30", &found)) << "an output gone";

  // A tuning without a plot has no outputs: its record is its result.
  r.outputs.clear();
  write_record();
  EXPECT_TRUE(read_current_record(record, "done", input, "--gain 30", &found));
  fs::last_write_time(input, fs::last_write_time(input) + std::chrono::seconds(2));
  EXPECT_FALSE(read_current_record(record, "done", input, "--gain 30", &found)) << "the input touched";
}

TEST_F(FleetPlan, EachMembersPlotIsOfTheKindAskedFor) {
  const std::vector<std::string> inputs = {file("rig/a.csv")};
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", ""}, {"p.svg", ".plot.svg"}, {"p.png", ".plot.png"}, {"p.PDF", ".plot.PDF"}, {"p.html", ".plot.html"},
      {"plot", ".plot.svg"}};
  for (const auto& [plot, suffix] : cases) {
    SimOptions o = options();
    o.plot = plot;
    const std::vector<FleetMember> members = plan_fleet(inputs, o);
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].plot, suffix.empty() ? "" : members[0].base + suffix) << plot;
    EXPECT_EQ(members[0].log, members[0].base + ".est.csv");
  }
  SimOptions o = options();
  o.plot = "p.png";
  o.plot_given = true;
  EXPECT_EQ(plan_fleet(inputs, o, Subcommand::kTune)[0].plot, plan_fleet(inputs, o)[0].base + ".tune.png");
}

TEST_F(FleetPlan, WhatWouldMakeTwoFilesOneIsRefusedBeforeAnythingRuns) {
  const auto refused = [&](const std::vector<std::string>& inputs, const SimOptions& o, Subcommand what,
                           const std::string& words) {
    try {
      plan_fleet(inputs, o, what);
      ADD_FAILURE() << "not refused: " << words;
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
  };
  // Names that differ only in case share their outputs on exFAT or SMB.
  refused({file("rig/Run1.csv"), file("rig/run1.csv")}, options(), Subcommand::kRun, "would both write");
  refused({file("Rig/a.csv"), file("rig/a.csv")}, options(), Subcommand::kRun, "would both write");
  // The fleet's summary over a recording of it.
  SimOptions into_recordings;
  into_recordings.out_dir = (dir_ / "rec").string();
  refused({file("rec/summary.csv"), file("rec/r2.csv")}, into_recordings, Subcommand::kRun,
          "summary.csv (the fleet's summary) would replace a recording");
  // A run fleet and a tune fleet in one folder: one summary.csv between them.
  const std::vector<std::string> one = {file("x.csv")};
  file("shared/summary.csv", fleet_summary_header(true) + "\r\n");
  SimOptions shared = options("shared");
  refused(one, shared, Subcommand::kRun, "holds a tune fleet's summary");
  EXPECT_NO_THROW(plan_fleet(one, shared, Subcommand::kTune));
  file("shared/summary.csv", fleet_summary_header(false) + "\n");
  refused(one, shared, Subcommand::kTune, "holds a run fleet's summary");
  EXPECT_NO_THROW(plan_fleet(one, shared, Subcommand::kRun));
  // Other names are other members.
  EXPECT_EQ(plan_fleet({file("rig/Run1.csv"), file("rig/Run2.csv")}, options()).size(), 2u);
}

TEST_F(FleetPlan, AMembersRecordsFollowItsKind) {
  const std::vector<std::string> inputs = {file("day/r.csv")};
  const FleetMember run = plan_fleet(inputs, options())[0];
  const FleetMember tune = plan_fleet(inputs, options(), Subcommand::kTune)[0];
  EXPECT_EQ(run.record, run.base + ".run.txt");
  EXPECT_EQ(run.failure, run.base + ".failed.txt");
  EXPECT_EQ(tune.record, tune.base + ".tune.txt");
  EXPECT_EQ(tune.failure, tune.base + ".tune-failed.txt");
  EXPECT_EQ(tune.log, "");
  EXPECT_EQ(fs::path(run.base).filename(), "r");
}

TEST_F(FleetPlan, AListNamesOneRecordingALineAfterThoseGivenOnTheCommandLine) {
  const std::string a = file("a.csv"), b = file("b.csv"), c = file("c.csv");
  SimOptions o = options();
  o.inputs = {a};
  o.inputs_from = file("list.txt", "# the rig's runs\r\n" + b + "\r\n   \t\n   # indented note\n\n" + c + "\n");
  EXPECT_EQ(fleet_inputs(o), (std::vector<std::string>{a, b, c}));

  const auto refused = [&](const std::string& list, const std::string& message) {
    SimOptions bad = options();
    bad.inputs = {a};
    bad.inputs_from = file("bad.txt", list);
    try {
      fleet_inputs(bad);
      ADD_FAILURE() << "not refused: " << message;
    } catch (const UsageError& e) {
      EXPECT_EQ(std::string(e.what()), message);
    }
  };
  const std::string where = (dir_ / "bad.txt").string();
  refused("# one\n\n" + b + "\n" + (dir_ / "gone.csv").string() + "\n",
          where + ":4: " + (dir_ / "gone.csv").string() + " does not exist");
  refused(dir_.string() + "\n", where + ":1: " + dir_.string() + " is a folder, not a recording");
  refused(b + "\n" + a + "\n", "the recording " + where + ":2: " + a + " is named twice (first as " + a + ")");
  SimOptions comments_only = options();
  comments_only.inputs_from = file("comments.txt", "# nothing yet\n\n");
  EXPECT_THROW(fleet_inputs(comments_only), UsageError);
}

TEST_F(FleetPlan, EachRecordingHasItsPlaceUnderTheOutputFolder) {
  const std::string in_dir = file("day/r.csv");
  const fs::path cwd = fs::current_path();
  fs::current_path(dir_ / "day");
  const std::vector<FleetMember> members = plan_fleet({"./r.csv", "../day/r.csv", in_dir}, options());
  fs::current_path(cwd);
  ASSERT_EQ(members.size(), 3u);
  const fs::path out = dir_ / "out";
  EXPECT_EQ(members[0].base, (out / "r").string());
  EXPECT_EQ(members[1].base, (out / "_up" / "day" / "r").string());
  EXPECT_EQ(members[2].base, (out / fs::path(in_dir).relative_path().parent_path() / "r").string());
}

TEST_F(FleetPlan, OnlyTheOptionsThatDecideARunsResultMakeItsRecordOutOfDate) {
  const auto line = [](const std::vector<std::string>& args) { return fleet_options_line(parse_options(args)); };
  const std::string base = line({"a.csv", "b.csv", "--out-dir", "o", "--gain", "30"});
  EXPECT_EQ(base, "--gain 30");
  for (const std::vector<std::string>& same :
       {std::vector<std::string>{"a.csv", "b.csv", "--out-dir", "elsewhere", "--gain", "30", "--jobs", "3"},
        std::vector<std::string>{"a.csv", "b.csv", "--out-dir", "o", "--gain", "30", "--force"},
        std::vector<std::string>{"a.csv", "b.csv", "--out-dir", "o", "--gain", "30", "--shard", "1/3"},
        std::vector<std::string>{"a.csv", "b.csv", "--out-dir", "o", "--gain", "30", "--summary-only"}}) {
    EXPECT_EQ(line(same), base) << same.back();
  }
  EXPECT_NE(line({"a.csv", "b.csv", "--out-dir", "o", "--gain", "31"}), base);
  EXPECT_NE(line({"a.csv", "b.csv", "--out-dir", "o", "--gain", "30", "--order", "3"}), base);
  EXPECT_NE(line({"a.csv", "b.csv", "--out-dir", "o", "--gain", "30", "--column", "u"}), base);
}

}  // namespace
}  // namespace corvel::sim
