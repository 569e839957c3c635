// Any bytes as "com_nm.cfg" in a program directory of its own, read by LoadMemoryCOM_NM. The
// cache must hold exactly what a plain restatement of the file's reading rules gives (names
// cut at a character boundary, control bytes of names as spaces, ids longer than 127 bytes
// left out, the first line of an id winning), every record must be terminated and zero after
// its text, and the log line must count every entry read. A lookup without a connection of
// the input's first id then answers from the cache alone.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/company_names.h"
#include "fuzz_folder.h"
#include "testing/fake_clock.h"
#include "util/program_dir.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "LoadMemoryCOM_NM: %s\n", what);
  std::abort();
}

// The longest prefix of at most max bytes that ends on a code page 949 character boundary,
// boundaries found from the start of the text.
std::string Cut(std::string_view text, std::size_t max) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t n = (c >= 0x81 && c <= 0xFE && i + 1 < text.size() && text[i + 1] != 0)
                              ? 2 : 1;
    if (i + n > max) break;
    i += n;
  }
  return std::string(text.substr(0, i));
}

struct Expected {
  std::vector<std::pair<std::string, std::string>> records;
  int ncnt = 0;
};

// The reading rules, on the whole file at once.
Expected Reference(std::string_view file) {
  // Text mode: CR LF is read as one line feed.
  std::string text;
  for (std::size_t i = 0; i < file.size(); ++i) {
    if (file[i] == '\r' && i + 1 < file.size() && file[i + 1] == '\n') continue;
    text.push_back(file[i]);
  }
  Expected e;
  std::size_t at = 0;
  while (at < text.size()) {
    // A piece is at most 1023 characters and ends after a line feed.
    std::size_t end = at;
    while (end < text.size() && end - at < 1023) {
      if (text[end++] == '\n') break;
    }
    std::string line = text.substr(at, end - at);
    at = end;
    line = line.substr(0, line.find('\0'));  // the text ends at a zero byte
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty() && line.back() == '\r') line.pop_back();  // left over from CR CR LF
    if (line.empty() || line[0] == ' ' || line[0] == '#' || line.size() < 6) continue;
    const std::size_t comma = line.find(',');
    if (comma == std::string::npos) continue;  // no name
    const std::string id = line.substr(0, comma);
    if (id.size() > 127) continue;  // a key is never cut
    std::string rest = line.substr(comma + 1);
    const std::size_t comma2 = rest.find(',');
    // A name ended by a comma keeps 127 bytes, one running to the end of the line 126.
    std::string name =
        comma2 == std::string::npos ? Cut(rest, 126) : Cut(rest.substr(0, comma2), 127);
    if (id.empty() || name.empty()) continue;
    // A name is written into one line of the summary: control bytes become spaces.
    for (char& c : name) {
      if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    }
    ++e.ncnt;
    bool known = false;
    for (const auto& r : e.records) known = known || r.first == id;
    if (!known) e.records.emplace_back(id, name);
  }
  return e;
}

struct Home {
  std::string dir, cfg, log;
  zelvik::FakeClock clock{zelvik::FakeClock::MakeLocal(2026, 1, 7, 13, 5, 9)};
  Home() {
    dir = MakeFuzzFolder("conm");
    cfg = dir + "/com_nm.cfg";
    log = dir + "/20260107/2026010713-1.log";
    std::string error;
    if (!zelvik::SetProgramDirDirect(dir, &error)) std::abort();
    zelvik::SetClock(&clock);
  }
  ~Home() {
    zelvik::SetClock(nullptr);
    ::unlink(cfg.c_str());
    ::unlink(log.c_str());
    ::rmdir((dir + "/20260107").c_str());
    ::rmdir(dir.c_str());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Home home;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream f(home.cfg, std::ios::binary | std::ios::trunc);
    f << bytes;
  }
  zelvik::LoadMemoryCOM_NM();

  const Expected want = Reference(bytes);
  {
    zelvik::CompanyNameCache& cache = zelvik::g_CompanyNameCache;
    std::lock_guard<std::mutex> lock(cache.Mutex());
    if (cache.Size() != want.records.size()) Fail("number of records");
    for (std::size_t i = 0; i < cache.Size(); ++i) {
      const zelvik::CompanyNameRecord& r = cache.At(i);
      for (const char* field : {r.szCoid, r.szCoNm}) {
        const std::size_t n = ::strnlen(field, 128);
        if (n == 128) Fail("a record field is not terminated");
        for (std::size_t k = n; k < 128; ++k) {
          if (field[k] != '\0') Fail("a record field is not zero after its text");
        }
      }
      if (want.records[i].first != r.szCoid) Fail("id differs from the reference");
      if (want.records[i].second != r.szCoNm) Fail("name differs from the reference");
      if (cache.Find(r.szCoid, cache.Size()) != &r) Fail("an id found at another record");
    }
  }

  // A lookup without a connection of the text before the input's first comma (or line end):
  // answered from the cache, else empty; an id longer than 127 bytes is refused, never cut.
  std::string id(bytes.substr(0, bytes.find_first_of(",\r\n")));
  id = id.substr(0, id.find('\0'));
  if (!id.empty()) {
    char out[128];
    std::memset(out, 0x5A, sizeof(out));
    const int found = zelvik::GetCO_NM(nullptr, id.c_str(), out);
    const std::string* name = nullptr;
    for (const auto& r : want.records) {
      if (r.first == id && id.size() <= 127) name = &r.second;
    }
    if (found != (name != nullptr ? 1 : 0)) Fail("lookup result");
    if (::strnlen(out, sizeof(out)) == sizeof(out)) Fail("lookup output not terminated");
    if (std::string(out) != (name != nullptr ? *name : std::string())) Fail("lookup output");
  }

  // The count line is the log's first line for this run: the file is removed after each.
  std::ifstream in(home.log, std::ios::binary);
  std::string first;
  std::getline(in, first);
  in.close();
  ::unlink(home.log.c_str());
  char line[64];
  std::snprintf(line, sizeof(line), "2026/01/07 13:05:09 LoadMemoryCOM_NM ncnt[%d]\r",
                want.ncnt);
  if (first != line) Fail("the count line");
  return 0;
}
