// One supervision pass over the table, on the virtual clock.
#include <gtest/gtest.h>

#include "tests/unit/TestKit.h"
#include "supervision/StatusFile.h"
#include "supervision/tclPrcList.h"

namespace {

using kit::Lines;
using kit::LogMessages;

std::string AppOf(int n) { return "C:\\Srv\\prog" + std::to_string(n) + ".exe"; }

class CheckAllTest : public testing::Test {
 protected:
  void SetUp() override { kit::FreshLog(); }

  void Table(int32_t n, const sim::Program& program = sim::Program()) {
    kit::FreshTable(n);
    for (int32_t i = 0; i < n; ++i) kit::Configure(PrcList.Records[i], AppOf(i), program);
  }

  DWORD ChildOf(int n) {
    return kit::LastChildOf(PrcList.Records[n].Settings.Launch.FullCommandLine);
  }

  // Virtual time one pass takes.
  uint64_t Pass() {
    uint64_t before = sim::Now();
    PrcList.CheckAll();
    return sim::Now() - before;
  }

  // Log messages written since the last call.
  Lines NewLines() {
    Lines all = LogMessages();
    Lines fresh(all.begin() + std::min(seen_, all.size()), all.end());
    seen_ = all.size();
    return fresh;
  }

 private:
  size_t seen_ = 0;
};

// --- Time budget of a pass ---

TEST_F(CheckAllTest, PassSleepsRestartIntervalSpreadOverTheProcesses) {
  Table(3);
  PrcList.StartAll();
  EXPECT_EQ(Pass(), 999u);  // 3 x 333

  sim::Reset();
  kit::FreshLog();
  Table(4);
  PrcList.Records[1].Settings.AutoRestart = false;  // skipped ones are waited for too
  PrcList.Records[2].Paused = true;
  PrcList.StartAll();
  EXPECT_EQ(Pass(), 1000u);
  EXPECT_EQ(LogMessages().size(), 3u);  // StartAll's lines only
}

TEST_F(CheckAllTest, PassWithoutProcessesSleepsTheWholeInterval) {
  kit::FreshTable(0);
  EXPECT_EQ(Pass(), 1000u);
  PrcList.RestartInterval = 250;
  EXPECT_EQ(Pass(), 250u);
  PrcList.RestartInterval = 0;
  EXPECT_EQ(Pass(), 0u);
}

TEST_F(CheckAllTest, ShortIntervalsGiveZeroDelay) {
  Table(2);
  PrcList.StartAll();
  PrcList.RestartInterval = 0;
  EXPECT_EQ(Pass(), 0u);

  sim::Reset();
  Table(127);
  for (int n = 0; n < 127; ++n) PrcList.Records[n].Settings.AutoRestart = false;
  PrcList.RestartInterval = 100;
  EXPECT_EQ(Pass(), 0u);
  EXPECT_TRUE(sim::Launches().empty());
}

TEST_F(CheckAllTest, PassDuringStartAllReturnsAtOnce) {
  Table(2);
  PrcList.StartingAll = true;
  EXPECT_EQ(Pass(), 0u);
  EXPECT_TRUE(sim::Launches().empty());
  EXPECT_TRUE(LogMessages().empty());
  PrcList.StartingAll = false;
}

// --- Restarts ---

TEST_F(CheckAllTest, ExitedProcessIsRestartedInTheNextPass) {
  Table(3);
  PrcList.StartAll();
  NewLines();
  sim::KillProcess(ChildOf(1), 1);
  DWORD old = ChildOf(1);

  Pass();
  EXPECT_EQ(NewLines(), (Lines{"Process (1): Attempting to restart program: " + AppOf(1),
                               "Started program " + AppOf(1)}));
  EXPECT_NE(ChildOf(1), old);
  EXPECT_TRUE(sim::Process(ChildOf(1)).alive);
  EXPECT_EQ(sim::LiveProcessIds().size(), 3u);

  Pass();  // all alive: nothing to do
  EXPECT_TRUE(NewLines().empty());
}

TEST_F(CheckAllTest, RestartWhileStartsAreBlockedIsReportedAndRetried) {
  Table(1);
  PrcList.StartsBlocked = true;
  Pass();
  EXPECT_EQ(NewLines(), (Lines{"Process (0): Attempting to restart program: " + AppOf(0),
                               "The program could not be restarted at this time."}));
  EXPECT_TRUE(sim::Launches().empty());

  PrcList.StartsBlocked = false;
  Pass();
  EXPECT_EQ(NewLines(), (Lines{"Process (0): Attempting to restart program: " + AppOf(0),
                               "Started program " + AppOf(0)}));
}

TEST_F(CheckAllTest, FailedRestartShowsTheLaunchErrorAndIsRetriedEveryPass) {
  kit::FreshTable(1);
  tclPrc& r = PrcList.Records[0];
  r.Settings.Launch.AppName = "C:\\Srv\\nothere.exe";
  r.Settings.Launch.FullCommandLine = "C:\\Srv\\nothere.exe ";
  r.Settings.AutoRestart = true;
  r.Settings.StartPause = 0;
  for (int pass = 0; pass < 2; ++pass) {
    Pass();
    EXPECT_EQ(NewLines(), (Lines{"Process (0): Attempting to restart program: C:\\Srv\\nothere.exe",
                                 "Error ( 2 ): Failed to start program C:\\Srv\\nothere.exe",
                                 "The program could not be restarted at this time."}));
  }
  EXPECT_EQ(sim::Launches().size(), 2u);
}

TEST_F(CheckAllTest, ProcessThatExitedWith259IsRestarted) {
  sim::Program p;
  p.exitAfterMs = 100;
  p.exitCode = STILL_ACTIVE;
  Table(1, p);
  PrcList.StartAll();
  sim::Advance(200);
  NewLines();
  Pass();
  EXPECT_EQ(NewLines(), (Lines{"Process (0): Attempting to restart program: " + AppOf(0),
                               "Started program " + AppOf(0)}));
}

// --- Hung windows ---

TEST_F(CheckAllTest, HungProcessIsStoppedAfterItsChecksAndRestartedInThePassAfter) {
  sim::Program p;
  p.ignoresQuit = true;
  Table(2, p);
  PrcList.Records[1].Settings.NumOfRespChecks = 2;
  PrcList.StartAll();
  NewLines();
  DWORD hung = ChildOf(1);
  sim::HangWindow(hung, true);

  EXPECT_EQ(Pass(), 1000u + 1000u);  // the interval plus one timed-out probe
  EXPECT_TRUE(NewLines().empty());

  Pass();
  EXPECT_EQ(NewLines(), (Lines{"Process (1): Program is not responding: " + AppOf(1),
                               "Terminated process " + AppOf(1)}));
  EXPECT_TRUE(sim::Process(hung).terminated);
  EXPECT_FALSE(PrcList.IsRunning(1));
  EXPECT_EQ(kit::LaunchCountOf(PrcList.Records[1].Settings.Launch.FullCommandLine),
            1u);  // not in this pass

  Pass();
  EXPECT_EQ(NewLines(), (Lines{"Process (1): Attempting to restart program: " + AppOf(1),
                               "Started program " + AppOf(1)}));
  EXPECT_NE(ChildOf(1), hung);
  EXPECT_TRUE(sim::Process(ChildOf(0)).alive);  // the other one untouched
  EXPECT_EQ(sim::Process(ChildOf(0)).quitMessages, 0);
}

TEST_F(CheckAllTest, SingleCheckStopsAtTheFirstFailedProbe) {
  Table(1);
  PrcList.Records[0].Settings.NumOfRespChecks = 1;
  PrcList.StartAll();
  NewLines();
  sim::HangWindow(ChildOf(0), true);
  Pass();
  EXPECT_EQ(NewLines(), (Lines{"Process (0): Program is not responding: " + AppOf(0),
                               "Stopped process " + AppOf(0)}));
}

TEST_F(CheckAllTest, WindowThatAnswersAgainIsNotStopped) {
  Table(1);
  PrcList.Records[0].Settings.NumOfRespChecks = 2;
  PrcList.StartAll();
  NewLines();
  DWORD child = ChildOf(0);
  for (int i = 0; i < 3; ++i) {
    sim::HangWindow(child, true);
    Pass();
    sim::HangWindow(child, false);
    Pass();
  }
  EXPECT_TRUE(NewLines().empty());
  EXPECT_TRUE(sim::Process(child).alive);
}

TEST_F(CheckAllTest, ChildThatClosedItsWindowIsNotKilledAsHung) {
  Table(1);
  PrcList.Records[0].Settings.NumOfRespChecks = 1;
  PrcList.StartAll();
  NewLines();
  DWORD child = ChildOf(0);
  sim::DestroyWindow(child);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Pass(), 1000u);
  EXPECT_TRUE(NewLines().empty());
  EXPECT_TRUE(sim::Process(child).alive);
}

// --- Processes left alone ---

TEST_F(CheckAllTest, NoAutoRestartOrPausedMeansNeitherProbedNorRestarted) {
  Table(4);
  for (int n = 0; n < 4; ++n) PrcList.Records[n].Settings.NumOfRespChecks = 1;
  PrcList.Records[0].Settings.AutoRestart = false;
  PrcList.Records[1].Settings.AutoRestart = false;
  PrcList.StartAll();
  PrcList.Pause(2);
  PrcList.Pause(3);
  NewLines();
  sim::HangWindow(ChildOf(0), true);
  sim::KillProcess(ChildOf(1), 0);
  sim::HangWindow(ChildOf(2), true);
  sim::KillProcess(ChildOf(3), 0);

  for (int i = 0; i < 3; ++i) EXPECT_EQ(Pass(), 1000u);  // no probe time-outs
  EXPECT_TRUE(NewLines().empty());
  EXPECT_EQ(sim::Launches().size(), 4u);
  EXPECT_TRUE(sim::Process(ChildOf(0)).alive);
  EXPECT_TRUE(sim::Process(ChildOf(2)).alive);
}

TEST_F(CheckAllTest, ResumedProcessIsRestartedByTheNextPass) {
  Table(2);
  PrcList.StartAll();
  PrcList.Pause(1);
  sim::KillProcess(ChildOf(1), 0);
  NewLines();
  Pass();
  EXPECT_TRUE(NewLines().empty());

  PrcList.Resume(1);
  Pass();
  EXPECT_EQ(NewLines(), (Lines{"Process (1): Attempting to restart program: " + AppOf(1),
                               "Started program " + AppOf(1)}));
}

TEST_F(CheckAllTest, PausedHungProcessKeepsItsCountUntouched) {
  Table(1);
  PrcList.Records[0].Settings.NumOfRespChecks = 2;
  PrcList.StartAll();
  NewLines();
  sim::HangWindow(ChildOf(0), true);
  Pass();  // 1
  PrcList.Pause(0);
  Pass();
  Pass();
  PrcList.Resume(0);
  EXPECT_TRUE(NewLines().empty());
  Pass();  // 2
  EXPECT_EQ(NewLines().at(0), "Process (0): Program is not responding: " + AppOf(0));
}

TEST_F(CheckAllTest, LinesOfAProcessWithLoggingOffAreDropped) {
  Table(2);
  PrcList.Records[0].Settings.PrcFileLogging = false;
  PrcList.StartsBlocked = true;
  Pass();
  PrcList.StartsBlocked = false;
  Pass();
  EXPECT_EQ(LogMessages(), (Lines{"Process (1): Attempting to restart program: " + AppOf(1),
                                  "The program could not be restarted at this time.",
                                  "Process (1): Attempting to restart program: " + AppOf(1),
                                  "Started program " + AppOf(1)}));
  EXPECT_EQ(sim::LiveProcessIds().size(), 2u);
  EXPECT_TRUE(Log.FileEnabled());
}

// --- Restart back-off (ticks on the virtual clock, starting just before
// their wrap) ---

class BackOffTest : public CheckAllTest {
 protected:
  void SetUp() override {
    CheckAllTest::SetUp();
    sim::AdvanceTicks(0xFFFFFFFFu - 2500);
    sim::TicksFollowClock(true);
    Table(1, Crashing());
    PrcList.Records[0].Settings.MinUptime = 5000;
    PrcList.Records[0].Settings.MaxRestartDelay = 3000;
    PrcList.StartAll();
    NewLines();
  }

  static sim::Program Crashing() {
    sim::Program p;
    p.exitAfterMs = 100;
    return p;
  }

  // The delays begun over that many passes, and the launches among the lines.
  std::vector<int> Delays(int passes, size_t* launches = nullptr, int lifetime = 100) {
    std::vector<int> delays;
    for (int i = 0; i < passes; ++i) {
      EXPECT_EQ(Pass(), 1000u);
      Count(NewLines(), delays, launches, lifetime);
    }
    return delays;
  }

  static void Count(const Lines& lines, std::vector<int>& delays, size_t* launches, int lifetime) {
    for (const std::string& line : lines) {
      int d = 0, ran = 0;
      if (sscanf(line.c_str(), "Process (0): Restart delayed by %d ms: the program ran only %d ms.",
                 &d, &ran) == 2) {
        EXPECT_EQ(ran, lifetime) << line;   // not the time until a pass saw it gone
        delays.push_back(d);
      }
      if (launches != nullptr) *launches += line == "Started program " + AppOf(0);
    }
  }
};

TEST_F(BackOffTest, DelaysDoubleUpToTheCeilingWithoutLengtheningThePass) {
  size_t launches = 0;
  EXPECT_EQ(Delays(12, &launches), (std::vector<int>{1000, 2000, 3000, 3000}));
  EXPECT_EQ(launches, 3u);   // each restart waits out its delay in whole passes
  uint32_t remaining = 0;
  EXPECT_TRUE(PrcList.Records[0].IsWaitingToRestart(&remaining));
  EXPECT_EQ(remaining, 1000u);
  std::vector<ProgramStatus> rows = ProgramStatuses(PrcList);
  EXPECT_EQ(rows[0].State, "waiting");
  EXPECT_EQ(rows[0].ProcessId, "-");
}

// StartPause and the pass that notices the exit are no part of the run: with
// the default pauses a MinUptime of 1.9 s still catches a program that dies
// after 0.1 s.
TEST_F(BackOffTest, ARunIsTheProgramsOwnLifetimeWithTheDefaultPauses) {
  PrcList.Records[0].Settings.StartPause = 1000;
  PrcList.Records[0].Settings.MinUptime = 1900;
  std::vector<int> delays;
  size_t launches = 0;
  for (int pass = 0; pass < 10; ++pass) {
    Pass();
    Count(NewLines(), delays, &launches, 100);
  }
  EXPECT_EQ(delays, (std::vector<int>{1000, 2000, 3000}));
  EXPECT_EQ(launches, 3u);
}

TEST_F(BackOffTest, LongRunResetsTheCountAndStartFromTheConsoleOverridesTheDelay) {
  EXPECT_EQ(Delays(4), (std::vector<int>{1000, 2000}));
  ASSERT_TRUE(PrcList.Records[0].IsWaitingToRestart());
  sim::AddProgram(AppOf(0), sim::Program());
  ASSERT_TRUE(PrcList.StartNow(0));   // at once, inside the delay
  EXPECT_FALSE(PrcList.Records[0].IsWaitingToRestart());
  Delays(6);
  sim::AddProgram(AppOf(0), Crashing());
  sim::KillProcess(ChildOf(0), 1);    // after a run of 6 s: no delay
  EXPECT_TRUE(Delays(1).empty());
  EXPECT_EQ(Delays(2), (std::vector<int>{1000}));   // counted from the first again
}

TEST_F(BackOffTest, AdministratorsStopIsNoFailureAndPauseHoldsAnExpiredDelay) {
  sim::AddProgram(AppOf(0), sim::Program());
  sim::Advance(200);
  ASSERT_TRUE(PrcList.StartNow(0));
  ASSERT_TRUE(PrcList.Stop(0, false));
  Delays(1);
  EXPECT_TRUE(PrcList.IsRunning(0));   // restarted by the next pass, no delay

  sim::AddProgram(AppOf(0), Crashing());
  sim::KillProcess(ChildOf(0), 1);   // as soon as its launch was done
  EXPECT_EQ(Delays(1, nullptr, 1000).size(), 1u);
  PrcList.Pause(0);
  size_t launches = 0;
  Delays(3, &launches);
  EXPECT_EQ(launches, 0u);
  PrcList.Resume(0);
  Delays(1, &launches);
  EXPECT_EQ(launches, 1u);
}

TEST_F(BackOffTest, HungProgramStoppedByThePassStartsItsDelayThen) {
  sim::Program hangs;
  hangs.hangAfterMs = 0;
  sim::AddProgram(AppOf(0), hangs);
  PrcList.Records[0].Settings.NumOfRespChecks = 1;
  PrcList.RestartInterval = 100;
  sim::Advance(200);
  ASSERT_TRUE(PrcList.StartNow(0));
  NewLines();
  Pass();
  EXPECT_EQ(NewLines(), (Lines{"Process (0): Program is not responding: " + AppOf(0),
                               "Stopped process " + AppOf(0),
                               "Process (0): Restart delayed by 1000 ms: the program ran only "
                               "1000 ms."}));   // until the probe timed out and it quit
  Pass();
  EXPECT_TRUE(NewLines().empty());
}

// --- The failure command ---

// The pass goes on while a command hangs; a failure meanwhile reaches the next.
TEST_F(CheckAllTest, TheFailureCommandIsNotWaitedForAndFailuresMeanwhileArePassedOn) {
  const std::string command = "C:\\Tools\\notify.exe";
  sim::AddProgram(command, kit::Windowless());
  sim::Program fails;
  fails.exitAfterMs = 10;
  fails.exitCode = 3;   // a failure in every pass
  Table(1, fails);
  PrcList.Records[0].Settings.ProcessName = "web";
  PrcList.Records[0].Settings.Failure.Command = command + " -all";
  PrcList.StartAll();
  const std::string ended = "Process (0): The failure command was ended after 30000 ms";
  sim::HoldAt("TerminateJobObject");   // its waiter, at the time-out
  for (int pass = 0; pass < 3; ++pass) {
    if (pass == 2) {
      sim::ReleaseHold();
      ASSERT_TRUE(kit::WaitUntil([&] { return kit::Count(LogMessages(), ended) == 1; }));
      EXPECT_FALSE(sim::Process(kit::LastChildOf(command)).alive);
    }
    sim::Advance(20);
    NewLines();
    Pass();
    ASSERT_TRUE(pass != 0 || sim::WaitHeld());
    EXPECT_EQ(NewLines().front(), pass == 1 ? "Process (0): Attempting to restart program: " +
                                                  AppOf(0)   // the second failure runs none
                                            : "Process (0): Ran the failure command (exit): " +
                                                  command + " -all");
  }
  std::vector<sim::LaunchRecord> launches = sim::Launches();
  const sim::LaunchRecord& run = launches[launches.size() - 2];   // before the restart
  EXPECT_TRUE(!run.inheritHandles && (run.creationFlags & CREATE_NO_WINDOW) &&
              run.startupShowWindow == SW_HIDE);
  EXPECT_EQ(run.environment,   // the service's own, sorted as Windows wants
            (Lines{"=C:=C:\\QuarnLoader", "Path=C:\\Windows", "QL_APP=" + AppOf(0),
                   "QL_EVENT=exit", "QL_EXITCODE=3", "QL_MISSED=1", "QL_NAME=web", "QL_NUMBER=0",
                   "QL_RESTARTS=2"}));
  ASSERT_TRUE(kit::WaitUntil([&] { return kit::Count(LogMessages(), ended) == 2; }));
}

}  // namespace
