#include "common/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <system_error>

#if defined(CORVEL_HAVE_FMT)
#include <fmt/format.h>
#endif

namespace corvel::sim {

namespace {

#if defined(CORVEL_HAVE_FMT)
constexpr char kPairs[] =
    "0001020304050607080910111213141516171819202122232425262728293031323334353637383940414243444546474849"
    "5051525354555657585960616263646566676869707172737475767778798081828384858687888990919293949596979899";

// Exactly eight digits of v < 1e8 at p: two halves whose divisions do not
// wait for each other.
void write_eight_digits(char* p, std::uint32_t v) {
  const std::uint32_t high = v / 10000, low = v % 10000;
  std::memcpy(p, kPairs + 2 * (high / 100), 2);
  std::memcpy(p + 2, kPairs + 2 * (high % 100), 2);
  std::memcpy(p + 4, kPairs + 2 * (low / 100), 2);
  std::memcpy(p + 6, kPairs + 2 * (low % 100), 2);
}

// The `n` decimal digits of `s` at `out`; returns the end.
char* write_digits(char* out, std::uint64_t s, int n) {
  char* const end = out + n;
  char* p = end;
  for (; n > 8; n -= 8, p -= 8) {
    const std::uint64_t rest = s / 100000000;
    write_eight_digits(p - 8, static_cast<std::uint32_t>(s - rest * 100000000));
    s = rest;
  }
  auto v = static_cast<std::uint32_t>(s);
  for (; v >= 100; v /= 100) {
    p -= 2;
    std::memcpy(p, kPairs + 2 * (v % 100), 2);
  }
  if (v >= 10) {
    std::memcpy(p - 2, kPairs + 2 * v, 2);
  } else {
    p[-1] = static_cast<char>('0' + v);
  }
  return end;
}

// How many decimal digits s > 0 has: from its bit length, then one look at
// a power of ten.
int digit_count(std::uint64_t s) {
  static constexpr std::uint64_t kPowers[20] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull,
                                                10000000ull, 100000000ull, 1000000000ull, 10000000000ull,
                                                100000000000ull, 1000000000000ull, 10000000000000ull,
                                                100000000000000ull, 1000000000000000ull, 10000000000000000ull,
                                                100000000000000000ull, 1000000000000000000ull,
                                                10000000000000000000ull};
  const int bits = 64 - __builtin_clzll(s);
  const int guess = (bits * 1233) >> 12;  // 1233 / 4096 is just above log10(2): digits - 1, or one more
  return guess + (s < kPowers[guess] ? 0 : 1);
}

// A log writes millions of numbers: their shortest digits come from fmt's
// Dragonbox, about twice as fast as std::to_chars, and are laid out here
// exactly as std::to_chars lays them out: fixed where that is no longer than
// the exponent form, which has a sign and at least two exponent digits.
// Zero, inf, nan and numbers of 1e15 and more (whose fixed form std::to_chars
// writes with the double's exact integer digits) are left to std::to_chars.
char* write_shortest(char* out, double x) {
  if (!std::isfinite(x) || x == 0.0 || std::fabs(x) >= 1e15) return std::to_chars(out, out + kNumberTextMax, x).ptr;
  const auto decimal = fmt::detail::dragonbox::to_decimal(x);
  if (x < 0) *out++ = '-';
  const int n = digit_count(decimal.significand);
  const int exponent = decimal.exponent + n - 1;  // of the first digit
  const int magnitude = exponent < 0 ? -exponent : exponent;
  const int exponent_form = n + (n > 1 ? 1 : 0) + 2 + (magnitude >= 100 ? 3 : 2);
  const int fixed_form = exponent >= 0 ? (n <= exponent + 1 ? exponent + 1 : n + 1) : n + 1 - exponent;
  // The digits are written once, where most of them stay; the few before a
  // point move one place to the left to make room for it.
  if (fixed_form > exponent_form) {
    write_digits(out + 1, decimal.significand, n);
    out[0] = out[1];
    if (n > 1) {
      out[1] = '.';
      out += n + 1;
    } else {
      out += 1;
    }
    *out++ = 'e';
    *out++ = exponent < 0 ? '-' : '+';
    if (magnitude >= 100) *out++ = static_cast<char>('0' + magnitude / 100);
    *out++ = static_cast<char>('0' + magnitude / 10 % 10);
    *out++ = static_cast<char>('0' + magnitude % 10);
    return out;
  }
  if (exponent < 0) {
    *out++ = '0';
    *out++ = '.';
    for (int k = exponent + 1; k < 0; ++k) *out++ = '0';
    return write_digits(out, decimal.significand, n);
  }
  if (n <= exponent + 1) {
    out = write_digits(out, decimal.significand, n);
    for (int k = n; k <= exponent; ++k) *out++ = '0';
    return out;
  }
  char* const end = write_digits(out + 1, decimal.significand, n);
  for (int k = 0; k <= exponent; ++k) out[k] = out[k + 1];
  out[exponent + 1] = '.';
  return end;
}
#else
char* write_shortest(char* out, double x) { return std::to_chars(out, out + kNumberTextMax, x).ptr; }
#endif

}  // namespace

char* write_number(char* out, double x) {
  // Shortest round trip; never more than kNumberTextMax characters.
  return write_shortest(out, x);
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
