#include "tune/tune_workers.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <utility>

#include "tune/tune.h"

#if !defined(_WIN32)
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace corvel::sim {

Evaluation EvaluationPool::evaluate_here(const TuneRequest& request) const { return evaluate_(request); }

#if defined(_WIN32)

bool EvaluationPool::parallel_supported() { return false; }

EvaluationPool::EvaluationPool(Evaluator evaluate, int) : evaluate_(std::move(evaluate)) {}

EvaluationPool::~EvaluationPool() = default;
void EvaluationPool::stop_workers() {}

void EvaluationPool::submit(RunTag tag, const TuneRequest& request) { queue_.push_back({tag, request}); }

std::pair<RunTag, Evaluation> EvaluationPool::next_result() {
  const Queued run = queue_.front();
  queue_.pop_front();
  return {run.tag, evaluate_here(run.request)};
}

#else

namespace {

// Whole reads and writes on a pipe; false when the other end has gone.
bool write_all(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool read_all(int fd, void* data, size_t size) {
  auto* p = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t n = ::read(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// A result on the wire: a status word (0: an evaluation follows, 1: a
// failure's text follows), then the error RMS, the count and the derivative
// RMS; or the text's length and the text.
constexpr std::uint32_t kEvaluated = 0, kFailed = 1;
constexpr std::uint32_t kLongestFailure = 1u << 16;

bool send_result(int fd, const Evaluation& e) {
  const auto count = static_cast<std::uint32_t>(e.derivative_rms.size());
  return write_all(fd, &kEvaluated, sizeof kEvaluated) && write_all(fd, &e.error_rms, sizeof e.error_rms) &&
         write_all(fd, &count, sizeof count) && write_all(fd, e.derivative_rms.data(), count * sizeof(double));
}

bool send_failure(int fd, const std::string& text) {
  const auto length = static_cast<std::uint32_t>(std::min<size_t>(text.size(), kLongestFailure));
  return write_all(fd, &kFailed, sizeof kFailed) && write_all(fd, &length, sizeof length) &&
         write_all(fd, text.data(), length);
}

// False when the worker has gone; a failure it sent is thrown.
bool receive_result(int fd, Evaluation* e) {
  std::uint32_t status = 0, count = 0;
  if (!read_all(fd, &status, sizeof status)) return false;
  if (status == kFailed) {
    std::uint32_t length = 0;
    if (!read_all(fd, &length, sizeof length) || length > kLongestFailure) return false;
    std::string text(length, '\0');
    if (!read_all(fd, text.data(), length)) return false;
    throw TuneRunError(text);
  }
  if (status != kEvaluated || !read_all(fd, &e->error_rms, sizeof e->error_rms) ||
      !read_all(fd, &count, sizeof count) || count > 64) {
    return false;
  }
  e->derivative_rms.resize(count);
  return read_all(fd, e->derivative_rms.data(), count * sizeof(double));
}

// The worker's life: runs until its requests end. Whatever fails is sent to
// the parent as text, and the worker ends there with _exit: nothing of the
// parent's (its handlers, its exit functions, its buffered output) runs in it.
[[noreturn]] void work(int requests, int results, const std::function<Evaluation(const TuneRequest&)>& evaluate) {
  try {
    TuneRequest request{};
    while (read_all(requests, &request, sizeof request)) {
      if (!send_result(results, evaluate(request))) break;
    }
  } catch (const std::exception& e) {
    send_failure(results, e.what());
  } catch (...) {
    send_failure(results, "a tuning run failed");
  }
  _exit(0);
}

}  // namespace

bool EvaluationPool::parallel_supported() { return true; }

EvaluationPool::EvaluationPool(Evaluator evaluate, int jobs) : evaluate_(std::move(evaluate)) {
  if (jobs <= 1) return;
  // A worker that has died must not take the tuning down with a SIGPIPE: the
  // failed write says so.
  signal(SIGPIPE, SIG_IGN);
  for (int i = 0; i < jobs; ++i) {
    int requests[2], results[2];
    if (pipe(requests) != 0) break;
    if (pipe(results) != 0) {
      close(requests[0]);
      close(requests[1]);
      break;
    }
    const pid_t pid = fork();
    if (pid < 0) {
      for (int fd : {requests[0], requests[1], results[0], results[1]}) close(fd);
      break;
    }
    if (pid == 0) {
      // The worker: the record and the loaded MEX file are its own copies.
      // An interrupt is the parent's to report.
      signal(SIGINT, SIG_DFL);
      signal(SIGTERM, SIG_DFL);
      for (const Worker& w : workers_) {
        close(w.to_worker);
        close(w.from_worker);
      }
      close(requests[1]);
      close(results[0]);
      work(requests[0], results[1], [this](const TuneRequest& request) { return evaluate_here(request); });
    }
    close(requests[0]);
    close(results[1]);
    workers_.push_back({pid, requests[1], results[0]});
  }
  running_on_.assign(workers_.size(), Queued{});
  busy_.assign(workers_.size(), false);
}

EvaluationPool::~EvaluationPool() { stop_workers(); }

void EvaluationPool::stop_workers() {
  for (size_t w = 0; w < workers_.size(); ++w) {
    close(workers_[w].to_worker);  // end of requests: an idle worker exits
    close(workers_[w].from_worker);
    // A worker still running is not waited for: its run is no longer wanted.
    if (busy_[w]) kill(workers_[w].pid, SIGKILL);
  }
  for (const Worker& w : workers_) {
    int status = 0;
    while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  workers_.clear();
}

void EvaluationPool::submit(RunTag tag, const TuneRequest& request) {
  queue_.push_back({tag, request});
  start_queued();
}

void EvaluationPool::start_queued() {
  for (size_t w = 0; w < workers_.size() && !queue_.empty(); ++w) {
    if (busy_[w]) continue;
    running_on_[w] = queue_.front();
    queue_.pop_front();
    busy_[w] = true;
    ++running_;
    if (!write_all(workers_[w].to_worker, &running_on_[w].request, sizeof running_on_[w].request)) {
      throw TuneError("a tuning worker process ended unexpectedly");
    }
  }
}

std::pair<RunTag, Evaluation> EvaluationPool::next_result() {
  if (workers_.empty()) {
    const Queued run = queue_.front();
    queue_.pop_front();
    return {run.tag, evaluate_here(run.request)};
  }
  start_queued();
  while (true) {
    std::vector<pollfd> waiting;
    std::vector<size_t> which;
    for (size_t w = 0; w < workers_.size(); ++w) {
      if (busy_[w]) {
        waiting.push_back({workers_[w].from_worker, POLLIN, 0});
        which.push_back(w);
      }
    }
    if (poll(waiting.data(), waiting.size(), -1) < 0) {
      if (errno == EINTR) continue;
      throw TuneError(std::string("waiting for the tuning workers failed: ") + std::strerror(errno));
    }
    for (size_t i = 0; i < waiting.size(); ++i) {
      if (waiting[i].revents == 0) continue;
      const size_t w = which[i];
      Evaluation e{running_on_[w].request.gain, 0.0, {}};
      if (!receive_result(workers_[w].from_worker, &e)) throw TuneError("a tuning worker process ended unexpectedly");
      const RunTag tag = running_on_[w].tag;
      busy_[w] = false;
      --running_;
      start_queued();  // the worker goes on at once
      return {tag, std::move(e)};
    }
  }
}

#endif

}  // namespace corvel::sim
