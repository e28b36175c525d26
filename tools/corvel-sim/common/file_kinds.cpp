#include "common/file_kinds.h"

#include <cctype>

#include "common/errors.h"

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

namespace corvel::sim {

FigureKind figure_kind(const std::string& path, const std::string& option) {
  if (is_html_path(path)) return FigureKind::kHtml;
  if (has_extension(path, ".png")) return FigureKind::kPng;
  if (has_extension(path, ".pdf")) return FigureKind::kPdf;
  if (has_extension(path, ".svg")) return FigureKind::kSvg;
  const size_t slash = path.find_last_of("/\\");
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return FigureKind::kSvg;
  throw UsageError(option + " " + path + ": a figure is .svg, .png, .pdf or .html (an interactive page)");
}

}  // namespace corvel::sim
