#pragma once
// How much slower this build runs the program's own work than a plain build. The sanitizer
// builds, made only to be tested, check every memory access or every synchronisation; on a
// busy machine a budget for the program's own work (the cleanup of a worker ended by force)
// is scaled by this factor rather than raced. Waits an operator or a peer relies on are not.

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZELVIK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZELVIK_SANITIZED 1
#endif
#endif

namespace zelvik {

#ifdef ZELVIK_SANITIZED
inline constexpr int kBuildSlowdown = 4;
#else
inline constexpr int kBuildSlowdown = 1;
#endif

}  // namespace zelvik
