#include "tune/tune_workers.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "tune/tune.h"

#if !defined(_WIN32)
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace corvel::sim {

Evaluation EvaluationPool::evaluate_here(const TuneRequest& request) const {
  return evaluate(entry_, options_, input_, request.gain, request.order, warmup_end_);
}

#if defined(_WIN32)

bool EvaluationPool::parallel_supported() { return false; }

EvaluationPool::EvaluationPool(host::MexFunction entry, const SimOptions& options, const Input& input,
                               double warmup_end, int)
    : entry_(entry), options_(options), input_(input), warmup_end_(warmup_end) {}

EvaluationPool::~EvaluationPool() = default;
void EvaluationPool::stop_workers() {}

void EvaluationPool::submit(long tag, const TuneRequest& request) { queue_.emplace_back(tag, request); }

std::pair<long, Evaluation> EvaluationPool::next_result() {
  const auto [tag, request] = queue_.front();
  queue_.pop_front();
  return {tag, evaluate_here(request)};
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

// A result on the wire: the error RMS, then the count and the derivative RMS.
bool send_result(int fd, const Evaluation& e) {
  const auto count = static_cast<std::uint32_t>(e.derivative_rms.size());
  return write_all(fd, &e.error_rms, sizeof e.error_rms) && write_all(fd, &count, sizeof count) &&
         write_all(fd, e.derivative_rms.data(), count * sizeof(double));
}

bool receive_result(int fd, Evaluation* e) {
  std::uint32_t count = 0;
  if (!read_all(fd, &e->error_rms, sizeof e->error_rms) || !read_all(fd, &count, sizeof count) || count > 64) {
    return false;
  }
  e->derivative_rms.resize(count);
  return read_all(fd, e->derivative_rms.data(), count * sizeof(double));
}

}  // namespace

bool EvaluationPool::parallel_supported() { return true; }

EvaluationPool::EvaluationPool(host::MexFunction entry, const SimOptions& options, const Input& input,
                               double warmup_end, int jobs)
    : entry_(entry), options_(options), input_(input), warmup_end_(warmup_end) {
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
      TuneRequest request{};
      while (read_all(requests[0], &request, sizeof request)) {
        if (!send_result(results[1], evaluate_here(request))) break;
      }
      _exit(0);
    }
    close(requests[0]);
    close(results[1]);
    workers_.push_back({pid, requests[1], results[0]});
  }
  running_on_.assign(workers_.size(), {-1, TuneRequest{}});
}

EvaluationPool::~EvaluationPool() { stop_workers(); }

void EvaluationPool::stop_workers() {
  for (const Worker& w : workers_) {
    close(w.to_worker);  // end of requests: the worker exits
    close(w.from_worker);
  }
  for (const Worker& w : workers_) {
    int status = 0;
    while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
    }
  }
  workers_.clear();
}

void EvaluationPool::submit(long tag, const TuneRequest& request) {
  queue_.emplace_back(tag, request);
  start_queued();
}

void EvaluationPool::start_queued() {
  for (size_t w = 0; w < workers_.size() && !queue_.empty(); ++w) {
    if (running_on_[w].first >= 0) continue;
    running_on_[w] = queue_.front();
    queue_.pop_front();
    if (!write_all(workers_[w].to_worker, &running_on_[w].second, sizeof running_on_[w].second)) {
      throw TuneError("a tuning worker process ended unexpectedly");
    }
    ++running_;
  }
}

std::pair<long, Evaluation> EvaluationPool::next_result() {
  if (workers_.empty()) {
    const auto [tag, request] = queue_.front();
    queue_.pop_front();
    return {tag, evaluate_here(request)};
  }
  start_queued();
  while (true) {
    std::vector<pollfd> waiting;
    std::vector<size_t> which;
    for (size_t w = 0; w < workers_.size(); ++w) {
      if (running_on_[w].first >= 0) {
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
      Evaluation e{running_on_[w].second.gain, 0.0, {}};
      if (!receive_result(workers_[w].from_worker, &e)) throw TuneError("a tuning worker process ended unexpectedly");
      const long tag = running_on_[w].first;
      running_on_[w].first = -1;
      --running_;
      start_queued();  // the worker goes on at once
      return {tag, std::move(e)};
    }
  }
}

#endif

}  // namespace corvel::sim
