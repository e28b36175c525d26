// A progress bar on standard error, shown only to someone watching a
// terminal and only once a run has taken about a second.
#ifndef CORVEL_SIM_PROGRESS_H
#define CORVEL_SIM_PROGRESS_H

#include <chrono>
#include <string>

namespace corvel::sim {

class ProgressBar {
 public:
  // `unit` names what is counted ("samples", "runs").
  ProgressBar(std::string unit, bool watched);
  static bool terminal_watching();
  void update(long done, long expected);
  // Ends the bar's line, when one was drawn.
  void finish();

 private:
  std::string unit_;
  bool watched_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace corvel::sim

#endif
