#include "input/record.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>
#include <thread>

#include "common/block_queue.h"
#include "input/mat_reader.h"
#include "input/missing_samples.h"
#include "common/number_text.h"

namespace corvel::sim {

void TimeGrid::add(double t, const std::string& where_prefix) {
  if (!std::isfinite(t)) throw InputError(where_prefix + "the time " + number_text(t) + " is not finite");
  if (count_ > 0 && !(t > last_)) {
    throw InputError(where_prefix + "the time " + number_text(t) + " does not come after the time before it, " +
                     number_text(last_));
  }
  if (count_ == 1 && step_ == 0.0) {
    first_step_ = t - last_;
  } else if (count_ >= 1) {
    const double step = t - last_;
    if (!within_tolerance(step, t)) {
      ++strays_;
      const double off = std::fabs(step - reference());
      if (strays_ == 1 || off > worst_) {
        worst_ = off;
        // Steps to nine digits, as a person compares them.
        const auto digits = [](double x, const char* format) {
          char text[40];
          std::snprintf(text, sizeof text, format, x);
          return std::string(text);
        };
        worst_message_ = where_prefix + "the time " + number_text(t) + " comes " + digits(step, "%.9g") +
                         " s after the one before, where " +
                         (step_ > 0.0 ? "the record's step (its span over its samples) is " + digits(step_, "%.9g") + " s"
                                      : "the first two are " + digits(first_step_, "%.9g") + " s apart") +
                         ": the time column must rise by one constant step (within --time-tolerance " +
                         digits(tolerance_, "%g") + " of it)";
      }
    }
  }
  if (count_ == 0) first_ = t;
  last_ = t;
  ++count_;
}

void TimeGrid::refuse() const {
  if (strays_ == 1) throw InputError(worst_message_);
  throw InputError(worst_message_ + "; " + std::to_string(strays_) + " steps stray, this one the most");
}

double TimeGrid::step() const { return (last_ - first_) / static_cast<double>(count_ - 1); }

namespace {

// The solver step of a record with no time column: --solver-step, else a
// positive sample time of the block (P2), else 0.01 s.
double untimed_step(const RecordSource& o, double sample_time, RecordShape& shape, bool said_for_file) {
  if (o.solver_step > 0.0) return o.solver_step;
  if (sample_time > 0.0 && std::isfinite(sample_time)) return sample_time;
  if (said_for_file) {
    shape.notes.push_back(shape.description + " has no time column: one sample every 0.01 s (set --solver-step)");
  }
  return 0.01;
}

// The RMS of a signal's finite samples, the scale --snr sets its noise by.
class FiniteRms {
 public:
  void add(double u) {
    if (!std::isfinite(u)) return;
    sum_squares_ += u * u;
    ++count_;
  }
  double value() const { return count_ > 0 ? std::sqrt(sum_squares_ / static_cast<double>(count_)) : 0.0; }

 private:
  double sum_squares_ = 0.0;
  size_t count_ = 0;
};

// The step of a time column, held against --solver-step when both are given.
double timed_step(const RecordSource& o, double first, double last, size_t count, const std::string& name) {
  const double step = (last - first) / static_cast<double>(count - 1);
  if (o.solver_step > 0.0 && std::fabs(o.solver_step - step) > 1e-9 * step) {
    throw UsageError("--solver-step " + number_text(o.solver_step) + " differs from the step " + number_text(step) +
                     " of the time column in " + name);
  }
  return step;
}

// Read twice: first for its shape (the rows counted, the first and last
// rows read; every value only when --snr needs the signal's RMS), then row by
// row as the run goes, when each row is checked in full. A row that fails then
// fails the run, whose outputs are only put in place when it completes; so
// does a file that changed between the two readings.
class CsvRecord : public Record {
 public:
  CsvRecord(const RecordSource& o, double sample_time)
      : reader_(open_csv_file(o.input, {o.column, o.time_column}, o.decimal_comma)),
        tolerance_(o.time_tolerance),
        grid_(tolerance_),
        read_ahead_(o.helper_threads) {
    shape_.description = o.input;
    std::error_code no_size;
    size_at_shape_ = std::filesystem::file_size(o.input, no_size);
    const CsvLayout& layout = reader_->layout();
    if (layout.header_recoded) {
      shape_.notes.push_back(o.input + ": its header is not UTF-8 text; its names were read as Windows-1252 (ANSI)");
    }
    channels_ = layout.signals.size();
    if (channels_ == 1) {
      if (layout.signals[0] < layout.names.size()) shape_.signal_name = layout.names[layout.signals[0]];
    } else {
      for (const size_t column : layout.signals) {
        const bool named = column < layout.names.size() && !layout.names[column].empty();
        shape_.channel_names.push_back(named ? layout.names[column] : "column " + std::to_string(column + 1));
        // Its name where that names it alone, else its number.
        const bool unique = named && std::count(layout.names.begin(), layout.names.end(), layout.names[column]) == 1;
        shape_.channel_columns.push_back(unique ? layout.names[column] : std::to_string(column + 1));
      }
    }
    timed_ = layout.time >= 0;
    for (const size_t column : layout.signals) shape_.units.push_back(layout.units[column]);
    if (timed_ && !layout.units[static_cast<size_t>(layout.time)].empty()) {
      shape_.time_unit = layout.units[static_cast<size_t>(layout.time)];
    }
    shape_.count = reader_->count_rows(&first_, &last_);
    if (o.snr_given) {
      const double span = last_.t - first_.t;
      read_all(o, sample_time, shape_.count >= 2 ? span / static_cast<double>(shape_.count - 1) : 0.0);
      return;
    }
    if (shape_.count == 0) throw InputError(o.input + ": no samples");
    if (timed_ && shape_.count >= 2) {
      const double span = last_.t - first_.t;
      // A time column that does not rise is found row by row, for the message.
      if (!(span > 0.0) || !std::isfinite(span)) {
        read_all(o, sample_time, 0.0);
        return;
      }
      shape_.step = timed_step(o, first_.t, last_.t, shape_.count, o.input);
      shape_.t0 = first_.t;
    } else if (timed_) {
      throw InputError(o.input + ": a time column needs two samples at least to give the step");
    } else {
      shape_.step = untimed_step(o, sample_time, shape_, true);
    }
  }
  ~CsvRecord() override { stop_reading(); }
  void restart() override {
    stop_reading();
    reader_->rewind();
    grid_ = TimeGrid(tolerance_, shape_.step);
    taken_ = RowBlock();
    next_taken_ = 0;
    rows_taken_ = 0;
    ahead_.reset();
    rows_ended_ = false;
    if (read_ahead_) reader_thread_ = std::thread([this] { read_ahead(); });
  }
  double next() override {
    if (next_taken_ == taken_.rows.size()) take_block();
    if (channels_ > 1) values_ = &taken_.values[next_taken_ * channels_];
    row_ = taken_.rows[next_taken_++];
    if (rows_taken_++ == 0) same_row_or_fail(row_, first_, "first");
    if (timed_) {
      grid_.add_lazy(row_.t, [&] { return description() + ":" + std::to_string(row_.line) + ": "; });
      if (grid_.breached()) refuse_time_column();
    }
    return row_.u;
  }
  void finish() override {
    same_row_or_fail(row_, last_, "last");
    bool more = next_taken_ < taken_.rows.size();
    if (!more) {
      try {
        more = pop_block(&taken_) || ahead_.producer_failure() != nullptr;  // a row past the last, whole or not
      } catch (...) {
        more = true;
      }
    }
    if (more) changed("more than the " + std::to_string(count()) + " rows it had");
  }
  double value(size_t channel) const override { return channel == 0 ? row_.u : values_[channel]; }
  double time_stamp() const override { return timed_ ? row_.t : std::nan(""); }
  std::string where() const override { return description() + ":" + std::to_string(row_.line); }

 private:
  // Rows read ahead; with several signals, each row's values one after
  // another in `values`.
  struct RowBlock {
    std::vector<CsvRow> rows;
    std::vector<double> values;
  };

  // Reading and checking the text costs a fifth of the block's time: a
  // second thread reads ahead, in blocks of rows through a short queue.
  static constexpr size_t kRowsPerBlock = 4096;
  static constexpr size_t kBlocksAhead = 4;

  void read_ahead() {
    while (read_block()) {
    }
  }

  // One block of rows read into the queue; false once the rows have ended
  // (or failed: the failure follows the rows before it) or the run stopped
  // taking them.
  bool read_block() {
    RowBlock block;
    block.rows.reserve(kRowsPerBlock);
    if (channels_ > 1) block.values.reserve(kRowsPerBlock * channels_);
    std::exception_ptr failure;
    try {
      CsvRow row;
      while (block.rows.size() < kRowsPerBlock && reader_->next(&row)) {
        block.rows.push_back(row);
        if (channels_ > 1) block.values.insert(block.values.end(), reader_->signals().begin(), reader_->signals().end());
      }
    } catch (...) {
      failure = std::current_exception();  // handed over after the rows before it
    }
    const bool last = failure != nullptr || block.rows.size() < kRowsPerBlock;
    if (!block.rows.empty() && !ahead_.push(std::move(block))) return false;  // the run stopped taking
    if (last) ahead_.end_of_blocks(failure);
    return !last;
  }

  // The next block of rows, or false when there is none: read here and now
  // where no thread reads ahead.
  bool pop_block(RowBlock* block) {
    if (!read_ahead_ && !rows_ended_) rows_ended_ = !read_block();
    return ahead_.pop(block);
  }

  // The rest of the time column judged, so that the refusal names the step
  // that strays the most (a row that fails to read past it ends the look).
  [[noreturn]] void refuse_time_column() {
    while (true) {
      if (next_taken_ == taken_.rows.size()) {
        if (!pop_block(&taken_)) break;
        next_taken_ = 0;
      }
      const CsvRow& row = taken_.rows[next_taken_++];
      try {
        grid_.add_lazy(row.t, [&] { return description() + ":" + std::to_string(row.line) + ": "; });
      } catch (const InputError&) {
        break;  // a time that goes back: the stray before it is the first error
      }
    }
    grid_.refuse();
  }

  void take_block() {
    if (!pop_block(&taken_)) {
      // Rows before a bad one have all been taken: now its message, unless
      // the file was cut or grown meanwhile (a half line is no bad line).
      if (const std::exception_ptr failure = ahead_.producer_failure()) {
        std::error_code no_size;
        const std::uintmax_t size = std::filesystem::file_size(description(), no_size);
        if (!no_size && size != size_at_shape_) {
          changed(std::to_string(size) + " bytes where it had " + std::to_string(size_at_shape_));
        }
        std::rethrow_exception(failure);
      }
      changed(std::to_string(rows_taken_) + " rows where it had " + std::to_string(count()));
    }
    next_taken_ = 0;
  }

  [[noreturn]] void changed(const std::string& what) const {
    throw InputError(description() + " changed while it was read: it now has " + what +
                     " (the outputs were not written)");
  }

  // The first and last rows of the run are the ones found when the shape was.
  void same_row_or_fail(const CsvRow& now, const CsvRow& before, const char* which) const {
    const bool same = now.line == before.line && same_bits(now.u, before.u) && (!timed_ || same_bits(now.t, before.t));
    if (!same) {
      changed("another " + std::string(which) + " row, " + description() + ":" + std::to_string(now.line) +
              ", than when its shape was found");
    }
  }
  static bool same_bits(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

  void stop_reading() {
    if (!reader_thread_.joinable()) return;
    ahead_.stop_taking();
    reader_thread_.join();
  }

  // Every row read and checked now.
  void read_all(const RecordSource& o, double sample_time, double step) {
    TimeGrid grid(o.time_tolerance, step);
    std::vector<FiniteRms> rms(channels_);
    CsvRow row;
    size_t count = 0;
    try {
      while (reader_->next(&row)) {
        if (timed_) grid.add_lazy(row.t, [&] { return reader_->name() + ":" + std::to_string(row.line) + ": "; });
        for (size_t c = 0; c < channels_; ++c) rms[c].add(reader_->signals()[c]);
        if (count++ == 0) first_ = row;
        last_ = row;
      }
    } catch (const InputError&) {
      grid.refuse_if_breached();  // a step that strayed came first
      throw;
    }
    grid.refuse_if_breached();
    if (count == 0) throw InputError(o.input + ": no samples");
    shape_.count = count;
    shape_.clean_rms.clear();
    for (const FiniteRms& each : rms) shape_.clean_rms.push_back(each.value());
    if (timed_) {
      if (grid.count() < 2) throw InputError(o.input + ": a time column needs two samples at least to give the step");
      shape_.step = timed_step(o, grid.first(), grid.last(), grid.count(), o.input);
      shape_.t0 = grid.first();
    } else {
      shape_.step = untimed_step(o, sample_time, shape_, true);
    }
    reader_->rewind();
  }

  std::unique_ptr<CsvReader> reader_;
  std::uintmax_t size_at_shape_ = 0;  // the file's size when its shape was found
  size_t channels_ = 1;
  const double* values_ = nullptr;  // the signals of the row last returned, when there are several
  bool timed_ = false;
  double tolerance_ = 0.0;
  TimeGrid grid_;
  CsvRow first_, last_;  // as the shape was found
  CsvRow row_;
  RowBlock taken_;  // the block being handed out
  size_t next_taken_ = 0;
  size_t rows_taken_ = 0;
  BlockQueue<RowBlock> ahead_{kBlocksAhead};
  bool read_ahead_ = true;   // a thread reads the rows ahead; else take_block reads each block
  bool rows_ended_ = false;  // without that thread: the last block is in the queue
  std::thread reader_thread_;
};

// One MAT variable's columns chosen as a CSV file's are (a vector is one
// column; an N x 2 matrix is time and signal), or several vectors of one
// length by --variable a,b,c, with --time-column naming a time vector.
class MatRecord : public Record {
 public:
  MatRecord(const RecordSource& o, double sample_time) {
    shape_.description = o.input;
    std::vector<std::string> variables;
    for (size_t start = 0;;) {
      const size_t comma = o.variable.find(',', start);
      variables.push_back(o.variable.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
    std::vector<double> t;
    // --time-column naming a variable (save rec.mat t u): the signal is a
    // vector, as in a list of them.
    const bool time_vector = !o.time_column.empty() && o.time_column != "none" &&
                             o.time_column.find_first_not_of("0123456789") != std::string::npos;
    for (size_t i = 0; i < variables.size(); ++i) {
      if (variables.size() > 1 && std::find(variables.begin(), variables.begin() + static_cast<long>(i), variables[i]) !=
                                      variables.begin() + static_cast<long>(i)) {
        throw UsageError("--variable " + o.variable + ": '" + variables[i] + "' is named twice");
      }
      if (time_vector && variables[i] == o.time_column) {
        throw UsageError("--variable " + o.variable + " names the time vector '" + o.time_column +
                         "' (--time-column) as a signal");
      }
    }
    if (variables.size() == 1 && !time_vector) {
      MatSignal m = read_mat_signal(o.input, variables[0]);
      const std::vector<std::string> no_names;
      const ChosenColumns chosen =
          ColumnTable{no_names, m.cols, o.input + ": " + m.variable}.choose({o.column, o.time_column});
      for (const size_t c : chosen.signals) {
        signals_.emplace_back(m.column(c), m.column(c) + m.rows);
        if (chosen.signals.size() > 1) shape_.channel_names.push_back(m.variable + "_" + std::to_string(c + 1));
      }
      if (chosen.time >= 0) {
        const auto time = static_cast<size_t>(chosen.time);
        t.assign(m.column(time), m.column(time) + m.rows);
        time_where_ = m.variable + "(%zu," + std::to_string(time + 1) + ")";
      }
      shape_.signal_name = m.variable;
      where_ = m.variable + "(%zu" + (m.cols > 1 && chosen.signals.size() == 1 ? "," + std::to_string(chosen.signals[0] + 1) : "") + ")";
      if (chosen.signals.size() > 1) where_ = m.variable + "(%zu,:)";
    } else {
      if (!o.column.empty()) {
        throw UsageError("--column " + o.column + " chooses the columns of one MAT variable; --variable " + o.variable +
                         " names vectors, a signal each");
      }
      for (const std::string& name : variables) {
        signals_.push_back(vector_of(o, name));
        if (variables.size() > 1) shape_.channel_names.push_back(name);
      }
      if (!o.time_column.empty() && o.time_column != "none") {
        t = vector_of(o, o.time_column);
        time_where_ = o.time_column + "(%zu)";
      }
      where_ = variables.size() > 1 ? "row %zu of " + o.variable : variables[0] + "(%zu)";
      if (variables.size() == 1) shape_.signal_name = variables[0];
    }
    shape_.count = signals_[0].size();
    shape_.clean_rms.clear();
    for (const std::vector<double>& signal : signals_) {
      FiniteRms rms;
      for (double u : signal) rms.add(u);
      shape_.clean_rms.push_back(rms.value());
    }
    if (!t.empty()) {
      TimeGrid grid(o.time_tolerance, t.size() >= 2 ? (t.back() - t.front()) / static_cast<double>(t.size() - 1) : 0.0);
      for (size_t k = 0; k < t.size(); ++k) {
        grid.add_lazy(t[k], [&] { return o.input + ": " + place(time_where_, k + 1) + ": "; });
      }
      grid.refuse_if_breached();
      if (grid.count() < 2) throw InputError(o.input + ": a time column needs two samples at least to give the step");
      shape_.step = timed_step(o, grid.first(), grid.last(), grid.count(), o.input);
      shape_.t0 = grid.first();
      t_ = std::move(t);
    } else {
      shape_.step = untimed_step(o, sample_time, shape_, true);
    }
  }
  void restart() override { next_ = 0; }
  double next() override { return signals_[0][next_++]; }
  double value(size_t channel) const override { return signals_[channel][next_ - 1]; }
  double time_stamp() const override { return t_.empty() ? std::nan("") : t_[next_ - 1]; }
  std::string where() const override { return description() + ": " + place(where_, next_); }

 private:
  // A vector of a --variable list (or its time), as long as the first.
  std::vector<double> vector_of(const RecordSource& o, const std::string& name) const {
    if (name.empty()) throw UsageError("--variable " + o.variable + ": an empty name in the list");
    const MatSignal m = read_mat_signal(o.input, name);
    if (m.cols != 1) {
      throw InputError(o.input + ": variable '" + name + "' is " + std::to_string(m.rows) + " x " +
                       std::to_string(m.cols) + "; each variable of a list is a vector");
    }
    if (!signals_.empty() && m.rows != signals_[0].size()) {
      throw InputError(o.input + ": variable '" + name + "' has " + std::to_string(m.rows) + " samples where '" +
                       variables_first(o) + "' has " + std::to_string(signals_[0].size()));
    }
    return m.data;
  }
  static std::string variables_first(const RecordSource& o) { return o.variable.substr(0, o.variable.find(',')); }
  static std::string place(const std::string& pattern, size_t row) {
    const size_t at = pattern.find("%zu");
    return pattern.substr(0, at) + std::to_string(row) + pattern.substr(at + 3);
  }

  std::vector<std::vector<double>> signals_;
  std::vector<double> t_;   // the time stamps, when there are some
  std::string where_;       // a sample's place, "%zu" its row
  std::string time_where_;  // a time's place
  size_t next_ = 0;
};

class BuiltinRecord : public Record {
 public:
  BuiltinRecord(const RecordSource& o, double sample_time) : signal_(make_signal(o.signal)) {
    shape_.description = o.signal.kind;
    shape_.step = untimed_step(o, sample_time, shape_, false);
    const double step = shape_.step;
    const double samples = std::floor(o.duration / step + 1e-9) + 1.0;
    if (!(samples <= 5e7)) {
      throw UsageError("--duration: " + number_text(o.duration) + " s at the step " + number_text(step) +
                       " s is more than 50 million samples");
    }
    shape_.count = static_cast<size_t>(samples);
    if (o.snr_given) {
      FiniteRms rms;
      for (size_t k = 0; k < shape_.count; ++k) rms.add(signal_->at(static_cast<double>(k) * step)[0]);
      shape_.clean_rms = {rms.value()};
    }
  }
  void restart() override { next_ = 0; }
  double next() override {
    truth_ = signal_->at(static_cast<double>(next_++) * shape_.step);
    return truth_[0];
  }
  double value(size_t) const override { return truth_[0]; }
  const Derivatives* truth() const override { return &truth_; }
  std::string where() const override { return "sample " + std::to_string(next_); }

 private:
  std::unique_ptr<Signal> signal_;
  size_t next_ = 0;
  Derivatives truth_{};
};

// Seeded Gaussian noise on another record's samples; each signal draws its
// own from the same seed, as a run of that signal alone would.
class NoisyRecord : public Record {
 public:
  NoisyRecord(std::unique_ptr<Record> clean, std::vector<double> sigmas, std::uint64_t seed)
      : clean_(std::move(clean)), sigmas_(std::move(sigmas)), seed_(seed), values_(sigmas_.size()) {
    shape_ = clean_->shape();
    restart_noise();
  }
  void restart() override {
    clean_->restart();
    restart_noise();
  }
  double next() override {
    const double first = clean_->next();
    for (size_t c = 0; c < values_.size(); ++c) {
      const double v = c == 0 ? first : clean_->value(c);
      values_[c] = sigmas_[c] > 0.0 ? v + noise_[c].next() : v;  // a quiet signal keeps its -0.0
    }
    return values_[0];
  }
  double value(size_t channel) const override { return values_[channel]; }
  bool filled(size_t channel) const override { return clean_->filled(channel); }
  double time_stamp() const override { return clean_->time_stamp(); }
  void finish() override { clean_->finish(); }
  const Derivatives* truth() const override { return clean_->truth(); }
  std::string where() const override { return clean_->where(); }

 private:
  void restart_noise() {
    noise_.clear();
    for (const double sigma : sigmas_) noise_.emplace_back(sigma, seed_);
  }
  std::unique_ptr<Record> clean_;
  std::vector<double> sigmas_;
  std::uint64_t seed_;
  std::vector<Noise> noise_;
  std::vector<double> values_;
};

// Samples held in memory by the caller (the Python package's arrays): rows
// of every signal, with their time stamps or a step.
class ArrayRecord : public Record {
 public:
  ArrayRecord(const SampleArray& a, const RecordSource& o) : a_(a) {
    shape_.description = a.description;
    shape_.count = a.count;
    if (a.count == 0) throw InputError(a.description + ": no samples");
    if (a.channels > 1) {
      for (size_t c = 0; c < a.channels; ++c) {
        shape_.channel_names.push_back(c < a.channel_names.size() ? a.channel_names[c] : "channel " + std::to_string(c + 1));
      }
    }
    if (a.times != nullptr) {
      // The same rule as a file's time column: a constant step within the tolerance.
      TimeGrid grid(o.time_tolerance,
                    a.count >= 2 ? (a.times[a.count - 1] - a.times[0]) / static_cast<double>(a.count - 1) : 0.0);
      for (size_t k = 0; k < a.count; ++k) {
        grid.add_lazy(a.times[k], [&] { return a.description + ": time stamp " + std::to_string(k + 1) + ": "; });
      }
      grid.refuse_if_breached();
      if (a.count < 2) throw InputError(a.description + ": time stamps need two samples at least to give the step");
      shape_.step = timed_step(o, grid.first(), grid.last(), grid.count(), a.description);
      shape_.t0 = grid.first();
    } else {
      shape_.step = a.step;
      shape_.t0 = a.t0;
    }
    std::vector<FiniteRms> rms(std::max<size_t>(1, a.channels));
    for (size_t k = 0; k < a.count && o.snr_given; ++k) {
      for (size_t c = 0; c < a.channels; ++c) rms[c].add(a.samples[k * a.channels + c]);
    }
    shape_.clean_rms.clear();
    for (const FiniteRms& each : rms) shape_.clean_rms.push_back(each.value());
  }
  void restart() override { next_ = 0; }
  double next() override {
    row_ = a_.samples + next_++ * a_.channels;
    return row_[0];
  }
  double value(size_t channel) const override { return row_[channel]; }
  double time_stamp() const override { return a_.times != nullptr ? a_.times[next_ - 1] : std::nan(""); }
  std::string where() const override { return a_.description + ", sample " + std::to_string(next_); }

 private:
  SampleArray a_;
  const double* row_ = nullptr;
  size_t next_ = 0;
};

// The noise a source asks for, on a record's samples.
std::unique_ptr<Record> with_noise(std::unique_ptr<Record> record, const RecordSource& o) {
  std::vector<double> sigmas(record->channels(), o.noise);
  for (size_t c = 0; c < sigmas.size() && o.snr_given; ++c) {
    sigmas[c] = record->shape().clean_rms[c] / std::pow(10.0, o.snr_db / 20.0);
  }
  if (std::any_of(sigmas.begin(), sigmas.end(), [](double sigma) { return sigma > 0.0; })) {
    record = std::make_unique<NoisyRecord>(std::move(record), std::move(sigmas), o.seed);
  }
  return record;
}

}  // namespace

std::unique_ptr<Record> open_samples(const SampleArray& samples, const RecordSource& source) {
  return with_noise(
      with_gaps_filled(std::make_unique<ArrayRecord>(samples, source), source.missing, source.missing_as_keyword), source);
}

std::unique_ptr<Record> open_record(const RecordSource& o, double sample_time) {
  std::error_code error;
  if (!o.input.empty() && std::filesystem::is_directory(o.input, error)) {
    throw InputError(o.input + " is a folder, not a recording (give a .csv or .mat file)");
  }
  std::unique_ptr<Record> record;
  if (o.input.empty()) {
    record = std::make_unique<BuiltinRecord>(o, sample_time);
  } else if (is_mat_path(o.input)) {
    record = std::make_unique<MatRecord>(o, sample_time);
  } else {
    if (!o.variable.empty()) {
      throw UsageError("--variable " + o.variable + " names a MAT-file variable; " + o.input +
                       " is read as a CSV file (its columns are chosen with --column)");
    }
    record = std::make_unique<CsvRecord>(o, sample_time);
  }
  return with_noise(with_gaps_filled(std::move(record), o.missing, o.missing_as_keyword), o);
}

}  // namespace corvel::sim
