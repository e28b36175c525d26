// SIGINT and SIGTERM end a run at once, wherever it is (a read waiting on a
// pipe included): the handler removes the outputs that are not complete,
// says so, and exits with 128 + the signal's number. SIGPIPE (an output
// stream's reader gone) does the same without a word.
#ifndef CORVEL_SIM_INTERRUPT_H
#define CORVEL_SIM_INTERRUPT_H

#include <string>

namespace corvel::sim {

void install_interrupt_handlers();

// An unfinished file to remove on an interrupt, any number of them; returns
// its slot for release_unfinished once it is complete or gone.
int register_unfinished(const std::string& path);
void release_unfinished(int slot);

// A worker process (a fleet's, at most 256 at once) that an interrupt of this
// one is passed on to and waited for; released once it has been waited for.
void register_worker(long pid);
void release_worker(long pid);
// In a worker just forked: its parent's other workers are not its own.
void forget_workers();

}  // namespace corvel::sim

#endif
