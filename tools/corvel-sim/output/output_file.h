// A file that appears under its name only when complete: written under a
// temporary name beside the target and renamed at the end; removed when the
// run fails or is interrupted before.
#ifndef CORVEL_SIM_OUTPUT_FILE_H
#define CORVEL_SIM_OUTPUT_FILE_H

#include <cstdio>
#include <string>

namespace corvel::sim {

class OutputFile {
 public:
  // `what` names the file in messages ("log", "plot"). With open_stream
  // false the caller writes `temporary_path()` itself (a library that opens
  // files by name).
  OutputFile(std::string path, std::string what, bool open_stream = true);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::FILE* stream() { return stream_; }
  const std::string& temporary_path() const { return temporary_; }
  const std::string& path() const { return path_; }
  // Throws InputError when anything written has failed (a full disk).
  void commit();

 private:
  std::string path_, what_, temporary_;
  std::FILE* stream_ = nullptr;
  bool committed_ = false;
  int slot_ = -1;  // removed by an interrupt until committed
};

}  // namespace corvel::sim

#endif
