#include "onoff/onoff_sum.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "log/log_pane.h"
#include "testing/file_bytes.h"
#include "testing/program_home.h"
#include "util/codepage.h"
#include "util/process_state.h"

namespace zelvik {
namespace {

namespace fs = std::filesystem;

void WriteBytes(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::vector<std::string> SplitCrLf(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = bytes.find("\r\n", start)) != std::string::npos; start = at + 2) {
    lines.push_back(bytes.substr(start, at - start));
  }
  EXPECT_EQ(start, bytes.size()) << "output must end with CR LF";
  return lines;
}

// A data line of the export; the WGS84 columns are whatever the input had.
std::string Line(const std::string& car, const std::string& code, const char* x = "4572000",
                 const char* y = "1350000", const std::string& time = "070000") {
  return car + ",20240305" + time + ",030507,00001," + x + "," + y + "," + code +
         ",1234,56789,0.000000,0.000000";
}

// The seventh field (the occupancy code) of each data row.
std::vector<std::string> Codes(const std::vector<std::string>& rows) {
  std::vector<std::string> codes;
  for (const std::string& r : rows) {
    if (r.empty() || r[0] == '#') {
      codes.push_back(r);
      continue;
    }
    std::size_t p = 0;
    for (int i = 0; i < 6; ++i) p = r.find(',', p) + 1;
    codes.push_back(r.substr(p, r.find(',', p) - p));
  }
  return codes;
}

class OnOffTest : public ProgramHomeTest {
 protected:
  void SetUp() override {
    ProgramHomeTest::SetUp();
    fs::create_directories(dir_ / "home");
    fs::create_directories(dir_ / "in");
    UseProgramDir(dir_ / "home");
  }

  // The texts of log number 1, time stamps removed.
  std::vector<std::string> Log() {
    std::vector<std::string> lines;
    for (std::string& l : SplitCrLf(ReadBytes(dir_ / "home" / "20260107" / "2026010713-1.log"))) {
      lines.push_back(l.substr(20));
    }
    return lines;
  }

  // Converts the lines (each ended by CR LF) and returns the output rows.
  std::vector<std::string> Convert(const std::vector<std::string>& lines,
                                   FileOnOffResult* result = nullptr) {
    std::string bytes;
    for (const std::string& l : lines) bytes += l + "\r\n";
    WriteBytes(dir_ / "in" / "x.dat", bytes);
    FileOnOffResult r = file_onoffsum((dir_ / "in" / "x.dat").c_str(),
                                      (dir_ / "out.dat").c_str(), nullptr);
    if (result != nullptr) *result = r;
    EXPECT_EQ(r.status, FileOnOffResult::Status::kDone);
    return SplitCrLf(ReadBytes(dir_ / "out.dat"));
  }
};

using Codes_ = std::vector<std::string>;

TEST_F(OnOffTest, RunsOfOneAndTwoKeepTheCodeOnTheirLastLineOnly) {
  std::vector<std::string> in;
  for (const char* c : {"0", "1", "1", "1", "3", "3", "2", "2", "0"}) in.push_back(Line("A", c));
  EXPECT_EQ(Codes(Convert(in)), (Codes_{"0", "0", "0", "1", "3", "3", "3", "2", "0"}));

  // Another vehicle ends a run: A keeps its 1, B's line is held and ends the file with its 1.
  EXPECT_EQ(Codes(Convert({Line("A", "1"), Line("B", "1")})), (Codes_{"1", "1"}));
  // A file ending on a held line of code 2 writes it with 2.
  EXPECT_EQ(Codes(Convert({Line("A", "2"), Line("A", "2")})), (Codes_{"3", "2"}));
  // Equal code values in different texts are different codes: the run is broken.
  EXPECT_EQ(Codes(Convert({Line("A", "1"), Line("A", "01"), Line("A", "1x"), Line("A", "1x")})),
            (Codes_{"1", "01", "0x", "1x"}));
}

TEST_F(OnOffTest, CommentsAndDroppedLinesDoNotBreakARun) {
  const std::vector<std::string> out =
      Convert({"#header", Line("A", "1"), "#inside", Line("A", "1", "4572000", "1350000", "070010"),
               "A,1,2,3,4,5,1,7,8,9", Line("A", "1", "4572000", "1350000", "070020")});
  ASSERT_EQ(out.size(), 5u);
  EXPECT_EQ(out[0], "#header");
  EXPECT_EQ(out[1], "#inside");  // written at once, ahead of the held line
  EXPECT_EQ(Codes(out), (Codes_{"#header", "#inside", "0", "0", "1"}));
}

TEST_F(OnOffTest, LinesNeedElevenNonEmptyFieldsAndAreWrittenWithElevenAndNewCoordinates) {
  FileOnOffResult r;
  const std::vector<std::string> out = Convert(
      {"car,2,3,4,4572000,1350000,0,8,9,0.000000",                    // 10 fields
       "car,2,3,4,4572000,1350000,0,,9,0.000000,0.000000",            // empty field 7
       "car,2,3,4,4572000,1350000,0,8,9,0.000000,",                   // empty trailing field
       ",2,3,4,4572000,1350000,0,8,9,1,1",                            // empty vehicle
       "",
       "car,2,3,4,4572000,1350000,0,8,9,0.000000,0.000000,12,13",     // 13 fields
       "car,2,3,4,0,0,0,8,9,x,y",
       "car,2,3,4,-1,1350000,0,8,9,x,y",
       "car,2,3,4,abc,1350000junk,3,8,9,x,y"},
      &r);
  EXPECT_EQ(out, (Codes_{"car,2,3,4,4572000,1350000,0,8,9,126.997884,37.502787",
                         "car,2,3,4,0,0,0,8,9,0.004546,0.006214",
                         "car,2,3,4,-1,1350000,0,8,9,144.643378,37.503225",
                         "car,2,3,4,abc,1350000junk,3,8,9,0.005723,37.506296"}));
  EXPECT_EQ(r.ncnt, 4);
}

TEST_F(OnOffTest, LogsStartEndAndEveryTenThousandthLine) {
  std::string bytes = "#head\r\n";
  for (int i = 1; i <= 20001; ++i) {
    // Line 10000 starts a run of code 1, so no row is formatted for it; 20000 is written.
    const bool held = i == 10000 || i == 10001;
    bytes += Line("V" + std::to_string((i + 500) / 1000), held ? "1" : "0", "4572000", "1350000",
                  std::to_string(100000 + i)) +
             "\r\n";
    if (i == 5000) bytes += "bad line\r\n";
  }
  WriteBytes(dir_ / "in" / "x.dat", bytes);
  const std::string in = (dir_ / "in" / "x.dat").string();
  const std::string out = (dir_ / "out.dat").string();
  FileOnOffResult r = file_onoffsum(in.c_str(), out.c_str(), nullptr);
  EXPECT_EQ(r.ncnt, 20001);
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0], "file_onoffsum START [" + in + "]=>[" + out + "]");
  // Held: the line as read. Written: the row as formatted, new coordinates included.
  EXPECT_EQ(log[1], Line("V10", "1", "4572000", "1350000", "110000"));
  EXPECT_EQ(log[2], "V20,20240305120000,030507,00001,4572000,1350000,0,1234,56789,"
                    "126.997884,37.502787");
  EXPECT_EQ(log[3], "file_onoffsum END [" + in + "]=>[" + out + "] ncnt[     20001] elapsed[0]sec");

  // Paths shorter than 4 bytes: nothing is opened or logged.
  EXPECT_EQ(file_onoffsum("a.d", out.c_str(), nullptr).status, FileOnOffResult::Status::kSkipped);
  EXPECT_EQ(file_onoffsum(in.c_str(), nullptr, nullptr).status,
            FileOnOffResult::Status::kSkipped);
  EXPECT_EQ(Log().size(), 4u);
}

TEST_F(OnOffTest, ByteExactFileWithCodePage949AndCrLf) {
  const fs::path data = ZELVIK_ONOFF_TESTDATA;
  FileOnOffResult r = file_onoffsum((data / "onoff_in.dat").c_str(), (dir_ / "out.dat").c_str(),
                                    nullptr);
  EXPECT_EQ(r.status, FileOnOffResult::Status::kDone);
  EXPECT_EQ(r.ncnt, 10);
  EXPECT_EQ(ReadBytes(dir_ / "out.dat"), ReadBytes(data / "onoff_expected.dat"));
}

TEST_F(OnOffTest, FolderRunConvertsDatFilesOfAnyCaseIntoLowerCaseNames) {
  const fs::path in = dir_ / "in";
  const std::string row = Line("A", "0") + "\r\n";
  WriteBytes(in / "A.DAT", row);
  WriteBytes(in / "b.Dat", row);
  WriteBytes(in / "각A.DAT", row);  // UTF-8 name whose last Hangul byte could pass as a lead byte
  WriteBytes(in / "note.txt", row);
  fs::create_directories(in / "sub.dat");

  const std::string folder = Utf8ToCp949(in.string());
  std::string typed = folder;
  std::replace(typed.begin(), typed.end(), '/', '\\');
  OnOffSumResult r = ProcOnOffSum(typed.c_str(), nullptr);
  EXPECT_EQ(r.nCnt, 3);
  EXPECT_FALSE(r.cancelled);
  EXPECT_TRUE(fs::exists(in / "converted" / "a.dat"));
  EXPECT_TRUE(fs::exists(in / "converted" / "b.dat"));
  EXPECT_TRUE(fs::exists(in / "converted" / "각a.dat"));
  EXPECT_EQ(ReadBytes(in / "converted" / "a.dat"),
            "A,20240305070000,030507,00001,4572000,1350000,0,1234,56789,126.997884,37.502787\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(in / "converted"), fs::directory_iterator()), 3);

  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 8u);
  const std::string dst = folder + "/converted";
  EXPECT_EQ(log[0], "ProcOnOffSum START szpath[" + folder + "] szpath_dst[" + dst + "]");
  EXPECT_EQ(log[1], "file_onoffsum START [" + folder + "/A.DAT]=>[" + dst + "/a.dat]");
  EXPECT_EQ(log[2].substr(0, 19), "file_onoffsum END [");
  EXPECT_EQ(log[5], "file_onoffsum START [" + folder + "/" + Kr("각A.DAT") + "]=>[" + dst + "/" +
                        Kr("각a.dat") + "]");
  EXPECT_EQ(log[7], "ProcOnOffSum START nCnt[3] szpath[" + folder + "] szpath_dst[" + dst +
                        "] failed[0]");
  EXPECT_FALSE(r.Failed());
}

TEST_F(OnOffTest, FolderTextsThatAreShortMissingOrTooLong) {
  // Missing folder: its START, why, and the closing line with nCnt[0]; the run has failed.
  const std::string missing = (dir_ / "nowhere").string();
  OnOffSumResult r = ProcOnOffSum(missing.c_str(), nullptr);
  EXPECT_EQ(r.nCnt, 0);
  EXPECT_TRUE(r.Failed());
  std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[1], "ProcOnOffSum folder not readable[" + missing + "]");
  EXPECT_EQ(log[2], "ProcOnOffSum START nCnt[0] szpath[" + missing + "] szpath_dst[" + missing +
                        "/converted] failed[0]");

  // Under four bytes: the converted folder is still made, only the closing line is logged.
  const fs::path before = fs::current_path();
  fs::create_directories(dir_ / "abc");
  fs::current_path(dir_);
  ProcOnOffSum("abc", nullptr);
  fs::current_path(before);
  EXPECT_TRUE(fs::is_directory(dir_ / "abc" / "converted"));
  log = Log();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[3], "ProcOnOffSum START nCnt[0] szpath[abc] szpath_dst[abc/converted] failed[0]");

  // Beyond 1013 bytes the folder is refused before anything is made.
  const std::string longText = dir_.string() + "/" + std::string(1100 - dir_.string().size(), 'd');
  EXPECT_TRUE(ProcOnOffSum(longText.c_str(), nullptr).Failed());
  log = Log();
  ASSERT_EQ(log.size(), 6u);
  EXPECT_EQ(log[4], "ProcOnOffSum folder text too long[1101] bytes, at most 1013: nothing done");
  EXPECT_EQ(log[5].substr(0, 27), "ProcOnOffSum START nCnt[0] ");
}

TEST_F(OnOffTest, FilesThatCannotBeConvertedAreLoggedAndTheOthersStillAre) {
  const fs::path in = dir_ / "in";
  const std::string row = Line("A", "0") + "\r\n";
  WriteBytes(in / "a.dat", row);
  fs::create_symlink(dir_ / "gone", in / "b.dat");      // cannot be opened
  ASSERT_EQ(::mkfifo((in / "c.dat").c_str(), 0666), 0);  // would block a plain open
  WriteBytes(in / "d.dat", row);
  WriteBytes(in / "D.dat", row);  // same output name as d.dat: left alone
  WriteBytes(in / (std::string(240, 'n') + ".dat"), row);  // output path over 255 bytes
  WriteBytes(in / "e.dat", row);
  if (::geteuid() != 0) fs::permissions(in / "e.dat", fs::perms::none);
  OnOffSumResult r = ProcOnOffSum(in.c_str(), nullptr);
  EXPECT_EQ(r.nCnt, 5);  // a, b, c, d (or D), e
  // b, c and e (unless root reads it anyway), D and the long name were not converted.
  EXPECT_EQ(r.nFailed, ::geteuid() != 0 ? 5 : 4);
  EXPECT_TRUE(fs::exists(in / "converted" / "a.dat"));
  EXPECT_TRUE(fs::exists(in / "converted" / "d.dat"));
  EXPECT_FALSE(fs::exists(in / "converted" / "b.dat"));
  EXPECT_FALSE(fs::exists(in / "converted" / "c.dat"));
  const std::string log = ReadBytes(dir_ / "home" / "20260107" / "2026010713-1.log");
  const std::string dst = in.string() + "/converted";
  EXPECT_NE(log.find("fopen error[" + in.string() + "/b.dat]"), std::string::npos);
  EXPECT_NE(log.find("file_onoffsum END [" + in.string() + "/c.dat]=>[" + dst +
                     "/c.dat] ncnt[         0]"),
            std::string::npos);
  EXPECT_NE(log.find("ProcOnOffSum output name already used, file skipped [" + in.string() +
                     "/d.dat]"),
            std::string::npos);
  EXPECT_NE(log.find("ProcOnOffSum path too long (at most 255 bytes), file skipped"),
            std::string::npos);
}

TEST_F(OnOffTest, OutputThatIsTheInputOrCannotBeWrittenLeavesNothingBehind) {
  const fs::path in = dir_ / "in";
  const std::string bytes = Line("A", "0") + "\r\n" + Line("A", "1") + "\r\n";
  WriteBytes(in / "a.dat", bytes);

  // converted leading back to the folder: emptying the output would destroy the input.
  fs::create_directory_symlink(in, in / "converted");
  EXPECT_EQ(ProcOnOffSum(in.c_str(), nullptr).nCnt, 1);
  EXPECT_EQ(ReadBytes(in / "a.dat"), bytes);
  fs::remove(in / "converted");
  // converted/a.dat a hard link to a.dat: the copy's rename would replace the input.
  fs::create_directory(in / "converted");
  fs::create_hard_link(in / "a.dat", in / "converted" / "a.dat");
  EXPECT_EQ(ProcOnOffSum(in.c_str(), nullptr).nFailed, 1);
  EXPECT_EQ(fs::hard_link_count(in / "a.dat"), 2u);
  EXPECT_EQ(ReadBytes(in / "a.dat"), bytes);
  fs::remove_all(in / "converted");

  // Output folder missing.
  FileOnOffResult r = file_onoffsum((in / "a.dat").c_str(), (dir_ / "no" / "a.dat").c_str(),
                                    nullptr);
  EXPECT_EQ(r.status, FileOnOffResult::Status::kOpenFailed);
  EXPECT_EQ(r.ncnt, 0);

  // A write that fails (file size limit) removes the partial output, keeps the earlier copy
  // and says so.
  std::string big;
  for (int i = 0; i < 30000; ++i) big += Line("A", "0") + "\r\n";
  WriteBytes(in / "big.dat", big);
  WriteBytes(dir_ / "big.dat", "earlier\r\n");
  struct rlimit old;
  ::getrlimit(RLIMIT_FSIZE, &old);
  struct rlimit small = old;
  small.rlim_cur = 100000;
  auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
  ::setrlimit(RLIMIT_FSIZE, &small);
  r = file_onoffsum((in / "big.dat").c_str(), (dir_ / "big.dat").c_str(), nullptr);
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(r.status, FileOnOffResult::Status::kFailed);
  EXPECT_EQ(ReadBytes(dir_ / "big.dat"), "earlier\r\n");
  const std::vector<std::string> log = Log();
  EXPECT_EQ(log[log.size() - 2], "file_onoffsum write error [" + (in / "big.dat").string() +
                                     "]=>[" + (dir_ / "big.dat").string() +
                                     "], output removed, earlier copy kept");
  for (const auto& e : fs::directory_iterator(dir_)) {
    EXPECT_TRUE(e.is_directory() || e.path().filename() == "big.dat") << e.path();
  }
}

TEST_F(OnOffTest, CancelStopsAtTheNextLineAndKeepsTheEarlierCopy) {
  const fs::path in = dir_ / "in";
  std::string bytes;
  for (int i = 0; i < 25000; ++i) bytes += Line("A", "0") + "\r\n";
  WriteBytes(in / "a.dat", bytes);
  WriteBytes(in / "b.dat", bytes);
  // An earlier copy, and the temporary file of an ended clean-up.
  fs::create_directory(in / "converted");
  WriteBytes(in / "converted" / "a.dat", "earlier\r\n");
  WriteBytes(in / "converted" / "b.dat.999999-1.tmp", "cut");
  CancelToken token;
  recorder_.SetHook([&token](const std::string& text) {  // cancelled at the first progress line
    if (text.find("0,1234,56789,126.997884") != std::string::npos) token.Cancel();
  });
  BindLogPanes(&panes_[0], nullptr, nullptr, nullptr);

  OnOffSumResult r = ProcOnOffSum(in.c_str(), &token);
  EXPECT_TRUE(r.cancelled);
  EXPECT_EQ(r.nCnt, 1);
  EXPECT_EQ(ReadBytes(in / "converted" / "a.dat"), "earlier\r\n");
  EXPECT_EQ(std::distance(fs::directory_iterator(in / "converted"), fs::directory_iterator()), 1);
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 7u);
  EXPECT_EQ(log[1], "ProcOnOffSum removed a leftover of an ended run[" + in.string() +
                        "/converted/b.dat.999999-1.tmp]");
  EXPECT_EQ(log[4].substr(0, 24), "file_onoffsum cancelled ");
  EXPECT_NE(log[4].find("output removed, earlier copy kept"), std::string::npos);
  EXPECT_NE(log[5].find("ncnt[     10000]"), std::string::npos);
  EXPECT_EQ(log[6].substr(0, 27), "ProcOnOffSum START nCnt[1] ");
}

// Whatever the input, the output is well formed: CR LF lines that are either copied
// comments or rows of eleven fields, one row per counted line.
void ExpectWellFormed(const std::string& out, std::int64_t ncnt) {
  std::int64_t rows = 0;
  std::size_t start = 0;
  while (start < out.size()) {
    const std::size_t end = out.find("\r\n", start);
    ASSERT_NE(end, std::string::npos);
    if (out[start] != '#') {
      ++rows;
      EXPECT_EQ(std::count(out.begin() + static_cast<long>(start),
                           out.begin() + static_cast<long>(end), ','),
                10);
      EXPECT_LE(end - start, 2047u);
    }
    start = end + 2;
  }
  EXPECT_EQ(rows, ncnt);
}

TEST_F(OnOffTest, BadInputNeverCrashesOrHangs) {
  const std::string in = (dir_ / "in" / "x.dat").string();
  const std::string out = (dir_ / "out.dat").string();
  auto run = [&](const std::string& bytes) {
    WriteBytes(in, bytes);
    FileOnOffResult r = file_onoffsum(in.c_str(), out.c_str(), nullptr);
    EXPECT_EQ(r.status, FileOnOffResult::Status::kDone);
    std::string got = ReadBytes(out);
    ExpectWellFormed(got, r.ncnt);
    return got;
  };
  const std::string good = Line("A", "0") + "\r\n";

  // Binary garbage.
  std::mt19937 rng(11);
  for (int round = 0; round < 20; ++round) {
    std::string bytes(4096, '\0');
    for (char& c : bytes) c = static_cast<char>(rng());
    run(bytes);
  }
  // NUL bytes: a data line holding one is dropped; a comment is copied as it is.
  const char nulLines[] = "A,1,2,3,4,5,0,7,8,9,1\0x\r\n#c\0d\r\n";
  EXPECT_EQ(run(std::string(nulLines, sizeof(nulLines) - 1) + good),
            std::string("#c\0d\r\n", 6) + SplitCrLf(run(good))[0] + "\r\n");
  // A 1 MiB line: a data line is dropped whole (no piece of it may pass as a line), a
  // comment is copied whole.
  const std::string mib(1 << 20, 'x');
  std::string longData = "A,1,2,3,4,5,0,7,8,9,10";
  while (longData.size() < (1u << 20)) longData += ",A,1,2,3,4,5,0,7,8,9,10";
  EXPECT_EQ(SplitCrLf(run(longData + "\r\n" + good)).size(), 1u);
  EXPECT_EQ(run("#" + mib + "\r\n" + good).substr(0, (1 << 20) + 3), "#" + mib + "\r\n");
  EXPECT_EQ(SplitCrLf(run(std::string(3000, 'y') + "\n" + good)).size(), 1u);
  // Only commas.
  EXPECT_EQ(run(std::string(5000, ',') + "\r\n" + std::string(12, ',') + "\r\n"), "");
  // Truncated double-byte characters: bytes are kept as they are, no crash.
  const std::string lead = "\xB0";
  EXPECT_EQ(Codes(SplitCrLf(run(lead + "," + lead + ",3,4,4572000,1350000,1,8,9,x,y\r\n"))),
            (Codes_{"1"}));
  // A field over the slot: cut to 127 bytes, never through a double-byte character.
  const std::string hangul = Kr("가");
  std::string wide = "A";
  for (int i = 0; i < 80; ++i) wide += hangul;  // 161 bytes; a cut at 127 would split one
  const std::string row = SplitCrLf(run(wide + ",2,3,4,4572000,1350000,0,8,9,x,y\r\n"))[0];
  EXPECT_EQ(row.substr(0, row.find(',')), wide.substr(0, 127));
  std::string odd = "AB" + wide.substr(1);
  const std::string row2 = SplitCrLf(run(odd + ",2,3,4,4572000,1350000,0,8,9,x,y\r\n"))[0];
  EXPECT_EQ(row2.substr(0, row2.find(',')), odd.substr(0, 126));
}

}  // namespace
}  // namespace zelvik
