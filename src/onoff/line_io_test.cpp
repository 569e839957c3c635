#include "onoff/line_io.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace zelvik {
namespace {

struct ReadLine {
  std::string text;
  int pieces = 0;
};

// Reads the bytes through a LineReader of the given capacity and joins the fragments.
std::vector<ReadLine> ReadAllLines(const std::string& bytes, std::size_t capacity) {
  std::FILE* f = std::tmpfile();
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fflush(f);
  const int fd = ::fileno(f);
  ::lseek(fd, 0, SEEK_SET);
  LineReader reader(fd, capacity);
  std::vector<ReadLine> lines;
  LineReader::Piece piece;
  bool open = false;
  while (reader.Next(piece) == LineReader::Result::kPiece) {
    EXPECT_EQ(piece.lineStart, !open);
    if (piece.lineStart) lines.push_back({});
    lines.back().text.append(piece.data, piece.size);
    ++lines.back().pieces;
    EXPECT_LE(piece.size, capacity);
    open = !piece.lineEnd;
  }
  EXPECT_FALSE(open);
  std::fclose(f);
  return lines;
}

// What a line is: the bytes up to each line feed, less one carriage return before it; a last
// line without a line feed keeps all its bytes.
std::vector<std::string> ExpectedLines(const std::string& bytes) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') continue;
    std::size_t end = i;
    if (end > start && bytes[end - 1] == '\r') --end;
    out.push_back(bytes.substr(start, end - start));
    start = i + 1;
  }
  if (start < bytes.size()) out.push_back(bytes.substr(start));
  return out;
}

TEST(LineReader, LineEndsAreRemovedOnlyWhereTheyEndALine) {
  const std::string bytes = "a,b\r\n\r\nc\rd\nlast\r";
  const auto lines = ReadAllLines(bytes, 4096);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0].text, "a,b");
  EXPECT_EQ(lines[1].text, "");
  EXPECT_EQ(lines[2].text, "c\rd");
  EXPECT_EQ(lines[3].text, "last\r");  // a lone carriage return at the end is no line end
}

TEST(LineReader, LinesLongerThanTheBufferComeInFragmentsThatJoinExactly) {
  // The carriage return of a CR LF falling on a fragment boundary must still be recognised.
  const std::string line(10, 'x');
  const auto lines = ReadAllLines(line + "\r\n" + "y\n", 11);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, line);
  EXPECT_EQ(lines[0].pieces, 2);
  EXPECT_EQ(lines[1].text, "y");

  std::mt19937 rng(7);
  const char alphabet[] = {'a', ',', '\r', '\n', '\0', '#'};
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    const int n = static_cast<int>(rng() % 200);
    for (int i = 0; i < n; ++i) bytes.push_back(alphabet[rng() % sizeof(alphabet)]);
    const std::size_t capacity = 2 + rng() % 20;
    const auto got = ReadAllLines(bytes, capacity);
    const auto want = ExpectedLines(bytes);
    ASSERT_EQ(got.size(), want.size()) << "capacity " << capacity;
    for (std::size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i].text, want[i]);
  }
}

TEST(OutputFile, BuffersWritesAndReportsAFullDisk) {
  std::FILE* f = std::tmpfile();
  {
    OutputFile out(::fileno(f), 8);
    out.Append("abc", 3);
    out.Append("defghij", 7);           // overflows the buffer: flushed first
    out.Append("0123456789abcdef", 16);  // larger than the buffer: written directly
    EXPECT_TRUE(out.Flush());
  }
  std::rewind(f);
  char buf[64] = {};
  EXPECT_EQ(std::fread(buf, 1, sizeof(buf), f), 26u);
  EXPECT_STREQ(buf, "abcdefghij0123456789abcdef");
  std::fclose(f);

  const int full = ::open("/dev/full", O_WRONLY);
  if (full < 0) GTEST_SKIP() << "no /dev/full";
  OutputFile out(full, 8);
  out.Append("abcdefghijkl", 12);
  EXPECT_TRUE(out.Failed());
  EXPECT_FALSE(out.Flush());
  ::close(full);
}

}  // namespace
}  // namespace zelvik
