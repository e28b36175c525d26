// SIGINT and SIGTERM end a run cleanly: the handler only records the signal;
// the run looks at it between samples and unwinds, removing unfinished files.
#ifndef CORVEL_SIM_INTERRUPT_H
#define CORVEL_SIM_INTERRUPT_H

#include <stdexcept>

namespace corvel::sim {

class Interrupted : public std::runtime_error {
 public:
  explicit Interrupted(int signal);
  int signal() const { return signal_; }
  int exit_status() const { return 128 + signal_; }

 private:
  int signal_;
};

void install_interrupt_handlers();
// The signal received, or 0.
int interrupt_signal();
// Throws Interrupted when a signal has arrived.
void check_interrupt();

}  // namespace corvel::sim

#endif
