// What kind of file a name asks for, where the reader and the writers must
// agree.
#ifndef CORVEL_SIM_FILE_KINDS_H
#define CORVEL_SIM_FILE_KINDS_H

#include <string>

namespace corvel::sim {

// Whether `path` names a MAT-file (by its extension, in any case: .mat, .MAT, .Mat).
bool is_mat_path(const std::string& path);
// Whether `path` names an HTML page (.html or .htm, in any case).
bool is_html_path(const std::string& path);

// The kinds of figure a plot's name asks for.
enum class FigureKind { kSvg, kHtml, kPng, kPdf };
// By its extension, in any case: .svg (and a name without an extension, such
// as a device), .html or .htm, .png, .pdf; any other is refused with a
// UsageError naming `option` and the kinds there are.
FigureKind figure_kind(const std::string& path, const std::string& option);

}  // namespace corvel::sim

#endif
