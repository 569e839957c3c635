// The Windows window on a display, under the system's own dialog manager: the template's
// controls where its dialog units put them, the start one second after opening, the message
// box of an empty data source, and the program itself ending within its teardown's second.

#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/dialog_layout.h"
#include "app/extractor_dlg_win32.h"
#include "app/folder_browser_win32.h"
#include "log/log_pane.h"
#include "util/process_state.h"
#include "workers/worker_backend.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  DWORD_PTR got = 0;
  // WM_GETTEXT reaches an edit's own text, also in another process.
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      2000, &got);
  return text;
}

// Runs the window thread's messages until pred holds (true) or timeoutMs passed (false).
bool PumpUntil(HWND dialog, const std::function<bool()>& pred, int timeoutMs) {
  auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (dialog == nullptr || !IsWindow(dialog) || !IsDialogMessageW(dialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
    }
    if (pred()) return true;
    if (Clock::now() > end) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

RECT ClientRectOf(HWND control, HWND dialog) {
  RECT r;
  GetWindowRect(control, &r);
  MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

RECT Units(const Rect& u) { return {u.x, u.y, u.x + u.width, u.y + u.height}; }

std::string Show(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + " " +
         std::to_string(r.right - r.left) + "x" + std::to_string(r.bottom - r.top);
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() / ("zelvik-gui-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(home_);
    std::string error;
    std::u8string dir = home_.u8string();
    ASSERT_TRUE(SetProgramDirDirect(std::string(dir.begin(), dir.end()), &error)) << error;
    backend_ = MakeDatabaseBackend();
    dialog_ = std::make_unique<CExtractorDlg>(*backend_);
    opened_ = Clock::now();
    hwnd_ = dialog_->Create();
    ASSERT_NE(hwnd_, nullptr);
  }
  void TearDown() override {
    dialog_.reset();  // the teardown: every worker ended
    backend_.reset();
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
    EXPECT_EQ(GetDlgCtrlID(children[k]), c.id == kIdNoControl ? 0xFFFF : c.id) << k;
    EXPECT_EQ(TextOf(children[k]), WideFromUtf8(c.caption)) << c.id;
    RECT expected = Units(c.units);
    MapDialogRect(hwnd_, &expected);
    RECT actual = ClientRectOf(children[k], hwnd_);
    if (c.kind == ControlKind::kPane) {
      // A pane stays where the template puts it until a size change after it exists.
      std::size_t n = 0;
      while (kPaneIds[n] != c.id) ++n;
      RECT stacked = Units(panes[n]);
      EXPECT_TRUE(EqualRect(&actual, &expected) || EqualRect(&actual, &stacked))
          << c.id << ": " << Show(actual) << " not " << Show(expected);
    } else {
      EXPECT_TRUE(EqualRect(&actual, &expected))
          << c.id << ": " << Show(actual) << " not " << Show(expected);
    }
  }
  RECT frame;
  GetWindowRect(hwnd_, &frame);
  RECT size = {0, 0, kTemplateWidth, kTemplateHeight};
  MapDialogRect(hwnd_, &size);
  EXPECT_EQ(client.right, size.right);
  EXPECT_EQ(client.bottom, size.bottom);
  std::printf("window at 96 DPI (%u): client %ldx%ld, frame %ldx%ld, base units %ld\n",
              GetDpiForWindow(hwnd_), client.right, client.bottom, frame.right - frame.left,
              frame.bottom - frame.top, static_cast<long>(GetDialogBaseUnits()));

  // A size change stacks the four panes; the other controls keep their places.
  SetWindowPos(hwnd_, nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
  GetClientRect(hwnd_, &client);
  panes = PaneLayout(client.right, client.bottom);
  for (std::size_t n = 0; n < kPaneIds.size(); ++n) {
    RECT actual = ClientRectOf(dialog_->Control(kPaneIds[n]), hwnd_);
    RECT stacked = Units(panes[n]);
    EXPECT_TRUE(EqualRect(&actual, &stacked)) << n << ": " << Show(actual);
  }

  // The about item in the system menu.
  wchar_t item[64] = {};
  GetMenuStringW(GetSystemMenu(hwnd_, FALSE), kIdAboutBox, item, 64, MF_BYCOMMAND);
  EXPECT_EQ(std::wstring(item), WideFromUtf8(kAboutMenuText));

  // Enter in a field is the dialog's OK command, which never closes the window.
  SetFocus(dialog_->Control(1002));
  PostMessageW(dialog_->Control(1002), WM_KEYDOWN, VK_RETURN, 0);
  PostMessageW(dialog_->Control(1002), WM_KEYUP, VK_RETURN, 0);
  PumpUntil(hwnd_, [] { return false; }, 200);
  EXPECT_TRUE(IsWindow(hwnd_));
}

TEST_F(WindowTest, StartsWorkerOneOneSecondAfterOpening) {
  EXPECT_EQ(Text(1002), L"dbidc");
  EXPECT_EQ(Text(1003), L"qarnimel");
  EXPECT_EQ(Text(1009), L"00003");
  EXPECT_EQ(SendMessageW(dialog_->Control(1027), BM_GETCHECK, 0, 0), BST_CHECKED);
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
}

TEST_F(WindowTest, EmptyDataSourceShowsItsMessageBox) {
  ASSERT_TRUE(PumpUntil(hwnd_, [&] { return Running(); }, 5000));
  SendMessageW(dialog_->Control(1000), BM_CLICK, 0, 0);  // stop
  EXPECT_EQ(Text(1000), L"Zelvik");
  SetWindowTextW(dialog_->Control(1002), L"");
  EXPECT_EQ(dialog_->Model().GetText(1002), "");

  // The box is modal on this thread: another thread reads it and presses its button.
  std::atomic<bool> seen{false};
  std::wstring title;
  std::vector<std::wstring> texts;
  HWND owner = hwnd_;
  std::thread reader([&] {
    auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
      HWND box = nullptr;
      EnumThreadWindows(GetWindowThreadProcessId(owner, nullptr), [](HWND w, LPARAM found) {
        wchar_t name[64] = {};
        GetClassNameW(w, name, 64);
        if (std::wstring(name) == L"#32770" && GetWindow(w, GW_OWNER) != nullptr) {
          *reinterpret_cast<HWND*>(found) = w;
          return FALSE;
        }
        return TRUE;
      }, reinterpret_cast<LPARAM>(&box));
      if (box != nullptr && IsWindowVisible(box)) {
        title = TextOf(box);
        for (HWND c = GetWindow(box, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
          texts.push_back(TextOf(c));
        }
        seen = true;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  SendMessageW(dialog_->Control(1000), BM_CLICK, 0, 0);  // start: the field check fails
  reader.join();
  ASSERT_TRUE(seen.load());
  EXPECT_EQ(title, kMessageBoxTitle);
  EXPECT_NE(std::find(texts.begin(), texts.end(), L"DSN 입력하시오."), texts.end());
  EXPECT_EQ(GetFocus(), dialog_->Control(1002));
  EXPECT_EQ(Text(1000), L"DB Close");
  EXPECT_FALSE(dialog_->Model().AnyWorkerRunning());
}

// The main window of a process, once it is there.
HWND FindProgramWindow(DWORD pid) {
  struct Search {
    DWORD pid;
    HWND found;
  } search{pid, nullptr};
  EnumWindows([](HWND w, LPARAM p) {
    auto* s = reinterpret_cast<Search*>(p);
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    if (owner == s->pid && IsWindowVisible(w) && TextOf(w) == L"Zelvik") {
      s->found = w;
      return FALSE;
    }
    return TRUE;
  }, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

TEST(Program, CancelEndsItWithinTheTeardownSecond) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  fs::path program = fs::path(self).parent_path() / L"zelvik.exe";
  fs::path home = fs::temp_directory_path() / (L"zelvik 프로그램 " + std::to_wstring(GetCurrentProcessId()));
  fs::create_directories(home);
  fs::copy_file(program, home / L"zelvik.exe", fs::copy_options::overwrite_existing);

  std::wstring command = L"\"" + (home / L"zelvik.exe").wstring() + L"\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             home.c_str(), &startup, &process));
  // Whatever fails below, the program does not outlive the test.
  std::shared_ptr<void> end(nullptr, [&](void*) {
    if (WaitForSingleObject(process.hProcess, 0) != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  });
  HWND window = nullptr;
  auto started = Clock::now();
  for (int k = 0; k < 500 && window == nullptr; ++k) {
    window = FindProgramWindow(process.dwProcessId);
    if (window == nullptr) Sleep(20);
  }
  ASSERT_NE(window, nullptr);
  double shown = SecondsSince(started);
  HWND button = GetDlgItem(window, 1000);
  bool running = false;
  for (int k = 0; k < 500 && !running; ++k) {
    running = TextOf(button) == L"DB Close";
    if (!running) Sleep(10);
  }
  EXPECT_TRUE(running);
  double pressed = SecondsSince(started);

  auto cancelled = Clock::now();
  PostMessageW(window, WM_CLOSE, 0, 0);  // the close box
  DWORD waited = WaitForSingleObject(process.hProcess, 10000);
  double ended = SecondsSince(cancelled);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  std::printf("window shown %.3f s, \"DB Close\" %.3f s after launch; close to process end %.3f s\n",
              shown, pressed, ended);
  EXPECT_EQ(waited, WAIT_OBJECT_0);
  EXPECT_EQ(code, 0u);
  EXPECT_LT(ended, 2.5);  // one second of teardown, and the process is gone

  // Worker 1 ran in the program's own folder: its run log lies there.
  bool logged = false;
  for (const auto& entry : fs::recursive_directory_iterator(home)) {
    logged = logged || entry.path().filename().wstring().ends_with(L"-1.log");
  }
  EXPECT_TRUE(logged);
  std::error_code ignored;
  fs::remove_all(home, ignored);
}

}  // namespace
}  // namespace zelvik

int wmain(int argc, wchar_t** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  return RUN_ALL_TESTS();
}
