// corvel-sim tune: the gain and order chosen from the data, printed with the
// command that runs them, and the error RMS against the gain plotted.
#ifndef CORVEL_SIM_TUNE_COMMAND_H
#define CORVEL_SIM_TUNE_COMMAND_H

#include "command_line/options.h"

namespace corvel::sim {

// Returns the exit status; throws UsageError, InputError, OutputError or
// TuneError.
int tune_command(SimOptions options);

}  // namespace corvel::sim

#endif
