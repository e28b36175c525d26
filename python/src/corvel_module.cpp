// corvel._corvel: the block's run, stream and tune for numpy arrays. The
// arrays come in checked and converted by the package (C-ordered float64,
// time along the first axis); what runs is corvel-sim's own run: the record,
// the engine and the MEX file.
//
// The MEX file is loaded once per process, and its kernel keeps module-wide
// state (its special values and its transition matrices). Its matrices are
// kept per step size, so objects of different sample times may take turns;
// two threads must not call into it at once, so every call into the block
// holds one lock, with the interpreter's lock released.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <cstring>
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
#include "run/block_stream.h"
#include "run/run_description.h"
#include "run/simulate.h"
#include "tune/tune.h"

namespace py = pybind11;
using corvel::host::EngineError;
using corvel::host::MexModule;
namespace sim = corvel::sim;

namespace {

using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;

std::mutex block_lock;  // one caller into the MEX file at a time
std::unique_ptr<MexModule> mex;

corvel::host::MexFunction entry() {
  if (!mex) throw std::runtime_error("corvel: the MEX file is not loaded (corvel._corvel.load)");
  return mex->entry();
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

// The outputs of n rows of c channels: t (rows), u, error, signal (rows x c)
// and derivatives (rows x c x width); `flat` for one channel: u, error and
// signal (rows) and derivatives (rows x width), the shapes the caller gets.
struct Outputs {
  Array t, u, error, signal, derivatives;
  Outputs(size_t rows, size_t channels, size_t width, bool flat)
      : t(static_cast<py::ssize_t>(rows)),
        u(flat ? Array(static_cast<py::ssize_t>(rows)) : Array({rows, channels})),
        error(flat ? Array(static_cast<py::ssize_t>(rows)) : Array({rows, channels})),
        signal(flat ? Array(static_cast<py::ssize_t>(rows)) : Array({rows, channels})),
        derivatives(flat ? Array({rows, width}) : Array({rows, channels, width})),
        channels_(channels),
        width_(width) {}
  py::tuple to_tuple() const { return py::make_tuple(t, u, error, signal, derivatives); }
  size_t channels_, width_;
};

// Raw pointers into the outputs, filled without the interpreter's lock.
struct OutputPointers {
  double *t, *u, *error, *signal, *derivatives;
  size_t channels, width;
  explicit OutputPointers(Outputs& o)
      : t(o.t.mutable_data()),
        u(o.u.mutable_data()),
        error(o.error.mutable_data()),
        signal(o.signal.mutable_data()),
        derivatives(o.derivatives.mutable_data()),
        channels(o.channels_),
        width(o.width_) {}
  void put(size_t row, size_t channel, double time, double input, double e, double z0, const double* d) const {
    const size_t at = row * channels + channel;
    if (channel == 0) t[row] = time;
    u[at] = input;
    error[at] = e;
    signal[at] = z0;
    std::memcpy(derivatives + at * width, d, width * sizeof(double));
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
size_t width_for(double order) {
  sim::BlockParameters block;
  block.order = order;
  sim::BlockStream probe(entry(), block, 1, 0.01);
  return static_cast<size_t>(probe.width());
}

py::tuple estimate(const Array& u, double dt, double gain, double order, const std::optional<Array>& times,
                   double noise, std::optional<double> snr, std::uint64_t seed, double tolerance, bool flat,
                   const std::string& missing) {
  const Samples s = samples_of(u);
  const sim::RecordSource source = noise_source(noise, snr, seed, tolerance, missing);
  size_t width = 0;
  {
    py::gil_scoped_release release;
    const std::lock_guard<std::mutex> lock(block_lock);
    try {
      width = width_for(order);
    } catch (const EngineError& e) {
      py::gil_scoped_acquire acquire;
      rethrow_as_value_error(e);
    }
  }
  Outputs out(s.rows, s.channels, width, flat && s.channels == 1);
  OutputPointers to(out);
  std::string failure;
  {
    py::gil_scoped_release release;
    const std::lock_guard<std::mutex> lock(block_lock);
    try {
      std::unique_ptr<sim::Record> record =
          sim::open_samples(sample_array(s, dt, times), source);
      sim::RunDescription run;
      run.gain = gain;
      run.order = order;
      run.step = -1.0;  // every sample a sample hit, at the record's step
      sim::simulate(entry(), run, *record, [&](const sim::LogRow& row, int, const sim::Derivatives*) {
        to.put(static_cast<size_t>(row.step), row.channel, row.t, row.u, row.error, row.estimate, row.derivatives);
      });
    } catch (const EngineError& e) {
      failure = e.block_text().empty() ? e.what() : e.block_text();
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  if (!failure.empty()) throw py::value_error(failure);
  return out.to_tuple();
}

// A running model of a block per channel.
class Stream {
 public:
  Stream(double gain, double order, double dt, size_t channels) {
    sim::BlockParameters block;
    block.gain = gain;
    block.order = order;
    py::gil_scoped_release release;
    const std::lock_guard<std::mutex> lock(block_lock);
    try {
      stream_ = std::make_unique<sim::BlockStream>(entry(), block, channels, dt);
    } catch (const EngineError& e) {
      py::gil_scoped_acquire acquire;
      rethrow_as_value_error(e);
    }
  }
  // The block's end (mdlTerminate, the engine's arrays) is a call into the
  // one MEX file like any other: it waits for the block to be free.
  ~Stream() {
    py::gil_scoped_release release;
    const std::lock_guard<std::mutex> lock(block_lock);
    stream_.reset();
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
  void change(bool gain, double value) {
    py::gil_scoped_release release;
    const std::lock_guard<std::mutex> lock(block_lock);
    try {
      if (gain) stream_->change_gain(value);
      else stream_->change_order(value);
    } catch (const EngineError& e) {
      py::gil_scoped_acquire acquire;
      rethrow_as_value_error(e);
    }
  }
  int width() const { return stream_->width(); }
  long samples_done() const { return stream_->samples_done(); }

 private:
  py::tuple feed(const Samples& s, bool flat) {
    Outputs out(s.rows, s.channels, static_cast<size_t>(stream_->width()), flat);
    OutputPointers to(out);
    const double step = stream_->step();
    const auto run = [&] {
      const long first = stream_->samples_done();
      stream_->feed(s.data, s.rows, [&](size_t row, size_t channel, const corvel::host::SampleView& v) {
        to.put(row, channel, static_cast<double>(first + static_cast<long>(row)) * step, v.u, v.error[0],
               v.estimate[0], v.derivatives);
      });
    };
    if (s.rows == 0) return out.to_tuple();
    // A few samples run with the interpreter's lock held when the block is
    // free at once; otherwise, and for many, the interpreter's lock is
    // released while this waits for the block and runs it.
    if (s.rows <= 64 && block_lock.try_lock()) {
      const std::lock_guard<std::mutex> lock(block_lock, std::adopt_lock);
      run();
    } else {
      py::gil_scoped_release release;
      const std::lock_guard<std::mutex> lock(block_lock);
      run();
    }
    return out.to_tuple();
  }

  std::unique_ptr<sim::BlockStream> stream_;
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
  {
    py::gil_scoped_release release;
    const std::lock_guard<std::mutex> lock(block_lock);
    try {
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
        each.push_back(sim::tune_together(entry(), d, {inputs[c]}, first_order, last_order));
      }
      together = sim::tune_together(entry(), d, inputs, first_order, last_order);
    } catch (const EngineError& e) {
      failure = e.block_text().empty() ? e.what() : e.block_text();
    } catch (const std::exception& e) {
      failure = e.what();
    }
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
py::dict signal(const std::string& kind, double duration, double dt, double amplitude, double frequency, double phase,
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
  m.def("load", [](const std::string& path) {
    const std::lock_guard<std::mutex> lock(block_lock);
    try {
      mex = std::make_unique<MexModule>(path);
    } catch (const EngineError& e) {
      throw py::import_error(e.what());
    }
  });
  m.def("estimate", &estimate, py::arg("u"), py::arg("dt"), py::arg("gain"), py::arg("order"), py::arg("times"),
        py::arg("noise"), py::arg("snr"), py::arg("seed"), py::arg("tolerance"), py::arg("flat"), py::arg("missing"));
  m.def("tune", &tune, py::arg("u"), py::arg("dt"), py::arg("first_order"), py::arg("last_order"),
        py::arg("gain_low"), py::arg("gain_high"), py::arg("jobs"), py::arg("warmup"), py::arg("times"),
        py::arg("tolerance"), py::arg("missing"));
  m.def("signal", &signal);
  py::class_<Stream>(m, "Stream")
      .def(py::init<double, double, double, size_t>())
      .def("update", &Stream::update)
      .def("update_one", &Stream::update_one)
      .def("change_gain", [](Stream& s, double v) { s.change(true, v); })
      .def("change_order", [](Stream& s, double v) { s.change(false, v); })
      .def_property_readonly("width", &Stream::width)
      .def_property_readonly("samples_done", &Stream::samples_done);
}
