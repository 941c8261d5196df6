// One supervised program: launch, liveness, window probe, show/hide, priority
// and stop, against the simulated platform.
#include "supervision/tclPrc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/unit/TestKit.h"

namespace {

using kit::Lines;
using kit::LogMessages;

const char* const App = "C:\\Srv\\alpha.exe";

sim::Program Steady() { return sim::Program(); }

sim::Program Windowless() {
  sim::Program p;
  p.hasWindow = false;
  return p;
}

class PrcTest : public testing::Test {
 protected:
  void SetUp() override { kit::FreshLog(); }

  DWORD Child() { return kit::LastChildOf(rec.FullCommandLine); }

  tclPrc rec;
};

// --- Launch ---

TEST_F(PrcTest, LaunchPassesTheStoredSettingsToCreateProcess) {
  kit::Configure(rec, "C:\\Srv\\my srv.exe", Steady(), "-port 80");
  rec.PriorityClass = HIGH_PRIORITY_CLASS;
  rec.ShowCommand = SW_SHOWMINNOACTIVE;  // applied afterwards, never at creation
  rec.StartDir = "C:\\Srv\\work";

  ASSERT_TRUE(rec.Launch());

  auto launches = sim::Launches();
  ASSERT_EQ(launches.size(), 1u);
  const sim::LaunchRecord& l = launches[0];
  EXPECT_TRUE(l.applicationNameNull);
  EXPECT_EQ(l.commandLine, "C:\\Srv\\my srv.exe -port 80");
  EXPECT_EQ(l.creationFlags, DWORD(HIGH_PRIORITY_CLASS));
  EXPECT_EQ(l.startupFlags, DWORD(STARTF_USESHOWWINDOW));
  EXPECT_EQ(l.startupShowWindow, WORD(SW_SHOWNA));
  EXPECT_FALSE(l.currentDirectoryNull);
  EXPECT_EQ(l.currentDirectory, "C:\\Srv\\work");
  // No handle of the service (its log above all) reaches the child, and
  // handles to this child must not reach children started later.
  EXPECT_FALSE(l.inheritHandles);
  EXPECT_FALSE(l.processAttributesInherit);
  EXPECT_FALSE(l.threadAttributesInherit);
  EXPECT_EQ(sim::InheritableHandleCount(), 0);

  EXPECT_EQ(sim::Process(l.processId).priorityClass, DWORD(HIGH_PRIORITY_CLASS));
  EXPECT_TRUE(rec.IsRunning());
  EXPECT_EQ(LogMessages(), Lines{"Started program C:\\Srv\\my srv.exe"});
}

TEST_F(PrcTest, LaunchWithEmptyStartDirInheritsTheServiceDirectory) {
  kit::Configure(rec, App, Steady());
  rec.StartDir = "";

  ASSERT_TRUE(rec.Launch());
  auto launches = sim::Launches();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_TRUE(launches[0].currentDirectoryNull);
  EXPECT_TRUE(launches[0].succeeded);
  EXPECT_EQ(LogMessages(), Lines{"Started program C:\\Srv\\alpha.exe"});
}

TEST_F(PrcTest, LaunchWaitsStartPauseBeforeLookingForTheWindow) {
  kit::Configure(rec, App, Steady());
  rec.StartPause = 1500;
  ASSERT_TRUE(rec.Launch());
  EXPECT_GE(sim::Now(), 1500u);
  EXPECT_LE(sim::Now(), 3000u);  // the sleep plus at most the input-idle wait
}

TEST_F(PrcTest, FailedLaunchLogsTheErrorAndLeavesTheRecordIdle) {
  struct Case {
    const char* what;
    DWORD error;
  } cases[] = {{"unknown program", 2}, {"missing directory", 267}, {"refused", 5}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::Reset();
    kit::FreshLog();
    tclPrc r;
    if (c.error == 2) {
      r.AppName = "C:\\Srv\\nothere.exe";
      r.FullCommandLine = "C:\\Srv\\nothere.exe ";
      r.StartDir = "C:\\Srv";
      r.StartPause = 0;
    } else {
      sim::Program p;
      if (c.error == 5) p.failWithError = 5;
      kit::Configure(r, "C:\\Srv\\nothere.exe", p);
      if (c.error == 267) {
        r.StartDir = "C:\\Gone";
        sim::SetMissingDirectory("C:\\Gone");
      }
    }

    EXPECT_FALSE(r.Launch());
    EXPECT_FALSE(r.IsRunning());
    EXPECT_EQ(LogMessages(), Lines{"Error ( " + std::to_string(c.error) +
                                   " ): Failed to start program C:\\Srv\\nothere.exe"});
    // Not left busy: the next attempt reaches CreateProcessA again.
    EXPECT_FALSE(r.Launch());
    EXPECT_EQ(sim::Launches().size(), 2u);
    EXPECT_EQ(sim::OpenHandleCount(), 0);
  }
}

TEST_F(PrcTest, LaunchOfALiveChildIsRefusedSilently) {
  kit::Configure(rec, App, Steady());
  ASSERT_TRUE(rec.Launch());
  EXPECT_FALSE(rec.Launch());
  EXPECT_EQ(sim::Launches().size(), 1u);
  EXPECT_EQ(LogMessages(), Lines{"Started program C:\\Srv\\alpha.exe"});
}

TEST_F(PrcTest, WindowSettingIsAppliedAfterTheLaunch) {
  // Default setting: nothing is applied.
  kit::Configure(rec, App, Steady());
  ASSERT_TRUE(rec.Launch());
  EXPECT_TRUE(sim::Process(Child()).showCommands.empty());

  // Another setting goes to the child's own window, one line only.
  sim::Reset();
  kit::FreshLog();
  tclPrc minimised;
  kit::Configure(minimised, App, Steady());
  minimised.ShowCommand = SW_SHOWMINNOACTIVE;
  ASSERT_TRUE(minimised.Launch());
  EXPECT_EQ(sim::Process(kit::LastChildOf(minimised.FullCommandLine)).showCommands,
            std::vector<int>{SW_SHOWMINNOACTIVE});
  EXPECT_EQ(LogMessages(), Lines{"Started program C:\\Srv\\alpha.exe"});
}

TEST_F(PrcTest, WindowlessChildGetsTheWarningOnlyForANonDefaultSetting) {
  kit::Configure(rec, App, Windowless());
  rec.ShowCommand = SW_HIDE;
  EXPECT_TRUE(rec.Launch());
  EXPECT_EQ(LogMessages(), (Lines{"Started program C:\\Srv\\alpha.exe",
                                  "Warning: The window setting cannot be changed for this process."}));

  sim::Reset();
  kit::FreshLog();
  tclPrc plain;
  kit::Configure(plain, App, Windowless());
  EXPECT_TRUE(plain.Launch());
  EXPECT_EQ(LogMessages(), Lines{"Started program C:\\Srv\\alpha.exe"});
}

TEST_F(PrcTest, MainWindowIsTheChildsOwnNotTheFirstOnTheScreen) {
  DWORD foreign = sim::AddForeignProcessWithWindow();
  kit::Configure(rec, App, Steady());
  ASSERT_TRUE(rec.Launch());
  DWORD other = sim::AddForeignProcessWithWindow();  // now in front of the child's
  ASSERT_TRUE(rec.ShowHide(true));
  EXPECT_EQ(sim::Process(Child()).showCommands, std::vector<int>{SW_HIDE});
  EXPECT_TRUE(sim::Process(foreign).showCommands.empty());
  EXPECT_TRUE(sim::Process(other).showCommands.empty());
}

// --- Liveness and handles ---

TEST_F(PrcTest, NeverLaunchedRecordIsIdleEverywhere) {
  kit::Configure(rec, App, Steady());
  EXPECT_FALSE(rec.IsRunning());
  EXPECT_FALSE(rec.Stop(false));
  EXPECT_FALSE(rec.Stop(true));
  EXPECT_FALSE(rec.ShowHide(false));
  rec.NumOfRespChecks = 1;
  EXPECT_FALSE(rec.IsNotResponding());
  EXPECT_EQ(sim::Now(), 0u);
  EXPECT_TRUE(LogMessages().empty());
}

TEST_F(PrcTest, ChildThatExitsWithCode259IsSeenDeadAndCanBeRelaunched) {
  sim::Program p;
  p.exitAfterMs = 100;
  p.exitCode = STILL_ACTIVE;
  kit::Configure(rec, App, p);
  ASSERT_TRUE(rec.Launch());
  DWORD first = Child();
  sim::Advance(200);
  ASSERT_FALSE(sim::Process(first).alive);

  EXPECT_FALSE(rec.IsRunning());
  EXPECT_FALSE(rec.Stop(false));
  EXPECT_TRUE(rec.Launch());
  EXPECT_NE(Child(), first);
}

TEST_F(PrcTest, CrashLoopDoesNotLeakHandles) {
  sim::Program crashes;
  crashes.exitAfterMs = 50;
  kit::Configure(rec, App, crashes);
  for (int i = 0; i < 25; ++i) {
    ASSERT_TRUE(rec.Launch()) << "launch " << i;
    sim::Advance(100);
    ASSERT_FALSE(rec.IsRunning());
    // At most the handle of the child that just died, kept for the next probe.
    ASSERT_LE(sim::OpenHandleCount(), 1) << "after launch " << i;
  }
  EXPECT_EQ(sim::Launches().size(), 25u);
}

TEST_F(PrcTest, StoppedChildLeavesNoOpenHandle) {
  kit::Configure(rec, App, Steady());
  ASSERT_TRUE(rec.Launch());
  ASSERT_TRUE(rec.Stop(false));
  EXPECT_EQ(sim::OpenHandleCount(), 0);
}

// --- Stop ---

TEST_F(PrcTest, ChildThatHonoursQuitIsStopped) {
  sim::Program p;
  p.quitTakesMs = 300;
  kit::Configure(rec, App, p);
  ASSERT_TRUE(rec.Launch());
  DWORD child = Child();

  EXPECT_TRUE(rec.Stop(false));
  sim::ProcessState s = sim::Process(child);
  EXPECT_FALSE(s.alive);
  EXPECT_EQ(s.quitMessages, 1);
  EXPECT_FALSE(s.terminated);
  EXPECT_FALSE(rec.IsRunning());
  EXPECT_EQ(LogMessages(), (Lines{"Started program C:\\Srv\\alpha.exe",
                                  "Stopped process C:\\Srv\\alpha.exe"}));
}

TEST_F(PrcTest, ChildThatIgnoresQuitIsTerminatedAfterStopPause) {
  sim::Program p;
  p.ignoresQuit = true;
  kit::Configure(rec, App, p);
  rec.StopPause = 2500;
  ASSERT_TRUE(rec.Launch());
  DWORD child = Child();
  uint64_t before = sim::Now();

  EXPECT_TRUE(rec.Stop(false));
  EXPECT_EQ(sim::Now() - before, 2500u);
  sim::ProcessState s = sim::Process(child);
  EXPECT_EQ(s.quitMessages, 1);
  EXPECT_TRUE(s.terminated);
  EXPECT_EQ(s.exitCode, 0u);
  EXPECT_EQ(LogMessages(), (Lines{"Started program C:\\Srv\\alpha.exe",
                                  "Terminated process C:\\Srv\\alpha.exe"}));
}

TEST_F(PrcTest, StopPauseZeroTerminatesAtOnce) {
  kit::Configure(rec, App, Steady());
  rec.StopPause = 0;
  ASSERT_TRUE(rec.Launch());
  DWORD child = Child();

  EXPECT_TRUE(rec.Stop(false));
  EXPECT_EQ(sim::Now(), 0u);
  EXPECT_EQ(sim::Process(child).quitMessages, 0);
  EXPECT_TRUE(sim::Process(child).terminated);
  EXPECT_EQ(LogMessages().back(), "Terminated process C:\\Srv\\alpha.exe");
}

TEST_F(PrcTest, TerminationIsWaitedForAndALingeringChildIsNotReplaced) {
  sim::Program p;
  p.endsAfterTerminateMs = 1500;
  kit::Configure(rec, App, p);
  rec.StopPause = 0;
  ASSERT_TRUE(rec.Launch());
  DWORD child = Child();
  EXPECT_TRUE(rec.Stop(false));
  EXPECT_FALSE(sim::Process(child).alive) << "stopped means ended";
  EXPECT_EQ(sim::Now(), 1500u);

  p.endsAfterTerminateMs = -1;
  sim::AddProgram(App, p);
  ASSERT_TRUE(rec.Launch());
  DWORD stuck = Child();
  EXPECT_FALSE(rec.Stop(false));
  EXPECT_TRUE(rec.IsRunning());
  EXPECT_FALSE(rec.Launch()) << "nothing starts beside it";
  EXPECT_EQ(sim::LiveProcessIds(), std::vector<DWORD>{stuck});
  EXPECT_EQ(LogMessages().back(),
            "Warning: The process has not ended after its termination: C:\\Srv\\alpha.exe");
}

TEST_F(PrcTest, StopOfAChildThatAlreadyExitedLogsNothing) {
  sim::Program p;
  p.exitAfterMs = 10;
  kit::Configure(rec, App, p);
  ASSERT_TRUE(rec.Launch());
  sim::Advance(20);
  EXPECT_FALSE(rec.Stop(false));
  EXPECT_FALSE(rec.Stop(true));
  EXPECT_EQ(LogMessages(), Lines{"Started program C:\\Srv\\alpha.exe"});
}

// --- Busy records ---

TEST_F(PrcTest, BusyRecordRefusesLaunchStopAndShow) {
  kit::Configure(rec, App, Steady());
  ASSERT_TRUE(rec.Launch());
  DWORD child = Child();

  rec.Busy = true;  // another thread's stop is in progress
  EXPECT_FALSE(rec.Stop(false));
  EXPECT_FALSE(rec.ShowHide(true));
  EXPECT_FALSE(rec.ApplyShowCommand(SW_HIDE));
  EXPECT_TRUE(sim::Process(child).alive);
  EXPECT_EQ(sim::Process(child).quitMessages, 0);
  EXPECT_TRUE(sim::Process(child).showCommands.empty());
  rec.Busy = false;

  ASSERT_TRUE(rec.Stop(false));
  rec.Busy = true;  // another thread's launch is in progress
  EXPECT_FALSE(rec.Launch());
  EXPECT_EQ(sim::Launches().size(), 1u);
  rec.Busy = false;
}

TEST_F(PrcTest, StopWithWaitWaitsForTheOtherThreadToFinish) {
  kit::Configure(rec, App, Steady());
  ASSERT_TRUE(rec.Launch());
  DWORD child = Child();
  rec.Busy = true;

  std::atomic<bool> result{false};
  std::thread stopper([&] { result = rec.Stop(true); });
  // It polls in 1000 ms steps of the virtual clock and touches nothing meanwhile.
  EXPECT_TRUE(kit::WaitUntil([] { return sim::Now() >= 3000; }));
  EXPECT_TRUE(sim::Process(child).alive);
  EXPECT_EQ(sim::Process(child).quitMessages, 0);
  rec.Busy = false;
  stopper.join();

  EXPECT_TRUE(result);
  EXPECT_FALSE(sim::Process(child).alive);
  EXPECT_FALSE(rec.Busy);
}

TEST_F(PrcTest, StopWithWaitStopsALaunchThatIsInProgress) {
  kit::Configure(rec, App, Steady());
  std::atomic<bool> launched{false}, stopped{false};
  sim::HoldAt("CreateProcessA");
  std::thread launcher([&] { launched = rec.Launch(); });
  // The launch has claimed the record and waits to create the child.
  EXPECT_TRUE(sim::WaitHeld());
  EXPECT_TRUE(kit::WaitUntil([&] { return rec.Busy.load(); }));
  std::thread stopper([&] { stopped = rec.Stop(true); });
  EXPECT_TRUE(kit::WaitUntil([] { return sim::Now() >= 1000; }));  // it is waiting
  sim::ReleaseHold();
  launcher.join();
  stopper.join();

  EXPECT_TRUE(launched);
  EXPECT_TRUE(stopped);
  ASSERT_EQ(sim::Launches().size(), 1u);
  EXPECT_FALSE(sim::Process(sim::Launches()[0].processId).alive);
  EXPECT_TRUE(sim::LiveProcessIds().empty());
  Lines log = LogMessages();
  EXPECT_EQ(std::count(log.begin(), log.end(), "Started program C:\\Srv\\alpha.exe"), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "Stopped process C:\\Srv\\alpha.exe"), 1);
}

TEST_F(PrcTest, TwoThreadsLaunchingTogetherStartOneChild) {
  kit::Configure(rec, App, Steady());
  for (int round = 0; round < 200; ++round) {
    std::atomic<int> ready{0};
    std::atomic<int> started{0};
    auto launch = [&] {
      ++ready;
      while (ready < 2) std::this_thread::yield();
      if (rec.Launch()) ++started;
    };
    std::thread a(launch), b(launch);
    a.join();
    b.join();
    ASSERT_EQ(started, 1) << "round " << round;
    ASSERT_EQ(sim::LiveProcessIds().size(), 1u) << "round " << round;
    ASSERT_TRUE(rec.Stop(true));
  }
  EXPECT_EQ(sim::Launches().size(), 200u);
  EXPECT_EQ(sim::OpenHandleCount(), 0);
}

// --- Window probe ---

TEST_F(PrcTest, SingleCheckReportsTheFirstFailedProbeAndKeepsReporting) {
  kit::Configure(rec, App, Steady());
  rec.NumOfRespChecks = 1;
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
  rec.NumOfRespChecks = 1;
  rec.StopPause = 100;
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
  rec.NumOfRespChecks = 2;
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
  rec.NumOfRespChecks = 2;
  ASSERT_TRUE(rec.Launch());
  sim::HangWindow(Child(), true);
  EXPECT_FALSE(rec.IsNotResponding());  // 1

  rec.NumOfRespChecks = 0;
  uint64_t before = sim::Now();
  EXPECT_FALSE(rec.IsNotResponding());  // no probe, count back to 0
  rec.NumOfRespChecks = -3;
  EXPECT_FALSE(rec.IsNotResponding());
  EXPECT_EQ(sim::Now(), before);

  rec.NumOfRespChecks = 2;
  EXPECT_FALSE(rec.IsNotResponding());  // 1, not 2
  EXPECT_TRUE(rec.IsNotResponding());
}

TEST_F(PrcTest, WindowlessChildIsNeverProbed) {
  kit::Configure(rec, App, Windowless());
  rec.NumOfRespChecks = 1;
  ASSERT_TRUE(rec.Launch());
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(rec.IsNotResponding());
  EXPECT_EQ(sim::Now(), 0u);
  EXPECT_FALSE(rec.ShowHide(true));
}

TEST_F(PrcTest, ClosedWindowIsNotTakenForAHungOne) {
  kit::Configure(rec, App, Steady());
  rec.NumOfRespChecks = 1;
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
  rec.NumOfRespChecks = 1;
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
  sim::Program p;
  p.exitAfterMs = 10;
  kit::Configure(rec, App, p);
  ASSERT_TRUE(rec.Launch());
  sim::Advance(20);
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
  sim::Program p;
  p.exitAfterMs = 10;
  kit::Configure(rec, App, p);
  ASSERT_TRUE(rec.Launch());
  sim::Advance(20);
  tclPrc other;
  kit::Configure(other, "C:\\Srv\\beta.exe", Steady());
  ASSERT_TRUE(other.Launch());
  DWORD foreign = sim::AddForeignProcessWithWindow();

  EXPECT_TRUE(rec.SetPriority(HIGH_PRIORITY_CLASS));
  EXPECT_EQ(sim::Process(kit::LastChildOf(other.FullCommandLine)).priorityClass,
            DWORD(NORMAL_PRIORITY_CLASS));
  EXPECT_EQ(sim::Process(foreign).priorityClass, DWORD(NORMAL_PRIORITY_CLASS));
  ASSERT_TRUE(rec.Launch());
  EXPECT_EQ(sim::Launches().back().creationFlags, DWORD(HIGH_PRIORITY_CLASS));
}

// --- Logging switch ---

TEST_F(PrcTest, LoggingOffDropsOnlyThisProcessesLines) {
  tclPrc quiet;
  kit::Configure(quiet, App, Steady());
  quiet.PrcFileLogging = false;
  quiet.ShowCommand = SW_HIDE;
  tclPrc missing;
  missing.AppName = "C:\\Srv\\nothere.exe";
  missing.FullCommandLine = "C:\\Srv\\nothere.exe ";
  missing.PrcFileLogging = false;
  missing.StartPause = 0;
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
  record.AppName = "C:\\Srv\\slow.exe";
  record.FullCommandLine = "C:\\Srv\\slow.exe ";
  record.StartPause = 0;
  record.NumOfRespChecks = 1;
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
