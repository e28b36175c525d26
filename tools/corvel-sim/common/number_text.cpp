#include "common/number_text.h"

#include <charconv>
#include <cstdlib>
#include <system_error>

namespace corvel::sim {

char* write_number(char* out, double x) {
  // Shortest round trip; std::to_chars never fails with this much room.
  return std::to_chars(out, out + kNumberTextMax, x).ptr;
}

std::string number_text(double x) {
  char buffer[kNumberTextMax];
  return std::string(buffer, write_number(buffer, x));
}

bool read_number(std::string_view text, double* value) {
  if (text.empty()) return false;
  const char* begin = text.data();
  const char* end = begin + text.size();
  // from_chars takes the common forms fast; what it leaves (a '+', hex
  // floats, values beyond the range, which strtod takes to inf or to the
  // nearest subnormal) falls through to strtod itself.
  const std::from_chars_result fast = std::from_chars(begin, end, *value);
  // A NaN goes to strtod too, which keeps a payload ("nan(123)") in its bits.
  if (fast.ec == std::errc() && fast.ptr == end && *value == *value) return true;
  const std::string copy(text);  // strtod needs the terminator
  char* stop = nullptr;
  *value = std::strtod(copy.c_str(), &stop);
  // strtod skips leading white space: a field with it is not one number.
  const char first = copy[0];
  const bool space = first == ' ' || first == '\t' || first == '\n' || first == '\r' || first == '\f' || first == '\v';
  return !space && stop == copy.c_str() + copy.size();
}

}  // namespace corvel::sim
