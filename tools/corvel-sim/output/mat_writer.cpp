#include "output/mat_writer.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include <cctype>

#include "common/errors.h"
#include "common/matio.h"

namespace corvel::sim {

std::string mat_variable_name(const std::string& text) {
  std::string name;
  for (const char c : text) {
    name += std::isalnum(static_cast<unsigned char>(c)) != 0 && static_cast<unsigned char>(c) < 0x80 ? c : '_';
  }
  if (name.empty() || std::isalpha(static_cast<unsigned char>(name[0])) == 0) name = "x" + name;
  name = name.substr(0, 58);  // room for a suffix that makes it unique
  // A keyword of the host's language cannot name a variable it loads.
  static const char* const kKeywords[] = {"break",    "case",   "catch",  "classdef",   "continue", "else",
                                          "elseif",   "end",    "for",    "function",   "global",   "if",
                                          "otherwise", "parfor", "persistent", "return", "spmd",     "switch",
                                          "try",      "while"};
  for (const char* keyword : kKeywords) {
    if (name == keyword) return name + "_";
  }
  return name;
}

#if !defined(CORVEL_HAVE_MATIO)

void write_mat_file(const std::string&, const std::string& shown, const std::vector<MatMatrix>&,
                    const std::vector<MatStruct>&) {
  throw OutputError(mat_files_unsupported(shown));
}

#else

namespace {

matvar_t* matrix_variable(const MatMatrix& m) {
  size_t dims[2] = {m.rows, m.cols};
  if (m.data == nullptr) {
    return Mat_VarCreate(m.name.c_str(), MAT_C_CHAR, MAT_T_UINT8, 2, dims, const_cast<char*>(m.text.data()),
                         MAT_F_DONT_COPY_DATA);
  }
  return Mat_VarCreate(m.name.c_str(), MAT_C_DOUBLE, MAT_T_DOUBLE, 2, dims, const_cast<double*>(m.data),
                       MAT_F_DONT_COPY_DATA);
}

}  // namespace

void write_mat_file(const std::string& path, const std::string& shown, const std::vector<MatMatrix>& variables,
                    const std::vector<MatStruct>& structs) {
  MatHandle mat(Mat_CreateVer(path.c_str(), "corvel-sim log", MAT_FT_MAT5));
  if (!mat) throw OutputError("cannot create the MAT-file " + shown);
  auto write = [&](const std::string& name, VarHandle var) {
    if (!var || Mat_VarWrite(mat.get(), var.get(), MAT_COMPRESSION_NONE) != 0) {
      throw OutputError("writing variable " + name + " to " + shown + " failed");
    }
  };
  for (const MatMatrix& m : variables) write(m.name, VarHandle(matrix_variable(m)));
  for (const MatStruct& s : structs) {
    std::vector<const char*> names;
    for (const MatMatrix& field : s.fields) names.push_back(field.name.c_str());
    names.push_back(nullptr);
    const size_t dims[2] = {1, 1};
    VarHandle var(Mat_VarCreateStruct2(s.name.c_str(), 2, dims, names.data()));
    for (size_t f = 0; var && f < s.fields.size(); ++f) {
      // The struct owns each field from here, and frees it with itself.
      matvar_t* field = matrix_variable(s.fields[f]);
      if (field == nullptr) var.reset();
      if (var) Mat_VarFree(Mat_VarSetStructFieldByIndex(var.get(), f, 0, field));
    }
    write(s.name, std::move(var));
  }
  if (Mat_Close(mat.release()) != 0) throw OutputError("writing the MAT-file " + shown + " failed");
  // The library does not see every write fail (a full disk): the file must
  // hold at least the numbers it was given.
  std::uintmax_t data = 0;
  const auto bytes = [](const MatMatrix& m) {
    return static_cast<std::uintmax_t>(m.rows) * m.cols * (m.data == nullptr ? 1 : sizeof(double));
  };
  for (const MatMatrix& m : variables) data += bytes(m);
  for (const MatStruct& st : structs) {
    for (const MatMatrix& m : st.fields) data += bytes(m);
  }
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error || size < data) {
    throw OutputError("writing the MAT-file " + shown + " failed: it holds " + (error ? std::string("no") : std::to_string(size)) +
                      " bytes of the " + std::to_string(data) + " its numbers need (is the disk full?)");
  }
}

#endif

}  // namespace corvel::sim
