// A signal read from a MAT-file, through libmatio where the build has it.
#ifndef CORVEL_SIM_MAT_READER_H
#define CORVEL_SIM_MAT_READER_H

#include <cstddef>
#include <string>
#include <vector>

namespace corvel::sim {

// A MAT-file variable read whole: a real double matrix, its columns one
// after another (a row vector reads as a column).
struct MatSignal {
  std::string variable;
  size_t rows = 0, cols = 0;
  std::vector<double> data;
  const double* column(size_t c) const { return data.data() + c * rows; }
};

// Reads `variable`, or with an empty name the file's one signal variable (a
// real double vector or an N x 2 matrix). A variable named is taken at any
// width, its columns for the caller to choose. Throws InputError with one
// line naming the file and what is wrong.
MatSignal read_mat_signal(const std::string& path, const std::string& variable);

}  // namespace corvel::sim

#endif
