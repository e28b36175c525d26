#include "output/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "common/errors.h"
#include "common/interrupt.h"

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#define CORVEL_GETPID _getpid
#define CORVEL_OPEN _open
#define CORVEL_CLOSE _close
#define CORVEL_FDOPEN _fdopen
#define CORVEL_OPEN_FLAGS (_O_BINARY | _O_NOINHERIT)
#else
#include <pthread.h>
#include <unistd.h>

#include <csignal>
#define CORVEL_GETPID getpid
#define CORVEL_OPEN ::open
#define CORVEL_CLOSE ::close
#define CORVEL_FDOPEN ::fdopen
#define CORVEL_OPEN_FLAGS O_CLOEXEC
#endif

namespace corvel::sim {

namespace fs = std::filesystem;

namespace {

// The file a name leads to: each symbolic link replaced by its target (read
// relative to the link's folder), to any depth a system allows.
fs::path follow_links(const fs::path& given, const std::string& what) {
  fs::path p = given;
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(p, error))) return p;
    const fs::path next = fs::read_symlink(p, error);
    if (error) return p;
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  throw OutputError("cannot write the " + what + " to " + given.string() + ": too many levels of symbolic links");
}

// The descriptor of this process's own that a name hands out (/dev/stdout,
// /dev/stderr, /dev/fd/N, /proc/self/fd/N), or -1. Such an output is written
// through a duplicate of that descriptor: at its own position and with its own
// flags (a shell's >> stays an append), whatever file it leads to, which
// belongs to whoever redirected the stream there.
int callers_descriptor(const std::string& path) {
#if defined(_WIN32)
  (void)path;
  return -1;
#else
  if (path == "/dev/stdout") return 1;
  if (path == "/dev/stderr") return 2;
  for (const std::string prefix : {"/dev/fd/", "/proc/self/fd/"}) {
    if (path.rfind(prefix, 0) != 0 || path.size() == prefix.size() || path.size() > prefix.size() + 6) continue;
    if (path.find_first_not_of("0123456789", prefix.size()) != std::string::npos) continue;
    return std::atoi(path.c_str() + prefix.size());
  }
  return -1;
#endif
}

std::string reason() { return std::strerror(errno); }

}  // namespace

bool is_stream_output(const std::string& path) {
  if (callers_descriptor(path) >= 0) return true;
  // What a name is, is what it leads to (a file under /dev/shm is a file).
  std::error_code error;
  const fs::file_status status = fs::status(path, error);  // links followed
  return fs::exists(status) && !fs::is_regular_file(status) && !fs::is_directory(status);
}

bool is_standard_output(const std::string& path) { return callers_descriptor(path) == 1; }

OutputFile::OutputFile(std::string path, std::string what) : path_(std::move(path)), what_(std::move(what)) {
  const std::string cannot = "cannot write the " + what_ + " to " + path_ + ": ";
  std::error_code error;
  if (fs::is_directory(fs::status(path_, error))) throw OutputError(cannot + "it is a folder");
  if (is_stream_output(path_)) {
    // A device, a FIFO or a stream: in place, never created or truncated here;
    // one of this process's own descriptors through a duplicate of it.
    const int own = callers_descriptor(path_);
#if defined(_WIN32)
    (void)own;
    const int fd = CORVEL_OPEN(path_.c_str(), O_WRONLY | CORVEL_OPEN_FLAGS);
#else
    const int fd = own >= 0 ? fcntl(own, F_DUPFD_CLOEXEC, 3) : CORVEL_OPEN(path_.c_str(), O_WRONLY | CORVEL_OPEN_FLAGS);
#endif
    if (fd < 0 || (stream_ = CORVEL_FDOPEN(fd, "wb")) == nullptr) {
      const std::string why = reason();
      if (fd >= 0) CORVEL_CLOSE(fd);
      throw OutputError(cannot + why);
    }
    return;
  }
  const fs::path target = follow_links(path_, what_);
  target_ = target.string();
  // Beside the target, so that the rename stays within one file system; made
  // exclusively, so that nothing already there (a file, a planted link) is
  // opened or followed.
  // A name near the file system's limit (255 bytes) keeps its head, so that
  // the temporary's name still fits.
  std::string name = target.filename().string();
  if (name.size() > 200) name = name.substr(0, 200);
  const std::string stem = (target.parent_path() / ("." + name + ".part-")).string() + std::to_string(CORVEL_GETPID());
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temporary_ = attempt == 0 ? stem : stem + "-" + std::to_string(attempt);
    fd = CORVEL_OPEN(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | CORVEL_OPEN_FLAGS, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const std::string why = reason();
    temporary_.clear();
    throw OutputError(cannot + why);
  }
#if !defined(_WIN32)
  // A file that is replaced keeps its permissions.
  struct stat existing {};
  if (::stat(target_.c_str(), &existing) == 0) (void)!::fchmod(fd, existing.st_mode & 07777);
#endif
  slot_ = register_unfinished(temporary_);
  stream_ = CORVEL_FDOPEN(fd, "wb");  // the same bytes on every platform
  if (stream_ == nullptr) {
    const std::string why = reason();
    CORVEL_CLOSE(fd);
    std::remove(temporary_.c_str());
    release_unfinished(slot_);
    temporary_.clear();
    throw OutputError(cannot + why);
  }
}

OutputFile::~OutputFile() {
  if (stream_ != nullptr) std::fclose(stream_);
  if (!placed_ && !temporary_.empty()) std::remove(temporary_.c_str());
  release_unfinished(slot_);
}

const std::string& OutputFile::path_for_library() {
  if (is_stream()) throw OutputError(not_a_regular_file(what_, path_));
  return temporary_;
}

std::string not_a_regular_file(const std::string& what, const std::string& path) {
  return "cannot write the " + what + " to " + path + ": it must be a regular file, not a device or a pipe";
}

std::string OutputFile::write_failure() const { return "writing the " + what_ + " to " + path_ + " failed: " + reason(); }

void OutputFile::write(const void* data, size_t size) {
  if (size > 0 && std::fwrite(data, 1, size, stream_) != size) throw OutputError(write_failure());
}

void OutputFile::finish() {
  if (stream_ == nullptr) return;
  const bool failed = std::fflush(stream_) != 0 || std::ferror(stream_) != 0;
  const int saved = errno;
  const int closed = std::fclose(stream_);
  stream_ = nullptr;
  if (failed) errno = saved;
  if (failed || closed != 0) throw OutputError(write_failure());
}

OutputFile& OutputSet::open(const std::string& path, const std::string& what) {
  files_.push_back(std::make_unique<OutputFile>(path, what));
  return *files_.back();
}

size_t remove_temporaries_of(const std::string& folder, const std::string& prefix, long pid) {
  // The names OutputFile makes: "." NAME ".part-" PID, or with "-" ATTEMPT after it.
  const std::string head = "." + prefix;
  const std::string mark = ".part-" + std::to_string(pid);
  size_t removed = 0;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    const size_t at = name.rfind(mark);
    if (name.compare(0, head.size(), head) != 0 || at == std::string::npos || at < head.size()) continue;
    const std::string rest = name.substr(at + mark.size());
    if (!rest.empty() && (rest[0] != '-' || rest.find_first_not_of("0123456789", 1) != std::string::npos)) continue;
    std::error_code ignored;
    if (it->is_regular_file(ignored) && fs::remove(it->path(), ignored)) ++removed;
  }
  return removed;
}

void OutputSet::commit(const CommitCheck& before_placing) {
  for (const auto& file : files_) file->finish();
  if (before_placing) before_placing();
#if !defined(_WIN32)
  // The renames are one step: an interrupt waits until they are done.
  sigset_t blocked, before;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGINT);
  sigaddset(&blocked, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &blocked, &before);
#endif
  struct Placed {
    OutputFile* file;
    std::string kept;  // the file it replaced, under a second name; empty for a new one
  };
  std::vector<Placed> placed;
  std::string failure;
  for (const auto& file : files_) {
    if (file->is_stream()) continue;
    Placed p{file.get(), {}};
    // The file about to be replaced is kept under a second name, put back
    // should a later rename fail: a hard link, or where the file system has
    // none (FAT, exFAT, some network shares) the file itself, renamed aside.
    // It is never replaced unless it is kept.
    const std::string kept = file->temporary_ + ".kept";
    std::error_code missing;
    const fs::file_status earlier = fs::symlink_status(file->target_, missing);
    // A folder in the way is no earlier output: the rename fails on it.
    const bool existed = fs::exists(earlier) && !fs::is_directory(earlier);
    bool aside = false;
    if (existed) {
      std::error_code no_link;
      fs::create_hard_link(file->target_, kept, no_link);
      if (no_link) {
        std::error_code not_aside;
        fs::rename(file->target_, kept, not_aside);
        if (not_aside) {
          failure = "cannot keep the earlier " + file->what_ + " at " + file->path_ + " until the outputs are in place (" +
                    no_link.message() + ", and renaming it aside: " + not_aside.message() + "); it was left as it was";
          break;
        }
        aside = true;
      }
      p.kept = kept;
    }
    std::error_code error;
    fs::rename(file->temporary_, file->target_, error);
    if (error) {
      failure = "cannot put the " + file->what_ + " in place at " + file->path_ + ": " + error.message();
      std::error_code ignored;
      if (aside) {
        fs::rename(kept, file->target_, ignored);  // back where it was
      } else if (!p.kept.empty()) {
        fs::remove(kept, ignored);
      }
      break;
    }
    file->placed_ = true;
    release_unfinished(file->slot_);  // complete: an interrupt leaves it
    file->slot_ = -1;
    placed.push_back(std::move(p));
  }
  for (Placed& p : placed) {
    if (failure.empty()) {
      if (!p.kept.empty()) std::remove(p.kept.c_str());
      continue;
    }
    std::error_code ignored;  // the first failure is the one to report
    if (!p.kept.empty()) {
      fs::rename(p.kept, p.file->target_, ignored);
    } else {
      fs::remove(p.file->target_, ignored);
    }
  }
#if !defined(_WIN32)
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
#endif
  if (!failure.empty()) throw OutputError(failure);
}

namespace {

struct Identity {
  fs::path resolved;  // links followed, made absolute
  bool exists = false;
  bool character_device = false;
};

Identity identity_of(const std::string& path) {
  Identity id;
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  id.exists = fs::exists(status);
  id.character_device = fs::is_character_file(status);
  fs::path p;
  try {
    p = follow_links(path, "file");
  } catch (const OutputError&) {
    p = path;
  }
  id.resolved = fs::weakly_canonical(fs::absolute(p, error), error);
  if (id.resolved.empty()) id.resolved = fs::absolute(p, error).lexically_normal();
  return id;
}

bool same_file(const std::string& a, const Identity& ia, const std::string& b, const Identity& ib) {
  if (ia.character_device && ib.character_device) return false;
  if (ia.exists && ib.exists) {
    std::error_code error;
    return fs::equivalent(a, b, error);  // device and inode, links followed
  }
  return !ia.exists && !ib.exists && ia.resolved == ib.resolved;
}

}  // namespace

void refuse_shared_files(const std::vector<NamedPath>& inputs, const std::vector<NamedPath>& outputs) {
  std::vector<Identity> output_ids;
  for (const NamedPath& o : outputs) output_ids.push_back(identity_of(o.path));
  for (const NamedPath& in : inputs) {
    const Identity id = identity_of(in.path);
    for (size_t i = 0; i < outputs.size(); ++i) {
      if (same_file(in.path, id, outputs[i].path, output_ids[i])) {
        throw UsageError(outputs[i].option + " " + outputs[i].path + " is the input " + in.path + " (" + in.option +
                         "): corvel-sim never writes over its input");
      }
    }
  }
  for (size_t i = 0; i < outputs.size(); ++i) {
    for (size_t j = i + 1; j < outputs.size(); ++j) {
      if (same_file(outputs[i].path, output_ids[i], outputs[j].path, output_ids[j])) {
        throw UsageError(outputs[i].option + " " + outputs[i].path + " and " + outputs[j].option + " " +
                         outputs[j].path + " are one file: give each output a name of its own");
      }
    }
  }
}

}  // namespace corvel::sim
