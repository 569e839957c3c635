#include "testing/program_home.h"

#include <cstring>
#include <string>

#include "log/log_pane.h"
#include "util/file_io.h"
#include "util/process_state.h"
#include "util/program_dir.h"

namespace zelvik {

ProgramHomeTest::ProgramHomeTest() {
  for (LogPane& pane : panes_) pane.SetListener(&recorder_);
}

void ProgramHomeTest::SetUp() {
  TestFolderTest::SetUp();
  UseProgramDir(dir_);
  g_bstop.store(0);
  clock_.SetNow(At(2026, 1, 7, 13, 5, 9));
  if (useFakeClock_) SetClock(&clock_);
}

void ProgramHomeTest::TearDown() {
  recorder_.SetHook(nullptr);
  clock_.Release();
  SetClock(nullptr);
  BindLogPanes(nullptr, nullptr, nullptr, nullptr);
  g_bstop.store(0);
  TestFolderTest::TearDown();
}

void ProgramHomeTest::BindPanes() {
  BindLogPanes(&panes_[0], &panes_[1], &panes_[2], &panes_[3]);
}

void ProgramHomeTest::UseProgramDir(const std::filesystem::path& dir) {
  std::string error;
  ASSERT_TRUE(SetProgramDirDirect(FsText(dir), &error)) << error;
  std::memset(g_szLogDay, 0, sizeof(g_szLogDay));
  home_ = dir;
}

}  // namespace zelvik
