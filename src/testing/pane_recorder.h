#pragma once
// A listener of the log panes for tests: it records each line shown (its pane, its text without
// the time stamp and line end, and the clock when it was shown), and can run a hook on the
// logging thread at every line. Thread-safe: workers log from their own threads.

#include <ctime>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "log/log_pane.h"

namespace zelvik {

struct PaneLine {
  int pane;
  std::string text;  // without stamp and line end
  std::time_t at;    // the clock when the line was shown
};

class PaneRecorder : public PaneListener {
 public:
  void OnPaneChange(int pane, Change change, const std::string& line) override;

  // Runs at every line, outside the recorder's lock.
  void SetHook(std::function<void(const std::string&)> hook);
  // Lines for which keep() is false are not stored (a soak would otherwise grow the test's own
  // memory).
  void SetFilter(std::function<bool(const std::string&)> keep);

  // Stored lines of a pane that begin with prefix; their texts.
  std::vector<PaneLine> Starting(int pane, const std::string& prefix = "");
  std::vector<std::string> Texts(int pane, const std::string& prefix = "");
  std::vector<PaneLine> Lines(int pane) { return Starting(pane); }
  int Count(int pane, const std::string& prefix) {
    return static_cast<int>(Starting(pane, prefix).size());
  }
  bool Has(int pane, const std::string& prefix) { return Count(pane, prefix) > 0; }
  // Whether a pane showed exactly this text.
  bool Shown(int pane, const std::string& text);
  // The texts of every pane stored so far, which are then forgotten.
  std::vector<std::string> Take();
  // Every stored line as "pane text", for failure messages.
  std::string Dump();

 private:
  std::mutex mutex_;
  std::vector<PaneLine> lines_;
  std::function<void(const std::string&)> hook_;
  std::function<bool(const std::string&)> keep_;
};

}  // namespace zelvik
