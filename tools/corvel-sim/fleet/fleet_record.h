// What one recording of a fleet came to, in the one text form it takes
// everywhere: the record kept beside its outputs (NAME.run.txt, or
// NAME.failed.txt for a failure) and the result a worker process sends back.
//
// The form: a first line "corvel-sim fleet record 2", then one line a field,
// its name, a tab, its values separated by tabs:
//   status   done | failed
//   message  a failure's one line
//   options  the options that decide the outputs (fleet_options_line)
//   input    path, size in bytes, modification time (as the input was opened)
//   output   path, size in bytes, modification time (once put in place)
//   signal   column, rows, error RMS, order, gain (a tuning's recommendation)
//   seconds  the run's time
// Text values escape a backslash, a tab, a line feed and a carriage return
// (\\, \t, \n, \r), so that any name or message comes back as it went.
#ifndef CORVEL_SIM_FLEET_RECORD_H
#define CORVEL_SIM_FLEET_RECORD_H

#include <cstdint>
#include <string>
#include <vector>

namespace corvel::sim {

// A file as a record knows it: a later run takes it as the same only when
// both its size and its modification time are the same.
struct FileIdentity {
  std::string path;
  std::uintmax_t size = 0;
  long long time = 0;  // the file system's clock, in its own units
  bool operator==(const FileIdentity& other) const {
    return path == other.path && size == other.size && time == other.time;
  }
  bool operator!=(const FileIdentity& other) const { return !(*this == other); }
};

// The file at `path` now; false when it is not a file that is there.
bool identify_file(const std::string& path, FileIdentity* identity);

// What a finished run of one recording found, per signal.
struct FleetSignalResult {
  std::string column;  // the signal's name, or the --column value
  size_t rows = 0;
  double error_rms = 0.0;  // a tuning's: the recommendation's (for columns together, their score)
  int order = 0;           // a tuning's recommendation; 0 for a run
  double gain = 0.0;
};

struct FleetResult {
  std::string status;   // done, failed, up-to-date, missing
  std::string message;  // a failure's one line
  std::string options;  // the options it was run with
  FileIdentity input;   // the recording as it was opened
  std::vector<FileIdentity> outputs;
  std::vector<FleetSignalResult> signals;
  double seconds = 0.0;
};

// The text of a result, and back. parse_fleet_record is false for a text that
// is not a whole record (cut short, of another version, a field malformed).
std::string fleet_record_text(const FleetResult& result);
bool parse_fleet_record(const std::string& text, FleetResult* result);

// The result a record file at `path` holds when it is current: made with
// `options`, of the input at `input` as it is now (same size and time), its
// status `status`, and every output it names there as it was put in place.
// False otherwise (no record, another version, anything changed since).
bool read_current_record(const std::string& path, const std::string& status, const std::string& input,
                         const std::string& options, FleetResult* result);

}  // namespace corvel::sim

#endif
