// The stop that does not keep the manager waiting (ParallelStop) and the stop
// at the system's shutdown (StopOnShutdown), on the simulated manager.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "service/ControlCodes.h"
#include "tests/unit/TestKit.h"

using kit::LogMessages;
using kit::Lines;

namespace {

const int Programs = 5;

std::string AppOf(int n) { return "C:\\Apps\\deaf" + std::to_string(n) + ".exe"; }

// Programs that ignore the quit message, with the user's StopPause of 2 s.
void WriteIni(const std::string& settings, int programs, const std::string& perProgram) {
  sim::Program deaf;
  deaf.ignoresQuit = true;
  std::string ini = "[Settings]\r\n" + settings;
  for (int i = 0; i < programs; ++i) {
    sim::AddProgram(AppOf(i), deaf);
    ini += "[Process_" + std::to_string(i) + "]\r\nAppName=" + AppOf(i) + "\r\n" + perProgram;
  }
  sim::WriteFile(kit::IniPath, ini);
}

size_t SummaryLines(const Lines& log, int terminated) {
  std::regex summary("All programs stopped in [0-9]+ ms \\(" + std::to_string(terminated) +
                     " terminated\\)\\.");
  return size_t(std::count_if(log.begin(), log.end(),
                              [&](const std::string& line) { return std::regex_match(line, summary); }));
}

// The handler returns at once with stop pending; while a program is still
// being stopped the check point rises with a hint for the time left; stopped
// comes last, after every program has ended. The programs that ended first
// are not started again by the loop, nor by a console's "-start n".
TEST(ServiceStop, PendingAtOnceRisingCheckPointsThenStopped) {
  const struct {
    const char* settings;
    bool byShutdown;
    bool preshutdownRefused;   // the manager cannot grant the time
    DWORD control;             // what the manager delivers
    DWORD accepted;
  } cases[] = {
      {"ParallelStop=yes\r\n", false, false, SERVICE_CONTROL_STOP, 0xB},
      {"StopOnShutdown=yes\r\n", true, false, SERVICE_CONTROL_PRESHUTDOWN, 0x10F},
      {"StopOnShutdown=yes\r\n", true, true, SERVICE_CONTROL_SHUTDOWN, 0xF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    sim::Reset();
    kit::FreshGlobals();
    WriteIni(c.settings, Programs, "StartPause=0\r\nStopPause=2000\r\n");
    if (c.preshutdownRefused) sim::FailNext("ChangeServiceConfig2A", ERROR_INVALID_LEVEL);
    kit::ServiceRun run;
    run.Start();
    ASSERT_TRUE(run.WaitRunning());
    ASSERT_TRUE(kit::WaitUntil([] {
      return kit::CountPrefix(LogMessages(), "Started program ") == size_t(Programs);
    }));

    struct Releaser {
      ~Releaser() { sim::ReleaseHold(); }   // a failed assertion must not leave it held
    } releaser;
    sim::HoldAt("TerminateProcess");
    if (c.byShutdown)
      EXPECT_EQ(sim::DeliverShutdown(), c.control);
    else
      EXPECT_TRUE(sim::DeliverControl(c.control)) << "the handler returns before the programs end";
    ASSERT_TRUE(sim::WaitHeld());
    ASSERT_TRUE(kit::WaitUntil([] {
      return kit::CountPrefix(LogMessages(), "Terminated process ") == size_t(Programs - 1);
    }));
    ASSERT_TRUE(kit::WaitUntil([] { return kit::ReportsWithState(SERVICE_STOP_PENDING) >= 3; }));
    size_t from = kit::LogLines().size();
    ControlHandler(OpStart);
    ControlHandler(ProcessCodeBase);
    EXPECT_EQ(kit::Count(LogMessages(from), "The service is not running."), 2u);
    sim::ReleaseHold();
    run.Join();
    ASSERT_TRUE(sim::WaitServiceMainReturned(10000));

    std::vector<SERVICE_STATUS> reports = sim::StatusReports();
    ASSERT_GE(reports.size(), 5u);
    EXPECT_EQ(reports.front().dwCurrentState, DWORD(SERVICE_RUNNING));
    for (size_t i = 1; i + 1 < reports.size(); ++i) {
      EXPECT_EQ(reports[i].dwCurrentState, DWORD(SERVICE_STOP_PENDING)) << i;
      EXPECT_EQ(reports[i].dwCheckPoint, DWORD(i)) << i;
      EXPECT_GE(reports[i].dwWaitHint, 2000u) << i;
      EXPECT_LE(reports[i].dwWaitHint, 2000u + 6000u) << i;
    }
    for (const SERVICE_STATUS& s : reports) EXPECT_EQ(s.dwControlsAccepted, c.accepted);
    const SERVICE_STATUS& last = reports.back();
    EXPECT_EQ(last.dwCurrentState, DWORD(SERVICE_STOPPED));
    EXPECT_EQ(last.dwCheckPoint, 0u);
    EXPECT_EQ(last.dwWaitHint, 0u);
    EXPECT_EQ(last.dwWin32ExitCode, 0u);
    // "-status" trusts a stopped service's file only when it says so.
    EXPECT_NE(sim::ReadFile(Service.StatusPath).find("\nService\tstopped\r"), std::string::npos);

    EXPECT_EQ(sim::LiveProcessIds(), std::vector<DWORD>{});
    EXPECT_EQ(sim::Launches().size(), size_t(Programs)) << "nothing starts once the stop began";
    Lines log = LogMessages();
    EXPECT_EQ(SummaryLines(log, Programs), 1u);
    EXPECT_EQ(sim::Service(ProductName).preshutdownTimeout,
              c.control == SERVICE_CONTROL_PRESHUTDOWN ? 8000u : 0u);
    EXPECT_EQ(kit::CountPrefix(log, "Warning (124): No time could be asked for"),
              c.preshutdownRefused ? 1u : 0u);
  }
}

// A stop while the programs are still being started: the start-up launches
// nothing more, and what it did start is stopped, all at once.
TEST(ServiceStop, AStopDuringStartUpStartsNothingNew) {
  kit::FreshGlobals();
  WriteIni("ParallelStop=yes\r\n", 120, "StartPause=60000\r\nStopPause=100\r\n");
  kit::ServiceRun run;
  run.Start();
  ASSERT_TRUE(kit::WaitUntil([] { return !sim::Launches().empty(); }));
  ASSERT_TRUE(sim::DeliverControl(SERVICE_CONTROL_STOP));
  run.Join();
  ASSERT_TRUE(sim::WaitServiceMainReturned(10000));
  EXPECT_EQ(sim::LiveProcessIds(), std::vector<DWORD>{});
  EXPECT_EQ(SummaryLines(LogMessages(), int(sim::Launches().size())), 1u);
}

}  // namespace
