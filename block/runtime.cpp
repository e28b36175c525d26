#include "block/runtime.h"

#include "block/messages.h"
#include "block/parameters.h"
#include "block/setup.h"
#include "kernel/differentiator.h"

namespace corvel {

namespace {

double input_sample(SimStruct* S) { return static_cast<const double*>(ssGetInputPortSignal(S, 0))[0]; }

double* output(SimStruct* S, int port) { return static_cast<double*>(ssGetOutputPortSignal(S, port)); }

}  // namespace

void mdlInitializeConditions(SimStruct* S) {
  differentiator_initialize();
  double* z = ssGetDiscStates(S);
  z[0] = input_sample(S);
  for (int i = 1; i < kDiscreteStates; ++i) z[i] = 0.0;
}

void mdlOutputs(SimStruct* S, int) {
  const double n = parameter_value(S, P3);
  const double* z = ssGetDiscStates(S);
  if (n > 0 && n >= 1) {
    // A new order accepted during the run does not change the width settled
    // in propagation, and there are only ten derivative states.
    const int width = ssGetOutputPortWidth(S, 2);
    double* derivatives = output(S, 2);
    for (int i = 1; i <= n && i <= width && i < kDiscreteStates; ++i) derivatives[i - 1] = z[i];
  }
  output(S, 1)[0] = z[0];
}

void mdlUpdate(SimStruct* S, int) {
  const double L = parameter_value(S, P1);
  const double n = parameter_value(S, P3);
  double z_next[kDiscreteStates] = {};

  double h = ssGetSampleTime(S, 0);
  if (h == 0) {
    if (ssIsVariableStepSolver(S)) ssSetErrorStatus(S, messages::kContinuousSampleTime);
    else h = ssGetFixedStepSize(S);
  }

  double* z = ssGetDiscStates(S);
  differentiator_step(input_sample(S), z, L, h, n, output(S, 0), z_next);
  for (int i = 0; i < kDiscreteStates; ++i) z[i] = z_next[i];
}

void mdlTerminate(SimStruct*) {}

void mdlZeroCrossings(SimStruct* S) { ssSetErrorStatus(S, messages::kZeroCrossings); }

void mdlGetTimeOfNextVarHit(SimStruct* S) { ssSetErrorStatus(S, messages::kTimeOfNextVarHit); }

}  // namespace corvel
