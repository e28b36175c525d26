// Calling a mexFunction the way the host does: errors raised inside come back
// as text, and memory that belongs to the call is reclaimed when it returns.
#include <algorithm>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "host/array_api.h"
#include "host/call_scope.h"

namespace corvel::host {

namespace {

// An error raised by mexErrMsgTxt. Its text is a copy: callers format it into
// buffers on the stack that the unwinding discards.
struct MexError {
  std::string text;
};

int call_depth = 0;
std::vector<void*> call_memory;     // mxCalloc blocks of the outermost call
std::vector<mxArray*> call_arrays;  // arrays made during it

}  // namespace

void note_array_created(mxArray* array) {
  if (call_depth > 0) call_arrays.push_back(array);
}

void note_array_destroyed(mxArray* array) {
  auto it = std::find(call_arrays.begin(), call_arrays.end(), array);
  if (it != call_arrays.end()) call_arrays.erase(it);
}

size_t live_call_memory_blocks() { return call_memory.size(); }

void raise_mex_error(const char* text) { throw MexError{text != nullptr ? text : ""}; }

MexCallResult call_mex(MexFunction f, int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  // The host always offers at least one left-hand slot.
  const int slots = std::max(nlhs, 1);
  for (int i = 0; i < slots; ++i) plhs[i] = nullptr;

  MexCallResult result{true, {}};
  ++call_depth;
  try {
    f(nlhs, plhs, nrhs, prhs);
  } catch (const MexError& error) {
    result = {false, error.text};
  }
  --call_depth;
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
