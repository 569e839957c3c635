#include "cli/buffered_console.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/wait_until.h"

namespace zelvik {
namespace {

// What reached the console, batch by batch.
struct Sink {
  std::mutex mutex;
  std::string text;
  int writes = 0;
  std::string Text() {
    std::lock_guard<std::mutex> lock(mutex);
    return text;
  }
};

TEST(BufferedConsoleTest, LinesKeepTheirOrderInFewWritesAndNoneIsLost) {
  Sink sink;
  auto console = std::make_unique<BufferedConsole>([&sink](const std::string& batch) {
    std::lock_guard<std::mutex> lock(sink.mutex);
    sink.text += batch;
    ++sink.writes;
  });
  // A lone line goes out by itself, without a flush.
  console->Add("first\n");
  ASSERT_TRUE(WaitUntil([&] { return sink.Text() == "first\n"; }));

  // Four producers at once, and a flush after each hundred lines of one of them: what it
  // added before the flush is out when the flush returns (as before a line on stderr).
  std::vector<std::thread> producers;
  for (int t = 0; t < 4; ++t) {
    producers.emplace_back([&, t] {
      for (int i = 0; i < 2000; ++i) {
        const std::string line = std::to_string(t) + ":" + std::to_string(i) + "\n";
        console->Add(line);
        if (t == 0 && i % 100 == 99) {
          console->Flush();
          EXPECT_NE(sink.Text().find(line), std::string::npos) << line;
        }
      }
    });
  }
  for (std::thread& p : producers) p.join();
  console->Add("last\n");
  console.reset();  // the end writes what waits

  std::istringstream in(sink.Text());
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "first");
  std::map<int, int> next;  // each producer's lines whole, all there, in its order
  while (std::getline(in, line) && line != "last") {
    const std::size_t colon = line.find(':');
    ASSERT_NE(colon, std::string::npos) << line;
    const int t = std::stoi(line.substr(0, colon));
    EXPECT_EQ(std::stoi(line.substr(colon + 1)), next[t]++) << line;
  }
  EXPECT_EQ(line, "last");
  for (int t = 0; t < 4; ++t) EXPECT_EQ(next[t], 2000);
  EXPECT_LT(sink.writes, 1000);
}

}  // namespace
}  // namespace zelvik
