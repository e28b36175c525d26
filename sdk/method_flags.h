// The host's method flags: the fourth argument of a dispatch call (nlhs < 0)
// names the method the host wants run. One list of them, with each method's
// name and the message a block answers when it has no such method, for the
// gateway that answers the calls, the engine that makes them and the tests.
#ifndef CORVEL_SDK_METHOD_FLAGS_H
#define CORVEL_SDK_METHOD_FLAGS_H

namespace corvel::method_flags {

enum Flag : int {
  kInitializeSizes = 0,  // the registration and command-line entry, not a dispatch call
  kInitializeSampleTimes = 101,
  kInitializeConditions = 102,
  kGetTimeOfNextVarHit = 103,
  kOutputs = 104,
  kUpdate = 105,
  kTerminate = 107,
  kZeroCrossings = 108,
  kSetWorkWidths = 111,
  kCheckParameters = 112,
  kSetInputPortDataType = 113,
  kSetOutputPortDataType = 114,
  kSetInputPortWidth = 115,
  kSetOutputPortWidth = 116,
  kSetInputPortComplexSignal = 120,
  kSetOutputPortComplexSignal = 121,
  kSetInputPortSampleTime = 122,
  kSetOutputPortSampleTime = 123,
  kSetInputPortDimensionInfo = 126,
  kSetOutputPortDimensionInfo = 127,
  kSetInputPortFrameData = 128,
  kSetDefaultPortDimensionInfo = 131,
  kSetDefaultPortDataTypes = 132,
  kSetDefaultPortComplexSignals = 133,
  kInitializePropagationPass = 142,
  kGetSimState = 144,
  kSetSimState = 145,
  kSetInputPortSymbolicDimensions = 149,
  kSetOutputPortSymbolicDimensions = 150,
};

// The two methods the block never has, and what it answers when asked.
inline constexpr const char* kZeroCrossingsMessage =
    "To have nonsampled zero crossings, you must define MDL_ZERO_CROSSINGS and have a mdlZeroCrossings routine";
inline constexpr const char* kTimeOfNextVarHitMessage =
    "To have a variable sample time, you must define MDL_GET_TIME_OF_NEXT_VAR_HIT and add a mdlGetTimeOfNextVarHit "
    "routine";
// The answer to a flag that is in no row.
inline constexpr const char* kInvalidFlagMessage = "Invalid flag encountered in simulink.c";

struct MethodFlag {
  Flag flag;
  const char* method;
  // Set when the method cannot run (no row action, or its condition fails);
  // null where the method always runs.
  const char* message;
};

#define CORVEL_UNEXPECTED(method) method, "Unexpected call to " method
inline constexpr MethodFlag kMethodFlags[] = {
    {kInitializeSampleTimes, "mdlInitializeSampleTimes", nullptr},
    {kInitializeConditions, CORVEL_UNEXPECTED("mdlInitializeConditions")},
    {kGetTimeOfNextVarHit, "mdlGetTimeOfNextVarHit", kTimeOfNextVarHitMessage},
    {kOutputs, "mdlOutputs", nullptr},
    {kUpdate, CORVEL_UNEXPECTED("mdlUpdate")},
    {kTerminate, "mdlTerminate", nullptr},
    {kZeroCrossings, "mdlZeroCrossings", kZeroCrossingsMessage},
    {kSetWorkWidths, CORVEL_UNEXPECTED("mdlSetWorkWidths")},
    {kCheckParameters, CORVEL_UNEXPECTED("mdlCheckParameters")},
    {kSetInputPortDataType, CORVEL_UNEXPECTED("mdlSetInputPortDataType")},
    {kSetOutputPortDataType, CORVEL_UNEXPECTED("mdlSetOutputPortDataType")},
    {kSetInputPortWidth, CORVEL_UNEXPECTED("mdlSetInputPortWidth")},
    {kSetOutputPortWidth, CORVEL_UNEXPECTED("mdlSetOutputPortWidth")},
    {kSetInputPortComplexSignal, CORVEL_UNEXPECTED("mdlSetInputPortComplexSignal")},
    {kSetOutputPortComplexSignal, CORVEL_UNEXPECTED("mdlSetOutputPortComplexSignal")},
    {kSetInputPortSampleTime, CORVEL_UNEXPECTED("mdlSetInputPortSampleTime")},
    {kSetOutputPortSampleTime, CORVEL_UNEXPECTED("mdlSetOutputPortSampleTime")},
    {kSetInputPortDimensionInfo, CORVEL_UNEXPECTED("mdlSetInputPortDimensionInfo")},
    {kSetOutputPortDimensionInfo, CORVEL_UNEXPECTED("mdlSetOutputPortDimensionInfo")},
    {kSetInputPortFrameData, CORVEL_UNEXPECTED("mdlSetInputPortFrameData")},
    {kSetDefaultPortDimensionInfo, CORVEL_UNEXPECTED("mdlSetDefaultPortDimensionInfo")},
    {kSetDefaultPortDataTypes, CORVEL_UNEXPECTED("mdlSetDefaultPortDataTypes")},
    {kSetDefaultPortComplexSignals, CORVEL_UNEXPECTED("mdlSetDefaultPortComplexSignals")},
    {kInitializePropagationPass, CORVEL_UNEXPECTED("mdlInitializePropagationPass")},
    {kGetSimState, "mdlGetSimState", "Unexpected call to mdlGetSimState (MDL_SIM_STATE not defined)"},
    {kSetSimState, "mdlSetSimState", "Unexpected call to mdlSetSimState (MDL_SIM_STATE not defined)"},
    {kSetInputPortSymbolicDimensions, CORVEL_UNEXPECTED("mdlSetInputPortSymbolicDimensions")},
    {kSetOutputPortSymbolicDimensions, CORVEL_UNEXPECTED("mdlSetOutputPortSymbolicDimensions")},
};
#undef CORVEL_UNEXPECTED

// The list's entry for a flag; null for any number not in it.
constexpr const MethodFlag* find(int flag) {
  for (const MethodFlag& f : kMethodFlags) {
    if (f.flag == flag) return &f;
  }
  return nullptr;
}

}  // namespace corvel::method_flags

#endif
