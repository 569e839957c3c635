#include "workers/workers.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "util/file_io.h"
#include "testing/worker_fixture.h"

namespace zelvik::testing {
namespace {

TEST(DateFieldsTest, OneMonthAtMostAndTheFirstDayNotAfterTheLast) {
  std::string a, b;
  EXPECT_TRUE(CheckDateFields("20220718", "20220720", &a, &b));
  EXPECT_EQ(a, "20220718");
  EXPECT_EQ(b, "20220720");
  EXPECT_TRUE(CheckDateFields("20220718", "20220718", &a, &b));
  EXPECT_FALSE(CheckDateFields("20220718", "20220801", &a, &b));  // two months
  EXPECT_FALSE(CheckDateFields("20211231", "20220131", &a, &b));  // two years
  EXPECT_FALSE(CheckDateFields("20220720", "20220718", &a, &b));  // first after last
  EXPECT_FALSE(CheckDateFields("20220700", "20220718", &a, &b));  // day 0
  EXPECT_FALSE(CheckDateFields("202207", "202207", &a, &b));      // no day at all
  // Pieces are read as plain numbers: no month or day range, leading digits count.
  EXPECT_TRUE(CheckDateFields("2022 7 5", "20220799", &a, &b));
  EXPECT_EQ(a, "20220705");
  EXPECT_EQ(b, "20220799");
  EXPECT_TRUE(CheckDateFields("2022071a", "202207181234", &a, &b));
  EXPECT_EQ(a, "20220701");
  EXPECT_EQ(b, "20220718");
}

TEST(RunGateTest, CheckingTheOthersAndSettingOnesOwnFlagIsOneStep) {
  FakeBackend backend;
  WindowModel model(backend);
  std::atomic<int> inside{0};
  std::atomic<int> worst{0};
  std::vector<std::thread> threads;
  for (int n = 1; n <= 4; ++n) {
    threads.emplace_back([&, n] {
      for (int i = 0; i < 2000; ++i) {
        std::int32_t others[3];
        if (!model.Gate().TryEnterQuery(n, others)) continue;
        int now = ++inside;
        int seen = worst.load();
        while (now > seen && !worst.compare_exchange_weak(seen, now)) {
        }
        --inside;
        model.QryFlag(n).store(0);
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(worst.load(), 1);
}

using Worker1Test = WorkerFixture;

TEST_F(Worker1Test, DailyModeExportsYesterdayAtTheFirstLookIn0700AndSleeps50SecondsOtherwise) {
  clock_.SetNow(At(2022, 11, 7, 6, 58, 0));
  ASSERT_TRUE(StartHeldAt(At(2022, 11, 7, 7, 1, 30)));

  std::vector<RunCall> runs = backend_.Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].day, "20221106");
  EXPECT_EQ(runs[0].at, At(2022, 11, 7, 7, 0, 30));
  EXPECT_EQ(runs[0].flagAtStart, 1);
  EXPECT_EQ(backend_.Connects(), std::vector<std::string>{"DSN=dbidc;UID=qarnimel;PWD=mwrtqpzfbnkcye41"});

  std::vector<std::time_t> sleeps;
  for (const PaneLine& l : recorder_.Lines(1)) {
    if (l.text == "s_ThreadWorker Sleep(50) nhour_check[0700]") sleeps.push_back(l.at);
  }
  // 06:58:00, 06:58:50, 06:59:40, after the run at 07:00:30, 07:01:20.
  ASSERT_EQ(sleeps.size(), 5u);
  for (size_t i = 1; i < sleeps.size(); ++i) EXPECT_EQ(sleeps[i] - sleeps[i - 1], 50);
  EXPECT_EQ(model_->m_bQryThread1.load(), 0);

  // A stop is seen in the 50-second wait within one second.
  ASSERT_TRUE(StopAndWaitEnded(1));
  EXPECT_LE(StopTime(1) - At(2022, 11, 7, 7, 1, 30), 1);
  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kGood);
  EXPECT_EQ(model_->GetText(kIdStartStop), "Zelvik");
  EXPECT_EQ(recorder_.Texts(1).back(),
            "------------------------------- s_ThreadWorker STOP g_bstop[1] "
            "---------------------------");
}

TEST_F(Worker1Test, CatchUpExportsMissedDaysOldestFirstOncePerPointAndYesterdayOnlyAfter0700) {
  auto pair = [&](const std::string& day, const char* ext) {
    return dir_ / FsPath("carloc_hst-서울대구-" + day + ext);
  };
  auto writePair = [&](const std::string& day) {
    std::ofstream(pair(day, ".log")) << "summary";
    std::ofstream(pair(day, ".dat")) << "export " << day;
  };
  writePair("20221104");  // whole: never touched
  int yesterdayRuns = 0;
  // 3 November always fails; yesterday fails at 07:00 and works when caught up.
  backend_.runWith = [&](const RunCall& call) {
    if (call.day == "20221103") return WorkerOutcome::kFailed;
    if (call.day == "20221106" && ++yesterdayRuns == 1) return WorkerOutcome::kFailed;
    writePair(call.day);
    return WorkerOutcome::kGood;
  };
  model_->SetCatchUpDays(4);
  clock_.SetNow(At(2022, 11, 7, 6, 58, 0));
  ASSERT_TRUE(StartHeldAt(At(2022, 11, 7, 7, 5, 0)));

  std::vector<std::pair<std::string, std::time_t>> runs;
  for (const RunCall& r : backend_.Runs()) runs.emplace_back(r.day, r.at);
  const std::vector<std::pair<std::string, std::time_t>> expected = {
      {"20221103", At(2022, 11, 7, 6, 58, 0)},   // at the start, oldest first: fails
      {"20221105", At(2022, 11, 7, 6, 58, 50)},  // 4 November is whole
      {"20221106", At(2022, 11, 7, 7, 0, 30)},   // the 07:00 pass, not the catch-up: fails
      {"20221103", At(2022, 11, 7, 7, 1, 20)},   // once more after the 07:00 point
      {"20221106", At(2022, 11, 7, 7, 2, 10)},   // yesterday, caught up after 07:00
  };
  EXPECT_EQ(runs, expected);
  EXPECT_EQ(recorder_.Count(1, "s_ThreadWorker catching up a missed day["), 4);
  EXPECT_TRUE(recorder_.Has(1, "s_ThreadWorker catching up a missed day[20221105]"));
  std::ifstream kept(pair("20221104", ".dat"));
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "export 20221104");
  ASSERT_TRUE(StopAndWaitEnded(1));
  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kFailed);
}

TEST_F(Worker1Test, CatchUpTriesAFailedDayAgainAtTheNextLocalDayWithout0700) {
  backend_.runWith = [](const RunCall&) { return WorkerOutcome::kFailed; };
  model_->SetCatchUpDays(2);
  clock_.SetNow(At(2022, 11, 5, 23, 55, 0));  // Saturday, after 07:00: no quiet hours
  ASSERT_TRUE(StartHeldAt(At(2022, 11, 6, 0, 1, 0)));
  std::vector<std::pair<std::string, std::time_t>> tried;
  for (const RunCall& r : backend_.Runs()) tried.emplace_back(r.day, r.at);
  EXPECT_EQ(tried, (decltype(tried){{"20221103", At(2022, 11, 5, 23, 55, 0)},
      {"20221104", At(2022, 11, 5, 23, 55, 50)}, {"20221104", At(2022, 11, 6, 0, 0, 0)}}));
}

TEST_F(Worker1Test, SpecificDayModeExportsTheFirstDayOnceAndInvalidFieldsEndItWithoutConnecting) {
  model_->SetCheck(kIdDay1, 1);
  model_->SetText(kIdDay1First, "20220718");
  model_->SetText(kIdDay1Last, "20220720");
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(1));
  std::vector<RunCall> runs = backend_.Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].day, "20220718");
  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kGood);
  EXPECT_EQ(model_->GetText(kIdStartStop), "Zelvik");

  recorder_.Lines(1);
  model_->SetText(kIdDay1Last, "20220801");  // two months
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(1));
  EXPECT_EQ(backend_.RunCount(), 1);
  EXPECT_EQ(backend_.Opens(1), 1);
  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kInvalidDates);
  std::vector<std::string> texts = recorder_.Texts(1);
  // The second start left only its START and STOP lines.
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2].rfind(Start("s_ThreadWorker"), 0), 0u);
  EXPECT_EQ(texts.back().rfind(Stop("s_ThreadWorker"), 0), 0u);
}

TEST_F(Worker1Test, RetriesTheConnectionEvery12SecondsWithThePasswordMasked) {
  backend_.openFailures[1] = 3;
  model_->SetCheck(kIdDay1, 1);
  model_->SetText(kIdPwd, "x;DSN=nowhere;PWD=y");
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(1));
  EXPECT_EQ(backend_.Opens(1), 4);
  std::vector<std::time_t> errors;
  for (const PaneLine& l : recorder_.Lines(1)) {
    if (l.text.rfind("OpenDB error[", 0) == 0) {
      EXPECT_EQ(l.text, "OpenDB error[DSN=dbidc;UID=qarnimel;PWD=****]");
      errors.push_back(l.at);
    }
  }
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[1] - errors[0], 12);
  EXPECT_EQ(errors[2] - errors[1], 12);
  EXPECT_EQ(backend_.Connects().back(), "DSN=dbidc;UID=qarnimel;PWD={x;DSN=nowhere;PWD=y}");
  EXPECT_EQ(backend_.RunCount(), 1);
  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kGood);
  model_->SetText(kIdPwd, std::string(995, 'p') + ";");  // 1023 bytes, 1025 braced
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(1));
  EXPECT_TRUE(recorder_.Has(1, "s_ThreadWorker connect text longer than 1023 bytes: not connecting"));
}

TEST_F(Worker1Test, StopIsSeenInTheRetryWaitAndInTheGateWait) {
  // Retry wait: the connection never comes.
  backend_.openFailures[1] = -1;
  model_->SetCheck(kIdDay1, 1);
  std::time_t hold = clock_.Now() + 30;
  ASSERT_TRUE(StartHeldAt(hold));
  ASSERT_TRUE(StopAndWaitEnded(1));
  EXPECT_LE(StopTime(1) - hold, 1);
  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kNoConnection);

  // Gate wait: worker 2's query flag stays set.
  backend_.openFailures[1] = 0;
  model_->SetText(kIdStartStop, "Zelvik");
  model_->m_bQryThread2.store(1);
  hold = clock_.Now() + 200;
  ASSERT_TRUE(StartHeldAt(hold));
  EXPECT_TRUE(recorder_.Has(1, "Sleep 59 sec => m_bQryThread2[1] or m_bQryThread3[0] or "
                               "m_bQryThread4[0] or (tm_wday (0 < 1 < 6) and ((1000 > 2200) "
                               "|| ((1000 < 0200)))"));
  std::vector<std::time_t> looks;
  for (const PaneLine& l : recorder_.Lines(1)) {
    if (l.text.rfind("Sleep 59 sec => m_bQryThread2[1]", 0) == 0) looks.push_back(l.at);
  }
  ASSERT_EQ(looks.size(), 4u);  // up to the hold 200 seconds on
  for (size_t i = 1; i < looks.size(); ++i) EXPECT_EQ(looks[i] - looks[i - 1], 59);
  ASSERT_TRUE(StopAndWaitEnded(1));
  EXPECT_LE(recorder_.Lines(1).back().at - hold, 1);
  EXPECT_EQ(backend_.RunCount(), 0);
  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kStopped);
  model_->m_bQryThread2.store(0);
}

TEST_F(Worker1Test, CleanUpModeRunsOnceAndAnEmptyFolderMeansTheDailyWork) {
  model_->SetCheck(kIdOnOff, 1);
  model_->SetText(kIdFolder, "/data/old");
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(1));
  EXPECT_EQ(backend_.Cleanups(), std::vector<std::string>{"/data/old"});
  EXPECT_EQ(backend_.Opens(1), 0);
  EXPECT_EQ(model_->GetText(kIdStartStop), "Zelvik");
  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kGood);

  model_->SetText(kIdFolder, "");
  ASSERT_TRUE(StartHeldAt(clock_.Now() + 10));
  EXPECT_EQ(recorder_.Count(1, "s_ThreadWorker Sleep(50)"), 1);
  EXPECT_EQ(backend_.Cleanups().size(), 1u);
}

TEST_F(Worker1Test, TheStopCommandEndsALongExportByForce) {
  backend_.blockRuns = true;
  model_->SetCheck(kIdDay1, 1);
  model_->OnStartStop();
  ASSERT_TRUE(WaitUntil([&] { return backend_.RunCount() == 1; }));
  std::time_t pressed = clock_.Now();
  EXPECT_EQ(model_->OnStartStop(), WindowModel::StartStop::kStopped);
  EXPECT_EQ(clock_.Now() - pressed, 1);  // the stop command's one second
  EXPECT_TRUE(model_->m_hThread1.ForcedEnd());
  ASSERT_TRUE(WaitEnded(1, 5000));
  EXPECT_EQ(model_->Outcome(1), WorkerOutcome::kFailed);
  EXPECT_EQ(model_->m_bQryThread1.load(), 0);
  EXPECT_EQ(model_->GetText(kIdStartStop), "Zelvik");
  EXPECT_TRUE(recorder_.Has(1, Stop("s_ThreadWorker")));
}

TEST_F(Worker1Test, CleanUpDoesNotWaitForeverForAnOlderRangeWorkerWaitingForIt) {
  // An earlier start left worker 2 in its first delay.
  model_->SetCheck(kIdRange2, 1);
  clock_.HoldAt(clock_.Now() + 5);
  model_->OnStartStop();
  model_->OnStartStop();  // stop; worker 2 sees it only after its delay
  // A new start before worker 2 looked: only worker 1, in clean-up mode.
  model_->SetCheck(kIdRange2, 0);
  model_->SetCheck(kIdOnOff, 1);
  model_->SetText(kIdFolder, "/data/old");
  model_->OnStartStop();
  ASSERT_TRUE(WaitUntil([&] { return backend_.Cleanups().size() == 1; }));
  clock_.Release();
  // Worker 1 waits for worker 2 at its end; worker 2 must not wait for worker 1's flag.
  ASSERT_TRUE(WaitEnded(2));
  ASSERT_TRUE(WaitEnded(1));
  EXPECT_EQ(model_->GetText(kIdStartStop), "Zelvik");
  EXPECT_EQ(backend_.RunCount(), 0);  // worker 2's box was unticked when it looked
}

using RangeWorkerTest = WorkerFixture;

TEST_F(RangeWorkerTest, ThreeWorkersRunTheirRangesAndAShortAreaTextBecomes00003) {
  model_->SetText(kIdArea, "001");
  model_->SetCheck(kIdRange2, 1);
  model_->SetCheck(kIdRange3, 1);
  model_->SetCheck(kIdRange4, 1);
  model_->SetText(kIdRange2First, "20220701");
  model_->SetText(kIdRange2Last, "20220710");
  model_->SetText(kIdRange3First, "20220711");
  model_->SetText(kIdRange3Last, "20220720");
  model_->SetText(kIdRange4First, "20220721");
  model_->SetText(kIdRange4Last, "20220731");
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(2));
  ASSERT_TRUE(WaitEnded(3));
  ASSERT_TRUE(WaitEnded(4));
  std::vector<RunCall> runs = backend_.Runs();
  ASSERT_EQ(runs.size(), 3u);
  for (const RunCall& r : runs) {
    EXPECT_EQ(r.area, "00003");
    EXPECT_EQ(r.flagAtStart, 1);
    std::string expectFirst[] = {"20220701", "20220711", "20220721"};
    EXPECT_EQ(r.first, expectFirst[r.worker - 2]);
  }
  for (int n = 2; n <= 4; ++n) {
    EXPECT_EQ(model_->Outcome(n), WorkerOutcome::kGood);
    EXPECT_TRUE(recorder_.Has(n, Start(WorkerLabel(n))));
    EXPECT_TRUE(recorder_.Has(n, Stop(WorkerLabel(n))));
  }
  EXPECT_EQ(model_->GetText(kIdStartStop), "DB Close");

  // A four-character text is kept as it is.
  model_->OnStartStop();
  model_->SetText(kIdArea, "0001");
  model_->SetCheck(kIdRange3, 0);
  model_->SetCheck(kIdRange4, 0);
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(2));
  EXPECT_EQ(backend_.Runs().back().area, "0001");
}

TEST_F(RangeWorkerTest, WaitsForAnotherWorkersQueryFlagEvery30Seconds) {
  model_->m_bQryThread3.store(1);
  model_->SetCheck(kIdRange2, 1);
  std::time_t start = clock_.Now();
  ASSERT_TRUE(StartHeldAt(start + 200));
  std::vector<std::time_t> waits;
  for (const PaneLine& l : recorder_.Lines(2)) {
    if (l.text == "Sleep 59 sec => (m_bQryThread1[0] || m_bQryThread3[1] || m_bQryThread4[0])") {
      waits.push_back(l.at);
    }
  }
  ASSERT_GE(waits.size(), 6u);
  EXPECT_EQ(waits[0], start + 15);  // after the first delay
  for (size_t i = 1; i < waits.size(); ++i) EXPECT_EQ(waits[i] - waits[i - 1], 30);
  EXPECT_EQ(backend_.Opens(2), 0);

  model_->m_bQryThread3.store(0);  // worker 3's result has arrived
  clock_.Release();
  ASSERT_TRUE(WaitEnded(2));
  ASSERT_EQ(backend_.RunCount(), 1);
  EXPECT_GE(backend_.Runs()[0].at, start + 200);
}

TEST_F(RangeWorkerTest, QuietHoursHoldAWeekdayRunUntil0200ButNotASaturdayOne) {
  // Wednesday 23:30.
  clock_.SetNow(At(2022, 11, 9, 23, 30, 0));
  model_->SetCheck(kIdRange2, 1);
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(2, 20000));
  ASSERT_EQ(backend_.RunCount(), 1);
  std::time_t at = backend_.Runs()[0].at;
  EXPECT_GE(at, At(2022, 11, 10, 2, 0, 0));
  EXPECT_LT(at, At(2022, 11, 10, 2, 0, 30));
  EXPECT_TRUE(recorder_.Has(2, "Sleep 59 sec => m_bQryThread1[0] or m_bQryThread3[0] or "
                               "m_bQryThread4[0] or (tm_wday (0 < 3 < 6) and ((2330 > 2200) "
                               "|| ((2330 < 0200)))"));

  // Saturday 23:30: at once, after the first delay.
  model_->OnStartStop();
  clock_.SetNow(At(2022, 11, 12, 23, 30, 0));
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(2));
  ASSERT_EQ(backend_.RunCount(), 2);
  EXPECT_EQ(backend_.Runs()[1].at, At(2022, 11, 12, 23, 30, 15));

  // The headless switch opens weekday nights too.
  model_->OnStartStop();
  clock_.SetNow(At(2022, 11, 9, 23, 30, 0));
  model_->Gate().SetIgnoreQuietHours(true);
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(2));
  ASSERT_EQ(backend_.RunCount(), 3);
  EXPECT_EQ(backend_.Runs()[2].at, At(2022, 11, 9, 23, 30, 15));
}

TEST_F(RangeWorkerTest, QuietFromMondayToFridayBetween2201And0159) {
  model_->SetCheck(kIdRange2, 1);
  struct Case {
    int day, hour, minute;  // November 2022: the 9th is a Wednesday
    bool quiet;
  };
  const Case cases[] = {
      {9, 22, 0, false}, {9, 22, 1, true},   {9, 23, 30, true},
      {11, 1, 59, true}, {11, 2, 0, false},  {11, 7, 0, false},
      {12, 23, 30, false},                   // Saturday
      {13, 1, 0, false},                     // Sunday
      {14, 0, 0, true},                      // Sunday night belongs to Monday morning
  };
  for (const Case& c : cases) {
    const std::time_t at = At(2022, 11, c.day, c.hour, c.minute, 0);
    clock_.SetNow(at - 15);  // the first delay ends at `at`
    model_->OnStartStop();
    ASSERT_TRUE(WaitEnded(2, 20000));
    model_->OnStartStop();
    ASSERT_FALSE(backend_.Runs().empty());
    EXPECT_EQ(backend_.Runs().back().at != at, c.quiet) << c.day << " " << c.hour << c.minute;
  }
  EXPECT_EQ(backend_.RunCount(), 9);
}

TEST_F(RangeWorkerTest, StopIsSeenInTheGateAndFlagWaitsButNotInTheFirstDelay) {
  // Gate wait on a Wednesday night: ends within a second, without a run.
  clock_.SetNow(At(2022, 11, 9, 23, 30, 0));
  model_->SetCheck(kIdRange2, 1);
  std::time_t hold = At(2022, 11, 9, 23, 35, 0);
  ASSERT_TRUE(StartHeldAt(hold));
  EXPECT_EQ(backend_.Opens(2), 1);
  ASSERT_TRUE(StopAndWaitEnded(2));
  EXPECT_LE(StopTime(2) - hold, 1);
  EXPECT_EQ(backend_.RunCount(), 0);
  EXPECT_EQ(model_->Outcome(2), WorkerOutcome::kStopped);

  // Flag wait: worker 1's query flag stays set.
  model_->SetText(kIdStartStop, "Zelvik");
  model_->m_bQryThread1.store(1);
  hold = clock_.Now() + 100;
  ASSERT_TRUE(StartHeldAt(hold));
  EXPECT_TRUE(recorder_.Has(2, "Sleep 59 sec => (m_bQryThread1[1] || m_bQryThread3[0]"));
  ASSERT_TRUE(StopAndWaitEnded(2));
  EXPECT_LE(recorder_.Lines(2).back().at - hold, 1);
  EXPECT_EQ(backend_.Opens(2), 1);  // no second connection
  model_->m_bQryThread1.store(0);

  // First delay: the stop is seen only after it, at the checks; nothing is connected.
  model_->SetText(kIdStartStop, "Zelvik");
  model_->SetCheck(kIdRange2, 0);
  model_->SetCheck(kIdRange3, 1);
  std::time_t start = clock_.Now();
  ASSERT_TRUE(StartHeldAt(start + 10));
  ASSERT_TRUE(StopAndWaitEnded(3));
  EXPECT_EQ(StopTime(3), start + 30);
  EXPECT_EQ(backend_.Opens(3), 0);
}

TEST_F(RangeWorkerTest, InvalidRangesAndAFailedConnectionEndTheWorker) {
  model_->SetCheck(kIdRange2, 1);
  model_->SetText(kIdRange2First, "20220720");
  model_->SetText(kIdRange2Last, "20220718");
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(2));
  EXPECT_EQ(recorder_.Texts(2).size(), 2u);  // START and STOP only
  EXPECT_EQ(model_->Outcome(2), WorkerOutcome::kInvalidDates);
  EXPECT_EQ(backend_.Opens(2), 0);

  model_->OnStartStop();
  model_->SetText(kIdRange2First, "20220718");
  backend_.openFailures[2] = -1;
  model_->OnStartStop();
  ASSERT_TRUE(WaitEnded(2));
  EXPECT_EQ(backend_.Opens(2), 1);
  EXPECT_TRUE(recorder_.Has(2, "OpenDB error[DSN=dbidc;UID=qarnimel;PWD=****]"));
  EXPECT_EQ(model_->Outcome(2), WorkerOutcome::kNoConnection);
  EXPECT_EQ(backend_.RunCount(), 0);
}

TEST_F(RangeWorkerTest, TheTeardownEndsEveryWorkerByForceEvenInAFirstDelayOrALongExport) {
  backend_.blockRuns = true;
  model_->SetCheck(kIdRange2, 1);
  model_->SetCheck(kIdRange4, 1);
  // Worker 2 reaches its run; worker 4 stays in its 45-second delay.
  clock_.HoldAt(clock_.Now() + 20);
  model_->OnStartStop();
  ASSERT_TRUE(WaitUntil([&] { return backend_.RunCount() == 1; }));
  ASSERT_TRUE(clock_.WaitForHeld(1, 10000));
  model_->Teardown();
  EXPECT_FALSE(model_->AnyWorkerRunning());
  EXPECT_EQ(model_->Outcome(2), WorkerOutcome::kFailed);
  EXPECT_EQ(model_->Outcome(4), WorkerOutcome::kStopped);
  EXPECT_EQ(backend_.RunCount(), 1);
}

TEST_F(RangeWorkerTest, TwoQuickStartsNeverGiveTwoCopiesOfOneWorker) {
  model_->SetCheck(kIdRange2, 1);
  clock_.HoldAt(clock_.Now() + 5);
  model_->OnStartStop();   // start: worker 2 in its first delay
  model_->OnStartStop();   // stop
  model_->OnStartStop();   // start again before worker 2 has looked
  EXPECT_TRUE(recorder_.Has(2, "s_ThreadWorker2 is still running: not started again"));
  clock_.Release();
  ASSERT_TRUE(WaitEnded(2));
  // The one copy saw the new start's cleared stop request and ran.
  EXPECT_EQ(backend_.sessions[2], 1);
  EXPECT_EQ(backend_.RunCount(), 1);

  // Worker 1: start, stop, start in quick succession, many times.
  model_->SetCheck(kIdRange2, 0);
  model_->OnStartStop();
  for (int i = 0; i < 20; ++i) {
    model_->OnStartStop();
    model_->OnStartStop();
  }
  model_->Teardown();
  EXPECT_EQ(backend_.maxActive[1], 1);
  EXPECT_EQ(backend_.maxActive[2], 1);
}

}  // namespace
}  // namespace zelvik::testing
