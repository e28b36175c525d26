// Calling a mexFunction the way the host does: errors raised inside come back
// as text, and memory that belongs to the call is reclaimed when it returns.
#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host/array_api.h"
#include "host/call_scope.h"

namespace corvel::host {

namespace {

// An error raised by mexErrMsgTxt goes straight back to the call_mex that
// made the call, over the MEX file's frames, running nothing in them. That is
// how a host's error reaches through a MEX file on every platform: the host
// raises it by its own means (on 32-bit Windows a structured exception or a
// jump, never the C++ unwinder of the compiler that built the MEX file, which
// each mingw module carries a private copy of). So the MEX file must hold
// nothing on its stack that needs cleaning up when mexErrMsgTxt does not
// return, and jumping here on every build holds the tests to that: a leak or
// a skipped destructor on the error path shows under the sanitizers and
// valgrind instead of being cleaned up by an unwinding no host does.
#if defined(_WIN32)
// msvcrt's longjmp would walk the Windows unwinder over the frames; the
// compiler's own pair only restores the registers, as a jump should.
using JumpBuffer = void* [5];
#define CORVEL_SET_LANDING(buffer) __builtin_setjmp(buffer)
#define CORVEL_JUMP_TO(buffer) __builtin_longjmp(buffer, 1)
#else
using JumpBuffer = std::jmp_buf;
#define CORVEL_SET_LANDING(buffer) setjmp(buffer)
#define CORVEL_JUMP_TO(buffer) std::longjmp(buffer, 1)
#endif

// What a call in progress holds is its thread's own: threads calling into
// copies of a MEX file of their own run side by side.

// Where a raised error lands: the innermost call_mex in progress.
struct Landing {
  JumpBuffer buffer;
  Landing* outer;
};
thread_local Landing* innermost_landing = nullptr;
// The raised error's text, copied before the jump: callers format it into
// buffers on the stack that the jump abandons.
thread_local std::string raised_text;

thread_local int call_depth = 0;
thread_local std::vector<void*> call_memory;     // mxCalloc blocks of the outermost call
thread_local std::vector<mxArray*> call_arrays;  // arrays made during it

}  // namespace

void note_array_created(mxArray* array) {
  if (call_depth > 0) call_arrays.push_back(array);
}

void note_array_destroyed(mxArray* array) {
  auto it = std::find(call_arrays.begin(), call_arrays.end(), array);
  if (it != call_arrays.end()) call_arrays.erase(it);
}

size_t live_call_memory_blocks() { return call_memory.size(); }

void raise_mex_error(const char* text) {
  if (innermost_landing == nullptr) {
    std::fprintf(stderr, "corvel host: an error raised outside any MEX call: %s\n", text != nullptr ? text : "");
    std::abort();
  }
  raised_text.assign(text != nullptr ? text : "");
  CORVEL_JUMP_TO(innermost_landing->buffer);
}

namespace {

// Calls f with a landing for its errors; false when one was raised. Nothing
// here but plain values, which the jump back leaves as they were.
[[gnu::noinline]] bool call_with_landing(MexFunction f, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  Landing landing;
  landing.outer = innermost_landing;
  innermost_landing = &landing;
  if (CORVEL_SET_LANDING(landing.buffer) == 0) {
    f(nlhs, plhs, nrhs, prhs);
    innermost_landing = landing.outer;
    return true;
  }
  innermost_landing = landing.outer;
  return false;
}

}  // namespace

MexCallResult call_mex(MexFunction f, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  // The host always offers at least one left-hand slot.
  const int slots = std::max(nlhs, 1);
  for (int i = 0; i < slots; ++i) plhs[i] = nullptr;

  ++call_depth;
  const bool ok = call_with_landing(f, nlhs, plhs, nrhs, prhs);
  --call_depth;
  MexCallResult result{ok, {}};
  if (!ok) result.error.swap(raised_text);
  if (call_depth > 0) return result;
  if (call_arrays.empty() && call_memory.empty()) {
    if (!result.ok) {
      for (int i = 0; i < slots; ++i) plhs[i] = nullptr;
    }
    return result;
  }

  // Keep what was handed back (only on success); reclaim the rest.
  std::vector<mxArray*> made;
  made.swap(call_arrays);
  for (mxArray* array : made) {
    const bool returned = result.ok && std::find(plhs, plhs + slots, array) != plhs + slots;
    if (!returned) mxDestroyArray(array);
  }
  if (!result.ok) {
    for (int i = 0; i < slots; ++i) plhs[i] = nullptr;
  }
  for (void* block : call_memory) std::free(block);
  call_memory.clear();
  return result;
}

}  // namespace corvel::host

extern "C" {

void* mxCalloc(size_t count, size_t size) {
  void* block = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
  if (block == nullptr) corvel::host::raise_mex_error("Out of memory.");
  if (corvel::host::call_depth > 0) corvel::host::call_memory.push_back(block);
  return block;
}

void mxFree(void* memory) {
  auto& blocks = corvel::host::call_memory;
  auto it = std::find(blocks.begin(), blocks.end(), memory);
  if (it != blocks.end()) blocks.erase(it);
  std::free(memory);
}

}  // extern "C"
