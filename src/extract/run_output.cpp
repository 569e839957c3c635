#include "extract/run_output.h"

#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

#include "log/run_log.h"
#include "util/file_io.h"
#include "util/platform.h"

namespace zelvik {
namespace {

constexpr const char* kTempExt = "tmp";
constexpr const char* kAsideExt = "old";

std::string ErrnoText(int error) { return platform::ErrorText(error); }

std::string Suffix(long pid, int worker, const char* ext) {
  return "." + std::to_string(pid) + "-" + std::to_string(worker) + "." + ext;
}

// Reads "<pid>-<worker>.<ext>" (the part after the final name and its dot).
bool ParseSuffix(const std::string& s, long* pid, int* worker, bool* aside) {
  std::size_t dash = s.find('-');
  if (dash == 0 || dash == std::string::npos || dash > 10) return false;
  long p = 0;
  for (std::size_t i = 0; i < dash; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    p = p * 10 + (s[i] - '0');
  }
  if (s.size() != dash + 6 || s[dash + 1] < '1' || s[dash + 1] > '4' || s[dash + 2] != '.') {
    return false;
  }
  const std::string ext = s.substr(dash + 3);
  if (ext != kTempExt && ext != kAsideExt) return false;
  *pid = p;
  *worker = s[dash + 1] - '0';
  *aside = ext == kAsideExt;
  return true;
}

bool Exists949(const std::string& path949) {
  std::error_code ec;
  return std::filesystem::exists(FsPath(SysPath(path949.c_str())), ec);
}

struct Leftover {
  std::string path949;
  std::string final949;
  long pid;
  int worker;
  bool aside;
};

}  // namespace

std::string RunTempName(const std::string& final949, long pid, int worker) {
  return final949 + Suffix(pid, worker, kTempExt);
}

std::string RunAsideName(const std::string& final949, long pid, int worker) {
  return final949 + Suffix(pid, worker, kAsideExt);
}

RunOutput::RunOutput(const char* exportPath, const char* summaryPath, int worker,
                     const char* label, int pane)
    : dat_(exportPath),
      log_(summaryPath),
      tmpDat_(RunTempName(dat_, CurrentProcessId(), worker)),
      tmpLog_(RunTempName(log_, CurrentProcessId(), worker)),
      aside_(RunAsideName(log_, CurrentProcessId(), worker)),
      label_(label),
      pane_(pane) {}

void RunOutput::Log(const std::string& text) const { WriteLog(text, pane_); }

void RunOutput::LogRenameError(const std::string& from, const std::string& to,
                               int error) const {
  Log(Format("%s rename error[%s]=>[%s][%s]", label_, from.c_str(), to.c_str(),
             ErrnoText(error).c_str()));
}

void RunOutput::RemoveLeftovers() {
  namespace fs = std::filesystem;
  const long self = CurrentProcessId();
  std::vector<Leftover> found;
  for (const std::string* final949 : {&dat_, &log_}) {
    const fs::path finalPath = FsPath(SysPath(final949->c_str()));
    const std::string prefix = FsText(finalPath.filename()) + ".";
    std::error_code ec;
    for (fs::directory_iterator it(finalPath.parent_path(), ec), end; !ec && it != end;
         it.increment(ec)) {
      const std::string name = FsText(it->path().filename());
      if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
      Leftover l{*final949 + name.substr(prefix.size() - 1), *final949, 0, 0, false};
      if (!ParseSuffix(name.substr(prefix.size()), &l.pid, &l.worker, &l.aside)) continue;
      // This process's files belong to its workers, which may be running right now.
      if (l.pid == self || ProcessAlive(l.pid)) continue;
      found.push_back(std::move(l));
    }
  }
  // A summary set aside by a run that ended before its export's rename goes back first, so
  // that the earlier export keeps its own summary.
  for (const Leftover& l : found) {
    if (!l.aside) continue;
    if (l.final949 == log_ && Exists949(RunTempName(dat_, l.pid, l.worker))) {
      if (ReplaceFile949(l.path949.c_str(), log_.c_str())) {
        Log(Format("%s put back the summary of an ended run[%s]=>[%s]", label_,
                   l.path949.c_str(), log_.c_str()));
      } else {
        LogRenameError(l.path949, log_, errno);
      }
      continue;
    }
    if (RemoveFile949(l.path949.c_str())) {
      Log(Format("%s removed a leftover of an ended run[%s]", label_, l.path949.c_str()));
    }
  }
  for (const Leftover& l : found) {
    if (l.aside) continue;
    if (RemoveFile949(l.path949.c_str())) {
      Log(Format("%s removed a leftover of an ended run[%s]", label_, l.path949.c_str()));
    } else {
      Log(Format("%s leftover of an ended run not removed[%s][%s]", label_, l.path949.c_str(),
                 ErrnoText(errno).c_str()));
    }
  }
}

bool RunOutput::Publish() {
  bool hadOld = false;
  if (ReplaceFile949(log_.c_str(), aside_.c_str())) {
    hadOld = true;
  } else if (errno != ENOENT) {
    LogRenameError(log_, aside_, errno);
    return false;
  }
  auto putBack = [&] {
    if (hadOld && !ReplaceFile949(aside_.c_str(), log_.c_str())) {
      LogRenameError(aside_, log_, errno);
    }
  };
  if (!ReplaceFile949(tmpLog_.c_str(), log_.c_str())) {
    LogRenameError(tmpLog_, log_, errno);
    putBack();
    return false;
  }
  if (!ReplaceFile949(tmpDat_.c_str(), dat_.c_str())) {
    LogRenameError(tmpDat_, dat_, errno);
    if (!ReplaceFile949(log_.c_str(), tmpLog_.c_str())) LogRenameError(log_, tmpLog_, errno);
    putBack();
    return false;
  }
  if (hadOld && !RemoveFile949(aside_.c_str())) {
    Log(Format("%s remove error[%s][%s]", label_, aside_.c_str(), ErrnoText(errno).c_str()));
  }
  return true;
}

void RunOutput::NoteKeptFiles() {
  for (const std::string* final949 : {&dat_, &log_}) {
    if (Exists949(*final949)) {
      Log(Format("%s run failed, kept the earlier file[%s]", label_, final949->c_str()));
    }
  }
}

}  // namespace zelvik
