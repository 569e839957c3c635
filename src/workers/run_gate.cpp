#include "workers/run_gate.h"

#include <cstring>

#include "log/run_log.h"
#include "util/format.h"
#include "util/time_string.h"

namespace zelvik {
namespace {

// The clock side of the gate: Monday to Friday, HHMM above "2200" or below "0200".
bool IsQuietHour(int weekday, const char* hhmm) {
  if (weekday < 1 || weekday > 5) return false;
  return std::strncmp(hhmm, "2200", 4) > 0 || std::strncmp(hhmm, "0200", 4) < 0;
}

constexpr std::int64_t kFirstDelayMs[] = {15000, 30000, 45000};  // workers 2, 3 and 4
constexpr int kOthersIdleSteps = 30;

}  // namespace

std::array<int, 3> RunGate::OtherWorkers(int n) {
  std::array<int, 3> others{};
  std::size_t k = 0;
  for (int other = 1; other <= 4; ++other) {
    if (other != n) others[k++] = other;
  }
  return others;
}

// The lines below say "Sleep 59 sec" whatever the wait (30 steps for workers 2 to 4): the
// system's own texts, which the operators' log readers know; kept on purpose.
bool RunGate::Wait(int n, int steps, const StepWait& wait) {
  for (;;) {
    char szNow[32] = {};
    int wday = GetTimeString(szNow, 0, 0);
    char szHHMM[8] = {};
    std::memcpy(szHHMM, szNow + 8, 4);
    std::int32_t others[3] = {};
    bool quiet = !IgnoreQuietHours() && IsQuietHour(wday, szHHMM);
    if (!quiet && TryEnterQuery(n, others)) return true;
    if (quiet) ReadOthers(n, others);
    const std::array<int, 3> ids = OtherWorkers(n);
    WriteLog(Format("Sleep 59 sec => m_bQryThread%d[%d] or m_bQryThread%d[%d] or "
                    "m_bQryThread%d[%d] or (tm_wday (0 < %d < 6) and ((%s > 2200) || ((%s < "
                    "0200)))",
                    ids[0], others[0], ids[1], others[1], ids[2], others[2], wday, szHHMM,
                    szHHMM),
             n);
    if (!wait(steps)) return false;
  }
}

bool RunGate::TryEnterQuery(int n, std::int32_t others[3]) {
  std::lock_guard<std::mutex> lock(mutex_);
  ReadOthers(n, others);
  if (others[0] != 0 || others[1] != 0 || others[2] != 0) return false;
  flags_[n - 1]->store(1);
  return true;
}

void RunGate::FirstDelay(int n, const CancelToken* cancel) {
  GetClock().Sleep(kFirstDelayMs[n - 2], cancel);
}

void RunGate::WaitOthersIdle(int n, const StepWait& wait) {
  for (;;) {
    std::int32_t others[3] = {};
    ReadOthers(n, others);
    if (others[0] == 0 && others[1] == 0 && others[2] == 0) return;
    const std::array<int, 3> ids = OtherWorkers(n);
    WriteLog(Format("Sleep 59 sec => (m_bQryThread%d[%d] || m_bQryThread%d[%d] || "
                    "m_bQryThread%d[%d])",
                    ids[0], others[0], ids[1], others[1], ids[2], others[2]),
             n);
    if (!wait(kOthersIdleSteps)) return;
  }
}

void RunGate::ReadOthers(int n, std::int32_t others[3]) const {
  const std::array<int, 3> ids = OtherWorkers(n);
  for (std::size_t k = 0; k < ids.size(); ++k) others[k] = flags_[ids[k] - 1]->load();
}

}  // namespace zelvik
