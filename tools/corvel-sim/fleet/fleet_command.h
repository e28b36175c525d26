// corvel-sim run over many recordings (a fleet): each recording run as it
// would be alone, in this process or in worker processes (--jobs), its
// outputs under the output folder with the record of its run; recordings
// whose outputs are current are left as they are; a failed one is reported
// and the others go on; one summary, DIR/summary.csv, put in place at the
// end. A Slurm array's task runs its share (--shard) and a last step writes
// the summary (--summary-only).
#ifndef CORVEL_SIM_FLEET_COMMAND_H
#define CORVEL_SIM_FLEET_COMMAND_H

#include "command_line/options.h"

namespace corvel::sim {

// Returns 0 when every recording is done or current, 1 when any failed (or,
// for a summary, is missing). Throws UsageError for a fleet that cannot run
// (before anything runs) and OutputError for a summary it cannot write.
// corvel-sim tune over many recordings: each recording tuned as alone, its
// recommendation in the summary, and the fleet's spread of orders and gains.
int fleet_command(const SimOptions& options, Subcommand subcommand = Subcommand::kRun);

}  // namespace corvel::sim

#endif
