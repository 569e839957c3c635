#pragma once
// The run log: one routine through which every part of the program reports. Each line goes
// to the hourly file "<dir>/<YYYYMMDD>/<YYYYMMDDhh>-<pane>.log" and to a log pane.

#include <string>

namespace zelvik {

// Appends one stamped line (code page 949 text, written as data, never as a format) to the
// pane's hourly file and shows it in the pane: 2, 3 and 4 are their own panes, any other
// number shows in pane 1 (the file keeps the number). A null text is ignored.
void WriteLog(const char* text, int pane);
inline void WriteLog(const std::string& text, int pane) { WriteLog(text.c_str(), pane); }

// Appends the text to a pane as a stamped line (clear == 0), or empties the pane and
// restarts its count (clear != 0; the text is not used). An unbound pane is skipped.
void AppendLogPane(int pane, std::string text, int clear);

}  // namespace zelvik
