#pragma once
// Six-decimal text of a double, byte for byte what printf's "%f" gives (round to nearest,
// ties to even, on the exact binary value; "-0.000000" keeps its sign), without the cost of
// printf. The export and the clean-up print two coordinates per row with it.

#include <cstddef>

namespace zelvik {

// Room for any double: "-" + 309 integer digits + "." + 6 decimals + terminator.
constexpr std::size_t kFixed6Size = 320;

// Writes the text and its terminator into out (kFixed6Size bytes); returns the text length.
int FormatFixed6(double value, char* out);

}  // namespace zelvik
