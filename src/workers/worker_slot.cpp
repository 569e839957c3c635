#include "workers/worker_slot.h"

#include <algorithm>
#include <chrono>
#include <system_error>

namespace zelvik {

WorkerSlot::~WorkerSlot() {
  ForceEnd();
  Join();
}

WorkerSlot::StartResult WorkerSlot::Start(std::function<void()> body) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (taken_) return StartResult::kTaken;
  // The earlier worker has marked its end; nothing of it runs but the return from its thread.
  if (thread_.joinable()) thread_.join();
  cancel_.Reset();
  taken_ = true;
  try {
    thread_ = std::thread(std::move(body));
  } catch (const std::system_error&) {
    taken_ = false;
    return StartResult::kNoThread;
  }
  return StartResult::kStarted;
}

bool WorkerSlot::IsTaken() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return taken_;
}

void WorkerSlot::ForceEnd() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!taken_) return;
  cancel_.Cancel();
  if (session_ != nullptr) session_->CancelRunning();
}

void WorkerSlot::Join() { JoinUntil(std::chrono::steady_clock::time_point::max()); }

bool WorkerSlot::JoinFor(std::int64_t limitMs) {
  return JoinUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs));
}

bool WorkerSlot::JoinUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (taken_) {
    if (cancel_.IsCancelled() && session_ != nullptr) session_->CancelRunning();
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) return false;
    endedCv_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(200)));
  }
  std::thread ended = std::move(thread_);
  lock.unlock();
  if (ended.joinable()) ended.join();
  return true;
}

void WorkerSlot::AttachSession(WorkerSession* session) {
  std::lock_guard<std::mutex> lock(mutex_);
  session_ = session;
}

void WorkerSlot::MarkEnded() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    session_ = nullptr;
    taken_ = false;
  }
  endedCv_.notify_all();
}

}  // namespace zelvik
