// Worker threads, started one per connection and joined by the accept loop as they finish.
#include "desktop/shared/service/worker_pool.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>

namespace pendrel::desktop {

WorkerPool::WorkerPool(std::size_t limit)
    : limit_(limit), slot_freed_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WorkerPool::~WorkerPool() {
  std::list<Worker> all;
  {
    std::lock_guard lock(mutex_);
    all.swap(workers_);
  }
  for (auto& worker : all)
    worker.thread.join();
}

void WorkerPool::join_finished_locked(std::unique_lock<std::mutex>& lock) {
  std::list<Worker> finished;
  for (auto it = workers_.begin(); it != workers_.end();) {
    auto next = std::next(it);
    if (it->finished) finished.splice(finished.end(), workers_, it);
    it = next;
  }
  // A finished worker only has its last instructions left; joining it is quick, but done
  // without the lock so that it can never wait on us.
  lock.unlock();
  for (auto& worker : finished)
    worker.thread.join();
  lock.lock();
}

bool WorkerPool::has_free_slot() {
  std::uint64_t count = 0;
  (void)!::read(slot_freed_.get(), &count, sizeof count);
  std::unique_lock lock(mutex_);
  join_finished_locked(lock);
  return running_ < limit_;
}

bool WorkerPool::start(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  auto& worker = workers_.emplace_back();
  auto position = std::prev(workers_.end());
  try {
    worker.thread = std::thread([this, position, work = std::move(work)] {
      work();
      std::lock_guard done(mutex_);
      position->finished = true;
      --running_;
      std::uint64_t one = 1;
      (void)!::write(slot_freed_.get(), &one, sizeof one);
      idle_.notify_all();
    });
  } catch (const std::system_error&) {
    // Out of threads or memory: the caller keeps the work for later.
    workers_.erase(position);
    return false;
  }
  ++running_;
  return true;
}

bool WorkerPool::wait_idle(std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, wait, [this] { return running_ == 0; });
}

}  // namespace pendrel::desktop
