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
// The call in progress on this thread (threads calling into copies of a MEX
// file of their own run side by side).
struct CallState {
  Landing* innermost_landing = nullptr;
  // The raised error's text, copied before the jump: callers format it into
  // buffers on the stack that the jump abandons.
  std::string raised_text;
  int call_depth = 0;
  std::vector<void*> call_memory;     // mxCalloc blocks of the outermost call
  std::vector<mxArray*> call_arrays;  // arrays made during it
};
// Reached through a plain pointer of the thread's own, in the thread's static
// block where the platform has one: a lookup through the dynamic loader at
// every call into the block would cost a tenth of the block's own step.
#if defined(__ELF__)
#define CORVEL_STATIC_TLS __attribute__((tls_model("initial-exec")))
#else
#define CORVEL_STATIC_TLS
#endif
thread_local CallState* current_state CORVEL_STATIC_TLS = nullptr;

[[gnu::noinline]] CallState& first_state() {
  thread_local CallState own;
  current_state = &own;
  return own;
}

CallState& call_state() {
  CallState* state = current_state;
  return state != nullptr ? *state : first_state();
}

}  // namespace

void note_array_created(mxArray* array) {
  CallState& call = call_state();
  if (call.call_depth > 0) call.call_arrays.push_back(array);
}

void note_array_destroyed(mxArray* array) {
  std::vector<mxArray*>& arrays = call_state().call_arrays;
  auto it = std::find(arrays.begin(), arrays.end(), array);
  if (it != arrays.end()) arrays.erase(it);
}

size_t live_call_memory_blocks() { return call_state().call_memory.size(); }

void raise_mex_error(const char* text) {
  CallState& call = call_state();
  if (call.innermost_landing == nullptr) {
    std::fprintf(stderr, "corvel host: an error raised outside any MEX call: %s\n", text != nullptr ? text : "");
    std::abort();
  }
  call.raised_text.assign(text != nullptr ? text : "");
  CORVEL_JUMP_TO(call.innermost_landing->buffer);
}

namespace {

// Calls f with a landing for its errors; false when one was raised. Nothing
// here but plain values, which the jump back leaves as they were.
[[gnu::noinline]] bool call_with_landing(CallState& call, MexFunction f, int nlhs, mxArray* plhs[], int nrhs,
                                         const mxArray* prhs[]) {
  Landing landing;
  landing.outer = call.innermost_landing;
  call.innermost_landing = &landing;
  if (CORVEL_SET_LANDING(landing.buffer) == 0) {
    f(nlhs, plhs, nrhs, prhs);
    call.innermost_landing = landing.outer;
    return true;
  }
  call.innermost_landing = landing.outer;
  return false;
}

}  // namespace

MexCallResult call_mex(MexFunction f, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  // The host always offers at least one left-hand slot.
  const int slots = std::max(nlhs, 1);
  for (int i = 0; i < slots; ++i) plhs[i] = nullptr;

  CallState& call = call_state();
  ++call.call_depth;
  const bool ok = call_with_landing(call, f, nlhs, plhs, nrhs, prhs);
  --call.call_depth;
  MexCallResult result{ok, {}};
  if (!ok) result.error.swap(call.raised_text);
  if (call.call_depth > 0) return result;
  if (call.call_arrays.empty() && call.call_memory.empty()) {
    if (!result.ok) {
      for (int i = 0; i < slots; ++i) plhs[i] = nullptr;
    }
    return result;
  }

  // Keep what was handed back (only on success); reclaim the rest.
  std::vector<mxArray*> made;
  made.swap(call.call_arrays);
  for (mxArray* array : made) {
    const bool returned = result.ok && std::find(plhs, plhs + slots, array) != plhs + slots;
    if (!returned) mxDestroyArray(array);
  }
  if (!result.ok) {
    for (int i = 0; i < slots; ++i) plhs[i] = nullptr;
  }
  for (void* block : call.call_memory) std::free(block);
  call.call_memory.clear();
  return result;
}

}  // namespace corvel::host

extern "C" {

void* mxCalloc(size_t count, size_t size) {
  void* block = std::calloc(count == 0 ? 1 : count, size == 0 ? 1 : size);
  if (block == nullptr) corvel::host::raise_mex_error("Out of memory.");
  corvel::host::CallState& call = corvel::host::call_state();
  if (call.call_depth > 0) call.call_memory.push_back(block);
  return block;
}

void mxFree(void* memory) {
  auto& blocks = corvel::host::call_state().call_memory;
  auto it = std::find(blocks.begin(), blocks.end(), memory);
  if (it != blocks.end()) blocks.erase(it);
  std::free(memory);
}

}  // extern "C"
