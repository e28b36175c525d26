// corvel-sim's input readers and option parser with any input: the first
// byte chooses a CSV text, a MAT-file or a command line.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <unistd.h>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "input/csv_input.h"
#include "input/mat_reader.h"
#include "command_line/options.h"
#include "input/record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  switch (data[0] % 3) {
    case 0: {
      const std::string choices[] = {"", "2", "u", "none"};
      try {
        corvel::sim::CsvReader reader(std::make_unique<std::istringstream>(text), "fuzz.csv",
                                      {choices[(data[0] / 3) % 3], choices[(data[0] / 9) % 4]});
        corvel::sim::TimeGrid grid(1e-6);
        corvel::sim::CsvRow row;
        while (reader.next(&row)) {
          if (reader.layout().time >= 0) grid.add(row.t, "");
        }
      } catch (const corvel::sim::InputError&) {
      }
      break;
    }
    case 1: {
      // matio reads files by name.
      const std::string path = "/tmp/corvel-fuzz-" + std::to_string(static_cast<long>(getpid())) + ".mat";
      std::FILE* f = std::fopen(path.c_str(), "wb");
      if (f == nullptr) return 0;
      std::fwrite(text.data(), 1, text.size(), f);
      std::fclose(f);
      try {
        corvel::sim::read_mat_signal(path, (data[0] / 3) % 2 ? "u" : "");
      } catch (const corvel::sim::InputError&) {
      }
      std::remove(path.c_str());
      break;
    }
    default: {
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
  }
  return 0;
}
