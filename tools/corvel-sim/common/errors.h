// What can end a corvel-sim run, by what failed. main() turns each into its
// exit status: 2 for the command line, 1 for the rest.
#ifndef CORVEL_SIM_ERRORS_H
#define CORVEL_SIM_ERRORS_H

#include <stdexcept>

namespace corvel::sim {

// A bad command line: the text names the option and the value.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A problem with the input, naming the file and where in it.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An output that could not be written or put in place, naming it.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace corvel::sim

#endif
