// One supervised program's window, priority and log lines: the window probe,
// show/hide, priority changes and the logging switch, against the simulated
// platform.
#include "supervision/tclPrc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/unit/TestKit.h"

namespace {

using kit::Lines;
using kit::LogMessages;
using kit::PrcTest;
using kit::Steady;
using kit::Windowless;

// --- Window probe ---

TEST_F(PrcTest, SingleCheckReportsTheFirstFailedProbeAndKeepsReporting) {
  kit::Configure(rec, App, Steady());
  rec.Settings.NumOfRespChecks = 1;
  ASSERT_TRUE(rec.Launch());
  EXPECT_FALSE(rec.IsNotResponding());
  sim::HangWindow(Child(), true);

  uint64_t before = sim::Now();
  EXPECT_TRUE(rec.IsNotResponding());
  EXPECT_EQ(sim::Now() - before, 1000u);  // the probe's time-out
  EXPECT_TRUE(rec.IsNotResponding());
}

TEST_F(PrcTest, AProbeOverlappedByAStopDoesNotCountAgainstTheRecord) {
  kit::Configure(rec, App, Steady());
  rec.Settings.NumOfRespChecks = 1;
  rec.Settings.StopPause = 100;
  ASSERT_TRUE(rec.Launch());
  sim::HangWindow(Child(), true);
  sim::HoldAt("SendMessageTimeoutA");
  std::atomic<bool> verdict{true};
  std::thread prober([&] { verdict = rec.IsNotResponding(); });
  ASSERT_TRUE(sim::WaitHeld());
  EXPECT_TRUE(rec.Stop(false));
  sim::ReleaseHold();
  prober.join();
  EXPECT_FALSE(verdict);
}

TEST_F(PrcTest, TwoChecksNeedTwoFailedProbesInARow) {
  kit::Configure(rec, App, Steady());
  rec.Settings.NumOfRespChecks = 2;
  ASSERT_TRUE(rec.Launch());
  DWORD child = Child();

  sim::HangWindow(child, true);
  EXPECT_FALSE(rec.IsNotResponding());  // 1
  sim::HangWindow(child, false);
  EXPECT_FALSE(rec.IsNotResponding());  // answered: back to 0
  sim::HangWindow(child, true);
  EXPECT_FALSE(rec.IsNotResponding());  // 1 again
  EXPECT_TRUE(rec.IsNotResponding());   // 2
}

TEST_F(PrcTest, ProbingOffOrChildGoneResetsTheCount) {
  kit::Configure(rec, App, Steady());
  rec.Settings.NumOfRespChecks = 2;
  ASSERT_TRUE(rec.Launch());
  sim::HangWindow(Child(), true);
  EXPECT_FALSE(rec.IsNotResponding());  // 1

  rec.Settings.NumOfRespChecks = 0;
  uint64_t before = sim::Now();
  EXPECT_FALSE(rec.IsNotResponding());  // no probe, count back to 0
  rec.Settings.NumOfRespChecks = -3;
  EXPECT_FALSE(rec.IsNotResponding());
  EXPECT_EQ(sim::Now(), before);

  rec.Settings.NumOfRespChecks = 2;
  EXPECT_FALSE(rec.IsNotResponding());  // 1, not 2
  EXPECT_TRUE(rec.IsNotResponding());
}

TEST_F(PrcTest, WindowlessChildIsNeverProbed) {
  kit::Configure(rec, App, Windowless());
  rec.Settings.NumOfRespChecks = 1;
  ASSERT_TRUE(rec.Launch());
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(rec.IsNotResponding());
  EXPECT_EQ(sim::Now(), 0u);
  EXPECT_FALSE(rec.ShowHide(true));
}

TEST_F(PrcTest, ClosedWindowIsNotTakenForAHungOne) {
  kit::Configure(rec, App, Steady());
  rec.Settings.NumOfRespChecks = 1;
  ASSERT_TRUE(rec.Launch());
  DWORD child = Child();
  sim::DestroyWindow(child);

  EXPECT_FALSE(rec.IsNotResponding());
  EXPECT_FALSE(rec.IsNotResponding());
  EXPECT_EQ(sim::Now(), 0u);
  EXPECT_FALSE(rec.ShowHide(true));
  EXPECT_TRUE(sim::Process(child).alive);
}

TEST_F(PrcTest, WindowOfAnotherProcessIsNeitherProbedNorShown) {
  kit::Configure(rec, App, Steady());
  rec.Settings.NumOfRespChecks = 1;
  ASSERT_TRUE(rec.Launch());
  DWORD child = Child();
  sim::DestroyWindow(child);
  DWORD foreign = sim::AddForeignProcessWithWindow();  // may get the freed window
  sim::HangWindow(foreign, true);

  EXPECT_FALSE(rec.ShowHide(true));
  EXPECT_FALSE(rec.ShowHide(false));
  EXPECT_FALSE(rec.IsNotResponding());
  EXPECT_TRUE(sim::Process(foreign).showCommands.empty());
  EXPECT_TRUE(sim::Process(child).alive);
}

// --- Hide and show ---

TEST_F(PrcTest, HideAndShowGoToTheChildsWindow) {
  kit::Configure(rec, App, Steady());
  ASSERT_TRUE(rec.Launch());
  EXPECT_TRUE(rec.ShowHide(true));
  EXPECT_TRUE(rec.ShowHide(false));
  EXPECT_EQ(sim::Process(Child()).showCommands, (std::vector<int>{SW_HIDE, SW_SHOWNA}));
}

TEST_F(PrcTest, HidingAHungWindowDoesNotWait) {
  kit::Configure(rec, App, Steady());
  ASSERT_TRUE(rec.Launch());
  sim::HangWindow(Child(), true);
  EXPECT_TRUE(rec.ShowHide(true));
  EXPECT_EQ(sim::Now(), 0u);
  EXPECT_EQ(sim::Process(Child()).showCommands, std::vector<int>{SW_HIDE});
}

TEST_F(PrcTest, ShowHideOfAnExitedChildFails) {
  LaunchAChildThatExits();
  EXPECT_FALSE(rec.ShowHide(true));
  EXPECT_FALSE(rec.ApplyShowCommand(SW_HIDE));
}

// --- Priority ---

TEST_F(PrcTest, SetPriorityChangesALiveChild) {
  kit::Configure(rec, App, Steady());
  ASSERT_TRUE(rec.Launch());
  EXPECT_TRUE(rec.SetPriority(IDLE_PRIORITY_CLASS));
  EXPECT_EQ(sim::Process(Child()).priorityClass, DWORD(IDLE_PRIORITY_CLASS));
  EXPECT_FALSE(rec.SetPriority(0x12345));  // the system refuses the class
  EXPECT_EQ(sim::Process(Child()).priorityClass, DWORD(IDLE_PRIORITY_CLASS));
}

TEST_F(PrcTest, SetPriorityWithoutAChildIsKeptForTheNextLaunch) {
  kit::Configure(rec, App, Steady());
  EXPECT_TRUE(rec.SetPriority(ABOVE_NORMAL_PRIORITY_CLASS));
  ASSERT_TRUE(rec.Launch());
  EXPECT_EQ(sim::Launches().back().creationFlags, DWORD(ABOVE_NORMAL_PRIORITY_CLASS));
  EXPECT_EQ(sim::Process(Child()).priorityClass, DWORD(ABOVE_NORMAL_PRIORITY_CLASS));
}

TEST_F(PrcTest, SetPriorityDuringTheLaunchReachesTheNewChild) {
  kit::Configure(rec, App, Steady());
  sim::HoldAt("CreateProcessA");
  std::thread launcher([&] { rec.Launch(); });
  ASSERT_TRUE(sim::WaitHeld());
  EXPECT_TRUE(rec.SetPriority(HIGH_PRIORITY_CLASS));
  sim::ReleaseHold();
  launcher.join();
  EXPECT_EQ(sim::Process(Child()).priorityClass, DWORD(HIGH_PRIORITY_CLASS));
}

TEST_F(PrcTest, SetPriorityAfterTheChildExitedTouchesNoOtherProcess) {
  LaunchAChildThatExits();
  tclPrc other;
  kit::Configure(other, "C:\\Srv\\beta.exe", Steady());
  ASSERT_TRUE(other.Launch());
  DWORD foreign = sim::AddForeignProcessWithWindow();

  EXPECT_TRUE(rec.SetPriority(HIGH_PRIORITY_CLASS));
  EXPECT_EQ(sim::Process(kit::LastChildOf(other.Settings.Launch.FullCommandLine)).priorityClass,
            DWORD(NORMAL_PRIORITY_CLASS));
  EXPECT_EQ(sim::Process(foreign).priorityClass, DWORD(NORMAL_PRIORITY_CLASS));
  ASSERT_TRUE(rec.Launch());
  EXPECT_EQ(sim::Launches().back().creationFlags, DWORD(HIGH_PRIORITY_CLASS));
}

// --- Logging switch ---

TEST_F(PrcTest, LoggingOffDropsOnlyThisProcessesLines) {
  tclPrc quiet;
  kit::Configure(quiet, App, Steady());
  quiet.Settings.PrcFileLogging = false;
  quiet.Settings.ShowCommand = SW_HIDE;
  tclPrc missing;
  missing.Settings.Launch.AppName = "C:\\Srv\\nothere.exe";
  missing.Settings.Launch.FullCommandLine = "C:\\Srv\\nothere.exe ";
  missing.Settings.PrcFileLogging = false;
  missing.Settings.StartPause = 0;
  tclPrc loud;
  kit::Configure(loud, "C:\\Srv\\beta.exe", Steady());

  ASSERT_TRUE(quiet.Launch());
  Log.FileLine("after the launch", true);  // lines of others still reach the file
  ASSERT_FALSE(missing.Launch());
  Log.FileLine("after the failure", true);
  ASSERT_TRUE(loud.Launch());
  ASSERT_TRUE(quiet.Stop(false));
  Log.FileLine("after the stop", true);
  ASSERT_TRUE(loud.Stop(false));

  EXPECT_EQ(LogMessages(), (Lines{"after the launch", "after the failure",
                                  "Started program C:\\Srv\\beta.exe", "after the stop",
                                  "Stopped process C:\\Srv\\beta.exe"}));
}

}  // namespace

// A window that opens after the launch's look-up is still probed and shown:
// otherwise a program that hangs after a slow start would never be caught.
TEST(PrcLateWindow, AWindowOpenedAfterTheLaunchIsProbedAndShown) {
  kit::FreshLog();
  sim::Program slow;
  slow.hasWindow = false;
  sim::AddProgram("C:\\Srv\\slow.exe", slow);
  tclPrc record;
  record.Settings.Launch.AppName = "C:\\Srv\\slow.exe";
  record.Settings.Launch.FullCommandLine = "C:\\Srv\\slow.exe ";
  record.Settings.StartPause = 0;
  record.Settings.NumOfRespChecks = 1;
  ASSERT_TRUE(record.Launch());
  DWORD child = sim::Launches().back().processId;
  EXPECT_FALSE(record.IsNotResponding());
  EXPECT_FALSE(record.ShowHide(true));

  sim::CreateWindowFor(child);
  EXPECT_TRUE(record.ShowHide(true));
  EXPECT_EQ(sim::Process(child).showCommands, std::vector<int>{SW_HIDE});
  sim::HangWindow(child, true);
  EXPECT_TRUE(record.IsNotResponding());
  EXPECT_TRUE(record.Stop(false));
}
