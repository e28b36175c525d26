// corvel-sim run: the block over a record, through the engine and the MEX
// file, with its log, its plot, its call trace and (for a built-in signal)
// the table of errors against the true derivatives. Every output is put in
// place at the end, all of them or none.
#ifndef CORVEL_SIM_RUN_COMMAND_H
#define CORVEL_SIM_RUN_COMMAND_H

#include "command_line/options.h"

namespace corvel::sim {

// Returns the exit status; throws UsageError, InputError, OutputError or the
// engine's error with the block's own message.
int run_command(const SimOptions& options);

}  // namespace corvel::sim

#endif
