#include "onoff/file_converter.h"

#include <cstring>
#include <string_view>
#include <utility>

#include "geo/datum.h"
#include "log/run_log.h"
#include "util/codepage.h"
#include "util/number_parse.h"

namespace zelvik {
namespace {

constexpr std::size_t kIoBufferSize = std::size_t{1} << 18;
constexpr int kProgressEvery = 10000;

}  // namespace

// A field ended by a comma keeps at most 127 bytes of its slot; where a longer field was cut,
// the cut is moved back to a character boundary so that no half character is written.
bool FileConverter::DataLine::Measure(const char* text, std::size_t size) {
  std::size_t pos = 0;  // where field i starts in the text
  for (int i = 0; i < 9; ++i) {
    std::size_t n = ::strnlen(f[i], kFieldSlotSize);
    if (n == 0) return false;
    std::size_t raw = n;
    if (n == kFieldSlotSize - 1) {
      const char* start = text + pos;
      const void* comma = std::memchr(start + n, ',', size - pos - n);
      raw = comma != nullptr ? static_cast<std::size_t>(static_cast<const char*>(comma) - start)
                             : size - pos;
      if (raw > n) {
        n = Cp949CutLength(std::string_view(start, raw), n);
        f[i][n] = '\0';
      }
    }
    len[i] = static_cast<int>(n);
    pos += raw + 1;
  }
  return f[9][0] != '\0' && f[10][0] != '\0';
}

bool FileConverter::DataLine::SameField(const DataLine& o, int i) const {
  return len[i] == o.len[i] && std::memcmp(f[i], o.f[i], static_cast<size_t>(len[i])) == 0;
}

FileConverter::FileConverter(int in, int out, const CancelToken* cancel)
    : reader_(in, kIoBufferSize), writer_(out, kIoBufferSize), cancel_(cancel) {}

FileConverter::Outcome FileConverter::Run() {
  Mode mode = Mode::kLineStart;
  LineReader::Piece piece;
  for (;;) {
    const LineReader::Result r = reader_.Next(piece);
    if (r == LineReader::Result::kEnd) break;
    if (r == LineReader::Result::kError) return Outcome::kReadError;
    if (cancel_ != nullptr && cancel_->IsCancelled()) return Outcome::kCancelled;

    if (!piece.lineStart) {
      // The rest of a line longer than the read buffer.
      if (mode == Mode::kCopyingComment) {
        writer_.Append(piece.data, piece.size);
        if (piece.lineEnd) writer_.Append("\r\n", 2);
      }
      if (piece.lineEnd) mode = Mode::kLineStart;
    } else if (piece.size > 0 && piece.data[0] == '#') {
      // Comment lines are copied as they are, whatever their length or content.
      writer_.Append(piece.data, piece.size);
      if (piece.lineEnd) {
        writer_.Append("\r\n", 2);
      } else {
        mode = Mode::kCopyingComment;
      }
    } else if (!piece.lineEnd) {
      mode = Mode::kSkipping;  // a data line far beyond the line limit: dropped
    } else {
      DataLineRead(piece.data, piece.size);
    }
    if (writer_.Failed()) return Outcome::kWriteError;
  }
  // The last held line has no successor that could change its code.
  if (hasPrev_ && prev_->Held()) WriteRow(*prev_, 0);
  if (!writer_.Flush()) return Outcome::kWriteError;
  return Outcome::kDone;
}

void FileConverter::DataLineRead(const char* text, std::size_t size) {
  // Lines that cannot come from an export are dropped like any malformed line: longer than
  // the line limit, or holding a NUL byte (which would cut the fields as texts).
  if (size > static_cast<std::size_t>(kOnOffLineMax) || std::memchr(text, '\0', size) != nullptr) {
    return;
  }
  DataLine& cur = *cur_;
  const int n = SplitFields(cur.f, text, static_cast<int>(size), kOnOffSplitLimit, ',');
  if (n < kOnOffMinFields || !cur.Measure(text, size)) return;

  double lon = 0, lat = 0;
  BesselToWgs84(ParsePosition(cur.f[4]), ParsePosition(cur.f[5]), lon, lat);
  cur.lonLen = FormatFixed6(lon, cur.lon);
  cur.latLen = FormatFixed6(lat, cur.lat);
  cur.code = ParseLong32(cur.f[6]);

  rowLen_ = 0;
  if (!hasPrev_) {
    if (!cur.Held()) WriteRow(cur, 0);
  } else if (cur.SameField(*prev_, 0) && cur.SameField(*prev_, 6)) {
    // Same vehicle, same code text: a held predecessor is not the last of its run.
    if (cur.Held()) {
      WriteRow(*prev_, cur.code == 1 ? '0' : '3');
    } else {
      WriteRow(cur, 0);
    }
  } else {
    if (prev_->Held()) WriteRow(*prev_, 0);
    if (!cur.Held()) WriteRow(cur, 0);
  }
  std::swap(cur_, prev_);
  hasPrev_ = true;

  ++ncnt_;
  if (++progress_ == kProgressEvery) {
    progress_ = 0;
    // The sign of life: the row just formatted, or the line itself when it is being held.
    char szlog[kOnOffLineMax + 1];
    const char* src = rowLen_ > 0 ? row_ : text;
    const std::size_t len = rowLen_ > 0 ? rowLen_ : size;
    std::memcpy(szlog, src, len);
    szlog[len] = '\0';
    WriteLog(szlog, kOnOffLogNo);
  }
}

void FileConverter::WriteRow(const DataLine& line, char firstCodeChar) {
  char* p = row_;
  for (int i = 0; i < 9; ++i) {
    std::memcpy(p, line.f[i], static_cast<size_t>(line.len[i]));
    if (i == 6 && firstCodeChar != 0) *p = firstCodeChar;
    p += line.len[i];
    *p++ = ',';
  }
  std::memcpy(p, line.lon, static_cast<size_t>(line.lonLen));
  p += line.lonLen;
  *p++ = ',';
  std::memcpy(p, line.lat, static_cast<size_t>(line.latLen));
  p += line.latLen;
  rowLen_ = static_cast<std::size_t>(p - row_);
  *p++ = '\r';
  *p++ = '\n';
  writer_.Append(row_, rowLen_ + 2);
}

}  // namespace zelvik
