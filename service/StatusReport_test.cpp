// The status file through a service's life: start, a program's exit and
// restart, a hung window, pauses, the stop, and a file that cannot be written.
#include <gtest/gtest.h>

#include "service/ControlCodes.h"
#include "supervision/StatusFile.h"
#include "tests/unit/TestKit.h"

using kit::LogMessages;

namespace {

const char* const StatusPath = "C:\\QuarnLoader\\QuarnLoader.status";
const char* const App[3] = {"C:\\Apps\\p0.exe", "C:\\Apps\\p1.exe", "C:\\Apps\\p2.exe"};

struct Snapshot {
  bool parsed = false;
  StatusHeader header;
  std::vector<ProgramStatus> rows;
};

Snapshot ReadStatus() {
  Snapshot s;
  s.parsed = ParseStatus(sim::ReadFile(StatusPath), s.header, s.rows);
  if (s.parsed && s.rows.size() != 3) s.parsed = false;
  return s;
}

template <typename Condition>
testing::AssertionResult WaitStatus(Condition condition) {
  if (kit::WaitUntil([&] {
        Snapshot s = ReadStatus();
        return s.parsed && condition(s);
      }))
    return testing::AssertionSuccess();
  return testing::AssertionFailure() << "status file:\n" << sim::ReadFile(StatusPath);
}

std::string Pid(DWORD id) { return std::to_string(id); }

// Program 0 is probed (and never given up on), 1 is paused from the start,
// 2 is plain.
class StatusLifeTest : public testing::Test {
 protected:
  void SetUp() override {
    kit::FreshGlobals();
    for (const char* app : App) sim::AddProgram(app, sim::Program());
    sim::WriteFile(kit::IniPath,
                   std::string("[Process_0]\r\nAppName=") + App[0] +
                       "\r\nProcessName=alpha\r\nStartPause=0\r\nNumOfRespChecks=100\r\n"
                       "[Process_1]\r\nAppName=" + App[1] + "\r\nPaused=yes\r\n"
                       "[Process_2]\r\nAppName=" + App[2] + "\r\nStartPause=0\r\n");
    run_.Start();
    ASSERT_TRUE(run_.WaitRunning());
  }
  kit::ServiceRun run_;
};

TEST_F(StatusLifeTest, FollowsStartRestartHangPauseAndStop) {
  ASSERT_TRUE(kit::WaitUntil(
      [] { return kit::LastChildOf(App[0]) != 0 && kit::LastChildOf(App[2]) != 0; }));
  DWORD first0 = kit::LastChildOf(App[0]), first2 = kit::LastChildOf(App[2]);
  ASSERT_TRUE(WaitStatus([&](const Snapshot& s) {
    return s.header.Service == "running" && s.rows[2].ProcessId == Pid(first2);
  }));
  Snapshot start = ReadStatus();
  EXPECT_EQ(start.header.WriterId, sim::OwnProcessId);
  EXPECT_EQ(start.header.Started, "Mon Mar 05 09:04:05 2007");
  EXPECT_EQ(start.rows[0].Name, "alpha");
  EXPECT_EQ(start.rows[0].State, "running");
  EXPECT_EQ(start.rows[0].ProcessId, Pid(first0));
  EXPECT_EQ(start.rows[1].Name, "-");
  EXPECT_EQ(start.rows[1].State, "paused");
  EXPECT_EQ(start.rows[1].ProcessId, "-");
  for (const ProgramStatus& r : start.rows) EXPECT_EQ(r.Restarts, 0u) << r.Number;

  sim::KillProcess(first2, 1);
  ASSERT_TRUE(kit::WaitUntil([&] { return kit::LastChildOf(App[2]) != first2; }));
  DWORD second2 = kit::LastChildOf(App[2]);
  ASSERT_TRUE(WaitStatus([&](const Snapshot& s) { return s.rows[2].ProcessId == Pid(second2); }));
  Snapshot restarted = ReadStatus();
  EXPECT_EQ(restarted.rows[2].State, "running");
  EXPECT_EQ(restarted.rows[2].Restarts, 1u);
  EXPECT_NE(restarted.rows[2].Since, start.rows[2].Since) << "since is the new run's start";
  EXPECT_EQ(restarted.rows[0].Restarts, 0u);

  sim::HangWindow(first0, true);
  ASSERT_TRUE(WaitStatus([](const Snapshot& s) { return s.rows[0].State == "hung"; }));
  EXPECT_GE(ReadStatus().rows[0].HangCount, 1);
  EXPECT_EQ(ReadStatus().rows[0].ProcessId, Pid(first0));

  // The loop held inside a probe: what the file says now the handler wrote.
  sim::HoldAt("SendMessageTimeoutA");
  ASSERT_TRUE(sim::WaitHeld());
  ASSERT_TRUE(sim::DeliverControl(SERVICE_CONTROL_PAUSE));
  Snapshot paused = ReadStatus();
  EXPECT_EQ(paused.header.Service, "paused");
  EXPECT_EQ(paused.rows[2].State, "running") << "a program shows its own state";
  ASSERT_TRUE(sim::DeliverControl(SERVICE_CONTROL_CONTINUE));
  EXPECT_EQ(ReadStatus().header.Service, "running");

  // Program 2's restarting paused before the held pass reaches it, then its
  // child dies: paused, no process, since is when it was found gone.
  ASSERT_TRUE(sim::DeliverControl(OpPause));
  ASSERT_TRUE(sim::DeliverControl(ProcessCodeBase + 2));
  sim::KillProcess(second2, 1);
  sim::ReleaseHold();
  ASSERT_TRUE(WaitStatus([](const Snapshot& s) {
    return s.rows[2].State == "paused" && s.rows[2].ProcessId == "-";
  }));
  EXPECT_NE(ReadStatus().rows[2].Since, restarted.rows[2].Since);

  ASSERT_TRUE(run_.Stop());
  ASSERT_TRUE(sim::WaitServiceMainReturned(10000));
  Snapshot stopped = ReadStatus();
  ASSERT_TRUE(stopped.parsed);
  EXPECT_EQ(stopped.header.Service, "stopped");
  EXPECT_EQ(stopped.rows[0].State, "stopped");
  EXPECT_EQ(stopped.rows[0].ProcessId, "-");
  EXPECT_EQ(stopped.rows[2].State, "paused");
  EXPECT_EQ(stopped.rows[2].Restarts, 1u);
  EXPECT_FALSE(sim::FileExists(std::string(StatusPath) + ".tmp"));
}

TEST_F(StatusLifeTest, AFileThatCannotBeReplacedIsReportedOnceAndSupervisionGoesOn) {
  const std::string failure = "Error (32): The status file could not be replaced: ";
  ASSERT_TRUE(WaitStatus([](const Snapshot& s) { return s.header.Service == "running"; }));
  sim::LockFile(StatusPath, true);
  DWORD first2 = kit::LastChildOf(App[2]);
  sim::KillProcess(first2, 1);
  ASSERT_TRUE(kit::WaitUntil([&] { return kit::LastChildOf(App[2]) != first2; }));
  DWORD second2 = kit::LastChildOf(App[2]);
  sim::KillProcess(second2, 1);
  ASSERT_TRUE(kit::WaitUntil([&] { return kit::LastChildOf(App[2]) != second2; }));
  EXPECT_EQ(kit::CountPrefix(LogMessages(), failure), 1u);

  sim::LockFile(StatusPath, false);
  ASSERT_TRUE(WaitStatus([](const Snapshot& s) { return s.rows[2].Restarts == 2; }));
  EXPECT_EQ(kit::CountPrefix(LogMessages(), failure), 1u);
}

}  // namespace
