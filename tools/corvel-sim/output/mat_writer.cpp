#include "output/mat_writer.h"

#include "common/errors.h"
#include "common/matio.h"

namespace corvel::sim {

#if !defined(CORVEL_HAVE_MATIO)

void write_mat_file(const std::string&, const std::string& shown, const std::vector<MatColumn>&, const char*,
                    const std::vector<std::vector<double>>&) {
  throw OutputError(mat_files_unsupported(shown));
}

#else

void write_mat_file(const std::string& path, const std::string& shown, const std::vector<MatColumn>& columns,
                    const char* matrix_name, const std::vector<std::vector<double>>& matrix_columns) {
  MatHandle mat(Mat_CreateVer(path.c_str(), "corvel-sim log", MAT_FT_MAT5));
  if (!mat) throw OutputError("cannot create the MAT-file " + shown);
  auto write = [&](const char* name, size_t rows, size_t cols, const double* data) {
    size_t dims[2] = {rows, cols};
    VarHandle var(Mat_VarCreate(name, MAT_C_DOUBLE, MAT_T_DOUBLE, 2, dims, const_cast<double*>(data),
                                MAT_F_DONT_COPY_DATA));
    if (!var || Mat_VarWrite(mat.get(), var.get(), MAT_COMPRESSION_NONE) != 0) {
      throw OutputError("writing variable " + std::string(name) + " to " + shown + " failed");
    }
  };
  const size_t rows = columns.empty() ? 0 : columns.front().values->size();
  for (const MatColumn& c : columns) write(c.name, c.values->size(), 1, c.values->data());
  std::vector<double> matrix;
  matrix.reserve(rows * matrix_columns.size());
  for (const auto& column : matrix_columns) matrix.insert(matrix.end(), column.begin(), column.end());
  write(matrix_name, rows, matrix_columns.size(), matrix.data());
  if (Mat_Close(mat.release()) != 0) throw OutputError("writing the MAT-file " + shown + " failed");
}

#endif

}  // namespace corvel::sim
