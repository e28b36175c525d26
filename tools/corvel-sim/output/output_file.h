// An output written the way a careful tool writes one, so that a user's file
// is never lost or half-written:
// - a regular file (or a name that does not exist yet) is written to a
//   temporary created exclusively beside the file the name leads to
//   (symbolic links followed, so a link stays a link) and renamed over it
//   only when every output of the run is complete;
// - anything else (a device such as /dev/null or /dev/stdout, a FIFO) is
//   written in place as a stream and never replaced.
#ifndef CORVEL_SIM_OUTPUT_FILE_H
#define CORVEL_SIM_OUTPUT_FILE_H

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace corvel::sim {

class OutputFile {
 public:
  // `what` names the output in messages ("log", "plot"). Throws OutputError
  // when the output cannot be written there (a missing or read-only folder,
  // a folder named as the output).
  OutputFile(std::string path, std::string what);
  ~OutputFile();  // removes the temporary unless it was put in place
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::FILE* stream() { return stream_; }
  // Where a library that opens files by name writes (the temporary); only
  // for regular files. Throws OutputError naming the output otherwise.
  const std::string& path_for_library();
  const std::string& path() const { return path_; }
  const std::string& what() const { return what_; }
  bool is_stream() const { return temporary_.empty(); }

  // Throws OutputError naming the output and the reason.
  void write(const void* data, size_t size);
  // The reason a write to this output failed, from errno.
  std::string write_failure() const;
  // Flushes and closes; throws OutputError when anything written failed (a
  // full disk). Nothing is put in place yet.
  void finish();

 private:
  friend class OutputSet;
  std::string path_, what_;
  std::string target_;     // the file the name leads to, links followed
  std::string temporary_;  // empty for a stream written in place
  std::FILE* stream_ = nullptr;
  bool placed_ = false;
  int slot_ = -1;  // removed by an interrupt until placed
};

// What a run's caller confirms once every output is complete and before any
// is put in place (that its input has not changed, say); what it throws
// fails the run, leaving none of its outputs and the earlier files as they were.
using CommitCheck = std::function<void()>;

// The outputs of one run: all of them are opened before it starts, and put
// in place together at its end, or none of them.
class OutputSet {
 public:
  OutputSet() = default;
  ~OutputSet() = default;
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  OutputFile& open(const std::string& path, const std::string& what);
  // Finishes every output (the first failure is thrown and nothing is put
  // in place), then renames each temporary over its target. Should one
  // rename fail, the targets already replaced get their earlier files back
  // and the new ones are removed: the user's files are as they were.
  // `before_placing` runs between the two steps.
  void commit(const CommitCheck& before_placing = {});

 private:
  std::vector<std::unique_ptr<OutputFile>> files_;
};

// Removes what the process `pid` left of its temporaries in `folder`, for
// outputs whose names start with `prefix`: the parent of a worker process
// that was killed before it could remove them itself. Returns how many.
size_t remove_temporaries_of(const std::string& folder, const std::string& prefix, long pid);

// Whether an output at `path` would be written in place as a stream (a
// device, a FIFO, or one of this process's own descriptors by its name:
// /dev/stdout, /dev/fd/N) rather than as a file. A regular file is a file
// wherever it is (/dev/shm included).
bool is_stream_output(const std::string& path);
// Whether `path` names this process's standard output: then whatever the
// program says goes to standard error instead.
bool is_standard_output(const std::string& path);
// The message for an output that must be a file and is not.
std::string not_a_regular_file(const std::string& what, const std::string& path);

// One file the command line names, with the option that names it.
struct NamedPath {
  std::string option;  // "--input", "--out", "--plot", "--trace"
  std::string path;
};

// Refuses (UsageError, naming both options) two paths that lead to the same
// file: an output that is the input, or two outputs that are one file. The
// same file: the same device and inode where it exists (links followed), the
// same resolved path where it does not yet. Character devices (/dev/null)
// may be named twice.
void refuse_shared_files(const std::vector<NamedPath>& input, const std::vector<NamedPath>& outputs);

}  // namespace corvel::sim

#endif
