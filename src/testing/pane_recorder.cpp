#include "testing/pane_recorder.h"

#include <utility>

#include "util/clock.h"

namespace zelvik {

void PaneRecorder::OnPaneChange(int pane, Change change, const std::string& line) {
  if (change == Change::kCleared) return;
  // A shown line is "yyyy/mm/dd hh:mm:ss " + text + "\r\n".
  const std::string text = line.size() >= 22 ? line.substr(20, line.size() - 22) : line;
  std::function<void(const std::string&)> hook;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!keep_ || keep_(text)) lines_.push_back(PaneLine{pane, text, GetClock().Now()});
    hook = hook_;
  }
  if (hook) hook(text);
}

void PaneRecorder::SetHook(std::function<void(const std::string&)> hook) {
  std::lock_guard<std::mutex> lock(mutex_);
  hook_ = std::move(hook);
}

void PaneRecorder::SetFilter(std::function<bool(const std::string&)> keep) {
  std::lock_guard<std::mutex> lock(mutex_);
  keep_ = std::move(keep);
}

std::vector<PaneLine> PaneRecorder::Starting(int pane, const std::string& prefix) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<PaneLine> out;
  for (const PaneLine& l : lines_) {
    if (l.pane == pane && l.text.rfind(prefix, 0) == 0) out.push_back(l);
  }
  return out;
}

std::vector<std::string> PaneRecorder::Texts(int pane, const std::string& prefix) {
  std::vector<std::string> out;
  for (const PaneLine& l : Starting(pane, prefix)) out.push_back(l.text);
  return out;
}

bool PaneRecorder::Shown(int pane, const std::string& text) {
  for (const PaneLine& l : Starting(pane, text)) {
    if (l.text == text) return true;
  }
  return false;
}

std::vector<std::string> PaneRecorder::Take() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> out;
  for (const PaneLine& l : lines_) out.push_back(l.text);
  lines_.clear();
  return out;
}

std::string PaneRecorder::Dump() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string out;
  for (const PaneLine& l : lines_) out += std::to_string(l.pane) + " " + l.text + "\n";
  return out;
}

}  // namespace zelvik
