#pragma once
// One worker slot of the window (m_hThread1 .. m_hThread4): the worker's thread, its cancel
// request and the session whose running statement a forced end cancels.
//
// A slot is taken from the start of its thread until the worker marks its end as the very
// last thing it does; only then may a new copy of that worker start. The ended thread is
// joined by whoever needs the slot next (the start command) or by the teardown, so the worker
// itself never waits for anybody to free its slot.
//
// Thread-safe: the start command, the teardown and the worker call it from their own threads;
// every member takes the slot's lock or reads an atomic.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "workers/worker_backend.h"
#include "util/clock.h"

namespace zelvik {

class WorkerSlot {
 public:
  WorkerSlot() = default;
  ~WorkerSlot();  // forces an end and joins a thread still held
  WorkerSlot(const WorkerSlot&) = delete;
  WorkerSlot& operator=(const WorkerSlot&) = delete;

  enum class StartResult { kStarted, kTaken, kNoThread };
  // Starts body on a new thread unless the slot is taken; an earlier thread that has ended is
  // joined first. The cancel request is rearmed for the new worker.
  StartResult Start(std::function<void()> body);

  // True while a worker holds the slot ("the handle is set").
  bool IsTaken() const;

  // The forced end: raises the cancel request (every wait of the worker ends at once, an
  // export stops at its next row, a clean-up at its next line) and cancels the statement
  // running on the worker's connection. Does not wait. No effect on a free slot.
  void ForceEnd();
  // Waits until the worker has ended and joins its thread. While waiting after a forced end
  // it cancels the running statement again now and then, in case a statement began just
  // after the first cancel.
  void Join();
  // As Join, but gives up after limitMs of real time: false when the worker is still running
  // (its thread is then neither joined nor detached).
  bool JoinFor(std::int64_t limitMs);

  // For the worker: its cancel request, and whether its end was forced.
  const CancelToken& Cancel() const { return cancel_; }
  bool ForcedEnd() const { return cancel_.IsCancelled(); }
  // For the worker: registers (or, with null, removes) the session a forced end cancels. The
  // session must stay alive until it has been removed.
  void AttachSession(WorkerSession* session);
  // For the worker: the last step of its thread; frees the slot.
  void MarkEnded();

 private:
  // Join's body: false when deadline passed with the worker still running.
  bool JoinUntil(std::chrono::steady_clock::time_point deadline);

  mutable std::mutex mutex_;
  std::condition_variable endedCv_;
  std::thread thread_;
  bool taken_ = false;
  CancelToken cancel_;
  WorkerSession* session_ = nullptr;
};

}  // namespace zelvik
