#pragma once
// A folder of the running test's own under the system's temporary folder, named for the test
// (suite and name) and this process: tests running at once, in one process or in several,
// never share one. It is made empty before the test and removed with its contents after it.

#include <gtest/gtest.h>

#include <filesystem>

namespace zelvik {

// Makes the running test's folder afresh (whatever an earlier run left there goes) and
// returns it.
std::filesystem::path MakeTestFolder();
// Removes a test folder and its contents, also after a test took the write permission of the
// folder away; a folder that is already gone is no error.
void RemoveTestFolder(const std::filesystem::path& dir);

// The fixture of a test that needs a folder and nothing else of the program's state.
class TestFolderTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTestFolder(); }
  void TearDown() override { RemoveTestFolder(dir_); }

  std::filesystem::path dir_;
};

}  // namespace zelvik
