// One block as the host holds it: its SimStruct and everything hanging off it
// (model information, port records and signals, states, sample times,
// parameters), with the host's hooks: port counts and the generic function.
#ifndef CORVEL_HOST_BLOCK_INSTANCE_H
#define CORVEL_HOST_BLOCK_INSTANCE_H

#include <string>
#include <vector>

#include "sdk/mx_array.h"
#include "sdk/simstruct.h"

namespace corvel::host {

// A call the block made through the generic-function hook.
struct GenericCall {
  int code;
  int value;
  std::string text;                // code 299: the version text
  std::vector<std::string> names;  // code 3: the run-time parameter names
};

class BlockInstance {
 public:
  // root: the model's SimStruct, holder of the error status and the solver
  // settings; null makes the block its own root.
  explicit BlockInstance(std::string name = "corvel", SimStruct* root = nullptr);
  ~BlockInstance();
  BlockInstance(const BlockInstance&) = delete;
  BlockInstance& operator=(const BlockInstance&) = delete;

  SimStruct* S() { return &simstruct_; }

  // Dialog parameters, owned by the instance from here on.
  void set_params(std::vector<mxArray*> params);
  void set_param(int index, mxArray* param);
  // Puts `param` in place and hands back the array it replaces.
  mxArray* replace_param(int index, mxArray* param);

  void set_generic_hook(bool present);
  void refuse_port_counts(bool inputs, bool outputs);
  void set_solver(bool variable_step, double fixed_step_size);
  void set_owner(void* owner) { simstruct_.u.f.owner = owner; }

  // Once the widths are settled: the input signal, output buffers and states,
  // by the declared sizes. Returns false with a reason for an unusable size.
  bool allocate_signals(std::string* why);
  double* input(int port = 0) { return inputs_[static_cast<size_t>(port)].data(); }
  double* output(int port) { return outputs_[static_cast<size_t>(port)].data(); }
  size_t output_size(int port) const { return outputs_[static_cast<size_t>(port)].size(); }
  double* states() { return states_.data(); }
  size_t state_count() const { return states_.size(); }
  size_t output_port_count() const { return outputs_.size(); }

  const std::vector<GenericCall>& generic_calls() const { return generic_calls_; }
  const char* error() { return ssGetErrorStatus(&simstruct_); }
  void clear_error() { ssSetErrorStatus(&simstruct_, nullptr); }

 private:
  static int input_port_count_hook(void* self, int count);
  static int output_port_count_hook(void* self, int count);
  static void generic_hook(SimStruct* S, int code, int value, void* data);

  std::string name_;
  SimStruct simstruct_{};
  ssModelInfo model_info_{};
  std::vector<ssInputPort> input_ports_;
  std::vector<ssOutputPort> output_ports_;
  std::vector<mxArray*> params_;
  std::vector<const mxArray*> param_view_;
  std::vector<std::vector<double>> inputs_;
  std::vector<std::vector<double>> outputs_;
  std::vector<double> states_;
  double sample_times_[4] = {};
  double offset_times_[4] = {};
  bool refuse_inputs_ = false;
  bool refuse_outputs_ = false;
  std::vector<GenericCall> generic_calls_;
};

}  // namespace corvel::host

#endif
