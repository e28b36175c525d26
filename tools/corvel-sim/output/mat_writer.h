// A log written as a version-5 MAT-file, through libmatio where the build
// has it.
#ifndef CORVEL_SIM_MAT_WRITER_H
#define CORVEL_SIM_MAT_WRITER_H

#include <cstddef>
#include <string>
#include <vector>

namespace corvel::sim {

// A double matrix, its columns one after another; or, with no data, a row
// of characters (`text`).
struct MatMatrix {
  std::string name;
  size_t rows, cols;
  const double* data;
  std::string text = "";
};
inline MatMatrix mat_text(const std::string& name, const std::string& text) { return {name, 1, text.size(), nullptr, text}; }

// A 1 x 1 struct of matrices.
struct MatStruct {
  std::string name;
  std::vector<MatMatrix> fields;
};

// `path` is where the file is written, `shown` its name in messages.
void write_mat_file(const std::string& path, const std::string& shown, const std::vector<MatMatrix>& variables,
                    const std::vector<MatStruct>& structs = {});

// A MAT variable's name made of `text`: letters, digits and underscores,
// starting with a letter, short enough to take a suffix and stay within
// the format's 63 characters.
std::string mat_variable_name(const std::string& text);

}  // namespace corvel::sim

#endif
