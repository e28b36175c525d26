// MAT-files in and out, through libmatio where the build has it.
#ifndef CORVEL_SIM_MAT_FILE_H
#define CORVEL_SIM_MAT_FILE_H

#include <string>
#include <vector>

namespace corvel::sim {

// A signal read from a MAT-file variable: a real double vector (the samples)
// or an N x 2 matrix (time, signal).
struct MatSignal {
  std::string variable;
  std::vector<double> t;  // empty for a vector
  std::vector<double> u;
};

// Reads `variable`, or with an empty name the file's one such variable.
// Throws InputError with one line naming the file and what is wrong.
MatSignal read_mat_signal(const std::string& path, const std::string& variable);

// Columns written as version-5 MAT variables, each N x 1 (`columns`) and one
// N x n matrix `d` from `matrix_columns`.
struct MatColumn {
  const char* name;
  const std::vector<double>* values;
};
// `path` is where the file is written, `shown` its name in messages.
void write_mat_file(const std::string& path, const std::string& shown, const std::vector<MatColumn>& columns,
                    const char* matrix_name, const std::vector<std::vector<double>>& matrix_columns);

// False where this build was made without libmatio.
bool mat_files_supported();

}  // namespace corvel::sim

#endif
