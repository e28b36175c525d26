// A MEX file loaded the way the host loads one: the shared library opened and
// its mexFunction looked up.
#ifndef CORVEL_HOST_MEX_MODULE_H
#define CORVEL_HOST_MEX_MODULE_H

#include <stdexcept>
#include <string>
#include <utility>

#include "host/array_api.h"

namespace corvel::host {

// Everything our engine cannot go on with: a MEX file that will not load, a
// block that reports an error, a model it cannot run. The text says what and
// where.
class EngineError : public std::runtime_error {
 public:
  explicit EngineError(const std::string& what, std::string block_text = "")
      : std::runtime_error(what), block_text_(std::move(block_text)) {}
  // The block's own message when the block reported the error, else empty.
  const std::string& block_text() const { return block_text_; }

 private:
  std::string block_text_;
};

class MexModule {
 public:
  // Throws EngineError naming the file when it cannot be loaded or has no
  // mexFunction.
  explicit MexModule(const std::string& path);
  ~MexModule();
  MexModule(const MexModule&) = delete;
  MexModule& operator=(const MexModule&) = delete;

  MexFunction entry() const { return entry_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  void* handle_ = nullptr;
  MexFunction entry_ = nullptr;
};

// The directory of the running executable (for finding a MEX file beside it).
std::string executable_directory();

}  // namespace corvel::host

#endif
