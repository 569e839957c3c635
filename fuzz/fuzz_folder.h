#pragma once
// A fresh folder for a fuzz target's files, in memory where the system has /dev/shm: millions
// of small file writes on a disk cost a flush each. The process ends when none can be made.

#include <stdlib.h>

#include <cstdlib>
#include <string>

inline std::string MakeFuzzFolder(const std::string& name) {
  std::string shm = "/dev/shm/zelvik-fuzz-" + name + "-XXXXXX";
  std::string tmp = "/tmp/zelvik-fuzz-" + name + "-XXXXXX";
  const char* made = ::mkdtemp(shm.data());
  if (made == nullptr) made = ::mkdtemp(tmp.data());
  if (made == nullptr) std::abort();
  return made;
}
