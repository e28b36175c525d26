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

}  // namespace corvel::sim

#endif
