// A version-5 MAT-file written by corvel-sim itself, uncompressed, so that a
// long log's numbers go into it straight from where they waited: the file's
// layout (every variable's tags, names and sizes) is written first, with room
// left for the numbers that are not at hand, and those are written into their
// places afterwards, a piece at a time.
#ifndef CORVEL_SIM_MAT5_FILE_H
#define CORVEL_SIM_MAT5_FILE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace corvel::sim {

struct Mat5Item {
  enum class Kind { kNumbers, kText, kStruct };
  Kind kind = Kind::kNumbers;
  std::string name;               // empty for a struct's field
  std::size_t rows = 0, cols = 0;  // kNumbers: a real double matrix
  std::vector<double> numbers;    // its numbers, column after column; empty: left for later
  std::string text;               // kText: a 1 x n character row (UTF-8 bytes)
  std::vector<Mat5Item> fields;   // kStruct: a 1 x 1 struct of these, named
};

inline Mat5Item mat5_numbers(std::string name, std::size_t rows, std::size_t cols, std::vector<double> numbers = {}) {
  Mat5Item item;
  item.name = std::move(name);
  item.rows = rows;
  item.cols = cols;
  item.numbers = std::move(numbers);
  return item;
}
inline Mat5Item mat5_text(std::string name, std::string text) {
  Mat5Item item;
  item.kind = Mat5Item::Kind::kText;
  item.name = std::move(name);
  item.text = std::move(text);
  return item;
}
inline Mat5Item mat5_struct(std::string name, std::vector<Mat5Item> fields) {
  Mat5Item item;
  item.kind = Mat5Item::Kind::kStruct;
  item.name = std::move(name);
  item.fields = std::move(fields);
  return item;
}

// Writes the file's header and `items` at the start of `out`. Returns, for
// each matrix whose numbers were left for later (in the order the items and
// their fields are met), the file offset of its first number; its column j
// starts rows * j doubles after it. Throws OutputError (naming `shown`) when
// a variable would pass the format's 4 GB or a write fails.
std::vector<std::int64_t> write_mat5_layout(std::FILE* out, const std::string& shown, const std::vector<Mat5Item>& items);

// Throws OutputError when one of `items` would pass the format's 4 GB.
void refuse_past_mat5_limit(const std::string& shown, const std::vector<Mat5Item>& items);

// The bytes a matrix of `rows` x `cols` doubles takes in the file, its
// tags and `name` included.
std::uint64_t mat5_matrix_bytes(std::size_t rows, std::size_t cols, const std::string& name);

}  // namespace corvel::sim

#endif
