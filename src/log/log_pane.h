#pragma once
// A log pane without a toolkit: it keeps the pane's text and its line counter, applies the
// 100-line rule, and tells an attached listener (a window or a terminal) what changed.

#include <atomic>
#include <mutex>
#include <string>

namespace zelvik {

class PaneListener {
 public:
  enum class Change {
    kAppended,  // line was appended at the end
    kReplaced,  // the pane was emptied and now holds line alone (the 100-line rule)
    kCleared,   // the pane was emptied (line is empty)
  };
  virtual ~PaneListener() = default;
  // Called with the pane's lock held, in the order of the changes: must not block on another
  // thread (a window queues the change to its own thread).
  virtual void OnPaneChange(int pane, Change change, const std::string& line) = 0;
};

class LogPane {
 public:
  explicit LogPane(int number) : number_(number) {}

  // Appends a finished line (stamp, text, "\r\n"): after 100 entries the pane is emptied and
  // holds the new line alone, which is not counted.
  void AppendLine(const std::string& line);
  // Empties the pane and restarts its count.
  void Clear();

  std::string Text() const;
  void SetListener(PaneListener* listener);

 private:
  const int number_;
  mutable std::mutex mutex_;
  std::string text_;
  int counter_ = 0;
  PaneListener* listener_ = nullptr;
};

// The four bound panes (1 to 4); null until bound, then never unbound during a run.
extern std::atomic<LogPane*> g_pLogPane1;
extern std::atomic<LogPane*> g_pLogPane2;
extern std::atomic<LogPane*> g_pLogPane3;
extern std::atomic<LogPane*> g_pLogPane4;

// Binds the four panes at once (null unbinds, for tests and teardown).
void BindLogPanes(LogPane* p1, LogPane* p2, LogPane* p3, LogPane* p4);

}  // namespace zelvik
