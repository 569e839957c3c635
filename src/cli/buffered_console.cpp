#include "cli/buffered_console.h"

#include <chrono>
#include <utility>

namespace zelvik {

BufferedConsole::BufferedConsole(std::function<void(const std::string&)> write, int delayMs)
    : write_(std::move(write)), delayMs_(delayMs), thread_([this] { Run(); }) {}

BufferedConsole::~BufferedConsole() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    end_ = true;
  }
  cv_.notify_all();
  thread_.join();
  Flush();
}

void BufferedConsole::Add(const std::string& text) {
  bool first = false, full = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    first = waiting_.empty();
    waiting_ += text;
    full = waiting_.size() >= kMaxWaitingBytes;
  }
  if (full) {
    Flush();
  } else if (first) {
    cv_.notify_all();
  }
}

void BufferedConsole::Flush() {
  std::lock_guard<std::mutex> write(writeMutex_);
  WriteWaiting();
}

void BufferedConsole::WriteWaiting() {
  std::string batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(waiting_);
  }
  if (!batch.empty()) write_(batch);
}

void BufferedConsole::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!end_) {
    cv_.wait(lock, [this] { return end_ || !waiting_.empty(); });
    // The first line waits for the ones that follow it closely.
    cv_.wait_for(lock, std::chrono::milliseconds(delayMs_), [this] { return end_; });
    lock.unlock();
    Flush();
    lock.lock();
  }
}

}  // namespace zelvik
