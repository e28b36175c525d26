#include "fleet/fleet_command.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "common/csv_text.h"
#include "common/errors.h"
#include "common/interrupt.h"
#include "common/number_text.h"
#include "fleet/fleet_plan.h"
#include "fleet/fleet_progress.h"
#include "output/output_file.h"
#include "run/run_command.h"
#include "tune/tune_command.h"

namespace corvel::sim {

namespace fs = std::filesystem;

namespace {

// One line of a failure's text, for the summary.
std::string one_line(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  std::replace(text.begin(), text.end(), '\r', ' ');
  std::replace(text.begin(), text.end(), '\t', ' ');
  return text;
}

// A file written whole or not at all.
void put_in_place(const std::string& path, const std::string& what, const std::string& text) {
  OutputSet outputs;
  OutputFile& file = outputs.open(path, what);
  file.write(text.data(), text.size());
  outputs.commit();
}

// A tuning's results: each signal's own recommendation and, for several, the
// one for all of them together.
std::vector<FleetSignalResult> tuning_results(const TuningReport& r) {
  std::vector<FleetSignalResult> signals;
  const auto add = [&](const std::string& column, size_t rows, const TuneResult& t) {
    const OrderResult& best = t.orders[t.recommended];
    signals.push_back({column, rows, best.best_error_rms, best.order, best.best_gain});
  };
  for (size_t c = 0; c < r.each.size(); ++c) add(r.inputs[c].signal_name, r.inputs[c].u.size(), r.each[c]);
  add(r.inputs.size() > 1 ? "(together)" : r.inputs[0].signal_name, r.inputs[0].u.size(), r.together);
  return signals;
}

// What a record says of the files a run put in place, as they are now.
std::vector<FileIdentity> identities(const std::vector<std::string>& paths) {
  std::vector<FileIdentity> outputs;
  for (const std::string& path : paths) {
    FileIdentity identity;
    if (!identify_file(path, &identity)) throw OutputError("the output " + path + " is gone as soon as it was put in place");
    outputs.push_back(identity);
  }
  return outputs;
}

// One recording, as it would run alone, then the record of its run (or of its
// failure) beside its outputs. The input is identified as it is opened and
// again before the outputs are put in place: a recording that changed in
// between fails. The record of an earlier run goes before the new outputs
// are put in place, so that no record ever stands beside outputs it does not
// describe.
FleetResult run_member(const FleetMember& m, const SimOptions& o, const std::string& options_line, Subcommand what) {
  const auto start = std::chrono::steady_clock::now();
  const auto seconds = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  FleetResult result;
  result.options = options_line;
  result.input.path = m.input;
  try {
    std::error_code ignored;
    fs::create_directories(fs::path(m.base).parent_path(), ignored);  // a failure to say so comes with the outputs
    // A stream (a FIFO) has no size or time to compare: it is never current.
    const bool a_file = identify_file(m.input, &result.input);
    const auto before_placing = [&] {
      FileIdentity now;
      if (a_file && (!identify_file(m.input, &now) || now != result.input)) {
        throw InputError(m.input + " changed while it was run (its size or time is not what it was when it was "
                         "opened): run the fleet again");
      }
      for (const std::string& record : {m.record, m.failure}) {
        std::error_code error;
        fs::remove(record, error);
        if (error) throw OutputError("the earlier record " + record + " cannot be removed: " + error.message());
      }
    };
    std::vector<std::string> outputs;
    if (what == Subcommand::kTune) {
      SimOptions tuning = o;
      tuning.input = m.input;
      tuning.plot = m.plot;
      tuning.plot_given = true;
      const TuningReport report = tune_recording(tuning, false, before_placing);
      result.signals = tuning_results(report);
      if (!report.plot.empty()) outputs.push_back(report.plot);
      outputs.insert(outputs.end(), report.column_plots.begin(), report.column_plots.end());
    } else {
      RunDescription run = o;
      run.input = m.input;
      run.out = m.log;
      run.plot = m.plot;
      run.progress = false;
      const RunReport report = run_recording(run, before_placing);
      for (const SignalReport& s : report.signals) result.signals.push_back({s.name, s.rows, s.error_rms, 0, 0.0});
      outputs = report.outputs;
    }
    result.status = "done";
    result.outputs = identities(outputs);
    result.seconds = seconds();
    put_in_place(m.record, "run record", fleet_record_text(result));
  } catch (const std::exception& e) {
    const FileIdentity input = result.input;
    result = FleetResult{};
    result.status = "failed";
    result.message = one_line(e.what());
    result.options = options_line;
    result.input = input;
    result.seconds = seconds();
    try {
      put_in_place(m.failure, "failure record", fleet_record_text(result));
    } catch (const std::exception&) {
      // The failure is reported in the summary all the same.
    }
  }
  return result;
}

#if !defined(_WIN32)
// Whole writes to a worker's pipe, given up when the parent has gone (it
// reads the result as missing then).
void write_all(int fd, const std::string& text) {
  for (size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// Why a worker ended without a result, from its wait status. A worker that
// an interrupt reached removes its outputs and exits with 128 + the signal.
std::string worker_end(int status) {
  int signal_number = 0;
  if (WIFSIGNALED(status)) signal_number = WTERMSIG(status);
  else if (WIFEXITED(status) && WEXITSTATUS(status) > 128) signal_number = WEXITSTATUS(status) - 128;
  if (signal_number == 0) return "the worker process running it ended without a result";
  const char* name = strsignal(signal_number);
  return "the worker process running it was ended by signal " + std::to_string(signal_number) +
         (name != nullptr ? std::string(" (") + name + ")" : std::string());
}
#endif

// The recordings of `todo`, `jobs` at a time, each in a worker process of its
// own (the block's module-wide state allows one run per process); a worker
// sends its result back over a pipe, as the text of its record. One job:
// here, one after another.
// The samples a result ran: each signal's rows (a tuning's joint entry of
// several signals is theirs again).
double samples_of(const FleetResult& r, Subcommand what) {
  size_t count = r.signals.size();
  if (what == Subcommand::kTune && count > 1) --count;
  double samples = 0.0;
  for (size_t s = 0; s < count; ++s) samples += static_cast<double>(r.signals[s].rows);
  return samples;
}

void run_members(const std::vector<FleetMember>& members, const std::vector<size_t>& todo, const SimOptions& o,
                 const std::string& options_line, Subcommand what, std::vector<FleetResult>& results) {
  FleetProgress progress(todo.size(), FleetProgress::for_standard_error(o.quiet));
  const auto ended = [&](size_t i) { progress.recording_ended(results[i].status == "failed", samples_of(results[i], what)); };
#if defined(_WIN32)
  const int jobs = 1;
#else
  // A tuning's --jobs are its own workers: its recordings go one after another.
  const int jobs = what == Subcommand::kTune ? 1 : std::max(1, o.jobs);
#endif
  // A run reads ahead and formats its log on threads of its own; workers
  // that fill the cores gain nothing by them and lose by their hand-overs.
  SimOptions each = o;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  each.helper_threads = jobs == 1 || static_cast<unsigned>(jobs) * 3 <= cores;
  if (jobs == 1) {
    for (const size_t i : todo) {
      results[i] = run_member(members[i], each, options_line, what);
      ended(i);
    }
    progress.finish();
    return;
  }
#if !defined(_WIN32)
  struct Worker {
    pid_t pid;
    int from;
    size_t index;
    std::string text;
  };
  // A worker that has died must not take the fleet down with a SIGPIPE.
  signal(SIGPIPE, SIG_IGN);
  std::vector<Worker> running;
  size_t next = 0;
  std::cout.flush();
  std::cerr.flush();
  while (next < todo.size() || !running.empty()) {
    while (static_cast<int>(running.size()) < jobs && next < todo.size()) {
      const size_t i = todo[next++];
      int pipe_ends[2];
      if (pipe(pipe_ends) != 0) throw std::runtime_error("cannot make a pipe for a worker process");
      const pid_t pid = fork();
      if (pid < 0) throw std::runtime_error("cannot start a worker process");
      if (pid == 0) {
        forget_workers();
        close(pipe_ends[0]);
        for (const Worker& w : running) close(w.from);
        write_all(pipe_ends[1], fleet_record_text(run_member(members[i], each, options_line, what)));
        std::cout.flush();
        std::cerr.flush();
        _exit(0);
      }
      close(pipe_ends[1]);
      register_worker(pid);  // an interrupt reaches it, and is waited for
      running.push_back({pid, pipe_ends[0], i, ""});
    }
    std::vector<pollfd> fds;
    for (const Worker& w : running) fds.push_back({w.from, POLLIN, 0});
    progress.tick();
    // Woken at least once a second, for the progress line's clock.
    if (poll(fds.data(), fds.size(), 1000) <= 0) continue;  // a signal or the clock: look again
    for (size_t k = fds.size(); k-- > 0;) {
      if (fds[k].revents == 0) continue;
      Worker& w = running[k];
      char buffer[4096];
      const ssize_t n = read(w.from, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n > 0) {
        w.text.append(buffer, static_cast<size_t>(n));
        continue;
      }
      close(w.from);
      int status = 0;
      while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
      }
      release_worker(w.pid);
      FleetResult r;
      if (!parse_fleet_record(w.text, &r)) {
        const FleetMember& m = members[w.index];
        remove_temporaries_of(fs::path(m.base).parent_path().string(), fs::path(m.base).filename().string() + ".",
                              w.pid);
        r = FleetResult{};
        r.status = "failed";
        r.message = worker_end(status);
      }
      results[w.index] = r;
      ended(w.index);
      running.erase(running.begin() + static_cast<long>(k));
    }
  }
  progress.finish();
#endif
}

struct SummaryRow {
  std::string recording, column, status, message, rows, order, gain, error_rms, outputs, seconds;
};

std::vector<SummaryRow> summary_rows(const std::vector<FleetMember>& members, const std::vector<FleetResult>& results,
                                     const std::vector<bool>& included, const SimOptions& o) {
  std::vector<SummaryRow> rows;
  for (size_t i = 0; i < members.size(); ++i) {
    if (!included[i]) continue;
    const FleetResult& r = results[i];
    std::string outputs;
    for (const FileIdentity& output : r.outputs) outputs += (outputs.empty() ? "" : ";") + output.path;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
    if (r.signals.empty()) {
      rows.push_back({members[i].input, o.column, r.status, r.message, "", "", "", "", outputs, seconds});
    }
    for (const FleetSignalResult& s : r.signals) {
      rows.push_back({members[i].input, s.column, r.status, r.message, std::to_string(s.rows),
                      s.order > 0 ? std::to_string(s.order) : "", s.order > 0 ? number_text(s.gain) : "",
                      number_text(s.error_rms), outputs, seconds});
    }
  }
  return rows;
}

// A tuning's summary has the recommendation (order, gain) before the error RMS.
std::string summary_csv(const std::vector<SummaryRow>& rows, bool tune) {
  std::string text = fleet_summary_header(tune) + "\n";
  for (const SummaryRow& r : rows) {
    text += csv_field(r.recording) + "," + csv_field(r.column) + "," + r.status + "," + csv_field(r.message) + "," +
            r.rows + "," + (tune ? r.order + "," + r.gain + "," : "") + r.error_rms + "," + csv_field(r.outputs) +
            "," + r.seconds + "\n";
  }
  return text;
}

// The summary's table for a person: the same rows, numbers shortened.
void print_summary(const std::vector<SummaryRow>& rows, bool tune) {
  size_t width = 9;
  for (const SummaryRow& r : rows) width = std::max(width, r.recording.size() + 1);
  width = std::min<size_t>(width, 60);
  std::printf("%-*s %-12s %-10s %9s", static_cast<int>(width), "recording", "column", "status", "rows");
  if (tune) std::printf(" %5s %12s", "order", "gain");
  std::printf(" %14s %9s  %s\n", tune ? "error RMS" : "error RMS", "seconds", "message");
  for (const SummaryRow& r : rows) {
    char rms[32] = "", gain[32] = "";
    if (!r.error_rms.empty()) std::snprintf(rms, sizeof rms, "%.6g", std::strtod(r.error_rms.c_str(), nullptr));
    if (!r.gain.empty()) std::snprintf(gain, sizeof gain, "%.6g", std::strtod(r.gain.c_str(), nullptr));
    std::printf("%-*s %-12s %-10s %9s", static_cast<int>(width), r.recording.c_str(), r.column.c_str(),
                r.status.c_str(), r.rows.c_str());
    if (tune) std::printf(" %5s %12s", r.order.c_str(), gain);
    std::printf(" %14s %9s  %s\n", rms, r.seconds.c_str(), r.message.c_str());
  }
}

// The fleet's spread of recommendations: how many recordings chose each
// order, and the gains' range and median (the joint ones for several columns).
void print_spread(const std::vector<FleetResult>& results, const std::vector<bool>& included) {
  std::map<int, size_t> orders;
  std::vector<double> gains;
  for (size_t i = 0; i < results.size(); ++i) {
    if (!included[i] || results[i].signals.empty() || results[i].status == "failed") continue;
    const FleetSignalResult& chosen = results[i].signals.back();
    if (chosen.order <= 0) continue;
    ++orders[chosen.order];
    gains.push_back(chosen.gain);
  }
  if (gains.empty()) return;
  std::sort(gains.begin(), gains.end());
  const size_t n = gains.size();
  const double median = n % 2 == 1 ? gains[n / 2] : (gains[n / 2 - 1] + gains[n / 2]) / 2.0;
  std::printf("corvel-sim tune: the fleet's recommendations: order");
  for (const auto& [order, count] : orders) std::printf(" %d (%zu)", order, count);
  std::printf("; gain %.6g to %.6g, median %.6g\n", gains.front(), gains.back(), median);
}

}  // namespace

int fleet_command(const SimOptions& options, Subcommand subcommand) {
  const bool tune = subcommand == Subcommand::kTune;
  const std::vector<std::string> inputs = fleet_inputs(options);
  const std::vector<FleetMember> members = plan_fleet(inputs, options, subcommand);
  const std::string options_line = fleet_options_line(options);
  const bool sharded = options.shard_count > 0;
  std::vector<FleetResult> results(members.size());
  std::vector<bool> included(members.size(), false);
  std::vector<size_t> todo;
  for (size_t i = 0; i < members.size(); ++i) {
    if (sharded && static_cast<int>(i % static_cast<size_t>(options.shard_count)) != options.shard_index) continue;
    included[i] = true;
    FleetResult& r = results[i];
    if (options.summary_only) {
      // What the fleet's runs left: a current record, a failure, or nothing.
      if (read_current_run(members[i], options_line, &r)) {
        r.status = "done";
      } else if (read_current_failure(members[i], options_line, &r)) {
        r.status = "failed";
      } else {
        r.status = "missing";
        r.message = "no current outputs: its run did not finish (run the fleet again)";
      }
    } else if (options.force || !read_current_run(members[i], options_line, &r)) {
      todo.push_back(i);
    } else {
      r.status = "up-to-date";
    }
  }
  std::error_code ignored;
  fs::create_directories(options.out_dir, ignored);
  run_members(members, todo, options, options_line, subcommand, results);

  const std::vector<SummaryRow> rows = summary_rows(members, results, included, options);
  const std::string summary = fleet_summary_path(options);
  if (!sharded) put_in_place(summary, "summary", summary_csv(rows, tune));
  print_summary(rows, tune);
  if (tune) print_spread(results, included);

  size_t done = 0, current = 0, count = 0;
  std::vector<std::string> failed;
  for (size_t i = 0; i < members.size(); ++i) {
    if (!included[i]) continue;
    ++count;
    const std::string& status = results[i].status;
    if (status == "done") ++done;
    else if (status == "up-to-date") ++current;
    else {
      // A message that names the recording already says where.
      const std::string& message = results[i].message;
      const bool named = message.rfind(members[i].input, 0) == 0;
      failed.push_back((named ? "" : members[i].input + ": ") + (status == "missing" ? "missing, " : "") + message);
    }
  }
  std::printf("corvel-sim: %zu recording%s: %zu done, %zu up-to-date, %zu failed%s%s\n", count, count == 1 ? "" : "s",
              done, current, failed.size(), sharded ? "" : "; summary in ", sharded ? "" : summary.c_str());
  if (failed.empty()) return 0;
  std::fflush(stdout);
  std::cerr << "corvel-sim: " << failed.size() << " of " << count << " recordings failed:\n";
  for (size_t k = 0; k < failed.size() && k < 10; ++k) std::cerr << "  " << failed[k] << '\n';
  if (failed.size() > 10) std::cerr << "  and " << failed.size() - 10 << " more (see the summary)\n";
  return 1;
}

}  // namespace corvel::sim
