#pragma once
// What a window view gathers from any thread for its own thread: the run log's pane changes and
// the controls whose model value changed. A producer never blocks on the window thread: it
// queues, and the first change after a Take asks the window thread, once, to come and take.

#include <array>
#include <memory>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <string>

#include "log/log_pane.h"
#include "workers/window_model.h"

namespace zelvik {

class PaneQueue final : public PaneListener {
 public:
  // post asks the window thread to call Take; it is called from any thread, with no lock of
  // the caller's held, and must not block.
  explicit PaneQueue(std::function<void()> post) : m_post(std::move(post)) {}

  void OnPaneChange(int pane, Change change, const std::string& line) override;

  struct Entry {
    Change change;
    std::string line;
  };
  // On the window thread: the queued changes of panes 1 to 4, in order.
  std::array<std::deque<Entry>, 4> Take();

 private:
  std::function<void()> m_post;
  std::mutex m_mutex;
  std::array<std::deque<Entry>, 4> m_queues;
  bool m_posted = false;
};

class ModelChangeQueue {
 public:
  explicit ModelChangeQueue(std::function<void()> post) : m_post(std::move(post)) {}

  // The model changed the text (or caption) or the mark of control id.
  void TextChanged(int id);
  void CheckChanged(int id);

  // On the window thread: the controls changed since the last Take. The view reads their
  // values from the model then, so a late change never undoes a newer one.
  struct Changes {
    std::set<int> texts;
    std::set<int> checks;
  };
  Changes Take();

 private:
  void Mark(std::set<int> Changes::*which, int id);

  std::function<void()> m_post;
  std::mutex m_mutex;
  Changes m_changes;
  bool m_posted = false;
};

// A view of the window model that queues the model's changes for its window thread; the view
// brings its controls in step from TakeModelChanges there, and shows the field messages.
class QueuedWindowView : public WindowView {
 protected:
  explicit QueuedWindowView(std::function<void()> post) : m_modelChanges(std::move(post)) {}
  void OnTextChanged(int id, const std::string& /*text*/) override {
    m_modelChanges.TextChanged(id);
  }
  void OnCheckChanged(int id, int /*checked*/) override { m_modelChanges.CheckChanged(id); }
  ModelChangeQueue::Changes TakeModelChanges() { return m_modelChanges.Take(); }

 private:
  ModelChangeQueue m_modelChanges;
};

// A window's four log panes (1 to 4), bound to the run log with their changes going to
// listener, and unbound at the window's end.
using WindowPanes = std::array<std::unique_ptr<LogPane>, 4>;
WindowPanes MakeWindowPanes();
void BindWindowPanes(WindowPanes& panes, PaneListener* listener);
// The window's end: the model's teardown (the workers may go on logging until they have
// ended; they never wait for the window thread), then the panes unbound, so that lines reach
// the files only. A worker left in a database call that cannot be cancelled holds no file:
// the program then ends at once, without it, rather than wait for the driver.
void EndWindow(WindowModel& model, WindowPanes& panes, bool panesBound);

}  // namespace zelvik
