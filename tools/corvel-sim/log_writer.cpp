#include "log_writer.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "mat_file.h"
#include "number_text.h"
#include "output_file.h"
#include "record.h"

namespace corvel::sim {

namespace {

class CsvLogWriter : public LogWriter {
 public:
  CsvLogWriter(const std::string& path, int order) : file_(path, "log"), order_(order) {
    std::string header = "t,u,error,z0";
    for (int j = 1; j <= order; ++j) header += ",d" + std::to_string(j);
    header += '\n';
    append(header.data(), header.size());
  }
  void row(const LogRow& r) override {
    // Room for a whole row, so that a row is never split across a flush.
    if (used_ + (4 + static_cast<size_t>(order_)) * (kNumberTextMax + 1) > sizeof buffer_) flush();
    char* p = buffer_ + used_;
    p = write_number(p, r.t);
    *p++ = ',';
    p = write_number(p, r.u);
    *p++ = ',';
    p = write_number(p, r.error);
    *p++ = ',';
    p = write_number(p, r.estimate);
    for (int j = 0; j < order_; ++j) {
      *p++ = ',';
      p = write_number(p, r.derivatives[j]);
    }
    *p++ = '\n';
    used_ = static_cast<size_t>(p - buffer_);
  }
  void commit() override {
    flush();
    file_.commit();
  }

 private:
  void append(const char* data, size_t size) {
    if (used_ + size > sizeof buffer_) flush();
    std::memcpy(buffer_ + used_, data, size);
    used_ += size;
  }
  void flush() {
    if (used_ > 0 && std::fwrite(buffer_, 1, used_, file_.stream()) != used_) {
      throw InputError("writing the log to " + file_.path() + " failed: " + std::strerror(errno));
    }
    used_ = 0;
  }

  OutputFile file_;
  int order_;
  char buffer_[1 << 16];
  size_t used_ = 0;
};

// The MAT format wants each variable whole: the columns are kept until the end.
class MatLogWriter : public LogWriter {
 public:
  MatLogWriter(const std::string& path, int order) : file_(path, "log", false), derivatives_(static_cast<size_t>(order)) {
    if (!mat_files_supported()) write_mat_file(path, {}, "d", {});  // says why not, before the run
  }
  void row(const LogRow& r) override {
    t_.push_back(r.t);
    u_.push_back(r.u);
    e_.push_back(r.error);
    z0_.push_back(r.estimate);
    for (size_t j = 0; j < derivatives_.size(); ++j) derivatives_[j].push_back(r.derivatives[j]);
  }
  void commit() override {
    write_mat_file(file_.temporary_path(), {{"t", &t_}, {"u", &u_}, {"e", &e_}, {"z0", &z0_}}, "d", derivatives_);
    file_.commit();
  }

 private:
  OutputFile file_;
  std::vector<double> t_, u_, e_, z0_;
  std::vector<std::vector<double>> derivatives_;
};

}  // namespace

std::unique_ptr<LogWriter> make_log_writer(const std::string& path, int order) {
  if (is_mat_path(path)) return std::make_unique<MatLogWriter>(path, order);
  return std::make_unique<CsvLogWriter>(path, order);
}

}  // namespace corvel::sim
