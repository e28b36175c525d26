#include "gateway/dispatch.h"

#include "block/parameters.h"
#include "block/runtime.h"
#include "block/setup.h"
#include "gateway/flags.h"
#include "kernel/whole_number.h"

namespace corvel {

namespace {

constexpr const char* kInvalidFlag = "Invalid flag encountered in simulink.c";

using Condition = bool (*)(SimStruct*);
using Action = void (*)(SimStruct*);

// One row per flag: the method runs when its condition holds (or there is
// none); otherwise, or for rows without an action, the message is set.
struct FlagRow {
  int flag;
  Condition condition;
  Action action;
  const char* message;
};

ssMethods& slots(SimStruct* S) { return *ssGetMethods(S); }
int index(SimStruct* S) { return ssGetCallIndex(S); }
int value(SimStruct* S) { return ssGetCallValue(S); }
bool dims_clear(SimStruct* S) { return !ssGetDimensionMethodsFlag(S); }
bool dims_set(SimStruct* S) { return ssGetDimensionMethodsFlag(S); }
bool input_width_slot(SimStruct* S) { return slots(S).mdlSetInputPortWidth.width != nullptr; }
bool output_width_slot(SimStruct* S) { return slots(S).mdlSetOutputPortWidth.width != nullptr; }

template <auto slot>
bool filled(SimStruct* S) {
  return slots(S).*slot != nullptr;
}

constexpr FlagRow kFlagTable[] = {
    {flags::kInitializeSampleTimes, nullptr, [](SimStruct* S) { mdlInitializeSampleTimes(S); }, nullptr},
    {flags::kInitializeConditions, filled<&ssMethods::mdlInitializeConditions>,
     [](SimStruct* S) { mdlInitializeConditions(S); }, "Unexpected call to mdlInitializeConditions"},
    {flags::kGetTimeOfNextVarHit, nullptr, nullptr,
     "To have a variable sample time, you must define MDL_GET_TIME_OF_NEXT_VAR_HIT and add a mdlGetTimeOfNextVarHit "
     "routine"},
    {flags::kOutputs, nullptr, [](SimStruct* S) { mdlOutputs(S, output_task_id(index(S))); }, nullptr},
    {flags::kUpdate, filled<&ssMethods::mdlUpdate>, [](SimStruct* S) { mdlUpdate(S, 0); }, "Unexpected call to mdlUpdate"},
    {flags::kTerminate, nullptr, [](SimStruct* S) { mdlTerminate(S); }, nullptr},
    {flags::kZeroCrossings, nullptr, nullptr,
     "To have nonsampled zero crossings, you must define MDL_ZERO_CROSSINGS and have a mdlZeroCrossings routine"},
    {flags::kSetWorkWidths, filled<&ssMethods::mdlSetWorkWidths>, [](SimStruct* S) { slots(S).mdlSetWorkWidths(S); },
     "Unexpected call to mdlSetWorkWidths"},
    {flags::kCheckParameters, filled<&ssMethods::mdlCheckParameters>, [](SimStruct* S) { slots(S).mdlCheckParameters(S); },
     "Unexpected call to mdlCheckParameters"},
    {flags::kSetInputPortDataType, filled<&ssMethods::mdlSetInputPortDataType>,
     [](SimStruct* S) { slots(S).mdlSetInputPortDataType(S, index(S), value(S)); },
     "Unexpected call to mdlSetInputPortDataType"},
    {flags::kSetOutputPortDataType, filled<&ssMethods::mdlSetOutputPortDataType>,
     [](SimStruct* S) { slots(S).mdlSetOutputPortDataType(S, index(S), value(S)); },
     "Unexpected call to mdlSetOutputPortDataType"},
    {flags::kSetInputPortWidth, [](SimStruct* S) { return dims_clear(S) && input_width_slot(S); },
     [](SimStruct* S) { slots(S).mdlSetInputPortWidth.width(S, index(S), value(S)); },
     "Unexpected call to mdlSetInputPortWidth"},
    {flags::kSetOutputPortWidth, [](SimStruct* S) { return dims_clear(S) && output_width_slot(S); },
     [](SimStruct* S) { slots(S).mdlSetOutputPortWidth.width(S, index(S), value(S)); },
     "Unexpected call to mdlSetOutputPortWidth"},
    {flags::kSetInputPortComplexSignal, filled<&ssMethods::mdlSetInputPortComplexSignal>,
     [](SimStruct* S) { slots(S).mdlSetInputPortComplexSignal(S, index(S), value(S)); },
     "Unexpected call to mdlSetInputPortComplexSignal"},
    {flags::kSetOutputPortComplexSignal, filled<&ssMethods::mdlSetOutputPortComplexSignal>,
     [](SimStruct* S) { slots(S).mdlSetOutputPortComplexSignal(S, index(S), value(S)); },
     "Unexpected call to mdlSetOutputPortComplexSignal"},
    {flags::kSetInputPortSampleTime, filled<&ssMethods::mdlSetInputPortSampleTime>,
     [](SimStruct* S) { slots(S).mdlSetInputPortSampleTime(S, index(S), ssGetCallPeriod(S), ssGetCallOffset(S)); },
     "Unexpected call to mdlSetInputPortSampleTime"},
    {flags::kSetOutputPortSampleTime, filled<&ssMethods::mdlSetOutputPortSampleTime>,
     [](SimStruct* S) { slots(S).mdlSetOutputPortSampleTime(S, index(S), ssGetCallPeriod(S), ssGetCallOffset(S)); },
     "Unexpected call to mdlSetOutputPortSampleTime"},
    {flags::kSetInputPortDimensionInfo, [](SimStruct* S) { return dims_set(S) && input_width_slot(S); },
     [](SimStruct* S) { slots(S).mdlSetInputPortWidth.dimension_info(S, index(S), ssGetCallDims(S)); },
     "Unexpected call to mdlSetInputPortDimensionInfo"},
    {flags::kSetOutputPortDimensionInfo, [](SimStruct* S) { return dims_set(S) && output_width_slot(S); },
     [](SimStruct* S) { slots(S).mdlSetOutputPortWidth.dimension_info(S, index(S), ssGetCallDims(S)); },
     "Unexpected call to mdlSetOutputPortDimensionInfo"},
    {flags::kSetInputPortFrameData, filled<&ssMethods::mdlSetInputPortFrameData>,
     [](SimStruct* S) { slots(S).mdlSetInputPortFrameData(S, index(S), value(S)); },
     "Unexpected call to mdlSetInputPortFrameData"},
    {flags::kSetDefaultPortDimensionInfo, filled<&ssMethods::mdlSetDefaultPortDimensionInfo>,
     [](SimStruct* S) { slots(S).mdlSetDefaultPortDimensionInfo(S); },
     "Unexpected call to mdlSetDefaultPortDimensionInfo"},
    {flags::kSetDefaultPortDataTypes, filled<&ssMethods::mdlSetDefaultPortDataTypes>,
     [](SimStruct* S) { slots(S).mdlSetDefaultPortDataTypes(S); }, "Unexpected call to mdlSetDefaultPortDataTypes"},
    {flags::kSetDefaultPortComplexSignals, filled<&ssMethods::mdlSetDefaultPortComplexSignals>,
     [](SimStruct* S) { slots(S).mdlSetDefaultPortComplexSignals(S); },
     "Unexpected call to mdlSetDefaultPortComplexSignals"},
    {flags::kInitializePropagationPass, filled<&ssMethods::mdlInitializePropagationPass>,
     [](SimStruct* S) { slots(S).mdlInitializePropagationPass(S, index(S)); },
     "Unexpected call to mdlInitializePropagationPass"},
    {flags::kGetSimState, nullptr, nullptr, "Unexpected call to mdlGetSimState (MDL_SIM_STATE not defined)"},
    {flags::kSetSimState, nullptr, nullptr, "Unexpected call to mdlSetSimState (MDL_SIM_STATE not defined)"},
#if SS_LAYOUT_64
    // The host's own symbolic-dimension functions; a host that left one empty
    // gets the message rather than a call through a null pointer.
    {flags::kSetInputPortSymbolicDimensions,
     [](SimStruct* S) { return dims_set(S) && input_width_slot(S) && S->u.f.input_symbolic_dims != nullptr; },
     [](SimStruct* S) { S->u.f.input_symbolic_dims(S, index(S), value(S)); },
     "Unexpected call to mdlSetInputPortSymbolicDimensions"},
    {flags::kSetOutputPortSymbolicDimensions,
     [](SimStruct* S) { return dims_set(S) && output_width_slot(S) && S->u.f.output_symbolic_dims != nullptr; },
     [](SimStruct* S) { S->u.f.output_symbolic_dims(S, index(S), value(S)); },
     "Unexpected call to mdlSetOutputPortSymbolicDimensions"},
#endif
};

// The table's rows by flag, so that the per-sample calls find theirs at once.
constexpr int kLowestFlag = 100;
constexpr int kHighestFlag = 151;
struct RowIndex {
  const FlagRow* rows[kHighestFlag - kLowestFlag + 1] = {};
};
constexpr RowIndex build_index() {
  RowIndex index;
  for (const FlagRow& row : kFlagTable) index.rows[row.flag - kLowestFlag] = &row;
  return index;
}
constexpr RowIndex kRowIndex = build_index();

const FlagRow* find_row(int flag) {
  if (flag < kLowestFlag || flag > kHighestFlag) return nullptr;
  return kRowIndex.rows[flag - kLowestFlag];
}

}  // namespace

void dispatch_flag(SimStruct* S, int flag) {
  const FlagRow* row = find_row(flag);
  if (row == nullptr) {
    ssSetErrorStatus(S, kInvalidFlag);
    return;
  }
  if (row->action != nullptr && (row->condition == nullptr || row->condition(S))) {
    row->action(S);
    return;
  }
  ssSetErrorStatus(S, row->message);
}

void dispatch(mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (plhs == nullptr) return;
  // The host hands the block's SimStruct over in the second left-hand slot.
  auto* S = reinterpret_cast<SimStruct*>(plhs[1]);
  if (S == nullptr) return;
  if (nrhs < 4 || prhs == nullptr || prhs[3] == nullptr) {
    ssSetErrorStatus(S, kInvalidFlag);
    return;
  }
  // Only a non-empty double array holds a flag: the host sends nothing else.
  const double* flag = mxIsEmpty(prhs[3]) ? nullptr : mxGetPr(prhs[3]);
  if (flag == nullptr) {
    ssSetErrorStatus(S, kInvalidFlag);
    return;
  }
  // NaN and out-of-range flags become INT32_MIN, which no row holds.
  dispatch_flag(S, truncate_to_int32(flag[0]));
}

}  // namespace corvel
