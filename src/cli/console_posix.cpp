// The headless front end's console on Linux: SIGINT, SIGTERM, SIGHUP and SIGQUIT are taken
// by the main thread alone, through sigtimedwait.
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "cli/cli_main.h"
#include "cli/console.h"
#include "util/platform.h"

namespace zelvik {
namespace {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  // A closed terminal or a quit key ends the run as cleanly as a stop: never a partial file.
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGQUIT);
  return signals;
}

}  // namespace

const char* StopUsage() {
  return "SIGINT (Ctrl+C), SIGTERM, SIGHUP or SIGQUIT stops the workers; the program ends "
         "within about two seconds.\n";
}

void WriteConsoleText(std::FILE* stream, const std::string& utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
  std::fflush(stream);
}

bool GetEnvUtf8(const char* name, std::string* value) {
  const char* env = std::getenv(name);
  if (env == nullptr) return false;
  *value = env;
  return true;
}

ConsoleStop::ConsoleStop() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  platform::IgnoreBrokenPipe();
}

ConsoleStop::~ConsoleStop() = default;

bool ConsoleStop::Wait(int ms) {
  const sigset_t signals = StopSignals();
  timespec wait = {ms / 1000, static_cast<long>(ms % 1000) * 1000 * 1000};
  return sigtimedwait(&signals, nullptr, &wait) >= 0;
}

void ConsoleStop::Finished() {}

}  // namespace zelvik

int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  return zelvik::CliMain(args);
}
