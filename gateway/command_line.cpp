#include "gateway/command_line.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "block/parameters.h"
#include "block/runtime.h"
#include "block/setup.h"
#include "kernel/whole_number.h"

namespace corvel {

namespace {

constexpr const char* kPrefix = "MEX level2 S-function \"corvel\"";
constexpr std::uint32_t kCommandLineOption = 0x2000u;

// Formats a message into a 256-character buffer (bounded) and raises it.
// mexErrMsgTxt copies the text before the stack is unwound.
[[noreturn]] void raise_error(const char* format, const char* a, const char* b = nullptr) {
  char message[256];
  std::snprintf(message, sizeof message, format, a, b);
  mexErrMsgTxt(message);
  // No host returns from mexErrMsgTxt; not every host's header says so, and
  // going on with arguments that failed their test is never an option.
  std::abort();
}

// Stores a port count in its size word (and marks the count as set), or
// refuses a negative one; returns whether it was accepted.
bool store_port_count(SimStruct* S, SizeWord word, int count) {
  if (count < 0) return false;
  int32_t* sizes = ssGetSizeBlock(S);
  sizes[SIZE_FLAGS] = static_cast<int32_t>(static_cast<uint32_t>(sizes[SIZE_FLAGS]) | SS_FLAG_PORT_COUNT);
  sizes[word] = count;
  return true;
}

// The command-line port-count hooks: a negative count is refused; otherwise
// the count is stored and as many zero-filled port records allocated.
int command_line_input_ports(void* arg, int count) {
  auto* S = static_cast<SimStruct*>(arg);
  if (!store_port_count(S, SIZE_NUM_INPUT_PORTS, count)) return 0;
  if (count > 0) ssSetInputPortsArray(S, static_cast<ssInputPort*>(mxCalloc(static_cast<size_t>(count), SS_INPUT_PORT_BYTES)));
  return 1;
}

int command_line_output_ports(void* arg, int count) {
  auto* S = static_cast<SimStruct*>(arg);
  if (!store_port_count(S, SIZE_NUM_OUTPUT_PORTS, count)) return 0;
  if (count > 0) {
    ssSetOutputPortsArray(S, static_cast<ssOutputPort*>(mxCalloc(static_cast<size_t>(count), SS_OUTPUT_PORT_BYTES)));
  }
  return 1;
}

// A SimStruct for a command-line call, all of it from the host's zero-filling
// allocator and reclaimed by the host: no method slots, no generic hook.
SimStruct* build_command_line_simstruct(int nrhs, const mxArray* prhs[]) {
  auto* S = static_cast<SimStruct*>(mxCalloc(1, SS_SIMSTRUCT_BYTES));
  auto* info = static_cast<ssModelInfo*>(mxCalloc(1, SS_MODEL_INFO_BYTES));
  info->f.first_word = 1;
  ssSetModelInfo(S, info);
#if SS_LAYOUT_64
  // The 64-bit host layout has a record here whose fourth pointer holds a
  // smaller record.
  auto* record = static_cast<ssHostRecord*>(mxCalloc(1, sizeof(ssHostRecord)));
  record->slots[SS_HOST_RECORD_SUBRECORD_SLOT] = mxCalloc(1, sizeof(ssHostSubrecord));
  ssSetHostRecord(S, record);
#endif
  ssSetRootSS(S, S);
  ssSetModelName(S, kSFunctionName);
  ssSetPath(S, kSFunctionName);
  const int count = nrhs > 4 ? nrhs - 4 : 0;
  const mxArray** params = nullptr;
  if (count > 0) {
    params = static_cast<const mxArray**>(mxCalloc(static_cast<size_t>(count), sizeof(mxArray*)));
    for (int i = 0; i < count; ++i) params[i] = prhs[4 + i];
  }
  ssSetSFcnParamsArray(S, params, count);
  ssSetPortCountHooks(S, &command_line_input_ports, &command_line_output_ports, S);
  return S;
}

// Element 0 of FLAG as a double; other numeric classes are converted.
double flag_value(const mxArray* flag) {
  if (mxIsDouble(flag)) {
    const double* pr = mxGetPr(flag);
    return pr != nullptr ? pr[0] : mxGetScalar(flag);
  }
  return mxGetScalar(flag);
}

// The registration vector's elements when prhs[1] is one: the layout's row
// count, real doubles, at least that many elements, and the version word last.
const double* registration_elements(const mxArray* vector) {
  if (vector == nullptr || mxGetM(vector) != static_cast<size_t>(kRegistrationRows)) return nullptr;
  const double* pr = mxGetPr(vector);
  if (pr == nullptr || mxGetNumberOfElements(vector) < static_cast<size_t>(kRegistrationRows)) return nullptr;
  if (!(pr[kRegistrationRows - 1] == SS_VERSION_WORD)) return nullptr;
  return pr;
}

}  // namespace

SimStruct* registration_address(const double* elements) {
  const auto low = static_cast<std::uint32_t>(truncate_to_int32(elements[0]));
#if SS_LAYOUT_64
  const auto high = static_cast<std::uint32_t>(truncate_to_int32(elements[1]));
  const std::uint64_t address = (static_cast<std::uint64_t>(high) << 32) | low;
#else
  const std::uint32_t address = low;
#endif
  return reinterpret_cast<SimStruct*>(static_cast<std::uintptr_t>(address));
}

void install_callbacks(SimStruct* S) {
  ssMethods& m = *ssGetMethods(S);
  m.mdlInitializeSizes = &mdlInitializeSizes;
  m.mdlSetInputPortWidth.width = &mdlSetInputPortWidth;
  m.mdlSetOutputPortWidth.width = &mdlSetOutputPortWidth;
  // The default-dimension slot takes no port or width; the block's own
  // callback sets the same widths as the input-width one.
  m.mdlSetDefaultPortDimensionInfo = &mdlSetDefaultPortDimensionInfo;
  m.mdlSetInputPortDataType = &mdlSetInputPortDataType;
  m.mdlSetOutputPortDataType = &mdlSetOutputPortDataType;
  m.mdlSetDefaultPortDataTypes = &mdlSetDefaultPortDataTypes;
  m.mdlSetInputPortFrameData = &mdlSetInputPortFrameData;
  m.mdlSetWorkWidths = &mdlSetWorkWidths;
  m.mdlInitializeSampleTimes = &mdlInitializeSampleTimes;
  m.mdlInitializeConditions = &mdlInitializeConditions;
  m.mdlCheckParameters = &mdlCheckParameters;
  m.mdlGetTimeOfNextVarHit = &mdlGetTimeOfNextVarHit;
  m.mdlOutputs = &mdlOutputs;
  m.mdlUpdate = &mdlUpdate;
  m.mdlZeroCrossings = &mdlZeroCrossings;
  m.mdlTerminate = &mdlTerminate;
}

void command_line_entry(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (nrhs < 4) raise_error("%s must be called with at least 4 right hand arguments", kPrefix);
  if (nlhs > 1) raise_error("%s called with too many left hand arguments", kPrefix);

  const mxArray* flag = prhs[3];
  if (flag == nullptr || mxGetM(flag) * mxGetN(flag) != 1 || mxIsComplex(flag) || !mxIsNumeric(flag)) {
    raise_error("The 4th right hand argument, FLAG, passed to %s must be an integer", kPrefix);
  }
  const double v = flag_value(flag);
  const std::int32_t k = truncate_to_int32(v);
  if (!(static_cast<double>(k) == v)) {
    raise_error("The 4th right hand argument, FLAG, passed to %s must be an integer", kPrefix);
  }
  if (k != 0) raise_error("Invalid flag passed to %s", kPrefix);

  SimStruct* S = nullptr;
  if (const double* elements = registration_elements(prhs[1])) S = registration_address(elements);
  if (S != nullptr) {
    const char* model_name = ssGetModelName(S) != nullptr ? ssGetModelName(S) : "";
    if (std::strcmp(model_name, kSFunctionName) != 0) {
      raise_error("S-function name mismatch. Name in source is \"#define S_FUNCTION_NAME %s\", whereas name of the "
            "S-function MEX file is \"%s\". The source needs to be updated",
            kSFunctionName, model_name);
    }
    ssClearDimensionMethodsFlag(S);
    install_callbacks(S);
  } else {
    // Not a registration, or one naming no SimStruct at all: a command-line
    // call, with a SimStruct of its own.
    S = build_command_line_simstruct(nrhs, prhs);
  }

  int32_t* sizes = ssGetSizeBlock(S);
  sizes[SIZE_VERSION] = SS_VERSION_WORD;
#if SS_LAYOUT_64
  if (ssHasOwner(S)) ssCallGenericFcn(S, GEN_FCN_CALL_280, 1, nullptr);
#endif
  mdlInitializeSizes(S);

  plhs[0] = mxCreateDoubleMatrix_700(SS_SIZE_WORDS, 1, mxREAL);
  double* out = mxGetPr(plhs[0]);
  for (int i = 0; i < SS_SIZE_WORDS; ++i) out[i] = sizes[i];
  sizes[SIZE_OPTIONS] = static_cast<int32_t>(static_cast<std::uint32_t>(sizes[SIZE_OPTIONS]) | kCommandLineOption);
  for (int i = SIZE_HOST_UNSIGNED_FIRST; i <= SIZE_HOST_UNSIGNED_LAST; ++i) {
    out[i] = static_cast<std::uint32_t>(sizes[i]);
  }
  out[SIZE_OPTIONS] = static_cast<std::uint32_t>(sizes[SIZE_OPTIONS]);
}

}  // namespace corvel
