#include "output/figure_names.h"

#include <cctype>

#include "output/log_writer.h"

namespace corvel::sim {

std::vector<std::string> figure_paths(const std::string& plot, const std::vector<std::string>& signals) {
  const size_t slash = plot.find_last_of("/\\");
  const size_t dot = plot.rfind('.');
  const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  const std::string stem = has_extension ? plot.substr(0, dot) : plot;
  const std::string extension = has_extension ? plot.substr(dot) : "";
  std::vector<std::string> names;
  for (const std::string& signal : signals) {
    std::string name;
    for (const char c : signal) {
      const auto u = static_cast<unsigned char>(c);
      name += (std::isalnum(u) != 0 && u < 0x80) || c == '-' || c == '_' ? c : '_';
    }
    names.push_back(name.substr(0, 64));
  }
  std::vector<std::string> paths;
  for (const std::string& name : unique_names(names, {}, signals, true)) paths.push_back(stem + "." + name + extension);
  return paths;
}

}  // namespace corvel::sim
