#pragma once
// Publishing: how a run's files become final, whole and durable.
//
// The two files of an export run live under temporary names beside their final ones until
// both are complete: "<final name>.<process id>-<worker>.tmp". No "*.dat" or "*.log" search
// matches them (nor, on Windows, their 8.3 short names, whose extension is "TMP"), so nobody
// downstream and no clean-up ever reads a partial day. They are created exclusively, never
// through a link, and held by an OS lock while their run lives: a temporary file whose lock
// can be taken is the leftover of an ended run, whatever its process id says.
//
// Only a run whose files both closed cleanly publishes them: it syncs their data, takes the
// folder's lock file "zelvik.lock" (two publishes of one output never interleave), records its
// intent in "<export>.<process id>-<worker>.pub" (the files and their sizes, synced with the
// folder), sets the earlier summary aside as "<summary>.<process id>-<worker>.old", renames
// the summary and then the export to their final names, syncs the folder, and only then
// removes the aside copy and the intent. The next start repairs a publish cut short at any of
// these steps (publish_repair.h).

#include <cstdint>
#include <string>

#include "util/folder_lock.h"
#include "util/owned_file.h"
#include "util/platform.h"

namespace zelvik {

// The folder of a path ("." for none) and its file name ('/' separators).
std::string FolderOf(const std::string& path);
std::string FileNameOf(const std::string& path);

// The temporary, set-aside and intent names of a final file for a process and worker, and the
// name a summary whose export is gone is set aside under.
std::string RunTempName(const std::string& final949, std::int64_t pid, int worker);
std::string RunAsideName(const std::string& final949, std::int64_t pid, int worker);
std::string RunIntentName(const std::string& final949, std::int64_t pid, int worker);
std::string RunOrphanName(const std::string& final949, std::int64_t pid, int worker);

// The folder's lock file, held only across the renames of a publish and never deleted.
constexpr const char* kFolderLockName = "zelvik.lock";

// Takes the folder's lock, waiting for another publish or repair to end (up to about 30 s).
bool LockFolder949(const std::string& folder949, platform::FolderLock* lock,
                   platform::SysError* error);

// Not thread-safe: one run's own, used on that run's thread only (its writer thread writes the
// temporary export's stream, never this object). Other runs, in this process or another, are
// kept apart by the temporary files' locks and the folder's lock.
class RunOutput {
 public:
  // exportPath and summaryPath: the final names (code page 949). Log lines go to the pane
  // and begin with the label. durable: data and folder syncs on (off only to measure them).
  RunOutput(const char* exportPath, const char* summaryPath, int worker, const char* label,
            int pane, bool durable = true);
  // Closes what it still holds; never removes a file (a killed run removes nothing either).
  ~RunOutput() = default;
  RunOutput(const RunOutput&) = delete;
  RunOutput& operator=(const RunOutput&) = delete;

  enum File { kExport = 0, kSummary = 1 };
  const char* TempPath(File file) const { return tmp_[file].c_str(); }

  // Repairs what ended runs left of these outputs (publish_repair.h), logging each file.
  // Temporary files of live runs (this process's other workers included) are left alone.
  void RemoveLeftovers();
  // Creates the temporary file exclusively and owns it. Returns a descriptor to write it
  // through (the caller closes it; the file stays owned), -1 with errno set on failure.
  int CreateTemp(File file);
  // Gives both closed files their final names, durably. False (logged) when that failed:
  // the earlier files are then as they were, or, where even putting them back failed, left
  // with the intent for the next start's repair.
  bool Publish();
  // After a failed run: removes the temporary files it created (logged), unless a failed
  // publish left them for the repair, and logs that earlier files of the outputs were kept.
  void Discard();

 private:
  void Log(const std::string& text) const;
  void LogRenameError(const std::string& from, const std::string& to,
                      const platform::SysError& error) const;
  bool WriteIntent(const std::string& path949, std::int64_t summarySize,
                   std::int64_t exportSize, platform::SysError* error) const;
  // The steps of Publish, in order; each logs its failure.
  // Syncs both temporary files and takes their sizes.
  bool SyncTemps(std::int64_t size[2]);
  // Writes the intent and syncs the folder; removes the intent again on failure.
  bool RecordIntent(const std::int64_t size[2]);
  // Renames an earlier summary to its aside name (*hadOld: there was one).
  bool SetAsideEarlier(bool* hadOld);
  // Renames the summary, then the export, to their final names; rolls back on failure.
  bool RenameFinals(bool hadOld);
  // Undoes the renames so far; where that fails the intent stays for the next start, which
  // finishes or undoes the publish from what it finds.
  void RollBack(bool summaryRenamed, bool hadOld);
  // Syncs the folder, then removes the aside copy and the intent and lets the files go.
  bool Complete(bool hadOld);

  const std::string dat_, log_, folder_;
  const std::string tmp_[2];
  const std::string aside_, intent_;
  const char* label_;
  const int pane_;
  const bool durable_;
  platform::OwnedFile owned_[2];
  bool leftForRepair_ = false;
};

// One converted copy of the clean-up: written under "<final name>.<process id>-1.tmp" beside
// its final name, owned and synced, and renamed over the final name only when complete, and
// never when the final name is the input itself (a link). Paths are system paths (UTF-8).
// Not thread-safe: one per converted copy, on the clean-up's thread.
class CopyOutput {
 public:
  explicit CopyOutput(std::string finalPath);
  CopyOutput(const CopyOutput&) = delete;
  CopyOutput& operator=(const CopyOutput&) = delete;

  const std::string& TempPath() const { return tmp_; }
  // Creates the temporary file; a descriptor to write it through, or -1 (error set).
  int Create(platform::SysError* error);
  enum class Result { kDone, kIsInput, kFailed };
  // Syncs the written copy and renames it over the final name, then syncs the folder.
  // kIsInput: the final name names the input file, which the rename would replace.
  Result Publish(const platform::FileIdentity& input, platform::SysError* error);
  // Removes the temporary file (after a failure or a refusal).
  void Discard();
  // Whether the final name names the input file.
  bool FinalIsInput(const platform::FileIdentity& input) const;

 private:
  const std::string final_, tmp_;
  platform::OwnedFile owned_;
};

// Test hook: called at each step of a publish (1 = intent recorded, 2 = summary set aside,
// 3 = summary renamed, 4 = export renamed, 5 = folder synced, 6 = aside copy removed); when it
// returns true the publish stops right there, as a kill would stop it.
void SetPublishStepHook(bool (*hook)(int step));

}  // namespace zelvik
