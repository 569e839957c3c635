#include "db/company_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "db/odbc.h"
#include "testing/program_home.h"
#include "util/codepage.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;

class CompanyNamesTest : public ProgramHomeTest {
 protected:
  void WriteCfg(const std::string& bytes) {
    std::ofstream(dir_ / "com_nm.cfg", std::ios::binary) << bytes;
  }
  // The log lines of pane 1 without their time stamps.
  std::vector<std::string> LogLines() {
    std::ifstream in(dir_ / "20260107" / "2026010713-1.log", std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) {
      EXPECT_EQ(line.back(), '\r');
      lines.push_back(line.substr(20, line.size() - 21));
    }
    return lines;
  }
  std::vector<std::pair<std::string, std::string>> Cache() {
    std::lock_guard<std::mutex> lock(g_CompanyNameCache.Mutex());
    std::vector<std::pair<std::string, std::string>> out;
    for (std::size_t i = 0; i < g_CompanyNameCache.Size(); ++i) {
      out.emplace_back(g_CompanyNameCache.At(i).szCoid, g_CompanyNameCache.At(i).szCoNm);
    }
    return out;
  }
};

using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST_F(CompanyNamesTest, MissingFileGivesAnEmptyCache) {
  WriteCfg("A001,First\r\n");
  LoadMemoryCOM_NM();
  fs::remove(dir_ / "com_nm.cfg");
  LoadMemoryCOM_NM();
  EXPECT_EQ(Cache(), Pairs{});
  EXPECT_EQ(LogLines(), (std::vector<std::string>{"LoadMemoryCOM_NM ncnt[1]",
                                                  "LoadMemoryCOM_NM ncnt[0]"}));
}

TEST_F(CompanyNamesTest, FirstLineOfAnIdWinsAndDuplicatesAreCounted) {
  WriteCfg("A001,First\r\nA001,Second\r\n#A002,Third\r\n\r\n");
  LoadMemoryCOM_NM();
  EXPECT_EQ(Cache(), (Pairs{{"A001", "First"}}));
  EXPECT_EQ(LogLines(), std::vector<std::string>{"LoadMemoryCOM_NM ncnt[2]"});
}

TEST_F(CompanyNamesTest, ShortBlankAndCommaLines) {
  WriteCfg(
      "abcdef\n"           // no name
      "ab,c\n"             // shorter than 6 characters
      "abc,de\n"           // exactly 6: loaded
      " B001,Spaced\r\n"   // leading space
      ",C001x\r\n"         // empty id
      "D001,\xC7\xD1\xBA\xFB,\xBF\xEE\xBC\xF6(\xC1\xD6)\r\n"  // 한빛,운수(주): the name ends at the comma
      "E001,Bare LF\n"
      "F001,Last line without end");
  LoadMemoryCOM_NM();
  EXPECT_EQ(Cache(), (Pairs{{"abc", "de"},
                            {"D001", "\xC7\xD1\xBA\xFB"},
                            {"E001", "Bare LF"},
                            {"F001", "Last line without end"}}));
}

TEST_F(CompanyNamesTest, LongLinesAreReadInPiecesAndCutBetweenCharacters) {
  // A line of 1500 characters is read as a piece of 1023 and one of 477: the first gives an
  // entry whose name SplitFields keeps to 126 bytes, the second has no comma.
  std::string longName(1495, 'n');
  // 'a' then 70 x 가: the 126-byte cut would fall inside a character, so 125 bytes are kept.
  std::string korean = "a";
  for (int i = 0; i < 70; ++i) korean += Kr("가");
  WriteCfg("X001," + longName + "\r\nK001," + korean + "\r\n");
  LoadMemoryCOM_NM();
  Pairs cache = Cache();
  ASSERT_EQ(cache.size(), 2u);
  EXPECT_EQ(cache[0], (std::pair<std::string, std::string>{"X001", std::string(126, 'n')}));
  EXPECT_EQ(cache[1].first, "K001");
  EXPECT_EQ(cache[1].second, korean.substr(0, 125));
  EXPECT_EQ(LogLines(), std::vector<std::string>{"LoadMemoryCOM_NM ncnt[2]"});
}

TEST_F(CompanyNamesTest, CachedLookupSendsNothing) {
  WriteCfg("A001,First\r\nB002,\xC7\xD1\xBA\xFB\r\n");
  LoadMemoryCOM_NM();
  char out[128];
  std::memset(out, 'x', sizeof(out));
  EXPECT_EQ(GetCO_NM(nullptr, "B002", out), 1);
  EXPECT_STREQ(out, "\xC7\xD1\xBA\xFB");
  EXPECT_EQ(GetCO_NM(nullptr, "a001", out), 0);  // ids compare case-sensitively
  EXPECT_STREQ(out, "");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "LoadMemoryCOM_NM ncnt[2]",
                            "============== START GetCO_NM(B002)",
                            "============== END GetCO_NM (B002) => (\xC7\xD1\xBA\xFB)",
                            "============== START GetCO_NM(a001)",
                            "GetCO_NM Error: !pDB || !pDB->IsOpen()",
                            "============== END GetCO_NM (a001) => ()",
                        }));
}

TEST_F(CompanyNamesTest, BadArgumentsAndQuotedIds) {
  WriteCfg("");
  LoadMemoryCOM_NM();
  char out[128] = "old";
  EXPECT_EQ(GetCO_NM(nullptr, "", out), 0);
  EXPECT_EQ(GetCO_NM(nullptr, "A001", nullptr), 0);
  EXPECT_EQ(GetCO_NM(nullptr, nullptr, out), 0);
  EXPECT_STREQ(out, "old");
  // A closed connection counts as none; a quoted id is refused before any connection check.
  Database closed;
  EXPECT_EQ(GetCO_NM(&closed, "Q1' or '1'='1", out), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(LogLines(), (std::vector<std::string>{
                            "LoadMemoryCOM_NM ncnt[0]",
                            "============== START GetCO_NM()",
                            "============== START GetCO_NM(A001)",
                            "============== START GetCO_NM((null))",
                            "============== START GetCO_NM(Q1' or '1'='1)",
                            "GetCO_NM Error: quote in company id[Q1' or '1'='1], no statement sent",
                            "============== END GetCO_NM (Q1' or '1'='1) => ()",
                        }));
  EXPECT_EQ(Cache(), Pairs{});
}

TEST_F(CompanyNamesTest, OverlongIdIsRefusedAndControlBytesBecomeSpaces) {
  // A line of an editor that wrote CR CR LF, and names holding control bytes.
  WriteCfg(std::string(127, 'I') + ",Long id\r\n" + std::string(128, 'I') + ",Longer\r\n" +
           "A001,Good\r\r\nB001,Ta\tb\x7F\xB0\x1F\r\n");
  LoadMemoryCOM_NM();
  EXPECT_EQ(Cache(), (Pairs{{std::string(127, 'I'), "Long id"}, {"A001", "Good"},
                            {"B001", "Ta b \xB0 "}}));
  // An id of 128 bytes is never cut to the cached one of 127 and answered with its name.
  char out[128] = {};
  EXPECT_EQ(GetCO_NM(nullptr, std::string(128, 'I').c_str(), out), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(GetCO_NM(nullptr, "C0\n1", out), 0);  // shown on one line
  std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[2], "GetCO_NM Error: company id longer than 127 bytes, not looked up");
  EXPECT_EQ(lines[3], "============== END GetCO_NM (" + std::string(128, 'I') + ") => ()");
  EXPECT_EQ(lines[4], "============== START GetCO_NM(C0 1)");
}

TEST(CompanyNameCache, GrowsByDoublingAndKeepsItsCapacityWhenEmptied) {
  CompanyNameCache cache;
  std::lock_guard<std::mutex> lock(cache.Mutex());
  // The records move to a new block exactly when the array grows: the appends that move
  // them tell the capacities.
  const CompanyNameRecord* block = nullptr;
  std::vector<int> movedAt;
  const auto append = [&](int i) {
    CompanyNameRecord r = {};
    std::snprintf(r.szCoid, sizeof(r.szCoid), "C%d", i);
    cache.Append(r);
    if (&cache.At(0) != block) movedAt.push_back(i + 1);
    block = &cache.At(0);
  };
  for (int i = 0; i < 9; ++i) append(i);
  EXPECT_EQ(movedAt, (std::vector<int>{1, 2, 3, 5, 9}));  // capacities 1, 2, 4, 8, 16
  EXPECT_STREQ(cache.At(8).szCoid, "C8");
  EXPECT_NE(cache.Find("C3", cache.Size()), nullptr);
  EXPECT_EQ(cache.Find("C3", 3), nullptr);  // only the first `count` records are scanned
  cache.Clear();
  EXPECT_EQ(cache.Size(), 0u);
  EXPECT_EQ(cache.Find("C0", 16), nullptr);
  // The capacity of 16 is kept: 16 appends fill the same block.
  movedAt.clear();
  for (int i = 0; i < 16; ++i) append(i);
  EXPECT_TRUE(movedAt.empty());
}

}  // namespace
}  // namespace zelvik
