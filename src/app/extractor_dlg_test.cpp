// The desktop window under a virtual display: the real dialog, run modally, driven by the
// toolkit's own input simulation.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <wx/app.h>
#include <wx/checkbox.h>
#include <wx/datetime.h>
#include <wx/dirctrl.h>
#include <wx/button.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/treectrl.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/extractor_dlg.h"
#include "app/folder_browser.h"
#include "testing/fake_backend.h"
#include "testing/program_home.h"
#include "log/run_log.h"
#include "util/codepage.h"
#include "util/format.h"
#include "util/process_state.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

wxString W(const char* utf8) { return wxString::FromUTF8(utf8); }

// Lets the window system run until pred holds or timeoutMs have passed.
bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 5000) {
  auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    if (pred()) return true;
    if (Clock::now() > end) return false;
    wxTheApp->Yield(true);
    wxMilliSleep(5);
  }
}

void Pump(int ms) {
  WaitUntil([] { return false; }, ms);
}

// Runs the dialog modally and plays script inside its modal loop, on the window thread. A
// script that returns early (a failed assertion) still ends the dialog.
int RunModal(wxDialog& dialog, std::function<void()> script) {
  dialog.CallAfter([&dialog, script = std::move(script)] {
    WaitUntil([&] { return dialog.IsShownOnScreen(); });
    script();
    if (dialog.IsModal()) dialog.EndModal(wxID_ABORT);
  });
  return dialog.ShowModal();
}

void Click(wxWindow* window) {
  ASSERT_NE(window, nullptr);
  wxUIActionSimulator input;
  wxRect r = window->GetScreenRect();
  input.MouseMove(r.GetLeft() + r.GetWidth() / 2, r.GetTop() + r.GetHeight() / 2);
  Pump(30);
  input.MouseClick();
  Pump(50);
}

void PressKey(int key) {
  wxUIActionSimulator input;
  input.Char(key);
  Pump(50);
}

wxString Text(CExtractorDlg& dialog, int id) {
  auto* field = dynamic_cast<wxTextCtrl*>(dialog.Control(id));
  return field != nullptr ? field->GetValue() : dialog.Control(id)->GetLabel();
}
bool Checked(CExtractorDlg& dialog, int id) {
  return static_cast<wxCheckBox*>(dialog.Control(id))->GetValue();
}
std::string Worker1Start() {
  return "------------------------------- s_ThreadWorker START g_bstop[0] "
         "---------------------------";
}

std::string ReadRunLogs(const fs::path& dir, const char* suffix) {
  std::string text;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    if (entry.path().filename().string().ends_with(suffix)) {
      std::ifstream in(entry.path(), std::ios::binary);
      text.append(std::istreambuf_iterator<char>(in), {});
    }
  }
  return text;
}

// Each test runs with a fresh program directory of its own, so run-log files land there. The
// window's timers and workers see the real time.
class WindowTest : public ProgramHomeTest {
 protected:
  WindowTest() { useFakeClock_ = false; }

  // The dialog-unit base of a window with the template font.
  static DialogUnitBase UnitBase() {
    wxDialog probe(nullptr, wxID_ANY, "probe");
    probe.SetFont(TemplateFont());
    return TemplateDialogUnitBase(probe);
  }

  zelvik::testing::FakeBackend backend_;
};

TEST_F(WindowTest, OpensWithTemplateAndFocusOnCancel) {
  std::ofstream(dir_ / "carloc_hst-19910525.dat.4242-1.tmp") << "a cut run's";
  CExtractorDlg dialog(nullptr, backend_);
  RunModal(dialog, [&] {
    EXPECT_EQ(dialog.GetTitle(), "Zelvik");
    // The focus is on the cancel button (2) right after the window opens.
    EXPECT_TRUE(WaitUntil([&] { return wxWindow::FindFocus() == dialog.Control(kIdCancel); }))
        << "focus on " << (wxWindow::FindFocus() ? wxWindow::FindFocus()->GetId() : -99);
    for (const ControlTemplate& c : MainWindowControls()) {
      if (c.id == kIdNoControl) continue;
      wxWindow* control = dialog.Control(c.id);
      ASSERT_NE(control, nullptr) << c.id;
      if (c.kind == ControlKind::kPane) continue;  // the window stacks them when it is sized
      EXPECT_EQ(control->GetRect(),
                wxRect(DialogUnitsToPixelsX(c.units.x, dialog.UnitBase()),
                       DialogUnitsToPixelsY(c.units.y, dialog.UnitBase()),
                       DialogUnitsToPixelsX(c.units.width, dialog.UnitBase()),
                       DialogUnitsToPixelsY(c.units.height, dialog.UnitBase())))
          << c.id;
      if (c.kind == ControlKind::kButton || c.kind == ControlKind::kCheckBox) {
        EXPECT_EQ(control->GetLabel(), W(c.caption)) << c.id;
      }
    }
    EXPECT_TRUE(WaitUntil(
        [&] { return dialog.Pane(1)->GetValue().Contains("RepairFolder removed a leftover of an"); }));
  });
}

TEST_F(WindowTest, ResizingStacksThePanes) {
  CExtractorDlg dialog(nullptr, backend_);
  RunModal(dialog, [&] {
    dialog.SetClientSize(800, 467);
    ASSERT_TRUE(WaitUntil([&] { return dialog.GetClientSize() == wxSize(800, 467); }));
    ASSERT_TRUE(WaitUntil([&] { return dialog.Pane(4)->GetRect().y == 360; }));
    for (int k = 1; k <= 4; ++k) {
      EXPECT_EQ(dialog.Pane(k)->GetRect(), wxRect(5, 60 + (k - 1) * 100, 790, 100)) << k;
    }
    // Too small for panes: they get an empty size, and come back when there is room.
    dialog.SetClientSize(200, 64);
    ASSERT_TRUE(WaitUntil([&] { return dialog.GetClientSize() == wxSize(200, 64); }));
    EXPECT_TRUE(WaitUntil([&] { return dialog.Pane(1)->GetSize() == wxSize(0, 0); }))
        << dialog.Pane(1)->GetSize().x << "x" << dialog.Pane(1)->GetSize().y;
    dialog.SetClientSize(800, 467);
    EXPECT_TRUE(WaitUntil([&] { return dialog.Pane(4)->GetRect() == wxRect(5, 360, 790, 100); }));
  });
}

TEST_F(WindowTest, EnterInFieldOrPaneKeepsTheWindowOpen) {
  CExtractorDlg dialog(nullptr, backend_);
  int result = RunModal(dialog, [&] {
    for (int id : {1002, 1016, kIdPane1}) {
      Click(dialog.Control(id));
      ASSERT_TRUE(WaitUntil([&] { return wxWindow::FindFocus() == dialog.Control(id); })) << id;
      PressKey(WXK_RETURN);
      EXPECT_TRUE(dialog.IsModal()) << id;
    }
    // Escape is the cancel command; the start timer has not pressed the button yet or has,
    // but never after the cancel.
    PressKey(WXK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return !dialog.IsModal(); }));
  });
  EXPECT_EQ(result, kIdCancel);
  EXPECT_EQ(g_bstop.load(), 1);
}

TEST_F(WindowTest, CancelButtonEndsTheWindow) {
  // A window cancelled before its start timer does not start the workers afterwards. The
  // timer waits long enough for the click to come first on a busy machine too, and the
  // window is kept past it.
  constexpr int kDelayMs = 5000;
  CExtractorDlg dialog(nullptr, backend_);
  dialog.SetStartDelay(kDelayMs);
  const auto opened = Clock::now();
  int result = RunModal(dialog, [&] {
    Click(dialog.Control(kIdCancel));
    EXPECT_TRUE(WaitUntil([&] { return !dialog.IsModal(); }));
    const auto cancelled = std::chrono::duration_cast<std::chrono::milliseconds>(
        Clock::now() - opened);
    ASSERT_LT(cancelled.count(), kDelayMs);
    Pump(kDelayMs + 300 - static_cast<int>(cancelled.count()));
    EXPECT_EQ(Text(dialog, 1000), "Zelvik");
  });
  EXPECT_EQ(result, kIdCancel);
  EXPECT_EQ(g_bstop.load(), 1);
  EXPECT_EQ(backend_.sessions[1], 0);
}

TEST_F(WindowTest, PanesShowTheRunLogFromEveryThread) {
  {
  CExtractorDlg dialog(nullptr, backend_);
  RunModal(dialog, [&] {
    // Four threads at once, more lines than a pane keeps: each pane control ends up showing
    // exactly what its run-log pane holds.
    std::vector<std::thread> writers;
    for (int pane = 1; pane <= 4; ++pane) {
      writers.emplace_back([pane] {
        for (int i = 0; i < 150 + pane; ++i) {
          WriteLog(Format("%s %d-%d", Kr("줄").c_str(), pane, i), pane);
        }
      });
    }
    for (auto& w : writers) w.join();
    for (int pane = 1; pane <= 4; ++pane) {
      LogPane* logPane = pane == 1   ? g_pLogPane1.load()
                         : pane == 2 ? g_pLogPane2.load()
                         : pane == 3 ? g_pLogPane3.load()
                                     : g_pLogPane4.load();
      ASSERT_NE(logPane, nullptr);
      wxString expected = wxString::FromUTF8(Cp949ToUtf8(logPane->Text()));
      expected.Replace("\r\n", "\n");
      EXPECT_TRUE(WaitUntil([&] { return dialog.Pane(pane)->GetValue() == expected; })) << pane;
      // 150 + pane lines (and on pane 1 the time zone line of the opening): the 101st emptied
      // the pane, so 50 + pane remain (one more on pane 1).
      const std::string held = logPane->Text();
      EXPECT_EQ(std::count(held.begin(), held.end(), '\n'), 50 + pane + (pane == 1 ? 1 : 0));
      EXPECT_TRUE(dialog.Pane(pane)->GetValue().EndsWith(
          wxString::Format(W(" 줄 %d-%d\n"), pane, 149 + pane)));
    }
    // A cleared pane is emptied on the window too.
    AppendLogPane(3, "", 1);
    EXPECT_TRUE(WaitUntil([&] { return dialog.Pane(3)->IsEmpty(); }));
  });
  }
  // The window is gone: lines reach the files only.
  EXPECT_EQ(g_pLogPane1.load(), nullptr);
  WriteLog("after", 1);
}

TEST_F(WindowTest, StartsWorkerOneSecondAfterOpening) {
  CExtractorDlg dialog(nullptr, backend_);
  auto opened = Clock::now();
  RunModal(dialog, [&] {
    // The defaults of a new window.
    EXPECT_EQ(Text(dialog, 1003), "qarnimel");
    EXPECT_EQ(Text(dialog, 1002), "dbidc");
    EXPECT_EQ(Text(dialog, 1004), "mwrtqpzfbnkcye41");
    EXPECT_EQ(Text(dialog, 1011), W("상용"));
    EXPECT_FALSE(Checked(dialog, 1011));
    EXPECT_TRUE(Checked(dialog, 1027));
    EXPECT_EQ(Text(dialog, 1009), "00003");
    wxString today = wxDateTime::Now().Format("%Y%m%d");
    for (int id : {1013, 1014, 1019, 1020, 1022, 1023, 1025, 1026}) {
      EXPECT_EQ(Text(dialog, id), today) << id;
    }
    EXPECT_EQ(backend_.loads.load(), 1);  // the company-name cache, once

    ASSERT_TRUE(WaitUntil([&] { return Text(dialog, 1000) == "DB Close"; }, 3000));
    double waited = std::chrono::duration<double>(Clock::now() - opened).count();
    EXPECT_GE(waited, 0.9);
    EXPECT_LT(waited, 2.5);
    // Worker 1 alone, with the production connection, has logged its START line.
    wxString start = wxString::FromUTF8(Worker1Start());
    EXPECT_TRUE(WaitUntil([&] { return dialog.Pane(1)->GetValue().Contains(start); }))
        << dialog.Pane(1)->GetValue();
    EXPECT_TRUE(dialog.Model().Slot(1).IsTaken());
    for (int n = 2; n <= 4; ++n) EXPECT_FALSE(dialog.Model().Slot(n).IsTaken());
    EXPECT_EQ(dialog.Model().DSN(), "dbidc");
    EXPECT_EQ(dialog.Model().UID(), "qarnimel");
  });
}

TEST_F(WindowTest, PresetCheckBoxSwitchesTheConnection) {
  CExtractorDlg dialog(nullptr, backend_);
  RunModal(dialog, [&] {
    auto* uid = static_cast<wxTextCtrl*>(dialog.Control(1003));
    uid->SetValue("someone");
    Click(dialog.Control(1011));
    EXPECT_TRUE(Checked(dialog, 1011));
    EXPECT_EQ(Text(dialog, 1011), W("개발"));
    EXPECT_EQ(Text(dialog, 1002), "db243");
    EXPECT_EQ(Text(dialog, 1004), "vdnhxkpqcjrus63");
    // The model, which the workers read, says the same.
    EXPECT_EQ(dialog.Model().GetText(1002), "db243");
    EXPECT_EQ(dialog.Model().GetCheck(1011), 1);

    static_cast<wxTextCtrl*>(dialog.Control(1002))->SetValue("typed");
    Click(dialog.Control(1011));
    EXPECT_FALSE(Checked(dialog, 1011));
    EXPECT_EQ(Text(dialog, 1011), W("상용"));
    EXPECT_EQ(Text(dialog, 1002), "dbidc");
    EXPECT_EQ(Text(dialog, 1004), "mwrtqpzfbnkcye41");
    EXPECT_EQ(Text(dialog, 1003), "someone");
    EXPECT_EQ(dialog.Model().GetText(1003), "someone");

    // The conversion switch follows its check box.
    Click(dialog.Control(1027));
    EXPECT_EQ(dialog.Model().m_bBessel2WGS84.load(), 0);
    Click(dialog.Control(1027));
    EXPECT_EQ(dialog.Model().m_bBessel2WGS84.load(), 1);
  });
}

TEST_F(WindowTest, EmptyDataSourceStartsNothing) {
  // Typing takes longer than the start timer's second on a busy machine.
  constexpr int kDelayMs = 5000;
  CExtractorDlg dialog(nullptr, backend_);
  dialog.SetStartDelay(kDelayMs);
  const auto opened = Clock::now();
  std::vector<std::pair<wxString, wxString>> boxes;
  dialog.SetMessageBox([&](const wxString& text, const wxString& title) {
    boxes.emplace_back(text, title);
  });
  RunModal(dialog, [&] {
    // Empty the data source with the keyboard before the start timer fires.
    Click(dialog.Control(1002));
    wxUIActionSimulator input;
    input.Char('a', wxMOD_CONTROL);
    input.Char(WXK_DELETE);
    ASSERT_TRUE(WaitUntil([&] { return Text(dialog, 1002).empty(); }));
    EXPECT_EQ(dialog.Model().GetText(1002), "");
    ASSERT_TRUE(boxes.empty());
    ASSERT_LT(Clock::now() - opened, std::chrono::milliseconds(kDelayMs));
    // The timer's press finds the field empty.
    ASSERT_TRUE(WaitUntil([&] { return !boxes.empty(); }, kDelayMs + 3000));
    EXPECT_EQ(boxes[0].first, W("DSN 입력하시오."));
    EXPECT_EQ(boxes[0].second, "zelvik");
    EXPECT_TRUE(WaitUntil([&] { return wxWindow::FindFocus() == dialog.Control(1002); }));
    // A start that started nothing leaves the caption idle: the next click starts again and
    // checks the fields again.
    EXPECT_TRUE(WaitUntil([&] { return Text(dialog, 1000) == "Zelvik"; }));
    Click(dialog.Control(1000));
    ASSERT_TRUE(WaitUntil([&] { return boxes.size() == 2; }));
    EXPECT_EQ(Text(dialog, 1000), "Zelvik");
    EXPECT_EQ(boxes[1].first, W("DSN 입력하시오."));
    Pump(200);
    EXPECT_FALSE(dialog.Model().AnyWorkerRunning());
    EXPECT_EQ(backend_.sessions[1] + backend_.sessions[2] + backend_.sessions[3] +
                  backend_.sessions[4],
              0);
  });
}

TEST_F(WindowTest, CancelEndsTheWindowAndEveryWorker) {
  Clock::time_point cancelled;
  {
    CExtractorDlg dialog(nullptr, backend_);
    int result = RunModal(dialog, [&] {
      ASSERT_TRUE(WaitUntil([&] { return dialog.Model().Slot(1).IsTaken(); }, 3000));
      cancelled = Clock::now();
      Click(dialog.Control(kIdCancel));
      EXPECT_TRUE(WaitUntil([&] { return !dialog.IsModal(); }));
    });
    EXPECT_EQ(result, kIdCancel);
    EXPECT_EQ(g_bstop.load(), 1);
  }
  // The teardown gave the workers a second and waited for their threads.
  double took = std::chrono::duration<double>(Clock::now() - cancelled).count();
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 5.0);
  EXPECT_EQ(backend_.active[1], 0);
  std::string log = ReadRunLogs(dir_, "-1.log");
  EXPECT_NE(log.find(Worker1Start()), std::string::npos);
  EXPECT_NE(log.find("s_ThreadWorker STOP g_bstop[1]"), std::string::npos) << log;
}

// Waits (on the window thread, inside whatever modal loop runs) for the next folder chooser to
// open and hands it to act.
void DriveNextChooser(std::function<void(FolderChooserDialog&)> act) {
  struct Driver : wxTimer {
    std::function<void(FolderChooserDialog&)> act;
    int ticks = 0;
    void Notify() override {
      for (wxWindow* window : wxTopLevelWindows) {
        auto* chooser = dynamic_cast<FolderChooserDialog*>(window);
        if (chooser != nullptr && chooser->IsModal() && chooser->IsShownOnScreen()) {
          Stop();
          act(*chooser);
          if (chooser->IsModal()) {
            ADD_FAILURE() << "the chooser stayed open: " << chooser->StatusText();
            chooser->EndModal(wxID_CANCEL);
          }
          delete this;
          return;
        }
      }
      if (++ticks > 250) {
        ADD_FAILURE() << "no folder chooser opened";
        Stop();
        delete this;
      }
    }
  };
  auto* driver = new Driver;
  driver->act = std::move(act);
  driver->Start(20);
}

TEST_F(WindowTest, FolderChooserFollowsSelectionAndTypedNames) {
  fs::path exports = dir_ / fs::u8path("내보내기");
  fs::create_directories(exports / fs::u8path("하위"));
  fs::create_directories(dir_ / "other");
  wxString base = wxString::FromUTF8(dir_.string());

  FolderChooserDialog chooser(nullptr, W(kFolderChooserTitle), wxString(),
                              kBifStatusText | kBifEditBox);
  int result = RunModal(chooser, [&] {
    ASSERT_TRUE(chooser.SelectPath(base + W("/내보내기")));
    // The status line shows the selection's full path, the name field its name.
    EXPECT_EQ(chooser.StatusText(), base + W("/내보내기"));
    EXPECT_EQ(chooser.NameField()->GetValue(), W("내보내기"));
    ASSERT_TRUE(chooser.SelectPath(base + W("/내보내기/하위")));
    EXPECT_EQ(chooser.StatusText(), base + W("/내보내기/하위"));

    // A name that names no folder is refused and said so; the chooser stays open.
    chooser.NameField()->SetValue("missing");
    chooser.Confirm();
    EXPECT_TRUE(chooser.IsModal());
    EXPECT_TRUE(chooser.StatusText().StartsWith(W("폴더가 없습니다: "))) << chooser.StatusText();
    EXPECT_TRUE(chooser.StatusText().EndsWith(W("/내보내기/missing")));

    // A typed name names a folder beside the selection; a full path stands for itself.
    chooser.NameField()->SetValue(base + "/other/");
    chooser.Confirm();
  });
  EXPECT_EQ(result, wxID_OK);
  EXPECT_EQ(chooser.ChosenPath(), base + "/other");
}

TEST_F(WindowTest, ChooserTreeAndAboutBoxSpeakKoreanInWholeLines) {
  // The chooser's top entries carry Korean names, and only folders that exist are listed.
  const std::string savedHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  fs::create_directories(dir_ / "home");
  setenv("HOME", (dir_ / "home").c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  auto sections = [] {
    FolderChooserDialog chooser(nullptr, W(kFolderChooserTitle), wxString(), 0);
    std::vector<wxString> names;
    for (wxWindow* child : chooser.GetChildren()) {
      if (auto* tree = dynamic_cast<wxGenericDirCtrl*>(child)) {
        wxTreeCtrl* items = tree->GetTreeCtrl();
        wxTreeItemIdValue cookie;
        for (wxTreeItemId it = items->GetFirstChild(items->GetRootItem(), cookie); it.IsOk();
             it = items->GetNextChild(items->GetRootItem(), cookie)) {
          names.push_back(items->GetItemText(it));
        }
      }
    }
    return names;
  };
  EXPECT_EQ(sections(), (std::vector<wxString>{W("홈 폴더"), "/"}));
  fs::create_directories(dir_ / "home" / "Desktop");
  EXPECT_EQ(sections(), (std::vector<wxString>{W("홈 폴더"), W("바탕 화면"), "/"}));
  setenv("HOME", savedHome.c_str(), 1);

  // The about box's lines are not cut below their letters.
  std::unique_ptr<wxDialog> about = MakeAboutBox(nullptr);
  int lines = 0;
  for (wxWindow* child : about->GetChildren()) {
    if (auto* text = dynamic_cast<wxStaticText*>(child)) {
      ++lines;
      EXPECT_GE(text->GetSize().y, text->GetBestSize().y) << text->GetLabel();
    }
  }
  EXPECT_EQ(lines, 2);
}

TEST_F(WindowTest, FolderButtonFillsThePathFieldOrLeavesIt) {
  fs::create_directories(dir_ / fs::u8path("결과"));
  fs::create_directories(dir_ / "2022");
  wxString base = wxString::FromUTF8(dir_.string());
  CExtractorDlg dialog(nullptr, backend_);
  RunModal(dialog, [&] {
    auto* field = static_cast<wxTextCtrl*>(dialog.Control(1016));
    field->SetValue("/typed/by/hand");
    // Cancelled: the field keeps what was typed.
    DriveNextChooser([](FolderChooserDialog& chooser) {
      EXPECT_EQ(chooser.GetParent(), nullptr);  // no owner, as the button's settings say
      chooser.EndModal(wxID_CANCEL);
    });
    Click(dialog.Control(kIdFolderButton));
    EXPECT_EQ(field->GetValue(), "/typed/by/hand");

    // Chosen: a Korean folder name comes through unchanged.
    DriveNextChooser([&](FolderChooserDialog& chooser) {
      EXPECT_TRUE(chooser.SelectPath(base + W("/결과")));
      chooser.NameField()->SetValue("2022");  // a name beside the selection
      chooser.Confirm();
    });
    Click(dialog.Control(kIdFolderButton));
    EXPECT_EQ(field->GetValue(), base + "/2022");
    DriveNextChooser([&](FolderChooserDialog& chooser) {
      EXPECT_TRUE(chooser.SelectPath(base + W("/결과")));
      chooser.Confirm();
    });
    Click(dialog.Control(kIdFolderButton));
    EXPECT_EQ(field->GetValue(), base + W("/결과"));
  });
}

// ---- The program itself

// The largest viewable window called caption, from the X server's own list (there is no
// window manager to ask): its absolute position and size.
std::optional<wxRect> FindProgramWindow(const std::string& caption) {
  auto run = [](const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
      char buffer[4096];
      size_t n;
      while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
      pclose(pipe);
    }
    return out;
  };
  std::optional<wxRect> best;
  std::istringstream tree(run("xwininfo -root -tree"));
  for (std::string line; std::getline(tree, line);) {
    if (line.find("\"" + caption + "\"") == std::string::npos) continue;
    std::string id;
    std::istringstream(line) >> id;
    std::istringstream info(run("xwininfo -id " + id));
    int x = 0, y = 0, w = 0, h = 0;
    bool viewable = false;
    for (std::string l; std::getline(info, l);) {
      auto value = [&](const char* key, int* v) {
        auto at = l.find(key);
        if (at != std::string::npos) *v = std::atoi(l.c_str() + at + std::strlen(key));
      };
      value("Absolute upper-left X:", &x);
      value("Absolute upper-left Y:", &y);
      value("Width:", &w);
      value("Height:", &h);
      if (l.find("IsViewable") != std::string::npos) viewable = true;
    }
    if (viewable && (!best || w * h > best->width * best->height)) best = wxRect(x, y, w, h);
  }
  return best;
}

TEST_F(WindowTest, ProgramEndsWithItsWindowAndNoWorkerLeft) {
  // A copy of the program: it writes its run log beside itself.
  fs::copy_file(ZELVIK_PROGRAM, dir_ / "zelvik");
  std::string program = (dir_ / "zelvik").string();
  std::string output = (dir_ / "output.txt").string();
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FILE* out = std::freopen(output.c_str(), "w", stdout);
    if (out != nullptr) dup2(fileno(stdout), 2);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  auto ended = [&](int* status) { return waitpid(child, status, WNOHANG) == child; };
  int status = 0;
  // One second after it opens, worker 1 has started.
  bool started = WaitUntil([&] {
    return ReadRunLogs(dir_, "-1.log").find(Worker1Start()) != std::string::npos;
  }, 10000);
  std::optional<wxRect> window = FindProgramWindow("Zelvik");
  if (!started || !window) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the program did not start its window and worker 1";
  }
  EXPECT_EQ(window->GetSize(), wxSize(DialogUnitsToPixelsX(kTemplateWidth, UnitBase()),
                                      DialogUnitsToPixelsY(kTemplateHeight, UnitBase())));

  // Click its cancel button. The simulated input takes its scale from a window of this
  // process: a small one in a corner, clear of the program's window.
  wxDialog anchor(nullptr, wxID_ANY, "anchor", wxPoint(0, 0), wxSize(20, 20), 0);
  anchor.Show();
  wxTheApp->SetTopWindow(&anchor);
  Rect cancel = DialogUnitsToPixels(FindControl(kIdCancel)->units, UnitBase());
  wxUIActionSimulator input;
  input.MouseMove(window->x + cancel.x + cancel.width / 2,
                  window->y + cancel.y + cancel.height / 2);
  Pump(50);
  input.MouseClick();
  auto clicked = Clock::now();
  bool gone = WaitUntil([&] { return ended(&status); }, 10000);
  double took = std::chrono::duration<double>(Clock::now() - clicked).count();
  if (!gone) {
    kill(child, SIGKILL);
    waitpid(child, &status, 0);
    FAIL() << "the program did not end after its cancel button";
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  // The teardown gave the workers their second, then the process ended.
  EXPECT_GE(took, 0.9);
  EXPECT_LT(took, 5.0);
  std::string log = ReadRunLogs(dir_, "-1.log");
  EXPECT_NE(log.find("s_ThreadWorker STOP g_bstop[1]"), std::string::npos) << log;
  std::ifstream out(output);
  std::string printed((std::istreambuf_iterator<char>(out)), {});
  EXPECT_EQ(printed, "");  // no toolkit warnings either
  wxTheApp->SetTopWindow(nullptr);
}

}  // namespace
}  // namespace zelvik

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // Listing the tests needs no display.
  if (GTEST_FLAG_GET(list_tests)) return RUN_ALL_TESTS();
  wxApp::SetInstance(new wxApp());
  if (!wxEntryStart(argc, argv)) {
    std::fprintf(stderr, "the window test needs a display (DISPLAY=%s)\n",
                 std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
    return 1;
  }
  wxTheApp->SetAppName("zelvik");
  int result = RUN_ALL_TESTS();
  wxEntryCleanup();
  return result;
}
