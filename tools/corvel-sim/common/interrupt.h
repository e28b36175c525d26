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

}  // namespace corvel::sim

#endif
