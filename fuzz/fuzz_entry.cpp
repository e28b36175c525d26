// The registration and command-line entry (nlhs >= 0) with any arguments.
// A registration vector carries a host address, which no code can check, so
// registrations name only a SimStruct this target made, or the null address.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "byte_reader.h"
#include "host/array_api.h"
#include "host/block_instance.h"
#include "host/registration.h"
#include "make_array.h"

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  corvel::fuzz::ByteReader in(data, size);
  const int nlhs = in.byte() % 4;
  const int nrhs = in.byte() % 9;
  const int mode = in.byte() % 4;  // 0, 1: command line; 2: our own SimStruct; 3: null address

  corvel::host::BlockInstance block(in.byte() % 8 == 0 ? "corvel2" : "corvel");
  block.set_generic_hook(in.byte() % 2 == 0);
  if (in.byte() % 2 == 0) block.set_owner(&block);
  std::vector<mxArray*> block_params;
  const int given = in.byte() % 5;
  for (int i = 0; i < given; ++i) block_params.push_back(corvel::fuzz::make_array(in));
  block.set_params(block_params);

  std::vector<mxArray*> args;
  for (int i = 0; i < nrhs; ++i) {
    if (i == 1 && mode >= 2) {
      mxArray* vector = corvel::host::make_registration_vector(block.S());
      if (mode == 3) {
        for (size_t k = 0; k + 1 < mxGetM(vector); ++k) mxGetPr(vector)[k] = 0.0;
      }
      args.push_back(vector);
    } else {
      args.push_back(corvel::fuzz::make_array(in));
    }
  }
  mxArray* plhs[4] = {nullptr, nullptr, nullptr, nullptr};
  std::vector<const mxArray*> prhs(args.begin(), args.end());
  corvel::host::call_mex(&mexFunction, nlhs, plhs, nrhs, prhs.data());
  for (mxArray* out : plhs) mxDestroyArray(out);
  for (mxArray* a : args) mxDestroyArray(a);
  return 0;
}
