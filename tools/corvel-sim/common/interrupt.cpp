#include "common/interrupt.h"

#include <atomic>
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
#include <sys/wait.h>
#include <unistd.h>
#define CORVEL_WRITE write
#define CORVEL_UNLINK unlink
#define CORVEL_EXIT _exit
#endif

namespace corvel::sim {

namespace {

// The unfinished files, any number of them, in a list the handler walks
// with plain reads (a slot is only ever added at the head, published whole,
// and reused once free, never freed), calling nothing but what is safe in a
// signal handler (unlink, write, _exit).
struct Slot {
  char* path;
  size_t capacity;
  std::atomic<int> in_use;
  int index;
  Slot* next;
};
std::atomic<Slot*> slots{nullptr};
int slot_count = 0;  // registering happens on the main thread only

// Worker processes running for this one (a fleet's): an interrupt is passed on
// to each and waited for, so that they remove their own unfinished files
// before this process ends.
constexpr int kWorkers = 256;
std::atomic<long> workers[kWorkers];
void say(const char* text) {
  const size_t length = std::strlen(text);
  (void)!CORVEL_WRITE(2, text, static_cast<unsigned>(length));
}

extern "C" void on_signal(int signal) {
#if !defined(_WIN32)
  for (std::atomic<long>& worker : workers) {
    const long pid = worker.load();
    if (pid > 0) kill(static_cast<pid_t>(pid), signal);
  }
  for (std::atomic<long>& worker : workers) {
    const long pid = worker.load();
    if (pid > 0) waitpid(static_cast<pid_t>(pid), nullptr, 0);
  }
#endif
  for (Slot* s = slots.load(); s != nullptr; s = s->next) {
    if (s->in_use.load() != 0) CORVEL_UNLINK(s->path);
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
  Slot* free_slot = nullptr;
  for (Slot* s = slots.load(); s != nullptr && free_slot == nullptr; s = s->next) {
    if (s->in_use.load() == 0 && s->capacity > path.size()) free_slot = s;
  }
  if (free_slot == nullptr) {
    free_slot = new Slot{new char[path.size() + 1], path.size() + 1, {0}, slot_count++, slots.load()};
    slots.store(free_slot);  // whole before the handler can see it
  }
  std::memcpy(free_slot->path, path.c_str(), path.size() + 1);
  free_slot->in_use.store(1);  // set last: the handler sees a whole path or none
  return free_slot->index;
}

void register_worker(long pid) {
  for (std::atomic<long>& worker : workers) {
    long free = 0;
    if (worker.compare_exchange_strong(free, pid)) return;
  }
}

void forget_workers() {
  for (std::atomic<long>& worker : workers) worker.store(0);
}

void release_worker(long pid) {
  for (std::atomic<long>& worker : workers) {
    long mine = pid;
    if (worker.compare_exchange_strong(mine, 0)) return;
  }
}

void release_unfinished(int slot) {
  for (Slot* s = slots.load(); s != nullptr; s = s->next) {
    if (s->index == slot) s->in_use.store(0);
  }
}

}  // namespace corvel::sim
