// The block over samples that arrive as they come: a model of one block per
// signal, kept running between calls. It makes the engine calls a whole run
// makes, in the same order, so a record cut anywhere into pieces gives the
// bits of the record run whole.
#ifndef CORVEL_SIM_BLOCK_STREAM_H
#define CORVEL_SIM_BLOCK_STREAM_H

#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

#include "host/array_api.h"
#include "host/engine.h"
#include "run/run_description.h"

namespace corvel::sim {

// Each signal's outputs at a sample: `row` counts from the first sample of
// the piece being fed.
using StreamSink = std::function<void(size_t row, size_t channel, const host::SampleView& view)>;

class BlockStream {
 public:
  // Registers and sets up a block for each of `channels` signals sampled
  // every `step` seconds (each block inherits that step), with `block`'s gain
  // (or each channel's own from its gains) and order. Throws host::EngineError with the block's text for parameters
  // it refuses.
  BlockStream(host::MexFunction entry, const BlockParameters& block, size_t channels, double step);
  ~BlockStream();
  BlockStream(const BlockStream&) = delete;
  BlockStream& operator=(const BlockStream&) = delete;

  // `count` rows of `channels` samples, row after row. The first sample ever
  // fed sets the initial conditions.
  void feed(const double* samples, size_t count, const StreamSink& sink);
  // The gain (P1) or the order (P3) changed from the next sample on, in every
  // block, as the host changes a tunable parameter: each block checks the new
  // value; a refused one leaves the old value in every block and throws
  // host::EngineError with the block's text.
  void change_gain(double gain);
  void change_order(double order);
  // Each channel's block a gain of its own, from the next sample on (the
  // block checks its order, never its gain). Throws std::invalid_argument
  // for a list that is not one gain a channel.
  void change_gains(const std::vector<double>& gains);

  // Where the blocks are between two samples, and the same put back into a
  // stream made with the same channels, step and order (its gain and order
  // changed to what the saved one had): it goes on with the saved one's bits.
  // A stream fed nothing has no state yet (started false); one put back to
  // that takes its next sample as its first.
  struct State {
    bool started = false;
    host::RunState run;
  };
  State state();
  // Throws host::EngineError for a state of another shape.
  void restore(const State& state);

  size_t channels() const { return channels_; }
  int width() const { return width_; }  // the third output's, settled at set-up
  long samples_done() const;
  double step() const { return step_; }

 private:
  void change(int index, double value);

  std::unique_ptr<host::Engine> engine_;
  size_t channels_;
  double step_;
  int width_ = 0;
  bool started_ = false;
  const double* piece_ = nullptr;  // the samples being fed, from row `piece_start_`
  long piece_start_ = 0;
};

}  // namespace corvel::sim

#endif
