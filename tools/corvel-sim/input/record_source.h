// What a record is read from: a CSV file or a MAT-file (which signals, which
// time), or the built-in signal, and the noise added to it. The command line,
// the Python package and a fleet of recordings each fill one in.
#ifndef CORVEL_SIM_RECORD_SOURCE_H
#define CORVEL_SIM_RECORD_SOURCE_H

#include <cstdint>
#include <string>

#include "input/signals.h"

namespace corvel::sim {

// What becomes of a sample that is missing (an empty cell, or NaN).
enum class MissingSamples {
  kKeep,        // given to the block as NaN, which spoils every estimate after it
  kRefuse,      // the run fails, naming the gap, its length and how to fill it
  kHold,        // the last sample before the gap, repeated (causal)
  kInterpolate  // a straight line between the samples around the gap
};

struct RecordSource {
  std::string input;        // CSV or MAT-file; empty: the built-in signal
  std::string column;       // the signal's column: NAME, N, a list, or all
  std::string time_column;  // NAME, N or none
  std::string variable;     // a MAT-file's signal, or a list of vectors
  double time_tolerance = 1e-6;  // relative deviation allowed in a time column's step
  double solver_step = 0.0;      // 0: the time column's; without one the block's P2 when positive, else 0.01
  SignalForm signal;
  double duration = 10.0;        // seconds of the built-in signal
  double noise = 0.0;            // standard deviation of added Gaussian noise
  double snr_db = 0.0;           // used when snr_given: noise from the clean signal's RMS
  bool snr_given = false;
  std::uint64_t seed = 1;
  MissingSamples missing = MissingSamples::kKeep;
  bool missing_as_keyword = false;  // a refusal says missing='hold' (Python), not --missing hold
  bool decimal_comma = false;  // a CSV file's numbers are written 12,5 (else found from the file)
  // A CSV file read ahead (and a run's CSV log formatted) on threads of their
  // own: off where every core already runs a worker of its own.
  bool helper_threads = true;
};

}  // namespace corvel::sim

#endif
