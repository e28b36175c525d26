#include "input/mat_reader.h"

#include "common/errors.h"
#include "common/matio.h"

#if defined(CORVEL_HAVE_MATIO)
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <utility>
#endif

namespace corvel::sim {

#if !defined(CORVEL_HAVE_MATIO)

MatSignal read_mat_signal(const std::string& path, const std::string&) {
  throw InputError(mat_files_unsupported(path));
}

#else

namespace {

MatHandle open_quietly(const std::string& path) {
  silence_matio();
  return MatHandle(Mat_Open(path.c_str(), MAT_ACC_RDONLY));
}

std::string dims_text(const matvar_t& var) {
  std::string text;
  for (int i = 0; i < var.rank; ++i) text += (i ? " x " : "") + std::to_string(var.dims[i]);
  return text;
}

const char* class_name(const matvar_t& var) {
  if (var.isLogical) return "logical";
  switch (var.class_type) {
    case MAT_C_DOUBLE: return "double";
    case MAT_C_SINGLE: return "single";
    case MAT_C_CHAR: return "char";
    case MAT_C_CELL: return "cell";
    case MAT_C_STRUCT: return "struct";
    case MAT_C_SPARSE: return "sparse";
    case MAT_C_OBJECT: return "object";
    case MAT_C_FUNCTION: return "function";
    default: return "integer";
  }
}

// Why the variable cannot be a signal; empty when it can. Each size is
// checked before the product is formed, so no dimension can overflow it.
std::string unusable(const matvar_t& var, std::uintmax_t file_size, bool any_width) {
  const std::string what = std::string(class_name(var)) + (var.isComplex ? " complex" : "") + " " + dims_text(var);
  if (var.class_type != MAT_C_DOUBLE || var.isLogical || var.isComplex || var.rank != 2) {
    return what + ": a signal is a real double vector or an N x 2 matrix (time, signal)";
  }
  const size_t rows = var.dims[0], cols = var.dims[1];
  constexpr size_t kMostSamples = size_t{1} << 27;
  if (rows == 0 || cols == 0) return what + ": it is empty";
  if (!((rows == 1 || cols == 1 || cols == 2 || any_width) && rows <= kMostSamples && cols <= kMostSamples)) {
    return what + ": a signal is a real double vector or an N x 2 matrix (time, signal)";
  }
  if (rows * cols > kMostSamples) return what + ": more than " + std::to_string(kMostSamples) + " samples";
  // Data that cannot fit in the file: zlib packs at most about 1032 to 1.
  const std::uintmax_t most = var.compression == MAT_COMPRESSION_NONE ? file_size : file_size * 1100;
  if (rows * cols * 8 > most) return what + ": more data than the file holds (truncated?)";
  return "";
}

// A version-4 file: matrices one after another, each a header of five
// 32-bit words (type, rows, columns, imaginary flag, name length), its name,
// then its data (and the imaginary part's). The type's thousands say the
// byte order: a word read the other way round is no type at all.
bool version4_fits(std::FILE* f, std::uintmax_t file_size) {
  bool swapped = false;
  std::uintmax_t offset = 0;
  for (bool first = true; offset < file_size; first = false) {
    unsigned char header[20];
    if (offset + 20 > file_size || std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0 ||
        std::fread(header, 1, sizeof header, f) != sizeof header) {
      return false;
    }
    const auto word = [&](int i, bool other_order) {
      const unsigned char* b = header + 4 * i;
      return other_order ? (std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3])
                         : (std::uint32_t{b[3]} << 24 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[1]} << 8 | b[0]);
    };
    if (first) swapped = word(0, false) > 4052;
    const std::uint32_t type = word(0, swapped), rows = word(1, swapped), cols = word(2, swapped);
    const std::uint32_t imaginary = word(3, swapped), name = word(4, swapped);
    const unsigned order = type / 1000, zero = (type / 100) % 10, precision = (type / 10) % 10, kind = type % 10;
    if (order > 4 || zero != 0 || precision > 5 || kind > 2 || imaginary > 1 || name == 0) return false;
    static constexpr std::uintmax_t kBytes[] = {8, 4, 4, 2, 2, 1};
    std::uintmax_t left = file_size - offset - 20;
    if (name > left) return false;
    left -= name;
    // Each factor checked before the product is formed: none can overflow it.
    if (rows > left || cols > left || (rows != 0 && cols > left / rows)) return false;
    const std::uintmax_t data = std::uintmax_t{rows} * cols * kBytes[precision] * (imaginary + 1);
    if (data > left) return false;
    offset += 20 + name + data;
  }
  return true;
}

// Before libmatio sees a file, the lengths it declares must fit in it:
// libmatio sizes its buffers from them before it reads, so a damaged length
// would have it ask for gigabytes (a version-4 name's length of 2 GB took
// seconds and as much memory). A version-5 file's top-level elements, a
// version-4 file's matrices; version 7.3 files (HDF5) are left to it.
bool top_level_fits(const std::string& path, std::uintmax_t file_size) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  unsigned char header[128];
  const bool whole = std::fread(header, 1, sizeof header, f) == sizeof header;
  const bool swapped = whole && header[126] == 'M' && header[127] == 'I';
  const bool marked = swapped || (whole && header[126] == 'I' && header[127] == 'M');
  const unsigned version = swapped ? header[124] * 256u + header[125] : header[125] * 256u + header[124];
  bool fits = true;
  if (marked && version == 0x0200) {
    // HDF5: its own library reads it.
  } else if (marked && version == 0x0100) {
    auto word = [swapped](const unsigned char* b) {
      return swapped ? (std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 | b[3])
                     : (std::uint32_t{b[3]} << 24 | std::uint32_t{b[2]} << 16 | std::uint32_t{b[1]} << 8 | b[0]);
    };
    std::uintmax_t offset = sizeof header;
    unsigned char tag[8];
    while (fits && offset + 8 <= file_size) {
      if (std::fseek(f, static_cast<long>(offset), SEEK_SET) != 0 || std::fread(tag, 1, 8, f) != 8) break;
      const std::uint32_t type = word(tag), bytes = word(tag + 4);
      // A small element packs its length into the type word and its data into the tag.
      const std::uintmax_t length = (type >> 16) != 0 ? 0 : bytes;
      if (offset + 8 + length > file_size) fits = false;
      // Compressed elements (type 15) are not padded to eight bytes.
      offset += 8 + (type == 15 ? length : ((length + 7) / 8) * 8);
    }
  } else {
    fits = version4_fits(f, file_size);
  }
  std::fclose(f);
  return fits;
}

}  // namespace

MatSignal read_mat_signal(const std::string& path, const std::string& variable) {
  std::error_code error;
  const std::uintmax_t file_size = std::filesystem::file_size(path, error);
  if (error) throw InputError(path + ": cannot open the file");
  if (!top_level_fits(path, file_size)) throw InputError(path + ": cannot open it as a MAT-file (damaged or truncated)");
  MatHandle mat = open_quietly(path);
  if (!mat) throw InputError(path + ": cannot open it as a MAT-file");
  std::vector<std::string> names, usable, problems;
  std::string chosen_problem;
  bool found = false;
  while (true) {
    VarHandle info(Mat_VarReadNextInfo(mat.get()));
    if (!info) break;
    if (info->name == nullptr) continue;
    names.emplace_back(info->name);
    const std::string problem = unusable(*info, file_size, !variable.empty());
    if (problem.empty()) {
      usable.emplace_back(info->name);
    } else if (problems.size() < 3) {
      problems.push_back("'" + std::string(info->name) + "' is " + problem);
    }
    if (!variable.empty() && variable == info->name) {
      found = true;
      chosen_problem = problem;
    }
  }
  std::string name = variable;
  if (!variable.empty()) {
    if (!found) {
      std::string list;
      for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
      throw InputError(path + ": no variable '" + variable + "' (it holds " + (list.empty() ? "none" : list) + ")");
    }
    if (!chosen_problem.empty()) throw InputError(path + ": variable '" + variable + "' is " + chosen_problem);
  } else if (usable.size() == 1) {
    name = usable.front();
  } else {
    std::string list;
    for (const auto& n : usable) list += (list.empty() ? "" : ", ") + n;
    if (!usable.empty()) throw InputError(path + ": choose the signal with --variable NAME among " + list);
    std::string why;
    for (const auto& p : problems) why += "; " + p;
    throw InputError(path + ": no variable is a real double vector or N x 2 matrix" +
                     (names.empty() ? std::string(" (no variable could be read)") : why));
  }

  Mat_Rewind(mat.get());
  VarHandle var(Mat_VarRead(mat.get(), name.c_str()));
  if (!var || !unusable(*var, file_size, !variable.empty()).empty() || var->data == nullptr ||
      var->data_type != MAT_T_DOUBLE) {
    throw InputError(path + ": cannot read variable '" + name + "' (the file is damaged or truncated)");
  }
  MatSignal signal;
  signal.variable = name;
  const auto* data = static_cast<const double*>(var->data);
  signal.rows = var->dims[0];
  signal.cols = var->dims[1];
  if (signal.rows == 1) std::swap(signal.rows, signal.cols);  // a row vector: one column
  signal.data.assign(data, data + signal.rows * signal.cols);
  return signal;
}

#endif

}  // namespace corvel::sim
