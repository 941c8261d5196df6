// The reload of the configuration file: how the file's programs are matched
// against the running ones, what it refuses, and a console command or a
// service stop that meets it.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <thread>

#include "service/ControlCodes.h"
#include "tests/unit/TestKit.h"

using kit::LogMessages;
using kit::Lines;

namespace {

const std::string A = "C:\\Apps\\a.exe", B = "C:\\Apps\\b.exe", C = "C:\\Apps\\c.exe",
                  D = "C:\\Apps\\d.exe", E = "C:\\Apps\\e.exe";
const char* const StatusPath = "C:\\QuarnLoader\\QuarnLoader.status";
const int32_t NewChild = -1, NoChild = -2;

std::string Section(int n, const std::string& app, int port, const std::string& more = "") {
  return "[Process_" + std::to_string(n) + "]\r\nAppName=" + app + "\r\nCommandLine=-port " +
         std::to_string(port) + "\r\n" + more;
}

// Three programs a, b, c on ports 0, 1 and 2.
const std::string Base = Section(0, A, 0) + Section(1, B, 1) + Section(2, C, 2);

std::string Reloaded(int added, int changed, int removed, int unchanged) {
  return "The configuration was reloaded: " + std::to_string(added) + " added, " +
         std::to_string(changed) + " changed, " + std::to_string(removed) + " removed, " +
         std::to_string(unchanged) + " unchanged.";
}

class ReloadTest : public testing::Test {
 protected:
  void SetUp() override { Begin(Base); }

  // The service as loaded from `file`, every program started.
  void Begin(const std::string& file, const sim::Program& b = sim::Program()) {
    sim::Reset();
    kit::FreshGlobals();
    for (const std::string& app : {A, C, D, E}) sim::AddProgram(app, sim::Program());
    sim::AddProgram(B, b);
    sim::WriteFile(kit::IniPath, file);
    ASSERT_TRUE(PrcList.LoadFromIni());
    BeginStatus();
    PrcList.StartAll();
    Before.clear();
    for (int32_t n = 0; n < PrcList.Count; ++n) Before.push_back(Pid(n));
    From = LogMessages().size();
  }
  static DWORD Pid(int32_t n) {
    tclPrcFacts facts = PrcList.Records[n].Facts();
    return facts.Alive ? facts.ProcessId : 0;
  }
  static void Reload() {
    AskForReload();
    ReloadIfAsked();
  }

  std::vector<DWORD> Before;
  size_t From = 0;
};

TEST_F(ReloadTest, TheFilesProgramsAreMatchedAgainstTheRunningOnes) {
  struct Case {
    const char* name;
    std::function<void()> before;   // what the console did first
    std::string file;
    Lines log;                      // from the request on
    std::vector<int32_t> children;  // per new number: the old number whose child it kept
    std::function<void()> check;
  } cases[] = {
      {"nothing changed", nullptr, Base, {Reloaded(0, 0, 0, 3)}, {0, 1, 2}, nullptr},
      {"changed in place; a console pause outlives an unchanged Paused",
       [] { PrcList.Pause(2); },
       Section(0, A, 0, "Priority=high\r\n") + Section(1, B, 1, "StopPause=3000\r\nProcessName=bee\r\n") +
           Section(2, C, 2),
       {"Process (0): Changed without a restart: Priority",
        "Process (1): Changed without a restart: ProcessName, StopPause", Reloaded(0, 2, 0, 1)},
       {0, 1, 2},
       [] {
         EXPECT_EQ(sim::Process(Pid(0)).priorityClass, DWORD(HIGH_PRIORITY_CLASS));
         EXPECT_EQ(PrcList.Records[1].StopPause, 3000u);
         EXPECT_EQ(PrcList.Records[1].ProcessName, "bee");
         EXPECT_TRUE(PrcList.IsPaused(2));
       }},
      {"new arguments restart only that program", nullptr,
       Section(0, A, 0) + Section(1, B, 9) + Section(2, C, 2),
       {"Process (1): Restarted with new launch settings: " + B, "Stopped process " + B,
        Reloaded(0, 1, 0, 2), "Started program " + B},
       {0, NewChild, 2},
       [] { EXPECT_EQ(PrcList.Records[1].Facts().Restarts, 1u); }},
      {"a section removed and the rest renumbered", nullptr,
       Section(0, A, 0) + Section(1, C, 2),
       {"Process (1): Removed: " + B, "Stopped process " + B,
        "Process (2): Moved to number 1: " + C, Reloaded(0, 0, 1, 2)},
       {0, 2}, nullptr},
      {"the same launch settings are found at any number", nullptr,
       Section(0, C, 2) + Section(1, A, 0) +
           Section(2, B, 1),
       {"Process (2): Moved to number 0: " + C, "Process (0): Moved to number 1: " + A,
        "Process (1): Moved to number 2: " + B, Reloaded(0, 0, 0, 3)},
       {2, 0, 1}, nullptr},
      {"sections added, one of them paused", nullptr,
       Base + Section(3, D, 3) + Section(4, E, 4, "Paused=yes\r\n"),
       {"Process (3): Added: " + D, "Process (4): Added: " + E, Reloaded(2, 0, 0, 3),
        "Started program " + D},
       {0, 1, 2, NewChild, NoChild}, nullptr},
      {"settings: what applies and what cannot", nullptr,
       "[Settings]\r\nRestartInterval=500\r\nServiceName=Other\r\n" + Base,
       {"Settings: RestartInterval is now 500.",
        "Warning: The new ServiceName cannot apply to the running service: it is left as it is.",
        Reloaded(0, 0, 0, 3)},
       {0, 1, 2},
       [] { EXPECT_EQ(PrcList.RestartInterval, 500); }},
      {"a missing file is refused", [] { sim::RemoveFile(kit::IniPath); }, "",
       {std::string("The configuration was not reloaded: the file is missing: ") + kit::IniPath},
       {0, 1, 2}, nullptr},
      {"a gap is refused", nullptr, Section(0, A, 0) + Section(2, C, 2),
       {"The configuration was not reloaded: Process_1 has no AppName, but Process_2 has one: a "
        "gap hides the sections after it."},
       {0, 1, 2}, nullptr},
      {"a file without programs is refused", nullptr, "[Settings]\r\nRestartInterval=1000\r\n",
       {"The configuration was not reloaded: the file lists no program, while 3 are configured."},
       {0, 1, 2}, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Begin(Base);
    size_t launches = sim::Launches().size();
    if (c.before) c.before();
    if (!c.file.empty()) sim::WriteFile(kit::IniPath, c.file);
    Reload();

    Lines expected = {"Reloading the configuration file ..."};
    expected.insert(expected.end(), c.log.begin(), c.log.end());
    EXPECT_EQ(LogMessages(From), expected);
    ASSERT_EQ(PrcList.Count, int32_t(c.children.size()));
    size_t started = 0;
    for (int32_t n = 0; n < PrcList.Count; ++n) {
      int32_t kept = c.children[size_t(n)];
      if (kept >= 0) {
        EXPECT_EQ(Pid(n), Before[size_t(kept)]) << n;
      } else if (kept == NoChild) {
        EXPECT_EQ(Pid(n), 0u) << n;
      } else {
        EXPECT_NE(Pid(n), 0u) << n;
        ++started;
      }
    }
    EXPECT_EQ(sim::Launches().size(), launches + started) << "nothing else was started";
    EXPECT_EQ(sim::LiveProcessIds().size(), size_t(PrcList.Count) - size_t(std::count(
        c.children.begin(), c.children.end(), NoChild))) << "what was dropped is stopped";
    if (c.check) c.check();
    std::string outcome;
    for (const std::string& line : c.log)
      if (line.rfind("The configuration was", 0) == 0) outcome = line;
    std::string status = sim::ReadFile(StatusPath);
    EXPECT_NE(status.find("\r\nReload\t1\t" + outcome + "\r\n"), std::string::npos) << status;
  }
}

// b ignores the request to quit, so its stop by the reload is held at its
// termination while the reload holds the table.
TEST_F(ReloadTest, ACommandOrAStopMeetingAReloadFindsTheNewTable) {
  struct Case {
    const char* name;
    std::vector<DWORD> controls;
    std::vector<bool> alive;   // a, c (now number 1), d (added)
  } cases[] = {
      {"-stop 1 reaches the program that moved to 1", {OpStop, ProcessCodeBase + 1},
       {true, false, true}},
      {"the service's stop starts nothing new", {SERVICE_CONTROL_STOP}, {false, false, false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim::Program stubborn;
    stubborn.ignoresQuit = true;
    Begin(Base, stubborn);
    Service.SetState(SERVICE_RUNNING);
    sim::WriteFile(kit::IniPath,
                   Section(0, A, 0) + Section(1, C, 2) + Section(2, D, 3));
    struct Releaser {
      ~Releaser() { sim::ReleaseHold(); }
    } releaser;
    sim::HoldAt("TerminateProcess");
    std::thread reload(Reload);
    ASSERT_TRUE(sim::WaitHeld());
    std::thread console([&c] {
      for (DWORD control : c.controls) ControlHandler(control);
    });
    // Let the handler reach the table before the reload lets it go.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sim::ReleaseHold();
    reload.join();
    console.join();

    EXPECT_GE(kit::IndexOf(LogMessages(From), Reloaded(1, 0, 1, 2)), 0);
    ASSERT_EQ(PrcList.Count, 3);
    for (int32_t n = 0; n < 3; ++n) EXPECT_EQ(Pid(n) != 0, c.alive[size_t(n)]) << n;
    EXPECT_EQ(kit::Count(LogMessages(From), "Stopped process " + C), 1u);
    EXPECT_EQ(kit::CountPrefix(LogMessages(From), "The process could not"), 0u);
    EXPECT_EQ(kit::LaunchCountOf(D), c.alive[2] ? 1u : 0u);
  }
}

}  // namespace
