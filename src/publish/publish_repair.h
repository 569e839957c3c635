#pragma once
// The repair of publishes cut short (a kill, a crash, a power loss), and a read-only view of
// it. A publish that recorded its intent is finished when its remaining temporary files have
// the recorded sizes, else the earlier pair is put back; temporary files of ended runs are
// removed; nothing is removed that is the only copy of a summary: a summary whose export is
// gone is set aside as "<summary>.<process id>-<worker>.orphan", and a summary that cannot be
// put back stays beside the new one, with a log line, until the next start tries again.
// A run is alive while it holds the OS lock of its temporary files (never judged by a
// process id); intents and set-aside copies are looked at only under the folder's lock.
// Thread-safe: each call keeps its own state, and workers repairing one folder at once (or
// other processes) are kept apart by those file locks, which exclude threads too.

#include <set>
#include <string>
#include <vector>

namespace zelvik {

// True while a live run (this process or another) owns a temporary file of this final name
// or is publishing it.
bool OutputInProgress(const std::string& final949);

// The lines the start-up repair would log for the folder (code page 949), without changing
// anything: what it would finish, put back, set aside or remove.
std::vector<std::string> DescribeRepair(const std::string& folder949);

// The start-up repair of the folder, logged on the pane; run by both front ends before any
// worker starts.
void RepairFolder(const std::string& folder949, int pane);

// The same repair limited to the given final names of the folder (file names, code page 949;
// empty: all), logged with the label: a run's check before it creates its files, and the
// clean-up's check of its "converted" folder.
void RepairOutputs(const std::string& folder949, const std::set<std::string>& finals949,
                   const char* label, int pane);

}  // namespace zelvik
