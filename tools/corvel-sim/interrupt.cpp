#include "interrupt.h"

#include <csignal>
#include <string>

namespace corvel::sim {

namespace {

volatile std::sig_atomic_t received = 0;

extern "C" void on_signal(int signal) { received = signal; }

}  // namespace

Interrupted::Interrupted(int signal)
    : std::runtime_error(std::string("interrupted by ") + (signal == SIGINT ? "SIGINT" : "SIGTERM") +
                         "; the unfinished outputs were removed"),
      signal_(signal) {}

void install_interrupt_handlers() {
#if defined(_WIN32)
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
#else
  // Without SA_RESTART, so that a read waiting on a pipe returns and the
  // run can notice.
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

int interrupt_signal() { return received; }

void check_interrupt() {
  if (received != 0) throw Interrupted(received);
}

}  // namespace corvel::sim
