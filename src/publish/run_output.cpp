#include "publish/run_output.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "log/run_log.h"
#include "publish/publish_repair.h"
#include "util/durable_io.h"
#include "util/file_io.h"
#include "util/format.h"

namespace zelvik {
namespace {

using platform::SysError;

std::atomic<bool (*)(int)> g_stepHook{nullptr};

// True when the test hook stops the publish at this step.
bool StopsAt(int step) {
  bool (*hook)(int) = g_stepHook.load();
  return hook != nullptr && hook(step);
}

std::string Suffix(std::int64_t pid, int worker, const char* ext) {
  return "." + std::to_string(pid) + "-" + std::to_string(worker) + "." + ext;
}

}  // namespace

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RunTempName(const std::string& final949, std::int64_t pid, int worker) {
  return final949 + Suffix(pid, worker, "tmp");
}

std::string RunAsideName(const std::string& final949, std::int64_t pid, int worker) {
  return final949 + Suffix(pid, worker, "old");
}

std::string RunIntentName(const std::string& final949, std::int64_t pid, int worker) {
  return final949 + Suffix(pid, worker, "pub");
}

std::string RunOrphanName(const std::string& final949, std::int64_t pid, int worker) {
  return final949 + Suffix(pid, worker, "orphan");
}

bool LockFolder949(const std::string& folder949, platform::FolderLock* lock, SysError* error) {
  const std::string path = SysPath((folder949 + "/" + kFolderLockName).c_str());
  // Publishes hold it for a few renames (a Windows reader can stretch one to about 2 s).
  for (int tries = 0; tries < 3000; ++tries) {
    const platform::FolderLock::TryResult result = lock->TryLock(path, error);
    if (result != platform::FolderLock::TryResult::kBusy) {
      return result == platform::FolderLock::TryResult::kTaken;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  *error = platform::ErrnoError(EWOULDBLOCK);
  return false;
}

void SetPublishStepHook(bool (*hook)(int step)) { g_stepHook.store(hook); }

RunOutput::RunOutput(const char* exportPath, const char* summaryPath, int worker,
                     const char* label, int pane, bool durable)
    : dat_(exportPath),
      log_(summaryPath),
      folder_(FolderOf(dat_)),
      tmp_{RunTempName(dat_, CurrentProcessId(), worker),
           RunTempName(log_, CurrentProcessId(), worker)},
      aside_(RunAsideName(log_, CurrentProcessId(), worker)),
      intent_(RunIntentName(dat_, CurrentProcessId(), worker)),
      label_(label),
      pane_(pane),
      durable_(durable) {}

void RunOutput::Log(const std::string& text) const { WriteLog(text, pane_); }

void RunOutput::LogRenameError(const std::string& from, const std::string& to,
                               const SysError& error) const {
  Log(Format("%s rename error[%s]=>[%s][%s]", label_, from.c_str(), to.c_str(),
             error.text.c_str()));
}

void RunOutput::RemoveLeftovers() {
  RepairOutputs(folder_, {FileNameOf(dat_), FileNameOf(log_)}, label_, pane_);
}

int RunOutput::CreateTemp(File file) {
  SysError error;
  if (!owned_[file].Create(SysPath(tmp_[file].c_str()), &error)) {
    errno = error.errnoValue;
    return -1;
  }
  const int fd = owned_[file].OpenWriteFd(&error);
  if (fd < 0) {
    SysError ignored;
    owned_[file].Remove(&ignored);
    owned_[file].Release();
    errno = error.errnoValue;
  }
  return fd;
}

bool RunOutput::WriteIntent(const std::string& path949, std::int64_t summarySize,
                            std::int64_t exportSize, SysError* error) const {
  // The files in the order of their renames, each with the size it was synced at.
  const std::string text = std::to_string(summarySize) + " " + FileNameOf(log_) + "\r\n" +
                           std::to_string(exportSize) + " " + FileNameOf(dat_) + "\r\n";
  platform::OwnedFile intent;
  if (!intent.Create(SysPath(path949.c_str()), error)) return false;
  const int fd = intent.OpenWriteFd(error);
  bool ok = fd >= 0;
  if (ok && platform::WriteFd(fd, text.data(), text.size()) !=
                static_cast<std::int64_t>(text.size())) {
    *error = platform::ErrnoError(errno != 0 ? errno : EIO);
    ok = false;
  }
  if (fd >= 0 && !platform::CloseFd(fd) && ok) {
    *error = platform::ErrnoError(errno);
    ok = false;
  }
  ok = ok && (!durable_ || intent.SyncData(error));
  SysError ignored;
  if (!ok) intent.Remove(&ignored);
  return ok;
}

bool RunOutput::SyncTemps(std::int64_t size[2]) {
  SysError error;
  for (File f : {kExport, kSummary}) {
    if ((durable_ && !owned_[f].SyncData(&error)) || !owned_[f].Size(&size[f], &error)) {
      Log(Format("%s sync error[%s][%s]", label_, tmp_[f].c_str(), error.text.c_str()));
      return false;
    }
  }
  return true;
}

bool RunOutput::RecordIntent(const std::int64_t size[2]) {
  SysError error;
  if (!WriteIntent(intent_, size[kSummary], size[kExport], &error) ||
      (durable_ && !platform::SyncDir(SysPath(folder_.c_str()), &error))) {
    Log(Format("%s write error[%s][%s]", label_, intent_.c_str(), error.text.c_str()));
    RemoveFile949(intent_.c_str());
    return false;
  }
  return true;
}

bool RunOutput::SetAsideEarlier(bool* hadOld) {
  SysError error;
  *hadOld = false;
  if (platform::RenameReplaceRetry(SysPath(log_.c_str()), SysPath(aside_.c_str()), &error)) {
    *hadOld = true;
  } else if (error.errnoValue != ENOENT) {
    LogRenameError(log_, aside_, error);
    RemoveFile949(intent_.c_str());
    return false;
  }
  return true;
}

bool RunOutput::RenameFinals(bool hadOld) {
  SysError error;
  if (!owned_[kSummary].RenameTo(SysPath(log_.c_str()), &error)) {
    LogRenameError(tmp_[kSummary], log_, error);
    RollBack(false, hadOld);
    return false;
  }
  if (StopsAt(3)) return false;
  if (!owned_[kExport].RenameTo(SysPath(dat_.c_str()), &error)) {
    LogRenameError(tmp_[kExport], dat_, error);
    RollBack(true, hadOld);
    return false;
  }
  return true;
}

void RunOutput::RollBack(bool summaryRenamed, bool hadOld) {
  SysError e;
  if (summaryRenamed && !owned_[kSummary].RenameTo(SysPath(tmp_[kSummary].c_str()), &e)) {
    LogRenameError(log_, tmp_[kSummary], e);
    leftForRepair_ = true;
  } else if (hadOld && !platform::RenameReplaceRetry(SysPath(aside_.c_str()),
                                                     SysPath(log_.c_str()), &e)) {
    Log(Format("%s summary not put back, both kept[%s]=>[%s][%s]", label_, aside_.c_str(),
               log_.c_str(), e.text.c_str()));
    leftForRepair_ = true;
  }
  if (!leftForRepair_) RemoveFile949(intent_.c_str());
}

bool RunOutput::Complete(bool hadOld) {
  // The renames reach the disk before the aside copy goes.
  SysError error;
  if (durable_ && !platform::SyncDir(SysPath(folder_.c_str()), &error)) {
    Log(Format("%s sync error[%s][%s]", label_, folder_.c_str(), error.text.c_str()));
  }
  if (StopsAt(5)) return false;
  if (hadOld && !RemoveFile949(aside_.c_str())) {
    Log(Format("%s remove error[%s][%s]", label_, aside_.c_str(),
               platform::ErrorText(errno).c_str()));
  }
  if (StopsAt(6)) return false;
  RemoveFile949(intent_.c_str());
  // Final files are everybody's: on Windows a reader that does not share delete could not
  // open them while they are held.
  for (platform::OwnedFile& file : owned_) file.Release();
  return true;
}

bool RunOutput::Publish() {
  std::int64_t size[2] = {0, 0};
  if (!SyncTemps(size)) return false;
  // Held to the end of the publish: its steps never interleave with another publish or a
  // repair of this folder.
  platform::FolderLock lock;
  SysError error;
  if (!LockFolder949(folder_, &lock, &error)) {
    Log(Format("%s lock error[%s/%s][%s]", label_, folder_.c_str(), kFolderLockName,
               error.text.c_str()));
    return false;
  }
  if (!RecordIntent(size) || StopsAt(1)) return false;
  bool hadOld = false;
  if (!SetAsideEarlier(&hadOld) || StopsAt(2)) return false;
  if (!RenameFinals(hadOld) || StopsAt(4)) return false;
  return Complete(hadOld);
}

void RunOutput::Discard() {
  if (leftForRepair_) return;
  for (File f : {kExport, kSummary}) {
    if (!owned_[f].IsOpen()) continue;
    SysError error;
    if (owned_[f].Remove(&error)) {
      Log(Format("%s run failed, removed[%s]", label_, tmp_[f].c_str()));
    } else {
      Log(Format("%s run failed, remove error[%s][%s]", label_, tmp_[f].c_str(),
                 error.text.c_str()));
    }
    owned_[f].Release();
  }
  for (const std::string* final949 : {&dat_, &log_}) {
    if (platform::PathExists(SysPath(final949->c_str()))) {
      Log(Format("%s run failed, kept the earlier file[%s]", label_, final949->c_str()));
    }
  }
}

CopyOutput::CopyOutput(std::string finalPath)
    : final_(std::move(finalPath)), tmp_(RunTempName(final_, CurrentProcessId(), 1)) {}

int CopyOutput::Create(SysError* error) {
  if (!owned_.Create(tmp_, error)) return -1;
  const int fd = owned_.OpenWriteFd(error);
  if (fd < 0) Discard();
  return fd;
}

CopyOutput::Result CopyOutput::Publish(const platform::FileIdentity& input, SysError* error) {
  if (!owned_.SyncData(error)) return Result::kFailed;
  // The final name may be the input itself, through a linked folder or a hard link: the
  // rename would replace it.
  if (FinalIsInput(input)) return Result::kIsInput;
  if (!owned_.RenameTo(final_, error)) return Result::kFailed;
  owned_.Release();
  platform::SyncDir(FsText(FsPath(final_).parent_path()), error);
  return Result::kDone;
}

bool CopyOutput::FinalIsInput(const platform::FileIdentity& input) const {
  platform::FileIdentity there;
  const int fd = platform::OpenRegularForRead(final_, &there);
  if (fd < 0) return false;
  platform::CloseFd(fd);
  return there.volume == input.volume && there.index == input.index;
}

void CopyOutput::Discard() {
  if (!owned_.IsOpen()) return;
  SysError ignored;
  owned_.Remove(&ignored);
  owned_.Release();
}

}  // namespace zelvik
