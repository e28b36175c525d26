#include "host/block_instance.h"

#include "host/array_api.h"

namespace corvel::host {

namespace {
// The host's answer to a port-count declaration: refused when negative or
// when the test asks for a refusal; otherwise the count and fresh records.
template <typename Port>
int accept_port_count(SimStruct* S, SizeWord word, int count, bool refuse, std::vector<Port>& records, Port*& field) {
  if (count < 0 || refuse) return 0;
  ssFields& f = S->u.f;
  f.sizes[SIZE_FLAGS] = static_cast<int32_t>(static_cast<uint32_t>(f.sizes[SIZE_FLAGS]) | SS_FLAG_PORT_COUNT);
  f.sizes[word] = count;
  records.assign(static_cast<size_t>(count), Port{});
  field = count > 0 ? records.data() : nullptr;
  return 1;
}

}  // namespace

BlockInstance::BlockInstance(std::string name, SimStruct* root) : name_(std::move(name)) {
  ssFields& f = simstruct_.u.f;
  f.model_name = name_.c_str();
  f.path = name_.c_str();
  f.root = root != nullptr ? root : &simstruct_;
  f.model_info = root != nullptr ? root->u.f.model_info : &model_info_;
  f.sample_times = sample_times_;
  f.offset_times = offset_times_;
  f.set_num_input_ports = &input_port_count_hook;
  f.set_num_output_ports = &output_port_count_hook;
  f.port_count_arg = this;
  f.user_data = this;
  f.sizes[SIZE_VERSION] = SS_VERSION_WORD;
}

BlockInstance::~BlockInstance() {
  for (mxArray* p : params_) mxDestroyArray(p);
}

void BlockInstance::set_params(std::vector<mxArray*> params) {
  for (mxArray* p : params_) mxDestroyArray(p);
  params_ = std::move(params);
  param_view_.assign(params_.begin(), params_.end());
  simstruct_.u.f.params = param_view_.empty() ? nullptr : param_view_.data();
  simstruct_.u.f.params_given = static_cast<int32_t>(params_.size());
}

void BlockInstance::set_param(int index, mxArray* param) {
  mxDestroyArray(params_.at(static_cast<size_t>(index)));
  params_[static_cast<size_t>(index)] = param;
  param_view_[static_cast<size_t>(index)] = param;
}

mxArray* BlockInstance::replace_param(int index, mxArray* param) {
  mxArray* old = params_.at(static_cast<size_t>(index));
  params_[static_cast<size_t>(index)] = param;
  param_view_[static_cast<size_t>(index)] = param;
  return old;
}

void BlockInstance::set_generic_hook(bool present) { simstruct_.u.f.generic_fcn = present ? &generic_hook : nullptr; }

void BlockInstance::refuse_port_counts(bool inputs, bool outputs) {
  refuse_inputs_ = inputs;
  refuse_outputs_ = outputs;
}

void BlockInstance::set_solver(bool variable_step, double fixed_step_size) {
  model_info_.f.variable_step = variable_step ? 1 : 0;
  model_info_.f.fixed_step_size = fixed_step_size;
}

int BlockInstance::input_port_count_hook(void* self, int count) {
  auto* block = static_cast<BlockInstance*>(self);
  return accept_port_count(block->S(), SIZE_NUM_INPUT_PORTS, count, block->refuse_inputs_, block->input_ports_,
                           block->simstruct_.u.f.input_ports);
}

int BlockInstance::output_port_count_hook(void* self, int count) {
  auto* block = static_cast<BlockInstance*>(self);
  return accept_port_count(block->S(), SIZE_NUM_OUTPUT_PORTS, count, block->refuse_outputs_, block->output_ports_,
                           block->simstruct_.u.f.output_ports);
}

void BlockInstance::generic_hook(SimStruct* S, int code, int value, void* data) {
  auto* block = static_cast<BlockInstance*>(S->u.f.user_data);
  GenericCall call{code, value, {}, {}};
  if (code == GEN_FCN_VERSION_GENERATED_IN && data != nullptr) call.text = static_cast<const char*>(data);
  if (code == GEN_FCN_REG_RUN_TIME_PARAMS && data != nullptr) {
    const auto* const* names = static_cast<const char* const*>(data);
    for (int i = 0; i < ssGetNumSFcnParams(S); ++i) call.names.emplace_back(names[i]);
  }
  block->generic_calls_.push_back(call);
}

bool BlockInstance::allocate_signals(std::string* why) {
  ssFields& f = simstruct_.u.f;
  if (f.sizes[SIZE_NUM_SAMPLE_TIMES] > 4) {
    *why = "more sample times than the host supports (" + std::to_string(f.sizes[SIZE_NUM_SAMPLE_TIMES]) + ")";
    return false;
  }
  inputs_.assign(input_ports_.size(), {});
  for (size_t p = 0; p < input_ports_.size(); ++p) {
    const int width = input_ports_[p].f.width;
    if (width < 0) {
      *why = "input port " + std::to_string(p) + " has no settled width";
      return false;
    }
    inputs_[p].assign(static_cast<size_t>(width), 0.0);
    input_ports_[p].f.signal = inputs_[p].data();
  }
  outputs_.assign(output_ports_.size(), {});
  for (size_t p = 0; p < output_ports_.size(); ++p) {
    const int width = output_ports_[p].f.width;
    if (width < 0) {
      *why = "output port " + std::to_string(p) + " has no settled width";
      return false;
    }
    outputs_[p].assign(static_cast<size_t>(width), 0.0);
    output_ports_[p].f.signal = outputs_[p].data();
  }
  const int states = f.sizes[SIZE_NUM_DISC_STATES];
  states_.assign(static_cast<size_t>(states > 0 ? states : 0), 0.0);
  f.disc_states = states_.empty() ? nullptr : states_.data();
  return true;
}

}  // namespace corvel::host
