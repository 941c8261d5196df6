// The process table: sizing, addressing by process number, and starting and
// stopping everything.
#include "supervision/tclPrcList.h"

#include <gtest/gtest.h>

#include <climits>
#include <thread>

#include "tests/unit/TestKit.h"

namespace {

using kit::Lines;
using kit::LogMessages;

std::string AppOf(int n) { return "C:\\Srv\\prog" + std::to_string(n) + ".exe"; }

class PrcListTest : public testing::Test {
 protected:
  void SetUp() override { kit::FreshLog(); }

  // n records, each for its own never-ending program.
  void Table(int32_t n) {
    kit::FreshTable(n);
    for (int32_t i = 0; i < n; ++i) kit::Configure(PrcList.Records[i], AppOf(i), sim::Program());
  }

  DWORD ChildOf(int n) {
    return kit::LastChildOf(PrcList.Records[n].Settings.Launch.FullCommandLine);
  }
};

TEST_F(PrcListTest, AllocateSizesTheTable) {
  EXPECT_TRUE(PrcList.Allocate(0));
  EXPECT_EQ(PrcList.Count, 0);
  EXPECT_TRUE(PrcList.Allocate(-5));
  EXPECT_EQ(PrcList.Count, 0);
  EXPECT_FALSE(PrcList.IsValidIndex(0));

  EXPECT_TRUE(PrcList.Allocate(200));
  EXPECT_EQ(PrcList.Count, 127);
  EXPECT_TRUE(PrcList.IsValidIndex(126));
  EXPECT_FALSE(PrcList.IsValidIndex(127));
}

TEST_F(PrcListTest, AllocateReplacesEveryRecordByADefaultOne) {
  Table(3);
  PrcList.Records[1].Paused = true;
  PrcList.Records[1].Settings.NumOfRespChecks = 4;
  ASSERT_TRUE(PrcList.Allocate(2));
  ASSERT_EQ(PrcList.Count, 2);
  for (int n = 0; n < 2; ++n) {
    const tclPrc& r = PrcList.Records[n];
    EXPECT_TRUE(r.Settings.Launch.AppName.empty());
    EXPECT_EQ(r.PriorityClass, DWORD(NORMAL_PRIORITY_CLASS));
    EXPECT_EQ(r.Settings.ShowCommand, SW_SHOWNA);
    EXPECT_EQ(r.Settings.StartPause, 1000u);
    EXPECT_EQ(r.Settings.StopPause, 1000u);
    EXPECT_TRUE(r.Settings.PrcFileLogging);
    EXPECT_FALSE(r.Paused);
    EXPECT_FALSE(r.Settings.AutoRestart);
    EXPECT_EQ(r.Settings.NumOfRespChecks, 0);
    EXPECT_FALSE(r.Busy);
  }
}

TEST_F(PrcListTest, ClearingTheTableLeavesChildrenRunning) {
  Table(1);
  ASSERT_TRUE(PrcList.Start(0));
  DWORD child = ChildOf(0);
  PrcList.Clear();
  EXPECT_EQ(PrcList.Count, 0);
  EXPECT_TRUE(sim::Process(child).alive);
}

TEST_F(PrcListTest, NumbersOutsideTheTableAreRefusedWithoutTouchingAnything) {
  Table(3);
  ASSERT_TRUE(PrcList.Start(0));
  PrcList.Records[0].Settings.NumOfRespChecks = 1;
  sim::HangWindow(ChildOf(0), true);
  std::string before = sim::ReadFile(kit::LogPath);

  for (int32_t n : {3, 127, 128, 1000, INT32_MAX, -1, -127, INT32_MIN}) {
    SCOPED_TRACE(n);
    EXPECT_FALSE(PrcList.IsValidIndex(n));
    EXPECT_EQ(PrcList.AppName(n), "");
    EXPECT_FALSE(PrcList.IsRunning(n));
    EXPECT_FALSE(PrcList.IsNotResponding(n));
    EXPECT_FALSE(PrcList.IsPaused(n));
    EXPECT_FALSE(PrcList.IsAutoRestart(n));
    EXPECT_FALSE(PrcList.IsLogging(n));
    EXPECT_FALSE(PrcList.Start(n));
    EXPECT_FALSE(PrcList.Stop(n, false));
    EXPECT_FALSE(PrcList.Stop(n, true));
    EXPECT_FALSE(PrcList.SetPriority(n, IDLE_PRIORITY_CLASS));
    EXPECT_FALSE(PrcList.Pause(n));
    EXPECT_FALSE(PrcList.Resume(n));
    EXPECT_FALSE(PrcList.ShowHide(n, true));
  }
  EXPECT_EQ(sim::Launches().size(), 1u);
  EXPECT_TRUE(sim::Process(ChildOf(0)).alive);
  EXPECT_TRUE(sim::Process(ChildOf(0)).showCommands.empty());
  EXPECT_EQ(sim::Process(ChildOf(0)).priorityClass, DWORD(NORMAL_PRIORITY_CLASS));
  EXPECT_EQ(sim::Now(), 0u);  // no probe, no stop wait
  EXPECT_EQ(sim::ReadFile(kit::LogPath), before);
  for (int n = 0; n < 3; ++n) EXPECT_FALSE(PrcList.IsPaused(n));
}

TEST_F(PrcListTest, ValidNumbersReachTheirOwnRecord) {
  Table(3);
  PrcList.Records[1].Settings.AutoRestart = false;
  PrcList.Records[2].Settings.PrcFileLogging = false;
  EXPECT_EQ(PrcList.AppName(2), AppOf(2));
  EXPECT_TRUE(PrcList.IsAutoRestart(0));
  EXPECT_FALSE(PrcList.IsAutoRestart(1));
  EXPECT_TRUE(PrcList.IsLogging(1));
  EXPECT_FALSE(PrcList.IsLogging(2));

  ASSERT_TRUE(PrcList.Start(1));
  EXPECT_EQ(sim::Launches().back().commandLine, PrcList.Records[1].Settings.Launch.FullCommandLine);
  EXPECT_FALSE(PrcList.IsRunning(0));
  EXPECT_TRUE(PrcList.IsRunning(1));
  EXPECT_TRUE(PrcList.SetPriority(1, HIGH_PRIORITY_CLASS));
  EXPECT_EQ(sim::Process(ChildOf(1)).priorityClass, DWORD(HIGH_PRIORITY_CLASS));
  EXPECT_TRUE(PrcList.ShowHide(1, true));
  EXPECT_EQ(sim::Process(ChildOf(1)).showCommands, std::vector<int>{SW_HIDE});
  EXPECT_TRUE(PrcList.Stop(1, false));
  EXPECT_FALSE(PrcList.IsRunning(1));
}

TEST_F(PrcListTest, PauseAndResumeOnlyFlipTheFlag) {
  Table(2);
  ASSERT_TRUE(PrcList.Start(0));
  DWORD child = ChildOf(0);
  for (int n = 0; n < 2; ++n) {
    EXPECT_TRUE(PrcList.Pause(n));
    EXPECT_TRUE(PrcList.IsPaused(n));
    EXPECT_TRUE(PrcList.Pause(n));  // again: still fine
    EXPECT_TRUE(PrcList.Resume(n));
    EXPECT_FALSE(PrcList.IsPaused(n));
  }
  EXPECT_EQ(sim::Launches().size(), 1u);
  EXPECT_TRUE(sim::Process(child).alive);
  EXPECT_EQ(sim::Process(child).quitMessages, 0);
}

TEST_F(PrcListTest, StartFailsWhileStartsAreBlockedOrTheChildIsAlive) {
  Table(2);
  PrcList.StartsBlocked = true;
  EXPECT_FALSE(PrcList.Start(0));
  EXPECT_TRUE(sim::Launches().empty());
  PrcList.StartsBlocked = false;

  EXPECT_TRUE(PrcList.Start(0));
  EXPECT_FALSE(PrcList.Start(0));
  EXPECT_EQ(sim::Launches().size(), 1u);
}

// The loop had passed Start's test of the block when the stop sequence ran
// over this record: its launch must still create nothing.
TEST_F(PrcListTest, ALaunchOvertakenByTheStopSequenceCreatesNoChild) {
  Table(1);
  PrcList.StartsBlocked = true;
  PrcList.StopAll(true);
  EXPECT_FALSE(PrcList.Records[0].Launch());
  EXPECT_TRUE(sim::Launches().empty());
  EXPECT_FALSE(PrcList.Records[0].Busy);
}

TEST_F(PrcListTest, StartAllStartsTheUnpausedInOrder) {
  Table(4);
  PrcList.Records[1].Paused = true;
  PrcList.Records[2].Settings.AutoRestart = false;  // started once all the same
  PrcList.StartAll();

  auto launches = sim::Launches();
  ASSERT_EQ(launches.size(), 3u);
  EXPECT_EQ(launches[0].commandLine, PrcList.Records[0].Settings.Launch.FullCommandLine);
  EXPECT_EQ(launches[1].commandLine, PrcList.Records[2].Settings.Launch.FullCommandLine);
  EXPECT_EQ(launches[2].commandLine, PrcList.Records[3].Settings.Launch.FullCommandLine);
  EXPECT_EQ(LogMessages(), (Lines{"Started program " + AppOf(0), "Started program " + AppOf(2),
                                  "Started program " + AppOf(3)}));
  EXPECT_FALSE(PrcList.StartingAll);
}

TEST_F(PrcListTest, StartAllOneAfterTheOtherWithEachStartPause) {
  Table(3);
  for (int n = 0; n < 3; ++n) PrcList.Records[n].Settings.StartPause = 400;
  PrcList.StartAll();
  EXPECT_GE(sim::Now(), 1200u);
  EXPECT_EQ(sim::LiveProcessIds().size(), 3u);
}

TEST_F(PrcListTest, StartAllDoesNothingWhenBlockedOrAlreadyStarting) {
  Table(2);
  PrcList.StartsBlocked = true;
  PrcList.StartAll();
  EXPECT_TRUE(sim::Launches().empty());
  EXPECT_FALSE(PrcList.StartingAll);

  PrcList.StartsBlocked = false;
  PrcList.StartingAll = true;
  PrcList.StartAll();
  EXPECT_TRUE(sim::Launches().empty());
  EXPECT_TRUE(PrcList.StartingAll);  // the other caller's flag is left alone
  PrcList.StartingAll = false;
}

TEST_F(PrcListTest, StartAllStopsStartingOnceStartsAreBlocked) {
  Table(3);
  sim::HoldAt("CreateProcessA");
  std::thread starter([] { PrcList.StartAll(); });
  // Process 0's launch has begun and waits to create its child.
  EXPECT_TRUE(sim::WaitHeld());
  EXPECT_TRUE(kit::WaitUntil([] { return PrcList.Records[0].Busy.load(); }));
  EXPECT_TRUE(PrcList.StartingAll);
  PrcList.StartsBlocked = true;
  sim::ReleaseHold();
  starter.join();

  auto launches = sim::Launches();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].commandLine, PrcList.Records[0].Settings.Launch.FullCommandLine);
  EXPECT_FALSE(PrcList.StartingAll);
  PrcList.StartsBlocked = false;
}

TEST_F(PrcListTest, StopAllStopsEveryLiveProcessInOrder) {
  Table(3);
  PrcList.Start(0);
  PrcList.Start(2);
  PrcList.Records[2].Settings.StopPause = 0;

  PrcList.StopAll(false);
  EXPECT_TRUE(sim::LiveProcessIds().empty());
  Lines log = LogMessages();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[2], "Stopped process " + AppOf(0));
  EXPECT_EQ(log[3], "Terminated process " + AppOf(2));
  EXPECT_EQ(sim::OpenHandleCount(), 0);
}

TEST_F(PrcListTest, StopAllWithWaitWaitsForABusyRecord) {
  Table(2);
  PrcList.Start(0);
  PrcList.Start(1);
  PrcList.Records[1].Busy = true;

  std::thread stopper([] { PrcList.StopAll(true); });
  EXPECT_TRUE(kit::WaitUntil([] { return sim::Now() >= 2000; }));
  EXPECT_FALSE(sim::Process(ChildOf(0)).alive);  // stopped before the wait
  EXPECT_TRUE(sim::Process(ChildOf(1)).alive);
  PrcList.Records[1].Busy = false;
  stopper.join();
  EXPECT_TRUE(sim::LiveProcessIds().empty());

  // Without wait the busy one is given up.
  Table(1);
  PrcList.Start(0);
  PrcList.Records[0].Busy = true;
  PrcList.StopAll(false);
  EXPECT_TRUE(sim::Process(ChildOf(0)).alive);
  PrcList.Records[0].Busy = false;
  PrcList.StopAll(false);
}

}  // namespace

// ---- A reload's plan, from settings alone ------------------------------------------

namespace {

// A program as a section gives it; "+env" and "+stop" change one launch and
// one other setting.
tclPrcSettings Program(const std::string& text) {
  tclPrcSettings s;
  s.Launch.AppName = text.substr(0, text.find('+'));
  if (text.find("+env") != std::string::npos) s.Launch.Environment = std::string("PORT=9\0\0", 8);
  if (text.find("+stop") != std::string::npos) s.StopPause = 30000;
  if (text.find("+high") != std::string::npos) s.Priority = HIGH_PRIORITY_CLASS;
  return s;
}

std::vector<tclPrcSettings> Programs(const std::vector<std::string>& texts) {
  std::vector<tclPrcSettings> programs;
  for (const std::string& text : texts) programs.push_back(Program(text));
  return programs;
}

TEST(ReloadPlan, KeepsMovesChangesRestartsRemovesAndAdds) {
  struct Case {
    std::vector<std::string> running, file;
    Lines lines;
    std::vector<int32_t> counts;      // added, changed, removed, unchanged
    std::vector<int32_t> disturbed;   // running numbers a pin puts off
  } cases[] = {
      {{"a", "b"}, {"a", "b"}, {}, {0, 0, 0, 2}, {}},
      {{"a", "b"}, {"a", "b+stop+high"},
       {"Process (1): Changed without a restart: Priority, StopPause"}, {0, 1, 0, 1}, {}},
      {{"a", "b", "c"}, {"c", "b"},
       {"Process (0): Removed: a", "Process (2): Moved to number 0: c"}, {0, 0, 1, 2}, {0, 2}},
      {{"a", "b+stop"}, {"a", "b+env"},
       {"Process (1): Restarted with new launch settings: b"}, {0, 1, 0, 1}, {1}},
      {{"a"}, {"a", "d"}, {"Process (1): Added: d"}, {1, 0, 0, 1}, {}},
      {{"a", "b"}, {"b", "a"},
       {"Process (1): Moved to number 0: b", "Process (0): Moved to number 1: a"}, {0, 0, 0, 2},
       {1, 0}},
      {{"a", "b"}, {"b+stop"},
       {"Process (0): Removed: a", "Process (1): Moved to number 0: b",
        "Process (0): Changed without a restart: StopPause"},
       {0, 1, 1, 0}, {0, 1}},
      // A section without the running one's launch settings at a number
      // another program's child moves from: that one moves, this one is new.
      {{"a", "b"}, {"b", "c"},
       {"Process (0): Removed: a", "Process (1): Moved to number 0: b", "Process (1): Added: c"},
       {1, 0, 1, 1}, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.file));
    std::vector<tclPrcSettings> running = Programs(c.running), file = Programs(c.file);
    tclReloadPlan plan = PlanReload(running, file);
    EXPECT_EQ(PlanLines(plan, running, file), c.lines);
    EXPECT_EQ((std::vector<int32_t>{plan.Added(), plan.ChangedCount(), int32_t(plan.Removed.size()),
                                    plan.Unchanged()}),
              c.counts);
    EXPECT_EQ(plan.Disturbed(), c.disturbed);
  }
}

TEST(ReloadPlan, TheKeysTwoSettingsDifferByAreNamedInTheFilesOrder) {
  struct Case {
    void (*change)(tclPrcSettings&);
    std::vector<std::string> keys;
  } cases[] = {
      {[](tclPrcSettings&) {}, {}},
      {[](tclPrcSettings& s) { s.Launch.StartDir = "D:\\Data"; }, {"StartDir"}},
      {[](tclPrcSettings& s) { s.Launch.FullCommandLine = "derived"; }, {}},
      {[](tclPrcSettings& s) { s.Paused = true; s.ProcessName = "db"; }, {"ProcessName", "Paused"}},
      {[](tclPrcSettings& s) { s.StopMethod = tclStopMethod::CtrlC; s.MinUptime = 5000; },
       {"MinUptime", "StopMethod"}},
      {[](tclPrcSettings& s) { s.Health.Port = 8080; s.Health.Retries = 5; },
       {"HealthPort", "HealthRetries"}},
      {[](tclPrcSettings& s) { s.Failure = {true, {0, 3}, 5, 60000, "notify", 5000, true}; },
       {"AutoRestart", "SuccessExitCodes", "MaxRestarts", "RestartWindow", "OnFailure",
        "OnFailureTimeout"}},
      {[](tclPrcSettings& s) { s.Launch.ErrorLog = "C:\\e.log"; s.OutputLogBackups = 9; },
       {"ErrorLog", "OutputLogBackups"}},
  };
  for (const Case& c : cases) {
    tclPrcSettings changed = Program("a");
    c.change(changed);
    EXPECT_EQ(DifferingKeys(Program("a"), changed), c.keys);
    bool launch = !c.keys.empty() && (c.keys[0] == "StartDir" || c.keys[0] == "ErrorLog");
    EXPECT_EQ(Program("a").Launch == changed.Launch, !launch);
  }
}

}  // namespace
