// A figure drawn as SVG, written as the plot's name asks: the SVG text
// itself, or rendered to a PNG picture or a PDF page (librsvg and cairo,
// where this build has them).
#ifndef CORVEL_SIM_FIGURE_RENDER_H
#define CORVEL_SIM_FIGURE_RENDER_H

#include <string>

#include "common/file_kinds.h"
#include "output/output_file.h"

namespace corvel::sim {

// Whether this build renders PNG and PDF.
bool figures_rendered();

// Refuses, before a run, a figure this build cannot write (UsageError).
void refuse_unwritable_figure(const std::string& path, const std::string& option);

// Writes `svg` into `file` as its name asks (.png: twice the SVG's pixels,
// for print; .pdf: one page of the SVG's size). Throws OutputError when the
// rendering fails.
void write_figure(OutputFile& file, const std::string& svg);

}  // namespace corvel::sim

#endif
