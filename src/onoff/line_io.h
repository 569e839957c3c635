#pragma once
// Buffered, allocation-free line reading and writing on file descriptors for the clean-up:
// one large buffer per file, lines handed out as views into it. Neither class is thread-safe:
// each belongs to the one file conversion that made it, on the clean-up's thread, and needs
// no lock.

#include <cstddef>
#include <memory>

namespace zelvik {

// Reads a file line by line. A line comes whole, without its line end (the line feed and a
// carriage return just before it), as long as it fits the buffer; a longer line comes in
// fragments, so memory stays fixed whatever the input. The last line may lack a line feed.
class LineReader {
 public:
  struct Piece {
    const char* data = nullptr;
    std::size_t size = 0;
    bool lineStart = false;  // the first (or only) piece of a line
    bool lineEnd = false;    // the last (or only) piece of a line
    bool lineFeed = false;   // lineEnd, and the line ended in a line feed (not the file's end)
    bool crlf = false;       // lineFeed, and a carriage return came just before it
  };
  enum class Result { kPiece, kEnd, kError };

  // fd stays owned by the caller. capacity is at least 2 bytes.
  LineReader(int fd, std::size_t capacity);
  // The next piece; it stays valid until the next call.
  Result Next(Piece& piece);

 private:
  bool Fill();  // false on a read error

  int fd_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  std::size_t begin_ = 0;    // first unread byte
  std::size_t end_ = 0;      // end of the bytes read
  std::size_t scanned_ = 0;  // bytes from begin_ known to hold no line feed
  bool eof_ = false;
  bool inLine_ = false;  // the next piece continues a line already started
};

// Writes through one large buffer. The first failed write is remembered; later writes are
// skipped, so the caller checks Failed() once at the end.
class OutputFile {
 public:
  OutputFile(int fd, std::size_t capacity);
  void Append(const char* data, std::size_t size);
  // Writes out what is buffered; false when any write so far failed.
  bool Flush();
  bool Failed() const { return failed_; }

 private:
  bool WriteAll(const char* data, std::size_t size);

  int fd_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

}  // namespace zelvik
