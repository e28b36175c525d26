// Our simulation engine: it plays the simulation host over a MEX S-function,
// driving every block through mexFunction as the host does (registration,
// propagation, sample times, initial conditions, outputs and update per
// sample, terminate) and reading the error status after every call.
#ifndef CORVEL_HOST_ENGINE_H
#define CORVEL_HOST_ENGINE_H

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "host/array_api.h"
#include "host/block_instance.h"
#include "host/mex_module.h"

namespace corvel::host {

struct SolverSettings {
  bool variable_step = false;  // inherited sample times then resolve to continuous (0)
  double step = 0.01;          // the fixed step, or the major step of the variable-step solver
};

// What one block sees at a sample: its input and, after mdlOutputs, its outputs.
struct SampleView {
  int block;
  long step;  // solver step index
  double t;
  double u;
  const double* error;        // output 0 (written by the previous mdlUpdate)
  const double* estimate;     // output 1
  const double* derivatives;  // output 2
  int order;                  // output 2's width
};

using InputSource = std::function<double(long step, double t)>;

// What a run under way holds between two solver steps: the step it is at,
// each block's countdown to its next sample hit, its discrete states and
// its outputs (the error output is written by the update before it is
// shown). A run restored from it goes on with the same bits.
struct RunState {
  long step = 0;
  std::vector<long> until_hit;                    // per block
  std::vector<std::vector<double>> states;        // per block
  std::vector<std::vector<double>> outputs;       // per block: its ports' values, one port after another
};
using OutputSink = std::function<void(const SampleView&)>;

class Engine {
 public:
  Engine(MexFunction entry, SolverSettings solver);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // A block of the model with its dialog parameters (copied) and its input.
  // Returns the block's index.
  int add_block(const std::vector<double>& params, InputSource input, std::string name = "corvel");
  // The same with parameters as arrays of any class; the engine takes them.
  int add_block_arrays(std::vector<mxArray*> params, InputSource input, std::string name = "corvel");

  // Registration, propagation and sample times of every block. Throws
  // EngineError with the block's own text when a call reports an error.
  void initialize();
  // Initial conditions, then `steps` solver steps (outputs, then updates, of
  // the blocks with a sample hit), then terminate.
  void run(long steps, const OutputSink& sink);
  // The same run in pieces, for samples that arrive as they come: initial
  // conditions at start(), one solver step at each advance(), terminate at
  // finish(). run() is these three.
  void start();
  void advance(const OutputSink& sink);
  void finish();
  long steps_done() const { return step_; }
  // The run's state between two steps (after start()), and the same put
  // back into a run of the same blocks, started. restore() throws
  // EngineError for a state of another shape.
  RunState state();
  void restore(const RunState& state);
  // A dialog parameter changed during the run, as the host changes one: the
  // new value in place, then the block's mdlCheckParameters; a value it
  // refuses is taken back (the old one stays) and EngineError carries the
  // block's own text. Takes the array.
  void change_parameter(int block, int index, mxArray* value);
  // The block sits in an enabled subsystem that is re-enabled, its states
  // reset, at solver step `step` of the next run: its initial conditions run
  // again there, before that step's outputs, with the input of that step.
  void reset_at(int block, long step);

  double sample_time(int block) const;  // after initialize: the settled period
  size_t output_width(int block, int port) const;  // after initialize
  SimStruct* simstruct(int block);

  // The call trace: a line per mexFunction call, kept (trace()) or, with a
  // sink, handed over as each call returns, so that a long run's trace
  // needs no memory.
  void enable_trace(bool on) { trace_on_ = on; }
  void trace_to(std::function<void(const std::string&)> sink) {
    trace_sink_ = std::move(sink);
    trace_on_ = static_cast<bool>(trace_sink_);
  }
  const std::vector<std::string>& trace() const { return trace_; }

 private:
  struct Block;
  void call_flag(Block& block, int flag, int call_index = 0, int call_value = 0);
  void register_block(Block& block);
  void propagate(Block& block);
  void settle_sample_time(Block& block);
  void check(Block& block, const MexCallResult& result, int flag);
  const mxArray* flag_array(int flag);

  MexFunction entry_;
  SolverSettings solver_;
  SimStruct root_{};
  ssModelInfo model_info_{};
  std::vector<std::unique_ptr<Block>> blocks_;
  std::vector<mxArray*> flag_arrays_;
  mxArray* empty_ = nullptr;
  void record_trace(const std::string& line) {
    if (trace_sink_) {
      trace_sink_(line);
    } else {
      trace_.push_back(line);
    }
  }
  bool trace_on_ = false;
  std::vector<std::string> trace_;
  std::function<void(const std::string&)> trace_sink_;
  bool initialized_ = false;
  std::vector<std::pair<long, int>> resets_;  // (step, block), in rising step
  // The run under way.
  long step_ = 0;
  std::vector<long> until_hit_;  // steps until each block's next sample hit
  size_t next_reset_ = 0;
};

}  // namespace corvel::host

#endif
