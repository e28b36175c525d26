#include "gateway/dispatch.h"

#include "block/parameters.h"
#include "block/runtime.h"
#include "block/setup.h"
#include "sdk/method_flags.h"
#include "kernel/whole_number.h"

namespace corvel {

namespace {

using Condition = bool (*)(SimStruct*);
using Action = void (*)(SimStruct*);
using method_flags::Flag;

// One row per flag the block answers: the method runs when its condition
// holds (or there is none); otherwise, or for rows without an action, the
// flag's message (from the one list of flags) is set.
struct FlagRow {
  Flag flag;
  Condition condition;
  Action action;
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
    {Flag::kInitializeSampleTimes, nullptr, [](SimStruct* S) { mdlInitializeSampleTimes(S); }},
    {Flag::kInitializeConditions, filled<&ssMethods::mdlInitializeConditions>,
     [](SimStruct* S) { mdlInitializeConditions(S); }},
    {Flag::kGetTimeOfNextVarHit, nullptr, nullptr},
    {Flag::kOutputs, nullptr, [](SimStruct* S) { mdlOutputs(S, output_task_id(index(S))); }},
    {Flag::kUpdate, filled<&ssMethods::mdlUpdate>, [](SimStruct* S) { mdlUpdate(S, 0); }},
    {Flag::kTerminate, nullptr, [](SimStruct* S) { mdlTerminate(S); }},
    {Flag::kZeroCrossings, nullptr, nullptr},
    {Flag::kSetWorkWidths, filled<&ssMethods::mdlSetWorkWidths>, [](SimStruct* S) { slots(S).mdlSetWorkWidths(S); }},
    {Flag::kCheckParameters, filled<&ssMethods::mdlCheckParameters>,
     [](SimStruct* S) { slots(S).mdlCheckParameters(S); }},
    {Flag::kSetInputPortDataType, filled<&ssMethods::mdlSetInputPortDataType>,
     [](SimStruct* S) { slots(S).mdlSetInputPortDataType(S, index(S), value(S)); }},
    {Flag::kSetOutputPortDataType, filled<&ssMethods::mdlSetOutputPortDataType>,
     [](SimStruct* S) { slots(S).mdlSetOutputPortDataType(S, index(S), value(S)); }},
    {Flag::kSetInputPortWidth, [](SimStruct* S) { return dims_clear(S) && input_width_slot(S); },
     [](SimStruct* S) { slots(S).mdlSetInputPortWidth.width(S, index(S), value(S)); }},
    {Flag::kSetOutputPortWidth, [](SimStruct* S) { return dims_clear(S) && output_width_slot(S); },
     [](SimStruct* S) { slots(S).mdlSetOutputPortWidth.width(S, index(S), value(S)); }},
    {Flag::kSetInputPortComplexSignal, filled<&ssMethods::mdlSetInputPortComplexSignal>,
     [](SimStruct* S) { slots(S).mdlSetInputPortComplexSignal(S, index(S), value(S)); }},
    {Flag::kSetOutputPortComplexSignal, filled<&ssMethods::mdlSetOutputPortComplexSignal>,
     [](SimStruct* S) { slots(S).mdlSetOutputPortComplexSignal(S, index(S), value(S)); }},
    {Flag::kSetInputPortSampleTime, filled<&ssMethods::mdlSetInputPortSampleTime>,
     [](SimStruct* S) { slots(S).mdlSetInputPortSampleTime(S, index(S), ssGetCallPeriod(S), ssGetCallOffset(S)); }},
    {Flag::kSetOutputPortSampleTime, filled<&ssMethods::mdlSetOutputPortSampleTime>,
     [](SimStruct* S) { slots(S).mdlSetOutputPortSampleTime(S, index(S), ssGetCallPeriod(S), ssGetCallOffset(S)); }},
    {Flag::kSetInputPortDimensionInfo, [](SimStruct* S) { return dims_set(S) && input_width_slot(S); },
     [](SimStruct* S) { slots(S).mdlSetInputPortWidth.dimension_info(S, index(S), ssGetCallDims(S)); }},
    {Flag::kSetOutputPortDimensionInfo, [](SimStruct* S) { return dims_set(S) && output_width_slot(S); },
     [](SimStruct* S) { slots(S).mdlSetOutputPortWidth.dimension_info(S, index(S), ssGetCallDims(S)); }},
    {Flag::kSetInputPortFrameData, filled<&ssMethods::mdlSetInputPortFrameData>,
     [](SimStruct* S) { slots(S).mdlSetInputPortFrameData(S, index(S), value(S)); }},
    {Flag::kSetDefaultPortDimensionInfo, filled<&ssMethods::mdlSetDefaultPortDimensionInfo>,
     [](SimStruct* S) { slots(S).mdlSetDefaultPortDimensionInfo(S); }},
    {Flag::kSetDefaultPortDataTypes, filled<&ssMethods::mdlSetDefaultPortDataTypes>,
     [](SimStruct* S) { slots(S).mdlSetDefaultPortDataTypes(S); }},
    {Flag::kSetDefaultPortComplexSignals, filled<&ssMethods::mdlSetDefaultPortComplexSignals>,
     [](SimStruct* S) { slots(S).mdlSetDefaultPortComplexSignals(S); }},
    {Flag::kInitializePropagationPass, filled<&ssMethods::mdlInitializePropagationPass>,
     [](SimStruct* S) { slots(S).mdlInitializePropagationPass(S, index(S)); }},
    {Flag::kGetSimState, nullptr, nullptr},
    {Flag::kSetSimState, nullptr, nullptr},
#if SS_LAYOUT_64
    // The host's own symbolic-dimension functions; a host that left one empty
    // gets the message rather than a call through a null pointer.
    {Flag::kSetInputPortSymbolicDimensions,
     [](SimStruct* S) { return dims_set(S) && input_width_slot(S) && ssGetInputPortSymbolicDimsFcn(S) != nullptr; },
     [](SimStruct* S) { ssGetInputPortSymbolicDimsFcn(S)(S, index(S), value(S)); }},
    {Flag::kSetOutputPortSymbolicDimensions,
     [](SimStruct* S) { return dims_set(S) && output_width_slot(S) && ssGetOutputPortSymbolicDimsFcn(S) != nullptr; },
     [](SimStruct* S) { ssGetOutputPortSymbolicDimsFcn(S)(S, index(S), value(S)); }},
#endif
};

// Each row with its flag's message.
struct IndexedRow {
  const FlagRow* row = nullptr;
  const char* message = nullptr;
};

// The table's rows by flag, so that the per-sample calls find theirs at once.
constexpr int kLowestFlag = method_flags::kInitializeSampleTimes;
constexpr int kHighestFlag = method_flags::kSetOutputPortSymbolicDimensions;
struct RowIndex {
  IndexedRow rows[kHighestFlag - kLowestFlag + 1] = {};
};
constexpr RowIndex build_index() {
  RowIndex index;
  for (const FlagRow& row : kFlagTable) index.rows[row.flag - kLowestFlag] = {&row, method_flags::find(row.flag)->message};
  return index;
}
constexpr RowIndex kRowIndex = build_index();

const IndexedRow* find_row(int flag) {
  if (flag < kLowestFlag || flag > kHighestFlag || kRowIndex.rows[flag - kLowestFlag].row == nullptr) return nullptr;
  return &kRowIndex.rows[flag - kLowestFlag];
}

}  // namespace

void dispatch_flag(SimStruct* S, int flag) {
  const IndexedRow* indexed = find_row(flag);
  if (indexed == nullptr) {
    ssSetErrorStatus(S, method_flags::kInvalidFlagMessage);
    return;
  }
  const FlagRow& row = *indexed->row;
  if (row.action != nullptr && (row.condition == nullptr || row.condition(S))) {
    row.action(S);
    return;
  }
  ssSetErrorStatus(S, indexed->message);
}

void dispatch(mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
  if (plhs == nullptr) return;
  // The host hands the block's SimStruct over in the second left-hand slot.
  auto* S = reinterpret_cast<SimStruct*>(plhs[1]);
  if (S == nullptr) return;
  if (nrhs < 4 || prhs == nullptr || prhs[3] == nullptr) {
    ssSetErrorStatus(S, method_flags::kInvalidFlagMessage);
    return;
  }
  // Only a non-empty double array holds a flag: the host sends nothing else.
  const double* flag = mxIsEmpty(prhs[3]) ? nullptr : mxGetPr(prhs[3]);
  if (flag == nullptr) {
    ssSetErrorStatus(S, method_flags::kInvalidFlagMessage);
    return;
  }
  // NaN and out-of-range flags become INT32_MIN, which no row holds.
  dispatch_flag(S, truncate_to_int32(flag[0]));
}

}  // namespace corvel
