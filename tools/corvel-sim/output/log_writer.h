// The log of a run, one row per sample hit of the block, written as the run
// goes: CSV, or a MAT-file when the name ends in .mat.
#ifndef CORVEL_SIM_LOG_WRITER_H
#define CORVEL_SIM_LOG_WRITER_H

#include <memory>
#include <string>

namespace corvel::sim {

// One row, taken after mdlOutputs at t.
struct LogRow {
  double t;
  double u;
  double error;              // output 0, from the previous mdlUpdate
  double estimate;           // output 1, z0
  const double* derivatives;  // output 2, d1..dn
};

class LogWriter {
 public:
  virtual ~LogWriter() = default;
  virtual void row(const LogRow& row) = 0;
  // Completes the file and puts it in place; until then nothing is there
  // under its name. Throws InputError.
  virtual void commit() = 0;
};

// CSV: header t,u,error,z0,d1..dn, then every number as the shortest text
// that reads back to the same double. MAT (version 5): variables t, u, e, z0
// (N x 1) and d (N x n), the same numbers.
std::unique_ptr<LogWriter> make_log_writer(const std::string& path, int order);

}  // namespace corvel::sim

#endif
