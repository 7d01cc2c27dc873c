// The threads that serve connections: at most a fixed number at once, each joined before the
// pool goes away, with a bounded wait for the running ones when the service stops.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <thread>

#include "protocol/unique_fd.h"

namespace pendrel::desktop {

class WorkerPool {
 public:
  explicit WorkerPool(std::size_t limit);
  ~WorkerPool();  // joins every thread
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Joins the finished workers and tells whether another may start; empties slot_freed_fd.
  [[nodiscard]] bool has_free_slot();
  // Readable once a worker has finished since the last call of has_free_slot.
  [[nodiscard]] int slot_freed_fd() const { return slot_freed_.get(); }

  // Runs `work` on a new thread; the caller has checked has_free_slot. False, with `work`
  // dropped unrun, when no thread can be created now.
  [[nodiscard]] bool start(std::function<void()> work);

  // Waits until every worker has finished or `wait` has passed; true when all finished.
  bool wait_idle(std::chrono::milliseconds wait);

 private:
  struct Worker {
    std::thread thread;
    bool finished = false;
  };
  void join_finished_locked(std::unique_lock<std::mutex>& lock);

  std::size_t limit_;
  std::mutex mutex_;
  std::condition_variable idle_;
  std::list<Worker> workers_;
  std::size_t running_ = 0;
  UniqueFd slot_freed_;  // an eventfd
};

}  // namespace pendrel::desktop
