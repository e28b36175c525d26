#include "common/progress.h"

#include <algorithm>
#include <cstdio>

#if defined(_WIN32)
#include <io.h>
#define CORVEL_ISATTY _isatty
#define CORVEL_FILENO _fileno
#else
#include <unistd.h>
#define CORVEL_ISATTY isatty
#define CORVEL_FILENO fileno
#endif

namespace corvel::sim {

ProgressBar::ProgressBar(std::string unit, bool watched)
    : unit_(std::move(unit)), watched_(watched), start_(std::chrono::steady_clock::now()), last_(start_) {}

bool ProgressBar::terminal_watching() { return CORVEL_ISATTY(CORVEL_FILENO(stderr)) != 0; }

void ProgressBar::update(long done, long expected) {
  if (!watched_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < std::chrono::seconds(1) || (shown_ && now - last_ < std::chrono::milliseconds(200) && done < expected)) {
    return;
  }
  last_ = now;
  shown_ = true;
  const int width = 40;
  const double fraction = expected > 0 ? std::min(1.0, static_cast<double>(done) / static_cast<double>(expected)) : 0.0;
  const int filled = static_cast<int>(width * fraction);
  std::fprintf(stderr, "\r[%s%s] %3d%% %ld of %ld %s", std::string(static_cast<size_t>(filled), '#').c_str(),
               std::string(static_cast<size_t>(width - filled), ' ').c_str(), static_cast<int>(100 * fraction), done,
               expected, unit_.c_str());
  std::fflush(stderr);
}

void ProgressBar::finish() {
  if (shown_) std::fprintf(stderr, "\n");
  shown_ = false;
}

}  // namespace corvel::sim
