// A signal read from a MAT-file, through libmatio where the build has it.
#ifndef CORVEL_SIM_MAT_READER_H
#define CORVEL_SIM_MAT_READER_H

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

}  // namespace corvel::sim

#endif
