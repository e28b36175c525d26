/* The host's per-block structure, SimStruct, in our own layout, and the
 * operations on it that the block and the gateway use. The layout has the
 * host's sizes: 848 bytes with 64-bit pointers and 520 with 32-bit ones; which
 * applies follows from the pointer size alone. */
#ifndef CORVEL_SDK_SIMSTRUCT_H
#define CORVEL_SDK_SIMSTRUCT_H

#include <stddef.h>
#include <stdint.h>

#include "sdk/mx_array.h"

#if UINTPTR_MAX > 0xFFFFFFFFu
#define SS_LAYOUT_64 1
#else
#define SS_LAYOUT_64 0
#endif

#if SS_LAYOUT_64
#define SS_SIMSTRUCT_BYTES 848
#define SS_MODEL_INFO_BYTES 584
#define SS_INPUT_PORT_BYTES 72
#define SS_OUTPUT_PORT_BYTES 72
#define SS_HOST_RECORD_BYTES 72
#define SS_HOST_SUBRECORD_BYTES 32
#define SS_SIZE_WORDS 40
#else
#define SS_SIMSTRUCT_BYTES 520
#define SS_MODEL_INFO_BYTES 400
#define SS_INPUT_PORT_BYTES 64
#define SS_OUTPUT_PORT_BYTES 56
#define SS_SIZE_WORDS 38
#endif

/* The version word: the SimStruct's size in bytes times 10000 plus 229. It
 * stands in the size block and ends the registration vector. */
#define SS_VERSION_WORD (SS_SIMSTRUCT_BYTES * 10000 + 229)

/* Host constants. */
#define SS_DOUBLE 0
#define COMPLEX_NO 0
#define DYNAMICALLY_SIZED (-1)
#define INHERITED_SAMPLE_TIME (-1.0)
#define FRAME_INHERITED (-1)
#define FRAME_NO 0
#define FRAME_YES 1

/* Codes of the host's generic-function hook. */
#define GEN_FCN_REG_RUN_TIME_PARAMS 3
#define GEN_FCN_CALL_280 280
#define GEN_FCN_VERSION_GENERATED_IN 299

/* The size block: one signed 32-bit word per element, returned as the sizes
 * vector by the command-line entry. Elements not named here are host words. */
enum SizeWord {
  SIZE_NUM_CONT_STATES = 0,
  SIZE_NUM_DISC_STATES = 1,
  SIZE_NUM_OUTPUT_PORTS = 2,
  SIZE_NUM_INPUT_PORTS = 3,
  SIZE_CALL_INDEX = 4, /* port index, pass or task selector of a flag call */
  SIZE_NUM_SAMPLE_TIMES = 6,
  SIZE_NUM_SFCN_PARAMS = 7, /* declared, not given */
  SIZE_NUM_RWORK = 8,
  SIZE_NUM_IWORK = 9,
  SIZE_NUM_PWORK = 10,
  SIZE_HOST_UNSIGNED_FIRST = 15, /* 15..18: returned as unsigned */
  SIZE_HOST_UNSIGNED_LAST = 18,
  SIZE_VERSION = 19,
  SIZE_NUM_NONSAMPLED_ZCS = 20,
  SIZE_NUM_MODES = 22,
  SIZE_OPTIONS = 23, /* returned as unsigned */
  SIZE_FLAGS = 31
};

/* Bits of the flag word (element 31). */
#define SS_FLAG_DIMENSION_METHODS 0x1u
#define SS_FLAG_PORT_COUNT 0x2u

typedef struct SimStruct_tag SimStruct;

/* Method-slot signatures. */
typedef void (*mdlFcn)(SimStruct* S);
typedef void (*mdlTidFcn)(SimStruct* S, int tid);
typedef void (*mdlPortFcn)(SimStruct* S, int port, int value);
typedef void (*mdlPortDimsFcn)(SimStruct* S, int port, const void* dims);
typedef void (*mdlPortSampleTimeFcn)(SimStruct* S, int port, double period, double offset);
typedef void (*mdlPassFcn)(SimStruct* S, int pass);
/* Host functions reached through the SimStruct. */
typedef int (*ssPortCountHook)(void* arg, int count);        /* 1 = accepted, 0 = refused */
typedef void (*ssGenericFcn)(SimStruct* S, int code, int value, void* data);
typedef void (*ssSymbolicDimsFcn)(SimStruct* S, int port, int dims_id);

/* The input-width and output-width slots hold width methods while the
 * dimension-methods flag is clear and dimension-info methods while it is set. */
typedef union {
  mdlPortFcn width;
  mdlPortDimsFcn dimension_info;
} ssPortWidthSlot;

typedef struct {
  mdlFcn mdlInitializeSizes;
  mdlFcn mdlInitializeSampleTimes;
  mdlFcn mdlInitializeConditions;
  mdlFcn mdlStart;
  mdlTidFcn mdlOutputs;
  mdlTidFcn mdlUpdate;
  mdlTidFcn mdlDerivatives;
  mdlFcn mdlTerminate;
  mdlFcn mdlZeroCrossings;
  mdlFcn mdlGetTimeOfNextVarHit;
  mdlFcn mdlSetWorkWidths;
  mdlFcn mdlCheckParameters;
  mdlPortFcn mdlSetInputPortDataType;
  mdlPortFcn mdlSetOutputPortDataType;
  ssPortWidthSlot mdlSetInputPortWidth;
  ssPortWidthSlot mdlSetOutputPortWidth;
  mdlPortFcn mdlSetInputPortComplexSignal;
  mdlPortFcn mdlSetOutputPortComplexSignal;
  mdlPortSampleTimeFcn mdlSetInputPortSampleTime;
  mdlPortSampleTimeFcn mdlSetOutputPortSampleTime;
  mdlPortFcn mdlSetInputPortFrameData;
  mdlFcn mdlSetDefaultPortDimensionInfo;
  mdlFcn mdlSetDefaultPortDataTypes;
  mdlFcn mdlSetDefaultPortComplexSignals;
  mdlPassFcn mdlInitializePropagationPass;
} ssMethods;

typedef struct {
  int32_t width;
  int32_t data_type;
  int32_t complex_signal;
  int32_t direct_feedthrough;
  int32_t required_contiguous;
  int32_t frame_data;
  const void* signal; /* contiguous elements of the port's data type */
} ssInputPortFields;

typedef struct {
  int32_t width;
  int32_t data_type;
  int32_t complex_signal;
  int32_t frame_data;
  void* signal;
} ssOutputPortFields;

typedef union {
  ssInputPortFields f;
  unsigned char bytes[SS_INPUT_PORT_BYTES];
} ssInputPort;

typedef union {
  ssOutputPortFields f;
  unsigned char bytes[SS_OUTPUT_PORT_BYTES];
} ssOutputPort;

/* The model-information block: solver settings and the values a flag call
 * proposes. The first word is 1 in a command-line SimStruct. */
typedef struct {
  int32_t first_word;
  int32_t call_value;      /* width, data type, complexity, frame or dims id */
  const void* call_dims;   /* proposed dimension record */
  double call_period;      /* proposed port sample time */
  double call_offset;
  int32_t variable_step;   /* nonzero under a variable-step solver */
  double fixed_step_size;
  double time;             /* current simulation time */
} ssModelInfoFields;

typedef union {
  ssModelInfoFields f;
  unsigned char bytes[SS_MODEL_INFO_BYTES];
} ssModelInfo;

#if SS_LAYOUT_64
/* The 64-bit layout's host record: nine pointers, the fourth holding a
 * 32-byte record of its own. */
typedef struct {
  void* slots[9];
} ssHostRecord;
typedef struct {
  unsigned char bytes[SS_HOST_SUBRECORD_BYTES];
} ssHostSubrecord;
#define SS_HOST_RECORD_SUBRECORD_SLOT 3
#endif

typedef struct {
  const char* model_name;
  const char* path;
  SimStruct* root;          /* the error status lives here */
  void* owner;              /* host member; null in a command-line SimStruct */
  int32_t sizes[SS_SIZE_WORDS];
  const char* error_status; /* read by the host after each callback */
  ssModelInfo* model_info;
  int32_t params_given;
  const mxArray** params;
  ssInputPort* input_ports;
  ssOutputPort* output_ports;
  double* sample_times;     /* one period per declared sample time */
  double* offset_times;
  int32_t inheritance_rule; /* model-reference sample-time inheritance */
  double* disc_states;
  ssMethods methods;
  ssGenericFcn generic_fcn; /* null: generic calls are skipped */
  ssPortCountHook set_num_input_ports;
  ssPortCountHook set_num_output_ports;
  void* port_count_arg;
  ssSymbolicDimsFcn input_symbolic_dims;
  ssSymbolicDimsFcn output_symbolic_dims;
  void* host_record;        /* 64-bit layout: a 72-byte record */
  void* user_data;          /* the host's own use */
} ssFields;

struct SimStruct_tag {
  union {
    ssFields f;
    unsigned char bytes[SS_SIMSTRUCT_BYTES];
  } u;
};

#ifdef __cplusplus
static_assert(sizeof(SimStruct) == SS_SIMSTRUCT_BYTES, "SimStruct has the host's size");
static_assert(sizeof(ssModelInfo) == SS_MODEL_INFO_BYTES, "model-information block has the host's size");
static_assert(sizeof(ssInputPort) == SS_INPUT_PORT_BYTES, "input port record has the host's size");
static_assert(sizeof(ssOutputPort) == SS_OUTPUT_PORT_BYTES, "output port record has the host's size");
#if SS_LAYOUT_64
static_assert(sizeof(ssHostRecord) == SS_HOST_RECORD_BYTES, "host record has the host's size");
static_assert(sizeof(ssHostSubrecord) == SS_HOST_SUBRECORD_BYTES, "host subrecord has the host's size");
#endif
#endif

/* ---- Operations ----------------------------------------------------------
 * Inline, as the host's own are macros over its structure: the block needs no
 * library for them. */

static inline SimStruct* ssRootOf(SimStruct* S) { return S->u.f.root != NULL ? S->u.f.root : S; }

/* Parameters. ssGetSFcnParam gives null for an index beyond those given. */
static inline void ssSetNumSFcnParams(SimStruct* S, int n) { S->u.f.sizes[SIZE_NUM_SFCN_PARAMS] = n; }
static inline int ssGetNumSFcnParams(SimStruct* S) { return S->u.f.sizes[SIZE_NUM_SFCN_PARAMS]; }
static inline int ssGetSFcnParamsCount(SimStruct* S) { return S->u.f.params_given; }
static inline const mxArray* ssGetSFcnParam(SimStruct* S, int i) {
  return i >= 0 && i < S->u.f.params_given && S->u.f.params != NULL ? S->u.f.params[i] : NULL;
}

/* Errors: the status belongs to the root model; the text must outlive the callback. */
static inline void ssSetErrorStatus(SimStruct* S, const char* text) { ssRootOf(S)->u.f.error_status = text; }
static inline const char* ssGetErrorStatus(SimStruct* S) { return ssRootOf(S)->u.f.error_status; }

/* Sizes. */
static inline void ssSetNumContStates(SimStruct* S, int n) { S->u.f.sizes[SIZE_NUM_CONT_STATES] = n; }
static inline void ssSetNumDiscStates(SimStruct* S, int n) { S->u.f.sizes[SIZE_NUM_DISC_STATES] = n; }
static inline int ssGetNumDiscStates(SimStruct* S) { return S->u.f.sizes[SIZE_NUM_DISC_STATES]; }
static inline void ssSetNumSampleTimes(SimStruct* S, int n) { S->u.f.sizes[SIZE_NUM_SAMPLE_TIMES] = n; }
static inline void ssSetNumRWork(SimStruct* S, int n) { S->u.f.sizes[SIZE_NUM_RWORK] = n; }
static inline void ssSetNumIWork(SimStruct* S, int n) { S->u.f.sizes[SIZE_NUM_IWORK] = n; }
static inline void ssSetNumPWork(SimStruct* S, int n) { S->u.f.sizes[SIZE_NUM_PWORK] = n; }
static inline void ssSetNumModes(SimStruct* S, int n) { S->u.f.sizes[SIZE_NUM_MODES] = n; }
static inline void ssSetNumNonsampledZCs(SimStruct* S, int n) { S->u.f.sizes[SIZE_NUM_NONSAMPLED_ZCS] = n; }
static inline void ssSetOptions(SimStruct* S, uint32_t options) { S->u.f.sizes[SIZE_OPTIONS] = (int32_t)options; }
static inline uint32_t ssGetOptions(SimStruct* S) { return (uint32_t)S->u.f.sizes[SIZE_OPTIONS]; }

/* Port counts go through the host's hooks: 1 on success, 0 when refused (or
 * when the host installed no hook). */
static inline int ssSetNumInputPorts(SimStruct* S, int n) {
  return S->u.f.set_num_input_ports != NULL ? S->u.f.set_num_input_ports(S->u.f.port_count_arg, n) : 0;
}
static inline int ssSetNumOutputPorts(SimStruct* S, int n) {
  return S->u.f.set_num_output_ports != NULL ? S->u.f.set_num_output_ports(S->u.f.port_count_arg, n) : 0;
}
static inline int ssGetNumInputPorts(SimStruct* S) { return S->u.f.sizes[SIZE_NUM_INPUT_PORTS]; }
static inline int ssGetNumOutputPorts(SimStruct* S) { return S->u.f.sizes[SIZE_NUM_OUTPUT_PORTS]; }

/* Ports. */
static inline void ssSetInputPortWidth(SimStruct* S, int p, int w) { S->u.f.input_ports[p].f.width = w; }
static inline int ssGetInputPortWidth(SimStruct* S, int p) { return S->u.f.input_ports[p].f.width; }
static inline void ssSetInputPortDataType(SimStruct* S, int p, int t) { S->u.f.input_ports[p].f.data_type = t; }
static inline int ssGetInputPortDataType(SimStruct* S, int p) { return S->u.f.input_ports[p].f.data_type; }
static inline void ssSetInputPortComplexSignal(SimStruct* S, int p, int c) {
  S->u.f.input_ports[p].f.complex_signal = c;
}
static inline void ssSetInputPortDirectFeedThrough(SimStruct* S, int p, int d) {
  S->u.f.input_ports[p].f.direct_feedthrough = d;
}
static inline void ssSetInputPortRequiredContiguous(SimStruct* S, int p, int c) {
  S->u.f.input_ports[p].f.required_contiguous = c;
}
static inline void ssSetInputPortFrameData(SimStruct* S, int p, int frame) {
  S->u.f.input_ports[p].f.frame_data = frame;
}
static inline int ssGetInputPortFrameData(SimStruct* S, int p) { return S->u.f.input_ports[p].f.frame_data; }
static inline const void* ssGetInputPortSignal(SimStruct* S, int p) { return S->u.f.input_ports[p].f.signal; }
static inline void ssSetOutputPortWidth(SimStruct* S, int p, int w) { S->u.f.output_ports[p].f.width = w; }
static inline int ssGetOutputPortWidth(SimStruct* S, int p) { return S->u.f.output_ports[p].f.width; }
static inline void ssSetOutputPortDataType(SimStruct* S, int p, int t) { S->u.f.output_ports[p].f.data_type = t; }
static inline int ssGetOutputPortDataType(SimStruct* S, int p) { return S->u.f.output_ports[p].f.data_type; }
static inline void ssSetOutputPortComplexSignal(SimStruct* S, int p, int c) {
  S->u.f.output_ports[p].f.complex_signal = c;
}
static inline void* ssGetOutputPortSignal(SimStruct* S, int p) { return S->u.f.output_ports[p].f.signal; }

/* Time. */
static inline void ssSetSampleTime(SimStruct* S, int i, double t) { S->u.f.sample_times[i] = t; }
static inline double ssGetSampleTime(SimStruct* S, int i) { return S->u.f.sample_times[i]; }
static inline void ssSetOffsetTime(SimStruct* S, int i, double t) { S->u.f.offset_times[i] = t; }
static inline void ssSetModelReferenceSampleTimeInheritanceRule(SimStruct* S, int rule) {
  S->u.f.inheritance_rule = rule;
}
static inline int ssIsVariableStepSolver(SimStruct* S) {
  return ssRootOf(S)->u.f.model_info->f.variable_step != 0;
}
static inline double ssGetFixedStepSize(SimStruct* S) { return ssRootOf(S)->u.f.model_info->f.fixed_step_size; }

/* States. */
static inline double* ssGetDiscStates(SimStruct* S) { return S->u.f.disc_states; }

/* The generic-function hook; skipped when the host leaves it empty. */
static inline void ssCallGenericFcn(SimStruct* S, int code, int value, void* data) {
  if (S->u.f.generic_fcn != NULL) S->u.f.generic_fcn(S, code, value, data);
}
static inline void ssSetSimulinkVersionGeneratedIn(SimStruct* S, const char* version) {
  ssCallGenericFcn(S, GEN_FCN_VERSION_GENERATED_IN, 0, (void*)version);
}
static inline void ssRegAllTunableParamsAsRunTimeParams(SimStruct* S, const char** names) {
  ssCallGenericFcn(S, GEN_FCN_REG_RUN_TIME_PARAMS, 0, (void*)names);
}

/* Gateway only: method slots, flag-call values, the size block. */
static inline ssMethods* ssGetMethods(SimStruct* S) { return &S->u.f.methods; }
static inline int32_t* ssGetSizeBlock(SimStruct* S) { return S->u.f.sizes; }
static inline int ssGetCallIndex(SimStruct* S) { return S->u.f.sizes[SIZE_CALL_INDEX]; }
static inline int ssGetCallValue(SimStruct* S) { return S->u.f.model_info->f.call_value; }
static inline const void* ssGetCallDims(SimStruct* S) { return S->u.f.model_info->f.call_dims; }
static inline double ssGetCallPeriod(SimStruct* S) { return S->u.f.model_info->f.call_period; }
static inline double ssGetCallOffset(SimStruct* S) { return S->u.f.model_info->f.call_offset; }
static inline int ssGetDimensionMethodsFlag(SimStruct* S) {
  return ((uint32_t)S->u.f.sizes[SIZE_FLAGS] & SS_FLAG_DIMENSION_METHODS) != 0;
}
static inline void ssClearDimensionMethodsFlag(SimStruct* S) {
  S->u.f.sizes[SIZE_FLAGS] = (int32_t)((uint32_t)S->u.f.sizes[SIZE_FLAGS] & ~SS_FLAG_DIMENSION_METHODS);
}
/* The host's symbolic-dimension functions (64-bit layout); null where it has none. */
static inline ssSymbolicDimsFcn ssGetInputPortSymbolicDimsFcn(SimStruct* S) { return S->u.f.input_symbolic_dims; }
static inline ssSymbolicDimsFcn ssGetOutputPortSymbolicDimsFcn(SimStruct* S) { return S->u.f.output_symbolic_dims; }
/* Whether a host member owns the block; a command-line SimStruct has none. */
static inline int ssHasOwner(SimStruct* S) { return S->u.f.owner != NULL; }
static inline const char* ssGetModelName(SimStruct* S) { return S->u.f.model_name; }

/* Gateway only: filling in a SimStruct of its own for a command-line call. */
static inline void ssSetModelInfo(SimStruct* S, ssModelInfo* info) { S->u.f.model_info = info; }
static inline void ssSetHostRecord(SimStruct* S, void* record) { S->u.f.host_record = record; }
static inline void ssSetRootSS(SimStruct* S, SimStruct* root) { S->u.f.root = root; }
static inline void ssSetModelName(SimStruct* S, const char* name) { S->u.f.model_name = name; }
static inline void ssSetPath(SimStruct* S, const char* path) { S->u.f.path = path; }
static inline void ssSetSFcnParamsArray(SimStruct* S, const mxArray** params, int count) {
  S->u.f.params = params;
  S->u.f.params_given = count;
}
static inline void ssSetPortCountHooks(SimStruct* S, ssPortCountHook inputs, ssPortCountHook outputs, void* arg) {
  S->u.f.set_num_input_ports = inputs;
  S->u.f.set_num_output_ports = outputs;
  S->u.f.port_count_arg = arg;
}
static inline void ssSetInputPortsArray(SimStruct* S, ssInputPort* ports) { S->u.f.input_ports = ports; }
static inline void ssSetOutputPortsArray(SimStruct* S, ssOutputPort* ports) { S->u.f.output_ports = ports; }

#endif
