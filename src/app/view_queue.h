#pragma once
// What the two window views (extractor_dlg on Linux, extractor_dlg_win32 on Windows) share.
// Each is a thin view over the window model, which the workers read: a control event updates
// the model at once; a change of the model (a preset, the start/stop caption set by a worker)
// and every log-pane line are gathered here from any thread and reach the controls on the
// window thread. A producer never blocks on the window thread: it queues, and the first change
// after a Take asks the window thread, once, to come and take. So no worker touches a control
// or waits for the window thread, and the window's end can always end the workers.

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
  // values from the model then, not the values at the time of the change, so that a late
  // change (or the operator's typing since) never undoes a newer one.
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
// brings its controls in step from TakeModelChanges there, and shows the field messages. It
// takes the changes also before it shows a field message: the model has put the start/stop
// caption back to "Zelvik" by then, and the box must not stand over a stale "DB Close".
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
// listener, and unbound at the window's end. A view declares them before its model, so that
// they outlive it: the model's destruction ends the last workers, which may log until then.
using WindowPanes = std::array<std::unique_ptr<LogPane>, 4>;
WindowPanes MakeWindowPanes();
void BindWindowPanes(WindowPanes& panes, PaneListener* listener);
// The window's end, from the view's destructor: the model's teardown (stop request, a second,
// then every worker ended by force; the workers may go on logging until they have ended, and
// never wait for the window thread), then the panes unbound, so that lines reach the files
// only. A worker left in a database call that cannot be cancelled holds no file: the program
// then ends at once, without it, rather than wait for the driver.
void EndWindow(WindowModel& model, WindowPanes& panes, bool panesBound);

}  // namespace zelvik
