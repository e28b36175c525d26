#include "csv_input.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace corvel::sim {

namespace {

std::string trim(const std::string& s) {
  const size_t begin = s.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  const size_t end = s.find_last_not_of(" \t\r");
  return s.substr(begin, end - begin + 1);
}

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t comma = line.find(',', start);
    fields.push_back(trim(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return fields;
}

// The whole field must be one number; overflow to infinity is accepted, as
// strtod gives it.
bool parse_number(const std::string& field, double* value) {
  if (field.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtod(field.c_str(), &end);
  return end == field.c_str() + field.size();
}

}  // namespace

SampledSignal read_csv(std::istream& in, const std::string& name) {
  SampledSignal signal;
  std::string line;
  int line_number = 0;
  int columns = 0;
  bool first_content = true;
  while (std::getline(in, line)) {
    ++line_number;
    const std::string content = trim(line);
    if (content.empty() || content[0] == '#') continue;
    const std::vector<std::string> fields = split(content);
    const std::string where = name + ":" + std::to_string(line_number) + ": ";
    std::vector<double> values;
    bool numeric = true;
    for (const std::string& field : fields) {
      double v = 0.0;
      if (!parse_number(field, &v)) {
        numeric = false;
        break;
      }
      values.push_back(v);
    }
    if (!numeric && first_content) {  // a header
      first_content = false;
      continue;
    }
    first_content = false;
    if (!numeric) {
      for (size_t i = 0; i < fields.size(); ++i) {
        double v = 0.0;
        if (!parse_number(fields[i], &v)) {
          throw InputError(where + "column " + std::to_string(i + 1) + ": '" + fields[i] + "' is not a number");
        }
      }
    }
    if (values.size() != 1 && values.size() != 2) {
      throw InputError(where + "expected 1 column (signal) or 2 (time, signal), found " +
                       std::to_string(values.size()));
    }
    if (columns == 0) columns = static_cast<int>(values.size());
    if (static_cast<int>(values.size()) != columns) {
      throw InputError(where + "expected " + std::to_string(columns) + " column(s) like the lines before, found " +
                       std::to_string(values.size()));
    }
    if (columns == 2) {
      if (!std::isfinite(values[0])) throw InputError(where + "the time " + fields[0] + " is not finite");
      if (!signal.t.empty() && !(values[0] > signal.t.back())) {
        throw InputError(where + "the time " + fields[0] + " does not come after the time before it");
      }
      signal.t.push_back(values[0]);
      signal.u.push_back(values[1]);
    } else {
      signal.u.push_back(values[0]);
    }
    signal.lines.push_back(line_number);
  }
  if (signal.u.empty()) throw InputError(name + ": no samples");
  return signal;
}

SampledSignal read_csv_file(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw InputError(path + ": cannot open the file");
  return read_csv(in, path);
}

double time_step(const SampledSignal& signal, const std::string& name) {
  if (signal.t.size() < 2) throw InputError(name + ": a time column needs two samples at least to give the step");
  const double span = signal.t.back() - signal.t.front();
  const double step = span / static_cast<double>(signal.t.size() - 1);
  for (size_t k = 0; k < signal.t.size(); ++k) {
    const double expected = signal.t.front() + static_cast<double>(k) * step;
    if (std::fabs(signal.t[k] - expected) > 1e-6 * step) {
      char buffer[160];
      std::snprintf(buffer, sizeof buffer, "the time %.17g is off the constant step %.17g of the time column",
                    signal.t[k], step);
      throw InputError(name + ":" + std::to_string(signal.lines[k]) + ": " + buffer);
    }
  }
  return step;
}

}  // namespace corvel::sim
