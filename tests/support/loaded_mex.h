// The MEX file this build made, loaded once per test program as the host
// loads it, and calls into it through our host layer.
#ifndef CORVEL_TESTS_LOADED_MEX_H
#define CORVEL_TESTS_LOADED_MEX_H

#include <string>
#include <vector>

#include "host/array_api.h"
#include "host/mex_module.h"

namespace corvel::test {

inline const host::MexModule& loaded_mex() {
#if defined(_WIN32)
  // Beside the test program, where the Windows build puts it.
  static const host::MexModule module(host::executable_directory() + "\\" + CORVEL_MEX_FILE_NAME);
#else
  static const host::MexModule module(CORVEL_MEX_PATH);
#endif
  return module;
}

// A call with nlhs >= 0: the arguments are destroyed afterwards; the sizes
// vector (if any) is returned as doubles.
struct EntryResult {
  bool ok;
  std::string error;
  std::vector<double> sizes;
};

inline EntryResult call_entry(int nlhs, std::vector<mxArray*> prhs) {
  mxArray* plhs[2] = {nullptr, nullptr};
  std::vector<const mxArray*> args(prhs.begin(), prhs.end());
  const host::MexCallResult r =
      host::call_mex(loaded_mex().entry(), nlhs, plhs, static_cast<int>(args.size()), args.data());
  EntryResult result{r.ok, r.error, {}};
  if (plhs[0] != nullptr) {
    const double* pr = mxGetPr(plhs[0]);
    result.sizes.assign(pr, pr + mxGetNumberOfElements(plhs[0]));
    mxDestroyArray(plhs[0]);
  }
  for (mxArray* a : prhs) mxDestroyArray(a);
  return result;
}

}  // namespace corvel::test

#endif
