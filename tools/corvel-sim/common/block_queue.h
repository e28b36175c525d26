// Blocks of work passed from one thread to another through a short queue, so
// that memory stays bounded: the producer waits while it is full, the
// consumer while it is empty. Either side can end it, each with its own
// failure for the other side to hear of: the producer with no more blocks
// (end_of_blocks: the rows ran out, or a row was bad), the consumer by taking
// no more (stop_taking: the disk is full, or the run has stopped).
#ifndef CORVEL_SIM_BLOCK_QUEUE_H
#define CORVEL_SIM_BLOCK_QUEUE_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <utility>

namespace corvel::sim {

template <class Block>
class BlockQueue {
 public:
  explicit BlockQueue(std::size_t capacity) : capacity_(capacity) {}

  // Producer: queues a block once there is room. False when the consumer
  // has stopped taking (see consumer_failure()).
  bool push(Block block) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return blocks_.size() < capacity_ || closed_; });
    if (closed_) return false;
    blocks_.push_back(std::move(block));
    changed_.notify_all();
    return true;
  }

  // Producer: no more blocks. A failure reaches the consumer after the
  // blocks queued before it.
  void end_of_blocks(std::exception_ptr failure = nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
    if (failure && !producer_failure_) producer_failure_ = failure;
    changed_.notify_all();
  }

  // Consumer: the next block. False once the producer has ended and every
  // block is taken (see producer_failure()), or the consumer has stopped.
  bool pop(Block* block) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !blocks_.empty() || finished_ || closed_; });
    if (blocks_.empty() || closed_) return false;
    *block = std::move(blocks_.front());
    blocks_.pop_front();
    changed_.notify_all();
    return true;
  }

  // Consumer: takes no more; a waiting producer's push returns false.
  void stop_taking(std::exception_ptr failure = nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    if (failure && !consumer_failure_) consumer_failure_ = failure;
    changed_.notify_all();
  }

  // Why the producer ended, or null.
  std::exception_ptr producer_failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return producer_failure_;
  }
  // Why the consumer stopped taking, or null.
  std::exception_ptr consumer_failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return consumer_failure_;
  }

  // Empty and open again, for a new pair of threads.
  void reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    blocks_.clear();
    finished_ = closed_ = false;
    producer_failure_ = consumer_failure_ = nullptr;
  }

 private:
  std::size_t capacity_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Block> blocks_;
  bool finished_ = false, closed_ = false;
  std::exception_ptr producer_failure_, consumer_failure_;
};

}  // namespace corvel::sim

#endif
