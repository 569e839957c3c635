#pragma once
// The two files of an export run live under temporary names beside their final ones until
// both are complete: "<final name>.<process id>-<worker>.tmp". No "*.dat" or "*.log" search
// matches them (nor, on Windows, their 8.3 short names, whose extension is "TMP"), so nobody
// downstream and no clean-up ever reads a partial day. Only a run whose files both closed
// cleanly renames them to their final names, summary first and export last, so that an
// export under its final name always has its summary. The summary they replace waits under
// "<final name>.<process id>-<worker>.old" until the export's rename has worked.

#include <string>

namespace zelvik {

// The temporary and the set-aside name of a final file for a process and worker.
std::string RunTempName(const std::string& final949, long pid, int worker);
std::string RunAsideName(const std::string& final949, long pid, int worker);

class RunOutput {
 public:
  // exportPath and summaryPath: the final names (code page 949). Log lines go to the pane
  // and begin with the label.
  RunOutput(const char* exportPath, const char* summaryPath, int worker, const char* label,
            int pane);

  const char* TempExport() const { return tmpDat_.c_str(); }
  const char* TempSummary() const { return tmpLog_.c_str(); }

  // Removes what runs of ended processes left of these outputs, logging each file. A summary
  // set aside by a run that ended before its export's rename is put back first. Temporary
  // files of running processes (this one's other workers included) are left alone.
  void RemoveLeftovers();
  // Gives both closed files their final names. False (logged) when a rename failed: the
  // earlier files are then as they were, and the new ones are back under temporary names.
  bool Publish();
  // After a failed run: logs that earlier files of the same outputs were kept, if any.
  void NoteKeptFiles();

 private:
  void Log(const std::string& text) const;
  void LogRenameError(const std::string& from, const std::string& to, int error) const;

  const std::string dat_, log_;
  const std::string tmpDat_, tmpLog_, aside_;
  const char* label_;
  const int pane_;
};

}  // namespace zelvik
