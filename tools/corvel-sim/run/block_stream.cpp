#include "run/block_stream.h"

#include "host/mex_module.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace corvel::sim {

BlockStream::BlockStream(host::MexFunction entry, const BlockParameters& block, size_t channels, double step)
    : channels_(channels), step_(step) {
  host::SolverSettings solver;
  solver.step = step;
  engine_ = std::make_unique<host::Engine>(entry, solver);
  for (size_t c = 0; c < channels; ++c) {
    engine_->add_block({block_gain(block, c), -1.0, block.order}, [this, c](long k, double) {
      return piece_[static_cast<size_t>(k - piece_start_) * channels_ + c];
    });
  }
  engine_->initialize();
  width_ = channels > 0 ? static_cast<int>(engine_->output_width(0, 2)) : 0;
}

BlockStream::~BlockStream() {
  if (!started_) return;
  try {
    engine_->finish();
  } catch (...) {
    // mdlTerminate does nothing; a model being dropped has no one to tell.
  }
}

long BlockStream::samples_done() const { return started_ ? engine_->steps_done() : 0; }

void BlockStream::feed(const double* samples, size_t count, const StreamSink& sink) {
  if (count == 0) return;
  piece_ = samples;
  if (!started_) {
    piece_start_ = 0;  // the initial conditions take the first sample
    engine_->start();
    started_ = true;
  }
  piece_start_ = engine_->steps_done();
  const long first = piece_start_;
  const host::OutputSink each = [&](const host::SampleView& view) {
    sink(static_cast<size_t>(view.step - first), static_cast<size_t>(view.block), view);
  };
  for (size_t k = 0; k < count; ++k) engine_->advance(each);
}

BlockStream::State BlockStream::state() {
  State state;
  state.started = started_;
  if (started_) state.run = engine_->state();
  return state;
}

void BlockStream::restore(const State& state) {
  if (!state.started) {
    started_ = false;  // the next sample sets the initial conditions again
    return;
  }
  if (!started_) {
    // The initial conditions run once (they set up the kernel's own state
    // in this process), on a stand-in sample: the state put back replaces
    // everything they set.
    const std::vector<double> stand_in(channels_, 0.0);
    piece_ = stand_in.data();
    piece_start_ = 0;
    engine_->start();
    piece_ = nullptr;
    started_ = true;
  }
  engine_->restore(state.run);
}

void BlockStream::change(int index, double value) {
  // Every block makes the same check of the same value: the first block's
  // refusal comes before any block has changed.
  for (size_t c = 0; c < channels_; ++c) {
    engine_->change_parameter(static_cast<int>(c), index, mxCreateDoubleScalar(value));
  }
}

void BlockStream::change_gain(double gain) { change(0, gain); }

void BlockStream::change_gains(const std::vector<double>& gains) {
  if (gains.size() != channels_) {
    throw std::invalid_argument(std::to_string(gains.size()) + " gains for " + std::to_string(channels_) +
                                " channels (one gain for each)");
  }
  for (size_t c = 0; c < channels_; ++c) {
    engine_->change_parameter(static_cast<int>(c), 0, mxCreateDoubleScalar(gains[c]));
  }
}

void BlockStream::change_order(double order) { change(2, order); }

}  // namespace corvel::sim
