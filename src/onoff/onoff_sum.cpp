#include "onoff/onoff_sum.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "log/run_log.h"
#include "onoff/file_converter.h"
#include "publish/publish_repair.h"
#include "publish/run_output.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/format.h"
#include "util/path_limit.h"
#include "util/platform.h"

namespace zelvik {
namespace {

constexpr int kLogNo = kOnOffLogNo;

FileOnOffResult::Status Convert(const char* inPath, const char* outPath, const std::string& in949,
                                const std::string& out949, const CancelToken* cancel,
                                std::int64_t& ncnt) {
  // Only regular files, opened without blocking (a FIFO or device named .dat must not stall
  // the run). The copy is written under a temporary name and renamed over the output only
  // when complete, and never when the output's name is the input itself (reached through a
  // link), which the rename would replace.
  platform::FileIdentity inIdentity;
  const int in = platform::OpenRegularForRead(inPath, &inIdentity);
  if (in < 0) {
    WriteLog(Format("fopen error[%s]", in949.c_str()), kLogNo);
    return FileOnOffResult::Status::kOpenFailed;
  }
  CopyOutput output(outPath);
  platform::SysError error;
  const int out = output.FinalIsInput(inIdentity) ? -1 : output.Create(&error);
  if (out < 0) {
    platform::CloseFd(in);
    WriteLog(Format("fopen error[%s]", out949.c_str()), kLogNo);
    return FileOnOffResult::Status::kOpenFailed;
  }
  FileConverter::Outcome outcome;
  {
    FileConverter converter(in, out, cancel);
    outcome = converter.Run();
    ncnt = converter.Count();
  }
  platform::CloseFd(in);
  if (!platform::CloseFd(out) && outcome == FileConverter::Outcome::kDone) {
    outcome = FileConverter::Outcome::kWriteError;
  }
  if (outcome == FileConverter::Outcome::kDone) {
    switch (output.Publish(inIdentity, &error)) {
      case CopyOutput::Result::kDone:
        return FileOnOffResult::Status::kDone;
      case CopyOutput::Result::kIsInput:
        output.Discard();
        WriteLog(Format("fopen error[%s]", out949.c_str()), kLogNo);
        return FileOnOffResult::Status::kOpenFailed;
      case CopyOutput::Result::kFailed:
        outcome = FileConverter::Outcome::kWriteError;
        break;
    }
  }

  // A cut-short copy never reaches the output's name; an earlier copy there stays as it was.
  output.Discard();
  platform::FileIdentity earlier;
  const int kept = platform::OpenRegularForRead(outPath, &earlier);
  if (kept >= 0) platform::CloseFd(kept);
  const char* what = outcome == FileConverter::Outcome::kReadError    ? "read error"
                     : outcome == FileConverter::Outcome::kWriteError ? "write error"
                                                                       : "cancelled";
  WriteLog(Format("file_onoffsum %s [%s]=>[%s], output removed%s", what, in949.c_str(),
                  out949.c_str(), kept >= 0 ? ", earlier copy kept" : ""),
           kLogNo);
  return outcome == FileConverter::Outcome::kCancelled ? FileOnOffResult::Status::kCancelled
                                                       : FileOnOffResult::Status::kFailed;
}

bool EndsWithDat(const std::string& name) {
  if (name.size() < 4) return false;
  const char* s = name.c_str() + name.size() - 4;
  return s[0] == '.' && (s[1] | 0x20) == 'd' && (s[2] | 0x20) == 'a' && (s[3] | 0x20) == 't';
}

// The folder's entries whose names end in .dat in any letter case, directories left out, in
// byte order of their names (so that runs are repeatable). False when the folder cannot be
// read.
bool ListDatFiles(const std::string& sysDir, std::vector<std::string>& names) {
  std::vector<platform::DirEntry> entries;
  if (!platform::ListDir(sysDir, &entries)) return false;
  for (platform::DirEntry& e : entries) {
    if (EndsWithDat(e.name) && !e.isDir) names.push_back(std::move(e.name));
  }
  std::sort(names.begin(), names.end());
  return true;
}

// File names are UTF-8 here, where no byte of a multi-byte character is an ASCII letter, so
// lower-casing every ASCII letter byte leaves the other characters intact.
std::string LowerAsciiBytes(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  return s;
}

}  // namespace

FileOnOffResult file_onoffsum(const char* inPath, const char* outPath,
                              const CancelToken* cancel) {
  FileOnOffResult result;
  if (inPath == nullptr || outPath == nullptr || std::strlen(inPath) < 4 ||
      std::strlen(outPath) < 4) {
    return result;
  }
  const std::string in949 = Utf8ToCp949(inPath);
  const std::string out949 = Utf8ToCp949(outPath);
  WriteLog(Format("file_onoffsum START [%s]=>[%s]", in949.c_str(), out949.c_str()), kLogNo);
  const std::time_t start = GetClock().Now();
  std::int64_t ncnt = 0;
  result.status = Convert(inPath, outPath, in949, out949, cancel, ncnt);
  result.ncnt = ncnt;
  const std::time_t end = GetClock().Now();
  WriteLog(Format("file_onoffsum END [%s]=>[%s] ncnt[%10" PRId64 "] elapsed[%d]sec",
                  in949.c_str(), out949.c_str(), ncnt, static_cast<int>(end - start)),
           kLogNo);
  return result;
}

namespace {

// The closing line reads START, not END: it is the system's own text, which readers of the
// log know, and is told apart from the opening line by its nCnt[...]. Kept so on purpose.
void LogClosing(const OnOffSumResult& result, const std::string& szpath,
                const std::string& szpath_dst) {
  WriteLog(Format("ProcOnOffSum START nCnt[%d] szpath[%s] szpath_dst[%s] failed[%d]",
                  result.nCnt, szpath.c_str(), szpath_dst.c_str(), result.nFailed),
           kLogNo);
}

// The steps before the files: the folder text's limit, the "converted" folder, the START
// line, the repair of copies cut short, and the folder's .dat files into names. False when the
// run ends here (result.folderFailed tells a failure from a text too short to search).
bool PrepareFolder(const std::string& szpath, const std::string& szpath_dst,
                   OnOffSumResult& result, std::vector<std::string>& names) {
  if (szpath.size() > static_cast<std::size_t>(kOnOffFolderMax)) {
    WriteLog(Format("ProcOnOffSum folder text too long[%zu] bytes, at most %d: nothing done",
                    szpath.size(), kOnOffFolderMax),
             kLogNo);
    result.folderFailed = true;
    return false;
  }
  MakeDir949(szpath_dst.c_str());  // an existing folder is fine; any other failure shows per file
  if (szpath.size() < 4) return false;
  WriteLog(Format("ProcOnOffSum START szpath[%s] szpath_dst[%s]", szpath.c_str(),
                  szpath_dst.c_str()),
           kLogNo);
  // The folder can be anywhere, so no start-up repair reaches it: copies cut short by an
  // ended clean-up are removed here.
  RepairOutputs(szpath_dst, {}, "ProcOnOffSum", kLogNo);
  if (!ListDatFiles(SysPath(szpath.c_str()), names)) {
    WriteLog(Format("ProcOnOffSum folder not readable[%s]", szpath.c_str()), kLogNo);
    result.folderFailed = true;
    return false;
  }
  return true;
}

// Converts the listed files one by one, counting each handed over and each not converted,
// until the cancel request.
void ConvertFiles(const std::vector<std::string>& names, const std::string& szpath,
                  const std::string& szpath_dst, const CancelToken* cancel,
                  OnOffSumResult& result) {
  const std::string sysDir = SysPath(szpath.c_str());
  const std::string sysDst = SysPath(szpath_dst.c_str());
  std::set<std::string> outputsTaken;
  for (const std::string& name : names) {
    if (cancel != nullptr && cancel->IsCancelled()) {
      result.cancelled = true;
      break;
    }
    const std::string lower = LowerAsciiBytes(name);
    const std::string in949 = szpath + "/" + Utf8ToCp949(name);
    const std::string out949 = szpath_dst + "/" + Utf8ToCp949(lower);
    if (in949.size() > kFileNameMax || out949.size() > kFileNameMax) {
      WriteLog(Format("ProcOnOffSum path too long (at most %zu bytes), file skipped [%s]=>[%s]",
                      kFileNameMax, in949.c_str(), out949.c_str()),
               kLogNo);
      ++result.nFailed;
      continue;
    }
    // Names differing only in letter case share one lower-case output; the first keeps it.
    if (!outputsTaken.insert(lower).second) {
      WriteLog(Format("ProcOnOffSum output name already used, file skipped [%s]=>[%s]",
                      in949.c_str(), out949.c_str()),
               kLogNo);
      ++result.nFailed;
      continue;
    }
    const FileOnOffResult r =
        file_onoffsum((sysDir + "/" + name).c_str(), (sysDst + "/" + lower).c_str(), cancel);
    ++result.nCnt;
    if (r.status != FileOnOffResult::Status::kDone) ++result.nFailed;
    if (r.status == FileOnOffResult::Status::kCancelled) {
      result.cancelled = true;
      break;
    }
  }
}

}  // namespace

OnOffSumResult ProcOnOffSum(const char* folderText, const CancelToken* cancel) {
  OnOffSumResult result;
  std::string szpath = folderText != nullptr ? folderText : "";
  std::replace(szpath.begin(), szpath.end(), '\\', '/');
  const std::string szpath_dst = szpath + "/converted";
  std::vector<std::string> names;
  if (PrepareFolder(szpath, szpath_dst, result, names)) {
    ConvertFiles(names, szpath, szpath_dst, cancel, result);
  }
  LogClosing(result, szpath, szpath_dst);
  return result;
}

}  // namespace zelvik
