#pragma once
// Text for a console, written in batches: a console or a pipe takes many lines in one call
// about as fast as one line (a Windows console costs milliseconds per call), so lines wait
// briefly and go out together, from a thread of their own.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace zelvik {

class BufferedConsole {
 public:
  // write receives the batches in order, never two at once. A batch waits at most delayMs
  // after its first line, so that a person watching sees each line at once.
  explicit BufferedConsole(std::function<void(const std::string&)> write, int delayMs = 50);
  // Writes what is waiting and ends the thread.
  ~BufferedConsole();
  BufferedConsole(const BufferedConsole&) = delete;
  BufferedConsole& operator=(const BufferedConsole&) = delete;

  // Queues text; writes it at once, on the caller's thread, when much is already waiting (a
  // console slower than the lines holds their producers back, as a direct write would).
  void Add(const std::string& text);
  // Writes everything queued so far before it returns: before a line that must follow
  // them on another stream, and before the process ends.
  void Flush();

 private:
  void Run();
  // Takes what is waiting and writes it; the caller holds writeMutex_.
  void WriteWaiting();

  static constexpr std::size_t kMaxWaitingBytes = 64 * 1024;
  const std::function<void(const std::string&)> write_;
  const int delayMs_;
  std::mutex writeMutex_;  // held across a write: batches leave in the order they were taken
  std::mutex mutex_;       // guards what follows
  std::condition_variable cv_;
  std::string waiting_;
  bool end_ = false;
  std::thread thread_;
};

}  // namespace zelvik
