// A MEX file loaded the way the host loads one: the shared library opened and
// its mexFunction looked up.
#ifndef CORVEL_HOST_MEX_MODULE_H
#define CORVEL_HOST_MEX_MODULE_H

#include <stdexcept>
#include <string>

#include "host/array_api.h"

namespace corvel::host {

// Everything our engine cannot go on with: a MEX file that will not load, a
// block that reports an error, a model it cannot run. The text says what and
// where.
class EngineError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
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
