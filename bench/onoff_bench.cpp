// Whole-file timing of the occupancy clean-up against PROJ's cs2cs doing only the datum shift
// of the same coordinate pairs, in one run:
//   bench_onoff [LINES] [DIR]     (2,000,000 lines in a fresh folder under /tmp by default)
// Writes an export file of LINES data lines and a file of the same Bessel positions in
// degrees, times file_onoffsum over the first and cs2cs over the second, checks that both
// computed the same coordinates, and prints both times, their ratio and the clean-up's MB/s.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "onoff/onoff_sum.h"
#include "util/codepage.h"
#include "util/program_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

double CpuSeconds(const struct rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Wall and processor (user + system) seconds of one timed piece of work.
struct Timing {
  double wall = 0;
  double cpu = 0;
};

// One day of a fleet: vehicles one after another, each a random walk around Seoul whose
// occupancy alternates between vacant and occupied stretches; the transition codes 1 and 2
// come in short runs, as the dispatch records them.
void WriteInputs(const fs::path& exportFile, const fs::path& pairsFile, long lines) {
  std::FILE* ex = std::fopen(exportFile.c_str(), "wb");
  std::FILE* pr = std::fopen(pairsFile.c_str(), "wb");
  if (ex == nullptr || pr == nullptr) {
    std::perror("bench_onoff: cannot write inputs");
    std::exit(1);
  }
  std::fprintf(ex, "%s\r\n", zelvik::Kr("#차량번호,일자,생성월,지역코드,좌표X(bessel),좌표Y(bessel),"
                                        "승빈차코드,회사코드,운전자ID,좌표X(wgs84),좌표Y(wgs84)")
                                   .c_str());
  std::fprintf(ex, "%s\r\n",
               zelvik::Kr("#지역코드(서울:'00001',대구:'00003',대구:'00003'), 승빈차코드 "
                          "(공차→공차:0, 공차→승차:1,승차→공차:2, 승차→승차:3)")
                   .c_str());
  const std::string seoul = zelvik::Kr("서울");
  const std::string ga = zelvik::Kr("가");
  std::mt19937 rng(42);
  long vehicle = 0;
  long left = 0;
  long x = 0, y = 0;
  bool occupied = false;
  int transition = 0;  // lines left in the current run of code 1 or 2
  long seconds = 0;
  for (long i = 0; i < lines; ++i) {
    if (left == 0) {
      ++vehicle;
      left = 150 + static_cast<long>(rng() % 200);
      x = 4540000 + static_cast<long>(rng() % 60000);
      y = 1330000 + static_cast<long>(rng() % 40000);
      occupied = false;
      transition = 0;
      seconds = static_cast<long>(rng() % 600);
    }
    --left;
    x += static_cast<long>(rng() % 201) - 100;
    y += static_cast<long>(rng() % 201) - 100;
    seconds += 10 + static_cast<long>(rng() % 50);
    int code;
    if (transition > 0) {
      --transition;
      code = occupied ? 1 : 2;
    } else if (rng() % 20 == 0) {
      occupied = !occupied;
      transition = static_cast<int>(rng() % 3);
      code = occupied ? 1 : 2;
    } else {
      code = occupied ? 3 : 0;
    }
    const long s = seconds % 86400;
    std::fprintf(ex,
                 "%s%02ld%s%04ld,20240305%02ld%02ld%02ld,030507,00001,%ld,%ld,%d,%04ld,%04ld%05ld,"
                 "0.000000,0.000000\r\n",
                 seoul.c_str(), vehicle % 100, ga.c_str(), vehicle % 10000, s / 3600, s / 60 % 60,
                 s % 60, x, y, code, vehicle % 97 + 1000, vehicle % 97 + 1000, vehicle);
    std::fprintf(pr, "%.10f %.10f\n", static_cast<double>(x) / 36000.0,
                 static_cast<double>(y) / 36000.0);
  }
  std::fclose(ex);
  std::fclose(pr);
}

Timing RunCs2cs(const fs::path& in, const fs::path& out) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // Bessel 1841 with the three-parameter shift to WGS84; six decimals like the export.
  const char* argv[] = {"cs2cs", "+proj=longlat", "+ellps=bessel", "+towgs84=-147,506,687",
                        "+no_defs", "+to", "+proj=longlat", "+datum=WGS84", "+no_defs",
                        "-f", "%.6f", nullptr};
  const auto t0 = Clock::now();
  pid_t pid;
  if (posix_spawnp(&pid, "cs2cs", &actions, nullptr, const_cast<char**>(argv), environ) != 0) {
    std::fprintf(stderr, "bench_onoff: cannot start cs2cs (Debian package proj-bin)\n");
    std::exit(1);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  const auto t1 = Clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "bench_onoff: cs2cs failed\n");
    std::exit(1);
  }
  return {Seconds(t0, t1), CpuSeconds(usage)};
}

// Counts the rows whose WGS84 texts differ from cs2cs's, and the largest difference in
// millionths of a degree.
void Compare(const fs::path& cleaned, const fs::path& projected, long lines) {
  std::ifstream a(cleaned, std::ios::binary);
  std::ifstream b(projected, std::ios::binary);
  std::string ra, rb;
  long rows = 0, differing = 0;
  double worst = 0;
  while (std::getline(a, ra)) {
    if (ra.empty() || ra[0] == '#') continue;
    if (!std::getline(b, rb)) break;
    ++rows;
    if (!ra.empty() && ra.back() == '\r') ra.pop_back();
    const std::size_t c2 = ra.rfind(',');
    const std::size_t c1 = ra.rfind(',', c2 - 1);
    const std::string lon = ra.substr(c1 + 1, c2 - c1 - 1);
    const std::string lat = ra.substr(c2 + 1);
    char plon[64] = {}, plat[64] = {};
    if (std::sscanf(rb.c_str(), "%63s %63s", plon, plat) != 2) break;
    if (lon != plon || lat != plat) {
      ++differing;
      worst = std::fmax(worst, std::fabs(std::atof(lon.c_str()) - std::atof(plon)) * 1e6);
      worst = std::fmax(worst, std::fabs(std::atof(lat.c_str()) - std::atof(plat)) * 1e6);
    }
  }
  std::printf("check       %ld of %ld rows compared; %ld differ from cs2cs in their text, "
              "by at most %.0f millionth(s) of a degree\n",
              rows, lines, differing, worst);
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 2000000;
  fs::path dir;
  if (argc > 2) {
    dir = argv[2];
    fs::create_directories(dir);
  } else {
    char tmpl[] = "/tmp/zelvik-bench-onoff-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    dir = tmpl;
  }
  std::string error;
  zelvik::SetProgramDirDirect(dir.string(), &error);  // the run log goes beside the files

  const fs::path exportFile = dir / "carloc.dat";
  const fs::path pairs = dir / "pairs.txt";
  const fs::path cleaned = dir / "cleaned.dat";
  const fs::path projected = dir / "projected.txt";
  WriteInputs(exportFile, pairs, lines);
  const double mb = static_cast<double>(fs::file_size(exportFile)) / 1e6;

  struct rusage u0 {}, u1 {};
  getrusage(RUSAGE_SELF, &u0);
  const auto t0 = Clock::now();
  const zelvik::FileOnOffResult r =
      zelvik::file_onoffsum(exportFile.c_str(), cleaned.c_str(), nullptr);
  Timing cleanup;
  cleanup.wall = Seconds(t0, Clock::now());
  getrusage(RUSAGE_SELF, &u1);
  cleanup.cpu = CpuSeconds(u1) - CpuSeconds(u0);
  if (r.status != zelvik::FileOnOffResult::Status::kDone || r.ncnt != lines) {
    std::fprintf(stderr, "bench_onoff: clean-up failed\n");
    return 1;
  }
  const Timing proj = RunCs2cs(pairs, projected);

  std::printf("lines       %ld (export file %.1f MB)\n", lines, mb);
  std::printf("clean-up    %.3f s wall, %.3f s processor  (read, split, convert, rule, write;"
              " %.1f MB/s, %.0f ns/line)\n",
              cleanup.wall, cleanup.cpu, mb / cleanup.wall,
              cleanup.wall * 1e9 / static_cast<double>(lines));
  std::printf("cs2cs       %.3f s wall, %.3f s processor  (datum shift of the same pairs only)\n",
              proj.wall, proj.cpu);
  std::printf("ratio       %.3f wall, %.3f processor  clean-up / cs2cs (target at most 0.5)\n",
              cleanup.wall / proj.wall, cleanup.cpu / proj.cpu);
  Compare(cleaned, projected, lines);
  if (argc <= 2) fs::remove_all(dir);
  return 0;
}
