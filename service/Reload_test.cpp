// The reload: matching the file's programs against the running ones, what it
// refuses, and a console command or a service stop that meets it.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "service/ControlCodes.h"
#include "supervision/StatusFile.h"
#include "tests/unit/TestKit.h"

using kit::Lines;
using kit::LogMessages;

namespace {

const std::string A = "C:\\Apps\\a.exe", B = "C:\\Apps\\b.exe", C = "C:\\Apps\\c.exe",
                  D = "C:\\Apps\\d.exe", E = "C:\\Apps\\e.exe";
const int32_t NewChild = -1, NoChild = -2;
const size_t npos = std::string::npos;

std::string Section(int n, const std::string& app, int port, const std::string& more = "") {
  return "[Process_" + std::to_string(n) + "]\r\nAppName=" + app + "\r\nCommandLine=-port " +
         std::to_string(port) + "\r\n" + more;
}

const std::string Base = Section(0, A, 0) + Section(1, B, 1) + Section(2, C, 2);

std::string Reloaded(int added, int changed, int removed, int unchanged) {
  return "The configuration was reloaded: " + std::to_string(added) + " added, " +
         std::to_string(changed) + " changed, " + std::to_string(removed) + " removed, " +
         std::to_string(unchanged) + " unchanged.";
}

DWORD Pid(int32_t n) {
  tclPrcFacts facts = PrcList.Records[n].Facts();
  return facts.Alive ? facts.ProcessId : 0;
}

// The service as loaded from Base, every program started; their children.
std::vector<DWORD> Begin(const sim::Program& b = sim::Program()) {
  sim::Reset();
  kit::FreshGlobals();
  for (const std::string& app : {A, C, D, E}) sim::AddProgram(app, sim::Program());
  sim::AddProgram(B, b);
  sim::WriteFile(kit::IniPath, Base);
  EXPECT_TRUE(PrcList.LoadFromIni());
  BeginStatus();
  PrcList.StartAll();
  return {Pid(0), Pid(1), Pid(2)};
}

// Program 2 is paused at the console first: only a change of the file's own
// Paused may undo that.
TEST(Reload, TheFilesProgramsAreMatchedAgainstTheRunningOnes) {
  struct Case {
    std::string file;                           // "" removes it
    Lines log;                                  // after "Reloading the configuration file ..."
    std::vector<int32_t> children = {0, 1, 2};  // per number: the old number whose child it has
  } cases[] = {
      {Section(0, A, 0, "StopPause=3000\r\n") + Section(1, B, 1, "Paused=no\r\n") +
           Section(2, C, 2, "ProcessName=c\r\nHealthCheck=tcp\r\nHealthPort=8080\r\n"),
       {"Process (0): Changed without a restart: StopPause",
        "Process (2): Changed without a restart: ProcessName, HealthCheck, HealthPort",
        Reloaded(0, 2, 0, 1)}},
      // B's new variable is a new launch setting: restarted, not changed in place.
      {Section(0, C, 2) + Section(1, B, 1, "Env_0=PORT=9\r\n"),
       {"Process (0): Removed: " + A, "Process (2): Moved to number 0: " + C,
        "Process (1): Restarted with new launch settings: " + B, "Stopped process " + A,
        "Stopped process " + B, Reloaded(0, 1, 1, 1), "Started program " + B},
       {2, NewChild}},
      {"[Settings]\r\nRestartInterval=500\r\nServiceName=Other\r\n" + Base + Section(3, D, 3) +
           Section(4, E, 4, "Paused=yes\r\n"),
       {"Process (3): Added: " + D, "Process (4): Added: " + E,
        "Settings: RestartInterval is now 500.",
        "Warning: The new ServiceName cannot apply to the running service: it is left as it is.",
        Reloaded(2, 0, 0, 3), "Started program " + D},
       {0, 1, 2, NewChild, NoChild}},
      {"",
       {std::string("The configuration was not reloaded: the file is missing: ") + kit::IniPath}},
      {Section(0, A, 0) + Section(2, C, 2),
       {"The configuration was not reloaded: Process_1 has no AppName, but Process_2 has one: a "
        "gap hides the sections after it."}},
      {"[Settings]\r\n",
       {"The configuration was not reloaded: the file lists no program, while 3 are configured."}},
      // The console pause of C leaves with it: D is a program of its own.
      {Section(0, A, 0) + Section(1, B, 1) + Section(2, D, 3),
       {"Process (2): Restarted with new launch settings: " + D, Reloaded(0, 1, 0, 2),
        "Started program " + D},
       {0, 1, NewChild}},
      // An error line names its program, as the section header does at the start.
      {Section(0, A, 0) + Section(1, B, 1, "HealthCheck=tcp\r\n") + Section(2, C, 2),
       {"Process (1): Error: The health check is not run: HealthPort must be from 1 to 65535.",
        Reloaded(0, 0, 0, 3)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log.front());
    std::vector<DWORD> before = Begin();
    PrcList.Pause(2);
    PrcList.Stop(2, true);
    size_t from = LogMessages().size();
    c.file.empty() ? sim::RemoveFile(kit::IniPath) : sim::WriteFile(kit::IniPath, c.file);
    AskForReload();
    ReloadIfAsked();

    Lines log = LogMessages(from + 1);
    auto stop = [](const std::string& line) { return line.rfind("Stopped process ", 0) == 0; };
    auto first = std::find_if(log.begin(), log.end(), stop);
    std::sort(first, std::find_if_not(first, log.end(), stop));   // stopped together: any order
    EXPECT_EQ(log, c.log);
    ASSERT_EQ(PrcList.Count, int32_t(c.children.size()));
    for (int32_t n = 0; n < PrcList.Count; ++n) {
      int32_t had = c.children[size_t(n)];
      bool paused = had == 2 || had == NoChild;
      EXPECT_EQ(PrcList.IsPaused(n), paused) << n;
      if (had == NewChild)
        EXPECT_NE(Pid(n), 0u) << n;
      else
        EXPECT_EQ(Pid(n), had >= 0 && !paused ? before[size_t(had)] : 0) << n;
    }
  }
}

// b ignores the request to quit: the reload that drops it is held at its
// termination.
TEST(Reload, ACommandOrAStopMeetingAReloadFindsTheNewTable) {
  struct Case {
    std::vector<DWORD> controls;
    std::vector<bool> alive;  // a, c (moved to 1), d (added)
  } cases[] = {
      {{OpStop, ProcessCodeBase + 1}, {true, false, true}},
      {{SERVICE_CONTROL_STOP}, {false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.controls.size());
    sim::Program deaf;
    deaf.ignoresQuit = true;
    Begin(deaf);
    size_t from = LogMessages().size();
    Service.SetState(SERVICE_RUNNING);
    sim::WriteFile(kit::IniPath, Section(0, A, 0) + Section(1, C, 2) + Section(2, D, 3));
    sim::HoldAt("TerminateProcess");
    // Asked when the handler returns; then taken, applying up to StopPause + 10 s.
    std::string asked;
    std::thread reload([&asked] {
      ControlHandler(SERVICE_CONTROL_PARAMCHANGE);
      asked = sim::ReadFile(Service.StatusPath);
      ReloadIfAsked();
    });
    EXPECT_TRUE(sim::WaitHeld());
    EXPECT_NE(sim::ReadFile(Service.StatusPath).find("\nReloadAsked\t1\t1\t11000\r"), npos);
    std::thread console([&c] {
      for (DWORD control : c.controls) ControlHandler(control);
    });
    // The table is let go before what leaves it is stopped: the control
    // takes effect while b is still held.
    EXPECT_TRUE(kit::WaitUntil([from] {
      return kit::Count(LogMessages(from), "Stopped process " + C) == 1;
    }));
    sim::ReleaseHold();
    reload.join();
    console.join();

    EXPECT_NE(asked.find("\nReloadAsked\t1\t0\t0\r"), npos);
    EXPECT_NE(sim::ReadFile(Service.StatusPath).find("\nReloadAsked\t1\t1\t0\r"), npos);
    Lines log = LogMessages(from);
    EXPECT_EQ(kit::Count(log, Reloaded(1, 0, 1, 2)), 1u);
    for (int32_t n = 0; n < 3; ++n) EXPECT_EQ(Pid(n) != 0, c.alive[size_t(n)]) << n;
    EXPECT_EQ(kit::Count(log, "Stopped process " + C), 1u);
    EXPECT_EQ(kit::CountPrefix(log, "The process could not"), 0u);
    EXPECT_EQ(kit::LaunchCountOf(D), c.alive[2] ? 1u : 0u);
  }
}


// B's runs end at once; restarted with new launch settings, it is judged as
// a program of its own: its first short run begins the first delay.
TEST(Reload, ARestartedProgramStartsWithoutTheOldBackOff) {
  sim::Program brief;
  brief.exitAfterMs = 10;
  Begin(brief);
  for (std::string env : {"", "Env_0=PORT=9\r\n"}) {
    sim::WriteFile(kit::IniPath, Section(0, A, 0) + Section(1, B, 1, "MinUptime=60000\r\n" + env));
    AskForReload();
    ReloadIfAsked();
    EXPECT_EQ(PrcList.Records[1].SettleExit().Delay, 1000u);
  }
}

// Program 1 failed two counted checks; the reload takes the check away.
TEST(Reload, UnhealthyShowsOnlyWhileACountedCheckStands) {
  const std::string check =
      "HealthCheck=tcp\r\nHealthPort=8080\r\nHealthRetries=3\r\nHealthStartPeriod=0\r\n";
  for (const std::string& now : {std::string(), "AutoRestart=no\r\n" + check}) {
    SCOPED_TRACE(now);
    Begin();
    for (const std::string& keys : {check, now}) {
      sim::WriteFile(kit::IniPath, Section(0, A, 0) + Section(1, B, 1, keys) + Section(2, C, 2));
      AskForReload();
      ReloadIfAsked();
      for (uint32_t i = 0, child = 0, failures = 0; i < 2 && keys == check; ++i) {
        sim::AdvanceTicks(10000);
        ASSERT_TRUE(PrcList.Records[1].HealthCheckDue(child));
        PrcList.Records[1].CountHealthCheck(child, false, failures);
      }
      EXPECT_EQ(PrcList.Records[1].Facts().Unhealthy, keys == check);
    }
  }
}

// B ignores the quit message and outlives its termination: it stays in the
// status file and is stopped again now and then until it has ended; then its
// record goes, and the handle it held with it.
TEST(Reload, ARemovedProgramThatCouldNotBeEndedIsRetried) {
  sim::Program stubborn;
  stubborn.ignoresQuit = true;
  stubborn.endsAfterTerminateMs = -1;
  std::vector<DWORD> before = Begin(stubborn);
  const std::string stillThere = "Warning: The process has not ended after its termination: " + B;
  sim::WriteFile(kit::IniPath, Section(0, A, 0) + Section(1, C, 2));
  size_t from = LogMessages().size();
  AskForReload();
  ReloadIfAsked();
  EXPECT_EQ(kit::Count(LogMessages(from), stillThere), 1u);
  std::vector<ProgramStatus> rows = ProgramStatuses(PrcList);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].Number, 1);
  EXPECT_EQ(rows[2].ProcessId, std::to_string(before[1]));
  from = LogMessages().size();
  ReloadIfAsked();
  EXPECT_EQ(LogMessages(from), Lines{}) << "not tried in every pass";
  sim::AdvanceTicks(60000);
  ReloadIfAsked();
  EXPECT_EQ(LogMessages(from),
            (Lines{"A removed program has not ended; it is stopped again: " + B, stillThere}));
  EXPECT_EQ(ProgramStatuses(PrcList).size(), 3u);
  int open = sim::OpenHandleCount();
  sim::KillProcess(before[1], 1);
  ReloadIfAsked();
  EXPECT_EQ(ProgramStatuses(PrcList).size(), 2u);
  EXPECT_EQ(sim::OpenHandleCount(), open - 1);
}

// A command at work on program 1 puts off a reload that would remove it
// until the command is done; the log tells of that reload once.
TEST(Reload, AReloadLeavesAPinnedRecordWhereItIs) {
  std::vector<DWORD> before = Begin();
  sim::WriteFile(kit::IniPath, Section(0, A, 0) + Section(1, C, 2));
  size_t from = LogMessages().size();
  std::unique_ptr<tclPrcPin> pinned(new tclPrcPin(PrcList.Pin(1)));
  AskForReload();
  for (int turn = 0; turn < 2; ++turn) ReloadIfAsked();
  EXPECT_EQ(Pid(1), before[1]);
  pinned.reset();
  ReloadIfAsked();
  EXPECT_EQ(Pid(1), before[2]);
  EXPECT_EQ(kit::Count(LogMessages(from), "Reloading the configuration file ..."), 1u);
  EXPECT_EQ(LogMessages().back(), Reloaded(0, 0, 1, 2));
}

// Added while the service is paused, a program that is not restarted
// automatically is started when the service resumes.
TEST(Reload, AProgramAddedWhileTheServiceIsPausedStartsAtResume) {
  Begin();
  PrcList.StartsBlocked = true;
  sim::WriteFile(kit::IniPath, Base + Section(3, D, 3, "AutoRestart=no\r\n"));
  AskForReload();
  ReloadIfAsked();
  ReloadIfAsked();
  EXPECT_EQ(Pid(3), 0u);
  PrcList.StartsBlocked = false;
  ReloadIfAsked();
  EXPECT_NE(Pid(3), 0u);
}

// Three programs that ignore the quit message leave with the reload; a stop
// control meanwhile is answered while they are still given their grace.
TEST(Reload, AStopDuringAReloadsStopsIsReportedAtOnce) {
  sim::Program deaf;
  deaf.ignoresQuit = true;
  Begin(deaf);
  for (const std::string& app : {A, C}) sim::AddProgram(app, deaf);
  const std::string pause = "StopPause=5000\r\n";
  sim::WriteFile(kit::IniPath, Section(0, A, 0, pause) + Section(1, B, 1, pause) +
                                   Section(2, C, 2, pause) + Section(3, D, 3));
  ASSERT_TRUE(PrcList.LoadFromIni());
  Service.ParallelStop = true;
  PrcList.StartAll();
  std::vector<DWORD> leaving = {Pid(0), Pid(1), Pid(2)};
  Service.SetState(SERVICE_RUNNING);
  sim::WriteFile(kit::IniPath, Section(0, D, 3));
  sim::HoldAt("PostThreadMessageA");
  std::thread reload([] { AskForReload(); ReloadIfAsked(); });
  ASSERT_TRUE(sim::WaitHeld());
  std::atomic<bool> answered{false};
  std::thread handler([&answered] { ControlHandler(SERVICE_CONTROL_STOP), answered = true; });
  EXPECT_TRUE(kit::WaitUntil([&answered] { return answered.load(); }));
  EXPECT_EQ(Service.CurrentState(), DWORD(SERVICE_STOP_PENDING));
  sim::ReleaseHold();
  handler.join();
  reload.join();
  EndServiceStop();
  for (DWORD id : leaving) EXPECT_FALSE(sim::Process(id).alive) << id;
  EXPECT_EQ(Pid(0), 0u);
}

}  // namespace
