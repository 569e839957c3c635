#include "log/log_pane.h"

namespace zelvik {

std::atomic<LogPane*> g_pLogPane1{nullptr};
std::atomic<LogPane*> g_pLogPane2{nullptr};
std::atomic<LogPane*> g_pLogPane3{nullptr};
std::atomic<LogPane*> g_pLogPane4{nullptr};

void BindLogPanes(LogPane* p1, LogPane* p2, LogPane* p3, LogPane* p4) {
  g_pLogPane1.store(p1);
  g_pLogPane2.store(p2);
  g_pLogPane3.store(p3);
  g_pLogPane4.store(p4);
}

void LogPane::AppendLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  PaneListener::Change change;
  if (counter_ >= 100) {
    counter_ = 0;
    text_ = line;
    change = PaneListener::Change::kReplaced;
  } else {
    text_ += line;
    ++counter_;
    change = PaneListener::Change::kAppended;
  }
  if (listener_ != nullptr) listener_->OnPaneChange(number_, change, line);
}

void LogPane::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  counter_ = 0;
  text_.clear();
  if (listener_ != nullptr) {
    listener_->OnPaneChange(number_, PaneListener::Change::kCleared, std::string());
  }
}

std::string LogPane::Text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

void LogPane::SetListener(PaneListener* listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  listener_ = listener;
}

}  // namespace zelvik
