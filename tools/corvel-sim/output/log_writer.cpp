#include "output/log_writer.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <set>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "common/block_queue.h"
#include "common/csv_text.h"
#include "common/matio.h"
#include "output/mat_writer.h"
#include "common/number_text.h"
#include "output/output_file.h"
#include "common/errors.h"
#include "common/file_kinds.h"

namespace corvel::sim {

namespace {

// Turning doubles into their shortest text costs about as much as the block
// itself: a second thread does it while the run goes on. Rows pass to it in
// blocks of raw numbers through a short queue, so memory stays bounded.
class CsvLogWriter : public LogWriter {
 public:
  CsvLogWriter(OutputFile& file, int order, const std::vector<std::string>& channels, bool multirate,
               const LogStyle& style)
      : file_(file),
        last_channel_(channels.empty() ? 0 : channels.size() - 1),
        per_signal_(3 + static_cast<size_t>(order) + (style.filled_column ? 1 : 0)),
        width_(1 + (last_channel_ + 1) * per_signal_),
        order_(order),
        multirate_(multirate),
        filled_column_(style.filled_column),
        separator_(style.decimal_comma ? ';' : ','),
        decimal_comma_(style.decimal_comma),
        queue_(kBlocksInFlight) {
    const auto field = [&](const std::string& text) { return csv_field(text, separator_); };
    std::string header = "t";
    const char s = separator_;
    if (channels.empty()) {
      header += std::string(1, s) + "u" + s + "error" + s + "z0";
      for (int j = 1; j <= order; ++j) header += s + ("d" + std::to_string(j));
      if (filled_column_) header += s + std::string("filled");
    }
    for (const std::string& name : unique_names(channels, {"t"})) {
      for (const char* suffix : {".u", ".e", ".z0"}) header += s + field(name + suffix);
      for (int j = 1; j <= order; ++j) header += s + field(name + ".d" + std::to_string(j));
      if (filled_column_) header += s + field(name + ".filled");
    }
    header += '\n';
    file_.write(header.data(), header.size());
    filling_.values.reserve(kRowsPerBlock * width_);
    worker_ = std::thread([this] { format_blocks(); });
  }
  ~CsvLogWriter() override { stop(); }
  void row(const LogRow& r) override {
    if (multirate_) return multirate_row(r);
    if (r.channel == 0) filling_.values.push_back(r.t);
    filling_.values.push_back(r.u);
    filling_.values.push_back(r.error);
    filling_.values.push_back(r.estimate);
    filling_.values.insert(filling_.values.end(), r.derivatives, r.derivatives + order_);
    if (filled_column_) filling_.values.push_back(r.filled ? 1.0 : 0.0);
    if (r.channel == last_channel_ && filling_.values.size() >= kRowsPerBlock * width_) hand_over();
  }
  void finish() override {
    if (multirate_ && open_step_ >= 0) close_row();
    hand_over();
    stop();
    if (const std::exception_ptr failure = queue_.consumer_failure()) std::rethrow_exception(failure);
  }

 private:
  static constexpr size_t kRowsPerBlock = 4096;
  static constexpr size_t kBlocksInFlight = 4;

  // Rows of numbers and, in a multirate log, whether each row's signals had a
  // sample hit there (a byte per signal per row).
  struct Rows {
    std::vector<double> values;
    std::vector<unsigned char> present;
  };

  // A multirate log's row gathers the blocks that have a hit at its step; it
  // is complete when a later step's first row arrives.
  void multirate_row(const LogRow& r) {
    if (r.step != open_step_) {
      if (open_step_ >= 0) close_row();
      open_step_ = r.step;
      open_row_.assign(width_, 0.0);
      open_present_.assign(last_channel_ + 1, 0);
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

  void close_row() {
    filling_.values.insert(filling_.values.end(), open_row_.begin(), open_row_.end());
    filling_.present.insert(filling_.present.end(), open_present_.begin(), open_present_.end());
    open_step_ = -1;
    if (filling_.values.size() >= kRowsPerBlock * width_) hand_over();
  }

  void hand_over() {
    if (filling_.values.empty()) return;
    // Refused when the writer has failed (a full disk): no use running on.
    if (!queue_.push(std::move(filling_))) std::rethrow_exception(queue_.consumer_failure());
    filling_ = Rows();
    filling_.values.reserve(kRowsPerBlock * width_);
  }

  void stop() {
    if (!worker_.joinable()) return;
    queue_.end_of_blocks();
    worker_.join();
  }

  void format_blocks() {
    std::vector<char> text;
    Rows rows;
    const size_t per_signal = per_signal_;
    while (queue_.pop(&rows)) {
      const std::vector<double>& block = rows.values;
      text.resize(block.size() * (kNumberTextMax + 1));
      char* p = text.data();
      for (size_t i = 0, row = 0; i < block.size(); i += width_, ++row) {
        for (size_t c = 0; c < width_; ++c) {
          // A signal without a sample hit in this row leaves its cells empty.
          const bool empty = !rows.present.empty() && c > 0 && rows.present[row * (last_channel_ + 1) + (c - 1) / per_signal] == 0;
          if (!empty) {
            char* const number = p;
            p = write_number(p, block[i + c]);
            if (decimal_comma_) std::replace(number, p, '.', ',');
          }
          *p++ = c + 1 < width_ ? separator_ : '\n';
        }
      }
      const auto size = static_cast<size_t>(p - text.data());
      if (std::fwrite(text.data(), 1, size, file_.stream()) != size) {
        queue_.stop_taking(std::make_exception_ptr(OutputError(file_.write_failure())));
        return;
      }
    }
  }

  OutputFile& file_;
  size_t last_channel_;
  size_t per_signal_;  // u, e, z0, d1..dn and, when asked, filled
  size_t width_;
  int order_;
  bool multirate_;
  bool filled_column_;
  char separator_;
  bool decimal_comma_;
  Rows filling_;
  long open_step_ = -1;
  std::vector<double> open_row_;
  std::vector<unsigned char> open_present_;
  BlockQueue<Rows> queue_;
  std::thread worker_;
};

// The MAT format wants each variable whole: the columns are kept until the end.
class MatLogWriter : public LogWriter {
 public:
  MatLogWriter(OutputFile& file, int order, const std::vector<std::string>& channels, bool multirate,
               const LogStyle& style)
      : file_(file),
        order_(static_cast<size_t>(order)),
        channels_(std::max<size_t>(1, channels.size())),
        multirate_(multirate),
        filled_column_(style.filled_column),
        run_(style.run) {
    refuse_unfit_log_output(file_.path());
    std::vector<std::string> names;
    for (const std::string& name : channels) names.push_back(mat_variable_name(name));
    names_ = unique_names(names, {"t", "run"}, channels);
    signals_.resize(channels_);
    for (Signal& s : signals_) s.d.resize(order_);
  }
  void row(const LogRow& r) override {
    if (multirate_ ? r.step != last_step_ : r.channel == 0) t_.push_back(r.t);
    last_step_ = r.step;
    Signal& s = signals_[r.channel];
    if (multirate_) s.t.push_back(r.t);
    s.u.push_back(r.u);
    s.e.push_back(r.error);
    s.z0.push_back(r.estimate);
    for (size_t j = 0; j < order_; ++j) s.d[j].push_back(r.derivatives[j]);
    if (filled_column_) s.filled.push_back(r.filled ? 1.0 : 0.0);
  }
  void finish() override {
    const size_t rows = t_.size();
    std::vector<MatMatrix> variables{{"t", rows, 1, t_.data()}};
    std::vector<MatStruct> structs;
    for (size_t c = 0; c < channels_; ++c) {
      Signal& s = signals_[c];
      for (const auto& column : s.d) s.d_matrix.insert(s.d_matrix.end(), column.begin(), column.end());
      s.d = {};
      const size_t own = multirate_ ? s.t.size() : rows;
      std::vector<MatMatrix> fields{{"u", own, 1, s.u.data()},
                                    {"e", own, 1, s.e.data()},
                                    {"z0", own, 1, s.z0.data()},
                                    {"d", own, order_, s.d_matrix.data()}};
      if (multirate_) fields.insert(fields.begin(), MatMatrix{"t", own, 1, s.t.data()});
      if (filled_column_) fields.push_back({"filled", own, 1, s.filled.data()});
      if (names_.empty()) {
        variables.insert(variables.end(), fields.begin(), fields.end());
      } else {
        structs.push_back({names_[c], fields});
      }
    }
    // What the run was: a log that is loaded alone still says it.
    const double numbers[4] = {run_.gain, run_.order, run_.sample_time, run_.solver_step};
    std::vector<MatMatrix> facts{{"gain", 1, 1, &numbers[0]},        {"order", 1, 1, &numbers[1]},
                                 {"sample_time", 1, 1, &numbers[2]}, {"solver_step", 1, 1, &numbers[3]},
                                 mat_text("source", run_.source),    mat_text("column", run_.column),
                                 mat_text("time_unit", run_.time_unit), mat_text("missing", run_.missing)};
    if (names_.empty()) {
      facts.push_back(mat_text("unit", run_.units.empty() ? "" : run_.units[0]));
    } else {
      for (size_t c = 0; c < channels_; ++c) {
        structs[c].fields.push_back(mat_text("unit", c < run_.units.size() ? run_.units[c] : ""));
      }
    }
    structs.push_back({"run", facts});
    write_mat_file(file_.path_for_library(), file_.path(), variables, structs);
  }

 private:
  struct Signal {
    std::vector<double> t, u, e, z0, d_matrix, filled;
    std::vector<std::vector<double>> d;
  };
  OutputFile& file_;
  size_t order_;
  size_t channels_;
  bool multirate_;
  bool filled_column_;
  RunFacts run_;
  long last_step_ = -1;
  std::vector<std::string> names_;  // empty for one signal
  std::vector<double> t_;
  std::vector<Signal> signals_;
};

}  // namespace

void refuse_unfit_log_output(const std::string& path) {
  if (!is_mat_path(path)) return;
  if (!mat_files_supported()) write_mat_file(path, path, {});  // says why not
  if (is_stream_output(path)) throw OutputError(not_a_regular_file("log", path));
}

std::unique_ptr<LogWriter> make_log_writer(OutputFile& file, int order, const std::vector<std::string>& channels,
                                           bool multirate, const LogStyle& style) {
  if (is_mat_path(file.path())) return std::make_unique<MatLogWriter>(file, order, channels, multirate, style);
  return std::make_unique<CsvLogWriter>(file, order, channels, multirate, style);
}

std::vector<std::string> unique_names(std::vector<std::string> names, const std::vector<std::string>& taken,
                                      const std::vector<std::string>& originals, bool fold_case) {
  const auto key = [fold_case](std::string name) {
    if (fold_case) {
      for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return name;
  };
  const auto exact = [&](size_t i) { return originals.empty() || names[i] == originals[i]; };
  std::set<std::string> reserved, given;
  for (const std::string& name : taken) reserved.insert(key(name));
  std::set<std::string> forbidden = reserved;  // what `taken` holds, never given
  for (size_t i = 0; i < names.size(); ++i) {
    if (exact(i)) reserved.insert(key(names[i]));
  }
  for (size_t i = 0; i < names.size(); ++i) {
    std::string& name = names[i];
    // A name as it came may be any that `taken` lacks; a made-up one only
    // one that no signal has as its own either.
    const bool free = exact(i) ? forbidden.count(key(name)) == 0 : reserved.count(key(name)) == 0;
    if (free && given.count(key(name)) == 0) {
      given.insert(key(name));
      continue;
    }
    // A name of its own: the first suffix that no signal has or was given.
    int n = 2;
    while (reserved.count(key(name + "_" + std::to_string(n))) != 0 || given.count(key(name + "_" + std::to_string(n))) != 0) ++n;
    name += "_" + std::to_string(n);
    given.insert(key(name));
  }
  return names;
}

}  // namespace corvel::sim
