#pragma once
// printf-style formatting into a std::string: how the program builds its log lines and
// messages from numbers and texts.

#include <string>

#include "util/printf_format.h"

namespace zelvik {

// The text printf would write for format and the arguments, of any length; empty when the
// format cannot be applied.
std::string Format(const char* format, ...) ZELVIK_PRINTF_FORMAT(1, 2);

}  // namespace zelvik
