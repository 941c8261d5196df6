// The control handler on the simulated service manager: the service runs on
// its own threads and each control is delivered as the manager would.
#include <gtest/gtest.h>

#include "service/ControlCodes.h"
#include "tests/unit/TestKit.h"

using kit::LogMessages;
using kit::Lines;

namespace {

const char* const App[] = {"C:\\Apps\\p0.exe", "C:\\Apps\\p1.exe", "C:\\Apps\\p2.exe"};

DWORD ProcessCode(int n) { return ProcessCodeBase + DWORD(n); }

// p0 has a window, p1 has none, p2 is paused and so not started with the
// service; nothing restarts by itself, so only the controls change anything.
class ControlHandlerTest : public testing::Test {
 protected:
  void SetUp() override {
    kit::FreshGlobals();
    sim::Program withWindow, windowless;
    windowless.hasWindow = false;
    sim::AddProgram(App[0], withWindow);
    sim::AddProgram(App[1], windowless);
    sim::AddProgram(App[2], withWindow);
    std::string ini = "[Settings]\r\n";
    for (int i = 0; i < 3; ++i)
      ini += "[Process_" + std::to_string(i) + "]\r\nAppName=" + App[i] +
             "\r\nAutoRestart=no\r\nStartPause=0\r\nStopPause=500\r\n" +
             (i == 2 ? "Paused=yes\r\n" : "");
    sim::WriteFile(kit::IniPath, ini);
    run_.Start();
    ASSERT_TRUE(kit::WaitUntil([] {
      return kit::CountPrefix(LogMessages(), "Started program ") == 2 && !PrcList.StartingAll;
    }));
  }

  // Delivers the codes one after the other; the handler's log lines.
  Lines Deliver(const std::vector<DWORD>& codes) {
    size_t from = kit::LogLines().size();
    for (DWORD code : codes) EXPECT_TRUE(sim::DeliverControl(code)) << code;
    return LogMessages(from);
  }

  DWORD PidOf(int n) { return kit::LastChildOf(App[n]); }
  bool Alive(int n) { return PidOf(n) != 0 && sim::Process(PidOf(n)).alive; }
  size_t LaunchesOf(int n) { return kit::LaunchCountOf(App[n]); }
  SERVICE_STATUS LastReport() { return sim::StatusReports().back(); }

  kit::ServiceRun run_;
};

void ExpectStatus(const SERVICE_STATUS& s, DWORD state) {
  EXPECT_EQ(s.dwServiceType, 0x30u);
  EXPECT_EQ(s.dwCurrentState, state);
  EXPECT_EQ(s.dwControlsAccepted, 0xBu);
  EXPECT_EQ(s.dwWin32ExitCode, 0u);
  EXPECT_EQ(s.dwServiceSpecificExitCode, 0u);
  EXPECT_EQ(s.dwCheckPoint, 0u);
  EXPECT_EQ(s.dwWaitHint, 0u);
}

// --- Standard codes ---

TEST_F(ControlHandlerTest, PauseContinueAndInterrogateReportTheState) {
  EXPECT_EQ(Deliver({SERVICE_CONTROL_PAUSE}), Lines{"The service has been paused."});
  ExpectStatus(LastReport(), SERVICE_PAUSED);
  EXPECT_TRUE(PrcList.StartsBlocked);

  size_t reports = sim::StatusReports().size();
  EXPECT_EQ(Deliver({SERVICE_CONTROL_INTERROGATE}), Lines{});
  ASSERT_EQ(sim::StatusReports().size(), reports + 1);
  ExpectStatus(LastReport(), SERVICE_PAUSED);

  EXPECT_EQ(Deliver({SERVICE_CONTROL_CONTINUE}), Lines{"The service has been resumed."});
  ExpectStatus(LastReport(), SERVICE_RUNNING);
  EXPECT_FALSE(PrcList.StartsBlocked);
  EXPECT_TRUE(Alive(0) && Alive(1)) << "pausing leaves the programs running";
}

TEST_F(ControlHandlerTest, AFailedReportReplacesTheMessage) {
  for (DWORD code : {SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE, SERVICE_CONTROL_INTERROGATE}) {
    sim::FailNext("SetServiceStatus", ERROR_INVALID_HANDLE);
    EXPECT_EQ(Deliver({code}), Lines{"Error (6): The service status could not be set."}) << code;
  }
  sim::FailNext("SetServiceStatus", ERROR_INVALID_DATA);
  EXPECT_EQ(Deliver({SERVICE_CONTROL_STOP}),
            (Lines{"Stopped process C:\\Apps\\p0.exe", "Stopped process C:\\Apps\\p1.exe",
                   "Error (13): The service status could not be set."}));
  // Nobody has seen the stop yet; asking again reports it.
  sim::DeliverControl(SERVICE_CONTROL_INTERROGATE);
  run_.Join();
  ExpectStatus(LastReport(), SERVICE_STOPPED);
}

TEST_F(ControlHandlerTest, StopEndsEveryProgramInOrderThenReportsStopped) {
  EXPECT_EQ(Deliver({SERVICE_CONTROL_STOP}),
            (Lines{"Stopped process C:\\Apps\\p0.exe", "Stopped process C:\\Apps\\p1.exe"}));
  EXPECT_FALSE(Alive(0) || Alive(1));
  EXPECT_EQ(sim::Process(PidOf(0)).quitMessages, 1) << "asked to quit before anything else";
  ExpectStatus(LastReport(), SERVICE_STOPPED);
  EXPECT_EQ(kit::ReportsWithState(SERVICE_STOPPED), 1u);
  EXPECT_TRUE(PrcList.StartsBlocked);
  run_.Join();
  EXPECT_TRUE(run_.Result());
  EXPECT_TRUE(sim::WaitServiceMainReturned(10000));
}

TEST_F(ControlHandlerTest, StopTerminatesAProgramThatIgnoresTheQuitMessage) {
  EXPECT_EQ(Deliver({OpStop, ProcessCode(0)}), Lines{"Stopped process C:\\Apps\\p0.exe"});
  sim::Program stubborn;
  stubborn.ignoresQuit = true;
  sim::AddProgram(App[0], stubborn);
  Deliver({OpStart, ProcessCode(0)});
  EXPECT_EQ(Deliver({SERVICE_CONTROL_STOP}),
            (Lines{"Terminated process C:\\Apps\\p0.exe", "Stopped process C:\\Apps\\p1.exe"}));
  EXPECT_TRUE(sim::Process(PidOf(0)).terminated);
}

// --- Per-process commands ---

TEST_F(ControlHandlerTest, StopAndStartAProcess) {
  EXPECT_EQ(Deliver({OpStop, ProcessCode(0)}), Lines{"Stopped process C:\\Apps\\p0.exe"});
  EXPECT_FALSE(Alive(0));
  EXPECT_TRUE(Alive(1));
  EXPECT_EQ(Deliver({OpStop, ProcessCode(0)}), Lines{"The process could not be stopped."});
  EXPECT_EQ(Deliver({OpStart, ProcessCode(0)}), Lines{"Started program C:\\Apps\\p0.exe"});
  EXPECT_TRUE(Alive(0));
  EXPECT_EQ(Deliver({OpStart, ProcessCode(0)}), Lines{"The process could not be started."})
      << "already running";
}

TEST_F(ControlHandlerTest, StartLaunchesAPausedProgramAndKeepsItsFlag) {
  EXPECT_EQ(LaunchesOf(2), 0u);
  EXPECT_EQ(Deliver({OpStart, ProcessCode(2)}), Lines{"Started program C:\\Apps\\p2.exe"});
  EXPECT_TRUE(Alive(2));
  EXPECT_TRUE(PrcList.IsPaused(2));
}

TEST_F(ControlHandlerTest, PauseAndResumeOfAutoRestartAlwaysSucceedForValidNumbers) {
  EXPECT_EQ(Deliver({OpPause, ProcessCode(1), OpResume, ProcessCode(2)}), Lines{});
  EXPECT_TRUE(PrcList.IsPaused(1));
  EXPECT_FALSE(PrcList.IsPaused(2));
  EXPECT_EQ(Deliver({OpPause, ProcessCode(3)}), Lines{"The process could not be paused."});
  EXPECT_EQ(Deliver({OpResume, ProcessCode(126)}), Lines{"The process could not be resumed."});
}

TEST_F(ControlHandlerTest, HideAndShowTheMainWindow) {
  EXPECT_EQ(Deliver({OpHide, ProcessCode(0), OpShow, ProcessCode(0)}), Lines{});
  EXPECT_EQ(sim::Process(PidOf(0)).showCommands, (std::vector<int>{SW_HIDE, SW_SHOWNA}));
  EXPECT_EQ(Deliver({OpHide, ProcessCode(1)}), Lines{"The process window could not be hidden."});
  EXPECT_EQ(Deliver({OpShow, ProcessCode(1)}), Lines{"The process window could not be shown."});
  EXPECT_EQ(Deliver({OpShow, ProcessCode(2)}), Lines{"The process window could not be shown."})
      << "never launched";
}

TEST_F(ControlHandlerTest, EveryPriorityOperationSetsItsClass) {
  const std::pair<DWORD, DWORD> classes[] = {
      {OpReal, REALTIME_PRIORITY_CLASS},         {OpHigh, HIGH_PRIORITY_CLASS},
      {OpAbove, ABOVE_NORMAL_PRIORITY_CLASS},    {OpNormal, NORMAL_PRIORITY_CLASS},
      {OpBelow, BELOW_NORMAL_PRIORITY_CLASS},    {OpLow, IDLE_PRIORITY_CLASS}};
  for (const auto& c : classes) {
    EXPECT_EQ(Deliver({c.first, ProcessCode(0)}), Lines{"The process priority was set."});
    EXPECT_EQ(sim::Process(PidOf(0)).priorityClass, c.second) << c.first;
  }
  EXPECT_EQ(Deliver({OpHigh, ProcessCode(3)}), Lines{"The process priority could not be set."});
}

TEST_F(ControlHandlerTest, APriorityForAProgramNotRunningAppliesAtItsNextLaunch) {
  EXPECT_EQ(Deliver({OpBelow, ProcessCode(2)}), Lines{"The process priority was set."});
  Deliver({OpStart, ProcessCode(2)});
  EXPECT_EQ(sim::Process(PidOf(2)).priorityClass, DWORD(BELOW_NORMAL_PRIORITY_CLASS));
}

TEST_F(ControlHandlerTest, UnassignedOperationsNameTheProcessCode) {
  EXPECT_EQ(Deliver({OpUnassigned, 130}), Lines{"Error: Unrecognized service control code (130)."});
  EXPECT_EQ(Deliver({200, 128}), Lines{"Error: Unrecognized service control code (128)."});
  EXPECT_EQ(Deliver({255, 255}), Lines{"Error: Unrecognized service control code (255)."});
  EXPECT_TRUE(Alive(0) && Alive(1));
}

TEST_F(ControlHandlerTest, InvalidProcessNumbersFailEachOperation) {
  EXPECT_EQ(Deliver({OpStop, ProcessCode(3)}), Lines{"The process could not be stopped."});
  EXPECT_EQ(Deliver({OpStart, ProcessCode(127)}), Lines{"The process could not be started."});
}

// --- Pairing ---

TEST_F(ControlHandlerTest, APendingOperationSurvivesStandardCodes) {
  EXPECT_EQ(Deliver({OpStop, SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE, ProcessCode(1)}),
            (Lines{"The service has been paused.", "The service has been resumed.",
                   "Stopped process C:\\Apps\\p1.exe"}));
  EXPECT_FALSE(Alive(1));
  EXPECT_TRUE(Alive(0));
}

TEST_F(ControlHandlerTest, AnOrphanedOperationTakesTheNextCodeAsItsProcess) {
  // The second code of a pair never arrived: the next pair completes it.
  Deliver({OpHide});
  EXPECT_EQ(Deliver({OpStop, ProcessCode(2)}), Lines{"The process window could not be hidden."});
  EXPECT_EQ(PendingCommand, int32_t(ProcessCode(2)));
  EXPECT_EQ(Deliver({ProcessCode(1)}), Lines{});
  EXPECT_EQ(PendingCommand, 0);
  EXPECT_TRUE(PrcList.IsPaused(1)) << "130 then 129 pauses process 1";
  EXPECT_TRUE(Alive(0) && Alive(1));
}

// The console opens each command with an interrogate: whatever is pending
// then is an orphan, however new, and a pair is never split by its age.
TEST_F(ControlHandlerTest, AnInterrogateDropsAnOrphanAndNothingElseDoes) {
  Deliver({OpHide});
  EXPECT_EQ(Deliver({SERVICE_CONTROL_INTERROGATE, OpStop, ProcessCode(1)}),
            (Lines{"Warning: The operation code (139) was dropped: its process code did not "
                   "arrive.",
                   "Stopped process C:\\Apps\\p1.exe"}));
  EXPECT_EQ(Deliver({SERVICE_CONTROL_INTERROGATE}), Lines{}) << "nothing pending, nothing said";

  Deliver({OpStop});
  sim::AdvanceTicks(5100);
  EXPECT_EQ(Deliver({ProcessCode(0)}), Lines{"Stopped process C:\\Apps\\p0.exe"})
      << "a late process code still completes its pair";
  EXPECT_EQ(PendingCommand, 0);
}

TEST_F(ControlHandlerTest, WhilePausedStartsFailButEverythingElseWorks) {
  Deliver({SERVICE_CONTROL_PAUSE});
  EXPECT_EQ(Deliver({OpStart, ProcessCode(2)}), Lines{"The process could not be started."});
  EXPECT_EQ(LaunchesOf(2), 0u);
  EXPECT_EQ(Deliver({OpHide, ProcessCode(0), OpHigh, ProcessCode(0)}),
            Lines{"The process priority was set."});
  EXPECT_EQ(Deliver({OpStop, ProcessCode(0)}), Lines{"Stopped process C:\\Apps\\p0.exe"});
  Deliver({SERVICE_CONTROL_CONTINUE});
  EXPECT_EQ(Deliver({OpStart, ProcessCode(0)}), Lines{"Started program C:\\Apps\\p0.exe"});
}

TEST_F(ControlHandlerTest, UserCodesAfterTheStopAreDropped) {
  ASSERT_TRUE(run_.Stop());
  size_t from = kit::LogLines().size();
  ControlHandler(OpStart);
  EXPECT_EQ(LogMessages(from), Lines{"The service is not running."});
  EXPECT_EQ(PendingCommand, 0);

  PendingCommand = OpStart;
  ControlHandler(ProcessCode(0));
  EXPECT_EQ(LogMessages(from), Lines{"The service is not running."}) << "silent while pending";
  EXPECT_EQ(PendingCommand, int32_t(OpStart));
  EXPECT_FALSE(Alive(0));
}

// --- Stop while the programs are still being started ---

TEST(ControlHandlerStartUp, StopDuringStartAllStartsNothingNewAndStopsWhatWasStarted) {
  kit::FreshGlobals();
  const int count = 120;
  std::string ini;
  for (int i = 0; i < count; ++i) {
    std::string app = "C:\\Apps\\s" + std::to_string(i) + ".exe";
    sim::AddProgram(app, sim::Program());
    ini += "[Process_" + std::to_string(i) + "]\r\nAppName=" + app +
           "\r\nStartPause=60000\r\nStopPause=100\r\n";
  }
  sim::WriteFile(kit::IniPath, ini);
  kit::ServiceRun run;
  run.Start();
  ASSERT_TRUE(kit::WaitUntil([] { return !sim::Launches().empty(); }));
  ASSERT_TRUE(sim::DeliverControl(SERVICE_CONTROL_STOP));
  size_t launched = sim::Launches().size();
  run.Join();

  EXPECT_GE(launched, 1u);
  EXPECT_EQ(sim::LiveProcessIds(), std::vector<DWORD>{});
  EXPECT_EQ(sim::Launches().size(), launched) << "nothing starts after the stop";
  Lines log = LogMessages();
  EXPECT_EQ(kit::CountPrefix(log, "Started program "), launched);
  EXPECT_EQ(kit::CountPrefix(log, "Stopped process ") +
                kit::CountPrefix(log, "Terminated process "),
            launched);
  std::vector<SERVICE_STATUS> reports = sim::StatusReports();
  ASSERT_EQ(reports.size(), 2u);
  ExpectStatus(reports[0], SERVICE_RUNNING);
  ExpectStatus(reports[1], SERVICE_STOPPED);
  EXPECT_TRUE(sim::WaitServiceMainReturned(10000));
  // How far the start-up got: on an idle machine a handful of the 120; under
  // heavy load it may finish first, which the checks above also hold for.
  RecordProperty("launchedBeforeStop", int(launched));
}

// Killed while a command waits on slow program 0, program 1 is restarted in time.
TEST(ControlHandlerCommandUnderWay, TheOtherProgramsAreStillRestartedInTime) {
  for (auto c : {std::make_pair(OpStart, "WaitForInputIdle"),
                 std::make_pair(OpStop, "TerminateProcess")}) {
    SCOPED_TRACE(c.second);
    kit::FreshGlobals();
    kit::FreshTable(2);
    sim::Program deaf;
    deaf.ignoresQuit = true;
    kit::Configure(PrcList.Records[0], App[0], deaf);
    PrcList.Records[0].Settings.StartPause = 60000;
    PrcList.Records[0].Settings.StopPause = 30000;
    PrcList.Records[0].Paused = true;
    kit::Configure(PrcList.Records[1], App[1], kit::Steady());
    PrcList.Records[1].Settings.StartPause = 1000;
    ASSERT_TRUE(PrcList.Start(1) && (c.first == OpStart || PrcList.Start(0)));
    BeginStatus();
    sim::HoldAt(c.second);
    std::thread console([c] { ControlHandler(c.first); ControlHandler(ProcessCode(0)); });
    EXPECT_TRUE(sim::WaitHeld());
    DWORD killed = kit::LastChildOf(App[1]);
    sim::KillProcess(killed, 1);
    uint64_t killedAt = sim::Now(), after = 0;
    std::atomic<bool> done{false};
    std::thread loop([&] {
      for (int turn = 0; turn < 10 && kit::LastChildOf(App[1]) == killed; ++turn) {
        WriteStatus();   // the top of each turn
        PrcList.CheckAll();
      }
      after = sim::Now() - killedAt;
      done = true;
    });
    EXPECT_TRUE(kit::WaitUntil([&] { return done.load(); }, 3000)) << "not while held";
    sim::ReleaseHold();
    console.join();
    loop.join();
    EXPECT_LE(after, 1000u + 1000u) << "RestartInterval plus program 1's StartPause";
  }
}

}  // namespace
