#include "common/file_kinds.h"

#include <cctype>

namespace corvel::sim {

namespace {

// Whether `path` ends in `extension` (lower case), letters in either case.
bool has_extension(const std::string& path, const std::string& extension) {
  if (path.size() <= extension.size()) return false;
  const size_t start = path.size() - extension.size();
  for (size_t i = 0; i < extension.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(path[start + i])) != extension[i]) return false;
  }
  return true;
}

}  // namespace

bool is_mat_path(const std::string& path) { return has_extension(path, ".mat"); }

bool is_html_path(const std::string& path) { return has_extension(path, ".html") || has_extension(path, ".htm"); }

}  // namespace corvel::sim
