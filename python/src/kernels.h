// The MEX file's kernels: the first loaded from the package's own file, the
// others private copies of it, each with module-wide state of its own (its
// special values, its transition matrices). Calls into one kernel take turns
// (its lock); calls into two run side by side, so threads with objects of
// their own run at once, each with its own bits. Kernels are never unloaded
// while the process lives (a daemon thread may still be inside one at exit).
#ifndef CORVEL_PYTHON_KERNELS_H
#define CORVEL_PYTHON_KERNELS_H

#include <cstddef>
#include <mutex>
#include <string>

#include "host/array_api.h"

namespace corvel::python {

struct Kernel {
  std::mutex lock;  // one caller into this copy at a time
  host::MexFunction entry = nullptr;
  int streams = 0;  // streams made on it and alive
};

// The package's MEX file as the first kernel, once a process. Throws
// host::EngineError when it cannot be loaded.
void load_kernels(const std::string& path);
bool kernels_loaded();

// A kernel for one call, locked for the caller: the first free one; else a
// new copy while there may be more; else the next in turn, waited for.
Kernel& lock_kernel_for_call();
// The kernel a stream keeps for its whole life (not locked): the one with
// the fewest streams, or a new copy where each has some and there may be one
// more. `stream_ended` gives its place back.
Kernel& kernel_for_stream();
void stream_ended(Kernel& kernel);
// How many kernels there are now.
size_t kernel_count();

// The kernel this thread holds, if any (a fork from inside a call does not
// wait for it).
Kernel*& held_kernel();

// Around a fork: every kernel but the one this thread holds waited for and
// held, so that the child finds each whole and free.
void hold_kernels_for_fork();
void free_kernels_after_fork();
// As the process ends: every kernel held for good (none is entered again).
void hold_kernels_for_good();

}  // namespace corvel::python

#endif
