#pragma once
// The fixture of a test that runs program code. Before the test: a fresh folder of the test's
// own (test_folder.h) is the program folder, the run log begins a new day folder, the stop
// flag is down and a fake clock reads 2026/01/07 13:05:09 local time. The four panes, each
// line recorded, are there for a test to bind. After it: the system clock again, no panes
// bound, the stop flag down, the folder removed.
// These are process-wide: the tests of one executable run one after another.

#include <ctime>
#include <filesystem>

#include "log/log_pane.h"
#include "testing/fake_clock.h"
#include "testing/pane_recorder.h"
#include "testing/test_folder.h"

namespace zelvik {

class ProgramHomeTest : public TestFolderTest {
 protected:
  ProgramHomeTest();
  void SetUp() override;
  void TearDown() override;

  // Makes dir (which must exist) the program folder, home_, its run log beginning a new day
  // folder.
  void UseProgramDir(const std::filesystem::path& dir);

  // Binds panes_ as the program's four panes.
  void BindPanes();

  static std::time_t At(int y, int mo, int d, int h, int mi, int s) {
    return FakeClock::MakeLocal(y, mo, d, h, mi, s);
  }

  std::filesystem::path home_;  // the program folder: dir_ unless the test chose another
  FakeClock clock_;
  // A fixture whose program must see the real time sets this false before SetUp.
  bool useFakeClock_ = true;
  PaneRecorder recorder_;
  LogPane panes_[4] = {LogPane(1), LogPane(2), LogPane(3), LogPane(4)};
};

}  // namespace zelvik
