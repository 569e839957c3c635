#pragma once
// The run gate: no worker starts an export run while another worker's query flag is set, nor
// from Monday to Friday while the clock's HHMM compares above "2200" or below "0200" (the quiet
// hours, 22:01 to 01:59). Here too are the range workers' own waits before they connect: their
// staggered first delay and their wait for the other workers' query flags.
//
// Thread-safe: the four workers share the window model's one gate; entering it is one step
// under the gate's lock, and everything else reads atomics.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>

#include "util/clock.h"

namespace zelvik {

class RunGate {
 public:
  // The query flags m_bQryThread1 .. m_bQryThread4, worker 1 first; they outlive the gate.
  explicit RunGate(const std::array<std::atomic<std::int32_t>*, 4>& flags) : flags_(flags) {}
  RunGate(const RunGate&) = delete;
  RunGate& operator=(const RunGate&) = delete;

  // The three workers other than worker n (1 to 4), in ascending order: whose query flags the
  // gate looks at, and in which order its log lines name them.
  static std::array<int, 3> OtherWorkers(int n);

  // The worker's wait of `steps` one-second steps; false when a stop ended it early.
  using StepWait = std::function<bool(int steps)>;

  // Waits while the gate is closed for worker n, logging why in pane n before each wait of
  // `steps`. When it opens, n's own query flag has been set in the same step as the others
  // were found clear. False when a wait ended early.
  bool Wait(int n, int steps, const StepWait& wait);
  // The check-and-set of Wait: when none of the other three query flags is set, sets worker
  // n's own and answers true. others receives the three other flags as seen, in ascending
  // worker order.
  bool TryEnterQuery(int n, std::int32_t others[3]);

  // Range worker n's (2 to 4) first delay, 15, 30 or 45 seconds so that the range workers of
  // one start do not come to the gate together: one sleep that no stop request ends, only a
  // forced end (cancel).
  static void FirstDelay(int n, const CancelToken* cancel);
  // Range worker n's wait before it connects: waits of 30 steps while any other worker's
  // query flag is set, logged in pane n before each. Ends early when a wait does.
  void WaitOthersIdle(int n, const StepWait& wait);

  // Opens the gate on weekday nights (headless front end only; the window has no such
  // switch). The query flags still count.
  void SetIgnoreQuietHours(bool ignore) { ignoreQuietHours_.store(ignore); }
  bool IgnoreQuietHours() const { return ignoreQuietHours_.load(); }

 private:
  // The other three query flags of worker n, in ascending worker order.
  void ReadOthers(int n, std::int32_t others[3]) const;

  const std::array<std::atomic<std::int32_t>*, 4> flags_;
  std::mutex mutex_;  // the check-and-set of the query flags
  std::atomic<bool> ignoreQuietHours_{false};
};

}  // namespace zelvik
