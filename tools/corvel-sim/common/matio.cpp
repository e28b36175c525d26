#include "common/matio.h"

namespace corvel::sim {

std::string mat_files_unsupported(const std::string& path) {
  return path + ": MAT-files need the Linux build of corvel-sim; this build reads and writes CSV only";
}

#if defined(CORVEL_HAVE_MATIO)

bool mat_files_supported() { return true; }

namespace {
void quiet(int, char*) {}
}  // namespace

void silence_matio() {
  static const bool silenced = (Mat_LogInitFunc("corvel-sim", quiet), true);
  (void)silenced;
}

#else

bool mat_files_supported() { return false; }

#endif

}  // namespace corvel::sim
