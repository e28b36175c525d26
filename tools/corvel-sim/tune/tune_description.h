// A tuning, as every door onto it describes it: the run whose gain and order
// are chosen, and how the search goes.
#ifndef CORVEL_SIM_TUNE_DESCRIPTION_H
#define CORVEL_SIM_TUNE_DESCRIPTION_H

#include "run/run_description.h"

namespace corvel::sim {

struct TuneSearch {
  int first_order = 1;  // the orders tried
  int last_order = 5;
  double gain_low = 0.0, gain_high = 0.0;  // the gains searched; both 0: the search's own range
  int jobs = 0;                            // worker processes; 0: one per core
  double window_start = 0.0, window_end = 0.0;  // the span tuned on; equal: the whole record
  bool whole_record_search = false;  // every run over the whole record, however long (else parts of a long one)
};

struct TuneDescription : RunDescription, TuneSearch {};

}  // namespace corvel::sim

#endif
