#include "fleet/fleet_plan.h"

#include <cctype>
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

// A path as a case-insensitive file system compares it (ASCII letters; other
// letters are left as they are).
std::string folded_case(std::string path) {
  for (char& c : path) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return path;
}

// The extension of a member's plot: the kind --plot asks for, in its own
// case (.svg for a name without one).
std::string figure_extension(const std::string& plot) {
  const std::string extension = fs::path(plot).extension().string();
  return extension.empty() ? ".svg" : extension;
}

void refuse_other_kinds_summary(const std::string& summary, bool tune) {
  std::ifstream in(summary);
  std::string first;
  if (!in || !std::getline(in, first)) return;
  if (!first.empty() && first.back() == '\r') first.pop_back();
  if (first == fleet_summary_header(!tune)) {
    throw UsageError(std::string("--out-dir ") + fs::path(summary).parent_path().string() + " holds a " +
                     (tune ? "run" : "tune") + " fleet's summary (" + summary + "): give the " +
                     (tune ? "tune" : "run") + " fleet an --out-dir of its own");
  }
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
  std::set<std::string> recordings;
  for (const std::string& input : inputs) recordings.insert(identity_of(input));
  const auto refuse_over_recording = [&](const std::string& output, const std::string& whose) {
    if (recordings.count(identity_of(output)) != 0) {
      throw UsageError("the output " + output + whose + " would replace a recording of the fleet");
    }
  };
  const std::string summary = fleet_summary_path(o);
  refuse_over_recording(summary, " (the fleet's summary)");
  refuse_other_kinds_summary(summary, tune);
  std::vector<FleetMember> members;
  std::map<std::string, std::string> owner;  // an output's base, in one case -> its recording
  for (const std::string& input : inputs) {
    FleetMember m;
    m.input = input;
    m.base = (fs::path(o.out_dir) / mirrored(input)).string();
    const auto [it, fresh] = owner.emplace(folded_case(identity_of(m.base)), input);
    if (!fresh) {
      throw UsageError("the recordings " + it->second + " and " + input + " would both write " + m.base +
                       ".*: give them other names or folders");
    }
    if (tune) {
      m.plot = o.plot_given && o.plot.empty() ? "" : m.base + ".tune" + figure_extension(o.plot);
      m.record = m.base + ".tune.txt";
      m.failure = m.base + ".tune-failed.txt";
    } else {
      m.log = m.base + ".est.csv";
      m.plot = o.plot.empty() ? "" : m.base + ".plot" + figure_extension(o.plot);
      m.record = m.base + ".run.txt";
      m.failure = m.base + ".failed.txt";
    }
    for (const std::string& output : {m.log, m.plot, m.record, m.failure}) {
      if (!output.empty()) refuse_over_recording(output, " of " + input);
    }
    members.push_back(m);
  }
  return members;
}

std::string fleet_options_line(const SimOptions& o) {
  static const std::set<std::string> not_deciding = {"--input",   "--inputs-from",  "--out-dir", "--jobs",
                                                     "--force",   "--shard",        "--summary-only", "--help",
                                                     "--version", "--quiet"};
  std::string line;
  for (const auto& [name, value] : o.typed) {
    if (not_deciding.count(name) != 0) continue;
    line += (line.empty() ? "" : " ") + name + (value.empty() ? "" : " " + shell_quoted(value));
  }
  return line;
}

bool read_current_run(const FleetMember& member, const std::string& options_line, FleetResult* result) {
  return read_current_record(member.record, "done", member.input, options_line, result);
}

bool read_current_failure(const FleetMember& member, const std::string& options_line, FleetResult* result) {
  return read_current_record(member.failure, "failed", member.input, options_line, result);
}

std::string fleet_summary_header(bool tune) {
  return std::string("recording,column,status,message,rows,") + (tune ? "order,gain," : "") + "error_rms,outputs,seconds";
}

std::string fleet_summary_path(const SimOptions& o) { return (fs::path(o.out_dir) / "summary.csv").string(); }

}  // namespace corvel::sim
