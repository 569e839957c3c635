#pragma once
// The run log: one routine through which every part of the program reports. Each line goes
// to the hourly file "<dir>/<YYYYMMDD>/<YYYYMMDDhh>-<pane>.log" and to a log pane. A line is
// in its file, whole, when WriteLog returns.

#include <string>

namespace zelvik {

// Appends one stamped line (code page 949 text, written as data, never as a format) to the
// pane's hourly file and shows it in the pane: 2, 3 and 4 are their own panes, any other
// number shows in pane 1 (the file keeps the number). A null text is ignored.
void WriteLog(const char* text, int pane);
inline void WriteLog(const std::string& text, int pane) { WriteLog(text.c_str(), pane); }

// Closes every log file the run log holds open. It keeps a pane's hourly file open while lines
// keep coming and closes it by itself after about a second without one, ten seconds after it
// was opened, and at the hour's change; this is for those who must remove a folder at once
// (Windows keeps a folder with an open file in it). The next line opens its file again.
void CloseRunLogFiles();

// Appends the text to a pane as a stamped line (clear == 0), or empties the pane and
// restarts its count (clear != 0; the text is not used). An unbound pane is skipped.
void AppendLogPane(int pane, std::string text, int clear);

}  // namespace zelvik
