#include "util/file_io.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zelvik {
namespace {

namespace fs = std::filesystem;

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TEST(AppendLine949, AppendsWholeLinesAndSaysWhyItCouldNot) {
  const fs::path dir = fs::temp_directory_path() / ("zelvik-append-" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const std::string file = (dir / "a.log").string();

  EXPECT_EQ(AppendLine949(file.c_str(), "first"), AppendResult::kDone);
  EXPECT_EQ(AppendLine949(file.c_str(), ""), AppendResult::kDone);
  EXPECT_EQ(AppendLine949(file.c_str(), "\xB0\xA1,second"), AppendResult::kDone);
  EXPECT_EQ(Read(file), "first\r\n\r\n\xB0\xA1,second\r\n");

  EXPECT_EQ(AppendLine949((dir / "missing" / "a.log").string().c_str(), "x"),
            AppendResult::kNotOpened);
  EXPECT_EQ(AppendLine949(nullptr, "x"), AppendResult::kNotOpened);
  errno = 0;
  EXPECT_EQ(AppendLine949("/dev/full", "x"), AppendResult::kWriteFailed);
  EXPECT_EQ(errno, ENOSPC);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zelvik
