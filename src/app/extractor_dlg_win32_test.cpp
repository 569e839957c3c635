// The Windows window on a display, under the system's own dialog manager: the template's
// controls where its dialog units put them, the start one second after opening, the message
// box of an empty data source, and the program itself: ending within its teardown's second,
// and refusing a folder it cannot name.

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_layout.h"
#include "app/extractor_dlg_win32.h"
#include "log/run_log.h"
#include "util/codepage_windows.h"
#include "util/program_dir.h"
#include "workers/database_backend.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// WM_GETTEXT reaches an edit's own text, also in another process.
std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  DWORD_PTR got = 0;
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      2000, &got);
  return text;
}

std::vector<std::wstring> ChildTexts(HWND window) {
  std::vector<std::wstring> texts;
  for (HWND c = GetWindow(window, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    texts.push_back(TextOf(c));
  }
  return texts;
}

// A visible top-level window of process pid with exactly that caption, waited for up to 10 s.
HWND WaitForWindow(DWORD pid, const std::wstring& caption) {
  struct Search {
    DWORD pid;
    const std::wstring* caption;
    HWND found;
  } search{pid, &caption, nullptr};
  for (int k = 0; k < 500 && search.found == nullptr; ++k) {
    EnumWindows([](HWND w, LPARAM p) {
      auto* s = reinterpret_cast<Search*>(p);
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == s->pid && IsWindowVisible(w) && TextOf(w) == *s->caption) s->found = w;
      return s->found == nullptr ? TRUE : FALSE;
    }, reinterpret_cast<LPARAM>(&search));
    if (search.found == nullptr) Sleep(20);
  }
  return search.found;
}

// Runs the window thread's messages until pred holds (true) or timeoutMs passed (false).
bool PumpUntil(HWND dialog, const std::function<bool()>& pred, int timeoutMs) {
  auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!IsWindow(dialog) || !IsDialogMessageW(dialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    if (pred()) return true;
    if (Clock::now() > end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

// A control's place in the dialog's client area as x, y, width, height; and the place the
// dialog manager gives dialog units, converting position and size each on its own.
RECT PlaceOf(HWND control, HWND dialog) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}
RECT Mapped(HWND dialog, const Rect& u) {
  RECT r = {u.x, u.y, u.width, u.height};
  MapDialogRect(dialog, &r);
  return r;
}
bool Same(const RECT& a, const Rect& b) {
  return a.left == b.x && a.top == b.y && a.right == b.width && a.bottom == b.height;
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("zelvik-gui-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(home_);
    std::string error;
    std::u8string dir = home_.u8string();
    ASSERT_TRUE(SetProgramDirDirect(std::string(dir.begin(), dir.end()), &error)) << error;
    std::ofstream(home_ / "carloc_hst-19910525.dat.4242-1.tmp") << "a cut run's";
    backend_ = MakeDatabaseBackend();
    dialog_ = std::make_unique<CExtractorDlg>(*backend_);
    opened_ = Clock::now();
    hwnd_ = dialog_->Create();
    ASSERT_NE(hwnd_, nullptr);
  }
  void TearDown() override {
    dialog_.reset();  // the teardown: every worker ended
    CloseRunLogFiles();
    std::error_code ignored;
    fs::remove_all(home_, ignored);
  }
  std::wstring Text(int id) { return TextOf(dialog_->Control(id)); }
  bool Running() { return Text(1000) == L"DB Close"; }

  fs::path home_;
  std::unique_ptr<WorkerBackend> backend_;
  std::unique_ptr<CExtractorDlg> dialog_;
  Clock::time_point opened_;
  HWND hwnd_ = nullptr;
};

TEST_F(WindowTest, ControlsStandWhereTheTemplatePutsThem) {
  EXPECT_EQ(TextOf(hwnd_), L"Zelvik");
  EXPECT_EQ(GetFocus(), dialog_->Control(kIdCancel));
  // The children in creation order are the template's controls in its order.
  std::vector<HWND> children;
  for (HWND c = GetWindow(hwnd_, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
    children.push_back(c);
  }
  auto controls = MainWindowControls();
  ASSERT_EQ(children.size(), controls.size());
  RECT client;
  GetClientRect(hwnd_, &client);
  std::array<Rect, 4> panes = PaneLayout(client.right, client.bottom);
  for (std::size_t k = 0; k < controls.size(); ++k) {
    const ControlTemplate& c = controls[k];
    EXPECT_EQ(GetDlgCtrlID(children[k]), c.id) << k;
    if (c.kind != ControlKind::kEdit && c.kind != ControlKind::kPane) {
      EXPECT_EQ(TextOf(children[k]), WideFromUtf8(c.caption)) << c.id;
    }
    RECT expected = Mapped(hwnd_, c.units);
    RECT actual = PlaceOf(children[k], hwnd_);
    // A pane stays where the template puts it until a size change after it exists.
    auto pane = std::find(kPaneIds.begin(), kPaneIds.end(), c.id);
    EXPECT_TRUE(EqualRect(&actual, &expected) ||
                (pane != kPaneIds.end() && Same(actual, panes[pane - kPaneIds.begin()])))
        << c.id << ": " << actual.left << "," << actual.top << " " << actual.right << "x"
        << actual.bottom;
  }
  RECT frame;
  GetWindowRect(hwnd_, &frame);
  RECT size = Mapped(hwnd_, {0, 0, kTemplateWidth, kTemplateHeight});
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  std::printf("window at %u DPI: client %ldx%ld, frame %ldx%ld\n", GetDpiForWindow(hwnd_),
              client.right, client.bottom, frame.right - frame.left, frame.bottom - frame.top);

  // A size change stacks the four panes.
  SetWindowPos(hwnd_, nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
  GetClientRect(hwnd_, &client);
  panes = PaneLayout(client.right, client.bottom);
  for (std::size_t n = 0; n < kPaneIds.size(); ++n) {
    EXPECT_TRUE(Same(PlaceOf(dialog_->Control(kPaneIds[n]), hwnd_), panes[n])) << n;
  }

  wchar_t item[64] = {};
  GetMenuStringW(GetSystemMenu(hwnd_, FALSE), kIdAboutBox, item, 64, MF_BYCOMMAND);
  EXPECT_EQ(std::wstring(item), WideFromUtf8(kAboutMenuText));

  // Enter in a field is the dialog's OK command, which never closes the window.
  SetFocus(dialog_->Control(1002));
  PostMessageW(dialog_->Control(1002), WM_KEYDOWN, VK_RETURN, 0);
  PumpUntil(hwnd_, [] { return false; }, 200);
  EXPECT_TRUE(IsWindow(hwnd_));
}

TEST_F(WindowTest, StartsOneSecondAfterOpeningAndChecksTheFields) {
  EXPECT_EQ(Text(1002), L"dbidc");
  EXPECT_EQ(Text(1003), L"qarnimel");
  EXPECT_TRUE(PumpUntil(hwnd_, [&] {  // the start-up repair, on pane 1
    return Text(kIdPane1).find(L"RepairFolder removed a leftover of an") != std::wstring::npos;
  }, 5000));
  ASSERT_TRUE(PumpUntil(hwnd_, [&] { return Running(); }, 5000));
  double waited = SecondsSince(opened_);
  std::printf("start pressed %.3f s after opening\n", waited);
  EXPECT_GE(waited, 0.95);  // the timer never fires before its second
  EXPECT_TRUE(dialog_->Model().Slot(1).IsTaken());
  for (int n = 2; n <= 4; ++n) EXPECT_FALSE(dialog_->Model().Slot(n).IsTaken());
  // Worker 1's first line reaches pane 1 through the window thread's queue.
  EXPECT_TRUE(PumpUntil(hwnd_, [&] {
    return Text(kIdPane1).find(L"s_ThreadWorker START") != std::wstring::npos;
  }, 5000)) << Utf8FromWide(Text(kIdPane1));

  SendMessageW(dialog_->Control(1000), BM_CLICK, 0, 0);  // stop
  EXPECT_EQ(Text(1000), L"Zelvik");
  SetWindowTextW(dialog_->Control(1002), L"");
  EXPECT_EQ(dialog_->Model().GetText(1002), "");
  // The start's field check shows a box, modal on this thread: another thread reads it and
  // presses its button.
  std::vector<std::wstring> texts;
  std::thread reader([&] {
    if (HWND box = WaitForWindow(GetCurrentProcessId(), kMessageBoxTitle)) {
      texts = ChildTexts(box);
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
  });
  SendMessageW(dialog_->Control(1000), BM_CLICK, 0, 0);
  reader.join();
  EXPECT_NE(std::find(texts.begin(), texts.end(), L"DSN 입력하시오."), texts.end());
  EXPECT_EQ(GetFocus(), dialog_->Control(1002));
  EXPECT_EQ(Text(1000), L"Zelvik");  // nothing started: the next click starts again
  EXPECT_FALSE(dialog_->Model().AnyWorkerRunning());
}

// The program copied into a new folder of the temporary folder and started there.
class Program : public ::testing::Test {
 protected:
  void Start(const std::wstring& folder) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    home_ = fs::temp_directory_path() / (folder + L" " + std::to_wstring(GetCurrentProcessId()));
    fs::create_directories(home_);
    fs::copy_file(fs::path(self).parent_path() / L"zelvik.exe", home_ / L"zelvik.exe",
                  fs::copy_options::overwrite_existing);
    std::wstring command = L"\"" + (home_ / L"zelvik.exe").wstring() + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    started_ = Clock::now();
    ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               home_.c_str(), &startup, &process_));
  }
  void TearDown() override {
    if (process_.hProcess != nullptr) {  // whatever failed, the program does not outlive the test
      if (WaitForSingleObject(process_.hProcess, 0) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 1);
        WaitForSingleObject(process_.hProcess, 5000);
      }
      CloseHandle(process_.hThread);
      CloseHandle(process_.hProcess);
    }
    std::error_code ignored;
    fs::remove_all(home_, ignored);
  }
  DWORD WaitForEnd(double* seconds) {
    auto from = Clock::now();
    EXPECT_EQ(WaitForSingleObject(process_.hProcess, 10000), WAIT_OBJECT_0);
    *seconds = SecondsSince(from);
    DWORD code = 99;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

  fs::path home_;
  PROCESS_INFORMATION process_ = {};
  Clock::time_point started_;
};

TEST_F(Program, CloseEndsItWithinTheTeardownSecond) {
  Start(L"zelvik 프로그램");
  HWND window = WaitForWindow(process_.dwProcessId, L"Zelvik");
  ASSERT_NE(window, nullptr);
  double shown = SecondsSince(started_);
  HWND button = GetDlgItem(window, 1000);
  for (int k = 0; k < 500 && TextOf(button) != L"DB Close"; ++k) Sleep(10);
  EXPECT_EQ(TextOf(button), L"DB Close");
  double pressed = SecondsSince(started_);

  PostMessageW(window, WM_CLOSE, 0, 0);  // the close box
  double ended = 0;
  EXPECT_EQ(WaitForEnd(&ended), 0u);
  std::printf("window %.3f s, \"DB Close\" %.3f s after launch; close to process end %.3f s\n",
              shown, pressed, ended);
  EXPECT_LT(ended, 2.5);  // one second of teardown, and the process is gone
  // Worker 1 ran in the program's own folder: its run log lies there.
  bool logged = false;
  for (const auto& entry : fs::recursive_directory_iterator(home_)) {
    logged = logged || entry.path().filename().wstring().ends_with(L"-1.log");
  }
  EXPECT_TRUE(logged);
}

TEST_F(Program, RefusesAFolderCodePage949CannotName) {
  Start(L"zelvik \u0e01");  // a Thai letter: code page 949 has none
  HWND box = WaitForWindow(process_.dwProcessId, kMessageBoxTitle);
  ASSERT_NE(box, nullptr);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  double ended = 0;
  EXPECT_EQ(WaitForEnd(&ended), 1u);
  // It never ran without its run log: nothing was written beside it.
  EXPECT_EQ(std::distance(fs::directory_iterator(home_), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace zelvik

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  return RUN_ALL_TESTS();
}
