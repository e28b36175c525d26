// Which columns of a table (a CSV file's, a MAT matrix's) are the signals
// and which is the time, as --column and --time-column choose them.
#ifndef CORVEL_SIM_COLUMN_CHOICE_H
#define CORVEL_SIM_COLUMN_CHOICE_H

#include <cstddef>
#include <string>
#include <vector>

namespace corvel::sim {

// Which columns hold the signals and the time: a name from the header, a
// number counting from 1, or empty for the default. The signals may be a
// comma-separated list of names, numbers and ranges (2-7, a-c), or "all"
// (every column but the time's); the time may be "none".
struct ColumnChoice {
  std::string signal;
  std::string time;
};

// The most signal columns one run takes.
constexpr size_t kMostSignals = 1000;

struct ChosenColumns {
  std::vector<size_t> signals;  // 0-based, in the order chosen
  long time = -1;               // 0-based, -1 without a time column
};

// A table's columns as the user names them.
struct ColumnTable {
  const std::vector<std::string>& names;  // the header's; empty without one
  size_t columns;
  std::string source;  // the file (and variable) in messages

  // Without a choice, one column is the signal and two are time and signal;
  // the first column is the time when the signals are others, and always
  // for a list. Throws UsageError for a list that cannot be run (a column
  // twice, the time column in it, more than kMostSignals), InputError for a
  // column that is not there.
  ChosenColumns choose(const ColumnChoice& choice) const;
  std::string column_name(size_t column) const;  // "'t'" or "column 1"

 private:
  size_t index(const std::string& option, const std::string& text) const;
  bool is_column(const std::string& text) const;  // a name or a number of one
  std::vector<size_t> signal_list(const std::string& text) const;
};

}  // namespace corvel::sim

#endif
