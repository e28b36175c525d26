// Reading a sampled signal from a delimited text file, one row at a time.
#ifndef CORVEL_SIM_CSV_INPUT_H
#define CORVEL_SIM_CSV_INPUT_H

#include <istream>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/errors.h"
#include "input/column_choice.h"

namespace corvel::sim {

// The file's shape, found from its first lines.
struct CsvLayout {
  char delimiter = ',';
  std::vector<std::string> names;  // the header's fields, as UTF-8; empty without a header
  bool header_recoded = false;     // the header was not UTF-8 and was read as Windows-1252
  bool units_row = false;          // the line after the header holds units, not numbers
  std::vector<std::string> units;  // each column's unit: its units row's, or its name's "[mm]" or "(mm)"; may be empty
  size_t columns = 0;
  std::vector<size_t> signals{0};  // 0-based, in the order chosen
  long time = -1;                  // 0-based, -1 without a time column
  std::string column_name(size_t column) const;  // "'t'" or "column 1"
};

struct CsvRow {
  double t = 0.0;  // when the layout has a time column
  double u = 0.0;  // the first signal; the others are in CsvReader::signals()
  long line = 0;
};

// Rows of a text file: fields separated by ';' or a tab (whichever the first
// line uses more), else by ','; blank lines and lines starting with '#' are skipped;
// a UTF-8 byte-order mark and CRLF line ends are accepted. The first line is
// a header when none of its fields reads as a number, and a line after it
// with no number either is its units row. The chosen fields are
// read as strtod reads them (nan, inf, -0.0, hex floats); a signal's empty
// cell is a missing sample, NaN. Where fields are separated by ';' or tabs, a
// number written with a decimal comma (12,5) is read as one; `decimal_comma`
// says the file is written so (then ',' never separates fields, even where
// the first line has no ';'). Any row whose chosen fields do not read,
// or whose field count differs from the first line's, throws InputError
// "name:line: what".
class CsvReader {
 public:
  CsvReader(std::unique_ptr<std::istream> in, std::string name, const ColumnChoice& choice,
            bool decimal_comma = false);
  const CsvLayout& layout() const { return layout_; }
  const std::string& name() const { return name_; }
  bool next(CsvRow* row);
  // Every signal of the row last read, in the layout's order.
  const std::vector<double>& signals() const { return signals_; }
  void rewind();  // back to the first data row
  // Counts the data rows from here, reading only the first and the last,
  // then rewinds.
  size_t count_rows(CsvRow* first, CsvRow* last);

 private:
  bool next_line(std::string_view* line);
  bool next_content(std::string_view* content);
  void choose_columns(const ColumnChoice& choice);
  void find_units();  // from the header's names and a units row under them
  void parse(std::string_view content, CsvRow* row);
  // A number, its decimal comma read as a point where the file may have them.
  bool read_field(std::string_view field, double* value);
  // A sample's field as the file's decimal sign says (see decimal_); false
  // with `hint` saying why when that sign, or no sign yet, makes it no
  // number or an ambiguous one (1,000: a thousand, or one?).
  bool read_sample(std::string_view field, double* value, std::string* hint);
  // Takes the file's decimal sign from the first field of the row that shows
  // one unambiguously (0.5, 12,50), while none has.
  void learn_decimal_sign(long line);
  std::string where() const { return name_ + ":" + std::to_string(line_number_) + ": "; }

  std::unique_ptr<std::istream> in_;
  std::string name_;
  CsvLayout layout_;
  std::vector<char> buffer_;
  size_t begin_ = 0, end_ = 0;  // unread bytes in buffer_
  bool eof_ = false;
  long line_number_ = 0;
  bool pending_first_ = false;  // the first line was data and has not been returned yet
  std::string first_line_;
  long first_line_number_ = 0;
  long first_data_line_ = 0;  // the line of the first row parsed
  std::vector<std::string_view> fields_;
  std::vector<double> signals_;
  // The decimal sign of the whole file, decided once (--decimal-comma, or the
  // first number that can only be read one way), so that 1,000 in a file of
  // decimal points is never read as 1.
  enum class DecimalSign { kUnknown, kPoint, kComma };
  DecimalSign decimal_ = DecimalSign::kUnknown;
  std::string decimal_evidence_;  // "'0.5' on line 2"
};

std::unique_ptr<CsvReader> open_csv_file(const std::string& path, const ColumnChoice& choice,
                                         bool decimal_comma = false);

// Splits a line at the delimiter, trimming spaces (and tabs where they are
// not the delimiter) around each field.
void split_fields(std::string_view line, char delimiter, std::vector<std::string_view>* fields);

}  // namespace corvel::sim

#endif
