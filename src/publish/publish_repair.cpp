#include "publish/publish_repair.h"

#include <cerrno>
#include <cstdint>
#include <tuple>
#include <utility>

#include "log/run_log.h"
#include "publish/run_output.h"
#include "util/codepage.h"
#include "util/durable_io.h"
#include "util/file_io.h"
#include "util/format.h"
#include "util/platform.h"

namespace zelvik {
namespace {

using platform::OwnedFile;
using platform::SysError;

constexpr const char* kStartLabel = "RepairFolder";

// The name of a file a run made beside its final name: "<final>.<pid>-<worker>.<ext>".
struct SideFileName {
  std::string final949;  // the final file name, without the folder
  std::int64_t pid = 0;
  int worker = 0;
  std::string ext;  // "tmp", "old" or "pub"
};

bool ParseSideFileName(const std::string& name, SideFileName* out) {
  const std::size_t dot2 = name.rfind('.');
  if (dot2 == std::string::npos || dot2 < 2) return false;
  const std::size_t dot1 = name.rfind('.', dot2 - 1);
  if (dot1 == std::string::npos || dot1 == 0) return false;
  const std::string ext = name.substr(dot2 + 1);
  if (ext != "tmp" && ext != "old" && ext != "pub") return false;
  const std::string mid = name.substr(dot1 + 1, dot2 - dot1 - 1);
  const std::size_t dash = mid.find('-');
  if (dash == 0 || dash == std::string::npos || dash > 10 || mid.size() != dash + 2 ||
      mid[dash + 1] < '1' || mid[dash + 1] > '4') {
    return false;
  }
  std::int64_t pid = 0;
  for (std::size_t i = 0; i < dash; ++i) {
    if (mid[i] < '0' || mid[i] > '9') return false;
    pid = pid * 10 + (mid[i] - '0');
  }
  out->final949 = name.substr(0, dot1);
  out->pid = pid;
  out->worker = mid[dash + 1] - '0';
  out->ext = ext;
  return true;
}

bool Exists949(const std::string& path949) {
  return platform::PathExists(SysPath(path949.c_str()));
}

// The summary that pairs with an export name, as a run names them.
std::string SummaryOf(const std::string& export949) {
  if (export949.size() > 4 && export949.compare(export949.size() - 4, 4, ".dat") == 0) {
    return export949.substr(0, export949.size() - 4) + ".log";
  }
  return std::string();
}
std::string ExportOf(const std::string& summary949) {
  if (summary949.size() > 4 && summary949.compare(summary949.size() - 4, 4, ".log") == 0) {
    return summary949.substr(0, summary949.size() - 4) + ".dat";
  }
  return std::string();
}

// A recorded intent: the summary and the export (file names) with their synced sizes.
struct Intent {
  std::string summary, exported;
  std::int64_t summarySize = -1, exportSize = -1;
  bool whole = false;
};

Intent ReadIntent(const std::string& path949, const std::string& export949) {
  Intent intent;
  intent.exported = export949;
  intent.summary = SummaryOf(export949);
  platform::FileIdentity id;
  const int fd = platform::OpenRegularForRead(SysPath(path949.c_str()), &id);
  if (fd < 0) return intent;
  char buf[4096];
  std::string text;
  for (std::int64_t n; (n = platform::ReadFd(fd, buf, sizeof(buf))) > 0 && text.size() < 65536;) {
    text.append(buf, static_cast<std::size_t>(n));
  }
  platform::CloseFd(fd);
  std::string names[2];
  std::int64_t sizes[2] = {-1, -1};
  std::size_t pos = 0;
  for (int i = 0; i < 2; ++i) {
    const std::size_t end = text.find("\r\n", pos);
    const std::size_t space = text.find(' ', pos);
    if (end == std::string::npos || space == std::string::npos || space >= end || space == pos) {
      return intent;
    }
    std::int64_t size = 0;
    for (std::size_t k = pos; k < space; ++k) {
      if (text[k] < '0' || text[k] > '9' || size > (INT64_MAX - 9) / 10) return intent;
      size = size * 10 + (text[k] - '0');
    }
    sizes[i] = size;
    names[i] = text.substr(space + 1, end - space - 1);
    pos = end + 2;
  }
  if (names[1] != export949 || names[0].empty()) return intent;
  intent.summary = names[0];
  intent.summarySize = sizes[0];
  intent.exportSize = sizes[1];
  intent.whole = true;
  return intent;
}

// A publish cut short, as its intent names its files (folder and name), with its run's
// temporary files taken.
struct CutPublish {
  std::string finalL, finalD, tmpL, tmpD, aside, orphan;
  OwnedFile heldL, heldD;
  bool hasL = false, hasD = false;
};

// Whether both new files are whole: each temporary file still at its synced size, or already
// under its final name.
bool NewPairWhole(const Intent& intent, const CutPublish& p) {
  std::int64_t sizeL = -1, sizeD = -1;
  SysError e;
  if (p.hasL) p.heldL.Size(&sizeL, &e);
  if (p.hasD) p.heldD.Size(&sizeD, &e);
  return intent.whole && (p.hasL ? sizeL == intent.summarySize : Exists949(p.finalL)) &&
         (p.hasD ? sizeD == intent.exportSize : Exists949(p.finalD));
}

// The repair of one folder. Describing, it only looks (taking locks to tell live runs from
// ended ones, and letting them go again) and collects the lines it would log.
class Repairer {
 public:
  Repairer(std::string folder949, const char* label, int pane, std::vector<std::string>* lines)
      : folder_(std::move(folder949)), label_(label), pane_(pane), lines_(lines) {}

  void Run(const std::set<std::string>& finals);

 private:
  using RunKey = std::pair<std::int64_t, int>;

  bool Describing() const { return lines_ != nullptr; }
  // Every change the repair makes goes through here: describing, nothing changes and the
  // change counts as done, so that the lines collected are the ones the repair would log.
  template <typename Change>
  bool Changed(Change&& change) {
    return Describing() || change();
  }
  void Line(const std::string& text) {
    if (lines_ != nullptr) {
      lines_->push_back(text);
    } else {
      WriteLog(text, pane_);
    }
  }
  std::string Path(const std::string& name949) const { return folder_ + "/" + name949; }
  std::string Sys(const std::string& name949) const { return SysPath(Path(name949).c_str()); }
  void LogRenameError(const std::string& from, const std::string& to, const SysError& e) {
    Line(Format("%s rename error[%s]=>[%s][%s]", label_, from.c_str(), to.c_str(),
                e.text.c_str()));
  }
  void Removed(const std::string& path949) {
    Line(Format("%s removed a leftover of an ended run[%s]", label_, path949.c_str()));
  }
  void NotRemoved(const std::string& path949, const SysError& e) {
    Line(Format("%s leftover of an ended run not removed[%s][%s]", label_, path949.c_str(),
                e.text.c_str()));
  }
  bool Rename(const std::string& from949, const std::string& to949, SysError* e) {
    return Changed([&] {
      return platform::RenameReplaceRetry(SysPath(from949.c_str()), SysPath(to949.c_str()), e);
    });
  }
  bool RenameHeld(OwnedFile& file, const std::string& to949, SysError* e) {
    return Changed([&] { return file.RenameTo(SysPath(to949.c_str()), e); });
  }
  // A held file: removed (or, describing, let go).
  void RemoveHeld(OwnedFile& file, const std::string& path949) {
    SysError e;
    if (Changed([&] { return file.Remove(&e); })) {
      Removed(path949);
    } else {
      NotRemoved(path949, e);
    }
    file.Release();
  }
  // A leftover nobody holds (an aside copy): removed; false (logged) when it stays.
  bool RemoveLeftover(const std::string& path949) {
    if (Changed([&] { return RemoveFile949(path949.c_str()); })) {
      Removed(path949);
      return true;
    }
    NotRemoved(path949, platform::ErrnoError(errno));
    return false;
  }
  // A summary set aside goes back under its final name; false (logged) when both stay.
  bool PutBack(const std::string& aside949, const std::string& final949) {
    SysError e;
    if (!Rename(aside949, final949, &e)) {
      Line(Format("%s summary of an ended run not put back, both kept[%s]=>[%s][%s]", label_,
                  aside949.c_str(), final949.c_str(), e.text.c_str()));
      return false;
    }
    Line(Format("%s put back the summary of an ended run[%s]=>[%s]", label_, aside949.c_str(),
                final949.c_str()));
    return true;
  }
  // Takes a run's temporary file: false when a live run holds it or it cannot be taken.
  bool TakeTemp(const std::string& name949, OwnedFile* file, bool* present) {
    SysError e;
    switch (file->Take(Sys(name949), &e)) {
      case OwnedFile::TakeResult::kTaken:
        *present = true;
        return true;
      case OwnedFile::TakeResult::kGone:
        *present = false;
        return true;
      case OwnedFile::TakeResult::kBusy:
        return false;
      case OwnedFile::TakeResult::kFailed:
        NotRemoved(Path(name949), e);
        return false;
    }
    return false;
  }
  void Temp(const SideFileName& f);
  void IntentOf(const SideFileName& f);
  bool FinishPublish(CutPublish& p);
  bool RollBack(CutPublish& p);
  void AsideWithoutIntent(const SideFileName& f);
  void SyncFolder() {
    SysError e;
    Changed([&] { return platform::SyncDir(SysPath(folder_.c_str()), &e); });
  }

  const std::string folder_;
  const char* label_;
  const int pane_;
  std::vector<std::string>* lines_;
};

void Repairer::Run(const std::set<std::string>& finals) {
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDir(SysPath(folder_.c_str()), &entries)) return;
  std::vector<SideFileName> temps, asides, intents;
  for (const platform::DirEntry& entry : entries) {
    SideFileName f;
    if (entry.isDir || !ParseSideFileName(Utf8ToCp949(entry.name), &f)) continue;
    if (!finals.empty() && finals.count(f.final949) == 0) continue;
    (f.ext == "tmp" ? temps : f.ext == "old" ? asides : intents).push_back(std::move(f));
  }
  // Runs whose files the intent logic owns, or that are left alone.
  std::set<RunKey> handled;
  if (!intents.empty() || !asides.empty()) {
    // A publish holds the folder's lock from its intent to its end: under the lock, every
    // intent and aside copy is an ended run's.
    platform::FolderLock lock;
    SysError e;
    // Describing makes no lock file: where there is none, nobody holds it.
    const bool locked = !Describing()                      ? LockFolder949(folder_, &lock, &e)
                        : !Exists949(Path(kFolderLockName)) ? true
                        : lock.TryLock(Sys(kFolderLockName), &e) ==
                              platform::FolderLock::TryResult::kTaken;
    for (const SideFileName& f : intents) {
      handled.insert({f.pid, f.worker});
      if (locked) IntentOf(f);
    }
    for (const SideFileName& f : asides) {
      if (handled.count({f.pid, f.worker}) != 0) continue;
      if (locked) {
        AsideWithoutIntent(f);
      } else {
        handled.insert({f.pid, f.worker});
      }
    }
  }
  for (const SideFileName& f : temps) {
    if (handled.count({f.pid, f.worker}) == 0) Temp(f);
  }
}

void Repairer::Temp(const SideFileName& f) {
  const std::string name = RunTempName(f.final949, f.pid, f.worker);
  OwnedFile file;
  bool present = false;
  if (TakeTemp(name, &file, &present) && present) RemoveHeld(file, Path(name));
}

// A publish that recorded its intent and ended before removing it: finished when both new
// files are whole, else rolled back to the earlier pair. The intent goes once either is done.
void Repairer::IntentOf(const SideFileName& f) {
  const std::string intentPath = Path(RunIntentName(f.final949, f.pid, f.worker));
  const Intent intent = ReadIntent(intentPath, f.final949);
  if (intent.summary.empty()) return;
  CutPublish p;
  p.finalL = Path(intent.summary);
  p.finalD = Path(intent.exported);
  p.tmpL = RunTempName(intent.summary, f.pid, f.worker);
  p.tmpD = RunTempName(intent.exported, f.pid, f.worker);
  p.aside = Path(RunAsideName(intent.summary, f.pid, f.worker));
  p.orphan = Path(RunOrphanName(intent.summary, f.pid, f.worker));
  if (!TakeTemp(p.tmpL, &p.heldL, &p.hasL) || !TakeTemp(p.tmpD, &p.heldD, &p.hasD)) return;
  const bool done = NewPairWhole(intent, p) ? FinishPublish(p) : RollBack(p);
  if (done) Changed([&] { return RemoveFile949(intentPath.c_str()); });
}

// Both new files are whole: the renames still missing are done, summary first, and the aside
// copy goes. False (logged) when a step failed.
bool Repairer::FinishPublish(CutPublish& p) {
  for (auto [held, has, from, to] : {std::tuple{&p.heldL, p.hasL, &p.tmpL, &p.finalL},
                                     std::tuple{&p.heldD, p.hasD, &p.tmpD, &p.finalD}}) {
    if (!has) continue;
    SysError e;
    if (!RenameHeld(*held, *to, &e)) {
      LogRenameError(Path(*from), *to, e);
      return false;
    }
    Line(Format("%s finished the publish of an ended run[%s]=>[%s]", label_,
                Path(*from).c_str(), to->c_str()));
  }
  SyncFolder();
  return !Exists949(p.aside) || RemoveLeftover(p.aside);
}

// Back to the earlier pair. A new summary already under its final name has no whole export
// beside it: it is set aside, not deleted. False (logged) when a step failed.
bool Repairer::RollBack(CutPublish& p) {
  if (!p.hasL && Exists949(p.finalL)) {
    SysError e;
    if (!Rename(p.finalL, p.orphan, &e)) {
      LogRenameError(p.finalL, p.orphan, e);
      return false;
    }
    Line(Format("%s set aside the summary of an ended run without its export[%s]=>[%s]",
                label_, p.finalL.c_str(), p.orphan.c_str()));
  }
  if (Exists949(p.aside) && !PutBack(p.aside, p.finalL)) return false;
  if (p.hasL) RemoveHeld(p.heldL, Path(p.tmpL));
  if (p.hasD) RemoveHeld(p.heldD, Path(p.tmpD));
  SyncFolder();
  return true;
}

// An aside copy without an intent, as runs before intents left them: the summary goes back
// while its run's export was not renamed, or while no summary stands in its place.
void Repairer::AsideWithoutIntent(const SideFileName& f) {
  const std::string aside = Path(RunAsideName(f.final949, f.pid, f.worker));
  const std::string finalL = Path(f.final949);
  const std::string exported = ExportOf(f.final949);
  if ((!exported.empty() && Exists949(Path(RunTempName(exported, f.pid, f.worker)))) ||
      !Exists949(finalL)) {
    PutBack(aside, finalL);
  } else {
    RemoveLeftover(aside);
  }
}

}  // namespace

bool OutputInProgress(const std::string& final949) {
  const std::string folder = FolderOf(final949), name = FileNameOf(final949);
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDir(SysPath(folder.c_str()), &entries)) return false;
  bool publishing = false;
  for (const platform::DirEntry& entry : entries) {
    SideFileName f;
    if (entry.isDir || !ParseSideFileName(Utf8ToCp949(entry.name), &f)) continue;
    if (f.ext == "tmp" && f.final949 == name) {
      OwnedFile file;
      SysError e;
      if (file.Take(SysPath(folder.c_str()) + "/" + entry.name, &e) ==
          OwnedFile::TakeResult::kBusy) {
        return true;
      }
    } else if (f.ext == "old" && f.final949 == name) {
      publishing = true;
    } else if (f.ext == "pub") {
      const Intent intent =
          ReadIntent(folder + "/" + RunIntentName(f.final949, f.pid, f.worker), f.final949);
      publishing = publishing || intent.exported == name || intent.summary == name;
    }
  }
  const std::string lockPath = folder + "/" + kFolderLockName;
  if (!publishing || !Exists949(lockPath)) return false;
  // Intents and aside copies are live only while their publish holds the folder's lock.
  platform::FolderLock lock;
  SysError e;
  return lock.TryLock(SysPath(lockPath.c_str()), &e) == platform::FolderLock::TryResult::kBusy;
}

std::vector<std::string> DescribeRepair(const std::string& folder949) {
  std::vector<std::string> lines;
  Repairer(folder949, kStartLabel, 1, &lines).Run({});
  return lines;
}

void RepairFolder(const std::string& folder949, int pane) {
  Repairer(folder949, kStartLabel, pane, nullptr).Run({});
}

void RepairOutputs(const std::string& folder949, const std::set<std::string>& finals949,
                   const char* label, int pane) {
  Repairer(folder949, label, pane, nullptr).Run(finals949);
}

}  // namespace zelvik
