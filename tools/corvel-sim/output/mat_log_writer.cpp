#include "output/mat_log_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "common/errors.h"
#include "output/mat5_file.h"
#include "output/mat_writer.h"

namespace corvel::sim {

namespace {

// A file that is gone when closed, whatever ends the run: beside the output
// where the system can make one there unnamed (it is as large as the numbers
// of the log, and that disk is the one that takes them), else the system's.
std::FILE* spill_file(const std::string& beside) {
#if defined(O_TMPFILE)
  const std::filesystem::path parent = std::filesystem::path(beside).parent_path();
  const std::filesystem::path folder = parent.empty() ? std::filesystem::path(".") : parent;
  const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) {
    if (std::FILE* file = ::fdopen(fd, "w+b")) return file;
    ::close(fd);
  }
#endif
  return std::tmpfile();
}

// A matrix whose numbers are in the spill: its rows, the row's columns it
// takes, and the signal whose sample hits they are (-1: every row).
struct Source {
  size_t rows;
  std::vector<size_t> columns;
  long channel;
};

// What a MAT log is made of: its order, its signals' names (made fit for
// MAT variables; empty for one signal), the columns kept and the run's facts.
struct MatLogShape {
  size_t order, channels;
  bool multirate, filled_column;
  size_t per_signal;  // u, e, z0, d1..dn and, when asked, filled
  size_t width;       // t and every signal's columns
  std::vector<bool> kept;
  std::vector<std::string> names;
  RunFacts run;

  MatLogShape(int order_given, const std::vector<std::string>& channel_names, bool multirate_given,
              const LogStyle& style)
      : order(static_cast<size_t>(order_given)),
        channels(std::max<size_t>(1, channel_names.size())),
        multirate(multirate_given),
        filled_column(style.filled_column),
        per_signal(3 + order + (filled_column ? 1 : 0)),
        width(1 + channels * per_signal),
        kept(kept_log_columns(style.columns, log_column_names(order_given, channel_names, style.filled_column))),
        run(style.run) {
    std::vector<std::string> safe;
    for (const std::string& name : channel_names) safe.push_back(mat_variable_name(name));
    names = unique_names(safe, {"t", "run"}, channel_names);
  }
};

// The log's variables for `rows` rows (each signal's own in `own_rows`, for a
// multirate log), their numbers left for later; `sources` says where in the
// spilled rows each of those comes from, in the order of the file.
std::vector<Mat5Item> mat_log_items(const MatLogShape& shape, size_t rows, const std::vector<size_t>& own_rows,
                                    std::vector<Source>* sources) {
  std::vector<Mat5Item> items;
  const auto add_matrix = [&](std::vector<Mat5Item>& to, const char* name, size_t n, std::vector<size_t> columns,
                              long channel) {
    const size_t cols = columns.size();
    if (n > 0 && cols > 0) sources->push_back({n, std::move(columns), channel});
    to.push_back(mat5_numbers(name, n, cols));
  };
  if (shape.kept[0]) add_matrix(items, "t", rows, {0}, -1);
  std::vector<std::vector<double>> d_orders(shape.channels);
  const bool chosen = std::find(shape.kept.begin(), shape.kept.end(), false) != shape.kept.end();
  for (size_t c = 0; c < shape.channels; ++c) {
    const size_t first = 1 + c * shape.per_signal;
    const auto kept = [&](size_t field) { return shape.kept[first + field]; };
    std::vector<size_t> d_columns;
    for (size_t j = 0; j < shape.order; ++j) {
      if (kept(3 + j)) {
        d_columns.push_back(first + 3 + j);
        d_orders[c].push_back(static_cast<double>(j + 1));
      }
    }
    const bool filled = shape.filled_column && kept(shape.per_signal - 1);
    const bool any = kept(0) || kept(1) || kept(2) || !d_columns.empty() || filled;
    const size_t own = shape.multirate ? own_rows[c] : rows;
    const long channel = shape.multirate ? static_cast<long>(c) : -1;
    std::vector<Mat5Item> fields;
    if (shape.multirate && any) add_matrix(fields, "t", own, {0}, channel);
    if (kept(0)) add_matrix(fields, "u", own, {first}, channel);
    if (kept(1)) add_matrix(fields, "e", own, {first + 1}, channel);
    if (kept(2)) add_matrix(fields, "z0", own, {first + 2}, channel);
    if (!d_columns.empty()) add_matrix(fields, "d", own, d_columns, channel);
    if (filled) add_matrix(fields, "filled", own, {first + shape.per_signal - 1}, channel);
    if (shape.names.empty()) {
      for (Mat5Item& f : fields) items.push_back(std::move(f));
    } else if (any) {
      fields.push_back(mat5_text("unit", c < shape.run.units.size() ? shape.run.units[c] : ""));
      // Chosen columns: which derivatives this signal's d holds.
      if (chosen && !d_orders[c].empty()) fields.push_back(mat5_numbers("d_orders", 1, d_orders[c].size(), d_orders[c]));
      items.push_back(mat5_struct(shape.names[c], std::move(fields)));
    }
  }
  // What the run was: a log that is loaded alone still says it.
  const RunFacts& run = shape.run;
  std::vector<Mat5Item> facts{mat5_numbers("gain", 1, 1, {run.gain}),
                              mat5_numbers("order", 1, 1, {run.order}),
                              mat5_numbers("sample_time", 1, 1, {run.sample_time}),
                              mat5_numbers("solver_step", 1, 1, {run.solver_step}),
                              mat5_text("source", run.source),
                              mat5_text("column", run.column),
                              mat5_text("time_unit", run.time_unit),
                              mat5_text("missing", run.missing)};
  if (shape.names.empty()) {
    facts.push_back(mat5_text("unit", run.units.empty() ? "" : run.units[0]));
    if (chosen && !d_orders[0].empty()) facts.push_back(mat5_numbers("d_orders", 1, d_orders[0].size(), d_orders[0]));
  }
  items.push_back(mat5_struct("run", std::move(facts)));
  return items;
}

class MatLogWriter : public LogWriter {
 public:
  MatLogWriter(OutputFile& file, int order, const std::vector<std::string>& channels, bool multirate,
               const LogStyle& style)
      : file_(file),
        shape_(order, channels, multirate, style),
        order_(shape_.order),
        channels_(shape_.channels),
        multirate_(multirate),
        filled_column_(shape_.filled_column),
        per_signal_(shape_.per_signal),
        width_(shape_.width),
        own_rows_(channels_, 0) {
    refuse_unfit_log_output(file_.path());
    spill_ = spill_file(file_.path_for_library());
    if (spill_ == nullptr) {
      throw OutputError("no room for the MAT log's rows on their way to " + file_.path() + ": " + std::strerror(errno));
    }
    buffer_.reserve(kRowsPerPiece * width_);
  }
  ~MatLogWriter() override {
    if (spill_ != nullptr) std::fclose(spill_);
  }

  void row(const LogRow& r) override {
    if (r.step != open_step_) {
      if (open_step_ >= 0) close_row();
      open_step_ = r.step;
      open_row_.assign(width_, 0.0);
      open_present_.assign(channels_, 0);
      open_row_[0] = r.t;
    }
    const size_t at = 1 + r.channel * per_signal_;
    open_row_[at] = r.u;
    open_row_[at + 1] = r.error;
    open_row_[at + 2] = r.estimate;
    std::copy(r.derivatives, r.derivatives + order_, open_row_.begin() + static_cast<long>(at + 3));
    if (filled_column_) open_row_[at + per_signal_ - 1] = r.filled ? 1.0 : 0.0;
    open_present_[r.channel] = 1;
  }

  void finish() override {
    if (open_step_ >= 0) close_row();
    spill();
    if (std::fflush(spill_) != 0 || std::fseek(spill_, 0, SEEK_SET) != 0) failed_spill();

    std::vector<Source> sources;
    const std::vector<Mat5Item> items = mat_log_items(shape_, rows_, own_rows_, &sources);
    const std::vector<std::int64_t> offsets = write_mat5_layout(file_.stream(), file_.path(), items);
    if (offsets.size() != sources.size()) throw std::logic_error("a MAT log's matrices and their places disagree");
    fill(sources, offsets);
    if (std::fflush(file_.stream()) != 0) throw OutputError(file_.write_failure());
  }

 private:
  static constexpr size_t kRowsPerPiece = 8192;

  void close_row() {
    buffer_.insert(buffer_.end(), open_row_.begin(), open_row_.end());
    ++rows_;
    if (multirate_) {
      present_.insert(present_.end(), open_present_.begin(), open_present_.end());
      for (size_t c = 0; c < channels_; ++c) own_rows_[c] += open_present_[c];
    }
    open_step_ = -1;
    if (buffer_.size() >= kRowsPerPiece * width_) spill();
  }

  void spill() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), sizeof(double), buffer_.size(), spill_) != buffer_.size()) {
      failed_spill();
    }
    buffer_.clear();
    if (!present_.empty() && std::fwrite(present_.data(), 1, present_.size(), presence()) != present_.size()) {
      failed_spill();
    }
    present_.clear();
  }

  std::FILE* presence() {
    if (presence_ == nullptr) presence_.reset(spill_file(file_.path_for_library()));
    if (presence_ == nullptr) failed_spill();
    return presence_.get();
  }

  [[noreturn]] void failed_spill() const {
    throw OutputError("the MAT log " + file_.path() + " cannot keep its rows on their way to it: " + std::strerror(errno) +
                      " (is the disk full?)");
  }

  // The spill read once, a piece of rows at a time, each matrix column's
  // numbers from it written into the column's place.
  void fill(const std::vector<Source>& sources, const std::vector<std::int64_t>& offsets) {
    if (presence_ != nullptr && std::fseek(presence_.get(), 0, SEEK_SET) != 0) failed_spill();
    std::vector<double> piece(kRowsPerPiece * width_);
    std::vector<unsigned char> present(kRowsPerPiece * channels_);
    std::vector<double> column;
    std::vector<size_t> written(sources.size(), 0);
    for (size_t done = 0; done < rows_;) {
      const size_t rows = std::min(kRowsPerPiece, rows_ - done);
      if (std::fread(piece.data(), sizeof(double), rows * width_, spill_) != rows * width_) failed_spill();
      if (multirate_ && std::fread(present.data(), 1, rows * channels_, presence_.get()) != rows * channels_) failed_spill();
      for (size_t s = 0; s < sources.size(); ++s) {
        const Source& source = sources[s];
        size_t taken = 0;
        for (size_t j = 0; j < source.columns.size(); ++j) {
          column.clear();
          for (size_t r = 0; r < rows; ++r) {
            if (source.channel >= 0 && present[r * channels_ + static_cast<size_t>(source.channel)] == 0) continue;
            column.push_back(piece[r * width_ + source.columns[j]]);
          }
          taken = column.size();
          const std::int64_t at = offsets[s] + static_cast<std::int64_t>(8 * (j * source.rows + written[s]));
          if (std::fseek(file_.stream(), static_cast<long>(at), SEEK_SET) != 0 ||
              std::fwrite(column.data(), sizeof(double), column.size(), file_.stream()) != column.size()) {
            throw OutputError(file_.write_failure());
          }
        }
        written[s] += taken;
      }
      done += rows;
    }
  }

  struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  OutputFile& file_;
  MatLogShape shape_;
  size_t order_;
  size_t channels_;
  bool multirate_;
  bool filled_column_;
  size_t per_signal_;
  size_t width_;
  std::FILE* spill_ = nullptr;      // the rows so far, width_ doubles each
  std::unique_ptr<std::FILE, Closer> presence_;  // a multirate log's rows' sample hits, a byte a signal
  std::vector<double> buffer_;
  std::vector<unsigned char> present_;
  size_t rows_ = 0;
  std::vector<size_t> own_rows_;  // each signal's rows (its sample hits)
  long open_step_ = -1;
  std::vector<double> open_row_;
  std::vector<unsigned char> open_present_;
};

}  // namespace

void refuse_mat_log_past_limit(const std::string& path, size_t rows, const std::vector<size_t>& rows_of, int order,
                               const std::vector<std::string>& channels, bool multirate, const LogStyle& style) {
  const MatLogShape shape(order, channels, multirate, style);
  std::vector<size_t> own(shape.channels, rows);
  for (size_t c = 0; c < own.size() && c < rows_of.size(); ++c) own[c] = rows_of[c];
  std::vector<Source> sources;
  refuse_past_mat5_limit(path, mat_log_items(shape, rows, own, &sources));
}

std::unique_ptr<LogWriter> make_mat_log_writer(OutputFile& file, int order, const std::vector<std::string>& channels,
                                               bool multirate, const LogStyle& style) {
  return std::make_unique<MatLogWriter>(file, order, channels, multirate, style);
}

}  // namespace corvel::sim
