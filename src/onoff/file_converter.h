#pragma once
// The conversion of one export file's lines: WGS84 columns recomputed from the Bessel ones,
// malformed data lines dropped, comment lines copied, and runs of occupancy code 1 (or 2) of
// one vehicle reduced so that only the run's last line keeps the code. Reads and writes
// through descriptors the caller opened and closes (onoff_sum.cpp publishes the copy).

#include <cstddef>
#include <cstdint>

#include "onoff/line_io.h"
#include "onoff/onoff_sum.h"
#include "util/clock.h"
#include "util/fixed6.h"
#include "util/split_fields.h"

namespace zelvik {

// Not thread-safe: one converter per file, run on the clean-up's thread; its buffers and the
// line held for the next one are the conversion's own state.
class FileConverter {
 public:
  // in and out stay owned by the caller. The cancel request (may be null) is checked at every
  // line.
  FileConverter(int in, int out, const CancelToken* cancel);

  enum class Outcome { kDone, kReadError, kWriteError, kCancelled };
  // Converts the whole input; the output is flushed, not closed.
  Outcome Run();
  // The valid data lines so far (ncnt).
  std::int64_t Count() const { return ncnt_; }

 private:
  // A valid data line: its slots as SplitFields left them, the lengths of fields 0 to 8, the
  // recomputed WGS84 texts that take the place of fields 9 and 10, and its code value.
  struct DataLine {
    FieldSlot f[kFieldSlotCount] = {};
    int len[9] = {};
    char lon[kFixed6Size] = {};
    char lat[kFixed6Size] = {};
    int lonLen = 0;
    int latLen = 0;
    int code = 0;

    // Takes the lengths of fields 0 to 8 of the split text; false unless fields 0 to 10 are
    // all non-empty.
    bool Measure(const char* text, std::size_t size);
    // A line with code 1 or 2 waits for the next line of the file to decide its code.
    bool Held() const { return code == 1 || code == 2; }
    bool SameField(const DataLine& o, int i) const;
  };
  enum class Mode { kLineStart, kCopyingComment, kSkipping };
  // The longest row: fields 0 to 8 at their slot's 127 bytes, the two coordinate texts, the
  // commas. It fits the line buffer, so the progress line can always show it whole.
  static constexpr std::size_t kRowMax =
      9 * (kFieldSlotSize - 1) + 2 * (kFixed6Size - 1) + 10;
  static_assert(kRowMax <= static_cast<std::size_t>(kOnOffLineMax));

  void DataLineRead(const char* text, std::size_t size);
  void WriteRow(const DataLine& line, char firstCodeChar);

  LineReader reader_;
  OutputFile writer_;
  const CancelToken* cancel_;
  DataLine lines_[2];
  DataLine* cur_ = &lines_[0];
  DataLine* prev_ = &lines_[1];
  bool hasPrev_ = false;
  std::int64_t ncnt_ = 0;
  int progress_ = 0;
  // The last row formatted (without its line end); rowLen_ is 0 until a row of the current
  // line has been formatted.
  char row_[kRowMax + 2] = {};
  std::size_t rowLen_ = 0;
};

}  // namespace zelvik
