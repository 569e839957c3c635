#pragma once
// Pieces the POSIX halves of the platform layer share.

#include <cstdint>

namespace zelvik::platform {

inline int FdOf(std::intptr_t handle) { return static_cast<int>(handle); }

// Takes the exclusive lock that marks a file ours, without waiting: 0, or errno (EWOULDBLOCK
// while someone else holds it). flock locks belong to the open file description, not to the
// process: another descriptor of the same file, in this process or another, does not get it,
// and closing an unrelated descriptor does not drop it.
int LockNow(int fd);

}  // namespace zelvik::platform
