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
#include "output/mat_log_writer.h"
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
    const std::vector<std::string> names = log_column_names(order, channels, filled_column_);
    const std::vector<bool> kept = kept_log_columns(style.columns, names);
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
      if (!write_block(filling_, text_)) throw OutputError(file_.write_failure());
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
    std::vector<char> text;  // the thread's own: nothing it writes shares a cache line with the run's rows
    while (queue_.pop(&rows)) {
      if (!write_block(rows, text)) {
        queue_.stop_taking(std::make_exception_ptr(OutputError(file_.write_failure())));
        return;
      }
    }
  }

  // The rows as text (in `text`), written; false when the write fails.
  bool write_block(const Rows& rows, std::vector<char>& text) {
    const std::vector<double>& block = rows.values;
    const size_t per_signal = per_signal_;
    text.resize(block.size() * (kNumberTextMax + 1));
    char* p = text.data();
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
    const auto size = static_cast<size_t>(p - text.data());
    return std::fwrite(text.data(), 1, size, file_.stream()) == size;
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
  std::vector<char> text_;  // a block's text, where no thread of its own writes it
  // The rows being filled, on cache lines of their own: the writing thread
  // touches the members around them, and sharing a line would cost the run
  // a miss on every row.
  alignas(64) Rows filling_;
  long open_step_ = -1;
  std::vector<double> open_row_;
  std::vector<unsigned char> open_present_;
  alignas(64) BlockQueue<Rows> queue_;
  std::thread worker_;
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

std::vector<bool> kept_log_columns(const std::vector<std::string>& wanted, const std::vector<std::string>& names) {
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

void refuse_unfit_log_output(const std::string& path) {
  if (!is_mat_path(path)) return;
  if (!mat_files_supported()) write_mat_file(path, path, {});  // says why not
  if (is_stream_output(path)) throw OutputError(not_a_regular_file("log", path));
}

std::unique_ptr<LogWriter> make_log_writer(OutputFile& file, int order, const std::vector<std::string>& channels,
                                           bool multirate, const LogStyle& style) {
  if (is_mat_path(file.path())) return make_mat_log_writer(file, order, channels, multirate, style);
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
