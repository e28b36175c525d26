#include "output/output_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "input/csv_input.h"
#include "common/interrupt.h"

#if defined(_WIN32)
#include <process.h>
#define CORVEL_GETPID _getpid
#else
#include <unistd.h>
#define CORVEL_GETPID getpid
#endif

namespace corvel::sim {

namespace {

std::string failure(const std::string& what, const std::string& path) {
  return "writing the " + what + " to " + path + " failed: " + std::strerror(errno);
}

}  // namespace

OutputFile::OutputFile(std::string path, std::string what, bool open_stream)
    : path_(std::move(path)), what_(std::move(what)) {
  const std::filesystem::path target(path_);
  // Beside the target, so that the rename stays within one file system.
  temporary_ = (target.parent_path() / ("." + target.filename().string() + ".part-" + std::to_string(CORVEL_GETPID())))
                   .string();
  slot_ = register_unfinished(temporary_);
  if (open_stream) {
    stream_ = std::fopen(temporary_.c_str(), "wb");  // the same bytes on every platform
    if (stream_ == nullptr) {
      release_unfinished(slot_);
      throw InputError("cannot write the " + what_ + " to " + path_ + ": " + std::strerror(errno));
    }
  }
}

OutputFile::~OutputFile() {
  if (!committed_) {
    if (stream_ != nullptr) std::fclose(stream_);
    std::remove(temporary_.c_str());
  }
  release_unfinished(slot_);
}

void OutputFile::commit() {
  if (stream_ != nullptr) {
    const bool failed = std::fflush(stream_) != 0 || std::ferror(stream_) != 0;
    const int closed = std::fclose(stream_);
    stream_ = nullptr;
    if (failed || closed != 0) throw InputError(failure(what_, path_));
  }
  std::error_code error;
  std::filesystem::rename(temporary_, path_, error);
  if (error) throw InputError("cannot put the " + what_ + " in place at " + path_ + ": " + error.message());
  committed_ = true;
}

}  // namespace corvel::sim
