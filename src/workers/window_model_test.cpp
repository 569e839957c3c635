#include "workers/window_model.h"

#include <gtest/gtest.h>

#include "testing/worker_fixture.h"
#include "util/codepage.h"

namespace zelvik::testing {
namespace {

class RecordingView : public WindowView {
 public:
  void OnTextChanged(int id, const std::string& text) override {
    changes.push_back(std::to_string(id) + "=" + text);
  }
  void OnCheckChanged(int id, int checked) override {
    changes.push_back(std::to_string(id) + (checked ? "+" : "-"));
  }
  void ShowFieldMessage(const std::string& text, int focusId) override {
    messages.push_back(Cp949ToUtf8(text) + "@" + std::to_string(focusId));
  }
  std::vector<std::string> changes;
  std::vector<std::string> messages;
};

class WindowModelTest : public WorkerFixture {
 protected:
  // The model with view_ attached (until the test ends).
  WindowModel& Viewed() {
    model_->SetView(&view_);
    return *model_;
  }
  void TearDown() override {
    if (model_) model_->SetView(nullptr);
    WorkerFixture::TearDown();
  }
  RecordingView view_;
};

TEST_F(WindowModelTest, InitDialogSetsTheDefaultsOfAnUnattendedStart) {
  WindowModel& m = *model_;
  EXPECT_EQ(m.GetText(kIdStartStop), "Zelvik");
  EXPECT_EQ(m.GetText(kIdUid), "qarnimel");
  EXPECT_EQ(m.GetText(kIdDsn), "dbidc");
  EXPECT_EQ(m.GetText(kIdPwd), "mwrtqpzfbnkcye41");
  EXPECT_EQ(m.GetText(kIdPreset), Kr("상용"));
  EXPECT_EQ(m.GetText(kIdArea), "00003");
  for (int id : {kIdDay1First, kIdDay1Last, kIdRange2First, kIdRange2Last, kIdRange3First,
                 kIdRange3Last, kIdRange4First, kIdRange4Last}) {
    EXPECT_EQ(m.GetText(id), "20221107") << id;
  }
  for (int id : {kIdPreset, kIdDay1, kIdRange2, kIdRange3, kIdRange4, kIdOnOff}) {
    EXPECT_EQ(m.GetCheck(id), 0) << id;
  }
  EXPECT_EQ(m.GetCheck(kIdBessel), 1);
  EXPECT_EQ(m.m_bBessel2WGS84.load(), 1);
  EXPECT_EQ(backend_.loads.load(), 1);
  // Unknown controls are not kept.
  m.SetText(4711, "x");
  EXPECT_EQ(m.GetText(4711), "");
}

TEST_F(WindowModelTest, PresetsOverwriteSourceAndPasswordButNotUserAndTellTheView) {
  WindowModel& m = Viewed();
  m.SetText(kIdDsn, "typed");
  m.SetText(kIdUid, "someone");
  view_.changes.clear();
  m.SetCheck(kIdPreset, 1);
  m.OnPresetCheck();
  EXPECT_EQ(m.GetText(kIdPreset), Kr("개발"));
  EXPECT_EQ(m.GetText(kIdDsn), "db243");
  EXPECT_EQ(m.GetText(kIdPwd), "vdnhxkpqcjrus63");
  EXPECT_EQ(m.GetText(kIdUid), "someone");
  EXPECT_EQ(view_.changes, (std::vector<std::string>{"1011+", "1011=" + Kr("개발"),
                                                    "1002=db243", "1004=vdnhxkpqcjrus63"}));
  m.SetCheck(kIdPreset, 0);
  m.OnPresetCheck();
  EXPECT_EQ(m.GetText(kIdPreset), Kr("상용"));
  EXPECT_EQ(m.GetText(kIdDsn), "dbidc");
  EXPECT_EQ(m.GetText(kIdPwd), "mwrtqpzfbnkcye41");
  // Setting a value a control already holds tells nobody.
  view_.changes.clear();
  m.SetText(kIdDsn, "dbidc");
  EXPECT_TRUE(view_.changes.empty());

  m.SetCheck(kIdBessel, 0);
  m.OnBesselCheck();
  EXPECT_EQ(m.m_bBessel2WGS84.load(), 0);
}

TEST_F(WindowModelTest, StartChecksTheFieldsInOrderAndAFailedStartLeavesTheCaptionIdle) {
  WindowModel& m = Viewed();
  m.SetText(kIdDsn, "");
  m.SetText(kIdPwd, "");
  g_bstop.store(1);
  EXPECT_EQ(m.OnStartStop(), WindowModel::StartStop::kFieldMissing);
  EXPECT_EQ(view_.messages, std::vector<std::string>{"DSN 입력하시오.@1002"});
  // Nothing runs, so the caption does not say "DB Close"; the next press starts again.
  EXPECT_EQ(m.GetText(kIdStartStop), "Zelvik");
  EXPECT_EQ(g_bstop.load(), 0);
  EXPECT_FALSE(m.AnyWorkerRunning());

  m.SetText(kIdDsn, "dsn");
  EXPECT_EQ(m.OnStartStop(), WindowModel::StartStop::kFieldMissing);
  EXPECT_EQ(view_.messages.back(), "PWD 입력하시오.@1004");
  EXPECT_EQ(m.DSN(), "dsn");
  EXPECT_EQ(m.UID(), "qarnimel");
  EXPECT_EQ(m.PWD(), "");
}

TEST_F(WindowModelTest, RangeBoxesChooseTheWorkersAndTheDayBoxDoesNot) {
  WindowModel& m = *model_;
  // Keep every started worker in its first delay or first wait while we look.
  clock_.HoldAt(clock_.Now() + 5);
  m.SetCheck(kIdRange2, 1);
  m.SetCheck(kIdRange4, 1);
  ASSERT_EQ(m.OnStartStop(), WindowModel::StartStop::kStarted);
  EXPECT_EQ(m.GetText(kIdStartStop), "DB Close");
  EXPECT_FALSE(m.m_hThread1.IsTaken());
  EXPECT_TRUE(m.m_hThread2.IsTaken());
  EXPECT_FALSE(m.m_hThread3.IsTaken());
  EXPECT_TRUE(m.m_hThread4.IsTaken());
  EXPECT_EQ(m.DSN(), "dbidc");
  EXPECT_EQ(m.PWD(), "mwrtqpzfbnkcye41");

  // A stop while only range workers run ends none of them by force.
  ASSERT_EQ(m.OnStartStop(), WindowModel::StartStop::kStopped);
  EXPECT_FALSE(m.m_hThread2.ForcedEnd());
  EXPECT_FALSE(m.m_hThread4.ForcedEnd());
  clock_.Release();
  ASSERT_TRUE(WaitEnded(2));
  ASSERT_TRUE(WaitEnded(4));
  EXPECT_EQ(backend_.RunCount(), 0);
  // Workers 2 to 4 leave the caption alone.
  EXPECT_EQ(m.GetText(kIdStartStop), "Zelvik");

  m.SetCheck(kIdRange2, 0);
  m.SetCheck(kIdRange4, 0);
  m.SetCheck(kIdDay1, 1);
  m.SetText(kIdDay1First, "2022071");  // invalid: worker 1 ends at once
  ASSERT_EQ(m.OnStartStop(), WindowModel::StartStop::kStarted);
  ASSERT_TRUE(WaitEnded(1));
  EXPECT_EQ(recorder_.Count(1, Start("s_ThreadWorker")), 1);
  EXPECT_EQ(m.Outcome(1), WorkerOutcome::kInvalidDates);
  // Worker 1 ending by itself sets the caption back.
  EXPECT_EQ(m.GetText(kIdStartStop), "Zelvik");
}

// A connect to a server that never answers cannot be cancelled: the worker is left after the
// grace, and a start meanwhile finds its slot taken and does not claim to run.
TEST_F(WindowModelTest, AWorkerHangingInItsConnectIsLeftAndARefusedStartShowsIdle) {
  WindowModel& m = *model_;
  backend_.hangOpens = true;
  m.SetCheck(kIdDay1, 1);
  ASSERT_EQ(m.OnStartStop(), WindowModel::StartStop::kStarted);
  ASSERT_TRUE(WaitUntil([&] { return backend_.Connects().size() == 1; }));
  EXPECT_EQ(m.OnStartStop(), WindowModel::StartStop::kStopped);
  EXPECT_EQ(m.OnStartStop(), WindowModel::StartStop::kNoneStarted);
  EXPECT_EQ(m.GetText(kIdStartStop), "Zelvik");
  EXPECT_FALSE(m.EndWorkers(200));
  EXPECT_TRUE(recorder_.Has(1, "s_ThreadWorker still inside a database call 200 ms after its "
                               "forced end: the program ends without it"));
  EXPECT_EQ(m.Outcome(1), WorkerOutcome::kAbandoned);
  backend_.ReleaseOpens();
  EXPECT_TRUE(m.EndWorkers(10000));
}

}  // namespace
}  // namespace zelvik::testing
