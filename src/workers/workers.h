#pragma once
// The four workers. Worker 1 (s_ThreadWorker) waits for 07:00 every day and exports the
// previous day for areas "00001" and "00003", or exports one chosen day once, or runs the
// occupancy clean-up of a folder. Workers 2 to 4 export the area text over the date range of
// their own check box once and end. No worker starts a query while another's query flag is
// set, nor from Monday to Friday between 22:01 and 01:59 (the run gate, run_gate.h).
//
// Every wait goes through the process-wide clock in one-second steps and ends when the stop
// request (g_bstop) is seen, but two: a range worker's first delay, one sleep, and worker 1's
// wait at its end for worker 2's slot. A forced end (the worker's cancel request) ends any
// wait at once.

#include <string>

namespace zelvik {

class WindowModel;

// Worker entry points: each runs worker N of the window to its end and returns 0. They are
// started by the start command on the worker's own thread (RunWorkerThread).
int s_ThreadWorker(WindowModel* pDlg);
int s_ThreadWorker2(WindowModel* pDlg);
int s_ThreadWorker3(WindowModel* pDlg);
int s_ThreadWorker4(WindowModel* pDlg);

// The body of worker n's thread: runs the worker, then clears its query flag and frees its
// slot as the very last step. An unexpected failure inside the worker is logged, not thrown.
void RunWorkerThread(WindowModel* pDlg, int n);

// The date-field check: year, month and day are the plain decimal values of characters 1-4,
// 5-6 and 7-8 of each text. Valid when the years and the months are equal, both days are at
// least 1 and the first is not after the last; then both days are given as "%04d%02d%02d".
bool CheckDateFields(const std::string& first, const std::string& last, std::string* firstDay,
                     std::string* lastDay);

}  // namespace zelvik
