// Compares two corvel-sim logs value by value: the same header, the same
// rows, and every value either the same bits or within a relative bound of
// its column's scale. Prints how many values differ and by how much.
// Usage: corvel_csv_compare A.csv B.csv RELATIVE_BOUND
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, ',')) fields.push_back(field);
  return fields;
}

std::vector<std::vector<std::string>> read(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path);
    std::exit(2);
  }
  std::vector<std::vector<std::string>> rows;
  std::string line;
  while (std::getline(in, line)) rows.push_back(split(line));
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s A.csv B.csv RELATIVE_BOUND\n", argv[0]);
    return 2;
  }
  const auto a = read(argv[1]), b = read(argv[2]);
  const double bound = std::strtod(argv[3], nullptr);
  if (a.empty() || a.size() != b.size() || a[0] != b[0]) {
    std::printf("FAIL: %s and %s differ in header or row count\n", argv[1], argv[2]);
    return 1;
  }
  const size_t columns = a[0].size();
  std::vector<double> scale(columns, 0.0);
  for (size_t r = 1; r < a.size(); ++r) {
    for (size_t c = 0; c < columns && c < a[r].size(); ++c) {
      const double x = std::strtod(a[r][c].c_str(), nullptr);
      if (std::isfinite(x)) scale[c] = std::fmax(scale[c], std::fabs(x));
    }
  }
  size_t values = 0, differing = 0, beyond = 0;
  double worst = 0.0;
  for (size_t r = 1; r < a.size(); ++r) {
    if (a[r].size() != columns || b[r].size() != columns) {
      std::printf("FAIL: row %zu has a different number of columns\n", r + 1);
      return 1;
    }
    for (size_t c = 0; c < columns; ++c) {
      ++values;
      if (a[r][c] == b[r][c]) continue;  // %.17g text: the same bits
      ++differing;
      const double x = std::strtod(a[r][c].c_str(), nullptr), y = std::strtod(b[r][c].c_str(), nullptr);
      // glibc prints a NaN's sign and mingw-w64 does not: NaN matches NaN.
      if (std::isnan(x) && std::isnan(y)) continue;
      const double relative = std::fabs(x - y) / (scale[c] > 0 ? scale[c] : 1.0);
      if (!(relative <= bound)) {
        if (++beyond <= 5) std::printf("FAIL: row %zu, %s: %s vs %s\n", r + 1, a[0][c].c_str(), a[r][c].c_str(), b[r][c].c_str());
      }
      if (relative > worst) worst = relative;
    }
  }
  std::printf("%zu values, %zu not the same bits, largest difference %.3g of the column's scale (bound %g)\n", values,
              differing, worst, bound);
  return beyond == 0 ? 0 : 1;
}
