// A log written as a version-5 MAT-file, through libmatio where the build
// has it.
#ifndef CORVEL_SIM_MAT_WRITER_H
#define CORVEL_SIM_MAT_WRITER_H

#include <string>
#include <vector>

namespace corvel::sim {

// Columns written as version-5 MAT variables, each N x 1 (`columns`) and one
// N x n matrix `d` from `matrix_columns`.
struct MatColumn {
  const char* name;
  const std::vector<double>* values;
};
// `path` is where the file is written, `shown` its name in messages.
void write_mat_file(const std::string& path, const std::string& shown, const std::vector<MatColumn>& columns,
                    const char* matrix_name, const std::vector<std::vector<double>>& matrix_columns);

}  // namespace corvel::sim

#endif
