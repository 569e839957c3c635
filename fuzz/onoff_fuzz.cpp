// Any bytes as an export file for file_onoffsum. The output must equal what a plain,
// unbuffered rendering of the same rules gives, byte for byte, and the run must succeed.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_folder.h"
#include "geo/datum.h"
#include "onoff/onoff_sum.h"
#include "util/codepage.h"
#include "util/number_parse.h"
#include "util/program_dir.h"

namespace {

struct RefLine {
  std::vector<std::string> f;  // fields 0 to 8 as written
  std::string lon, lat;
  int code = 0;
  bool Held() const { return code == 1 || code == 2; }
};

std::string Row(const RefLine& l, char firstCode) {
  std::string r;
  for (int i = 0; i < 9; ++i) {
    std::string v = l.f[i];
    if (i == 6 && firstCode != 0) v[0] = firstCode;
    r += v + ",";
  }
  return r + l.lon + "," + l.lat + "\r\n";
}

// The clean-up's rules written as simply as possible, on whole strings.
std::string Reference(const std::string& bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t at; (at = bytes.find('\n', start)) != std::string::npos; start = at + 1) {
    std::string l = bytes.substr(start, at - start);
    if (!l.empty() && l.back() == '\r') l.pop_back();
    lines.push_back(l);
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));

  std::string out;
  bool hasPrev = false;
  RefLine prev;
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] == '#') {
      out += line + "\r\n";
      continue;
    }
    if (line.size() > 2047 || line.find('\0') != std::string::npos) continue;
    std::vector<std::string> tok;
    std::size_t s = 0;
    for (std::size_t c; (c = line.find(',', s)) != std::string::npos; s = c + 1) {
      tok.push_back(line.substr(s, c - s));
    }
    const std::size_t commas = tok.size();
    tok.push_back(line.substr(s));
    const std::size_t count = commas >= 16 ? 16 : commas + (tok.back().empty() ? 0 : 1);
    if (count < 11) continue;
    bool empty = false;
    for (int i = 0; i < 11; ++i) empty = empty || tok[i].empty();
    if (empty) continue;
    RefLine cur;
    for (int i = 0; i < 9; ++i) {
      cur.f.push_back(tok[i].substr(0, zelvik::Cp949CutLength(tok[i], 127)));
    }
    double lon = 0, lat = 0;
    zelvik::BesselToWgs84(zelvik::ParsePosition(cur.f[4].c_str()),
                          zelvik::ParsePosition(cur.f[5].c_str()), lon, lat);
    char buf[400];
    std::snprintf(buf, sizeof(buf), "%f", lon);
    cur.lon = buf;
    std::snprintf(buf, sizeof(buf), "%f", lat);
    cur.lat = buf;
    cur.code = zelvik::ParseLong32(cur.f[6].c_str());
    if (!hasPrev) {
      if (!cur.Held()) out += Row(cur, 0);
    } else if (cur.f[0] == prev.f[0] && cur.f[6] == prev.f[6]) {
      out += cur.Held() ? Row(prev, cur.code == 1 ? '0' : '3') : Row(cur, 0);
    } else {
      if (prev.Held()) out += Row(prev, 0);
      if (!cur.Held()) out += Row(cur, 0);
    }
    prev = cur;
    hasPrev = true;
  }
  if (hasPrev && prev.Held()) out += Row(prev, 0);
  return out;
}

struct Paths {
  std::string dir, in, out;
  Paths() {
    dir = MakeFuzzFolder("onoff");
    in = dir + "/in.dat";
    out = dir + "/out.dat";
    // The run log goes nowhere: a folder that does not exist keeps millions of runs from
    // filling the disk with START and END lines.
    std::string error;
    zelvik::SetProgramDirDirect(dir + "/no-log", &error);
  }
  ~Paths() {
    ::unlink(in.c_str());
    ::unlink(out.c_str());
    ::rmdir(dir.c_str());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Paths paths;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream f(paths.in, std::ios::binary | std::ios::trunc);
    f << bytes;
  }
  const zelvik::FileOnOffResult r =
      zelvik::file_onoffsum(paths.in.c_str(), paths.out.c_str(), nullptr);
  if (r.status != zelvik::FileOnOffResult::Status::kDone) {
    std::fprintf(stderr, "conversion did not complete\n");
    std::abort();
  }
  std::ifstream f(paths.out, std::ios::binary);
  std::stringstream got;
  got << f.rdbuf();
  if (got.str() != Reference(bytes)) {
    std::fprintf(stderr, "output differs from the reference rendering\n");
    std::abort();
  }
  return 0;
}
