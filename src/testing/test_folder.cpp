#include "testing/test_folder.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "log/run_log.h"
#include "util/file_io.h"

namespace zelvik {

namespace fs = std::filesystem;

fs::path MakeTestFolder() {
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  // A parameterised test's names hold '/': the folder is still one folder.
  std::string name = std::string("zelvik-") + info->test_suite_name() + "-" + info->name() + "-" +
                     std::to_string(CurrentProcessId());
  std::replace(name.begin(), name.end(), '/', '-');
  const fs::path dir = fs::temp_directory_path() / name;
  RemoveTestFolder(dir);
  fs::create_directories(dir);
  return dir;
}

void RemoveTestFolder(const fs::path& dir) {
  if (dir.empty()) return;
  // Windows removes no folder that holds an open file.
  CloseRunLogFiles();
  std::error_code ec;
  fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(dir, ec);
}

}  // namespace zelvik
