// The log of a run, one row per sample hit of the block, written as the run
// goes: CSV, or a MAT-file when the name ends in .mat.
#ifndef CORVEL_SIM_LOG_WRITER_H
#define CORVEL_SIM_LOG_WRITER_H

#include <memory>
#include <string>
#include <vector>

#include "output/output_file.h"

namespace corvel::sim {

// One row, taken after mdlOutputs at t.
struct LogRow {
  double t;
  double u;
  double error;              // output 0, from the previous mdlUpdate
  double estimate;           // output 1, z0
  const double* derivatives;  // output 2, d1..dn
  size_t channel = 0;          // the record's signal, when it has several
  long step = 0;               // the solver step (the record's row) it was taken at
  bool filled = false;         // u fills a gap in the record (--missing)
};

// What a run was, for a log that keeps it beside its numbers (a MAT log's
// struct `run`).
struct RunFacts {
  double gain = 0.0, order = 0.0, sample_time = 0.0, solver_step = 0.0;
  std::string source;  // the input file, or the built-in signal's kind
  std::string column;  // the column or variable
  std::vector<std::string> units;  // each signal's unit, where known
  std::string time_unit = "s";
  std::string missing;  // how gaps were dealt with
};

// How a log is written beyond its numbers.
struct LogStyle {
  bool filled_column = false;  // a column (field) saying which inputs fill gaps
  bool decimal_comma = false;  // CSV: ';' between fields, ',' in numbers
  // The columns kept, by their names in log_column_names (in any order; the
  // log keeps its own); empty: every column.
  std::vector<std::string> columns;
  bool own_thread = true;  // CSV: the numbers turned into text on a thread of their own
  RunFacts run;
};

// The names of a log's columns, as its CSV header has them and in its order:
// t, then for one signal u, error, z0, d1..dn (and filled); for several, for
// each signal NAME.u, NAME.e, NAME.z0, NAME.d1..NAME.dn (and NAME.filled).
std::vector<std::string> log_column_names(int order, const std::vector<std::string>& channels, bool filled_column);

// Why `wanted` is not a choice of the columns `names`: a name that is not
// one of them (the message lists them) or one given twice; empty when it is.
std::string log_columns_problem(const std::vector<std::string>& wanted, const std::vector<std::string>& names);

// Which of `names` a log keeps: the `wanted` ones, or all when it is empty.
// Throws OutputError with the problem of a wrong choice.
std::vector<bool> kept_log_columns(const std::vector<std::string>& wanted, const std::vector<std::string>& names);

class LogWriter {
 public:
  virtual ~LogWriter() = default;
  virtual void row(const LogRow& row) = 0;
  // Writes what is left; the output is then ready to be put in place.
  // Throws OutputError.
  virtual void finish() = 0;
};

// CSV: header t,u,error,z0,d1..dn, then every number as the shortest text
// that reads back to the same double. MAT (version 5, in bounded memory):
// variables t, u, e, z0 (N x 1) and d (N x n), the same numbers, and a struct
// `run` of the run's parameters, source and units. With chosen columns (LogStyle::columns) only
// those are written: a MAT log's d then holds the chosen derivatives, and
// `run.d_orders` says which (1 3 for d1 and d3).
// With several signals (`channels` names them): CSV t, then for each signal
// NAME.u,NAME.e,NAME.z0,NAME.d1..NAME.dn; MAT t and a struct NAME for each
// with fields u, e, z0 and d. Names are made unique, and fit for a MAT
// variable in a MAT-file.
// Refuses, before a run, a log this build or the output cannot take: a MAT
// log without libmatio, or to a device or pipe (the library seeks in it).
void refuse_unfit_log_output(const std::string& path);

// MAT when the output's name ends in .mat. `channels` is empty for a record
// of one signal. `multirate`: the signals' blocks have sample times of their
// own, so a row holds only the blocks with a hit at its time: the CSV log
// leaves the others' cells empty, and each struct of the MAT log has a `t` of
// its own beside the `t` of every row.
std::unique_ptr<LogWriter> make_log_writer(OutputFile& file, int order,
                                           const std::vector<std::string>& channels = {}, bool multirate = false,
                                           const LogStyle& style = {});

// `names` made unique ("a", "a" -> "a", "a_2"), none of them equal to one of
// `taken`, and no name made up for one signal equal to another signal's own:
// a name kept as it came (equal to its `originals` entry, or every name when
// `originals` is empty) is reserved first, so "a", "a", "a_2" gives "a",
// "a_3", "a_2", and names made safe from "a b" and "a_b" give "a_b_2" and
// "a_b". `fold_case`: names that differ only in case count as one (file
// names on systems that fold case).
std::vector<std::string> unique_names(std::vector<std::string> names, const std::vector<std::string>& taken,
                                      const std::vector<std::string>& originals = {}, bool fold_case = false);

}  // namespace corvel::sim

#endif
