#include "run/block_stream.h"

#include "host/mex_module.h"

namespace corvel::sim {

BlockStream::BlockStream(host::MexFunction entry, const BlockParameters& block, size_t channels, double step)
    : channels_(channels), step_(step) {
  host::SolverSettings solver;
  solver.step = step;
  engine_ = std::make_unique<host::Engine>(entry, solver);
  for (size_t c = 0; c < channels; ++c) {
    engine_->add_block({block.gain, -1.0, block.order}, [this, c](long k, double) {
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

long BlockStream::samples_done() const { return engine_->steps_done(); }

void BlockStream::feed(const double* samples, size_t count, const StreamSink& sink) {
  if (count == 0) return;
  piece_ = samples;
  piece_start_ = engine_->steps_done();
  if (!started_) {
    engine_->start();
    started_ = true;
  }
  const long first = piece_start_;
  const host::OutputSink each = [&](const host::SampleView& view) {
    sink(static_cast<size_t>(view.step - first), static_cast<size_t>(view.block), view);
  };
  for (size_t k = 0; k < count; ++k) engine_->advance(each);
}

void BlockStream::change(int index, double value) {
  // Every block makes the same check of the same value: the first block's
  // refusal comes before any block has changed.
  for (size_t c = 0; c < channels_; ++c) {
    engine_->change_parameter(static_cast<int>(c), index, mxCreateDoubleScalar(value));
  }
}

void BlockStream::change_gain(double gain) { change(0, gain); }
void BlockStream::change_order(double order) { change(2, order); }

}  // namespace corvel::sim
