// corvel-sim's CSV reader and option parser with any input.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "csv_input.h"
#include "options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    std::istringstream in(text);
    try {
      const corvel::sim::SampledSignal signal = corvel::sim::read_csv(in, "fuzz.csv");
      if (!signal.t.empty()) corvel::sim::time_step(signal, "fuzz.csv");
    } catch (const corvel::sim::InputError&) {
    }
  } else {
    // Arguments separated by NUL bytes, as a command line hands them over.
    std::vector<std::string> args;
    size_t start = 0;
    while (start <= text.size()) {
      const size_t end = text.find('\0', start);
      args.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
      if (end == std::string::npos) break;
      start = end + 1;
    }
    try {
      corvel::sim::parse_options(args);
    } catch (const corvel::sim::UsageError&) {
    }
  }
  return 0;
}
