// Numbers as corvel-sim reads and writes them: written as the shortest text
// that reads back to the same double, read exactly as strtod reads them.
#ifndef CORVEL_SIM_NUMBER_TEXT_H
#define CORVEL_SIM_NUMBER_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace corvel::sim {

// Room for any double's shortest text ("-2.2250738585072014e-308").
constexpr std::size_t kNumberTextMax = 32;

// Writes x at `out` (no terminator) and returns the end. nan and inf are
// written as "nan", "-nan", "inf", "-inf".
char* write_number(char* out, double x);
std::string number_text(double x);

// True when the whole of `text` is one number as strtod reads it (decimal,
// hex float, leading '+', inf, nan, overflow to inf, underflow to 0 or a
// subnormal); the value is then in *value.
bool read_number(std::string_view text, double* value);

}  // namespace corvel::sim

#endif
