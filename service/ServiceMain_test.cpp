// The service main: its order of steps, the status it reports, the start of
// the programs and the supervision loop it then runs until the stop.
#include <gtest/gtest.h>

#include "service/ControlCodes.h"
#include "tests/unit/TestKit.h"

using kit::IndexOf;
using kit::LogMessages;
using kit::Lines;

namespace {

const char* const App0 = "C:\\Apps\\p0.exe";
const char* const App1 = "C:\\Apps\\p1.exe";

class ServiceMainTest : public testing::Test {
 protected:
  void SetUp() override {
    kit::FreshGlobals();
    sim::AddProgram(App0, sim::Program());
    sim::AddProgram(App1, sim::Program());
  }
  bool WaitStarted(size_t programs) {
    return kit::WaitUntil([programs] {
      return kit::CountPrefix(LogMessages(), "Started program ") >= programs &&
             !PrcList.StartingAll;
    });
  }
  // Lets the supervision loop run for a stretch of simulated time.
  bool LetTimePass(uint64_t ms) {
    uint64_t until = sim::Now() + ms;
    return kit::WaitUntil([until] { return sim::Now() >= until; });
  }
};

TEST_F(ServiceMainTest, StepsComeInOrderAndTheFirstReportIsRunning) {
  Service.Interactive = false;
  sim::WriteFile(kit::IniPath, std::string("[Process_0]\r\nAppName=") + App0 + "\r\n");
  kit::ServiceRun run;
  run.Start();
  ASSERT_TRUE(WaitStarted(1));
  Lines log = LogMessages();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "   ServiceName = (Quarn) Server Loader") << "nothing before registration";
  EXPECT_EQ(log[1], "   UserInterface = No");
  int loading = IndexOf(log, "Loading process values from ini file ...");
  int loaded = IndexOf(log, "Load completed.");
  int running = IndexOf(log, "The service is now running the main thread.");
  int starting = IndexOf(log, "Attempting to start processes ...");
  int started = IndexOf(log, std::string("Started program ") + App0);
  EXPECT_TRUE(1 < loading && loading < loaded && loaded < running && running + 1 == starting &&
              starting < started)
      << loading << " " << loaded << " " << running << " " << starting << " " << started;

  std::vector<SERVICE_STATUS> reports = sim::StatusReports();
  ASSERT_EQ(reports.size(), 1u);
  const SERVICE_STATUS& s = reports[0];
  EXPECT_EQ(s.dwServiceType, 0x30u);
  EXPECT_EQ(s.dwCurrentState, DWORD(SERVICE_RUNNING));
  EXPECT_EQ(s.dwControlsAccepted, 0xBu);
  EXPECT_EQ(s.dwWin32ExitCode, 0u);
  EXPECT_EQ(s.dwServiceSpecificExitCode, 0u);
  EXPECT_EQ(s.dwCheckPoint, 0u);
  EXPECT_EQ(s.dwWaitHint, 0u);

  ASSERT_TRUE(run.Stop());
  EXPECT_TRUE(sim::WaitServiceMainReturned(10000));
  EXPECT_TRUE(run.Result());
}

TEST_F(ServiceMainTest, InteractiveIsEchoedAsYes) {
  kit::ServiceRun run;
  run.Start();
  ASSERT_TRUE(kit::WaitUntil(
      [] { return IndexOf(LogMessages(), "Attempting to start processes ...") >= 0; }));
  EXPECT_EQ(LogMessages()[1], "   UserInterface = Yes");
  EXPECT_EQ(LogMessages()[2], "   RestartInterval = 1000") << "nothing new between";
}

TEST_F(ServiceMainTest, LogLimitsAreEchoedAfterTheUserInterfaceAndTaken) {
  sim::WriteFile(kit::IniPath, "[Settings]\r\nLogBackups=12\r\nLogMaxSize=1\r\n");
  sim::WriteFile(kit::LogPath, "Mon Mar 05 09:04:05 2007 :: " + std::string(970, 'x') + "\r\n");
  kit::ServiceRun run;
  run.Start();
  ASSERT_TRUE(kit::WaitUntil([] {
    return IndexOf(LogMessages(), "Attempting to start processes ...") >= 0;
  }));
  ASSERT_TRUE(run.Stop());
  EXPECT_TRUE(sim::WaitServiceMainReturned(10000));
  // Taken once echoed: the next line no longer fits beside the old ones.
  EXPECT_EQ(LogMessages(1, "C:\\QuarnLoader\\QuarnLoader.1.log"),
            (Lines{"   ServiceName = (Quarn) Server Loader", "   UserInterface = Yes",
                   "   LogMaxSize = 1", "   LogBackups = 12"}));
  EXPECT_EQ(LogMessages()[0], "   RestartInterval = 1000");
}

TEST_F(ServiceMainTest, WithoutProgramsTheServiceRunsAndStartsNothing) {
  kit::ServiceRun run;
  run.Start();
  ASSERT_TRUE(kit::WaitUntil([] { return kit::ReportsWithState(SERVICE_RUNNING) == 1; }));
  ASSERT_TRUE(LetTimePass(10000));
  EXPECT_EQ(sim::Launches().size(), 0u);
  EXPECT_EQ(PrcList.Count, 0);
  Lines log = LogMessages();
  EXPECT_EQ(log.back(), "Attempting to start processes ...") << "the empty loop logs nothing";
  ASSERT_TRUE(run.Stop());
  EXPECT_TRUE(sim::WaitServiceMainReturned(10000));
}

TEST_F(ServiceMainTest, AFailedRegistrationReturnsAtOnceWithoutAReport) {
  sim::FailNext("RegisterServiceCtrlHandlerA", ERROR_ACCESS_DENIED);
  ServiceMain(0, nullptr);
  EXPECT_EQ(LogMessages(), Lines{"Error (5): The service could not be registered."});
  EXPECT_EQ(sim::StatusReports().size(), 0u);

  sim::Reset();
  kit::FreshGlobals();
  ServiceMain(0, nullptr);   // no dispatcher at all
  EXPECT_EQ(LogMessages(), Lines{"Error (1063): The service could not be registered."});
}

TEST_F(ServiceMainTest, AFailedRunningReportIsLoggedAndTheServiceCarriesOn) {
  sim::WriteFile(kit::IniPath, std::string("[Process_0]\r\nAppName=") + App0 + "\r\n");
  sim::FailNext("SetServiceStatus", ERROR_INVALID_HANDLE);
  kit::ServiceRun run;
  run.Start();
  ASSERT_TRUE(WaitStarted(1));
  Lines log = LogMessages();
  int error = IndexOf(log, "Error (6): The service status could not be set.");
  EXPECT_GT(error, IndexOf(log, "Load completed."));
  EXPECT_EQ(error + 1, IndexOf(log, "The service is now running the main thread."));
  EXPECT_EQ(kit::LaunchCountOf(App0), 1u);
  ASSERT_TRUE(run.Stop());
  EXPECT_EQ(kit::ReportsWithState(SERVICE_STOPPED), 1u);
}

TEST_F(ServiceMainTest, APausedProgramIsStartedNeitherWithTheServiceNorByTheLoop) {
  sim::WriteFile(kit::IniPath, std::string("[Process_0]\r\nAppName=") + App0 +
                                      "\r\nPaused=yes\r\n[Process_1]\r\nAppName=" + App1 + "\r\n");
  kit::ServiceRun run;
  run.Start();
  ASSERT_TRUE(WaitStarted(1));
  ASSERT_TRUE(LetTimePass(20000));
  EXPECT_EQ(kit::LaunchCountOf(App0), 0u);
  EXPECT_EQ(kit::LaunchCountOf(App1), 1u);
}

TEST_F(ServiceMainTest, WhilePausedTheLoopRestartsNothing) {
  sim::WriteFile(kit::IniPath, std::string("[Process_0]\r\nAppName=") + App0 + "\r\n");
  kit::ServiceRun run;
  run.Start();
  ASSERT_TRUE(WaitStarted(1));
  ASSERT_TRUE(sim::DeliverControl(SERVICE_CONTROL_PAUSE));
  sim::KillProcess(sim::Launches()[0].processId, 1);
  ASSERT_TRUE(LetTimePass(20000));
  EXPECT_EQ(kit::LaunchCountOf(App0), 1u);

  ASSERT_TRUE(sim::DeliverControl(SERVICE_CONTROL_CONTINUE));
  ASSERT_TRUE(kit::WaitUntil([] { return kit::LaunchCountOf(App0) == 2; }));
  ASSERT_TRUE(WaitStarted(2));
  EXPECT_GE(IndexOf(LogMessages(), std::string("Process (0): Attempting to restart program: ") + App0),
            0);
}

TEST_F(ServiceMainTest, AStopWhilePausedEndsTheLoop) {
  kit::ServiceRun run;
  run.Start();
  ASSERT_TRUE(kit::WaitUntil([] { return kit::ReportsWithState(SERVICE_RUNNING) == 1; }));
  ASSERT_TRUE(sim::DeliverControl(SERVICE_CONTROL_PAUSE));
  ASSERT_TRUE(run.Stop());
  EXPECT_TRUE(sim::WaitServiceMainReturned(10000));
  std::vector<SERVICE_STATUS> reports = sim::StatusReports();
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[1].dwCurrentState, DWORD(SERVICE_PAUSED));
  EXPECT_EQ(reports[2].dwCurrentState, DWORD(SERVICE_STOPPED));
}

// Names derived from the folder are longer than the executable's own: where
// the platform cannot take one, the service says so at its start, once. The
// simulated files take any length; a held file stands in for the refusal.
TEST_F(ServiceMainTest, DerivedNamesPastThePathLimitAreNamedAtStart) {
  const struct {
    size_t folder;         // characters, the trailing backslash included
    const char* settings;
    bool statusTooLong;    // QuarnLoader.status.tmp ends past 259
    bool backupTooLong;    // QuarnLoader.3.log ends past 259
  } cases[] = {
      {237, "LogMaxSize=64\r\nLogBackups=3\r\n", false, false},
      {238, "LogMaxSize=64\r\nLogBackups=3\r\n", true, false},
      {242, "LogMaxSize=64\r\nLogBackups=3\r\n", true, false},
      {243, "LogMaxSize=64\r\nLogBackups=3\r\n", true, true},
      {243, "LogBackups=3\r\n", true, false},   // without a limit nothing rotates
  };
  for (const auto& c : cases) {
    const std::string folder = "C:\\" + std::string(c.folder - 4, 'd') + "\\";
    sim::SetModulePath(folder + "QuarnLoader.exe");
    kit::FreshGlobals();
    sim::WriteFile(folder + "QuarnLoader.ini", std::string("[Settings]\r\n") + c.settings);
    const std::string temporary = folder + "QuarnLoader.status.tmp";
    Lines expected;
    if (c.statusTooLong) {
      sim::LockFile(temporary, true);
      expected.push_back("Warning: The status file cannot be written: this path is too long: " +
                         temporary);
    }
    if (c.backupTooLong)
      expected.push_back("Warning: The log cannot be kept within LogMaxSize: this path is too "
                         "long: " + folder + "QuarnLoader.3.log");
    {
      kit::ServiceRun run;
      run.Start();
      ASSERT_TRUE(kit::WaitUntil([&] {
        return IndexOf(LogMessages(0, Log.GetPath()), "Attempting to start processes ...") >= 0;
      })) << c.folder;
      ASSERT_TRUE(run.Stop());
      Lines reported;
      for (const std::string& line : LogMessages(0, Log.GetPath()))
        if (line.compare(0, 8, "Warning:") == 0 || line.compare(0, 5, "Error") == 0)
          reported.push_back(line);
      EXPECT_EQ(reported, expected) << c.folder << " " << c.settings;
    }
  }
}

}  // namespace
