// Reads fuzzer bytes from the front, so that seeds can be written by hand:
// each value takes the next bytes, and an exhausted input reads as zeros.
#ifndef CORVEL_FUZZ_BYTE_READER_H
#define CORVEL_FUZZ_BYTE_READER_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace corvel::fuzz {

class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool empty() const { return pos_ >= size_; }

  std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }

  std::int32_t i32() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(byte()) << (8 * i);
    return static_cast<std::int32_t>(v);
  }

  // A double chosen by one kind byte: the special values that matter here
  // directly, small whole numbers, or eight raw bytes.
  double number() {
    switch (byte() % 10) {
      case 0: return 0.0;
      case 1: return -0.0;
      case 2: return std::numeric_limits<double>::quiet_NaN();
      case 3: return std::numeric_limits<double>::infinity();
      case 4: return -std::numeric_limits<double>::infinity();
      case 5: return 1e300;
      case 6: return static_cast<double>(static_cast<std::int8_t>(byte()));
      case 7: return static_cast<double>(byte()) / 16.0;
      case 8: return static_cast<double>(i32());
      default: {
        std::uint64_t bits = 0;
        for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(byte()) << (8 * i);
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
      }
    }
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace corvel::fuzz

#endif
