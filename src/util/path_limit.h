#pragma once
// The longest file path the program makes or opens, and the share of it its directory may
// take.

#include <cstddef>

namespace zelvik {

// Every file path the program makes or opens holds at most 255 bytes (code page 949), its
// terminator not counted.
inline constexpr std::size_t kFileNameMax = 255;

// The longest name the program makes in its directory, after the directory, is a range
// export of an area without a name of its own, "/carloc_hst-지역알수없음-YYYYMMDD-YYYYMMDD.dat"
// (46 bytes), under the longest of the names a publish gives it, ".<process id, up to 10
// digits>-<worker>.orphan" (20 more; ".tmp", ".old" and ".pub" are shorter). The day export's
// "/carloc_hst-서울대구-YYYYMMDD.dat" (33) and the run log's "/YYYYMMDD/YYYYMMDDhh-N.log" (26)
// are shorter.
inline constexpr std::size_t kLongestNameInDir = 46 + 20;
inline constexpr std::size_t kProgramDirMax = kFileNameMax - kLongestNameInDir;

}  // namespace zelvik
