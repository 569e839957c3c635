#include "util/end_process.h"

#include <atomic>
#include <cstdio>

#include "util/platform.h"

namespace zelvik {
namespace {

std::atomic<void (*)()> g_endProcessFlush{nullptr};

}  // namespace

void SetEndProcessFlush(void (*flush)()) { g_endProcessFlush.store(flush); }

void EndProcessNow(int status) {
  if (void (*flush)() = g_endProcessFlush.load()) flush();
  std::fflush(nullptr);
  platform::EndProcess(status);
}

}  // namespace zelvik
