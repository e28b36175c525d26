#include "output/mat5_file.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/errors.h"

namespace corvel::sim {

namespace {

// The format's data types and array classes.
constexpr std::uint32_t kInt8 = 1, kInt32 = 5, kUint32 = 6, kDouble = 9, kMatrix = 14, kUtf8 = 16;
constexpr std::uint32_t kStructClass = 2, kCharClass = 4, kDoubleClass = 6;

std::uint64_t padded(std::uint64_t bytes) { return (bytes + 7) / 8 * 8; }

// A data element's bytes: its 8-byte tag and its data padded to 8, or, for
// at most 4 bytes, the small form of 8 bytes in all.
std::uint64_t element_bytes(std::uint64_t data) { return data <= 4 && data > 0 ? 8 : 8 + padded(data); }

std::uint64_t name_bytes(const std::string& name) { return element_bytes(name.size()); }

// A field name's room in a struct: the longest name and its terminator.
std::uint32_t field_name_room(const Mat5Item& s) {
  std::size_t longest = 0;
  for (const Mat5Item& f : s.fields) longest = std::max(longest, f.name.size());
  return static_cast<std::uint32_t>(longest + 1);
}

// The bytes of an item's matrix element after its own tag; a struct's field
// is written without a name of its own (`named` false).
std::uint64_t body_bytes(const Mat5Item& item, bool named = true) {
  const std::uint64_t flags_and_dims = 16 + 16;
  const std::uint64_t name = name_bytes(named ? item.name : std::string());
  switch (item.kind) {
    case Mat5Item::Kind::kNumbers:
      return flags_and_dims + name + 8 + 8ull * item.rows * item.cols;
    case Mat5Item::Kind::kText:
      return flags_and_dims + name + element_bytes(item.text.size());
    case Mat5Item::Kind::kStruct: {
      std::uint64_t bytes =
          flags_and_dims + name + 8 + element_bytes(static_cast<std::uint64_t>(field_name_room(item)) * item.fields.size());
      for (const Mat5Item& f : item.fields) bytes += 8 + body_bytes(f, false);
      return bytes;
    }
  }
  return 0;
}

class Layout {
 public:
  Layout(std::FILE* out, const std::string& shown) : out_(out), shown_(shown) {}

  void header() {
    char text[116];
    std::memset(text, ' ', sizeof text);
    const char* says = "MATLAB 5.0 MAT-file, written by corvel-sim";
    std::memcpy(text, says, std::strlen(says));
    bytes(text, sizeof text);
    const char subsystem[8] = {0};
    bytes(subsystem, sizeof subsystem);
    const std::uint16_t version = 0x0100;
    bytes(&version, 2);
    bytes("IM", 2);  // the file's own byte order, little-endian
  }

  void item(const Mat5Item& item) {
    const std::uint64_t body = body_bytes(item);
    refuse_past_mat5_limit(shown_, {item});
    tag(kMatrix, static_cast<std::uint32_t>(body));
    const std::uint32_t class_of = item.kind == Mat5Item::Kind::kNumbers ? kDoubleClass
                                   : item.kind == Mat5Item::Kind::kText  ? kCharClass
                                                                         : kStructClass;
    const std::uint32_t flags[2] = {class_of, 0};
    element(kUint32, flags, sizeof flags);
    std::int32_t dims[2] = {1, 1};
    if (item.kind == Mat5Item::Kind::kNumbers) {
      dims[0] = static_cast<std::int32_t>(item.rows);
      dims[1] = static_cast<std::int32_t>(item.cols);
    } else if (item.kind == Mat5Item::Kind::kText) {
      dims[1] = static_cast<std::int32_t>(item.text.size());
    }
    element(kInt32, dims, sizeof dims);
    element(kInt8, item.name.data(), item.name.size());
    switch (item.kind) {
      case Mat5Item::Kind::kNumbers: {
        const std::uint64_t data = 8ull * item.rows * item.cols;
        tag(kDouble, static_cast<std::uint32_t>(data));
        if (!item.numbers.empty() || data == 0) {
          bytes(item.numbers.data(), data);
        } else {
          // Room for numbers that come later; the file is extended past it.
          deferred_.push_back(at_);
          skip(data);
        }
        break;
      }
      case Mat5Item::Kind::kText:
        element(kUtf8, item.text.data(), item.text.size());
        break;
      case Mat5Item::Kind::kStruct: {
        const std::uint32_t room = field_name_room(item);
        element(kInt32, &room, sizeof room);
        std::string names(static_cast<std::size_t>(room) * item.fields.size(), '\0');
        for (std::size_t f = 0; f < item.fields.size(); ++f) {
          std::memcpy(&names[f * room], item.fields[f].name.data(), item.fields[f].name.size());
        }
        element(kInt8, names.data(), names.size());
        for (Mat5Item f : item.fields) {
          f.name.clear();  // a field's own matrix has no name: the struct names it
          this->item(f);
        }
        break;
      }
    }
  }

  void finish() {
    // The file ends where its last item does, numbers yet to come included.
    if (!deferred_.empty() && written_ < at_) {
      const char zero = 0;
      at_ -= 1;
      seek(at_);
      bytes(&zero, 1);
    }
  }

  std::vector<std::int64_t> deferred() const {
    return std::vector<std::int64_t>(deferred_.begin(), deferred_.end());
  }

 private:
  void tag(std::uint32_t type, std::uint32_t size) {
    const std::uint32_t words[2] = {type, size};
    bytes(words, sizeof words);
  }
  void element(std::uint32_t type, const void* data, std::size_t size) {
    if (size > 0 && size <= 4) {
      // The small form: type and size in one word, the data in the next.
      const std::uint32_t word = type | static_cast<std::uint32_t>(size) << 16;
      char small[4] = {0};
      std::memcpy(small, data, size);
      bytes(&word, 4);
      bytes(small, 4);
      return;
    }
    tag(type, static_cast<std::uint32_t>(size));
    bytes(data, size);
    const char zeros[8] = {0};
    bytes(zeros, padded(size) - size);
  }
  void bytes(const void* data, std::uint64_t size) {
    if (size > 0 && std::fwrite(data, 1, size, out_) != size) fail();
    at_ += size;
    written_ = at_;
  }
  void skip(std::uint64_t size) {
    at_ += size;
    seek(at_);
  }
  void seek(std::uint64_t at) {
    if (at > static_cast<std::uint64_t>(std::numeric_limits<long>::max()) ||
        std::fseek(out_, static_cast<long>(at), SEEK_SET) != 0) {
      fail();
    }
  }
  [[noreturn]] void fail() const { throw OutputError("writing the MAT log " + shown_ + " failed (is the disk full?)"); }

  std::FILE* out_;
  const std::string& shown_;
  std::uint64_t at_ = 0;       // where the next byte goes
  std::uint64_t written_ = 0;  // the end of what has been written
  std::vector<std::uint64_t> deferred_;
};

}  // namespace

void refuse_past_mat5_limit(const std::string& shown, const std::vector<Mat5Item>& items) {
  for (const Mat5Item& item : items) {
    if (body_bytes(item) > std::numeric_limits<std::uint32_t>::max()) {
      throw OutputError("the MAT log " + shown + " cannot hold " + item.name +
                        ": a version-5 MAT-file's variable ends at 4 GB (write a CSV log, or fewer columns with "
                        "--log-columns)");
    }
  }
}

std::vector<std::int64_t> write_mat5_layout(std::FILE* out, const std::string& shown, const std::vector<Mat5Item>& items) {
  Layout layout(out, shown);
  layout.header();
  for (const Mat5Item& item : items) layout.item(item);
  layout.finish();
  return layout.deferred();
}

std::uint64_t mat5_matrix_bytes(std::size_t rows, std::size_t cols, const std::string& name) {
  return 8 + body_bytes(mat5_numbers(name, rows, cols));
}

}  // namespace corvel::sim
