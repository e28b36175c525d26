// A record: the samples a run reads, one at a time, on the solver's grid,
// from a CSV file, a MAT-file or a built-in signal, with what is known of it
// before the first sample (how many, from when, at what step).
#ifndef CORVEL_SIM_RECORD_H
#define CORVEL_SIM_RECORD_H

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "common/file_kinds.h"
#include "input/csv_input.h"
#include "input/record_source.h"
#include "input/signals.h"

namespace corvel::sim {

// Checks that a time column rises by one constant step: each difference
// within `tolerance` (relative) of the record's step, its span over its
// count less one, where that is known before the rows are (a file whose
// first and last rows were read, an array); else of its first difference.
// Time stamps far from zero (seconds of the epoch) carry the rounding of
// their own size: a step is also allowed the spacing of doubles there
// (twice it), so that 1.7e9 s + k ms, written to the millisecond, is regular.
class TimeGrid {
 public:
  explicit TimeGrid(double tolerance, double step = 0.0)
      : tolerance_(tolerance), step_(step > 0.0 && std::isfinite(step) ? step : 0.0) {}
  // `where` names the sample in a message, as "file:line: ". A time that is
  // not finite or does not come after the one before throws InputError at
  // once; a step that strays is kept if it strays the most so far, and the
  // record goes on to be judged (see breached).
  void add(double t, const std::string& where_prefix);
  template <class Where>
  void add_lazy(double t, const Where& where) {  // builds the name only for a message
    if (count_ >= (step_ > 0.0 ? 1u : 2u) && t > last_ && within_tolerance(t - last_, t)) {
      last_ = t;
      ++count_;
      return;
    }
    add(t, where());
  }
  size_t count() const { return count_; }
  double first() const { return first_; }
  double last() const { return last_; }
  // The mean step, span / (count - 1).
  double step() const;
  // Whether any step strayed; then refuse() throws InputError naming the
  // one that strayed the most, and how many did.
  bool breached() const { return strays_ > 0; }
  [[noreturn]] void refuse() const;
  // The same, where it breached.
  void refuse_if_breached() const {
    if (breached()) refuse();
  }

 private:
  double reference() const { return step_ > 0.0 ? step_ : first_step_; }
  bool within_tolerance(double step, double t) const {
    const double size = std::fabs(t);
    const double spacing = std::nextafter(size, INFINITY) - size;
    return std::fabs(step - reference()) <= tolerance_ * reference() + 2.0 * spacing;
  }
  double tolerance_;
  double step_;  // the record's, where known first; 0: the first step is the reference
  size_t count_ = 0;
  double first_ = 0.0, last_ = 0.0, first_step_ = 0.0;
  size_t strays_ = 0;
  double worst_ = 0.0;  // the largest stray |step - reference|
  std::string worst_message_;
};

// What is known of a record before its first sample.
struct RecordShape {
  std::string description;  // the file name or the signal's kind
  std::string signal_name;  // the chosen column's or variable's name, when there is one
  // Each signal's name when a record has several (columns of one file, on
  // one clock): the header's, or "column N".
  std::vector<std::string> channel_names;
  // For a CSV file's signals, the --column value that chooses each alone.
  std::vector<std::string> channel_columns;
  size_t count = 0;
  double t0 = 0.0;
  double step = 0.01;              // the solver step: the time column's, or as chosen
  std::vector<double> clean_rms{0.0};  // each signal's RMS of its finite samples, for --snr
  std::vector<std::string> notes;  // what corvel-sim chose for the user, said on standard error
  std::vector<std::string> units;  // each signal's unit, when the file gives one ("" when not)
  std::string time_unit = "s";     // the time column's unit, when the file gives one
};

class Record {
 public:
  virtual ~Record() = default;
  // Back to the first sample.
  virtual void restart() = 0;
  // The next sample's value (the first signal's); called `count()` times
  // after a restart.
  virtual double next() = 0;
  // Signal `channel`'s value at the sample last returned (0: next()'s).
  virtual double value(size_t channel) const = 0;
  // Whether signal `channel`'s sample last returned fills a gap (--missing).
  virtual bool filled(size_t /*channel*/) const { return false; }
  // The recording's own time stamp of the sample last returned; NaN for a
  // record without one (its times are t0 + k * step).
  virtual double time_stamp() const { return std::nan(""); }
  // After the last sample: throws InputError when the source changed since
  // its shape was found (more or fewer rows, another first or last row).
  virtual void finish() {}
  // For a built-in signal, the value and true derivatives of the sample last
  // returned; null for recorded data.
  virtual const Derivatives* truth() const { return nullptr; }
  // Where the sample last returned comes from, for a message: "data.csv:17",
  // "rec.mat: u(17)", "sample 17".
  virtual std::string where() const = 0;

  const RecordShape& shape() const { return shape_; }
  const std::string& description() const { return shape_.description; }
  const std::string& signal_name() const { return shape_.signal_name; }
  size_t channels() const { return shape_.channel_names.empty() ? 1 : shape_.channel_names.size(); }
  size_t count() const { return shape_.count; }
  double t0() const { return shape_.t0; }
  double step() const { return shape_.step; }
  const std::vector<std::string>& notes() const { return shape_.notes; }

 protected:
  RecordShape shape_;
};

// The record a source names, its shape known (a file is read through once to
// find it). `sample_time`, the block's P2, paces a record without a time
// column when positive and no solver step is given. Throws InputError or
// UsageError.
std::unique_ptr<Record> open_record(const RecordSource& source, double sample_time);

// Samples held by the caller, which outlive the record: `count` rows of
// `channels` signals, row after row.
struct SampleArray {
  const double* samples = nullptr;
  size_t count = 0;
  size_t channels = 1;
  const double* times = nullptr;  // a time stamp for each row, held to a constant step; null: none
  double step = 0.01;             // without time stamps: the step, from t0
  double t0 = 0.0;
  std::string description = "the samples";
  std::vector<std::string> channel_names;  // several signals: their names (default "channel N")
};

// A record of samples in memory, with the noise `source` asks for (its file,
// column and signal fields are not read; its time tolerance holds the time
// stamps). Throws InputError for no samples or irregular time stamps.
std::unique_ptr<Record> open_samples(const SampleArray& samples, const RecordSource& source);

}  // namespace corvel::sim

#endif
