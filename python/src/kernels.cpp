#include "kernels.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "host/mex_module.h"

namespace corvel::python {

namespace {

std::mutex pool_lock;  // the list of kernels
std::vector<Kernel*> kernels;  // never shrinks, never freed
std::vector<host::MexModule*> modules;  // the files behind them, loaded for good
std::string first_path;
size_t next_in_turn = 0;

// As many kernels as the machine runs threads at once (two at least, sixteen
// at most): more would only take memory.
size_t most_kernels() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp<size_t>(cores, 2, 16);
}

// A private copy of the MEX file: the dynamic loader gives each file of its
// own its own statics. The copy goes once loaded. Null where no copy can be
// made or loaded (a full or non-executable temporary folder): the kernels
// there are take turns.
host::MexModule* load_copy() {
  const char* folder = std::getenv("TMPDIR");
  std::string name = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/corvel-kernel-XXXXXX";
  const int to = mkstemp(name.data());
  if (to < 0) return nullptr;
  const int from = open(first_path.c_str(), O_RDONLY | O_CLOEXEC);
  bool copied = from >= 0;
  char buffer[65536];
  for (ssize_t got = 0; copied && (got = read(from, buffer, sizeof buffer)) != 0;) {
    if (got < 0) {
      copied = false;
      break;
    }
    for (ssize_t put = 0; put < got;) {
      const ssize_t wrote = write(to, buffer + put, static_cast<size_t>(got - put));
      if (wrote <= 0) {
        copied = false;
        break;
      }
      put += wrote;
    }
  }
  if (from >= 0) close(from);
  copied = close(to) == 0 && copied;
  host::MexModule* module = nullptr;
  if (copied) {
    try {
      module = new host::MexModule(name);
    } catch (const host::EngineError&) {
      module = nullptr;
    }
  }
  unlink(name.c_str());
  return module;
}

// A new kernel, where there may be one more and a copy loads; with the pool
// held.
Kernel* new_kernel() {
  if (kernels.size() >= most_kernels()) return nullptr;
  host::MexModule* module = load_copy();
  if (module == nullptr) return nullptr;
  modules.push_back(module);
  kernels.push_back(new Kernel);
  kernels.back()->entry = module->entry();
  return kernels.back();
}

void refuse_before_loading() {
  if (kernels.empty()) throw std::runtime_error("corvel: the MEX file is not loaded (corvel._corvel.load)");
}

thread_local Kernel* held = nullptr;
std::vector<Kernel*> held_for_fork;

}  // namespace

void load_kernels(const std::string& path) {
  const std::lock_guard<std::mutex> hold(pool_lock);
  if (!kernels.empty()) return;  // one MEX file a process, for its whole life
  modules.push_back(new host::MexModule(path));
  first_path = path;
  kernels.push_back(new Kernel);
  kernels.back()->entry = modules.back()->entry();
}

bool kernels_loaded() {
  const std::lock_guard<std::mutex> hold(pool_lock);
  return !kernels.empty();
}

Kernel& lock_kernel_for_call() {
  Kernel* chosen = nullptr;
  {
    const std::lock_guard<std::mutex> hold(pool_lock);
    refuse_before_loading();
    for (Kernel* k : kernels) {
      if (k->lock.try_lock()) return *k;
    }
    if (Kernel* made = new_kernel()) {
      made->lock.lock();
      return *made;
    }
    chosen = kernels[next_in_turn++ % kernels.size()];
  }
  chosen->lock.lock();
  return *chosen;
}

Kernel& kernel_for_stream() {
  const std::lock_guard<std::mutex> hold(pool_lock);
  refuse_before_loading();
  Kernel* fewest = *std::min_element(kernels.begin(), kernels.end(),
                                     [](const Kernel* a, const Kernel* b) { return a->streams < b->streams; });
  if (fewest->streams > 0) {
    if (Kernel* made = new_kernel()) fewest = made;
  }
  ++fewest->streams;
  return *fewest;
}

void stream_ended(Kernel& kernel) {
  const std::lock_guard<std::mutex> hold(pool_lock);
  --kernel.streams;
}

size_t kernel_count() {
  const std::lock_guard<std::mutex> hold(pool_lock);
  return kernels.size();
}

Kernel*& held_kernel() { return held; }

void hold_kernels_for_fork() {
  pool_lock.lock();
  held_for_fork.clear();
  for (Kernel* k : kernels) {
    if (k == held) continue;
    k->lock.lock();
    held_for_fork.push_back(k);
  }
}

void free_kernels_after_fork() {
  for (Kernel* k : held_for_fork) k->lock.unlock();
  held_for_fork.clear();
  pool_lock.unlock();
}

void hold_kernels_for_good() {
  pool_lock.lock();  // never let go: no kernel is made or entered again
  for (Kernel* k : kernels) k->lock.lock();
}

}  // namespace corvel::python
