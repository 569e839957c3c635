#include "extract/export_writer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "geo/datum.h"
#include "util/number_parse.h"

namespace zelvik {
namespace {

void Fill(ExportRowSlot& slot, int i) {
  const std::string cols[kExportColumns] = {
      "car" + std::to_string(i / 7),
      "20220718" + std::to_string(100000 + i % 86400),
      std::to_string(71800 + i % 100),
      i % 3 ? "00001" : "00003",
      std::to_string(4571208 + (i * 37) % 5000 - (i / 5) % 2),  // repeats now and then
      std::to_string(1352394 + (i * 53) % 4000),
      std::to_string(i % 5),
      "T" + std::to_string(i % 11),
      "T" + std::to_string(i % 11) + std::to_string(i)};
  for (int c = 0; c < kExportColumns; ++c) {
    std::memcpy(slot.szCol[c], cols[c].c_str(), cols[c].size() + 1);
    slot.nLen[c] = static_cast<std::uint8_t>(cols[c].size());
  }
}

// The row as the plain printf format writes it.
std::string Expected(const ExportRowSlot& s, bool convert) {
  double lon = 0.0, lat = 0.0;
  if (convert) BesselToWgs84(ParsePosition(s.szCol[4]), ParsePosition(s.szCol[5]), lon, lat);
  const char* drv = std::strlen(s.szCol[8]) > std::strlen(s.szCol[7])
                        ? s.szCol[8] + std::strlen(s.szCol[7])
                        : "";
  char line[1024];
  std::snprintf(line, sizeof(line), "%s,%s,%s,%s,%s,%s,%s,%s,%s,%f,%f\r\n", s.szCol[0],
                s.szCol[1], s.szCol[2], s.szCol[3], s.szCol[4], s.szCol[5], s.szCol[6],
                s.szCol[7], drv, lon, lat);
  return line;
}

std::string ReadBack(std::FILE* f) {
  std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
  std::rewind(f);
  EXPECT_EQ(std::fread(text.data(), 1, text.size(), f), text.size());
  return text;
}

// Each mode of the writer (overlapped or inline) into a temporary file.
class WriterTest : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override { ASSERT_NE(f_, nullptr); }
  void TearDown() override {
    if (f_ != nullptr) std::fclose(f_);
  }
  std::FILE* f_ = std::tmpfile();
  std::atomic<std::int32_t> bessel_{1};
};

// Hands rows numbered 0 to count - 1 over to the writer; what printf writes of them.
std::string HandOver(ExportFileWriter& writer, int count) {
  std::string expected;
  for (int i = 0; i < count; ++i) {
    ExportRowSlot& slot = writer.Next();
    Fill(slot, i);
    expected += Expected(slot, true);
    if (!writer.Commit()) {
      ADD_FAILURE() << "row " << i << " not committed";
      break;
    }
  }
  return expected;
}

TEST_P(WriterTest, WritesEveryRowInOrderAsPrintfWould) {
  std::string expected;
  {
    ExportFileWriter writer(f_, bessel_, GetParam());
    expected = HandOver(writer, 5000);  // several batches and a partial one
    ASSERT_FALSE(HasFailure());
    ASSERT_TRUE(writer.Finish());
    EXPECT_EQ(writer.Error(), 0);
  }
  EXPECT_EQ(ReadBack(f_), expected);
  std::fclose(f_);

  // Conversion off from the start: every row ends in two zeros.
  f_ = std::tmpfile();
  ASSERT_NE(f_, nullptr);
  bessel_ = 0;
  {
    ExportFileWriter writer(f_, bessel_, GetParam());
    ExportRowSlot& slot = writer.Next();
    Fill(slot, 12);
    expected = Expected(slot, false);
    ASSERT_TRUE(writer.Commit());
    ASSERT_TRUE(writer.Finish());
  }
  EXPECT_EQ(ReadBack(f_), expected);
  EXPECT_NE(expected.find(",0.000000,0.000000\r\n"), std::string::npos);
}

TEST_P(WriterTest, FullDiskFailsTheWriterAndKeepsTheError) {
  std::FILE* f = std::fopen("/dev/full", "w");
  ASSERT_NE(f, nullptr);
  std::atomic<std::int32_t> bessel{1};
  ExportFileWriter writer(f, bessel, GetParam());
  bool committed = true;
  for (int i = 0; i < 20000 && committed; ++i) {
    Fill(writer.Next(), i);
    committed = writer.Commit();
  }
  EXPECT_FALSE(writer.Finish());
  EXPECT_EQ(writer.Error(), ENOSPC);
  std::fclose(f);
}

// A writer dropped without Finish (a failed run) ends without writing the rows it still holds:
// the file keeps whole rows from the start only, and not the last ones handed over.
TEST_P(WriterTest, DroppedWriterEndsWithoutWritingItsRemainingRows) {
  std::string expected;
  {
    ExportFileWriter writer(f_, bessel_, GetParam());
    expected = HandOver(writer, 3000);
    ASSERT_FALSE(HasFailure());
  }  // no Finish: a failed run
  ASSERT_EQ(std::fflush(f_), 0);
  const std::string text = ReadBack(f_);
  EXPECT_LT(text.size(), expected.size());
  EXPECT_EQ(expected.compare(0, text.size(), text), 0);
  if (!text.empty()) {
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, WriterTest, ::testing::Bool(),
                         [](const auto& p) { return p.param ? "Overlapped" : "Inline"; });

}  // namespace
}  // namespace zelvik
