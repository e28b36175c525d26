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

// Which of `names` a log keeps: those `wanted` names, or all when it is empty.
std::vector<bool> kept_columns(const std::vector<std::string>& wanted, const std::vector<std::string>& names) {
  if (wanted.empty()) return std::vector<bool>(names.size(), true);
  if (const std::string problem = log_columns_problem(wanted, names); !problem.empty()) {
    throw OutputError("the log's columns: " + problem);
  }
  std::vector<bool> kept(names.size(), false);
  for (size_t c = 0; c < names.size(); ++c) {
    kept[c] = std::find(wanted.begin(), wanted.end(), names[c]) != wanted.end();
  }
  return kept;
}

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
    const std::vector<std::string> names = log_column_names(order, channels, filled_column_);
    const std::vector<bool> kept = kept_columns(style.columns, names);
    std::string header;
    for (size_t c = 0; c < names.size(); ++c) {
      if (!kept[c]) continue;
      if (!header.empty()) header += separator_;
      header += csv_field(names[c], separator_);
      kept_.push_back(c);
    }
    header += '\n';
    file_.write(header.data(), header.size());
    filling_.values.reserve(kRowsPerBlock * width_);
    if (style.own_thread) worker_ = std::thread([this] { format_blocks(); });
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
    if (!worker_.joinable()) {
      // No thread of its own: the rows are written here and now.
      if (!write_block(filling_)) throw OutputError(file_.write_failure());
      filling_.values.clear();
      filling_.present.clear();
      return;
    }
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
    Rows rows;
    while (queue_.pop(&rows)) {
      if (!write_block(rows)) {
        queue_.stop_taking(std::make_exception_ptr(OutputError(file_.write_failure())));
        return;
      }
    }
  }

  // The rows as text, written; false when the write fails.
  bool write_block(const Rows& rows) {
    const std::vector<double>& block = rows.values;
    const size_t per_signal = per_signal_;
    text_.resize(block.size() * (kNumberTextMax + 1));
    char* p = text_.data();
    for (size_t i = 0, row = 0; i < block.size(); i += width_, ++row) {
      for (size_t k = 0; k < kept_.size(); ++k) {
        const size_t c = kept_[k];
        // A signal without a sample hit in this row leaves its cells empty.
        const bool empty = !rows.present.empty() && c > 0 && rows.present[row * (last_channel_ + 1) + (c - 1) / per_signal] == 0;
        if (!empty) {
          char* const number = p;
          p = write_number(p, block[i + c]);
          if (decimal_comma_) std::replace(number, p, '.', ',');
        }
        *p++ = k + 1 < kept_.size() ? separator_ : '\n';
      }
    }
    const auto size = static_cast<size_t>(p - text_.data());
    return std::fwrite(text_.data(), 1, size, file_.stream()) == size;
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
  std::vector<size_t> kept_;  // the columns written, of the row's width_
  std::vector<char> text_;    // a block's text, reused
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
        kept_(kept_columns(style.columns, log_column_names(order, channels, style.filled_column))),
        run_(style.run) {
    refuse_unfit_log_output(file_.path());
    std::vector<std::string> names;
    for (const std::string& name : channels) names.push_back(mat_variable_name(name));
    names_ = unique_names(names, {"t", "run"}, channels);
    signals_.resize(channels_);
    const size_t per_signal = 3 + order_ + (filled_column_ ? 1 : 0);
    for (size_t c = 0; c < channels_; ++c) {
      Signal& s = signals_[c];
      const auto kept = [&](size_t field) { return kept_[1 + c * per_signal + field]; };
      s.keep_u = kept(0);
      s.keep_e = kept(1);
      s.keep_z0 = kept(2);
      for (size_t j = 0; j < order_; ++j) {
        if (kept(3 + j)) s.d_orders.push_back(j);
      }
      s.keep_filled = filled_column_ && kept(per_signal - 1);
      s.d.resize(s.d_orders.size());
    }
  }
  void row(const LogRow& r) override {
    if (multirate_ ? r.step != last_step_ : r.channel == 0) {
      ++rows_;
      if (kept_[0]) t_.push_back(r.t);
    }
    last_step_ = r.step;
    Signal& s = signals_[r.channel];
    if (multirate_ && s.kept_any()) s.t.push_back(r.t);
    if (s.keep_u) s.u.push_back(r.u);
    if (s.keep_e) s.e.push_back(r.error);
    if (s.keep_z0) s.z0.push_back(r.estimate);
    for (size_t j = 0; j < s.d_orders.size(); ++j) s.d[j].push_back(r.derivatives[s.d_orders[j]]);
    if (s.keep_filled) s.filled.push_back(r.filled ? 1.0 : 0.0);
    ++s.rows;
  }
  void finish() override {
    const size_t rows = rows_;
    std::vector<MatMatrix> variables;
    if (kept_[0]) variables.push_back({"t", rows, 1, t_.data()});
    std::vector<MatStruct> structs;
    const bool chosen = std::find(kept_.begin(), kept_.end(), false) != kept_.end();
    std::vector<std::vector<double>> d_orders(channels_);
    for (size_t c = 0; c < channels_; ++c) {
      Signal& s = signals_[c];
      for (const auto& column : s.d) s.d_matrix.insert(s.d_matrix.end(), column.begin(), column.end());
      s.d = {};
      const size_t own = s.rows;
      std::vector<MatMatrix> fields;
      if (multirate_ && s.kept_any()) fields.push_back({"t", own, 1, s.t.data()});
      if (s.keep_u) fields.push_back({"u", own, 1, s.u.data()});
      if (s.keep_e) fields.push_back({"e", own, 1, s.e.data()});
      if (s.keep_z0) fields.push_back({"z0", own, 1, s.z0.data()});
      if (!s.d_orders.empty()) fields.push_back({"d", own, s.d_orders.size(), s.d_matrix.data()});
      if (s.keep_filled) fields.push_back({"filled", own, 1, s.filled.data()});
      for (const size_t j : s.d_orders) d_orders[c].push_back(static_cast<double>(j + 1));
      if (names_.empty()) {
        variables.insert(variables.end(), fields.begin(), fields.end());
      } else if (s.kept_any()) {
        fields.push_back(mat_text("unit", c < run_.units.size() ? run_.units[c] : ""));
        // Chosen columns: which derivatives this signal's d holds.
        if (chosen && !d_orders[c].empty()) fields.push_back({"d_orders", 1, d_orders[c].size(), d_orders[c].data()});
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
      if (chosen && !d_orders[0].empty()) facts.push_back({"d_orders", 1, d_orders[0].size(), d_orders[0].data()});
    }
    structs.push_back({"run", facts});
    write_mat_file(file_.path_for_library(), file_.path(), variables, structs);
  }

 private:
  struct Signal {
    std::vector<double> t, u, e, z0, d_matrix, filled;
    std::vector<std::vector<double>> d;
    std::vector<size_t> d_orders;  // the derivatives kept, from 0
    bool keep_u = true, keep_e = true, keep_z0 = true, keep_filled = false;
    size_t rows = 0;
    bool kept_any() const { return keep_u || keep_e || keep_z0 || !d_orders.empty() || keep_filled; }
  };
  OutputFile& file_;
  size_t order_;
  size_t channels_;
  bool multirate_;
  bool filled_column_;
  std::vector<bool> kept_;
  RunFacts run_;
  long last_step_ = -1;
  size_t rows_ = 0;
  std::vector<std::string> names_;  // empty for one signal
  std::vector<double> t_;
  std::vector<Signal> signals_;
};

}  // namespace

std::vector<std::string> log_column_names(int order, const std::vector<std::string>& channels, bool filled_column) {
  std::vector<std::string> names{"t"};
  const auto signal = [&](const std::string& prefix, const char* error) {
    for (const char* field : {"u", error, "z0"}) names.push_back(prefix + field);
    for (int j = 1; j <= order; ++j) names.push_back(prefix + "d" + std::to_string(j));
    if (filled_column) names.push_back(prefix + "filled");
  };
  if (channels.empty()) signal("", "error");
  for (const std::string& name : unique_names(channels, {"t"})) signal(name + ".", "e");
  return names;
}

std::string log_columns_problem(const std::vector<std::string>& wanted, const std::vector<std::string>& names) {
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (std::find(wanted.begin(), wanted.begin() + static_cast<long>(i), wanted[i]) != wanted.begin() + static_cast<long>(i)) {
      return "'" + wanted[i] + "' is named twice";
    }
    if (std::find(names.begin(), names.end(), wanted[i]) == names.end()) {
      std::string list;
      for (const std::string& name : names) list += (list.empty() ? "" : ", ") + name;
      return "'" + wanted[i] + "' is not a column of this log; its columns are " + list;
    }
  }
  return "";
}

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
