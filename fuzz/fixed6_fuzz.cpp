// Any eight bytes as a double: the six-decimal text must equal printf's "%f".
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/fixed6.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  double value = 0;
  std::memcpy(&value, data, size < sizeof(value) ? size : sizeof(value));
  char expected[zelvik::kFixed6Size + 16];
  std::snprintf(expected, sizeof(expected), "%f", value);
  char got[zelvik::kFixed6Size];
  const int n = zelvik::FormatFixed6(value, got);
  if (std::strcmp(expected, got) != 0 || n != static_cast<int>(std::strlen(expected))) {
    std::fprintf(stderr, "%a: printf %s, FormatFixed6 %s\n", value, expected, got);
    std::abort();
  }
  return 0;
}
