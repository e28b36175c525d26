// corvel._corvel: the block's run, stream and tune for numpy arrays. The
// arrays come in checked and converted by the package (C-ordered float64,
// time along the first axis); what runs is corvel-sim's own run: the record,
// the engine and the MEX file.
//
// The MEX file's kernel keeps module-wide state (its special values and its
// transition matrices, kept per step size, so objects of different sample
// times may take turns), so two threads must not call into one copy of it at
// once: each call holds a kernel (kernels.h), with the interpreter's lock
// released; threads with objects of their own run on copies of their own,
// side by side. A fork waits for every kernel to be free, so that the child
// finds each lock open and each kernel whole.
//
// Long calls look for Ctrl-C between pieces of their work: a run stops and
// raises KeyboardInterrupt; a stream interrupted in an update goes back to
// where it was before it (no sample fed without its result returned).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <pthread.h>
#include <unistd.h>
#include <cmath>
#include <csignal>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/errors.h"
#include "host/engine.h"
#include "host/mex_module.h"
#include "input/missing_samples.h"
#include "input/record.h"
#include "kernels.h"
#include "common/number_text.h"
#include "run/block_stream.h"
#include "run/prediction_score.h"
#include "run/sample_span.h"
#include "run/run_description.h"
#include "run/simulate.h"
#include "tune/tune.h"

namespace py = pybind11;
using corvel::host::EngineError;
using corvel::python::Kernel;
namespace sim = corvel::sim;

namespace {

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Once the interpreter ends, the block takes no more calls: the call under
// way stops at its next look for Ctrl-C, and the block stays held, so that
// no daemon thread is inside the MEX file while the process exits.
std::atomic<bool> ending{false};
class Ending : public std::runtime_error {
 public:
  Ending() : std::runtime_error("corvel: the interpreter is ending; the block takes no more calls") {}
};

// The thread that ended the block (the interpreter's, at exit).
std::atomic<pthread_t> ending_thread{};

// The interpreter's lock let go while a call waits for the block and runs
// it. A thread that comes back once the interpreter is ending does not take
// that lock again (the interpreter would end the thread under this code):
// it waits here until the process is gone.
class ReleaseInterpreter {
 public:
  ReleaseInterpreter() = default;
  ~ReleaseInterpreter() {
    if (!ending.load() || pthread_equal(ending_thread.load(), pthread_self())) return;
    for (;;) pause();
  }
  ReleaseInterpreter(const ReleaseInterpreter&) = delete;
  ReleaseInterpreter& operator=(const ReleaseInterpreter&) = delete;

 private:
  py::gil_scoped_release release_;
};

// Holding a kernel of the block for a call: the one a stream keeps, or for a
// whole-record call whichever is free. The kernel held is the thread's, so
// that a fork from inside a call (a tuning's worker processes) does not wait
// for it.
class HoldBlock {
 public:
  HoldBlock() {
    if (ending.load()) throw Ending();
    kernel_ = &corvel::python::lock_kernel_for_call();
    corvel::python::held_kernel() = kernel_;
  }
  explicit HoldBlock(Kernel& kernel) : kernel_(&kernel) {
    if (ending.load()) throw Ending();
    kernel.lock.lock();
    corvel::python::held_kernel() = kernel_;
  }
  HoldBlock(Kernel& kernel, std::adopt_lock_t) : kernel_(&kernel) { corvel::python::held_kernel() = kernel_; }
  ~HoldBlock() {
    corvel::python::held_kernel() = nullptr;
    kernel_->lock.unlock();
  }
  HoldBlock(const HoldBlock&) = delete;
  HoldBlock& operator=(const HoldBlock&) = delete;
  corvel::host::MexFunction entry() const { return kernel_->entry; }

 private:
  Kernel* kernel_;
};

// Ctrl-C during a long call, seen without the interpreter's lock: while one
// runs, SIGINT also sets a flag of ours before the interpreter's own handler
// (called as before) takes note of it.
std::atomic<bool> interrupt_seen{false};
std::mutex watch_lock;
int watching = 0;
struct sigaction interpreters_handler {};
void on_interrupt(int number) {
  interrupt_seen.store(true);
  const struct sigaction& before = interpreters_handler;
  if ((before.sa_flags & SA_SIGINFO) == 0 && before.sa_handler != SIG_DFL && before.sa_handler != SIG_IGN) {
    before.sa_handler(number);
  }
}

// A Ctrl-C thrown through the block's run: no std::exception, so that no
// handler of a failure takes it for one.
struct Interrupted {};

class WatchInterrupts {
 public:
  WatchInterrupts() {
    const std::lock_guard<std::mutex> lock(watch_lock);
    if (watching++ > 0) return;
    interrupt_seen.store(false);
    struct sigaction ours {};
    ours.sa_handler = on_interrupt;
    sigemptyset(&ours.sa_mask);
    if (sigaction(SIGINT, nullptr, &interpreters_handler) != 0 ||
        (interpreters_handler.sa_flags & SA_SIGINFO) != 0 || interpreters_handler.sa_handler == SIG_IGN) {
      return;  // a handler we cannot pass the signal on to: left as it is
    }
    ours.sa_flags = interpreters_handler.sa_flags;
    sigaction(SIGINT, &ours, nullptr);
  }
  ~WatchInterrupts() {
    const std::lock_guard<std::mutex> lock(watch_lock);
    if (--watching > 0) return;
    struct sigaction now {};
    // Put back only where nobody has set another handler meanwhile.
    if (sigaction(SIGINT, nullptr, &now) == 0 && (now.sa_flags & SA_SIGINFO) == 0 && now.sa_handler == on_interrupt) {
      sigaction(SIGINT, &interpreters_handler, nullptr);
    }
  }
  WatchInterrupts(const WatchInterrupts&) = delete;
  WatchInterrupts& operator=(const WatchInterrupts&) = delete;
  // Between pieces of work: throws Interrupted once Ctrl-C came.
  static void check() {
    if (interrupt_seen.load(std::memory_order_relaxed)) throw Interrupted{};
    if (ending.load(std::memory_order_relaxed)) throw Ending();
  }
};

// How a piece of work in the block ended: whole, refused (the block's own
// text, or the record's), or cut short by Ctrl-C.
struct Outcome {
  std::string failure;
  bool interrupted = false;
};
template <class Work>
Outcome outcome_of(Work&& work) {
  Outcome done;
  try {
    work();
  } catch (const Interrupted&) {
    done.interrupted = true;
  } catch (const EngineError& e) {
    done.failure = e.block_text().empty() ? e.what() : e.block_text();
  } catch (const std::exception& e) {
    done.failure = e.what();
  }
  return done;
}

// Rows of samples between two looks for Ctrl-C: about a millisecond's work.
constexpr size_t kRowsBetweenLooks = 4096;

// With the interpreter's lock: the KeyboardInterrupt the interpreter's
// handler raises; returns where a handler of the program's took Ctrl-C
// without raising.
void raise_interrupt() {
  interrupt_seen.store(false);
  if (PyErr_CheckSignals() != 0) throw py::error_already_set();
}

// The block's refusal carries the block's own text, as the host shows it.
[[noreturn]] void rethrow_as_value_error(const EngineError& e) {
  throw py::value_error(e.block_text().empty() ? e.what() : e.block_text());
}

// Rows x channels of C-ordered samples.
struct Samples {
  const double* data;
  size_t rows, channels;
};

Samples samples_of(const Array& u) {
  if (u.ndim() != 2) throw py::value_error("corvel: samples must be rows x channels");
  return {u.data(), static_cast<size_t>(u.shape(0)), static_cast<size_t>(u.shape(1))};
}

// Which of the five outputs a call gives back (t, u, error, signal,
// derivatives): one left out is never made, so a record's derivatives alone
// take their own memory only.
struct Chosen {
  bool t = true, u = true, error = true, signal = true, derivatives = true;
};

Chosen chosen_of(const std::vector<std::string>& names) {
  Chosen c{false, false, false, false, false};
  for (const std::string& name : names) {
    if (name == "t") c.t = true;
    else if (name == "u") c.u = true;
    else if (name == "error") c.error = true;
    else if (name == "signal") c.signal = true;
    else if (name == "derivatives") c.derivatives = true;
    else throw py::value_error("corvel: no output '" + name + "'");
  }
  return c;
}

// The outputs of n rows of c channels: t (rows), u, error, signal (rows x c)
// and derivatives (rows x c x width); `flat` for one channel: u, error and
// signal (rows) and derivatives (rows x width), the shapes the caller gets.
// A new C-ordered array of doubles of these sizes, made by numpy's own call:
// a one-sample update makes five, and the general constructor's bookkeeping
// would cost more than the block's step.
Array fresh_array(std::initializer_list<size_t> sizes) {
  const py::detail::npy_api& api = py::detail::npy_api::get();
  Py_intptr_t dims[3] = {0, 0, 0};
  int n = 0;
  for (const size_t size : sizes) dims[n++] = static_cast<Py_intptr_t>(size);
  PyObject* descr = api.PyArray_DescrFromType_(py::detail::npy_api::NPY_DOUBLE_);
  if (descr == nullptr) throw py::error_already_set();
  PyObject* made = api.PyArray_NewFromDescr_(api.PyArray_Type_, descr, n, dims, nullptr, nullptr, 0, nullptr);
  if (made == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<Array>(made);
}

struct Outputs {
  std::optional<Array> t, u, error, signal, derivatives;
  Outputs(size_t rows, size_t channels, size_t width, bool flat, const Chosen& chosen = Chosen())
      : channels_(channels), width_(width) {
    const auto per_channel = [&] { return flat ? fresh_array({rows}) : fresh_array({rows, channels}); };
    if (chosen.t) t = fresh_array({rows});
    if (chosen.u) u = per_channel();
    if (chosen.error) error = per_channel();
    if (chosen.signal) signal = per_channel();
    if (chosen.derivatives) derivatives = flat ? fresh_array({rows, width}) : fresh_array({rows, channels, width});
  }
  py::tuple to_tuple() const { return py::make_tuple(t, u, error, signal, derivatives); }
  size_t channels_, width_;
};

// Raw pointers into the outputs (null for one not made), filled without the
// interpreter's lock.
struct OutputPointers {
  double *t, *u, *error, *signal, *derivatives;
  size_t channels, width;
  explicit OutputPointers(Outputs& o)
      : t(o.t ? o.t->mutable_data() : nullptr),
        u(o.u ? o.u->mutable_data() : nullptr),
        error(o.error ? o.error->mutable_data() : nullptr),
        signal(o.signal ? o.signal->mutable_data() : nullptr),
        derivatives(o.derivatives ? o.derivatives->mutable_data() : nullptr),
        channels(o.channels_),
        width(o.width_) {}
  void put(size_t row, size_t channel, double time, double input, double e, double z0, const double* d) const {
    const size_t at = row * channels + channel;
    if (channel == 0 && t != nullptr) t[row] = time;
    if (u != nullptr) u[at] = input;
    if (error != nullptr) error[at] = e;
    if (signal != nullptr) signal[at] = z0;
    if (derivatives != nullptr) std::memcpy(derivatives + at * width, d, width * sizeof(double));
  }
};

sim::RecordSource noise_source(double noise, std::optional<double> snr, std::uint64_t seed, double tolerance,
                               const std::string& missing) {
  sim::RecordSource source;
  if (!sim::read_missing_word(missing, &source.missing)) {
    throw py::value_error("missing must be 'keep', 'refuse', 'hold' or 'interpolate', not '" + missing + "'");
  }
  source.missing_as_keyword = true;
  source.noise = noise;
  source.snr_given = snr.has_value();
  source.snr_db = snr.value_or(0.0);
  source.seed = seed;
  source.time_tolerance = tolerance;
  return source;
}

sim::SampleArray sample_array(const Samples& s, double dt, const std::optional<Array>& times) {
  sim::SampleArray a;
  a.samples = s.data;
  a.count = s.rows;
  a.channels = s.channels;
  a.step = dt;
  if (times) a.times = times->data();
  return a;
}

// The width of the third output a block of this order gets: its order, read
// by the block at set-up.
size_t width_for(const HoldBlock& hold, double order) {
  sim::BlockParameters block;
  block.order = order;
  sim::BlockStream probe(hold.entry(), block, 1, 0.01);
  return static_cast<size_t>(probe.width());
}

// The block over a whole record, and what the run says on the way: a list of
// (kind, channel, text), kind "non-finite" for a channel's first sample that
// is not finite, "unsuited gain" for a channel its block predicts worse than
// holding the last sample would (its error output after the warm-up against
// its change from one sample to the next). `how_to_tune` ends that note.
py::tuple estimate(const Array& u, double dt, const std::vector<double>& gains, double order,
                   const std::optional<Array>& times, double noise, std::optional<double> snr, std::uint64_t seed,
                   double tolerance, bool flat, const std::string& missing, const std::vector<std::string>& names,
                   const std::string& how_to_tune, const std::vector<std::string>& outputs) {
  const Samples s = samples_of(u);
  const Chosen chosen = chosen_of(outputs);
  if (gains.empty()) throw py::value_error("corvel: no gain");
  const sim::RecordSource source = noise_source(noise, snr, seed, tolerance, missing);
  size_t width = 0;
  {
    const ReleaseInterpreter release;
    const HoldBlock hold;
    try {
      width = width_for(hold, order);
    } catch (const EngineError& e) {
      py::gil_scoped_acquire acquire;
      rethrow_as_value_error(e);
    }
  }
  Outputs out(s.rows, s.channels, width, flat && s.channels == 1, chosen);
  OutputPointers to(out);
  struct Said {
    std::string kind;
    size_t channel;
    std::string text;
  };
  std::vector<Said> said;
  const WatchInterrupts watch;
  while (true) {
    Outcome done;
    said.clear();
    {
      const ReleaseInterpreter release;
      const HoldBlock hold;
      done = outcome_of([&] {
        sim::SampleArray samples = sample_array(s, dt, times);
        samples.channel_names = names;
        std::unique_ptr<sim::Record> record = sim::open_samples(samples, source);
        sim::RunDescription run;
        run.gain = gains[0];
        if (gains.size() > 1) run.gains = gains;
        run.order = order;
        run.step = -1.0;  // every sample a sample hit, at the record's step
        const sim::RunShape shape = sim::plan_run(run, *record, nullptr);
        sim::PredictionScore score(s.channels, sim::warmup_end(run.warmup, shape.first_t, shape.last_t));
        const std::vector<std::string> channels = record->shape().channel_names;
        size_t until_look = kRowsBetweenLooks * s.channels;
        sim::simulate(
            hold.entry(), run, *record,
            [&](const sim::LogRow& row, int, const sim::Derivatives*) {
              to.put(static_cast<size_t>(row.step), row.channel, row.t, row.u, row.error, row.estimate,
                     row.derivatives);
              score.add(row.channel, row.t, row.u, row.error);
              if (--until_look == 0) {
                until_look = kRowsBetweenLooks * s.channels;
                WatchInterrupts::check();
              }
            },
            [&](const sim::FirstNonFinite& first) {
              const std::string signal = channels.empty() ? "" : " ('" + channels[first.channel] + "')";
              said.push_back({"non-finite", first.channel, sim::non_finite_warning(first, signal)});
            });
        for (size_t c = 0; c < s.channels; ++c) {
          if (!score.predicts_worse_than_holding(c)) continue;
          const std::string signal = channels.empty() ? record->description() : "'" + channels[c] + "'";
          said.push_back({"unsuited gain", c,
                          sim::unsuited_gain_note(signal, score.error_rms(c), score.change_rms(c),
                                                  sim::number_text(sim::block_gain(run, c)), how_to_tune)});
        }
      });
    }
    if (!done.failure.empty()) throw py::value_error(done.failure);
    if (!done.interrupted) {
      py::list notes;
      for (const Said& one : said) notes.append(py::make_tuple(one.kind, one.channel, one.text));
      return py::make_tuple(out.to_tuple(), notes);
    }
    raise_interrupt();  // KeyboardInterrupt; or, where the program's handler took it, the run from its start
  }
}

// A running model of a block per channel.
class Stream {
 public:
  // One gain for every channel's block, or one for each.
  // Each stream keeps one kernel for its whole life: its blocks' state is
  // that kernel's.
  Stream(const std::vector<double>& gains, double order, double dt, size_t channels)
      : kernel_(corvel::python::kernel_for_stream()), dt_(dt) {
    const Gone given_back{kernel_};
    if (gains.size() != 1 && gains.size() != channels) throw py::value_error("corvel: one gain, or one for each channel");
    sim::BlockParameters block;
    block.gain = gains[0];
    if (gains.size() > 1) block.gains = gains;
    block.order = order;
    {
      const ReleaseInterpreter release;
      const HoldBlock hold(kernel_);
      try {
        stream_ = std::make_unique<sim::BlockStream>(hold.entry(), block, channels, dt);
      } catch (const EngineError& e) {
        py::gil_scoped_acquire acquire;
        rethrow_as_value_error(e);
      }
    }
    live_ = live_width(order);
    given_back.keep = true;
  }
  // The block's end (mdlTerminate, the engine's arrays) is a call into the
  // one MEX file like any other: it waits for the block to be free.
  ~Stream() {
    if (ending.load()) {
      (void)stream_.release();  // the block is held for good: left as it is
      return;
    }
    {
      const ReleaseInterpreter release;
      try {
        const HoldBlock hold(kernel_);
        stream_.reset();
      } catch (const Ending&) {
        (void)stream_.release();
        return;
      }
    }
    corvel::python::stream_ended(kernel_);
  }
  Stream(const Stream&) = delete;
  Stream& operator=(const Stream&) = delete;

  py::tuple update(const Array& u, bool flat) {
    const Samples s = samples_of(u);
    if (s.channels != stream_->channels()) throw py::value_error("corvel: samples of another number of channels");
    return feed(s, flat);
  }
  // One sample of one channel: the fastest way in.
  py::tuple update_one(double x) {
    if (stream_->channels() != 1) throw py::value_error("corvel: one number is one sample of one channel");
    return feed({&x, 1, 1}, true);
  }
  void change_gains(const std::vector<double>& gains) {
    const ReleaseInterpreter release;
    const HoldBlock hold(kernel_);
    try {
      stream_->change_gains(gains);
    } catch (const EngineError& e) {
      py::gil_scoped_acquire acquire;
      rethrow_as_value_error(e);
    } catch (const std::invalid_argument& e) {
      py::gil_scoped_acquire acquire;
      throw py::value_error(std::string("corvel: ") + e.what());
    }
  }
  void change(bool gain, double value) {
    const ReleaseInterpreter release;
    const HoldBlock hold(kernel_);
    try {
      if (gain) stream_->change_gain(value);
      else stream_->change_order(value);
    } catch (const EngineError& e) {
      py::gil_scoped_acquire acquire;
      rethrow_as_value_error(e);
    }
    if (!gain) live_ = live_width(value);
  }
  int width() const { return stream_->width(); }
  long samples_done() const { return stream_->samples_done(); }

  // Where the blocks are, as numbers (the steps done, and for each block
  // its countdown, its states and its outputs), for a copy or a pickle; an
  // empty tuple for a stream fed nothing yet.
  py::tuple state() {
    sim::BlockStream::State st;
    {
      const ReleaseInterpreter release;
      const HoldBlock hold(kernel_);
      st = stream_->state();
    }
    if (!st.started) return py::tuple();
    py::list states, outputs;
    for (const std::vector<double>& v : st.run.states) states.append(py::array(py::cast(v)));
    for (const std::vector<double>& v : st.run.outputs) outputs.append(py::array(py::cast(v)));
    return py::make_tuple(st.run.step, py::cast(st.run.until_hit), states, outputs);
  }
  void set_state(const py::tuple& saved) {
    sim::BlockStream::State st;
    st.started = !saved.empty();
    if (st.started) {
      if (saved.size() != 4) throw py::value_error("corvel: not a stream's state");
      st.run.step = saved[0].cast<long>();
      st.run.until_hit = saved[1].cast<std::vector<long>>();
      for (const py::handle v : saved[2].cast<py::list>()) st.run.states.push_back(v.cast<std::vector<double>>());
      for (const py::handle v : saved[3].cast<py::list>()) st.run.outputs.push_back(v.cast<std::vector<double>>());
    }
    const ReleaseInterpreter release;
    const HoldBlock hold(kernel_);
    try {
      stream_->restore(st);
    } catch (const EngineError& e) {
      py::gil_scoped_acquire acquire;
      throw py::value_error(std::string("corvel: ") + e.what());
    }
  }

 private:
  // The derivatives of the order the block has now: a lower order than it
  // started with leaves the columns past it NaN, not their last values.
  size_t live_width(double order) const {
    const auto width = static_cast<size_t>(stream_->width());
    return order >= 1.0 && order < static_cast<double>(width) ? static_cast<size_t>(order) : width;
  }

  py::tuple feed(const Samples& s, bool flat) {
    Outputs out(s.rows, s.channels, static_cast<size_t>(stream_->width()), flat);
    OutputPointers to(out);
    const size_t live = live_, width = static_cast<size_t>(stream_->width());
    const double step = dt_;
    const long first = stream_->samples_done();
    // The rows from `from` on, as far as `count`.
    const auto run = [&](size_t from, size_t count) {
      stream_->feed(s.data + from * s.channels, count, [&](size_t row, size_t channel, const corvel::host::SampleView& v) {
        const size_t r = from + row;
        to.put(r, channel, static_cast<double>(first + static_cast<long>(r)) * step, v.u, v.error[0], v.estimate[0],
               v.derivatives);
        for (size_t j = live; j < width; ++j) to.derivatives[(r * to.channels + channel) * width + j] = NAN;
      });
    };
    if (s.rows == 0) return out.to_tuple();
    // A few samples run with the interpreter's lock held when the block is
    // free at once; otherwise, and for many, the interpreter's lock is
    // released while this waits for the block and runs it.
    if (s.rows <= 64 && !ending.load() && kernel_.lock.try_lock()) {
      const HoldBlock hold(kernel_, std::adopt_lock);
      run(0, s.rows);
      return out.to_tuple();
    }
    if (s.rows <= kRowsBetweenLooks) {
      {
        const ReleaseInterpreter release;
        const HoldBlock hold(kernel_);
        run(0, s.rows);
      }
      return out.to_tuple();
    }
    // Many: in pieces, Ctrl-C looked for between them; an interrupted update
    // puts the blocks back where they were before it.
    const WatchInterrupts watch;
    while (true) {
      bool interrupted = false;
      {
        const ReleaseInterpreter release;
        const HoldBlock hold(kernel_);
        const sim::BlockStream::State before = stream_->state();
        try {
          for (size_t from = 0; from < s.rows; from += kRowsBetweenLooks) {
            if (from > 0) WatchInterrupts::check();
            run(from, std::min(kRowsBetweenLooks, s.rows - from));
          }
        } catch (const Interrupted&) {
          stream_->restore(before);
          interrupted = true;
        }
      }
      if (!interrupted) return out.to_tuple();
      raise_interrupt();  // KeyboardInterrupt; or, where the program's handler took it, the update from its start
    }
  }

  // A stream whose making failed gives its place on the kernel back.
  struct Gone {
    Kernel& kernel;
    mutable bool keep = false;
    ~Gone() {
      if (!keep) corvel::python::stream_ended(kernel);
    }
  };

  Kernel& kernel_;
  std::unique_ptr<sim::BlockStream> stream_;
  double dt_;
  size_t live_ = 0;  // derivatives the order has now
};

py::dict order_result(const sim::OrderResult& r) {
  py::dict d;
  d["order"] = r.order;
  d["gain"] = r.best_gain;
  d["error_rms"] = r.best_error_rms;
  d["flat_from"] = r.flat_from == 0.0 ? py::object(py::none()) : py::object(py::float_(r.flat_from));
  py::list runs;
  for (const sim::Evaluation& e : r.evaluations) runs.append(py::make_tuple(e.gain, e.error_rms));
  d["runs"] = runs;
  return d;
}

py::dict tune_result(const sim::TuneResult& r) {
  py::dict d;
  py::list orders;
  for (const sim::OrderResult& o : r.orders) orders.append(order_result(o));
  d["orders"] = orders;
  d["order"] = r.orders[r.recommended].order;
  d["gain"] = r.orders[r.recommended].best_gain;
  d["runs"] = r.runs;
  d["warmup_end"] = r.warmup_end;
  return d;
}

// Each channel alone and, for several, all together: corvel-sim tune's search
// and score on the same samples.
py::dict tune(const Array& u, double dt, int first_order, int last_order, double gain_low, double gain_high, int jobs,
              double warmup, const std::optional<Array>& times, double tolerance, const std::string& missing) {
  const Samples s = samples_of(u);
  const sim::RecordSource source = noise_source(0.0, {}, 1, tolerance, missing);
  std::vector<sim::TuneResult> each;
  sim::TuneResult together{};
  std::string failure;
  const WatchInterrupts watch;
  for (bool interrupted = true; interrupted;) {
    interrupted = false;
    each.clear();
    {
      const ReleaseInterpreter release;
      const HoldBlock hold;
      // Ctrl-C is looked for after each block run.
      const sim::Progress look = [](long, long) { WatchInterrupts::check(); };
      const Outcome done = outcome_of([&] {
        std::unique_ptr<sim::Record> record = sim::open_samples(sample_array(s, dt, times), source);
        const std::vector<sim::Input> inputs = sim::read_inputs(*record);
        sim::TuneDescription d;
        d.step = -1.0;
        d.warmup = warmup;
        d.first_order = first_order;
        d.last_order = last_order;
        d.gain_low = gain_low;
        d.gain_high = gain_high;
        d.jobs = jobs;
        for (size_t c = 0; c < inputs.size() && inputs.size() > 1; ++c) {
          each.push_back(sim::tune_together(hold.entry(), d, {inputs[c]}, first_order, last_order, look));
        }
        together = sim::tune_together(hold.entry(), d, inputs, first_order, last_order, look);
      });
      interrupted = done.interrupted;
      failure = done.failure;
    }
    // KeyboardInterrupt; or, where the program's handler took it, the tuning again.
    if (interrupted) raise_interrupt();
  }
  if (!failure.empty()) throw py::value_error(failure);
  py::dict result = tune_result(together);
  py::list channels;
  for (const sim::TuneResult& r : each) channels.append(tune_result(r));
  result["channels"] = channels;
  return result;
}

// A built-in signal sampled every dt for `duration` seconds: t, u and the
// value with its ten derivatives at each sample.
py::dict built_in_signal(const std::string& kind, double duration, double dt, double amplitude, double frequency, double phase,
                double end_frequency, const std::vector<double>& coefficients) {
  sim::RecordSource source;
  source.signal.kind = kind;
  source.signal.amplitude = amplitude;
  source.signal.frequency = frequency;
  source.signal.phase = phase;
  source.signal.end_frequency = end_frequency;
  source.signal.chirp_duration = duration;
  source.signal.coefficients = coefficients;
  source.duration = duration;
  std::vector<sim::Input> inputs;
  try {
    if (!(dt > 0.0) || !std::isfinite(dt)) throw sim::UsageError("dt " + std::to_string(dt) + " must be a positive number");
    if (!(duration > 0.0) || !std::isfinite(duration)) throw sim::UsageError("duration must be a positive number");
    sim::make_signal(source.signal);  // an unknown kind, said by name
    std::unique_ptr<sim::Record> record = sim::open_record(source, dt);
    inputs = sim::read_inputs(*record);
  } catch (const std::invalid_argument& e) {
    throw py::value_error(e.what());
  } catch (const std::runtime_error& e) {
    throw py::value_error(e.what());
  }
  const sim::Input& in = inputs[0];
  const size_t n = in.u.size();
  Array t(static_cast<py::ssize_t>(n)), u(static_cast<py::ssize_t>(n));
  Array truth({n, static_cast<size_t>(sim::kMaxDerivative + 1)});
  for (size_t k = 0; k < n; ++k) {
    t.mutable_data()[k] = in.t0 + static_cast<double>(k) * in.solver_step;
    u.mutable_data()[k] = in.u[k];
    std::memcpy(truth.mutable_data() + k * (sim::kMaxDerivative + 1), in.truth[k].data(),
                sizeof(double) * (sim::kMaxDerivative + 1));
  }
  py::dict d;
  d["t"] = t;
  d["u"] = u;
  d["truth"] = truth;
  return d;
}

}  // namespace

PYBIND11_MODULE(_corvel, m) {
  m.doc() = "The corvel block's own run, stream and tune; use the corvel package, which checks the arrays.";
  pthread_atfork(corvel::python::hold_kernels_for_fork, corvel::python::free_kernels_after_fork,
                 corvel::python::free_kernels_after_fork);
  // The package calls this as the interpreter ends (atexit): the call under
  // way ends at its next look, and the block is held from then on.
  m.def("close", [] {
    ending_thread.store(pthread_self());
    if (ending.exchange(true)) return;
    py::gil_scoped_release release;
    corvel::python::hold_kernels_for_good();  // never let go: the process is ending
  });
  m.def("load", [](const std::string& path) {
    try {
      corvel::python::load_kernels(path);
    } catch (const EngineError& e) {
      throw py::import_error(e.what());
    }
  });
  m.def("estimate", &estimate, py::arg("u"), py::arg("dt"), py::arg("gains"), py::arg("order"), py::arg("times"),
        py::arg("noise"), py::arg("snr"), py::arg("seed"), py::arg("tolerance"), py::arg("flat"), py::arg("missing"),
        py::arg("names"), py::arg("how_to_tune"), py::arg("outputs"));
  m.def("kernel_count", &corvel::python::kernel_count);
  m.def("gain_warning", &sim::gain_warning, py::arg("gain"), py::arg("named"));
  m.def("tune", &tune, py::arg("u"), py::arg("dt"), py::arg("first_order"), py::arg("last_order"),
        py::arg("gain_low"), py::arg("gain_high"), py::arg("jobs"), py::arg("warmup"), py::arg("times"),
        py::arg("tolerance"), py::arg("missing"));
  m.def("signal", &built_in_signal);
  py::class_<Stream>(m, "Stream")
      .def(py::init<const std::vector<double>&, double, double, size_t>())
      .def("update", &Stream::update)
      .def("update_one", &Stream::update_one)
      .def("change_gain", [](Stream& s, double v) { s.change(true, v); })
      .def("change_order", [](Stream& s, double v) { s.change(false, v); })
      .def("change_gains", &Stream::change_gains)
      .def_property_readonly("width", &Stream::width)
      .def_property_readonly("samples_done", &Stream::samples_done)
      .def("state", &Stream::state)
      .def("set_state", &Stream::set_state);
}
