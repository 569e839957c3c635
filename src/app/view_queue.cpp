#include "app/view_queue.h"

#include "log/run_log.h"
#include "util/end_process.h"

namespace zelvik {

void PaneQueue::OnPaneChange(int pane, Change change, const std::string& line) {
  if (pane < 1 || pane > static_cast<int>(m_queues.size())) return;
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::deque<Entry>& queue = m_queues[static_cast<std::size_t>(pane - 1)];
    // A pane that was emptied no longer shows what was queued before: the queue never holds
    // more than a pane's worth of lines, however fast the workers write.
    if (change != Change::kAppended) queue.clear();
    queue.push_back({change, line});
    post = !m_posted;
    m_posted = true;
  }
  if (post) m_post();
}

std::array<std::deque<PaneQueue::Entry>, 4> PaneQueue::Take() {
  std::lock_guard<std::mutex> lock(m_mutex);
  std::array<std::deque<Entry>, 4> taken;
  taken.swap(m_queues);
  m_posted = false;
  return taken;
}

void ModelChangeQueue::Mark(std::set<int> Changes::*which, int id) {
  bool post = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    (m_changes.*which).insert(id);
    post = !m_posted;
    m_posted = true;
  }
  if (post) m_post();
}

void ModelChangeQueue::TextChanged(int id) { Mark(&Changes::texts, id); }

void ModelChangeQueue::CheckChanged(int id) { Mark(&Changes::checks, id); }

ModelChangeQueue::Changes ModelChangeQueue::Take() {
  std::lock_guard<std::mutex> lock(m_mutex);
  Changes taken;
  std::swap(taken, m_changes);
  m_posted = false;
  return taken;
}

WindowPanes MakeWindowPanes() {
  WindowPanes panes;
  for (std::size_t k = 0; k < panes.size(); ++k) {
    panes[k] = std::make_unique<LogPane>(static_cast<int>(k) + 1);
  }
  return panes;
}

void BindWindowPanes(WindowPanes& panes, PaneListener* listener) {
  for (auto& pane : panes) pane->SetListener(listener);
  BindLogPanes(panes[0].get(), panes[1].get(), panes[2].get(), panes[3].get());
}

void EndWindow(WindowModel& model, WindowPanes& panes, bool panesBound) {
  if (!model.Teardown()) EndProcessNow(0);
  // Every worker has ended: the hour's files are let go now, not a second later.
  CloseRunLogFiles();
  model.SetView(nullptr);
  if (panesBound) {
    BindLogPanes(nullptr, nullptr, nullptr, nullptr);
    for (auto& pane : panes) pane->SetListener(nullptr);
  }
}

}  // namespace zelvik
