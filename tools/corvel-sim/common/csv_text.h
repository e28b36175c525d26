// Text fields of the CSV files corvel-sim writes and the tab-separated
// records it keeps, in one place.
#ifndef CORVEL_SIM_CSV_TEXT_H
#define CORVEL_SIM_CSV_TEXT_H

#include <string>
#include <vector>

namespace corvel::sim {

// A field as CSV readers take it: quoted, its quotes doubled, when it holds
// the separator, a quote or a line end.
inline std::string csv_field(const std::string& text, char separator = ',') {
  if (text.find_first_of(std::string(1, separator) + "\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (const char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

// A line cut at every `separator` (an empty last field kept).
inline std::vector<std::string> split_line(const std::string& line, char separator) {
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    const size_t at = line.find(separator, start);
    parts.push_back(line.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

}  // namespace corvel::sim

#endif
