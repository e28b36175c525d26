// The block runs of a tuning, spread over worker processes. The block's
// kernel state is module-wide, so two runs cannot share a process: each
// worker is a process of its own with its own copy of the loaded MEX file.
#ifndef CORVEL_SIM_TUNE_WORKERS_H
#define CORVEL_SIM_TUNE_WORKERS_H

#include <deque>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "host/array_api.h"
#include "run/run_description.h"
#include "run/simulate.h"
#include "tune/tune.h"

namespace corvel::sim {

struct TuneRequest {
  int order;
  double gain;
};

// Which run a result answers: the search (one per order) and the run's place
// in that search's batch. Any number of either.
struct RunTag {
  size_t search;
  size_t place;
};

// A run that failed inside a worker process: the text is the failure's own.
class TuneRunError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EvaluationPool {
 public:
  // One run of the block at a request's order and gain, scored.
  using Evaluator = std::function<Evaluation(const TuneRequest&)>;
  // `jobs` workers (1: every run in this process), each making its runs with
  // `evaluate` (and its own copy of what that holds). Where processes cannot
  // be forked (Windows) the runs are made here, one after another.
  EvaluationPool(Evaluator evaluate, int jobs);
  ~EvaluationPool();
  EvaluationPool(const EvaluationPool&) = delete;
  EvaluationPool& operator=(const EvaluationPool&) = delete;

  // Queues a run; `tag` comes back with its evaluation.
  void submit(RunTag tag, const TuneRequest& request);
  // Waits for the next run to finish, whichever it is, and returns its tag
  // and evaluation. Idle workers take queued runs first. Only while runs are
  // queued or running. A run that failed in a worker throws TuneRunError
  // with the failure's own text (the block's message, say); the pool then
  // ends its workers.
  std::pair<RunTag, Evaluation> next_result();
  bool idle() const { return queue_.empty() && running_ == 0; }
  int jobs() const { return static_cast<int>(workers_.size()) > 0 ? static_cast<int>(workers_.size()) : 1; }

  // Whether this build can run workers at all.
  static bool parallel_supported();

 private:
  struct Worker {
    int pid;
    int to_worker;    // requests
    int from_worker;  // results
  };
  Evaluation evaluate_here(const TuneRequest& request) const;
  void stop_workers();
  void start_queued();

  Evaluator evaluate_;
  std::vector<Worker> workers_;
  struct Queued {
    RunTag tag;
    TuneRequest request;
  };
  std::deque<Queued> queue_;
  std::vector<Queued> running_on_;  // per worker
  std::vector<bool> busy_;          // per worker
  size_t running_ = 0;
};

}  // namespace corvel::sim

#endif
