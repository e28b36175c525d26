// How far a fleet has come, on standard error while it runs: on a terminal
// one line rewritten in place, elsewhere (a Slurm log, a pipe) a plain line
// about every ten seconds and one at the end.
#ifndef CORVEL_SIM_FLEET_PROGRESS_H
#define CORVEL_SIM_FLEET_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace corvel::sim {

class FleetProgress {
 public:
  enum class Shown { kNot, kInPlace, kLines };
  // `total`: the recordings to run. `stream` is where the lines go.
  FleetProgress(size_t total, Shown shown, std::FILE* stream = stderr);
  // How a fleet shows its progress on standard error: not at all when asked
  // for quiet, in place on a terminal, else in lines.
  static Shown for_standard_error(bool quiet);

  // One recording ended, having run `samples` samples.
  void recording_ended(bool failed, double samples);
  // A look at the clock: a line when one is due.
  void tick();
  // The last line, when any was shown.
  void finish();

  // The line as it stands after `seconds`: "k/N recordings, F failed, S
  // samples/s, T left".
  std::string line(double seconds) const;

 private:
  void show(bool last);
  size_t total_;
  Shown shown_;
  std::FILE* stream_;
  size_t ended_ = 0, failed_ = 0;
  double samples_ = 0.0;
  size_t shown_width_ = 0;
  size_t shown_ended_ = 0;  // the recordings ended as the line in place shows them
  std::chrono::steady_clock::time_point start_, last_;
};

}  // namespace corvel::sim

#endif
