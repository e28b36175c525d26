#include "common/text_encoding.h"

#include <cstdint>

namespace corvel::sim {

namespace {

// Bytes 0x80..0x9F of Windows-1252; 0xFFFD where it assigns none.
constexpr std::uint16_t kHigh[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                     0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

void append_utf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

bool is_utf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    std::uint32_t c = 0, least = 0;
    if (b < 0x80) {
      ++i;
      continue;
    } else if ((b & 0xE0) == 0xC0) {
      length = 2, c = b & 0x1F, least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      length = 3, c = b & 0x0F, least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      length = 4, c = b & 0x07, least = 0x10000;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    i += length;
  }
  return true;
}

std::string windows_1252_as_utf8(std::string_view text) {
  std::string out;
  for (const char ch : text) {
    const auto b = static_cast<unsigned char>(ch);
    append_utf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b);
  }
  return out;
}

}  // namespace corvel::sim
