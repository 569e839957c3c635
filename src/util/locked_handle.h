#pragma once
// The open file behind an OwnedFile or a FolderLock, holding the lock taken on it.

#include <cstdint>
#include <utility>

namespace zelvik::platform {

// A descriptor (POSIX) or HANDLE (Windows) with our lock on its file: closing it drops the lock
// (Windows unlocks the lock byte first). Move-only; not thread-safe, like its owners.
class LockedHandle {
 public:
  LockedHandle() = default;
  explicit LockedHandle(std::intptr_t handle) : handle_(handle) {}
  ~LockedHandle() { Close(); }
  LockedHandle(LockedHandle&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}
  LockedHandle& operator=(LockedHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, -1);
    }
    return *this;
  }
  LockedHandle(const LockedHandle&) = delete;
  LockedHandle& operator=(const LockedHandle&) = delete;

  bool IsOpen() const { return handle_ != -1; }
  std::intptr_t Get() const { return handle_; }
  // Drops the lock and closes; nothing when not open.
  void Close();

 private:
  std::intptr_t handle_ = -1;
};

}  // namespace zelvik::platform
