// The output layer's promises, file by file: a replaced file changes only
// when every output is complete, a link stays a link, a device is written in
// place, nothing already at a temporary's name is touched, and a rename that
// fails gives the user's earlier files back.
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <process.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/errors.h"
#include "output/output_file.h"
#include "support/scratch.h"

namespace corvel::sim {
namespace {

namespace fs = std::filesystem;

#if defined(_WIN32)
int process_id() { return _getpid(); }
#else
int process_id() { return static_cast<int>(::getpid()); }
#endif

class Outputs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = test::scratch_folder() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string at(const std::string& name) const { return (dir_ / name).string(); }
  static std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void write(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
  size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }
  fs::path dir_;
};

TEST_F(Outputs, ReplaceTogetherAtTheEndAndKeepTheirPermissions) {
  write(at("log.csv"), "old log");
#if !defined(_WIN32)
  ::chmod(at("log.csv").c_str(), 0640);
#endif
  {
    OutputSet set;
    OutputFile& log = set.open(at("log.csv"), "log");
    OutputFile& plot = set.open(at("plot.svg"), "plot");
    log.write("new log", 7);
    plot.write("<svg/>", 6);
    EXPECT_EQ(read(at("log.csv")), "old log");  // nothing in place before the commit
    EXPECT_FALSE(fs::exists(at("plot.svg")));
    set.commit();
  }
  EXPECT_EQ(read(at("log.csv")), "new log");
  EXPECT_EQ(read(at("plot.svg")), "<svg/>");
#if !defined(_WIN32)
  struct stat st {};
  ASSERT_EQ(::stat(at("log.csv").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
#endif
  EXPECT_EQ(entries(), 2u);  // no temporary, no kept copy left
}

TEST_F(Outputs, AnAbandonedSetLeavesNothingAndTheEarlierFilesAsTheyWere) {
  write(at("log.csv"), "old log");
  {
    OutputSet set;
    set.open(at("log.csv"), "log").write("half", 4);
    set.open(at("plot.svg"), "plot");
  }
  EXPECT_EQ(read(at("log.csv")), "old log");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(Outputs, ARenameThatFailsGivesTheReplacedFilesBack) {
  write(at("log.csv"), "old log");
  OutputSet set;
  set.open(at("log.csv"), "log").write("new log", 7);
  set.open(at("made.csv"), "other").write("x", 1);
  set.open(at("plot.svg"), "plot").write("<svg/>", 6);
  // Between the run and its end, a folder takes the plot's name: its rename
  // fails, after the log's and the other output's.
  fs::create_directories(at("plot.svg/inside"));
  try {
    set.commit();
    FAIL() << "the rename over a folder succeeded";
  } catch (const OutputError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("cannot put the plot in place at " + at("plot.svg") + ": ", 0), 0u) << e.what();
  }
  EXPECT_EQ(read(at("log.csv")), "old log");
  EXPECT_FALSE(fs::exists(at("made.csv")));
  EXPECT_TRUE(fs::is_directory(at("plot.svg/inside")));
}

#if !defined(_WIN32)
// Links, FIFOs, planted names and permissions: POSIX file systems.

// Where no hard link can be made (FAT, exFAT, some network shares: here, its
// name is taken), a replaced file is kept by renaming it aside, and put back
// when a later output cannot be put in place; where it cannot be kept at all,
// it is not replaced.
TEST_F(Outputs, WithoutHardLinksTheReplacedFileIsKeptAsideAndPutBack) {
  const std::string kept = at(".log.csv.part-" + std::to_string(process_id()) + ".kept");
  for (const bool can_rename_aside : {true, false}) {
    SCOPED_TRACE(can_rename_aside ? "renamed aside" : "cannot be kept");
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    write(at("log.csv"), "old log");
    if (can_rename_aside) {
      write(kept, "");  // the link's name is taken: no link
    } else {
      fs::create_directories(kept + "/inside");  // nor can the file be renamed to it
    }
    OutputSet set;
    set.open(at("log.csv"), "log").write("new log", 7);
    set.open(at("plot.svg"), "plot").write("<svg/>", 6);
    fs::create_directories(at("plot.svg/inside"));  // the plot's rename fails
    try {
      set.commit();
      FAIL() << "the outputs were put in place";
    } catch (const OutputError& e) {
      const std::string expected = can_rename_aside ? "cannot put the plot in place" : "cannot keep the earlier log at " + at("log.csv");
      EXPECT_EQ(std::string(e.what()).rfind(expected, 0), 0u) << e.what();
    }
    EXPECT_EQ(read(at("log.csv")), "old log");
  }
}

TEST_F(Outputs, ALinkStaysALinkAndItsTargetIsReplaced) {
  fs::create_directories(at("data"));
  write(at("data/real.csv"), "old");
  fs::create_symlink("data/real.csv", at("link.csv"));
  fs::create_symlink("data/new.csv", at("dangling.csv"));
  OutputSet set;
  set.open(at("link.csv"), "log").write("new", 3);
  set.open(at("dangling.csv"), "plot").write("made", 4);
  set.commit();
  EXPECT_TRUE(fs::is_symlink(at("link.csv")));
  EXPECT_EQ(read(at("data/real.csv")), "new");
  EXPECT_TRUE(fs::is_symlink(at("dangling.csv")));
  EXPECT_EQ(read(at("data/new.csv")), "made");
}

TEST_F(Outputs, AFifoIsWrittenInPlaceAndStaysAFifo) {
  ASSERT_EQ(::mkfifo(at("pipe").c_str(), 0600), 0);
  const int reader = ::open(at("pipe").c_str(), O_RDONLY | O_NONBLOCK);  // so that the writer's open returns
  ASSERT_GE(reader, 0);
  {
    OutputSet set;
    OutputFile& out = set.open(at("pipe"), "log");
    EXPECT_TRUE(out.is_stream());
    EXPECT_THROW(out.path_for_library(), OutputError);  // no MAT-file into a pipe
    out.write("rows\n", 5);
    set.commit();
  }
  char got[16] = {};
  EXPECT_EQ(::read(reader, got, sizeof got), 5);
  ::close(reader);
  EXPECT_EQ(std::string(got), "rows\n");
  EXPECT_TRUE(fs::is_fifo(at("pipe")));
}

TEST_F(Outputs, WhatIsAlreadyAtATemporarysNameIsNeitherOpenedNorFollowed) {
  write(at("victim.txt"), "keep me");
  const std::string first_choice = at(".log.csv.part-" + std::to_string(process_id()));
  fs::create_symlink(at("victim.txt"), first_choice);
  write(first_choice + "-1", "someone's");
  {
    OutputSet set;
    set.open(at("log.csv"), "log").write("new", 3);
    set.commit();
  }
  EXPECT_EQ(read(at("log.csv")), "new");
  EXPECT_EQ(read(at("victim.txt")), "keep me");
  EXPECT_TRUE(fs::is_symlink(first_choice));
  EXPECT_EQ(read(first_choice + "-1"), "someone's");
}

TEST_F(Outputs, AFolderThatCannotTakeTheOutputIsSaidBeforeAnythingIsWritten) {
  const struct {
    std::string path;
    std::string message_end;
  } cases[] = {
      {at("missing/log.csv"), ": No such file or directory"},
      {dir_.string(), ": it is a folder"},
  };
  for (const auto& c : cases) {
    OutputSet set;
    try {
      set.open(c.path, "log");
      ADD_FAILURE() << c.path;
    } catch (const OutputError& e) {
      const std::string text = e.what();
      EXPECT_EQ(text, "cannot write the log to " + c.path + c.message_end);
    }
  }
}

// The same file named twice, in every way a path can name it.
TEST_F(Outputs, AnOutputThatIsTheInputOrAnotherOutputIsRefused) {
  write(at("data.csv"), "recording");
  fs::create_hard_link(at("data.csv"), at("hard.csv"));
  fs::create_symlink("data.csv", at("soft.csv"));
  fs::create_symlink("later.csv", at("to-later.csv"));
  fs::create_directories(at("sub"));
  const struct {
    std::vector<NamedPath> outputs;
    const char* message;  // empty: accepted
  } cases[] = {
      {{{"--out", at("data.csv")}}, "is the input"},
      {{{"--out", at("sub/../data.csv")}}, "is the input"},
      {{{"--out", at("hard.csv")}}, "is the input"},
      {{{"--plot", at("soft.csv")}}, "is the input"},
      {{{"--out", at("x.csv")}, {"--plot", at("sub/../x.csv")}}, "are one file"},
      {{{"--out", at("later.csv")}, {"--trace", at("to-later.csv")}}, "are one file"},
      {{{"--out", "/dev/null"}, {"--plot", "/dev/null"}}, ""},
      {{{"--out", at("x.csv")}, {"--plot", at("x.svg")}}, ""},
  };
  for (const auto& c : cases) {
    try {
      refuse_shared_files({{"--input", at("data.csv")}}, c.outputs);
      EXPECT_STREQ(c.message, "") << c.outputs.front().path;
    } catch (const UsageError& e) {
      EXPECT_NE(std::string(c.message), "") << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(read(at("data.csv")), "recording");
}

#endif

TEST_F(Outputs, ADeadWorkersTemporariesAreRemovedAndNothingElse) {
  const std::vector<std::pair<std::string, bool>> names = {
      {".run1.est.csv.part-4321", true},     {".run1.plot.svg.part-4321-2", true}, {".run1..part-4321", true},
      {".run1.est.csv.part-43210", false},   {".run1.est.csv.part-4321x", false},  {".run1.est.csv.part-432", false},
      {".run10.est.csv.part-4321", false},   // another recording's, whose name starts the same
      {"run1.est.csv.part-4321", false},     {".run2.est.csv.part-4321", false},   {".run1.part-4321", false},
      {".run1.est.csv", false},              {"run1.est.csv", false}};
  for (const auto& [name, gone] : names) std::ofstream(dir_ / name) << "x";
  fs::create_directory(dir_ / ".run1.folder.part-4321");
  const auto expected = static_cast<size_t>(std::count_if(names.begin(), names.end(), [](const auto& n) { return n.second; }));
  EXPECT_EQ(remove_temporaries_of(dir_.string(), "run1.", 4321), expected);
  for (const auto& [name, gone] : names) EXPECT_EQ(fs::exists(dir_ / name), !gone) << name;
  EXPECT_TRUE(fs::is_directory(dir_ / ".run1.folder.part-4321")) << "a folder is not a temporary";
}

}  // namespace
}  // namespace corvel::sim
