#include "onoff/line_io.h"

#include <cstring>

#include "util/platform.h"

namespace zelvik {

LineReader::LineReader(int fd, std::size_t capacity)
    : fd_(fd), capacity_(capacity < 2 ? 2 : capacity), buffer_(new char[capacity_]) {}

bool LineReader::Fill() {
  if (begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  while (end_ < capacity_) {
    const std::int64_t n = platform::ReadFd(fd_, buffer_.get() + end_, capacity_ - end_);
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      eof_ = true;
      return true;
    }
    return false;
  }
  return true;
}

LineReader::Result LineReader::Next(Piece& piece) {
  for (;;) {
    char* base = buffer_.get();
    const std::size_t avail = end_ - begin_;
    if (scanned_ < avail) {
      const void* lf = std::memchr(base + begin_ + scanned_, '\n', avail - scanned_);
      if (lf != nullptr) {
        const std::size_t pos = static_cast<std::size_t>(static_cast<const char*>(lf) - base);
        std::size_t size = pos - begin_;
        const bool cr = size > 0 && base[pos - 1] == '\r';
        if (cr) --size;
        piece = {base + begin_, size, !inLine_, true, true, cr};
        inLine_ = false;
        begin_ = pos + 1;
        scanned_ = 0;
        return Result::kPiece;
      }
      scanned_ = avail;
    }
    if (eof_) {
      if (avail == 0 && !inLine_) return Result::kEnd;
      // Last line without a line feed (or the empty end of a fragmented one): a carriage
      // return alone is no line end.
      piece = {base + begin_, avail, !inLine_, true, false, false};
      inLine_ = false;
      begin_ = end_;
      scanned_ = 0;
      return Result::kPiece;
    }
    if (avail == capacity_) {
      // No line feed in a full buffer: hand out a fragment. A carriage return at its end is
      // kept back, as it may belong to the line end that follows.
      std::size_t size = avail;
      if (base[begin_ + size - 1] == '\r') --size;
      piece = {base + begin_, size, !inLine_, false, false, false};
      inLine_ = true;
      begin_ += size;
      scanned_ = avail - size;
      return Result::kPiece;
    }
    if (!Fill()) return Result::kError;
  }
}

OutputFile::OutputFile(int fd, std::size_t capacity)
    : fd_(fd), capacity_(capacity < 1 ? 1 : capacity), buffer_(new char[capacity_]) {}

bool OutputFile::WriteAll(const char* data, std::size_t size) {
  while (size > 0) {
    const std::int64_t n = platform::WriteFd(fd_, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

void OutputFile::Append(const char* data, std::size_t size) {
  if (failed_) return;
  if (size > capacity_ - used_) {
    if (!Flush()) return;
    if (size > capacity_) {
      if (!WriteAll(data, size)) failed_ = true;
      return;
    }
  }
  std::memcpy(buffer_.get() + used_, data, size);
  used_ += size;
}

bool OutputFile::Flush() {
  if (!failed_ && used_ > 0 && !WriteAll(buffer_.get(), used_)) failed_ = true;
  used_ = 0;
  return !failed_;
}

}  // namespace zelvik
