#include "fleet/fleet_plan.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

#include "common/csv_text.h"
#include "common/errors.h"
#include "common/file_kinds.h"

namespace corvel::sim {

namespace fs = std::filesystem;

namespace {

// A recording must be a file that is there: `where` says where it was named.
void check_recording(const std::string& path, const std::string& where) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) throw UsageError(where + path + " does not exist");
  if (fs::is_directory(status)) throw UsageError(where + path + " is a folder, not a recording");
}

// The same file named twice, by another path or through a link.
std::string identity_of(const std::string& path) {
  std::error_code error;
  const fs::path canonical = fs::weakly_canonical(path, error);
  return error ? path : canonical.string();
}

// A recording's place under the output folder: its folders as given, an
// absolute path without its root, a '..' as '_up', its extension dropped.
fs::path mirrored(const std::string& input) {
  fs::path relative;
  for (const fs::path& part : fs::path(input).lexically_normal().relative_path()) {
    if (part == "..") relative /= "_up";
    else if (part != ".") relative /= part;
  }
  return relative.parent_path() / relative.stem();
}

std::string input_identity_line(const std::string& input) {
  std::error_code error;
  const auto size = fs::file_size(input, error);
  const auto time = fs::last_write_time(input, error);
  if (error) return "";
  return std::to_string(size) + "\t" + std::to_string(time.time_since_epoch().count());
}

}  // namespace

std::vector<std::string> fleet_inputs(const SimOptions& o) {
  std::vector<std::string> inputs;
  std::map<std::string, std::string> named;  // identity -> how it was named first
  const auto add = [&](const std::string& path, const std::string& where) {
    check_recording(path, where);
    const auto [it, fresh] = named.emplace(identity_of(path), where + path);
    if (!fresh) throw UsageError("the recording " + where + path + " is named twice (first as " + it->second + ")");
    inputs.push_back(path);
  };
  for (const std::string& input : o.inputs) add(input, "");
  if (!o.inputs_from.empty()) {
    std::error_code error;
    if (fs::is_directory(o.inputs_from, error)) throw UsageError("--inputs-from " + o.inputs_from + " is a folder");
    std::ifstream list(o.inputs_from);
    if (!list) throw UsageError("--inputs-from " + o.inputs_from + ": the list cannot be read");
    std::string line;
    for (size_t number = 1; std::getline(list, line); ++number) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const size_t first = line.find_first_not_of(" \t");
      if (first == std::string::npos || line[first] == '#') continue;
      add(line, o.inputs_from + ":" + std::to_string(number) + ": ");
    }
  }
  if (inputs.empty()) {
    throw UsageError(o.inputs_from.empty() ? "no recordings to run" : "--inputs-from " + o.inputs_from + " lists no recordings");
  }
  return inputs;
}

std::vector<FleetMember> plan_fleet(const std::vector<std::string>& inputs, const SimOptions& o,
                                    Subcommand subcommand) {
  const bool tune = subcommand == Subcommand::kTune;
  std::error_code error;
  if (fs::exists(o.out_dir, error) && !fs::is_directory(o.out_dir, error)) {
    throw UsageError("--out-dir " + o.out_dir + " is a file, not a folder");
  }
  const bool html = is_html_path(o.plot);
  std::vector<FleetMember> members;
  std::map<std::string, std::string> owner;  // an output's base -> its recording
  std::set<std::string> recordings;
  for (const std::string& input : inputs) recordings.insert(identity_of(input));
  for (const std::string& input : inputs) {
    FleetMember m;
    m.input = input;
    m.base = (fs::path(o.out_dir) / mirrored(input)).string();
    const auto [it, fresh] = owner.emplace(identity_of(m.base), input);
    if (!fresh) {
      throw UsageError("the recordings " + it->second + " and " + input + " would both write " + m.base +
                       ".*: give them other names or folders");
    }
    if (tune) {
      m.plot = o.plot_given && o.plot.empty() ? "" : m.base + ".tune.svg";
      m.record = m.base + ".tune.txt";
      m.failure = m.base + ".tune-failed.txt";
    } else {
      m.log = m.base + ".est.csv";
      m.plot = o.plot.empty() ? "" : m.base + ".plot" + (html ? ".html" : ".svg");
      m.record = m.base + ".run.txt";
      m.failure = m.base + ".failed.txt";
    }
    for (const std::string& output : {m.log, m.plot, m.record, m.failure}) {
      if (!output.empty() && recordings.count(identity_of(output)) != 0) {
        throw UsageError("the output " + output + " of " + input + " would replace a recording of the fleet");
      }
    }
    members.push_back(m);
  }
  return members;
}

std::string fleet_options_line(const SimOptions& o) {
  static const std::set<std::string> not_deciding = {"--input",   "--inputs-from",  "--out-dir", "--jobs",
                                                     "--force",   "--shard",        "--summary-only", "--help",
                                                     "--version"};
  std::string line;
  for (const auto& [name, value] : o.typed) {
    if (not_deciding.count(name) != 0) continue;
    line += (line.empty() ? "" : " ") + name + (value.empty() ? "" : " " + shell_quoted(value));
  }
  return line;
}

std::string record_text(const FleetMember& member, const std::string& options_line, const FleetResult& result) {
  std::ostringstream text;
  char number[40];
  text << "corvel-sim run record\n";
  text << "options\t" << options_line << '\n';
  text << "input\t" << member.input << '\t' << input_identity_line(member.input) << '\n';
  for (const std::string& output : result.outputs) text << "output\t" << output << '\n';
  for (const FleetSignalResult& s : result.signals) {
    std::snprintf(number, sizeof number, "%.17g", s.error_rms);
    char gain[40];
    std::snprintf(gain, sizeof gain, "%.17g", s.gain);
    text << "signal\t" << s.column << '\t' << s.rows << '\t' << number << '\t' << s.order << '\t' << gain << '\n';
  }
  std::snprintf(number, sizeof number, "%.3f", result.seconds);
  text << "seconds\t" << number << '\n';
  return text.str();
}

bool read_current_record(const FleetMember& member, const std::string& options_line, FleetResult* result) {
  std::ifstream in(member.record);
  std::string line;
  if (!in || !std::getline(in, line) || line != "corvel-sim run record") return false;
  FleetResult found;
  bool options_same = false, input_same = false;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = split_line(line, '\t');
    if (f.empty()) continue;
    if (f[0] == "options") {
      options_same = line.substr(8) == options_line;
    } else if (f[0] == "input" && f.size() == 4) {
      input_same = f[1] == member.input && f[2] + "\t" + f[3] == input_identity_line(member.input);
    } else if (f[0] == "output" && f.size() == 2) {
      std::error_code error;
      if (!fs::is_regular_file(f[1], error)) return false;
      found.outputs.push_back(f[1]);
    } else if (f[0] == "signal" && f.size() == 6) {
      found.signals.push_back({f[1], static_cast<size_t>(std::strtoull(f[2].c_str(), nullptr, 10)),
                               std::strtod(f[3].c_str(), nullptr), std::atoi(f[4].c_str()),
                               std::strtod(f[5].c_str(), nullptr)});
    } else if (f[0] == "seconds" && f.size() == 2) {
      found.seconds = std::strtod(f[1].c_str(), nullptr);
    }
  }
  if (!options_same || !input_same || found.outputs.empty()) return false;
  found.status = "up-to-date";
  *result = found;
  return true;
}

bool read_failure(const FleetMember& member, std::string* message) {
  std::ifstream in(member.failure);
  std::string line;
  if (!in || !std::getline(in, line)) return false;
  *message = line;
  return true;
}

}  // namespace corvel::sim
