#include "host/engine.h"

#include "host/registration.h"
#include "host/sample_hits.h"
#include "sdk/method_flags.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace corvel::host {

namespace {

// The span of the method flags, for the engine's cache of flag arrays.
constexpr int kFirstFlag = method_flags::kInitializeSampleTimes;
constexpr int kLastFlag = method_flags::kSetOutputPortSymbolicDimensions;

std::string format_double(double x) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", x);
  return buffer;
}

// The method a flag asks for, for the trace.
const char* method_of(int flag) {
  if (flag == method_flags::kInitializeSizes) return "mdlInitializeSizes";
  const method_flags::MethodFlag* f = method_flags::find(flag);
  return f != nullptr ? f->method : "unknown method";
}

}  // namespace

struct Engine::Block {
  int index;
  std::string name;
  std::unique_ptr<BlockInstance> instance;
  InputSource input;
  double period = 0.0;  // settled sample time
  long every = 1;       // solver steps between sample hits
};

Engine::Engine(MexFunction entry, SolverSettings solver) : entry_(entry), solver_(solver) {
  root_.u.f.root = &root_;
  root_.u.f.model_info = &model_info_;
  model_info_.f.variable_step = solver.variable_step ? 1 : 0;
  model_info_.f.fixed_step_size = solver.step;
  flag_arrays_.assign(kLastFlag - kFirstFlag + 1, nullptr);
  empty_ = mxCreateDoubleMatrix(0, 0, mxREAL);
}

Engine::~Engine() {
  for (mxArray* a : flag_arrays_) mxDestroyArray(a);
  mxDestroyArray(empty_);
}

int Engine::add_block(const std::vector<double>& params, InputSource input, std::string name) {
  std::vector<mxArray*> arrays;
  for (double p : params) arrays.push_back(mxCreateDoubleScalar(p));
  return add_block_arrays(std::move(arrays), std::move(input), std::move(name));
}

int Engine::add_block_arrays(std::vector<mxArray*> params, InputSource input, std::string name) {
  auto block = std::make_unique<Block>();
  block->index = static_cast<int>(blocks_.size());
  block->name = name;
  block->instance = std::make_unique<BlockInstance>(name, &root_);
  block->instance->set_params(std::move(params));
  block->instance->set_generic_hook(true);
  block->instance->set_owner(this);  // a block of a model: the host's own calls are made
  block->input = std::move(input);
  blocks_.push_back(std::move(block));
  return blocks_.back()->index;
}

SimStruct* Engine::simstruct(int block) { return blocks_.at(static_cast<size_t>(block))->instance->S(); }

size_t Engine::output_width(int block, int port) const {
  return blocks_.at(static_cast<size_t>(block))->instance->output_size(port);
}

double Engine::sample_time(int block) const { return blocks_.at(static_cast<size_t>(block))->period; }

const mxArray* Engine::flag_array(int flag) {
  mxArray*& a = flag_arrays_[static_cast<size_t>(flag - kFirstFlag)];
  if (a == nullptr) a = mxCreateDoubleScalar(flag);
  return a;
}

void Engine::check(Block& block, const MexCallResult& result, int flag) {
  const char* status = ssGetErrorStatus(&root_);
  if (result.ok && status == nullptr) return;
  const std::string text = !result.ok ? result.error : std::string(status);
  ssSetErrorStatus(&root_, nullptr);
  throw EngineError("block " + std::to_string(block.index) + " (" + block.name + "), " + method_of(flag) + ": " + text,
                    text);
}

void Engine::call_flag(Block& block, int flag, int call_index, int call_value) {
  SimStruct* S = block.instance->S();
  ssGetSizeBlock(S)[SIZE_CALL_INDEX] = call_index;
  model_info_.f.call_value = call_value;
  // The host hands the SimStruct over in the second left-hand slot.
  mxArray* plhs[2] = {nullptr, reinterpret_cast<mxArray*>(S)};
  const mxArray* prhs[4] = {empty_, empty_, empty_, flag_array(flag)};
  const MexCallResult result = call_mex(entry_, -1, plhs, 4, prhs);
  if (trace_on_) {
    const char* status = ssGetErrorStatus(&root_);
    // The per-sample calls say when they happened and what the input was.
    std::string when;
    if (flag == method_flags::kInitializeConditions || flag == method_flags::kOutputs || flag == method_flags::kUpdate) {
      when = "t=" + format_double(model_info_.f.time) + " u=" + format_double(block.instance->input()[0]) + " ";
    }
    record_trace("block " + std::to_string(block.index) + ": " + when + "mexFunction(nlhs=-1, flag=" +
                     std::to_string(flag) + " " + method_of(flag) + ", callIndex=" + std::to_string(call_index) +
                     ", callValue=" + std::to_string(call_value) + ") -> " +
                     (!result.ok ? "error \"" + result.error + "\""
                      : status != nullptr ? "error status \"" + std::string(status) + "\""
                                          : std::string("ok")));
  }
  check(block, result, flag);
}

void Engine::register_block(Block& block) {
  SimStruct* S = block.instance->S();
  mxArray* vector = make_registration_vector(S);
  const int rows = static_cast<int>(mxGetM(vector));
  mxArray* flag = mxCreateDoubleScalar(0);

  std::vector<const mxArray*> prhs = {empty_, vector, empty_, flag};
  const int given = S->u.f.params_given;
  for (int i = 0; i < given; ++i) prhs.push_back(S->u.f.params[i]);
  mxArray* plhs[1] = {nullptr};
  const MexCallResult result = call_mex(entry_, 1, plhs, static_cast<int>(prhs.size()), prhs.data());
  mxDestroyArray(flag);
  if (trace_on_) {
    std::string words_text;
    for (int i = 0; i < rows; ++i) words_text += (i > 0 ? ", " : "") + format_double(mxGetPr(vector)[i]);
    record_trace("block " + std::to_string(block.index) + ": mexFunction(nlhs=1, nrhs=" +
                     std::to_string(prhs.size()) + ", flag=0 registration, vector=[" + words_text + "]) -> " +
                     (result.ok ? "sizes vector of " + std::to_string(mxGetM(plhs[0])) : "error \"" + result.error + "\""));
  }
  mxDestroyArray(vector);
  if (plhs[0] != nullptr) mxDestroyArray(plhs[0]);
  check(block, result, 0);

  const int declared = ssGetNumSFcnParams(S);
  if (declared != given) {
    throw EngineError("block " + std::to_string(block.index) + " (" + block.name + "): the S-function expects " +
                      std::to_string(declared) + " parameters but was given " + std::to_string(given));
  }
}

void Engine::propagate(Block& block) {
  SimStruct* S = block.instance->S();
  // The model feeds every block a scalar double, unframed.
  for (int p = 0; p < ssGetNumInputPorts(S); ++p) call_flag(block, method_flags::kSetInputPortWidth, p, 1);
  for (int p = 0; p < ssGetNumOutputPorts(S); ++p) {
    if (ssGetOutputPortWidth(S, p) == DYNAMICALLY_SIZED) call_flag(block, method_flags::kSetOutputPortWidth, p, DYNAMICALLY_SIZED);
  }
  call_flag(block, method_flags::kSetDefaultPortDimensionInfo);
  for (int p = 0; p < ssGetNumInputPorts(S); ++p) call_flag(block, method_flags::kSetInputPortDataType, p, SS_DOUBLE);
  call_flag(block, method_flags::kSetDefaultPortDataTypes);
  for (int p = 0; p < ssGetNumInputPorts(S); ++p) call_flag(block, method_flags::kSetInputPortFrameData, p, FRAME_NO);
  call_flag(block, method_flags::kSetWorkWidths);
}

void Engine::settle_sample_time(Block& block) {
  call_flag(block, method_flags::kInitializeSampleTimes);
  SimStruct* S = block.instance->S();
  double period = ssGetSampleTime(S, 0);
  const std::string who = "block " + std::to_string(block.index) + " (" + block.name + ")";
  if (period == INHERITED_SAMPLE_TIME) {
    // Fed by a continuous source: a fixed-step solver gives its step, a
    // variable-step one leaves the block continuous.
    period = solver_.variable_step ? 0.0 : solver_.step;
    ssSetSampleTime(S, 0, period);
  }
  if (!(period >= 0.0) || std::isinf(period)) {
    throw EngineError(who + ": sample time " + format_double(period) + " cannot be scheduled");
  }
  block.period = period;
  block.every = 1;
  if (period > 0.0) {
    block.every = solver_steps_per_hit(period, solver_.step);
    if (block.every == 0) {
      throw EngineError(who + ": sample time " + format_double(period) + " is not a multiple of the solver step " +
                        format_double(solver_.step));
    }
  }
}

void Engine::initialize() {
  if (!(solver_.step > 0.0) || std::isinf(solver_.step)) {
    throw EngineError("the solver step must be a positive number, not " + format_double(solver_.step));
  }
  for (auto& block : blocks_) register_block(*block);
  for (auto& block : blocks_) propagate(*block);
  for (auto& block : blocks_) {
    settle_sample_time(*block);
    std::string why;
    if (!block->instance->allocate_signals(&why)) {
      throw EngineError("block " + std::to_string(block->index) + " (" + block->name + "): " + why);
    }
  }
  initialized_ = true;
}

void Engine::reset_at(int block, long step) {
  blocks_.at(static_cast<size_t>(block));  // a block of the model
  resets_.emplace_back(step, block);
  std::sort(resets_.begin(), resets_.end());
}

void Engine::run(long steps, const OutputSink& sink) {
  start();
  while (step_ < steps) advance(sink);
  finish();
}

void Engine::start() {
  if (!initialized_) initialize();
  step_ = 0;
  next_reset_ = 0;
  until_hit_.assign(blocks_.size(), 0);
  for (auto& block : blocks_) {
    block->instance->input()[0] = block->input(0, 0.0);
    call_flag(*block, method_flags::kInitializeConditions);
  }
}

void Engine::advance(const OutputSink& sink) {
  const long k = step_;
  const double t = static_cast<double>(k) * solver_.step;
  model_info_.f.time = t;
  for (; next_reset_ < resets_.size() && resets_[next_reset_].first <= k; ++next_reset_) {
    if (resets_[next_reset_].first < k) continue;
    Block& block = *blocks_[static_cast<size_t>(resets_[next_reset_].second)];
    block.instance->input()[0] = block.input(k, t);
    call_flag(block, method_flags::kInitializeConditions);
  }
  // A countdown to each block's next sample hit, not a division per step.
  for (auto& block : blocks_) {
    if (until_hit_[static_cast<size_t>(block->index)] != 0) continue;
    BlockInstance& b = *block->instance;
    const double u = block->input(k, t);
    b.input()[0] = u;
    call_flag(*block, method_flags::kOutputs);
    if (sink) {
      sink(SampleView{block->index, k, t, u, b.output(0), b.output(1), b.output(2), static_cast<int>(b.output_size(2))});
    }
  }
  for (auto& block : blocks_) {
    long& until = until_hit_[static_cast<size_t>(block->index)];
    if (until == 0) {
      call_flag(*block, method_flags::kUpdate);
      until = block->every;
    }
    --until;
  }
  ++step_;
}

RunState Engine::state() {
  RunState state;
  state.step = step_;
  state.until_hit = until_hit_;
  for (auto& block : blocks_) {
    BlockInstance& b = *block->instance;
    state.states.emplace_back(b.states(), b.states() + b.state_count());
    std::vector<double> outputs;
    for (int port = 0; port < static_cast<int>(b.output_port_count()); ++port) {
      outputs.insert(outputs.end(), b.output(port), b.output(port) + b.output_size(port));
    }
    state.outputs.push_back(std::move(outputs));
  }
  return state;
}

void Engine::restore(const RunState& state) {
  const size_t n = blocks_.size();
  bool fits = state.until_hit.size() == n && state.states.size() == n && state.outputs.size() == n && state.step >= 0;
  for (size_t i = 0; fits && i < n; ++i) {
    BlockInstance& b = *blocks_[i]->instance;
    size_t outputs = 0;
    for (int port = 0; port < static_cast<int>(b.output_port_count()); ++port) outputs += b.output_size(port);
    fits = state.states[i].size() == b.state_count() && state.outputs[i].size() == outputs &&
           state.until_hit[i] >= 0 && state.until_hit[i] < blocks_[i]->every;
  }
  if (!fits) throw EngineError("the run's state is not one of this model's");
  step_ = state.step;
  until_hit_ = state.until_hit;
  for (size_t i = 0; i < n; ++i) {
    BlockInstance& b = *blocks_[i]->instance;
    std::copy(state.states[i].begin(), state.states[i].end(), b.states());
    const double* from = state.outputs[i].data();
    for (int port = 0; port < static_cast<int>(b.output_port_count()); ++port) {
      std::copy(from, from + b.output_size(port), b.output(port));
      from += b.output_size(port);
    }
  }
}

void Engine::finish() {
  for (auto& block : blocks_) call_flag(*block, method_flags::kTerminate);
}

void Engine::change_parameter(int block_index, int index, mxArray* value) {
  Block& block = *blocks_.at(static_cast<size_t>(block_index));
  SimStruct* S = block.instance->S();
  if (index < 0 || index >= S->u.f.params_given) {
    mxDestroyArray(value);
    throw EngineError("block " + std::to_string(block_index) + " (" + block.name + ") has no parameter " +
                      std::to_string(index + 1));
  }
  mxArray* old = block.instance->replace_param(index, value);
  try {
    call_flag(block, method_flags::kCheckParameters);
  } catch (...) {
    block.instance->set_param(index, old);
    throw;
  }
  mxDestroyArray(old);
}

}  // namespace corvel::host
