#include "common/interrupt.h"

#include <csignal>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <io.h>
#define CORVEL_WRITE _write
#define CORVEL_UNLINK _unlink
#define CORVEL_EXIT _exit
#include <process.h>
#else
#include <unistd.h>
#define CORVEL_WRITE write
#define CORVEL_UNLINK unlink
#define CORVEL_EXIT _exit
#endif

namespace corvel::sim {

namespace {

// Fixed slots, so that the handler touches nothing but plain memory and
// calls that are safe in a signal handler (unlink, write, _exit).
constexpr int kSlots = 8;
constexpr size_t kPathMax = 4096;
char paths[kSlots][kPathMax];
volatile std::sig_atomic_t in_use[kSlots];

void say(const char* text) {
  const size_t length = std::strlen(text);
  (void)!CORVEL_WRITE(2, text, static_cast<unsigned>(length));
}

extern "C" void on_signal(int signal) {
  for (int i = 0; i < kSlots; ++i) {
    if (in_use[i]) CORVEL_UNLINK(paths[i]);
  }
  // A reader that went away (--out /dev/stdout | head) ends the run as it
  // ends any tool's, without a word; only the temporaries go.
  if (signal == SIGINT) say("\ncorvel-sim: interrupted by SIGINT; the unfinished outputs were removed\n");
  if (signal == SIGTERM) say("\ncorvel-sim: interrupted by SIGTERM; the unfinished outputs were removed\n");
  CORVEL_EXIT(128 + signal);
}

}  // namespace

void install_interrupt_handlers() {
#if defined(_WIN32)
  std::signal(SIGINT, on_signal);
  std::signal(SIGTERM, on_signal);
#else
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGPIPE, &action, nullptr);
#endif
}

int register_unfinished(const std::string& path) {
  if (path.size() >= kPathMax) return -1;
  for (int i = 0; i < kSlots; ++i) {
    if (!in_use[i]) {
      std::memcpy(paths[i], path.c_str(), path.size() + 1);
      in_use[i] = 1;  // set last: the handler sees a whole path or none
      return i;
    }
  }
  return -1;
}

void release_unfinished(int slot) {
  if (slot >= 0 && slot < kSlots) in_use[slot] = 0;
}

}  // namespace corvel::sim
