#include "fleet/fleet_record.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include "common/csv_text.h"

namespace corvel::sim {

namespace fs = std::filesystem;

namespace {

constexpr const char* kFirstLine = "corvel-sim fleet record 2";

std::string escaped(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

// False for an escape that escaped() does not make.
bool unescaped(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      *out += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case '\\': *out += '\\'; break;
      case 't': *out += '\t'; break;
      case 'n': *out += '\n'; break;
      case 'r': *out += '\r'; break;
      default: return false;
    }
  }
  return true;
}

std::string exact(double value) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

// Whole numbers and doubles as the text writes them, all of the field or none.
template <typename T>
bool whole(const std::string& text, T* value) {
  if (text.empty() || (text[0] != '-' && (text[0] < '0' || text[0] > '9'))) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  *value = static_cast<T>(parsed);
  return true;
}

bool real(const std::string& text, double* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  *value = std::strtod(text.c_str(), &end);
  return *end == '\0';
}

std::string identity_fields(const FileIdentity& f) {
  return escaped(f.path) + '\t' + std::to_string(f.size) + '\t' + std::to_string(f.time);
}

bool parse_identity(const std::vector<std::string>& f, FileIdentity* identity) {
  return f.size() == 4 && unescaped(f[1], &identity->path) && whole(f[2], &identity->size) &&
         whole(f[3], &identity->time);
}

}  // namespace

bool identify_file(const std::string& path, FileIdentity* identity) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return false;
  const std::uintmax_t size = fs::file_size(path, error);
  if (error) return false;
  const fs::file_time_type time = fs::last_write_time(path, error);
  if (error) return false;
  *identity = {path, size, static_cast<long long>(time.time_since_epoch().count())};
  return true;
}

std::string fleet_record_text(const FleetResult& r) {
  std::ostringstream text;
  text << kFirstLine << '\n';
  text << "status\t" << escaped(r.status) << '\n';
  text << "message\t" << escaped(r.message) << '\n';
  text << "options\t" << escaped(r.options) << '\n';
  text << "input\t" << identity_fields(r.input) << '\n';
  for (const FileIdentity& output : r.outputs) text << "output\t" << identity_fields(output) << '\n';
  for (const FleetSignalResult& s : r.signals) {
    text << "signal\t" << escaped(s.column) << '\t' << s.rows << '\t' << exact(s.error_rms) << '\t' << s.order << '\t'
         << exact(s.gain) << '\n';
  }
  text << "seconds\t" << exact(r.seconds) << '\n';
  return text.str();
}

bool parse_fleet_record(const std::string& text, FleetResult* result) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kFirstLine) return false;
  FleetResult r;
  bool status = false, options = false, input = false, seconds = false;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = split_line(line, '\t');
    bool good = false;
    if (f[0] == "status" && f.size() == 2) {
      good = !status && unescaped(f[1], &r.status) && (r.status == "done" || r.status == "failed");
      status = true;
    } else if (f[0] == "message" && f.size() == 2) {
      good = unescaped(f[1], &r.message);
    } else if (f[0] == "options" && f.size() == 2) {
      good = !options && unescaped(f[1], &r.options);
      options = true;
    } else if (f[0] == "input") {
      good = !input && parse_identity(f, &r.input);
      input = true;
    } else if (f[0] == "output") {
      r.outputs.emplace_back();
      good = parse_identity(f, &r.outputs.back());
    } else if (f[0] == "signal" && f.size() == 6) {
      FleetSignalResult s;
      good = unescaped(f[1], &s.column) && whole(f[2], &s.rows) && real(f[3], &s.error_rms) && whole(f[4], &s.order) &&
             real(f[5], &s.gain);
      r.signals.push_back(s);
    } else if (f[0] == "seconds" && f.size() == 2) {
      good = !seconds && real(f[1], &r.seconds);
      seconds = true;
    }
    if (!good) return false;
  }
  // The last line closes a whole record: one cut short has no seconds.
  if (!status || !options || !input || !seconds) return false;
  *result = r;
  return true;
}

bool read_current_record(const std::string& path, const std::string& status, const std::string& input,
                         const std::string& options, FleetResult* result) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  FleetResult found;
  if (!parse_fleet_record(text, &found) || found.status != status || found.options != options) return false;
  FileIdentity now;
  if (found.input.path != input || !identify_file(input, &now) || now != found.input) return false;
  for (const FileIdentity& output : found.outputs) {
    if (!identify_file(output.path, &now) || now != output) return false;
  }
  *result = found;
  return true;
}

}  // namespace corvel::sim
