// A registered block driven by any sequence of flag calls (any call index and
// value), parameter changes through the parameter check, input changes and
// solver changes, over parameter values that pass the check. The harness plays
// a host that keeps every port buffer as wide as the port.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "sdk/method_flags.h"
#include "host/array_api.h"
#include "host/block_instance.h"
#include "host/registration.h"

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);

namespace {

using corvel::fuzz::ByteReader;
using corvel::host::BlockInstance;

// Parameter values the check lets through: any gain, a step of -1 or above
// 0, an order 1..10.
std::vector<mxArray*> passing_params(ByteReader& in) {
  const double gain = in.number();
  double step = std::fabs(in.number());
  if (in.byte() % 4 == 0 || !(step > 0)) step = -1.0;
  const double order = 1 + in.byte() % 10;
  return {mxCreateDoubleScalar(gain), mxCreateDoubleScalar(step), mxCreateDoubleScalar(order)};
}

// Returns whether the call left an error status (which the host then clears).
bool call_flag(BlockInstance& block, double flag, std::int32_t index, std::int32_t value) {
  SimStruct* S = block.S();
  ssGetSizeBlock(S)[SIZE_CALL_INDEX] = index;
  S->u.f.model_info->f.call_value = value;
  mxArray* flag_array = mxCreateDoubleScalar(flag);
  mxArray* plhs[2] = {nullptr, reinterpret_cast<mxArray*>(S)};
  const mxArray* prhs[4] = {nullptr, nullptr, nullptr, flag_array};
  corvel::host::call_mex(&mexFunction, -1, plhs, 4, prhs);
  mxDestroyArray(flag_array);
  const bool failed = block.error() != nullptr;
  block.clear_error();
  return failed;
}

// The host keeps each port's buffer as wide as the port says.
void keep_buffers(BlockInstance& block) {
  SimStruct* S = block.S();
  for (int p = 0; p < ssGetNumOutputPorts(S); ++p) {
    if (block.output_size(p) != static_cast<size_t>(std::max(0, ssGetOutputPortWidth(S, p)))) {
      std::string why;
      block.allocate_signals(&why);
      return;
    }
  }
}

// Every method flag of the list, and numbers near them that are none.
const std::vector<double>& flags_to_try() {
  static const std::vector<double> flags = [] {
    std::vector<double> all;
    for (const corvel::method_flags::MethodFlag& f : corvel::method_flags::kMethodFlags) all.push_back(f.flag);
    for (const double none : {106.0, 100.5, 104.9}) all.push_back(none);
    return all;
  }();
  return flags;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ByteReader in(data, size);
  BlockInstance block;
  block.set_generic_hook(in.byte() % 2 == 0);
  block.set_params(passing_params(in));

  mxArray* vector = corvel::host::make_registration_vector(block.S());
  mxArray* zero = mxCreateDoubleScalar(0);
  const mxArray* prhs[4] = {nullptr, vector, nullptr, zero};
  mxArray* plhs[1] = {nullptr};
  const auto registered = corvel::host::call_mex(&mexFunction, 1, plhs, 4, prhs);
  mxDestroyArray(plhs[0]);
  mxDestroyArray(vector);
  mxDestroyArray(zero);
  if (!registered.ok || block.error() != nullptr) return 0;

  // Propagation as a host runs it, then buffers for the settled widths.
  call_flag(block, corvel::method_flags::kSetDefaultPortDimensionInfo, 0, 0);
  call_flag(block, corvel::method_flags::kInitializeSampleTimes, 0, 0);
  std::string why;
  if (!block.allocate_signals(&why)) return 0;
  block.set_solver(false, 0.01);

  while (!in.empty()) {
    switch (in.byte() % 6) {
      case 0:
      case 1: {
        const double flag = flags_to_try()[in.byte() % flags_to_try().size()];
        call_flag(block, flag, in.i32(), in.i32());
        break;
      }
      case 2:
        call_flag(block, in.number(), in.i32(), in.i32());
        break;
      case 3: {
        // A run-time parameter change: the host asks the block to check it
        // (the parameter check) and keeps it only when the check passes.
        const int which = in.byte() % 3;
        const double previous = mxGetScalar(ssGetSFcnParam(block.S(), which));
        block.set_param(which, mxCreateDoubleScalar(in.number()));
        if (call_flag(block, corvel::method_flags::kCheckParameters, 0, 0)) block.set_param(which, mxCreateDoubleScalar(previous));
        break;
      }
      case 4:
        block.input()[0] = in.number();
        break;
      default:
        block.set_solver(in.byte() % 2 == 0, in.number());
        break;
    }
    keep_buffers(block);
  }
  return 0;
}
