// Reading a sampled signal from a CSV file.
#ifndef CORVEL_SIM_CSV_INPUT_H
#define CORVEL_SIM_CSV_INPUT_H

#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

namespace corvel::sim {

// A problem with the input, naming the file and line.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SampledSignal {
  std::vector<double> t;  // empty when the file has no time column
  std::vector<double> u;
  std::vector<int> lines;  // the file line of each sample
};

// One or two columns per line (the signal; or time, signal), separated by
// commas; blank lines and lines starting with '#' are skipped; the first line
// may be a header. Numbers are read as strtod reads them (nan, inf, -0.0,
// hex floats). Times must rise by one constant step. Throws InputError with
// "name:line: what" on the first bad line.
SampledSignal read_csv(std::istream& in, const std::string& name);
SampledSignal read_csv_file(const std::string& path);

// The constant step of a time column, checked to within 1e-6 of it; throws
// InputError naming the line of the first irregular time.
double time_step(const SampledSignal& signal, const std::string& name);

}  // namespace corvel::sim

#endif
