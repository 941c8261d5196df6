// The supervision loop on the service thread while the dispatcher thread
// carries out a stream of random controls: nothing may crash, race (the
// thread sanitizer build runs this) or leave the table inconsistent.
#include <gtest/gtest.h>

#include <random>

#include "service/ControlCodes.h"
#include "tests/unit/TestKit.h"

namespace {

const int Programs = 8;
const int Controls = 3000;

TEST(ServiceStress, RandomControlsAgainstARunningLoop) {
  kit::FreshGlobals();
  std::string ini = "[Settings]\r\nRestartInterval=400\r\n";
  for (int i = 0; i < Programs; ++i) {
    std::string app = "C:\\Apps\\s" + std::to_string(i) + ".exe";
    sim::Program program;
    if (i % 4 == 1) program.exitAfterMs = 700 + 300 * i;   // restarted by the loop
    if (i % 4 == 2) program.hangAfterMs = 1500;            // stopped as not responding
    if (i % 4 == 3) program.hasWindow = false;
    if (i == 5) program.ignoresQuit = true;                // terminated on stop
    sim::AddProgram(app, program);
    ini += "[Process_" + std::to_string(i) + "]\r\nAppName=" + app +
           "\r\nStartPause=50\r\nStopPause=200\r\nNumOfRespChecks=2\r\n" +
           (i == 7 ? "Paused=yes\r\n" : "") + (i == 6 ? "PrcFileLogging=no\r\n" : "");
  }
  sim::WriteFile(kit::IniPath, ini);

  kit::ServiceRun run;
  run.Start();
  ASSERT_TRUE(kit::WaitUntil([] { return kit::ReportsWithState(SERVICE_RUNNING) == 1; }));

  std::mt19937 random(20261209);
  const DWORD standard[] = {SERVICE_CONTROL_PAUSE, SERVICE_CONTROL_CONTINUE,
                            SERVICE_CONTROL_INTERROGATE};
  int delivered = 0;
  for (int i = 0; i < Controls; ++i) {
    DWORD code;
    switch (random() % 4) {
      case 0: code = standard[random() % 3]; break;
      case 1: code = OpStart + DWORD(random() % 13); break;                        // operations
      case 2: code = ProcessCodeBase + DWORD(random() % (Programs + 2)); break;   // processes
      default: code = 128 + DWORD(random() % 128); break;                          // anything
    }
    delivered += sim::DeliverControl(code);
    std::vector<sim::LaunchRecord> launches = sim::Launches();
    if (i % 50 == 0 && !launches.empty())
      sim::KillProcess(launches[random() % launches.size()].processId, 3);
  }
  EXPECT_EQ(delivered, Controls);
  ASSERT_TRUE(run.Stop());
  ASSERT_TRUE(sim::WaitServiceMainReturned(10000));

  EXPECT_EQ(sim::StatusReports().back().dwCurrentState, DWORD(SERVICE_STOPPED));
  EXPECT_EQ(sim::LiveProcessIds(), std::vector<DWORD>{}) << "the stop leaves nothing running";
  ASSERT_EQ(PrcList.Count, Programs);
  for (int i = 0; i < Programs; ++i) {
    EXPECT_FALSE(PrcList.Records[i].Busy) << i;
    EXPECT_FALSE(PrcList.IsRunning(i)) << i;
    EXPECT_EQ(PrcList.AppName(i), "C:\\Apps\\s" + std::to_string(i) + ".exe");
  }
  EXPECT_TRUE(PrcList.StartsBlocked);
  EXPECT_FALSE(PrcList.StartingAll);
  EXPECT_TRUE(PendingCommand == 0 || (PendingCommand >= 128 && PendingCommand <= 255));

  // Lines of both threads never run into each other: each one ends in CR LF
  // and starts with its stamp, which reading the messages checks.
  EXPECT_GT(kit::LogMessages().size(), 100u);
}

}  // namespace
