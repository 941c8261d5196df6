// One supervised program: launch, liveness, stop and busy records, against
// the simulated platform. The window probe, show/hide, priority and the
// logging switch are in tclPrcWindow_test.cpp.
#include "supervision/tclPrc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "tests/unit/TestKit.h"

namespace {

using kit::Lines;
using kit::LogMessages;
using kit::PrcTest;
using kit::Steady;
using kit::Windowless;

// --- Launch ---

TEST_F(PrcTest, LaunchPassesTheStoredSettingsToCreateProcess) {
  kit::Configure(rec, "C:\\Srv\\my srv.exe", Steady(), "-port 80");
  rec.PriorityClass = HIGH_PRIORITY_CLASS;
  rec.Settings.ShowCommand = SW_SHOWMINNOACTIVE;  // applied afterwards, never at creation
  rec.Settings.Launch.StartDir = "C:\\Srv\\work";
  const char block[] = "A=1\0Path=C:\\x\0";   // the terminator is the second NUL
  rec.Settings.Launch.Environment = std::string(block, sizeof block);

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
  EXPECT_EQ(l.environment, (std::vector<std::string>{"A=1", "Path=C:\\x"}));
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
  rec.Settings.Launch.StartDir = "";

  ASSERT_TRUE(rec.Launch());
  auto launches = sim::Launches();
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_TRUE(launches[0].currentDirectoryNull);
  EXPECT_TRUE(launches[0].environmentNull);   // no variables of its own: it inherits ours too
  EXPECT_TRUE(launches[0].succeeded);
  EXPECT_EQ(LogMessages(), Lines{"Started program C:\\Srv\\alpha.exe"});
}

TEST_F(PrcTest, LaunchWaitsStartPauseBeforeLookingForTheWindow) {
  kit::Configure(rec, App, Steady());
  rec.Settings.StartPause = 1500;
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
      r.Settings.Launch.AppName = "C:\\Srv\\nothere.exe";
      r.Settings.Launch.FullCommandLine = "C:\\Srv\\nothere.exe ";
      r.Settings.Launch.StartDir = "C:\\Srv";
      r.Settings.StartPause = 0;
    } else {
      sim::Program p;
      if (c.error == 5) p.failWithError = 5;
      kit::Configure(r, "C:\\Srv\\nothere.exe", p);
      if (c.error == 267) {
        r.Settings.Launch.StartDir = "C:\\Gone";
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
  minimised.Settings.ShowCommand = SW_SHOWMINNOACTIVE;
  ASSERT_TRUE(minimised.Launch());
  EXPECT_EQ(sim::Process(kit::LastChildOf(minimised.Settings.Launch.FullCommandLine)).showCommands,
            std::vector<int>{SW_SHOWMINNOACTIVE});
  EXPECT_EQ(LogMessages(), Lines{"Started program C:\\Srv\\alpha.exe"});
}

TEST_F(PrcTest, WindowlessChildGetsTheWarningOnlyForANonDefaultSetting) {
  kit::Configure(rec, App, Windowless());
  rec.Settings.ShowCommand = SW_HIDE;
  EXPECT_TRUE(rec.Launch());
  EXPECT_EQ(LogMessages(),
            (Lines{"Started program C:\\Srv\\alpha.exe",
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
  rec.Settings.NumOfRespChecks = 1;
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
  rec.Settings.StopPause = 2500;
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
  rec.Settings.StopPause = 0;
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
  rec.Settings.StopPause = 0;
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
  LaunchAChildThatExits();
  EXPECT_FALSE(rec.Stop(false));
  EXPECT_FALSE(rec.Stop(true));
  EXPECT_EQ(LogMessages(), Lines{"Started program C:\\Srv\\alpha.exe"});
}

// --- The process tree ---

sim::Program Launcher(bool ignoresQuit) {
  sim::Program p;
  p.children = 2;
  p.ignoresQuit = ignoresQuit;
  return p;
}

bool AnyAlive(const std::vector<DWORD>& ids) {
  return std::any_of(ids.begin(), ids.end(), [](DWORD id) { return sim::Process(id).alive; });
}

TEST_F(PrcTest, StopEndsTheWholeTreeWhetherOrNotTheMainProcessQuits) {
  for (bool ignoresQuit : {false, true}) {
    kit::Configure(rec, App, Launcher(ignoresQuit));
    rec.Settings.StopProcessTree = true;
    ASSERT_TRUE(rec.Launch());
    EXPECT_EQ(sim::Launches().back().creationFlags, NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED);
    EXPECT_FALSE(sim::Process(Child()).suspended);
    std::vector<DWORD> tree = sim::ChildProcessIds(Child());
    ASSERT_EQ(tree.size(), 2u);
    EXPECT_TRUE(sim::Process(tree[1]).inJob);

    EXPECT_TRUE(rec.Stop(false));
    EXPECT_FALSE(AnyAlive(tree));
    EXPECT_EQ(sim::Process(Child()).terminated, ignoresQuit);
    EXPECT_EQ(LogMessages().back(),
              (ignoresQuit ? "Terminated process " : "Stopped process ") + std::string(App));
    EXPECT_EQ(sim::OpenHandleCount(), 0);   // the job's handle too
    EXPECT_EQ(sim::InheritableHandleCount(), 0);
  }
}

TEST_F(PrcTest, TreeOfAMainProcessThatEndedByItselfGoesBeforeTheRestart) {
  kit::Configure(rec, App, Launcher(false));
  rec.Settings.StopProcessTree = true;
  ASSERT_TRUE(rec.Launch());
  std::vector<DWORD> first = sim::ChildProcessIds(Child());
  sim::KillProcess(Child(), 1);
  ASSERT_TRUE(rec.Launch());
  EXPECT_FALSE(AnyAlive(first));
  std::vector<DWORD> second = sim::ChildProcessIds(Child());
  EXPECT_TRUE(AnyAlive(second));

  sim::KillProcess(Child(), 1);   // the pass that sees the exit ends them
  EXPECT_EQ(rec.SettleExit().Delay, 0u);
  EXPECT_FALSE(AnyAlive(second));
  EXPECT_EQ(sim::OpenHandleCount(), 1);   // only the dead main process's

  // So does the service's stop, when no pass has seen the exit yet.
  ASSERT_TRUE(rec.Launch());
  std::vector<DWORD> third = sim::ChildProcessIds(Child());
  sim::KillProcess(Child(), 1);
  EXPECT_FALSE(rec.Stop(true));
  EXPECT_FALSE(AnyAlive(third));
}

// A paused program, or one without AutoRestart, has no pass to end what its
// main process left behind: an administrator's stop does, and still answers
// that there was no process to stop.
TEST_F(PrcTest, StopOfAnEndedMainProcessEndsWhatItsTreeLeft) {
  kit::Configure(rec, App, Launcher(false));
  rec.Settings.StopProcessTree = true;
  rec.Settings.AutoRestart = false;
  ASSERT_TRUE(rec.Launch());
  std::vector<DWORD> tree = sim::ChildProcessIds(Child());
  sim::KillProcess(Child(), 1);
  EXPECT_FALSE(rec.Stop(false));
  EXPECT_FALSE(AnyAlive(tree));
}

TEST_F(PrcTest, WithoutItsJobTheProgramStartsAsBeforeAfterOneWarning) {
  kit::Configure(rec, App, Launcher(false));
  rec.Settings.StopProcessTree = true;
  for (const char* failing :
       {"CreateJobObjectA", "SetInformationJobObject", "AssignProcessToJobObject"}) {
    sim::FailNext(failing, ERROR_ACCESS_DENIED);
    size_t before = LogMessages().size();
    ASSERT_TRUE(rec.Launch());
    EXPECT_EQ(LogMessages(before),
              (Lines{"Warning ( 5 ): The process tree cannot be stopped for program " +
                         std::string(App),
                     "Started program " + std::string(App)}));
    EXPECT_FALSE(sim::Process(Child()).suspended) << failing;
    std::vector<DWORD> tree = sim::ChildProcessIds(Child());
    EXPECT_TRUE(rec.Stop(false));
    EXPECT_TRUE(AnyAlive(tree)) << failing;
    EXPECT_EQ(sim::OpenHandleCount(), 0) << failing;
  }
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

}  // namespace
