#pragma once
// State shared by the whole process: the program directory, the stop request and the run
// log's day memo. program_dir.h sets the directory.

#include <atomic>
#include <cstdint>

namespace zelvik {

// The program directory in code page 949: '/' separators, no quotes, no trailing '/'.
// Written once at start-up, before any worker exists; read-only afterwards.
extern char g_szExeDir[1024];
// Stop request: 1 asks every worker to end at its next check.
extern std::atomic<std::int32_t> g_bstop;
// Compact time stamp at which the run log last made a day folder (guarded by the run log).
extern char g_szLogDay[32];

}  // namespace zelvik
