#include "util/file_io.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <thread>

#include "testing/file_bytes.h"
#include "testing/test_folder.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;

TEST(AppendLine949, AppendsWholeLinesAndSaysWhyItCouldNot) {
  const fs::path dir = MakeTestFolder();
  const std::string file = (dir / "a.log").string();

  EXPECT_EQ(AppendLine949(file.c_str(), "first"), AppendResult::kDone);
  EXPECT_EQ(AppendLine949(file.c_str(), ""), AppendResult::kDone);
  EXPECT_EQ(AppendLine949(file.c_str(), "\xB0\xA1,second"), AppendResult::kDone);
  EXPECT_EQ(ReadBytes(file), "first\r\n\r\n\xB0\xA1,second\r\n");

  EXPECT_EQ(AppendLine949((dir / "missing" / "a.log").string().c_str(), "x"),
            AppendResult::kNotOpened);
  EXPECT_EQ(AppendLine949(nullptr, "x"), AppendResult::kNotOpened);
  errno = 0;
  EXPECT_EQ(AppendLine949("/dev/full", "x"), AppendResult::kWriteFailed);
  EXPECT_EQ(errno, ENOSPC);
  RemoveTestFolder(dir);
}

// A hand-edited file whose last line has no line end once had the next line glued onto it;
// two writers at once (the scheduled run and the window, each through its own descriptor)
// must never overwrite or split each other's lines.
TEST(AppendLine949, NeverGluesOntoAnOpenLastLineNorInterleaves) {
  const fs::path dir = MakeTestFolder();
  const std::string cfg = (dir / "com_nm.cfg").string();
  std::ofstream(cfg, std::ios::binary) << "A001,Hand";
  EXPECT_EQ(AppendLine949(cfg.c_str(), "A002,Learnt", AppendSync::kData), AppendResult::kDone);
  EXPECT_EQ(AppendLine949(cfg.c_str(), "A003,Next", AppendSync::kData), AppendResult::kDone);
  EXPECT_EQ(ReadBytes(cfg), "A001,Hand\r\nA002,Learnt\r\nA003,Next\r\n");
  std::ofstream(cfg, std::ios::binary) << "A001,Unix\n";  // a bare line feed ends a line too
  EXPECT_EQ(AppendLine949(cfg.c_str(), "A002,x"), AppendResult::kDone);
  EXPECT_EQ(ReadBytes(cfg), "A001,Unix\nA002,x\r\n");

  const std::string log = (dir / "a.log").string();
  constexpr int kLines = 300;
  const auto writer = [&log](char c) {
    for (int i = 0; i < kLines; ++i) AppendLine949(log.c_str(), std::string(40, c));
  };
  std::thread a(writer, 'a');
  std::thread b(writer, 'b');
  a.join();
  b.join();
  const std::string text = ReadBytes(log);
  ASSERT_EQ(text.size(), 2u * kLines * 42);
  for (std::size_t at = 0; at < text.size(); at += 42) {
    const std::string line = text.substr(at, 42);
    ASSERT_EQ(line, std::string(40, line[0]) + "\r\n") << "at byte " << at;
  }
  RemoveTestFolder(dir);
}

}  // namespace
}  // namespace zelvik
