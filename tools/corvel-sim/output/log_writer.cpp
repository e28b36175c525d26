#include "output/log_writer.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <thread>
#include <vector>

#include "common/block_queue.h"
#include "common/matio.h"
#include "output/mat_writer.h"
#include "common/number_text.h"
#include "output/output_file.h"
#include "input/record.h"

namespace corvel::sim {

namespace {

// Turning doubles into their shortest text costs about as much as the block
// itself: a second thread does it while the run goes on. Rows pass to it in
// blocks of raw numbers through a short queue, so memory stays bounded.
class CsvLogWriter : public LogWriter {
 public:
  CsvLogWriter(OutputFile& file, int order)
      : file_(file), width_(4 + static_cast<size_t>(order)), order_(order), queue_(kBlocksInFlight) {
    std::string header = "t,u,error,z0";
    for (int j = 1; j <= order; ++j) header += ",d" + std::to_string(j);
    header += '\n';
    file_.write(header.data(), header.size());
    filling_.reserve(kRowsPerBlock * width_);
    worker_ = std::thread([this] { format_blocks(); });
  }
  ~CsvLogWriter() override { stop(); }
  void row(const LogRow& r) override {
    filling_.push_back(r.t);
    filling_.push_back(r.u);
    filling_.push_back(r.error);
    filling_.push_back(r.estimate);
    filling_.insert(filling_.end(), r.derivatives, r.derivatives + order_);
    if (filling_.size() >= kRowsPerBlock * width_) hand_over();
  }
  void finish() override {
    hand_over();
    stop();
    if (const std::exception_ptr failure = queue_.consumer_failure()) std::rethrow_exception(failure);
  }

 private:
  static constexpr size_t kRowsPerBlock = 4096;
  static constexpr size_t kBlocksInFlight = 4;

  void hand_over() {
    if (filling_.empty()) return;
    // Refused when the writer has failed (a full disk): no use running on.
    if (!queue_.push(std::move(filling_))) std::rethrow_exception(queue_.consumer_failure());
    filling_ = std::vector<double>();
    filling_.reserve(kRowsPerBlock * width_);
  }

  void stop() {
    if (!worker_.joinable()) return;
    queue_.end_of_blocks();
    worker_.join();
  }

  void format_blocks() {
    std::vector<char> text;
    std::vector<double> block;
    while (queue_.pop(&block)) {
      text.resize(block.size() * (kNumberTextMax + 1));
      char* p = text.data();
      for (size_t i = 0; i < block.size(); i += width_) {
        for (size_t c = 0; c < width_; ++c) {
          p = write_number(p, block[i + c]);
          *p++ = c + 1 < width_ ? ',' : '\n';
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
  size_t width_;
  int order_;
  std::vector<double> filling_;
  BlockQueue<std::vector<double>> queue_;
  std::thread worker_;
};

// The MAT format wants each variable whole: the columns are kept until the end.
class MatLogWriter : public LogWriter {
 public:
  MatLogWriter(OutputFile& file, int order) : file_(file), derivatives_(static_cast<size_t>(order)) {
    refuse_unfit_log_output(file_.path());
  }
  void row(const LogRow& r) override {
    t_.push_back(r.t);
    u_.push_back(r.u);
    e_.push_back(r.error);
    z0_.push_back(r.estimate);
    for (size_t j = 0; j < derivatives_.size(); ++j) derivatives_[j].push_back(r.derivatives[j]);
  }
  void finish() override {
    write_mat_file(file_.path_for_library(), file_.path(), {{"t", &t_}, {"u", &u_}, {"e", &e_}, {"z0", &z0_}}, "d", derivatives_);
  }

 private:
  OutputFile& file_;
  std::vector<double> t_, u_, e_, z0_;
  std::vector<std::vector<double>> derivatives_;
};

}  // namespace

void refuse_unfit_log_output(const std::string& path) {
  if (!is_mat_path(path)) return;
  if (!mat_files_supported()) write_mat_file(path, path, {}, "d", {});  // says why not
  if (is_stream_output(path)) throw OutputError(not_a_regular_file("log", path));
}

std::unique_ptr<LogWriter> make_log_writer(OutputFile& file, int order) {
  if (is_mat_path(file.path())) return std::make_unique<MatLogWriter>(file, order);
  return std::make_unique<CsvLogWriter>(file, order);
}

}  // namespace corvel::sim
